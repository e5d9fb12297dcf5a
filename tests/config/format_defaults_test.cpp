// The format-defaults database: built-in values, the effect of every key,
// the picture-format table, syntax reports with their line numbers, the
// shared walk of FMT_find and FMT_info, on-demand building, shut-down and
// running out of memory.
#include <functional>
#include <string>
#include <vector>

#include "config/config_support.h"
#include "config/format_defaults.h"

extern "C" int zep_test_c_formats(const char *find, char *names, int size, int *width,
                                  int *frame_rate);

namespace {

namespace fs = std::filesystem;
using config_test::reports;
using config_test::reports_of;

class FormatDefaults : public config_test::ConfigTest {
  protected:
    void SetUp() override
    {
        ConfigTest::SetUp();
        if (HasFatalFailure()) return;
        // Numbers outlive FMT_exit: put the built-in ones back first.
        write_home("fmt__gamma_table_res 4096\nfmt__gamma_default 2.2\n"
                   "fmt__input_gamma_default 1.0\nfmt__frame_rate 30\n"
                   "fmt__dominance odd\nfmt__swatch_size 0\n");
        ASSERT_EQ(FMT_init(nullptr), 0);
        FMT_exit();
        fs::remove(home_file());
        reports.clear();
    }

    // Builds the database from a file of the given text.
    void load(const std::string &text)
    {
        write_home(text);
        ASSERT_EQ(FMT_init(nullptr), 0);
    }

    // The names FMT_info lists from the cursor on.
    static std::vector<std::string> walk()
    {
        std::vector<std::string> names;
        while (const FMT_ASPECT *a = FMT_info()) names.emplace_back(a->name);
        return names;
    }

    // The line numbers of the syntax reports, checking their text.
    std::vector<int> syntax_lines() const
    {
        std::vector<int> lines;
        for (const auto &r : reports_of(zep::kConfigSyntax)) {
            EXPECT_EQ(r.severity, ERR_ERROR);
            std::string prefix = home_file().string() + ": Invalid configuration file syntax, line ";
            EXPECT_EQ(r.message.substr(0, prefix.size()), prefix);
            lines.push_back(std::stoi(r.message.substr(prefix.size())));
        }
        return lines;
    }
};

void expect_builtin_texts()
{
    EXPECT_STREQ(FMT_def_aspect(), "ntsc_640");
    EXPECT_STREQ(FMT_def_image_data(), "rgb");
    EXPECT_STREQ(zep::fmt_key_default_current(), "rla");
    EXPECT_STREQ(zep::fmt_name_default_current(), "im");
}

TEST_F(FormatDefaults, BuiltInValuesWithoutFile)
{
    if (builtin_file_present()) GTEST_SKIP() << "built-in root has a file";
    ASSERT_EQ(FMT_init(nullptr), 0);
    expect_builtin_texts();
    EXPECT_FLOAT_EQ(FMT_def_gamma(), 2.2f);
    EXPECT_FLOAT_EQ(FMT_def_input_gamma(), 1.0f);
    EXPECT_EQ(FMT_def_gamma_tab_res(), 4096);
    EXPECT_EQ(FMT_def_frame_rate(), 30);
    EXPECT_EQ(FMT_def_dominance(), 1);
    EXPECT_EQ(zep::fmt_swatch_size_current(), 0);

    const FMT_ASPECT *a = FMT_info();
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->name, "ntsc_640");
    EXPECT_EQ(a->width, 640);
    EXPECT_EQ(a->height, 486);
    EXPECT_FLOAT_EQ(a->aspect, 1.33f);
    EXPECT_EQ(FMT_info(), nullptr);
    EXPECT_TRUE(reports.empty());
}

// ---- Keys ----------------------------------------------------------------------

struct KeyCase {
    const char *what;
    const char *file;
    std::function<void()> check;
};

class KeyEffects : public FormatDefaults, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyEffects, KeySetsItsValue)
{
    load(GetParam().file);
    GetParam().check();
    EXPECT_TRUE(reports.empty()) << reports.front().message;
}

