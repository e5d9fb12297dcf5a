/*
 * The RLA reader: recognises RLA files, opens them into an image handle and
 * delivers their scanlines.
 *
 * An open follows the chain of headers from the start of the file. Each
 * header gives one image: its description in the handle, and a line state
 * with the image's offset table, decoders, record buffer and channel buffer.
 * Every number a header holds is checked before it is used, and every
 * buffer is sized before anything is allocated: the chain must move forward
 * past the header and its offset table, the image count, the channel count
 * and the bytes of all buffers of the open together stay within the limits
 * of rla_internal.h. So no file can make the reader loop, read or write out
 * of bounds, or take memory beyond that budget; a header beyond the limits
 * is reported as not an RLA file.
 *
 * Line state of an open file (all images share the stream, the position
 * word and the current-image word):
 *   open     after ZEP_rla_r_open: buffers allocated, position known with
 *            one image, unknown (-1) with several;
 *   reading  each line read seeks only when its record is not where the
 *            position word says the stream stands; a failed read leaves the
 *            position unknown, so the next read seeks. A file (not standard
 *            input) is read unbuffered, each line's record with one read
 *            into a line area shared by the images;
 *   closed   the shared close routine frees every state and the handle.
 * No line read allocates.
 */
#include <zep/config.h>
#include <zep/error.h>
#include <zep/image.h>
#include <zep/rla.h>
#include <zep/strings.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <type_traits>

#include "error/messages.h"
#include "image/rla/rla_internal.h"
#include "platform/platform.h"

static_assert(std::is_standard_layout_v<zep::rla::LineState>);

