// The colour database: built-in data, every configuration key, resampling
// and bin integration, the checks and their messages, tear-down after a
// failed build, on-demand building and running out of memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <zep/colour.h>
#include <zep/config.h>
#include <zep/error.h>

#include "colour_test_env.h"
#include "config/colour_db.h"
#include "config/colour_tables.h"
#include "error/messages.h"

namespace {

using colour_test::ColourTest;
using colour_test::column_sum;
using colour_test::messages_of;
using colour_test::reports;
namespace colour = zep::colour;

// Message m filled with its arguments, as the library reports it.
template <typename... Args> std::string filled(const zep::Message &m, Args... args)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, m.text, args...);
#pragma GCC diagnostic pop
    return buffer;
}

struct CsvRow {
    std::string text[4];
    float value[4];
};

// The data lines of the project's csv of matching functions.
std::vector<CsvRow> read_csv()
{
    std::vector<CsvRow> rows;
    std::ifstream in(ZEP_TEST_CIE1931_CSV);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::stringstream fields(line);
        CsvRow row;
        for (int c = 0; c < 4; ++c) {
            std::getline(fields, row.text[c], ',');
            row.value[c] = std::strtof(row.text[c].c_str(), nullptr);
        }
        rows.push_back(row);
    }
    return rows;
}

// The csv's rows as the lines of a tristimulus block, in file order or
// reversed.
std::string csv_block(bool reversed)
{
    std::vector<CsvRow> rows = read_csv();
    if (reversed) std::reverse(rows.begin(), rows.end());
    std::string text = "clr__tristimulus\n";
    for (const CsvRow &r : rows)
        text += r.text[0] + " " + r.text[1] + " " + r.text[2] + " " + r.text[3] + "\n";
    return text + "end__tristimulus\n";
}

const float *precomputed_bins(int n)
{
    return &colour::kBuiltinTables.bins[colour::builtin_table_offset(n)];
}

// Every column of every set's table (of sets up to `largest` bins; 1 to 10
// always exist) sums to 1, and the one-bin row is (1, 1, 1).
void expect_normalised_sets(int largest)
{
    for (int n = 1; n <= largest; ++n) {
        const CLR_SAMPLE_SET *set = CLR_find(n);
        if (n > 10 && !set) continue;
        ASSERT_NE(set, nullptr) << n;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(column_sum(set->table, n, c), 1.0, 2e-6) << "n " << n << " column " << c;
    }
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(CLR_find(1)->table[c], 1.0f, 2e-6);
}

// Each column of the resampled table times the row spacing sums to 1.
void expect_normalised_resampled()
{
    const int res = zep::colour_resolution();
    const double d = (zep::colour_max_wavelength() - zep::colour_min_wavelength()) / (res - 1);
    const float *t = zep::colour_resampled();
    ASSERT_NE(t, nullptr);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(column_sum(t, res, c) * d, 1.0, 2e-6) << c;
}

// ---- Built-in data ------------------------------------------------------

TEST(ColourBuiltinRows, MatchTheCsvRowForRow)
{
    std::vector<CsvRow> rows = read_csv();
    ASSERT_EQ(rows.size(), static_cast<size_t>(colour::kBuiltinRowCount));
    for (int i = 0; i < colour::kBuiltinRowCount; ++i) {
        const colour::Row &r = colour::kCie1931[i];
        EXPECT_EQ(r.wavelength, rows[i].value[0]) << i;
        EXPECT_EQ(r.x, rows[i].value[1]) << i;
        EXPECT_EQ(r.y, rows[i].value[2]) << i;
        EXPECT_EQ(r.z, rows[i].value[3]) << i;
    }
    // Three rows of the standard observer, checked against the csv's source.
    EXPECT_EQ(colour::kCie1931[0].x, 0.0014f);
    EXPECT_EQ(colour::kCie1931[12].wavelength, 440.0f);
    EXPECT_EQ(colour::kCie1931[12].z, 1.7471f);
    EXPECT_EQ(colour::kCie1931[80].wavelength, 780.0f);
}

