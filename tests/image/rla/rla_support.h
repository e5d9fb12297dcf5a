// Shared by the RLA tests: the image tests' fixture, hand-made files (header
// fields laid out byte by byte, offset tables, records, explicit packets;
// anything may hold a value no writer would produce), read handles built
// as ZEP_open builds them, and lines that mix runs and noise.
#ifndef ZEP_TESTS_IMAGE_RLA_RLA_SUPPORT_H
#define ZEP_TESTS_IMAGE_RLA_RLA_SUPPORT_H

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "image/core/core.h"
#include "image/core/image_support.h"

namespace rlatest {

using namespace zt;
using Bytes = std::vector<uint8_t>;

inline void put_be(Bytes &b, size_t at, int64_t v, int size)
{
    for (int i = 0; i < size; ++i)
        b[at + size_t(i)] = uint8_t(uint64_t(v) >> (8 * (size - 1 - i)));
}
inline int be16(const Bytes &b, size_t at)
{
    return int16_t(uint16_t(b.at(at) << 8 | b.at(at + 1)));
}
inline int64_t be32(const Bytes &b, size_t at)
{
    return int32_t(uint32_t(b.at(at)) << 24 | uint32_t(b.at(at + 1)) << 16 |
                   uint32_t(b.at(at + 2)) << 8 | b.at(at + 3));
}

// The text of a field, and whether every byte behind it is NUL.
inline std::string text_at(const Bytes &b, size_t at, size_t size, bool *nul_filled = nullptr)
{
    size_t i = 0;
    while (i < size && b.at(at + i) != 0)
        ++i;
    std::string s(b.begin() + long(at), b.begin() + long(at + i));
    bool zero = true;
    for (; i < size; ++i)
        zero = zero && b.at(at + i) == 0;
    if (nul_filled) *nul_filled = zero;
    return s;
}

inline Bytes file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline bool write_bytes(const std::string &path, const Bytes &b)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
    return bool(out.flush());
}

