// String arrays: the pointer-array helpers, parsing, sorting, and the
// shared-string table.
#include <algorithm>
#include <clocale>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "strings/shared.h"
#include "strings/support.h"

namespace {

std::vector<std::string> entries(char **array)
{
    std::vector<std::string> out;
    for (; array && *array; ++array)
        out.emplace_back(*array);
    return out;
}

TEST(PointerArray, ResizeCountAndCopy)
{
    void **array = str__array_resize(nullptr, 0);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(str__array_count(array), 0);
    EXPECT_EQ(str__array_count(nullptr), 0);

    int slots[5];
    array = str__array_resize(array, 5);
    ASSERT_NE(array, nullptr);
    for (int i = 0; i < 5; ++i)
        array[i] = &slots[i];
    EXPECT_EQ(str__array_count(array), 5);

    array = str__array_resize(array, 3); // cut, and ended, at three entries
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(str__array_count(array), 3);
    EXPECT_EQ(array[2], &slots[2]);

    array = str__array_resize(array, 6); // grown: still three entries
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(str__array_count(array), 3);

    void *copy[8];
    std::fill(std::begin(copy), std::end(copy), &slots[4]);
    EXPECT_EQ(str__array_copy(copy, array), copy);
    EXPECT_EQ(str__array_count(copy), 3);
    EXPECT_EQ(copy[3], nullptr);
    EXPECT_EQ(copy[4], &slots[4]);

    // copy_n stops after n entries, or after the terminator when sooner.
    std::fill(std::begin(copy), std::end(copy), &slots[4]);
    str__array_copy_n(copy, array, 2);
    EXPECT_EQ(copy[1], &slots[1]);
    EXPECT_EQ(copy[2], &slots[4]);
    str__array_copy_n(copy, array, 7);
    EXPECT_EQ(copy[3], nullptr);
    EXPECT_EQ(copy[4], &slots[4]);
    ERR_free(array);
}

TEST(Parse, SplitsAtBlanksInPlace)
{
    struct Case {
        const char *s;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"", {}},
        {" \t\n", {}},
        {"one", {"one"}},
        {"  a bb\tccc\n", {"a", "bb", "ccc"}},
        {"\"no quoting\" here", {"\"no", "quoting\"", "here"}},
        {"1 2 3 4 5 6 7 8 9 10 11", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.s);
        std::string s = c.s;
        char **words = STR_parse(s.data());
        ASSERT_NE(words, nullptr);
        EXPECT_EQ(entries(words), c.words);
        for (char **w = words; *w; ++w) // the words lie in s itself
            EXPECT_TRUE(*w >= s.data() && *w < s.data() + s.size());
        ERR_free(words);
    }
}

// Random texts of 0..12 bytes, bytes above 127 and repeats included.
std::vector<std::string> random_texts(std::mt19937 &rng, int n)
{
    std::uniform_int_distribution<int> length(0, 12);
    std::uniform_int_distribution<int> byte(1, 255);
    std::uniform_int_distribution<int> narrow('a', 'c');
    std::vector<std::string> texts;
    for (int i = 0; i < n; ++i) {
        std::string s;
        int l = length(rng);
        bool wide = i % 2;
        for (int j = 0; j < l; ++j)
            s += static_cast<char>(wide ? byte(rng) : narrow(rng));
        texts.push_back(s);
    }
    return texts;
}

TEST(Sort, OrdersAgreeWithTheComparisons)
{
    ASSERT_NE(std::setlocale(LC_COLLATE, "C"), nullptr);
    struct Order {
        const char *name;
        char **(*sort)(char **);
        bool (*before)(const std::string &, const std::string &);
    };
    const Order orders[] = {
        {"ascending", STR_sort,
         [](const std::string &a, const std::string &b) {
             return STR_compare(a.c_str(), b.c_str()) < 0;
         }},
        {"descending", STR_sort_reverse,
         [](const std::string &a, const std::string &b) {
             return STR_compare(a.c_str(), b.c_str()) > 0;
         }},
        {"collated", STR_sort_collate,
         [](const std::string &a, const std::string &b) {
             return std::strcoll(a.c_str(), b.c_str()) < 0;
         }},
    };
    std::mt19937 rng(7);
    for (int n : {0, 1, 2, 3, 4, 5, 8, 31, 64, 257, 1000}) {
        std::vector<std::string> texts = random_texts(rng, n);
        for (const Order &o : orders) {
            SCOPED_TRACE(std::string(o.name) + ", " + std::to_string(n) + " entries");
            std::vector<char *> array;
            for (std::string &t : texts)
                array.push_back(t.data());
            array.push_back(nullptr);
            EXPECT_EQ(o.sort(array.data()), array.data());
            std::vector<std::string> expected = texts;
            std::sort(expected.begin(), expected.end(), o.before);
            EXPECT_EQ(entries(array.data()), expected);
        }
    }
    EXPECT_EQ(STR_sort(nullptr), nullptr);
}

