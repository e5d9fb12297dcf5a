/*
 * Frame-sequence naming: name syntaxes and path-name building.
 *
 * A format says how the file names of an image sequence are composed
 * through its name syntax, a short pattern such as "Name.####.Ext": the word
 * name stands for the base name, a run of # for the frame number (its length
 * is the number of digits), the word ext for the extension, and runs of
 * punctuation are literal text. Case does not matter. Formats without a
 * syntax compose frame names with their printf format string instead
 * ("%s.%04.4d%s": base name, frame number, extension).
 *
 * The path-name builders take a name as a user typed it ("shots/foo.0007.rla",
 * "foo", "foo.rla"), find its base name, frame number and extension, and
 * write the path of a given frame, a wildcard pattern for every frame or a
 * printf template with the frame conversion in it.
 *
 * None of these calls is reentrant: they share one process-wide copy of the
 * syntax and scratch state, so only one thread at a time may use them, and
 * token texts stay valid only until the next call that copies a syntax.
 * Failures leave their code in zep__err (ZEP_E_* in <zep/error.h>); nothing
 * goes to the error handlers.
 */
#ifndef ZEP_NAMING_H
#define ZEP_NAMING_H

#include <stdint.h>

#include <zep/error.h>
#include <zep/export.h>
#include <zep/image.h>

ZEP_BEGIN_DECLS

/* Token kinds. Kind 2 (a field-number element) is reserved. */
#define ZEP_NAME_TOKEN_END 0
#define ZEP_NAME_TOKEN_EXT 1
#define ZEP_NAME_TOKEN_FRAME 3
#define ZEP_NAME_TOKEN_NAME 4
#define ZEP_NAME_TOKEN_LITERAL 5

/* Field markers of a matched frame number ("e" and "o" after the digits). */
#define ZEP_NAME_FIELD_NONE 0
#define ZEP_NAME_FIELD_EVEN 2
#define ZEP_NAME_FIELD_ODD 3

/* A growable array of 4-byte positions; empty (all zero) after parsing. */
typedef struct ZEP_NAME_POSITIONS {
    int32_t *data;
    int32_t count;
    int32_t capacity;
} ZEP_NAME_POSITIONS;

/* One element of a parsed syntax. An array of them ends with a token of
 * kind ZEP_NAME_TOKEN_END whose text is the terminating NUL of the syntax
 * copy (text_length 1). */
typedef struct ZEP_NAME_TOKEN {
    int32_t field;                /* ZEP_NAME_FIELD_* of a matched frame */
    ZEP_NAME_POSITIONS positions; /* matcher scratch */
    int32_t text_length;          /* length of the token's text in the syntax */
    const char *text;             /* into the lower-case syntax copy */
    int32_t match_length;         /* the part of a file name it matched */
    const char *match;            /* null when unmatched */
    int32_t kind;                 /* ZEP_NAME_TOKEN_* */
} ZEP_NAME_TOKEN;

/* Releases a token array: each token's positions up to the end token, then
 * the array itself. */
static inline void ZEP_name_tokens_release(ZEP_NAME_TOKEN *tokens)
{
    ZEP_NAME_TOKEN *t = tokens;
    if (!t) return;
    for (;; t++) {
        ERR_free(t->positions.data);
        if (t->kind == ZEP_NAME_TOKEN_END) break;
    }
    ERR_free(tokens);
}

/* ---- Name syntax ------------------------------------------------------- */

/* Parses syntax into a new token array stored through tokens (release it
 * with ZEP_name_tokens_release). Callers pass depth 0. 1 on success; 0 with
 * -10 (no memory) or -11 (invalid syntax). */
ZEP_API uint8_t ZEP_parse_name_syntax(const char *syntax, ZEP_NAME_TOKEN **tokens, int depth);
/* 1 when the syntax is valid; 0 with -13 (null or empty), -11 or -10. */
ZEP_API uint8_t ZEP_name_syntax_verify(const char *syntax);
/* 1 when the syntax is valid and holds the word ext. */
ZEP_API uint8_t ZEP_name_syntax_has_ext(const char *syntax);
/* 1 when the syntax ends with the word ext (nothing else is checked). */
ZEP_API uint8_t ZEP_name_syntax_ends_ext(const char *syntax);
/* 1 when the syntax contains a # character (nothing else is checked). */
ZEP_API uint8_t ZEP_name_syntax_has_frame(const char *syntax);
/* "name", the keyword for the base name. */
ZEP_API const char *ZEP_name_syntax_name(void);

/* ---- Path-name building ------------------------------------------------ */

/* Build modes: what stands for the frame number in the result. */
#define ZEP_PATHNAME_FRAME 0    /* the number, zero-padded, with its field marker */
#define ZEP_PATHNAME_WILDCARD 1 /* "*" */
#define ZEP_PATHNAME_TEMPLATE 2 /* a printf conversion; every other "%" doubled */

/* Size of the path and base-name buffers. A result that would not fit
 * (including its NUL) fails with -14 and leaves both buffers untouched; the
 * no-syntax builder also refuses names of 260 characters or more (-14). */
#define ZEP_PATHNAME_MAX 1024

/*
 * frame is in/out: on input -1 (any negative value without a syntax) takes
 * the frame number found in the name, any other value is the frame to build;
 * on output it holds the frame number found in the name, or -1.
 * path receives the directory part of name followed by the built file name;
 * base (optional) the base name matched in name; key_out (optional) the
 * format's key; format (optional) the format. Both buffers must hold
 * ZEP_PATHNAME_MAX bytes. force writes every element of the syntax even when
 * name is an existing file or lacks parts.
 * 1 on success; 0 with -9 (no or unknown key, or no format whose extension
 * ends the name), -10, -11 (invalid syntax or format string), -12 (the name
 * does not match the syntax), -14 (too long), -15 (null or empty name) or
 * -17 (null frame pointer or path buffer).
 */

/* With a null syntax: ZEP_pathname_build_no_name_syntax; otherwise stores
 * key in key_out and calls ZEP_pathname_build_from_name_syntax. */
ZEP_API uint8_t ZEP_pathname_build(const char *syntax, const char *name, const char *key,
                                   const char *extension, int mode, uint8_t force, int *frame,
                                   char *path, char *base, const char **key_out,
                                   const ZEP_FILE_TYPE **format);

/* Matches name against syntax (null or empty: the format's syntax, else
 * "name.####.ext"). extension (null or empty: the format's, without its
 * leading ".") is written in place of the word ext. */
ZEP_API uint8_t ZEP_pathname_build_from_name_syntax(const char *syntax, const char *name,
                                                    const char *key, const char *extension,
                                                    int mode, int *frame, char *path, char *base,
                                                    const ZEP_FILE_TYPE **format, uint8_t force);

/* Finds the frame field of name through the format's printf format string.
 * key null: the default key's format when its extension ends name, else the
 * first format whose extension does. */
ZEP_API uint8_t ZEP_pathname_build_no_name_syntax(const char *name, const char *key, int mode,
                                                  uint8_t force, int *frame, char *path,
                                                  char *base, const char **key_out,
                                                  const ZEP_FILE_TYPE **format);

ZEP_END_DECLS

#endif /* ZEP_NAMING_H */
