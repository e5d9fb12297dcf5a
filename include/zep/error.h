/*
 * Error reporting: severities, masks, handler stacks, the report history,
 * the allocation wrappers and the library-wide failure code.
 *
 * A report passes the masks (global, per severity, per record), is counted,
 * lands in a 16-slot history and then goes down a handler chain: the
 * record's handler stack (newest first), the record's own handler, the
 * global handler stack (newest first), and last ERR_def_handler, which
 * writes "SEVERITY, message" to standard error and ends the process for a
 * FATAL report. The first handler that returns 0 ends the chain.
 *
 * The layer holds no lock: callers serialise reports from several threads.
 */
#ifndef ZEP_ERROR_H
#define ZEP_ERROR_H

#include <stddef.h>
#include <stdint.h>

#include <zep/export.h>

ZEP_BEGIN_DECLS

/* Severities. Severity 0 is masked until the application unmasks it. */
#define ERR_DEBUG 0
#define ERR_INFORMATION 1
#define ERR_WARNING 2
#define ERR_ERROR 3
#define ERR_FATAL 4

/* Bit 0 of ERR_RECORD.flags: the record is masked. */
#define ERR_FLAG_MASKED 0x1u

/* Message sets of the library's catalogued reports. */
#define ERR_SET_IMAGE 902  /* image-file core, operators, curves, RLA */
#define ERR_SET_CONFIG 903 /* configuration databases */

/* Size of the buffers that ERR_report, ERR_format and ERR_format_fill
 * write: a message is cut at ERR_MESSAGE_MAX - 1 characters. Buffers given
 * to ERR_format and ERR_format_fill must hold ERR_MESSAGE_MAX bytes. */
#define ERR_MESSAGE_MAX 256

/* Size of the two message buffers of ERR_report_cat and ERR_printf. */
#define ERR_CAT_BUFFER_MAX 32768

struct ERR_RECORD;
struct ERR_NODE; /* a handler-stack node; private to the layer */

/*
 * A handler: receives the record's name, the severity, the finished message,
 * the record and the user data given when it was declared (0 for a record's
 * own handler). Returning 0 ends the chain; anything else passes the report
 * on to the next handler.
 */
typedef int (*ERR_HANDLER)(const char *name, int severity, const char *message,
                           struct ERR_RECORD *record, void *data);

/*
 * An error described once by the application (usually static data) and
 * reported by address. All fields belong to the application except count,
 * flags bit 0 and handlers, which the layer maintains.
 */
typedef struct ERR_RECORD {
    uint8_t kind;                  /* record kind; 1 in the library's records */
    uint8_t severity;              /* 0..4 */
    uint32_t flags;                /* ERR_FLAG_MASKED */
    const char *name;              /* identifier; handlers receive it first */
    const char *format;            /* message format, see ERR_report */
    int32_t count;                 /* times reported (masked reports included) */
    ERR_HANDLER handler;           /* own handler, called after the stack */
    struct ERR_NODE *handlers;     /* top of the record's handler stack */
    uint32_t user1;                /* opaque to the layer */
    uint32_t user2;                /* opaque to the layer */
    const char *const *arg_names;  /* null-terminated names for ERR_format_fill */
} ERR_RECORD;

/* ---- Reporting --------------------------------------------------------- */

/*
 * Reports a catalogued message. The catalogue is never consulted: format,
 * filled by the standard formatted print, is the message (cut at 32,767
 * characters). Returns non-zero when the report was masked (nothing counted),
 * else the result of the handler chain.
 */
ZEP_API int ERR_report_cat(void *catalogue, int set, int number, int severity,
                           const char *format, ...) ZEP_PRINTF(5, 6);

/* As ERR_report_cat without catalogue, set and number. */
ZEP_API void ERR_printf(int severity, const char *format, ...) ZEP_PRINTF(2, 3);

/*
 * Reports an application record. Counts first, then stops when masked.
 * The format takes %c, %d, %f, %s and %% with no flags or width; the message
 * is cut at ERR_MESSAGE_MAX - 1 characters. Returns 0.
 */
ZEP_API int ERR_report(ERR_RECORD *record, ...);

/*
 * Reports runtime-library error number `error` at severity 3: "prefix: text",
 * or "prefix: error N" when the number has no system text; without a prefix
 * (null or empty) the text alone, or "error N".
 */
ZEP_API void ERR_report_errno(int error, const char *prefix);

/* Multi-process reporting is not provided: with enable non-zero returns 0;
 * with enable zero records target (read by nothing) and returns 1. */
ZEP_API int ERR_report_mp(const char *target, int enable);

/*
 * Expands the record's format with the arguments into buffer (at least
 * ERR_MESSAGE_MAX bytes) without counting or reporting; returns buffer.
 * When the record would be masked the buffer is left untouched.
 */
ZEP_API char *ERR_format(char *buffer, ERR_RECORD *record, ...);

/*
 * Writes into buffer (at least ERR_MESSAGE_MAX bytes) the record's format with
 * each conversion replaced by "<name>": the next unused argument name, else
 * "string", "integer", "real", "character" or "unknown type". Returns buffer.
 */
