// The colour database and its colour-sample state: built-in data, every key,
// resampling and bins, checks, tear-down, matrices and running out of memory.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/colour_db.h"
#include "config/colour_tables.h"
#include "config/config_support.h"

namespace {

using config_test::messages_of;
using config_test::reports;
namespace colour = zep::colour;
using Floats = std::vector<float>;

class Colour : public config_test::ConfigTest {
  protected:
    void build(const std::string &text, int expected = 0)
    {
        CLR_exit();
        reports.clear();
        write_home(text);
        ASSERT_EQ(CLR_init(nullptr), expected); // afresh from a file of the text
    }
};

Floats bounds(int n) { return Floats(CLR_find(n)->bounds, CLR_find(n)->bounds + n + 1); }

// Every value of a built database, and the built-in ones with some changed.
std::string values()
{
    std::ostringstream s;
    s << "samples=" << zep::colour_default_samples();
    const char *names[] = {"|red=", "|green=", "|blue=", "|white="};
    const float *triples[] = {CLR_def_red_primary(), CLR_def_green_primary(),
                              CLR_def_blue_primary(), CLR_def_white_point()};
    for (int i = 0; i < 4; ++i)
        s << names[i] << triples[i][0] << ',' << triples[i][1] << ',' << triples[i][2];
    s << "|range=" << zep::colour_min_wavelength() << '-' << zep::colour_max_wavelength()
      << "|res=" << zep::colour_resolution() << "|rows=" << zep::colour_row_count()
      << "|sets=" << zep::colour_set_count() << "|tables="
      << (zep::colour_resampled() == colour::kBuiltinTables.resampled ? "built-in" : "computed");
    return s.str();
}
std::string builtin_with(const std::string &changes)
{
    return config_test::with_changes(
        "samples=3|red=0.67,0.33,0|green=0.21,0.71,0.08|blue=0.14,0.08,0.78|"
        "white=0.31,0.316,0.374|range=380-780|res=401|rows=0|sets=10|tables=built-in",
        changes);
}

// Each column of the resampled table times its spacing, and of every set's
// table, sums to 1; the one-bin row is (1, 1, 1).
void expect_normalised()
{
    auto sum = [](const float *table, int n, int c) {
        double s = 0;
        for (int i = 0; i < n; ++i) s += table[3 * i + c];
        return s;
    };
    const int res = zep::colour_resolution();
    const double d = (zep::colour_max_wavelength() - zep::colour_min_wavelength()) / (res - 1);
    ASSERT_NE(zep::colour_resampled(), nullptr);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(sum(zep::colour_resampled(), res, c) * d, 1.0, 2e-6) << c;
        EXPECT_NEAR(CLR_find(1)->table[c], 1.0f, 2e-6);
        for (int n = 1; n <= 12; ++n) {
            const CLR_SAMPLE_SET *set = CLR_find(n); // 11 and up may be missing
            EXPECT_NEAR(set ? sum(set->table, n, c) : 1.0, 1.0, 2e-6) << n << " bins";
        }
    }
}

TEST(ColourBuiltinRows, MatchTheCsvRowForRow)
{
    std::ifstream in(ZEP_TEST_CIE1931_CSV);
    int i = 0;
    for (std::string line; std::getline(in, line);) {
        colour::Row r;
        if (std::sscanf(line.c_str(), "%f,%f,%f,%f", &r.wavelength, &r.x, &r.y, &r.z) != 4)
            continue; // a comment
        ASSERT_LT(i, colour::kBuiltinRowCount);
        const colour::Row &b = colour::kCie1931[i++];
        EXPECT_TRUE(b.wavelength == r.wavelength && b.x == r.x && b.y == r.y && b.z == r.z)
            << r.wavelength;
    }
    EXPECT_EQ(i, colour::kBuiltinRowCount);
    EXPECT_EQ(colour::kCie1931[12].z, 1.7471f); // at 440 nm
}

