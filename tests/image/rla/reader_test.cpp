// The RLA reader on hand-made files: the description, the pixels of every
// channel type, the limits of an open, streams and names, and memory (bad
// files: crashers_test.cpp; both layouts and chains: roundtrip_test.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "image/rla/rla_internal.h"
#include "rla_support.h"

extern "C" int rla_c_is_file(const char *path); // reader_c.c

namespace rlatest {
namespace {

// A channel group: storage code and bits, described type, sample bytes.
struct Kind {
    const char *label;
    int code, bits, type, bytes;
};
constexpr Kind kByte{"8-bit", 0, 8, ZEP_C_INTEGER, 1};
constexpr Kind kFloat{"float", 4, 32, ZEP_C_FLOAT, 4};

// The sample of channel c at window column x of line y, as its bits.
uint64_t sample(const Kind &k, int c, int x, int y)
{
    uint64_t u = 0;
    if (k.type == ZEP_C_FLOAT) {
        const float f = float(x) + float(y) / 8.0f + float(c) * 100.0f + 0.25f;
        std::memcpy(&u, &f, 4);
    } else if (k.type == ZEP_C_DOUBLE) {
        const double d = double(x) - double(y) / 3.0 + double(c) * 1e6;
        std::memcpy(&u, &d, 8);
    } else {
        u = (uint64_t(x) * 0x01030507u + uint64_t(y) * 0x1111u + uint64_t(c) * 0x55u + 1) &
            ((uint64_t{1} << k.bits) - 1);
    }
    return u;
}

// The payload of channel c of line y over h's active columns.
Bytes payload(const Kind &k, const Header &h, int c, int y)
{
    Bytes bytes;
    std::vector<uint32_t> ints;
    for (int x = h.active[0] - h.window[0]; x <= h.active[1] - h.window[0]; ++x) {
        const uint64_t s = sample(k, c, x, y);
        const auto *p = reinterpret_cast<const uint8_t *>(&s);
        if (k.type == ZEP_C_INTEGER)
            ints.push_back(uint32_t(s));
        else
            bytes.insert(bytes.end(), p, p + k.bytes);
    }
    return k.type == ZEP_C_INTEGER ? planes(ints, k.bytes) : bytes;
}

// The kind of channel c of h: colours of `colour`, matte `matte`, the rest 8-bit.
const Kind &kind_of(const Header &h, int c, const Kind &colour, const Kind &matte)
{
    return c < h.colours ? colour : c < h.colours + h.mattes ? matte : kByte;
}

// An image of h whose every active line is recorded.
Image image_of(Header h, const Kind &colour = kByte, const Kind &matte = kByte)
{
    h.storage = colour.code, h.colour_bits = colour.bits;
    h.matte_type = matte.code, h.matte_bits = matte.bits;
    Image im{h, {}, {}, {}};
    for (int y = h.active[2]; y <= h.active[3]; ++y) {
        im.records.emplace_back();
        for (int c = 0; c < h.colours + h.mattes + h.auxes; ++c)
            im.records.back() =
                cat({im.records.back(), channel(payload(kind_of(h, c, colour, matte), h, c, y))});
    }
    return im;
}

// Checks every channel of line y as read: the samples, zeros outside.
void expect_line(void **lines, const Header &h, int y, const Kind &colour = kByte,
                 const Kind &matte = kByte)
{
    const int width = h.window[1] - h.window[0] + 1;
    const bool active_line = y >= h.active[2] && y <= h.active[3];
    for (int c = 0; c < h.colours + h.mattes + h.auxes; ++c) {
        const Kind &k = kind_of(h, c, colour, matte);
        for (int x = 0; x < width; ++x) {
            const int wx = x + h.window[0];
            const bool active = active_line && wx >= h.active[0] && wx <= h.active[1];
            uint64_t got = 0;
            std::memcpy(&got, static_cast<uint8_t *>(lines[c]) + size_t(x) * size_t(k.bytes),
                        size_t(k.bytes));
            ASSERT_EQ(got, active ? sample(k, c, x, y) : 0u)
                << k.label << " c " << c << " x " << x << " y " << y;
        }
    }
}

void set_window(int *w, int left, int right, int bottom, int top)
{
    w[0] = left, w[1] = right, w[2] = bottom, w[3] = top;
}

TEST_F(RlaTest, DescribesTheFileFromImageZerosHeader)
{
    Header hd;
    set_window(hd.window, 2, 5, 10, 12);
    set_window(hd.active, 2, 5, 10, 12);
    hd.mattes = hd.auxes = 1;
    int code = 0;
    Handle h = open_reader(put("d.rla", build({image_of(hd)})), &code);
    ASSERT_TRUE(h) << code;
    const ZEP_INFO &info = h->info;
    ASSERT_EQ(info.num_images, 1);
    const ZEP_IMAGE_DESC &d = info.images[0];
    EXPECT_TRUE(d.usage == 1 && d.window.left == 2 && d.window.right == 5 &&
                d.window.bottom == 10 && d.active.top == 12);
    EXPECT_EQ(d.chan.count + 10 * d.matte.count + 100 * d.aux.count + 1000 * d.index.count, 113);
    EXPECT_EQ(d.matte.format, nullptr);
    EXPECT_TRUE(d.response.kind == ZEP_CURVE_ANALYTIC && d.planar == 1 &&
                d.scan_flags == ZEP_SCAN_BOTTOM_UP);
    EXPECT_FLOAT_EQ(d.response.gamma, 2.2f);
    for (auto [got, want] : {std::pair{info.name, "picture"},
                             {d.chan.format, "rgb"},
                             {d.aux.format, "depth"},
                             {d.aspect_name, "custom"},
                             {info.desc, "a test image"},
                             {info.program, "builder"},
                             {info.machine, "host"},
                             {info.user, "someone"},
                             {info.date, "Mon Jan  5 10:00:00"},
                             {info.time, "00:00:04"},
                             {info.filter, "box"},
                             {info.compression, "run length encoded"}})
        EXPECT_STREQ(got, want);
    EXPECT_TRUE(info.field == 3 && info.frame == 7 && info.job_num == 42);
    EXPECT_FLOAT_EQ(info.red_pri[1], 0.33f);
    EXPECT_FLOAT_EQ(info.white_pt[2], 1.0f - 0.31f - 0.316f);
}

TEST_F(RlaTest, GammaDateAndAspectTextsAreInterpreted)
{
    auto local = [](time_t t) {
        char buf[256];
        struct tm tm;
        localtime_r(&t, &tm);
        std::strftime(buf, sizeof buf, "%c", &tm);
        return std::string(buf);
    };
    // Each case checks every interpreted field: the edited one and the rest as made.
    struct Case {
        void (*edit)(Header &);
        int code = 0;
        float gamma = 2.2f;
        std::string date = "Mon Jan  5 10:00:00";
        int aspect_width = 4, aspect_height = 3;
        float ratio = 1.5f;
    } const cases[] = {
        {.edit = [](Header &h) { h.gamma = "      "; }, .gamma = 0},
        {.edit = [](Header &h) { h.gamma = "1e1"; }, .gamma = 10},
        {.edit = [](Header &h) { h.gamma = "abc"; }, .code = ZEP_E_NOT_KIND},
        {.edit = [](Header &h) { h.gamma = "2.2 "; }, .code = ZEP_E_NOT_KIND},
        {.edit = [](Header &h) { h.gamma = "1e999"; }, .code = ZEP_E_NOT_KIND}, // no float
        {.edit = [](Header &h) { h.gamma = "1e300"; }, .code = ZEP_E_NOT_KIND},
        {.edit = [](Header &h) { h.aspect_ratio = "1e300"; }, .ratio = 4.0f / 3.0f},
        {.edit = [](Header &h) { h.date = "{0}"; }, .date = local(0)},
        {.edit = [](Header &h) { h.date = "{1073296800}"; }, .date = local(1073296800)},
        {.edit = [](Header &h) { h.date = "{soon}"; }, .date = "{soon}"},
        {.edit = [](Header &h) { h.aspect_name = "ntsc_640"; }, // known
         .aspect_width = 640, .aspect_height = 486, .ratio = 1.33f},
        {.edit = [](Header &h) { h.aspect_ratio = "abc"; }, .ratio = 4.0f / 3.0f},
        {.edit = [](Header &h) { h.aspect_ratio = "-2.000"; }, .ratio = 4.0f / 3.0f},
        {.edit = [](Header &h) { h.aspect_name = ""; }},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE("case " + std::to_string(n++));
        Image im = image_of(Header{});
        c.edit(im.header);
        const std::string path = put("t.rla", build({im}));
        reports.clear();
        int code = 0;
        Handle h = open_reader(path, &code);
        EXPECT_EQ(code, c.code);
        if (h) {
            const ZEP_IMAGE_DESC &d = h->info.images[0];
            EXPECT_FLOAT_EQ(d.response.gamma, c.gamma);
            EXPECT_EQ(h->info.date, c.date);
            EXPECT_TRUE(d.aspect_width == c.aspect_width && d.aspect_height == c.aspect_height);
            EXPECT_FLOAT_EQ(d.aspect_ratio, c.ratio);
        }
        EXPECT_EQ(reported(text_of(zep::kNotOurFile, path.c_str())), c.code != 0);
    }
}

TEST_F(RlaTest, ReadsEveryChannelTypeWithPadsAndEmptyLinesZero)
{
    const Kind kinds[] = {
        {"1-bit", 0, 1, ZEP_C_INTEGER, 1},          {"12-bit", 0, 12, ZEP_C_INTEGER, 2},
        {"16-bit", 0, 16, ZEP_C_INTEGER, 2},        {"16-bit code 1", 1, 16, ZEP_C_INTEGER, 2},
        {"24-bit", 0, 24, ZEP_C_INTEGER, 4},        {"32-bit", 0, 32, ZEP_C_INTEGER, 4},
        {"32-bit code 2", 2, 32, ZEP_C_INTEGER, 4}, kFloat,
        {"double", 5, 64, ZEP_C_DOUBLE, 8},         kByte,
    };
    for (const Kind &k : kinds) {
        // Colours of the kind behind 8-bit mattes of an odd width: rows that
        // start on a 2-byte boundary.
        Header hd;
        set_window(hd.window, 0, 6, 0, 4);
        set_window(hd.active, 1, 4, 1, 3);
        hd.colours = 2, hd.mattes = 1;
        for (bool mattes_first : {false, true}) {
            const Kind &colour = mattes_first ? kByte : k, &matte = mattes_first ? k : kByte;
            int code = 0;
            Handle h = open_reader(put("p.rla", build({image_of(hd, colour, matte)})), &code);
            ASSERT_TRUE(h) << k.label << " " << code;
            EXPECT_EQ(h->info.images[0].chan.type, colour.type);
            EXPECT_EQ(h->info.images[0].matte.width, matte.bits);
            for (int y : {1, 2, 0, 3, 4, 1}) { // an empty line after an active one, and back down
                void **lines = nullptr;
                ASSERT_EQ(read_line(h.get(), 0, y, &lines), 0) << k.label << " y " << y;
                expect_line(lines, hd, y, colour, matte);
            }
        }
    }
}

TEST_F(RlaTest, LineFailuresAreReportedAndLeaveTheFileReadable)
{
    Header hd;
    Image im = image_of(hd);
    // Line 1's length passes any record; two bytes on, a plausible channel.
    Bytes &r = im.records[1];
    const Bytes rest(r.begin() + 2 + (r[0] << 8 | r[1]), r.end());
    r = cat({channel(cat({Bytes{0, 5}, literal({9, 9, 9, 9})}), 30000), rest});
    int code = 0;
    Handle h = open_reader(put("r.rla", build({im})), &code);
    ASSERT_TRUE(h);
    void **lines = nullptr;
    for (int y : {-1, 3}) {
        EXPECT_EQ(read_line(h.get(), 0, y, &lines), ZEP_E_SCANLINE);
        EXPECT_TRUE(reported(text_of(zep::kBadScanline, y)));
    }
    ASSERT_EQ(read_line(h.get(), 0, 0, &lines), 0);
    // Twice: a failed read leaves the stream where the position word says.
    for (int attempt = 0; attempt < 2; ++attempt) {
        reports.clear();
        EXPECT_EQ(read_line(h.get(), 0, 1, &lines), ZEP_E_READ);
        EXPECT_EQ(zep__err, ZEP_E_READ);
        EXPECT_TRUE(reported(text_of(zep::kCannotReadScanline, 1, "payload length out of range")));
    }
    ASSERT_EQ(read_line(h.get(), 0, 2, &lines), 0);
    expect_line(lines, hd, 2);
}

TEST_F(RlaTest, GroupsTheDecodersCannotDoAreRefusedWithTheGroupsMessage)
{
    struct Case {
        void (*edit)(Header &);
        const zep::Message &message;
    } cases[] = {
        {[](Header &h) { h.storage = 3; }, zep::kNoImageType},
        {[](Header &h) { h.colour_bits = 40; }, zep::kNoImageWidth},
        {[](Header &h) { h.storage = 5, h.colour_bits = 100; }, zep::kNoImageWidth},
        {[](Header &h) { h.matte_type = 6; }, zep::kNoMatteType},
        {[](Header &h) { h.matte_bits = 33; }, zep::kNoMatteWidth},
        {[](Header &h) { h.aux_type = -1; }, zep::kNoAuxType},
        {[](Header &h) { h.aux_type = 4, h.aux_bits = 65; }, zep::kNoAuxWidth},
    };
    for (const Case &c : cases) {
        Image im = image_of(Header{});
        c.edit(im.header);
        reports.clear();
        int code = 0;
        EXPECT_FALSE(open_reader(put("k.rla", build({im})), &code, "rlx"));
        EXPECT_EQ(code, ZEP_E_UNSUPPORTED) << c.message.text;
        EXPECT_TRUE(reported(text_of(c.message, "rlx"))) << c.message.text;
    }
}

Bytes copies(int n, const Header &hd)
{
    return build(std::vector<Image>(size_t(n), Image{hd, {}, {}, {}}));
}

TEST_F(RlaTest, ImagesAndChannelsAreCounted)
{
    using zep::rla::kMaxChannelsPerImage, zep::rla::kMaxImages;
    Header empty;
    empty.colours = 0;
    set_window(empty.window, 0, 0, 0, 0);
    set_window(empty.active, 0, 0, 0, 0);
    for (int n : {kMaxImages, kMaxImages + 1}) {
        int code = 0;
        Handle h = open_reader(put("m.rla", copies(n, empty)), &code);
        EXPECT_EQ(code, n > kMaxImages ? ZEP_E_NOT_KIND : 0) << n;
        EXPECT_EQ(h ? h->info.num_images : 0, n > kMaxImages ? 0 : n);
    }
    for (int total : {kMaxChannelsPerImage, kMaxChannelsPerImage + 1}) {
        Header hd;
        hd.mattes = total / 2;
        hd.auxes = total - 3 - hd.mattes;
        int code = 0;
        Handle h = open_reader(put("n.rla", build({image_of(hd)})), &code);
        EXPECT_EQ(code, total > kMaxChannelsPerImage ? ZEP_E_NOT_KIND : 0) << total;
    }
}

TEST_F(RlaTest, AChainThatDoesNotMoveForwardIsRefusedAtOnce)
{
    // Followed, such a chain would exhaust the allocations given here
    // long before the image limit stopped it.
    const Image im = image_of(Header{});
    const int64_t size = int64_t(build({im}).size());
    for (int64_t next :
         {2 * size, size, 2 * size + 1, 2 * size + 740}) { // itself, back, into itself
        Image last = im;
        last.header.next = next;
        const std::string path = put("loop.rla", build({im, im, last}));
        reports.clear();
        int code = 0;
        err__alloc_fail(200, 1);
        open_reader(path, &code);
        err__alloc_fail(0, 0);
        EXPECT_EQ(code, ZEP_E_NOT_KIND) << next;
        EXPECT_TRUE(reported(text_of(zep::kNotOurFile, path.c_str()))) << next;
    }
}

TEST_F(RlaTest, BuffersBeyondTheBudgetOfAnOpenAreRefusedAsNotAnRlaFile)
{
    // The widest window, 64 double channels, one active pixel: a small file
    // whose buffers together pass the budget.
    Header hd;
    set_window(hd.window, 0, 32767, 0, 0);
    set_window(hd.active, 0, 0, 0, 0);
    hd.storage = hd.matte_type = 5;
    hd.colour_bits = hd.matte_bits = 64;
    hd.mattes = zep::rla::kMaxChannelsPerImage - 3;
    const uint64_t per_image = uint64_t(zep::rla::kMaxChannelsPerImage) * 8 * 32768;
    const std::string path =
        put("b.rla", copies(int(zep::rla::kMaxBufferBytes / per_image) + 1, hd));
    int code = 0;
    EXPECT_FALSE(open_reader(path, &code));
    EXPECT_EQ(code, ZEP_E_NOT_KIND);
    EXPECT_TRUE(reported(text_of(zep::kNotOurFile, path.c_str())));
}

TEST_F(RlaTest, IsFileTestsTheHeaderOfAStreamOrAPath)
{
    Header hd;
    const std::string good = put("good.rla", build({image_of(hd)}));
    Bytes shorter = header_bytes(hd);
    shorter.pop_back();
    hd.matte_type = -1; // refused by the file test only
    const std::string negative_matte = put("mt.rla", build({Image{hd, {}, {}, {}}}));
    EXPECT_EQ(ZEP_rla_is_file(good.c_str(), nullptr), 1);
    EXPECT_EQ(ZEP_rla_is_file(put("short.rla", shorter).c_str(), nullptr), 0);
    EXPECT_EQ(ZEP_rla_is_file(file("absent.rla").c_str(), nullptr), 0);
    EXPECT_EQ(ZEP_rla_is_file(negative_matte.c_str(), nullptr), 0);
    EXPECT_EQ(rla_c_is_file(good.c_str()), 1);
    EXPECT_EQ(rla_c_is_file(negative_matte.c_str()), 0);
    FILE *f = std::fopen(good.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 100, SEEK_SET);
    EXPECT_EQ(ZEP_rla_is_file("ignored", f), 1);
    EXPECT_EQ(std::ftell(f), 740); // rewound, left behind the header
    std::fclose(f);
    int code = 0;
    EXPECT_FALSE(open_reader(negative_matte, &code));
    EXPECT_EQ(code, ZEP_E_UNSUPPORTED);
}

TEST_F(RlaTest, NameIsSoughtWithTheExtensionThenInTheImageFolder)
{
    fs::create_directories(dir_ / "images");
    ASSERT_TRUE(write_bytes(file("images/shot.rla"), build({image_of(Header{})})));
    unsetenv("KV_IMG_DIR");
    const std::string missing = file("nowhere/shot");
    int code = 0;
    EXPECT_FALSE(open_reader(missing, &code, "rla", ".rla", false));
    EXPECT_EQ(code, ZEP_E_OPEN);
    EXPECT_TRUE(reported(
        text_of(zep::kCannotOpen, (missing + ".rla").c_str(), "No such file or directory")));
    setenv("KV_IMG_DIR", file("images").c_str(), 1);
    for (const char *name : {"shot", "shot.rla"})
        EXPECT_TRUE(open_reader(name, &code, "rla", ".rla", false)) << name << " " << code;
    EXPECT_FALSE(open_reader("shot", &code)); // a full path is taken as it stands
    EXPECT_EQ(code, ZEP_E_OPEN);
    unsetenv("KV_IMG_DIR");
}

TEST_F(RlaTest, StandardInputReadInFileOrderNeedsNoSeek)
{
    Header hd;
    hd.window[3] = hd.active[3] = 20;
    const Bytes bytes = build({image_of(hd)});
    int fds[2];
    ASSERT_EQ(pipe(fds), 0); // a pipe cannot seek
    ASSERT_LT(bytes.size(), size_t(60000));
    ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(fds[1]);
    EXPECT_EQ(in_child([&] {
                  dup2(fds[0], 0);
                  int code = 0, failed = 0;
                  Handle h = open_reader("/dev/stdin", &code, "rla", ".rla", false);
                  for (int y = 0; h && y <= 20 && !failed; ++y) {
                      void **lines = nullptr;
                      failed = read_line(h.get(), 0, y, &lines) != 0 ||
                               static_cast<uint8_t *>(lines[2])[3] != uint8_t(sample(kByte, 2, 3, y));
                  }
                  return !h ? 10 : failed ? 20 : 0;
              }),
              0);
    close(fds[0]);
}

TEST_F(RlaTest, OutOfMemoryAtAnyAllocationOfTheOpenFailsCleanlyAndLineReadsAllocateNothing)
{
    Header first, second;
    set_window(first.window, 0, 300, 0, 9);
    set_window(first.active, 0, 300, 0, 9);
    first.mattes = 1;
    second.colours = second.auxes = 1;
    const std::string path = put("oom.rla", build({image_of(first), image_of(second, kFloat)}));
    int code = 0;
    ASSERT_TRUE(open_reader(path, &code)); // builds the databases the open consults
    Handle h;
    int n = 1;
    for (; n < 1000 && !h; ++n) {
        reports.clear();
        h = open_reader(path, &code, "rla", ".rla", true, n);
        const bool injected = err__alloc_fail(0, 0) != 0;
        if (h) break;
        SCOPED_TRACE("allocation " + std::to_string(n));
        ASSERT_TRUE(injected);
        ASSERT_EQ(code, ZEP_E_NOMEM);
        EXPECT_TRUE(reported(zep::kNoMemory.text));
        EXPECT_TRUE(no_leaks());
    }
    ASSERT_TRUE(h);
    EXPECT_GT(n, 20);
    err__alloc_fail(1, 1); // every allocation from now on fails
    void **lines = nullptr;
    for (int y : {0, 1, 2, 9, 3, 0}) {
        ASSERT_EQ(read_line(h.get(), 0, y, &lines), 0) << y;
        expect_line(lines, first, y);
    }
    ASSERT_EQ(read_line(h.get(), 1, 1, &lines), 0);
    expect_line(lines, second, 1, kFloat);
    EXPECT_EQ(err__alloc_fail(0, 0), 0);
}

} // namespace
} // namespace rlatest
