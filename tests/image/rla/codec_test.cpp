// The RLA sample coders: the worked encodings byte for byte, random planes
// in every stride, overrunning packets, and the per-channel coders with
// their pads and refusals (malformed records: crashers_test.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "image/rla/rla_internal.h"

namespace {

using namespace zep::rla;
using Bytes = std::vector<uint8_t>;

Bytes encode(const Bytes &plane)
{
    Bytes out(plane_bound(plane.size()) + 1, 0xEE);
    const size_t n = encode_plane(plane.data(), 1, plane.size(), out.data());
    EXPECT_LE(n, plane_bound(plane.size()));
    EXPECT_EQ(out[n], 0xEE) << "wrote past its result";
    out.resize(n);
    return out;
}

Bytes counting(size_t n, uint8_t from)
{
    Bytes b(n);
    std::iota(b.begin(), b.end(), from);
    return b;
}

Bytes join(Bytes a, const Bytes &b) { return a.insert(a.end(), b.begin(), b.end()), a; }

TEST(RlaPlane, EncodesTheWorkedExamplesExactly)
{
    const std::pair<Bytes, Bytes> cases[] = {
        {{}, {}},
        {Bytes(5, 7), {0x04, 0x07}},
        {{1, 2, 3}, {0xFD, 1, 2, 3}},
        {{1, 1, 2}, {0xFD, 1, 1, 2}}, // a run of 2 stays literal
        {{9, 5, 5, 5}, {0xFF, 9, 0x02, 5}},
        {{3, 3, 3, 4, 4}, {0x02, 3, 0xFE, 4, 4}},
        {{42}, {0xFF, 42}},
        {{1, 2, 6, 6, 6}, {0xFE, 1, 2, 0x02, 6}},
        {Bytes(300, 9), {0x7F, 9, 0x7F, 9, 0x2B, 9}},
        {Bytes(128, 1), {0x7F, 1}},
        {Bytes(129, 1), {0x7F, 1, 0x00, 1}},
        {counting(130, 0), join(join({0x80}, counting(128, 0)), {0xFE, 128, 129})},
        {counting(128, 10), join({0x80}, counting(128, 10))},
        {{1, 2, 7, 7, 7, 7, 3}, {0xFE, 1, 2, 0x03, 7, 0xFF, 3}},
    };
    for (const auto &[plane, expected] : cases)
        EXPECT_EQ(encode(plane), expected) << "plane of " << plane.size();

    // A 16-bit sample is two planes, the high one first.
    Encoder e = nullptr;
    bool refused = true;
    ASSERT_TRUE(choose_encoder(ZEP_C_INTEGER, 16, &e, &refused));
    const uint16_t line[1] = {0x1234};
    uint8_t out[16];
    ASSERT_EQ(e(line, 0, 1, out), 4);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xFF, 0x12, 0xFF, 0x34}));
}

TEST(RlaPlane, RandomPlanesRoundTripInEveryStride)
{
    std::mt19937 rng(20240607);
    for (size_t n = 0; n <= 700; n += (n < 300 ? 1 : 37)) {
        Bytes first; // the bytes of stride 1: every stride encodes alike
        // Long and short runs and noise: every packet kind and 128-byte splits.
        Bytes plane;
        while (plane.size() < n) {
            const unsigned kind = rng() % 4;
            const size_t len = kind == 0 ? 1 + rng() % 300 : 1 + rng() % 4;
            const auto v = uint8_t(rng() % (kind == 3 ? 3 : 256));
            for (size_t k = 0; k < len && plane.size() < n; ++k)
                plane.push_back(kind == 1 ? uint8_t(rng()) : v);
        }
        for (size_t stride : {1, 2, 3, 4}) { // 3: the byte-by-byte path
            Bytes spread(n * stride + 1, 0x5A);
            for (size_t i = 0; i < n; ++i)
                spread[i * stride] = plane[i];
            Bytes enc(plane_bound(n));
            const size_t len = encode_plane(spread.data(), stride, n, enc.data());
            ASSERT_LE(len, plane_bound(n));
            enc.resize(len);
            if (stride == 1) first = enc;
            ASSERT_EQ(enc, first) << "n=" << n << " stride=" << stride;
            Bytes back(n * stride + 1, 0xA5);
            ASSERT_EQ(decode_plane(enc.data(), enc.size(), back.data(), stride, n), long(len))
                << n << "/" << stride;
            for (size_t i = 0; i < back.size(); ++i)
                ASSERT_EQ(back[i], i % stride == 0 && i / stride < n ? plane[i / stride] : 0xA5)
                    << n << "/" << stride;
        }
    }
    for (size_t n : {1, 127, 128, 129, 256, 1000}) { // no equal neighbours: the bound exactly
        Bytes plane(n);
        for (size_t i = 0; i < n; ++i)
            plane[i] = uint8_t(i % 2 ? i : ~i);
        EXPECT_EQ(encode(plane).size(), plane_bound(n)) << n;
    }
}

