/*
 * Moves on an open handle: scanline and direct-scanline reads and writes,
 * whole-raster reads, seeking, and closing.
 *
 * Each move takes the handle's mutex and calls the driver routine in the
 * handle's slot with entry 0 of the handle's private table; a successful
 * line move records the line as current_line. Closing takes the handle
 * mutex, then the library mutex, and hands the handle either to the
 * multi-frame cache or straight to its close routine.
 *
 * ZEP_seek positions a sequential reader: it skips forward by reading and
 * discarding lines, and when the wanted line has already gone by it closes
 * the file and opens it again from the start.
 */
#include <zep/error.h>
#include <zep/image.h>
#include <zep/strings.h>

#include <cstdio>

#include "error/messages.h"
#include "image/core/core.h"

namespace zep {
namespace {

// A text for a %s that must not receive null.
const char *text(const char *s) { return s ? s : "(null)"; }

// Entry 0 of the handle's private table, or null when there is none.
void *entry0(const ZEP_OBJECT *h) { return h->priv ? h->priv[0] : nullptr; }

// Holds a handle's mutex for the life of the guard.
using HandleLock = platform::MutexGuard;

int unsupported()
{
    zep__err = ZEP_E_UNSUPPORTED;
    return ZEP_E_UNSUPPORTED;
}

int scan_move(ZEP_OBJECT *h, int line, void *buffer)
{
    if (!h) return unsupported();
    HandleLock lock(handle_mutex(h));
    void *priv = entry0(h);
    if (!h->scan || !priv) return unsupported();
    const int rc = h->scan(priv, line, buffer);
    if (rc == 0) h->current_line = line;
    return rc;
}

int direct_move(ZEP_OBJECT *h, int line, intptr_t a, intptr_t b, intptr_t c, intptr_t d)
{
    if (!h) return unsupported();
    HandleLock lock(handle_mutex(h));
    void *priv = entry0(h);
    if (!h->direct_scan || !priv) return unsupported();
    const int rc = h->direct_scan(priv, line, a, b, c, d);
    if (rc == 0) h->current_line = line;
    return rc;
}

// True when a sequential reader at `current` cannot deliver `line` next
// without starting again: a top-down reader has passed it when its last line
// is at or below it, a bottom-up reader when its last line is at or above it.
bool passed(int current, int line, bool bottom_up)
{
    return bottom_up ? current >= line : current <= line;
}

// Closes *ref and opens its file again for reading, with the same format and
// capability settings; *ref receives the new handle, or null when the open
// failed. Returns false, *ref left open and zep__err -10, when the file
// name cannot even be copied.
bool reopen(ZEP_OBJECT **ref)
{
    ZEP_OBJECT *h = *ref;
    char *name = STR_save(h->info.handle);
    if (!name) {
        zep__err = ZEP_E_NOMEM;
        return false;
    }
    ZEP_INFO again;
    ZEP_info_init(&again);
    // The key belongs to the registry, which outlives this call.
    again.key = const_cast<char *>(h->file_type ? h->file_type->key : h->info.key);
    again.handle = name;
    again.full_path = 1;
    again.cap_settings = h->info.cap_settings;
    h->info.cap_settings = nullptr;
    again.mf_flag = 0;

    ZEP_close(h);
    *ref = ZEP_open(&again, "r");
    ERR_free(name);
    ZEP_info_cleanup(&again, 0); // only clears the mark: no string is the record's
    return true;
}

// Positions the sequential reader *ref before `line` (reading and
// discarding lines, or re-opening the file).
void seek_sequential(ZEP_OBJECT **ref, int line)
{
    ZEP_OBJECT *h = *ref;
    if (!h->info.images || h->info.num_images < 1) return;
    const ZEP_IMAGE_DESC &image = h->info.images[0];
    const bool bottom_up = (image.scan_flags & ZEP_SCAN_BOTTOM_UP) != 0;
    const int bottom = image.window.bottom;
    const int top = image.window.top;
    if (line == -1) line = bottom_up ? bottom : top;

    if (passed(h->current_line, line, bottom_up)) {
        if (!reopen(ref)) return;
        h = *ref;
        if (!h) return;
        if (passed(h->current_line, line, bottom_up))
            std::fputs("ZEP_seek: did not advance image pointer correctly\n", stderr);
    }

    void *buffer = nullptr;
    if (bottom_up) {
        // A fresh reader has read nothing yet (-1); its first line is the
        // window bottom.
        int y = h->current_line + 1;
        if (y < bottom) y = bottom;
        for (; y < line; ++y)
            if (ZEP_scan_read(h, y, &buffer) != 0) break;
    } else {
        for (int y = h->current_line - 1; y > line; --y)
            if (ZEP_scan_read(h, y, &buffer) != 0) break;
    }
}

} // namespace
} // namespace zep

