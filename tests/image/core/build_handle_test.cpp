// zep__build_handle: joining directory, name and extension, and refusing a
// path that would not fit its buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <zep/image.h>

namespace {

struct Join {
    const char *directory;
    const char *name;
    const char *extension;
    const char *expected;
};

const Join kJoins[] = {
    {"/img/", "shot", ".pipe", "/img/shot.pipe"},    // no second slash
    {"/img", "shot", ".pipe", "/img/shot.pipe"},     // a slash is added
    {"/img", "shot.", ".pipe", "/img/shot.pipe"},    // the name's dot serves
    {"/img", "./shot.pipe", ".pipe", "./shot.pipe"}, // relative to here, complete
    {"/img", "./shot", ".rla", "./shot.rla"},
    {"/img", "/abs/shot", ".rla", "/abs/shot.rla"},  // absolute: no directory
    {nullptr, "shot", ".rla", "shot.rla"},           // no directory
    {"/img", "shot.rla", ".rla", "/img/shot.rla"},   // already has it
    {"/img", ".hidden", ".rla", "/img/.hidden.rla"}, // a dot is not "./"
    {"/img", "../up", ".rla", "/img/../up.rla"},
    {"img", "shot.rla.", ".rla", "img/shot.rla.rla"},
    {"img", "shot", "", "img/shot"},
    {"img", "shot", nullptr, "img/shot"},
    {"img", "shot.", ".", "img/shot."},
    {"img", "shot", "rla", "img/shotrla"}, // the extension is appended as it is
    {"", "shot", ".rla", "/shot.rla"},
};

TEST(BuildHandle, JoinsDirectoryNameAndExtension)
{
    for (const Join &j : kJoins) {
        SCOPED_TRACE(std::string(j.directory ? j.directory : "(null)") + " | " + j.name + " | " +
                     (j.extension ? j.extension : "(null)"));
        EXPECT_STREQ(zep__build_handle(j.directory, j.name, j.extension), j.expected);
    }
}

TEST(BuildHandle, EveryCallOverwritesTheSameBuffer)
{
    const char *a = zep__build_handle("d", "a", ".x");
    const std::string first = a;
    const char *b = zep__build_handle("d", "b", ".y");
    EXPECT_EQ(a, b);
    EXPECT_EQ(first, "d/a.x");
    EXPECT_STREQ(a, "d/b.y");
}

TEST(BuildHandle, PathsUpToTheBufferSizeFit)
{
    const size_t max = ZEP_BUILD_HANDLE_MAX - 1; // characters, without the terminator
    struct Case {
        const char *what;
        std::string directory; // empty: null
        std::string name;
        std::string extension;
        size_t length; // 0: does not fit
    };
    const std::string dir(500, 'd');
    const Case cases[] = {
        {"name alone, full", "", std::string(max, 'n'), "", max},
        {"name alone, one over", "", std::string(max + 1, 'n'), "", 0},
        {"name already ending in the extension", "", std::string(max - 4, 'n') + ".rla", ".rla",
         max},
        {"extension makes it full", "", std::string(max - 4, 'n'), ".rla", max},
        {"extension one over", "", std::string(max - 3, 'n'), ".rla", 0},
        {"dot saved from the extension", "", std::string(max - 4, 'n') + ".", ".rla", max},
        {"directory, slash and name full", dir, std::string(max - 501, 'n'), "", max},
        {"the added slash is one over", dir, std::string(max - 500, 'n'), "", 0},
        {"directory alone too long", std::string(ZEP_BUILD_HANDLE_MAX, 'd'), "n", "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const char *before = zep__build_handle(nullptr, "previous", "");
        ASSERT_STREQ(before, "previous");
        const char *p = zep__build_handle(c.directory.empty() ? nullptr : c.directory.c_str(),
                                          c.name.c_str(), c.extension.c_str());
        if (c.length == 0) {
            EXPECT_EQ(p, nullptr);
            EXPECT_STREQ(before, "previous") << "a refused path writes nothing";
        } else {
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(std::strlen(p), c.length);
        }
    }
}

TEST(BuildHandle, NullNameBuildsNothing)
{
    EXPECT_EQ(zep__build_handle("d", nullptr, ".x"), nullptr);
}

} // namespace
