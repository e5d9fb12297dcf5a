// Colour look-up tables: allocation, copy, resize (growing zeroes the new
// entries, last stays), release, refusal of negative counts, reading through
// a handle's lut_read routine, and every out-of-memory step.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <zep/error.h>
#include <zep/image.h>

#include "error/messages.h"

#if defined(__SANITIZE_ADDRESS__)
#define LUT_TEST_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUT_TEST_LEAK_CHECK 1
#endif
#endif
#ifdef LUT_TEST_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace {

std::vector<std::string> report_formats;
std::vector<std::string> report_messages;

int log_handler(const char *name, int, const char *message, ERR_RECORD *, void *)
{
    report_formats.push_back(name ? name : "");
    report_messages.push_back(message ? message : "");
    return 0;
}

bool no_leaks()
{
#ifdef LUT_TEST_LEAK_CHECK
    return __lsan_do_recoverable_leak_check() == 0;
#else
    return true;
#endif
}

class RecordLutTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        err__alloc_fail(0, 0);
        report_formats.clear();
        report_messages.clear();
        ASSERT_EQ(ERR_dcl_handler(nullptr, log_handler, nullptr), 1);
    }
    void TearDown() override
    {
        ERR_can_handler(nullptr);
        err__alloc_fail(0, 0);
    }
};

// The 8-byte entries of a table, as 64-bit words.
uint64_t *words(ZEP_LUT *lut) { return static_cast<uint64_t *>(lut->entries); }

TEST_F(RecordLutTest, AllocGivesZeroedEntriesLastAndUnitScale)
{
    for (int n : {0, 1, 4, 256}) {
        SCOPED_TRACE(n);
        ZEP_LUT *lut = ZEP_lut_alloc(n);
        ASSERT_NE(lut, nullptr);
        EXPECT_EQ(lut->count, n);
        EXPECT_EQ(lut->last, n - 1);
        EXPECT_FLOAT_EQ(lut->scale, 1.0f);
        ASSERT_NE(lut->entries, nullptr);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(words(lut)[i], 0u) << i;
        EXPECT_EQ(ZEP_lut_free(lut), nullptr);
    }
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordLutTest, NegativeCountsAreRefusedWithoutAllocating)
{
    zep__err = 0;
    EXPECT_EQ(ZEP_lut_alloc(-1), nullptr);
    EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
    ASSERT_EQ(report_formats.size(), 1u);
    EXPECT_EQ(report_formats[0], zep::kNoAction.text);
    EXPECT_EQ(report_messages[0], "ZEP_lut_alloc cannot handle the requested action");

    // A resize to a negative count fails, and failing releases the table.
    ZEP_LUT *lut = ZEP_lut_alloc(4);
    ASSERT_NE(lut, nullptr);
    zep__err = 0;
    EXPECT_EQ(ZEP_lut_realloc(lut, -2), nullptr);
    EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordLutTest, CopyDuplicatesEntriesLastAndScale)
{
    ZEP_LUT *lut = ZEP_lut_alloc(5);
    ASSERT_NE(lut, nullptr);
    for (int i = 0; i < 5; ++i)
        words(lut)[i] = 0x0102030405060708ull * uint64_t(i + 1);
    lut->last = 2;
    lut->scale = 0.5f;
    ZEP_LUT *copy = ZEP_lut_copy(lut);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->entries, lut->entries);
    EXPECT_EQ(copy->count, 5);
    EXPECT_EQ(copy->last, 2);
    EXPECT_FLOAT_EQ(copy->scale, 0.5f);
    EXPECT_EQ(std::memcmp(copy->entries, lut->entries, 5 * 8), 0);
    ZEP_lut_free(lut);
    ZEP_lut_free(copy);
    EXPECT_EQ(ZEP_lut_copy(nullptr), nullptr);
    EXPECT_EQ(ZEP_lut_free(nullptr), nullptr);
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordLutTest, ReallocKeepsOldEntriesZeroesNewOnesAndLeavesLast)
{
    struct Case {
        int from;
        int to;
    };
    for (const Case c : {Case{4, 6}, Case{6, 2}, Case{0, 3}, Case{3, 0}, Case{5, 5}}) {
        SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to));
        ZEP_LUT *lut = ZEP_lut_alloc(c.from);
        ASSERT_NE(lut, nullptr);
        for (int i = 0; i < c.from; ++i)
            words(lut)[i] = 0xABCDEF0000000000ull + uint64_t(i);
        lut->scale = 3.0f;
        ZEP_LUT *same = ZEP_lut_realloc(lut, c.to);
        ASSERT_EQ(same, lut);
        EXPECT_EQ(lut->count, c.to);
        EXPECT_EQ(lut->last, c.from - 1);
        EXPECT_FLOAT_EQ(lut->scale, 3.0f);
        for (int i = 0; i < c.to; ++i)
            EXPECT_EQ(words(lut)[i], i < c.from ? 0xABCDEF0000000000ull + uint64_t(i) : 0u) << i;
        ZEP_lut_free(lut);
    }
    // A null table is allocated afresh.
    ZEP_LUT *fresh = ZEP_lut_realloc(nullptr, 2);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->count, 2);
    EXPECT_EQ(fresh->last, 1);
    ZEP_lut_free(fresh);
    EXPECT_TRUE(no_leaks());
}

