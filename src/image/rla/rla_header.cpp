/*
 * The 740-byte RLA header: decoding it into a Header, encoding a Header
 * into it, and the acceptance test every reader applies.
 *
 * Every integer is big-endian and assembled byte by byte, so the code does
 * not depend on the host's byte order. The field table below is the whole
 * layout; decode and encode walk it in step, so they cannot disagree.
 */
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "image/rla/rla_internal.h"

namespace zep::rla {
namespace {

static_assert(std::is_standard_layout_v<Header>);

int16_t get16(const uint8_t *p) { return static_cast<int16_t>(get_be16(p)); }
int32_t get32(const uint8_t *p) { return static_cast<int32_t>(get_be32(p)); }
void put16(uint8_t *p, int v) { put_be16(p, static_cast<uint16_t>(v)); }
void put32(uint8_t *p, int32_t v) { put_be32(p, static_cast<uint32_t>(v)); }

// Copies the text of a field of `size` bytes: at most size - 1 characters up
// to the first NUL, the rest of dst NUL-filled. dst and src may both be a
// file field or a Header member; both hold `size` bytes.
void copy_text(char *dst, const char *src, size_t size)
{
    size_t n = 0;
    while (n + 1 < size && src[n] != '\0')
        ++n;
    std::memcpy(dst, src, n);
    std::memset(dst + n, 0, size - n);
}

// One field of the header: its offset in the file and where it lives in a
// Header. Texts carry their size; integers are 2 or 4 bytes.
enum class Kind { i16, u16, i32, text };
struct Field {
    size_t offset;
    Kind kind;
    size_t text_size;
    int16_t Header::*s16;
    uint16_t Header::*u16;
    int32_t Header::*s32;
    size_t text_member; // offsetof the char array in Header
};

constexpr Field i16(size_t at, int16_t Header::*m)
{
    return {at, Kind::i16, 0, m, nullptr, nullptr, 0};
}
constexpr Field u16(size_t at, uint16_t Header::*m)
{
    return {at, Kind::u16, 0, nullptr, m, nullptr, 0};
}
constexpr Field i32(size_t at, int32_t Header::*m)
{
    return {at, Kind::i32, 0, nullptr, nullptr, m, 0};
}
constexpr Field txt(size_t at, size_t size, size_t member)
{
    return {at, Kind::text, size, nullptr, nullptr, nullptr, member};
}

#define ZEP_RLA_TEXT(at, m) txt(at, sizeof(Header::m), offsetof(Header, m))

// clang-format off
const Field kFields[] = {
    i16(0, &Header::window_left),   i16(2, &Header::window_right),
    i16(4, &Header::window_bottom), i16(6, &Header::window_top),
    i16(8, &Header::active_left),   i16(10, &Header::active_right),
    i16(12, &Header::active_bottom), i16(14, &Header::active_top),
    i16(16, &Header::frame),        i16(18, &Header::storage_type),
    i16(20, &Header::colour_count), i16(22, &Header::matte_count),
    i16(24, &Header::aux_count),    u16(26, &Header::revision),
    ZEP_RLA_TEXT(28, gamma),
    ZEP_RLA_TEXT(44, red),          ZEP_RLA_TEXT(68, green),
    ZEP_RLA_TEXT(92, blue),         ZEP_RLA_TEXT(116, white),
    i32(140, &Header::job_num),
    ZEP_RLA_TEXT(144, name),        ZEP_RLA_TEXT(272, desc),
    ZEP_RLA_TEXT(400, program),     ZEP_RLA_TEXT(464, machine),
    ZEP_RLA_TEXT(496, user),        ZEP_RLA_TEXT(528, date),
    ZEP_RLA_TEXT(548, aspect_name), ZEP_RLA_TEXT(572, aspect_ratio),
    ZEP_RLA_TEXT(580, chan_format),
    i16(612, &Header::field),
    ZEP_RLA_TEXT(614, time),        ZEP_RLA_TEXT(626, filter),
    i16(658, &Header::colour_bits), i16(660, &Header::matte_type),
    i16(662, &Header::matte_bits),  i16(664, &Header::aux_type),
    i16(666, &Header::aux_bits),
    ZEP_RLA_TEXT(668, aux_format),
    /* 700..735 reserved, zero */
    i32(736, &Header::next_header),
};
// clang-format on

#undef ZEP_RLA_TEXT

char *text_of(Header &h, const Field &f) { return reinterpret_cast<char *>(&h) + f.text_member; }
const char *text_of(const Header &h, const Field &f)
{
    return reinterpret_cast<const char *>(&h) + f.text_member;
}

} // namespace

void header_decode(const uint8_t *raw, Header *h)
{
    for (const Field &f : kFields) {
        const uint8_t *p = raw + f.offset;
        switch (f.kind) {
        case Kind::i16:
            h->*f.s16 = get16(p);
            break;
        case Kind::u16:
            h->*f.u16 = static_cast<uint16_t>(get16(p));
            break;
        case Kind::i32:
            h->*f.s32 = get32(p);
            break;
        case Kind::text:
            copy_text(text_of(*h, f), reinterpret_cast<const char *>(p), f.text_size);
            break;
        }
    }
}

void header_encode(const Header &h, uint8_t *raw)
{
    std::memset(raw, 0, kHeaderBytes);
    for (const Field &f : kFields) {
        uint8_t *p = raw + f.offset;
        switch (f.kind) {
        case Kind::i16:
            put16(p, h.*f.s16);
            break;
        case Kind::u16:
            put16(p, h.*f.u16);
            break;
        case Kind::i32:
            put32(p, h.*f.s32);
            break;
        case Kind::text:
            copy_text(reinterpret_cast<char *>(p), text_of(h, f), f.text_size);
            break;
        }
    }
}

bool header_acceptable(const Header &h, bool file_test)
{
    const bool window = h.window_left >= 0 && h.window_right >= 0 && h.window_bottom >= 0 &&
                        h.window_top >= 0 && h.window_left <= h.window_right &&
                        h.window_bottom <= h.window_top;
    const bool active = h.active_left >= 0 && h.active_right >= 0 && h.active_bottom >= 0 &&
                        h.active_top >= 0 && h.active_left <= h.active_right &&
                        h.active_bottom <= h.active_top;
    const bool inside = h.window_left <= h.active_left && h.active_right <= h.window_right &&
                        h.window_bottom <= h.active_bottom && h.active_top <= h.window_top;
    const bool aspect = h.aspect_name[0] != '\0' || h.aspect_ratio[0] != '\0';
    // A negative auxiliary count would make the channel total meaningless,
    // and the total bounds the buffers a header can ask for.
    const bool counts =
        h.colour_count >= 0 && h.colour_count <= 3 && h.matte_count >= 0 && h.aux_count >= 0 &&
        h.colour_count + h.matte_count + h.aux_count <= kMaxChannelsPerImage && h.storage_type >= 0;
    const bool matte = !file_test || h.matte_type >= 0;
    return window && active && inside && aspect && counts && matte;
}

} // namespace zep::rla
