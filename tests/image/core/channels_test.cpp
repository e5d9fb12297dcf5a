// Channel buffers: table length and order, row sizes per type and width, the
// zeroed block, the colour-index rules, every refusal, sizes that cannot be
// held, the process-wide last block size and the out-of-memory steps.
#include <climits>
#include <cstring>

#include "image/core/image_support.h"

namespace {

using namespace zt;

constexpr Group k16{0, ZEP_C_INTEGER, 16};

ZEP_IMAGE_DESC groups(Group chan, Group matte = kNone8, Group aux = kNone8, Group index = k16)
{
    ZEP_IMAGE_DESC d = describe({}, chan, matte, aux);
    d.index = {nullptr, index.count, index.type, index.width};
    return d;
}

class ChannelsTest : public LibTest {};

// Image, matte and auxiliary rows are rounded up to 8 bytes, so every row
// starts aligned for its samples; colour-index rows are pixels x 2 bytes.
TEST_F(ChannelsTest, LayoutsFollowTheGroupsTypesAndWidths)
{
    const struct {
        const char *what;
        ZEP_IMAGE_DESC desc;
        int pixels;
        std::vector<int> rows; // bytes of each entry's row, in table order
        int32_t index_after;
    } cases[] = {
        {"rgb and matte, 7 pixels", groups(kRgb8, {1, 1, 8}), 7, {8, 8, 8, 8}, 0},
        {"12 bits: 2 bytes", groups({1, 1, 12}), 7, {16}, 0},
        {"16 and 17 bits", groups({1, 1, 16}, {2, 1, 17}), 5, {16, 24, 24}, 0},
        {"32 bits", groups({1, 1, 32}), 3, {16}, 0},
        {"1 bit, rows of 8 bytes", groups({2, 1, 1}), 3, {8, 8}, 0},
        {"float, matte, double", groups({2, 2, 32}, {1, 1, 8}, {1, 3, 64}), 3, {16, 16, 8, 24}, 0},
        {"colour index only", groups(kNone8, kNone8, kNone8, {2, 1, 16}), 5, {10, 10}, 2},
        {"narrow index: 2 bytes", groups(kNone8, {1, 1, 8}, kNone8, {1, 1, 4}), 3, {8, 6}, 1},
        {"index dropped beside image", groups({1, 1, 8}, kNone8, kNone8, {2, 1, 16}), 4, {8}, 0},
        {"index count dropped unjudged", groups({1, 1, 8}, kNone8, kNone8, {-5, 1, 16}), 4, {8}, 0},
        {"no channels", groups(kNone8), 9, {0}, 0},
        {"zero pixels", groups(kRgb8), 0, {0, 0, 0}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ZEP_IMAGE_DESC desc = c.desc;
        int size = -1;
        void **table = ZEP_chan_alloc(&desc, c.pixels, "tst", &size);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(desc.index.count, c.index_after);
        auto *block = static_cast<unsigned char *>(table[0]);
        int offset = 0;
        for (size_t i = 0; i < c.rows.size(); ++i) {
            EXPECT_EQ(static_cast<unsigned char *>(table[i]), block + offset) << i;
            for (int b = 0; b < c.rows[i]; ++b)
                ASSERT_EQ(block[offset + b], 0);
            std::memset(table[i], 0xFF, size_t(c.rows[i])); // the sanitizer checks the size
            offset += c.rows[i];
        }
        EXPECT_EQ(size, offset);
        EXPECT_EQ(ZEP_chan_free(table), 1);
    }
    EXPECT_EQ(zep__chan_free(nullptr), 1);
    EXPECT_EQ(ZEP_chan_free(nullptr), 1);
    EXPECT_TRUE(no_leaks());
}

// Nothing is allocated, and the last block size stays that of the last
// success (the internal call counts too).
TEST_F(ChannelsTest, RefusalsReportTheGroupsMessageAndAllocateNothing)
{
    const Group rgb = kRgb8;
    const struct {
        ZEP_IMAGE_DESC desc;
        int pixels;
        const zep::Message &message; // -10 for kNoMemory, else -16
    } cases[] = {
        {groups({3, 0, 8}), 4, zep::kNoImageType},
        {groups({1, 4, 8}), 4, zep::kNoImageType},
        {groups({1, 1, 33}), 4, zep::kNoImageWidth},
        {groups({0, 1, 40}, kNone8, kNone8, {1, 1, 16}), 4, zep::kNoImageWidth},
        {groups(rgb, {0, 0, 8}), 4, zep::kNoMatteType},
        {groups(rgb, {1, 1, 64}), 4, zep::kNoMatteWidth},
        {groups(rgb, kNone8, {1, 9, 32}), 4, zep::kNoAuxType},
        {groups(rgb, kNone8, {1, 1, 33}), 4, zep::kNoAuxWidth},
        {groups(kNone8, kNone8, kNone8, {2, 2, 32}), 4, zep::kNoIndexType},
        {groups(kNone8, kNone8, kNone8, {2, 1, 17}), 4, zep::kNoIndexWidth},
        {groups(rgb, kNone8, kNone8, {0, 1, 17}), 4, zep::kNoIndexWidth},
        {groups(rgb, {1, 0, 8}, {1, 0, 8}, {1, 3, 64}), 4, zep::kNoMatteType},
        {groups(rgb), -1, zep::kNoAction},
        {groups({-1, 1, 8}), 4, zep::kNoAction},
        {groups(rgb, {-2, 1, 8}), 4, zep::kNoAction},
        {groups(rgb, kNone8, {INT_MIN, 2, 32}), 4, zep::kNoAction},
        {groups(kNone8, kNone8, kNone8, {-1, 1, 16}), 4, zep::kNoAction},
        // Sizes past 31 bits, or whose products or sums wrap, are memory
        // that cannot be had.
        {groups({1, 1, 8}), INT_MAX, zep::kNoMemory},
        {groups({4, 3, 64}, {4, 3, 64}, {4, 3, 64}), INT_MAX, zep::kNoMemory},
        {groups({1 << 20, 1, 8}), 1 << 12, zep::kNoMemory},
        {groups({1 << 28, 1, 8}), 0, zep::kNoMemory},
        // 8 x 1518494220 x 1518506280 is 2^64 + 61184.
        {groups({1518506280, 3, 64}), 1518494220, zep::kNoMemory},
        {groups({INT_MAX, 1, 8}, {INT_MAX, 1, 8}, {INT_MAX, 1, 8}), 0, zep::kNoMemory},
    };
    ZEP_IMAGE_DESC good = groups(rgb);
    zep__chan_free(zep__chan_alloc(&good, 11, "tst")); // 3 rows of 16 bytes
    for (const auto &c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        reports.clear();
        zep__err = 0;
        ZEP_IMAGE_DESC desc = c.desc;
        int size = -1;
        err__alloc_fail(1, 1);
        EXPECT_EQ(ZEP_chan_alloc(&desc, c.pixels, "tst", &size), nullptr);
        EXPECT_EQ(err__alloc_fail(0, 0), 0);
        EXPECT_EQ(zep__err, &c.message == &zep::kNoMemory ? ZEP_E_NOMEM : ZEP_E_UNSUPPORTED);
        EXPECT_EQ(size, 48);
        EXPECT_EQ(messages_of(c.message), std::vector<std::string>{text_of(c.message, "tst")});
        EXPECT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].severity, ERR_ERROR);
    }
}

TEST_F(ChannelsTest, OutOfMemoryFailsWithMinusTenAndKeepsTheLastSize)
{
    ZEP_IMAGE_DESC small = groups({1, 1, 8}), desc = groups(kRgb8, {1, 1, 8});
    ZEP_chan_free(ZEP_chan_alloc(&small, 4, "tst", nullptr)); // null size: only allocates
    int size = -1;
    EXPECT_EQ(fail_each_allocation([&] { return ZEP_chan_alloc(&desc, 7, "tst", &size); },
                                   [&](void **table, bool failed) {
                                       expect_nomem(!table, failed);
                                       EXPECT_EQ(size, failed ? 8 : 32);
                                       ZEP_chan_free(table);
                                   }),
              2);
}

} // namespace
