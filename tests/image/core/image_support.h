// Shared by the image-file tests: a fixture with an empty HOME of its own
// that logs every report and stops the library afterwards; application
// records; the leak probe and the loops of the out-of-memory tests.
#ifndef ZEP_TESTS_IMAGE_CORE_IMAGE_SUPPORT_H
#define ZEP_TESTS_IMAGE_CORE_IMAGE_SUPPORT_H

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <zep/zep.h>

#include "error/messages.h"
#ifdef ZEP_TEST_PLUGIN_DIR
#include "image/plugin_loader.h"
#endif

#if defined(__SANITIZE_ADDRESS__)
#define ZT_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZT_LEAK_CHECK 1
#endif
#endif
#ifdef ZT_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace zt {

namespace fs = std::filesystem;

struct Report {
    std::string format; // a catalogued report passes its default text as name
    std::string message;
    int severity;
};
inline std::vector<Report> reports;

inline int log_report(const char *name, int severity, const char *message, ERR_RECORD *, void *)
{
    reports.push_back({name ? name : "", message ? message : "", severity});
    return 0;
}

// The messages reported from table entry m, in order.
inline std::vector<std::string> messages_of(const zep::Message &m)
{
    std::vector<std::string> out;
    for (const Report &r : reports)
        if (r.format == m.text) out.push_back(r.message);
    return out;
}

// Entry m's text filled with args, as its report reads.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
template <typename... Args> std::string text_of(const zep::Message &m, Args... args)
{
    char buf[1024];
    std::snprintf(buf, sizeof buf, m.text, args...);
    return buf;
}
#pragma GCC diagnostic pop

// True when no block allocated so far is unreachable (always true without
// the leak sanitizer, whose exit check then remains).
inline bool no_leaks()
{
#ifdef ZT_LEAK_CHECK
    return __lsan_do_recoverable_leak_check() == 0;
#else
    return true;
#endif
}

struct Group {
    int32_t count, type, width;
};
constexpr Group kRgb8{3, ZEP_C_INTEGER, 8}, kNone8{0, ZEP_C_INTEGER, 8};

// An image description for writing: linear analytic curve, `window` as image
// and active window, planar buffers.
inline ZEP_IMAGE_DESC describe(ZEP_WINDOW window, Group chan = kRgb8, Group matte = kNone8,
                               Group aux = kNone8)
{
    ZEP_IMAGE_DESC d{};
    d.usage = 1;
    d.response = {ZEP_CURVE_ANALYTIC, 1.0f, 0u, 1, 256, ZEP_C_INTEGER, 8, nullptr};
    d.window = d.active = window;
    d.planar = 1;
    d.chan = {nullptr, chan.count, chan.type, chan.width};
    d.matte = {nullptr, matte.count, matte.type, matte.width};
    d.aux = {nullptr, aux.count, aux.type, aux.width};
    d.index = {nullptr, 0, ZEP_C_INTEGER, 16};
    return d;
}

// An application's record naming `name` and `key` (null: none), with its
// image descriptions; everything lives as long as the record.
struct Info {
    ZEP_INFO info;
    std::string name, key;
    std::vector<ZEP_IMAGE_DESC> images;
    Info(const char *n, const char *k = nullptr, std::vector<ZEP_IMAGE_DESC> i = {})
        : name(n ? n : ""), key(k ? k : ""), images(std::move(i))
    {
        ZEP_info_init(&info);
        info.handle = n ? name.data() : nullptr;
        info.key = k ? key.data() : nullptr;
        info.num_images = int32_t(images.size());
        info.images = images.empty() ? nullptr : images.data();
    }
    Info(const std::string &n, const char *k = nullptr, std::vector<ZEP_IMAGE_DESC> i = {})
        : Info(n.c_str(), k, std::move(i))
    {
    }
    Info(const Info &) = delete;
    ZEP_OBJECT *open(const char *mode) { return ZEP_open(&info, mode); }
};

