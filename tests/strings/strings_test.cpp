// The string library: comparison and hashing, heap strings and in-place
// edits, file names and expansion, string arrays, the shared-string table,
// and the out-of-memory paths of what allocates.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <zep/error.h>
#include <zep/strings.h>

#include "strings/shared.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
static bool leaks_now() { return __lsan_do_recoverable_leak_check() != 0; }
#else
static bool leaks_now() { return false; } // leaks are seen only by the address sanitizer
#endif

namespace {

using Strings = std::vector<std::string>;
using Expansion = std::pair<int, std::string>;

std::string take(char *s) // the text of a heap string, which is freed
{
    std::string text = s ? s : "<null>";
    ERR_free(s);
    return text;
}

const char *show(const char *s) { return s ? s : "<null>"; }
template <char *(*F)(const char *)> char *at(char *s) { return F(s); } // F as an in-place cut

Strings entries(char **array)
{
    Strings out;
    for (; array && *array; ++array) out.emplace_back(*array);
    return out;
}

Expansion expand(const std::string &s)
{
    char *result = reinterpret_cast<char *>(1);
    int ok = STR_expand_filename(s.c_str(), &result);
    return {ok, take(result)};
}

// Runs attempt() (which checks its results, returns success) with its n-th allocation
// failing, n = 1, 2, ..., until it succeeds; a failing run must meet one injected failure,
// report one ERROR and leak nothing. Returns the number of failing runs.
template <typename Attempt> int until_success(Attempt attempt)
{
    auto quiet = [](const char *, int, const char *, ERR_RECORD *, void *) { return 0; };
    ERR_dcl_handler(nullptr, quiet, nullptr); // keeps the reports off standard error
    int n = 0;
    for (bool ok = false; !ok && n < 64;) {
        int errors = ERR_stats(ERR_ERROR);
        err__alloc_fail(++n, 0);
        ok = attempt();
        int failures = err__alloc_fail(0, 0), reports = ERR_stats(ERR_ERROR) - errors;
        EXPECT_TRUE(failures == !ok && reports == !ok && !leaks_now()) << "at " << n;
    }
    ERR_can_handler(nullptr);
    return n - 1;
}

TEST(StrCompare, DifferenceOfTheFirstDifferingSignedBytes)
{
    // n INT_MAX: STR_compare gives the same
    struct Case { const char *a, *b; int n, expected; } const cases[] = {
        {"a", "b", INT_MAX, -1}, {"", "", INT_MAX, 0}, {"abc", "ab", INT_MAX, 'c'},
        {"ab", "abc", INT_MAX, -'c'}, {"\xc8", "a", INT_MAX, -56 - 'a'},
        {"\xff", "\x01", INT_MAX, -2}, {"abc", "abd", 2, 0}, {"abc", "abd", 3, -1},
        {"abc", "xbc", 0, 'a' - 'x'}, {"abc", "abz", -5, 0}, {"\x90x", "ax", 1, -112 - 'a'}};
    for (const Case &c : cases) {
        EXPECT_EQ(STR_n_compare(c.a, c.b, c.n), c.expected) << c.a << " / " << c.b << " " << c.n;
        EXPECT_TRUE(c.n < INT_MAX || STR_compare(c.a, c.b) == c.expected) << c.a; // the same
    }
    EXPECT_TRUE(STR_compare(nullptr, "") < 0 && STR_compare("", nullptr) > 0);
    EXPECT_TRUE(STR_compare(nullptr, nullptr) == 0 && STR_n_compare(nullptr, "a", 4) < 0);
    EXPECT_EQ(STR_length(nullptr) + STR_length("abc\xff"), 4);
}

TEST(StrCompare, StarMarksTheShortestAcceptedAbbreviation)
{
    struct Case { const char *text, *pattern; int expected; } const cases[] = {
        {"q", "q*uit", 1}, {"qu", "q*uit", 1}, {"quit", "q*uit", 1}, {"qx", "q*uit", 0},
        {"quiz", "q*uit", 0}, {"quitx", "q*uit", 0}, {"", "q*uit", 0}, {"qu", "quit", 0},
        {"quit", "quit", 1}, {"", "*abc", 1}, {"ab", "*abc", 1}, {"abcd", "abc*", 0},
        {nullptr, "q*uit", 0}};
    for (const Case &c : cases)
        EXPECT_EQ(STR_abbr(c.text, c.pattern), c.expected) << show(c.text) << " ~ " << c.pattern;
    const Case orders[] = {
        {"q*uit", "quit", 0}, {"q*uit", "qu*it", 0}, {"a*b", "a*c", -1}, {"ab", "a", 'b'},
        {"**", "", 0}, {"a*\xc8", "a*b", -56 - 'b'}};
    for (const Case &c : orders)
        EXPECT_EQ(STR_abbr_compare(c.text, c.pattern), c.expected) << c.text << " / " << c.pattern;
    EXPECT_TRUE(STR_abbr_compare(nullptr, "x") < 0 && STR_abbr_compare(nullptr, nullptr) == 0);
}

TEST(StrCompare, HashAgreesWithTheByteByByteDefinition)
{
    // Known answers, then the word-at-a-time hash against the plain
    // definition (h * 33 + each byte taken as signed, wrapping) for every
    // length up to 100, so every tail of the unrolled loop is covered.
    EXPECT_EQ(STR_hash("abc", 1023) + STR_hash(nullptr, 7) + STR_hash("", 7), 528u);
    EXPECT_EQ(STR_hash("abc", 0xffffffffu), 108966u);
    std::mt19937 rng(20240611);
    for (int length = 0; length <= 100; ++length) {
        for (int round = 0; round < 20; ++round) {
            std::string s(length, 'x');
            for (char &c : s) c = static_cast<char>(1 + rng() % 255);
            uint32_t h = 0;
            for (char c : s) h = h * 33u + static_cast<signed char>(c);
            for (unsigned int m : {1023u, 7u, 0xffffffffu})
                ASSERT_EQ(STR_hash(s.c_str(), m), h % m) << "length " << length << " modulus " << m;
        }
    }
}

TEST(StrCompare, DigitsIntegersAndReals)
{
    struct Case { const char *text; int numeric, integer, real; } const cases[] = {
        {"0", 1, 1, 1}, {"", 0, 0, 0}, {"2147483647", 1, 1, 1}, {"2147483648", 1, 0, 1},
        {"-2147483648", 0, 1, 1}, {"-2147483649", 0, 0, 1}, {"+2147483647", 0, 1, 1},
        {"+2147483648", 0, 0, 1}, {"-0000000001", 0, 1, 1}, {"000000000001", 1, 0, 1},
        {"+", 0, 0, 1}, {".", 0, 0, 1}, {"e5", 0, 0, 1}, {"1e+", 0, 0, 1}, {"1e", 0, 0, 0},
        {"1.2.3", 0, 0, 0}, {"12a", 0, 0, 0}, {"1.5E-3", 0, 0, 1}, {"1e5.0", 0, 0, 0},
        {"+-1", 0, 0, 0}, {" 1", 0, 0, 0}, {"1 ", 0, 0, 0}, {"\xd9\xa3", 0, 0, 0}};
    for (const Case &c : cases) {
        const char *t = c.text;
        EXPECT_EQ(std::vector<int>({STR_is_numeric(t), STR_is_integer(t), STR_is_real(t)}),
                  std::vector<int>({c.numeric, c.integer, c.real})) << '"' << t << '"';
    }
}

TEST(StrCompare, SearchesForBlanksAndArrayEntries)
{
    const char *text = " \t\nab cd", *blanks = "   ";
    EXPECT_TRUE(STR_skip_space(text) == text + 3 && STR_skip_space(blanks) == blanks + 3);
    for (auto [s, at] : {std::pair<const char *, int>{"ab cd", 2}, {" ab", 3}, {"\tb", 2}, {"", 0}})
        EXPECT_EQ(STR_find_space(s), s + at) << s;
    char a[] = "a", b[] = "b", a2[] = "a", *array[] = {a, b, a2, nullptr};
    EXPECT_TRUE(STR_find_string(array, "a") == &array[0] && !STR_find_string(array, "z"));
    EXPECT_EQ(STR_find_string_reverse(array, "a"), &array[2]);
    EXPECT_EQ(STR_find_string_reverse(array, "z"), nullptr);
}

TEST(StrHeap, NewStringsAndAppends)
{
    char *s = STR_more(nullptr, 5);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    std::memcpy(s, "abcde", 6); // five characters and the terminator fit
    EXPECT_EQ(take(STR_more(s, 2)), "ab");
    EXPECT_EQ(take(STR_save(nullptr)) + take(STR_save("x\xff")), "x\xff");
    for (auto [n, expected] : {std::pair<int, const char *>{3, "abc"}, {10, "abcdef"}, {-2, ""}})
        EXPECT_EQ(take(STR_n_save("abcdef", n)), expected) << n;
    EXPECT_EQ(take(STR_save_n(3, "a", static_cast<const char *>(nullptr), "bc")), "abc");
    EXPECT_EQ(take(STR_save_n(0)) + take(STR_save_n(-1)), "");
    EXPECT_EQ(take(STR_append(nullptr, "x")), "x");
    s = STR_save("abcabc"); // appending the whole of itself is checked under failing allocations
    EXPECT_EQ(take(STR_append(s, s + 4)), "abcabcbc"); // appends from itself
    EXPECT_EQ(take(STR_n_append(STR_save("ab"), "cdef", 2)), "abcd");
    EXPECT_EQ(take(STR_n_append(nullptr, "cdef", 9)), "cdef");
    EXPECT_EQ(take(STR_n_append(STR_save("ab"), "cd", -1)), "ab");
    s = STR_n_append(STR_save("ab"), "c", 3); // n bytes, zero-padded past the end of t
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s, 6), std::string("abc\0\0\0", 6));
    ERR_free(s);
    s = STR_save("ab");
    EXPECT_EQ(take(STR_n_append(s, s, 4)), "abab"); // only the bytes of s itself are copied
}

