/*
 * Pointer arrays: null-terminated arrays of pointers allocated as one block
 * of room for n entries plus the terminator. The image-file core keeps its
 * lists of names and extensions in them; STR_parse builds its word list in
 * one.
 */
#include <zep/strings.h>

#include <zep/error.h>

#include "strings/chars.h"

int str__array_count(void *const *array)
{
    int n = 0;
    if (array)
        while (array[n])
            ++n;
    return n;
}

void **str__array_resize(void **array, int n)
{
    size_t room = (n > 0 ? static_cast<size_t>(n) : 0) + 1;
    void **block;
    if (array) {
        block = static_cast<void **>(ERR_realloc(array, room * sizeof(void *)));
    } else {
        block = static_cast<void **>(ERR_malloc(room * sizeof(void *)));
        if (block) block[0] = nullptr;
    }
    /* A shorter array ends at its last slot; a longer one keeps its old
     * terminator, and the new last slot is cleared as well. */
    if (block) block[room - 1] = nullptr;
    return block;
}

void **str__array_copy(void **dst, void *const *src)
{
    int n = str__array_count(src);
    for (int i = 0; i < n; ++i)
        dst[i] = src[i];
    dst[n] = nullptr;
    return dst;
}

void **str__array_copy_n(void **dst, void *const *src, int n)
{
    for (int i = 0; i < n; ++i) {
        dst[i] = src[i];
        if (!src[i]) break;
    }
    return dst;
}

char **STR_parse(char *s)
{
    int count = 0;
    int room = 4;
    void **words = str__array_resize(nullptr, room);
    if (!words) return nullptr;
    for (char *p = s; p;) {
        while (zep::is_blank(*p))
            ++p;
        if (!*p) break;
        if (count == room) {
            void **grown = str__array_resize(words, room * 2);
            if (!grown) {
                ERR_free(words);
                return nullptr;
            }
            words = grown;
            room *= 2;
        }
        words[count++] = p;
        words[count] = nullptr;
        while (*p && !zep::is_blank(*p))
            ++p;
        if (!*p) break;
        *p++ = '\0';
    }
    return reinterpret_cast<char **>(words);
}
