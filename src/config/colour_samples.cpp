/*
 * The colour-sample conversion state: for one set of primaries and one bin
 * count, the RGB-to-XYZ matrix M, its inverse, the per-bin tristimulus table
 * of the n-bin set and the per-bin RGB table (row i = T[i] . M^-1).
 *
 * States:
 *
 *   idle    --CLR_samp_init(n) succeeds--> set up for n
 *   set up  --CLR_samp_init(any)-->        set up, unchanged (returns its n)
 *   set up  --CLR_samp_done-->             idle, initial primaries
 *
 * The tables are copies, so the state outlives a CLR_exit of the database.
 */
#include <cstring>
#include <type_traits>

#include <zep/colour.h>
#include <zep/error.h>

#include "config/colour_db.h"
#include "config/colour_tables.h"

namespace {

struct SampleState {
    int n;           /* 0 when idle */
    float chroma[8]; /* x, y of red, green, blue, white */
    float to_xyz[9]; /* M */
    float to_rgb[9]; /* M^-1 */
    float *xyz;      /* n rows of X, Y, Z; the rgb rows follow in the block */
    float *rgb;      /* n rows of r, g, b */
};
static_assert(std::is_standard_layout_v<SampleState>);

constexpr SampleState initial_state()
{
    return SampleState{
        0, {0.67f, 0.33f, 0.21f, 0.71f, 0.14f, 0.08f, 0.31f, 0.316f}, {}, {}, nullptr, nullptr};
}

constinit SampleState g_state = initial_state();

void chromaticities(float out[8], double rx, double ry, double gx, double gy, double bx, double by,
                    double wx, double wy)
{
    const double in[8] = {rx, ry, gx, gy, bx, by, wx, wy};
    for (int i = 0; i < 8; ++i)
        out[i] = zep::colour::narrow(in[i]);
}

} // namespace

int CLR_samp_init(int n, int given, double rx, double ry, double gx, double gy, double bx,
                  double by, double wx, double wy)
{
    if (g_state.n) return g_state.n;
    const CLR_SAMPLE_SET *set = CLR_find(n);
    if (!set) return 0;

    float chroma[8];
    if (given) {
        chromaticities(chroma, rx, ry, gx, gy, bx, by, wx, wy);
    } else {
        const float *db[4] = {CLR_def_red_primary(), CLR_def_green_primary(),
                              CLR_def_blue_primary(), CLR_def_white_point()};
        for (int i = 0; i < 4; ++i) {
            chroma[2 * i] = db[i][0];
            chroma[2 * i + 1] = db[i][1];
        }
    }
    float m[9], inverse[9];
    if (!CLR_matrix_from_primaries(chroma, m) || !CLR_matrix_invert(m, inverse)) return 0;

    const size_t floats = 6 * static_cast<size_t>(set->count);
    auto *block = static_cast<float *>(ERR_malloc(floats * sizeof(float)));
    if (!block) return 0;

    g_state.n = set->count;
    std::memcpy(g_state.chroma, chroma, sizeof chroma);
    std::memcpy(g_state.to_xyz, m, sizeof m);
    std::memcpy(g_state.to_rgb, inverse, sizeof inverse);
    g_state.xyz = block;
    g_state.rgb = block + 3 * static_cast<size_t>(set->count);
    std::memcpy(g_state.xyz, set->table, 3 * sizeof(float) * set->count);
    for (int i = 0; i < set->count; ++i)
        for (int c = 0; c < 3; ++c) {
            double s = 0;
            for (int k = 0; k < 3; ++k)
                s += static_cast<double>(g_state.xyz[3 * i + k]) * inverse[3 * k + c];
            g_state.rgb[3 * i + c] = zep::colour::narrow(s);
        }
    return g_state.n;
}

int CLR_samp_done(void)
{
    if (!g_state.n) return 0;
    ERR_free(g_state.xyz);
    g_state = initial_state();
    return 1;
}

float *CLR_samp_xyz_table(float *out)
{
    if (!g_state.n) return nullptr;
    std::memcpy(out, g_state.xyz, 3 * sizeof(float) * g_state.n);
    return out;
}

float *CLR_samp_rgb_table(float *out)
{
    if (!g_state.n) return nullptr;
    std::memcpy(out, g_state.rgb, 3 * sizeof(float) * g_state.n);
    return out;
}

float *CLR_samp_rgb_to_xyz(float *out)
{
    if (!g_state.n) return nullptr;
    std::memcpy(out, g_state.to_xyz, sizeof g_state.to_xyz);
    return out;
}

float *CLR_samp_xyz_to_rgb(float *out)
{
    if (!g_state.n) return nullptr;
    std::memcpy(out, g_state.to_rgb, sizeof g_state.to_rgb);
    return out;
}

float *CLR_samp_rgb_to_rgb(float *out, double rx, double ry, double gx, double gy, double bx,
                           double by, double wx, double wy)
{
    if (!g_state.n) return nullptr;
    float chroma[8], target[9], target_inverse[9];
    chromaticities(chroma, rx, ry, gx, gy, bx, by, wx, wy);
    if (!CLR_matrix_from_primaries(chroma, target) || !CLR_matrix_invert(target, target_inverse))
        return nullptr;
    zep::colour_matrix_multiply(g_state.to_xyz, target_inverse, out);
    return out;
}
