// The platform layer: recursive mutexes that exclude other threads, symbol
// lookup on a module handle, the identity names, the clock, the fatal box and
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

TEST(Platform, MutexIsRecursiveAndExcludesOtherThreadsUntilFullyReleased)
{
    plat::Mutex *m = plat::mutex_create();
    ASSERT_NE(m, nullptr);
    std::atomic<int> stage{0};
    plat::mutex_lock(m);
    plat::mutex_lock(m); // would deadlock if not recursive
    std::thread other([&] {
        plat::MutexGuard g(m);
        stage = 2;
    });
    plat::mutex_unlock(m);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(stage.load(), 0) << "the other thread got in while one level was still held";
    stage = 1;
    plat::mutex_unlock(m);
    other.join();
    EXPECT_EQ(stage.load(), 2);

    long counter = 0; // two threads, each locking twice per increment
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            plat::MutexGuard g(m), again(m);
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
    plat::mutex_destroy(m);
    plat::mutex_destroy(nullptr);
}

TEST(Platform, ModuleSymbolsIdentityClockAndErrorTexts)
{
    void *self = dlopen(nullptr, RTLD_NOW);
    ASSERT_NE(self, nullptr);
    EXPECT_NE(plat::module_symbol(self, "malloc"), nullptr);
    EXPECT_EQ(plat::module_symbol(self, "zep_no_such_symbol_anywhere"), nullptr);
    EXPECT_EQ(plat::module_symbol(nullptr, "malloc"), plat::module_symbol(self, nullptr));
    dlclose(self);

    char buf[256], small[3] = {'x', 'x', 'x'}, one[1] = {'x'};
    EXPECT_TRUE(plat::host_name(buf, sizeof buf) == 0 && buf[0] != '\0');
    plat::host_name(small, sizeof small);
    EXPECT_LE(strnlen(small, sizeof small), 2u); // cut and terminated
    int user = plat::user_name(buf, sizeof buf);
    EXPECT_TRUE(user == 0 ? buf[0] != '\0' : buf[0] == '\0') << user;
    plat::user_name(one, sizeof one);
    EXPECT_EQ(one[0], '\0');

    uint32_t t0 = plat::tick_count();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    uint32_t elapsed = plat::tick_count() - t0; // wrap-safe difference
    EXPECT_TRUE(elapsed >= 25u && elapsed < 5000u) << elapsed;

    EXPECT_STREQ(plat::errno_text(ENOENT), "No such file or directory");
    EXPECT_EQ(plat::errno_text(100000), plat::errno_text(-1));
    EXPECT_EQ(plat::errno_text(100000), nullptr);
    testing::internal::CaptureStderr();
    plat::fatal_box("Fatal Error", "FATAL, it broke\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Fatal Error: FATAL, it broke\n");
}

} // namespace
