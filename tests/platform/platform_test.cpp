// The platform layer: recursive mutexes that really exclude other threads,
// symbol lookup on a module handle, the identity names, the tick count and
// the system error texts.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/platform.h"

namespace plat = zep::platform;

namespace {

TEST(PlatformMutex, IsRecursiveForItsOwner)
{
    plat::Mutex *m = plat::mutex_create();
    ASSERT_NE(m, nullptr);
    plat::mutex_lock(m);
    plat::mutex_lock(m); // would deadlock if not recursive
    plat::mutex_unlock(m);
    plat::mutex_unlock(m);
    plat::mutex_destroy(m);
    plat::mutex_destroy(nullptr);
}

TEST(PlatformMutex, ExcludesOtherThreadsUntilFullyReleased)
{
    plat::Mutex *m = plat::mutex_create();
    ASSERT_NE(m, nullptr);
    std::atomic<int> stage{0};
    plat::mutex_lock(m);
    plat::mutex_lock(m);
    std::thread other([&] {
        plat::MutexGuard g(m);
        stage = 2;
    });
    plat::mutex_unlock(m);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(stage.load(), 0) << "the other thread got in while the owner still held one level";
    stage = 1;
    plat::mutex_unlock(m);
    other.join();
    EXPECT_EQ(stage.load(), 2);
    plat::mutex_destroy(m);
}

TEST(PlatformMutex, CountersStayExactUnderContention)
{
    plat::Mutex *m = plat::mutex_create();
    ASSERT_NE(m, nullptr);
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            plat::MutexGuard g(m);
            plat::MutexGuard again(m);
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
    plat::mutex_destroy(m);
}

TEST(PlatformModule, FindsExportedSymbolsOnAnApplicationHandle)
{
    void *self = dlopen(nullptr, RTLD_NOW);
    ASSERT_NE(self, nullptr);
    EXPECT_NE(plat::module_symbol(self, "malloc"), nullptr);
    EXPECT_EQ(plat::module_symbol(self, "zep_no_such_symbol_anywhere"), nullptr);
    EXPECT_EQ(plat::module_symbol(nullptr, "malloc"), nullptr);
    EXPECT_EQ(plat::module_symbol(self, nullptr), nullptr);
    dlclose(self);
}

TEST(PlatformIdentity, UserAndHostNamesAreTerminatedAndCut)
{
    char buf[256];
    EXPECT_EQ(plat::host_name(buf, sizeof buf), 0);
    EXPECT_GT(strlen(buf), 0u);
    char small[3] = {'x', 'x', 'x'};
    plat::host_name(small, sizeof small);
    EXPECT_LE(strlen(small), 2u);

    if (plat::user_name(buf, sizeof buf) == 0)
        EXPECT_GT(strlen(buf), 0u);
    else
        EXPECT_STREQ(buf, "");
    char one[1] = {'x'};
    plat::user_name(one, sizeof one);
    EXPECT_EQ(one[0], '\0');
}

TEST(PlatformClock, TickCountAdvancesInMilliseconds)
{
    uint32_t t0 = plat::tick_count();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    uint32_t elapsed = plat::tick_count() - t0; // wrap-safe difference
    EXPECT_GE(elapsed, 25u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(PlatformErrors, KnownNumbersHaveTextsOthersDoNot)
{
    ASSERT_NE(plat::errno_text(ENOENT), nullptr);
    EXPECT_STREQ(plat::errno_text(ENOENT), "No such file or directory");
    EXPECT_EQ(plat::errno_text(100000), nullptr);
    EXPECT_EQ(plat::errno_text(-1), nullptr);
}

TEST(PlatformFatal, BoxWritesCaptionAndTextToStandardError)
{
    testing::internal::CaptureStderr();
    plat::fatal_box("Fatal Error", "FATAL, it broke\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Fatal Error: FATAL, it broke\n");
}

} // namespace
