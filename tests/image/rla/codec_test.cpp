// The RLA sample coders: the worked encodings of the format byte for byte,
// encode/decode round trips of random planes (runs, literals, packets split
// at 128) in every stride, the canonical shape of what the encoder emits,
// packets that overrun the plane or the payload, and the per-channel coders
// with their pads, lengths and refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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

Bytes repeat(size_t n, uint8_t v) { return Bytes(n, v); }

Bytes counting(size_t n, uint8_t from)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(from + i);
    return b;
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(RlaPlane, EncodesTheWorkedExamplesExactly)
{
    struct Case {
        const char *what;
        Bytes plane;
        Bytes expected;
    };
    const Case cases[] = {
        {"empty plane", {}, {}},
        {"run of 5", repeat(5, 7), {0x04, 0x07}},
        {"three distinct", {1, 2, 3}, {0xFD, 1, 2, 3}},
        {"a run of 2 stays literal", {1, 1, 2}, {0xFD, 1, 1, 2}},
        {"literal then run", {9, 5, 5, 5}, {0xFF, 9, 0x02, 5}},
        {"run then short tail", {3, 3, 3, 4, 4}, {0x02, 3, 0xFE, 4, 4}},
        {"single byte", {42}, {0xFF, 42}},
        {"run of exactly 3 at the end", {1, 2, 6, 6, 6}, {0xFE, 1, 2, 0x02, 6}},
        {"run of 300", repeat(300, 9), {0x7F, 9, 0x7F, 9, 0x2B, 9}},
        {"run of 128", repeat(128, 1), {0x7F, 1}},
        {"run of 129", repeat(129, 1), {0x7F, 1, 0x00, 1}},
        {"130 distinct", counting(130, 0), join({{0x80}, counting(128, 0), {0xFE, 128, 129}})},
        {"128 distinct", counting(128, 10), join({{0x80}, counting(128, 10)})},
        {"literal, run, literal", {1, 2, 7, 7, 7, 7, 3}, {0xFE, 1, 2, 0x03, 7, 0xFF, 3}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(encode(c.plane), c.expected) << c.what;
}

TEST(RlaPlane, SixteenBitSampleIsTwoPlanesHighFirst)
{
    Encoder e = nullptr;
    bool width_refused = true;
    ASSERT_TRUE(choose_encoder(ZEP_C_INTEGER, 16, &e, &width_refused));
    const uint16_t line[1] = {0x1234};
    uint8_t out[16];
    ASSERT_EQ(e(line, 0, 1, out), 4);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xFF, 0x12, 0xFF, 0x34}));
}

// A plane with long and short runs and noise, so that every packet kind and
// the 128-byte splits all occur.
Bytes random_plane(std::mt19937 &rng, size_t n)
{
    Bytes b;
    while (b.size() < n) {
        const unsigned kind = rng() % 4;
        const size_t len = kind == 0 ? 1 + rng() % 300 : 1 + rng() % 4;
        const uint8_t v = static_cast<uint8_t>(rng() % (kind == 3 ? 3 : 256));
        for (size_t k = 0; k < len && b.size() < n; ++k)
            b.push_back(kind == 1 ? static_cast<uint8_t>(rng()) : v);
    }
    return b;
}

// What the encoding procedure guarantees about its output: a literal
// stretch (consecutive literal packets) holds no three equal bytes in a row
// and is full (128) in every packet but its last; a run follows a literal
// only with a different value; two runs of one value follow each other
// only when the first is a full 128. Returns "" or the first violation.
std::string canonical(const Bytes &e)
{
    size_t i = 0;
    int last_run = -1;      // value of the packet before, when it was a run
    bool last_full = false; // that run, or literal packet, held 128
    int last_literal = -1;  // last byte of the literal packet before, if one
    bool in_literal = false;
    Bytes stretch;
    while (i < e.size()) {
        const auto c = static_cast<int8_t>(e[i]);
        if (c < 0) {
            const size_t len = size_t(-c);
            if (in_literal && !last_full) return "literal packet after a short one";
            if (!in_literal) stretch.clear();
            stretch.insert(stretch.end(), e.begin() + long(i) + 1, e.begin() + long(i + 1 + len));
            for (size_t k = 2; k < stretch.size(); ++k)
                if (stretch[k] == stretch[k - 1] && stretch[k] == stretch[k - 2])
                    return "three equal bytes left in a literal";
            last_literal = e[i + len];
            last_full = len == 128;
            in_literal = true;
            last_run = -1;
            i += 1 + len;
        } else {
            const int v = e[i + 1];
            if (in_literal && last_literal == v) return "literal ends with the run's value";
            if (last_run == v && !last_full) return "two runs of one value";
            last_run = v;
            last_full = c == 127;
            in_literal = false;
            i += 2;
        }
    }
    return "";
}

