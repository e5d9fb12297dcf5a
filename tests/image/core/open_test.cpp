// ZEP_open: modes, records and names, the lazy start, the format choice and
// its failures, the write-name check, driver failures, running out of memory
// in both opens; and zep__build_handle.
#include <algorithm>

#include "image/core/image_support.h"

namespace {

using namespace zt;

const std::string kSeq = "tst_seq", kAlias = "tst_alias", kDefKey = "tst_defkey";
constexpr int kAliasClose = 3; // what tst_alias's close routine returns

class OpenTest : public LibTest {
  protected:
    // Expects the open to fail with `code` and one report of m naming `arg`.
    void expect_refused(const char *mode, const char *key, const char *name, int code,
                        const zep::Message &m, const char *arg)
    {
        SCOPED_TRACE(std::string(mode) + " key " + (key ? key : "-") + " " + (name ? name : "-"));
        reports.clear();
        Info r(name, key, {describe({0, 3, 0, 3})});
        EXPECT_EQ(r.open(mode), nullptr);
        EXPECT_EQ(zep__err, code);
        EXPECT_EQ(messages_of(m), std::vector<std::string>{text_of(m, arg)});
    }
};

TEST_F(OpenTest, LazyStartAndRefusedModesRecordsAndNames)
{
    ERR_unmask_s(ERR_DEBUG);
    Info r("x.pipe", nullptr, {describe({0, 3, 0, 3})});
    ZEP_OBJECT *h = r.open("w"); // starts the library
    ERR_mask_s(ERR_DEBUG);
    ASSERT_NE(h, nullptr);
    const auto starts = messages_of(zep::kInitDatabase);
    EXPECT_NE(
        std::find(starts.begin(), starts.end(), text_of(zep::kInitDatabase, "zep", "ZEP_open")),
        starts.end());
    EXPECT_EQ(ZEP_close(h), 0);

    for (const char *mode : {"", "R", "W", "rw", "wr", "r ", "read", "a"}) {
        zep__err = ZEP_E_DECODE;
        expect_refused(mode, nullptr, "x.pipe", 0, zep::kBadOpenMode, mode);
    }
    reports.clear();
    EXPECT_EQ(r.open(nullptr), nullptr);
    EXPECT_EQ(messages_of(zep::kBadOpenMode).size(), 1u);
    expect_refused("w", "mem", nullptr, ZEP_E_OPEN, zep::kRequiredField, "handle");
    reports.clear();
    EXPECT_EQ((std::tuple{ZEP_open(nullptr, "r"), zep__err}), std::tuple(nullptr, ZEP_E_OPEN));
    EXPECT_EQ(messages_of(zep::kRequiredField).size(), 1u);

    r.info.magic = 0; // not initialised: a warning, and the open goes on
    EXPECT_EQ(stderr_of([&] { h = r.open("w"); }),
              "ZEP_open: application programming error.\n"
              "The application must call ZEP_info_init or ZEP_info_alloc\n"
              "on the info structure before passing it to ZEP_open.\n");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ZEP_close(h), 0);
}

// tst_defkey: key "rla" (the default key), extension ".mem", write only;
// tst_alias: key "pipe", extension "mem", close result 3.
TEST_F(OpenTest, FormatChoiceFollowsTheSearchOrder)
{
    start({kDefKey, kAlias, kSeq});
    const struct {
        const char *mode, *key, *name;
        std::string module; // the plug-in that opens it; empty: a built-in
        const char *handle_key, *extension;
    } cases[] = {
        {"w", "pipe", "a", kAlias, "pipe", "mem"},       // plug-in key before built-in key
        {"r", "pipe", "a", kAlias, "pipe", "mem"},       //
        {"w", "mem", "a", "", "mem", ".mem"},            // built-in key before plug-in extension
        {"w", ".mem", "a", kDefKey, ".mem", ".mem"},     // plug-in before built-in extension
        {"w", ".pipe", "a", "", ".pipe", ".pipe"},       // built-in extension last
        {"w", "seq", "a", kSeq, "seq", ".seq"},          //
        {"w", nullptr, "a.mem", kDefKey, "rla", ".mem"}, // first plug-in ending the name
        {"w", nullptr, "a.xmem", kAlias, "pipe", "mem"}, // an extension is a plain ending
        {"w", nullptr, "a.pipe", "", "pipe", ".pipe"},   // built-in ending the name
        {"w", nullptr, "a.tif", kDefKey, "rla", ".mem"}, // else the default key
        {"w", nullptr, "plain", kDefKey, "rla", ".mem"}, //
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + (c.key ? c.key : "-") + " " + c.name);
        for (const std::string &m : {kDefKey, kAlias, kSeq})
            sym<void()>(m, (m + "_reset").c_str())();
        Info r(file(c.name), c.key, {describe({0, 3, 0, 3})});
        ZEP_OBJECT *h = r.open(c.mode);
        ASSERT_NE(h, nullptr) << zep__err;
        EXPECT_EQ(std::tuple(zep__err, std::string(h->info.key), std::string(h->info.extension),
                             h->file_type, h->access, h->current_line),
                  std::tuple(0, c.handle_key, c.extension, ZEP_find(c.handle_key),
                             c.mode[0] == 'r' ? ZEP_ACCESS_READ : ZEP_ACCESS_WRITE, -1));
        EXPECT_EQ(r.info.key, c.key ? r.key.data() : nullptr) << "the record is left alone";
        for (const std::string &m : {kDefKey, kAlias, kSeq})
            EXPECT_EQ(sym<int()>(m, (m + "_opens").c_str())(), m == c.module ? 1 : 0) << m;
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(ZEP_close(h), c.module == kAlias ? kAliasClose : 0);
    }
}

