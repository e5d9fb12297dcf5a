// Shared pieces of the tool tests: a temporary folder per test, running the
// built tool with its output captured, writing image files through the
// library with the shipped modules, and reading JSON.
#ifndef ZEP_TESTS_TOOLS_TOOL_TEST_H
#define ZEP_TESTS_TOOLS_TOOL_TEST_H

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include <zep/zep.h>

#include "zep_plugins.h"

namespace tooltest {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

struct Outcome {
    int status; // -1 when the tool did not exit normally
    std::string out, err;
};

inline std::string slurp(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

constexpr ZEP_CHAN_GROUP group(int count, int type = ZEP_C_INTEGER, int width = 8,
                               const char *format = nullptr)
{
    return {const_cast<char *>(format), count, type, width};
}

// A planar description of gamma 1 with the window as active window.
inline ZEP_IMAGE_DESC describe(int width, int height, ZEP_CHAN_GROUP chan,
                               ZEP_CHAN_GROUP matte = group(0), ZEP_CHAN_GROUP aux = group(0))
{
    ZEP_IMAGE_DESC d{};
    d.usage = d.planar = 1;
    d.response = {ZEP_CURVE_ANALYTIC, 1.0f, 0u, 1, 256, ZEP_C_INTEGER, 8, nullptr};
    d.window = d.active = {0, width - 1, 0, height - 1};
    std::tie(d.chan, d.matte, d.aux) = std::tie(chan, matte, aux);
    d.index = group(0, ZEP_C_INTEGER, 16);
    return d;
}

// Sample x of a channel row of group g set to v.
inline void put(void *row, const ZEP_CHAN_GROUP &g, int x, double v)
{
    auto set = [&](auto *p) { p[x] = std::remove_pointer_t<decltype(p)>(v); };
    g.type == ZEP_C_DOUBLE  ? set(static_cast<double *>(row))
    : g.type == ZEP_C_FLOAT ? set(static_cast<float *>(row))
    : g.width <= 8          ? set(static_cast<uint8_t *>(row))
    : g.width <= 16         ? set(static_cast<uint16_t *>(row))
                            : set(static_cast<uint32_t *>(row));
}

// Sets every text and number of a file's description.
inline void fill_texts(ZEP_INFO &in)
{
    static char t[][32] = {
        "beauty", "a \"quoted\" line\nand caf\xc3\xa9", "tool-test", "farm-07", "lighting", "box"};
    std::tie(in.name, in.desc, in.program, in.machine, in.user, in.filter, in.job_num, in.frame,
             in.field) = std::tuple(t[0], t[1], t[2], t[3], t[4], t[5], 42, 7, 1);
}

// A JSON text as a flat map from paths such as "0.images.1.gamma" to the
// values' texts (strings unquoted); "PATH#" holds an array's length.
// Throws where the text stops being JSON.
class FlatJson {
  public:
    static std::map<std::string, std::string> parse(const std::string &s)
    {
        FlatJson p;
        static const std::regex token(
            R"(\s*("(?:[^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-f]{4})*")"
            R"(|-?\d+(?:\.\d+)?(?:[eE][-+]?\d+)?|true|false|null|[{}[\]:,]))");
        auto i = s.begin();
        for (std::smatch m;
             std::regex_search(i, s.end(), m, token, std::regex_constants::match_continuous);
             i = m[0].second)
            p.tokens_.push_back(m[1]);
        p.value("");
        if (p.at_ != p.tokens_.size() ||
            s.find_first_not_of(" \n", size_t(i - s.begin())) != s.npos)
            throw std::runtime_error("not JSON");
        return p.out_;
    }

  private:
    std::vector<std::string> tokens_;
    std::size_t at_ = 0;
    std::map<std::string, std::string> out_;
    std::string next() { return tokens_.at(at_++); } // throws at the end
    static std::string unquote(const std::string &t)
    {
        std::string out;
        static const std::string from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
        for (std::size_t i = 1; i + 1 < t.size(); ++i) {
            if (t[i] != '\\')
                out += t[i];
            else if (t[++i] != 'u')
                out += to[from.find(t[i])];
            else { // the tool escapes control and Latin-1 bytes only
                const unsigned long u = std::stoul(t.substr(i + 1, 4), nullptr, 16);
                out += u < 0x80 ? std::string(1, char(u))
                                : std::string{char(0xc0 | u >> 6), char(0x80 | (u & 0x3f))};
                i += 4;
            }
        }
        return out;
    }
    void value(const std::string &at)
    {
        const std::string t = next(), dot = at.empty() ? "" : at + ".";
        if (t == "{" || t == "[") {
            const std::string close = t == "{" ? "}" : "]";
            int n = 0;
            std::string sep = tokens_.at(at_) == close ? next() : ",";
            for (; sep == ","; sep = next()) {
                const std::string key = t == "[" ? std::to_string(n++) : unquote(next());
                if (t == "{" && next() != ":") throw std::runtime_error("not JSON: no ':'");
                value(dot + key);
            }
            if (sep != close) throw std::runtime_error("not JSON: " + sep);
            if (t == "[") out_[at + "#"] = std::to_string(n);
        } else if (std::string("}]:,").find(t[0]) != std::string::npos) {
            throw std::runtime_error("not JSON: " + t);
        } else {
            out_[at] = t[0] == '"' ? unquote(t) : t;
        }
    }
};

// A fresh folder for each test, removed afterwards, where the tool runs;
// the test and the tool use the shipped modules.
class ToolTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        setenv("ZEP_PLUGIN_PATH", ZEP_BUILD_PLUGIN_DIR, 1);
        ASSERT_EQ(zep_plugins_init(nullptr), 0);
    }
    static void TearDownTestSuite() { zep_plugins_exit(); }
    void SetUp() override
    {
        std::string d = (fs::temp_directory_path() / "zep-tool-XXXXXX").string();
        ASSERT_NE(mkdtemp(d.data()), nullptr);
        dir_ = d;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string &name) const { return (dir_ / name).string(); }

