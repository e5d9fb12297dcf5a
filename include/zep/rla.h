/*
 * The RLA run-length format. The library carries a complete reader and
 * writer; a format module for RLA points its imageIsFile, imageReadOpen and
 * imageWriteOpen at these entry points.
 */
#ifndef ZEP_RLA_H
#define ZEP_RLA_H

#include <stdio.h>

#include <zep/export.h>
#include <zep/image.h>

ZEP_BEGIN_DECLS

/* True when the 740-byte header of the file (stream when non-null, rewound
 * and left after the header; else path) passes the header test. */
ZEP_API int ZEP_rla_is_file(const char *path, FILE *stream);
/* Opens handle->info.handle for reading: fills the description of every
 * image, priv and the scan and close routines. 1, or 0 with zep__err set. */
ZEP_API int ZEP_rla_r_open(ZEP_OBJECT *handle);
/* Creates the file and writes the first header; lines then go out strictly
 * from the window bottom upwards. 1, or 0 with zep__err set (the partly
 * written file is removed). */
ZEP_API int ZEP_rla_w_open(ZEP_OBJECT *handle);

ZEP_END_DECLS

#endif /* ZEP_RLA_H */
