/*
 * The built-in matching functions and the tables the compiler works out from
 * them. The rows come from data/cie1931_2deg_5nm.csv through the generated
 * cie1931_rows.inc; the resampled table and the per-bin tables of the ten
 * built-in sets are computed here at compile time by the same resample and
 * integrate_bins that the database runs on rows from the configuration file.
 */
#include "config/colour_tables.h"

namespace zep::colour {

constexpr Row kCie1931[kBuiltinRowCount] = {
#include "cie1931_rows.inc"
};

namespace {

/* Fewer rows than 81 leave zero rows at the end, which this catches; more
 * do not compile. */
constexpr bool rows_are_the_standard_grid()
{
    for (int i = 0; i < kBuiltinRowCount; ++i)
        if (kCie1931[i].wavelength != kBuiltinMin + 5.0f * static_cast<float>(i)) return false;
    return true;
}
static_assert(rows_are_the_standard_grid(),
              "cie1931_2deg_5nm.csv must hold 81 rows, 380 to 780 nm in 5 nm steps");

struct Computed {
    BuiltinTables tables;
    bool ok;
};

constexpr Computed compute()
{
    Computed result{};
    int i = 0;
    auto next = [&i]() -> const Row * { return i < kBuiltinRowCount ? &kCie1931[i++] : nullptr; };
    result.ok =
        resample(next, kBuiltinMin, kBuiltinMax, kBuiltinResolution, result.tables.resampled);
    for (int n = 1; n <= kBuiltinSetCount; ++n)
        integrate_bins(result.tables.resampled, kBuiltinResolution, kBuiltinMin, kBuiltinMax, n,
                       &kBuiltinBounds[builtin_bounds_offset(n)],
                       &result.tables.bins[builtin_table_offset(n)]);
    return result;
}

constexpr Computed kComputed = compute();
static_assert(kComputed.ok, "the built-in matching functions must not sum to zero");

} // namespace

constexpr BuiltinTables kBuiltinTables = kComputed.tables;

} // namespace zep::colour
