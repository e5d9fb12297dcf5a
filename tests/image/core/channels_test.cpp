// Channel buffers: table length and order, row sizes per element type and
// width, the zeroed block, the colour-index rules, every refusal message,
// counts and sizes that cannot be held, the process-wide last block size
// and every out-of-memory step.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <zep/error.h>
#include <zep/image.h>

#include "error/messages.h"

#if defined(__SANITIZE_ADDRESS__)
#define CHAN_TEST_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CHAN_TEST_LEAK_CHECK 1
#endif
#endif
#ifdef CHAN_TEST_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace {

struct Report {
    std::string format;
    std::string message;
};
std::vector<Report> chan_reports;

int log_handler(const char *name, int, const char *message, ERR_RECORD *, void *)
{
    chan_reports.push_back({name ? name : "", message ? message : ""});
    return 0;
}

bool no_leaks()
{
#ifdef CHAN_TEST_LEAK_CHECK
    return __lsan_do_recoverable_leak_check() == 0;
#else
    return true;
#endif
}

class RecordChannelsTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        err__alloc_fail(0, 0);
        chan_reports.clear();
        ASSERT_EQ(ERR_dcl_handler(nullptr, log_handler, nullptr), 1);
    }
    void TearDown() override
    {
        ERR_can_handler(nullptr);
        err__alloc_fail(0, 0);
    }
    // Expects exactly one report, of table entry m, reading `message`.
    static void expect_one_report(const zep::Message &m, const std::string &message)
    {
        ASSERT_EQ(chan_reports.size(), 1u);
        EXPECT_EQ(chan_reports[0].format, m.text);
        EXPECT_EQ(chan_reports[0].message, message);
    }
};

struct Group {
    int32_t count;
    int32_t type;
    int32_t width;
};

ZEP_IMAGE_DESC describe(Group chan, Group matte, Group aux, Group index)
{
    ZEP_IMAGE_DESC d;
    std::memset(&d, 0, sizeof d);
    d.chan = {nullptr, chan.count, chan.type, chan.width};
    d.matte = {nullptr, matte.count, matte.type, matte.width};
    d.aux = {nullptr, aux.count, aux.type, aux.width};
    d.index = {nullptr, index.count, index.type, index.width};
    return d;
}

constexpr Group kNone8{0, ZEP_C_INTEGER, 8};
constexpr Group kNoIndex{0, ZEP_C_INTEGER, 16};

// ---- Layouts ------------------------------------------------------------------

struct LayoutCase {
    const char *name;
    ZEP_IMAGE_DESC desc;
    int pixels;
    std::vector<int> rows; // bytes of each table entry's row, in table order
    int32_t index_count_after;
};

