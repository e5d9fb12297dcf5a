// Shared by the string tests: taking heap strings back from the library,
// catching the no-memory reports of out-of-memory runs, and the loop that
// fails the n-th allocation for n = 1, 2, ... until a call succeeds.
#ifndef ZEP_TESTS_STRINGS_SUPPORT_H
#define ZEP_TESTS_STRINGS_SUPPORT_H

#include <gtest/gtest.h>

#include <string>

#include <zep/error.h>
#include <zep/strings.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace zep_test {

// The text of a heap string, which is freed; "<null>" for null.
inline std::string take(char *s)
{
    std::string text = s ? s : "<null>";
    ERR_free(s);
    return text;
}

// True when the leak checker finds a block no longer reachable. Always false
// in a build without the address sanitizer.
inline bool leaks_now()
{
#if defined(__SANITIZE_ADDRESS__)
    return __lsan_do_recoverable_leak_check() != 0;
#else
    return false;
#endif
}

// Catches every report on the global handler stack while it lives, counting
// those that say memory ran out.
class NoMemoryReports {
  public:
    NoMemoryReports() { ok_ = ERR_dcl_handler(nullptr, catcher, &count) == 1; }
    ~NoMemoryReports()
    {
        if (ok_) ERR_can_handler(nullptr);
    }
    NoMemoryReports(const NoMemoryReports &) = delete;
    NoMemoryReports &operator=(const NoMemoryReports &) = delete;
    int count = 0;

  private:
    static int catcher(const char *, int, const char *message, ERR_RECORD *, void *data)
    {
        if (std::string(message) == "No more internal memory") ++*static_cast<int *>(data);
        return 0;
    }
    bool ok_;
};

// Runs attempt() with the n-th allocation from its start failing, for
// n = 1, 2, ... until it reports success. attempt checks the specified
// failure result itself and returns false after a failure. Each failing run
// must have met exactly one injected failure, reported once, and leaked
// nothing. Returns the number of failing runs; -1 when none succeeded.
template <typename Attempt> int until_success(Attempt attempt)
{
    NoMemoryReports reports;
    for (int n = 1; n <= 64; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        reports.count = 0;
        err__alloc_fail(n, 0);
        bool ok = attempt();
        int failures = err__alloc_fail(0, 0);
        EXPECT_FALSE(leaks_now());
        if (ok) {
            EXPECT_EQ(failures, 0);
            EXPECT_EQ(reports.count, 0);
            return n - 1;
        }
        EXPECT_EQ(failures, 1);
        EXPECT_EQ(reports.count, 1);
    }
    ADD_FAILURE() << "the call never succeeded";
    return -1;
}

} // namespace zep_test

#endif // ZEP_TESTS_STRINGS_SUPPORT_H
