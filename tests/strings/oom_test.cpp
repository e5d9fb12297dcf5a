// Out-of-memory paths: each call is run with its first, second, ...
// allocation failing until it succeeds. A failing call returns its specified
// failure result, leaves what it was given intact, leaks nothing, and the
// call works again afterwards.
#include <cstdlib>
#include <cstring>
#include <string>

#include "strings/shared.h"
#include "strings/support.h"

using zep_test::until_success;

namespace {

TEST(OutOfMemory, NewHeapStrings)
{
    struct Case {
        const char *name;
        char *(*make)();
        const char *expected;
    };
    const Case cases[] = {
        {"save", [] { return STR_save("abc"); }, "abc"},
        {"save null", [] { return STR_save(nullptr); }, ""},
        {"n_save", [] { return STR_n_save("abcdef", 4); }, "abcd"},
        {"save_n", [] { return STR_save_n(2, "ab", "cd"); }, "abcd"},
        {"more", [] { return STR_more(nullptr, 9); }, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int failures = until_success([&] {
            char *s = c.make();
            if (!s) return false;
            EXPECT_STREQ(s, c.expected);
            ERR_free(s);
            return true;
        });
        EXPECT_EQ(failures, 1);
    }
}

TEST(OutOfMemory, GrowingKeepsTheOldString)
{
    struct Case {
        const char *name;
        char *(*grow)(char *);
        const char *expected;
    };
    const Case cases[] = {
        {"more", [](char *s) { return STR_more(s, 200); }, "abc"},
        {"append", [](char *s) { return STR_append(s, "def"); }, "abcdef"},
        {"append self", [](char *s) { return STR_append(s, s); }, "abcabc"},
        {"n_append", [](char *s) { return STR_n_append(s, "def", 5); }, "abcdef"},
        {"insert", [](char *s) { return STR_insert(s, 'x', 1); }, "axbc"},
        {"n_insert", [](char *s) { return STR_n_insert(s, "xy", 3, 2); }, "abcxy"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        char *s = STR_save("abc");
        ASSERT_NE(s, nullptr);
        int failures = until_success([&] {
            char *grown = c.grow(s);
            if (!grown) {
                EXPECT_STREQ(s, "abc");
                return false;
            }
            EXPECT_STREQ(grown, c.expected);
            s = grown;
            return true;
        });
        EXPECT_EQ(failures, 1);
        ERR_free(s);
    }
}

TEST(OutOfMemory, DefineAddsAWholeNodeOrNothing)
{
    const char *text = "oom-define-text";
    int failures = until_success([&] {
        const char *copy = STR_define(text);
        if (!copy) {
            EXPECT_EQ(zep::shared_count(text), 0);
            return false;
        }
        EXPECT_EQ(zep::shared_count(text), 1);
        return true;
    });
    EXPECT_EQ(failures, 1);
    // One undefine removes it: no half-inserted node was left behind.
    STR_undefine(text);
    EXPECT_EQ(zep::shared_count(text), 0);

    // A defined text is counted again without allocating.
    STR_define(text);
    err__alloc_fail(1, 1);
    EXPECT_NE(STR_define(text), nullptr);
    EXPECT_EQ(err__alloc_fail(0, 0), 0);
    EXPECT_EQ(zep::shared_count(text), 2);
    STR_undefine(text);
    STR_undefine(text);
}

TEST(OutOfMemory, ArrayResizeKeepsTheOldArray)
{
    int failures = until_success([] {
        void **array = str__array_resize(nullptr, 4);
        if (!array) return false;
        EXPECT_EQ(str__array_count(array), 0);
        ERR_free(array);
        return true;
    });
    EXPECT_EQ(failures, 1);

    int a = 0, b = 0;
    void **array = str__array_resize(nullptr, 2);
    ASSERT_NE(array, nullptr);
    array[0] = &a;
    array[1] = &b;
    failures = until_success([&] {
        void **grown = str__array_resize(array, 1000);
        if (!grown) {
            EXPECT_EQ(str__array_count(array), 2);
            EXPECT_EQ(array[1], &b);
            return false;
        }
        EXPECT_EQ(str__array_count(grown), 2);
        array = grown;
        return true;
    });
    EXPECT_EQ(failures, 1);
    ERR_free(array);
}

TEST(OutOfMemory, ParseReturnsNull)
{
    const char *line = "a b c d e f g h i j"; // more words than the first block holds
    int failures = until_success([&] {
        std::string s = line;
        char **words = STR_parse(s.data());
        if (!words) return false;
        EXPECT_EQ(str__array_count(reinterpret_cast<void **>(words)), 10);
        EXPECT_STREQ(words[9], "j");
        ERR_free(words);
        return true;
    });
    EXPECT_GE(failures, 2);
}

TEST(OutOfMemory, ExpandGivesNoResult)
{
    setenv("ZEP_TEST_OOM", "value", 1);
    unsetenv("ZEP_TEST_OOM_UNSET");
    struct Case {
        const char *s;
        int ok;
        const char *expected;
    };
    const Case cases[] = {
        {"a/$ZEP_TEST_OOM", 1, "a/value"},
        {"a/$ZEP_TEST_OOM_UNSET", 0, "ZEP_TEST_OOM_UNSET"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.s);
        int failures = until_success([&] {
            char *result = reinterpret_cast<char *>(1);
            int ok = STR_expand_filename(c.s, &result);
            if (!result) {
                EXPECT_EQ(ok, 0);
                return false;
            }
            EXPECT_EQ(ok, c.ok);
            EXPECT_STREQ(result, c.expected);
            ERR_free(result);
            return true;
        });
        EXPECT_EQ(failures, 1);
    }
    unsetenv("ZEP_TEST_OOM");
}

} // namespace
