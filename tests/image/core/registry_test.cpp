// Start-up and the format registry: which modules are bound and in what
// order, the messages of rejected modules, the fields a format takes from a
// module or from the defaults, the built-in rows, the capability check and
// its maxima, shut-down and restart, and start-up running out of memory.
#include "registry_support.h"

#include <cstring>

namespace registry_test {
namespace {

using Start = RegistryTest;

TEST_F(Start, WithoutEnumeratorRegistersOnlyTheBuiltIns)
{
    EXPECT_EQ(ZEP_init(nullptr, nullptr), 0);
    EXPECT_EQ(zep__err, 0);
    EXPECT_EQ(ZEP_info(), nullptr);
    const ZEP_FILE_TYPE *pipe = ZEP_find("pipe");
    const ZEP_FILE_TYPE *mem = ZEP_find("mem");
    ASSERT_NE(pipe, nullptr);
    ASSERT_NE(mem, nullptr);
    EXPECT_NE(pipe, mem);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Start, StoresTheCatalogueHandle)
{
    int catalogue = 0;
    ASSERT_EQ(start({"tst_minimal"}, &catalogue), 0);
    EXPECT_EQ(zep__msg_cat, &catalogue);
}

// The two built-in rows, field by field.
TEST_F(Start, BuiltInRowsCarryTheirTableValues)
{
    struct Row {
        const char *key, *extension, *name, *description;
        int32_t usage, channels, mattes;
        uint32_t bits_matte;
        int32_t z;
        uint32_t bits_z;
        int32_t access;
    };
    const Row rows[] = {
        {"pipe", ".pipe", "pipe", "ipc", 1, 3, 1, 0xffffffffu, 0, 0, 0x0c},
        {"mem", ".mem", "memory", nullptr, 0xff, 0x7fff, 0x7fff, 0xffffffffu, 0x7fff, 0xffffffffu,
         0x3c},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.key);
        const ZEP_FILE_TYPE *t = ZEP_find(r.key);
        ASSERT_NE(t, nullptr);
        EXPECT_STREQ(t->key, r.key);
        EXPECT_STREQ(t->extension, r.extension);
        EXPECT_STREQ(t->name, r.name);
        if (r.description)
            EXPECT_STREQ(t->description, r.description);
        else
            EXPECT_EQ(t->description, nullptr);
        EXPECT_EQ(t->desc_msg, 0);
        EXPECT_EQ(t->desc_default, nullptr);
        EXPECT_STREQ(t->format_string, "%s.%04.4d%s");
        EXPECT_STREQ(t->name_syntax, "Name.####.Ext");
        EXPECT_EQ(t->add_extension, 1);
        EXPECT_EQ(t->usage, r.usage);
        EXPECT_EQ(t->orientation, 1);
        EXPECT_EQ(t->bits_per_palette_entry, 0);
        EXPECT_EQ(t->number_of_channels, r.channels);
        EXPECT_EQ(t->bits_per_channel, 0xffffffffu);
        EXPECT_EQ(t->number_of_mattes, r.mattes);
        EXPECT_EQ(t->bits_per_matte, r.bits_matte);
        EXPECT_EQ(t->number_of_z_channels, r.z);
        EXPECT_EQ(t->bits_per_z_channel, r.bits_z);
        EXPECT_EQ(t->supports_active_window, 1);
        EXPECT_EQ(t->access, r.access);
        EXPECT_EQ(t->capability, nullptr);
        EXPECT_EQ(t->caps_avail_update, nullptr);
        EXPECT_EQ(t->multi_frame, 0);
        EXPECT_EQ(t->hard_link_duplicates, 0);
        EXPECT_EQ(t->support_remote_access, 0);
        EXPECT_NE(t->is_file, nullptr);
        EXPECT_EQ(t->private_ui_popup, nullptr);
        EXPECT_EQ(t->private_ui_popdown, nullptr);
    }
}

TEST_F(Start, ModuleFieldsAreTheValuesItExports)
{
    ASSERT_EQ(start({"tst_full"}), 0);
    const ZEP_FILE_TYPE *t = ZEP_find("full");
    ASSERT_NE(t, nullptr);
    void *module = plugins->handle(0);
    EXPECT_EQ(t->key, *static_cast<const char **>(dlsym(module, "imageKey")));
    EXPECT_STREQ(t->extension, ".full");
    EXPECT_STREQ(t->name, "full test format");
    EXPECT_STREQ(t->description, "every name exported");
    EXPECT_EQ(t->desc_msg, 0);
    EXPECT_STREQ(t->format_string, "%s_%d%s");
    EXPECT_STREQ(t->name_syntax, "Name_#.Ext");
    EXPECT_EQ(t->add_extension, 0);
    EXPECT_EQ(t->usage, 6);
    EXPECT_EQ(t->orientation, 3);
    EXPECT_EQ(t->bits_per_palette_entry, 24);
    EXPECT_EQ(t->number_of_channels, 4);
    EXPECT_EQ(t->bits_per_channel, 0x8080u);
    EXPECT_EQ(t->number_of_mattes, 2);
    EXPECT_EQ(t->bits_per_matte, 0x80u);
    EXPECT_EQ(t->number_of_z_channels, 1);
    EXPECT_EQ(t->bits_per_z_channel, 0x80000000u);
    EXPECT_EQ(t->supports_active_window, 1);
    EXPECT_EQ(t->access, ZEP_ACCESS_READ | ZEP_ACCESS_WRITE | ZEP_ACCESS_ANY_ORDER);
    EXPECT_EQ(t->multi_frame, 1);
    EXPECT_EQ(t->hard_link_duplicates, 0);
    EXPECT_EQ(t->support_remote_access, 1);
    EXPECT_EQ(reinterpret_cast<void *>(t->capability), dlsym(module, "imageCapability"));
    EXPECT_EQ(reinterpret_cast<void *>(t->caps_avail_update),
              dlsym(module, "imageCapsAvailUpdate"));
    EXPECT_EQ(reinterpret_cast<void *>(t->is_file), dlsym(module, "imageIsFile"));
    EXPECT_EQ(reinterpret_cast<void *>(t->private_ui_popup), dlsym(module, "imagePrivateUIPopup"));
    EXPECT_EQ(reinterpret_cast<void *>(t->private_ui_popdown),
              dlsym(module, "imagePrivateUIPopdown"));
}

TEST_F(Start, AbsentNamesTakeTheirDefaults)
{
    ASSERT_EQ(start({"tst_minimal"}), 0);
    const ZEP_FILE_TYPE *t = ZEP_find("minimal");
    ASSERT_NE(t, nullptr);
    ASSERT_NE(t->extension, nullptr); // never null: an empty text of its own
    EXPECT_STREQ(t->extension, "");
    EXPECT_STREQ(t->name, "minimal");
    EXPECT_EQ(t->description, nullptr);
    EXPECT_STREQ(t->format_string, "%s.%04.4d%s");
    EXPECT_EQ(t->name_syntax, nullptr);
    EXPECT_EQ(t->add_extension, 1);
    EXPECT_EQ(t->usage, 1);
    EXPECT_EQ(t->orientation, 2);
    EXPECT_EQ(t->bits_per_palette_entry, 0);
    EXPECT_EQ(t->number_of_channels, 3);
    EXPECT_EQ(t->bits_per_channel, 0x80u);
    EXPECT_EQ(t->number_of_mattes, 0);
    EXPECT_EQ(t->bits_per_matte, 0u);
    EXPECT_EQ(t->number_of_z_channels, 0);
    EXPECT_EQ(t->bits_per_z_channel, 0u);
    EXPECT_EQ(t->supports_active_window, 0);
    EXPECT_EQ(t->access, 0); // accepted without open routines
    EXPECT_EQ(t->multi_frame, 0);
    EXPECT_EQ(t->hard_link_duplicates, 1);
    EXPECT_EQ(t->support_remote_access, 0);
    EXPECT_EQ(t->capability, nullptr);
    EXPECT_EQ(t->caps_avail_update, nullptr);
    EXPECT_EQ(t->is_file, nullptr);
    EXPECT_EQ(t->private_ui_popup, nullptr);
    EXPECT_EQ(t->private_ui_popdown, nullptr);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Start, PluginsComeFirstInEnumerationOrder)
{
    ASSERT_EQ(start({"tst_caps2", "tst_minimal", "tst_full"}), 0);
    EXPECT_EQ(plugin_keys(), (std::vector<std::string>{"caps2", "minimal", "full"}));
    // The built-ins follow: a lookup by a key that both a plug-in and a
    // built-in could match is not possible here, but the built-ins are there.
    EXPECT_NE(ZEP_find("pipe"), nullptr);
    EXPECT_NE(ZEP_find("mem"), nullptr);
}

TEST_F(Start, ARedefinedKeyReplacesTheEarlierModuleAtItsOwnPlace)
{
    ASSERT_EQ(start({"tst_dup_a", "tst_minimal", "tst_dup_b", "tst_caps2"}), 0);
    EXPECT_EQ(plugin_keys(), (std::vector<std::string>{"minimal", "dup", "caps2"}));
    const ZEP_FILE_TYPE *t = ZEP_find("dup");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->name, "dup second");
    EXPECT_EQ(ZEP_find(".dupa"), nullptr);
    EXPECT_EQ(ZEP_find(".dupb"), t);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Start, ARejectedModuleHasStillRemovedTheEarlierDefinitionOfItsKey)
{
    ASSERT_EQ(start({"tst_dup_a", "tst_dup_reject", "tst_minimal"}), 0);
    EXPECT_EQ(ZEP_find("dup"), nullptr);
    EXPECT_EQ(ZEP_find(".dupa"), nullptr);
    EXPECT_EQ(plugin_keys(), (std::vector<std::string>{"minimal"}));
    EXPECT_EQ(messages(), (std::vector<std::string>{"tst_dup_reject: imageName must be defined"}));
}

