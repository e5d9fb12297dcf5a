// Capabilities and settings: availability flags and the driver's hook,
// setting lists (allocation, copy, comparison), and the driver's private
// settings window.
#include "registry_support.h"

#include <initializer_list>

extern "C" int zep_test_c_registry(void);

namespace registry_test {
namespace {

using Settings = RegistryTest;

TEST_F(Settings, SetAvailableSaysWhetherTheStateChanged)
{
    ZEP_CAPABILITY cap{};
    cap.flags = 0x3; // other bits are left alone
    struct Step {
        int available;
        int changed;
        uint8_t flags;
    };
    for (const Step &s : {Step{0, 1, 0x7}, Step{0, 0, 0x7}, Step{1, 1, 0x3}, Step{1, 0, 0x3},
                          Step{5, 0, 0x3}, Step{0, 1, 0x7}, Step{-1, 1, 0x3}}) {
        EXPECT_EQ(ZEP_set_available(&cap, s.available), s.changed) << s.available;
        EXPECT_EQ(cap.flags, s.flags);
    }
    EXPECT_EQ(ZEP_set_available(nullptr, 1), 0);
}

TEST_F(Settings, AllocatedSettingsAreUnset)
{
    ZEP_CAP_SETTING *s = ZEP_cap_setting_alloc(4);
    ASSERT_NE(s, nullptr);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(s[i].code, 0xffff);
        EXPECT_EQ(s[i].value.i, 0);
    }
    ERR_free(s);
    EXPECT_EQ(ZEP_cap_setting_alloc(-1), nullptr);

    err__alloc_fail(1, 0);
    EXPECT_EQ(ZEP_cap_setting_alloc(2), nullptr);
    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    EXPECT_EQ(reports_of(zep::kNoMemory).size(), 1u);
}

// Settings held by the test: code and value, and the list pointing at them.
struct List {
    std::vector<ZEP_CAP_SETTING> settings;
    std::vector<ZEP_CAP_SETTING *> pointers;
    List(std::initializer_list<ZEP_CAP_SETTING> s) : settings(s)
    {
        for (ZEP_CAP_SETTING &x : settings)
            pointers.push_back(&x);
        pointers.push_back(nullptr);
    }
    ZEP_CAP_SETTING *const *get() const { return pointers.data(); }
};

ZEP_CAP_SETTING integer(uint16_t code, int32_t v)
{
    ZEP_CAP_SETTING s{};
    s.code = code;
    s.value.i = v;
    return s;
}

ZEP_CAP_SETTING real(uint16_t code, float v)
{
    ZEP_CAP_SETTING s{};
    s.code = code;
    s.value.f = v;
    return s;
}

void free_copy(ZEP_CAP_SETTING **copy)
{
    for (int i = 0; copy && copy[i]; ++i)
        ERR_free(copy[i]);
    ERR_free(copy);
}

TEST_F(Settings, CopyIsDeepAndNullTerminated)
{
    List src{integer(0, 12), real(1, 0.5f), integer(9, -3)};
    ZEP_CAP_SETTING **copy = ZEP_cap_setting_copy(src.get());
    ASSERT_NE(copy, nullptr);
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(copy[i], nullptr);
        EXPECT_NE(copy[i], src.get()[i]);
        EXPECT_EQ(copy[i]->code, src.settings[i].code);
        EXPECT_EQ(copy[i]->value.i, src.settings[i].value.i);
    }
    EXPECT_EQ(copy[3], nullptr);
    free_copy(copy);
}

TEST_F(Settings, EmptyAndNullListsCopyToNull)
{
    ZEP_CAP_SETTING *empty[] = {nullptr};
    EXPECT_EQ(ZEP_cap_setting_copy(nullptr), nullptr);
    EXPECT_EQ(ZEP_cap_setting_copy(empty), nullptr);
    EXPECT_TRUE(reports.empty());
}

// A copy that runs out of memory returns null with nothing left allocated
// (never a shortened list, which would match settings it does not hold).
TEST_F(Settings, CopyOutOfMemoryGivesNullAndLeaksNothing)
{
    List src{integer(0, 1), real(1, 3.0f)};
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        reports.clear();
        err__alloc_fail(n, 0);
        ZEP_CAP_SETTING **copy = ZEP_cap_setting_copy(src.get());
        int injected = err__alloc_fail(0, 0);
        if (injected == 0) {
            ASSERT_NE(copy, nullptr);
            EXPECT_TRUE(ZEP_cap_setting_compare(copy, src.get()));
            EXPECT_TRUE(ZEP_cap_setting_compare(src.get(), copy));
            free_copy(copy);
            EXPECT_EQ(n, 4); // the array and two settings
            break;
        }
        EXPECT_EQ(copy, nullptr);
        EXPECT_EQ(reports_of(zep::kNoMemory).size(), 1u);
        EXPECT_TRUE(no_leaks());
    }
}

