/*
 * String utilities: null-safe comparison, heap strings that grow, in-place
 * edits, searching and sorting of string arrays, file-name dissection and
 * normalisation, environment-variable expansion, numeric tests, abbreviation
 * matching, a string hash and a reference-counted table of shared strings.
 *
 * Strings are byte strings ended by a zero byte. File names use "/" as the
 * separator and may carry a host prefix ending in ":" before the first "/".
 *
 * Heap strings come from STR_more, STR_save and their relatives and are
 * released with ERR_free (or free). Functions that grow a heap string may move
 * it and return the new address; they return null when memory runs out, the
 * failure having been reported, and the old string is then still valid.
 * A string array is a null-terminated array of string pointers allocated as
 * one block.
 *
 * Only the comparison and length functions, STR_save and the heap strings
 * being grown accept null texts; every other text argument must be non-null.
 */
#ifndef ZEP_STRINGS_H
#define ZEP_STRINGS_H

#include <zep/export.h>

ZEP_BEGIN_DECLS

/* Largest name or expanded text that STR_expand_filename handles. */
#define STR_EXPAND_MAX 259

/* ---- Comparison and length (all accept null) -------------------------- */

/* Bytes before the terminator; 0 for null. */
ZEP_API int STR_length(const char *s);
/* 0 when equal, else the difference of the first differing bytes taken as
 * signed 8-bit values; a null sorts before a non-null. */
ZEP_API int STR_compare(const char *a, const char *b);
/* As STR_compare over at most n bytes (always at least the first). */
ZEP_API int STR_n_compare(const char *a, const char *b, int n);
/* True when text matches pattern, where one "*" in the pattern marks the
 * shortest accepted abbreviation: "q*uit" accepts "q" to "quit". */
ZEP_API int STR_abbr(const char *text, const char *pattern);
/* Orders two patterns ignoring their "*" characters. */
ZEP_API int STR_abbr_compare(const char *a, const char *b);
/* h = h * 33 + c over the bytes (signed), 32-bit wrap-around, modulo modulus
 * (non-zero); 0 for null or empty. */
ZEP_API unsigned int STR_hash(const char *s, unsigned int modulus);

/* ---- Heap strings ------------------------------------------------------ */

/* Room for n characters: null s gives a new empty string of n + 1 bytes;
 * otherwise s is resized to n + 1 bytes and byte n set to zero. */
ZEP_API char *STR_more(char *s, int n);
/* A new copy of s (an empty string for null). */
ZEP_API char *STR_save(const char *s);
/* A new string of the first min(n, length) bytes of s. */
ZEP_API char *STR_n_save(const char *s, int n);
/* A new string concatenating count strings (null entries count as empty). */
ZEP_API char *STR_save_n(int count, ...);
/* Appends t to s (null s: a copy of t). */
ZEP_API char *STR_append(char *s, const char *t);
/* Appends exactly n bytes of t: a shorter t is padded with zero bytes. */
ZEP_API char *STR_n_append(char *s, const char *t, int n);
/* Inserts character c at index i, clamped to 0..length. */
ZEP_API char *STR_insert(char *s, int c, int i);
/* Inserts the first n bytes of t (n clamped to 0..length of t) at index i,
 * clamped to 0..length of s. */
ZEP_API char *STR_n_insert(char *s, const char *t, int i, int n);

/* ---- In-place edits (return s) ----------------------------------------- */

ZEP_API char *STR_remove(char *s, int c);
ZEP_API char *STR_remove_reverse(char *s, int c);
ZEP_API char *STR_remove_all(char *s, int c);
ZEP_API char *STR_remove_index(char *s, int i);
/* Removes n characters from index i; the run is cut at the end of s; n < 1
 * removes nothing; a negative i shortens the run by -i and starts it at 0. */
ZEP_API char *STR_n_remove_index(char *s, int i, int n);
/* Appends copies of c until the length is n; s must have room for n + 1. */
ZEP_API char *STR_pad(char *s, int c, int n);
ZEP_API char *STR_reverse(char *s);
ZEP_API char *STR_tolower(char *s);
ZEP_API char *STR_toupper(char *s);