// With no file the built-in values and tables serve. A bins line that repeats the
// built-in one-bin set forces the run-time path for every table: it computes the same.
TEST_F(Colour, BuiltInAndRunTimeTablesAgree)
{
    const auto &builtin = colour::kBuiltinTables;
    for (const char *config : {(const char *)nullptr, "clr__sample_bins 1 545 666\n"}) {
        SCOPED_TRACE(config ? config : "no file");
        if (config) build(config);
        else ASSERT_EQ(CLR_init(nullptr), 0);
        EXPECT_EQ(values(), builtin_with(config ? "rows=81;tables=computed" : ""));
        const float *x = zep::colour_resampled();
        EXPECT_EQ(std::memcmp(x, builtin.resampled, sizeof builtin.resampled), 0);
        for (int n = 1; n <= 10; ++n) {
            const float *b = &colour::kBuiltinBounds[colour::builtin_bounds_offset(n)];
            const float *table = &builtin.bins[colour::builtin_table_offset(n)];
            ASSERT_NE(CLR_find(n), nullptr) << n;
            EXPECT_TRUE(CLR_find(n)->count == n && !CLR_find(n)->uniform) << n;
            EXPECT_EQ(std::memcmp(CLR_find(n)->table, table, 3 * n * sizeof(float)), 0) << n;
            EXPECT_EQ(bounds(n), Floats(b, b + n + 1)) << n;
        }
        EXPECT_EQ(bounds(3), (Floats{414, 492, 568, 657}));
        EXPECT_EQ(CLR_find(11), nullptr);
        expect_normalised();
        EXPECT_TRUE(reports.empty());
    }
}

// Each key, what it changes and its syntax reports; bad lines change nothing.
TEST_F(Colour, EveryKeySetsItsValue)
{
    const std::string rows = ";rows=81;tables=computed";
    const struct { std::string config, changes; std::vector<int> syntax_lines = {}; } cases[] = {
        {"clr__default_samples 7\n", "samples=7"}, {"clr__tristimulus_tab_res 3\n", "res=3" + rows},
        {"clr__default_red_primary 0.64 0.33 0.03\n", "red=0.64,0.33,0.03"},
        {"clr__default_green_primary 0.3 0.6 0.1\n", "green=0.3,0.6,0.1"},
        {"clr__default_blue_primary .15 6e-2 0.79\n", "blue=0.15,0.06,0.79"},
        {"clr__default_white_point 0.3127 0.329 0.3583\n", "white=0.3127,0.329,0.3583"},
        {"clr__min_wavelength 380\nclr__max_wavelength 780.0\nclr__tristimulus_tab_res 401\n", ""},
        {"clr__min_wavelength 400\n", "range=400-780" + rows},
        {"clr__sample_bins 12 uniform\n", "sets=11" + rows},
        {"500 1 2 3\nsome words\nfmt__gamma_default 2.2\n", ""},
        {"clr__tristimulus\n500 1 2 3\n", "rows=1"}, {"\nclr__tristimulus_tab_res\n", "", {2}},
        {"clr__tristimulus\nend__tristimulus\n500 1 2 3\n", ""},
        {"clr__default_samples 6\nclr__default_samples 4 5\n", "samples=6", {2}},
        {"clr__min_wavelength\nclr__max_wavelength 700 800\n", "", {1, 2}},
        {"clr__tristimulus now\n500 1 2 3\nend__tristimulus\n", "", {1}},
        {"clr__tristimulus\n500 1 2 3\nend__tristimulus now\n", "rows=1", {3}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.config);
        build(c.config);
        std::vector<std::string> syntax;
        for (int line : c.syntax_lines) syntax.push_back(syntax_message(line));
        EXPECT_EQ(messages_of(zep::kConfigSyntax), syntax);
        EXPECT_EQ(reports.size(), syntax.size());
        EXPECT_EQ(values(), builtin_with(c.changes));
        expect_normalised();
    }
}

