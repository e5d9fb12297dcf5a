// Shared by the colour-database tests: a fixture that gives each test its
// own HOME to write ".zeprc" into (KV_ROOT unset), captures every report
// through a global handler, and leaves the colour database, its conversion
// state and the configuration store unbuilt around each test.
#ifndef ZEP_TESTS_CONFIG_COLOUR_TEST_ENV_H
#define ZEP_TESTS_CONFIG_COLOUR_TEST_ENV_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <zep/colour.h>
#include <zep/config.h>
#include <zep/error.h>

#include "config/colour_db.h"
#include "error/messages.h"

namespace colour_test {

namespace fs = std::filesystem;

struct Report {
    std::string format; // catalogued reports pass their default format as the name
    int severity;
    std::string message;
};

inline std::vector<Report> reports;

inline int capture(const char *name, int severity, const char *message, ERR_RECORD *, void *)
{
    reports.push_back({name ? name : "", severity, message ? message : ""});
    return 0;
}

// The captured reports of table entry m, by message text.
inline std::vector<std::string> messages_of(const zep::Message &m)
{
    std::vector<std::string> out;
    for (const Report &r : reports)
        if (r.format == m.text) out.push_back(r.message);
    return out;
}

// Restores an environment variable when the test ends.
class SavedEnv {
  public:
    explicit SavedEnv(const char *name) : name_(name)
    {
        if (const char *v = std::getenv(name)) value_ = v;
    }
    ~SavedEnv()
    {
        if (value_)
            setenv(name_, value_->c_str(), 1);
        else
            unsetenv(name_);
    }
    SavedEnv(const SavedEnv &) = delete;
    SavedEnv &operator=(const SavedEnv &) = delete;

  private:
    const char *name_;
    std::optional<std::string> value_;
};

class ColourTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        err__alloc_fail(0, 0);
        CLR_samp_done();
        CLR_exit();
        std::string pattern = (fs::temp_directory_path() / "zep-colour-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        home_ = pattern;
        setenv("HOME", home_.c_str(), 1);
        unsetenv("KV_ROOT");
        reports.clear();
        ASSERT_EQ(ERR_dcl_handler(nullptr, capture, nullptr), 1);
    }

    void TearDown() override
    {
        err__alloc_fail(0, 0);
        CLR_samp_done();
        CLR_exit();
        ERR_can_handler(nullptr);
        std::error_code ec;
        fs::remove_all(home_, ec);
    }

  public:
    // Writes text as the configuration file; the next build reads it.
    void write_config(const std::string &text) const
    {
        std::ofstream out(config_path(), std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::string config_path() const { return home_ + "/.zeprc"; }

    // The syntax message as reported for line `line` of the file.
    std::string syntax_message(int line) const
    {
        return config_path() + ": Invalid configuration file syntax, line " + std::to_string(line);
    }

  protected:
    std::string home_;
    SavedEnv saved_home_{"HOME"};
    SavedEnv saved_kv_root_{"KV_ROOT"};
};

// The sum of column c over the n rows of a table of three columns.
inline double column_sum(const float *table, int n, int c)
{
    double s = 0;
    for (int i = 0; i < n; ++i)
        s += table[3 * i + c];
    return s;
}

} // namespace colour_test

#endif // ZEP_TESTS_CONFIG_COLOUR_TEST_ENV_H