    // Runs the tool in the test's folder with the words of `args`, standard
    // input empty. With `terminal`, standard error goes to a new terminal
    // whose text lands in err, and standard output is dropped.
    Outcome zep(const std::string &args, bool terminal = false) const
    {
        const std::string run = "'" ZEP_TOOL_PATH "' " + args;
        const std::string command =
            "cd '" + dir_.string() + "' && " +
            (terminal ? "script -qec \"" + run + " >/dev/null\" /dev/null" : run) +
            " >.out 2>.err </dev/null";
        const int ws = std::system(command.c_str());
        Outcome r{WIFEXITED(ws) ? WEXITSTATUS(ws) : -1, slurp(path(".out")), slurp(path(".err"))};
        if (terminal) std::swap(r.out, r.err); // script copies the terminal to its output
        fs::remove(path(".out"));
        fs::remove(path(".err"));
        return r;
    }

    // zep info --json of one file, without its name, its format and the
    // aspect ratios (a file keeps these as short texts).
    std::map<std::string, std::string> info(const std::string &file) const
    {
        auto doc = FlatJson::parse(zep("info --json " + file).out);
        std::erase_if(doc, [](const auto &kv) {
            return std::regex_match(kv.first, std::regex("0\\.(file|format|format_name|.*ratio)"));
        });
        return doc;
    }

    // Writes `name` in the test folder in the format of its extension, with
    // f(i, k, x, y) as sample (x, y) of channel k (colour, then mattes, then
    // auxiliary) of image i; with `texts`, the description's texts set.
    std::string write(const std::string &name, std::vector<ZEP_IMAGE_DESC> images,
                      const std::function<double(int, int, int, int)> &f, bool texts = false)
    {
        std::string file = path(name);
        ZEP_INFO info;
        ZEP_info_init(&info);
        info.handle = file.data();
        info.full_path = 1;
        info.num_images = int32_t(images.size());
        info.images = images.data();
        if (texts) fill_texts(info);
        ZEP_OBJECT *h = ZEP_open(&info, "w");
        ZEP_info_cleanup(&info, 0);
        EXPECT_NE(h, nullptr) << name << ": " << zep__err;
        bool ok = h != nullptr;
        for (int i = 0; ok && i < h->info.num_images; ++i) {
            ZEP_IMAGE_DESC &d = h->info.images[i];
            const int width = d.window.right - d.window.left + 1;
            void **rows = ZEP_chan_alloc(&d, width, "test", nullptr), *saved = h->priv[0];
            h->priv[0] = h->priv[i];
            for (int y = d.window.bottom; ok && y <= d.window.top; ++y) {
                int k = 0;
                for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux})
                    for (int c = 0; c < g->count; ++c, ++k)
                        for (int x = 0; x < width; ++x)
                            put(rows[k], *g, x, f(i, k, d.window.left + x, y));
                ok = ZEP_scan_write(h, y, rows) == 0;
            }
            h->priv[0] = saved;
            ZEP_chan_free(rows);
        }
        EXPECT_TRUE(h && ZEP_close(h) == 0 && ok) << name;
        return file;
    }

    // The names in the test folder, hidden ones included.
    Names listing() const
    {
        Names names;
        for (const auto &e : fs::directory_iterator(dir_))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

} // namespace tooltest

#endif // ZEP_TESTS_TOOLS_TOOL_TEST_H