// Runs body in a child process; returns its exit status (-1: it died).
inline int in_child(const std::function<int()> &body)
{
    std::fflush(stdout), std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- Hand-made files --------------------------------------------------------

// The fields of one header; the defaults describe a 4 x 3 image of three
// 8-bit colour channels in the current layout.
struct Header {
    int window[4] = {0, 3, 0, 2}; // left, right, bottom, top
    int active[4] = {0, 3, 0, 2};
    int frame = 7, storage = 0, colours = 3, mattes = 0, auxes = 0, revision = 0xFFFE;
    std::string gamma = " 2.2000", red = " 0.6700  0.3300", green = " 0.2100  0.7100";
    std::string blue = " 0.1400  0.0800", white = " 0.3100  0.3160";
    int32_t job = 42;
    std::string name = "picture", desc = "a test image", program = "builder";
    std::string machine = "host", user = "someone", date = "Mon Jan  5 10:00:00";
    std::string aspect_name = "custom", aspect_ratio = "1.500", chan_format = "rgb";
    int field = 3;
    std::string time = "00:00:04", filter = "box";
    int colour_bits = 8, matte_type = 0, matte_bits = 8, aux_type = 0, aux_bits = 8;
    std::string aux_format = "depth";
    std::optional<int64_t> next; // the chain field; unset: filled by build()

    int active_height() const { return active[3] - active[2] + 1; }
    int active_width() const { return active[1] - active[0] + 1; }
};

inline Bytes header_bytes(const Header &h)
{
    Bytes b(740, 0);
    for (int i = 0; i < 4; ++i) {
        put_be(b, 2 * size_t(i), h.window[i], 2);
        put_be(b, 8 + 2 * size_t(i), h.active[i], 2);
    }
    const std::pair<size_t, int> ints[] = {
        {16, h.frame},       {18, h.storage},     {20, h.colours},   {22, h.mattes},
        {24, h.auxes},       {26, h.revision},    {612, h.field},    {658, h.colour_bits},
        {660, h.matte_type}, {662, h.matte_bits}, {664, h.aux_type}, {666, h.aux_bits}};
    for (auto [at, v] : ints)
        put_be(b, at, v, 2);
    // A text of the field's size or more leaves the field without a NUL.
    const std::tuple<size_t, size_t, const std::string &> texts[] = {
        {28, 16, h.gamma},        {44, 24, h.red},          {68, 24, h.green},
        {92, 24, h.blue},         {116, 24, h.white},       {144, 128, h.name},
        {272, 128, h.desc},       {400, 64, h.program},     {464, 32, h.machine},
        {496, 32, h.user},        {528, 20, h.date},        {548, 24, h.aspect_name},
        {572, 8, h.aspect_ratio}, {580, 32, h.chan_format}, {614, 12, h.time},
        {626, 32, h.filter},      {668, 32, h.aux_format}};
    for (const auto &[at, size, s] : texts)
        std::memcpy(&b[at], s.data(), std::min(s.size(), size));
    put_be(b, 140, h.job, 4);
    put_be(b, 736, h.next.value_or(0), 4);
    return b;
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Literal packets of the bytes (at most 128 per packet).
inline Bytes literal(const Bytes &bytes)
{
    Bytes out;
    for (size_t at = 0; at < bytes.size(); at += 128) {
        const size_t n = std::min<size_t>(bytes.size() - at, 128);
        out.push_back(uint8_t(-int(n)));
        out.insert(out.end(), bytes.begin() + long(at), bytes.begin() + long(at + n));
    }
    return out;
}

// One run packet: count copies (1 to 128) of v.
inline Bytes run(int count, uint8_t v) { return {uint8_t(count - 1), v}; }

// Byte planes of integer samples, most significant plane first, as literals.
inline Bytes planes(const std::vector<uint32_t> &samples, int bytes_per_sample)
{
    Bytes out;
    for (int plane = bytes_per_sample - 1; plane >= 0; --plane) {
        Bytes p;
        for (uint32_t s : samples)
            p.push_back(uint8_t(s >> (8 * plane)));
        out = cat({out, literal(p)});
    }
    return out;
}

// One channel's part of a record: the int16 length, then the payload.
inline Bytes channel(const Bytes &payload, std::optional<int> length = std::nullopt)
{
    Bytes out(2);
    put_be(out, 0, length.value_or(int(payload.size())), 2);
    return cat({out, payload});
}

// An image: its header and the record of each active line, bottom first.
// Table entries may be overridden; a shorter table may be asked for.
struct Image {
    Header header;
    std::vector<Bytes> records;
    std::vector<std::pair<int, int64_t>> offset_overrides; // entry, value
    std::optional<int> table_entries;
};

// Lays the images out one after the other (header, table, records) and
// chains them; a header whose next field is set keeps it.
inline Bytes build(std::vector<Image> images)
{
    Bytes file;
    std::vector<size_t> starts;
    for (Image &im : images) {
        starts.push_back(file.size());
        const int entries = im.table_entries.value_or(im.header.active_height());
        Bytes table(size_t(entries) * 4);
        size_t at = file.size() + 740 + table.size();
        for (size_t k = 0; k < size_t(entries) && k < im.records.size();
             at += im.records[k++].size())
            put_be(table, k * 4, int64_t(at), 4);
        for (auto [k, v] : im.offset_overrides)
            put_be(table, size_t(k) * 4, v, 4);
        file = cat({file, header_bytes(im.header), table});
        for (const Bytes &r : im.records)
            file = cat({file, r});
    }
    for (size_t i = 0; i < images.size(); ++i)
        if (!images[i].header.next)
            put_be(file, starts[i] + 736, i + 1 < images.size() ? int64_t(starts[i + 1]) : 0, 4);
    return file;
}

// ---- Read handles -----------------------------------------------------------

// Closes an open handle through its close routine; frees one whose open
// failed as ZEP_open does.
struct HandleCloser {
    void operator()(ZEP_OBJECT *h) const
    {
        h && h->close ? void(h->close(h)) : void(zep__free_obj(h));
    }
};
using Handle = std::unique_ptr<ZEP_OBJECT, HandleCloser>;

// Opens path for a driver of this key and extension; null when the open
// failed, *code holding zep__err either way. With fail_at > 0 the open's
// fail_at-th allocation fails.
inline Handle open_reader(const std::string &path, int *code, const char *key = "rla",
                          const char *extension = ".rla", bool full_path = true, int fail_at = 0)
{
    Handle h(zep::handle_create(ZEP_ACCESS_READ));
    h->info.handle = STR_save(path.c_str());
    h->info.key = STR_save(key);
    h->info.extension = STR_save(extension);
    h->info.full_path = full_path ? 1 : 0;
    zep__err = 0;
    if (fail_at > 0) err__alloc_fail(fail_at, 0);
    const int ok = ZEP_rla_r_open(h.get());
    *code = zep__err;
    return ok ? std::move(h) : nullptr;
}

inline int read_line(ZEP_OBJECT *h, int i, int y, void ***lines)
{
    return h->scan(h->priv[i], y, lines);
}

// LibTest with KV_IMG_DIR unset.
class RlaTest : public LibTest {
  protected:
    void SetUp() override { unsetenv("KV_IMG_DIR"), LibTest::SetUp(); }
    void TearDown() override { unsetenv("KV_IMG_DIR"), LibTest::TearDown(); }
    std::string put(const std::string &name, const Bytes &bytes) const
    {
        EXPECT_TRUE(write_bytes(file(name), bytes));
        return file(name);
    }
    static bool reported(const std::string &message)
    {
        for (const Report &r : reports)
            if (r.message == message) return true;
        return false;
    }
};

// ---- Lines for the writer ---------------------------------------------------

// Bytes of one sample of a group, worked out independently of the library.
inline size_t sample_bytes(const ZEP_CHAN_GROUP &g)
{
    return g.type == ZEP_C_DOUBLE  ? 8
           : g.type == ZEP_C_FLOAT ? 4
           : g.width <= 8          ? 1
           : g.width <= 16         ? 2
                                   : 4;
}

// A channel table for `pixels` samples per channel of d, freed with it.
struct Chan {
    void **table;
    Chan(ZEP_IMAGE_DESC &d, int pixels) : table(ZEP_chan_alloc(&d, pixels, "test", nullptr)) {}
    ~Chan() { ZEP_chan_free(table); }
    Chan(const Chan &) = delete;
};

// Fills every channel of a table laid out for d with line y's samples:
// stretches of equal values between stretches of noise; integer samples
// keep their low `width` bits. Rows need not be aligned for their samples.
inline void fill_table(void **table, const ZEP_IMAGE_DESC &d, int width, int y, int salt = 0)
{
    int k = 0;
    for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux})
        for (int c = 0; c < g->count; ++c, ++k) {
            auto *p = static_cast<uint8_t *>(table[k]);
            const auto put = [&p](auto s) { std::memcpy(p, &s, sizeof s), p += sizeof s; };
            for (int x = 0; x < width; ++x) {
                uint32_t v = uint32_t(y * 977 + k * 131 + (x / 6) * 7 + salt) * 0x01010101u;
                if ((x / 6 + y) % 3 == 0) {
                    v = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(k + salt) * 97u;
                    v = (v ^ v >> 13) * 0x5bd1e995u;
                }
                const uint32_t m = g->width >= 32 || g->width < 1 ? v : v & ((1u << g->width) - 1);
                if (g->type == ZEP_C_FLOAT)
                    put(float(v % 100000) / 7.0f);
                else if (g->type == ZEP_C_DOUBLE)
                    put(double(v) / 3.0);
                else if (g->width <= 8)
                    put(uint8_t(m));
                else if (g->width <= 16)
                    put(uint16_t(m));
                else
                    put(m);
            }
        }
}

// Writes every line of image i bottom up (priv[0] pointing at it meanwhile)
// from `table` (null: one made here). Returns the first failure, or 0.
inline int write_image(ZEP_OBJECT *h, int i, int salt = 0, void **table = nullptr)
{
    ZEP_IMAGE_DESC &d = h->info.images[i];
    const int width = d.window.right - d.window.left + 1;
    std::optional<Chan> own;
    if (!table) table = own.emplace(d, width).table;
    void *saved = h->priv[0];
    h->priv[0] = h->priv[i];
    int rc = 0;
    for (int y = d.window.bottom; rc == 0 && y <= d.window.top; ++y) {
        fill_table(table, d, width, y, salt);
        rc = ZEP_scan_write(h, y, table);
    }
    h->priv[0] = saved;
    return rc;
}

} // namespace rlatest

#endif // ZEP_TESTS_IMAGE_RLA_RLA_SUPPORT_H
