/*
 * The RLA sample coders: run-length byte planes, and the per-channel
 * encoders, decoders and line clearers built on them.
 *
 * A plane is a sequence of packets, each led by a signed count byte c:
 * c < 0 copies the next -c bytes, c >= 0 repeats the next byte c + 1 times.
 * Integer channels of 1 to 8, 9 to 16 and 17 to 32 bits are cut into 1, 2
 * or 4 planes, most significant byte first; one template serves the three
 * sample sizes. Float and double channels go out raw, in memory order; one
 * template serves both.
 */
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <zep/curves.h>

#include "image/rla/rla_internal.h"

namespace zep::rla {
namespace {

constexpr size_t kPacketMax = 128;

// Emits count bytes taken every stride bytes from p as literal packets.
uint8_t *put_literal(const uint8_t *p, size_t stride, size_t count, uint8_t *out)
{
    while (count > 0) {
        const size_t n = std::min(count, kPacketMax);
        *out++ = static_cast<uint8_t>(256 - n); // -n as a signed byte
        if (stride == 1) {
            std::memcpy(out, p, n);
            out += n;
            p += n;
        } else {
            for (size_t k = 0; k < n; ++k, p += stride)
                *out++ = *p;
        }
        count -= n;
    }
    return out;
}

// Emits a run of count copies of value.
uint8_t *put_run(uint8_t value, size_t count, uint8_t *out)
{
    while (count > 0) {
        const size_t n = std::min(count, kPacketMax);
        *out++ = static_cast<uint8_t>(n - 1);
        *out++ = value;
        count -= n;
    }
    return out;
}

// The memory offset, within a sample of type T, of byte plane k
// (0 = the most significant byte).
template <typename T> constexpr size_t plane_offset(size_t k)
{
    return std::endian::native == std::endian::little ? sizeof(T) - 1 - k : k;
}

// Integer samples of type T as sizeof(T) planes, most significant first.
template <typename T>
int encode_integer(const void *line, int left_pad, int active_width, uint8_t *out)
{
    const auto *bytes = static_cast<const uint8_t *>(line) + size_t(left_pad) * sizeof(T);
    size_t n = 0;
    for (size_t k = 0; k < sizeof(T); ++k)
        n += encode_plane(bytes + plane_offset<T>(k), sizeof(T), size_t(active_width), out + n);
    return static_cast<int>(n);
}

// The payload must describe exactly active_width samples in every plane; a
// one-plane payload must moreover be used up entirely.
template <typename T>
int decode_integer(const uint8_t *payload, int n, void *line, int active_width, int left_pad,
                   int right_pad)
{
    if (n < 0 || active_width < 0 || left_pad < 0 || right_pad < 0) return 0;
    // Lines need not be aligned for T: they are handled as bytes.
    auto *bytes = static_cast<uint8_t *>(line);
    std::memset(bytes, 0, size_t(left_pad) * sizeof(T));
    bytes += size_t(left_pad) * sizeof(T);
    size_t used = 0;
    for (size_t k = 0; k < sizeof(T); ++k) {
        const long got = decode_plane(payload + used, size_t(n) - used, bytes + plane_offset<T>(k),
                                      sizeof(T), size_t(active_width));
        if (got < 0) return 0;
        used += size_t(got);
    }
    if (sizeof(T) == 1 && used != size_t(n)) return 0;
    std::memset(bytes + size_t(active_width) * sizeof(T), 0, size_t(right_pad) * sizeof(T));
    return left_pad + active_width + right_pad;
}

// Raw samples of type T, in memory order.
template <typename T> int encode_raw(const void *line, int left_pad, int active_width, uint8_t *out)
{
    const size_t n = size_t(active_width) * sizeof(T);
    std::memcpy(out, static_cast<const uint8_t *>(line) + size_t(left_pad) * sizeof(T), n);
    return static_cast<int>(n);
}

// The payload must hold exactly active_width samples.
template <typename T>
int decode_raw(const uint8_t *payload, int n, void *line, int active_width, int left_pad,
               int right_pad)
{
    if (n < 0 || active_width < 0 || left_pad < 0 || right_pad < 0) return 0;
    if (size_t(n) != size_t(active_width) * sizeof(T)) return 0;
    auto *bytes = static_cast<uint8_t *>(line);
    std::memset(bytes, 0, size_t(left_pad) * sizeof(T));
    bytes += size_t(left_pad) * sizeof(T);
    std::memcpy(bytes, payload, size_t(n));
    std::memset(bytes + n, 0, size_t(right_pad) * sizeof(T));
    return left_pad + active_width + right_pad;
}

// Zeroes width samples of sizeof(T) bytes.
template <typename T> void clear_line(void *line, int width)
{
    if (width > 0) std::memset(line, 0, size_t(width) * sizeof(T));
}

// The coders of one channel group, or none.
struct Coders {
    Encoder encode;
    Decoder decode;
    Clear clear;
};

template <typename T> constexpr Coders integer_coders()
{
    return {encode_integer<T>, decode_integer<T>, clear_line<T>};
}
template <typename T> constexpr Coders raw_coders()
{
    return {encode_raw<T>, decode_raw<T>, clear_line<T>};
}

// False when type or bits cannot be handled; *width_refused tells which.
bool coders_for(int type, int bits, Coders *c, bool *width_refused)
{
    *width_refused = false;
    switch (type) {
    case ZEP_C_INTEGER:
        if (bits <= 8)
            *c = integer_coders<uint8_t>();
        else if (bits <= 16)
            *c = integer_coders<uint16_t>();
        else if (bits <= 32)
            *c = integer_coders<uint32_t>();
        else {
            *width_refused = true;
            return false;
        }
        return true;
    case ZEP_C_FLOAT:
        *c = raw_coders<float>();
        return true;
    case ZEP_C_DOUBLE:
        *c = raw_coders<double>();
        return true;
    default:
        return false;
    }
}

} // namespace

namespace {

// A plane longer than this is coded in place, byte by byte at its stride;
// a shorter one is gathered into (or decoded through) a contiguous buffer
// of this size on the stack. Planes of an RLA line are at most 32768 bytes.
constexpr size_t kScratch = 32768;

constexpr uint64_t kOnes = 0x0101010101010101u;
constexpr uint64_t kHighs = 0x8080808080808080u;

uint64_t load8(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Index (0..7, in memory order) of the first zero byte of x, or 8.
size_t first_zero_byte(uint64_t x)
{
    const uint64_t t = (x - kOnes) & ~x & kHighs;
    if (t == 0) return 8;
    if constexpr (std::endian::native == std::endian::little)
        return size_t(std::countr_zero(t)) / 8;
    else
        return size_t(std::countl_zero(t)) / 8;
}

// The first i >= from where p[i] == p[i+1] == p[i+2], or count.
size_t find_triple(const uint8_t *p, size_t from, size_t count)
{
    size_t i = from;
    for (; i + 10 <= count; i += 8) {
        const uint64_t a = load8(p + i);
        const size_t k = first_zero_byte((a ^ load8(p + i + 1)) | (a ^ load8(p + i + 2)));
        if (k < 8) return i + k;
    }
    for (; i + 2 < count; ++i)
        if (p[i] == p[i + 1] && p[i] == p[i + 2]) return i;
    return count;
}

// The end of the run of p[from]'s value that starts at from.
size_t run_end(const uint8_t *p, size_t from, size_t count)
{
    const uint8_t v = p[from];
    const uint64_t w = kOnes * v;
    size_t i = from + 1;
    for (; i + 8 <= count; i += 8) {
        const uint64_t x = load8(p + i) ^ w; // zero bytes where equal
        if (x != 0) {
            if constexpr (std::endian::native == std::endian::little)
                return i + size_t(std::countr_zero(x)) / 8;
            else
                return i + size_t(std::countl_zero(x)) / 8;
        }
    }
    while (i < count && p[i] == v)
        ++i;
    return i;
}

// The encoding procedure on a contiguous plane: every maximal run of three
// or more equal bytes becomes run packets, the bytes between them literal
// packets (the same bytes the byte-by-byte procedure gives).
size_t encode_contiguous(const uint8_t *src, size_t count, uint8_t *out)
{
    uint8_t *const start = out;
    size_t literal = 0;
    size_t i = find_triple(src, 0, count);
    while (i < count) {
        const size_t end = run_end(src, i, count);
        if (i > literal) out = put_literal(src + literal, 1, i - literal, out);
        if (end - i <= kPacketMax) {
            *out++ = static_cast<uint8_t>(end - i - 1);
            *out++ = src[i];
        } else {
            out = put_run(src[i], end - i, out);
        }
        literal = end;
        // Runs often follow each other directly.
        if (end + 2 < count && src[end] == src[end + 1] && src[end] == src[end + 2])
            i = end;
        else
            i = find_triple(src, end, count);
    }
    out = put_literal(src + literal, 1, count - literal, out);
    return size_t(out - start);
}

// The byte-by-byte procedure, for planes read at a stride.
size_t encode_strided(const uint8_t *src, size_t stride, size_t count, uint8_t *out)
{
    uint8_t *const start = out;
    size_t literal = 0; // start of the pending literal stretch
    size_t run = 0;     // start of the current run of equal bytes
    uint8_t value = count > 0 ? src[0] : 0;
    for (size_t i = 1; i < count; ++i) {
        const uint8_t b = src[i * stride];
        if (b == value) continue;
        if (i - run >= 3) {
            out = put_literal(src + literal * stride, stride, run - literal, out);
            out = put_run(value, i - run, out);
            literal = i;
        }
        run = i;
        value = b;
    }
    if (count - run >= 3) {
        out = put_literal(src + literal * stride, stride, run - literal, out);
        out = put_run(value, count - run, out);
    } else {
        out = put_literal(src + literal * stride, stride, count - literal, out);
    }
    return size_t(out - start);
}

// Decodes into a contiguous plane. Packets of up to 16 bytes are moved as
// 16 bytes when the plane (and, for literals, the input) has room: the
// bytes beyond the packet are overwritten by the packets that follow.
long decode_contiguous(const uint8_t *in, size_t n, uint8_t *dst, size_t count)
{
    size_t pos = 0;
    size_t done = 0;
    while (done < count) {
        if (pos >= n) return -1;
        const auto c = static_cast<int8_t>(in[pos++]);
        if (c < 0) {
            const size_t len = size_t(-int{c});
            if (len > count - done || len > n - pos) return -1;
            if (len <= 16 && count - done >= 16 && n - pos >= 16)
                std::memcpy(dst + done, in + pos, 16);
            else
                std::memcpy(dst + done, in + pos, len);
            pos += len;
            done += len;
        } else {
            const size_t len = size_t(c) + 1;
            if (len > count - done || pos >= n) return -1;
            const uint8_t v = in[pos++];
            if (len <= 16 && count - done >= 16)
                std::memset(dst + done, v, 16);
            else
                std::memset(dst + done, v, len);
            done += len;
        }
    }
    return static_cast<long>(pos);
}

// Copies every S-th byte of src into a contiguous plane (gather), and back
// (scatter: the other bytes of each sample are left as they are). Both move
// 16 samples per step; a step reads or writes S * 16 bytes from the first
// plane byte of its samples, so it runs only while a 17th sample follows and
// the bytes touched all lie within the samples (src and dst point at plane
// byte 0 of sample 0, not necessarily at the sample's first byte).
template <size_t S> size_t gather_fast(const uint8_t *, size_t, uint8_t *) { return 0; }
template <size_t S> size_t scatter_fast(const uint8_t *, size_t, uint8_t *) { return 0; }

#if defined(__SSE2__)
template <> size_t gather_fast<2>(const uint8_t *src, size_t count, uint8_t *plane)
{
    const __m128i low = _mm_set1_epi16(0x00FF);
    size_t i = 0;
    for (; i + 17 <= count; i += 16) {
        const uint8_t *p = src + 2 * i;
        const __m128i a = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), low);
        const __m128i b =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16)), low);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(plane + i), _mm_packus_epi16(a, b));
    }
    return i;
}

