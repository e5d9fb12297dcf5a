/*
 * Frame and playback calls of multi-frame files. Each call hands its
 * arguments, unchanged, to the routine the format's open put into the
 * handle, preceded by the handle's driver data (entry 0 of priv). A handle
 * without the routine, or whose file holds no frames, gets the call's
 * "cannot ..." message naming the file and the format key, and -16; zep__err
 * is left as it was. The calls take no lock.
 */
#include <zep/error.h>
#include <zep/image.h>

#include "error/messages.h"

namespace zep {
namespace {

// The handle's routine when the handle can take frame and playback calls;
// null otherwise.
template <typename Fn> Fn usable(const ZEP_OBJECT *h, Fn ZEP_OBJECT::*slot)
{
    if (!h || h->info.num_frames <= 0) return nullptr;
    return h->*slot;
}

void *driver_data(const ZEP_OBJECT *h) { return h->priv ? h->priv[0] : nullptr; }

// Reports m with the handle's file name and key; returns -16.
int unsupported(const ZEP_OBJECT *h, const Message &m)
{
    const char *file = h && h->info.handle ? h->info.handle : "";
    const char *key = h && h->info.key ? h->info.key : "";
    report(m, file, key);
    return ZEP_E_UNSUPPORTED;
}

} // namespace
} // namespace zep

using zep::driver_data;
using zep::unsupported;
using zep::usable;

int ZEP_get_frame(ZEP_OBJECT *handle, int frame)
{
    auto fn = usable(handle, &ZEP_OBJECT::get_frame);
    if (!fn) return unsupported(handle, zep::kNoSetFrame);
    return fn(driver_data(handle), frame);
}

int ZEP_set_frame(ZEP_OBJECT *handle, int frame)
{
    auto fn = usable(handle, &ZEP_OBJECT::set_frame);
    if (!fn) return unsupported(handle, zep::kNoSetFrame);
    return fn(driver_data(handle), frame);
}

int ZEP_playback_bind(ZEP_OBJECT *handle, intptr_t a, intptr_t b)
{
    auto fn = usable(handle, &ZEP_OBJECT::playback_bind);
    if (!fn) return unsupported(handle, zep::kNoPlaybackWindow);
    return fn(driver_data(handle), a, b);
}

int ZEP_playback_goto(ZEP_OBJECT *handle, intptr_t a)
{
    auto fn = usable(handle, &ZEP_OBJECT::playback_goto);
    if (!fn) return unsupported(handle, zep::kNoPlaybackFrame);
    return fn(driver_data(handle), a);
}

int ZEP_playback_params(ZEP_OBJECT *handle, intptr_t a, intptr_t b, intptr_t c, intptr_t d,
                        intptr_t e, intptr_t f, intptr_t g, intptr_t h)
{
    auto fn = usable(handle, &ZEP_OBJECT::playback_params);
    if (!fn) return unsupported(handle, zep::kNoPlaybackParams);
    return fn(driver_data(handle), a, b, c, d, e, f, g, h);
}

int ZEP_playback_play(ZEP_OBJECT *handle, intptr_t a, intptr_t b, intptr_t c, intptr_t d,
                      intptr_t e)
{
    auto fn = usable(handle, &ZEP_OBJECT::playback_play);
    if (!fn) return unsupported(handle, zep::kNoPlaybackStart);
    return fn(driver_data(handle), a, b, c, d, e);
}

int ZEP_playback_stop(ZEP_OBJECT *handle, intptr_t a)
{
    auto fn = usable(handle, &ZEP_OBJECT::playback_stop);
    if (!fn) return unsupported(handle, zep::kNoPlaybackStop);
    return fn(driver_data(handle), a);
}
