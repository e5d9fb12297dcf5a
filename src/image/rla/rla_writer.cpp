/*
 * The RLA writer: ZEP_rla_w_open, the header write and the scanline write.
 *
 * A write handle holds one line state per image, in one array; priv[i]
 * points at image i's. The states share the stream and one position word:
 * the file offset the stream stands at, counted by the writer itself (a
 * standard output stream cannot tell it). A created file writes through a
 * stream buffer of its own, allocated with the position word.
 *
 * Life of a write handle:
 *   open      the description is checked and every buffer allocated before
 *             the file is created, so a refused description leaves any
 *             existing file alone; then the file is created, the start time
 *             taken and image 0's header written with a placeholder table;
 *   writing   lines go out strictly in order from each image's window
 *             bottom; an active line is recorded in the image's table;
 *   closed    rla_close.cpp appends the further headers, patches the chain,
 *             image 0's table and the time field, and frees everything.
 * A failed open frees what it took, removes the file it created (never
 * standard output) and leaves priv and the routine slots untouched.
 */
#include <zep/error.h>
#include <zep/image.h>
#include <zep/rla.h>
#include <zep/strings.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "error/messages.h"
#include "image/rla/rla_internal.h"
#include "image/rla/rla_writer.h"
#include "platform/platform.h"

