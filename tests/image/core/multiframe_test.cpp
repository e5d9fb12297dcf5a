// The multi-frame open-file cache: which closed files stay open, reuse of a
// cached handle, use counts, files changed on disk, the limit from the
// environment, settings that tell opens apart, resets of the cache and its
// out-of-memory path. Real opens and closes are counted by the modules.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <zep/zep.h>

#include "mf_support.h"

namespace {

using namespace mf_test;

// Waits long enough for the file system clock to move on, so that the next
// change of a file gives it a different change time.
void let_clock_tick() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

// The first bytes of line 0 of the current frame.
int first_byte(ZEP_OBJECT *h)
{
    void **line = nullptr;
    if (ZEP_scan_read(h, 0, &line) != 0) return -1;
    return static_cast<const uint8_t *>(line[0])[0];
}

TEST_F(MultiFrameTest, DefaultLimitKeepsAtMostFourteenClosedFiles)
{
    start();
    EXPECT_EQ(ZEP_multiframe_used(), 1);
    for (int i = 0; i < 20; ++i)
        make_mfr(path("f" + std::to_string(i) + ".mfr"), 2, 4, 3, i);
    for (int i = 0; i < 20; ++i) {
        ZEP_OBJECT *h = open_r(path("f" + std::to_string(i) + ".mfr"));
        ASSERT_NE(h, nullptr) << i;
        EXPECT_EQ(ZEP_close(h), 0);
    }
    EXPECT_EQ(opens(), 20);
    EXPECT_EQ(still_open(), 14);

    // The most recent file comes from the cache, the oldest was closed.
    ZEP_OBJECT *h = open_r(path("f19.mfr"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(opens(), 20);
    EXPECT_EQ(first_byte(h), mfr_byte(19, 0, 0, 0));
    EXPECT_EQ(ZEP_close(h), 0);
    h = open_r(path("f0.mfr"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(opens(), 21);
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_LE(still_open(), 14);
}

// Limit 3: releases evict from the front of the least-recently-used order
// while three entries are cached, and a reuse moves an entry to the back.
TEST_F(MultiFrameTest, EnvironmentLimitAndLeastRecentlyUsedOrder)
{
    setenv("KV_ZEP_MULTIFRAME_OPEN", "3", 1);
    start();
    for (const char *n : {"a", "b", "c", "d"})
        make_mfr(path(std::string(n) + ".mfr"), 1, 2, 2, 1);
    auto cycle = [&](const char *n) {
        ZEP_OBJECT *h = open_r(path(std::string(n) + ".mfr"));
        EXPECT_NE(h, nullptr) << n;
        if (h) {
            EXPECT_EQ(ZEP_close(h), 0);
        }
    };
    cycle("a");
    cycle("b");
    cycle("c"); // three cached: a goes
    EXPECT_EQ(opens(), 3);
    EXPECT_EQ(still_open(), 2); // b, c
    cycle("b");                 // reused: c, b
    EXPECT_EQ(opens(), 3);
    cycle("d"); // c, b, d: c goes
    EXPECT_EQ(opens(), 4);
    EXPECT_EQ(still_open(), 2);
    cycle("b");
    EXPECT_EQ(opens(), 4);
    cycle("c");
    EXPECT_EQ(opens(), 5);
    cycle("a");
    EXPECT_EQ(opens(), 6);
}

TEST_F(MultiFrameTest, SameFileOpenedTwiceSharesOneHandle)
{
    start();
    make_mfr(path("m.mfr"), 3, 4, 2, 7);
    ZEP_OBJECT *a = open_r(path("m.mfr"));
    ZEP_OBJECT *b = open_r(path("m.mfr"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(b, a);
    EXPECT_EQ(opens(), 1);
    EXPECT_EQ(ZEP_close(a), 0);
    EXPECT_EQ(ZEP_close(b), 0);
    EXPECT_EQ(closes(), 0);
    // Released, still open, and handed out again.
    ZEP_OBJECT *c = open_r(path("m.mfr"));
    EXPECT_EQ(c, a);
    EXPECT_EQ(opens(), 1);
    EXPECT_EQ(first_byte(c), mfr_byte(7, 0, 0, 0));
    EXPECT_EQ(ZEP_close(c), 0);
}

// With limit 0 every release that leaves nobody holding the file closes it;
// the use count is what keeps a file opened twice alive after one close.
TEST_F(MultiFrameTest, LimitZeroClosesOnEveryRelease)
{
    setenv("KV_ZEP_MULTIFRAME_OPEN", "0", 1);
    start();
    make_mfr(path("z.mfr"), 2, 4, 2, 3);
    ZEP_OBJECT *h = open_r(path("z.mfr"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_EQ(closes(), 1);

    ZEP_OBJECT *a = open_r(path("z.mfr"));
    ZEP_OBJECT *b = open_r(path("z.mfr"));
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(b, a);
    EXPECT_EQ(opens(), 2);
    EXPECT_EQ(ZEP_close(a), 0);
    EXPECT_EQ(closes(), 1);
    EXPECT_EQ(first_byte(b), mfr_byte(3, 0, 0, 0));
    EXPECT_EQ(ZEP_close(b), 0);
    EXPECT_EQ(closes(), 2);
}

TEST_F(MultiFrameTest, AReplacedFileIsReadAnew)
{
    start();
    const std::string f = path("r.mfr");
    make_mfr(f, 2, 4, 2, 1);
    ZEP_OBJECT *h = open_r(f);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->info.num_frames, 2);
    EXPECT_EQ(ZEP_close(h), 0);

    let_clock_tick();
    make_mfr(f, 5, 4, 2, 9);
    h = open_r(f);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(opens(), 2);
    EXPECT_EQ(closes(), 1); // the stale handle was closed
    EXPECT_EQ(h->info.num_frames, 5);
    EXPECT_EQ(first_byte(h), mfr_byte(9, 0, 0, 0));
    EXPECT_EQ(ZEP_close(h), 0);

    // Any change of the file's status counts, such as its mode.
    let_clock_tick();
    ASSERT_EQ(chmod(f.c_str(), 0640), 0);
    h = open_r(f);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(opens(), 3);
    EXPECT_EQ(ZEP_close(h), 0);

    // Unchanged: reused.
    h = open_r(f);
    EXPECT_EQ(opens(), 3);
    EXPECT_EQ(ZEP_close(h), 0);
}

// A file changed while a holder still uses its handle keeps being shared.
TEST_F(MultiFrameTest, AChangedFileStillHeldIsShared)
{
    start();
    const std::string f = path("held.mfr");
    make_mfr(f, 1, 2, 2, 1);
    ZEP_OBJECT *a = open_r(f);
    ASSERT_NE(a, nullptr);
    let_clock_tick();
    make_mfr(f, 1, 2, 2, 2);
    ZEP_OBJECT *b = open_r(f);
    EXPECT_EQ(b, a);
    EXPECT_EQ(opens(), 1);
    EXPECT_EQ(ZEP_close(a), 0);
    EXPECT_EQ(ZEP_close(b), 0);
}

TEST_F(MultiFrameTest, AVanishedFileIsEvictedAndReported)
{
    start();
    const std::string f = path("gone.mfr");
    make_mfr(f, 1, 2, 2, 1);
    ZEP_OBJECT *h = open_r(f);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ZEP_close(h), 0);
    ASSERT_EQ(std::remove(f.c_str()), 0);
    reports.clear();
    EXPECT_EQ(open_r(f), nullptr);
    EXPECT_EQ(closes(), 1);
    bool named = false;
    for (const Report &r : reports)
        if (r.message.rfind(f + ": ", 0) == 0) named = true;
    EXPECT_TRUE(named);
}

TEST_F(MultiFrameTest, SingleFrameFormatsAreNeverCached)
{
    start();
    make_tst(path("s.tst"), 4, 2);
    const int closes_before = tst_->closes;
    ZEP_OBJECT *h = open_r(path("s.tst"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_EQ(tst_->closes, closes_before + 1);
    const int opens_before = tst_->read_opens;
    h = open_r(path("s.tst"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(tst_->read_opens, opens_before + 1);
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(MultiFrameTest, CapabilitySettingsTellOpensApart)
{
    start();
    const std::string f = path("s.mfr");
    make_mfr(f, 1, 2, 2, 1);
    ZEP_CAP_SETTING one{0, {}}, two{0, {}}, one_again{0, {}};
    one.value.i = 1;
    two.value.i = 2;
    one_again.value.i = 1;
    ZEP_CAP_SETTING *l1[] = {&one, nullptr};
    ZEP_CAP_SETTING *l2[] = {&two, nullptr};
    ZEP_CAP_SETTING *l1b[] = {&one_again, nullptr};

    ZEP_OBJECT *a = open_r(f, l1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(ZEP_close(a), 0);
    ZEP_OBJECT *b = open_r(f, l2);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(b, a);
    EXPECT_EQ(opens(), 2);
    EXPECT_EQ(ZEP_close(b), 0);
    // The cache keeps its own copy of the settings: equal values match.
    ZEP_OBJECT *c = open_r(f, l1b);
    EXPECT_EQ(c, a);
    EXPECT_EQ(opens(), 2);
    EXPECT_EQ(ZEP_close(c), 0);
    ZEP_OBJECT *d = open_r(f);
    EXPECT_EQ(opens(), 3);
    EXPECT_EQ(ZEP_close(d), 0);
}

TEST_F(MultiFrameTest, ADisabledCacheClosesAtOnce)
{
    start();
    make_mfr(path("d.mfr"), 1, 2, 2, 1);
    ZEP_multiframe_set(0, 15);
    EXPECT_EQ(ZEP_multiframe_used(), 0);
    ZEP_OBJECT *h = open_r(path("d.mfr"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_EQ(closes(), 1);
    ZEP_multiframe_set(1, 15);
    EXPECT_EQ(ZEP_multiframe_used(), 1);
    h = open_r(path("d.mfr"));
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_EQ(closes(), 1);
}

// Resetting the cache closes the files nobody holds; a held handle leaves
// the cache and is closed by its own ZEP_close.
TEST_F(MultiFrameTest, ResettingTheCacheClosesReleasedFiles)
{
    start();
    for (const char *n : {"a", "b", "c"})
        make_mfr(path(std::string(n) + ".mfr"), 1, 2, 2, 1);
    for (const char *n : {"a", "b"}) {
        ZEP_OBJECT *h = open_r(path(std::string(n) + ".mfr"));
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(ZEP_close(h), 0);
    }
    ZEP_OBJECT *held = open_r(path("c.mfr"));
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(closes(), 0);

    ZEP_multiframe_set(1, 15);
    EXPECT_EQ(closes(), 2);
    EXPECT_EQ(first_byte(held), mfr_byte(1, 0, 0, 0));
    EXPECT_EQ(ZEP_close(held), 0);
    EXPECT_EQ(closes(), 3);
    ZEP_OBJECT *h = open_r(path("a.mfr"));
    EXPECT_EQ(opens(), 4);
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_TRUE(no_leaks());
}

// Every allocation of the open fails once in turn. A failure before the
// file is open fails the open with -10; one while caching it leaves the
// open a success whose close then closes the file for real.
TEST_F(MultiFrameTest, OutOfMemoryWhileCachingKeepsTheOpen)
{
    start();
    const std::string f = path("oom.mfr");
    make_mfr(f, 2, 3, 2, 4);
    ZEP_CAP_SETTING s0{0, {}}, s1{1, {}};
    s0.value.i = 5;
    s1.value.f = 0.5f;
    ZEP_CAP_SETTING *settings[] = {&s0, &s1, nullptr};

    int uncached = 0;
    int n = 1;
    for (; n < 500; ++n) {
        reports.clear();
        zep__err = 0;
        const int closes_before = closes();
        err__alloc_fail(n, 0);
        ZEP_OBJECT *h = open_r(f, settings);
        const int injected = err__alloc_fail(0, 0);
        if (injected == 0) {
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(ZEP_close(h), 0);
            EXPECT_EQ(closes(), closes_before); // cached
            break;
        }
        EXPECT_FALSE(reports_of(zep::kNoMemory).empty()) << n;
        if (h) {
            ++uncached;
            EXPECT_EQ(first_byte(h), mfr_byte(4, 0, 0, 0));
            EXPECT_EQ(ZEP_close(h), 0);
            EXPECT_EQ(closes(), closes_before + 1) << n;
        } else {
            EXPECT_EQ(zep__err, ZEP_E_NOMEM) << n;
        }
        EXPECT_TRUE(no_leaks()) << n;
    }
    ASSERT_LT(n, 500);
    // Entry, name, settings table, two settings, the array.
    EXPECT_EQ(uncached, 6);

    // The cached handle is served again.
    const int opens_before = opens();
    ZEP_OBJECT *h = open_r(f, settings);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(opens(), opens_before);
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_TRUE(no_leaks());
}

} // namespace
