/*
 * The image-file interface: start-up and the format registry, format
 * queries, the description record, channel buffers, opening files, image
 * handles and scanline moves, and multi-frame files.
 *
 * An application fills a ZEP_INFO (ZEP_info_init), names the file in its
 * `handle` field, opens it with ZEP_open(info, "r" or "w"), moves scanlines
 * with ZEP_scan_read / ZEP_scan_write and ends with ZEP_close. Every format
 * is a driver reached through routine slots: the format definition holds
 * the driver's open routines, the handle the routines its open filled in.
 *
 * A call that fails returns null, 0 or a negative number and leaves a
 * negative code in zep__err (ZEP_E_* in <zep/error.h>); the text of the
 * failure goes to the error handlers.
 *
 * Field comments say who writes a field: [app] the application, [lib] the
 * library, [drv] the driver.
 */
#ifndef ZEP_IMAGE_H
#define ZEP_IMAGE_H

#include <stdint.h>
#include <stdio.h>

#include <zep/curves.h>
#include <zep/export.h>

ZEP_BEGIN_DECLS

/* Element types of a channel group (ZEP_C_INTEGER, ZEP_C_FLOAT and
 * ZEP_C_DOUBLE come from <zep/curves.h>). */

/* Channel interpretation names of a channel group. */
ZEP_API extern const char ZEP_LITERAL_HARD_FORMAT_TYPE_RAW[]; /* "raw" */
ZEP_API extern const char ZEP_LITERAL_HARD_FORMAT_TYPE_RGB[]; /* "rgb" */

/* Initialisation mark of a ZEP_INFO. */
#define ZEP_INFO_MAGIC 22839

/* Access bits of a format definition (`access`) and of a handle. */
#define ZEP_ACCESS_READ 4
#define ZEP_ACCESS_WRITE 8
#define ZEP_ACCESS_ANY_ORDER 16 /* lines can be read in any order */

/* Bit 0 of ZEP_IMAGE_DESC.scan_flags: a sequential reader delivers lines from
 * the window bottom upwards (clear: from the top downwards). */
#define ZEP_SCAN_BOTTOM_UP 0x1

/* Bit of ZEP_CAPABILITY.flags: the capability is unavailable. */
#define ZEP_CAP_UNAVAILABLE 0x4

/* Protocol version a plug-in module must export as "version". */
#define ZEP_PLUGIN_VERSION "3.2"

struct ZEP_OBJECT;
struct ZEP_LUT;

/* ---- Capabilities and settings ----------------------------------------- */

/* One choice of a list capability; the array ends with an entry whose name
 * is null and whose label_msg is 0. */
typedef struct ZEP_CAP_CHOICE {
    uint16_t value;
    const char *name;          /* [drv] or [lib] from label_default */
    int32_t label_msg;         /* catalogue number of the label; 0: none */
    int32_t label_reserved;    /* not read */
    const char *label_default; /* label used when label_msg is non-zero */
} ZEP_CAP_CHOICE;

typedef struct ZEP_CAP_LIST {
    int32_t default_value;
    int32_t count; /* [lib] number of choices, written at start-up */
    ZEP_CAP_CHOICE *choices;
} ZEP_CAP_LIST;

/* A capability descriptor, in the array a driver's capability routine returns. */
typedef struct ZEP_CAPABILITY {
    int32_t unused; /* not read by the library */
    const char *name;
    int32_t label_msg;
    int32_t label_reserved;
    const char *label_default;
    uint8_t kind;       /* 0: a list of choices */
    ZEP_CAP_LIST *list; /* kind 0 only */
    uint8_t flags;      /* ZEP_CAP_UNAVAILABLE */
} ZEP_CAPABILITY;

/* A capability setting of an open request. Code 0 compares the value as an
 * integer, code 1 as a float. */
typedef struct ZEP_CAP_SETTING {
    uint16_t code;
    union {
        int32_t i;
        float f;
    } value;
} ZEP_CAP_SETTING;

/* ---- Routine slots ------------------------------------------------------- */

/* Driver routines of a format definition. */
typedef int (*ZEP_INIT_FN)(void);
typedef int (*ZEP_DONE_FN)(void);
typedef int (*ZEP_OPEN_FN)(struct ZEP_OBJECT *handle); /* 0: failed */
typedef int (*ZEP_IS_FILE_FN)(const char *path, FILE *stream);
typedef int (*ZEP_CAPABILITY_FN)(ZEP_CAPABILITY **capabilities, int *first_count,
                                 int *second_count, int *num_capabilities);