INSTANTIATE_TEST_SUITE_P(
    Config, KeyEffects,
    ::testing::Values(
        KeyCase{"gamma_table_res", "fmt__gamma_table_res 1024\n",
                [] {
                    EXPECT_EQ(FMT_def_gamma_tab_res(), 1024);
                    EXPECT_EQ(zep::fmt_gamma_table_res_current(), 1024);
                }},
        KeyCase{"gamma_table_res_unchecked", "fmt__gamma_table_res -5\n",
                [] { EXPECT_EQ(FMT_def_gamma_tab_res(), -5); }},
        KeyCase{"gamma", "fmt__gamma_default 1.8\n",
                [] {
                    EXPECT_FLOAT_EQ(FMT_def_gamma(), 1.8f);
                    EXPECT_FLOAT_EQ(zep::fmt_gamma_current(), 1.8f);
                }},
        KeyCase{"gamma_not_a_number", "fmt__gamma_default 1.8x\n",
                [] { EXPECT_FLOAT_EQ(FMT_def_gamma(), 2.2f); }},
        KeyCase{"input_gamma", "fmt__input_gamma_default .45\n",
                [] { EXPECT_FLOAT_EQ(FMT_def_input_gamma(), 0.45f); }},
        KeyCase{"input_gamma_not_a_number", "fmt__input_gamma_default 1e\n",
                [] { EXPECT_FLOAT_EQ(FMT_def_input_gamma(), 1.0f); }},
        KeyCase{"key", "fmt__key_default tif\n",
                [] { EXPECT_STREQ(zep::fmt_key_default_current(), "tif"); }},
        KeyCase{"name", "fmt__name_default 'frame one'\n",
                [] { EXPECT_STREQ(zep::fmt_name_default_current(), "frame one"); }},
        KeyCase{"channels", "fmt__chan_default rgba\n",
                [] { EXPECT_STREQ(FMT_def_image_data(), "rgba"); }},
        KeyCase{"later_line_wins", "fmt__chan_default rgba\nfmt__chan_default rgbaz\n",
                [] { EXPECT_STREQ(FMT_def_image_data(), "rgbaz"); }},
        KeyCase{"dominance_even", "fmt__dominance even\n",
                [] { EXPECT_EQ(FMT_def_dominance(), 0); }},
        KeyCase{"dominance_odd", "fmt__dominance even\nfmt__dominance odd\n",
                [] { EXPECT_EQ(FMT_def_dominance(), 1); }},
        KeyCase{"dominance_case_sensitive", "fmt__dominance EVEN\n",
                [] { EXPECT_EQ(FMT_def_dominance(), 1); }},
        KeyCase{"frame_rate", "fmt__frame_rate 25\n",
                [] { EXPECT_EQ(FMT_def_frame_rate(), 25); }},
        KeyCase{"frame_rate_zero_ignored", "fmt__frame_rate 0\n",
                [] { EXPECT_EQ(FMT_def_frame_rate(), 30); }},
        KeyCase{"frame_rate_negative_ignored", "fmt__frame_rate -24\n",
                [] { EXPECT_EQ(FMT_def_frame_rate(), 30); }},
        KeyCase{"swatch_size", "fmt__swatch_size 64\n",
                [] { EXPECT_EQ(zep::fmt_swatch_size_current(), 64); }},
        KeyCase{"swatch_size_none", "fmt__swatch_size 64\nfmt__swatch_size none\n",
                [] { EXPECT_EQ(zep::fmt_swatch_size_current(), 0); }},
        KeyCase{"swatch_size_negative", "fmt__swatch_size 64\nfmt__swatch_size -5\n",
                [] { EXPECT_EQ(zep::fmt_swatch_size_current(), 0); }},
        KeyCase{"aspect_default_known",
                "fmt__aspect_default pal\nfmt__aspect_table\npal 720 576 1.33\nend_aspect_table\n",
                [] { EXPECT_STREQ(FMT_def_aspect(), "pal"); }},
        KeyCase{"aspect_default_unknown", "fmt__aspect_default pal\n",
                [] { EXPECT_STREQ(FMT_def_aspect(), "ntsc_640"); }},
        KeyCase{"aspect_default_last_wins",
                "fmt__aspect_default x\nfmt__aspect_default ntsc_640\n"
                "fmt__aspect_table\nx 1 1 1\nend_aspect_table\n",
                [] { EXPECT_STREQ(FMT_def_aspect(), "ntsc_640"); }},
        KeyCase{"keys_case_sensitive", "FMT__FRAME_RATE 12\nfmt__frame_rate12\n",
                [] { EXPECT_EQ(FMT_def_frame_rate(), 30); }},
        KeyCase{"other_lines_ignored",
                "# comment\nclr__white_point 0.3 0.3 0.3\nntsc_640 1 1 1\n",
                [] { EXPECT_EQ(FMT_find("ntsc_640")->width, 640); }}),
    [](const ::testing::TestParamInfo<KeyCase> &i) { return std::string(i.param.what); });