TEST(StrHeap, InsertsClampTheirIndexAndCount)
{
    // t null: STR_insert of 'x'
    struct Case { const char *s, *t; int i, n; const char *expected; } const cases[] = {
        {"ab", nullptr, 0, 0, "xab"}, {"ab", nullptr, 1, 0, "axb"}, {"ab", nullptr, 99, 0, "abx"},
        {"ab", nullptr, -5, 0, "xab"}, {nullptr, nullptr, 3, 0, "x"},
        {"abcd", "XYZ", 2, 2, "abXYcd"}, {"abcd", "XYZ", 9, 99, "abcdXYZ"},
        {"abcd", "XYZ", -1, -3, "abcd"}, {"abcd", "XYZ", -4, 1, "Xabcd"},
        {nullptr, "XY", 0, 2, "XY"}, {nullptr, "XY", 0, 0, ""}};
    for (const Case &c : cases) {
        char *s = c.s ? STR_save(c.s) : nullptr;
        s = c.t ? STR_n_insert(s, c.t, c.i, c.n) : STR_insert(s, 'x', c.i);
        EXPECT_EQ(take(s), c.expected) << show(c.s) << " at " << c.i;
    }
    // The inserted text may lie in the string, before, across or after the point.
    struct Self { int from, i, n; const char *expected; } const selves[] = {
        {0, 2, 4, "ababcdcd"}, {1, 2, 3, "abbcdcd"}, {3, 1, 1, "adbcd"}, {0, 4, 4, "abcdabcd"}};
    for (const Self &c : selves) {
        char *s = STR_save("abcd");
        EXPECT_EQ(take(STR_n_insert(s, s + c.from, c.i, c.n)), c.expected) << c.from << ">" << c.i;
    }
}

