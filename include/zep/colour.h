/*
 * The colour database: default primaries and white point, the visible
 * wavelength range, the colour-matching functions of the standard observer
 * resampled and normalised, and sets of spectral sample bins with the share
 * of each matching function that falls into every bin. It is filled from
 * built-in data and the configuration file ".zeprc"; ZEP_init builds it and
 * every query builds it on first use.
 *
 * On top of it sits the colour-sample conversion state: one set of
 * primaries and one bin count at a time, turned into the RGB-to-XYZ matrix,
 * its inverse and per-bin RGB tables for the colour operators.
 *
 * Matrices are 3x3 single-precision, stored row by row, and apply to row
 * vectors: [X Y Z] = [r g b] . M, whose rows are the scaled primaries.
 *
 * Neither the database nor the conversion state takes a lock: the
 * application calls them from one thread at a time.
 */
#ifndef ZEP_COLOUR_H
#define ZEP_COLOUR_H

#include <stdint.h>

#include <zep/export.h>

ZEP_BEGIN_DECLS

/* A set of spectral sample bins. Sets belong to the database and stay valid
 * until CLR_exit; the application only reads them. */
typedef struct CLR_SAMPLE_SET {
    int32_t count;   /* n, the number of bins */
    int32_t uniform; /* non-zero: boundaries spread evenly over the range */
    float *bounds;   /* n + 1 boundary wavelengths, nanometres */
    float *table;    /* n rows of X, Y, Z: bin i at table[3 * i] */
} CLR_SAMPLE_SET;

/* ---- Database ---------------------------------------------------------- */

/*
 * Builds the database from the built-in data and the configuration file,
 * whose reports go through catalogue when this is the first load of the
 * file. Returns 0, also when already built (the database then only rewinds
 * its lists); -1 after the report when the file is malformed or memory ran
 * out, the database then being torn down completely.
 */
ZEP_API int CLR_init(void *catalogue);

/* Frees everything the database holds and the configuration store; the next
 * query builds it again from scratch. Returns 0. */
ZEP_API int CLR_exit(void);

/* The set with n bins, or null (also when the database cannot be built). */
ZEP_API CLR_SAMPLE_SET *CLR_find(int n);

/* The database's chromaticity triple (x, y, z) of each primary and of the
 * white point. The caller reads it and does not free it; it stays valid for
 * the life of the process. */
ZEP_API const float *CLR_def_red_primary(void);
ZEP_API const float *CLR_def_green_primary(void);
ZEP_API const float *CLR_def_blue_primary(void);
ZEP_API const float *CLR_def_white_point(void);

/* ---- Colour-sample conversion ------------------------------------------ */

/*
 * Sets the conversion state up for n colour samples, with the given
 * chromaticities when given is non-zero, else with the database's primaries
 * and white point. Returns n; 0 when the database cannot be built, has no
 * n-bin set, the primaries give no invertible matrix or memory ran out (the
 * state then stays as it was). When the state is already set up it changes
 * nothing and returns the n it was set up for.
 */
ZEP_API int CLR_samp_init(int n, int given, double rx, double ry, double gx, double gy, double bx,
                          double by, double wx, double wy);

/* Frees the tables, restores the initial primaries and clears the state.
 * Returns 1, or 0 when the state was not set up. */
ZEP_API int CLR_samp_done(void);

/* Copy the n x 3 per-bin tristimulus table, the n x 3 per-bin RGB table, the
 * RGB-to-XYZ matrix M or its inverse into out and return out; null (out
 * untouched) when the state is not set up. */
ZEP_API float *CLR_samp_xyz_table(float *out);
ZEP_API float *CLR_samp_rgb_table(float *out);
ZEP_API float *CLR_samp_rgb_to_xyz(float *out);
ZEP_API float *CLR_samp_xyz_to_rgb(float *out);

/*
 * Writes M . N^-1 into out, N being the RGB-to-XYZ matrix of the given
 * target primaries and white, so that [r g b] of the state's primaries times
 * out gives [r g b] of the target's. Returns out; null (out untouched) when
 * the state is not set up or the target gives no invertible matrix.
 */
ZEP_API float *CLR_samp_rgb_to_rgb(float *out, double rx, double ry, double gx, double gy,
                                   double bx, double by, double wx, double wy);

/* ---- Matrices ----------------------------------------------------------- */

/*
 * The RGB-to-XYZ matrix of a set of primaries. chromaticities holds the x, y
 * of red, green, blue and white in that order; each z is 1 - x - y. The
 * rows of m are the primaries scaled so that [1 1 1] . m is the white point
 * at luminance Y = 1. Returns 1; 0 when the white point has y = 0 or the
 * three primaries are not independent, m then being all zero.
 */
ZEP_API int CLR_matrix_from_primaries(const float chromaticities[8], float m[9]);

/* Inverts m into inverse (which may be m itself) by Gauss-Jordan elimination
 * with partial pivoting. Returns 1; 0 when a pivot is zero, inverse then
 * untouched. */
ZEP_API int CLR_matrix_invert(const float m[9], float inverse[9]);

ZEP_END_DECLS

#endif /* ZEP_COLOUR_H */