TEST_F(FormatDefaults, ExitRestoresTextsButKeepsNumbers)
{
    load("fmt__aspect_default pal\nfmt__key_default tif\nfmt__name_default frame\n"
         "fmt__chan_default rgba\nfmt__gamma_default 1.7\nfmt__frame_rate 24\n"
         "fmt__gamma_table_res 256\nfmt__aspect_table\npal 720 576 1.33\nend_aspect_table\n");
    EXPECT_STREQ(FMT_def_aspect(), "pal");
    EXPECT_STREQ(FMT_def_image_data(), "rgba");
    EXPECT_EQ(FMT_exit(), 0);
    EXPECT_STREQ(zep::fmt_key_default_current(), "rla");
    EXPECT_STREQ(zep::fmt_name_default_current(), "im");
    EXPECT_EQ(zep::fmt_gamma_table_res_current(), 256);
    EXPECT_FLOAT_EQ(zep::fmt_gamma_current(), 1.7f);
    EXPECT_FALSE(zep::fmt_is_built()) << "reading the current values builds nothing";
    EXPECT_EQ(cfg__next_line(), nullptr) << "the store is released";
    EXPECT_EQ(cfg__path(), nullptr);

    if (builtin_file_present()) return;
    fs::remove(home_file());
    expect_builtin_texts(); // rebuilt on demand, now without a file
    EXPECT_EQ(FMT_def_frame_rate(), 24);
    EXPECT_FLOAT_EQ(FMT_def_gamma(), 1.7f);
    EXPECT_EQ(FMT_find("pal"), nullptr);
}

TEST_F(FormatDefaults, ExitWhenNotBuiltReturnsZero)
{
    EXPECT_EQ(FMT_exit(), 0);
    EXPECT_EQ(FMT_exit(), 0);
}

// ---- Picture-format table --------------------------------------------------------

TEST_F(FormatDefaults, TableRowsAreEnteredInOrder)
{
    load("fmt__aspect_table\n"
         "pal 720 576 1.33\n"
         "# a comment inside the table\n"
         "   \n"
         "square 512 512 1\n"
         "odd 100 50 x\n"
         "fmt__frame_rate 25\n"
         "end_aspect_table\n"
         "film 2048 1556 1.85\n");
    EXPECT_EQ(walk(), (std::vector<std::string>{"ntsc_640", "pal", "square", "odd"}));
    const FMT_ASPECT *pal = FMT_find("pal");
    ASSERT_NE(pal, nullptr);
    EXPECT_EQ(pal->width, 720);
    EXPECT_EQ(pal->height, 576);
    EXPECT_FLOAT_EQ(pal->aspect, 1.33f);
    const FMT_ASPECT *odd = FMT_find("odd");
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(odd->aspect, 0.0f) << "a ratio that is not a number gives 0";
    EXPECT_EQ(FMT_def_frame_rate(), 25) << "keys apply inside the table";
    EXPECT_EQ(FMT_find("film"), nullptr) << "rows outside the table are ignored";
    EXPECT_EQ(FMT_find("#"), nullptr);
    EXPECT_EQ(FMT_find("PAL"), nullptr) << "names match case-sensitively";
    EXPECT_TRUE(reports.empty());
}

