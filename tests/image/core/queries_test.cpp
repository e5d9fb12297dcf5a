// Format queries: lookups by key and extension, the enumeration and its
// shared cursor, names from keys, the defaults, file probes with their
// "definite" answer and the probe cache, and the lazy start of each query.
#include "registry_support.h"

#include <cstdio>
#include <functional>

namespace registry_test {
namespace {

using Find = RegistryTest;

TEST_F(Find, ByKeyOrExtensionExactlyAndCaseSensitively)
{
    ASSERT_EQ(start({"tst_format", "tst_minimal"}), 0);
    struct Case {
        const char *query;
        const char *key; // null: nothing found
    };
    const Case cases[] = {
        {"pipe", "pipe"},  {".pipe", "pipe"}, {"mem", "mem"},    {".mem", "mem"},
        {"tst", "tst"},    {".tst", "tst"},   {"MEM", nullptr},  {".MEM", nullptr},
        {"Pipe", nullptr}, {"pip", nullptr},  {"tst.", nullptr}, {"memory", nullptr},
        {"", "minimal"}, // the empty extension of a module that has none
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.query);
        const ZEP_FILE_TYPE *t = ZEP_find(c.query);
        if (c.key) {
            ASSERT_NE(t, nullptr);
            EXPECT_STREQ(t->key, c.key);
        } else {
            EXPECT_EQ(t, nullptr);
        }
    }
    EXPECT_EQ(ZEP_find("mem"), ZEP_find(".mem"));
    EXPECT_EQ(ZEP_find(nullptr), nullptr);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Find, LeavesTheCursorAfterTheEntryFoundAndRestoresItOtherwise)
{
    ASSERT_EQ(start({"tst_minimal", "tst_full", "tst_caps2"}), 0);
    ASSERT_NE(ZEP_find("full"), nullptr);
    const ZEP_FILE_TYPE *t = ZEP_info();
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->key, "caps2");

    ZEP_init(nullptr, nullptr); // rewind
    t = ZEP_info();
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->key, "minimal");
    EXPECT_EQ(ZEP_find("nope"), nullptr);
    t = ZEP_info();
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->key, "full");

    // A built-in found leaves the cursor among the built-ins: no plug-in left.
    ASSERT_NE(ZEP_find("pipe"), nullptr);
    EXPECT_EQ(ZEP_info(), nullptr);
}

TEST_F(Find, InfoSkipsTheBuiltInsAndIsEmptyWithoutPlugins)
{
    EXPECT_EQ(ZEP_info(), nullptr);
    EXPECT_EQ(ZEP_info(), nullptr);
    ZEP_exit();
    ASSERT_EQ(start({"tst_minimal"}), 0);
    const ZEP_FILE_TYPE *t = ZEP_info();
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->key, "minimal");
    EXPECT_EQ(ZEP_info(), nullptr);
}

using Names = RegistryTest;

TEST_F(Names, NameFromKey)
{
    ASSERT_EQ(start({"tst_full"}), 0);
    struct Case {
        const char *key;
        const char *name;
    };
    for (const Case &c : {Case{"pipe", "pipe"}, Case{"mem", "memory"}, Case{".mem", "memory"},
                          Case{"full", "full test format"}, Case{".full", "full test format"}}) {
        EXPECT_STREQ(ZEP_name_from_key(c.key), c.name) << c.key;
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Names, AnUnknownKeyComesBackWithTheMessage)
{
    const char key[] = "nope";
    EXPECT_EQ(ZEP_name_from_key(key), key);
    auto r = reports_of(zep::kUnknownKey);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].severity, 3);
    EXPECT_EQ(r[0].message, "Unknown file type key (\"nope\") was specified; Ensure that the "
                            "plug-in for this type is defined");

    reports.clear();
    EXPECT_EQ(ZEP_name_from_key(nullptr), nullptr);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Names, DefaultKeyAndBaseName)
{
    EXPECT_STREQ(ZEP_def_key(), "rla");
    EXPECT_STREQ(ZEP_def_base_name(), "im");
}

// ---- Lazy start ------------------------------------------------------------------