TEST(StrHeap, RemovalsInPlace)
{
    struct Case { char *(*edit)(char *, int); const char *s; int c; const char *expected; };
    const Case cases[] = {
        {STR_remove, "abcabc", 'b', "acabc"}, {STR_remove_reverse, "abcabc", 'b', "abcac"},
        {STR_remove_all, "abcabc", 'b', "acac"}, {STR_remove, "abc", 'z', "abc"},
        {STR_remove_all, "bbb", 'b', ""}, {STR_remove_all, "abc", '\0', "abc"},
        {STR_remove, "a\xe9", 0xe9, "a"}, {STR_remove_reverse, "abc", '\0', "abc"}};
    for (const Case &c : cases) {
        std::string s = c.s;
        EXPECT_STREQ(c.edit(s.data(), c.c), c.expected) << c.s;
    }
    struct Index { int i, n; const char *expected; } const indices[] = { // n 0: STR_remove_index
        {1, 0, "acdef"}, {6, 0, "abcdef"}, {-1, 0, "abcdef"}, {1, 2, "adef"}, {4, 10, "abcd"},
        {-2, 3, "bcdef"}, {-5, 3, "abcdef"}, {2, -1, "abcdef"}, {6, 1, "abcdef"}, {0, INT_MAX, ""},
        {INT_MAX, INT_MAX, "abcdef"}};
    for (const Index &c : indices) {
        std::string s = "abcdef";
        char *got = c.n ? STR_n_remove_index(s.data(), c.i, c.n) : STR_remove_index(s.data(), c.i);
        EXPECT_STREQ(got, c.expected) << c.i << ", " << c.n;
    }
}

