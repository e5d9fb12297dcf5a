// Building frame path names, from a name syntax and from a format's printf
// format string, with the RLA module ("rla", ".rla") and the test formats
// "tst" (".tst", no syntax) and "full" (".full", "Name_#.Ext", "%s_%d%s",
// extension not added).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include <zep/zep.h>

#include "image/core/image_support.h"

namespace {

constexpr char kSentinel = '\x5a';
constexpr int kKept = -99; // zep__err before a call; the printf builder keeps it on success

void fill(char *buf) { std::memset(buf, kSentinel, ZEP_PATHNAME_MAX); }

// The text of buf up to its NUL; "<no NUL>" when it has none.
std::string text(const char *buf)
{
    const void *nul = std::memchr(buf, 0, ZEP_PATHNAME_MAX);
    return nul ? std::string(buf) : "<no NUL>";
}

// True when every byte after the first NUL (all of them without one) is
// still the sentinel.
bool tail_intact(const char *buf)
{
    const char *nul = static_cast<const char *>(std::memchr(buf, 0, ZEP_PATHNAME_MAX));
    for (const char *p = nul ? nul + 1 : buf; p < buf + ZEP_PATHNAME_MAX; ++p)
        if (*p != kSentinel) return false;
    return true;
}

// syntax null: the printf builder. A name or path starting "@" lies in the
// test's folder, where "foo", "foo.0007" and "plain" exist. code 0: success.
// base null: not checked. key_out null: the given key.
struct Case {
    const char *syntax, *name, *key, *ext;
    int mode;
    bool force;
    int frame, code;
    const char *path, *base;
    int frame_out;
    const char *key_out;
};

constexpr const char *S = "name.####.ext";
const Case kCases[] = {
    {S, "shots/foo.0007.rla", "rla", nullptr, 0, false, -1, 0, "shots/foo.0007.rla", "foo", 7, nullptr},
    {S, "shots/foo.0007.rla", "rla", nullptr, 0, false, 12, 0, "shots/foo.0012.rla", "foo", 7, nullptr},
    {S, "shots/foo.0007.rla", "rla", nullptr, 1, false, -1, 0, "shots/foo.*.rla", "foo", 7, nullptr},
    {S, "shots/foo.0007.rla", "rla", nullptr, 2, false, -1, 0, "shots/foo.%04d.rla", "foo", 7, nullptr},
    {S, "shots/foo.0007.rla", "rla", nullptr, 3, false, 12, 0, "shots/foo.0012.rla", "foo", 7, nullptr},
    // the frame element is dropped to match; the extension is added; case kept
    {S, "foo.rla", "rla", nullptr, 0, true, 3, 0, "foo.rla", "foo", -1, nullptr},
    {S, "foo.0007", "rla", nullptr, 0, true, -1, 0, "foo.0007.rla", "foo", 7, nullptr},
    {"NAME.####.EXT", "FOO.0001.RLA", "rla", nullptr, 0, false, 2, 0, "FOO.0002.RLA", "FOO", 1, nullptr},
    {S, "foo.0001.rla", "rla", "RLA", 0, false, -1, 0, "foo.0001.rla", "foo", 1, nullptr},
    // field markers after the digits
    {"name.####", "foo.0007e", "rla", nullptr, 0, false, 12, 0, "foo.0012e", "foo", 7, nullptr},
    {"name.####", "foo.0007o", "rla", nullptr, 2, false, -1, 0, "foo.%04do", "foo", 7, nullptr},
    // several digit runs; frame next to the name or the extension
    {S, "shot2.v3.0012.rla", "rla", nullptr, 0, false, 5, 0, "shot2.v3.0005.rla", "shot2.v3", 12, nullptr},
    {"name####.ext", "v2shot0012.rla", "rla", nullptr, 0, false, 5, 0, "v2shot0005.rla", "v2shot", 12, nullptr},
    {"####name.ext", "0012take3.rla", "rla", nullptr, 0, false, 5, 0, "0005take3.rla", "take3", 12, nullptr},
    {"name.####ext", "foo.0012rla", "rla", nullptr, 0, false, 9, 0, "foo.0009rla", "foo", 12, nullptr},
    // the format's syntax and extension; the default syntax; widths
    {"", "shot_12.full", "full", nullptr, 0, false, 5, 0, "shot_5.full", "shot", 12, nullptr},
    {"", "shot_007.full", "full", nullptr, 0, false, 5, 0, "shot_005.full", "shot", 7, nullptr},
    {"", "a.0002.tst", "tst", nullptr, 0, false, 5, 0, "a.0005.tst", "a", 2, nullptr},
    // "%" doubled in templates, in the folder, the name and literals
    {S, "50%/a%b.0003.rla", "rla", nullptr, 2, false, -1, 0, "50%%/a%%b.%04d.rla", nullptr, 3, nullptr},
    {"name%####.ext", "a%0003.rla", "rla", nullptr, 2, false, -1, 0, "a%%%04d.rla", nullptr, 3, nullptr},
    // an existing file is reproduced as far as it matched unless forced
    {S, "@/foo.0007", "rla", nullptr, 0, false, -1, 0, "@/foo.0007", "foo", 7, nullptr},
    {S, "@/foo.0007", "rla", nullptr, 0, true, -1, 0, "@/foo.0007.rla", "foo", 7, nullptr},
    {S, "@/foo", "rla", nullptr, 0, false, -1, 0, "@/foo", "foo", -1, nullptr},
    {S, "@/foo", "rla", nullptr, 0, true, -1, 0, "@/foo.0001.rla", "foo", -1, nullptr},
    {S, "foo", "rla", nullptr, 0, false, 5, 0, "foo.0005.rla", "foo", -1, nullptr},
    {S, "foo.0001.rla", "nope", nullptr, 0, false, -1, -9, "", nullptr, 0, nullptr},
    {S, "foo.0001.rla", nullptr, nullptr, 0, false, -1, -9, "", nullptr, 0, nullptr},
    {S, nullptr, "rla", nullptr, 0, false, -1, -15, "", nullptr, 0, nullptr},
    {S, "", "rla", nullptr, 0, false, -1, -15, "", nullptr, 0, nullptr},
    {"name.#.#", "foo.1.rla", "rla", nullptr, 0, false, -1, -11, "", nullptr, 0, nullptr},
    {"ext.name", "foo", "rla", nullptr, 0, false, -1, -12, "", nullptr, 0, nullptr},

    // through the format string ".%04.4d" of "rla" and "mem", "_%d" of "full"
    {nullptr, "foo.0001.rla", "rla", nullptr, 0, false, -1, 0, "foo.0001.rla", "foo", 1, nullptr},
    {nullptr, "foo.0001.rla", nullptr, nullptr, 0, false, 25, 0, "foo.0025.rla", "foo", 25, "rla"},
    {nullptr, "shots/foo.0001.rla", "rla", nullptr, 1, false, -1, 0, "shots/foo.*.rla", "foo", 1, nullptr},
    {nullptr, "foo.0001.rla", "rla", nullptr, 2, false, -1, 0, "foo.%04.4d.rla", "foo", 1, nullptr},
    {nullptr, "foo.1.rla", "rla", nullptr, 0, false, 25, 0, "foo.25.rla", "foo", 25, nullptr},
    {nullptr, "foo.1.rla", "rla", nullptr, 2, false, -1, 0, "foo.%d.rla", "foo", 1, nullptr},
    {nullptr, "foo.01.rla", "rla", nullptr, 0, false, 7, 0, "foo.07.rla", "foo", 7, nullptr},
    {nullptr, "foo.000012.rla", "rla", nullptr, 0, false, 3, 0, "foo.000003.rla", "foo", 3, nullptr},
    {nullptr, "foo.12345.rla", "rla", nullptr, 0, false, 3, 0, "foo.0003.rla", "foo", 3, nullptr},
    {nullptr, "foo.12345.rla", "rla", nullptr, 0, false, -1, 0, "foo.12345.rla", "foo", 12345, nullptr},
    {nullptr, "foo0012.rla", "rla", nullptr, 0, false, 3, 0, "foo0003.rla", "foo", 3, nullptr},
    {nullptr, "foo12.rla", "rla", nullptr, 0, false, -1, 0, "foo12.rla", "foo", 12, nullptr},
    {nullptr, "foo12.rla", "rla", nullptr, 0, false, 3, 0, "foo3.rla", "foo", 3, nullptr},
    {nullptr, "foo", "rla", nullptr, 0, false, 4, 0, "foo.0004.rla", "foo", 4, nullptr},
    {nullptr, "foo.%04f.rla", "rla", nullptr, 2, false, -1, 0, "foo.%04d.rla", nullptr, -1, nullptr},
    {nullptr, "foo.%03f.rla", "rla", nullptr, 0, false, 7, 0, "foo.007.rla", nullptr, 7, nullptr},
    {nullptr, "bar.0002.mem", nullptr, nullptr, 0, false, -1, 0, "bar.0002.mem", "bar", 2, "mem"},
    {nullptr, "shot_12.full", nullptr, nullptr, 0, false, 5, 0, "shot_5.full", "shot", 5, "full"},
    {nullptr, "shot_12", "full", nullptr, 0, false, 3, 0, "shot_3", "shot", 3, nullptr},
    {nullptr, "@/plain", "full", nullptr, 0, false, 4, 0, "@/plain", "plain", -1, nullptr},
    {nullptr, "@/plain", "full", nullptr, 0, true, 4, 0, "@/plain_4", "plain", 4, nullptr},
    {nullptr, "plain", "full", nullptr, 0, false, 4, 0, "plain_4", "plain", 4, nullptr},
    {nullptr, "foo.xyz", nullptr, nullptr, 0, false, -1, -9, "", nullptr, 0, nullptr},
    {nullptr, "foo.0001.rla", "nope", nullptr, 0, false, -1, -9, "", nullptr, 0, nullptr},
};

class Pathname : public zt::LibTest {
  protected:
    void SetUp() override
    {
        LibTest::SetUp();
        start({ZT_RLA_MODULE, "tst_format", "tst_full"});
        for (const char *f : {"foo", "foo.0007", "plain"})
            std::ofstream(dir_ / f) << "x";
    }
    std::string in_dir(const char *s) const
    {
        return !s ? "" : *s == '@' ? dir_.string() + (s + 1) : s;
    }
};

TEST_F(Pathname, BuildsTheFramePathOfAName)
{
    for (const Case &c : kCases) {
        const std::string name = in_dir(c.name);
        SCOPED_TRACE(std::string(c.syntax ? c.syntax : "(no syntax)") + " " + name + " mode " +
                     std::to_string(c.mode) + " frame " + std::to_string(c.frame));
        char path[ZEP_PATHNAME_MAX], base[ZEP_PATHNAME_MAX];
        fill(path), fill(base);
        int frame = c.frame;
        const char *key = nullptr;
        const ZEP_FILE_TYPE *format = nullptr;
        zep__err = kKept;
        const int ok = ZEP_pathname_build(c.syntax, c.name ? name.c_str() : nullptr, c.key, c.ext,
                                          c.mode, c.force, &frame, path, base, &key, &format);
        EXPECT_TRUE(tail_intact(path) && tail_intact(base));
        if (c.code) {
            EXPECT_EQ(ok, 0);
            EXPECT_EQ(zep__err, c.code);
            continue;
        }
        EXPECT_EQ(ok, 1);
        EXPECT_EQ(zep__err, c.syntax ? 0 : kKept);
        EXPECT_EQ(text(path), in_dir(c.path));
        if (c.base) {
            EXPECT_EQ(text(base), c.base);
        }
        EXPECT_EQ(frame, c.frame_out);
        const char *want_key = c.key_out ? c.key_out : c.key;
        EXPECT_STREQ(key, want_key);
        EXPECT_TRUE(format && std::strcmp(format->key, want_key) == 0);
    }
}

TEST_F(Pathname, RefusesMissingOutputsAndOverlongNames)
{
    char path[ZEP_PATHNAME_MAX], base[ZEP_PATHNAME_MAX];
    int frame = -1;
    zep__err = 0;
    EXPECT_FALSE(ZEP_pathname_build_from_name_syntax(S, "a.0001.rla", "rla", nullptr, 0, nullptr,
                                                     path, base, nullptr, 0));
    EXPECT_EQ(zep__err, ZEP_E_NULL_ARG);
    zep__err = 0;
    EXPECT_FALSE(ZEP_pathname_build_from_name_syntax(S, "a.0001.rla", "rla", nullptr, 0, &frame,
                                                     nullptr, base, nullptr, 0));
    EXPECT_EQ(zep__err, ZEP_E_NULL_ARG);
    // the optional outputs may be left out
    EXPECT_TRUE(ZEP_pathname_build_from_name_syntax(S, "a.0001.rla", "rla", nullptr, 0, &frame,
                                                    path, nullptr, nullptr, 0));
    EXPECT_TRUE(ZEP_pathname_build_no_name_syntax("a.0001.rla", "rla", 0, 0, &frame, path,
                                                  nullptr, nullptr, nullptr));
    for (const char *name : {(const char *)nullptr, ""})
        EXPECT_FALSE(ZEP_pathname_build_no_name_syntax(name, "rla", 0, 0, &frame, path, base,
                                                       nullptr, nullptr));
    EXPECT_FALSE(ZEP_pathname_build_no_name_syntax("a.0001.rla", "rla", 0, 0, &frame, nullptr,
                                                   base, nullptr, nullptr));

    // a result must fit the buffers with its NUL; the printf builder takes
    // names of at most 259 characters
    struct Long {
        bool syntax;
        std::string name;
        int code;
    } const cases[] = {{true, std::string(1014, 'a') + ".0001.rla", 0},
                       {true, std::string(1015, 'a') + ".0001.rla", ZEP_E_TOO_LONG},
                       {false, std::string(255, 'a') + ".rla", 0},
                       {false, std::string(256, 'a') + ".rla", ZEP_E_TOO_LONG}};
    for (const Long &c : cases) {
        SCOPED_TRACE(c.name.size());
        fill(path), fill(base);
        frame = -1;
        zep__err = kKept;
        const int ok = ZEP_pathname_build(c.syntax ? S : nullptr, c.name.c_str(), "rla", nullptr,
                                          0, 0, &frame, path, base, nullptr, nullptr);
        EXPECT_EQ(ok, c.code == 0);
        EXPECT_EQ(zep__err, c.code ? c.code : c.syntax ? 0 : kKept);
        if (c.code) {
            EXPECT_TRUE(path[0] == kSentinel && base[0] == kSentinel);
        } else {
            EXPECT_EQ(text(path), c.name);
            EXPECT_EQ(frame, c.syntax ? 1 : -1);
        }
        EXPECT_TRUE(tail_intact(path) && tail_intact(base));
    }
}

TEST_F(Pathname, OutOfMemoryFailsEachStepAndLeaksNothing)
{
    struct Result {
        int ok, err;
        std::string path;
    };
    auto call = [] {
        char path[ZEP_PATHNAME_MAX], base[ZEP_PATHNAME_MAX];
        int frame = 12;
        const int ok = ZEP_pathname_build_from_name_syntax(
            S, "shots/foo.0007.rla", "rla", nullptr, 0, &frame, path, base,
            nullptr, 0);
        return Result{ok, zep__err, ok ? path : ""};
    };
    const int rounds = zt::fail_each_allocation(call, [](const Result &r, bool failed) {
        if (failed) {
            EXPECT_TRUE(r.ok == 0 && r.err == ZEP_E_NOMEM) << r.ok << " " << r.err;
        } else {
            EXPECT_EQ(r.path, "shots/foo.0012.rla");
        }
    });
    EXPECT_GT(rounds, 0);
    EXPECT_EQ(call().path, "shots/foo.0012.rla");
}

} // namespace
