// Shared pieces of the tool tests: a temporary folder per test, running the
// built zep tool (no shell) with its standard output and error captured,
// and writing image files through the library with the shipped plug-ins.
#ifndef ZEP_TESTS_TOOLS_TOOL_TEST_H
#define ZEP_TESTS_TOOLS_TOOL_TEST_H

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <zep/zep.h>

extern char **environ;

namespace tooltest {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1; // exit status; -1 when the tool did not exit normally
    std::string out, err;
};

inline std::string slurp(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void spit(const fs::path &p, const std::string &bytes)
{
    std::ofstream(p, std::ios::binary) << bytes;
}

// A fresh folder for each test, removed afterwards; the tool runs in it.
class ToolTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string d = (fs::temp_directory_path() / "zep-tool-XXXXXX").string();
        ASSERT_NE(mkdtemp(d.data()), nullptr);
        dir_ = d;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string path(const std::string &name) const { return (dir_ / name).string(); }

    // Runs the tool with args in the test's folder; standard input is empty.
    Outcome zep(const std::vector<std::string> &args) const
    {
        std::vector<std::string> argv_s{ZEP_TOOL_PATH};
        argv_s.insert(argv_s.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &a : argv_s) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = path(".out"), err = path(".err");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addchdir_np(&fa, dir_.c_str());
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        Outcome r;
        if (rc != 0) {
            ADD_FAILURE() << "cannot run " << argv[0];
            return r;
        }
        int ws = 0;
        waitpid(pid, &ws, 0);
        r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    fs::path dir_;
};

// A planar image description for writing: analytic curve of gamma 1, the
// window as image and active window.
inline ZEP_IMAGE_DESC describe(int width, int height, ZEP_CHAN_GROUP chan,
                               ZEP_CHAN_GROUP matte = {nullptr, 0, ZEP_C_INTEGER, 8},
                               ZEP_CHAN_GROUP aux = {nullptr, 0, ZEP_C_INTEGER, 8})
{
    ZEP_IMAGE_DESC d{};
    d.usage = 1;
    d.response = {ZEP_CURVE_ANALYTIC, 1.0f, 0u, 1, 256, ZEP_C_INTEGER, 8, nullptr};
    d.window = d.active = {0, width - 1, 0, height - 1};
    d.planar = 1;
    d.chan = chan;
    d.matte = matte;
    d.aux = aux;
    d.index = {nullptr, 0, ZEP_C_INTEGER, 16};
    return d;
}

// Writes the images of `info` (its handle and key set by the caller) with
// every sample of line y, channel c set to (x + y + c) & 0x7f; the library
// must already be started with the plug-ins. Returns "" or what failed.
inline std::string write_file(ZEP_INFO &info)
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
        const int channels = d.chan.count + d.matte.count + d.aux.count;
        for (int y = d.window.bottom; problem.empty() && y <= d.window.top; ++y) {
            for (int c = 0; c < channels; ++c) {
                const ZEP_CHAN_GROUP &g = c < d.chan.count ? d.chan
                                          : c < d.chan.count + d.matte.count ? d.matte
                                                                              : d.aux;
                for (int x = 0; x < width; ++x) {
                    const int v = (x + y + c) & 0x7f;
                    if (g.type == ZEP_C_FLOAT)
                        static_cast<float *>(table[c])[x] = float(v) / 127;
                    else if (g.type == ZEP_C_DOUBLE)
                        static_cast<double *>(table[c])[x] = double(v) / 127;
                    else if (g.width <= 8)
                        static_cast<uint8_t *>(table[c])[x] = uint8_t(v);
                    else if (g.width <= 16)
                        static_cast<uint16_t *>(table[c])[x] = uint16_t(v);
                    else
                        static_cast<uint32_t *>(table[c])[x] = uint32_t(v);
                }
            }
            if (ZEP_scan_write(h, y, table) != 0) problem = "line " + std::to_string(y);
        }
        ZEP_chan_free(table);
    }
    h->priv[0] = saved;
    if (ZEP_close(h) != 0 && problem.empty()) problem = "close failed";
    return problem;
}

} // namespace tooltest

#endif // ZEP_TESTS_TOOLS_TOOL_TEST_H
