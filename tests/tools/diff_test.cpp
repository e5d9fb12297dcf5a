// zep diff: equal files, the count, largest difference and first place of
// differing samples over every image and channel group, the tolerance, NaN
// samples, and layouts that cannot be compared (exit 1).
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "tool_test.h"

namespace {

using namespace tooltest;

class ToolDiff : public ToolTest {
  protected:
    // Image 0: 8 x 5, 3 int8 colour channels, an int8 matte, a float aux
    // channel; image 1: window 2..6 x 1..3, one int16 colour channel.
    static std::vector<ZEP_IMAGE_DESC> images(ZEP_CHAN_GROUP chan = group(3), int width = 8,
                                              ZEP_CHAN_GROUP matte = group(1))
    {
        std::vector<ZEP_IMAGE_DESC> v{describe(width, 5, chan, matte, group(1, ZEP_C_FLOAT, 32)),
                                      describe(5, 3, group(1, ZEP_C_INTEGER, 16))};
        v[1].window = v[1].active = {2, 6, 1, 3};
        return v;
    }
    static double base(int i, int k, int x, int y)
    {
        const double v = (x * 3 + y * 5 + k * 7 + i) % 50;
        return i == 0 && k == 4 ? v / 8.0 : v;
    }
};

TEST_F(ToolDiff, CountsTheLargestAndFirstDifference)
{
    using Change = std::array<double, 5>; // image, channel, x, y, difference
    const std::pair<std::vector<Change>, std::string> cases[] = {
        {{}, "a.rla and b.rlb are equal: 2 images, 215 samples compared\n"}, // 8*5*5 + 5*3
        {{{0, 1, 3, 2, 5}},
         "a.rla and b.rlb differ: 1 of 215 samples compared\n"
         "largest difference: 5 at image 0, colour channel 1, x 3, y 2\n"
         "first difference: 26 and 31 at image 0, colour channel 1, x 3, y 2\n"},
        // Lines are compared from the window bottom up: y 0 comes first.
        {{{0, 3, 1, 1, 3}, {0, 4, 4, 0, 0.5}},
         "a.rla and b.rlb differ: 2 of 215 samples compared\n"
         "largest difference: 3 at image 0, matte channel 0, x 1, y 1\n"
         "first difference: 5 and 5.5 at image 0, aux channel 0, x 4, y 0\n"},
        // Positions are in the window's own coordinates.
        {{{1, 0, 5, 3, 1000}, {0, 2, 7, 4, 1}},
         "a.rla and b.rlb differ: 2 of 215 samples compared\n"
         "largest difference: 1000 at image 1, colour channel 0, x 5, y 3\n"
         "first difference: 5 and 6 at image 0, colour channel 2, x 7, y 4\n"}};
    write("a.rla", images(), base);
    for (const auto &[changes, out] : cases) {
        SCOPED_TRACE(out);
        write("b.rlb", images(), [&](int i, int k, int x, int y) {
            double v = base(i, k, x, y);
            for (const Change &c : changes)
                v += c[0] == i && c[1] == k && c[2] == x && c[3] == y ? c[4] : 0;
            return v;
        });
        const Outcome r = zep("diff a.rla b.rlb");
        EXPECT_EQ(r.status, changes.empty() ? 0 : 1) << r.err;
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(ToolDiff, ToleranceNotANumberAndLayoutsThatCannotBeCompared)
{
    const std::vector<ZEP_IMAGE_DESC> one{describe(4, 3, group(2, ZEP_C_FLOAT, 32))};
    // x / 4 + y, but `odd` at channel k0, (x0, y0).
    auto floats = [](int k0, int x0, int y0, double odd) {
        return [=](int, int k, int x, int y) {
            return k == k0 && x == x0 && y == y0 ? odd : x * 0.25 + y;
        };
    };
    write("f.rla", one, floats(-1, 0, 0, 0));
    write("g.rla", one, floats(1, 2, 1, 1.51));
    for (const char *name : {"nan1.rla", "nan2.rla"})
        write(name, one, floats(0, 0, 0, NAN));
    std::vector<ZEP_IMAGE_DESC> shifted = images();
    shifted[1].active = {3, 6, 1, 2};
    for (const auto &[name, layout] :
         std::vector<std::pair<std::string, std::vector<ZEP_IMAGE_DESC>>>{
             {"a.rla", images()},
             {"one.rla", {images()[0]}},
             {"wide.rla", images(group(3), 9)},
             {"deep.rla", images(group(3, ZEP_C_INTEGER, 16))},
             {"nomatte.rla", images(group(3), 8, group(0))},
             {"active.rla", shifted}})
        write(name, layout, base);
    // clang-format off
    const std::tuple<std::string, int, std::string> cases[] = {
        {"f.rla g.rla", 1, "differ: 1 of 24 samples"},
        {"f.rla g.rla --tolerance 0.02", 0, "are equal"},
        {"f.rla g.rla -t 0.005", 1, "largest difference: 0.00999999046"},
        {"nan1.rla nan2.rla", 0, "are equal: 1 image, 24 samples"},
        {"nan1.rla f.rla -t 100", 1, "difference: inf at image 0, colour channel 0, x 0, y 0"},
        {"a.rla one.rla", 1, "image counts differ: 2 and 1\n"},
        {"a.rla wide.rla", 1, "image 0: windows differ: 0,7,0,4 and 0,8,0,4\n"},
        {"a.rla deep.rla", 1, "image 0: colour channels differ: 3 int8 and 3 int16\n"},
        {"a.rla nomatte.rla", 1, "image 0: matte channels differ: 1 int8 and 0 int8\n"},
        // Image 0 is still compared when image 1 differs.
        {"a.rla active.rla", 1, "image 1: active windows differ: 2,6,1,3 and 3,6,1,2\n"
                                "a.rla and active.rla differ: 0 of 200 samples compared\n"}};
    // clang-format on
    for (const auto &[args, status, out_has] : cases) {
        SCOPED_TRACE(args);
        const Outcome r = zep("diff " + args);
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_NE(r.out.find(out_has), std::string::npos) << r.out;
    }
}

} // namespace
