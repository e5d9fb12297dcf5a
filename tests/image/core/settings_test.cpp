// Capabilities and settings: availability, setting lists (allocation, copy,
// comparison), the driver's private settings window, and the calls from C.
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
    const int steps[][3] = {{0, 1, 0x7}, {0, 0, 0x7}, {1, 1, 0x3}, {1, 0, 0x3},
                            {5, 0, 0x3}, {0, 1, 0x7}, {-1, 1, 0x3}}; // available, changed, flags
    for (const auto &s : steps) {
        EXPECT_EQ(ZEP_set_available(&cap, s[0]), s[1]) << s[0];
        EXPECT_EQ(cap.flags, s[2]);
    }
    EXPECT_EQ(ZEP_set_available(nullptr, 1), 0);
}

// A setting list; values are floats under code 1, integers under any other.
struct List {
    std::vector<ZEP_CAP_SETTING> settings;
    std::vector<ZEP_CAP_SETTING *> pointers;
    List(std::initializer_list<std::pair<int, double>> s) : settings(s.size())
    {
        for (auto [code, value] : s) {
            ZEP_CAP_SETTING &x = settings[pointers.size()];
            x.code = static_cast<uint16_t>(code);
            if (code == 1)
                x.value.f = static_cast<float>(value);
            else
                x.value.i = static_cast<int32_t>(value);
            pointers.push_back(&x);
        }
        pointers.push_back(nullptr);
    }
    ZEP_CAP_SETTING *const *get() const { return pointers.data(); }
};

TEST_F(Settings, AllocatedSettingsAreUnset)
{
    ZEP_CAP_SETTING *s = ZEP_cap_setting_alloc(4);
    ASSERT_NE(s, nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(s[i].code == 0xffff && s[i].value.i == 0) << i;
    ERR_free(s);
    EXPECT_EQ(ZEP_cap_setting_alloc(-1), nullptr);
    err__alloc_fail(1, 0);
    EXPECT_EQ(ZEP_cap_setting_alloc(2), nullptr);
    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    EXPECT_EQ(messages_of(zep::kNoMemory).size(), 1u);
}

// A copy is deep and null-terminated, or null (for an empty list and when
// memory runs out: never a shortened list).
TEST_F(Settings, CopyIsDeepOrNothing)
{
    ZEP_CAP_SETTING *empty[] = {nullptr};
    EXPECT_EQ(ZEP_cap_setting_copy(nullptr), nullptr);
    EXPECT_EQ(ZEP_cap_setting_copy(empty), nullptr);
    const List src{{0, 12}, {1, 0.5}, {9, -3}};
    auto check = [&](ZEP_CAP_SETTING **copy, bool failed) {
        ASSERT_EQ(copy == nullptr, failed);
        for (int i = 0; copy && i < 3; ++i) {
            ASSERT_NE(copy[i], nullptr);
            EXPECT_NE(copy[i], src.get()[i]);
            EXPECT_EQ(copy[i]->code, src.settings[i].code);
            EXPECT_EQ(copy[i]->value.i, src.settings[i].value.i);
            ERR_free(copy[i]);
        }
        EXPECT_TRUE(!copy || copy[3] == nullptr);
        ERR_free(copy);
    };
    const int failed = fail_each_allocation([&] { return ZEP_cap_setting_copy(src.get()); }, check);
    EXPECT_EQ(failed, 4); // the array and three settings
}

// Each setting of a is searched in b from where the last search ended; code
// 0 compares integers, 1 floats, others are reported and unequal.
TEST_F(Settings, CompareFindsEachSettingOfTheFirstListInTheSecond)
{
    struct Case {
        List a, b;
        int result;
        bool null_a = false, null_b = false;
    };
    // clang-format off
    const Case cases[] = {
        {{{1, 0.5}}, {{1, 0.5}}, 1}, {{{1, 0.5}}, {{1, 0.25}}, 0},
        {{{0, 7}}, {{0, 7}}, 1}, {{{0, 7}}, {{0, 8}}, 0}, {{{0, 7}}, {{1, 7}}, 0},
        {{{0, 1}, {1, 2}}, {{1, 2}, {0, 1}}, 0},                 // searches go forward
        {{{0, 1}, {1, 2}}, {{0, 1}, {1, 2}, {0, 9}}, 1},         // b's extra settings do not matter
        {{{0, 4}, {0, 4}}, {{0, 4}}, 1},                           // a partner serves again
        {{}, {}, 1, true}, {{}, {}, 1, true, true}, {{}, {{0, 1}}, 0}, {{{0, 1}}, {}, 0, false, true},
        {{{7, 1}}, {{7, 1}}, 0},                                   // an unknown code
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(&c - cases);
        EXPECT_EQ(
            ZEP_cap_setting_compare(c.null_a ? nullptr : c.a.get(), c.null_b ? nullptr : c.b.get()),
            c.result);
    }
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_EQ(messages_of(zep::kUnknownCapability),
              std::vector<std::string>{"Unknown type-specific capability code (7) specified when "
                                       "trying to open image file"});
}

// A popup closes the open window first; a format without a popdown is refused
// with -16 and leaves none open; ZEP_exit closes an open window.
TEST_F(Settings, TheDriversHooksAndPrivateWindow)
{
    ASSERT_EQ(boot("tst_full tst_popup_only"), 0);
    TstFullState *s = full();
    const int popups = s->popups, popdowns = s->popdowns;
    const ZEP_FILE_TYPE *f = ZEP_find("full"), *only = ZEP_find("popuponly");
    int arg = 0, other = 0;
    EXPECT_EQ(ZEP_capabilities_available(f, &arg, &arg), 1);
    EXPECT_EQ(ZEP_capabilities_available(f, &arg, &other), 0);
    EXPECT_TRUE(s->avail_a == &arg && s->avail_b == &other);
    EXPECT_EQ(ZEP_capabilities_available(ZEP_find("pipe"), &arg, &arg), 0);
    EXPECT_EQ(ZEP_capabilities_available(nullptr, &arg, &arg), 0);
    struct Step {
        const ZEP_FILE_TYPE *type;
        bool popup; // else a popdown
        int result, popups, popdowns;
    };
    // clang-format off
    const Step steps[] = {
        {f, true, 42, 1, 0}, {f, true, 42, 2, 1}, {nullptr, false, 7, 2, 2}, {nullptr, false, 0, 2, 2},
        {f, true, 42, 3, 2}, {only, true, -16, 3, 3}, {nullptr, false, 0, 3, 3},
        {nullptr, true, -16, 3, 3}, {ZEP_find("mem"), true, -16, 3, 3}, {f, true, 42, 4, 3},
    };
    // clang-format on
    for (const Step &step : steps) {
        SCOPED_TRACE(&step - steps);
        zep__err = 0;
        EXPECT_EQ(step.popup ? ZEP_private_ui_popup(step.type, &arg) : ZEP_private_ui_popdown(),
                  step.result);
        EXPECT_EQ(zep__err, step.result < 0 ? step.result : 0);
        EXPECT_EQ(s->popups - popups, step.popups);
        EXPECT_EQ(s->popdowns - popdowns, step.popdowns);
    }
    EXPECT_EQ(s->popup_argument, &arg);
    EXPECT_EQ(*sym<int>("tst_popup_only", "tst_popups"), 0);
    ZEP_exit();
    EXPECT_EQ(s->popdowns - popdowns, 4);
    EXPECT_EQ(ZEP_private_ui_popdown(), 0);
}

TEST_F(Settings, TheInterfaceWorksFromC) { EXPECT_EQ(zep_test_c_registry(), 0); }

} // namespace
} // namespace registry_test