TEST(StrFileName, DissectionAndCleaningOfTrickyNames)
{
    // Names of exactly their own bytes, so that a result that grows is caught.
    char *(*clean)(char *) = STR_filename_clean;
    struct Cut { char *(*cut)(char *); const char *s, *expected; } const cuts[] = {
        {at<STR_extension>, "dir.v2/file", "v2/file"}, {at<STR_extension>, "a.", ""},
        {at<STR_extension>, "abc", nullptr}, {at<STR_extension>, "", nullptr},
        {at<STR_tail>, "/a/b", "b"}, {at<STR_tail>, "b", "b"}, {at<STR_tail>, "a/", ""},
        {at<STR_host_remove>, "host:/p", "/p"}, {at<STR_host_remove>, "a:b:/c", "/c"},
        {at<STR_host_remove>, "/a:b", "/a:b"}, {STR_root, "a.b.c", "a.b"}, {STR_root, "abc", "abc"},
        {STR_root, "dir.v2/file", "dir"}, {STR_head, "a//b", "a"}, {STR_head, "/a", ""},
        {STR_head, "a", nullptr}, {STR_head, "", nullptr}, {STR_head, "a/b//", "a/b"},
        {STR_host, "host:/path", "host"}, {STR_host, ":/path", nullptr},
        {STR_host, "/a:b", nullptr}, {STR_host, "h:x", "h"}, {STR_host, "a:b:/c", "a"},
        {clean, "a//b/./c/../d/", "a/b/d"}, {clean, "../x", "../x"}, {clean, "a/..", "."},
        {clean, "///", "/"}, {clean, "/a/..", "/"}, {clean, "a/../..", ".."},
        {clean, "../../a/../b", "../../b"}, {clean, "./", "."}, {clean, "x/..//y", "y"},
        {clean, "/../a", "/../a"}, {clean, "a/b/../../..", ".."}, {clean, "host:a//b/", "host:a/b"},
        {clean, "host:a/..", "host:."}, {clean, "a/b:c/..", "a"}, {clean, "...", "..."},
        {clean, "", ""}, {clean, "host:", "host:"}};
    for (const Cut &c : cuts) {
        std::vector<char> s(c.s, c.s + std::strlen(c.s) + 1);
        char *got = c.cut(s.data());
        EXPECT_STREQ(show(got), show(c.expected)) << c.s;
        EXPECT_TRUE(!got || (got >= s.data() && got < s.data() + s.size())) << c.s; // in s
    }
    char dst[32] = "untouched";
    EXPECT_EQ(STR_filename_host(dst, "/a:b") + STR_filename_host(dst, "plain"), 0);
    EXPECT_EQ(STR_filename_host(nullptr, "h:/x") + strcmp(dst, "untouched"), 1);
    EXPECT_EQ(STR_filename_host(dst, "host:/p"), 1);
    EXPECT_STREQ(dst, "host");
}

