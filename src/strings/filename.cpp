/*
 * File names: dissection (extension, root, tail, head, host prefix),
 * normalisation, and conversion between relative and absolute forms.
 *
 * A file name uses "/" as its separator and may begin with a host prefix:
 * text ending in a ":" that comes before the first "/" ("host:/data/a.rla").
 * The host name is the text before the first such ":". Cleaning keeps the
 * prefix and works on what follows it; the absolute and relative forms copy
 * a name with a host prefix unchanged.
 *
 * The dissecting functions either return a pointer into the name or cut the
 * name in place. STR_filename_absolute and STR_filename_relative write into a
 * buffer the caller sizes (see the header); that buffer may be the directory
 * or the name itself.
 */
#include <zep/strings.h>

#include "strings/chars.h"

namespace {

bool is_dot(const char *c, size_t n) { return n == 1 && c[0] == '.'; }
bool is_dot_dot(const char *c, size_t n) { return n == 2 && c[0] == '.' && c[1] == '.'; }

/* True when the "/" at d[j] is followed by a character other than "/" and
 * the end: the last "/" of a run that leads to a component. */
bool leads_component(const char *d, size_t j) { return d[j] == '/' && d[j + 1] && d[j + 1] != '/'; }

bool at_separator(char c) { return c == '/' || c == '\0'; }

} // namespace

char *STR_extension(const char *s)
{
    if (!s || !*s) return nullptr;
    const char *dot = strrchr(s, '.');
    return dot ? const_cast<char *>(dot + 1) : nullptr;
}

char *STR_root(char *s)
{
    if (!s) return s;
    if (char *dot = strrchr(s, '.')) *dot = '\0';
    return s;
}

char *STR_tail(const char *s)
{
    if (!s) return nullptr;
    const char *slash = strrchr(s, '/');
    return const_cast<char *>(slash ? slash + 1 : s);
}

char *STR_head(char *s)
{
    if (!s || !*s) return nullptr;
    char *slash = strrchr(s, '/');
    if (!slash) return nullptr;
    while (slash > s && slash[-1] == '/')
        --slash;
    *slash = '\0';
    return s;
}

char *STR_host(char *s)
{
    if (!s) return nullptr;
    const char *colon = zep::host_colon(s);
    if (!colon || colon == s) return nullptr;
    s[colon - s] = '\0';
    return s;
}

char *STR_host_remove(const char *s)
{
    if (!s) return nullptr;
    const char *after = s;
    for (const char *p = s; *p && *p != '/'; ++p)
        if (*p == ':') after = p + 1;
    return const_cast<char *>(after);
}

int STR_filename_host(char *dst, const char *s)
{
    if (!s) return 0;
    const char *colon = zep::host_colon(s);
    if (!colon) return 0;
    if (dst) {
        size_t n = static_cast<size_t>(colon - s);
        memmove(dst, s, n);
        dst[n] = '\0';
    }
    return 1;
}

char *STR_filename_clean(char *s)
{
    if (!s) return s;
    const char *colon = zep::host_colon(s);
    char *base = colon ? s + (colon - s) + 1 : s;
    /* An empty name stays empty: its "." would not fit where it lies. */
    if (!*base) return s;

    /* Components are copied down to out; out never passes the reader. The
     * result so far is [base, out), its components starting at first. */
    char *first = base + (*base == '/' ? 1 : 0);
    char *out = first;
    const char *in = base;
    for (;;) {
        while (*in == '/')
            ++in;
        if (!*in) break;
        const char *component = in;
        while (*in && *in != '/')
            ++in;
        size_t n = static_cast<size_t>(in - component);
        if (is_dot(component, n)) continue;
        if (is_dot_dot(component, n) && out > first) {
            char *last = out;
            while (last > first && last[-1] != '/')
                --last;
            if (!is_dot_dot(last, static_cast<size_t>(out - last))) {
                out = last > first ? last - 1 : first;
                continue;
            }
        }
        if (out > first) *out++ = '/';
        memmove(out, component, n);
        out += n;
    }
    if (out == base) *out++ = '.';
    *out = '\0';
    return s;
}

char *STR_filename_absolute(char *dst, const char *dir, const char *s)
{
    if (!s || !*s) {
        dst[0] = '\0';
        return dst;
    }
    if (s[0] == '/' || zep::host_colon(s)) {
        memmove(dst, s, strlen(s) + 1);
        return dst;
    }

    /* Drop the leading "./" and count the leading "..". */
    const char *rest = s;
    int up = 0;
    for (;;) {
        if (rest[0] == '.' && rest[1] == '/') {
            rest += 1;
        } else if (rest[0] == '.' && rest[1] == '.' && at_separator(rest[2])) {
            rest += 2;
            ++up;
        } else {
            break;
        }
        while (*rest == '/')
            ++rest;
    }

    /* One trailing component of dir goes per "..", with its separator run;
     * a trailing "/" is no component. */
    if (!dir) dir = "";
    size_t keep = strlen(dir);
    for (; up > 0 && keep > 0; --up) {
        while (keep > 0 && dir[keep - 1] == '/')
            --keep;
        while (keep > 0 && dir[keep - 1] != '/')
            --keep;
        while (keep > 0 && dir[keep - 1] == '/')
            --keep;
    }

    size_t prefix = keep ? keep : 1;
    size_t slash = (keep && dir[keep - 1] != '/' && *rest) ? 1 : 0;
    /* The rest goes into place first: dst may be s. */
    memmove(dst + prefix + slash, rest, strlen(rest) + 1);
    if (keep)
        memmove(dst, dir, keep);
    else
        dst[0] = '/';
    if (slash) dst[prefix] = '/';
    return dst;
}

char *STR_filename_relative(char *dst, const char *dir, const char *s)
{
    if (!s || !*s) {
        dst[0] = '\0';
        return dst;
    }
    if (!dir) dir = "";
    size_t s_length = strlen(s);
    if (zep::host_colon(s)) {
        memmove(dst, s, s_length + 1);
        return dst;
    }

    /* k counts the components of dir above the point where the two names
     * part, u those that the relative form must climb. */
    int k = 0;
    int u = 0;
    size_t i = 0;
    for (; dir[i] && dir[i] == s[i]; ++i)
        if (leads_component(dir, i)) ++k;
    for (size_t j = i; dir[j]; ++j) {
        if (leads_component(dir, j)) {
            ++u;
            ++k;
        }
    }
    /* Back up to the last point where both stand at a separator or the end. */
    while (i > 0 && !(at_separator(dir[i]) && at_separator(s[i]))) {
        --i;
        if (leads_component(dir, i)) ++u;
    }

    if (u >= 1 && (u >= 3 || k < 3)) {
        memmove(dst, s, s_length + 1);
        return dst;
    }
    const char *rest = s + i;
    while (*rest == '/')
        ++rest;
    size_t up = static_cast<size_t>(u) * 3;
    /* The rest goes into place first: dst may be s. */
    memmove(dst + up, rest, strlen(rest) + 1);
    for (size_t n = 0; n < up; n += 3)
        memcpy(dst + n, "../", 3);
    return dst;
}
