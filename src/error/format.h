/*
 * The error layer's own message expansion, shared by ERR_report and
 * ERR_format: a small printf with the conversions %%, %c, %d, %f and %s and
 * no flags, width or precision.
 */
#ifndef ZEP_SRC_ERROR_FORMAT_H
#define ZEP_SRC_ERROR_FORMAT_H

#include <stdarg.h>
#include <stddef.h>

namespace zep {

/*
 * Expands format with the arguments in args into out (size bytes, at least
 * 1) and returns the length written. The text is always terminated; what
 * does not fit is cut. A null format gives an empty text, a null %s
 * argument prints "(null)", an unknown conversion is copied as "%" and its
 * character without taking an argument, and a "%" that ends the format is
 * copied and ends the expansion.
 */
size_t expand_format(char *out, size_t size, const char *format, va_list args);

} // namespace zep

#endif // ZEP_SRC_ERROR_FORMAT_H
