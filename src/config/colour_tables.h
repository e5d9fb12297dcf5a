/*
 * The colour database's built-in data and the two computations that turn
 * matching functions into tables:
 *
 *   resample         piecewise-linear rows of (wavelength, xbar, ybar, zbar)
 *                    -> resolution evenly spaced rows, each column scaled so
 *                    that its sum times the spacing is 1
 *   integrate_bins   a resampled table and n + 1 boundaries -> n rows of
 *                    (X, Y, Z), the share of each function in every bin
 *
 * Both are constexpr: the tables for the built-in data (401 rows over 380 to
 * 780 nm and the ten built-in bin sets) are computed by the compiler with
 * the very code the database runs on data from the configuration file, so
 * the two paths give the same numbers.
 */
#ifndef ZEP_SRC_CONFIG_COLOUR_TABLES_H
#define ZEP_SRC_CONFIG_COLOUR_TABLES_H

#include <limits>

namespace zep::colour {

/* One row of matching functions at a wavelength in nanometres. */
struct Row {
    float wavelength;
    float x;
    float y;
    float z;
};

inline constexpr float kBuiltinMin = 380.0f;   /* nm */
inline constexpr float kBuiltinMax = 780.0f;   /* nm */
inline constexpr int kBuiltinResolution = 401; /* rows of the resampled table */
inline constexpr int kBuiltinRowCount = 81;    /* 380 to 780 nm in 5 nm steps */
inline constexpr int kBuiltinSetCount = 10;    /* bin sets of 1 to 10 bins */
inline constexpr int kBuiltinDefaultSamples = 3;

/* Boundaries of the built-in bin sets, n = 1 to 10 one after the other:
 * set n has n + 1 boundaries, from builtin_bounds_offset(n). */
// clang-format off
inline constexpr float kBuiltinBounds[] = {
    545, 666,
    399, 540, 699,
    414, 492, 568, 657,
    416, 486, 538, 577, 656,
    417, 478, 512, 556, 583, 651,
    417, 476, 502, 536, 566, 588, 652,
    418, 474, 499, 532, 564, 586, 643, 650,
    419, 460, 488, 516, 547, 569, 589, 644, 650,
    419, 458, 484, 505, 529, 555, 573, 591, 644, 650,
    417, 444, 474, 492, 515, 542, 562, 577, 592, 643, 649,
};
// clang-format on

constexpr int builtin_bounds_offset(int n) { return (n - 1) * (n + 2) / 2; }
/* Where set n's n rows of (X, Y, Z) start in BuiltinTables::bins. */
constexpr int builtin_table_offset(int n) { return 3 * n * (n - 1) / 2; }

static_assert(sizeof kBuiltinBounds / sizeof kBuiltinBounds[0] ==
              static_cast<unsigned>(builtin_bounds_offset(kBuiltinSetCount + 1)));

/* The tables computed from the built-in rows, range, resolution and sets. */
struct BuiltinTables {
    float resampled[kBuiltinResolution * 3];
    float bins[builtin_table_offset(kBuiltinSetCount + 1)];
};

/* The standard observer's matching functions, 380 to 780 nm in 5 nm steps,
 * four decimals. */
extern const Row kCie1931[kBuiltinRowCount];
extern const BuiltinTables kBuiltinTables;

/* x finite (neither infinite nor NaN), usable in constant expressions. */
constexpr bool is_finite(double x)
{
    return x >= -std::numeric_limits<double>::max() && x <= std::numeric_limits<double>::max();
}

/* v as a float; beyond the float range, the infinity of its sign (a plain
 * conversion of such a value is undefined). */
constexpr float narrow(double v)
{
    if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

/*
 * Resamples the rows that next() yields in ascending wavelength order (null
 * after the last) into resolution rows of (xbar, ybar, zbar) at min + j*d,
 * d = (max - min) / (resolution - 1), and normalises each column so that its
 * sum times d is 1. The rows are read as a piecewise-linear function that
 * starts at (min, 0) and ends at (max, 0); a row at the wavelength of the
 * one before it starts a new segment (a step). The last output row is the
 * function's value at max.
 *
 * Needs resolution >= 2 and min < max, both finite; out holds 3 *
 * resolution floats. Returns false when a column sums to zero or to a
 * value that is not finite, or when the scaled values leave the float
 * range (functions whose positive and negative parts nearly cancel); out
 * is then unusable.
 */
template <typename Next>
constexpr bool resample(Next &&next, double min, double max, int resolution, float *out)
{
    const double d = (max - min) / (resolution - 1);
    int j = 0;
    double w = min;
    double end[3] = {0, 0, 0}; /* the value at max; zero unless a row covers max */
    bool end_found = false;

    auto segment = [&](const Row &a, const Row &b) {
        const double a0 = a.wavelength, b0 = b.wavelength;
        if (!(a0 < b0)) return; /* a step, or a row below min: nothing to emit */
        const double av[3] = {a.x, a.y, a.z};
        const double bv[3] = {b.x, b.y, b.z};
        while (j < resolution - 1 && w < b0 && w < max) {
            const double t = (w - a0) / (b0 - a0);
            for (int c = 0; c < 3; ++c)
                out[3 * j + c] = narrow(av[c] + t * (bv[c] - av[c]));
            ++j;
            w = min + j * d;
        }
        if (!end_found && a0 <= max && max <= b0) {
            const double t = (max - a0) / (b0 - a0);
            for (int c = 0; c < 3; ++c)
                end[c] = av[c] + t * (bv[c] - av[c]);
            end_found = true;
        }
    };

    Row previous{static_cast<float>(min), 0, 0, 0};
    while (const Row *row = next()) {
        segment(previous, *row);
        previous = *row;
    }
    segment(previous, Row{static_cast<float>(max), 0, 0, 0});
    for (; j < resolution - 1; ++j) /* only when rounding left samples short of max */
        for (int c = 0; c < 3; ++c)
            out[3 * j + c] = 0;
    for (int c = 0; c < 3; ++c)
        out[3 * (resolution - 1) + c] = narrow(end[c]);

    double sum[3] = {0, 0, 0};
    for (int r = 0; r < resolution; ++r)
        for (int c = 0; c < 3; ++c)
            sum[c] += out[3 * r + c] * d;
    for (int c = 0; c < 3; ++c)
        if (sum[c] == 0 || !is_finite(sum[c])) return false;
    bool finite = true;
    for (int r = 0; r < resolution; ++r)
        for (int c = 0; c < 3; ++c) {
            out[3 * r + c] = narrow(out[3 * r + c] / sum[c]);
            finite = finite && is_finite(out[3 * r + c]);
        }
    return finite;
}

/* Writes the n + 1 boundaries of a uniform set over min .. max. */
constexpr void uniform_bounds(double min, double max, int n, float *bounds)
{
    for (int i = 0; i < n; ++i)
        bounds[i] = narrow(min + i * (max - min) / n);
    bounds[n] = static_cast<float>(max);
}

/*
 * Fills table with n rows of (X, Y, Z): the resampled rows (resolution rows
 * from min in steps of d) that fall into each bin, summed and times d. Rows
 * up to and including bounds[1] go to bin 0, rows above bounds[i] up to and
 * including bounds[i + 1] to bin i, and rows above bounds[n - 1] to the last
 * bin: bounds[0] and bounds[n] do not limit the outer bins.
 */
constexpr void integrate_bins(const float *resampled, int resolution, double min, double max, int n,
                              const float *bounds, float *table)
{
    const double d = (max - min) / (resolution - 1);
    for (int k = 0; k < 3 * n; ++k)
        table[k] = 0;
    int bin = 0;
    double acc[3] = {0, 0, 0};
    auto flush = [&] {
        for (int c = 0; c < 3; ++c) {
            table[3 * bin + c] = narrow(acc[c]);
            acc[c] = 0;
        }
    };
    for (int j = 0; j < resolution; ++j) {
        const double w = min + j * d;
        while (bin < n - 1 && w > bounds[bin + 1]) {
            flush();
            ++bin;
        }
        for (int c = 0; c < 3; ++c)
            acc[c] += resampled[3 * j + c] * d;
    }
    flush();
}

} // namespace zep::colour

#endif // ZEP_SRC_CONFIG_COLOUR_TABLES_H
