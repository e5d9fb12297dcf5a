/*
 * Gamma tables: four fixed-size look-up tables between 8-bit codes and the
 * gamma-table resolution R of the format-defaults database, built for one
 * gamma each and owned by the caller until ZEP_gamma_done.
 *
 * btof and btos map 8-bit codes through the gamma (to 0.0 ... 1.0 and to
 * 0 ... R - 1); tob and tof map 0 ... R - 1 back through its inverse (to
 * 8-bit codes and to 0.0 ... 254.9). Each table is bounded by the identity
 * near black, so that large gammas do not collapse the darkest codes.
 *
 * R is read as it currently stands, without building the database, so a
 * table built before the library starts uses the built-in 4096. A
 * resolution below 2 cannot scale anything: the builders then give null.
 */
#include <zep/curves.h>
#include <zep/error.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "config/format_defaults.h"

namespace zep {
namespace {

// 1/255, as every gamma table scales 8-bit codes.
constexpr double kInv255 = 0.00392156862745098;

// The current gamma-table resolution, or 0 when it is below 2.
int32_t table_resolution()
{
    const int r = fmt_gamma_table_res_current();
    return r >= 2 ? int32_t(r) : 0;
}

// A table of n entries of T, or null when it cannot be had.
template <typename T> T *alloc_table(size_t n)
{
    if (n > size_t(PTRDIFF_MAX) / sizeof(T)) return nullptr;
    return static_cast<T *>(ERR_malloc(n * sizeof(T)));
}

// i / (r - 1) in single precision.
float unit(int32_t i, int32_t r) { return float(i) / float(r - 1); }

// 1 / g, with infinities for a zero gamma and NaN for NaN.
double inverse(double g)
{
    if (g != 0.0) return 1.0 / g;
    return std::signbit(g) ? -HUGE_VAL : HUGE_VAL;
}

// v truncated to an integer in 0 ... max; NaN gives 0.
int64_t truncate(double v, int64_t max)
{
    if (!(v >= 0.0)) return 0;
    if (v >= double(max)) return max;
    return int64_t(v);
}

// v as a float; magnitudes beyond the float range become infinities.
float to_float(double v)
{
    if (v > double(FLT_MAX)) return HUGE_VALF;
    if (v < -double(FLT_MAX)) return -HUGE_VALF;
    return float(v);
}

// A table of 256 entries (per_code: one per 8-bit code) or of the gamma-table
// resolution R, entry i = fill(i, R); null when R is unusable or memory runs
// out.
template <typename T, typename Fill>
T *build_table(bool per_code, Fill fill)
{
    const int32_t r = table_resolution();
    if (r == 0) return nullptr;
    const int32_t n = per_code ? 256 : r;
    T *table = alloc_table<T>(size_t(n));
    if (table == nullptr) return nullptr;
    for (int32_t i = 0; i < n; ++i)
        table[i] = fill(i, r);
    return table;
}

} // namespace
} // namespace zep

extern "C" ZEP_API float *ZEP_gamma_btof(double gamma)
{
    return zep::build_table<float>(true, [gamma](int32_t i, int32_t r) {
        const double v = std::pow(i * zep::kInv255, gamma);
        const double floor = zep::unit(i, r);
        return zep::to_float(v < floor ? floor : v);
    });
}

extern "C" ZEP_API int16_t *ZEP_gamma_btos(double gamma)
{
    return zep::build_table<int16_t>(true, [gamma](int32_t i, int32_t r) {
        const int64_t v = zep::truncate(std::pow(i * zep::kInv255, gamma) * (r - 1) + 0.5, r - 1);
        // A code beyond 32767 wraps negative here and falls back to i.
        const auto code = static_cast<int16_t>(static_cast<uint16_t>(v));
        return code < i ? int16_t(i) : code;
    });
}

extern "C" ZEP_API uint8_t *ZEP_gamma_tob(double gamma)
{
    const double exponent = zep::inverse(gamma);
    return zep::build_table<uint8_t>(false, [exponent](int32_t i, int32_t r) {
        const int64_t v = zep::truncate(std::pow(zep::unit(i, r), exponent) * 255.0 + 0.5, 255);
        return uint8_t(std::min<int64_t>(v, i));
    });
}

extern "C" ZEP_API float *ZEP_gamma_tof(double gamma)
{
    const double exponent = zep::inverse(gamma);
    return zep::build_table<float>(false, [exponent](int32_t i, int32_t r) {
        const double v = std::pow(zep::unit(i, r), exponent) * 254.9;
        return v > double(i) ? float(i) : zep::to_float(v);
    });
}

extern "C" ZEP_API int ZEP_gamma_done(void *table)
{
    ERR_free(table);
    return 1;
}