TEST_F(OpenTest, NoFormatNoOpenRoutineAndFailedDriverOpens)
{
    start({kSeq});
    Info missing(file("missing.seq")), garbage(write_file("garbage.seq", "not a sequence\n"));
    EXPECT_EQ((std::tuple{missing.open("r"), zep__err}), std::tuple(nullptr, ZEP_E_OPEN));
    EXPECT_EQ((std::tuple{garbage.open("r"), zep__err}), std::tuple(nullptr, ZEP_E_NOT_KIND));
    for (const char *mode : {"w", "r"}) {
        expect_refused(mode, nullptr, "picture.xyz", ZEP_E_TYPE, zep::kInvalidType, "rla");
        expect_refused(mode, "nosuch", "picture.mem", ZEP_E_TYPE, zep::kInvalidType, "nosuch");
    }
    expect_refused("w", "MEM", "picture", ZEP_E_TYPE, zep::kInvalidType, "MEM");
    expect_refused("r", nullptr, nullptr, ZEP_E_TYPE, zep::kInvalidType, "rla");
    stop();
    start({kDefKey}); // write only
    expect_refused("r", "rla", "x.rla", ZEP_E_UNSUPPORTED, zep::kNoAction, "rla");
    expect_refused("r", ".mem", "x", ZEP_E_UNSUPPORTED, zep::kNoAction, ".mem");
    expect_refused("r", nullptr, "x.mem", ZEP_E_UNSUPPORTED, zep::kNoAction, "rla");
    expect_refused("r", nullptr, "x.tif", ZEP_E_UNSUPPORTED, zep::kNoAction, "rla");
    EXPECT_TRUE(no_leaks());
}

// At the default-key stage only plug-ins are searched, by key and then by
// extension. tst_minimal's empty extension must not end every name.
TEST_F(OpenTest, DefaultKeyIsLookedUpAmongPlugInsOnly)
{
    const struct {
        const char *key;
        std::vector<std::string> modules;
        std::string chosen; // empty: -4
    } cases[] = {
        {"mem", {"tst_minimal"}, ""}, {"pipe", {kAlias}, kAlias}, {".mem", {kDefKey}, kDefKey}};
    for (const auto &c : cases) {
        configure(std::string("fmt__key_default ") + c.key + "\n");
        start(c.modules);
        ASSERT_STREQ(ZEP_def_key(), c.key);
        if (c.chosen.empty()) {
            expect_refused("w", nullptr, "picture.xyz", ZEP_E_TYPE, zep::kInvalidType, c.key);
            continue;
        }
        Info r(file("picture.xyz"), nullptr, {describe({0, 3, 0, 3})});
        ZEP_OBJECT *h = r.open("w");
        ASSERT_NE(h, nullptr);
        EXPECT_STREQ(h->info.key, c.key);
        EXPECT_EQ(ZEP_close(h), c.chosen == kAlias ? kAliasClose : 0);
    }
}