namespace zep::rla {
namespace {

constexpr const char kStdout[] = "/dev/stdout";
constexpr int kCoordinateMax = 32767;     // window and active coordinates
constexpr size_t kPayloadMax = 32767;     // a payload length is an int16
constexpr int64_t kOffsetMax = INT32_MAX; // offsets in the file are int32

// The position word heads one block with the stream's buffer behind it,
// which holds the worst records of two lines of the widest image (whole
// 4 KB blocks, at least one, at most 256 KB): a created file's lines go out
// in about one write each, and a failing write is still seen within a line
// or two. The block is freed through the position word, after the stream
// is closed.
constexpr size_t kWordBytes = 16; // the word, padded
constexpr size_t kBlockBytes = 4096;
constexpr size_t kStreamBufferMax = 256 << 10;

size_t stream_buffer_bytes(const LineState *states, int count)
{
    size_t line = 0;
    for (int i = 0; i < count; ++i)
        line = std::max(line, size_t(states[i].channels) * states[i].record_size);
    const size_t blocks = (std::min(2 * line, kStreamBufferMax) + kBlockBytes - 1) / kBlockBytes;
    return std::max<size_t>(blocks, 1) * kBlockBytes;
}

const char *key_of(const ZEP_OBJECT *h) { return h->info.key ? h->info.key : "rla"; }

// The system's text for error e (EIO when the failing call left none).
const char *system_text(int e)
{
    const char *t = platform::errno_text(e != 0 ? e : EIO);
    return t ? t : "unknown error";
}

// The header code of a channel type that choose_encoder accepted.
int16_t storage_code(int type)
{
    return static_cast<int16_t>(type == ZEP_C_FLOAT    ? kStoreFloat
                                : type == ZEP_C_DOUBLE ? kStoreDouble
                                                       : kStoreInteger);
}

int16_t to_int16(long v) { return static_cast<int16_t>(std::clamp<long>(v, INT16_MIN, INT16_MAX)); }

// v within [lo, hi], NaN as 0: formatted numbers must fit their fields.
double bounded(double v, double lo, double hi)
{
    return std::isnan(v) ? 0.0 : std::clamp(v, lo, hi);
}

void put_text(char *field, size_t size, const char *text)
{
    std::memset(field, 0, size);
    if (!text) return;
    const size_t n = strnlen(text, size - 1);
    std::memcpy(field, text, n);
}

template <size_t N> void put_text(char (&field)[N], const char *text) { put_text(field, N, text); }

template <size_t N> void put_pair(char (&field)[N], const float *xy)
{
    // "%7.4f" of a value in [-9999, 99999] takes at most 10 characters.
    std::snprintf(field, N, "%7.4f %7.4f", bounded(xy[0], -9999.0, 99999.0),
                  bounded(xy[1], -9999.0, 99999.0));
}

// Image i's header from the handle's description.
void compose(const ZEP_OBJECT *handle, int i, Header *h)
{
    const ZEP_INFO &info = handle->info;
    const ZEP_IMAGE_DESC &d = info.images[i];
    *h = Header{};
    h->window_left = to_int16(d.window.left);
    h->window_right = to_int16(d.window.right);
    h->window_bottom = to_int16(d.window.bottom);
    h->window_top = to_int16(d.window.top);
    h->active_left = to_int16(d.active.left);
    h->active_right = to_int16(d.active.right);
    h->active_bottom = to_int16(d.active.bottom);
    h->active_top = to_int16(d.active.top);
    // Frame numbers above the int16 range keep the largest; below -1, 0.
    h->frame = static_cast<int16_t>(info.frame > INT16_MAX ? INT16_MAX
                                    : info.frame < -1      ? 0
                                                           : info.frame);
    h->storage_type = storage_code(d.chan.type);
    h->colour_count = to_int16(d.chan.count);
    h->matte_count = to_int16(d.matte.count);
    h->aux_count = to_int16(d.aux.count);
    h->revision = kRevision;
    // "%7.4f" below 10^10 fits the 16-byte field with its NUL.
    std::snprintf(h->gamma, sizeof h->gamma, "%7.4f",
                  bounded(d.response.gamma, -99999999.0, 9999999999.0));
    put_pair(h->red, info.red_pri);
    put_pair(h->green, info.green_pri);
    put_pair(h->blue, info.blue_pri);
    put_pair(h->white, info.white_pt);
    h->job_num = info.job_num;
    put_text(h->name, info.name);
    put_text(h->desc, info.desc);
    put_text(h->program, info.program);
    put_text(h->machine, info.machine);
    put_text(h->user, info.user);
    put_text(h->date, info.date);
    put_text(h->aspect_name, d.aspect_name);
    // "%5.3f" below 1000 fits the 8-byte field with its NUL.
    std::snprintf(h->aspect_ratio, sizeof h->aspect_ratio, "%5.3f",
                  bounded(d.aspect_ratio, -99.999, 999.999));
    put_text(h->chan_format, d.chan.format);
    h->field = to_int16(info.field);
    put_text(h->time, info.time);
    put_text(h->filter, info.filter);
    h->colour_bits = to_int16(d.chan.width);
    h->matte_type = storage_code(d.matte.type);
    h->matte_bits = to_int16(d.matte.width);
    h->aux_type = storage_code(d.aux.type);
    h->aux_bits = to_int16(d.aux.width);
    put_text(h->aux_format, d.aux.format);
    h->next_header = 0;
}

void put32(uint8_t *p, int64_t v) { put_be32(p, static_cast<uint32_t>(v)); }

// Writes n bytes at the stream's position and advances the shared position
// by what went out. Returns true when all did; errno tells why not.
bool put(LineState *s, const void *bytes, size_t n)
{
    errno = 0;
    const size_t done = std::fwrite(bytes, 1, n, s->stream);
    *s->position += static_cast<int64_t>(done);
    return done == n;
}

// The scanline routine: writes line y of the image whose state is priv.
// Returns 0, -2 (out of sequence) or -20 (write failed), also in zep__err.
int write_scan(void *priv, int y, void *buffer)
{
    auto *s = static_cast<LineState *>(priv);
    if (y != s->next_line) {
        report(kBadScanline, y);
        zep__err = ZEP_E_SCANLINE;
        return ZEP_E_SCANLINE;
    }
    if (y >= s->active_bottom && y <= s->active_top) {
        auto *const *lines = static_cast<void *const *>(buffer);
        const int64_t at = *s->position;
        int e = 0;
        if (s->channels > 0 && !lines) e = EINVAL;
        for (int c = 0; e == 0 && c < s->channels; ++c)
            if (!lines[c]) e = EINVAL;
        if (e == 0 && at > kOffsetMax) e = EFBIG;
        if (e != 0) {
            report(kCannotWriteScanline, y, system_text(e));
            zep__err = ZEP_E_WRITE;
            return ZEP_E_WRITE;
        }
        put32(s->offsets + size_t(y - s->active_bottom) * 4, at);
        for (int c = 0; c < s->channels; ++c) {
            const int n = s->encoders[c](lines[c], s->left_pad, s->active_width, s->record + 2);
            s->record[0] = static_cast<uint8_t>(n >> 8);
            s->record[1] = static_cast<uint8_t>(n);
            if (!put(s, s->record, size_t(n) + 2)) {
                report(kCannotWriteScanline, y, system_text(errno));
                zep__err = ZEP_E_WRITE;
                return ZEP_E_WRITE;
            }
        }
    }
    ++s->next_line;
    zep__err = ZEP_E_NONE;
    return ZEP_E_NONE;
}

// Bytes of the largest payload a channel of the group can produce for
// `active` pixels (0 for a group without channels).
size_t payload_bound(const ZEP_CHAN_GROUP &g, size_t active)
{
    if (g.count <= 0) return 0;
    if (g.type == ZEP_C_FLOAT) return 4 * active;
    if (g.type == ZEP_C_DOUBLE) return 8 * active;
    const size_t planes = g.width <= 8 ? 1 : g.width <= 16 ? 2 : 4;
    return planes * plane_bound(active);
}

// The record buffer for window width w and the largest bits of the groups:
// 2 length bytes and the worst payload, with room to spare.
size_t record_bytes(size_t w, int bits)
{
    if (bits <= 8) return w / 127 + 3 + w;
    if (bits <= 16) return (w / 127 + w) * 2 + 4;
    if (bits <= 32) return (w / 127 + w) * 4 + 6;
    return (w / 127 + w) * 8 + 10;
}

bool window_ok(const ZEP_WINDOW &w)
{
    return w.left >= 0 && w.bottom >= 0 && w.left <= w.right && w.bottom <= w.top &&
           w.right <= kCoordinateMax && w.top <= kCoordinateMax;
}

// Chooses the encoders of image i's three groups into table (colour,
// mattes, auxiliary) and sets float and double groups to 32 and 64 bits.
// False after reporting the group that cannot be handled (zep__err -16).
bool choose_group_encoders(ZEP_OBJECT *handle, int i, Encoder *table)
{
    struct GroupRefusal {
        ZEP_CHAN_GROUP ZEP_IMAGE_DESC::*group;
        const Message *type;
        const Message *width;
    };
    static constexpr GroupRefusal kGroups[] = {
        {&ZEP_IMAGE_DESC::chan, &kNoImageType, &kNoImageWidth},
        {&ZEP_IMAGE_DESC::matte, &kNoMatteType, &kNoMatteWidth},
        {&ZEP_IMAGE_DESC::aux, &kNoAuxType, &kNoAuxWidth},
    };
    ZEP_IMAGE_DESC &d = handle->info.images[i];
    int k = 0;
    for (const GroupRefusal &r : kGroups) {
        ZEP_CHAN_GROUP &g = d.*r.group;
        Encoder e = nullptr;
        bool width_refused = false;
        if (!choose_encoder(g.type, g.width, &e, &width_refused)) {
            report(width_refused ? *r.width : *r.type, key_of(handle));
            zep__err = ZEP_E_UNSUPPORTED;
            return false;
        }
        if (g.type == ZEP_C_FLOAT) g.width = 32;
        if (g.type == ZEP_C_DOUBLE) g.width = 64;
        for (int c = 0; c < g.count; ++c)
            table[k++] = e;
    }
    return true;
}

// False when image i cannot be stored: windows outside 0..32767 or an
// active window outside the window, more than 3 colour channels, negative
// counts or too many channels, or a payload that could outgrow its int16
// length.
bool image_storable(const ZEP_IMAGE_DESC &d)
{
    const ZEP_WINDOW &w = d.window, &a = d.active;
    if (!window_ok(w) || !window_ok(a)) return false;
    if (a.left < w.left || a.right > w.right || a.bottom < w.bottom || a.top > w.top) return false;
    if (d.chan.count < 0 || d.chan.count > 3 || d.matte.count < 0 || d.aux.count < 0) return false;
    if (int64_t{d.chan.count} + d.matte.count + d.aux.count > kMaxChannelsPerImage) return false;
    const size_t active = size_t(a.right - a.left + 1);
    for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux})
        if (payload_bound(*g, active) > kPayloadMax) return false;
    return true;
}

