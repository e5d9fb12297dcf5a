// zep pattern and zep convert: generated images read back through the
// library as described, conversions that keep every sample and the whole
// description, the pipe and memory formats, refused requests, and no
// output file left behind by a failure.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "sample_image.h"

namespace {

using namespace tooltest;

constexpr ZEP_CHAN_GROUP group(int count, int type, int width, const char *format = nullptr)
{
    return {const_cast<char *>(format), count, type, width};
}

// Runs the tool with standard error on a new terminal; returns what the
// terminal received and stores the exit status.
std::string run_on_terminal(const std::string &dir, std::vector<std::string> args, int *status)
{
    *status = -1;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no terminal";
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    args.insert(args.begin(), ZEP_TOOL_PATH);
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, slave, 2);
    posix_spawn_file_actions_addclose(&fa, slave);
    posix_spawn_file_actions_addclose(&fa, master);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(slave);
    std::string seen;
    if (rc == 0) {
        char buf[4096];
        ssize_t n;
        // The read fails (EIO) once the tool has closed the terminal.
        while ((n = read(master, buf, sizeof buf)) > 0)
            seen.append(buf, size_t(n));
        int ws = 0;
        waitpid(pid, &ws, 0);
        *status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    }
    close(master);
    return seen;
}

class ToolPattern : public SampleTest {};
class ToolConvert : public SampleTest {};

// The value the gradient, checker and constant patterns give channel k of
// image i at (x, y) of a width x height window, in the group's scale.
double expected(const std::string &pattern, const ZEP_CHAN_GROUP &g, int k, int i, int x, int y,
                int width, int height, double value, int size)
{
    const double top = g.type == ZEP_C_INTEGER ? std::ldexp(1.0, g.width) - 1 : 1.0;
    double v = value;
    if (pattern == "checker") v = ((x / size + y / size + k + i) & 1) ? 1 : 0;
    if (pattern == "gradient") {
        const double w = width - 1, h = height - 1;
        const int dir = (k + i) % 3;
        v = dir == 0 ? x / w : dir == 1 ? y / h : (x + y) / (w + h);
    }
    return g.type == ZEP_C_INTEGER ? std::round(v * top) : v * top;
}

