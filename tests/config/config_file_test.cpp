// The configuration file: where it is looked for, how its lines are split
// into words and numbered, what the store does on a second load and when
// memory runs out, and the number syntax of reals.
#include <cfloat>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "config/config_support.h"
#include "config/format_defaults.h"

namespace {

using config_test::ConfigTest;
using config_test::reports;
using config_test::reports_of;

// Every line of the loaded store, as lists of words.
std::vector<std::vector<std::string>> all_lines()
{
    std::vector<std::vector<std::string>> out;
    while (CFG_WORDS *line = cfg__next_line()) {
        std::vector<std::string> words;
        for (int i = 0; i < line->count; ++i) words.emplace_back(line->words[i]);
        EXPECT_EQ(line->words[line->count], nullptr) << "word array not null-terminated";
        out.push_back(words);
    }
    return out;
}

using Lines = std::vector<std::vector<std::string>>;

// ---- Search order -----------------------------------------------------------

struct SearchCase {
    const char *what;
    bool home_set, home_file, kv_set, kv_file;
    const char *expect_word; // first word read, or null for no file found
};

class SearchOrder : public ConfigTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(SearchOrder, FirstReadableFileWins)
{
    const SearchCase &c = GetParam();
    if (!c.expect_word && builtin_file_present()) GTEST_SKIP() << "built-in root has a file";
    if (c.home_file) write_home("from_home\n");
    if (c.kv_file) write(kv_file(), "from_kv_root\n");
    if (!c.home_set) home_env_.unset();
    if (!c.kv_set) kv_env_.unset();

