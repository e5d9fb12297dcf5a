// File-name dissection, cleaning, absolute and relative forms, and the
// expansion of environment variables.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "strings/support.h"

using zep_test::take;

namespace {

const char *show(const char *s) { return s ? s : "<null>"; }

TEST(FileName, PointersIntoTheName)
{
    struct Case {
        char *(*find)(const char *);
        const char *s;
        const char *expected; // null: the function returns null
    };
    const Case cases[] = {
        {STR_extension, "dir.v2/file", "v2/file"},
        {STR_extension, "a.b.c", "c"},
        {STR_extension, "a.", ""},
        {STR_extension, "abc", nullptr},
        {STR_extension, "", nullptr},
        {STR_tail, "/a/b", "b"},
        {STR_tail, "b", "b"},
        {STR_tail, "a/", ""},
        {STR_host_remove, "host:/p", "/p"},
        {STR_host_remove, "a:b:/c", "/c"},
        {STR_host_remove, "/a:b", "/a:b"},
        {STR_host_remove, "x", "x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.s);
        const char *got = c.find(c.s);
        EXPECT_STREQ(show(got), show(c.expected));
        if (got) {
            EXPECT_TRUE(got >= c.s && got <= c.s + std::string(c.s).size());
        }
    }
}

TEST(FileName, CutsInPlace)
{
    struct Case {
        char *(*cut)(char *);
        const char *s;
        const char *expected; // null: the function returns null
    };
    const Case cases[] = {
        {STR_root, "a.b.c", "a.b"},
        {STR_root, "abc", "abc"},
        {STR_root, "dir.v2/file", "dir"},
        {STR_head, "a//b", "a"},
        {STR_head, "/a", ""},
        {STR_head, "a", nullptr},
        {STR_head, "", nullptr},
        {STR_head, "a/b//", "a/b"},
        {STR_head, "x/y/z", "x/y"},
        {STR_host, "host:/path", "host"},
        {STR_host, ":/path", nullptr},
        {STR_host, "/a:b", nullptr},
        {STR_host, "h:x", "h"},
        {STR_host, "a:b:/c", "a"},
        {STR_host, "plain", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.s);
        std::string s = c.s;
        char *got = c.cut(s.data());
        EXPECT_STREQ(show(got), show(c.expected));
        if (got) {
            EXPECT_EQ(got, s.data());
        }
    }
}

TEST(FileName, HostPart)
{
    char dst[32] = "untouched";
    EXPECT_EQ(STR_filename_host(dst, "host:/p"), 1);
    EXPECT_STREQ(dst, "host");
    EXPECT_EQ(STR_filename_host(dst, ":x"), 1);
    EXPECT_STREQ(dst, "");
    EXPECT_EQ(STR_filename_host(nullptr, "h:/x"), 1);
    std::strcpy(dst, "untouched");
    EXPECT_EQ(STR_filename_host(dst, "/a:b"), 0);
    EXPECT_EQ(STR_filename_host(dst, "plain"), 0);
    EXPECT_STREQ(dst, "untouched");
}

TEST(FileName, CleanNormalisesWithoutGrowing)
{
    struct Case {
        const char *s;
        const char *expected;
    };
    const Case cases[] = {
        {"a//b/./c/../d/", "a/b/d"},
        {"../x", "../x"},
        {"a/..", "."},
        {"/", "/"},
        {"///", "/"},
        {"/a/..", "/"},
        {"a/../..", ".."},
        {"../../a/../b", "../../b"},
        {"./", "."},
        {".", "."},
        {"x/..//y", "y"},
        {"/../a", "/../a"},
        {"a/b/../../..", ".."},
        {"host:a//b/", "host:a/b"},
        {"host:a/..", "host:."},
        {"h:/x/./y", "h:/x/y"},
        {"a/b:c/..", "a"},
        {"...", "..."},
        {"", ""},
        {"host:", "host:"}, // no room for "." in either
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.s);
        // Exactly the name's own bytes, so a result that grows is caught.
        std::unique_ptr<char[]> s(new char[std::strlen(c.s) + 1]);
        std::strcpy(s.get(), c.s);
        EXPECT_EQ(STR_filename_clean(s.get()), s.get());
        EXPECT_STREQ(s.get(), c.expected);
    }
}

TEST(FileName, AbsoluteForm)
{
    struct Case {
        const char *dir;
        const char *s;
        const char *expected;
    };
    const Case cases[] = {
        {"/a/b/c", "../../d", "/a/d"},
        {"/a", "../../x", "/x"},
        {"/a/b", "x", "/a/b/x"},
        {"/a/b/", "x", "/a/b/x"},
        {"/a/b", "./x", "/a/b/x"},
        {"/a/b", ".//./x", "/a/b/x"},
        {"/a/b", "..", "/a"},
        {"/a/b", "../", "/a"},
        {"/a/b", "/abs", "/abs"},
        {"/a/b", "h:rel", "h:rel"},
        {"/a/b", "", ""},
        {"/", "../x", "/x"},
        {"/a/b", "..x", "/a/b/..x"},
        {"/a/b", "...", "/a/b/..."},
        {"/a//b", "../c", "/a/c"},
        {"/a/b", "./", "/a/b"},
        {"/a/b/", "../c", "/a/c"},
        {"/a/b", "./../c", "/a/c"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.dir) + " + " + c.s);
        std::string dst(std::strlen(c.dir) + std::strlen(c.s) + 2, '#');
        EXPECT_EQ(STR_filename_absolute(dst.data(), c.dir, c.s), dst.data());
        EXPECT_STREQ(dst.c_str(), c.expected);
    }
    char dst[4] = "###";
    EXPECT_STREQ(STR_filename_absolute(dst, "/a", nullptr), "");

