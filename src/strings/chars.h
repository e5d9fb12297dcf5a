/*
 * Character helpers shared by the string utilities: the signed view of a
 * byte that every ordering uses, the locale's blank class, the digits "0" to
 * "9", and the host-prefix test of file names.
 */
#ifndef ZEP_SRC_STRINGS_CHARS_H
#define ZEP_SRC_STRINGS_CHARS_H

#include <ctype.h>
#include <stddef.h>
#include <string.h>

namespace zep {

/* The byte taken as a signed 8-bit value: bytes 128..255 come out negative
 * and so sort before ASCII. */
inline int signed_byte(char c) { return static_cast<signed char>(c); }

/* True for the runtime library's white-space class in the current locale. */
inline bool is_blank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

/* True for "0" to "9" only, whatever the locale. */
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

/* Length of s as a size; 0 for null. */
inline size_t text_length(const char *s) { return s ? strlen(s) : 0; }

/* The first ":" of s when it comes before any "/", else null. */
inline const char *host_colon(const char *s)
{
    for (; *s && *s != '/'; ++s)
        if (*s == ':') return s;
    return nullptr;
}

} // namespace zep

#endif // ZEP_SRC_STRINGS_CHARS_H
