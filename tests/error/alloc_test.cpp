// The allocators, the fault-injection hook and the out-of-memory paths:
// failing allocations report once and return null, and a handler that
// cannot get a node is not declared.
#include <cstring>
#include <string>

#include "error/support.h"

using namespace zep_test;

namespace {

using Alloc = ErrorLayer;

TEST_F(Alloc, ZeroSizesGiveDistinctBlocks)
{
    void *a = ERR_malloc(0);
    void *b = ERR_malloc(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    void *c = ERR_realloc(nullptr, 4);
    ASSERT_NE(c, nullptr);
    std::memcpy(c, "abc", 4);
    c = ERR_realloc(c, 0);
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(ERR_free(a), 1);
    EXPECT_EQ(ERR_free(b), 1);
    EXPECT_EQ(ERR_free(c), 1);
    EXPECT_EQ(ERR_free(nullptr), 1);
}

TEST_F(Alloc, HookFailsTheNthAllocationOnceOrFromThenOn)
{
    struct Case {
        int n;
        int persistent;
        const char *pattern; // '+' succeeds, '-' fails, for five allocations
        int failures;
    };
    const Case cases[] = {
        {1, 0, "-++++", 1}, {3, 0, "++-++", 1},  {2, 1, "+----", 4},
        {0, 0, "+++++", 0}, {-4, 1, "+++++", 0},
    };
    Tag catcher{"catcher", 0};
    Declared d(nullptr, log_handler, &catcher);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pattern);
        err__alloc_fail(c.n, c.persistent);
        std::string seen;
        for (int i = 0; i < 5; ++i) {
            void *p = i % 2 ? ERR_realloc(nullptr, 8) : ERR_malloc(8);
            seen += p ? '+' : '-';
            ERR_free(p);
        }
        EXPECT_EQ(seen, c.pattern);
        EXPECT_EQ(err__alloc_fail(0, 0), c.failures);
        EXPECT_EQ(err__alloc_fail(0, 0), 0);
    }
}

TEST_F(Alloc, FailureReportsNoMemoryAndKeepsTheOldBlock)
{
    Tag catcher{"catcher", 0};
    Declared d(nullptr, log_handler, &catcher);
    int errors = ERR_stats(ERR_ERROR);

    err__alloc_fail(1, 0);
    EXPECT_EQ(ERR_malloc(32), nullptr);

    char *block = static_cast<char *>(ERR_malloc(6));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "frame", 6);
    EXPECT_EQ(err__alloc_fail(1, 0), 1); // the count restarts at each call
    EXPECT_EQ(ERR_realloc(block, 1 << 20), nullptr);
    EXPECT_STREQ(block, "frame");
    ERR_free(block);

    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    EXPECT_EQ(ERR_stats(ERR_ERROR), errors + 2);
    ASSERT_EQ(calls.size(), 2u);
    for (const Call &c : calls) {
        EXPECT_EQ(c.message, "No more internal memory");
        EXPECT_EQ(c.severity, ERR_ERROR);
    }
}

// A handler that allocates while memory is exhausted.
int allocating_handler(const char *, int, const char *message, ERR_RECORD *record, void *)
{
    calls.push_back({"allocating", "", 0, message, record});
    EXPECT_EQ(ERR_malloc(16), nullptr);
    return 0;
}

TEST_F(Alloc, HandlerAllocatingDuringTheReportIsNotReportedAgain)
{
    Declared d(nullptr, allocating_handler, nullptr);
    err__alloc_fail(1, 1);
    EXPECT_EQ(ERR_malloc(8), nullptr);
    EXPECT_EQ(err__alloc_fail(0, 0), 2);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Alloc, HandlerWithoutANodeIsNotDeclared)
{
    Tag catcher{"catcher", 0};
    Declared d(nullptr, log_handler, &catcher);
    static ERR_RECORD rec = make_record(ERR_ERROR, "R", "reported");
    static Tag declared_tags[64];

    // Fail the first allocation from now: free nodes are taken first, so the
    // call fails only once the free list is empty.
    int declared = 0;
    bool failed = false;
    while (declared < 64 && !failed) {
        err__alloc_fail(1, 0);
        declared_tags[declared] = {"declared", 1};
        if (ERR_dcl_handler(&rec, log_handler, &declared_tags[declared]) == 1)
            ++declared;
        else
            failed = true;
    }
    ASSERT_TRUE(failed);
    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].message, "No more internal memory");

    // The report reaches every declared handler and nothing else.
    calls.clear();
    ERR_report(&rec);
    EXPECT_EQ(calls.size(), static_cast<size_t>(declared) + 1);
    for (const Call &c : calls)
        EXPECT_EQ(c.message, "reported");
    EXPECT_EQ(calls.back().tag, "catcher");

    // With memory back the declaration succeeds.
    ASSERT_EQ(ERR_dcl_handler(&rec, log_handler, &declared_tags[declared]), 1);
    for (int i = 0; i <= declared; ++i)
        EXPECT_EQ(ERR_can_handler(&rec), log_handler);
    EXPECT_EQ(ERR_can_handler(&rec), nullptr);
}

} // namespace