/* ---- Searching (pointers into the argument, or null) ------------------- */

ZEP_API char *STR_skip_space(const char *s);
ZEP_API char *STR_find_space(const char *s);
ZEP_API char **STR_find_string(char **array, const char *s);
ZEP_API char **STR_find_string_reverse(char **array, const char *s);
ZEP_API int STR_is_numeric(const char *s);
ZEP_API int STR_is_integer(const char *s);
ZEP_API int STR_is_real(const char *s);

/* ---- File names -------------------------------------------------------- */

/* The text after the last "." anywhere in s; null when none or s empty. */
ZEP_API char *STR_extension(const char *s);
/* Cuts s at its last "."; returns s. */
ZEP_API char *STR_root(char *s);
/* The text after the last "/", or s. */
ZEP_API char *STR_tail(const char *s);
/* Cuts s at its last "/" (a run counts as one); returns s, or null when s has
 * no "/" or is empty. */
ZEP_API char *STR_head(char *s);
/* Cuts s at a ":" that comes before any "/" and not first; returns s (the host
 * name), else null. */
ZEP_API char *STR_host(char *s);
/* The text after the last ":" before the first "/", or s. */
ZEP_API char *STR_host_remove(const char *s);
/* 1 when s has a ":" before any "/" (its host part is then copied into dst
 * when dst is not null; dst must have room for s), else 0. */
ZEP_API int STR_filename_host(char *dst, const char *s);
/* Normalises s in place ("a//b/./c/../d/" gives "a/b/d"); returns s. */
ZEP_API char *STR_filename_clean(char *s);
/* Writes the absolute form of s relative to directory dir into dst, which must
 * hold STR_length(dir) + STR_length(s) + 2 bytes; returns dst. */
ZEP_API char *STR_filename_absolute(char *dst, const char *dir, const char *s);
/* Writes s relative to dir into dst when that is shorter, else s; dst must
 * hold 3 * STR_length(dir) + STR_length(s) + 1 bytes; returns dst. */
ZEP_API char *STR_filename_relative(char *dst, const char *dir, const char *s);
/* Expands "$NAME" and "${NAME}" from the environment. True with *result a
 * heap copy of the expansion; false with *result a heap copy of the first
 * unset name. A name or expansion over STR_EXPAND_MAX characters fails: false
 * with *result null (as when memory runs out). */
ZEP_API int STR_expand_filename(const char *s, char **result);

/* ---- String arrays ------------------------------------------------------ */

/* Splits s at blanks, in place, into a new string array pointing into s. */
ZEP_API char **STR_parse(char *s);
/* Heapsorts in place: ascending, descending, by the locale's collation. */
ZEP_API char **STR_sort(char **array);
ZEP_API char **STR_sort_reverse(char **array);
ZEP_API char **STR_sort_collate(char **array);

/* ---- Shared strings ----------------------------------------------------- */

/* The table's copy of s, added with count 1 or counted once more; null when
 * memory runs out. */
ZEP_API const char *STR_define(const char *s);
/* Subtracts 1 from the count of s, removing it at 0. Returns 0. */
ZEP_API int STR_undefine(const char *s);
/* Undefines every entry of array, then frees the array. Returns 0. */
ZEP_API int STR_undefine_array(char **array);

/* ---- Pointer arrays shared with the image-file core -------------------- */

/* Entries before the null (0 for a null array). */
ZEP_API int str__array_count(void *const *array);
/* Room for n entries plus the terminator: from null, a new empty array;
 * else the array resized (cut at n entries when it held more). Null when
 * memory runs out; the old array is then unchanged. */
ZEP_API void **str__array_resize(void **array, int n);
/* Copies src with its terminator into dst; returns dst. */
ZEP_API void **str__array_copy(void **dst, void *const *src);
/* Copies up to n entries of src, stopping after a null one; returns dst. */
ZEP_API void **str__array_copy_n(void **dst, void *const *src, int n);

ZEP_END_DECLS

#endif /* ZEP_STRINGS_H */
