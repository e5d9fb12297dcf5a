// Shared by the multi-frame cache and playback tests: a fixture that loads
// the "mfr" multi-frame module and the single-frame "tst" module, makes
// their files in a temporary folder and reads the modules' counters of real
// opens and closes.
#ifndef ZEP_TESTS_IMAGE_CORE_MF_SUPPORT_H
#define ZEP_TESTS_IMAGE_CORE_MF_SUPPORT_H

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <zep/zep.h>

#include "image/builtin/support.h"
#include "image/plugin_loader.h"

namespace mf_test {

using namespace builtin_test;

// Byte i of row y of frame f of an "mfr" file made with seed s.
inline uint8_t mfr_byte(int s, int f, int y, int i)
{
    return static_cast<uint8_t>(s * 29 + f * 17 + y * 5 + i);
}

inline void put32(FILE *f, int32_t v)
{
    uint8_t b[4];
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
    std::fwrite(b, 1, 4, f);
}

// Writes an "mfr" file: frames of width x height, three 8-bit planes a row.
inline void make_mfr(const std::string &path, int frames, int width, int height, int seed)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite("ZMFR", 1, 4, f);
    put32(f, frames);
    put32(f, width);
    put32(f, height);
    for (int fr = 0; fr < frames; ++fr)
        for (int y = 0; y < height; ++y)
            for (int i = 0; i < 3 * width; ++i)
                std::fputc(mfr_byte(seed, fr, y, i), f);
    ASSERT_EQ(std::fclose(f), 0);
}

// Writes a "tst" file: three 8-bit channels, no mattes, rows of zeros.
inline void make_tst(const std::string &path, int width, int height)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite("ZTST", 1, 4, f);
    for (int32_t v : {0, width - 1, 0, height - 1, 3, 0})
        put32(f, v);
    for (int i = 0; i < 3 * width * height; ++i)
        std::fputc(0, f);
    ASSERT_EQ(std::fclose(f), 0);
}

struct TstCounters {
    int read_opens;
    int write_opens;
    int closes;
};

// Loads the modules (before the library starts) and removes the folder.
class MultiFrameTest : public LibraryTest {
  protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        unsetenv("KV_ZEP_MULTIFRAME_OPEN");
        std::string tmpl = (std::filesystem::temp_directory_path() / "zep_mf_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        plugins_ = std::make_unique<zeptest::Plugins>(
            std::vector<std::string>{"tst_multiframe", "tst_format"});
        opens_ = static_cast<int *>(dlsym(plugins_->handle(0), "mfr_opens"));
        closes_ = static_cast<int *>(dlsym(plugins_->handle(0), "mfr_closes"));
        last_call_ = static_cast<int *>(dlsym(plugins_->handle(0), "mfr_last_call"));
        last_priv_ = static_cast<void **>(dlsym(plugins_->handle(0), "mfr_last_priv"));
        last_args_ = static_cast<intptr_t *>(dlsym(plugins_->handle(0), "mfr_last_args"));
        auto fn =
            reinterpret_cast<const TstCounters *(*)()>(dlsym(plugins_->handle(1), "tst_counters"));
        ASSERT_TRUE(opens_ && closes_ && last_call_ && last_priv_ && last_args_ && fn);
        tst_ = fn();
    }
    void TearDown() override
    {
        LibraryTest::TearDown();
        plugins_.reset();
        unsetenv("KV_ZEP_MULTIFRAME_OPEN");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Starts the library with both modules.
    void start() { ASSERT_EQ(plugins_->init(), 0); }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    // Opens a file for reading with the format its extension names.
    ZEP_OBJECT *open_r(const std::string &file, ZEP_CAP_SETTING **settings = nullptr)
    {
        Info info(file);
        info.info.cap_settings = settings;
        return ZEP_open(info.get(), "r");
    }

    int opens() const { return *opens_; }
    int closes() const { return *closes_; }
    int still_open() const { return *opens_ - *closes_; }

    std::string dir_;
    std::unique_ptr<zeptest::Plugins> plugins_;
    int *opens_ = nullptr;
    int *closes_ = nullptr;
    int *last_call_ = nullptr;
    void **last_priv_ = nullptr;
    intptr_t *last_args_ = nullptr;
    const TstCounters *tst_ = nullptr;
};

} // namespace mf_test

#endif // ZEP_TESTS_IMAGE_CORE_MF_SUPPORT_H
