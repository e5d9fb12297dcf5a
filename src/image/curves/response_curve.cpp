/*
 * Response curves: building the tables of a sampled curve, deep copies,
 * composition and release.
 *
 * A sampled curve owns two allocations: the pointer array of num_chan
 * table pointers, and one block of num_chan x length entries that table 0
 * points at; table k starts at entry k x length. The entry type follows the
 * element type and width (bytes for 8-bit integers, 16-bit words for 9 to 16
 * bits, 32-bit floats). One template per job serves the three entry types.
 *
 * Composition works on sampled curves only: analytic operands are first
 * turned into temporary sampled curves, held by a guard so that every path
 * frees them, and the result is built in a local curve that reaches the
 * caller's record only on success.
 */
#include <zep/curves.h>
#include <zep/error.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "error/messages.h"

static_assert(std::is_standard_layout_v<ZEP_RESPONSE_CURVE>);
static_assert(offsetof(ZEP_RESPONSE_CURVE, kind) == 0);
static_assert(offsetof(ZEP_RESPONSE_CURVE, gamma) == 4);
static_assert(offsetof(ZEP_RESPONSE_CURVE, reserved) == 8);
static_assert(offsetof(ZEP_RESPONSE_CURVE, num_chan) == 12);
static_assert(offsetof(ZEP_RESPONSE_CURVE, length) == 16);
static_assert(offsetof(ZEP_RESPONSE_CURVE, elem_type) == 20);
static_assert(offsetof(ZEP_RESPONSE_CURVE, elem_width) == 24);
static_assert(offsetof(ZEP_RESPONSE_CURVE, tables) >= 28);

