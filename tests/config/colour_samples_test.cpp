// The matrix operations and the colour-sample conversion state.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <zep/colour.h>
#include <zep/error.h>

#include "colour_test_env.h"
#include "config/colour_db.h"

extern "C" int zep_test_c_colour(float white[3], float one_bin[3], int *samples);

namespace {

using colour_test::ColourTest;
using colour_test::reports;

// x, y of red, green, blue and white.
constexpr float kBuiltin[8] = {0.67f, 0.33f, 0.21f, 0.71f, 0.14f, 0.08f, 0.31f, 0.316f};
constexpr float kWide[8] = {0.68f, 0.32f, 0.265f, 0.69f, 0.15f, 0.06f, 0.3127f, 0.329f};
constexpr float kNarrow[8] = {0.64f, 0.33f, 0.30f, 0.60f, 0.15f, 0.06f, 0.3127f, 0.329f};

void expect_matrix_near(const float *a, const float *b, double tolerance)
{
    for (int k = 0; k < 9; ++k)
        EXPECT_NEAR(a[k], b[k], tolerance) << "entry " << k;
}

void expect_identity(const float *m, double tolerance)
{
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    expect_matrix_near(m, identity, tolerance);
}

int samp_init(int n, const float *c)
{
    return CLR_samp_init(n, 1, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
}

// ---- Matrices -----------------------------------------------------------

TEST(ColourMatrix, FromPrimariesScalesTheRowsToTheWhitePoint)
{
    const float *sets[] = {kBuiltin, kWide, kNarrow};
    for (const float *c : sets) {
        float m[9];
        ASSERT_EQ(CLR_matrix_from_primaries(c, m), 1);
        // [1 1 1] . M is the white point at Y = 1.
        const double xw = c[6], yw = c[7];
        const double white[3] = {xw / yw, 1, (1 - xw - yw) / yw};
        for (int col = 0; col < 3; ++col)
            EXPECT_NEAR(m[col] + m[3 + col] + m[6 + col], white[col], 1e-5) << col;
        // Each row is its primary's (x, y, z), scaled.
        for (int row = 0; row < 3; ++row) {
            const double sum = m[3 * row] + m[3 * row + 1] + m[3 * row + 2];
            EXPECT_GT(sum, 0);
            EXPECT_NEAR(m[3 * row] / sum, c[2 * row], 1e-6);
            EXPECT_NEAR(m[3 * row + 1] / sum, c[2 * row + 1], 1e-6);
        }
    }
}

TEST(ColourMatrix, FromPrimariesRejectsPrimariesThatGiveNoMatrix)
{
    const float cases[][8] = {
        {0.67f, 0.33f, 0.21f, 0.71f, 0.14f, 0.08f, 0.31f, 0.0f},   // white y = 0
        {0.2f, 0.3f, 0.4f, 0.4f, 0.6f, 0.5f, 0.31f, 0.316f},       // on one line
        {0.67f, 0.33f, 0.67f, 0.33f, 0.14f, 0.08f, 0.31f, 0.316f}, // red twice
    };
    for (const auto &c : cases) {
        float m[9];
        std::memset(m, 0x7f, sizeof m);
        EXPECT_EQ(CLR_matrix_from_primaries(c, m), 0);
        for (float v : m)
            EXPECT_EQ(v, 0.0f);
    }
}

TEST(ColourMatrix, InvertGivesTheInverse)
{
    struct Case {
        const char *name;
        float m[9];
    };
    float builtin[9];
    ASSERT_EQ(CLR_matrix_from_primaries(kBuiltin, builtin), 1);
    Case cases[] = {
        {"identity", {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"diagonal", {2, 0, 0, 0, 4, 0, 0, 0, 8}},
        {"rotation of rows, zeros on the diagonal", {0, 1, 0, 0, 0, 1, 1, 0, 0}},
        {"general", {2, 1, 1, 1, 3, 2, 1, 0, 0}},
        {"a tiny first pivot", {1e-8f, 1, 0, 1, 1, 0, 0, 0, 1}},
        {"negative entries", {-3, 2, 0.5f, 1, -1, 4, 2, 2, -2}},
        {"built-in primaries", {}},
    };
    std::memcpy(cases[6].m, builtin, sizeof builtin);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        float inverse[9], product[9];
        ASSERT_EQ(CLR_matrix_invert(c.m, inverse), 1);
        zep::colour_matrix_multiply(c.m, inverse, product);
        expect_identity(product, 1e-6);
        zep::colour_matrix_multiply(inverse, c.m, product);
        expect_identity(product, 1e-6);
    }

    float inverse[9];
    ASSERT_EQ(CLR_matrix_invert(cases[1].m, inverse), 1);
    const float diagonal_inverse[9] = {0.5f, 0, 0, 0, 0.25f, 0, 0, 0, 0.125f};
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(inverse[k], diagonal_inverse[k]);
    ASSERT_EQ(CLR_matrix_invert(cases[2].m, inverse), 1);
    const float transposed[9] = {0, 0, 1, 1, 0, 0, 0, 1, 0};
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(inverse[k], transposed[k]);

    // In place.
    float m[9];
    std::memcpy(m, cases[3].m, sizeof m);
    ASSERT_EQ(CLR_matrix_invert(m, m), 1);
    float product[9];
    zep::colour_matrix_multiply(cases[3].m, m, product);
    expect_identity(product, 1e-6);
}

TEST(ColourMatrix, InvertRefusesASingularMatrixAndLeavesTheOutputAlone)
{
    const float cases[][9] = {
        {0, 0, 0, 0, 0, 0, 0, 0, 0},
        {1, 2, 3, 2, 4, 6, 1, 1, 1}, // rows 1 and 2 dependent
        {1, 0, 0, 0, 1, 0, 0, 0, 0},
        {0, 1, 2, 0, 3, 4, 0, 5, 6}, // a zero column
    };
    for (const auto &m : cases) {
        float inverse[9];
        for (float &v : inverse)
            v = 42;
        EXPECT_EQ(CLR_matrix_invert(m, inverse), 0);
        for (float v : inverse)
            EXPECT_EQ(v, 42.0f);
    }
}

// ---- Conversion state ----------------------------------------------------

TEST_F(ColourTest, SampleStateAnswersNothingUntilSetUp)
{
    float out[30];
    EXPECT_EQ(CLR_samp_xyz_table(out), nullptr);
    EXPECT_EQ(CLR_samp_rgb_table(out), nullptr);
    EXPECT_EQ(CLR_samp_rgb_to_xyz(out), nullptr);
    EXPECT_EQ(CLR_samp_xyz_to_rgb(out), nullptr);
    EXPECT_EQ(CLR_samp_rgb_to_rgb(out, 0.67, 0.33, 0.21, 0.71, 0.14, 0.08, 0.31, 0.316), nullptr);
    EXPECT_EQ(CLR_samp_done(), 0);
}

TEST_F(ColourTest, SampleStateFromTheDatabasePrimaries)
{
    ASSERT_EQ(CLR_samp_init(3, 0, 0, 0, 0, 0, 0, 0, 0, 0), 3);
    EXPECT_TRUE(zep::colour_is_built()); // built on demand

    float m[9], inverse[9], expected[9];
    ASSERT_EQ(CLR_samp_rgb_to_xyz(m), m);
    ASSERT_EQ(CLR_matrix_from_primaries(kBuiltin, expected), 1);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(m[k], expected[k]);
    ASSERT_EQ(CLR_samp_xyz_to_rgb(inverse), inverse);
    float product[9];
    zep::colour_matrix_multiply(m, inverse, product);
    expect_identity(product, 1e-6);

    // The tristimulus table is the 3-bin set's; the RGB table times M gives
    // it back.
    float xyz[9], rgb[9];
    ASSERT_EQ(CLR_samp_xyz_table(xyz), xyz);
    ASSERT_EQ(CLR_samp_rgb_table(rgb), rgb);
    const CLR_SAMPLE_SET *three = CLR_find(3);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(xyz[k], three->table[k]);
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c) {
            double v = 0;
            for (int k = 0; k < 3; ++k)
                v += rgb[3 * i + k] * m[3 * k + c];
            EXPECT_NEAR(v, xyz[3 * i + c], 1e-6) << i << " " << c;
        }
}

TEST_F(ColourTest, SampleStateKeepsItsFirstSetUpUntilDone)
{
    ASSERT_EQ(samp_init(3, kWide), 3);
    float first[9], now[9];
    CLR_samp_rgb_to_xyz(first);
    float expected[9];
    CLR_matrix_from_primaries(kWide, expected);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(first[k], expected[k]);

    EXPECT_EQ(samp_init(3, kNarrow), 3);
    EXPECT_EQ(samp_init(5, kNarrow), 3);
    EXPECT_EQ(CLR_samp_init(7, 0, 0, 0, 0, 0, 0, 0, 0, 0), 3);
    CLR_samp_rgb_to_xyz(now);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(now[k], first[k]);

    EXPECT_EQ(CLR_samp_done(), 1);
    EXPECT_EQ(CLR_samp_rgb_to_xyz(now), nullptr);
    EXPECT_EQ(CLR_samp_done(), 0);

    ASSERT_EQ(samp_init(5, kNarrow), 5);
    CLR_matrix_from_primaries(kNarrow, expected);
    CLR_samp_rgb_to_xyz(now);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(now[k], expected[k]);
    float xyz[15];
    ASSERT_EQ(CLR_samp_xyz_table(xyz), xyz);
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(xyz[k], CLR_find(5)->table[k]);
}

TEST_F(ColourTest, SampleStateOutlivesTheDatabase)
{
    ASSERT_EQ(CLR_samp_init(4, 0, 0, 0, 0, 0, 0, 0, 0, 0), 4);
    std::vector<float> before(CLR_find(4)->table, CLR_find(4)->table + 12);
    CLR_exit();
    float xyz[12];
    ASSERT_EQ(CLR_samp_xyz_table(xyz), xyz);
    for (int k = 0; k < 12; ++k)
        EXPECT_EQ(xyz[k], before[k]);
}

TEST_F(ColourTest, SampleStateRefusesWhatItCannotSetUp)
{
    const float singular[8] = {0.2f, 0.3f, 0.4f, 0.4f, 0.6f, 0.5f, 0.31f, 0.316f};
    struct Case {
        const char *name;
        int n;
        const float *chroma;
    };
    const Case cases[] = {
        {"no 0-bin set", 0, kBuiltin},
        {"no 11-bin set", 11, kBuiltin},
        {"a negative count", -3, kBuiltin},
        {"primaries on one line", 3, singular},
    };
    float out[9];
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(samp_init(c.n, c.chroma), 0);
        EXPECT_EQ(CLR_samp_rgb_to_xyz(out), nullptr);
        EXPECT_EQ(CLR_samp_done(), 0);
    }

