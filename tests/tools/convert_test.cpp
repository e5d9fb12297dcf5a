// zep pattern and zep convert: generated images as described, conversions
// that keep every sample and the whole description, the pipe and memory
// formats, the progress bar, and frame sequences converted one or two
// frames at a time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "tool_test.h"

namespace {

using namespace tooltest;
using ToolPattern = ToolTest;
using ToolConvert = ToolTest;

// The word after `option` in `args`, or `otherwise`.
std::string option(const std::string &args, const std::string &name, const std::string &otherwise)
{
    std::smatch m;
    return std::regex_search(args, m, std::regex(name + " (\\S+)")) ? m[1].str() : otherwise;
}

// The images written are compared with ones the test writes through the
// library (zep diff's own tests show that it finds every difference).
TEST_F(ToolPattern, TypesPatternsAndWindowsAreWrittenAsDescribed)
{
    const std::tuple<std::string, int, int> cases[] = {
        {"--type int8", ZEP_C_INTEGER, 8},
        {"--bits 12 --pattern checker --size 2", ZEP_C_INTEGER, 12},
        {"--type int32 --pattern constant --value 0.25", ZEP_C_INTEGER, 32},
        {"--type int16 --pattern constant", ZEP_C_INTEGER, 16},
        {"--float", ZEP_C_FLOAT, 32},
        {"--type double --pattern checker --size 3", ZEP_C_DOUBLE, 64},
        {"--images 2 --active 2,6,1,4 --pattern checker --size 1", ZEP_C_INTEGER, 8}};
    for (const auto &[args, type, width] : cases) {
        SCOPED_TRACE(args);
        const Outcome r = zep("pattern p.rla --width 10 --height 6 --matte 1 --aux 2 " + args);
        ASSERT_TRUE(r.status == 0 && r.err.empty()) << r.err;
        const std::string pattern = option(args, "--pattern", "gradient");
        const int images = std::stoi(option(args, "--images", "1"));
        const std::regex wrote("^wrote p.rla \\(rla\\): " + std::to_string(images) +
                               " images? of 10x6, 3 colour, 1 matte, 2 aux");
        EXPECT_TRUE(std::regex_search(r.out, wrote)) << r.out;
        const auto doc = info("p.rla");
        EXPECT_EQ(doc.at("0.description") + "|" + doc.at("0.program"),
                  "zep pattern: " + pattern + "|zep");
        // Channel k's gradient runs along x, y, x + y, x, ...; the checker's
        // squares alternate with k and the image; outside the active window, 0.
        ZEP_IMAGE_DESC d =
            describe(10, 6, group(3, type, width), group(1, type, width), group(2, type, width));
        ZEP_WINDOW &a = d.active;
        std::sscanf(option(args, "--active", "0,9,0,5").c_str(), "%d,%d,%d,%d", &a.left, &a.right,
                    &a.bottom, &a.top);
        const double top = type == ZEP_C_INTEGER ? std::ldexp(1.0, width) - 1 : 1.0;
        const double value = std::stod(option(args, "--value", "0.5"));
        const int size = std::stoi(option(args, "--size", "8"));
        write("want.rla", std::vector(size_t(images), d), [&](int i, int k, int x, int y) {
            double v = pattern == "constant" ? value
                       : pattern == "checker"
                           ? (x / size + y / size + k + i) & 1
                           : std::vector{x / 9.0, y / 5.0, (x + y) / 14.0}[k % 3];
            v = x < a.left || x > a.right || y < a.bottom || y > a.top ? 0 : v * top;
            return type == ZEP_C_INTEGER ? std::round(v) : v;
        });
        const Outcome c = zep("diff p.rla want.rla --tolerance 0.000001");
        EXPECT_EQ(c.status, 0) << c.out << c.err;
    }
}

TEST_F(ToolPattern, NoiseDependsOnTheSeedAndSpreadsOverTheRange)
{
    for (const char *args : {"noise n1.rla", "noise n2.rla", "noise n3.rla --seed 9",
                             "constant lo.rla --value 0", "constant hi.rla --value 1"})
        ASSERT_EQ(zep(std::string("pattern --type int16 --pattern ") + args).status, 0);
    EXPECT_EQ(zep("diff n1.rla n2.rla").status, 0);
    EXPECT_EQ(zep("diff n1.rla n3.rla").status, 1);
    // Some sample within 1000 of either end.
    for (const char *end : {"lo.rla", "hi.rla"}) {
        const std::string out = zep(std::string("diff n1.rla ") + end).out;
        EXPECT_GT(std::stod(option(out, "largest difference:", "0")), 64535.0) << out;
    }
}

TEST_F(ToolConvert, CopiesEveryImageAndTheDescription)
{
    // Every kind of group, active windows, an offset window, every text set.
    std::vector<ZEP_IMAGE_DESC> images{
        describe(10, 6, group(3, ZEP_C_INTEGER, 16, "rgb"), group(1, ZEP_C_FLOAT, 32)),
        describe(7, 4, group(1, ZEP_C_INTEGER, 12), group(0), group(2, ZEP_C_DOUBLE, 64, "raw"))};
    images[0].active = {2, 8, 1, 4};
    images[1].window = images[1].active = {3, 9, 2, 5};
    images[1].response.gamma = 2.2f;
    const auto samples = [](int i, int k, int x, int y) {
        const double v = (x * 7 + y * 13 + k * 5 + i * 3) % 97;
        return k == 3 || (i == 1 && k > 0) ? v / 97.0 - 0.25 : v * (i == 0 ? 300 : 40);
    };
    write("src.rla", images, samples, true);
    const auto src = info("src.rla");
    ASSERT_EQ(src.at("0.job") + src.at("0.images#"), "422");
    // The arguments and the line printed. An input is read by the format of
    // its extension when that format accepts the content: dst.rlb as "rlb".
    // -v draws nothing when standard error is no terminal.
    const std::pair<std::string, std::string> cases[] = {
        {"src.rla dst.rlb", "src.rla (rla) to dst.rlb (rlb)"},
        {"src.rla dst.rla -v", "src.rla (rla) to dst.rla (rla)"},
        {"src.rla named.img --key rlb", "src.rla (rla) to named.img (rlb)"},
        {"dst.rlb again.rla", "dst.rlb (rlb) to again.rla (rla)"}}; // a copy of a copy
    for (const auto &[args, line] : cases) {
        SCOPED_TRACE(args);
        const Outcome r = zep("convert " + args);
        ASSERT_TRUE(r.status == 0 && r.err.empty()) << r.err;
        EXPECT_EQ(r.out, "converted " + line + ": 2 images, 10 lines\n");
        // Every sample, and the whole description as the tool shows it.
        const std::string out = option(args, "^\\S+", ""); // the word after the input
        EXPECT_EQ(zep("diff src.rla " + out).status, 0);
        EXPECT_EQ(info(out), src);
    }
}

TEST_F(ToolConvert, PipeAndMemOutputs)
{
    // The pipe stream alone on standard output: per line 2, W, then 3 planes.
    const Outcome r = zep("pattern x --key pipe --width 5 --height 3");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.size(), 3u * (8 + 3 * 5));
    EXPECT_EQ(r.out.substr(0, 13), std::string("\2\0\0\0\5\0\0\0\x00\x40\x80\xbf\xff", 13));
    write("rgb.rla", {describe(6, 3, group(3))},
          [](int, int k, int x, int y) { return x * 10 + y * 100 + k; });
    const Outcome p = zep("convert rgb.rla out.pipe");
    ASSERT_EQ(p.status, 0) << p.err;
    ASSERT_EQ(p.out.size(), 3u * (8 + 3 * 6));
    // Lines go out from the window bottom up: line 0, channel 1 first.
    EXPECT_EQ(p.out.substr(8 + 6, 6), std::string("\x01\x0b\x15\x1f\x29\x33", 6));
    EXPECT_EQ(static_cast<unsigned char>(p.out[2 * 26 + 8]), 200); // line 2, x 0, channel 0
    // An image in memory leaves no file.
    for (const char *args : {"pattern frame.mem --matte 1", "convert rgb.rla copy --key mem"}) {
        const Outcome m = zep(args);
        EXPECT_TRUE(m.status == 0 && m.out.find(" (mem): 1 image") != std::string::npos) << m.out;
    }
    EXPECT_EQ(listing(), Names{"rgb.rla"});
}