TEST_F(Find, EveryQueryStartsTheLibraryAndSaysSoAtSeverityZero)
{
    std::string tst = write_file("lazy.tst", "ZTST");
    uint8_t definite = 0;
    struct Case {
        const char *call;
        std::function<void()> query;
    };
    const Case cases[] = {
        {"ZEP_find", [] { ZEP_find("pipe"); }},
        {"ZEP_info", [] { ZEP_info(); }},
        {"ZEP_def_key", [] { ZEP_def_key(); }},
        {"ZEP_def_base_name", [] { ZEP_def_base_name(); }},
        {"ZEP_find", [] { ZEP_name_from_key("mem"); }},
        {"ZEP_find", [&] { ZEP_is_file_type(tst.c_str(), nullptr, "mem", &definite); }},
        {"ZEP_find", [&] { ZEP_get_file_type(tst.c_str(), nullptr, &definite); }},
    };
    ERR_unmask_s(ERR_DEBUG);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.call);
        ZEP_exit();
        reports.clear();
        c.query();
        auto r = reports_of(zep::kInitDatabase);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].severity, 0);
        EXPECT_EQ(r[0].message,
                  std::string("zep, initializing database for ") + c.call + " request");
        reports.clear();
        c.query(); // started now: no second message
        EXPECT_TRUE(reports_of(zep::kInitDatabase).empty());
    }
}

TEST_F(Find, TheLazyStartMessageIsMaskedByDefault)
{
    EXPECT_NE(ZEP_find("mem"), nullptr);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Find, ALazyStartClearsTheErrorCode)
{
    zep__err = ZEP_E_TYPE;
    ASSERT_NE(ZEP_find("mem"), nullptr);
    EXPECT_EQ(zep__err, 0);
    zep__err = ZEP_E_TYPE;
    ASSERT_NE(ZEP_find("mem"), nullptr); // started: left alone
    EXPECT_EQ(zep__err, ZEP_E_TYPE);
    zep__err = 0;
}

// ---- File probes -------------------------------------------------------------------

using Probes = RegistryTest;

TEST_F(Probes, WithTheBuiltInsOnlyNoFileIsClaimedDefinitely)
{
    std::string any = write_file("any.bin", "whatever");
    std::string none = (private_home.dir / "missing.bin").string();
    for (const std::string &path : {any, none}) {
        uint8_t definite = 7;
        EXPECT_STREQ(ZEP_get_file_type(path.c_str(), nullptr, &definite), "__none_");
        EXPECT_EQ(definite, 1);
    }
}

TEST_F(Probes, GetFileTypeAsksEveryFormatInOrder)
{
    std::string tst = write_file("a.tst", std::string("ZTST") + std::string(24, '\0'));
    std::string full = write_file("a.full", "FULLxxxx");
    std::string full2 = write_file("b.full", "FUL2xxxx");
    std::string other = write_file("a.bin", "nothing");
    struct Case {
        std::vector<std::string> modules;
        const std::string *path;
        const char *key; // null: null result
        uint8_t definite;
    };
    const Case cases[] = {
        {{"tst_format", "tst_full"}, &tst, "tst", 1},
        {{"tst_format", "tst_full"}, &full, "full", 1},
        {{"tst_format", "tst_full"}, &other, "__none_", 1},
        // A probe's true other than 1 is no match here.
        {{"tst_format", "tst_full"}, &full2, "__none_", 1},
        // A format without a probe: unrecognised files are not definite.
        {{"tst_format", "tst_minimal"}, &other, nullptr, 0},
        {{"tst_minimal", "tst_format"}, &tst, "tst", 0},
        {{"tst_format", "tst_minimal"}, &tst, "tst", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(*c.path + " with " + c.modules[0] + ", " + c.modules[1]);
        ASSERT_EQ(start(c.modules), 0);
        uint8_t definite = 7;
        const char *key = ZEP_get_file_type(c.path->c_str(), nullptr, &definite);
        if (c.key)
            EXPECT_STREQ(key, c.key);
        else
            EXPECT_EQ(key, nullptr);
        EXPECT_EQ(definite, c.definite);
        ZEP_exit();
        plugins.reset();
    }
}

TEST_F(Probes, AGivenStreamIsProbedInPlace)
{
    ASSERT_EQ(start({"tst_format"}), 0);
    std::string tst = write_file("s.tst", std::string("ZTST") + std::string(24, '\0'));
    FILE *f = std::fopen(tst.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    uint8_t definite = 0;
    EXPECT_STREQ(ZEP_get_file_type("not-a-file", f, &definite), "tst");
    EXPECT_EQ(std::ftell(f), 0);
    EXPECT_STREQ(ZEP_is_file_type("not-a-file", f, "tst", &definite), "tst");
    EXPECT_EQ(definite, 1);
    std::fclose(f);
}

TEST_F(Probes, IsFileTypeAsksTheFormatsOfOneKey)
{
    ASSERT_EQ(start({"tst_format", "tst_minimal", "tst_full"}), 0);
    std::string tst = write_file("k.tst", std::string("ZTST") + std::string(24, '\0'));
    std::string full2 = write_file("k.full", "FUL2");
    struct Case {
        const char *key;
        const std::string *path;
        const char *result;
        uint8_t definite;
    };
    const Case cases[] = {
        {"tst", &tst, "tst", 1},       {"tst", &full2, nullptr, 1}, // asked, and it is not one
        {"minimal", &tst, nullptr, 0},                              // no probe: cannot tell
        {"nope", &tst, nullptr, 1},                                 // no format of that key
        {".tst", &tst, nullptr, 1},                                 // keys only, not extensions
        {"full", &full2, "full", 1},                                // any true answer counts here
        {nullptr, &tst, "tst", 1},                                  // no key: as ZEP_get_file_type
        {nullptr, &full2, nullptr, 0}, // ... which meets the probe-less one
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.key ? c.key : "(null)") + " " + *c.path);
        uint8_t definite = 7;
        const char *r = ZEP_is_file_type(c.path->c_str(), nullptr, c.key, &definite);
        if (c.result)
            EXPECT_STREQ(r, c.result);
        else
            EXPECT_EQ(r, nullptr);
        EXPECT_EQ(definite, c.definite);
    }
}