// Each faulty module is skipped with its message, which names the module as
// the enumerator did; the module after it is still bound.
TEST_F(Start, FaultyModulesAreSkippedWithTheirMessage)
{
    struct Case {
        const char *module;
        const char *key;
        const zep::Message *message;
        const char *text; // null: no message at all
    };
    const Case cases[] = {
        {"tst_noversion", "nover", &zep::kMustBeDefined, "tst_noversion: version must be defined"},
        {"tst_badversion", "badver", &zep::kPluginVersion,
         "tst_badversion: the version protocol of this plug-in (\"version\") is not supported; "
         "expecting version \"3.2\" but found \"3.1\""},
        {"tst_noname", "noname", &zep::kMustBeDefined, "tst_noname: imageName must be defined"},
        {"tst_noorient", "noorient", &zep::kMustBeDefined,
         "tst_noorient: imageOrientation must be defined"},
        {"tst_noreadopen", "noread", &zep::kMustBeDefined,
         "tst_noreadopen: imageReadOpen must be defined"},
        {"tst_nowriteopen", "nowrite", &zep::kMustBeDefined,
         "tst_nowriteopen: imageWriteOpen must be defined"},
        {"tst_initfail", "initfail", nullptr, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.module);
        reports.clear();
        ASSERT_EQ(start({c.module, "tst_minimal"}), 0);
        EXPECT_EQ(ZEP_find(c.key), nullptr);
        EXPECT_EQ(plugin_keys(), (std::vector<std::string>{"minimal"}));
        if (c.text) {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0].format, c.message->text);
            EXPECT_EQ(reports[0].severity, c.message->severity);
            EXPECT_EQ(reports[0].message, c.text);
        } else {
            EXPECT_TRUE(reports.empty());
        }
        ZEP_exit();
        plugins.reset();
    }
}