    // A database that cannot be built has no sets.
    CLR_exit();
    write_config("clr__min_wavelength 900\n");
    EXPECT_EQ(CLR_samp_init(3, 0, 0, 0, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(CLR_samp_rgb_to_xyz(out), nullptr);
    EXPECT_EQ(colour_test::messages_of(zep::kConfigRange).size(), 1u);

    // A file that adds a set makes it available.
    CLR_exit();
    write_config("clr__sample_bins 16 uniform\n");
    EXPECT_EQ(samp_init(16, kBuiltin), 16);
}

TEST_F(ColourTest, RgbToRgbMapsTheStatePrimariesToTheTargets)
{
    ASSERT_EQ(samp_init(3, kBuiltin), 3);
    float out[9];
    ASSERT_EQ(CLR_samp_rgb_to_rgb(out, kBuiltin[0], kBuiltin[1], kBuiltin[2], kBuiltin[3],
                                  kBuiltin[4], kBuiltin[5], kBuiltin[6], kBuiltin[7]),
              out);
    expect_identity(out, 1e-6);

    // out . N = M, N being the target's RGB-to-XYZ matrix.
    ASSERT_EQ(CLR_samp_rgb_to_rgb(out, kWide[0], kWide[1], kWide[2], kWide[3], kWide[4], kWide[5],
                                  kWide[6], kWide[7]),
              out);
    float m[9], n[9], product[9];
    CLR_samp_rgb_to_xyz(m);
    CLR_matrix_from_primaries(kWide, n);
    zep::colour_matrix_multiply(out, n, product);
    expect_matrix_near(product, m, 1e-6);

    float untouched[9];
    for (float &v : untouched)
        v = 7;
    EXPECT_EQ(CLR_samp_rgb_to_rgb(untouched, 0.67, 0.33, 0.21, 0.71, 0.14, 0.08, 0.31, 0.0),
              nullptr);
    for (float v : untouched)
        EXPECT_EQ(v, 7.0f);
}

TEST_F(ColourTest, SampleStateOutOfMemory)
{
    ASSERT_EQ(CLR_init(nullptr), 0);
    int steps = 0;
    for (int n = 1; n < 100; ++n) {
        reports.clear();
        err__alloc_fail(n, 0);
        int result = CLR_samp_init(3, 0, 0, 0, 0, 0, 0, 0, 0, 0);
        if (err__alloc_fail(0, 0) == 0) {
            EXPECT_EQ(result, 3);
            break;
        }
        ++steps;
        EXPECT_EQ(result, 0);
        EXPECT_EQ(colour_test::messages_of(zep::kNoMemory).size(), 1u);
        float out[9];
        EXPECT_EQ(CLR_samp_rgb_to_xyz(out), nullptr);
    }
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(CLR_samp_done(), 1);
}

// ---- From C ---------------------------------------------------------------

TEST_F(ColourTest, TheInterfaceWorksFromC)
{
    float white[3], one_bin[3];
    int samples = 0;
    ASSERT_EQ(zep_test_c_colour(white, one_bin, &samples), 0);
    EXPECT_EQ(white[0], 0.31f);
    EXPECT_EQ(white[1], 0.316f);
    EXPECT_EQ(white[2], 0.374f);
    for (float v : one_bin)
        EXPECT_NEAR(v, 1.0f, 2e-6);
    EXPECT_EQ(samples, 3);
    EXPECT_EQ(CLR_samp_done(), 0); // the C side ended its state
}

} // namespace
