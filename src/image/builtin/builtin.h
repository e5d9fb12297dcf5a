/*
 * The two formats compiled into the library: "mem" keeps written images in
 * process memory for a later reader of the same name; "pipe" streams written
 * scanlines to standard output. The registry's built-in rows point at these.
 */
#ifndef ZEP_SRC_IMAGE_BUILTIN_BUILTIN_H
#define ZEP_SRC_IMAGE_BUILTIN_BUILTIN_H

#include <stdio.h>

#include <zep/image.h>

namespace zep {

int mem_read_open(ZEP_OBJECT *handle);
int mem_write_open(ZEP_OBJECT *handle);
int mem_is_file(const char *path, FILE *stream);

int pipe_read_open(ZEP_OBJECT *handle);
int pipe_write_open(ZEP_OBJECT *handle);
int pipe_is_file(const char *path, FILE *stream);

} // namespace zep

#endif // ZEP_SRC_IMAGE_BUILTIN_BUILTIN_H