TEST_F(RecordChannelsTest, LayoutsFollowTheGroupsTypesAndWidths)
{
    const LayoutCase cases[] = {
        {"three 8-bit channels and a matte, 7 pixels",
         describe({3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}, kNone8, kNoIndex),
         7,
         {8, 8, 8, 8},
         0},
        {"12-bit channel: 2 bytes a sample",
         describe({1, ZEP_C_INTEGER, 12}, kNone8, kNone8, kNoIndex),
         7,
         {14},
         0},
        {"16 and 17 bits",
         describe({1, ZEP_C_INTEGER, 16}, {2, ZEP_C_INTEGER, 17}, kNone8, kNoIndex),
         5,
         {10, 20, 20},
         0},
        {"32-bit integers", describe({1, ZEP_C_INTEGER, 32}, kNone8, kNone8, kNoIndex), 3, {12}, 0},
        {"odd byte rows round up",
         describe({2, ZEP_C_INTEGER, 1}, kNone8, kNone8, kNoIndex),
         3,
         {4, 4},
         0},
        {"float image, double auxiliary after the matte",
         describe({2, ZEP_C_FLOAT, 32}, {1, ZEP_C_INTEGER, 8}, {1, ZEP_C_DOUBLE, 64}, kNoIndex),
         3,
         {12, 12, 4, 24},
         0},
        {"colour index only",
         describe(kNone8, kNone8, kNone8, {2, ZEP_C_INTEGER, 16}),
         5,
         {10, 10},
         2},
        {"narrow colour index still 2 bytes",
         describe(kNone8, {1, ZEP_C_INTEGER, 8}, kNone8, {1, ZEP_C_INTEGER, 4}),
         3,
         {4, 6},
         1},
        {"colour index dropped with image channels",
         describe({1, ZEP_C_INTEGER, 8}, kNone8, kNone8, {2, ZEP_C_INTEGER, 16}),
         4,
         {4},
         0},
        {"no channels at all", describe(kNone8, kNone8, kNone8, kNoIndex), 9, {0}, 0},
        {"zero pixels", describe({3, ZEP_C_INTEGER, 8}, kNone8, kNone8, kNoIndex), 0, {0, 0, 0}, 0},
    };
    for (const LayoutCase &c : cases) {
        SCOPED_TRACE(c.name);
        ZEP_IMAGE_DESC desc = c.desc;
        int size = -1;
        void **table = ZEP_chan_alloc(&desc, c.pixels, "tst", &size);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(desc.index.count, c.index_count_after);
        int total = 0;
        for (int r : c.rows)
            total += r;
        EXPECT_EQ(size, total);
        auto *block = static_cast<unsigned char *>(table[0]);
        for (int i = 0; i < total; ++i)
            ASSERT_EQ(block[i], 0) << "byte " << i;
        int offset = 0;
        for (size_t i = 0; i < c.rows.size(); ++i) {
            EXPECT_EQ(static_cast<unsigned char *>(table[i]), block + offset) << "entry " << i;
            // A row shorter than its place would be caught here by the
            // address sanitizer.
            std::memset(table[i], 0xFF, size_t(c.rows[i]));
            offset += c.rows[i];
        }
        EXPECT_EQ(ZEP_chan_free(table), 1);
    }
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordChannelsTest, LastBlockSizeSurvivesAFailureAndNullSizeOnlyAllocates)
{
    ZEP_IMAGE_DESC desc = describe({3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}, kNone8, kNoIndex);
    int size = -1;
    void **first = ZEP_chan_alloc(&desc, 7, "tst", &size);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(size, 32);

    ZEP_IMAGE_DESC bad = describe({1, ZEP_C_INTEGER, 33}, kNone8, kNone8, kNoIndex);
    size = -1;
    EXPECT_EQ(ZEP_chan_alloc(&bad, 7, "tst", &size), nullptr);
    EXPECT_EQ(size, 32);

    ZEP_IMAGE_DESC small = describe({1, ZEP_C_INTEGER, 8}, kNone8, kNone8, kNoIndex);
    void **second = ZEP_chan_alloc(&small, 3, "tst", nullptr);
    ASSERT_NE(second, nullptr);
    void **third = zep__chan_alloc(&small, 5, "tst");
    ASSERT_NE(third, nullptr);
    size = -1;
    EXPECT_EQ(ZEP_chan_alloc(&bad, 3, "tst", &size), nullptr);
    EXPECT_EQ(size, 6); // the internal call counts as the last allocation

    EXPECT_EQ(zep__chan_free(first), 1);
    EXPECT_EQ(ZEP_chan_free(second), 1);
    EXPECT_EQ(zep__chan_free(third), 1);
    EXPECT_EQ(zep__chan_free(nullptr), 1);
    EXPECT_EQ(ZEP_chan_free(nullptr), 1);
    EXPECT_TRUE(no_leaks());
}

// ---- Refusals -------------------------------------------------------------------

struct RefusalCase {
    const char *name;
    ZEP_IMAGE_DESC desc;
    const zep::Message *message;
    const char *text;
};

