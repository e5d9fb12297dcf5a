// ZEP_open: modes, the uninitialised-record warning, the format choice by
// key, extension and default key, the write-name check, the state of a
// freshly opened handle, and running out of memory in both opens.
#include "open_support.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>

extern "C" int zep_test_c_open(void);

namespace open_test {
namespace {

using CountFn = int(void);
using ResetFn = void(void);

TEST_F(OpenTest, UnrecognisedModesFailWithTheModeMessageAndNoCode)
{
    start({});
    Request r("x.pipe", nullptr);
    r.images(1, 4, 0, 3);
    for (const char *mode : {"", "R", "W", "rw", "wr", "r ", "read", "a"}) {
        SCOPED_TRACE(mode);
        reports.clear();
        zep__err = ZEP_E_DECODE;
        EXPECT_EQ(ZEP_open(&r.info, mode), nullptr);
        EXPECT_EQ(zep__err, 0);
        EXPECT_EQ(messages_of(zep::kBadOpenMode),
                  std::vector<std::string>{text_of(zep::kBadOpenMode, mode)});
    }
    reports.clear();
    EXPECT_EQ(ZEP_open(&r.info, nullptr), nullptr);
    EXPECT_EQ(zep__err, 0);
    EXPECT_EQ(messages_of(zep::kBadOpenMode).size(), 1u);
}

TEST_F(OpenTest, OpenStartsTheLibraryByItself)
{
    ERR_unmask_s(ERR_DEBUG);
    Request r("x.pipe", nullptr);
    r.images(1, 4, 0, 3);
    ZEP_OBJECT *h = ZEP_open(&r.info, "w");
    ERR_mask_s(ERR_DEBUG);
    ASSERT_NE(h, nullptr);
    // The databases report their own start with the same text.
    const auto starts = messages_of(zep::kInitDatabase);
    EXPECT_NE(
        std::find(starts.begin(), starts.end(), text_of(zep::kInitDatabase, "zep", "ZEP_open")),
        starts.end());
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(OpenTest, UninitialisedRecordWarnsOnStandardErrorAndGoesOn)
{
    start({});
    Request r("x.pipe", nullptr);
    r.images(1, 4, 0, 3);
    r.info.magic = 0;
    testing::internal::CaptureStderr();
    ZEP_OBJECT *h = ZEP_open(&r.info, "w");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "ZEP_open: application programming error.\n"
                   "The application must call ZEP_info_init or ZEP_info_alloc\n"
                   "on the info structure before passing it to ZEP_open.\n");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(OpenTest, WriteWithoutNameIsARequiredFieldFailure)
{
    start({});
    Request r(nullptr, "mem");
    r.images(1, 4, 0, 3);
    EXPECT_EQ(ZEP_open(&r.info, "w"), nullptr);
    EXPECT_EQ(zep__err, ZEP_E_OPEN);
    EXPECT_EQ(messages_of(zep::kRequiredField),
              std::vector<std::string>{text_of(zep::kRequiredField, "handle")});
}

TEST_F(OpenTest, NullRecordIsRefused)
{
    start({});
    EXPECT_EQ(ZEP_open(nullptr, "r"), nullptr);
    EXPECT_EQ(zep__err, ZEP_E_OPEN);
    EXPECT_EQ(messages_of(zep::kRequiredField).size(), 1u);
}

// ---- Format choice ---------------------------------------------------------

struct Choice {
    const char *what;
    const char *mode;
    const char *key;    // in the request
    const char *name;   // in the request
    const char *module; // the plug-in expected to open it; null: a built-in
    const char *handle_key;
    const char *handle_extension;
};

// The plug-ins loaded, in this order: tst_defkey (key "rla" = the default
// key, extension ".mem", write only), tst_alias (key "pipe", extension
// "mem") and tst_seq.
const Choice kChoices[] = {
    {"plug-in key before built-in key", "w", "pipe", "a", kAlias, "pipe", "mem"},
    {"built-in key before plug-in extension", "w", "mem", "a", nullptr, "mem", ".mem"},
    {"plug-in extension before built-in extension", "w", ".mem", "a", kDefKey, ".mem", ".mem"},
    {"built-in extension as the last resort", "w", ".pipe", "a", nullptr, ".pipe", ".pipe"},
    {"plug-in key of a plain plug-in", "w", "seq", "a", kSeq, "seq", ".seq"},
    {"first plug-in whose extension ends the name", "w", nullptr, "a.mem", kDefKey, "rla", ".mem"},
    {"an extension is a plain ending", "w", nullptr, "a.xmem", kAlias, "pipe", "mem"},
    {"built-in extension ends the name", "w", nullptr, "a.pipe", nullptr, "pipe", ".pipe"},
    {"default key when no extension ends the name", "w", nullptr, "a.tif", kDefKey, "rla", ".mem"},
    {"name without any dot takes the default key", "w", nullptr, "plain", kDefKey, "rla", ".mem"},
    {"read: plug-in key before built-in key", "r", "pipe", "a", kAlias, "pipe", "mem"},
};

class FormatChoice : public OpenTest, public testing::WithParamInterface<Choice> {};

TEST_P(FormatChoice, OpensTheExpectedFormat)
{
    const Choice &c = GetParam();
    ScratchDir dir;
    start({kDefKey, kAlias, kSeq});
    function<ResetFn>(kAlias, "tst_alias_reset")();
    function<ResetFn>(kDefKey, "tst_defkey_reset")();
    function<ResetFn>(kSeq, "tst_seq_reset")();

    const std::string path = dir.file(c.name);
    Request r(path.c_str(), c.key);
    r.images(1, 4, 0, 3);
    ZEP_OBJECT *h = ZEP_open(&r.info, c.mode);
    ASSERT_NE(h, nullptr) << "zep__err " << zep__err;
    EXPECT_EQ(zep__err, 0);
    EXPECT_STREQ(h->info.key, c.handle_key);
    EXPECT_STREQ(h->info.extension, c.handle_extension);
    EXPECT_EQ(h->file_type, ZEP_find(c.handle_key));
    EXPECT_EQ(h->access, c.mode[0] == 'r' ? ZEP_ACCESS_READ : ZEP_ACCESS_WRITE);

    const int alias = function<CountFn>(kAlias, "tst_alias_opens")();
    const int defkey = function<CountFn>(kDefKey, "tst_defkey_opens")();
    const int seq = function<CountFn>(kSeq, "tst_seq_opens")();
    const std::string module = c.module ? c.module : "";
    EXPECT_EQ(alias, module == kAlias ? 1 : 0);
    EXPECT_EQ(defkey, module == kDefKey ? 1 : 0);
    EXPECT_EQ(seq, module == kSeq ? 1 : 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(ZEP_close(h), module == kAlias ? kAliasCloseResult : 0)
        << "ZEP_close returns the close routine's result";
}

INSTANTIATE_TEST_SUITE_P(Order, FormatChoice, testing::ValuesIn(kChoices),
                         [](const testing::TestParamInfo<Choice> &i) {
                             std::string n = i.param.what;
                             for (char &ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

TEST_F(OpenTest, PipeNameWithoutKeyChoosesPipeAndStoresItsKey)
{
    start({});
    Request r("frames/out.pipe", nullptr);
    r.images(1, 640, 0, 479);
    ZEP_OBJECT *h = ZEP_open(&r.info, "w");
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(h->info.key, "pipe");
    EXPECT_STREQ(h->info.extension, ".pipe");
    EXPECT_EQ(h->file_type, ZEP_find("pipe"));
    EXPECT_EQ(h->current_line, -1) << "a write open moves no line";
    EXPECT_EQ(r.info.key, nullptr) << "the application's record is not changed";
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(OpenTest, MemExtensionAsKeyIsKeptAsTheHandlesKey)
{
    start({});
    Request r("kept.mem", ".mem");
    r.images(1, 4, 0, 3);
    ZEP_OBJECT *h = ZEP_open(&r.info, "w");
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(h->info.key, ".mem");
    EXPECT_STREQ(h->info.extension, ".mem");
    EXPECT_EQ(h->file_type, ZEP_find("mem"));
    EXPECT_EQ(ZEP_close(h), 0);
}

struct NoFormat {
    const char *what;
    const char *mode;
    const char *key;
    const char *name;
    const char *named; // the key in the message
};

TEST_F(OpenTest, NoFormatFoundFailsWithInvalidTypeNamingTheKey)
{
    start({});
    const NoFormat cases[] = {
        {"unknown extension, write", "w", nullptr, "picture.xyz", "rla"},
        {"unknown extension, read", "r", nullptr, "picture.xyz", "rla"},
        {"unknown key, write", "w", "nosuch", "picture.mem", "nosuch"},
        {"unknown key, read", "r", "nosuch", "picture.mem", "nosuch"},
        {"keys are case-sensitive", "w", "MEM", "picture", "MEM"},
        {"read without key or name", "r", nullptr, nullptr, "rla"},
    };
    for (const NoFormat &c : cases) {
        SCOPED_TRACE(c.what);
        reports.clear();
        Request r(c.name, c.key);
        r.images(1, 4, 0, 3);
        EXPECT_EQ(ZEP_open(&r.info, c.mode), nullptr);
        EXPECT_EQ(zep__err, ZEP_E_TYPE);
        EXPECT_EQ(messages_of(zep::kInvalidType),
                  std::vector<std::string>{text_of(zep::kInvalidType, c.named)});
    }
    EXPECT_TRUE(no_leaks());
}

TEST_F(OpenTest, FormatWithoutTheModesOpenRoutineCannotHandleTheAction)
{
    start({kDefKey});
    const NoFormat cases[] = {
        {"read by key", "r", "rla", "x.rla", "rla"},
        {"read by the key of an extension", "r", ".mem", "x", ".mem"},
        {"read chosen by extension names the format's key", "r", nullptr, "x.mem", "rla"},
        {"read by default key names the format's key", "r", nullptr, "x.tif", "rla"},
    };
    for (const NoFormat &c : cases) {
        SCOPED_TRACE(c.what);
        reports.clear();
        Request r(c.name, c.key);
        EXPECT_EQ(ZEP_open(&r.info, c.mode), nullptr);
        EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
        EXPECT_EQ(messages_of(zep::kNoAction),
                  std::vector<std::string>{text_of(zep::kNoAction, c.named)});
    }
    EXPECT_TRUE(no_leaks());
}

// The default key comes from the configuration; at that stage only plug-ins
// are searched, by key and then by extension.
TEST_F(OpenTest, DefaultKeyIsLookedUpAmongPlugInsOnly)
{
    struct Case {
        const char *default_key;
        std::vector<std::string> modules;
        const char *chosen; // null: the open fails with -4
    };
    const Case cases[] = {
        {"mem", {}, nullptr},         // a built-in key is not enough
        {"pipe", {kAlias}, kAlias},   // the plug-in with that key
        {".mem", {kDefKey}, kDefKey}, // the plug-in with that extension
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.default_key);
        {
            std::ofstream rc(home_.file(".zeprc"));
            rc << "fmt__key_default " << c.default_key << "\n";
        }
        reports.clear();
        start(c.modules);
        ASSERT_STREQ(ZEP_def_key(), c.default_key);
        Request r(home_.file("picture.xyz").c_str(), nullptr);
        r.images(1, 4, 0, 3);
        ZEP_OBJECT *h = ZEP_open(&r.info, "w");
        if (!c.chosen) {
            EXPECT_EQ(h, nullptr);
            EXPECT_EQ(zep__err, ZEP_E_TYPE);
            EXPECT_EQ(messages_of(zep::kInvalidType),
                      std::vector<std::string>{text_of(zep::kInvalidType, c.default_key)});
        } else {
            ASSERT_NE(h, nullptr);
            EXPECT_STREQ(h->info.key, c.default_key);
            EXPECT_EQ(ZEP_close(h), c.chosen == kAlias ? kAliasCloseResult : 0);
        }
        ZEP_exit();
        plugins_.reset();
    }
}

TEST_F(OpenTest, PlugInWithoutExtensionDoesNotClaimEveryName)
{
    // tst_minimal has the empty extension and no open routines; were an
    // empty extension the ending of every name, it would be chosen here and
    // the open refused.
    start({"tst_minimal"});
    ASSERT_STREQ(ZEP_find("minimal")->extension, "");
    Request r("x.pipe", nullptr);
    r.images(1, 4, 0, 3);
    ZEP_OBJECT *h = ZEP_open(&r.info, "w");
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(h->info.key, "pipe");
    EXPECT_EQ(ZEP_close(h), 0);
}

// ---- Write-name check --------------------------------------------------------

TEST_F(OpenTest, WriteNameCheck)
{
    ScratchDir dir;
    start({});
    {
        std::ofstream f(dir.file("plain-file"));
        f << "x";
    }
    {
        std::ofstream f(dir.file("exists.pipe"));
        f << "x";
    }
    struct Case {
        const char *what;
        std::string name;
        bool valid;
    };
    const Case cases[] = {
        {"letters digits punctuation", dir.file("a-b_c.1,2;3~!.pipe"), true},
        {"blanks", dir.file("with space.pipe"), true},
        {"existing file", dir.file("exists.pipe"), true},
        {"missing folder", dir.file("no/such/folder/x.pipe"), true},
        {"bad character in a folder only", dir.file("t\tab") + "/x.pipe", true},
        {"tab", dir.file("t\tab.pipe"), false},
        {"control character", dir.file("bell\a.pipe"), false},
        {"newline", dir.file("two\nlines.pipe"), false},
        {"delete", dir.file("del\x7f.pipe"), false},
        {"eight-bit byte", dir.file("caf\xc3\xa9.pipe"), false},
        {"folder part is a file", dir.file("plain-file") + "/x.pipe", false},
        {"component too long", dir.file(std::string(300, 'n') + ".pipe"), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        reports.clear();
        Request r(c.name.c_str(), nullptr);
        r.images(1, 4, 0, 3);
        ZEP_OBJECT *h = ZEP_open(&r.info, "w");
        if (c.valid) {
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(zep__err, 0);
            EXPECT_TRUE(messages_of(zep::kInvalidFilename).empty());
            EXPECT_EQ(ZEP_close(h), 0);
        } else {
            EXPECT_EQ(h, nullptr);
            EXPECT_EQ(zep__err, ZEP_E_OPEN);
            EXPECT_EQ(messages_of(zep::kInvalidFilename),
                      std::vector<std::string>{text_of(zep::kInvalidFilename, c.name.c_str())});
        }
    }
}

// ---- The opened handle -------------------------------------------------------

TEST_F(OpenTest, ReadOpenOfATopDownSequentialFileStartsAboveTheWindowTop)
{
    ScratchDir dir;
    start({kSeq});
    const std::string path = dir.file("tall.seq");
    write_seq(path, 0, 479);
    Request r(path.c_str(), nullptr);
    zep__err = ZEP_E_DECODE;
    ZEP_OBJECT *h = ZEP_open(&r.info, "r");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(zep__err, 0);
    EXPECT_EQ(h->current_line, 480);
    EXPECT_EQ(h->access, ZEP_ACCESS_READ);
    EXPECT_STREQ(h->info.key, "seq");
    EXPECT_STREQ(h->info.extension, ".seq");
    EXPECT_STREQ(h->info.handle, path.c_str());
    EXPECT_NE(h->info.handle, r.info.handle) << "the handle owns a copy of the name";
    EXPECT_EQ(h->file_type, ZEP_find("seq"));
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(OpenTest, ImageWrittenThroughAPlugInReadsBack)
{
    ScratchDir dir;
    start({kFormat});
    const std::string path = dir.file("pic.tst");
    constexpr int kWidth = 6, kHeight = 4;
    auto value = [](int y, int c, int x) { return uint8_t(y * 40 + c * 9 + x); };

    Request w(path.c_str(), nullptr);
    w.images(1, kWidth, 0, kHeight - 1);
    ZEP_OBJECT *writer = ZEP_open(&w.info, "w");
    ASSERT_NE(writer, nullptr);
    EXPECT_STREQ(writer->info.extension, ".tst");
    uint8_t rows[3][kWidth];
    void *table[3] = {rows[0], rows[1], rows[2]};
    for (int y = 0; y < kHeight; ++y) {
        for (int c = 0; c < 3; ++c)
            for (int x = 0; x < kWidth; ++x)
                rows[c][x] = value(y, c, x);
        ASSERT_EQ(ZEP_scan_write(writer, y, table), 0);
        EXPECT_EQ(writer->current_line, y);
    }
    ASSERT_EQ(ZEP_close(writer), 0);

    Request r(path.c_str(), nullptr);
    ZEP_OBJECT *reader = ZEP_open(&r.info, "r");
    ASSERT_NE(reader, nullptr);
    EXPECT_STREQ(reader->info.key, "tst");
    EXPECT_EQ(reader->file_type, ZEP_find("tst"));
    EXPECT_EQ(reader->current_line, -1) << "images are bottom-up by default";
    for (int y : {2, 0, 3, 1}) { // any order
        void **line = nullptr;
        ASSERT_EQ(ZEP_scan_read(reader, y, &line), 0);
        EXPECT_EQ(reader->current_line, y);
        for (int c = 0; c < 3; ++c)
            for (int x = 0; x < kWidth; ++x)
                ASSERT_EQ(static_cast<const uint8_t *>(line[c])[x], value(y, c, x));
    }
    EXPECT_EQ(ZEP_close(reader), 0);
    EXPECT_TRUE(reports.empty());
}

TEST_F(OpenTest, FailedDriverOpenKeepsTheDriversCode)
{
    ScratchDir dir;
    start({kSeq});
    Request missing(dir.file("missing.seq").c_str(), nullptr);
    EXPECT_EQ(ZEP_open(&missing.info, "r"), nullptr);
    EXPECT_EQ(zep__err, ZEP_E_OPEN);

    {
        std::ofstream f(dir.file("garbage.seq"));
        f << "not a sequential file\n";
    }
    Request garbage(dir.file("garbage.seq").c_str(), nullptr);
    EXPECT_EQ(ZEP_open(&garbage.info, "r"), nullptr);
    EXPECT_EQ(zep__err, ZEP_E_NOT_KIND);
    EXPECT_TRUE(no_leaks());
}

// ---- Out of memory -------------------------------------------------------------

// Runs open with the n-th allocation failing, n = 1, 2, ..., until it
// succeeds; each failure must be a null handle with -10 that leaks nothing
// and leaves `after_failure` true. Returns the handle of the first success.
template <typename Open, typename Check>
ZEP_OBJECT *open_until_success(Open open, Check after_failure)
{
    for (int n = 1; n < 500; ++n) {
        err__alloc_fail(n, 0);
        ZEP_OBJECT *h = open();
        const int failed = err__alloc_fail(0, 0);
        if (h) {
            EXPECT_EQ(failed, 0) << "an open that met a failed allocation must fail";
            EXPECT_GT(n, 2) << "an open allocates a handle, its mutex and its strings";
            return h;
        }
        SCOPED_TRACE("allocation " + std::to_string(n));
        EXPECT_EQ(failed, 1);
        EXPECT_EQ(zep__err, ZEP_E_NOMEM);
        EXPECT_TRUE(no_leaks());
        after_failure();
    }
    ADD_FAILURE() << "the open never succeeded";
    return nullptr;
}

TEST_F(OpenTest, WriteOpenRunningOutOfMemory)
{
    start({});
    (void)ZEP_def_key(); // the databases are started before the loop
    Request w("oom.mem", nullptr);
    w.images(2, 5, 0, 3);
    ZEP_OBJECT *h = open_until_success([&] { return ZEP_open(&w.info, "w"); },
                                       [&] {
                                           // No memory image was left registered.
                                           Request r("oom.mem", nullptr);
                                           ZEP_OBJECT *stray = ZEP_open(&r.info, "r");
                                           EXPECT_EQ(stray, nullptr);
                                           if (stray) ZEP_close(stray);
                                       });
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(h->info.key, "mem");
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_TRUE(no_leaks());

    // The library still works.
    ZEP_OBJECT *again = ZEP_open(&w.info, "w");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(ZEP_close(again), 0);
}

TEST_F(OpenTest, PlugInWriteOpenRunningOutOfMemoryLeavesNoFile)
{
    ScratchDir dir;
    start({kFormat});
    (void)ZEP_def_key();
    const std::string path = dir.file("oom.tst");
    Request w(path.c_str(), nullptr);
    w.images(1, 5, 0, 3);
    ZEP_OBJECT *h = open_until_success([&] { return ZEP_open(&w.info, "w"); },
                                       [&] { EXPECT_FALSE(fs::exists(path)); });
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(h->info.key, "tst");
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_TRUE(fs::exists(path));

    Request r(path.c_str(), nullptr);
    ZEP_OBJECT *reader = open_until_success([&] { return ZEP_open(&r.info, "r"); }, [] {});
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(ZEP_close(reader), 0);
    EXPECT_TRUE(no_leaks());
}

TEST_F(OpenTest, OpenWorksFromC)
{
    start({});
    EXPECT_EQ(zep_test_c_open(), 0);
    EXPECT_EQ(messages_of(zep::kBadScanline),
              std::vector<std::string>{text_of(zep::kBadScanline, 3)})
        << "only the line read past the end is reported";
}

} // namespace
} // namespace open_test
