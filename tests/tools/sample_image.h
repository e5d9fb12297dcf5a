// Shared by the pattern, convert and diff tool tests: writing image files
// through the library with samples from a function, and reading every
// sample of a file back as numbers, so that the tests check the tool with
// the library alone.
#ifndef ZEP_TESTS_TOOLS_SAMPLE_IMAGE_H
#define ZEP_TESTS_TOOLS_SAMPLE_IMAGE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "tool_test.h"
#include "zep_plugins.h"

namespace tooltest {

// Sample x of a channel row of group g (rows are 8-byte aligned).
inline double sample_of(const void *row, const ZEP_CHAN_GROUP &g, int x)
{
    if (g.type == ZEP_C_DOUBLE) return static_cast<const double *>(row)[x];
    if (g.type == ZEP_C_FLOAT) return static_cast<const float *>(row)[x];
    if (g.width <= 8) return static_cast<const uint8_t *>(row)[x];
    if (g.width <= 16) return static_cast<const uint16_t *>(row)[x];
    return static_cast<const uint32_t *>(row)[x];
}

inline void put_sample(void *row, const ZEP_CHAN_GROUP &g, int x, double v)
{
    if (g.type == ZEP_C_DOUBLE)
        static_cast<double *>(row)[x] = v;
    else if (g.type == ZEP_C_FLOAT)
        static_cast<float *>(row)[x] = float(v);
    else if (g.width <= 8)
        static_cast<uint8_t *>(row)[x] = uint8_t(v);
    else if (g.width <= 16)
        static_cast<uint16_t *>(row)[x] = uint16_t(v);
    else
        static_cast<uint32_t *>(row)[x] = uint32_t(v);
}

// Sample (x, y) of channel k (colour, then mattes, then auxiliary) of image i.
using SampleFn = std::function<double(int i, int k, int x, int y)>;

inline const ZEP_CHAN_GROUP &group_of(const ZEP_IMAGE_DESC &d, int k)
{
    return k < d.chan.count ? d.chan : k < d.chan.count + d.matte.count ? d.matte : d.aux;
}

inline int channels_of(const ZEP_IMAGE_DESC &d)
{
    return d.chan.count + d.matte.count + d.aux.count;
}

// Writes the images of info (handle, key and texts set by the caller) with
// samples from f, lines from each window's bottom up. "" or what failed.
inline std::string write_samples(ZEP_INFO &info, const SampleFn &f)
{
    ZEP_OBJECT *h = ZEP_open(&info, "w");
    if (!h) return "open failed: " + std::to_string(zep__err);
    std::string problem;
    void *saved = h->priv[0];
    for (int i = 0; problem.empty() && i < h->info.num_images; ++i) {
        h->priv[0] = h->priv[i];
        ZEP_IMAGE_DESC &d = h->info.images[i];
        const int width = d.window.right - d.window.left + 1;
        void **table = ZEP_chan_alloc(&d, width, "test", nullptr);
        for (int y = d.window.bottom; problem.empty() && y <= d.window.top; ++y) {
            for (int k = 0; k < channels_of(d); ++k)
                for (int x = 0; x < width; ++x)
                    put_sample(table[k], group_of(d, k), x, f(i, k, d.window.left + x, y));
            if (ZEP_scan_write(h, y, table) != 0) problem = "line " + std::to_string(y);
        }
        ZEP_chan_free(table);
    }
    h->priv[0] = saved;
    if (ZEP_close(h) != 0 && problem.empty()) problem = "close failed";
    return problem;
}

// Every sample of one image, with its description.
struct ImageSamples {
    ZEP_IMAGE_DESC desc{}; // strings cleared: they die with the handle
    std::vector<double> values;
    double at(int k, int x, int y) const
    {
        const int w = desc.window.right - desc.window.left + 1;
        const size_t line = size_t(y - desc.window.bottom) * size_t(channels_of(desc) * w);
        return values.at(line + size_t(k * w + (x - desc.window.left)));
    }
};

// A file read back: the description's texts and every image's samples.
struct FileSamples {
    bool ok = false;
    std::string key, name, desc, program, user, machine, date, filter;
    int job = 0, frame = 0, field = 0;
    std::vector<ImageSamples> images;
};

inline std::string text(const char *s) { return s ? s : ""; }

inline FileSamples read_samples(const std::string &file)
{
    FileSamples out;
    ZEP_INFO info;
    ZEP_info_init(&info);
    info.handle = const_cast<char *>(file.c_str());
    info.full_path = 1;
    ZEP_OBJECT *h = ZEP_open(&info, "r");
    ZEP_info_cleanup(&info, 0);
    if (!h) return out;
    const ZEP_INFO &in = h->info;
    out.key = text(in.key);
    out.name = text(in.name);
    out.desc = text(in.desc);
    out.program = text(in.program);
    out.user = text(in.user);
    out.machine = text(in.machine);
    out.date = text(in.date);
    out.filter = text(in.filter);
    out.job = in.job_num;
    out.frame = in.frame;
    out.field = in.field;
    out.ok = true;
    void *saved = h->priv[0];
    for (int i = 0; out.ok && i < in.num_images; ++i) {
        h->priv[0] = h->priv[i];
        ImageSamples img;
        img.desc = in.images[i];
        img.desc.aspect_name = nullptr;
        img.desc.chan.format = img.desc.matte.format = img.desc.aux.format = nullptr;
        img.desc.index.format = nullptr;
        const ZEP_IMAGE_DESC &d = in.images[i];
        const int width = d.window.right - d.window.left + 1;
        for (int y = d.window.bottom; out.ok && y <= d.window.top; ++y) {
            void **line = nullptr;
            if (ZEP_scan_read(h, y, &line) != 0 || !line) {
                out.ok = false;
                break;
            }
            for (int k = 0; k < channels_of(d); ++k)
                for (int x = 0; x < width; ++x)
                    img.values.push_back(sample_of(line[k], group_of(d, k), x));
        }
        out.images.push_back(std::move(img));
    }
    h->priv[0] = saved;
    ZEP_close(h);
    return out;
}

// Tool tests that write and read files through the library themselves,
// with the shipped modules (as the tool they run).
class SampleTest : public ToolTest {
  protected:
    static void SetUpTestSuite()
    {
        setenv("ZEP_PLUGIN_PATH", ZEP_BUILD_PLUGIN_DIR, 1);
        ASSERT_EQ(zep_plugins_init(nullptr), 0);
    }
    static void TearDownTestSuite() { zep_plugins_exit(); }

    // Writes `name` in the test folder (key null: by extension).
    // `fill` may set the description's texts and numbers.
    std::string write(const std::string &name, std::vector<ZEP_IMAGE_DESC> images,
                      const SampleFn &f, const char *key = nullptr,
                      const std::function<void(ZEP_INFO &)> &fill = {})
    {
        std::string file = path(name);
        ZEP_INFO info;
        ZEP_info_init(&info);
        info.handle = file.data();
        info.full_path = 1;
        info.key = const_cast<char *>(key);
        info.num_images = int32_t(images.size());
        info.images = images.data();
        if (fill) fill(info);
        EXPECT_EQ(write_samples(info, f), "") << name;
        ZEP_info_cleanup(&info, 0);
        return file;
    }

    // The names in the test folder, hidden ones included.
    std::vector<std::string> listing() const
    {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir_))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

} // namespace tooltest

#endif // ZEP_TESTS_TOOLS_SAMPLE_IMAGE_H