TEST(RlaPlane, RandomPlanesRoundTripInEveryStride)
{
    std::mt19937 rng(20240607);
    for (size_t n = 0; n <= 700; n += (n < 300 ? 1 : 37)) {
        const Bytes plane = random_plane(rng, n);
        for (size_t stride : {1, 2, 4}) {
            // The plane spread over every stride-th byte of a sample array.
            Bytes spread(n * stride + 1, 0x5A);
            for (size_t i = 0; i < n; ++i)
                spread[i * stride] = plane[i];
            Bytes enc(plane_bound(n));
            const size_t len = encode_plane(spread.data(), stride, n, enc.data());
            ASSERT_LE(len, plane_bound(n));
            enc.resize(len);
            if (stride == 1) {
                ASSERT_EQ(canonical(enc), "") << "n=" << n;
            }

            Bytes back(n * stride + 1, 0xA5);
            ASSERT_EQ(decode_plane(enc.data(), enc.size(), back.data(), stride, n), long(len))
                << "n=" << n << " stride=" << stride;
            for (size_t i = 0; i < n * stride + 1; ++i) {
                const uint8_t want = (i % stride == 0 && i / stride < n) ? plane[i / stride] : 0xA5;
                ASSERT_EQ(back[i], want) << "n=" << n << " stride=" << stride << " byte " << i;
            }
        }
    }
}

TEST(RlaPlane, WorstCaseFillsTheBoundExactly)
{
    for (size_t n : {1, 127, 128, 129, 256, 1000}) {
        Bytes plane(n);
        for (size_t i = 0; i < n; ++i)
            plane[i] = static_cast<uint8_t>(i % 2 ? i : ~i); // no equal neighbours
        EXPECT_EQ(encode(plane).size(), plane_bound(n)) << n;
    }
}

TEST(RlaPlane, PacketsThatOverrunFail)
{
    struct Case {
        const char *what;
        Bytes in;
        size_t count;
        long result;
    };
    const Case cases[] = {
        {"literal longer than the plane", {0xFD, 1, 2, 3}, 2, -1},
        {"run longer than the plane", {0x02, 7}, 2, -1},
        {"literal past the payload", {0xFD, 1, 2}, 3, -1},
        {"run without its byte", {0x02}, 3, -1},
        {"no packet at all", {}, 1, -1},
        {"second packet missing", {0x00, 5}, 2, -1},
        {"empty plane reads nothing", {0x7F, 1}, 0, 0},
        {"exact plane, bytes left", {0x01, 5, 0xFF}, 2, 2},
    };
    for (const Case &c : cases) {
        Bytes out(c.count + 1, 0);
        EXPECT_EQ(decode_plane(c.in.data(), c.in.size(), out.data(), 1, c.count), c.result)
            << c.what;
        EXPECT_EQ(out[c.count], 0) << c.what << ": wrote past the plane";
    }
}

// ---- Per-channel coders -----------------------------------------------------

struct Coder {
    Encoder encode;
    Decoder decode;
    Clear clear;
};

Coder coder(int type, int bits)
{
    Coder c{};
    bool refused = false;
    EXPECT_TRUE(choose_encoder(type, bits, &c.encode, &refused)) << type << "/" << bits;
    EXPECT_TRUE(choose_decoder(type, bits, &c.decode, &c.clear, &refused)) << type << "/" << bits;
    return c;
}