TEST_F(FormatDefaults, RowReplacesEntryOfSameNameAndMovesIt)
{
    load("fmt__aspect_table\n"
         "ntsc_640 720 486 1.33\n"
         "a 1 2 3\n"
         "b 4 5 6\n"
         "a 7 8 9\n"
         "end_aspect_table\n");
    EXPECT_EQ(walk(), (std::vector<std::string>{"ntsc_640", "b", "a"}));
    EXPECT_EQ(FMT_find("ntsc_640")->width, 720);
    EXPECT_EQ(FMT_find("a")->width, 7);

    FMT_exit();
    fs::remove(home_file());
    if (builtin_file_present()) return;
    ASSERT_EQ(FMT_init(nullptr), 0);
    EXPECT_EQ(FMT_find("ntsc_640")->width, 640) << "the built-in entry is back after exit";
    EXPECT_EQ(FMT_find("a"), nullptr);
}

TEST_F(FormatDefaults, SecondInitRewindsWithoutRereading)
{
    load("fmt__aspect_table\npal 720 576 1.33\nend_aspect_table\nfmt__frame_rate 25\n");
    EXPECT_EQ(walk().size(), 2u);
    write_home("fmt__frame_rate 50\n");
    EXPECT_EQ(FMT_init(nullptr), 0);
    EXPECT_EQ(walk(), (std::vector<std::string>{"ntsc_640", "pal"}));
    EXPECT_EQ(FMT_def_frame_rate(), 25);
}

// ---- Syntax reports ----------------------------------------------------------------

TEST_F(FormatDefaults, WrongWordCountsAreReportedWithLineNumbers)
{
    std::string first_piece = "#" + std::string(253, '-'); // 254 characters
    load("fmt__gamma_default 1.5\n"                         // 1
         "fmt__gamma_default\n"                             // 2
         "\n"                                               // 3
         "fmt__frame_rate 25 fps\n"                         // 4
         + first_piece + " fmt__frame_rate\n" +            // 5 and 6
         "fmt__aspect_table extra\n"                        // 7
         "fmt__aspect_table\n"                              // 8
         "pal 720 576\n"                                    // 9
         "pal 720 576 1.33 more\n"                          // 10
         "# 1 2\n"                                          // 11
         "ok 1 2 3\n"                                       // 12
         "end_aspect_table\n"                               // 13
         "short 1 2\n");                                    // 14
    EXPECT_EQ(syntax_lines(), (std::vector<int>{2, 4, 6, 7, 9, 10}));
    EXPECT_FLOAT_EQ(FMT_def_gamma(), 1.5f) << "the bad line changes nothing";
    EXPECT_EQ(FMT_def_frame_rate(), 30);
    EXPECT_EQ(FMT_find("pal"), nullptr);
    EXPECT_NE(FMT_find("ok"), nullptr) << "the build goes on after a bad line";
}

// ---- The shared walk ------------------------------------------------------------

TEST_F(FormatDefaults, FindAndInfoShareOneCursor)
{
    load("fmt__aspect_table\na 1 1 1\nb 2 2 1\nc 3 3 1\nend_aspect_table\n");
    auto name_of = [](const FMT_ASPECT *a) { return std::string(a ? a->name : "(none)"); };
    EXPECT_EQ(name_of(FMT_info()), "ntsc_640");
    EXPECT_EQ(FMT_find("missing"), nullptr);
    EXPECT_EQ(name_of(FMT_info()), "a") << "a miss leaves the walk where it was";
    EXPECT_EQ(name_of(FMT_find("b")), "b");
    EXPECT_EQ(name_of(FMT_info()), "c") << "a hit continues the walk after it";
    EXPECT_EQ(FMT_info(), nullptr);
    EXPECT_EQ(FMT_find("missing"), nullptr);
    EXPECT_EQ(FMT_info(), nullptr) << "a miss at the end stays at the end";
    EXPECT_EQ(FMT_find(nullptr), nullptr);
    EXPECT_EQ(FMT_init(nullptr), 0);
    EXPECT_EQ(name_of(FMT_info()), "ntsc_640") << "init rewinds";
}

