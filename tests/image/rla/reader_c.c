/* The reader's file test seen from C: <zep/zep.h> compiles as C11 and the
 * test answers alike for a path and for an open stream. */
#include <stdio.h>

#include <zep/zep.h>

int rla_c_is_file(const char *path);

/* 1 or 0 as both ways agree; -1 when they disagree or the file cannot be
 * opened. */
int rla_c_is_file(const char *path)
{
    FILE *f = fopen(path, "rb");
    int by_path = ZEP_rla_is_file(path, NULL);
    int by_stream = f ? ZEP_rla_is_file(NULL, f) : -1;
    if (f) fclose(f);
    return by_path == by_stream ? by_path : -1;
}