TEST(Sort, SignedAndCollatedOrdersDifferAboveByte127)
{
    ASSERT_NE(std::setlocale(LC_COLLATE, "C"), nullptr);
    char high[] = "\xc8", low[] = "a";
    char *array[] = {low, high, nullptr};
    STR_sort(array);
    EXPECT_EQ(array[0], high); // signed: byte 200 first
    STR_sort_collate(array);
    EXPECT_EQ(array[0], low); // the C locale collates bytes unsigned
}

TEST(SharedStrings, CountedDefinitions)
{
    std::string text = "shared-strings-counted";
    const char *first = STR_define(text.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, text.c_str());
    EXPECT_STREQ(first, text.c_str());
    EXPECT_EQ(zep::shared_count(text.c_str()), 1);

    std::string again = text; // another buffer with the same text
    EXPECT_EQ(STR_define(again.c_str()), first);
    EXPECT_EQ(zep::shared_count(text.c_str()), 2);

    EXPECT_EQ(STR_undefine(text.c_str()), 0);
    EXPECT_EQ(zep::shared_count(text.c_str()), 1);
    EXPECT_EQ(STR_undefine(first), 0);
    EXPECT_EQ(zep::shared_count(text.c_str()), 0);
    EXPECT_EQ(STR_undefine(text.c_str()), 0); // absent: nothing happens

    const char *third = STR_define(text.c_str());
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(zep::shared_count(text.c_str()), 1);
    STR_undefine(third);
    EXPECT_EQ(zep::shared_count(text.c_str()), 0);
}

TEST(SharedStrings, TextsSharingABucket)
{
    // Four texts of one bucket, found by search.
    std::vector<std::string> texts;
    unsigned int bucket = STR_hash("collide-0", 1023);
    texts.push_back("collide-0");
    for (int i = 1; texts.size() < 4; ++i) {
        std::string t = "collide-" + std::to_string(i);
        if (STR_hash(t.c_str(), 1023) == bucket) texts.push_back(t);
    }
    std::vector<const char *> copies;
    for (const std::string &t : texts)
        copies.push_back(STR_define(t.c_str()));
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_STREQ(copies[i], texts[i].c_str());
        EXPECT_EQ(STR_define(texts[i].c_str()), copies[i]);
        EXPECT_EQ(zep::shared_count(texts[i].c_str()), 2);
    }
    // Remove from the middle, the front and the back of the chain.
    for (size_t i : {size_t{1}, size_t{3}, size_t{0}, size_t{2}}) {
        STR_undefine(texts[i].c_str());
        STR_undefine(texts[i].c_str());
        EXPECT_EQ(zep::shared_count(texts[i].c_str()), 0);
        for (size_t j = 0; j < texts.size(); ++j)
            if (zep::shared_count(texts[j].c_str())) {
                EXPECT_STREQ(copies[j], texts[j].c_str());
            }
    }
}

TEST(SharedStrings, UndefineArrayReleasesEachEntryAndTheArray)
{
    void **array = str__array_resize(nullptr, 3);
    ASSERT_NE(array, nullptr);
    const char *names[] = {"array-one", "array-two", "array-one"};
    for (int i = 0; i < 3; ++i)
        array[i] = const_cast<char *>(STR_define(names[i]));
    EXPECT_EQ(zep::shared_count("array-one"), 2);
    STR_define("array-two"); // held elsewhere too
    EXPECT_EQ(STR_undefine_array(reinterpret_cast<char **>(array)), 0);
    EXPECT_EQ(zep::shared_count("array-one"), 0);
    EXPECT_EQ(zep::shared_count("array-two"), 1);
    STR_undefine("array-two");
    EXPECT_FALSE(zep_test::leaks_now());
}

} // namespace
