// The plug-in loading helper: the folders it searches, the order it loads
// modules in, files that are not modules or do not load, the enumeration
// handed to ZEP_init, unloading, and running out of memory while loading.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <zep/zep.h>

#include "zep_plugins.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

std::string reports; // the messages reported, one a line

Names loaded_paths()
{
    Names out;
    for (int i = 0; i < zep_plugins_count(); ++i)
        out.emplace_back(zep_plugins_path(i));
    return out;
}

// Keys of the registered plug-in formats, in registry order.
Names plugin_keys()
{
    Names keys;
    ZEP_init(nullptr, nullptr);
    while (const ZEP_FILE_TYPE *t = ZEP_info())
        keys.emplace_back(t->key);
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
        ASSERT_TRUE(ERR_dcl_handler(
            nullptr,
            [](const char *, int, const char *m, ERR_RECORD *, void *) {
                return reports += m + std::string("\n"), 0;
            },
            nullptr));
    }
    void TearDown() override
    {
        zep_plugins_exit();
        ERR_can_handler(nullptr);
        unsetenv("ZEP_PLUGIN_PATH");
        fs::remove_all(dir_);
    }

    // A folder under the test's folder holding links to the named modules.
    std::string folder(const std::string &name, const Names &links)
    {
        const fs::path f = dir_ / name, built = ZEP_BUILD_PLUGIN_DIR, test = ZEP_TEST_PLUGIN_DIR;
        fs::create_directories(f);
        for (const auto &l : links)
            fs::create_symlink(fs::exists(built / l) ? built / l : test / l, f / l);
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
    std::ofstream(b + "/broken.so") << "not a shared object";
    setenv("ZEP_PLUGIN_PATH", (a + "::" + b + ":" + (dir_ / "absent").string()).c_str(), 1);

    ASSERT_EQ(zep_plugins_init(nullptr), 0);
    // b/rlb.so is hidden by a/rlb.so; broken.so is reported and skipped.
    EXPECT_EQ(loaded_paths(),
              (Names{a + "/rlb.so", a + "/tst_format.so", a + "/tst_noversion.so", b + "/rla.so"}));
    EXPECT_NE(reports.find(b + "/broken.so: plug-in module not loaded"), std::string::npos);
    // The library rejects the module without a version, naming it by path.
    EXPECT_NE(reports.find(a + "/tst_noversion.so: version must be defined"), std::string::npos);
    EXPECT_EQ(plugin_keys(), (Names{"rlb", "tst", "rla"}));
}

TEST_F(PluginLoader, PathArgumentEmptyVariableAndDefaultFolder)
{
    const std::string only = folder("only", {"rla.so"});
    // ZEP_PLUGIN_PATH (null: unset), the argument, the keys loaded: the
    // argument wins; set but empty means no modules; unset, the build tree's.
    const std::tuple<const char *, const char *, Names> cases[] = {
        {"/nowhere", only.c_str(), {"rla"}}, {"", nullptr, {}}, {nullptr, nullptr, {"rla", "rlb"}}};
    for (const auto &[env, argument, keys] : cases) {
        SCOPED_TRACE(env ? env : "(unset)");
        env ? setenv("ZEP_PLUGIN_PATH", env, 1) : unsetenv("ZEP_PLUGIN_PATH");
        ASSERT_EQ(zep_plugins_load(argument), int(keys.size()));
        ASSERT_EQ(zep_plugins_init(nullptr), 0);
        EXPECT_EQ(plugin_keys(), keys);
        for (const auto &p : loaded_paths())
            EXPECT_TRUE(env || fs::path(p).parent_path() == ZEP_BUILD_PLUGIN_DIR) << p;
        EXPECT_NE(ZEP_find("mem"), nullptr); // the built-in formats are always there
        zep_plugins_exit();
        EXPECT_TRUE(zep_plugins_count() == 0 && zep_plugins_path(0) == nullptr);
    }
}

TEST_F(PluginLoader, EnumeratorRestartsAndLoadsAreCumulative)
{
    const std::string a = folder("a", {"rla.so"}), b = folder("b", {"rla.so", "rlb.so"});
    ASSERT_EQ(zep_plugins_load(a.c_str()), 1);
    ASSERT_EQ(zep_plugins_load(b.c_str()), 1); // rla.so is loaded already
    for (int round = 0; round < 2; ++round) {
        Names names;
        void *module = nullptr;
        const char *name = nullptr;
        while (zep_plugins_enumerate(&module, &name)) {
            EXPECT_NE(module, nullptr);
            names.emplace_back(name);
        }
        EXPECT_EQ(names, (Names{a + "/rla.so", b + "/rlb.so"})) << round;
    }
}

TEST_F(PluginLoader, OutOfMemoryLoadsNothingAndLeavesTheLoaderUsable)
{
    const std::string a = folder(std::string(120, 'd'), {"rla.so", "rlb.so"}); // a long path
    int failed_rounds = 0;
    for (int n = 1; n < 200; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        reports.clear();
        zep__err = 0;
        err__alloc_fail(n, 0);
        const int rc = zep_plugins_load(a.c_str());
        if (err__alloc_fail(0, 0) == 0) {
            EXPECT_EQ(rc, 2);
            break;
        }
        ++failed_rounds;
        EXPECT_EQ(std::pair(rc, zep__err), std::pair(-1, int(ZEP_E_NOMEM)));
        EXPECT_EQ(zep_plugins_count(), 0);
        EXPECT_NE(reports.find("No more internal memory"), std::string::npos);
    }
    EXPECT_GT(failed_rounds, 3);
    ASSERT_EQ(zep_plugins_init(nullptr), 0);
    EXPECT_EQ(plugin_keys(), (Names{"rla", "rlb"}));
}

} // namespace