    // The buffer may be the name or the directory.
    char name[32] = "../x";
    EXPECT_STREQ(STR_filename_absolute(name, "/a/b", name), "/a/x");
    char dir[32] = "/a/b";
    EXPECT_STREQ(STR_filename_absolute(dir, dir, "../c"), "/a/c");
}

TEST(FileName, RelativeFormWhenShorter)
{
    struct Case {
        const char *dir;
        const char *s;
        const char *expected;
    };
    const Case cases[] = {
        {"/a/b", "/a/b/c/d", "c/d"},
        {"/a/b/c", "/a/b/x", "../x"},
        {"/a/c", "/a/b", "/a/b"},
        {"/a/b/c/d", "/a/b/c/x/y", "../x/y"},
        {"/a/b/c/d", "/a/b/x", "../../x"},
        {"/a/b/c/d/e/f", "/a/b/x", "/a/b/x"},
        {"/a/b/", "/a/b/c", "c"},
        {"/a/b", "h:/a/b/c", "h:/a/b/c"},
        {"/a/b", "", ""},
        {"/a/b", "/a/b", ""},
        {"/a/b/c/d", "/a/b/c/d/e", "e"},
        {"/a/b/c", "/a/b/cd", "../cd"},
        {"/a/b/c", "/a/bx", "../../bx"},
        {"/a/b/c/d", "/a/b/cx", "../../cx"},
        {"/a//b/c", "/a//b/x", "../x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.dir) + " -> " + c.s);
        std::string dst(3 * std::strlen(c.dir) + std::strlen(c.s) + 1, '#');
        EXPECT_EQ(STR_filename_relative(dst.data(), c.dir, c.s), dst.data());
        EXPECT_STREQ(dst.c_str(), c.expected);
    }
    char name[32] = "/a/b/x";
    EXPECT_STREQ(STR_filename_relative(name, "/a/b/c", name), "../x");
}

// Sets or unsets an environment variable for the life of the guard.
class EnvVar {
  public:
    EnvVar(const std::string &name, const char *value) : name_(name)
    {
        if (const char *old = std::getenv(name.c_str())) old_ = old;
        if (value)
            setenv(name.c_str(), value, 1);
        else
            unsetenv(name.c_str());
    }
    ~EnvVar()
    {
        if (old_)
            setenv(name_.c_str(), old_->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    EnvVar(const EnvVar &) = delete;
    EnvVar &operator=(const EnvVar &) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

struct Expansion {
    int ok;
    std::string text; // "<null>" when no result
};

Expansion expand(const std::string &s)
{
    char *result = reinterpret_cast<char *>(1);
    int ok = STR_expand_filename(s.c_str(), &result);
    return {ok, take(result)};
}

TEST(ExpandFileName, VariablesSetAndUnset)
{
    EnvVar home("HOME", "/u");
    EnvVar empty("ZEP_TEST_EMPTY", "");
    EnvVar unset("ZEP_TEST_UNSET", nullptr);
    struct Case {
        const char *s;
        int ok;
        const char *text;
    };
    const Case cases[] = {
        {"$HOME/x", 1, "/u/x"},
        {"${HOME}/x", 1, "/u/x"},
        {"  \t$HOME", 1, "/u"},
        {"a${HOME}b", 1, "a/ub"},
        {"$HOME.x", 1, "/u.x"},
        {"${HOME", 1, "/u"},
        {"$HOME$HOME", 1, "/u/u"},
        {"a$ZEP_TEST_EMPTY/b", 1, "a/b"},
        {"plain", 1, "plain"},
        {"", 1, ""},
        {"x/$ZEP_TEST_UNSET/$HOME", 0, "ZEP_TEST_UNSET"},
        {"${ZEP_TEST_UNSET}", 0, "ZEP_TEST_UNSET"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.s);
        Expansion e = expand(c.s);
        EXPECT_EQ(e.ok, c.ok);
        EXPECT_EQ(e.text, c.text);
    }
    EnvVar no_home("HOME", nullptr);
    Expansion e = expand("$HOME/x");
    EXPECT_EQ(e.ok, 0);
    EXPECT_EQ(e.text, "HOME");
}

TEST(ExpandFileName, LimitsFailWithoutResult)
{
    const std::string max(STR_EXPAND_MAX, 'p');
    EXPECT_EQ(expand(max).text, max);
    Expansion over = expand(max + "p");
    EXPECT_EQ(over.ok, 0);
    EXPECT_EQ(over.text, "<null>");

    // Names: 259 characters are looked up, 260 are not, set or unset.
    const std::string name(STR_EXPAND_MAX, 'N');
    EnvVar long_name(name, "v");
    EXPECT_EQ(expand("$" + name).text, "v");
    EnvVar longer_name(name + "N", "v");
    over = expand("${" + name + "N}");
    EXPECT_EQ(over.ok, 0);
    EXPECT_EQ(over.text, "<null>");
    EnvVar unset_longer(name + "NN", nullptr);
    EXPECT_EQ(expand("$" + name + "NN").text, "<null>");

    // A value that takes the expansion to the limit, and one past it.
    EnvVar value("ZEP_TEST_VALUE", std::string(STR_EXPAND_MAX - 2, 'v').c_str());
    EXPECT_EQ(expand("a/$ZEP_TEST_VALUE").text, "a/" + std::string(STR_EXPAND_MAX - 2, 'v'));
    over = expand("ab/$ZEP_TEST_VALUE");
    EXPECT_EQ(over.ok, 0);
    EXPECT_EQ(over.text, "<null>");
    over = expand("a/$ZEP_TEST_VALUE/");
    EXPECT_EQ(over.ok, 0);
    EXPECT_EQ(over.text, "<null>");
}

} // namespace