// Fills image i's line state and allocates its tables and record buffer.
// False when memory ran out or the image was refused (reported, zep__err
// set); what was allocated stays in the state for release_states.
bool prepare_image(ZEP_OBJECT *handle, int i, LineState *s)
{
    ZEP_IMAGE_DESC &d = handle->info.images[i];
    s->writing = 1;
    s->header_position = -1;
    s->table_position = 0;
    if (d.chan.count >= 0 && d.matte.count >= 0 && d.aux.count >= 0 &&
        int64_t{d.chan.count} + d.matte.count + d.aux.count <= kMaxChannelsPerImage) {
        s->channels = d.chan.count + d.matte.count + d.aux.count;
        s->encoders =
            static_cast<Encoder *>(ERR_malloc(sizeof(Encoder) * size_t(std::max(s->channels, 1))));
        if (!s->encoders) {
            zep__err = ZEP_E_NOMEM;
            return false;
        }
        if (!choose_group_encoders(handle, i, s->encoders)) return false;
    }
    if (!image_storable(d)) {
        report(kNoAction, key_of(handle));
        zep__err = ZEP_E_UNSUPPORTED;
        return false;
    }
    s->window_width = d.window.right - d.window.left + 1;
    s->window_height = d.window.top - d.window.bottom + 1;
    s->window_top = d.window.top;
    s->window_bottom = d.window.bottom;
    s->active_top = d.active.top;
    s->active_bottom = d.active.bottom;
    s->active_width = d.active.right - d.active.left + 1;
    s->active_height = d.active.top - d.active.bottom + 1;
    s->left_pad = d.active.left - d.window.left;
    s->right_pad = d.window.right - d.active.right;
    s->next_line = d.window.bottom;

    const size_t table = size_t(s->active_height) * 4;
    s->offsets = static_cast<uint8_t *>(ERR_malloc(table));
    if (!s->offsets) {
        zep__err = ZEP_E_NOMEM;
        return false;
    }
    std::memset(s->offsets, 0, table);

    const int bits = std::max({d.chan.width, d.matte.width, d.aux.width});
    size_t worst = 0;
    for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux})
        worst = std::max(worst, payload_bound(*g, size_t(s->active_width)));
    s->record_size = std::max(record_bytes(size_t(s->window_width), bits), worst + 2);
    s->record = static_cast<uint8_t *>(ERR_malloc(s->record_size));
    if (!s->record) {
        zep__err = ZEP_E_NOMEM;
        return false;
    }
    return true;
}