namespace zep {
namespace {

using Curve = ZEP_RESPONSE_CURVE;

// Widest integer entry a table holds, in bits.
constexpr int32_t kMaxIntWidth = 16;

// How the entries of a table are stored.
enum class Elem { none, u8, u16, f32 };

// The entry type of a table of this element type and width; none when the
// pair has no table form (another type, or an integer width outside 8..16).
Elem table_elem(int32_t type, int32_t width)
{
    if (type == ZEP_C_FLOAT) return Elem::f32;
    if (type != ZEP_C_INTEGER) return Elem::none;
    if (width == 8) return Elem::u8;
    if (width >= 9 && width <= kMaxIntWidth) return Elem::u16;
    return Elem::none;
}

size_t elem_size(Elem e)
{
    switch (e) {
    case Elem::u8:
        return 1;
    case Elem::u16:
        return 2;
    case Elem::f32:
        return 4;
    case Elem::none:
        break;
    }
    return 0;
}

// Calls f with a value of the C++ type that stores entries of kind e.
template <typename F> void visit_elem(Elem e, F &&f)
{
    switch (e) {
    case Elem::u8:
        f(uint8_t{});
        break;
    case Elem::u16:
        f(uint16_t{});
        break;
    case Elem::f32:
        f(float{});
        break;
    case Elem::none:
        break;
    }
}

// The number of entries of a curve's block, or 0 when the channel count
// (at least 1) or length (at least 2) is unusable or the block, or the
// pointer array, could not be addressed. The product is formed in 64 bits.
size_t block_entries(const Curve &c, Elem e)
{
    if (c.num_chan < 1 || c.length < 2) return 0;
    const uint64_t n = uint64_t(c.num_chan) * uint64_t(c.length);
    if (n > uint64_t(INT32_MAX)) return 0;
    const uint64_t limit = uint64_t(PTRDIFF_MAX);
    if (n * elem_size(e) > limit || uint64_t(c.num_chan) * sizeof(void *) > limit) return 0;
    return size_t(n);
}

// Frees a curve's pointer array and the block of table 0 (either may be
// missing) and leaves tables null.
void free_tables(Curve &c)
{
    if (c.tables == nullptr) return;
    ERR_free(c.tables[0]);
    ERR_free(c.tables);
    c.tables = nullptr;
}

// Frees a curve's tables when it goes out of scope, unless released.
struct TablesGuard {
    Curve *curve;
    ~TablesGuard()
    {
        if (curve != nullptr) free_tables(*curve);
    }
    void release() { curve = nullptr; }
};

// A temporary curve whose tables are freed when it goes out of scope.
struct HeldCurve {
    Curve c{};
    HeldCurve() = default;
    HeldCurve(const HeldCurve &) = delete;
    HeldCurve &operator=(const HeldCurve &) = delete;
    ~HeldCurve() { free_tables(c); }
    // Hands the curve over; the holder then owns nothing.
    Curve take()
    {
        Curve out = c;
        c.tables = nullptr;
        return out;
    }
};

// Gives c a pointer array of num_chan entries, the first one null. Returns
// 0, or -1 with zep__err -10 and tables null.
int alloc_pointers(Curve &c)
{
    c.tables = static_cast<void **>(ERR_malloc(size_t(c.num_chan) * sizeof(void *)));
    if (c.tables == nullptr) {
        zep__err = ZEP_E_NOMEM;
        return -1;
    }
    c.tables[0] = nullptr;
    return 0;
}

// Gives c, which has its pointer array, a block of `entries` entries of
// kind e and points table k at entry k x length. Returns 0, or -1 with
// zep__err -10 (the pointer array is left to the caller).
int alloc_block(Curve &c, Elem e, size_t entries)
{
    auto *block = static_cast<unsigned char *>(ERR_malloc(entries * elem_size(e)));
    if (block == nullptr) {
        zep__err = ZEP_E_NOMEM;
        return -1;
    }
    const size_t stride = size_t(c.length) * elem_size(e);
    for (int32_t k = 0; k < c.num_chan; ++k)
        c.tables[k] = block + size_t(k) * stride;
    return 0;
}

// num / den with the IEEE results for a zero divisor (infinity of the
// right sign, or NaN for 0 / 0).
double quotient(double num, double den)
{
    if (den != 0.0) return num / den;
    if (num == 0.0 || std::isnan(num)) return NAN;
    return std::signbit(num) != std::signbit(den) ? -HUGE_VAL : HUGE_VAL;
}

// v truncated to an integer code in 0 ... max; NaN gives 0.
uint32_t to_code(double v, double max)
{
    if (!(v >= 0.0)) return 0;
    if (v >= max) return uint32_t(max);
    return uint32_t(v);
}

// v as a float; magnitudes beyond the float range become infinities.
float to_float(double v)
{
    if (v > double(FLT_MAX)) return HUGE_VALF;
    if (v < -double(FLT_MAX)) return -HUGE_VALF;
    return float(v);
}

// Fills one table of `length` entries with the power law of gamma over
// x = i / (length - 1); integer tables are scaled to 0 ... 2^width - 1.
template <typename T> void fill_power_table(T *table, int32_t length, float gamma, int32_t width)
{
    const double last = double(length - 1);
    if constexpr (std::is_floating_point_v<T>) {
        for (int32_t i = 0; i < length; ++i) {
            const double x = double(i) / last;
            table[i] = to_float(gamma == 1.0f ? x : std::pow(x, double(gamma)));
        }
    } else {
        const double max = double((uint32_t(1) << width) - 1);
        if (gamma == 1.0f) {
            const double step = max / last;
            for (int32_t i = 0; i < length; ++i)
                table[i] = T(to_code(i * step + 0.5, max));
        } else {
            for (int32_t i = 0; i < length; ++i) {
                const double x = double(i) / last;
                table[i] = T(to_code(std::pow(x, double(gamma)) * max + 0.5, max));
            }
        }
    }
}

// out.table[c][i] = a.table[c][b.table[c][i]] for every channel and entry
// of out. I stores b's entries, V a's and out's. An index beyond a's last
// entry reads the last entry.
template <typename I, typename V> void compose_tables(const Curve &a, const Curve &b, Curve &out)
{
    const uint32_t last = uint32_t(a.length - 1);
    for (int32_t c = 0; c < out.num_chan; ++c) {
        const auto *index = static_cast<const I *>(b.tables[c]);
        const auto *from = static_cast<const V *>(a.tables[c]);
        auto *to = static_cast<V *>(out.tables[c]);
        for (int32_t i = 0; i < out.length; ++i)
            to[i] = from[std::min<uint32_t>(index[i], last)];
    }
}

// True when the curve has its pointer array and every table pointer.
bool has_tables(const Curve &c)
{
    if (c.tables == nullptr) return false;
    for (int32_t k = 0; k < c.num_chan; ++k)
        if (c.tables[k] == nullptr) return false;
    return true;
}

// The number of codes of b's integer entries, 2^width, or 0 when the
// width is outside 1 ... 16.
int32_t code_count(const Curve &b)
{
    if (b.elem_width < 1 || b.elem_width > kMaxIntWidth) return 0;
    return int32_t(1) << b.elem_width;
}

// Whether b's entries can index a table of a_length entries: b holds
// integers and has a_length codes. Reports the mismatch.
bool check_index_curve(const Curve &b, int32_t a_length)
{
    if (b.elem_type != ZEP_C_INTEGER) {
        report(kCurveChannelType);
        return false;
    }
    if (code_count(b) == 0 || code_count(b) != a_length) {
        report(kCurveElementCounts);
        return false;
    }
    return true;
}

// Composes two sampled curves into out (b first, then a). Returns 0, or -1
// with out untouched.
int compose_sampled(const Curve &a, const Curve &b, Curve *out)
{
    if (a.num_chan != b.num_chan) {
        report(kCurveChannelCounts);
        return -1;
    }
    if (!check_index_curve(b, a.length)) return -1;
    if (!has_tables(a) || !has_tables(b)) return -1;

    HeldCurve result;
    result.c.gamma = 1.0f;
    result.c.num_chan = b.num_chan;
    result.c.length = b.length;
    result.c.elem_type = a.elem_type;
    result.c.elem_width = a.elem_width;
    if (ZEP_response_curve_init(&result.c) != 0) return -1;

    const Elem index = b.elem_width <= 8 ? Elem::u8 : Elem::u16;
    const Elem value = table_elem(a.elem_type, a.elem_width);
    visit_elem(index, [&](auto i) {
        visit_elem(value,
                   [&](auto v) { compose_tables<decltype(i), decltype(v)>(a, b, result.c); });
    });
    *out = result.take();
    return 0;
}

} // namespace
} // namespace zep