TEST_F(OpenTest, WriteNamesNeedPrintableLastComponents)
{
    start();
    write_file("plain-file", "x"), write_file("exists.pipe", "x");
    for (const std::string &name :
         {file("a-b_c.1,2;3~!.pipe"), file("with space.pipe"), file("exists.pipe"),
          file("no/such/folder/x.pipe"), file("t\tab") + "/x.pipe"}) { // only the last part counts
        reports.clear();
        Info r(name, nullptr, {describe({0, 3, 0, 3})});
        ZEP_OBJECT *h = r.open("w");
        ASSERT_NE(h, nullptr) << name;
        EXPECT_EQ(ZEP_close(h), 0);
        EXPECT_TRUE(reports.empty());
    }
    for (const std::string &name :
         {file("t\tab.pipe"), file("bell\a.pipe"), file("two\nlines.pipe"), file("del\x7f.pipe"),
          file("caf\xc3\xa9.pipe"), file("plain-file") + "/x.pipe",
          file(std::string(300, 'n') + ".pipe")}) // a file as folder, a part too long
        expect_refused("w", nullptr, name.c_str(), ZEP_E_OPEN, zep::kInvalidFilename, name.c_str());
}

TEST_F(OpenTest, OutOfMemoryFailsWithMinusTenAndLeavesNothingBehind)
{
    start({"tst_format"});
    (void)ZEP_def_key(); // the databases start outside the loops
    Info mem("oom.mem", nullptr, {describe({0, 4, 0, 3}), describe({0, 4, 0, 3})});
    ZEP_RESPONSE_CURVE &sampled = mem.images[1].response; // copied deeply
    sampled = {ZEP_CURVE_SAMPLED, 2.2f, 0u, 2, 256, ZEP_C_INTEGER, 12, nullptr};
    ASSERT_EQ(ZEP_response_curve_init(&sampled), 0);
    mem.images[1].chan.format = mem.images[1].aspect_name = mem.name.data();
    Info mem_reader("oom.mem"), tst(file("oom.tst"), nullptr, {describe({0, 4, 0, 3})});
    Info tst_reader(file("oom.tst"));
    // A failed open leaves nothing registered or written.
    EXPECT_GT(fail_each_open(mem, "w", [&] { EXPECT_EQ(mem_reader.open("r"), nullptr); }), 2);
    EXPECT_GT(fail_each_open(tst, "w", [&] { EXPECT_FALSE(fs::exists(tst.name)); }), 2);
    EXPECT_GT(fail_each_open(tst_reader, "r", [] {}), 2);
    ZEP_OBJECT *again = mem.open("w");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(ZEP_close(again), 0);
    ZEP_response_curve_done(&sampled);
}

// One buffer for every call: a name beginning with "/" or "./" stands alone, a
// slash joins, a final dot serves the extension, a path too long is refused.
TEST(BuildHandle, JoinsDirectoryNameAndExtensionInOneBuffer)
{
    const std::string max(ZEP_BUILD_HANDLE_MAX - 1, 'n'), over = max + "n"; // the longest that fits
    const std::string n500(500, 'n'), rest(ZEP_BUILD_HANDLE_MAX - 502, 'n'), rest1 = rest + "n";
    const std::string fit = max.substr(4) + ".rla", joined = n500 + "/" + rest;
    const char *joins[][4] = {
        {"/img/", "shot", ".pipe", "/img/shot.pipe"},
        {"/img", "shot", ".pipe", "/img/shot.pipe"},
        {"/img", "shot.", ".pipe", "/img/shot.pipe"},
        {"/img", "./shot.pipe", ".pipe", "./shot.pipe"},
        {"/img", "/abs/shot", ".rla", "/abs/shot.rla"},
        {nullptr, "shot", ".rla", "shot.rla"},
        {"/img", "shot.rla", ".rla", "/img/shot.rla"},
        {"/img", ".hidden", ".rla", "/img/.hidden.rla"},
        {"i", "shot.rla.", ".rla", "i/shot.rla.rla"},
        {"i", "shot", nullptr, "i/shot"},
        {"i", "shot.", ".", "i/shot."},
        {"i", "shot", "rla", "i/shotrla"},
        {"", "shot", ".rla", "/shot.rla"},
        {"d", nullptr, ".x", nullptr},
        {nullptr, max.c_str(), "", max.c_str()},
        {nullptr, over.c_str(), "", nullptr},
        {nullptr, max.c_str() + 4, ".rla", fit.c_str()},
        {nullptr, max.c_str() + 3, ".rla", nullptr},
        {n500.c_str(), rest.c_str(), "", joined.c_str()},
        {n500.c_str(), rest1.c_str(), "", nullptr}, // the added slash is one over
    };
    for (const auto &j : joins) {
        const char *before = zep__build_handle(nullptr, "before", "");
        EXPECT_STREQ(zep__build_handle(j[0], j[1], j[2]), j[3]) << (j[0] ? j[0] : "-");
        EXPECT_STREQ(before, j[3] ? j[3] : "before") << "one buffer, kept on refusal";
    }
}

} // namespace