TEST_F(ColourTest, WithoutConfigurationHoldsTheBuiltInValues)
{
    ASSERT_EQ(CLR_init(nullptr), 0);
    EXPECT_TRUE(reports.empty());

    struct Triple {
        const char *name;
        const float *value;
        float x, y, z;
    };
    const Triple triples[] = {
        {"red", CLR_def_red_primary(), 0.67f, 0.33f, 0.0f},
        {"green", CLR_def_green_primary(), 0.21f, 0.71f, 0.08f},
        {"blue", CLR_def_blue_primary(), 0.14f, 0.08f, 0.78f},
        {"white", CLR_def_white_point(), 0.31f, 0.316f, 0.374f},
    };
    for (const Triple &t : triples) {
        EXPECT_EQ(t.value[0], t.x) << t.name;
        EXPECT_EQ(t.value[1], t.y) << t.name;
        EXPECT_EQ(t.value[2], t.z) << t.name;
    }
    EXPECT_EQ(zep::colour_default_samples(), 3);
    EXPECT_EQ(zep::colour_min_wavelength(), 380.0f);
    EXPECT_EQ(zep::colour_max_wavelength(), 780.0f);
    EXPECT_EQ(zep::colour_resolution(), 401);
    EXPECT_EQ(zep::colour_resampled(), colour::kBuiltinTables.resampled);
    EXPECT_EQ(zep::colour_row_count(), 0);
    EXPECT_EQ(zep::colour_set_count(), 10);

    for (int n = 1; n <= 10; ++n) {
        const CLR_SAMPLE_SET *set = CLR_find(n);
        ASSERT_NE(set, nullptr) << n;
        EXPECT_EQ(set->count, n);
        EXPECT_EQ(set->uniform, 0);
        for (int i = 0; i <= n; ++i)
            EXPECT_EQ(set->bounds[i], colour::kBuiltinBounds[colour::builtin_bounds_offset(n) + i]);
        for (int k = 0; k < 3 * n; ++k)
            EXPECT_GE(set->table[k], 0.0f) << n;
    }
    EXPECT_EQ(CLR_find(3)->bounds[0], 414.0f);
    EXPECT_EQ(CLR_find(10)->bounds[10], 649.0f);
    expect_normalised_sets(10);
    expect_normalised_resampled();
    EXPECT_EQ(CLR_find(0), nullptr);
    EXPECT_EQ(CLR_find(11), nullptr);
    EXPECT_EQ(CLR_find(-1), nullptr);
}

// Paths that compute the tables here from the built-in rows or from the
// same rows given in the file must give the compiler's numbers exactly.
TEST_F(ColourTest, ComputedTablesEqualThePrecomputedOnes)
{
    struct Case {
        const char *name;
        std::string config;
        int rows;
    };
    const Case cases[] = {
        {"built-in rows after a change", "clr__sample_bins 1 545 666\n", 81},
        {"rows of a block", csv_block(false), 81},
        {"rows of a block, reversed", csv_block(true), 81},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CLR_exit();
        write_config(c.config);
        ASSERT_EQ(CLR_init(nullptr), 0);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(zep::colour_row_count(), c.rows);
        const float *t = zep::colour_resampled();
        ASSERT_NE(t, colour::kBuiltinTables.resampled);
        for (int k = 0; k < 3 * 401; ++k)
            ASSERT_EQ(t[k], colour::kBuiltinTables.resampled[k]) << "entry " << k;
        for (int n = 1; n <= 10; ++n)
            for (int k = 0; k < 3 * n; ++k)
                ASSERT_EQ(CLR_find(n)->table[k], precomputed_bins(n)[k]) << n << " " << k;
    }
}

// ---- Keys ---------------------------------------------------------------

