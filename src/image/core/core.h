/*
 * Internal interface between the pieces of the image-file core: start-up
 * and registry, the description record, handles and opening, the built-in
 * formats and the multi-frame cache. Nothing here is exported.
 *
 * Locks: one library mutex (created by ZEP_init) and one mutex per handle,
 * always taken handle first, library second.
 */
#ifndef ZEP_SRC_IMAGE_CORE_CORE_H
#define ZEP_SRC_IMAGE_CORE_CORE_H

#include <zep/image.h>

#include "platform/platform.h"

namespace zep {

/* ---- Start-up and registry (registry.cpp, startup.cpp) ------------------- */

/* True between a successful start (ZEP_init or the lazy start) and ZEP_exit. */
bool library_started();

/* Starts the library with the built-in formats when it is not started, and
 * then reports the severity-0 start message naming `call`. Returns 0 when
 * the library runs, else the non-zero result of ZEP_init. */
int lazy_start(const char *call);

/* The library mutex; null before the first ZEP_init. */
platform::Mutex *library_mutex();

/* The accepted plug-in definitions in registry order, and the built-in
 * table ("pipe", "mem"). */
const ZEP_FORMAT_DEF *plugin_defs(int *count);
const ZEP_FORMAT_DEF *builtin_defs(int *count);

/* ---- Handles (handle.cpp) ------------------------------------------------- */

/* A new handle set up for `access` (ZEP_ACCESS_READ or _WRITE): info as by
 * ZEP_info_init, every slot null, current_line -1, a new mutex. Null when
 * memory runs out (reported; zep__err is the caller's to set). */
ZEP_OBJECT *handle_create(int access);

/* The handle's mutex. */
inline platform::Mutex *handle_mutex(const ZEP_OBJECT *h)
{
    return static_cast<platform::Mutex *>(h->mutex);
}

/* Copies src's description into dst (the memory format's reader): every
 * string a private copy, full_path, cap_settings (the pointer), reserved
 * byte and word, job_num, frame, field, the primaries, the first five
 * multi-frame words and the multi-frame flag; image count 0, images and priv
 * null; the lut_read, scan, set_frame and close routines; a new mutex.
 * Returns 1, or 0 after reporting a failed copy. */
int handle_copy(ZEP_OBJECT *dst, const ZEP_OBJECT *src);

/* ---- Description record (info.cpp) --------------------------------------- */

/* Fills a write handle's description from the application's record: strings
 * as private copies with their defaults (user, host, date, "unknown"),
 * KV_JOB_NUM, the image descriptions (zep__init_ifd, then the application's
 * copied over, response curves deep-copied). Returns 0; ZEP_E_NOMEM when the
 * image array could not be allocated (reported); -1 when a string or a
 * response curve could not be copied (reported, zep__err untouched). */
int info_fill_for_write(ZEP_OBJECT *handle, const ZEP_INFO *app);

/* Takes key and handle (private copies), full_path, cap_settings and the
 * multi-frame flag from the application's record into a read handle.
 * Returns 0, or -1 when a copy failed (reported). */
int info_fill_for_read(ZEP_OBJECT *handle, const ZEP_INFO *app);

} // namespace zep

#endif // ZEP_SRC_IMAGE_CORE_CORE_H