typedef int (*ZEP_CAPS_AVAIL_FN)(void *a, void *b);
typedef int (*ZEP_UI_POPUP_FN)(void *argument);
typedef int (*ZEP_UI_POPDOWN_FN)(void);

/* Routines of an image handle. `priv` is entry 0 of the handle's private
 * table; the pass-through arguments are the application's, unchanged. */
typedef int (*ZEP_LUT_READ_FN)(void *priv, struct ZEP_LUT **lut);
typedef int (*ZEP_SCAN_FN)(void *priv, int line, void *buffer);
typedef int (*ZEP_CLOSE_FN)(struct ZEP_OBJECT *handle);
typedef int (*ZEP_PLAYBACK_BIND_FN)(void *priv, intptr_t a, intptr_t b);
typedef int (*ZEP_PLAYBACK_GOTO_FN)(void *priv, intptr_t a);
typedef int (*ZEP_PLAYBACK_PLAY_FN)(void *priv, intptr_t a, intptr_t b, intptr_t c, intptr_t d,
                                    intptr_t e);
typedef int (*ZEP_PLAYBACK_PARAMS_FN)(void *priv, intptr_t a, intptr_t b, intptr_t c,
                                      intptr_t d, intptr_t e, intptr_t f, intptr_t g,
                                      intptr_t h);
typedef int (*ZEP_PLAYBACK_STOP_FN)(void *priv, intptr_t a);
typedef int (*ZEP_FRAME_FN)(void *priv, int frame);
typedef int (*ZEP_GET_RASTER_FN)(void *priv, intptr_t a, intptr_t b, intptr_t c, intptr_t d,
                                 intptr_t e);
typedef int (*ZEP_GET_REGION_FN)(void *priv, int x0, int x1, int y0, int y1, void *buffer,
                                 int stride, int layout);
typedef int (*ZEP_SEEK_FN)(void *priv, int line);
typedef int (*ZEP_DIRECT_SCAN_FN)(void *priv, int line, intptr_t a, intptr_t b, intptr_t c,
                                  intptr_t d);

/* ---- Formats ------------------------------------------------------------- */

/* The full definition of a format: a built-in row or one plug-in module's
 * exported symbols. Strings a plug-in exports are referenced, not copied. */
typedef struct ZEP_FORMAT_DEF {
    const char *key;
    const char *extension; /* never null: "" when the module has none */
    const char *name;
    const char *description;
    int32_t desc_msg;
    int32_t desc_reserved;
    const char *desc_default;
    const char *format_string; /* printf format of frame file names */
    const char *name_syntax;
    int32_t add_extension;
    int32_t usage;
    int32_t orientation;
    int32_t bits_per_palette_entry;
    int32_t number_of_channels;
    uint32_t bits_per_channel; /* bit n-1 set: n-bit channels */
    int32_t number_of_mattes;
    uint32_t bits_per_matte;
    int32_t number_of_z_channels;
    uint32_t bits_per_z_channel;
    int32_t supports_active_window;
    int32_t access; /* ZEP_ACCESS_* */
    ZEP_CAPABILITY_FN capability;
    ZEP_CAPS_AVAIL_FN caps_avail_update;
    ZEP_INIT_FN init;
    ZEP_DONE_FN done;
    ZEP_OPEN_FN read_open;
    ZEP_OPEN_FN write_open;
    int32_t multi_frame;
    uint8_t hard_link_duplicates;
    uint8_t support_remote_access;
    ZEP_IS_FILE_FN is_file;
    ZEP_UI_POPDOWN_FN private_ui_popdown;
    ZEP_UI_POPUP_FN private_ui_popup;
} ZEP_FORMAT_DEF;

/* The public description of a registered format, valid until ZEP_exit. */
typedef struct ZEP_FILE_TYPE {
    const char *key;
    const char *extension;
    const char *name;
    const char *description;
    int32_t desc_msg;
    int32_t desc_reserved;
    const char *desc_default;
    const char *format_string;
    const char *name_syntax;
    int32_t add_extension;
    int32_t usage;
    int32_t orientation;
    int32_t bits_per_palette_entry;
    int32_t number_of_channels;
    uint32_t bits_per_channel;
    int32_t number_of_mattes;
    uint32_t bits_per_matte;
    int32_t number_of_z_channels;
    uint32_t bits_per_z_channel;
    int32_t supports_active_window;
    int32_t access;
    ZEP_CAPABILITY_FN capability;
    ZEP_CAPS_AVAIL_FN caps_avail_update;
    int32_t multi_frame;
    uint8_t hard_link_duplicates;
    uint8_t support_remote_access;
    ZEP_IS_FILE_FN is_file;
    ZEP_UI_POPDOWN_FN private_ui_popdown;
    ZEP_UI_POPUP_FN private_ui_popup;
} ZEP_FILE_TYPE;