TEST_F(ColourTest, ColourKeysAndDefaultSamplesSetTheirValues)
{
    write_config("clr__default_samples 7\n"
                 "clr__default_red_primary 0.64 0.33 0.03\n"
                 "clr__default_green_primary 0.3 0.6 0.1\n"
                 "clr__default_blue_primary .15 6e-2 0.79\n"
                 "clr__default_white_point 0.3127 0.329 0.3583\n");
    ASSERT_EQ(CLR_init(nullptr), 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(zep::colour_default_samples(), 7);
    const float *r = CLR_def_red_primary(), *g = CLR_def_green_primary();
    const float *b = CLR_def_blue_primary(), *w = CLR_def_white_point();
    EXPECT_EQ(r[0], 0.64f);
    EXPECT_EQ(r[2], 0.03f);
    EXPECT_EQ(g[1], 0.6f);
    EXPECT_EQ(b[0], 0.15f);
    EXPECT_EQ(b[1], 0.06f);
    EXPECT_EQ(w[0], 0.3127f);
    EXPECT_EQ(w[1], 0.329f);
    EXPECT_EQ(w[2], 0.3583f);
    // None of these touch the tables.
    EXPECT_EQ(zep::colour_resampled(), colour::kBuiltinTables.resampled);
}

TEST_F(ColourTest, RangeAndResolutionKeysRecomputeOnlyWhenTheyChangeSomething)
{
    struct Case {
        const char *config;
        float min, max;
        int resolution;
        bool computed;
    };
    const Case cases[] = {
        {"clr__min_wavelength 380\nclr__max_wavelength 780.0\nclr__tristimulus_tab_res 401\n", 380,
         780, 401, false},
        {"clr__min_wavelength 400\n", 400, 780, 401, true},
        {"clr__max_wavelength 700\n", 380, 700, 401, true},
        {"clr__min_wavelength 300\nclr__max_wavelength 830\n", 300, 830, 401, true},
        {"clr__tristimulus_tab_res 101\n", 380, 780, 101, true},
        {"clr__tristimulus_tab_res 3\n", 380, 780, 3, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config);
        CLR_exit();
        write_config(c.config);
        ASSERT_EQ(CLR_init(nullptr), 0);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(zep::colour_min_wavelength(), c.min);
        EXPECT_EQ(zep::colour_max_wavelength(), c.max);
        EXPECT_EQ(zep::colour_resolution(), c.resolution);
        EXPECT_EQ(zep::colour_resampled() != colour::kBuiltinTables.resampled, c.computed);
        EXPECT_EQ(zep::colour_row_count(), c.computed ? 81 : 0);
        expect_normalised_resampled();
        expect_normalised_sets(10);
    }
    // Three rows, at 380, 580 and 780 nm, move the shares between the bins.
    EXPECT_NE(CLR_find(3)->table[0], precomputed_bins(3)[0]);
}

// Hand-worked resampling and bins. Rows are read as a piecewise-linear
// function from (min, 0) to (max, 0); the last row is its value at max.
TEST_F(ColourTest, ResamplesAndIntegratesHandWorkedFunctions)
{
    struct Case {
        const char *name;
        const char *config;
        std::vector<float> x;        // the resampled x column
        std::vector<float> two_bins; // the X column of the 2-bin set
    };
    const char *range = "clr__min_wavelength 400\nclr__max_wavelength 600\n"
                        "clr__sample_bins 2 400 500 600\n";
    const Case cases[] = {
        // A triangle from the virtual end rows: raw 0, .5, 1, .5, 0; sum * 50 = 100.
        {"triangle",
         "clr__tristimulus_tab_res 5\nclr__tristimulus\n500 1 2 4\nend__tristimulus\n",
         {0, 0.005f, 0.01f, 0.005f, 0},
         {0.75f, 0.25f}},
        // Rows that cover both ends: a constant, its value at max included.
        {"constant",
         "clr__tristimulus_tab_res 3\nclr__tristimulus\n400 1 1 1\n600 1 1 1\n"
         "end__tristimulus\n",
         {1 / 300.0f, 1 / 300.0f, 1 / 300.0f},
         {2 / 3.0f, 1 / 3.0f}},
        // Rows beyond both ends cut at min and max.
        {"beyond the range",
         "clr__tristimulus_tab_res 3\nclr__tristimulus\n350 1 1 1\n"
         "650 1 1 1\nend__tristimulus\n",
         {1 / 300.0f, 1 / 300.0f, 1 / 300.0f},
         {2 / 3.0f, 1 / 3.0f}},
        // Given out of order, entered sorted.
        {"unsorted",
         "clr__tristimulus_tab_res 5\nclr__tristimulus\n600 0 0 0\n500 1 1 1\n"
         "400 0 0 0\nend__tristimulus\n",
         {0, 0.005f, 0.01f, 0.005f, 0},
         {0.75f, 0.25f}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CLR_exit();
        write_config(std::string(range) + c.config);
        ASSERT_EQ(CLR_init(nullptr), 0);
        EXPECT_TRUE(reports.empty());
        ASSERT_EQ(zep::colour_resolution(), static_cast<int>(c.x.size()));
        const float *t = zep::colour_resampled();
        for (size_t j = 0; j < c.x.size(); ++j)
            EXPECT_NEAR(t[3 * j], c.x[j], 1e-7) << j;
        const CLR_SAMPLE_SET *two = CLR_find(2);
        ASSERT_NE(two, nullptr);
        EXPECT_NEAR(two->table[0], c.two_bins[0], 1e-6);
        EXPECT_NEAR(two->table[3], c.two_bins[1], 1e-6);
        expect_normalised_sets(10);
    }

    // Built-in 3-bin set over the triangle: inner boundaries 492 and 568
    // take rows 400 and 450, then 500 and 550, then 600.
    CLR_exit();
    write_config(std::string(range) + cases[0].config);
    ASSERT_EQ(CLR_init(nullptr), 0);
    const float *three = CLR_find(3)->table;
    EXPECT_NEAR(three[0], 0.25f, 1e-6);
    EXPECT_NEAR(three[3], 0.75f, 1e-6);
    EXPECT_NEAR(three[6], 0.0f, 1e-6);
    // The y and z columns have the same shape, so the same normalised values.
    EXPECT_NEAR(zep::colour_resampled()[3 * 2 + 1], 0.01f, 1e-7);
    EXPECT_NEAR(zep::colour_resampled()[3 * 2 + 2], 0.01f, 1e-7);
}

// Two rows of one wavelength make a step; the later one in the file goes
// after the earlier and starts the next segment.
TEST_F(ColourTest, RowsOfEqualWavelengthMakeAStepInFileOrder)
{
    write_config("clr__min_wavelength 400\nclr__max_wavelength 600\n"
                 "clr__tristimulus_tab_res 201\nclr__tristimulus\n"
                 "400 0 0 0\n500 1 1 1\n500 3 3 3\n600 0 0 0\nend__tristimulus\n");
    ASSERT_EQ(CLR_init(nullptr), 0);
    const float *t = zep::colour_resampled();
    // Rows at 499 nm (0.99 before scaling) and 500 nm (3).
    EXPECT_NEAR(t[3 * 99] / t[3 * 100], 0.99 / 3, 1e-5);
    EXPECT_NEAR(t[3 * 101] / t[3 * 100], 2.97 / 3, 1e-5);
    expect_normalised_resampled();
}

TEST_F(ColourTest, UniformThreeBinsSpanTheDefaultRange)
{
    write_config("clr__sample_bins 3 uniform\n");
    ASSERT_EQ(CLR_init(nullptr), 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(zep::colour_set_count(), 10);
    const CLR_SAMPLE_SET *set = CLR_find(3);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->count, 3);
    EXPECT_NE(set->uniform, 0);
    const float expected[] = {380, 513.333f, 646.667f, 780};
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(set->bounds[i], expected[i], 1e-3) << i;
    expect_normalised_sets(10);

    // Bin 0 takes the resampled rows at 380 to 513 nm (d = 1).
    const float *t = zep::colour_resampled();
    double x = 0;
    for (int j = 0; j <= 133; ++j)
        x += t[3 * j];
    EXPECT_NEAR(set->table[0], x, 1e-6);
}

TEST_F(ColourTest, LaterSampleBinsReplaceEarlierOnes)
{
    write_config("clr__sample_bins 12 uniform\n"
                 "clr__sample_bins 3 400 450 500 550\n"
                 "clr__sample_bins 3 uniform\n"
                 "clr__sample_bins 1 500 600\n");
    ASSERT_EQ(CLR_init(nullptr), 0);
    EXPECT_EQ(zep::colour_set_count(), 11);
    EXPECT_NE(CLR_find(3)->uniform, 0);
    EXPECT_EQ(CLR_find(1)->bounds[0], 500.0f);
    const CLR_SAMPLE_SET *twelve = CLR_find(12);
    ASSERT_NE(twelve, nullptr);
    for (int i = 0; i <= 12; ++i)
        EXPECT_NEAR(twelve->bounds[i], 380 + i * 400.0 / 12, 1e-3) << i;
    expect_normalised_sets(12);
}

TEST_F(ColourTest, BoundariesContinueOverLinesEndingInABackslash)
{
    write_config("clr__sample_bins 4 400 \\\n"
                 "500 600 \\\n"
                 "700 780\n"
                 "clr__sample_bins 2 410 \\ these words are skipped\n"
                 "510 610\n"
                 "\n"
                 "clr__min_wavelength\n");
    ASSERT_EQ(CLR_init(nullptr), 0);
    // Line numbers count the continuation lines and the empty line.
    EXPECT_EQ(messages_of(zep::kConfigSyntax), std::vector<std::string>{syntax_message(7)});
    const float four[] = {400, 500, 600, 700, 780};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(CLR_find(4)->bounds[i], four[i]);
    const float two[] = {410, 510, 610};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(CLR_find(2)->bounds[i], two[i]);
    EXPECT_EQ(CLR_find(4)->uniform, 0);
}

TEST_F(ColourTest, WrongWordCountsAreReportedAndSkipped)
{
    const char *bad_lines[] = {
        "clr__default_samples",
        "clr__default_samples 4 5",
        "clr__default_red_primary 0.1 0.2",
        "clr__default_white_point 0.1 0.2 0.3 0.4",
        "clr__min_wavelength",
        "clr__max_wavelength 700 800",
        "clr__tristimulus_tab_res",
        "clr__tristimulus now",
        "end__tristimulus now",
    };
    for (const char *bad : bad_lines) {
        SCOPED_TRACE(bad);
        CLR_exit();
        reports.clear();
        write_config(std::string("clr__default_samples 6\n") + bad +
                     "\nclr__default_white_point 0.3 0.3 0.4\n");
        ASSERT_EQ(CLR_init(nullptr), 0);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].severity, ERR_ERROR);
        EXPECT_EQ(reports[0].message, syntax_message(2));
        EXPECT_EQ(zep::colour_default_samples(), 6);
        EXPECT_EQ(CLR_def_white_point()[0], 0.3f);
        EXPECT_EQ(CLR_def_red_primary()[0], 0.67f);
        EXPECT_EQ(zep::colour_max_wavelength(), 780.0f);
        EXPECT_EQ(zep::colour_resolution(), 401);
        EXPECT_EQ(zep::colour_resampled(), colour::kBuiltinTables.resampled);
    }
}