// Rows make a piecewise-linear function from (min, 0) to (max, 0), the last
// resampled row being its value at max; a set's bins share it out.
TEST_F(Colour, ResamplesAndIntegratesHandWorkedFunctions)
{
    const struct { const char *rows; Floats x, two_bins; } cases[] = {
        // Two rows at 500 nm make a step, the later one in the file last: raw 0, .5, 3, 1.5, 0
        // (sum * 50 = 250).
        {"500 1 1 1\n500 3 3 3\nend__tristimulus\nclr__tristimulus_tab_res 5\n",
         {0, 0.002f, 0.012f, 0.006f, 0}, {0.7f, 0.3f}},
        // Rows beyond both ends are cut at min and max.
        {"350 1 1 1\n650 1 1 1\nend__tristimulus\nclr__tristimulus_tab_res 3\n",
         {1 / 300.0f, 1 / 300.0f, 1 / 300.0f}, {2 / 3.0f, 1 / 3.0f}},
        // A triangle, raw 0, .5, 1, .5, 0 (sum * 50 = 100), given out of order.
        {"600 0 0 0\n500 1 2 4\n400 0 0 0\nend__tristimulus\nclr__tristimulus_tab_res 5\n",
         {0, 0.005f, 0.01f, 0.005f, 0}, {0.75f, 0.25f}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rows);
        ASSERT_NO_FATAL_FAILURE(build("clr__min_wavelength 400\nclr__max_wavelength 600\n"
                                      "clr__sample_bins 2 400 500 600\nclr__tristimulus\n" +
                                      std::string(c.rows)));
        ASSERT_EQ(zep::colour_resolution(), int(c.x.size()));
        for (size_t j = 0; j < 3 * c.x.size(); ++j)
            EXPECT_NEAR(zep::colour_resampled()[j], c.x[j / 3], 1e-7) << j;
        EXPECT_NEAR(CLR_find(2)->table[0], c.two_bins[0], 1e-6);
        EXPECT_NEAR(CLR_find(2)->table[3], c.two_bins[1], 1e-6);
        expect_normalised();
    }
}

TEST_F(Colour, SampleBinsReplaceSetsAndContinueOverBackslashes)
{
    ASSERT_NO_FATAL_FAILURE(build("clr__sample_bins 3 400 450 500 550\nclr__sample_bins 3 uniform\n"
                                  "clr__sample_bins 4 400 \\\n500 600 \\\n700 780\n"
                                  "clr__sample_bins 2 410 \\ these words are skipped\n510 610\n"
                                  "\nclr__min_wavelength\n"));
    // Line numbers count the continuation lines and the empty line.
    EXPECT_EQ(messages_of(zep::kConfigSyntax), std::vector<std::string>{syntax_message(9)});
    const CLR_SAMPLE_SET *three = CLR_find(3);
    EXPECT_NE(three->uniform, 0);
    const float uniform[] = {380, 513.333f, 646.667f, 780};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(three->bounds[i], uniform[i], 1e-3) << i;
    double x = 0; // bin 0 takes the resampled rows at 380 to 513 nm (d = 1)
    for (int j = 0; j <= 133; ++j) x += zep::colour_resampled()[3 * j];
    EXPECT_NEAR(three->table[0], x, 1e-6);
    EXPECT_EQ(bounds(4), (Floats{400, 500, 600, 700, 780}));
    EXPECT_EQ(bounds(2), (Floats{410, 510, 610}));
    expect_normalised();
}

// Each case follows two good lines; the build keeps nothing of them.
TEST_F(Colour, MalformedFilesAreReportedAndTearTheDatabaseDown)
{
    auto number = [](int line) {
        return "Invalid configuration file syntax, line " + std::to_string(line + 2) +
               "; expecting a number";
    };
    auto syntax = [this](int line) { return syntax_message(line + 2); };
    const std::string range = "Invalid wavelength sampling range, (380.000000, ";
    const std::string matching = zep::kConfigMatching.text;
    const std::pair<const char *, std::string> cases[] = {
        {"clr__min_wavelength 800\n", "Invalid wavelength sampling range, (800.000000, "
                                      "780.000000); (check the configuration file)"},
        {"clr__max_wavelength 0\n", range + "0.000000); (check the configuration file)"},
        {"clr__max_wavelength 1e99\n", range + "inf); (check the configuration file)"},
        {"clr__tristimulus_tab_res 1\n",
         "Invalid table resolution (1); (check the configuration file)"},
        {"clr__tristimulus\n500 0 1 1\n600 0 1 1\nend__tristimulus\n", matching},
        {"clr__tristimulus\nclr__min_wavelength 400\n", matching},
        {"# colours\nclr__default_white_point 0.3 0.3x 0.4\n", number(2)},
        {"clr__max_wavelength 1e100\n", number(1)},
        {"clr__sample_bins 2 400 x 600\n", number(1)},
        {"clr__sample_bins 3 400 500\n", syntax(1)},
        {"\n\nclr__sample_bins 3 400 500 \\\n", syntax(3)},
        {"clr__sample_bins 3 400 \\\n\nclr__default_samples 4\n", syntax(2)},
    };
    for (const auto &[config, message] : cases) {
        SCOPED_TRACE(config);
        build(std::string("clr__default_samples 9\nclr__sample_bins 5 uniform\n") + config, -1);
        EXPECT_FALSE(zep::colour_is_built() || zep::colour_set_count() || zep::colour_resampled());
        EXPECT_EQ(cfg__path(), nullptr) << "the store went with it";
        EXPECT_EQ(zep::colour_default_samples(), 3);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].severity, ERR_ERROR);
        EXPECT_EQ(reports[0].message, message);
    }
}

