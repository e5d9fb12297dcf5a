// Shared by the configuration tests: each test gets its own HOME and
// KV_ROOT folders to write ".zeprc" into, every report is logged, and the
// store, both databases and the colour-sample state start and end unloaded.
#ifndef ZEP_TESTS_CONFIG_SUPPORT_H
#define ZEP_TESTS_CONFIG_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <zep/colour.h>
#include <zep/config.h>
#include <zep/error.h>

#include "error/messages.h"

namespace config_test {

namespace fs = std::filesystem;

struct Report { std::string format, message; int severity; }; // format: the name passed
inline std::vector<Report> reports;

// The messages reported from table entry m.
inline std::vector<std::string> messages_of(const zep::Message &m)
{
    std::vector<std::string> out;
    for (const Report &r : reports)
        if (r.format == m.text) out.push_back(r.message);
    return out;
}

// base, fields "name=value" separated by '|', with the changes (same, ';'-separated) put in.
inline std::string with_changes(std::string base, const std::string &changes)
{
    std::istringstream in(changes);
    for (std::string change; std::getline(in, change, ';');) {
        const std::string field = change.substr(0, change.find('=') + 1);
        const size_t at = base.find(field) + field.size();
        base.replace(at, base.find('|', at) - at, change.substr(field.size()));
    }
    return base;
}

// Runs op with the 1st, 2nd, ... allocation failing until a run has no failure, which must
// return 0; after each failing run calls failed(rc). Returns the number of failing runs.
template <typename Op, typename Failed> int exhaust(Op op, Failed failed)
{
    for (int n = 1; n < 1000; ++n) {
        reports.clear();
        err__alloc_fail(n, 0);
        const int rc = op();
        if (err__alloc_fail(0, 0) == 0) {
            EXPECT_EQ(rc, 0);
            return n - 1;
        }
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        failed(rc);
    }
    ADD_FAILURE() << "never succeeded";
    return -1;
}

inline void write(const fs::path &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class ConfigTest : public ::testing::Test {
  protected:
    static int log(const char *name, int severity, const char *message, ERR_RECORD *, void *)
    {
        reports.push_back({name ? name : "", message ? message : "", severity});
        return 0;
    }
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "zep-config-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "home");
        fs::create_directories(root_ / "kv" / "userconfig");
        setenv("HOME", (root_ / "home").c_str(), 1);
        setenv("KV_ROOT", (root_ / "kv").c_str(), 1);
        reset_format_numbers();
        fs::remove(home_file());
        reports.clear();
        ASSERT_EQ(ERR_dcl_handler(nullptr, log, nullptr), 1);
    }
    void TearDown() override
    {
        unload();
        ERR_can_handler(nullptr);
        ERR_mask_s(ERR_DEBUG);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    // The numbers of the format defaults outlive FMT_exit: reads the built-in ones back.
    void reset_format_numbers() const
    {
        unload();
        write_home("fmt__gamma_table_res 4096\nfmt__gamma_default 2.2\nfmt__frame_rate 30\n"
                   "fmt__input_gamma_default 1.0\nfmt__dominance odd\nfmt__swatch_size 0\n");
        ASSERT_EQ(FMT_init(nullptr), 0);
        unload();
    }
    static void unload()
    {
        err__alloc_fail(0, 0);
        CLR_samp_done();
        CLR_exit();
        FMT_exit();
        cfg__release();
    }
    fs::path home_file() const { return root_ / "home" / ".zeprc"; }
    fs::path kv_file() const { return root_ / "kv" / "userconfig" / ".zeprc"; }
    void write_home(const std::string &text) const { write(home_file(), text); }
    std::string syntax_message(int line) const
    {
        return home_file().string() + ": Invalid configuration file syntax, line " +
               std::to_string(line);
    }

    fs::path root_;
};

} // namespace config_test

#endif // ZEP_TESTS_CONFIG_SUPPORT_H