/* The application's module enumerator: fills a module handle (from dlopen)
 * and its display name; returns 0 when there are no more modules. */
typedef int (*ZEP_ENUMERATOR)(void **module, const char **name);

/* ---- Description record -------------------------------------------------- */

/* A window, inclusive on every side: width = right - left + 1. */
typedef struct ZEP_WINDOW {
    int32_t left;
    int32_t right;
    int32_t bottom;
    int32_t top;
} ZEP_WINDOW;

/* A channel group: interpretation name ("raw", "rgb", "sampled", "xyz"),
 * channel count, element type (ZEP_C_*) and width in bits. */
typedef struct ZEP_CHAN_GROUP {
    char *format;
    int32_t count;
    int32_t type;
    int32_t width;
} ZEP_CHAN_GROUP;

/* The description of one image of a file. */
typedef struct ZEP_IMAGE_DESC {
    int32_t usage;
    ZEP_RESPONSE_CURVE response;
    char *aspect_name; /* picture-format name; "unknown" when not given */
    int32_t aspect_width;
    int32_t aspect_height;
    float aspect_ratio;
    ZEP_WINDOW window; /* image window */
    ZEP_WINDOW active; /* active (non-empty) window */
    int32_t planar;    /* 1: scanline buffers are channel-pointer tables */
    int32_t scan_flags; /* ZEP_SCAN_BOTTOM_UP */
    ZEP_CHAN_GROUP chan;  /* image (colour) channels */
    ZEP_CHAN_GROUP matte; /* matte channels */
    ZEP_CHAN_GROUP aux;   /* auxiliary (Z) channels */
    ZEP_CHAN_GROUP index; /* colour-index channels */
} ZEP_IMAGE_DESC;

/* The description of a file to open, or of an open file. Usable only after
 * ZEP_info_init or ZEP_info_alloc. Strings filled by the library belong to
 * the record (ZEP_info_cleanup); cap_settings stays the application's. */
typedef struct ZEP_INFO {
    char *key;    /* format key; null on open: chosen by extension */
    char *handle; /* the file name; required for writing */
    uint8_t full_path; /* non-zero: the name is used as it stands */
    char *name;
    char *extension;
    char *desc;
    char *program;
    char *machine;
    char *user;
    char *date;
    char *time;
    char *filter;
    char *compression;
    ZEP_CAP_SETTING **cap_settings; /* null-terminated; [app] */
    uint8_t reserved_byte;
    int32_t reserved_word;
    int32_t job_num; /* -1 */
    int32_t frame;   /* 1 */
    int32_t field;   /* 0 */
    int32_t magic;   /* ZEP_INFO_MAGIC while initialised */
    float red_pri[3];
    float green_pri[3];
    float blue_pri[3];
    float white_pt[3];
    int32_t num_images;
    ZEP_IMAGE_DESC *images;
    int32_t mf_word1;   /* multi-frame parameters: 1 */
    float frame_rate;   /* 29.97 */
    int32_t mf_word3;   /* 0 */
    int32_t mf_word4;   /* 0 */
    int32_t num_frames; /* frames of a multi-frame file; 0 */
    uint8_t mf_flag;    /* multi-frame flag: 1 */
    int32_t mf_word6;
    int32_t mf_word7;
    int32_t mf_word8;
    int32_t spare[5]; /* never written by the library */
} ZEP_INFO;

/* A colour look-up table; the entries (8 bytes each) and scale are the
 * drivers'. */
typedef struct ZEP_LUT {
    void *entries;
    int32_t last; /* count - 1 when allocated */
    int32_t count;
    float scale; /* 1.0 when allocated */
} ZEP_LUT;

/* ---- Image handle -------------------------------------------------------- */

/* An open image. Driver routines receive priv[0], not the handle; the open
 * and close routines receive the handle. The field the format's documents
 * call `private` is `priv` here (`private` is reserved in C++). */