extern "C" ZEP_API int ZEP_response_curve_init(ZEP_RESPONSE_CURVE *curve)
{
    if (curve == nullptr) return -1;
    curve->kind = ZEP_CURVE_SAMPLED;
    curve->reserved = 0;
    curve->tables = nullptr;

    const zep::Elem e = zep::table_elem(curve->elem_type, curve->elem_width);
    const size_t entries = zep::block_entries(*curve, e == zep::Elem::none ? zep::Elem::u8 : e);
    if (entries == 0) return -1;
    if (zep::alloc_pointers(*curve) != 0) return -1;
    zep::TablesGuard guard{curve};
    if (e == zep::Elem::none) return -1;
    if (zep::alloc_block(*curve, e, entries) != 0) return -1;

    zep::visit_elem(e, [&](auto t) {
        using T = decltype(t);
        auto *first = static_cast<T *>(curve->tables[0]);
        zep::fill_power_table(first, curve->length, curve->gamma, curve->elem_width);
        for (int32_t k = 1; k < curve->num_chan; ++k)
            std::memcpy(curve->tables[k], first, size_t(curve->length) * sizeof(T));
    });
    guard.release();
    return 0;
}

extern "C" ZEP_API int ZEP_response_curve_copy(ZEP_RESPONSE_CURVE *dst,
                                               const ZEP_RESPONSE_CURVE *src)
{
    if (dst == nullptr || src == nullptr) return -1;
    if (dst == src) return 0; // already its own copy; overwriting would lose its tables
    *dst = *src;
    dst->tables = nullptr;
    if (src->kind == ZEP_CURVE_ANALYTIC) return 0;

    // The entry type only matters for the size check here; the type and
    // width are judged, and reported, once the pointer array exists.
    const zep::Elem e = zep::table_elem(src->elem_type, src->elem_width);
    const size_t entries = zep::block_entries(*src, e == zep::Elem::none ? zep::Elem::u8 : e);
    if (entries == 0) return -1;
    if (zep::alloc_pointers(*dst) != 0) return -1;
    zep::TablesGuard guard{dst};

    if (src->elem_type == ZEP_C_INTEGER) {
        if (e == zep::Elem::none) {
            zep::report(zep::kCurveDepth, int(src->elem_width), 8, 16);
            return -1;
        }
    } else if (src->elem_type != ZEP_C_FLOAT) {
        zep::report(zep::kCurveType, int(src->elem_type));
        return -1;
    }
    if (!zep::has_tables(*src)) return -1;
    if (zep::alloc_block(*dst, e, entries) != 0) return -1;

    const size_t bytes = size_t(src->length) * zep::elem_size(e);
    for (int32_t k = 0; k < src->num_chan; ++k)
        std::memcpy(dst->tables[k], src->tables[k], bytes);
    guard.release();
    return 0;
}