TEST_F(Colour, AFailedBuildIsRetriedFromScratchByTheNextQuery)
{
    write_home("clr__default_red_primary 0.5 0.4 0.1\nclr__min_wavelength 800\n");
    EXPECT_EQ(CLR_find(3), nullptr);
    EXPECT_EQ(CLR_def_red_primary()[0], 0.67f) << "answered from the torn-down state";
    EXPECT_EQ(messages_of(zep::kConfigRange).size(), 2u) << "each query builds again";
    EXPECT_FALSE(zep::colour_is_built());
    write_home("clr__default_samples 5\n");
    ASSERT_NE(CLR_find(3), nullptr);
    EXPECT_EQ(values(), builtin_with("samples=5"));
    write_home("clr__default_samples 8\n");
    EXPECT_EQ(CLR_init(nullptr), 0);
    EXPECT_EQ(zep::colour_default_samples(), 5) << "a built database only rewinds";
    EXPECT_TRUE(CLR_exit() == 0 && CLR_exit() == 0);
    EXPECT_FALSE(zep::colour_is_built());
}

// A failure while the file is read leaves the built-in values; any other -1.
TEST_F(Colour, BuildFailsCleanlyWhenMemoryRunsOut)
{
    write_home("clr__default_samples 6\nclr__sample_bins 3 uniform\n"
               "clr__sample_bins 12 400 420 440 460 480 500 \\\n520 540 560 580 600 620 640\n"
               "clr__tristimulus\n500 1 1 1\n550 2 2 2\n600 0.5 1 1\nend__tristimulus\n"
               "clr__min_wavelength 450\n");
    auto failed = [](int rc) {
        EXPECT_FALSE(reports.empty());
        EXPECT_TRUE(rc == 0 || (rc == -1 && !zep::colour_is_built() && !zep::colour_set_count()));
        EXPECT_TRUE(rc != 0 || values() == builtin_with("")) << values();
        CLR_exit();
    };
    const int failures = config_test::exhaust([] { return CLR_init(nullptr); }, failed);
    EXPECT_GE(failures, 12 + 2 + 3 + 1) << "lists, sets, rows and tables";
    EXPECT_EQ(values(), builtin_with("samples=6;range=450-780;rows=3;sets=11;tables=computed"));
    expect_normalised();
}

// x, y of red, green, blue and white: the built-in ones and others.
constexpr float kBuiltinChroma[8] = {0.67f, 0.33f, 0.21f, 0.71f, 0.14f, 0.08f, 0.31f, 0.316f};
constexpr float kOther[8] = {0.64f, 0.33f, 0.30f, 0.60f, 0.15f, 0.06f, 0.3127f, 0.329f};
constexpr float kIdentity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

void expect_product_near(const float *a, const float *b, const float *expected = kIdentity)
{
    float p[9];
    zep::colour_matrix_multiply(a, b, p);
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(p[k], expected[k], 1e-6) << k;
}