// Each call runs with its n-th allocation failing, n = 1, 2, ... until it
// succeeds.
TEST_F(RecordLutTest, OutOfMemoryFailsWithMinusTenAndLeaksNothing)
{
    struct Case {
        const char *name;
        int steps; // allocations the call makes
        ZEP_LUT *(*run)(ZEP_LUT *source);
    };
    const Case cases[] = {
        {"alloc", 2, [](ZEP_LUT *) { return ZEP_lut_alloc(8); }},
        {"copy", 2, [](ZEP_LUT *source) { return ZEP_lut_copy(source); }},
    };
    ZEP_LUT *source = ZEP_lut_alloc(3);
    ASSERT_NE(source, nullptr);
    for (const Case &c : cases) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(std::string(c.name) + " step " + std::to_string(n));
            report_formats.clear();
            zep__err = 0;
            err__alloc_fail(n, 0);
            ZEP_LUT *lut = c.run(source);
            const int injected = err__alloc_fail(0, 0);
            if (injected == 0) {
                ASSERT_NE(lut, nullptr);
                EXPECT_EQ(n, c.steps + 1);
                ZEP_lut_free(lut);
                break;
            }
            EXPECT_EQ(lut, nullptr);
            EXPECT_EQ(zep__err, ZEP_E_NOMEM);
            ASSERT_EQ(report_formats.size(), 1u);
            EXPECT_EQ(report_formats[0], zep::kNoMemory.text);
            EXPECT_TRUE(no_leaks());
        }
    }
    ZEP_lut_free(source);

    // A failed resize releases the table, so each step resizes a new one.
    for (int n = 1;; ++n) {
        SCOPED_TRACE("realloc step " + std::to_string(n));
        ZEP_LUT *lut = ZEP_lut_alloc(4);
        ASSERT_NE(lut, nullptr);
        report_formats.clear();
        zep__err = 0;
        err__alloc_fail(n, 0);
        ZEP_LUT *grown = ZEP_lut_realloc(lut, 6);
        const int injected = err__alloc_fail(0, 0);
        if (injected == 0) {
            ASSERT_EQ(grown, lut);
            EXPECT_EQ(n, 2);
            ZEP_lut_free(grown);
            break;
        }
        EXPECT_EQ(grown, nullptr); // and lut is gone
        EXPECT_EQ(zep__err, ZEP_E_NOMEM);
        EXPECT_EQ(report_formats.size(), 1u);
        EXPECT_TRUE(no_leaks());
    }
    // The allocator still works.
    ZEP_LUT *after = ZEP_lut_alloc(1);
    ASSERT_NE(after, nullptr);
    ZEP_lut_free(after);
    EXPECT_TRUE(no_leaks());
}

// ---- Reading through a handle -------------------------------------------------

void *seen_private;
ZEP_LUT *given_lut;
int lut_result;

int lut_routine(void *priv, ZEP_LUT **out)
{
    seen_private = priv;
    *out = given_lut;
    return lut_result;
}

TEST_F(RecordLutTest, ReadWithoutARoutineIsTrueWithANullTable)
{
    ZEP_OBJECT handle;
    std::memset(&handle, 0, sizeof handle);
    ZEP_LUT *out = reinterpret_cast<ZEP_LUT *>(uintptr_t{0x10});
    EXPECT_EQ(ZEP_lut_read(&handle, &out), 1);
    EXPECT_EQ(out, nullptr);
    // Without a handle or an out address there is nothing to read.
    out = reinterpret_cast<ZEP_LUT *>(uintptr_t{0x10});
    EXPECT_EQ(ZEP_lut_read(nullptr, &out), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ZEP_lut_read(&handle, nullptr), 0);
}

TEST_F(RecordLutTest, ReadCallsTheRoutineWithEntryZeroAndReportsItsResult)
{
    int entry0 = 0;
    void *priv[] = {&entry0, nullptr};
    ZEP_OBJECT handle;
    std::memset(&handle, 0, sizeof handle);
    handle.priv = priv;
    handle.lut_read = lut_routine;
    ZEP_LUT table{};

    struct Case {
        int result;
        ZEP_LUT *gives;
        int expected;
    };
    for (const Case c :
         {Case{1, &table, 1}, Case{7, &table, 1}, Case{0, nullptr, 0}, Case{-1, nullptr, 1}}) {
        SCOPED_TRACE(c.result);
        seen_private = nullptr;
        given_lut = c.gives;
        lut_result = c.result;
        ZEP_LUT *out = reinterpret_cast<ZEP_LUT *>(uintptr_t{0x10});
        EXPECT_EQ(ZEP_lut_read(&handle, &out), c.expected);
        EXPECT_EQ(out, c.gives);
        EXPECT_EQ(seen_private, &entry0);
    }
}

} // namespace