typedef struct ZEP_OBJECT {
    void **priv; /* [drv] one pointer per image; operators replace entry 0 */
    void *spare;
    ZEP_INFO info; /* the handle's own description */
    int32_t access; /* ZEP_ACCESS_READ or ZEP_ACCESS_WRITE */
    ZEP_LUT_READ_FN lut_read;
    ZEP_SCAN_FN scan;
    ZEP_CLOSE_FN close; /* releases the handle */
    ZEP_PLAYBACK_BIND_FN playback_bind;
    ZEP_PLAYBACK_GOTO_FN playback_goto;
    ZEP_PLAYBACK_PLAY_FN playback_play;
    ZEP_PLAYBACK_PARAMS_FN playback_params;
    ZEP_PLAYBACK_STOP_FN playback_stop;
    ZEP_FRAME_FN get_frame;
    ZEP_GET_RASTER_FN get_raster;
    ZEP_GET_REGION_FN get_region;
    ZEP_FRAME_FN set_frame;
    ZEP_SEEK_FN seek;
    int32_t current_line; /* [lib] last line moved; -1 when none */
    const ZEP_FILE_TYPE *file_type; /* [lib] */
    ZEP_DIRECT_SCAN_FN direct_scan;
    void *mutex; /* [lib] the handle's own lock */
} ZEP_OBJECT;

/* ---- Start-up and registry ----------------------------------------------- */

/* Starts the library: stores the catalogue, starts both databases, binds
 * every module the enumerator yields (null: built-ins only), registers the
 * built-in "pipe" and "mem" formats and starts the multi-frame cache.
 * Returns 0, -1, or zep__err after the capability checks. When already
 * started it only rewinds the ZEP_info enumeration and returns 0. */
ZEP_API int ZEP_init(void *catalogue, ZEP_ENUMERATOR enumerator);
/* Shuts every plug-in down, frees the registry and both databases. 0. */
ZEP_API int ZEP_exit(void);
/* Does nothing; for hosts that call it when loading the library. */
ZEP_API void ZEP_dso_init(void);

/* ---- Queries ------------------------------------------------------------- */

/* The format whose key or extension equals key exactly; null when none. */
ZEP_API const ZEP_FILE_TYPE *ZEP_find(const char *key);
/* The next plug-in format of the enumeration; null after the last. */
ZEP_API const ZEP_FILE_TYPE *ZEP_info(void);
ZEP_API const char *ZEP_def_key(void);
ZEP_API const char *ZEP_def_base_name(void);
/* The format's name, or key itself when unknown (reported) or unnamed. */
ZEP_API const char *ZEP_name_from_key(const char *key);
/* The key when a format of that key claims the file, else null; *definite
 * tells whether every matching format could be asked. */
ZEP_API const char *ZEP_is_file_type(const char *path, FILE *stream, const char *key,
                                     uint8_t *definite);
/* The key of the first format that claims the file; "__none_" when every
 * format was asked and none claims it; null when some could not be asked. */
ZEP_API const char *ZEP_get_file_type(const char *path, FILE *stream, uint8_t *definite);
ZEP_API int ZEP_capabilities_available(const ZEP_FILE_TYPE *file_type, void *a, void *b);
/* Sets or clears a capability's availability; true when the state changed. */
ZEP_API int ZEP_set_available(ZEP_CAPABILITY *capability, int available);
/* n settings in one block, each code 0xffff and value 0; free with ERR_free. */
ZEP_API ZEP_CAP_SETTING *ZEP_cap_setting_alloc(int n);
/* A new null-terminated copy of a setting list (null for an empty list). */
ZEP_API ZEP_CAP_SETTING **ZEP_cap_setting_copy(ZEP_CAP_SETTING *const *list);
/* True when every setting of a has a partner of equal value in b. */
ZEP_API int ZEP_cap_setting_compare(ZEP_CAP_SETTING *const *a, ZEP_CAP_SETTING *const *b);
ZEP_API int ZEP_private_ui_popup(const ZEP_FILE_TYPE *file_type, void *argument);
ZEP_API int ZEP_private_ui_popdown(void);

/* ---- Description record -------------------------------------------------- */

ZEP_API void ZEP_info_init(ZEP_INFO *info);
ZEP_API ZEP_INFO *ZEP_info_alloc(void);
/* Clears the initialisation mark and, with free_strings, frees the record's
 * strings and image array. */
ZEP_API void ZEP_info_cleanup(ZEP_INFO *info, uint8_t free_strings);
ZEP_API int ZEP_info_free(ZEP_INFO *info, uint8_t free_strings);
ZEP_API void ZEP_info_get_specific(const char *key, const ZEP_FILE_TYPE *file_type,
                                   ZEP_CAPABILITY **capabilities, int *first_count,
                                   int *second_count, int *num_capabilities);
ZEP_API void ZEP_info_num_specific(int *first_max, int *second_max);
ZEP_API ZEP_LUT *ZEP_lut_alloc(int n);
ZEP_API ZEP_LUT *ZEP_lut_copy(const ZEP_LUT *lut);
ZEP_API ZEP_LUT *ZEP_lut_free(ZEP_LUT *lut);
ZEP_API ZEP_LUT *ZEP_lut_realloc(ZEP_LUT *lut, int n);
ZEP_API int ZEP_lut_read(ZEP_OBJECT *image, ZEP_LUT **lut_out);