TEST(ColourMatrix, FromPrimariesGivesWhiteAtLuminanceOneAndInverts)
{
    float m[9], inverse[9];
    for (const float *c : {kBuiltinChroma, kOther}) {
        ASSERT_EQ(CLR_matrix_from_primaries(c, m), 1);
        const double white[3] = {c[6] / c[7], 1, (1 - c[6] - c[7]) / c[7]};
        for (int col = 0; col < 3; ++col) // [1 1 1] . M
            EXPECT_NEAR(m[col] + m[3 + col] + m[6 + col], white[col], 1e-5) << col;
        for (int row = 0; row < 3; ++row) // each row is its primary's x, y, z scaled
            EXPECT_NEAR(m[3 * row] / (m[3 * row] + m[3 * row + 1] + m[3 * row + 2]), c[2 * row],
                        1e-6);
        ASSERT_EQ(CLR_matrix_invert(m, inverse), 1);
        expect_product_near(m, inverse);
        expect_product_near(inverse, m);
    }
    const float one_line[8] = {0.2f, 0.3f, 0.4f, 0.4f, 0.6f, 0.5f, 0.31f, 0.316f};
    EXPECT_EQ(CLR_matrix_from_primaries(one_line, m), 0);
    // Zeros on the diagonal and a tiny first pivot need pivoting.
    const float pivots[][9] = {{0, 1, 0, 0, 0, 1, 1, 0, 0}, {1e-8f, 1, 0, 1, 1, 0, 0, 0, 1}};
    for (const auto &p : pivots) {
        ASSERT_EQ(CLR_matrix_invert(p, inverse), 1);
        expect_product_near(p, inverse);
    }
    const float singular[9] = {1, 2, 3, 2, 4, 6, 1, 1, 1};
    inverse[0] = 42;
    EXPECT_EQ(CLR_matrix_invert(singular, inverse), 0);
    EXPECT_EQ(inverse[0], 42.0f) << "left alone";
}

TEST_F(Colour, SampleStateHoldsItsFirstSetUpUntilDone)
{
    auto init = [](int n, const float *c) {
        return CLR_samp_init(n, 1, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
    };
    float out[9], m[9], expected[9], xyz[9], rgb[9];
    const float *o = kOther;
    EXPECT_EQ(CLR_samp_rgb_to_rgb(out, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7]), nullptr);
    EXPECT_EQ(CLR_samp_done(), 0);
    for (int n : {0, 11, -3}) EXPECT_EQ(init(n, kBuiltinChroma), 0) << n << " bins";
    EXPECT_EQ(CLR_samp_rgb_to_xyz(out), nullptr);

    ASSERT_EQ(CLR_samp_init(3, 0, 0, 0, 0, 0, 0, 0, 0, 0), 3); // the database's primaries
    ASSERT_EQ(CLR_samp_rgb_to_xyz(m), m);
    ASSERT_EQ(CLR_matrix_from_primaries(kBuiltinChroma, expected), 1);
    EXPECT_EQ(std::memcmp(m, expected, sizeof m), 0);
    ASSERT_EQ(CLR_samp_xyz_to_rgb(out), out);
    expect_product_near(m, out);
    // The XYZ table is the 3-bin set's; the RGB table times M gives it back.
    ASSERT_EQ(CLR_samp_xyz_table(xyz), xyz);
    ASSERT_EQ(CLR_samp_rgb_table(rgb), rgb);
    EXPECT_EQ(std::memcmp(xyz, CLR_find(3)->table, sizeof xyz), 0);
    expect_product_near(rgb, m, xyz);

    // rgb_to_rgb . N = M, N being the target's matrix; the state's own give I.
    ASSERT_EQ(init(5, kOther), 3) << "the first set-up holds";
    ASSERT_EQ(CLR_samp_rgb_to_rgb(out, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7]), out);
    ASSERT_EQ(CLR_matrix_from_primaries(kOther, expected), 1);
    expect_product_near(out, expected, m);
    ASSERT_EQ(CLR_samp_rgb_to_rgb(out, .67, .33, .21, .71, .14, .08, .31, .316), out);
    expect_product_near(out, m, m);
    EXPECT_EQ(CLR_samp_done(), 1);
    ASSERT_EQ(init(5, kOther), 5);
    CLR_samp_rgb_to_xyz(m);
    EXPECT_EQ(std::memcmp(m, expected, sizeof m), 0);
    EXPECT_EQ(CLR_samp_done(), 1);

    write_home("clr__min_wavelength 900\n"); // a database that cannot be built
    CLR_exit();
    EXPECT_EQ(CLR_samp_init(3, 0, 0, 0, 0, 0, 0, 0, 0, 0), 0);
    build("");
    reports.clear();
    err__alloc_fail(1, 0);
    EXPECT_EQ(CLR_samp_init(3, 0, 0, 0, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    EXPECT_EQ(messages_of(zep::kNoMemory).size(), 1u);
    EXPECT_EQ(CLR_samp_rgb_to_xyz(out), nullptr);
    err__alloc_fail(2, 0);
    EXPECT_EQ(CLR_samp_init(3, 0, 0, 0, 0, 0, 0, 0, 0, 0), 3) << "one allocation in all";
    EXPECT_EQ(err__alloc_fail(0, 0), 0);
}

} // namespace