TEST_F(ColourTest, LinesOutsideACompleteBlockLeaveTheBuiltInTables)
{
    struct Case {
        const char *name;
        std::string config;
        int rows;
    };
    const Case cases[] = {
        {"rows without a block", "500 1 2 3\nsome words\n# a comment\nfmt__gamma_default 2.2\n", 0},
        {"a block without an end", "clr__tristimulus\n500 1 2 3\n", 1},
        {"an empty block", "clr__tristimulus\nend__tristimulus\n", 0},
        {"rows after the end", "clr__tristimulus\nend__tristimulus\n500 1 2 3\n", 0},
        {"an end before the start", "end__tristimulus\nclr__tristimulus\n500 1 2 3\n", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CLR_exit();
        write_config(c.config);
        ASSERT_EQ(CLR_init(nullptr), 0);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(zep::colour_row_count(), c.rows);
        EXPECT_EQ(zep::colour_resampled(), colour::kBuiltinTables.resampled);
        for (int k = 0; k < 9; ++k)
            EXPECT_EQ(CLR_find(3)->table[k], precomputed_bins(3)[k]);
    }
}

// ---- Checks, messages and tear-down -------------------------------------

TEST_F(ColourTest, MalformedFilesAreReportedAndTearTheDatabaseDown)
{
    struct Case {
        std::string config;
        std::function<std::string(const ColourTest &)> message;
    };
    // Each case's text follows two lines written ahead of it; its line
    // numbers count from its own first line.
    constexpr int kAhead = 2;
    auto number = [](int line) {
        return [line](const ColourTest &) { return filled(zep::kConfigNumber, line + kAhead); };
    };
    auto syntax = [](int line) {
        return [line](const ColourTest &t) { return t.syntax_message(line + kAhead); };
    };
    auto range = [](double min, double max) {
        return [min, max](const ColourTest &) { return filled(zep::kConfigRange, min, max); };
    };
    auto resolution = [](int r) {
        return [r](const ColourTest &) { return filled(zep::kConfigResolution, r); };
    };
    auto matching = [](const ColourTest &) { return std::string(zep::kConfigMatching.text); };

    const Case cases[] = {
        {"clr__min_wavelength 800\n",
         [](const ColourTest &) {
             return std::string("Invalid wavelength sampling range, (800.000000, 780.000000); "
                                "(check the configuration file)");
         }},
        {"clr__max_wavelength 0\n", range(380, 0)},
        {"clr__min_wavelength -1\n", range(-1, 780)},
        {"clr__min_wavelength 500\nclr__max_wavelength 500\n", range(500, 500)},
        {"clr__max_wavelength 1e99\n", range(380, INFINITY)},
        {"clr__tristimulus_tab_res 1\n",
         [](const ColourTest &) {
             return std::string("Invalid table resolution (1); (check the configuration file)");
         }},
        {"clr__tristimulus_tab_res -4\n", resolution(-4)},
        {"clr__tristimulus\n500 0 1 1\n600 0 1 1\nend__tristimulus\n", matching},
        {"clr__tristimulus\n500 1 1 0\nend__tristimulus\n", matching},
        // A block that never ends and has no rows: nothing to resample.
        {"clr__tristimulus\nclr__min_wavelength 400\n", matching},
        {"# colours\nclr__default_white_point 0.3 0.3x 0.4\n",
         [](const ColourTest &) {
             return std::string("Invalid configuration file syntax, line 4; expecting a number");
         }},
        {"clr__default_red_primary 0.6 0.3 \"\"\n", number(1)},
        {"clr__min_wavelength four\n", number(1)},
        {"clr__max_wavelength 1e100\n", number(1)},
        {"clr__tristimulus\n500 1 1\n", number(2)},
        {"clr__tristimulus\n500 1 one 1\nend__tristimulus\n", number(2)},
        {"clr__sample_bins 2 400 x 600\n", number(1)},
        {"clr__sample_bins 3 400 500\n", syntax(1)},
        {"clr__sample_bins 0 uniform\n", syntax(1)},
        {"clr__sample_bins -2 1 2\n", syntax(1)},
        {"clr__sample_bins\n", syntax(1)},
        {"clr__sample_bins 3\n", syntax(1)},
        {"\n\nclr__sample_bins 3 400 500 \\\n", syntax(3)},
        {"clr__sample_bins 3 400 \\\n\nclr__default_samples 4\n", syntax(2)},
        {"clr__sample_bins 3 400 \\\n500 \\\n600\n", syntax(3)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config);
        CLR_exit();
        reports.clear();
        write_config("clr__default_samples 9\nclr__default_blue_primary 0.1 0.1 0.8\n" + c.config);
        std::string expected = c.message(*this);
        EXPECT_EQ(CLR_init(nullptr), -1);
        EXPECT_FALSE(zep::colour_is_built());
        EXPECT_EQ(zep::colour_set_count(), 0);
        EXPECT_EQ(zep::colour_resampled(), nullptr);
        EXPECT_EQ(cfg__path(), nullptr); // the store went with it
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].severity, ERR_ERROR);
        EXPECT_EQ(reports[0].message, expected);
        // What was read before the failure went with the tear-down.
        EXPECT_EQ(zep::colour_default_samples(), 3);
    }
}

