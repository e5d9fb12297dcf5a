/*
 * The image handle: creating a blank one for ZEP_open.
 *
 * A handle lives through these states:
 *   blank     handle_create: description as by ZEP_info_init, every routine
 *             slot null, current_line -1, no format, its own mutex;
 *   prepared  ZEP_open has filled the description from the application's
 *             record and stored the chosen format's extension;
 *   open      the driver's open routine returned 1 and filled priv and the
 *             slots; ZEP_open set current_line and file_type;
 *   gone      the close routine (ZEP_close, the multi-frame cache, ZEP_seek)
 *             or a failed open freed it through zep__free_obj.
 */
#include <zep/error.h>
#include <zep/image.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "image/core/core.h"

static_assert(std::is_standard_layout_v<ZEP_OBJECT>);
static_assert(offsetof(ZEP_OBJECT, priv) == 0);
static_assert(offsetof(ZEP_OBJECT, spare) < offsetof(ZEP_OBJECT, info));
static_assert(offsetof(ZEP_OBJECT, info) < offsetof(ZEP_OBJECT, access));
static_assert(offsetof(ZEP_OBJECT, access) < offsetof(ZEP_OBJECT, lut_read));
static_assert(offsetof(ZEP_OBJECT, lut_read) < offsetof(ZEP_OBJECT, scan));
static_assert(offsetof(ZEP_OBJECT, scan) < offsetof(ZEP_OBJECT, close));
static_assert(offsetof(ZEP_OBJECT, close) < offsetof(ZEP_OBJECT, playback_bind));
static_assert(offsetof(ZEP_OBJECT, playback_stop) < offsetof(ZEP_OBJECT, get_frame));
static_assert(offsetof(ZEP_OBJECT, get_frame) < offsetof(ZEP_OBJECT, get_raster));
static_assert(offsetof(ZEP_OBJECT, get_raster) < offsetof(ZEP_OBJECT, get_region));
static_assert(offsetof(ZEP_OBJECT, get_region) < offsetof(ZEP_OBJECT, set_frame));
static_assert(offsetof(ZEP_OBJECT, set_frame) < offsetof(ZEP_OBJECT, seek));
static_assert(offsetof(ZEP_OBJECT, seek) < offsetof(ZEP_OBJECT, current_line));
static_assert(offsetof(ZEP_OBJECT, current_line) < offsetof(ZEP_OBJECT, file_type));
static_assert(offsetof(ZEP_OBJECT, file_type) < offsetof(ZEP_OBJECT, direct_scan));
static_assert(offsetof(ZEP_OBJECT, direct_scan) < offsetof(ZEP_OBJECT, mutex));

namespace zep {

ZEP_OBJECT *handle_create(int access)
{
    auto *h = static_cast<ZEP_OBJECT *>(ERR_malloc(sizeof(ZEP_OBJECT)));
    if (!h) return nullptr;
    // All-bits-zero is a null pointer for every slot on the hosts we build for.
    std::memset(h, 0, sizeof *h);
    ZEP_info_init(&h->info);
    h->access = access;
    h->current_line = -1;
    platform::Mutex *m = platform::mutex_create();
    if (!m) {
        ERR_free(h);
        return nullptr;
    }
    h->mutex = m;
    return h;
}

} // namespace zep
