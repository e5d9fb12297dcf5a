/*
 * In-place edits: removal of characters, padding, reversal and case
 * conversion. Each works inside the string it is given, never grows it
 * (STR_pad writes into room the caller provides) and returns it. A null
 * string is returned as it is.
 */
#include <zep/strings.h>

#include <ctype.h>

#include "strings/chars.h"

namespace {

/* Removes the byte at index at of s, which has length bytes. */
void cut_at(char *s, size_t at, size_t length) { memmove(s + at, s + at + 1, length - at); }

} // namespace

char *STR_remove(char *s, int c)
{
    if (!s || c == '\0') return s;
    if (char *found = strchr(s, c)) cut_at(s, static_cast<size_t>(found - s), strlen(s));
    return s;
}

char *STR_remove_reverse(char *s, int c)
{
    if (!s || c == '\0') return s;
    if (char *found = strrchr(s, c)) cut_at(s, static_cast<size_t>(found - s), strlen(s));
    return s;
}

char *STR_remove_all(char *s, int c)
{
    if (!s || c == '\0') return s;
    char gone = static_cast<char>(c);
    char *to = s;
    for (const char *from = s; *from; ++from)
        if (*from != gone) *to++ = *from;
    *to = '\0';
    return s;
}

char *STR_remove_index(char *s, int i)
{
    if (!s || i < 0) return s;
    size_t length = strlen(s);
    if (static_cast<size_t>(i) < length) cut_at(s, static_cast<size_t>(i), length);
    return s;
}

char *STR_n_remove_index(char *s, int i, int n)
{
    if (!s || n < 1) return s;
    /* The run [i, i + n) cut to the string, in 64 bits so i + n cannot wrap. */
    long long length = static_cast<long long>(strlen(s));
    long long from = i;
    long long to = from + n;
    if (from < 0) from = 0;
    if (to > length) to = length;
    if (from >= to) return s;
    memmove(s + from, s + to, static_cast<size_t>(length - to + 1));
    return s;
}

char *STR_pad(char *s, int c, int n)
{
    if (!s) return s;
    size_t length = strlen(s);
    size_t want = n > 0 ? static_cast<size_t>(n) : 0;
    if (length >= want) return s;
    memset(s + length, c, want - length);
    s[want] = '\0';
    return s;
}

char *STR_reverse(char *s)
{
    if (!s) return s;
    size_t length = strlen(s);
    for (size_t a = 0, b = length; a + 1 < b; ++a, --b) {
        char t = s[a];
        s[a] = s[b - 1];
        s[b - 1] = t;
    }
    return s;
}

char *STR_tolower(char *s)
{
    if (!s) return s;
    for (char *p = s; *p; ++p)
        *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    return s;
}

char *STR_toupper(char *s)
{
    if (!s) return s;
    for (char *p = s; *p; ++p)
        *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    return s;
}