TEST_F(ColourTest, AFailedBuildIsRetriedFromScratchByTheNextQuery)
{
    write_config("clr__default_red_primary 0.5 0.4 0.1\n"
                 "clr__sample_bins 4 uniform\n"
                 "clr__min_wavelength 800\n");
    EXPECT_EQ(CLR_find(3), nullptr);
    EXPECT_EQ(messages_of(zep::kConfigRange).size(), 1u);

    // Each query builds again; the answers come from the torn-down state.
    EXPECT_EQ(CLR_def_red_primary()[0], 0.67f);
    EXPECT_EQ(messages_of(zep::kConfigRange).size(), 2u);
    EXPECT_FALSE(zep::colour_is_built());

    write_config("clr__default_samples 5\n");
    const CLR_SAMPLE_SET *three = CLR_find(3);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(messages_of(zep::kConfigRange).size(), 2u);
    EXPECT_EQ(zep::colour_default_samples(), 5);
    EXPECT_EQ(zep::colour_min_wavelength(), 380.0f);
    EXPECT_EQ(CLR_find(4)->uniform, 0);
    EXPECT_EQ(CLR_def_red_primary()[0], 0.67f);
    EXPECT_EQ(zep::colour_resampled(), colour::kBuiltinTables.resampled);
}

TEST_F(ColourTest, InitWhenBuiltOnlyRewinds)
{
    write_config("clr__default_samples 7\n");
    ASSERT_EQ(CLR_init(nullptr), 0);
    write_config("clr__default_samples 8\n");
    EXPECT_EQ(CLR_init(nullptr), 0);
    EXPECT_EQ(zep::colour_default_samples(), 7);
    EXPECT_EQ(CLR_exit(), 0);
    EXPECT_FALSE(zep::colour_is_built());
    EXPECT_EQ(CLR_exit(), 0); // also when not built
    ASSERT_EQ(CLR_init(nullptr), 0);
    EXPECT_EQ(zep::colour_default_samples(), 8);
}