TEST(RlaPlane, PacketsThatOverrunFail)
{
    struct Case {
        Bytes in;
        size_t count;
        long result;
    } const cases[] = {
        {{0xFD, 1, 2, 3}, 2, -1}, {{0x02, 7}, 2, -1}, // literal, run longer than the plane
        {{0xFD, 1, 2}, 3, -1},    {{0x02}, 3, -1},    // literal past the payload, run without its byte
        {{}, 1, -1},              {{0x00, 5}, 2, -1}, // second packet missing
        {{0x7F, 1}, 0, 0},        {{0x01, 5, 0xFF}, 2, 2}, // exact plane, bytes left
    };
    for (const Case &c : cases) {
        Bytes out(c.count + 1, 0);
        EXPECT_EQ(decode_plane(c.in.data(), c.in.size(), out.data(), 1, c.count), c.result)
            << c.in.size();
        EXPECT_EQ(out[c.count], 0) << "wrote past the plane";
    }
}

// ---- Per-channel coders -----------------------------------------------------

TEST(RlaCoders, ChoiceByTypeAndBits)
{
    struct Case {
        int type, bits;
        bool ok, width_refused;
        size_t sample; // bytes of a sample in a line
    } const cases[] = {
        // clang-format off
        {ZEP_C_INTEGER, 1, true, false, 1}, {ZEP_C_INTEGER, 8, true, false, 1},
        {ZEP_C_INTEGER, 9, true, false, 2}, {ZEP_C_INTEGER, 16, true, false, 2},
        {ZEP_C_INTEGER, 17, true, false, 4}, {ZEP_C_INTEGER, 32, true, false, 4},
        {ZEP_C_INTEGER, 33, false, true, 0}, {ZEP_C_INTEGER, 64, false, true, 0},
        {ZEP_C_FLOAT, 32, true, false, 4}, {ZEP_C_FLOAT, 7, true, false, 4},
        {ZEP_C_DOUBLE, 64, true, false, 8}, {0, 8, false, false, 0},
        {4, 8, false, false, 0}, {-1, 8, false, false, 0},
    }; // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.bits));
        Encoder e = nullptr;
        Decoder d = nullptr;
        Clear cl = nullptr;
        bool we = !c.width_refused, wd = !c.width_refused;
        EXPECT_EQ(choose_encoder(c.type, c.bits, &e, &we), c.ok);
        EXPECT_EQ(choose_decoder(c.type, c.bits, &d, &cl, &wd), c.ok);
        EXPECT_TRUE(we == c.width_refused && wd == c.width_refused);
        if (!c.ok) continue;
        Bytes line(5 * c.sample + 1, 0xFF); // the clear zeroes exactly 5 samples
        cl(line.data(), 5);
        for (size_t i = 0; i < line.size(); ++i)
            ASSERT_EQ(line[i], i < 5 * c.sample ? 0 : 0xFF);
    }
}

// Encodes the active part of a window-width line and decodes it into a line
// of garbage: the pads come back zero, the active part as it was.
template <typename T>
void round_trip_line(int type, int bits, const std::vector<T> &line, int left, int right)
{
    Encoder enc = nullptr;
    Decoder dec = nullptr;
    Clear clear = nullptr;
    bool refused = false;
    ASSERT_TRUE(choose_encoder(type, bits, &enc, &refused) &&
                choose_decoder(type, bits, &dec, &clear, &refused));
    const int active = int(line.size()) - left - right;
    Bytes payload(8 * plane_bound(line.size()) + 8);
    const int n = enc(line.data(), left, active, payload.data());
    std::vector<T> back(line.size() + 1);
    std::memset(back.data(), 0xCD, back.size() * sizeof(T));
    const T guard = back.back();
    ASSERT_EQ(dec(payload.data(), n, back.data(), active, left, right), int(line.size()));
    for (size_t i = 0; i <= line.size(); ++i) {
        const T want = i == line.size()                                      ? guard
                       : int(i) < left || int(i) >= int(line.size()) - right ? T{0}
                                                                             : line[i];
        ASSERT_EQ(std::memcmp(&back[i], &want, sizeof(T)), 0) << "bits " << bits << " pixel " << i;
    }
}

TEST(RlaCoders, EveryKindRoundTripsWithPads)
{
    std::mt19937 rng(7);
    for (int width : {1, 2, 130, 400})
        for (int left : {0, 3}) {
            const int right = width > 10 ? 5 : 0;
            const size_t total = size_t(width + left + right);
            std::vector<uint8_t> b8(total);
            std::vector<uint16_t> b16(total);
            std::vector<uint32_t> b32(total);
            std::vector<float> f(total);
            std::vector<double> d(total);
            for (size_t i = 0; i < total; ++i) {
                const uint32_t r = (i / 7) % 3 ? 0x01020304u * uint32_t(i / 50) : uint32_t(rng());
                b8[i] = uint8_t(r), b16[i] = uint16_t(r), b32[i] = r, f[i] = float(r) * 0.25f,
                d[i] = r / 3.0;
            }
            round_trip_line(ZEP_C_INTEGER, 8, b8, left, right);
            round_trip_line(ZEP_C_INTEGER, 16, b16, left, right);
            round_trip_line(ZEP_C_INTEGER, 32, b32, left, right);
            round_trip_line(ZEP_C_FLOAT, 32, f, left, right);
            round_trip_line(ZEP_C_DOUBLE, 64, d, left, right);
        }
}

} // namespace