// The path to create for the handle's name, or null after reporting (-5).
const char *output_path(ZEP_OBJECT *handle)
{
    const ZEP_INFO &info = handle->info;
    if (std::strcmp(info.handle, kStdout) == 0 || info.full_path) return info.handle;
    const char *dir = std::getenv("KV_IMG_DIR");
    if (dir && dir[0] == '\0') dir = nullptr; // set but empty: no directory
    const char *path = zep__build_handle(dir, info.handle, info.extension);
    if (!path) {
        report(kCannotOpen, info.handle, system_text(ENAMETOOLONG));
        zep__err = ZEP_E_OPEN;
    }
    return path;
}

} // namespace

bool write_header(const ZEP_OBJECT *handle, LineState *states, int i)
{
    LineState *s = &states[i];
    const char *path = states[0].path;
    const int64_t at = *s->position;
    const size_t table = size_t(s->active_height) * 4;
    bool ok = at <= kOffsetMax;
    int e = EFBIG;
    if (ok) {
        s->header_position = at;
        Header h;
        compose(handle, i, &h);
        uint8_t raw[kHeaderBytes];
        header_encode(h, raw);
        ok = put(s, raw, sizeof raw);
        if (ok) {
            s->table_position = at + int64_t{kHeaderBytes};
            ok = put(s, s->offsets, table);
        }
        e = errno;
    }
    if (!ok) {
        report(kCannotWrite, path, system_text(e));
        zep__err = ZEP_E_WRITE;
    }
    return ok;
}

} // namespace zep::rla