TEST_F(Start, NullModuleHandlesAreSkippedSilently)
{
    load({"tst_minimal"});
    plugins->add_null("ghost");
    ASSERT_EQ(plugins->init(), 0);
    EXPECT_EQ(plugin_keys(), (std::vector<std::string>{"minimal"}));
    EXPECT_TRUE(reports.empty());
}

TEST_F(Start, InitAndDoneRunOnceEachForAcceptedModulesOnly)
{
    load({"tst_full", "tst_initfail", "tst_done_reject"});
    auto full = symbol<TstFullStateFn>(0, "tst_full_state")();
    auto initfail = symbol<void (*)(int *, int *)>(1, "tst_initfail_calls");
    auto rejected = symbol<void (*)(int *, int *)>(2, "tst_done_reject_calls");
    int fi0 = full->inits, fd0 = full->dones, ii0, id0, ri0, rd0;
    initfail(&ii0, &id0);
    rejected(&ri0, &rd0);

    ASSERT_EQ(plugins->init(), 0);
    ASSERT_EQ(ZEP_init(nullptr, nullptr), 0); // a second start binds nothing again
    EXPECT_EQ(full->inits - fi0, 1);
    EXPECT_EQ(full->dones - fd0, 0);
    EXPECT_EQ(ZEP_exit(), 0);
    EXPECT_EQ(ZEP_exit(), 0); // stopped: nothing happens
    EXPECT_EQ(full->dones - fd0, 1);

    int ii, id, ri, rd;
    initfail(&ii, &id);
    rejected(&ri, &rd);
    EXPECT_EQ(ii - ii0, 1);
    EXPECT_EQ(id - id0, 0);
    EXPECT_EQ(ri - ri0, 1);
    EXPECT_EQ(rd - rd0, 0);
}