template <> size_t gather_fast<4>(const uint8_t *src, size_t count, uint8_t *plane)
{
    const __m128i low = _mm_set1_epi32(0x000000FF);
    size_t i = 0;
    for (; i + 17 <= count; i += 16) {
        const auto *p = reinterpret_cast<const __m128i *>(src + 4 * i);
        const __m128i a = _mm_and_si128(_mm_loadu_si128(p), low);
        const __m128i b = _mm_and_si128(_mm_loadu_si128(p + 1), low);
        const __m128i c = _mm_and_si128(_mm_loadu_si128(p + 2), low);
        const __m128i d = _mm_and_si128(_mm_loadu_si128(p + 3), low);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(plane + i),
                         _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d)));
    }
    return i;
}

template <> size_t scatter_fast<2>(const uint8_t *plane, size_t count, uint8_t *dst)
{
    const __m128i keep = _mm_set1_epi16(static_cast<short>(0xFF00));
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 17 <= count; i += 16) {
        auto *p = reinterpret_cast<__m128i *>(dst + 2 * i);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(plane + i));
        const __m128i a = _mm_and_si128(_mm_loadu_si128(p), keep);
        const __m128i b = _mm_and_si128(_mm_loadu_si128(p + 1), keep);
        _mm_storeu_si128(p, _mm_or_si128(a, _mm_unpacklo_epi8(v, zero)));
        _mm_storeu_si128(p + 1, _mm_or_si128(b, _mm_unpackhi_epi8(v, zero)));
    }
    return i;
}

