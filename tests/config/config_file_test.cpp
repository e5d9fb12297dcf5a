// The configuration file: search order, splitting lines into words, long
// lines, reloading, running out of memory, and the number syntax.
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "config/config_support.h"
#include "config/format_defaults.h"

namespace {

using config_test::ConfigTest;
using config_test::reports;
using Lines = std::vector<std::vector<std::string>>;
namespace fs = config_test::fs;

// Every line left in the loaded store, as lists of words.
Lines all_lines()
{
    Lines out;
    while (CFG_WORDS *line = cfg__next_line()) {
        out.emplace_back(line->words, line->words + line->count);
        EXPECT_EQ(line->words[line->count], nullptr) << "word array not null-terminated";
    }
    return out;
}

TEST_F(ConfigTest, SearchTakesTheFirstFileThatOpens)
{
    // word: the only word of the file found, or null for none.
    const struct { bool home_set, home_file, kv_set, kv_file; const char *word; } cases[] = {
        {true, true, true, true, "home"},    {true, false, true, true, "kv"},
        {false, false, true, true, "kv"},    {true, false, false, true, nullptr},
        {true, false, true, false, nullptr}, {false, false, false, false, nullptr}};
    const char *builtin_path = "/usr/vk//userconfig/.zeprc"; // the last one searched
    if (access(builtin_path, F_OK) == 0) GTEST_SKIP() << "the built-in root has a file";
    const std::string home = std::getenv("HOME"), kv = std::getenv("KV_ROOT");
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.home_set << c.home_file << c.kv_set << c.kv_file);
        cfg__release();
        c.home_file ? write_home("home\n") : void(fs::remove(home_file()));
        c.kv_file ? config_test::write(kv_file(), "kv\n") : void(fs::remove(kv_file()));
        c.home_set ? setenv("HOME", home.c_str(), 1) : unsetenv("HOME");
        c.kv_set ? setenv("KV_ROOT", kv.c_str(), 1) : unsetenv("KV_ROOT");
        EXPECT_EQ(cfg__read_file(nullptr), c.word ? 0 : -1);
        EXPECT_EQ(all_lines(), c.word ? Lines{{c.word}} : Lines{});
        ASSERT_NE(cfg__path(), nullptr);
        const fs::path found = c.home_file ? home_file() : kv_file();
        EXPECT_EQ(cfg__path(), c.word ? found.string() : builtin_path);
        EXPECT_TRUE(reports.empty()) << "a missing file is not reported";
    }
}

// Each physical line: its text and the lines of words it gives. Lines of
// more than 254 characters are read in pieces, each a line of its own.
TEST_F(ConfigTest, LinesAreSplitIntoWords)
{
    const std::string esc(1, '\x1b'), a(254, 'a'), b(46, 'b'), c(254, 'c');
    const std::pair<std::string, Lines> cases[] = {
        {"fmt__key_default \"my key\"", {{"fmt__key_default", "my key"}}},
        {"a 'b \"c\" d' e", {{"a", "b \"c\" d", "e"}}},
        {"a " + esc + "b 'c'" + esc + " d", {{"a", "b 'c'", "d"}}},
        {"a \"\" b \"ab\"cd x\"y\" \"c d  ", {{"a", "", "b", "ab", "cd", "x\"y\"", "c d  "}}},
        {"\t a\t\tb  \v\r", {{"a", "b"}}}, {"", {{}}}, {c + "\r", {{c}}}, {a + c, {{a}, {c}}},
        {"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20",
         {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"}}},
        {a + b, {{a}, {b}}}, {"last", {{"last"}}}, // without a line end
    };
    std::string file;
    Lines expected;
    for (const auto &[line, words] : cases) {
        file += line + (line == "last" ? "" : "\n");
        expected.insert(expected.end(), words.begin(), words.end());
    }
    write_home(file);
    ASSERT_EQ(cfg__read_file(nullptr), 0);
    EXPECT_EQ(all_lines(), expected);
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
    EXPECT_EQ(cfg__catalogue(), &catalogue_a) << "the catalogue of the load that read";

    cfg__release();
    cfg__release(); // harmless when nothing is loaded
    EXPECT_EQ(cfg__next_line(), nullptr);
    EXPECT_EQ(cfg__path(), nullptr);
    ASSERT_EQ(cfg__read_file(&catalogue_b), 0);
    EXPECT_EQ(all_lines(), Lines{{"changed"}}) << "a release makes the next load read again";
}

// Allocation 1 of a load is the path; then each line takes a record
// (reported by the allocator only) and a copy (also reported in set 903).
TEST_F(ConfigTest, LoadFailsCleanlyWhenMemoryRunsOut)
{
    write_home("k1 a\nk2 \"b c\"\nk3\n");
    int n = 0;
    auto failed = [&](int rc) {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(cfg__next_line(), nullptr) << "nothing is left loaded";
        EXPECT_EQ(reports.size(), ++n % 2 ? 2u : 1u);
        cfg__release();
    };
    const int failures = config_test::exhaust([] { return cfg__read_file(nullptr); }, failed);
    EXPECT_EQ(failures, 1 + 2 * 3);
    EXPECT_EQ(all_lines(), (Lines{{"k1", "a"}, {"k2", "b c"}, {"k3"}}));
}

// Reals follow the configuration's syntax; integers the runtime library's
// decimal conversion, clamped to 32 bits.
TEST(ConfigNumbers, RealsAndIntegers)
{
    // clang-format off
    const struct { const char *text; float value; } reals[] = { // NAN: not a number
        {"2.2", 2.2f}, {".5", 0.5f}, {"5.", 5.0f}, {"-1e-2", -0.01f}, {"1.5D+3", 1500.f},
        {"  +7", 7.0f}, {"2d1", 20.0f}, {"0.045", 0.045f}, {"9e99", INFINITY}, {"1e-99", 0.0f},
        {"123456789012345678901234", 1.2345679e23f}, {nullptr, NAN}, {"", NAN}, {"1e", NAN},
        {"e5", NAN}, {"1e100", NAN}, {"+-1", NAN}, {"2.2 ", NAN}, {".", NAN}, {"1e-", NAN},
        {"1..2", NAN}, {"12a", NAN}, {"1-2", NAN}};
    const struct { const char *word; int value; } integers[] = {
        {"12", 12}, {"-7", -7}, {" +4", 4}, {"12abc", 12}, {"1.9", 1}, {"0x10", 0}, {"", 0},
        {"99999999999999999999", INT_MAX}, {"4294967296", INT_MAX},
        {"-99999999999999999999", INT_MIN}};
    // clang-format on
    for (const auto &c : reals) {
        float v = -123.0f;
        EXPECT_EQ(cfg__parse_real(c.text, &v), std::isnan(c.value) ? 0 : 1) << c.text;
        EXPECT_FLOAT_EQ(v, std::isnan(c.value) ? -123.0f : c.value) << c.text;
    }
    for (const auto &c : integers)
        EXPECT_EQ(zep::cfg_integer(c.word), c.value) << c.word;
}

} // namespace
