// Shared by the start-up, query and setting tests: a fixture that captures
// every report through a global handler, keeps fault injection disarmed,
// loads the test plug-in modules it is asked for and leaves the library
// stopped after each test; a private HOME without a configuration file; and
// helpers to reach the counters the test modules export.
#ifndef ZEP_TESTS_IMAGE_CORE_REGISTRY_SUPPORT_H
#define ZEP_TESTS_IMAGE_CORE_REGISTRY_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

#include <zep/zep.h>

#include "error/messages.h"
#include "image/plugin_loader.h"

#if defined(__SANITIZE_ADDRESS__)
#define REGISTRY_TEST_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REGISTRY_TEST_LEAK_CHECK 1
#endif
#endif
#ifdef REGISTRY_TEST_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace registry_test {

namespace fs = std::filesystem;

// The process runs with a HOME of its own that holds no configuration file,
// and with none of the variables that steer start-up.
struct PrivateHome {
    fs::path dir;
    PrivateHome()
    {
        dir = fs::temp_directory_path() / ("zep_registry_test_" + std::to_string(getpid()));
        fs::create_directories(dir);
        setenv("HOME", dir.c_str(), 1);
        unsetenv("KV_ROOT");
        unsetenv("KV_ZEP_MULTIFRAME_OPEN");
    }
    ~PrivateHome()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

inline PrivateHome private_home;

struct Report {
    std::string format; // catalogued reports pass their default text as the name
    int severity;
    std::string message;
};

inline std::vector<Report> reports;

inline int capture(const char *name, int severity, const char *message, ERR_RECORD *, void *)
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

// The messages of every report, in order.
inline std::vector<std::string> messages()
{
    std::vector<std::string> out;
    for (const Report &r : reports)
        out.push_back(r.message);
    return out;
}

// True when no block allocated so far has become unreachable.
inline bool no_leaks()
{
#ifdef REGISTRY_TEST_LEAK_CHECK
    return __lsan_do_recoverable_leak_check() == 0;
#else
    return true;
#endif
}

// A file of the test folder holding the given bytes.
inline std::string write_file(const std::string &name, const std::string &bytes)
{
    fs::path p = private_home.dir / name;
    FILE *f = std::fopen(p.c_str(), "wb");
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return p.string();
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        err__alloc_fail(0, 0);
        ZEP_exit();
        reports.clear();
        ASSERT_EQ(ERR_dcl_handler(nullptr, capture, nullptr), 1);
    }

    void TearDown() override
    {
        ZEP_exit(); // before the modules are unloaded
        ERR_mask_s(ERR_DEBUG);
        ERR_can_handler(nullptr);
        err__alloc_fail(0, 0);
    }

    // Loads the named modules (kept until the end of the test) and starts the
    // library with them; returns ZEP_init's result.
    int start(std::vector<std::string> names, void *catalogue = nullptr)
    {
        load(std::move(names));
        return plugins->init(catalogue);
    }

    void load(std::vector<std::string> names)
    {
        plugins = std::make_unique<zeptest::Plugins>(std::move(names));
    }

    // The exported name of the i-th loaded module, as a T.
    template <typename T> T symbol(size_t i, const char *name)
    {
        void *p = dlsym(plugins->handle(i), name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<T>(p);
    }

    // Keys of the plug-in formats in enumeration order (rewinds first).
    static std::vector<std::string> plugin_keys()
    {
        std::vector<std::string> keys;
        ZEP_init(nullptr, nullptr);
        while (const ZEP_FILE_TYPE *t = ZEP_info())
            keys.push_back(t->key);
        return keys;
    }

    std::unique_ptr<zeptest::Plugins> plugins;
};

// What tst_full exports through tst_full_state().
struct TstFullState {
    int inits;
    int dones;
    int capability_calls;
    int probe_calls;
    int popups;
    int popdowns;
    void *popup_argument;
    void *avail_a;
    void *avail_b;
    ZEP_CAPABILITY *capabilities;
};
using TstFullStateFn = TstFullState *(*)();

} // namespace registry_test

#endif // ZEP_TESTS_IMAGE_CORE_REGISTRY_SUPPORT_H