TEST(RlaCoders, ChoiceByTypeAndBits)
{
    struct Case {
        int type, bits;
        bool ok, width_refused;
        size_t sample; // bytes of a sample in a line
    };
    const Case cases[] = {
        {ZEP_C_INTEGER, 1, true, false, 1},
        {ZEP_C_INTEGER, 8, true, false, 1},
        {ZEP_C_INTEGER, 9, true, false, 2},
        {ZEP_C_INTEGER, 16, true, false, 2},
        {ZEP_C_INTEGER, 17, true, false, 4},
        {ZEP_C_INTEGER, 32, true, false, 4},
        {ZEP_C_INTEGER, 33, false, true, 0},
        {ZEP_C_INTEGER, 64, false, true, 0},
        {ZEP_C_FLOAT, 32, true, false, 4},
        {ZEP_C_FLOAT, 7, true, false, 4},
        {ZEP_C_DOUBLE, 64, true, false, 8},
        {0, 8, false, false, 0},
        {4, 8, false, false, 0},
        {-1, 8, false, false, 0},
    };
    for (const Case &c : cases) {
        Encoder e = nullptr;
        Decoder d = nullptr;
        Clear cl = nullptr;
        bool we = !c.width_refused, wd = !c.width_refused;
        EXPECT_EQ(choose_encoder(c.type, c.bits, &e, &we), c.ok) << c.type << "/" << c.bits;
        EXPECT_EQ(choose_decoder(c.type, c.bits, &d, &cl, &wd), c.ok) << c.type << "/" << c.bits;
        EXPECT_EQ(we, c.width_refused) << c.type << "/" << c.bits;
        EXPECT_EQ(wd, c.width_refused) << c.type << "/" << c.bits;
        if (!c.ok) continue;
        // The clear function zeroes exactly `width` samples of this size.
        Bytes line(5 * c.sample + 1, 0xFF);
        cl(line.data(), 5);
        for (size_t i = 0; i < line.size(); ++i)
            ASSERT_EQ(line[i], i < 5 * c.sample ? 0 : 0xFF) << c.type << "/" << c.bits;
    }
}

// Encodes the active part of a window-width line and decodes it into a
// line of garbage: the pads come back zero, the active part as it was.
template <typename T>
void round_trip_line(int type, int bits, const std::vector<T> &line, int left, int right)
{
    const Coder c = coder(type, bits);
    const int active = int(line.size()) - left - right;
    Bytes payload(8 * plane_bound(line.size()) + 8);
    const int n = c.encode(line.data(), left, active, payload.data());
    std::vector<T> back(line.size() + 1);
    std::memset(back.data(), 0xCD, back.size() * sizeof(T));
    const T guard = back.back();
    ASSERT_EQ(c.decode(payload.data(), n, back.data(), active, left, right), int(line.size()));
    for (size_t i = 0; i < line.size(); ++i) {
        const bool pad = int(i) < left || int(i) >= int(line.size()) - right;
        const T want = pad ? T{0} : line[i];
        ASSERT_EQ(std::memcmp(&back[i], &want, sizeof(T)), 0) << "bits " << bits << " pixel " << i;
    }
    EXPECT_EQ(std::memcmp(&back.back(), &guard, sizeof(T)), 0) << "wrote past the window";
}

TEST(RlaCoders, EveryKindRoundTripsWithPads)
{
    std::mt19937 rng(7);
    for (int width : {1, 2, 130, 400}) {
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
                b8[i] = uint8_t(r);
                b16[i] = uint16_t(r);
                b32[i] = r;
                f[i] = float(r) * 0.25f;
                d[i] = double(r) / 3.0;
            }
            round_trip_line(ZEP_C_INTEGER, 8, b8, left, right);
            round_trip_line(ZEP_C_INTEGER, 16, b16, left, right);
            round_trip_line(ZEP_C_INTEGER, 32, b32, left, right);
            round_trip_line(ZEP_C_FLOAT, 32, f, left, right);
            round_trip_line(ZEP_C_DOUBLE, 64, d, left, right);
        }
    }
}

TEST(RlaCoders, MalformedPayloadsDecodeToNothing)
{
    struct Case {
        const char *what;
        int type, bits;
        Bytes payload;
        int active;
    };
    const Case cases[] = {
        {"8-bit payload with a byte left over", ZEP_C_INTEGER, 8, {0x01, 5, 0x00}, 2},
        {"8-bit payload one byte short", ZEP_C_INTEGER, 8, {0xFE, 5}, 2},
        {"16-bit payload missing its low plane", ZEP_C_INTEGER, 16, {0x01, 5}, 2},
        {"32-bit plane overrunning the line",
         ZEP_C_INTEGER,
         32,
         {0x02, 1, 0x01, 2, 0x01, 3, 0x01, 4},
         2},
        {"float payload one byte short", ZEP_C_FLOAT, 32, Bytes(7, 0), 2},
        {"float payload one byte long", ZEP_C_FLOAT, 32, Bytes(9, 0), 2},
        {"double payload of a float", ZEP_C_DOUBLE, 64, Bytes(8, 0), 2},
    };
    for (const Case &c : cases) {
        const Coder k = coder(c.type, c.bits);
        uint8_t line[64];
        EXPECT_EQ(k.decode(c.payload.data(), int(c.payload.size()), line, c.active, 1, 1), 0)
            << c.what;
    }
}

} // namespace