TEST(StrFileName, AbsoluteAndRelativeForms)
{
    struct Case { const char *dir, *s, *expected; } const absolutes[] = {
        {"/a/b/c", "../../d", "/a/d"}, {"/a", "../../x", "/x"}, {"/a/b/", "x", "/a/b/x"},
        {"/a/b", ".//./x", "/a/b/x"}, {"/a/b", "..", "/a"}, {"/a/b", "../", "/a"},
        {"/a/b", "/abs", "/abs"}, {"/a/b", "h:rel", "h:rel"}, {"/a/b", "", ""}, {"/", "../x", "/x"},
        {"/a/b", "..x", "/a/b/..x"}, {"/a//b", "../c", "/a/c"}, {"/a/b", "./", "/a/b"},
        {"/a/b/", "../c", "/a/c"}, {"/a/b", "./../c", "/a/c"}};
    for (const Case &c : absolutes) {
        std::string dst(std::strlen(c.dir) + std::strlen(c.s) + 2, '#');
        EXPECT_EQ(STR_filename_absolute(dst.data(), c.dir, c.s), dst.data());
        EXPECT_STREQ(dst.c_str(), c.expected) << c.dir << " + " << c.s;
    }
    const Case relatives[] = {
        {"/a/b", "/a/b/c/d", "c/d"}, {"/a/b/c", "/a/b/x", "../x"}, {"/a/c", "/a/b", "/a/b"},
        {"/a/b/c/d", "/a/b/c/x/y", "../x/y"}, {"/a/b/c/d", "/a/b/x", "../../x"},
        {"/a/b/c/d/e/f", "/a/b/x", "/a/b/x"}, {"/a/b/", "/a/b/c", "c"},
        {"/a/b", "h:/a/b/c", "h:/a/b/c"}, {"/a/b", "", ""}, {"/a/b", "/a/b", ""},
        {"/a/b/c", "/a/b/cd", "../cd"}, {"/a/b/c", "/a/bx", "../../bx"},
        {"/a//b/c", "/a//b/x", "../x"}};
    for (const Case &c : relatives) {
        std::string dst(3 * std::strlen(c.dir) + std::strlen(c.s) + 1, '#');
        EXPECT_EQ(STR_filename_relative(dst.data(), c.dir, c.s), dst.data());
        EXPECT_STREQ(dst.c_str(), c.expected) << c.dir << " -> " << c.s;
    }
    char name[32] = "../x", dir[32] = "/a/b", rel[32] = "/a/b/x"; // dst may be the name or dir
    EXPECT_STREQ(STR_filename_absolute(name, "/a/b", name), "/a/x");
    EXPECT_STREQ(STR_filename_absolute(dir, dir, "../c"), "/a/c");
    EXPECT_STREQ(STR_filename_relative(rel, "/a/b/c", rel), "../x");
    EXPECT_STREQ(STR_filename_absolute(dir, "/a", nullptr), "");
}