TEST_F(ColourTest, QueriesBuildOnDemandAndSaySoAtSeverityZero)
{
    struct Query {
        const char *name;
        std::function<bool()> call; // true when it answered
    };
    const Query queries[] = {
        {"CLR_find", [] { return CLR_find(3) != nullptr; }},
        {"CLR_def_red_primary", [] { return CLR_def_red_primary() != nullptr; }},
        {"CLR_def_green_primary", [] { return CLR_def_green_primary() != nullptr; }},
        {"CLR_def_blue_primary", [] { return CLR_def_blue_primary() != nullptr; }},
        {"CLR_def_white_point", [] { return CLR_def_white_point() != nullptr; }},
    };
    int was_masked = ERR_unmask_s(ERR_DEBUG);
    for (const Query &q : queries) {
        SCOPED_TRACE(q.name);
        CLR_exit();
        reports.clear();
        EXPECT_TRUE(q.call());
        EXPECT_TRUE(zep::colour_is_built());
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].severity, ERR_DEBUG);
        EXPECT_EQ(reports[0].message,
                  std::string("clr, initializing database for ") + q.name + " request");
        EXPECT_EQ(reports[0].format, zep::kConfigInitDatabase.text);
        q.call();
        EXPECT_EQ(reports.size(), 1u); // built: no second report
    }

    // When the build fails, CLR_find says nothing more; the others still do.
    write_config("clr__tristimulus_tab_res 0\n");
    for (const Query &q : queries) {
        SCOPED_TRACE(q.name);
        CLR_exit();
        reports.clear();
        q.call();
        EXPECT_EQ(messages_of(zep::kConfigResolution).size(), 1u);
        EXPECT_EQ(messages_of(zep::kConfigInitDatabase).size(),
                  std::string(q.name) == "CLR_find" ? 0u : 1u);
    }
    EXPECT_EQ(CLR_find(3), nullptr);
    EXPECT_EQ(CLR_def_white_point()[1], 0.316f);
    if (was_masked) ERR_mask_s(ERR_DEBUG);
}