template <> size_t scatter_fast<4>(const uint8_t *plane, size_t count, uint8_t *dst)
{
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFFFFFF00u));
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 17 <= count; i += 16) {
        auto *p = reinterpret_cast<__m128i *>(dst + 4 * i);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(plane + i));
        const __m128i lo = _mm_unpacklo_epi8(v, zero);
        const __m128i hi = _mm_unpackhi_epi8(v, zero);
        const __m128i w[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero),
                              _mm_unpacklo_epi16(hi, zero), _mm_unpackhi_epi16(hi, zero)};
        for (int k = 0; k < 4; ++k)
            _mm_storeu_si128(p + k, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(p + k), keep), w[k]));
    }
    return i;
}
#else
// Without SSE2: 8 samples of a 16-bit plane per step through 64-bit words.
template <> size_t gather_fast<2>(const uint8_t *src, size_t count, uint8_t *plane)
{
    if constexpr (std::endian::native != std::endian::little) return 0;
    size_t i = 0;
    for (; i + 9 <= count; i += 8) {
        uint64_t a, b;
        std::memcpy(&a, src + 2 * i, 8);
        std::memcpy(&b, src + 2 * i + 8, 8);
        uint64_t out = 0;
        for (int k = 0; k < 4; ++k) {
            out |= ((a >> (16 * k)) & 0xFF) << (8 * k);
            out |= ((b >> (16 * k)) & 0xFF) << (8 * k + 32);
        }
        std::memcpy(plane + i, &out, 8);
    }
    return i;
}
#endif

