// Shared by the configuration tests: a fixture that gives each test its own
// HOME and KV_ROOT directories to write ".zeprc" files into, logs every
// report through a global handler, and leaves the configuration store and
// the format-defaults database unloaded around each test.
#ifndef ZEP_TESTS_CONFIG_SUPPORT_H
#define ZEP_TESTS_CONFIG_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <zep/config.h>
#include <zep/error.h>

#include "error/messages.h"

namespace config_test {

namespace fs = std::filesystem;

// Where the search ends when neither HOME nor KV_ROOT has a file.
inline constexpr const char kBuiltinPath[] = "/usr/vk//userconfig/.zeprc";

struct Report {
    std::string format; // the default format: catalogued reports pass it as name
    int severity;
    std::string message;
};

inline std::vector<Report> reports;

inline int log_handler(const char *name, int severity, const char *message, ERR_RECORD *,
                       void *)
{
    reports.push_back({name ? name : "", severity, message ? message : ""});
    return 0;
}

// The reports made from the table entry m.
inline std::vector<Report> reports_of(const zep::Message &m)
{
    std::vector<Report> out;
    for (const Report &r : reports)
        if (r.format == m.text) out.push_back(r);
    return out;
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

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        err__alloc_fail(0, 0);
        FMT_exit();
        cfg__release();
        std::string pattern = (fs::temp_directory_path() / "zep-config-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        home_ = root_ / "home";
        kv_root_ = root_ / "kv";
        fs::create_directories(home_);
        fs::create_directories(kv_root_ / "userconfig");
        home_env_.set(home_.string());
        kv_env_.set(kv_root_.string());
        reports.clear();
        ASSERT_EQ(ERR_dcl_handler(nullptr, log_handler, nullptr), 1);
    }

    void TearDown() override
    {
        err__alloc_fail(0, 0);
        FMT_exit();
        cfg__release();
        ERR_can_handler(nullptr);
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    static void write(const fs::path &path, const std::string &text)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    fs::path home_file() const { return home_ / ".zeprc"; }
    fs::path kv_file() const { return kv_root_ / "userconfig" / ".zeprc"; }
    void write_home(const std::string &text) const { write(home_file(), text); }

    // True when the built-in root holds a configuration file, which would
    // spoil the tests that expect none to be found.
    static bool builtin_file_present() { return access(kBuiltinPath, F_OK) == 0; }

    fs::path root_, home_, kv_root_;
    EnvGuard home_env_{"HOME"};
    EnvGuard kv_env_{"KV_ROOT"};
};

} // namespace config_test

#endif // ZEP_TESTS_CONFIG_SUPPORT_H