ZEP_API char *ERR_format_fill(ERR_RECORD *record, char *buffer);

/* ---- Masks: each returns the previous state, 0 or 1 ------------------- */

ZEP_API int ERR_mask(ERR_RECORD *record);   /* null: the global mask */
ZEP_API int ERR_unmask(ERR_RECORD *record); /* null: the global mask */
ZEP_API int ERR_mask_s(int severity);       /* outside 0..4: returns 0 */
ZEP_API int ERR_unmask_s(int severity);

/* ---- Handlers --------------------------------------------------------- */

/*
 * Pushes handler with its user data onto the record's stack (null record:
 * the global stack). Returns 1; returns 0, declaring nothing, when no node
 * could be had (the allocation failure has then been reported).
 */
ZEP_API int ERR_dcl_handler(ERR_RECORD *record, ERR_HANDLER handler, void *data);

/* Pops the newest handler of the record's (null: the global) stack and
 * returns it; null when the stack is empty. */
ZEP_API ERR_HANDLER ERR_can_handler(ERR_RECORD *record);

/* The default handler: writes "%s, %s\n" (severity name, message) to standard
 * error. For severity 4 it then shows the "Fatal Error" box and aborts the
 * process. Returns 0. */
ZEP_API int ERR_def_handler(const char *name, int severity, const char *message,
                            ERR_RECORD *record, void *data);

/* ---- Queries ---------------------------------------------------------- */

/* Copies severity, mask bit (0 or 1), count, name, format and the two user
 * words into the out-parameters; a null out-parameter is skipped. */
ZEP_API void ERR_query(ERR_RECORD *record, int *severity, int *masked, int *count,
                       const char **name, const char **format, uint32_t *user1,
                       uint32_t *user2);

/* -1: the sum of all counters; 0..4: that severity's counter; else 0. */
ZEP_API int ERR_stats(int severity);

/* The record of the n-th most recent report (0 the newest, up to 15); null for
 * a slot not used yet or an n outside 0..15. */
ZEP_API ERR_RECORD *ERR_last(int n);

/* "DEBUG", "INFORMATION", "WARNING", "ERROR", "FATAL"; "UNKNOWN" otherwise. */
ZEP_API const char *ERR_type(int severity);

/* Compares text with the record's name (less its first five characters when
 * skip is non-zero); a shorter text compares as an abbreviation. */
ZEP_API int ERR_compare(const char *text, ERR_RECORD *record, int skip);

/* ---- Allocation ------------------------------------------------------- */

/* Allocate and resize; on failure report "No more internal memory" (set 902,
 * number 94, severity 3) and return null (ERR_realloc keeps the old block). */
ZEP_API void *ERR_malloc(size_t size);
ZEP_API void *ERR_realloc(void *pointer, size_t size);
/* Frees pointer (null allowed); returns 1. */
ZEP_API int ERR_free(void *pointer);

/* ---- Library-wide state ----------------------------------------------- */

/* Failure code of the last image-file operation of the calling thread: 0,
 * or a negative ZEP_E_*. Each thread has its own, as with errno, so that
 * threads moving lines on different handles do not overwrite each other's. */
#ifdef __cplusplus
ZEP_API extern thread_local int32_t zep__err;
#else
ZEP_API extern _Thread_local int32_t zep__err;
#endif

/* Catalogue handle given to ZEP_init, passed on every catalogued report. */
ZEP_API extern void *zep__msg_cat;

#define ZEP_E_NONE 0
#define ZEP_E_SCANLINE -2     /* scanline out of range or out of sequence */
#define ZEP_E_TYPE -4         /* invalid channel or file type; no format found */
#define ZEP_E_OPEN -5         /* cannot open; invalid name; required field unset */
#define ZEP_E_DECODE -7       /* scanline cannot be decoded */
#define ZEP_E_NOT_KIND -8     /* the file is not of the expected kind */
#define ZEP_E_KEY -9          /* no key, unknown key, no format for a name */
#define ZEP_E_NOMEM -10       /* no more internal memory */
#define ZEP_E_SYNTAX -11      /* invalid name syntax or frame format string */
#define ZEP_E_NO_MATCH -12    /* a name does not match its syntax */
#define ZEP_E_NO_SYNTAX -13   /* null or empty syntax given to a check */
#define ZEP_E_TOO_LONG -14    /* a name or built path is too long */
#define ZEP_E_NO_NAME -15     /* null or empty name */
#define ZEP_E_UNSUPPORTED -16 /* the format or handle cannot do what was asked */
#define ZEP_E_NULL_ARG -17    /* a required output pointer is null */
#define ZEP_E_READ -18        /* a scanline cannot be read */
#define ZEP_E_WRITE -20       /* a write failed */

/* ---- Test hook -------------------------------------------------------- */

/*
 * Fault injection for tests. Arms the allocator so that the n-th allocation
 * from now (1 = the next) fails as if memory had run out; with persistent
 * non-zero every allocation after it fails too. n <= 0 disarms. Returns the
 * number of allocations that failed by injection since the previous call.
 */
ZEP_API int err__alloc_fail(int n, int persistent);

ZEP_END_DECLS

#endif /* ZEP_ERROR_H */