// ---- Running out of memory ----------------------------------------------

// Fails the 1st, 2nd, ... allocation of a build until one goes through.
// A failure in the build itself gives -1 and a torn-down database; one while
// the file is read leaves the built-in values (the file is then taken as
// missing, the exhaustion having been reported). Returns the number of
// failing steps.
int exhaust_build(const std::function<void()> &check_file_values)
{
    int steps = 0;
    for (int n = 1; n < 1000; ++n) {
        CLR_exit();
        reports.clear();
        err__alloc_fail(n, 0);
        int rc = CLR_init(nullptr);
        int failures = err__alloc_fail(0, 0);
        if (failures == 0) {
            EXPECT_EQ(rc, 0);
            EXPECT_TRUE(reports.empty());
            check_file_values();
            return steps;
        }
        ++steps;
        SCOPED_TRACE("allocation " + std::to_string(n));
        EXPECT_FALSE(reports.empty());
        if (rc == 0) {
            EXPECT_TRUE(zep::colour_is_built());
            EXPECT_EQ(zep::colour_default_samples(), 3);
            EXPECT_EQ(zep::colour_resampled(), colour::kBuiltinTables.resampled);
        } else {
            EXPECT_EQ(rc, -1);
            EXPECT_FALSE(zep::colour_is_built());
            EXPECT_EQ(zep::colour_set_count(), 0);
        }
    }
    ADD_FAILURE() << "the build never succeeded";
    return steps;
}