using zep::HandleLock;

/* Each returns the routine's result (0 on success, when current_line becomes
 * line), or -16 (zep__err -16) when the handle has no such routine or no
 * private data. */
extern "C" ZEP_API int ZEP_scan_read(ZEP_OBJECT *handle, int line, void *buffer)
{
    return zep::scan_move(handle, line, buffer);
}

extern "C" ZEP_API int ZEP_scan_write(ZEP_OBJECT *handle, int line, void *buffer)
{
    return zep::scan_move(handle, line, buffer);
}

extern "C" ZEP_API int ZEP_direct_scan_read(ZEP_OBJECT *handle, int line, intptr_t a, intptr_t b,
                                            intptr_t c, intptr_t d)
{
    return zep::direct_move(handle, line, a, b, c, d);
}

extern "C" ZEP_API int ZEP_direct_scan_write(ZEP_OBJECT *handle, int line, intptr_t a, intptr_t b,
                                             intptr_t c, intptr_t d)
{
    return zep::direct_move(handle, line, a, b, c, d);
}

/* Returns the raster routine's result (current_line becomes -1), or -16 after
 * reporting when the handle has none; zep__err is left alone then. */
extern "C" ZEP_API int ZEP_get_raster(ZEP_OBJECT *handle, intptr_t a, intptr_t b, intptr_t c,
                                      intptr_t d, intptr_t e)
{
    if (!handle) return ZEP_E_UNSUPPORTED;
    HandleLock lock(zep::handle_mutex(handle));
    if (!handle->get_raster) {
        zep::report(zep::kNoRaster, zep::text(handle->info.handle), zep::text(handle->info.key));
        return ZEP_E_UNSUPPORTED;
    }
    const int rc = handle->get_raster(zep::entry0(handle), a, b, c, d, e);
    handle->current_line = -1;
    return rc;
}

/* Returns zep__err. *handle_ref may receive a new handle of the same file, or
 * null when the file could not be opened again. */
extern "C" ZEP_API int ZEP_seek(ZEP_OBJECT **handle_ref, int line)
{
    if (!handle_ref || !*handle_ref) {
        zep__err = ZEP_E_UNSUPPORTED;
        return zep__err;
    }
    ZEP_OBJECT *h = *handle_ref;
    if (h->seek) {
        HandleLock lock(zep::handle_mutex(h));
        h->seek(zep::entry0(h), line);
        return zep__err;
    }
    const int any_order = ZEP_ACCESS_READ | ZEP_ACCESS_ANY_ORDER;
    if (h->file_type && (h->file_type->access & any_order) == any_order) return zep__err;
    zep::seek_sequential(handle_ref, line);
    return zep__err;
}

/* Returns the close routine's result, or 0 when the multi-frame cache keeps
 * the file open. The handle must not be used afterwards. */
extern "C" ZEP_API int ZEP_close(ZEP_OBJECT *handle)
{
    if (!handle) return zep::unsupported();
    zep::platform::Mutex *own = zep::handle_mutex(handle);
    if (own) zep::platform::mutex_lock(own);
    zep::platform::MutexGuard library(zep::library_mutex());
    // The close routine destroys the handle's mutex: it must be unlocked
    // first, and the handle is not touched after the hand-over.
    if (own) zep::platform::mutex_unlock(own);
    if (!ZEP_multiframe_used()) return ZEP_close_do_it(handle);
    return ZEP_multiframe_set_closed(handle);
}

/* Returns the close routine's result (the handle is gone then), or -16
 * (zep__err -16) when the handle has none. */
extern "C" ZEP_API int ZEP_close_do_it(ZEP_OBJECT *handle)
{
    if (!handle || !handle->close) return zep::unsupported();
    return handle->close(handle);
}
