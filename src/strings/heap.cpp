/*
 * Heap strings: blocks from the error layer's allocator that always end in a
 * zero byte. Copies are made by STR_save and its relatives; STR_more,
 * STR_append and the insertions grow a string and return its new address.
 *
 * A null heap string behaves as empty. When memory runs out the allocator has
 * reported it, the function returns null and the string it was given is
 * still valid and unchanged. A text to append or insert may lie inside the
 * string being grown (STR_append(s, s) doubles s).
 */
#include <zep/strings.h>

#include <stdarg.h>
#include <stdint.h>

#include <zep/error.h>

#include "strings/chars.h"

namespace {

/* s resized to hold length characters and the terminator, which is written
 * at byte length; a null s gives a new block holding an empty string. Null
 * when memory runs out, s then unchanged. */
char *resize_text(char *s, size_t length)
{
    char *block;
    if (s) {
        block = static_cast<char *>(ERR_realloc(s, length + 1));
    } else {
        block = static_cast<char *>(ERR_malloc(length + 1));
        if (block) block[0] = '\0';
    }
    if (block) block[length] = '\0';
    return block;
}

/* The offset of t inside the length + 1 bytes of s, or -1 when t lies
 * elsewhere. Addresses are compared as integers: t and s may be unrelated. */
ptrdiff_t offset_inside(const char *t, const char *s, size_t length)
{
    if (!s || !t) return -1;
    auto at = reinterpret_cast<uintptr_t>(t);
    auto base = reinterpret_cast<uintptr_t>(s);
    if (at < base || at > base + length) return -1;
    return static_cast<ptrdiff_t>(at - base);
}

size_t clamp_count(int n) { return n > 0 ? static_cast<size_t>(n) : 0; }

/* s with n bytes appended: those of t up to its terminator, then zero bytes
 * up to n (as a bounded copy pads), then the terminator. */
char *append_bytes(char *s, const char *t, size_t n)
{
    size_t length = zep::text_length(s);
    size_t take = t ? strnlen(t, n) : 0;
    ptrdiff_t inside = offset_inside(t, s, length);
    char *grown = resize_text(s, length + n);
    if (!grown) return nullptr;
    if (inside >= 0) t = grown + inside;
    if (take) memmove(grown + length, t, take);
    memset(grown + length + take, 0, n - take);
    return grown;
}

} // namespace

char *STR_more(char *s, int n) { return resize_text(s, clamp_count(n)); }

char *STR_save(const char *s) { return STR_n_save(s, STR_length(s)); }

char *STR_n_save(const char *s, int n)
{
    size_t length = zep::text_length(s);
    size_t count = clamp_count(n);
    if (count > length) count = length;
    char *copy = resize_text(nullptr, count);
    if (copy && count) memcpy(copy, s, count);
    return copy;
}

char *STR_save_n(int count, ...)
{
    va_list args;
    va_start(args, count);
    va_list again;
    va_copy(again, args);
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += zep::text_length(va_arg(args, const char *));
    va_end(args);

    char *joined = resize_text(nullptr, total);
    if (joined) {
        size_t at = 0;
        for (int i = 0; i < count; ++i) {
            const char *part = va_arg(again, const char *);
            size_t length = zep::text_length(part);
            if (length) memcpy(joined + at, part, length);
            at += length;
        }
    }
    va_end(again);
    return joined;
}

char *STR_append(char *s, const char *t) { return append_bytes(s, t, zep::text_length(t)); }

char *STR_n_append(char *s, const char *t, int n) { return append_bytes(s, t, clamp_count(n)); }

char *STR_insert(char *s, int c, int i)
{
    size_t length = zep::text_length(s);
    size_t at = i < 0 ? 0 : static_cast<size_t>(i);
    if (at > length) at = length;
    char *grown = resize_text(s, length + 1);
    if (!grown) return nullptr;
    memmove(grown + at + 1, grown + at, length - at);
    grown[at] = static_cast<char>(c);
    return grown;
}

char *STR_n_insert(char *s, const char *t, int i, int n)
{
    size_t length = zep::text_length(s);
    size_t count = clamp_count(n);
    size_t t_length = zep::text_length(t);
    if (count > t_length) count = t_length;
    size_t at = i < 0 ? 0 : static_cast<size_t>(i);
    if (at > length) at = length;
    if (count == 0) return s ? s : resize_text(nullptr, 0);

    ptrdiff_t inside = offset_inside(t, s, length);
    char *grown = resize_text(s, length + count);
    if (!grown) return nullptr;
    memmove(grown + at + count, grown + at, length - at);
    if (inside < 0) {
        memcpy(grown + at, t, count);
        return grown;
    }
    /* t lay in s: its bytes before the insertion point stayed, the others
     * moved count places on. */
    size_t from = static_cast<size_t>(inside);
    size_t before = from < at ? (at - from < count ? at - from : count) : 0;
    memmove(grown + at, grown + from, before);
    size_t moved_from = (from + before >= at ? from + before : at) + count;
    memmove(grown + at + before, grown + moved_from, count - before);
    return grown;
}