namespace zep::rla {
namespace {

constexpr char kStdinName[] = "/dev/stdin";
constexpr int64_t kUnknownPosition = -1;

/* Storage codes another writer uses for 16- and 32-bit integer groups; they
 * read as integer groups of the header's bit count. */
constexpr int kStoreInteger16 = 1;
constexpr int kStoreInteger32 = 2;

/* A payload length is an int16, so no record needs more than this. */
constexpr size_t kMaxPayload = 32767;

/* Widest sample of any group the decoders know (a double). */
constexpr int kMaxGroupBits = 64;

/* The position word of an open file heads one block with a second int64
 * word and a line area: the second word holds the bytes of the area (0 for
 * none), which takes a whole line record of any image of the file (all its
 * channels) in one read. The block is freed through the position word. */
constexpr size_t kWordsBytes = 2 * sizeof(int64_t);

uint8_t *line_area(const LineState *s) { return reinterpret_cast<uint8_t *>(s->position) + kWordsBytes; }
size_t line_capacity(const LineState *s) { return static_cast<size_t>(s->position[1]); }

/* A text for a %s that must not receive null. */
const char *text(const char *s) { return s ? s : "(null)"; }

/* The header test plus the limits of the reader: a negative auxiliary count
 * and more channels than an image may have are refused like a failed test. */
bool header_fits(const Header &h, bool file_test)
{
    if (!header_acceptable(h, file_test)) return false;
    if (h.colour_count < 0 || h.matte_count < 0 || h.aux_count < 0) return false;
    const int total = h.colour_count + h.matte_count + h.aux_count;
    return total <= kMaxChannelsPerImage;
}

/* The value of a real-number text; false when it is none or does not fit
 * a float. */
bool real_value(const char *text, float *value)
{
    if (!STR_is_real(text)) return false;
    const double v = std::atof(text);
    if (!(std::fabs(v) <= FLT_MAX)) return false;
    *value = static_cast<float>(v);
    return true;
}

/* The gamma text as a number: leading spaces skipped, an empty rest is 0.
 * False when the rest is not a real number that fits a float. */
bool parse_gamma(const char *field, float *gamma)
{
    while (*field == ' ')
        ++field;
    *gamma = 0.0f;
    return *field == '\0' || real_value(field, gamma);
}

/* One channel group of a header: its channels, its type (ZEP_C_*, or 0 when
 * the storage code names none), its bits and the messages that refuse it. */
struct Group {
    int count;
    int type;
    int bits;
    const Message *bad_type;
    const Message *bad_width;
};

int type_of_code(int code)
{
    switch (code) {
    case kStoreInteger:
    case kStoreInteger16:
    case kStoreInteger32:
        return ZEP_C_INTEGER;
    case kStoreFloat:
        return ZEP_C_FLOAT;
    case kStoreDouble:
        return ZEP_C_DOUBLE;
    default:
        return 0;
    }
}

/* Bits a sample of the group takes in a record and in the line. */
int stored_bits(const Group &g)
{
    if (g.type == ZEP_C_FLOAT) return 32;
    if (g.type == ZEP_C_DOUBLE) return 64;
    return g.bits;
}

/* Bytes of one sample in the channel buffer. */
uint64_t sample_bytes(const Group &g)
{
    const int bits = stored_bits(g);
    return bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 8;
}

/* The record buffer of an image whose widest group stores `bits`: room for
 * the planes of a window-width line at the worst of any encoding (two bytes
 * per byte, all runs of one), but no more than a payload length can say. */
size_t record_bytes(int bits, uint64_t width)
{
    const uint64_t planes = bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 8;
    return static_cast<size_t>(std::min<uint64_t>(2 * planes * width, kMaxPayload));
}

/* Replaces the handle string *field by a copy of value; false when the copy
 * could not be made (reported by the allocator). */
bool set_text(char *&field, const char *value)
{
    char *copy = STR_save(value);
    if (!copy) return false;
    ERR_free(field);
    field = copy;
    return true;
}

/* A chromaticity text "x y": the pair and z = 1 - x - y into xyz. A text
 * that does not hold two finite numbers leaves xyz as it is. */
void read_chromaticity(const char *field, float xyz[3])
{
    float x = 0, y = 0;
    if (std::sscanf(field, "%f %f", &x, &y) != 2 || !std::isfinite(x) || !std::isfinite(y)) return;
    xyz[0] = x;
    xyz[1] = y;
    xyz[2] = 1.0f - x - y;
}

/* The date text of a header, with a "{seconds}" text replaced by that time
 * in the local "%c" form, into buffer (256 bytes). */
const char *expand_date(const char *date, char *buffer, size_t size)
{
    if (date[0] != '{') return date;
    char *end = nullptr;
    errno = 0;
    const long long seconds = std::strtoll(date + 1, &end, 10);
    if (end == date + 1 || errno == ERANGE) return date;
    const auto when = static_cast<time_t>(seconds);
    struct tm local;
    if (!localtime_r(&when, &local)) return date;
    if (std::strftime(buffer, size, "%c", &local) == 0) return date;
    return buffer;
}

/* The system's text for a stream that failed to deliver. */
const char *stream_error(FILE *stream, int error)
{
    if (!std::ferror(stream)) return "unexpected end of file";
    const char *t = platform::errno_text(error);
    return t ? t : "read error";
}

bool read_bytes(FILE *stream, void *to, size_t n) { return std::fread(to, 1, n, stream) == n; }

/* Everything an open builds until it hands it to the handle. */
struct Opening {
    ZEP_OBJECT *handle;
    const char *name = nullptr; /* the name in messages: the path opened */
    LineState *states = nullptr;
    int count = 0;       /* line states allocated (and descriptions) */
    uint64_t budget = 0; /* bytes of buffers asked for so far */
    FILE *stream = nullptr;
    bool standard = false; /* standard input */
    int64_t *position = nullptr;
    LineState **current = nullptr;
    char *path = nullptr; /* until state 0 owns it */
};

int fail(int code)
{
    zep__err = code;
    return 0;
}

int not_ours(const Opening &o)
{
    report(kNotOurFile, text(o.name));
    return fail(ZEP_E_NOT_KIND);
}

/* Adds bytes to the open's budget; false when that passes the limit. */
bool take_budget(Opening &o, uint64_t bytes)
{
    if (bytes > kMaxBufferBytes || o.budget > kMaxBufferBytes - bytes) return false;
    o.budget += bytes;
    return true;
}

/* Grows the handle's description array and the line-state array by one
 * zeroed entry each. Returns 1, or 0 with -10. */
int add_image(Opening &o)
{
    ZEP_INFO &info = o.handle->info;
    const size_t n = static_cast<size_t>(o.count) + 1;
    auto *images =
        static_cast<ZEP_IMAGE_DESC *>(ERR_realloc(info.images, n * sizeof(ZEP_IMAGE_DESC)));
    if (!images) return fail(ZEP_E_NOMEM);
    info.images = images;
    std::memset(static_cast<void *>(&images[n - 1]), 0, sizeof(ZEP_IMAGE_DESC));
    info.num_images = static_cast<int32_t>(n);

    auto *states = static_cast<LineState *>(ERR_realloc(o.states, n * sizeof(LineState)));
    if (!states) return fail(ZEP_E_NOMEM);
    o.states = states;
    std::memset(static_cast<void *>(&states[n - 1]), 0, sizeof(LineState));
    o.count = static_cast<int>(n);
    LineState &s = states[n - 1];
    s.stream = o.stream;
    s.position = o.position;
    s.current = o.current;
    s.header_position = -1;
    s.standard_stream = o.standard;
    if (n == 1) {
        s.path = o.path;
        o.path = nullptr;
    }
    return 1;
}

/* The file-level fields that only image 0's header gives. Returns 1, or 0
 * with -10. */
int describe_file(Opening &o, const Header &h, bool current_layout)
{
    ZEP_INFO &info = o.handle->info;
    char date[256];
    bool ok = set_text(info.name, h.name) && set_text(info.desc, h.desc) &&
              set_text(info.program, h.program) && set_text(info.machine, h.machine) &&
              set_text(info.user, h.user) &&
              set_text(info.date, expand_date(h.date, date, sizeof date)) &&
              set_text(info.compression, "run length encoded");
    read_chromaticity(h.red, info.red_pri);
    read_chromaticity(h.green, info.green_pri);
    read_chromaticity(h.blue, info.blue_pri);
    read_chromaticity(h.white, info.white_pt);
    if (current_layout) {
        info.field = h.field;
        ok = ok && set_text(info.time, h.time) && set_text(info.filter, h.filter);
    } else {
        // The field word of the older layout means something only to the
        // variant that wrote it.
        const bool variant =
            STR_compare(info.key, "rlb") == 0 || STR_compare(info.extension, ".rlb") == 0;
        info.field = variant ? h.field : 0;
        ok = ok && set_text(info.time, "unknown") && set_text(info.filter, "unknown");
    }
    return ok ? 1 : fail(ZEP_E_NOMEM);
}

/* Image description i from its header. Returns 1, or 0 with -10. */
int describe_image(Opening &o, int i, const Header &h, const Group *groups, float gamma,
                   bool current_layout)
{
    ZEP_IMAGE_DESC &d = o.handle->info.images[i];
    d.usage = i == 0 ? 1 : 2;
    d.window = {h.window_left, h.window_right, h.window_bottom, h.window_top};
    d.active = {h.active_left, h.active_right, h.active_bottom, h.active_top};
    d.response.kind = ZEP_CURVE_ANALYTIC;
    d.response.gamma = gamma;
    d.response.elem_type = ZEP_C_INTEGER;
    d.response.elem_width = 8;
    d.planar = 1;
    d.scan_flags = ZEP_SCAN_BOTTOM_UP;
    ZEP_CHAN_GROUP *target[] = {&d.chan, &d.matte, &d.aux};
    for (int g = 0; g < 3; ++g)
        *target[g] = {nullptr, groups[g].count, groups[g].type, groups[g].bits};
    d.index = {nullptr, 0, ZEP_C_INTEGER, 8};

    d.chan.format = STR_save(h.chan_format);
    d.aspect_name = STR_save(h.aspect_name);
    if (current_layout) d.aux.format = STR_save(h.aux_format);
    if (!d.chan.format || !d.aspect_name || (current_layout && !d.aux.format))
        return fail(ZEP_E_NOMEM);

    const int width = h.window_right - h.window_left + 1;
    const int height = h.window_top - h.window_bottom + 1;
    if (const FMT_ASPECT *known = FMT_find(h.aspect_name)) {
        d.aspect_width = known->width;
        d.aspect_height = known->height;
        d.aspect_ratio = known->aspect;
    } else {
        d.aspect_width = width;
        d.aspect_height = height;
        float ratio = 0.0f;
        if (real_value(h.aspect_ratio, &ratio) && ratio > 0.0f)
            d.aspect_ratio = ratio;
        else
            d.aspect_ratio =
                height < 1 ? 1.0f : static_cast<float>(width) / static_cast<float>(height);
    }
    return 1;
}

/* Parses the header at offset `at` (where the stream stands) as image i and
 * sets *next to the next header's offset (0 for none). Returns 1, or 0 with
 * zep__err set. */
int parse_header(Opening &o, int i, int64_t at, int64_t *next)
{
    uint8_t raw[kHeaderBytes];
    if (!read_bytes(o.stream, raw, sizeof raw)) return not_ours(o);
    Header h;
    header_decode(raw, &h);
    if (!header_fits(h, false)) return not_ours(o);
    float gamma = 0.0f;
    if (!parse_gamma(h.gamma, &gamma)) return not_ours(o);

    const bool current_layout = h.revision == kRevision;
    const int active_height = h.active_top - h.active_bottom + 1;
    const uint64_t table_bytes = 4 * static_cast<uint64_t>(active_height);
    *next = current_layout ? static_cast<int64_t>(static_cast<uint32_t>(h.next_header)) : 0;
    // The next image lies behind this one's header and offset table, so a
    // chain can only move forward through the file.
    if (*next != 0 && *next < at + static_cast<int64_t>(kHeaderBytes + table_bytes))
        return not_ours(o);

    Group groups[3] = {
        {h.colour_count, ZEP_C_INTEGER, 8, &kNoImageType, &kNoImageWidth},
        {h.matte_count, ZEP_C_INTEGER, 8, &kNoMatteType, &kNoMatteWidth},
        {h.aux_count, ZEP_C_INTEGER, 8, &kNoAuxType, &kNoAuxWidth},
    };
    if (current_layout) {
        const int16_t codes[3] = {h.storage_type, h.matte_type, h.aux_type};
        const int16_t bits[3] = {h.colour_bits, h.matte_bits, h.aux_bits};
        for (int g = 0; g < 3; ++g) {
            groups[g].type = type_of_code(codes[g]);
            groups[g].bits = bits[g];
        }
    }

    if (!add_image(o)) return 0;
    ZEP_INFO &info = o.handle->info;
    // Every header gives the frame and job; the file's are the last image's.
    info.frame = h.frame;
    info.job_num = h.job_num;
    if (!describe_image(o, i, h, groups, gamma, current_layout)) return 0;
    if (i == 0 && !describe_file(o, h, current_layout)) return 0;

    LineState &s = o.states[i];
    s.channels = h.colour_count + h.matte_count + h.aux_count;
    s.window_width = h.window_right - h.window_left + 1;
    s.window_height = h.window_top - h.window_bottom + 1;
    s.window_top = h.window_top;
    s.window_bottom = h.window_bottom;
    s.active_top = h.active_top;
    s.active_bottom = h.active_bottom;
    s.active_width = h.active_right - h.active_left + 1;
    s.active_height = active_height;
    s.left_pad = h.active_left - h.window_left;
    s.right_pad = h.window_right - h.active_right;
    s.next_line = h.active_bottom;

    if (!take_budget(o, table_bytes)) return not_ours(o);
    s.offsets = static_cast<uint8_t *>(ERR_malloc(static_cast<size_t>(table_bytes)));
    if (!s.offsets) return fail(ZEP_E_NOMEM);
    if (!read_bytes(o.stream, s.offsets, static_cast<size_t>(table_bytes))) return not_ours(o);

    const char *key = text(info.key);
    Decoder decoder[3];
    Clear clear[3];
    int widest = 0;
    for (int g = 0; g < 3; ++g) {
        bool width_refused = false;
        const bool chosen =
            choose_decoder(groups[g].type, groups[g].bits, &decoder[g], &clear[g], &width_refused);
        if (!chosen || groups[g].bits > kMaxGroupBits) {
            const bool width = chosen || width_refused;
            report(width ? *groups[g].bad_width : *groups[g].bad_type, key);
            return fail(ZEP_E_UNSUPPORTED);
        }
        widest = std::max(widest, stored_bits(groups[g]));
    }

    // The buffers of this image, against the budget of the whole open.
    const auto width = static_cast<uint64_t>(s.window_width);
    s.record_size = record_bytes(widest, width);
    uint64_t block = 0;
    for (const Group &g : groups) {
        const uint64_t row = width * sample_bytes(g);
        block += static_cast<uint64_t>(g.count) * (row + (row & 1));
    }
    const auto channels = static_cast<uint64_t>(std::max(s.channels, 1));
    const uint64_t tables = channels * (sizeof(Decoder) + sizeof(Clear) + sizeof(void *));
    if (!take_budget(o, s.record_size + block + tables)) return not_ours(o);

    s.decoders = static_cast<Decoder *>(ERR_malloc(channels * sizeof(Decoder)));
    if (!s.decoders) return fail(ZEP_E_NOMEM);
    s.clears = static_cast<Clear *>(ERR_malloc(channels * sizeof(Clear)));
    if (!s.clears) return fail(ZEP_E_NOMEM);
    int c = 0;
    for (int g = 0; g < 3; ++g)
        for (int k = 0; k < groups[g].count; ++k, ++c) {
            s.decoders[c] = decoder[g];
            s.clears[c] = clear[g];
        }
    s.record = static_cast<uint8_t *>(ERR_malloc(s.record_size));
    if (!s.record) return fail(ZEP_E_NOMEM);
    s.buffer = zep__chan_alloc(&info.images[i], s.window_width, key);
    if (!s.buffer) return 0; // zep__chan_alloc set the code
    return 1;
}

/* Opens the stream of the handle's file: standard input for "/dev/stdin",
 * the name itself with full_path, else the name with the format's extension
 * in the current folder, then in KV_IMG_DIR. Returns 1, or 0 with -5 (-10
 * when the path could not be kept). */
int open_stream(Opening &o)
{
    const ZEP_INFO &info = o.handle->info;
    const char *name = info.handle;
    if (!name) {
        report(kRequiredField, "handle");
        return fail(ZEP_E_OPEN);
    }
    const char *tried = name;
    if (std::strcmp(name, kStdinName) == 0) {
        o.stream = stdin;
        o.standard = true;
    } else {
        int error = ENOENT;
        const int attempts = info.full_path ? 1 : 2;
        for (int k = 0; k < attempts && !o.stream; ++k) {
            // A built path lives in a buffer that only a successful build
            // overwrites, so `tried` stays valid for the report.
            const char *p = info.full_path
                                ? name
                                : zep__build_handle(k == 0 ? nullptr : std::getenv("KV_IMG_DIR"),
                                                    name, info.extension);
            if (!p) {
                error = ENAMETOOLONG;
                continue;
            }
            tried = p;
            errno = 0;
            o.stream = std::fopen(p, "rb");
            error = errno;
        }
        // Lines come whole into the line area, so a stream buffer would only
        // add a copy and, at each seek, a read of bytes no line may need.
        if (o.stream) std::setvbuf(o.stream, nullptr, _IONBF, 0);
        if (!o.stream) {
            const char *why = platform::errno_text(error);
            report(kCannotOpen, tried, why ? why : "unknown error");
            return fail(ZEP_E_OPEN);
        }
    }
    o.path = STR_save(tried);
    if (!o.path) {
        if (!o.standard) std::fclose(o.stream);
        o.stream = nullptr;
        return fail(ZEP_E_NOMEM);
    }
    o.name = o.path;
    return 1;
}

/* Releases what a failed open built: the line states (which own the
 * stream, the shared words and the path), or what was made before them. */
void discard(Opening &o)
{
    if (o.states) {
        release_states(o.states, o.count);
        return;
    }
    if (o.stream && !o.standard) std::fclose(o.stream);
    ERR_free(o.path);
    ERR_free(o.position);
    ERR_free(o.current);
}

/* Gives the file a line area for the widest line record of its images (each
 * channel's length word and the largest payload its record buffer takes),
 * when the buffer budget of the open has room for it; without room, or on a
 * standard stream (which cannot seek back to what a whole-line read passed),
 * lines are read channel by channel. Returns 1, or 0 with -10. */
int add_line_area(Opening &o)
{
    if (o.standard) return 1;
    uint64_t widest = 0;
    for (int i = 0; i < o.count; ++i) {
        const LineState &s = o.states[i];
        widest = std::max<uint64_t>(widest, static_cast<uint64_t>(s.channels) * (s.record_size + 2));
    }
    if (widest == 0 || !take_budget(o, widest)) return 1;
    auto *block =
        static_cast<int64_t *>(ERR_realloc(o.position, kWordsBytes + static_cast<size_t>(widest)));
    if (!block) return fail(ZEP_E_NOMEM);
    block[1] = static_cast<int64_t>(widest);
    o.position = block;
    for (int i = 0; i < o.count; ++i)
        o.states[i].position = block;
    return 1;
}

/* Runs the open; on failure the caller discards what it built. */
int open_file(Opening &o)
{
    o.handle->info.num_images = 0;
    if (!open_stream(o)) return 0;
    o.position = static_cast<int64_t *>(ERR_malloc(kWordsBytes));
    if (!o.position) return fail(ZEP_E_NOMEM);
    o.position[1] = 0;
    o.current = static_cast<LineState **>(ERR_malloc(sizeof(LineState *)));
    if (!o.current) return fail(ZEP_E_NOMEM);
    *o.position = kUnknownPosition;
    *o.current = nullptr;

    const long start = std::ftell(o.stream);
    int64_t at = start > 0 ? start : 0;
    for (int i = 0;; ++i) {
        int64_t next = 0;
        if (!parse_header(o, i, at, &next)) return 0;
        if (next == 0) break;
        if (o.count >= kMaxImages || next > LONG_MAX) return not_ours(o);
        if (std::fseek(o.stream, static_cast<long>(next), SEEK_SET) != 0) return not_ours(o);
        at = next;
    }

    if (!add_line_area(o)) return 0;
    auto **priv = static_cast<void **>(ERR_malloc(static_cast<size_t>(o.count) * sizeof(void *)));
    if (!priv) return fail(ZEP_E_NOMEM);
    for (int i = 0; i < o.count; ++i)
        priv[i] = &o.states[i];
    // With one image the stream stands behind its offset table, where the
    // first record usually starts; with several it stands in the last image.
    if (o.count == 1)
        *o.position =
            at + static_cast<int64_t>(kHeaderBytes) + 4 * int64_t{o.states[0].active_height};
    *o.current = &o.states[0];
    o.handle->priv = priv;
    return 1;
}

int fail_read(LineState *s, int y, const char *why)
{
    std::clearerr(s->stream);
    *s->position = kUnknownPosition;
    report(kCannotReadScanline, y, why);
    zep__err = ZEP_E_READ;
    return ZEP_E_READ;
}

int fail_decode(int y)
{
    report(kCannotDecodeScanline, y);
    zep__err = ZEP_E_DECODE;
    return ZEP_E_DECODE;
}

/* Reads and decodes the records of channels `from` and up of line y, one by
 * one from where the stream stands (the position word tells where). Returns
 * 0, -18 or -7 (reported). */
int read_channels(LineState *s, int y, int from)
{
    for (int c = from; c < s->channels; ++c) {
        uint8_t length[2];
        if (!read_bytes(s->stream, length, 2))
            return fail_read(s, y, stream_error(s->stream, errno));
        const int n = static_cast<int16_t>(length[0] << 8 | length[1]);
        if (n < 0 || static_cast<size_t>(n) > s->record_size)
            return fail_read(s, y, "payload length out of range");
        if (!read_bytes(s->stream, s->record, static_cast<size_t>(n)))
            return fail_read(s, y, stream_error(s->stream, errno));
        *s->position += n + 2;
        if (s->decoders[c](s->record, n, s->buffer[c], s->active_width, s->left_pad,
                           s->right_pad) != s->window_width)
            return fail_decode(y);
    }
    return 0;
}

/* Reads line y, whose record starts at `at` where the stream stands, into
 * the channel buffer. With a line area the whole record comes in one read
 * (up to the next line's record when that follows, else as much as the area
 * holds) and every channel whose record lies wholly in it is decoded there;
 * the channels behind (a record longer than the read, a short file) are
 * read one by one from the stream. Lengths and payloads are checked as in
 * the one-by-one reads, with the same results. Returns 0, -18 or -7. */
int read_line(LineState *s, int y, int64_t at)
{
    const size_t capacity = line_capacity(s);
    if (capacity == 0) return read_channels(s, y, 0);
    size_t want = capacity;
    if (y < s->active_top) {
        const int64_t next = get_be32(s->offsets + 4 * static_cast<size_t>(y + 1 - s->active_bottom));
        if (next > at) want = static_cast<size_t>(std::min<int64_t>(next - at, int64_t(capacity)));
    }
    uint8_t *const area = line_area(s);
    const size_t got = std::fread(area, 1, want, s->stream);
    *s->position = at + static_cast<int64_t>(got);
    size_t used = 0;
    int c = 0;
    for (; c < s->channels && got - used >= 2; ++c) {
        const uint8_t *record = area + used;
        const int n = static_cast<int16_t>(record[0] << 8 | record[1]);
        if (n < 0 || static_cast<size_t>(n) > s->record_size)
            return fail_read(s, y, "payload length out of range");
        if (got - used - 2 < static_cast<size_t>(n)) break;
        if (s->decoders[c](record + 2, n, s->buffer[c], s->active_width, s->left_pad,
                           s->right_pad) != s->window_width)
            return fail_decode(y);
        used += static_cast<size_t>(n) + 2;
    }
    if (c == s->channels) return 0;
    const int64_t resume = at + static_cast<int64_t>(used);
    if (resume != *s->position) {
        if (resume > LONG_MAX || std::fseek(s->stream, static_cast<long>(resume), SEEK_SET) != 0)
            return fail_read(s, y, stream_error(s->stream, errno));
        *s->position = resume;
    }
    return read_channels(s, y, c);
}

/* The scanline routine: stores the address of the channel buffer holding
 * line y through out. Returns 0, -2 (outside the window), -18 (record
 * unreadable or its length impossible) or -7 (payload does not decode). */
int read_scan(void *priv, int y, void *out)
{
    auto *s = static_cast<LineState *>(priv);
    if (y < s->window_bottom || y > s->window_top) {
        report(kBadScanline, y);
        zep__err = ZEP_E_SCANLINE;
        return ZEP_E_SCANLINE;
    }
    if (y < s->active_bottom || y > s->active_top) {
        for (int c = 0; c < s->channels; ++c)
            s->clears[c](s->buffer[c], s->window_width);
    } else {
        *s->current = s;
        const int64_t at = get_be32(s->offsets + 4 * static_cast<size_t>(y - s->active_bottom));
        if (at != *s->position) {
            if (at > LONG_MAX || std::fseek(s->stream, static_cast<long>(at), SEEK_SET) != 0)
                return fail_read(s, y, stream_error(s->stream, errno));
            *s->position = at;
        }
        const int rc = read_line(s, y, at);
        if (rc != 0) return rc;
        s->next_line = y + 1;
    }
    if (out) *static_cast<void ***>(out) = s->buffer;
    zep__err = ZEP_E_NONE;
    return 0;
}

} // namespace
} // namespace zep::rla