/* ---- Channel buffers ----------------------------------------------------- */

/* A channel-pointer table for one scanline of pixels samples per channel:
 * image, matte, auxiliary rows (colour-index rows when there are no image
 * channels) in one zeroed block. Null on a refused description (-16) or
 * memory (-10). `name` is the %s of the refusal messages. */
ZEP_API void **zep__chan_alloc(ZEP_IMAGE_DESC *desc, int pixels, const char *name);
ZEP_API int zep__chan_free(void **table);
/* As zep__chan_alloc; stores the size of the last allocated block. */
ZEP_API void **ZEP_chan_alloc(ZEP_IMAGE_DESC *desc, int pixels, const char *name, int *size_out);
ZEP_API int ZEP_chan_free(void **table);

/* ---- Open, handles and scanlines ----------------------------------------- */

/* Opens info's file with mode "r" or "w"; null on failure (zep__err). */
ZEP_API ZEP_OBJECT *ZEP_open(ZEP_INFO *info, const char *mode);
ZEP_API int ZEP_close(ZEP_OBJECT *handle);
ZEP_API int ZEP_close_do_it(ZEP_OBJECT *handle);
/* For reading, buffer is the address of a buffer pointer that receives the
 * line; for writing it is the line (a channel-pointer table when planar). */
ZEP_API int ZEP_scan_read(ZEP_OBJECT *handle, int line, void *buffer);
ZEP_API int ZEP_scan_write(ZEP_OBJECT *handle, int line, void *buffer);
ZEP_API int ZEP_direct_scan_read(ZEP_OBJECT *handle, int line, intptr_t a, intptr_t b,
                                 intptr_t c, intptr_t d);
ZEP_API int ZEP_direct_scan_write(ZEP_OBJECT *handle, int line, intptr_t a, intptr_t b,
                                  intptr_t c, intptr_t d);
ZEP_API int ZEP_get_raster(ZEP_OBJECT *handle, intptr_t a, intptr_t b, intptr_t c, intptr_t d,
                           intptr_t e);
/* Positions *handle_ref so the next read is of line; may replace the handle
 * (null when the re-open failed). Returns zep__err. */
ZEP_API int ZEP_seek(ZEP_OBJECT **handle_ref, int line);
/* Frees a handle and everything hanging from it (drivers' close routines). */
ZEP_API int zep__free_obj(ZEP_OBJECT *handle);
/* Sets the handle's image descriptions to their defaults. */
ZEP_API int zep__init_ifd(ZEP_OBJECT *handle);
/* Joins directory, name and extension in a static buffer of
 * ZEP_BUILD_HANDLE_MAX bytes overwritten by each call; null when the result
 * would not fit. */
#define ZEP_BUILD_HANDLE_MAX 1024
ZEP_API const char *zep__build_handle(const char *directory, const char *name,
                                      const char *extension);

/* ---- Multi-frame files ---------------------------------------------------- */

ZEP_API void ZEP_multiframe_init(void);
ZEP_API void ZEP_multiframe_set(int enabled, int limit);
ZEP_API int ZEP_multiframe_used(void);
ZEP_API ZEP_OBJECT *ZEP_multiframe_open(ZEP_INFO *info);
ZEP_API void ZEP_multiframe_add(ZEP_OBJECT *handle, ZEP_INFO *info);
ZEP_API int ZEP_multiframe_set_closed(ZEP_OBJECT *handle);

ZEP_API int ZEP_get_frame(ZEP_OBJECT *handle, int frame);
ZEP_API int ZEP_set_frame(ZEP_OBJECT *handle, int frame);
ZEP_API int ZEP_playback_bind(ZEP_OBJECT *handle, intptr_t a, intptr_t b);
ZEP_API int ZEP_playback_goto(ZEP_OBJECT *handle, intptr_t a);
ZEP_API int ZEP_playback_params(ZEP_OBJECT *handle, intptr_t a, intptr_t b, intptr_t c,
                                intptr_t d, intptr_t e, intptr_t f, intptr_t g, intptr_t h);
ZEP_API int ZEP_playback_play(ZEP_OBJECT *handle, intptr_t a, intptr_t b, intptr_t c,
                              intptr_t d, intptr_t e);
ZEP_API int ZEP_playback_stop(ZEP_OBJECT *handle, intptr_t a);

ZEP_END_DECLS

#endif /* ZEP_IMAGE_H */