extern "C" ZEP_API int ZEP_response_curve_comp(const ZEP_RESPONSE_CURVE *a,
                                               const ZEP_RESPONSE_CURVE *b, ZEP_RESPONSE_CURVE *out)
{
    if (a == nullptr || b == nullptr || out == nullptr) return -1;
    const bool a_analytic = a->kind == ZEP_CURVE_ANALYTIC;
    const bool b_analytic = b->kind == ZEP_CURVE_ANALYTIC;
    const bool a_sampled = a->kind == ZEP_CURVE_SAMPLED;
    const bool b_sampled = b->kind == ZEP_CURVE_SAMPLED;

    if (a_analytic && b_analytic) {
        // The power laws multiply: x^(b.gamma / a.gamma).
        zep::HeldCurve result;
        result.c.gamma = float(zep::quotient(b->gamma, a->gamma));
        result.c.num_chan = b->num_chan;
        result.c.length = b->length;
        result.c.elem_type = a->elem_type;
        result.c.elem_width = a->elem_width;
        if (ZEP_response_curve_init(&result.c) != 0) return -1;
        *out = result.take();
        return 0;
    }
    if (a_sampled && b_sampled) return zep::compose_sampled(*a, *b, out);
    if (a_analytic && b_sampled) {
        // a becomes the table of the inverse power law over b's codes.
        if (!zep::check_index_curve(*b, zep::code_count(*b))) return -1;
        zep::HeldCurve t;
        t.c = *a;
        t.c.tables = nullptr;
        t.c.gamma = float(zep::quotient(1.0, a->gamma));
        t.c.num_chan = b->num_chan;
        t.c.length = zep::code_count(*b);
        if (ZEP_response_curve_init(&t.c) != 0) return -1;
        return zep::compose_sampled(t.c, *b, out);
    }
    if (a_sampled && b_analytic) {
        zep::HeldCurve t;
        t.c = *b;
        t.c.tables = nullptr;
        if (ZEP_response_curve_init(&t.c) != 0) return -1;
        return zep::compose_sampled(*a, t.c, out);
    }
    return 0;
}

extern "C" ZEP_API int ZEP_response_curve_done(ZEP_RESPONSE_CURVE *curve)
{
    if (curve == nullptr || curve->kind == ZEP_CURVE_ANALYTIC) return 1;
    zep::free_tables(*curve);
    return 1;
}
