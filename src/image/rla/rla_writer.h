/*
 * What the writer's open and the writing half of the close share: the
 * header write of one image and the elapsed-time text.
 */
#ifndef ZEP_SRC_IMAGE_RLA_RLA_WRITER_H
#define ZEP_SRC_IMAGE_RLA_RLA_WRITER_H

#include <stdint.h>

#include <zep/image.h>

#include "image/rla/rla_internal.h"

namespace zep::rla {

/* Writes image i's header, composed from the handle's description, at the
 * position the stream stands at, then its offset table as it stands; sets
 * the image's header and offset-table positions and advances the shared
 * position. Returns true; false after reporting "Cannot write to" with
 * zep__err -20 (a file grown past the reach of the format's 32-bit offsets
 * fails the same way). */
bool write_header(const ZEP_OBJECT *handle, LineState *states, int i);

/* The text of the time field for a write that started at start_seconds,
 * start_millis and ends at now (milliseconds of the wrapping tick count):
 * "HH:MM:SS" (hours may run past two digits), NUL-filled to 12 bytes. */
void elapsed_text(uint32_t start_seconds, uint32_t start_millis, uint32_t now, char field[12]);

} // namespace zep::rla

#endif // ZEP_SRC_IMAGE_RLA_RLA_WRITER_H