TEST_F(ToolPattern, TypesAndPatternsReadBackAsDescribed)
{
    struct Case {
        std::vector<std::string> args;
        int type, width;
        std::string pattern;
        double value;
        int size;
    } cases[] = {
        {{"--type", "int8"}, ZEP_C_INTEGER, 8, "gradient", 0.5, 8},
        {{"--bits", "12", "--pattern", "checker", "--size", "2"},
         ZEP_C_INTEGER,
         12,
         "checker",
         0.5,
         2},
        {{"--type", "int32", "--pattern", "constant", "--value", "0.25"},
         ZEP_C_INTEGER,
         32,
         "constant",
         0.25,
         8},
        {{"--type", "int16", "--pattern", "constant"}, ZEP_C_INTEGER, 16, "constant", 0.5, 8},
        {{"--float"}, ZEP_C_FLOAT, 32, "gradient", 0.5, 8},
        {{"--type", "double", "--pattern", "checker", "--size", "3"},
         ZEP_C_DOUBLE,
         64,
         "checker",
         0.5,
         3},
    };
    const int width = 10, height = 6;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> args{"pattern", "p.rla",   "--width", "10",    "--height",
                                      "6",       "--matte", "1",       "--aux", "2"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = zep(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind("wrote p.rla (rla): 1 image of 10x6, 3 colour, 1 matte, 2 aux", 0),
                  0u)
            << r.out;

        const FileSamples f = read_samples(path("p.rla"));
        ASSERT_TRUE(f.ok);
        ASSERT_EQ(f.images.size(), 1u);
        const ImageSamples &img = f.images[0];
        const ZEP_IMAGE_DESC &d = img.desc;
        EXPECT_EQ(f.desc, "zep pattern: " + c.pattern);
        EXPECT_EQ(f.program, "zep");
        EXPECT_EQ(d.window.right, width - 1);
        EXPECT_EQ(d.window.top, height - 1);
        for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux}) {
            EXPECT_EQ(g->type, c.type);
            EXPECT_EQ(g->width, c.width);
        }
        EXPECT_EQ(d.chan.count + d.matte.count + d.aux.count, 6);
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int k = 0; k < 6; ++k)
                for (int x = 0; x < width; ++x) {
                    const double want = expected(c.pattern, group_of(d, k), k, 0, x, y, width,
                                                 height, c.value, c.size);
                    if (std::fabs(img.at(k, x, y) - want) > 1e-6 * std::max(1.0, want)) {
                        if (wrong++ < 3)
                            ADD_FAILURE() << "k " << k << " x " << x << " y " << y << ": "
                                          << img.at(k, x, y) << " want " << want;
                    }
                }
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(ToolPattern, ActiveWindowImagesAndNoise)
{
    const Outcome r = zep({"pattern", "a.rla", "--width", "9", "--height", "7", "--images", "2",
                           "--active", "2,6,1,4", "--pattern", "checker", "--size", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const FileSamples f = read_samples(path("a.rla"));
    ASSERT_TRUE(f.ok);
    ASSERT_EQ(f.images.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const ImageSamples &img = f.images[size_t(i)];
        const ZEP_WINDOW a = img.desc.active;
        EXPECT_EQ(a.left, 2);
        EXPECT_EQ(a.right, 6);
        EXPECT_EQ(a.bottom, 1);
        EXPECT_EQ(a.top, 4);
        for (int k = 0; k < 3; ++k)
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 9; ++x) {
                    const bool inside = x >= 2 && x <= 6 && y >= 1 && y <= 4;
                    const double want = inside ? ((x + y + k + i) & 1) * 255.0 : 0.0;
                    ASSERT_EQ(img.at(k, x, y), want) << i << " " << k << " " << x << " " << y;
                }
    }

    // Noise: the seed alone decides the samples, which spread over the range.
    for (const char *name : {"n1.rla", "n2.rla"})
        ASSERT_EQ(zep({"pattern", name, "--pattern", "noise", "--type", "int16"}).status, 0);
    ASSERT_EQ(
        zep({"pattern", "n3.rla", "--pattern", "noise", "--type", "int16", "--seed", "9"}).status,
        0);
    const FileSamples n1 = read_samples(path("n1.rla")), n2 = read_samples(path("n2.rla")),
                      n3 = read_samples(path("n3.rla"));
    ASSERT_TRUE(n1.ok && n2.ok && n3.ok);
    EXPECT_EQ(n1.images[0].values, n2.images[0].values);
    EXPECT_NE(n1.images[0].values, n3.images[0].values);
    const auto [lo, hi] =
        std::minmax_element(n1.images[0].values.begin(), n1.images[0].values.end());
    EXPECT_LT(*lo, 1000.0);
    EXPECT_GT(*hi, 64535.0);
}

TEST_F(ToolPattern, PipeStreamsRawLinesAndMemKeepsNoFile)
{
    const Outcome r = zep({"pattern", "x", "--key", "pipe", "--width", "5", "--height", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Only the stream on standard output: per line 2, W, then 3 planes.
    ASSERT_EQ(r.out.size(), 3u * (8 + 3 * 5));
    int32_t head[2];
    std::memcpy(head, r.out.data(), sizeof head);
    EXPECT_EQ(head[0], 2);
    EXPECT_EQ(head[1], 5);
    const std::string first_plane = r.out.substr(8, 5);
    EXPECT_EQ(first_plane, std::string("\x00\x40\x80\xbf\xff", 5));

    const Outcome m = zep({"pattern", "frame.mem", "--matte", "1"});
    EXPECT_EQ(m.status, 0) << m.err;
    EXPECT_NE(m.out.find("(mem)"), std::string::npos) << m.out;
    EXPECT_TRUE(listing().empty());
}

TEST_F(ToolPattern, RefusedRequestsWriteNothing)
{
    struct Case {
        std::vector<std::string> args;
        std::string err_has;
    } cases[] = {
        {{"p.rla", "--type", "int8", "--bits", "4"}, "--type excludes"},
        {{"p.rla", "--float", "--double"}, "exclude each other"},
        {{"p.rla", "--active", "0,64,0,10"}, "--active L,R,B,T must lie inside"},
        {{"p.rla", "--active", "5,4,0,10"}, "--active L,R,B,T must lie inside"},
        {{"p.rla", "--channels", "0"}, "at least one channel"},
        {{"p.rla", "--key", "nope"}, "unknown format key \"nope\""},
        {{"p.xyz"}, "zep: p.xyz: no format writes"},
        {{"p.pipe", "--images", "2"}, "zep: p.pipe: pipe cannot store multiple images"},
        {{"p.pipe", "--float"}, "the pipe format takes"},
        {{"p.rla", "--type", "int9"}, "int9"},
        {{"p.rla", "--width", "0"}, "--width"},
        {{"p.rla", "--active", "1,2,3"}, "--active"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.err_has);
        std::vector<std::string> args{"pattern"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = zep(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
        EXPECT_TRUE(listing().empty());
    }
}

// Two images with every kind of group, active windows, an offset window
// and every text of the description set.
std::vector<ZEP_IMAGE_DESC> two_images()
{
    std::vector<ZEP_IMAGE_DESC> images{
        describe(10, 6, group(3, ZEP_C_INTEGER, 16, "rgb"), group(1, ZEP_C_FLOAT, 32)),
        describe(7, 4, group(1, ZEP_C_INTEGER, 12), group(0, ZEP_C_INTEGER, 8),
                 group(2, ZEP_C_DOUBLE, 64, "raw"))};
    images[0].active = {2, 8, 1, 4};
    images[1].window = images[1].active = {3, 9, 2, 5};
    images[1].response.gamma = 2.2f;
    return images;
}

double mixed_sample(int i, int k, int x, int y)
{
    const double v = (x * 7 + y * 13 + k * 5 + i * 3) % 97;
    return k == 3 || (i == 1 && k > 0) ? v / 97.0 - 0.25 : v * (i == 0 ? 300 : 40);
}

void fill_texts(ZEP_INFO &info)
{
    info.name = const_cast<char *>("shot 12");
    info.desc = const_cast<char *>("tool round trip");
    info.program = const_cast<char *>("convert-test");
    info.machine = const_cast<char *>("farm-07");
    info.user = const_cast<char *>("lighting");
    info.filter = const_cast<char *>("gauss");
    info.job_num = 42;
    info.frame = 7;
    info.field = 1;
}

TEST_F(ToolConvert, CopiesEveryImageAndTheDescription)
{
    write("src.rla", two_images(), mixed_sample, nullptr, fill_texts);
    const FileSamples src = read_samples(path("src.rla"));
    ASSERT_TRUE(src.ok);
    struct Case {
        std::vector<std::string> args;
        std::string out, key;
    } cases[] = {
        {{"src.rla", "dst.rlb"}, "dst.rlb", "rlb"},
        {{"src.rla", "dst.rla", "-v"}, "dst.rla", "rla"},
        {{"src.rla", "named.img", "--key", "rlb"}, "named.img", "rlb"},
        {{"dst.rlb", "again.rla"}, "again.rla", "rla"}, // a copy of a copy
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.out);
        std::vector<std::string> args{"convert"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = zep(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, ""); // -v draws nothing when standard error is no terminal
        // An input is read by the format of its extension when that format
        // accepts the content: dst.rlb as "rlb".
        const std::string in_key = c.args[0].ends_with(".rlb") ? "rlb" : "rla";
        EXPECT_EQ(r.out, "converted " + c.args[0] + " (" + in_key + ") to " + c.out + " (" +
                             c.key + "): 2 images, 10 lines\n");

        const FileSamples dst = read_samples(path(c.out));
        ASSERT_TRUE(dst.ok);
        for (auto [a, b] : {std::pair{&src.name, &dst.name},
                            {&src.desc, &dst.desc},
                            {&src.program, &dst.program},
                            {&src.machine, &dst.machine},
                            {&src.user, &dst.user},
                            {&src.filter, &dst.filter},
                            {&src.date, &dst.date}})
            EXPECT_EQ(*a, *b);
        EXPECT_EQ(dst.job, 42);
        EXPECT_EQ(dst.frame, 7);
        EXPECT_EQ(dst.field, 1);
        ASSERT_EQ(dst.images.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            const ZEP_IMAGE_DESC &a = src.images[i].desc, &b = dst.images[i].desc;
            EXPECT_EQ(std::memcmp(&a.window, &b.window, sizeof a.window), 0);
            EXPECT_EQ(std::memcmp(&a.active, &b.active, sizeof a.active), 0);
            for (auto [ga, gb] :
                 {std::pair{&a.chan, &b.chan}, {&a.matte, &b.matte}, {&a.aux, &b.aux}}) {
                EXPECT_EQ(ga->count, gb->count);
                if (ga->count == 0) continue;
                EXPECT_EQ(ga->type, gb->type);
                EXPECT_EQ(ga->width, gb->width);
            }
            EXPECT_FLOAT_EQ(a.response.gamma, b.response.gamma);
            EXPECT_EQ(src.images[i].values, dst.images[i].values) << "image " << i;
        }
    }
}

TEST_F(ToolConvert, PipeAndMemOutputs)
{
    write("rgb.rla", {describe(6, 3, group(3, ZEP_C_INTEGER, 8))},
          [](int, int k, int x, int y) { return double(x * 10 + y * 100 + k); });
    const Outcome p = zep({"convert", "rgb.rla", "out.pipe"});
    ASSERT_EQ(p.status, 0) << p.err;
    ASSERT_EQ(p.out.size(), 3u * (8 + 3 * 6));
    // Lines go out from the window bottom up: line 0, channel 1 first.
    EXPECT_EQ(p.out.substr(8 + 6, 6), std::string("\x01\x0b\x15\x1f\x29\x33", 6));
    EXPECT_EQ(static_cast<unsigned char>(p.out[2 * 26 + 8]), 200); // line 2, x 0, channel 0

    const Outcome m = zep({"convert", "rgb.rla", "copy", "--key", "mem"});
    EXPECT_EQ(m.status, 0) << m.err;
    EXPECT_EQ(m.out, "converted rgb.rla (rla) to copy (mem): 1 image, 3 lines\n");
    EXPECT_FALSE(fs::exists(path("copy")));
}

TEST_F(ToolConvert, FailuresLeaveNoOutputBehind)
{
    const std::string src = write("src.rla", {describe(40, 20, group(3, ZEP_C_INTEGER, 8))},
                                  [](int, int k, int x, int y) { return (x * y + k) % 251; });
    write("float.rla", {describe(4, 2, group(3, ZEP_C_FLOAT, 32))},
          [](int, int, int x, int) { return x / 4.0; });
    const std::string bytes = slurp(src);
    // The header and line table stay whole: the open succeeds and the last
    // lines cannot be read, after the first ones have been written.
    spit(path("cut.rla"), bytes.substr(0, bytes.size() - 30));
    spit(path("garbage.rla"), std::string(1500, 'x'));
    spit(path("kept.rla"), "an older file");
    struct Case {
        std::vector<std::string> args;
        std::string err_has;
    } cases[] = {
        {{"cut.rla", "out.rla"}, "zep: cut.rla: Cannot read scanline"},
        {{"cut.rla", "kept.rla"}, "zep: cut.rla: Cannot read scanline"},
        {{"cut.rla", "out.mem"}, "zep: cut.rla: Cannot read scanline"},
        {{"garbage.rla", "out.rla"}, "zep: garbage.rla: "},
        {{"missing.rla", "out.rla"}, "zep: missing.rla: Cannot open file"},
        {{"src.rla", "out.rla", "--key", "nope"}, "zep: out.rla: unknown format key \"nope\""},
        {{"src.rla", "out.xyz"}, "zep: out.xyz: no format writes files of this name"},
        {{"float.rla", "out.pipe"}, "zep: out.pipe: the pipe format takes 3 integer"},
        // The message names the file asked for, not the temporary one.
        {{"src.rla", "no/such/folder/out.rla"},
         "zep: no/such/folder/out.rla: Cannot open file no/such/folder/out.rla;"},
    };
    const std::vector<std::string> before = listing();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        std::vector<std::string> args{"convert"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = zep(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(c.err_has, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(listing(), before);
    }
    EXPECT_EQ(slurp(path("kept.rla")), "an older file");
}

TEST_F(ToolConvert, ProgressBarOnlyOnATerminal)
{
    ASSERT_EQ(zep({"pattern", "big.rla", "--width", "300", "--height", "200"}).status, 0);
    int status = -1;
    const std::string seen =
        run_on_terminal(dir_.string(), {"convert", "big.rla", "copy.rla", "-v"}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(seen.find("converting copy.rla ["), std::string::npos) << seen;
    EXPECT_NE(seen.find("] 100%"), std::string::npos) << seen;
    EXPECT_NE(seen.find("##########"), std::string::npos) << seen;
    // Without -v the terminal stays quiet.
    const std::string quiet =
        run_on_terminal(dir_.string(), {"convert", "big.rla", "copy2.rla"}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(quiet, "");
}

TEST_F(ToolConvert, PatternConvertDiffChain)
{
    ASSERT_EQ(zep({"pattern", "a.rla", "--matte", "1", "--pattern", "noise"}).status, 0);
    ASSERT_EQ(zep({"convert", "a.rla", "b.rlb"}).status, 0);
    const Outcome d = zep({"diff", "a.rla", "b.rlb"});
    EXPECT_EQ(d.status, 0) << d.out << d.err;
    EXPECT_EQ(d.out, "a.rla and b.rlb are equal: 1 image, 12288 samples compared\n");
}

} // namespace