TEST_F(ToolConvert, ProgressBarOnlyOnATerminal)
{
    ASSERT_EQ(zep("pattern big.rla --width 300 --height 200").status, 0);
    const Outcome bar = zep("convert big.rla copy.rla -v", true);
    const Outcome quiet = zep("convert big.rla copy2.rla", true); // without -v
    EXPECT_EQ(bar.status + quiet.status, 0);
    EXPECT_TRUE(std::regex_search(bar.err, std::regex("converting copy.rla \\[#{10,}\\] 100%")))
        << bar.err;
    EXPECT_EQ(quiet.err, "");
}

// "NAME.%04d.EXT" of frame f.
std::string frame(const char *name, int f, const char *ext = "rla")
{
    char text[64];
    std::snprintf(text, sizeof text, "%s.%04d.%s", name, f, ext);
    return text;
}

TEST_F(ToolConvert, FrameSequenceOnTwoThreadsEqualsOneAtATime)
{
    for (int f = 1; f <= 24; ++f) // every frame differs
        ASSERT_EQ(zep("pattern " + frame("in", f) +
                      " --type int16 --matte 1 --pattern noise "
                      "--seed " +
                      std::to_string(f))
                      .status,
                  0);
    const Outcome one = zep("convert in.0001.rla a.0001.rlb --frames 1-24");
    const Outcome two = zep("convert in.0005.rla b.0001.rlb --frames 1-24 -j 2 -v");
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(two.status, 0) << two.err;
    std::string lines[2];
    for (int f = 1; f <= 24; ++f) {
        SCOPED_TRACE(f);
        for (int k = 0; k < 2; ++k)
            lines[k] += "converted " + frame("in", f) + " (rla) to " +
                        frame(k ? "b" : "a", f, "rlb") + " (rlb): 1 image, 48 lines\n";
        const std::string a = slurp(path(frame("a", f, "rlb")));
        EXPECT_GT(a.size(), 64u * 48 * 4); // 16-bit noise does not shrink
        EXPECT_TRUE(a == slurp(path(frame("b", f, "rlb"))));
        EXPECT_EQ(zep("diff " + frame("in", f) + " " + frame("b", f, "rlb")).status, 0);
    }
    // Lines in frame order; one progress line per frame, as each is done.
    EXPECT_EQ(one.out, lines[0]);
    EXPECT_EQ(two.out, lines[1]);
    EXPECT_EQ(one.err, "");
    for (int done = 1; done <= 24; ++done)
        EXPECT_TRUE(std::regex_search(
            two.err, std::regex("^frame \\d+ done \\(" + std::to_string(done) + " of 24\\)$",
                                std::regex::multiline)));
}

