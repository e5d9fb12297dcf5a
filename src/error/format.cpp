/*
 * Message texts of application records: the expansion that ERR_report and
 * ERR_format apply to a record's format, and the placeholder filling of
 * ERR_format_fill that shows a format without its arguments.
 *
 * Both write through a Sink that never passes the end of its buffer: a text
 * that does not fit is cut, and the buffer is always terminated.
 */
#include "error/format.h"

#include <stdio.h>
#include <string.h>

#include <zep/error.h>

namespace zep {
namespace {

/* A bounded output text: holds at most size - 1 characters and a final 0. */
class Sink {
  public:
    Sink(char *out, size_t size) : out_(out), size_(size) { out_[0] = '\0'; }

    bool full() const { return len_ + 1 >= size_; }
    size_t length() const { return len_; }

    void put(char c)
    {
        if (full()) return;
        out_[len_++] = c;
        out_[len_] = '\0';
    }

    void put(const char *text)
    {
        size_t n = strlen(text);
        size_t room = size_ - 1 - len_;
        if (n > room) n = room;
        memcpy(out_ + len_, text, n);
        len_ += n;
        out_[len_] = '\0';
    }

    /* One conversion of the runtime library's formatted print, cut to fit. */
    template <typename T> void print(const char *conversion, T value)
    {
        if (full()) return;
        size_t room = size_ - len_;
        int n = snprintf(out_ + len_, room, conversion, value);
        if (n < 0) {
            out_[len_] = '\0';
            return;
        }
        len_ += static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
    }

  private:
    char *out_;
    size_t size_;
    size_t len_ = 0;
};

/* The placeholder name of a conversion character with no argument name. */
const char *type_name(char conversion)
{
    switch (conversion) {
    case 's':
        return "string";
    case 'd':
        return "integer";
    case 'f':
        return "real";
    case 'c':
        return "character";
    default:
        return "unknown type";
    }
}

} // namespace

size_t expand_format(char *out, size_t size, const char *format, va_list args)
{
    Sink sink(out, size);
    if (!format) return 0;
    for (const char *p = format; *p && !sink.full(); ++p) {
        if (*p != '%') {
            sink.put(*p);
            continue;
        }
        char conversion = *++p;
        switch (conversion) {
        case '\0':
            sink.put('%');
            return sink.length();
        case '%':
            sink.put('%');
            break;
        case 'c': {
            int value = va_arg(args, int);
            sink.put(static_cast<char>(static_cast<unsigned char>(value & 0xff)));
            break;
        }
        case 'd':
            sink.print("%d", va_arg(args, int));
            break;
        case 'f':
            sink.print("%f", va_arg(args, double));
            break;
        case 's': {
            const char *text = va_arg(args, const char *);
            sink.put(text ? text : "(null)");
            break;
        }
        default:
            sink.put('%');
            sink.put(conversion);
            break;
        }
    }
    return sink.length();
}

} // namespace zep

/* Returns buffer, filled with the record's format in which "%%" reads "%" and
 * every other conversion reads "<name>"; an empty text for a null record or
 * format. A "%" that ends the format takes a placeholder and ends the text. */
char *ERR_format_fill(ERR_RECORD *record, char *buffer)
{
    if (!buffer) return buffer;
    zep::Sink sink(buffer, ERR_MESSAGE_MAX);
    if (!record || !record->format) return buffer;
    const char *const *names = record->arg_names;
    for (const char *p = record->format; *p && !sink.full(); ++p) {
        if (*p != '%') {
            sink.put(*p);
            continue;
        }
        char conversion = *++p;
        if (conversion == '%') {
            sink.put('%');
            continue;
        }
        const char *name = zep::type_name(conversion);
        if (names && *names) name = *names++;
        sink.put('<');
        sink.put(name);
        sink.put('>');
        if (conversion == '\0') break;
    }
    return buffer;
}