TEST_F(Start, ASecondInitRewindsTheEnumerationAndBindsNothing)
{
    ASSERT_EQ(start({"tst_minimal", "tst_full"}), 0);
    const ZEP_FILE_TYPE *first = ZEP_info();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->key, "minimal");
    ASSERT_NE(ZEP_info(), nullptr);
    EXPECT_EQ(ZEP_info(), nullptr);
    EXPECT_EQ(ZEP_info(), nullptr); // stays exhausted

    zeptest::Plugins others({"tst_caps2"});
    EXPECT_EQ(others.init(), 0); // the enumerator is ignored
    EXPECT_EQ(ZEP_info(), first);
    EXPECT_EQ(ZEP_find("caps2"), nullptr);
}

TEST_F(Start, ExitThenAnyQueryRestartsWithTheBuiltInsOnly)
{
    ASSERT_EQ(start({"tst_minimal"}), 0);
    ASSERT_NE(ZEP_find("minimal"), nullptr);
    EXPECT_EQ(ZEP_exit(), 0);
    EXPECT_EQ(ZEP_find("minimal"), nullptr);
    EXPECT_NE(ZEP_find("pipe"), nullptr);
    EXPECT_EQ(ZEP_info(), nullptr);
}

TEST_F(Start, RestartAfterExitBindsTheNewModules)
{
    ASSERT_EQ(start({"tst_minimal"}), 0);
    ASSERT_EQ(ZEP_exit(), 0);
    ASSERT_EQ(start({"tst_caps2", "tst_full"}), 0);
    EXPECT_EQ(plugin_keys(), (std::vector<std::string>{"caps2", "full"}));
    EXPECT_EQ(ZEP_find("minimal"), nullptr);
}

TEST_F(Start, EnablesTheMultiFrameCache)
{
    ASSERT_EQ(ZEP_init(nullptr, nullptr), 0);
    EXPECT_NE(ZEP_multiframe_used(), 0);
}

// ---- Capability check --------------------------------------------------------

using Capabilities = RegistryTest;

TEST_F(Capabilities, NamesComeFromDefaultLabelsUntilExit)
{
    load({"tst_full"});
    TstFullState *s = symbol<TstFullStateFn>(0, "tst_full_state")();
    ZEP_CAPABILITY *caps = s->capabilities;
    ZEP_CAP_CHOICE *choices = caps[0].list->choices;
    const char *high = choices[2].name;
    ASSERT_STREQ(high, "high");
    ASSERT_EQ(choices[1].name, nullptr);
    ASSERT_EQ(caps[1].name, nullptr);

    ASSERT_EQ(plugins->init(), 0);
    EXPECT_STREQ(caps[0].name, "quality"); // no label: its own name
    EXPECT_STREQ(caps[1].name, "dither");
    EXPECT_NE(caps[1].name, caps[1].label_default); // a private copy
    EXPECT_STREQ(choices[0].name, "low");
    EXPECT_STREQ(choices[1].name, "medium");
    EXPECT_STREQ(choices[2].name, "best"); // label beats the name it had
    EXPECT_EQ(caps[0].list->count, 3);
    EXPECT_TRUE(reports.empty());

    ASSERT_EQ(ZEP_exit(), 0);
    EXPECT_EQ(caps[1].name, nullptr);
    EXPECT_EQ(choices[1].name, nullptr);
    EXPECT_EQ(choices[2].name, high);

    // A restart applies the labels again.
    ASSERT_EQ(plugins->init(), 0);
    EXPECT_STREQ(caps[1].name, "dither");
    EXPECT_STREQ(choices[2].name, "best");
}

