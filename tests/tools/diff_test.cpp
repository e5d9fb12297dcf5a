// zep diff: equal files, the count, largest difference and first place of
// differing samples over every image and channel group, the tolerance,
// NaN samples, layouts that cannot be compared, and errors (exit 2).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "sample_image.h"

namespace {

using namespace tooltest;

constexpr ZEP_CHAN_GROUP group(int count, int type, int width)
{
    return {nullptr, count, type, width};
}

class ToolDiff : public SampleTest {
  protected:
    // Image 0: 8 x 5, 3 int8 colour channels, an int8 matte, a float aux
    // channel; image 1: window 2..6 x 1..3, one int16 colour channel.
    static std::vector<ZEP_IMAGE_DESC> images()
    {
        std::vector<ZEP_IMAGE_DESC> v{describe(8, 5, group(3, ZEP_C_INTEGER, 8),
                                               group(1, ZEP_C_INTEGER, 8),
                                               group(1, ZEP_C_FLOAT, 32)),
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

TEST_F(ToolDiff, EqualFilesOfAnyFormatExitZero)
{
    write("a.rla", images(), base);
    write("b.rlb", images(), base);
    const Outcome r = zep({"diff", "a.rla", "b.rlb"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // 8 * 5 * 5 + 5 * 3 * 1 samples.
    EXPECT_EQ(r.out, "a.rla and b.rlb are equal: 2 images, 215 samples compared\n");
}

TEST_F(ToolDiff, CountsTheLargestAndFirstDifference)
{
    struct Change {
        int i, k, x, y;
        double delta;
    };
    struct Case {
        std::vector<Change> changes;
        std::string out;
    } cases[] = {
        {{{0, 1, 3, 2, 5}},
         "a.rla and b.rla differ: 1 of 215 samples compared\n"
         "largest difference: 5 at image 0, colour channel 1, x 3, y 2\n"
         "first difference: 26 and 31 at image 0, colour channel 1, x 3, y 2\n"},
        // Lines are compared from the window bottom up: y 0 comes first.
        {{{0, 3, 1, 1, 3}, {0, 4, 4, 0, 0.5}},
         "a.rla and b.rla differ: 2 of 215 samples compared\n"
         "largest difference: 3 at image 0, matte channel 0, x 1, y 1\n"
         "first difference: 5 and 5.5 at image 0, aux channel 0, x 4, y 0\n"},
        // Positions are in the window's own coordinates.
        {{{1, 0, 5, 3, 1000}, {0, 2, 7, 4, 1}},
         "a.rla and b.rla differ: 2 of 215 samples compared\n"
         "largest difference: 1000 at image 1, colour channel 0, x 5, y 3\n"
         "first difference: 5 and 6 at image 0, colour channel 2, x 7, y 4\n"},
    };
    write("a.rla", images(), base);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.out);
        write("b.rla", images(), [&c](int i, int k, int x, int y) {
            double v = base(i, k, x, y);
            for (const Change &ch : c.changes)
                if (ch.i == i && ch.k == k && ch.x == x && ch.y == y) v += ch.delta;
            return v;
        });
        const Outcome r = zep({"diff", "a.rla", "b.rla"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(ToolDiff, ToleranceAndNotANumber)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto floats = [](int, int, int x, int y) { return x * 0.25 + y; };
    const std::vector<ZEP_IMAGE_DESC> one{describe(4, 3, group(2, ZEP_C_FLOAT, 32))};
    write("a.rla", one, floats);
    write("b.rla", one, [&](int i, int k, int x, int y) {
        return floats(i, k, x, y) + (k == 1 && x == 2 && y == 1 ? 0.01 : 0.0);
    });
    write("nan1.rla", one, [&](int i, int k, int x, int y) {
        return k == 0 && x == 0 && y == 0 ? nan : floats(i, k, x, y);
    });
    write("nan2.rla", one, [&](int i, int k, int x, int y) {
        return k == 0 && x == 0 && y == 0 ? nan : floats(i, k, x, y);
    });
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out_has;
    } cases[] = {
        {{"a.rla", "b.rla"}, 1, "differ: 1 of 24 samples"},
        {{"a.rla", "b.rla", "--tolerance", "0.02"}, 0, "are equal"},
        {{"a.rla", "b.rla", "-t", "0.005"}, 1, "largest difference: 0.00999999046"},
        {{"nan1.rla", "nan2.rla"}, 0, "are equal: 1 image, 24 samples"},
        {{"nan1.rla", "a.rla", "--tolerance", "100"},
         1,
         "largest difference: inf at image 0, "
         "colour channel 0, x 0, y 0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        std::vector<std::string> args{"diff"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = zep(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.out.find(c.out_has), std::string::npos) << r.out;
    }
}

TEST_F(ToolDiff, LayoutsThatCannotBeCompared)
{
    write("a.rla", images(), base);
    struct Case {
        std::string name;
        std::vector<ZEP_IMAGE_DESC> images;
        std::string line;
    } cases[] = {
        {"one.rla", {images()[0]}, "image counts differ: 2 and 1\n"},
        {"wide.rla",
         {describe(9, 5, group(3, ZEP_C_INTEGER, 8), group(1, ZEP_C_INTEGER, 8),
                   group(1, ZEP_C_FLOAT, 32)),
          images()[1]},
         "image 0: windows differ: 0,7,0,4 and 0,8,0,4\n"},
        {"deep.rla",
         {describe(8, 5, group(3, ZEP_C_INTEGER, 16), group(1, ZEP_C_INTEGER, 8),
                   group(1, ZEP_C_FLOAT, 32)),
          images()[1]},
         "image 0: colour channels differ: 3 int8 and 3 int16\n"},
        {"nomatte.rla",
         {describe(8, 5, group(3, ZEP_C_INTEGER, 8), group(0, ZEP_C_INTEGER, 8),
                   group(1, ZEP_C_FLOAT, 32)),
          images()[1]},
         "image 0: matte channels differ: 1 int8 and 0 int8\n"},
    };
    std::vector<ZEP_IMAGE_DESC> shifted = images();
    shifted[1].active = {3, 6, 1, 2};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        write(c.name, c.images, base);
        const Outcome r = zep({"diff", "a.rla", c.name});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.out.rfind(c.line, 0), 0u) << r.out;
    }
    write("active.rla", shifted, base);
    const Outcome r = zep({"diff", "a.rla", "active.rla"});
    EXPECT_EQ(r.status, 1);
    // Image 0 is still compared and equal.
    EXPECT_EQ(r.out, "image 1: active windows differ: 2,6,1,3 and 3,6,1,2\n"
                     "a.rla and active.rla differ: 0 of 200 samples compared\n");
}

TEST_F(ToolDiff, ErrorsExitTwoWithOneLine)
{
    write("a.rla", images(), base);
    const std::string one = write("one.rla", {images()[0]}, base);
    const std::string bytes = slurp(one);
    spit(path("cut.rla"), bytes.substr(0, bytes.size() - 20));
    spit(path("garbage.rla"), std::string(1000, 'z'));
    struct Case {
        std::vector<std::string> args;
        std::string err_has;
    } cases[] = {
        {{"a.rla", "missing.rla"}, "zep: missing.rla: Cannot open file"},
        {{"missing.rla", "a.rla"}, "zep: missing.rla: Cannot open file"},
        {{"garbage.rla", "a.rla"}, "zep: garbage.rla: "},
        {{"one.rla", "cut.rla"}, "zep: cut.rla: Cannot read scanline"},
        // The pipe format opens for reading but holds nothing.
        {{"a.rla", "x.pipe"}, "zep: x.pipe: the file holds no image"},
        {{"a.rla", "a.rla", "--tolerance", "-1"}, "--tolerance"},
        {{"a.rla"}, "B"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.err_has);
        std::vector<std::string> args{"diff"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = zep(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
        if (c.err_has.rfind("zep: ", 0) == 0) {
            EXPECT_EQ(r.err.rfind(c.err_has, 0), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
}

} // namespace