TEST_F(Settings, CompareFindsEachSettingOfTheFirstListInTheSecond)
{
    struct Case {
        const char *what;
        List a, b;
        bool null_a, null_b;
        int result;
    };
    const Case cases[] = {
        {"float equal", {real(1, 0.5f)}, {real(1, 0.5f)}, false, false, 1},
        {"float differs", {real(1, 0.5f)}, {real(1, 0.25f)}, false, false, 0},
        {"integer equal", {integer(0, 7)}, {integer(0, 7)}, false, false, 1},
        {"integer differs", {integer(0, 7)}, {integer(0, 8)}, false, false, 0},
        {"code missing", {integer(0, 7)}, {real(1, 7.0f)}, false, false, 0},
        {"searches go forward",
         {integer(0, 1), real(1, 2.0f)},
         {real(1, 2.0f), integer(0, 1)},
         false,
         false,
         0},
        {"partners in order",
         {integer(0, 1), real(1, 2.0f)},
         {integer(0, 1), real(1, 2.0f), integer(0, 9)},
         false,
         false,
         1},
        {"extra settings of b", {real(1, 2.0f)}, {integer(0, 1), real(1, 2.0f)}, false, false, 1},
        {"a partner serves again",
         {integer(0, 4), integer(0, 4)},
         {integer(0, 4)},
         false,
         false,
         1},
        {"empty and null", {}, {}, true, false, 1},
        {"null and null", {}, {}, true, true, 1},
        {"empty and one", {}, {integer(0, 1)}, false, false, 0},
        {"one and null", {integer(0, 1)}, {}, false, true, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ZEP_CAP_SETTING *const *a = c.null_a ? nullptr : c.a.get();
        ZEP_CAP_SETTING *const *b = c.null_b ? nullptr : c.b.get();
        EXPECT_EQ(ZEP_cap_setting_compare(a, b), c.result);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Settings, AnUnknownCodeComparesUnequalWithTheMessage)
{
    List a{integer(7, 1)}, b{integer(7, 1)};
    EXPECT_EQ(ZEP_cap_setting_compare(a.get(), b.get()), 0);
    auto r = reports_of(zep::kUnknownCapability);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].severity, 2);
    EXPECT_EQ(r[0].message,
              "Unknown type-specific capability code (7) specified when trying to open image file");
}

// ---- Availability hook -----------------------------------------------------------

TEST_F(Settings, CapabilitiesAvailableAsksTheDriver)
{
    load({"tst_full"});
    TstFullState *s = symbol<TstFullStateFn>(0, "tst_full_state")();
    ASSERT_EQ(plugins->init(), 0);
    const ZEP_FILE_TYPE *full = ZEP_find("full");
    ASSERT_NE(full, nullptr);
    int x = 0, y = 0;
    EXPECT_EQ(ZEP_capabilities_available(full, &x, &x), 1);
    EXPECT_EQ(s->avail_a, &x);
    EXPECT_EQ(s->avail_b, &x);
    EXPECT_EQ(ZEP_capabilities_available(full, &x, &y), 0);
    EXPECT_EQ(s->avail_b, &y);
    EXPECT_EQ(ZEP_capabilities_available(ZEP_find("pipe"), &x, &x), 0);
    EXPECT_EQ(ZEP_capabilities_available(nullptr, &x, &x), 0);
}

// ---- Private settings window -------------------------------------------------------

TEST_F(Settings, PopupOpensTheDriversWindowAndPopdownClosesIt)
{
    load({"tst_full", "tst_popup_only"});
    TstFullState *s = symbol<TstFullStateFn>(0, "tst_full_state")();
    auto popup_only_calls = symbol<int (*)()>(1, "tst_popup_only_calls");
    ASSERT_EQ(plugins->init(), 0);
    const ZEP_FILE_TYPE *full = ZEP_find("full");
    const ZEP_FILE_TYPE *only = ZEP_find("popuponly");
    ASSERT_NE(full, nullptr);
    ASSERT_NE(only, nullptr);
    int arg = 0;
    int popups = s->popups, popdowns = s->popdowns, only_calls = popup_only_calls();

    EXPECT_EQ(ZEP_private_ui_popup(full, &arg), 42);
    EXPECT_EQ(s->popups - popups, 1);
    EXPECT_EQ(s->popup_argument, &arg);
    EXPECT_EQ(s->popdowns - popdowns, 0);

    // A second popup closes the open window first.
    EXPECT_EQ(ZEP_private_ui_popup(full, nullptr), 42);
    EXPECT_EQ(s->popups - popups, 2);
    EXPECT_EQ(s->popdowns - popdowns, 1);

    EXPECT_EQ(ZEP_private_ui_popdown(), 7);
    EXPECT_EQ(s->popdowns - popdowns, 2);
    EXPECT_EQ(ZEP_private_ui_popdown(), 0); // nothing open any more
    EXPECT_EQ(s->popdowns - popdowns, 2);

    // A format that could not close its window is refused, after the open
    // window was closed; no window is current afterwards.
    ASSERT_EQ(ZEP_private_ui_popup(full, nullptr), 42);
    zep__err = 0;
    EXPECT_EQ(ZEP_private_ui_popup(only, nullptr), ZEP_E_UNSUPPORTED);
    EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
    EXPECT_EQ(s->popdowns - popdowns, 3);
    EXPECT_EQ(popup_only_calls(), only_calls);
    EXPECT_EQ(ZEP_private_ui_popdown(), 0);

    zep__err = 0;
    EXPECT_EQ(ZEP_private_ui_popup(nullptr, nullptr), ZEP_E_UNSUPPORTED);
    EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
    EXPECT_EQ(ZEP_private_ui_popup(ZEP_find("mem"), nullptr), ZEP_E_UNSUPPORTED);
    zep__err = 0;
}

// The window of a driver is closed before the driver is shut down, so no
// popdown routine of an unloaded module is left current.
TEST_F(Settings, ExitClosesAnOpenWindow)
{
    load({"tst_full"});
    TstFullState *s = symbol<TstFullStateFn>(0, "tst_full_state")();
    ASSERT_EQ(plugins->init(), 0);
    int popdowns = s->popdowns;
    ASSERT_EQ(ZEP_private_ui_popup(ZEP_find("full"), nullptr), 42);
    ZEP_exit();
    EXPECT_EQ(s->popdowns - popdowns, 1);
    EXPECT_EQ(ZEP_private_ui_popdown(), 0);
}

// ---- From C ------------------------------------------------------------------------

TEST_F(Settings, TheInterfaceWorksFromC) { EXPECT_EQ(zep_test_c_registry(), 0); }

} // namespace
} // namespace registry_test