    int rc = cfg__read_file(nullptr);
    ASSERT_NE(cfg__path(), nullptr);
    if (c.expect_word) {
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(all_lines(), Lines{{c.expect_word}});
        std::string expected_path = std::string(c.expect_word) == "from_home"
                                        ? home_file().string()
                                        : (kv_root_.string() + "/userconfig/.zeprc");
        EXPECT_EQ(cfg__path(), expected_path);
    } else {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(cfg__next_line(), nullptr);
        EXPECT_STREQ(cfg__path(), config_test::kBuiltinPath) << "the last path tried is kept";
    }
    EXPECT_TRUE(reports.empty()) << "a missing file is not reported";
}

INSTANTIATE_TEST_SUITE_P(
    Config, SearchOrder,
    ::testing::Values(SearchCase{"home_beats_kv_root", true, true, true, true, "from_home"},
                      SearchCase{"kv_root_when_home_has_none", true, false, true, true, "from_kv_root"},
                      SearchCase{"kv_root_without_home", false, false, true, true, "from_kv_root"},
                      SearchCase{"unset_kv_root_not_searched", true, false, false, true, nullptr},
                      SearchCase{"none_anywhere", true, false, true, false, nullptr},
                      SearchCase{"nothing_set", false, false, false, false, nullptr}),
    [](const ::testing::TestParamInfo<SearchCase> &i) { return std::string(i.param.what); });

// ---- Word splitting ----------------------------------------------------------

struct SplitCase {
    const char *what;
    std::string line;
    std::vector<std::string> words;
};

class WordSplitting : public ConfigTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(WordSplitting, SplitsLineIntoWords)
{
    const SplitCase &c = GetParam();
    write_home(c.line + "\n");
    ASSERT_EQ(cfg__read_file(nullptr), 0);
    EXPECT_EQ(all_lines(), Lines{c.words});
}

const std::string kEsc(1, '\x1b');

INSTANTIATE_TEST_SUITE_P(
    Config, WordSplitting,
    ::testing::Values(
        SplitCase{"double_quotes_keep_blank", "fmt__key_default \"my key\"",
                  {"fmt__key_default", "my key"}},
        SplitCase{"single_quotes_hold_double", "a 'b \"c\" d' e", {"a", "b \"c\" d", "e"}},
        SplitCase{"escape_character_quotes", "a " + kEsc + "b 'c'" + kEsc + " d", {"a", "b 'c'", "d"}},
        SplitCase{"unclosed_quote_takes_rest", "a \"b c  ", {"a", "b c  "}},
        SplitCase{"empty_quoted_word", "a \"\" b", {"a", "", "b"}},
        SplitCase{"quote_inside_word_is_plain", "x\"y\" z", {"x\"y\"", "z"}},
        SplitCase{"splitting_goes_on_after_quote", "\"ab\"cd", {"ab", "cd"}},
        SplitCase{"tabs_and_blanks", "\t a\t\tb  \v", {"a", "b"}},
        SplitCase{"carriage_return_line_end", "a b\r", {"a", "b"}},
        SplitCase{"only_blanks", "  \t ", {}},
        SplitCase{"twenty_words_keep_sixteen",
                  "w1 w2 w3 w4 w5 w6 w7 w8 w9 w10 w11 w12 w13 w14 w15 w16 w17 w18 w19 w20",
                  {"w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8", "w9", "w10", "w11", "w12",
                   "w13", "w14", "w15", "w16"}},
        SplitCase{"seventeenth_quoted_word_ignored",
                  "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 \"17 x",
                  {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14",
                   "15", "16"}}),
    [](const ::testing::TestParamInfo<SplitCase> &i) { return std::string(i.param.what); });

// ---- Lines -----------------------------------------------------------------

TEST_F(ConfigTest, LongLinesAreReadInPiecesOf254)
{
    std::string first(254, 'a');
    std::string line300 = first + std::string(46, 'b');
    std::string exact(254, 'c');
    std::string line508 = std::string(254, 'd') + std::string(254, 'e');
    write_home("one\n" + line300 + "\n" + exact + "\r\n" + line508 + "\n\nlast\n");
    ASSERT_EQ(cfg__read_file(nullptr), 0);
    EXPECT_EQ(all_lines(), (Lines{{"one"},
                                  {first},
                                  {std::string(46, 'b')},
                                  {exact},
                                  {std::string(254, 'd')},
                                  {std::string(254, 'e')},
                                  {},
                                  {"last"}}));
}

TEST_F(ConfigTest, LastLineWithoutLineEndIsRead)
{
    write_home("a b\nc");
    ASSERT_EQ(cfg__read_file(nullptr), 0);
    EXPECT_EQ(all_lines(), (Lines{{"a", "b"}, {"c"}}));
}

TEST_F(ConfigTest, SecondLoadRewindsWithoutRereading)
{
    write_home("first file\nsecond line\n");
    int catalogue_a = 0, catalogue_b = 0;
    ASSERT_EQ(cfg__read_file(&catalogue_a), 0);
    ASSERT_NE(cfg__next_line(), nullptr);

    write_home("changed\n");
    ASSERT_EQ(cfg__read_file(&catalogue_b), 0);
    EXPECT_EQ(all_lines(), (Lines{{"first", "file"}, {"second", "line"}}));
    EXPECT_EQ(cfg__next_line(), nullptr) << "stays at the end";
    EXPECT_EQ(cfg__catalogue(), &catalogue_a) << "the catalogue of the load that read the file";

    cfg__release();
    EXPECT_EQ(cfg__next_line(), nullptr);
    EXPECT_EQ(cfg__path(), nullptr);
    ASSERT_EQ(cfg__read_file(&catalogue_b), 0);
    EXPECT_EQ(all_lines(), Lines{{"changed"}}) << "a release makes the next load read again";
    EXPECT_EQ(cfg__catalogue(), &catalogue_b);
}

TEST_F(ConfigTest, ReleaseWhenNothingLoadedIsHarmless)
{
    cfg__release();
    cfg__release();
    EXPECT_EQ(cfg__next_line(), nullptr);
    write_home("x\n");
    EXPECT_EQ(cfg__read_file(nullptr), 0);
}

// ---- Out of memory -------------------------------------------------------------

// Allocation n of a load from $HOME of a file of `lines` lines is the path
// (n = 1), then a line record (even n) and its copy (odd n). A record
// failure is reported by the allocator only; a path or copy failure also by
// the store, in set 903.
TEST_F(ConfigTest, LoadFailsCleanlyWhenMemoryRunsOut)
{
    write_home("k1 a\nk2 \"b c\"\nk3\n");
    const zep::Message &no_memory = zep::kConfigNoMemory;
    int n = 1;
    for (;; ++n) {
        ASSERT_LT(n, 50) << "the load never succeeded";
        reports.clear();
        err__alloc_fail(n, 0);
        int rc = cfg__read_file(nullptr);
        int injected = err__alloc_fail(0, 0);
        if (injected == 0) {
            ASSERT_EQ(rc, 0);
            break;
        }
        SCOPED_TRACE("allocation " + std::to_string(n));
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(cfg__next_line(), nullptr) << "nothing is left loaded";
        size_t expected = n % 2 == 1 ? 2 : 1; // path or copy: 2; record: 1
        auto seen = reports_of(no_memory); // same text for both sets
        EXPECT_EQ(seen.size(), expected);
        for (const auto &r : seen) EXPECT_EQ(r.severity, ERR_ERROR);
        cfg__release();
    }
    EXPECT_EQ(n, 1 + 2 * 3 + 1) << "one path, then a record and a copy per line";
    EXPECT_EQ(all_lines(), (Lines{{"k1", "a"}, {"k2", "b c"}, {"k3"}}));
}

TEST_F(ConfigTest, PathFailureStopsTheSearch)
{
    write(kv_file(), "from_kv_root\n"); // HOME has no file
    err__alloc_fail(2, 0);              // the second candidate path
    EXPECT_EQ(cfg__read_file(nullptr), -1);
    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    EXPECT_EQ(cfg__path(), nullptr);
    EXPECT_EQ(cfg__next_line(), nullptr);
    ASSERT_EQ(cfg__read_file(nullptr), 0) << "works again afterwards";
    EXPECT_EQ(all_lines(), Lines{{"from_kv_root"}});
}

// ---- Numbers -----------------------------------------------------------------

struct RealCase {
    const char *text;
    bool number;
    float value;
};

class RealSyntax : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealSyntax, ParsesOrRejects)
{
    const RealCase &c = GetParam();
    float v = -123.0f;
    int rc = cfg__parse_real(c.text, &v);
    if (c.number) {
        EXPECT_EQ(rc, 1) << c.text;
        EXPECT_FLOAT_EQ(v, c.value) << c.text;
    } else {
        EXPECT_EQ(rc, 0) << (c.text ? c.text : "(null)");
        EXPECT_EQ(v, -123.0f) << "value left unchanged";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Config, RealSyntax,
    ::testing::Values(RealCase{"2.2", true, 2.2f}, RealCase{".5", true, 0.5f},
                      RealCase{"5.", true, 5.0f}, RealCase{"-1e-2", true, -0.01f},
                      RealCase{"1.5D+3", true, 1500.0f}, RealCase{"  +7", true, 7.0f},
                      RealCase{"1E2", true, 100.0f}, RealCase{"2d1", true, 20.0f},
                      RealCase{"1e05", true, 1e5f}, RealCase{"0", true, 0.0f},
                      RealCase{"-0.000", true, 0.0f}, RealCase{"0.1", true, 0.1f},
                      RealCase{"0.045", true, 0.045f}, RealCase{"1e-38", true, 1e-38f},
                      RealCase{"123456789012345678901234", true, 1.2345679e23f},
                      RealCase{"0.00000000000000000000000012345678901234567", true,
                               1.2345679e-25f},
                      RealCase{nullptr, false, 0}, RealCase{"", false, 0},
                      RealCase{"   ", false, 0}, RealCase{"1e", false, 0},
                      RealCase{"e5", false, 0}, RealCase{"1e100", false, 0},
                      RealCase{"+-1", false, 0}, RealCase{"2.2 ", false, 0},
                      RealCase{".", false, 0}, RealCase{"-", false, 0},
                      RealCase{"1e-", false, 0}, RealCase{"1..2", false, 0},
                      RealCase{"1.2.3", false, 0}, RealCase{"12a", false, 0},
                      RealCase{"1,5", false, 0}, RealCase{"1e5.", false, 0},
                      RealCase{"1-2", false, 0}, RealCase{"1e5e", false, 0}));

TEST(RealSyntaxRange, BeyondSinglePrecisionGivesInfinity)
{
    float v = 0;
    ASSERT_EQ(cfg__parse_real("9e99", &v), 1);
    EXPECT_TRUE(std::isinf(v) && v > 0);
    ASSERT_EQ(cfg__parse_real("-9e99", &v), 1);
    EXPECT_TRUE(std::isinf(v) && v < 0);
    ASSERT_EQ(cfg__parse_real("1e-99", &v), 1);
    EXPECT_EQ(v, 0.0f);
}

struct IntegerCase {
    const char *word;
    int value;
};

class IntegerWords : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerWords, ConvertsLikeDecimalConversion)
{
    EXPECT_EQ(zep::cfg_integer(GetParam().word), GetParam().value) << GetParam().word;
}

INSTANTIATE_TEST_SUITE_P(
    Config, IntegerWords,
    ::testing::Values(IntegerCase{"12", 12}, IntegerCase{"-7", -7}, IntegerCase{"+4", 4},
                      IntegerCase{" 3", 3}, IntegerCase{"abc", 0}, IntegerCase{"12abc", 12},
                      IntegerCase{"1.9", 1}, IntegerCase{"0x10", 0}, IntegerCase{"", 0},
                      IntegerCase{"2147483647", INT_MAX},
                      IntegerCase{"99999999999999999999", INT_MAX},
                      IntegerCase{"-99999999999999999999", INT_MIN},
                      IntegerCase{"4294967296", INT_MAX}));

} // namespace
