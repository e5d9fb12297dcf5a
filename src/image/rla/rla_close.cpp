/*
 * The close routine shared by the RLA reader and writer, and the release of
 * line states.
 *
 * Closing a written file finishes it: the headers of images 1 and up go
 * behind everything written, each with its offset table as the lines left
 * it; then (not on standard output, which cannot seek) every header's next
 * header offset is patched, image 0's offset table is rewritten with the
 * real offsets and the elapsed writing time goes into image 0's time field.
 * Both kinds then free the line states, close the stream (never a standard
 * one) and free the handle.
 */
#include <zep/error.h>
#include <zep/image.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "error/messages.h"
#include "image/rla/rla_internal.h"
#include "image/rla/rla_writer.h"
#include "platform/platform.h"

namespace zep::rla {
namespace {

constexpr long kTimeOffset = 614; // the time field of the first header
constexpr long kNextHeaderBytes = 4;

const char *system_text(int e)
{
    const char *t = platform::errno_text(e != 0 ? e : EIO);
    return t ? t : "unknown error";
}

// Writes n bytes at file offset `at`. False after reporting "Cannot write
// to" (zep__err -20).
bool patch(const LineState &s0, long at, const void *bytes, size_t n)
{
    errno = 0;
    if (std::fseek(s0.stream, at, SEEK_SET) == 0 && std::fwrite(bytes, 1, n, s0.stream) == n)
        return true;
    report(kCannotWrite, s0.path, system_text(errno));
    zep__err = ZEP_E_WRITE;
    return false;
}

// The writing half of the close; stops at the first failure (reported).
void finish(const ZEP_OBJECT *handle, LineState *states, int count)
{
    for (int i = 1; i < count; ++i)
        if (!write_header(handle, states, i)) return;
    const LineState &s0 = states[0];
    if (s0.standard_stream) return;

    for (int i = 0; i + 1 < count; ++i) {
        if (states[i].table_position == 0) continue;
        const auto next = static_cast<uint32_t>(states[i + 1].header_position);
        const uint8_t bytes[4] = {static_cast<uint8_t>(next >> 24),
                                  static_cast<uint8_t>(next >> 16), static_cast<uint8_t>(next >> 8),
                                  static_cast<uint8_t>(next)};
        if (!patch(s0, long(states[i].table_position) - kNextHeaderBytes, bytes, sizeof bytes))
            return;
    }
    if (s0.table_position != 0 &&
        !patch(s0, long(s0.table_position), s0.offsets, size_t(s0.active_height) * 4))
        return;

    char field[12];
    elapsed_text(s0.start_seconds, s0.start_millis, platform::tick_count(), field);
    patch(s0, kTimeOffset, field, sizeof field);
}

} // namespace

void elapsed_text(uint32_t start_seconds, uint32_t start_millis, uint32_t now, char field[12])
{
    const uint32_t elapsed = (now - (start_seconds * 1000u + start_millis)) / 1000u;
    const uint32_t hours = elapsed / 3600u;
    const uint32_t minutes = (elapsed - 3600u * hours) / 60u;
    const uint32_t seconds = elapsed - 60u * (minutes + 60u * hours);
    // At most 1193 hours fit a 32-bit count of milliseconds: 10 characters.
    char text[40];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", int(hours), int(minutes), int(seconds));
    std::memset(field, 0, 12);
    std::memcpy(field, text, strnlen(text, 11));
}

/* Frees, for each state, its channel buffer, record buffer, coder tables and
 * offset table; then closes the shared stream unless it is a standard one
 * (without a report: this is the path of a failed open) and frees the
 * shared position and current-image words, the path (all held by image 0)
 * and the array itself. */
void release_states(LineState *states, int count)
{
    if (!states) return;
    if (count > 0 && states[0].stream && !states[0].standard_stream) {
        std::fclose(states[0].stream);
        states[0].stream = nullptr;
    }
    for (int i = 0; i < count; ++i) {
        LineState &s = states[i];
        if (s.buffer) zep__chan_free(s.buffer);
        ERR_free(s.record);
        ERR_free(s.decoders);
        ERR_free(s.encoders);
        ERR_free(s.clears);
        ERR_free(s.offsets);
    }
    if (count > 0) {
        ERR_free(states[0].position);
        ERR_free(states[0].current);
        ERR_free(states[0].path);
    }
    ERR_free(states);
}

int close_handle(ZEP_OBJECT *handle)
{
    zep__err = ZEP_E_NONE;
    if (!handle) return zep__err;
    auto *states = handle->priv ? static_cast<LineState *>(handle->priv[0]) : nullptr;
    const int count = handle->info.num_images;
    if (states && count > 0) {
        LineState &s0 = states[0];
        if (s0.writing) finish(handle, states, count);
        if (s0.stream) {
            // A standard stream stays open; what was written to it must
            // still reach it.
            const int rc = s0.standard_stream ? (s0.writing ? std::fflush(s0.stream) : 0)
                                              : std::fclose(s0.stream);
            if (rc != 0) {
                report(kCannotWrite, s0.path ? s0.path : "", system_text(errno));
                zep__err = ZEP_E_WRITE;
            }
            s0.stream = nullptr;
        }
    }
    release_states(states, count > 0 ? count : 1);
    ERR_free(handle->priv);
    handle->priv = nullptr;
    const int result = zep__err;
    zep__free_obj(handle);
    return result;
}

} // namespace zep::rla