TEST(StrFileName, ExpandsVariablesWithinTheLimits)
{
    setenv("ZEP_HOME", "/u", 1);
    setenv("ZEP_EMPTY", "", 1);
    unsetenv("ZEP_UNSET");
    const std::pair<const char *, Expansion> cases[] = {
        {"$ZEP_HOME/x", {1, "/u/x"}}, {"${ZEP_HOME}/x", {1, "/u/x"}}, {"  \t$ZEP_HOME", {1, "/u"}},
        {"a${ZEP_HOME}b", {1, "a/ub"}}, {"$ZEP_HOME.x", {1, "/u.x"}}, {"${ZEP_HOME", {1, "/u"}},
        {"$ZEP_HOME$ZEP_HOME", {1, "/u/u"}}, {"a$ZEP_EMPTY/b", {1, "a/b"}}, {"", {1, ""}},
        {"x/$ZEP_UNSET/$ZEP_HOME", {0, "ZEP_UNSET"}}, {"${ZEP_UNSET}", {0, "ZEP_UNSET"}}};
    for (const auto &[s, expected] : cases) EXPECT_EQ(expand(s), expected) << s;

    // Names and results of up to 259 characters work; longer ones fail with no result.
    const std::string max(STR_EXPAND_MAX, 'p'), name(STR_EXPAND_MAX, 'N');
    const std::string value(STR_EXPAND_MAX - 2, 'v');
    setenv(name.c_str(), "v", 1);
    setenv((name + "N").c_str(), "v", 1);
    setenv("ZEP_TEST_VALUE", value.c_str(), 1);
    EXPECT_EQ(expand(max), Expansion(1, max));
    EXPECT_EQ(expand("$" + name), Expansion(1, "v"));
    EXPECT_EQ(expand("a/$ZEP_TEST_VALUE"), Expansion(1, "a/" + value));
    const std::string overs[] = {max + "p", "${" + name + "N}", "$" + name + "NN",
                                 "ab/$ZEP_TEST_VALUE", "a/$ZEP_TEST_VALUE/"};
    for (const std::string &over : overs)
        EXPECT_EQ(expand(over), Expansion(0, "<null>")) << over.substr(0, 20);
}

TEST(StrArray, ResizeCountAndCopy)
{
    int slots[5];
    void **array = str__array_resize(nullptr, 0);
    ASSERT_TRUE(array && str__array_count(array) + str__array_count(nullptr) == 0);
    ASSERT_NE(array = str__array_resize(array, 5), nullptr);
    for (int i = 0; i < 5; ++i) array[i] = &slots[i];
    EXPECT_EQ(str__array_count(array), 5);
    ASSERT_NE(array = str__array_resize(array, 3), nullptr); // cut, and ended, at three
    EXPECT_TRUE(str__array_count(array) == 3 && array[2] == &slots[2]);
    ASSERT_NE(array = str__array_resize(array, 6), nullptr); // grown: still three
    EXPECT_EQ(str__array_count(array), 3);
    void *copy[8];
    auto fill = [&] { return std::fill(std::begin(copy), std::end(copy), &slots[4]), copy; };
    EXPECT_EQ(str__array_copy(fill(), array), copy);
    EXPECT_TRUE(copy[2] == &slots[2] && copy[3] == nullptr && copy[4] == &slots[4]);
    str__array_copy_n(fill(), array, 2); // n entries, or up to the terminator when sooner
    EXPECT_TRUE(copy[1] == &slots[1] && copy[2] == &slots[4]);
    str__array_copy_n(copy, array, 7);
    EXPECT_TRUE(copy[3] == nullptr && copy[4] == &slots[4]);
    ERR_free(array);
}

TEST(StrArray, ParseSplitsAtBlanksInPlace)
{
    const std::pair<const char *, Strings> cases[] = {
        {"", {}}, {" \t\n", {}}, {"one", {"one"}}, {"  a bb\tccc\n", {"a", "bb", "ccc"}},
        {"\"no quoting\" here", {"\"no", "quoting\"", "here"}},
        {"1 2 3 4 5 6 7 8 9 10 11", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}}};
    for (const auto &[text, words] : cases) {
        std::string s = text;
        char **got = STR_parse(s.data());
        EXPECT_NE(got, nullptr);
        EXPECT_EQ(entries(got), words) << text;
        for (char **w = got; w && *w; ++w) EXPECT_TRUE(*w >= s.data() && *w < s.data() + s.size());
        ERR_free(got);
    }
}

