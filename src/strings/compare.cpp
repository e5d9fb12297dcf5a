/*
 * Comparison, length, abbreviation matching and the string hash.
 *
 * Every ordering here looks at bytes as signed 8-bit values, so bytes 128 to
 * 255 sort before ASCII, and treats a null text as sorting before any other
 * text. The hash uses the same signed bytes so that it agrees with the
 * orderings on which texts are equal.
 */
#include <zep/strings.h>

#include <stdint.h>

#include "strings/chars.h"

namespace {

constexpr int kBothPresent = 2;

/* The order of a and b when either is null (-1, 0 or 1); kBothPresent when
 * neither is. */
int order_nulls(const char *a, const char *b)
{
    if (a && b) return kBothPresent;
    if (!a && !b) return 0;
    return a ? 1 : -1;
}

} // namespace

int STR_length(const char *s) { return static_cast<int>(zep::text_length(s)); }

int STR_compare(const char *a, const char *b)
{
    int nulls = order_nulls(a, b);
    if (nulls != kBothPresent) return nulls;
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return zep::signed_byte(*a) - zep::signed_byte(*b);
}

int STR_n_compare(const char *a, const char *b, int n)
{
    int nulls = order_nulls(a, b);
    if (nulls != kBothPresent) return nulls;
    if (n < 1) n = 1;
    for (int i = 0; i < n; ++i) {
        if (a[i] != b[i]) return zep::signed_byte(a[i]) - zep::signed_byte(b[i]);
        if (!a[i]) break;
    }
    return 0;
}

int STR_abbr(const char *text, const char *pattern)
{
    if (!text || !pattern) return 0;
    while (*text == *pattern) {
        if (!*text) return 1;
        ++text;
        ++pattern;
    }
    if (*pattern != '*') return 0;
    ++pattern;
    /* The rest of the text must be a prefix of the rest of the pattern. */
    while (*text && *text == *pattern) {
        ++text;
        ++pattern;
    }
    return *text == '\0';
}

int STR_abbr_compare(const char *a, const char *b)
{
    int nulls = order_nulls(a, b);
    if (nulls != kBothPresent) return nulls;
    for (;;) {
        while (*a == '*')
            ++a;
        while (*b == '*')
            ++b;
        if (*a != *b) return zep::signed_byte(*a) - zep::signed_byte(*b);
        if (!*a) return 0;
        ++a;
        ++b;
    }
}

/* Powers of 33 in 32-bit wrap-around arithmetic: eight steps of h * 33 + c
 * fold into h * 33^8 + c0 * 33^7 + ... + c7, whose products do not wait on
 * one another. */
constexpr uint32_t power_of_33(int n) { return n ? 33u * power_of_33(n - 1) : 1u; }

unsigned int STR_hash(const char *s, unsigned int modulus)
{
    if (!s || !*s) return 0;
    /* h = h * 33 + c over the signed bytes, eight bytes per turn. */
    auto c = [](const char *p, int i) { return static_cast<uint32_t>(zep::signed_byte(p[i])); };
    size_t n = strlen(s);
    uint32_t h = 0;
    const char *p = s;
    for (; n >= 8; n -= 8, p += 8) {
        h = h * power_of_33(8) + c(p, 0) * power_of_33(7) + c(p, 1) * power_of_33(6) +
            c(p, 2) * power_of_33(5) + c(p, 3) * power_of_33(4) + c(p, 4) * power_of_33(3) +
            c(p, 5) * power_of_33(2) + c(p, 6) * power_of_33(1) + c(p, 7);
    }
    for (; n > 0; --n, ++p)
        h = h * 33u + c(p, 0);
    return modulus ? h % modulus : h; /* a zero modulus would trap */
}