TEST_F(RecordChannelsTest, EachRefusalReportsItsGroupsMessageWithMinusSixteen)
{
    const Group rgb{3, ZEP_C_INTEGER, 8};
    const RefusalCase cases[] = {
        {"image type 0", describe({3, 0, 8}, kNone8, kNone8, kNoIndex), &zep::kNoImageType,
         "tst cannot handle image channel type"},
        {"image type 4", describe({1, 4, 8}, kNone8, kNone8, kNoIndex), &zep::kNoImageType,
         "tst cannot handle image channel type"},
        {"image width 33", describe({1, ZEP_C_INTEGER, 33}, kNone8, kNone8, kNoIndex),
         &zep::kNoImageWidth, "tst cannot handle image channel width"},
        {"image group without channels still checked",
         describe({0, ZEP_C_INTEGER, 40}, kNone8, kNone8, {1, ZEP_C_INTEGER, 16}),
         &zep::kNoImageWidth, "tst cannot handle image channel width"},
        {"matte count 0 type 0", describe(rgb, {0, 0, 8}, kNone8, kNoIndex), &zep::kNoMatteType,
         "tst cannot handle matte channel type"},
        {"matte width 64", describe(rgb, {1, ZEP_C_INTEGER, 64}, kNone8, kNoIndex),
         &zep::kNoMatteWidth, "tst cannot handle matte channel width"},
        {"auxiliary type 9", describe(rgb, kNone8, {1, 9, 32}, kNoIndex), &zep::kNoAuxType,
         "tst cannot handle auxiliary channel type"},
        {"auxiliary width 33", describe(rgb, kNone8, {1, ZEP_C_INTEGER, 33}, kNoIndex),
         &zep::kNoAuxWidth, "tst cannot handle auxiliary channel width"},
        {"float colour index", describe(kNone8, kNone8, kNone8, {2, ZEP_C_FLOAT, 32}),
         &zep::kNoIndexType, "tst cannot handle color index channel type"},
        {"colour index width 17", describe(kNone8, kNone8, kNone8, {2, ZEP_C_INTEGER, 17}),
         &zep::kNoIndexWidth, "tst cannot handle color index channel width"},
        {"colour index checked beside image channels",
         describe(rgb, kNone8, kNone8, {0, ZEP_C_INTEGER, 17}), &zep::kNoIndexWidth,
         "tst cannot handle color index channel width"},
        {"the first refused group is the one reported",
         describe(rgb, {1, 0, 8}, {1, 0, 8}, {1, ZEP_C_DOUBLE, 64}), &zep::kNoMatteType,
         "tst cannot handle matte channel type"},
    };
    int size = 0;
    ZEP_IMAGE_DESC good = describe(rgb, kNone8, kNone8, kNoIndex);
    void **before = ZEP_chan_alloc(&good, 11, "tst", &size); // 3 rows of 12 bytes
    ASSERT_NE(before, nullptr);
    zep__chan_free(before);
    for (const RefusalCase &c : cases) {
        SCOPED_TRACE(c.name);
        chan_reports.clear();
        zep__err = 0;
        ZEP_IMAGE_DESC desc = c.desc;
        size = -1;
        EXPECT_EQ(ZEP_chan_alloc(&desc, 4, "tst", &size), nullptr);
        EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
        EXPECT_EQ(size, 36);
        expect_one_report(*c.message, c.text);
        EXPECT_EQ(c.message->set, 902);
        EXPECT_EQ(c.message->severity, 3);
    }
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordChannelsTest, NegativeCountsAreRefusedAsRequestsItCannotHandle)
{
    struct Case {
        const char *name;
        ZEP_IMAGE_DESC desc;
        int pixels;
    };
    const Group rgb{3, ZEP_C_INTEGER, 8};
    const Case cases[] = {
        {"negative pixels", describe(rgb, kNone8, kNone8, kNoIndex), -1},
        {"negative image count", describe({-1, ZEP_C_INTEGER, 8}, kNone8, kNone8, kNoIndex), 4},
        {"negative matte count", describe(rgb, {-2, ZEP_C_INTEGER, 8}, kNone8, kNoIndex), 4},
        {"negative auxiliary count", describe(rgb, kNone8, {INT_MIN, ZEP_C_FLOAT, 32}, kNoIndex),
         4},
        {"negative colour-index count without image channels",
         describe(kNone8, kNone8, kNone8, {-1, ZEP_C_INTEGER, 16}), 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        chan_reports.clear();
        zep__err = 0;
        ZEP_IMAGE_DESC desc = c.desc;
        EXPECT_EQ(zep__chan_alloc(&desc, c.pixels, "tst"), nullptr);
        EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
        expect_one_report(zep::kNoAction, "tst cannot handle the requested action");
    }
    // Beside image channels the colour-index count is dropped, not judged.
    ZEP_IMAGE_DESC desc = describe(rgb, kNone8, kNone8, {-5, ZEP_C_INTEGER, 16});
    void **table = zep__chan_alloc(&desc, 4, "tst");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(desc.index.count, 0);
    zep__chan_free(table);
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordChannelsTest, SizesPastThirtyOneBitsFailAsOutOfMemoryWithoutAllocating)
{
    struct Case {
        const char *name;
        ZEP_IMAGE_DESC desc;
        int pixels;
    };
    const Case cases[] = {
        {"one row of 2^31 bytes", describe({1, ZEP_C_INTEGER, 8}, kNone8, kNone8, kNoIndex),
         INT_MAX},
        {"rows that wrap 32 bits",
         describe({4, ZEP_C_DOUBLE, 64}, {4, ZEP_C_DOUBLE, 64}, {4, ZEP_C_DOUBLE, 64}, kNoIndex),
         INT_MAX},
        {"a block of many channels",
         describe({1 << 20, ZEP_C_INTEGER, 8}, kNone8, kNone8, kNoIndex), 1 << 12},
        {"a table too long", describe({1 << 28, ZEP_C_INTEGER, 8}, kNone8, kNone8, kNoIndex), 0},
        // 8 x 1518494220 x 1518506280 is 2^64 + 61184.
        {"a block whose size would wrap 64 bits",
         describe({1518506280, ZEP_C_DOUBLE, 64}, kNone8, kNone8, kNoIndex), 1518494220},
        {"channel counts whose sum wraps",
         describe({INT_MAX, ZEP_C_INTEGER, 8}, {INT_MAX, ZEP_C_INTEGER, 8},
                  {INT_MAX, ZEP_C_INTEGER, 8}, kNoIndex),
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        chan_reports.clear();
        zep__err = 0;
        err__alloc_fail(1, 1); // any allocation would fail and be counted
        ZEP_IMAGE_DESC desc = c.desc;
        EXPECT_EQ(zep__chan_alloc(&desc, c.pixels, "tst"), nullptr);
        EXPECT_EQ(err__alloc_fail(0, 0), 0);
        EXPECT_EQ(zep__err, ZEP_E_NOMEM);
        expect_one_report(zep::kNoMemory, "No more internal memory");
    }
}

// ---- Out of memory ----------------------------------------------------------------

TEST_F(RecordChannelsTest, OutOfMemoryAtEachStepFailsWithMinusTenAndLeaksNothing)
{
    ZEP_IMAGE_DESC small = describe({1, ZEP_C_INTEGER, 8}, kNone8, kNone8, kNoIndex);
    void **first = ZEP_chan_alloc(&small, 4, "tst", nullptr);
    ASSERT_NE(first, nullptr);
    zep__chan_free(first);

    ZEP_IMAGE_DESC desc = describe({3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}, kNone8, kNoIndex);
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        chan_reports.clear();
        zep__err = 0;
        int size = -1;
        err__alloc_fail(n, 0);
        void **table = ZEP_chan_alloc(&desc, 7, "tst", &size);
        const int injected = err__alloc_fail(0, 0);
        if (injected == 0) {
            ASSERT_NE(table, nullptr);
            EXPECT_EQ(n, 3); // the table, then the block
            EXPECT_EQ(size, 32);
            zep__chan_free(table);
            break;
        }
        EXPECT_EQ(table, nullptr);
        EXPECT_EQ(zep__err, ZEP_E_NOMEM);
        EXPECT_EQ(size, 4); // still the previous allocation's
        expect_one_report(zep::kNoMemory, "No more internal memory");
        EXPECT_TRUE(no_leaks());
    }
    EXPECT_TRUE(no_leaks());
}

} // namespace
