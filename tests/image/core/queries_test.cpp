// Format queries: lookups, the enumeration cursor, names from keys, the lazy
// start of each query, file probes, their "definite" answer and cache.
#include "registry_support.h"

#include <functional>

namespace registry_test {
namespace {

using Queries = RegistryTest;

// The key of the next plug-in format of the enumeration, or "(null)".
std::string next()
{
    const ZEP_FILE_TYPE *t = ZEP_info();
    return t ? t->key : "(null)";
}

// Keys and extensions match exactly; a search that finds leaves the cursor
// after the entry found, one that finds nothing puts it back.
TEST_F(Queries, FindMatchesKeysOrExtensionsExactlyAndMovesTheCursor)
{
    ASSERT_EQ(boot("tst_format tst_minimal tst_full"), 0);
    // clang-format off
    const char *const cases[][2] = {
        {"pipe", "pipe"}, {".pipe", "pipe"}, {"mem", "mem"}, {".mem", "mem"}, {"tst", "tst"},
        {".tst", "tst"}, {"MEM", nullptr}, {".MEM", nullptr}, {"Pipe", nullptr}, {"pip", nullptr},
        {"tst.", nullptr}, {"memory", nullptr}, {nullptr, nullptr},
        {"", "minimal"}, // the empty extension of a module that exports none
    };
    // clang-format on
    for (const auto &c : cases) {
        const ZEP_FILE_TYPE *t = ZEP_find(c[0]);
        EXPECT_STREQ(t ? t->key : nullptr, c[1]) << (c[0] ? c[0] : "(null)");
    }
    EXPECT_EQ(ZEP_find("mem"), ZEP_find(".mem"));
    EXPECT_TRUE(reports.empty());

    ZEP_find("minimal");
    EXPECT_EQ(next(), "full");
    ZEP_init(nullptr, nullptr); // rewinds
    EXPECT_EQ(next(), "tst");
    EXPECT_EQ(ZEP_find("nope"), nullptr);
    EXPECT_EQ(next(), "minimal");
    ZEP_find("pipe"); // among the built-ins: no plug-in left
    EXPECT_EQ(next(), "(null)");
}

TEST_F(Queries, NamesFromKeysAndTheDefaults)
{
    ASSERT_EQ(boot("tst_full"), 0);
    // clang-format off
    const char *const cases[][2] = {{"pipe", "pipe"}, {"mem", "memory"}, {".mem", "memory"},
                                    {".full", "full test format"}, {nullptr, nullptr}};
    // clang-format on
    for (const auto &c : cases)
        EXPECT_STREQ(ZEP_name_from_key(c[0]), c[1]);
    EXPECT_TRUE(reports.empty());
    const char unknown[] = "nope";
    EXPECT_EQ(ZEP_name_from_key(unknown), unknown);
    EXPECT_EQ(messages_of(zep::kUnknownKey),
              std::vector<std::string>{"Unknown file type key (\"nope\") was specified; Ensure "
                                       "that the plug-in for this type is defined"});
    EXPECT_STREQ(ZEP_def_key(), "rla");
    EXPECT_STREQ(ZEP_def_base_name(), "im");
}

// Each query starts a stopped library once, says so at severity 0 (masked
// by default) and clears the error code as ZEP_init does.
TEST_F(Queries, EveryQueryStartsTheLibraryOnce)
{
    const std::string tst = write_file("lazy.tst", "ZTST");
    uint8_t definite = 0;
    const std::pair<const char *, std::function<void()>> cases[] = {
        {"ZEP_find", [] { ZEP_find("pipe"); }},
        {"ZEP_info", [] { ZEP_info(); }},
        {"ZEP_def_key", [] { ZEP_def_key(); }},
        {"ZEP_def_base_name", [] { ZEP_def_base_name(); }},
        {"ZEP_find", [] { ZEP_name_from_key("mem"); }},
        {"ZEP_find", [&] { ZEP_is_file_type(tst.c_str(), nullptr, "mem", &definite); }},
        {"ZEP_find", [&] { ZEP_get_file_type(tst.c_str(), nullptr, &definite); }},
    };
    EXPECT_NE(ZEP_find("mem"), nullptr);
    EXPECT_TRUE(reports.empty()); // masked by default
    ERR_unmask_s(ERR_DEBUG);
    for (const auto &[call, query] : cases) {
        SCOPED_TRACE(call);
        ZEP_exit();
        reports.clear();
        zep__err = ZEP_E_TYPE;
        query();
        EXPECT_EQ(zep__err, 0);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(std::tuple(reports[0].format, reports[0].severity, reports[0].message),
                  std::tuple(std::string(zep::kInitDatabase.text), 0,
                             "zep, initializing database for " + std::string(call) + " request"));
        reports.clear();
        zep__err = ZEP_E_TYPE;
        query(); // started now: no second message, the code left alone
        EXPECT_EQ(std::tuple(zep__err, reports.size()), std::tuple(ZEP_E_TYPE, 0u));
    }
    zep__err = 0;
}

// ---- File probes -------------------------------------------------------------

// ZEP_get_file_type ("*") takes only a probe's 1, and "__none_" when every
// format has a probe; ZEP_is_file_type asks the formats of one key (not an
// extension) and takes any true answer. A given stream is probed in place.
TEST_F(Queries, FileTypesComeFromTheProbes)
{
    const std::string tst = write_file("a.tst", "ZTST"), full = write_file("a.full", "FULLxxxx"),
                      full2 = write_file("b.full", "FUL2xxxx"), other = write_file("a.bin", "no"),
                      missing = file("missing.bin");
    struct Case {
        const char *modules, *key;
        const std::string &path;
        const char *result;
        uint8_t definite;
    };
    const char *const both = "tst_format tst_full", *const all = "tst_format tst_minimal tst_full";
    // clang-format off
    const Case cases[] = {
        {"", "*", other, "__none_", 1}, {"", "*", missing, "__none_", 1}, {both, "*", tst, "tst", 1},
        {both, "*", full, "full", 1}, {both, "*", other, "__none_", 1}, {both, "*", full2, "__none_", 1},
        {"tst_format tst_minimal", "*", other, nullptr, 0}, {"tst_minimal tst_format", "*", tst, "tst", 0},
        {"tst_format tst_minimal", "*", tst, "tst", 1},
        {all, "tst", tst, "tst", 1}, {all, "tst", full2, nullptr, 1}, {all, "minimal", tst, nullptr, 0},
        {all, "nope", tst, nullptr, 1}, {all, ".tst", tst, nullptr, 1}, {all, "full", full2, "full", 1},
        {all, nullptr, tst, "tst", 1}, {all, nullptr, full2, nullptr, 0},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(&c - cases);
        ASSERT_EQ(boot(c.modules), 0);
        uint8_t definite = 7;
        const char *path = c.path.c_str();
        EXPECT_STREQ(c.key && *c.key == '*' ? ZEP_get_file_type(path, nullptr, &definite)
                                            : ZEP_is_file_type(path, nullptr, c.key, &definite),
                     c.result);
        EXPECT_EQ(definite, c.definite);
    }
    FILE *f = std::fopen(tst.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    uint8_t definite = 0;
    EXPECT_STREQ(ZEP_get_file_type("not-a-file", f, &definite), "tst");
    EXPECT_EQ(std::ftell(f), 0);
    EXPECT_STREQ(ZEP_is_file_type("not-a-file", f, "tst", &definite), "tst");
    std::fclose(f);
}

// The entry a search stopped at is asked first next time (a miss after a hit
// asks it twice); a miss empties the cache, which dies with the registry. The
// cursor ends after the entry found, or at the first one after a cache hit.
TEST_F(Queries, IsFileTypeAsksTheRememberedFormatFirst)
{
    ASSERT_EQ(boot("tst_minimal tst_full"), 0);
    TstFullState *s = full();
    const std::string yes = write_file("c.full", "FULL"), no = write_file("c.bin", "none");
    struct Step {
        const std::string &path;
        const char *result;
        int probes;
        const char *next; // what ZEP_info gives after the search
    };
    for (const Step &step : {Step{yes, "full", 1, "(null)"}, Step{yes, "full", 1, "minimal"},
                             Step{no, nullptr, 2, "full"}, Step{no, nullptr, 1, "(null)"}}) {
        uint8_t definite = 0;
        const int before = s->probe_calls;
        EXPECT_STREQ(ZEP_is_file_type(step.path.c_str(), nullptr, "full", &definite), step.result);
        EXPECT_EQ(s->probe_calls - before, step.probes);
        EXPECT_EQ(next(), step.next);
    }
    ZEP_init(nullptr, nullptr);
    EXPECT_EQ(next(), "minimal");
    uint8_t definite = 0;
    EXPECT_EQ(ZEP_get_file_type(no.c_str(), nullptr, &definite), nullptr); // minimal: no probe
    EXPECT_EQ(next(), "full");

    ASSERT_STREQ(ZEP_is_file_type(yes.c_str(), nullptr, "full", &definite), "full");
    stop(); // restarted with the built-ins only: nothing of the old entry is asked
    EXPECT_EQ(ZEP_is_file_type(yes.c_str(), nullptr, "full", &definite), nullptr);
    EXPECT_EQ(definite, 1);
}

} // namespace
} // namespace registry_test
