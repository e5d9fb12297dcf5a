// The plug-in loading helper: which folders it searches, the order it loads
// modules in, what it does with files that are not modules or do not load,
// the enumeration it hands to ZEP_init, unloading, and running out of
// memory while loading.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "zep_plugins.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> reports;

int collect(const char *, int, const char *message, ERR_RECORD *, void *)
{
    reports.emplace_back(message);
    return 0;
}

bool reported(const std::string &part)
{
    for (const auto &r : reports)
        if (r.find(part) != std::string::npos) return true;
    return false;
}

std::vector<std::string> loaded_paths()
{
    std::vector<std::string> out;
    for (int i = 0; i < zep_plugins_count(); ++i) out.emplace_back(zep_plugins_path(i));
    return out;
}

// Keys of the registered plug-in formats, in registry order.
std::vector<std::string> plugin_keys()
{
    std::vector<std::string> keys;
    ZEP_init(nullptr, nullptr);
    while (const ZEP_FILE_TYPE *t = ZEP_info()) keys.emplace_back(t->key);
    return keys;
}

class PluginLoader : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string d = (fs::temp_directory_path() / "zep-plugins-XXXXXX").string();
        ASSERT_NE(mkdtemp(d.data()), nullptr);
        dir_ = d;
        reports.clear();
        ASSERT_TRUE(ERR_dcl_handler(nullptr, collect, nullptr));
    }
    void TearDown() override
    {
        zep_plugins_exit();
        ERR_can_handler(nullptr);
        unsetenv("ZEP_PLUGIN_PATH");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // A folder under the test's folder holding links to the named modules.
    std::string folder(const std::string &name, const std::vector<std::string> &links)
    {
        const fs::path f = dir_ / name;
        fs::create_directories(f);
        for (const auto &l : links) {
            const fs::path build = fs::path(ZEP_BUILD_PLUGIN_DIR) / l;
            fs::create_symlink(fs::exists(build) ? build : fs::path(ZEP_TEST_PLUGIN_DIR) / l, f / l);
        }
        return f.string();
    }

    fs::path dir_;
};

TEST_F(PluginLoader, LoadsFoldersInOrderAndNamesInByteOrder)
{
    const std::string a = folder("a", {"rlb.so", "tst_noversion.so", "tst_format.so"});
    const std::string b = folder("b", {"rlb.so", "rla.so"});
    // Not modules: another suffix, a hidden file, a folder named like one.
    std::ofstream(a + "/notes.txt") << "x";
    std::ofstream(a + "/.hidden.so") << "x";
    fs::create_directory(a + "/folder.so");
    // A module file that does not load.
    std::ofstream(b + "/broken.so") << "not a shared object";
    setenv("ZEP_PLUGIN_PATH", (a + "::" + b + ":" + (dir_ / "absent").string()).c_str(), 1);

    ASSERT_EQ(zep_plugins_init(nullptr), 0);
    // b/rlb.so is hidden by a/rlb.so; broken.so is reported and skipped.
    EXPECT_EQ(loaded_paths(), (std::vector<std::string>{a + "/rlb.so", a + "/tst_format.so",
                                                        a + "/tst_noversion.so", b + "/rla.so"}));
    EXPECT_TRUE(reported(b + "/broken.so: plug-in module not loaded"));
    // The library rejects the module without a version, naming it by path.
    EXPECT_TRUE(reported(a + "/tst_noversion.so: version must be defined"));
    EXPECT_EQ(plugin_keys(), (std::vector<std::string>{"rlb", "tst", "rla"}));
}

TEST_F(PluginLoader, PathArgumentEmptyVariableAndDefaultFolder)
{
    const std::string only = folder("only", {"rla.so"});
    struct Case {
        const char *what;
        const char *env; // null: unset
        bool use_argument;
        std::vector<std::string> keys;
    } cases[] = {
        {"argument wins over the variable", "/nowhere", true, {"rla"}},
        {"set but empty: no modules", "", false, {}},
        {"unset: the build tree's folder", nullptr, false, {"rla", "rlb"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.env)
            setenv("ZEP_PLUGIN_PATH", c.env, 1);
        else
            unsetenv("ZEP_PLUGIN_PATH");
        ASSERT_EQ(zep_plugins_load(c.use_argument ? only.c_str() : nullptr), int(c.keys.size()));
        ASSERT_EQ(zep_plugins_init(nullptr), 0);
        EXPECT_EQ(plugin_keys(), c.keys);
        if (!c.env) {
            for (const auto &p : loaded_paths())
                EXPECT_EQ(fs::path(p).parent_path(), fs::path(ZEP_BUILD_PLUGIN_DIR));
        }
        // The built-in formats are there whatever was loaded.
        EXPECT_NE(ZEP_find("mem"), nullptr);
        zep_plugins_exit();
        EXPECT_EQ(zep_plugins_count(), 0);
        EXPECT_EQ(zep_plugins_path(0), nullptr);
    }
}

TEST_F(PluginLoader, EnumeratorRestartsAndLoadsAreCumulative)
{
    const std::string a = folder("a", {"rla.so"});
    const std::string b = folder("b", {"rla.so", "rlb.so"});
    ASSERT_EQ(zep_plugins_load(a.c_str()), 1);
    ASSERT_EQ(zep_plugins_load(b.c_str()), 1); // rla.so is loaded already
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> names;
        void *module = nullptr;
        const char *name = nullptr;
        while (zep_plugins_enumerate(&module, &name)) {
            EXPECT_NE(module, nullptr);
            names.emplace_back(name);
        }
        EXPECT_EQ(names, (std::vector<std::string>{a + "/rla.so", b + "/rlb.so"})) << round;
    }
    // Unloading and starting again gives the same registry.
    ASSERT_EQ(zep_plugins_init(nullptr), 0);
    zep_plugins_exit();
    ASSERT_EQ(zep_plugins_load(b.c_str()), 2);
    ASSERT_EQ(zep_plugins_init(nullptr), 0);
    EXPECT_EQ(plugin_keys(), (std::vector<std::string>{"rla", "rlb"}));
}

TEST_F(PluginLoader, OutOfMemoryLoadsNothingAndLeavesTheLoaderUsable)
{
    const std::string long_name(120, 'd'); // longer than a short string holds
    const std::string a = folder(long_name, {"rla.so", "rlb.so"});
    int failed_rounds = 0;
    for (int n = 1; n < 200; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        reports.clear();
        zep__err = 0;
        err__alloc_fail(n, 0);
        const int rc = zep_plugins_load(a.c_str());
        const bool failed = err__alloc_fail(0, 0) != 0;
        if (!failed) {
            EXPECT_EQ(rc, 2);
            break;
        }
        ++failed_rounds;
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(zep__err, ZEP_E_NOMEM);
        EXPECT_EQ(zep_plugins_count(), 0);
        EXPECT_TRUE(reported("No more internal memory"));
    }
    EXPECT_GT(failed_rounds, 3);
    ASSERT_EQ(zep_plugins_init(nullptr), 0);
    EXPECT_EQ(plugin_keys(), (std::vector<std::string>{"rla", "rlb"}));
}

} // namespace
