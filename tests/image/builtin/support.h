// Shared by the tests of the built-in formats and of the multi-frame cache:
// a fixture that logs every report through a global handler, keeps the
// allocator's fault injection disarmed around each test and leaves the
// library stopped; image descriptions and channel buffers for writing; a
// leak probe for the out-of-memory loops.
#ifndef ZEP_TESTS_IMAGE_BUILTIN_SUPPORT_H
#define ZEP_TESTS_IMAGE_BUILTIN_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "error/messages.h"

#if defined(__SANITIZE_ADDRESS__)
#define BUILTIN_TEST_LEAK_CHECK 1
#include <sanitizer/lsan_interface.h>
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BUILTIN_TEST_LEAK_CHECK 1
#include <sanitizer/lsan_interface.h>
#endif
#endif

namespace builtin_test {

struct Report {
    std::string format; // catalogued reports pass their default text as name
    int severity;
    std::string message;
};

inline std::vector<Report> reports;

inline int log_handler(const char *name, int severity, const char *message, ERR_RECORD *, void *)
{
    reports.push_back({name ? name : "", severity, message ? message : ""});
    return 0;
}

// The reports made from table entry m.
inline std::vector<Report> reports_of(const zep::Message &m)
{
    std::vector<Report> out;
    for (const Report &r : reports)
        if (r.format == m.text) out.push_back(r);
    return out;
}

// Message m filled with its arguments, as the library would report it.
template <typename... Args> std::string expected(const zep::Message &m, Args... args)
{
    char buf[1024];
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif
    std::snprintf(buf, sizeof buf, m.text, args...);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return buf;
}

// True when no block allocated so far has become unreachable. Without the
// leak sanitizer there is nothing to ask, and only the process-exit check
// of a sanitizer build remains.
inline bool no_leaks()
{
#ifdef BUILTIN_TEST_LEAK_CHECK
    return __lsan_do_recoverable_leak_check() == 0;
#else
    return true;
#endif
}

// Logs reports and leaves the library stopped after each test. Tests start
// the library themselves (or let ZEP_open start it).
class LibraryTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        err__alloc_fail(0, 0);
        reports.clear();
        ASSERT_EQ(ERR_dcl_handler(nullptr, log_handler, nullptr), 1);
    }
    void TearDown() override
    {
        err__alloc_fail(0, 0);
        // Closed files that the cache still keeps open go before the drivers.
        ZEP_multiframe_set(0, 0);
        ZEP_exit();
        ERR_can_handler(nullptr);
    }
};

// A channel group: count, type, width.
struct Group {
    int32_t count;
    int32_t type;
    int32_t width;
};

// An image description for writing: analytic response curve, the given
// window as image and active window, planar buffers, lines top-down.
inline ZEP_IMAGE_DESC describe(ZEP_WINDOW window, Group chan, Group matte = {0, ZEP_C_INTEGER, 8},
                               Group aux = {0, ZEP_C_INTEGER, 8})
{
    ZEP_IMAGE_DESC d{};
    d.usage = 1;
    d.response.kind = ZEP_CURVE_ANALYTIC;
    d.response.gamma = 1.0f;
    d.response.num_chan = 1;
    d.response.length = 256;
    d.response.elem_type = ZEP_C_INTEGER;
    d.response.elem_width = 8;
    d.window = window;
    d.active = window;
    d.planar = 1;
    d.chan = {nullptr, chan.count, chan.type, chan.width};
    d.matte = {nullptr, matte.count, matte.type, matte.width};
    d.aux = {nullptr, aux.count, aux.type, aux.width};
    d.index = {nullptr, 0, ZEP_C_INTEGER, 16};
    return d;
}

// Bytes of one sample of a group, worked out independently of the library.
inline size_t sample_bytes(const Group &g)
{
    if (g.type == ZEP_C_DOUBLE) return 8;
    if (g.type == ZEP_C_FLOAT) return 4;
    return g.width <= 8 ? 1 : g.width <= 16 ? 2 : 4;
}

// An application's ZEP_INFO for opening `name`; the image array stays the
// caller's.
struct Info {
    ZEP_INFO info{};
    std::string name_store;
    std::string key_store;
    explicit Info(const std::string &name, const char *key = nullptr,
                  std::vector<ZEP_IMAGE_DESC> *images = nullptr)
        : name_store(name), key_store(key ? key : "")
    {
        ZEP_info_init(&info);
        info.handle = name_store.data();
        info.key = key ? key_store.data() : nullptr;
        if (images) {
            info.num_images = static_cast<int32_t>(images->size());
            info.images = images->data();
        }
    }
    ~Info() { ZEP_info_cleanup(&info, 0); }
    Info(const Info &) = delete;
    Info &operator=(const Info &) = delete;
    ZEP_INFO *get() { return &info; }
};

// A channel table from the library's allocator, released with it.
struct Chan {
    void **table = nullptr;
    Chan(ZEP_IMAGE_DESC &d, int pixels) { table = ZEP_chan_alloc(&d, pixels, "test", nullptr); }
    ~Chan() { ZEP_chan_free(table); }
    Chan(const Chan &) = delete;
    Chan &operator=(const Chan &) = delete;
};

} // namespace builtin_test

#endif // ZEP_TESTS_IMAGE_BUILTIN_SUPPORT_H