/* Returns 1, or 0 with zep__err -5 (the file cannot be created), -10
 * (memory), -16 (a group or window the format cannot hold) or -20 (the
 * first header could not be written); the handle is then as it came. */
extern "C" ZEP_API int ZEP_rla_w_open(ZEP_OBJECT *handle)
{
    using namespace zep;
    using namespace zep::rla;
    if (!handle || !handle->info.handle) {
        report(kRequiredField, "handle");
        zep__err = ZEP_E_OPEN;
        return 0;
    }
    const ZEP_INFO &info = handle->info;
    const int count = info.num_images;
    if (count < 1 || count > kMaxImages || !info.images) {
        report(kNoAction, key_of(handle));
        zep__err = ZEP_E_UNSUPPORTED;
        return 0;
    }

    auto **table = static_cast<void **>(ERR_malloc(sizeof(void *) * size_t(count)));
    auto *states = static_cast<LineState *>(ERR_malloc(sizeof(LineState) * size_t(count)));
    auto *position = static_cast<int64_t *>(ERR_malloc(kWordBytes));
    if (!table || !states || !position) {
        ERR_free(table);
        ERR_free(states);
        ERR_free(position);
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    *position = 0;
    for (int i = 0; i < count; ++i) {
        states[i] = LineState{};
        states[i].position = position;
        table[i] = &states[i];
    }
    // Everything that can be refused or run out of memory comes before the
    // file is created.
    bool ok = true;
    for (int i = 0; ok && i < count; ++i)
        ok = prepare_image(handle, i, &states[i]);
    const size_t buffer_bytes = ok ? stream_buffer_bytes(states, count) : 0;
    if (ok) {
        auto *block = static_cast<int64_t *>(ERR_realloc(position, kWordBytes + buffer_bytes));
        if (block) {
            position = block;
            for (int i = 0; i < count; ++i)
                states[i].position = block;
        } else {
            zep__err = ZEP_E_NOMEM;
            ok = false;
        }
    }
    const char *path = ok ? output_path(handle) : nullptr;
    if (path) {
        states[0].path = STR_save(path);
        if (!states[0].path) zep__err = ZEP_E_NOMEM;
    }
    if (!path || !states[0].path) {
        release_states(states, count);
        ERR_free(table);
        return 0;
    }

    const bool standard = std::strcmp(path, kStdout) == 0;
    errno = 0;
    FILE *stream = standard ? stdout : std::fopen(path, "wb");
    if (!stream) {
        report(kCannotOpen, path, system_text(errno));
        zep__err = ZEP_E_OPEN;
        release_states(states, count);
        ERR_free(table);
        return 0;
    }
    if (!standard)
        std::setvbuf(stream, reinterpret_cast<char *>(position) + kWordBytes, _IOFBF,
                     buffer_bytes);
    const uint32_t now = platform::tick_count();
    for (int i = 0; i < count; ++i)
        states[i].stream = stream;
    states[0].standard_stream = standard;
    states[0].start_seconds = now / 1000;
    states[0].start_millis = now % 1000;

    ok = write_header(handle, states, 0);
    if (ok && std::fflush(stream) != 0) {
        report(kCannotWrite, states[0].path, system_text(errno));
        zep__err = ZEP_E_WRITE;
        ok = false;
    }
    if (!ok) {
        // The file goes while still open; release_states closes it.
        if (!standard) std::remove(states[0].path);
        release_states(states, count);
        ERR_free(table);
        return 0;
    }
    handle->priv = table;
    handle->scan = write_scan;
    handle->close = close_handle;
    zep__err = ZEP_E_NONE;
    return 1;
}