TEST(StrArray, SortsAgreeWithTheirComparisons)
{
    ASSERT_NE(std::setlocale(LC_COLLATE, "C"), nullptr); // collates bytes unsigned
    char **(*const sorts[])(char **) = {STR_sort, STR_sort_reverse, STR_sort_collate};
    std::mt19937 rng(7);
    for (int n : {0, 1, 2, 3, 5, 8, 31, 257, 1000}) {
        Strings texts; // 0..12 bytes: every other text of any bytes, the rest of "abc" (repeats)
        for (int i = 0; i < n; ++i) {
            std::string s(rng() % 13, 'a');
            for (char &c : s) c = static_cast<char>(i % 2 ? 1 + rng() % 255 : 'a' + rng() % 3);
            texts.push_back(s);
        }
        for (int o = 0; o < 3; ++o) {
            std::vector<char *> array;
            for (std::string &t : texts) array.push_back(t.data());
            array.push_back(nullptr);
            EXPECT_EQ(sorts[o](array.data()), array.data());
            Strings expected = texts;
            std::sort(expected.begin(), expected.end(), [o](const auto &x, const auto &y) {
                const char *a = x.c_str(), *b = y.c_str();
                return o == 2 ? std::strcoll(a, b) < 0 : STR_compare(a, b) * (o ? -1 : 1) < 0;
            });
            EXPECT_EQ(entries(array.data()), expected) << "sort " << o << ", " << n << " entries";
        }
    }
    EXPECT_EQ(STR_sort(nullptr), nullptr);
}

TEST(StrShared, CountedDefinitionsAlongOneChain)
{
    Strings texts{"collide-0"}; // four texts of one bucket
    for (int i = 1; texts.size() < 4; ++i) {
        std::string t = "collide-" + std::to_string(i);
        if (STR_hash(t.c_str(), 1023) == STR_hash("collide-0", 1023)) texts.push_back(t);
    }
    std::vector<const char *> copies;
    for (const std::string &t : texts) copies.push_back(STR_define(t.c_str()));
    for (size_t i = 0; i < texts.size(); ++i) {
        std::string again = texts[i]; // another buffer with the same text
        EXPECT_TRUE(copies[i] != texts[i].c_str() && texts[i] == copies[i]);
        EXPECT_EQ(STR_define(again.c_str()), copies[i]);
        EXPECT_EQ(zep::shared_count(texts[i].c_str()), 2);
    }
    for (size_t i : {1, 3, 0, 2}) { // from the middle, the back and the front of the chain
        EXPECT_EQ(STR_undefine(texts[i].c_str()), 0);
        EXPECT_EQ(zep::shared_count(texts[i].c_str()), 1);
        STR_undefine(copies[i]); // by the table's own copy
        EXPECT_EQ(zep::shared_count(texts[i].c_str()), 0);
        for (size_t j = 0; j < texts.size(); ++j)
            EXPECT_TRUE(zep::shared_count(texts[j].c_str()) == 0 || texts[j] == copies[j]);
    }
    EXPECT_EQ(STR_undefine("collide-0"), 0); // absent: nothing happens

    void **array = str__array_resize(nullptr, 3);
    ASSERT_NE(array, nullptr);
    for (int i = 0; i < 3; ++i) array[i] = const_cast<char *>(STR_define(i == 1 ? "two" : "one"));
    STR_define("two"); // held elsewhere too
    EXPECT_EQ(zep::shared_count("one"), 2);
    EXPECT_EQ(STR_undefine_array(reinterpret_cast<char **>(array)), 0);
    EXPECT_TRUE(zep::shared_count("one") == 0 && zep::shared_count("two") == 1);
    STR_undefine("two");
    EXPECT_FALSE(leaks_now()); // the array went too
}

