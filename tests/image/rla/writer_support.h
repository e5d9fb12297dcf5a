// Shared by the RLA writer and round-trip tests, on top of the image
// tests' common fixture: channel tables, file and big-endian field readers,
// and lines of samples that mix runs and noise for any channel group.
#ifndef ZEP_TESTS_IMAGE_RLA_WRITER_SUPPORT_H
#define ZEP_TESTS_IMAGE_RLA_WRITER_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "image/core/image_support.h"

namespace rla_test {

using namespace zt;
using Bytes = std::vector<uint8_t>;

// Bytes of one sample of a group, worked out independently of the library.
inline size_t sample_bytes(const Group &g)
{
    if (g.type == ZEP_C_DOUBLE) return 8;
    if (g.type == ZEP_C_FLOAT) return 4;
    return g.width <= 8 ? 1 : g.width <= 16 ? 2 : 4;
}

// A channel table for `pixels` samples per channel of d, freed with it.
struct Chan {
    void **table = nullptr;
    Chan(ZEP_IMAGE_DESC &d, int pixels) { table = ZEP_chan_alloc(&d, pixels, "test", nullptr); }
    ~Chan() { ZEP_chan_free(table); }
    Chan(const Chan &) = delete;
    Chan &operator=(const Chan &) = delete;
};

inline Bytes file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string &path, const Bytes &b)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

inline int be16(const Bytes &b, size_t at)
{
    return int16_t(uint16_t(b.at(at) << 8 | b.at(at + 1)));
}
inline int64_t be32(const Bytes &b, size_t at)
{
    return int32_t(uint32_t(b.at(at)) << 24 | uint32_t(b.at(at + 1)) << 16 |
                   uint32_t(b.at(at + 2)) << 8 | uint32_t(b.at(at + 3)));
}

// The text of a field, and whether every byte behind it is NUL.
inline std::string text_at(const Bytes &b, size_t at, size_t size, bool *nul_filled = nullptr)
{
    std::string s;
    size_t i = 0;
    while (i < size && b.at(at + i) != 0)
        s.push_back(char(b[at + i++]));
    bool zero = true;
    for (; i < size; ++i)
        zero = zero && b.at(at + i) == 0;
    if (nul_filled) *nul_filled = zero;
    return s;
}

// LibTest with KV_IMG_DIR unset too; path() names a file in the test's
// own folder.
class FolderTest : public LibTest {
  protected:
    void SetUp() override
    {
        unsetenv("KV_IMG_DIR");
        LibTest::SetUp();
    }
    void TearDown() override
    {
        unsetenv("KV_IMG_DIR");
        LibTest::TearDown();
    }
    std::string path(const std::string &name) const { return file(name); }
};

// Sample x of channel k of line y: stretches of equal values between
// stretches of noise, so that lines hold runs and literals.
inline uint32_t sample_value(int y, int k, int x, int salt)
{
    if ((x / 6 + y) % 3 != 0) return uint32_t(y * 977 + k * 131 + (x / 6) * 7 + salt) * 0x01010101u;
    uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(k + salt) * 97u;
    h ^= h >> 13;
    return h * 0x5bd1e995u;
}

// Fills channel k (a group of `type` and `bits`) with line y's samples
// across `width` pixels; integer samples keep their low `bits` bits.
inline void fill_channel(void *line, int type, int bits, int width, int y, int k, int salt = 0)
{
    // Rows of a channel table need not be aligned for their samples.
    auto *p = static_cast<uint8_t *>(line);
    const auto put = [&p](auto sample) {
        std::memcpy(p, &sample, sizeof sample);
        p += sizeof sample;
    };
    for (int x = 0; x < width; ++x) {
        const uint32_t v = sample_value(y, k, x, salt);
        const uint32_t m = bits >= 32 || bits < 1 ? v : v & ((1u << bits) - 1);
        if (type == ZEP_C_FLOAT)
            put(float(v % 100000) / 7.0f);
        else if (type == ZEP_C_DOUBLE)
            put(double(v) / 3.0);
        else if (bits <= 8)
            put(uint8_t(m));
        else if (bits <= 16)
            put(uint16_t(m));
        else
            put(m);
    }
}

// Fills every channel of a table laid out for d (colour, matte, auxiliary).
inline void fill_table(void **table, const ZEP_IMAGE_DESC &d, int width, int y, int salt = 0)
{
    int k = 0;
    for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux})
        for (int c = 0; c < g->count; ++c, ++k)
            fill_channel(table[k], g->type, g->width, width, y, k, salt);
}

} // namespace rla_test

#endif // ZEP_TESTS_IMAGE_RLA_WRITER_SUPPORT_H
