/* The format-defaults interface used from C: the walk of picture formats,
 * a lookup and a default, through <zep/zep.h> alone. */
#include <string.h>

#include <zep/zep.h>

int zep_test_c_formats(const char *find, char *names, int size, int *width, int *frame_rate);

/* Writes the names of the picture formats, separated by blanks, into names
 * (size bytes), the width of the format named find into *width (-1 when it
 * is unknown) and the frame rate into *frame_rate. Returns the number of
 * formats listed, or -1 when the database cannot be built. */
int zep_test_c_formats(const char *find, char *names, int size, int *width, int *frame_rate)
{
    const FMT_ASPECT *a;
    int count = 0;
    size_t used = 0;

    if (FMT_init(NULL) != 0) return -1;
    names[0] = '\0';
    while ((a = FMT_info()) != NULL) {
        size_t len = strlen(a->name);
        if (used + len + 2 > (size_t)size) break;
        if (used > 0) names[used++] = ' ';
        memcpy(names + used, a->name, len + 1);
        used += len;
        count++;
    }
    a = FMT_find(find);
    *width = a ? a->width : -1;
    *frame_rate = FMT_def_frame_rate();
    return count;
}