// ---- Sharing the store -------------------------------------------------------------

TEST_F(FormatDefaults, UsesStoreLoadedByTheOtherDatabase)
{
    write_home("clr__resolution 5\nfmt__frame_rate 48\n");
    int catalogue = 0;
    ASSERT_EQ(cfg__read_file(&catalogue), 0);
    while (cfg__next_line()) {} // the other database walked it all
    write_home("fmt__frame_rate 12\n");
    ASSERT_EQ(FMT_init(nullptr), 0);
    EXPECT_EQ(FMT_def_frame_rate(), 48) << "rewound, not re-read";
    EXPECT_EQ(cfg__catalogue(), &catalogue);
}

// ---- On-demand building ----------------------------------------------------------

struct QueryCase {
    const char *name;
    std::function<void()> call;
};

class OnDemand : public FormatDefaults, public ::testing::WithParamInterface<QueryCase> {
  protected:
    void TearDown() override
    {
        ERR_mask_s(ERR_DEBUG);
        FormatDefaults::TearDown();
    }
};

TEST_P(OnDemand, QueryBuildsAndReportsAtSeverityZero)
{
    write_home("fmt__frame_rate 27\n");
    ERR_unmask_s(ERR_DEBUG);
    GetParam().call();
    EXPECT_TRUE(zep::fmt_is_built());
    EXPECT_EQ(FMT_def_frame_rate(), 27) << "the file was read";
    auto seen = reports_of(zep::kConfigInitDatabase);
    ASSERT_EQ(seen.size(), 1u) << "reported once, by the first query only";
    EXPECT_EQ(seen[0].severity, ERR_DEBUG);
    EXPECT_EQ(seen[0].message,
              std::string("fmt, initializing database for ") + GetParam().name + " request");
}

INSTANTIATE_TEST_SUITE_P(
    Config, OnDemand,
    ::testing::Values(QueryCase{"FMT_find", [] { FMT_find("x"); }},
                      QueryCase{"FMT_info", [] { FMT_info(); }},
                      QueryCase{"FMT_def_aspect", [] { FMT_def_aspect(); }},
                      QueryCase{"FMT_def_gamma", [] { FMT_def_gamma(); }},
                      QueryCase{"FMT_def_input_gamma", [] { FMT_def_input_gamma(); }},
                      QueryCase{"FMT_def_gamma_tab_res", [] { FMT_def_gamma_tab_res(); }},
                      QueryCase{"FMT_def_frame_rate", [] { FMT_def_frame_rate(); }},
                      QueryCase{"FMT_def_dominance", [] { FMT_def_dominance(); }},
                      QueryCase{"FMT_def_image_data", [] { FMT_def_image_data(); }}),
    [](const ::testing::TestParamInfo<QueryCase> &i) { return std::string(i.param.name); });

TEST_F(FormatDefaults, OnDemandReportIsSilentWhenSeverityZeroMasked)
{
    EXPECT_FLOAT_EQ(FMT_def_gamma(), 2.2f);
    EXPECT_TRUE(zep::fmt_is_built());
    EXPECT_TRUE(reports.empty());
}

TEST_F(FormatDefaults, FailedOnDemandBuildGivesNoEntry)
{
    ERR_unmask_s(ERR_DEBUG);
    err__alloc_fail(1, 0); // the built-in list element
    EXPECT_EQ(FMT_find("ntsc_640"), nullptr);
    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    EXPECT_FALSE(zep::fmt_is_built());
    err__alloc_fail(1, 0);
    EXPECT_FLOAT_EQ(FMT_def_gamma(), 2.2f) << "the defaults answer either way";
    err__alloc_fail(1, 0);
    EXPECT_EQ(FMT_info(), nullptr);
    err__alloc_fail(0, 0);
    EXPECT_TRUE(reports_of(zep::kConfigInitDatabase).empty());
    ERR_mask_s(ERR_DEBUG);
    EXPECT_NE(FMT_find("ntsc_640"), nullptr) << "works afterwards";
}

