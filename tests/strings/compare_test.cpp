// Comparison, abbreviations, the hash and the numeric tests.
#include <cstdint>
#include <random>
#include <string>

#include "strings/support.h"

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

TEST(StringCompare, OrdersSignedBytesAndNulls)
{
    struct Case {
        const char *a;
        const char *b;
        int expected; // exact difference, or its sign when exact is false
        bool exact;
    };
    const Case cases[] = {
        {"a", "b", -1, true},        {"", "", 0, true},          {"abc", "abc", 0, true},
        {"\xc8", "a", -1, false}, // byte 200 sorts before 'a'
        {"a", "\xc8", 1, false},     {"\xff", "\x01", -2, true}, {"abc", "ab", 'c', true},
        {"ab", "abc", -'c', true},   {nullptr, "", -1, false},   {"", nullptr, 1, false},
        {nullptr, nullptr, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a ? c.a : "<null>") + " vs " + (c.b ? c.b : "<null>"));
        int got = STR_compare(c.a, c.b);
        EXPECT_EQ(c.exact ? got : sign(got), c.expected);
    }
}

TEST(StringCompare, BoundedCompareLooksAtLeastAtTheFirstByte)
{
    struct Case {
        const char *a;
        const char *b;
        int n;
        int expected;
    };
    const Case cases[] = {
        {"abc", "abd", 2, 0},
        {"abc", "abd", 3, -1},
        {"abc", "xbc", 0, 'a' - 'x'},
        {"abc", "abz", -5, 0},
        {"ab", "ab", 10, 0},
        {"ab", "abc", 3, -'c'},
        {"\x90x", "ax", 1, static_cast<signed char>('\x90') - 'a'},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b + " n=" + std::to_string(c.n));
        EXPECT_EQ(STR_n_compare(c.a, c.b, c.n), c.expected);
    }
    EXPECT_LT(STR_n_compare(nullptr, "a", 4), 0);
    EXPECT_EQ(STR_length(nullptr), 0);
    EXPECT_EQ(STR_length("abc\xff"), 4);
}

TEST(StringAbbreviation, StarMarksTheShortestAcceptedForm)
{
    struct Case {
        const char *text;
        const char *pattern;
        int expected;
    };
    const Case cases[] = {
        {"q", "q*uit", 1},   {"qu", "q*uit", 1},   {"qui", "q*uit", 1},   {"quit", "q*uit", 1},
        {"qx", "q*uit", 0},  {"quiz", "q*uit", 0}, {"quitx", "q*uit", 0}, {"", "q*uit", 0},
        {"quit", "quit", 1}, {"qu", "quit", 0},    {"quitx", "quit", 0},  {"", "*abc", 1},
        {"ab", "*abc", 1},   {"abc", "abc*", 1},   {"abcd", "abc*", 0},   {nullptr, "q*uit", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text ? c.text : "<null>") + " ~ " + c.pattern);
        EXPECT_EQ(STR_abbr(c.text, c.pattern), c.expected);
    }
}

TEST(StringAbbreviation, PatternOrderIgnoresStars)
{
    struct Case {
        const char *a;
        const char *b;
        int expected;
    };
    const Case cases[] = {
        {"q*uit", "quit", 0}, {"q*uit", "qu*it", 0}, {"a*b", "a*c", -1},
        {"ab", "a", 'b'},     {"**", "", 0},         {"a*\xc8", "a*b", -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        int got = STR_abbr_compare(c.a, c.b);
        EXPECT_EQ(c.expected == -1 ? sign(got) : got, c.expected);
    }
    EXPECT_LT(STR_abbr_compare(nullptr, "x"), 0);
    EXPECT_EQ(STR_abbr_compare(nullptr, nullptr), 0);
}

// The definition: h = h * 33 + signed byte, unsigned 32-bit, one byte a turn.
unsigned int reference_hash(const std::string &s, unsigned int modulus)
{
    uint32_t h = 0;
    for (char c : s)
        h = h * 33u + static_cast<uint32_t>(static_cast<signed char>(c));
    return h % modulus;
}

TEST(StringHash, UnrolledLoopAgreesWithTheDefinition)
{
    EXPECT_EQ(STR_hash("abc", 1023), 528u);
    EXPECT_EQ(STR_hash("abc", 0xffffffffu), 108966u);
    EXPECT_EQ(STR_hash("", 7), 0u);
    EXPECT_EQ(STR_hash(nullptr, 7), 0u);

    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> byte(1, 255);
    const unsigned int moduli[] = {1023, 1, 7, 0xffffffffu};
    for (int length = 0; length <= 100; ++length) {
        for (int round = 0; round < 20; ++round) {
            std::string s;
            for (int i = 0; i < length; ++i)
                s += static_cast<char>(byte(rng));
            for (unsigned int m : moduli) {
                ASSERT_EQ(STR_hash(s.c_str(), m), reference_hash(s, m))
                    << "length " << length << " modulus " << m;
            }
        }
    }
}

TEST(StringNumeric, DigitsIntegersAndReals)
{
    struct Case {
        const char *text;
        int numeric;
        int integer;
        int real;
    };
    const Case cases[] = {
        {"0", 1, 1, 1},
        {"", 0, 0, 0},
        {"2147483647", 1, 1, 1},
        {"2147483648", 1, 0, 1},
        {"-2147483648", 0, 1, 1},
        {"-2147483649", 0, 0, 1},
        {"+2147483647", 0, 1, 1},
        {"+2147483648", 0, 0, 1},
        {"-0000000001", 0, 1, 1},
        {"99999999999", 1, 0, 1},
        {"000000000001", 1, 0, 1}, // more than ten digits is never an integer
        {"123456789", 1, 1, 1},
        {"+", 0, 0, 1},
        {"-", 0, 0, 1},
        {".", 0, 0, 1},
        {"e5", 0, 0, 1},
        {"1e+", 0, 0, 1},
        {"1e", 0, 0, 0},
        {"1.2.3", 0, 0, 0},
        {"12a", 0, 0, 0},
        {"1.5E-3", 0, 0, 1},
        {"-.e", 0, 0, 0},
        {"1e5.0", 0, 0, 0},
        {"+-1", 0, 0, 0},
        {" 1", 0, 0, 0},
        {"1 ", 0, 0, 0},
        {"\xd9\xa3", 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(STR_is_numeric(c.text), c.numeric);
        EXPECT_EQ(STR_is_integer(c.text), c.integer);
        EXPECT_EQ(STR_is_real(c.text), c.real);
    }
}

TEST(StringSearch, BlanksAndArrayEntries)
{
    const char *text = " \t\nab cd";
    EXPECT_EQ(STR_skip_space(text), text + 3);
    const char *blanks = "   ";
    EXPECT_EQ(STR_skip_space(blanks), blanks + 3);

    struct Case {
        const char *text;
        int offset; // of the result
    };
    const Case cases[] = {{"ab cd", 2}, {" ab", 3}, {"abc", 3}, {"a\tb", 1}, {"", 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(STR_find_space(c.text), c.text + c.offset);
    }
    EXPECT_EQ(STR_find_space(nullptr), nullptr);

    char a[] = "a", b[] = "b", a2[] = "a";
    char *array[] = {a, b, a2, nullptr};
    EXPECT_EQ(STR_find_string(array, "a"), &array[0]);
    EXPECT_EQ(STR_find_string_reverse(array, "a"), &array[2]);
    EXPECT_EQ(STR_find_string(array, "b"), &array[1]);
    EXPECT_EQ(STR_find_string(array, "z"), nullptr);
    EXPECT_EQ(STR_find_string_reverse(array, "z"), nullptr);
}

} // namespace
