/*
 * Shared pieces of the frame-sequence naming code: the process-wide
 * lower-case copy of a syntax, and the bounded text builder both path-name
 * builders write their results with. Nothing here is exported.
 */
#ifndef ZEP_SRC_IMAGE_NAMING_NAMING_H
#define ZEP_SRC_IMAGE_NAMING_NAMING_H

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <zep/naming.h>

namespace zep::naming {

/* Copies syntax, lower-cased, into the process-wide copy buffer and returns
 * the copy; null (the failure reported) when the buffer cannot grow. The
 * copy is valid until the next call. */
const char *syntax_copy(const char *syntax);

/* True for the printable ASCII characters that are neither letters nor
 * digits nor space. */
constexpr bool is_punct(unsigned char c)
{
    return c > 32 && c < 127 && !(c >= '0' && c <= '9') && !((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

/* The frame number of a run of digits, clamped to INT32_MAX. */
constexpr int frame_number(std::string_view digits)
{
    long long v = 0;
    for (char c : digits)
        if ((v = v * 10 + (c - '0')) > INT32_MAX) return INT32_MAX;
    return static_cast<int>(v);
}

/* True when name names an existing file this process may read. */
inline bool readable_file(const char *name) { return name && access(name, R_OK) == 0; }

/*
 * A result being built: at most ZEP_PATHNAME_MAX - 1 characters. Appends
 * past the end set `overflow` and are dropped; the text is NUL-terminated
 * at every step. `doubling` makes every appended "%" two.
 */
class Text {
  public:
    void append(std::string_view s)
    {
        for (char c : s) {
            put(c);
            if (c == '%' && doubling) put(c);
        }
    }
    /* Appends s as it stands, whatever `doubling` says. */
    void append_raw(std::string_view s)
    {
        for (char c : s) put(c);
    }
    /* Doubles every "%" already in the text. */
    void double_percent()
    {
        Text t;
        t.doubling = true;
        t.append(view());
        *this = t;
    }
    const char *c_str() const { return buf_; }
    size_t size() const { return len_; }
    std::string_view view() const { return {buf_, len_}; }
    /* Copies the text to out (ZEP_PATHNAME_MAX bytes). */
    void copy_to(char *out) const { std::memcpy(out, buf_, len_ + 1); }

    bool doubling = false;
    bool overflow = false;

  private:
    void put(char c)
    {
        if (len_ + 1 >= sizeof buf_) {
            overflow = true;
            return;
        }
        buf_[len_++] = c;
        buf_[len_] = 0;
    }
    char buf_[ZEP_PATHNAME_MAX] = {};
    size_t len_ = 0;
};

} // namespace zep::naming

#endif // ZEP_SRC_IMAGE_NAMING_NAMING_H