// ---- Out of memory ---------------------------------------------------------------

TEST_F(FormatDefaults, InitFailsCleanlyWhenMemoryRunsOut)
{
    const std::string file = "fmt__frame_rate 29\n"
                             "fmt__aspect_default pal\n"
                             "fmt__key_default tif\n"
                             "fmt__name_default frame\n"
                             "fmt__chan_default rgba\n"
                             "fmt__aspect_table\n"
                             "pal 720 576 1.33\n"
                             "ntsc_640 720 486 1.33\n"
                             "end_aspect_table\n";
    write_home(file);
    int failed_alloc = 0, failed_copy = 0, file_skipped = 0;
    int n = 1;
    for (;; ++n) {
        ASSERT_LT(n, 100) << "the build never succeeded";
        SCOPED_TRACE("allocation " + std::to_string(n));
        reports.clear();
        zep__err = 0;
        err__alloc_fail(n, 0);
        int rc = FMT_init(nullptr);
        int injected = err__alloc_fail(0, 0);
        if (injected == 0) {
            ASSERT_EQ(rc, 0);
            break;
        }
        EXPECT_FALSE(reports_of(zep::kConfigNoMemory).empty());
        if (rc == -1) {
            ++failed_alloc;
            EXPECT_FALSE(zep::fmt_is_built()) << "torn down";
            EXPECT_STREQ(zep::fmt_key_default_current(), "rla");
            EXPECT_EQ(cfg__next_line(), nullptr);
        } else if (rc == -10) {
            ++failed_copy;
            EXPECT_TRUE(zep::fmt_is_built()) << "stays built";
            EXPECT_EQ(zep__err, ZEP_E_NOMEM);
            EXPECT_EQ(reports_of(zep::kConfigNoMemory).size(), 2u)
                << "the allocator's report and the database's";
            EXPECT_NE(FMT_find("ntsc_640"), nullptr);
        } else {
            // The store could not be loaded: the built-in values stand.
            ASSERT_EQ(rc, 0);
            ++file_skipped;
            EXPECT_TRUE(zep::fmt_is_built());
            EXPECT_STREQ(FMT_def_image_data(), "rgb");
            EXPECT_EQ(FMT_find("pal"), nullptr);
        }
        FMT_exit();
    }
    EXPECT_GT(failed_alloc, 0);
    EXPECT_GT(failed_copy, 0);
    EXPECT_GT(file_skipped, 0);

    EXPECT_EQ(FMT_def_frame_rate(), 29);
    EXPECT_STREQ(FMT_def_aspect(), "pal");
    EXPECT_STREQ(zep::fmt_key_default_current(), "tif");
    EXPECT_STREQ(zep::fmt_name_default_current(), "frame");
    EXPECT_STREQ(FMT_def_image_data(), "rgba");
    EXPECT_EQ(walk(), (std::vector<std::string>{"pal", "ntsc_640"}));
    EXPECT_EQ(FMT_find("ntsc_640")->width, 720);
}

// ---- From C -------------------------------------------------------------------------

TEST_F(FormatDefaults, InterfaceFromC)
{
    load("fmt__frame_rate 24\nfmt__aspect_table\npal 720 576 1.33\nend_aspect_table\n");
    char names[64] = {};
    int width = 0, frame_rate = 0;
    EXPECT_EQ(zep_test_c_formats("pal", names, sizeof names, &width, &frame_rate), 2);
    EXPECT_STREQ(names, "ntsc_640 pal");
    EXPECT_EQ(width, 720);
    EXPECT_EQ(frame_rate, 24);
    EXPECT_EQ(zep_test_c_formats("none", names, sizeof names, &width, &frame_rate), 2);
    EXPECT_EQ(width, -1);
}

} // namespace
