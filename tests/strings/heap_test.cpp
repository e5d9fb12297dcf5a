// Heap strings that grow, insertion, and the in-place edits.
#include <climits>
#include <cstring>
#include <string>

#include "strings/support.h"

using zep_test::take;

namespace {

TEST(HeapString, MoreMakesRoomAndCuts)
{
    char *s = STR_more(nullptr, 5);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    std::memcpy(s, "abcde", 6); // all five characters and the terminator fit
    s = STR_more(s, 2);
    EXPECT_EQ(take(s), "ab");
}

TEST(HeapString, CopiesAndConcatenations)
{
    EXPECT_EQ(take(STR_save(nullptr)), "");
    EXPECT_EQ(take(STR_save("x\xff")), "x\xff");

    struct Cut {
        int n;
        const char *expected;
    };
    for (const Cut &c : {Cut{3, "abc"}, Cut{10, "abcdef"}, Cut{0, ""}, Cut{-2, ""}})
        EXPECT_EQ(take(STR_n_save("abcdef", c.n)), c.expected) << c.n;

    EXPECT_EQ(take(STR_save_n(3, "a", static_cast<const char *>(nullptr), "bc")), "abc");
    EXPECT_EQ(take(STR_save_n(1, "solo")), "solo");
    EXPECT_EQ(take(STR_save_n(0)), "");
    EXPECT_EQ(take(STR_save_n(-1)), "");
}

TEST(HeapString, AppendsIncludingFromItself)
{
    EXPECT_EQ(take(STR_append(nullptr, "x")), "x");
    EXPECT_EQ(take(STR_append(STR_save("ab"), "cd")), "abcd");

    char *s = STR_save("abc");
    s = STR_append(s, s);
    EXPECT_STREQ(s, "abcabc");
    s = STR_append(s, s + 4);
    EXPECT_EQ(take(s), "abcabcbc");
}

TEST(HeapString, BoundedAppendPadsWithZeroBytes)
{
    EXPECT_EQ(take(STR_n_append(STR_save("ab"), "cdef", 2)), "abcd");
    EXPECT_EQ(take(STR_n_append(nullptr, "cdef", 9)), "cdef");
    EXPECT_EQ(take(STR_n_append(STR_save("ab"), "cd", -1)), "ab");

    char *s = STR_n_append(STR_save("ab"), "c", 3);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "abc");
    EXPECT_EQ(s[4], '\0'); // the block holds all n bytes and the terminator
    EXPECT_EQ(s[5], '\0');
    ERR_free(s);

    s = STR_save("ab");
    s = STR_n_append(s, s, 4); // only the two bytes before s's end are copied
    EXPECT_EQ(take(s), "abab");
}

TEST(HeapString, InsertsClampTheirIndex)
{
    struct Case {
        const char *s;
        int c;
        int i;
        const char *expected;
    };
    const Case cases[] = {
        {"ab", 'x', 0, "xab"},  {"ab", 'x', 1, "axb"},  {"ab", 'x', 99, "abx"},
        {"ab", 'x', -5, "xab"}, {nullptr, 'x', 3, "x"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(take(STR_insert(c.s ? STR_save(c.s) : nullptr, c.c, c.i)), c.expected)
            << (c.s ? c.s : "<null>") << " at " << c.i;
}

TEST(HeapString, TextInsertsClampIndexAndCount)
{
    struct Case {
        const char *s;
        const char *t;
        int i;
        int n;
        const char *expected;
    };
    const Case cases[] = {
        {"abcd", "XYZ", 2, 2, "abXYcd"}, {"abcd", "XYZ", 9, 99, "abcdXYZ"},
        {"abcd", "XYZ", -1, -3, "abcd"}, {"abcd", "XYZ", -4, 1, "Xabcd"},
        {nullptr, "XY", 0, 2, "XY"},     {nullptr, "XY", 0, 0, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(take(STR_n_insert(c.s ? STR_save(c.s) : nullptr, c.t, c.i, c.n)), c.expected);

    // The inserted text may lie in the string, before, across or after the
    // insertion point.
    struct Self {
        int from;
        int i;
        int n;
        const char *expected;
    };
    const Self selves[] = {
        {0, 2, 4, "ababcdcd"},
        {1, 2, 3, "abbcdcd"},
        {3, 1, 1, "adbcd"},
        {0, 4, 4, "abcdabcd"},
    };
    for (const Self &c : selves) {
        char *s = STR_save("abcd");
        EXPECT_EQ(take(STR_n_insert(s, s + c.from, c.i, c.n)), c.expected)
            << "from " << c.from << " at " << c.i;
    }
}

TEST(InPlaceEdit, RemovalsOfCharacters)
{
    struct Case {
        char *(*edit)(char *, int);
        const char *s;
        int c;
        const char *expected;
    };
    const Case cases[] = {
        {STR_remove, "abcabc", 'b', "acabc"},    {STR_remove_reverse, "abcabc", 'b', "abcac"},
        {STR_remove_all, "abcabc", 'b', "acac"}, {STR_remove, "abc", 'z', "abc"},
        {STR_remove_all, "bbb", 'b', ""},        {STR_remove_all, "abc", '\0', "abc"},
        {STR_remove, "a\xe9", 0xe9, "a"},        {STR_remove_reverse, "abc", '\0', "abc"},
    };
    for (const Case &c : cases) {
        std::string s = c.s;
        EXPECT_STREQ(c.edit(s.data(), c.c), c.expected) << c.s;
    }
}

TEST(InPlaceEdit, RemovalsByIndex)
{
    struct Case {
        int i;
        int n; // 0: STR_remove_index
        const char *expected;
    };
    const Case cases[] = {
        {1, 0, "acdef"},
        {6, 0, "abcdef"},
        {-1, 0, "abcdef"},
        {1, 2, "adef"},
        {4, 10, "abcd"},
        {-2, 3, "bcdef"},
        {-5, 3, "abcdef"},
        {2, -1, "abcdef"},
        {6, 1, "abcdef"},
        {0, INT_MAX, ""},
        {INT_MAX, INT_MAX, "abcdef"},
    };
    for (const Case &c : cases) {
        std::string s = "abcdef";
        char *got = c.n ? STR_n_remove_index(s.data(), c.i, c.n) : STR_remove_index(s.data(), c.i);
        EXPECT_STREQ(got, c.expected) << "i=" << c.i << " n=" << c.n;
    }
}

} // namespace
