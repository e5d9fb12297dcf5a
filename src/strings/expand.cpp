/*
 * Expansion of environment variables in file names: "$NAME" and "${NAME}",
 * where NAME is the run of letters, digits and "_" after the "$".
 *
 * Names and the expanded text are built in fixed buffers of STR_EXPAND_MAX
 * characters. A name or an expansion that would pass that limit stops the
 * expansion with no result rather than writing past the buffer.
 */
#include <zep/strings.h>

#include <stdlib.h>

#include "strings/chars.h"

namespace {

bool is_name_char(char c) { return c == '_' || isalnum(static_cast<unsigned char>(c)) != 0; }

} // namespace

int STR_expand_filename(const char *s, char **result)
{
    constexpr size_t kMax = STR_EXPAND_MAX;
    *result = nullptr;
    char out[kMax + 1];
    size_t n = 0;

    for (const char *p = s ? STR_skip_space(s) : ""; *p;) {
        if (*p != '$') {
            if (n == kMax) return 0;
            out[n++] = *p++;
            continue;
        }
        ++p;
        bool brace = *p == '{';
        if (brace) ++p;
        const char *name = p;
        while (is_name_char(*p))
            ++p;
        size_t name_length = static_cast<size_t>(p - name);
        if (brace && *p == '}') ++p;
        if (name_length > kMax) return 0;

        char key[kMax + 1];
        memcpy(key, name, name_length);
        key[name_length] = '\0';
        const char *value = getenv(key);
        if (!value) {
            *result = STR_save(key);
            return 0;
        }
        size_t value_length = strlen(value);
        if (value_length > kMax - n) return 0;
        memcpy(out + n, value, value_length);
        n += value_length;
    }
    out[n] = '\0';
    *result = STR_save(out);
    return *result != nullptr;
}
