// The node pool: recycling order, allocation when empty, and the reported
// failure when no node can be had.
#include <gtest/gtest.h>

#include <zep/error.h>

#include "base/pool.h"

namespace {

struct Node {
    DST_LINK link;
    int payload[4];
};

TEST(Pool, NodeGivenBackIsTheNextTaken)
{
    DST_POOL pool{};
    void *a = dst__pool_take(&pool, sizeof(Node));
    void *b = dst__pool_take(&pool, sizeof(Node));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    dst__pool_give(a, &pool);
    dst__pool_give(b, &pool);
    EXPECT_EQ(dst__pool_take(&pool, sizeof(Node)), b);
    EXPECT_EQ(dst__pool_take(&pool, sizeof(Node)), a);
    EXPECT_EQ(pool.free, nullptr);
    dst__pool_give(a, &pool);
    dst__pool_give(b, &pool);
    dst__pool_give(nullptr, &pool);
    EXPECT_EQ(pool.free, static_cast<DST_LINK *>(b));
    dst__pool_release(&pool);
    EXPECT_EQ(pool.free, nullptr);
}

TEST(Pool, TakeReportsAndReturnsNullWhenMemoryRunsOut)
{
    DST_POOL pool{};
    int before = ERR_stats(ERR_ERROR);
    ERR_mask(nullptr);
    err__alloc_fail(1, 0);
    EXPECT_EQ(dst__pool_take(&pool, sizeof(Node)), nullptr);
    ERR_unmask(nullptr);
    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    // Masked globally, so nothing was counted; unmasked the report counts.
    EXPECT_EQ(ERR_stats(ERR_ERROR), before);

    auto quiet = [](const char *, int, const char *, ERR_RECORD *, void *) { return 0; };
    ASSERT_EQ(ERR_dcl_handler(nullptr, quiet, nullptr), 1);
    err__alloc_fail(1, 0);
    EXPECT_EQ(dst__pool_take(&pool, sizeof(Node)), nullptr);
    err__alloc_fail(0, 0);
    EXPECT_EQ(ERR_stats(ERR_ERROR), before + 1);
    EXPECT_STREQ(ERR_last(0)->format, "No more internal memory");
    ERR_can_handler(nullptr);
}

} // namespace