TEST_F(Capabilities, MaximaAreTheLargestCountsOfAnyFormat)
{
    int first = -1, second = -1;
    ASSERT_EQ(start({"tst_full", "tst_caps2"}), 0);
    ZEP_info_num_specific(&first, &second);
    EXPECT_EQ(first, 5);  // tst_caps2
    EXPECT_EQ(second, 7); // tst_full
    ZEP_exit();
    plugins.reset();

    ASSERT_EQ(start({"tst_minimal"}), 0); // reset at each start
    ZEP_info_num_specific(&first, &second);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
}

TEST_F(Capabilities, ACapabilityWithoutNameStopsTheCheck)
{
    load({"tst_cap_noname", "tst_caps2"});
    ZEP_CAP_LIST *later = symbol<ZEP_CAP_LIST *(*)()>(1, "tst_caps2_list")();
    later->count = -1;
    ASSERT_EQ(plugins->init(), 0); // the check does not change the result
    EXPECT_EQ(zep__err, 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].format, zep::kCapabilityNoName.text);
    EXPECT_EQ(reports[0].severity, 2);
    EXPECT_EQ(reports[0].message,
              "capnoname: no name field was found for capability 1 of this image driver");
    EXPECT_EQ(later->count, -1); // the format after it was not checked
    int first = -1, second = -1;
    ZEP_info_num_specific(&first, &second);
    EXPECT_EQ(first, 0); // the failing table raised nothing
    EXPECT_EQ(second, 0);
    EXPECT_NE(ZEP_find("capnoname"), nullptr); // the format stays registered
}

TEST_F(Capabilities, AChoiceWithoutNameStopsTheCheck)
{
    ASSERT_EQ(start({"tst_cap_choice_noname"}), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].format, zep::kCapabilityEntryNoName.text);
    EXPECT_EQ(reports[0].severity, 2);
    EXPECT_EQ(reports[0].message, "choicenoname: no name field was found for capability 0's "
                                  "list entry number 1 of this image driver");
}

TEST_F(Capabilities, CountsTheChoicesOfAList)
{
    load({"tst_caps2"});
    ZEP_CAP_LIST *list = symbol<ZEP_CAP_LIST *(*)()>(0, "tst_caps2_list")();
    list->count = 0;
    ASSERT_EQ(plugins->init(), 0);
    EXPECT_EQ(list->count, 2);
}

using CapabilitiesDeathTest = RegistryTest;

TEST_F(CapabilitiesDeathTest, AnInvalidListDefaultEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            zeptest::Plugins bad({"tst_cap_baddefault"});
            bad.init();
        },
        "baddefault: capability `compression' has invalid list default 9");
}

// ---- Specific capabilities of one format ---------------------------------------

using Specific = RegistryTest;