/* True when 740 bytes can be read (from stream, rewound, when given; else
 * from the file path) and pass the header test. */
extern "C" ZEP_API int ZEP_rla_is_file(const char *path, FILE *stream)
{
    using namespace zep::rla;
    uint8_t raw[kHeaderBytes];
    bool complete = false;
    if (stream) {
        std::rewind(stream);
        complete = read_bytes(stream, raw, sizeof raw);
    } else if (path) {
        FILE *f = std::fopen(path, "rb");
        if (!f) return 0;
        complete = read_bytes(f, raw, sizeof raw);
        std::fclose(f);
    }
    if (!complete) return 0;
    Header h;
    header_decode(raw, &h);
    return header_fits(h, true) ? 1 : 0;
}

/* Opens handle->info.handle for reading. Returns 1 with the description,
 * priv and the scan and close routines filled in; 0 with zep__err set and
 * everything the open allocated released, except the image descriptions,
 * which the handle owns (ZEP_open frees the handle). */
extern "C" ZEP_API int ZEP_rla_r_open(ZEP_OBJECT *handle)
{
    using namespace zep::rla;
    if (!handle) {
        zep::report(zep::kRequiredField, "handle");
        zep__err = ZEP_E_OPEN;
        return 0;
    }
    Opening o{handle};
    if (!open_file(o)) {
        discard(o);
        return 0;
    }
    handle->scan = read_scan;
    handle->close = close_handle;
    zep__err = ZEP_E_NONE;
    return 1;
}