// Runs `call` with its n-th allocation failing, n = 1, 2, ... until it meets
// no failure; `check(result, failed)` checks and releases each round's
// result. Every failed round must report and leak nothing. Returns the
// number of failed rounds.
template <typename Call, typename Check> int fail_each_allocation(Call call, Check check)
{
    for (int n = 1; n < 1000; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        reports.clear();
        zep__err = 0;
        err__alloc_fail(n, 0);
        auto result = call();
        const bool failed = err__alloc_fail(0, 0) != 0;
        check(result, failed);
        if (!failed) return n - 1;
        EXPECT_FALSE(messages_of(zep::kNoMemory).empty());
        EXPECT_TRUE(no_leaks());
    }
    ADD_FAILURE() << "the call never succeeded";
    return -1;
}

// Expects a null result and -10 exactly when the round failed (else 0).
inline void expect_nomem(bool null, bool failed)
{
    EXPECT_EQ(std::tuple(null, zep__err), std::tuple(failed, failed ? ZEP_E_NOMEM : 0));
}

// fail_each_allocation for an open; after_failure checks what a failure left.
template <typename F> int fail_each_open(Info &info, const char *mode, F after_failure)
{
    return fail_each_allocation([&] { return info.open(mode); },
                                [&](ZEP_OBJECT *h, bool failed) {
                                    expect_nomem(h == nullptr, failed);
                                    if (failed) after_failure();
                                    EXPECT_EQ(h ? ZEP_close(h) : 0, 0);
                                });
}

// What f wrote to standard error.
template <typename F> std::string stderr_of(F f)
{
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

class LibTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string d = (fs::temp_directory_path() / "zep-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(d.data()), nullptr);
        dir_ = d;
        setenv("HOME", d.c_str(), 1);
        unsetenv("KV_ROOT"), unsetenv("KV_JOB_NUM"), unsetenv("KV_ZEP_MULTIFRAME_OPEN");
        reports.clear();
        ASSERT_EQ(ERR_dcl_handler(nullptr, log_report, nullptr), 1);
    }
    void TearDown() override
    {
        err__alloc_fail(0, 0);
        stop();
        ERR_can_handler(nullptr);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // Stops the library and the databases, so the next use reads .zeprc anew.
    void stop()
    {
        ZEP_exit();
        CLR_exit();
        FMT_exit();
        cfg__release();
#ifdef ZEP_TEST_PLUGIN_DIR
        plugins_.reset();
#endif
    }
    void configure(const std::string &zeprc)
    {
        std::ofstream(dir_ / ".zeprc") << zeprc;
        stop();
    }
    std::string file(const std::string &name) const { return (dir_ / name).string(); }
    // Writes the file `name` of the folder; returns its path.
    std::string write_file(const std::string &name, const std::string &bytes)
    {
        std::ofstream(file(name), std::ios::binary) << bytes;
        return file(name);
    }
    fs::path dir_;

#ifdef ZEP_TEST_PLUGIN_DIR
    // Starts the library with these test plug-ins (none: the built-ins only).
    void start(std::vector<std::string> modules = {})
    {
        plugins_ = std::make_unique<zeptest::Plugins>(modules);
        modules_ = modules;
        ASSERT_EQ(plugins_->init(), 0);
    }
    // The symbol `name` of the loaded module `module`, as a T.
    template <typename T> T *sym(const std::string &module, const char *name)
    {
        for (size_t i = 0; i < modules_.size(); ++i)
            if (void *p = modules_[i] == module ? dlsym(plugins_->handle(i), name) : nullptr)
                return reinterpret_cast<T *>(p);
        throw std::runtime_error(module + " has no " + name);
    }
    std::unique_ptr<zeptest::Plugins> plugins_;
    std::vector<std::string> modules_;
#endif
};

} // namespace zt

#endif // ZEP_TESTS_IMAGE_CORE_IMAGE_SUPPORT_H
