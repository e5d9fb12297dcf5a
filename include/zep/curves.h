/*
 * Response curves and gamma tables.
 *
 * A response curve says how the stored codes of a group of channels map to
 * intensity. An analytic curve (kind 1) is the power law given by its gamma
 * and owns nothing; a sampled curve (kind 2) holds one table per channel.
 * All tables of a sampled curve live in one block of channel count x length
 * entries, table k starting right after table k - 1; the pointer array and
 * the block are the only memory the record owns.
 *
 * Lifecycle of a sampled curve: ZEP_response_curve_init or _copy gives it
 * its tables, ZEP_response_curve_done frees them and leaves tables null.
 * Init and copy overwrite the tables field without freeing what it held, so
 * a record that owns tables goes through done before it is filled again.
 *
 * The gamma tables are bare arrays owned by the caller until
 * ZEP_gamma_done. R below is the gamma-table resolution of the
 * format-defaults database (4096 unless the configuration changes it); the
 * builders read its current value without starting the database.
 */
#ifndef ZEP_CURVES_H
#define ZEP_CURVES_H

#include <stdint.h>

#include <zep/export.h>

ZEP_BEGIN_DECLS

/* Channel element types, shared with the image description. */
#ifndef ZEP_C_INTEGER
#define ZEP_C_INTEGER 1 /* unsigned integer, width in bits */
#endif
#ifndef ZEP_C_FLOAT
#define ZEP_C_FLOAT 2 /* 32-bit float */
#endif
#ifndef ZEP_C_DOUBLE
#define ZEP_C_DOUBLE 3 /* 64-bit double */
#endif

/* Kinds of response curve. */
#define ZEP_CURVE_ANALYTIC 1
#define ZEP_CURVE_SAMPLED 2

/*
 * A response curve, embedded by value in each image description. The
 * application fills the description fields; the library owns the tables.
 *
 * Table entries are unsigned bytes for ZEP_C_INTEGER of width 8, unsigned
 * 16-bit words for widths 9 to 16, and 32-bit floats for ZEP_C_FLOAT.
 * Integer entries lie in 0 ... 2^width - 1.
 */
typedef struct ZEP_RESPONSE_CURVE {
    int32_t kind;       /* ZEP_CURVE_ANALYTIC or ZEP_CURVE_SAMPLED */
    float gamma;        /* power-law exponent; 1.0 for a composite of tables */
    uint32_t reserved;  /* 0 after init, copied by copy, read by nobody */
    int32_t num_chan;   /* number of tables, one per channel */
    int32_t length;     /* entries per table */
    int32_t elem_type;  /* ZEP_C_INTEGER or ZEP_C_FLOAT */
    int32_t elem_width; /* bits per integer entry, 8 to 16 */
    void **tables;      /* num_chan table pointers into one block, or null */
} ZEP_RESPONSE_CURVE;

/*
 * Builds the tables of a sampled curve from gamma, num_chan, length,
 * elem_type and elem_width; every channel gets the same table. Sets kind
 * to 2 and reserved to 0. Returns 0, or -1: zep__err is -10 when memory ran
 * out and unchanged when the element type or width has no table form or
 * the channel count (at least 1) or length (at least 2) is unusable. After
 * a failure tables is null.
 */
ZEP_API int ZEP_response_curve_init(ZEP_RESPONSE_CURVE *curve);

/*
 * Makes dst a deep copy of src (its own pointer array and block). An
 * analytic src is copied field by field and dst gets no tables. Returns 0,
 * or -1: zep__err -10 when memory ran out; an element type other than
 * ZEP_C_INTEGER or ZEP_C_FLOAT, or an integer width outside 8 ... 16, is
 * reported and leaves zep__err unchanged. After a failure dst's tables
 * field is null and dst owns nothing.
 */
ZEP_API int ZEP_response_curve_copy(ZEP_RESPONSE_CURVE *dst, const ZEP_RESPONSE_CURVE *src);

/*
 * Writes into out the sampled curve that applies b first and then a.
 * Two analytic curves give the power law b.gamma / a.gamma; sampled curves
 * are composed table by table, b's entries indexing a's tables, and must
 * have equal channel counts, integer entries in b, and 2^b.elem_width equal
 * to a.length (each mismatch is reported). a and b are only read. Returns
 * 0 (also, leaving out untouched, for kinds other than 1 and 2), or -1 with
 * out untouched; zep__err is -10 when memory ran out.
 */
ZEP_API int ZEP_response_curve_comp(const ZEP_RESPONSE_CURVE *a, const ZEP_RESPONSE_CURVE *b,
                                    ZEP_RESPONSE_CURVE *out);

/*
 * Frees the tables of a sampled curve and sets tables to null. Does
 * nothing for null, for an analytic curve or for a curve without tables.
 * Returns 1.
 */
ZEP_API int ZEP_response_curve_done(ZEP_RESPONSE_CURVE *curve);

/*
 * Gamma tables for gamma g, each newly allocated, or null when memory ran
 * out or the gamma-table resolution R is below 2:
 *   ZEP_gamma_btof: 256 floats, 8-bit code -> 0.0 ... 1.0;
 *   ZEP_gamma_btos: 256 16-bit integers, 8-bit code -> 0 ... R - 1;
 *   ZEP_gamma_tob:  R bytes, 0 ... R - 1 -> 8-bit code (inverse gamma);
 *   ZEP_gamma_tof:  R floats, 0 ... R - 1 -> 0.0 ... 254.9 (inverse gamma).
 * zep__err is never changed.
 */
ZEP_API float *ZEP_gamma_btof(double gamma);
ZEP_API int16_t *ZEP_gamma_btos(double gamma);
ZEP_API uint8_t *ZEP_gamma_tob(double gamma);
ZEP_API float *ZEP_gamma_tof(double gamma);

/* Frees a table from any of the four builders (null allowed); returns 1. */
ZEP_API int ZEP_gamma_done(void *table);

ZEP_END_DECLS

#endif /* ZEP_CURVES_H */