TEST_F(ToolConvert, FailedFramesLeaveNoFileAndTheOthersComplete)
{
    for (int f : {1, 2, 4, 6})
        ASSERT_EQ(zep("pattern " + frame("in", f)).status, 0);
    const Outcome r = zep("convert in.0001.rla out.0001.rla --frames 1-6 -j 2");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(std::regex_match(r.err, std::regex("zep: in\\.0003\\.rla: [^\\n]+\\n"
                                                   "zep: in\\.0005\\.rla: [^\\n]+\\n"
                                                   "zep: convert: 2 of 6 frames failed: 3, 5\\n")))
        << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4);
    Names want{"in.0001.rla", "in.0002.rla", "in.0004.rla", "in.0006.rla"};
    for (int f : {1, 2, 4, 6})
        want.push_back(frame("out", f));
    std::sort(want.begin(), want.end());
    EXPECT_EQ(listing(), want);
    // Frames that would write one file, and ranges that are no ranges, are
    // refused before anything is written.
    for (const char *args :
         {"in.0001.rla one.rla --frames 1-2", "in.0001.rla x.0001.rla --frames 2-1",
          "in.0001.rla x.0001.rla --frames 1-200000", "in.0001.rla x.rla -j 2"}) {
        SCOPED_TRACE(args);
        const Outcome bad = zep(std::string("convert ") + args);
        EXPECT_EQ(bad.status, 2);
        EXPECT_NE(bad.err, "");
    }
    EXPECT_EQ(listing(), want);
}

} // namespace