TEST(StrOutOfMemory, NewStringsFailWholeAndGrowingKeepsTheOld)
{
    struct Case { const char *start; char *(*grow)(char *); const char *expected; };
    const Case cases[] = {
        {nullptr, [](char *) { return STR_save("abc"); }, "abc"},
        {nullptr, [](char *) { return STR_save(nullptr); }, ""},
        {nullptr, [](char *) { return STR_n_save("abcdef", 4); }, "abcd"},
        {nullptr, [](char *) { return STR_save_n(2, "ab", "cd"); }, "abcd"},
        {nullptr, [](char *s) { return STR_more(s, 9); }, ""},
        {"abc", [](char *s) { return STR_more(s, 200); }, "abc"},
        {"abc", [](char *s) { return STR_append(s, "def"); }, "abcdef"},
        {"abc", [](char *s) { return STR_append(s, s); }, "abcabc"},
        {"abc", [](char *s) { return STR_n_append(s, "def", 5); }, "abcdef"},
        {"abc", [](char *s) { return STR_insert(s, 'x', 1); }, "axbc"},
        {"abc", [](char *s) { return STR_n_insert(s, "xy", 3, 2); }, "abcxy"}};
    for (const Case &c : cases) {
        char *s = c.start ? STR_save(c.start) : nullptr;
        EXPECT_EQ(until_success([&] {
                      char *grown = c.grow(s); // on failure s stays as it was
                      EXPECT_STREQ(show(grown ? grown : s), show(grown ? c.expected : c.start));
                      s = grown ? grown : s;
                      return grown != nullptr;
                  }), 1) << c.expected;
        ERR_free(s);
    }
}

TEST(StrOutOfMemory, DefineAddsAWholeNodeOrNothing)
{
    const char *text = "oom-define-text";
    EXPECT_EQ(until_success([&] {
                  const char *copy = STR_define(text);
                  EXPECT_EQ(zep::shared_count(text), copy ? 1 : 0);
                  return copy != nullptr;
              }), 1);
    err__alloc_fail(1, 1); // a defined text is counted again without allocating
    EXPECT_NE(STR_define(text), nullptr);
    EXPECT_EQ(err__alloc_fail(0, 0), 0);
    STR_undefine(text);
    STR_undefine(text);
    EXPECT_EQ(zep::shared_count(text), 0);
}

TEST(StrOutOfMemory, ArraysKeepTheOldBlockAndParseAndExpandGiveNothing)
{
    void **array = nullptr;
    EXPECT_EQ(until_success([&] { return (array = str__array_resize(nullptr, 4)) != nullptr; }), 1);
    EXPECT_EQ(str__array_count(array), 0);
    int a = 0, b = 0;
    array[0] = &a, array[1] = &b, array[2] = nullptr;
    EXPECT_EQ(until_success([&] {
                  void **grown = str__array_resize(array, 1000);
                  EXPECT_EQ(str__array_count(grown ? grown : array), 2);
                  array = grown ? grown : array;
                  return grown != nullptr;
              }), 1);
    EXPECT_EQ(array[1], &b);
    ERR_free(array);

    EXPECT_GE(until_success([] {
                  std::string s = "a b c d e f g h i j"; // more words than the first block holds
                  char **words = STR_parse(s.data());
                  bool ok = words != nullptr;
                  EXPECT_EQ(ok ? entries(words).size() : 10u, 10u);
                  ERR_free(words);
                  return ok;
              }), 2);

    setenv("ZEP_TEST_OOM", "value", 1);
    unsetenv("ZEP_TEST_OOM_UNSET");
    const std::pair<const char *, Expansion> expansions[] = {
        {"a/$ZEP_TEST_OOM", {1, "a/value"}}, {"a/$ZEP_TEST_OOM_UNSET", {0, "ZEP_TEST_OOM_UNSET"}}};
    for (const auto &[s, expected] : expansions) {
        EXPECT_EQ(until_success([&] {
                      Expansion got = expand(s);
                      EXPECT_TRUE(got == expected || got == Expansion(0, "<null>")) << got.second;
                      return got.second != "<null>";
                  }), 1) << s;
    }
}

} // namespace