// The entry a search stopped at is asked first next time: after a hit, a
// miss of the same key asks that probe twice (cache, then the walk); after a
// miss the cache is empty and the walk asks it once.
TEST_F(Probes, IsFileTypeAsksTheRememberedFormatFirst)
{
    load({"tst_minimal", "tst_full"});
    TstFullState *s = symbol<TstFullStateFn>(1, "tst_full_state")();
    ASSERT_EQ(plugins->init(), 0);
    std::string yes = write_file("c.full", "FULL");
    std::string no = write_file("c.bin", "none");
    uint8_t definite = 0;

    int calls = s->probe_calls;
    EXPECT_STREQ(ZEP_is_file_type(yes.c_str(), nullptr, "full", &definite), "full");
    EXPECT_EQ(s->probe_calls - calls, 1);

    calls = s->probe_calls;
    EXPECT_STREQ(ZEP_is_file_type(yes.c_str(), nullptr, "full", &definite), "full");
    EXPECT_EQ(s->probe_calls - calls, 1);
    // Served from the cache: the cursor rests at the first entry.
    const ZEP_FILE_TYPE *t = ZEP_info();
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->key, "minimal");

    calls = s->probe_calls;
    EXPECT_EQ(ZEP_is_file_type(no.c_str(), nullptr, "full", &definite), nullptr);
    EXPECT_EQ(s->probe_calls - calls, 2);

    calls = s->probe_calls;
    EXPECT_EQ(ZEP_is_file_type(no.c_str(), nullptr, "full", &definite), nullptr);
    EXPECT_EQ(s->probe_calls - calls, 1);
}

TEST_F(Probes, AFailedSearchPutsTheCursorBack)
{
    ASSERT_EQ(start({"tst_format", "tst_full"}), 0);
    std::string no = write_file("d.bin", "none");
    uint8_t definite = 0;
    ASSERT_NE(ZEP_info(), nullptr); // cursor now on "full"
    EXPECT_EQ(ZEP_is_file_type(no.c_str(), nullptr, "full", &definite), nullptr);
    EXPECT_STREQ(ZEP_get_file_type(no.c_str(), nullptr, &definite), "__none_");
    const ZEP_FILE_TYPE *t = ZEP_info();
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->key, "full");
}

TEST_F(Probes, TheProbeCacheDoesNotOutliveTheRegistry)
{
    std::string yes = write_file("e.full", "FULL");
    uint8_t definite = 0;
    ASSERT_EQ(start({"tst_full"}), 0);
    ASSERT_STREQ(ZEP_is_file_type(yes.c_str(), nullptr, "full", &definite), "full");
    ZEP_exit();
    plugins.reset();
    // Restarted with the built-ins only: nothing of the old entry is asked.
    EXPECT_EQ(ZEP_is_file_type(yes.c_str(), nullptr, "full", &definite), nullptr);
    EXPECT_EQ(definite, 1);
}

} // namespace
} // namespace registry_test