template <size_t S> void gather(const uint8_t *src, size_t count, uint8_t *plane)
{
    size_t i = gather_fast<S>(src, count, plane);
    for (; i + 8 <= count; i += 8)
        for (size_t k = 0; k < 8; ++k)
            plane[i + k] = src[(i + k) * S];
    for (; i < count; ++i)
        plane[i] = src[i * S];
}

template <size_t S> void scatter(const uint8_t *plane, size_t count, uint8_t *dst)
{
    size_t i = scatter_fast<S>(plane, count, dst);
    for (; i + 8 <= count; i += 8)
        for (size_t k = 0; k < 8; ++k)
            dst[(i + k) * S] = plane[i + k];
    for (; i < count; ++i)
        dst[i * S] = plane[i];
}

} // namespace

size_t encode_plane(const uint8_t *src, size_t stride, size_t count, uint8_t *out)
{
    if (stride == 1) return encode_contiguous(src, count, out);
    if (count > kScratch) return encode_strided(src, stride, count, out);
    uint8_t plane[kScratch];
    switch (stride) {
    case 2: gather<2>(src, count, plane); break;
    case 4: gather<4>(src, count, plane); break;
    case 8: gather<8>(src, count, plane); break;
    default: return encode_strided(src, stride, count, out);
    }
    return encode_contiguous(plane, count, out);
}

long decode_plane(const uint8_t *in, size_t n, uint8_t *dst, size_t stride, size_t count)
{
    if (stride == 1) return decode_contiguous(in, n, dst, count);
    if (count > kScratch) return -1; /* no plane of a valid file is this long */
    uint8_t plane[kScratch];
    const long used = decode_contiguous(in, n, plane, count);
    if (used < 0) return -1;
    switch (stride) {
    case 2: scatter<2>(plane, count, dst); break;
    case 4: scatter<4>(plane, count, dst); break;
    case 8: scatter<8>(plane, count, dst); break;
    default:
        for (size_t i = 0; i < count; ++i)
            dst[i * stride] = plane[i];
    }
    return used;
}

bool choose_decoder(int type, int bits, Decoder *d, Clear *c, bool *width_refused)
{
    Coders coders{};
    if (!coders_for(type, bits, &coders, width_refused)) return false;
    *d = coders.decode;
    *c = coders.clear;
    return true;
}

bool choose_encoder(int type, int bits, Encoder *e, bool *width_refused)
{
    Coders coders{};
    if (!coders_for(type, bits, &coders, width_refused)) return false;
    *e = coders.encode;
    return true;
}

} // namespace zep::rla