TEST_F(ColourTest, OutOfMemoryWithoutConfiguration)
{
    int steps = exhaust_build([] { EXPECT_EQ(CLR_find(10)->count, 10); });
    EXPECT_GE(steps, 12); // two lists and ten sets at least
    CLR_exit();
    ASSERT_EQ(CLR_init(nullptr), 0);
    expect_normalised_sets(10);
}

TEST_F(ColourTest, OutOfMemoryWithEveryKindOfLine)
{
    write_config("clr__default_samples 6\n"
                 "clr__sample_bins 3 uniform\n"
                 "clr__sample_bins 12 400 420 440 460 480 500 \\\n"
                 "520 540 560 580 600 620 640\n"
                 "clr__tristimulus\n500 1 1 1\n550 2 2 2\n600 0.5 1 1\nend__tristimulus\n"
                 "clr__min_wavelength 450\n");
    int steps = exhaust_build([] {
        EXPECT_EQ(zep::colour_default_samples(), 6);
        EXPECT_EQ(zep::colour_row_count(), 3);
        EXPECT_NE(CLR_find(12), nullptr);
        EXPECT_NE(CLR_find(3)->uniform, 0);
    });
    EXPECT_GE(steps, 12 + 2 + 3 + 1);
    CLR_exit();
    ASSERT_EQ(CLR_init(nullptr), 0);
    expect_normalised_sets(12);
}

} // namespace
