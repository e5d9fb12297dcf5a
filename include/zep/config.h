/*
 * Configuration: the per-user configuration file ".zeprc" and the
 * format-defaults database read from it.
 *
 * The file is looked for under $HOME, then $KV_ROOT/userconfig, then the
 * built-in root; it is read once into a store of lines split into words,
 * which each database walks in turn with cfg__next_line.
 *
 * The format-defaults database (FMT_*) holds the defaults the image-file
 * core applies when an application leaves a value open: gammas, the
 * gamma-table resolution, frame rate, field dominance, the default channel
 * set and a table of named picture formats. Every query builds the database
 * on first use when FMT_init has not been called.
 */
#ifndef ZEP_CONFIG_H
#define ZEP_CONFIG_H

#include <stdint.h>

#include <zep/export.h>

ZEP_BEGIN_DECLS

/* ---- Configuration file ------------------------------------------------ */

/* Most words kept of one line; further words are ignored. */
#define CFG_MAX_WORDS 16
/* Longest piece of a physical line read as one line. */
#define CFG_MAX_LINE 254

/* One line of the store: its word count and its words, null-terminated. */
typedef struct CFG_WORDS {
    int32_t count;
    char *words[CFG_MAX_WORDS + 1];
} CFG_WORDS;

/* Loads the store (or, when loaded, rewinds it). 0 on success; -1 when no
 * configuration file could be opened (not reported) or memory ran out
 * (reported; the store is then left unloaded). */
ZEP_API int cfg__read_file(void *catalogue);
/* The next line of the store, or null after the last (or when unloaded). */
ZEP_API CFG_WORDS *cfg__next_line(void);
/* Frees the store; the next cfg__read_file reads the file again. */
ZEP_API void cfg__release(void);
/* Parses a real in the configuration's number syntax into *value.
 * Returns 1 for a number, 0 when text is not one (*value unchanged). */
ZEP_API int cfg__parse_real(const char *text, float *value);
/* The path of the configuration file last tried, for messages; null before
 * the first search and after cfg__release. */
ZEP_API const char *cfg__path(void);
/* The catalogue handle given to the load that read the store; the
 * databases pass it on their reports. */
ZEP_API void *cfg__catalogue(void);

/* ---- Format-defaults database ------------------------------------------ */

/* A named picture format. Entries belong to the database and stay valid
 * until FMT_exit. */
typedef struct FMT_ASPECT {
    const char *name; /* e.g. "ntsc_640" */
    int32_t width;    /* pixels */
    int32_t height;   /* pixels */
    float aspect;     /* width over height of the displayed picture */
} FMT_ASPECT;

/*
 * Builds the database from the built-in values and the configuration file.
 * Returns 0 on success, also when already built (the picture-format list is
 * then only rewound); -1 when a list element or a picture-format entry could
 * not be allocated (the database is torn down); -10 when a text from the
 * file could not be copied (reported, the database stays built with what
 * was read so far). Both failures set zep__err to -10. A configuration file
 * that cannot be found or read leaves the built-in values and is no
 * failure.
 */
ZEP_API int FMT_init(void *catalogue);
/* Frees the file's picture formats and texts and the configuration store;
 * texts return to their built-in values, numbers keep theirs. Returns 0. */
ZEP_API int FMT_exit(void);

/* The picture format named name (exact match), or null. A match leaves the
 * FMT_info walk just after it; a miss leaves the walk where it was. */
ZEP_API const FMT_ASPECT *FMT_find(const char *name);
/* The next picture format of the list, or null after the last. */
ZEP_API const FMT_ASPECT *FMT_info(void);

/* The defaults; each builds the database first when needed. */
ZEP_API const char *FMT_def_aspect(void);     /* default picture format name */
ZEP_API float FMT_def_gamma(void);            /* display gamma */
ZEP_API float FMT_def_input_gamma(void);      /* input gamma */
ZEP_API int FMT_def_gamma_tab_res(void);      /* entries of gamma tables */
ZEP_API int FMT_def_frame_rate(void);         /* frames per second */
ZEP_API int FMT_def_dominance(void);          /* 0 even field first, else 1 */
ZEP_API const char *FMT_def_image_data(void); /* default channel set */

ZEP_END_DECLS

#endif /* ZEP_CONFIG_H */