TEST_F(Specific, ByKeyOrByFormatTheDriverFillsTheOutputs)
{
    load({"tst_full"});
    TstFullState *s = symbol<TstFullStateFn>(0, "tst_full_state")();
    ASSERT_EQ(plugins->init(), 0);
    const ZEP_FILE_TYPE *full = ZEP_find("full");
    ASSERT_NE(full, nullptr);

    struct Case {
        const char *key;
        const ZEP_FILE_TYPE *type;
    };
    for (const Case &c : {Case{"full", nullptr}, Case{".full", nullptr}, Case{nullptr, full},
                          Case{"full", ZEP_find("pipe")}}) {
        ZEP_CAPABILITY *caps = nullptr;
        int first = -1, second = -1, num = -1;
        ZEP_info_get_specific(c.key, c.type, &caps, &first, &second, &num);
        EXPECT_EQ(caps, s->capabilities);
        EXPECT_EQ(first, 3);
        EXPECT_EQ(second, 7);
        EXPECT_EQ(num, 2);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Specific, WithoutCapabilityRoutineOrFormatTheOutputsAreZero)
{
    ASSERT_EQ(start({"tst_minimal"}), 0);
    struct Case {
        const char *key;
        const ZEP_FILE_TYPE *type;
    };
    for (const Case &c :
         {Case{"pipe", nullptr}, Case{nullptr, ZEP_find("minimal")}, Case{nullptr, nullptr}}) {
        ZEP_CAPABILITY dummy{};
        ZEP_CAPABILITY *caps = &dummy;
        int first = -1, second = -1, num = -1;
        ZEP_info_get_specific(c.key, c.type, &caps, &first, &second, &num);
        EXPECT_EQ(caps, nullptr);
        EXPECT_EQ(first, 0);
        EXPECT_EQ(second, 0);
        EXPECT_EQ(num, 0);
    }
}

TEST_F(Specific, AnUnknownKeyIsReportedAndTheOutputsAreLeftAlone)
{
    ZEP_CAPABILITY dummy{};
    ZEP_CAPABILITY *caps = &dummy;
    int first = -1, second = -2, num = -3;
    ZEP_info_get_specific("nope", nullptr, &caps, &first, &second, &num);
    EXPECT_EQ(caps, &dummy);
    EXPECT_EQ(first, -1);
    EXPECT_EQ(second, -2);
    EXPECT_EQ(num, -3);
    auto r = reports_of(zep::kUnknownKey);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].severity, 3);
    EXPECT_EQ(r[0].message, "Unknown file type key (\"nope\") was specified; Ensure that the "
                            "plug-in for this type is defined");
}

// ---- Running out of memory -------------------------------------------------------

// Fails each allocation of a start with plug-ins in turn. A failed start
// returns -1 with the library stopped, or -10 from the capability check with
// the library running (a configuration file path that cannot be built only
// leaves the built-in defaults); either way nothing leaks, every module
// whose init ran is shut down again, and the next start works.
TEST_F(Start, OutOfMemoryAtEachStepLeavesNothingBehind)
{
    load({"tst_full", "tst_minimal", "tst_caps2", "tst_format"});
    TstFullState *s = symbol<TstFullStateFn>(0, "tst_full_state")();
    ERR_unmask_s(ERR_DEBUG); // a lazy start then tells that the library was stopped
    int failures = 0, check_failures = 0;
    for (int n = 1; n < 500; ++n) {
        SCOPED_TRACE(n);
        reports.clear();
        int inits = s->inits, dones = s->dones;
        err__alloc_fail(n, 0);
        int rc = plugins->init();
        int injected = err__alloc_fail(0, 0);
        if (injected == 0) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(plugin_keys(), (std::vector<std::string>{"full", "minimal", "caps2", "tst"}));
            break;
        }
        if (rc == 0) {
            // A failure the configuration reader lives with: the built-in
            // values stand and the start goes on.
            EXPECT_EQ(plugin_keys(), (std::vector<std::string>{"full", "minimal", "caps2", "tst"}));
        } else if (rc == -10) {
            // The capability check ran out: the formats stay registered.
            ++failures;
            ++check_failures;
            EXPECT_EQ(zep__err, ZEP_E_NOMEM);
            EXPECT_NE(ZEP_find("full"), nullptr);
        } else {
            ++failures;
            EXPECT_EQ(rc, -1);
            EXPECT_TRUE(zep__err == ZEP_E_NOMEM || zep__err == 0) << zep__err;
            EXPECT_FALSE(reports_of(zep::kNoMemory).empty());
            reports.clear();
            EXPECT_EQ(ZEP_find("full"), nullptr); // stopped: restarts bare
            EXPECT_EQ(reports_of(zep::kInitDatabase).size(), 1u);
        }
        ZEP_exit();
        EXPECT_EQ(s->inits - inits, s->dones - dones);
        EXPECT_TRUE(no_leaks());

        ASSERT_EQ(plugins->init(), 0);
        EXPECT_NE(ZEP_find("full"), nullptr);
        ZEP_exit();
    }
    EXPECT_GT(failures, 5);
    EXPECT_GT(check_failures, 0); // tst_full's labels are copied
}

} // namespace
} // namespace registry_test
