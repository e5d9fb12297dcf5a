// Start-up and the format registry: format records, which modules are bound
// in what order, init and done routines, restarts, capabilities, memory.
#include <algorithm>

#include "registry_support.h"

namespace registry_test {
namespace {

using Start = RegistryTest;

// A format record on one line: its texts, its numbers in record order
// (masks and access in hex), then which routines it has: c capability,
// a availability, p probe, u popup, d popdown.
std::string fields(const ZEP_FILE_TYPE *t)
{
    auto s = [](const char *p) { return p ? p : "-"; };
    char b[512];
    std::snprintf(
        b, sizeof b,
        "%s [%s] [%s] [%s] %d [%s] [%s] [%s] | %d %d %d %d %d %#x %d %#x %d %#x %d %#x "
        "%d %d %d | %c%c%c%c%c",
        t->key, s(t->extension), s(t->name), s(t->description), t->desc_msg, s(t->desc_default),
        s(t->format_string), s(t->name_syntax), t->add_extension, t->usage, t->orientation,
        t->bits_per_palette_entry, t->number_of_channels, t->bits_per_channel, t->number_of_mattes,
        t->bits_per_matte, t->number_of_z_channels, t->bits_per_z_channel,
        t->supports_active_window, t->access, t->multi_frame, t->hard_link_duplicates,
        t->support_remote_access, t->capability ? 'c' : '-', t->caps_avail_update ? 'a' : '-',
        t->is_file ? 'p' : '-', t->private_ui_popup ? 'u' : '-', t->private_ui_popdown ? 'd' : '-');
    return b;
}

TEST_F(Start, RecordsHoldTheBuiltInRowsTheExportedValuesOrTheDefaults)
{
    ASSERT_EQ(boot("tst_full tst_minimal"), 0);
    // clang-format off
    const char *const expected[][2] = {
        {"pipe", "pipe [.pipe] [pipe] [ipc] 0 [-] [%s.%04.4d%s] [Name.####.Ext] | "
                 "1 1 1 0 3 0xffffffff 1 0xffffffff 0 0 1 0xc 0 0 0 | --p--"},
        {"mem", "mem [.mem] [memory] [-] 0 [-] [%s.%04.4d%s] [Name.####.Ext] | "
                "1 255 1 0 32767 0xffffffff 32767 0xffffffff 32767 0xffffffff 1 0x3c 0 0 0 | --p--"},
        {"full", "full [.full] [full test format] [every name exported] 0 [-] [%s_%d%s] [Name_#.Ext] | "
                 "0 6 3 24 4 0x8080 2 0x80 1 0x80000000 1 0x10 1 0 1 | capud"},
        {"minimal", "minimal [] [minimal] [-] 0 [-] [%s.%04.4d%s] [-] | "
                    "1 1 2 0 3 0x80 0 0 0 0 0 0 0 1 0 | -----"},
    };
    // clang-format on
    for (const auto &e : expected) {
        const ZEP_FILE_TYPE *t = ZEP_find(e[0]);
        ASSERT_NE(t, nullptr) << e[0];
        EXPECT_EQ(fields(t), e[1]);
    }
    EXPECT_TRUE(reports.empty());
}

// Plug-ins come in enumeration order before the built-ins, a re-defined key
// replaces the earlier module, a faulty one is skipped with its message; a
// capability without a name stops the check, which raises the maxima no further.
TEST_F(Start, ModulesAreBoundInOrderAndFaultyOnesSkippedWithTheirMessage)
{
    struct Case {
        const char *modules, *keys;
        const zep::Message *message; // null: no report at all
        const char *text;
        int first = 0, second = 0; // the capability-count maxima
    };
    const zep::Message *const must = &zep::kMustBeDefined, *const none = nullptr;
    // clang-format off
    const Case cases[] = {
        {"", "", none, ""},
        {"tst_caps2 tst_minimal tst_full", "caps2 minimal full.full", none, "", 5, 7},
        {"tst_dup_a tst_minimal tst_dup_b tst_caps2", "minimal dup.dupb caps2", none, "", 5, 2},
        {"tst_dup_a tst_noname tst_minimal", "minimal", must, "tst_noname: imageName must be defined"},
        {"tst_noversion tst_minimal", "minimal", must, "tst_noversion: version must be defined"},
        {"tst_badversion tst_minimal", "minimal", &zep::kPluginVersion, "tst_badversion: the version "
         "protocol of this plug-in (\"version\") is not supported; expecting version \"3.2\" but found \"3.1\""},
        {"tst_noorient tst_minimal", "minimal", must, "tst_noorient: imageOrientation must be defined"},
        {"tst_noreadopen tst_minimal", "minimal", must, "tst_noreadopen: imageReadOpen must be defined"},
        {"tst_nowriteopen tst_minimal", "minimal", must, "tst_nowriteopen: imageWriteOpen must be defined"},
        {"tst_initfail tst_minimal", "minimal", none, ""},
        {"tst_minimal -", "minimal", none, ""},
        {"tst_cap_noname tst_caps2", "capnoname caps2", &zep::kCapabilityNoName,
         "capnoname: no name field was found for capability 1 of this image driver"},
        {"tst_cap_choice_noname", "choicenoname", &zep::kCapabilityEntryNoName, "choicenoname: no "
         "name field was found for capability 0's list entry number 1 of this image driver"},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.modules);
        reports.clear();
        ASSERT_EQ(boot(c.modules), 0);
        EXPECT_EQ(zep__err, 0);
        EXPECT_EQ(plugin_keys(), c.keys);
        std::vector<std::string> said, want;
        for (const Report &r : reports)
            said.push_back(std::to_string(r.severity) + " " + r.format + " | " + r.message);
        if (c.message)
            want.push_back(std::to_string(c.message->severity) + " " + c.message->text + " | " +
                           c.text);
        EXPECT_EQ(said, want);
        int first = -1, second = -1;
        ZEP_info_num_specific(&first, &second);
        EXPECT_EQ(std::make_pair(first, second), std::make_pair(c.first, c.second));
        EXPECT_TRUE(ZEP_find("pipe") && ZEP_find("mem"));
    }
}

// Only accepted modules are shut down; a second ZEP_init only rewinds the
// enumeration; after ZEP_exit a query restarts with the built-ins only.
TEST_F(Start, InitDoneRestartAndTheEnumerationCursor)
{
    EXPECT_EQ(ZEP_init(nullptr, nullptr), 0);
    EXPECT_EQ(ZEP_info(), nullptr);
    EXPECT_NE(ZEP_multiframe_used(), 0);
    ASSERT_EQ(boot("tst_minimal tst_full tst_initfail tst_noname"), 0);
    ZEP_exit();
    std::vector<int *> calls{&full()->inits, &full()->dones};
    for (const char *m : {"tst_initfail", "tst_noname"})
        calls.insert(calls.end(), {sym<int>(m, "tst_inits"), sym<int>(m, "tst_dones")});
    auto since = [&] { // calls since then, in the order of `calls`
        std::vector<int> n(calls.size());
        std::ranges::transform(calls, n.begin(), [](int *c) { return *c; });
        return n;
    };
    for (int *c : calls)
        *c = 0;
    int catalogue = 0;
    ASSERT_EQ(plugins_->init(&catalogue), 0);
    EXPECT_EQ(zep__msg_cat, &catalogue);
    EXPECT_EQ(since(), std::vector<int>({1, 0, 1, 0, 1, 0}));
    const ZEP_FILE_TYPE *first = ZEP_info();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(ZEP_info(), nullptr);
    EXPECT_EQ(ZEP_info(), nullptr);
    EXPECT_EQ(ZEP_info(), nullptr); // stays exhausted
    zeptest::Plugins others({"tst_caps2"});
    EXPECT_EQ(others.init(), 0);
    EXPECT_EQ(ZEP_info(), first);
    EXPECT_EQ(ZEP_find("caps2"), nullptr);
    EXPECT_EQ(since(), std::vector<int>({1, 0, 1, 0, 1, 0}));

    EXPECT_EQ(ZEP_exit(), 0);
    EXPECT_EQ(ZEP_exit(), 0); // stopped: nothing happens
    EXPECT_EQ(since(), std::vector<int>({1, 1, 1, 0, 1, 0}));
    EXPECT_EQ(ZEP_find("minimal"), nullptr); // a lazy start: built-ins only
    EXPECT_NE(ZEP_find("pipe"), nullptr);
    EXPECT_EQ(ZEP_info(), nullptr);
}

// ---- Capabilities ------------------------------------------------------------

TEST_F(Start, CapabilityNamesComeFromDefaultLabelsUntilExit)
{
    ASSERT_EQ(boot("tst_full"), 0);
    ZEP_CAPABILITY *caps = full()->capabilities;
    ZEP_CAP_CHOICE *choices = caps[0].list->choices;
    ZEP_exit();
    for (int round = 0; round < 2; ++round) { // a restart applies the labels again
        ASSERT_EQ(plugins_->init(), 0);
        EXPECT_STREQ(caps[0].name, "quality"); // no label: its own name
        EXPECT_STREQ(caps[1].name, "dither");
        EXPECT_NE(caps[1].name, caps[1].label_default); // a private copy
        EXPECT_STREQ(choices[0].name, "low");
        EXPECT_STREQ(choices[1].name, "medium");
        EXPECT_STREQ(choices[2].name, "best"); // a label beats the name it had
        EXPECT_EQ(caps[0].list->count, 3);
        ASSERT_EQ(ZEP_exit(), 0);
        EXPECT_EQ(caps[1].name, nullptr); // no pointer to a freed copy is left
        EXPECT_EQ(choices[1].name, nullptr);
        EXPECT_STREQ(choices[2].name, "high");
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Start, AnInvalidListDefaultEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(boot("tst_cap_baddefault"),
                 "baddefault: capability `compression' has invalid list default 9");
}

TEST_F(Start, SpecificCapabilitiesComeFromTheDriverOfAKeyOrFormat)
{
    ASSERT_EQ(boot("tst_full tst_minimal"), 0);
    ZEP_CAPABILITY dummy{}, *const full_caps = full()->capabilities;
    const ZEP_FILE_TYPE *f = ZEP_find("full"), *pipe = ZEP_find("pipe"), *min = ZEP_find("minimal");
    struct Case {
        const char *key;
        const ZEP_FILE_TYPE *type;
        ZEP_CAPABILITY *caps;
        int first, second, num;
    };
    // clang-format off
    const Case cases[] = {
        {"full", nullptr, full_caps, 3, 7, 2}, {nullptr, f, full_caps, 3, 7, 2},
        {"full", pipe, full_caps, 3, 7, 2}, // the key decides
        {"pipe", nullptr, nullptr, 0, 0, 0}, {nullptr, min, nullptr, 0, 0, 0},
        {"nope", nullptr, &dummy, -1, -2, -3}, // reported; the outputs left alone
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(&c - cases);
        ZEP_CAPABILITY *caps = &dummy;
        int first = -1, second = -2, num = -3;
        ZEP_info_get_specific(c.key, c.type, &caps, &first, &second, &num);
        EXPECT_EQ(caps, c.caps);
        EXPECT_EQ(std::vector<int>({first, second, num}),
                  std::vector<int>({c.first, c.second, c.num}));
    }
    EXPECT_EQ(messages_of(zep::kUnknownKey),
              std::vector<std::string>{"Unknown file type key (\"nope\") was specified; Ensure "
                                       "that the plug-in for this type is defined"});
}

// A failed start returns -1 with the library stopped, or -10 from the
// capability check with the formats registered; every module whose init ran
// is shut down again and the next start works.
TEST_F(Start, OutOfMemoryAtEachStepLeavesNothingBehind)
{
    ASSERT_EQ(boot("tst_full tst_minimal tst_caps2 tst_format"), 0);
    ZEP_exit();
    TstFullState *s = full();
    ERR_unmask_s(ERR_DEBUG); // a lazy start then says that the library was stopped
    int inits = 0, dones = 0, stopped = 0, check_failures = 0;
    auto start = [&] {
        inits = s->inits;
        dones = s->dones;
        return plugins_->init();
    };
    auto check = [&](int rc, bool failed) {
        EXPECT_TRUE(failed || rc == 0);
        if (rc == -1) {
            ++stopped;
            EXPECT_EQ(zep__err, ZEP_E_NOMEM); // from either database or the registry
            const size_t starts = messages_of(zep::kInitDatabase).size();
            EXPECT_EQ(ZEP_find("full"), nullptr); // stopped: restarts bare
            EXPECT_EQ(messages_of(zep::kInitDatabase).size(), starts + 1);
        } else {
            check_failures += rc == ZEP_E_NOMEM;
            EXPECT_EQ(zep__err, rc);
            EXPECT_EQ(plugin_keys(), "full.full minimal caps2 tst.tst");
        }
        ZEP_exit();
        EXPECT_EQ(s->inits - inits, s->dones - dones);
        ASSERT_EQ(plugins_->init(), 0);
        ZEP_exit();
    };
    EXPECT_GT(fail_each_allocation(start, check), 5);
    EXPECT_GT(stopped, 5);
    EXPECT_GT(check_failures, 0); // tst_full's labels are copied
}

} // namespace
} // namespace registry_test
