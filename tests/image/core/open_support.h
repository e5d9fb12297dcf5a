// Shared by the open, scanline and path tests: a fixture that logs every
// report, starts the library with a chosen set of test plug-ins and stops it
// again after each test; typed access to the plug-ins' test functions; a
// scratch folder; a description record for write opens; the leak probe of
// the out-of-memory loops.
#ifndef ZEP_TESTS_IMAGE_CORE_OPEN_SUPPORT_H
#define ZEP_TESTS_IMAGE_CORE_OPEN_SUPPORT_H

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "error/messages.h"
#include "image/plugin_loader.h"

#if defined(__SANITIZE_ADDRESS__)
#define OPEN_TEST_LEAK_CHECK 1
#include <sanitizer/lsan_interface.h>
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OPEN_TEST_LEAK_CHECK 1
#include <sanitizer/lsan_interface.h>
#endif
#endif

namespace open_test {

namespace fs = std::filesystem;

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

// The messages reported from table entry m, in order.
inline std::vector<std::string> messages_of(const zep::Message &m)
{
    std::vector<std::string> out;
    for (const Report &r : reports)
        if (r.format == m.text) out.push_back(r.message);
    return out;
}

// Entry m's text filled with args, as a report of it reads.
template <typename... Args> std::string text_of(const zep::Message &m, Args... args)
{
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif
    char buf[1024];
    std::snprintf(buf, sizeof buf, m.text, args...);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return buf;
}

// True when no block allocated so far has become unreachable. Without the
// leak sanitizer there is nothing to ask.
inline bool no_leaks()
{
#ifdef OPEN_TEST_LEAK_CHECK
    return __lsan_do_recoverable_leak_check() == 0;
#else
    return true;
#endif
}

// Sets or unsets an environment variable for the life of the guard.
class EnvGuard {
  public:
    explicit EnvGuard(const char *name) : name_(name)
    {
        if (const char *v = std::getenv(name)) saved_ = v;
    }
    ~EnvGuard()
    {
        if (saved_)
            setenv(name_, saved_->c_str(), 1);
        else
            unsetenv(name_);
    }
    void set(const std::string &value) { setenv(name_, value.c_str(), 1); }
    void unset() { unsetenv(name_); }
    EnvGuard(const EnvGuard &) = delete;
    EnvGuard &operator=(const EnvGuard &) = delete;

  private:
    const char *name_;
    std::optional<std::string> saved_;
};

// A new empty folder, removed with everything in it by the destructor.
class ScratchDir {
  public:
    ScratchDir()
    {
        std::string pattern = (fs::temp_directory_path() / "zep-open-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    std::string file(const std::string &name) const { return (path_ / name).string(); }
    const fs::path &path() const { return path_; }

  private:
    fs::path path_;
};

// The plug-ins the tests load.
inline constexpr const char kSeq[] = "tst_seq";
inline constexpr const char kAlias[] = "tst_alias";
inline constexpr const char kDefKey[] = "tst_defkey";
inline constexpr const char kFormat[] = "tst_format"; // key "tst", any order

// What tst_alias's close routine returns.
inline constexpr int kAliasCloseResult = 3;

// A ZEP_INFO for an open request; its strings live as long as the record.
// The image descriptions (for writing) are 8-bit RGB with the window given.
class Request {
  public:
    Request(const char *name, const char *key)
    {
        ZEP_info_init(&info);
        if (name) name_ = name;
        if (key) key_ = key;
        info.handle = name ? name_.data() : nullptr;
        info.key = key ? key_.data() : nullptr;
    }
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    // Describes n images of width x (top - bottom + 1) pixels.
    Request &images(int n, int width, int bottom, int top, int scan_flags = 1)
    {
        images_.assign(size_t(n), ZEP_IMAGE_DESC{});
        for (ZEP_IMAGE_DESC &d : images_) {
            d.usage = 1;
            d.response.kind = ZEP_CURVE_ANALYTIC;
            d.response.gamma = 1.0f;
            d.response.num_chan = 1;
            d.response.length = 256;
            d.response.elem_type = ZEP_C_INTEGER;
            d.response.elem_width = 8;
            d.window = ZEP_WINDOW{0, width - 1, bottom, top};
            d.active = d.window;
            d.planar = 1;
            d.scan_flags = scan_flags;
            d.chan = ZEP_CHAN_GROUP{nullptr, 3, ZEP_C_INTEGER, 8};
            d.matte = ZEP_CHAN_GROUP{nullptr, 0, ZEP_C_INTEGER, 8};
            d.aux = ZEP_CHAN_GROUP{nullptr, 0, ZEP_C_INTEGER, 8};
            d.index = ZEP_CHAN_GROUP{nullptr, 0, ZEP_C_INTEGER, 16};
        }
        info.num_images = n;
        info.images = images_.data();
        return *this;
    }

    ZEP_INFO info{};

  private:
    std::string name_, key_;
    std::vector<ZEP_IMAGE_DESC> images_;
};

// Each test runs with a HOME of its own, without a configuration file unless
// the test writes one there, so the default key is "rla".
class OpenTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        home_var_.set(home_.path().string());
        root_var_.unset();
        err__alloc_fail(0, 0);
        reports.clear();
        ASSERT_EQ(ERR_dcl_handler(nullptr, log_handler, nullptr), 1);
    }
    void TearDown() override
    {
        err__alloc_fail(0, 0);
        ZEP_exit();
        plugins_.reset();
        ERR_can_handler(nullptr);
    }

    // Starts the library with these plug-ins (none: the built-ins only).
    void start(std::vector<std::string> names)
    {
        plugins_ = std::make_unique<zeptest::Plugins>(names);
        names_ = names;
        ASSERT_EQ(plugins_->init(), 0);
    }

    // The test function `symbol` of the loaded plug-in `module`.
    template <typename Fn> Fn *function(const std::string &module, const char *symbol)
    {
        for (size_t i = 0; i < names_.size(); ++i)
            if (names_[i] == module) {
                void *p = dlsym(plugins_->handle(i), symbol);
                if (!p) throw std::runtime_error(module + " has no " + symbol);
                return reinterpret_cast<Fn *>(p);
            }
        throw std::runtime_error(module + " is not loaded");
    }

    // Writes a file of the "seq" format through the library: width 4,
    // window bottom..top, read top-down unless bottom_up.
    void write_seq(const std::string &path, int bottom, int top, bool bottom_up = false)
    {
        Request w(path.c_str(), "seq");
        w.images(1, 4, bottom, top, bottom_up ? ZEP_SCAN_BOTTOM_UP : 0);
        ZEP_OBJECT *h = ZEP_open(&w.info, "w");
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(ZEP_close(h), 0);
    }

    ScratchDir home_;
    EnvGuard home_var_{"HOME"}, root_var_{"KV_ROOT"};
    std::unique_ptr<zeptest::Plugins> plugins_;
    std::vector<std::string> names_;
};

} // namespace open_test

#endif // ZEP_TESTS_IMAGE_CORE_OPEN_SUPPORT_H
