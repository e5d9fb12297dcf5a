/*
 * Searching: blanks, entries of a string array, and the numeric tests.
 *
 * The numeric tests read the text only. A digit is "0" to "9" whatever the
 * locale; a blank is the locale's white-space class.
 */
#include <zep/strings.h>

#include "strings/chars.h"

namespace {

/* The extremes of a signed 32-bit integer as text. A text of ten digits fits
 * when it does not compare greater than these (equal lengths, so the text
 * order is the numeric order). */
constexpr const char *kMaxInt = "2147483647";
constexpr const char *kMinInt = "-2147483648";
constexpr size_t kIntDigits = 10;

/* The first character of s that is not a digit. */
const char *skip_digits(const char *s)
{
    while (zep::is_digit(*s))
        ++s;
    return s;
}

} // namespace

char *STR_skip_space(const char *s)
{
    if (!s) return nullptr;
    while (zep::is_blank(*s))
        ++s;
    return const_cast<char *>(s);
}

char *STR_find_space(const char *s)
{
    if (!s || !*s) return const_cast<char *>(s);
    ++s;
    while (*s && !zep::is_blank(*s))
        ++s;
    return const_cast<char *>(s);
}

char **STR_find_string(char **array, const char *s)
{
    if (!array) return nullptr;
    for (char **entry = array; *entry; ++entry)
        if (STR_compare(*entry, s) == 0) return entry;
    return nullptr;
}

char **STR_find_string_reverse(char **array, const char *s)
{
    char **last = nullptr;
    if (!array) return nullptr;
    for (char **entry = array; *entry; ++entry)
        if (STR_compare(*entry, s) == 0) last = entry;
    return last;
}

int STR_is_numeric(const char *s)
{
    if (!s || !*s) return 0;
    return *skip_digits(s) == '\0';
}

int STR_is_integer(const char *s)
{
    if (!s) return 0;
    const char *digits = (*s == '+' || *s == '-') ? s + 1 : s;
    const char *end = skip_digits(digits);
    if (*end != '\0' || end == digits) return 0;
    size_t count = static_cast<size_t>(end - digits);
    if (count < kIntDigits) return 1;
    if (count > kIntDigits) return 0;
    if (*s == '-') return STR_compare(s, kMinInt) <= 0;
    return STR_compare(digits, kMaxInt) <= 0;
}

int STR_is_real(const char *s)
{
    if (!s || !*s) return 0;
    const char *p = s;
    if (*p == '+' || *p == '-') ++p;
    p = skip_digits(p);
    if (*p == '.') p = skip_digits(p + 1);
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (!*p) return 0; /* the exponent needs at least one character */
        if (*p == '+' || *p == '-') ++p;
        p = skip_digits(p);
    }
    return *p == '\0';
}
