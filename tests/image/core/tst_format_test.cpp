// The test suite's own "tst" format, which the open, scanline and cache
// tests rely on: an image written through the library reads back the same,
// in any line order, and files that are not whole "tst" files are refused.
#include "registry_support.h"

#include <cstring>

namespace registry_test {
namespace {

using TstFormat = RegistryTest;

struct Counters {
    int read_opens, write_opens, closes;
};

// A write description: one image with the given window and channel counts.
struct Description {
    ZEP_INFO info;
    ZEP_IMAGE_DESC image{};
    Description(const std::string &path, ZEP_WINDOW window, int chans, int mattes, int planar)
    {
        ZEP_info_init(&info);
        info.handle = const_cast<char *>(path.c_str());
        image.usage = 1;
        image.response.kind = ZEP_CURVE_ANALYTIC;
        image.response.gamma = 1.0f;
        image.window = window;
        image.active = window;
        image.planar = planar;
        image.chan = {nullptr, chans, ZEP_C_INTEGER, 8};
        image.matte = {nullptr, mattes, ZEP_C_INTEGER, 8};
        image.aux = {nullptr, 0, ZEP_C_INTEGER, 8};
        image.index = {nullptr, 0, ZEP_C_INTEGER, 16};
        info.num_images = 1;
        info.images = &image;
    }
};

uint8_t sample(int line, int x, int channel)
{
    return static_cast<uint8_t>(line * 31 + x * 7 + channel * 101 + 1);
}

TEST_F(TstFormat, AnImageWrittenReadsBackTheSameInAnyOrder)
{
    load({"tst_format"});
    auto counters = symbol<const Counters *(*)()>(0, "tst_counters")();
    ASSERT_EQ(plugins->init(), 0);
    Counters before = *counters;
    std::string path = (private_home.dir / "round.tst").string();
    const ZEP_WINDOW window{2, 6, 10, 13}; // 5 wide, lines 10 .. 13
    const int chans = 3, mattes = 1, width = 5;

    Description d(path, window, chans, mattes, 1);
    ZEP_OBJECT *w = ZEP_open(&d.info, "w");
    ASSERT_NE(w, nullptr) << zep__err;
    uint8_t rows[chans + mattes][width];
    void *table[chans + mattes];
    for (int line : {12, 10, 13}) { // line 11 is never written
        for (int k = 0; k < chans + mattes; ++k) {
            for (int x = 0; x < width; ++x)
                rows[k][x] = sample(line, x, k);
            table[k] = rows[k];
        }
        ASSERT_EQ(ZEP_scan_write(w, line, table), 0) << line;
    }
    EXPECT_EQ(ZEP_scan_write(w, 9, table), ZEP_E_SCANLINE);
    EXPECT_EQ(ZEP_scan_write(w, 14, table), ZEP_E_SCANLINE);
    EXPECT_EQ(ZEP_close(w), 0);

    uint8_t definite = 0;
    EXPECT_STREQ(ZEP_get_file_type(path.c_str(), nullptr, &definite), "tst");

    ZEP_INFO in;
    ZEP_info_init(&in);
    in.handle = const_cast<char *>(path.c_str()); // format chosen by extension
    ZEP_OBJECT *r = ZEP_open(&in, "r");
    ASSERT_NE(r, nullptr) << zep__err;
    ASSERT_EQ(r->info.num_images, 1);
    const ZEP_IMAGE_DESC &img = r->info.images[0];
    EXPECT_EQ(std::memcmp(&img.window, &window, sizeof window), 0);
    EXPECT_EQ(img.chan.count, chans);
    EXPECT_EQ(img.matte.count, mattes);
    EXPECT_EQ(img.aux.count, 0);
    EXPECT_EQ(img.chan.type, ZEP_C_INTEGER);
    EXPECT_EQ(img.chan.width, 8);
    EXPECT_EQ(img.planar, 1);
    for (int line : {13, 10, 11, 12, 10}) {
        SCOPED_TRACE(line);
        void **got = nullptr;
        ASSERT_EQ(ZEP_scan_read(r, line, &got), 0);
        ASSERT_NE(got, nullptr);
        for (int k = 0; k < chans + mattes; ++k)
            for (int x = 0; x < width; ++x)
                EXPECT_EQ(static_cast<uint8_t *>(got[k])[x], line == 11 ? 0 : sample(line, x, k))
                    << "channel " << k << " x " << x;
    }
    void **got = nullptr;
    EXPECT_EQ(ZEP_scan_read(r, 14, &got), ZEP_E_SCANLINE);
    EXPECT_EQ(ZEP_close(r), 0);
    EXPECT_EQ(counters->write_opens - before.write_opens, 1);
    EXPECT_EQ(counters->read_opens - before.read_opens, 1);
    EXPECT_EQ(counters->closes - before.closes, 2);
}

TEST_F(TstFormat, InterleavedLinesAreStoredAsPlanes)
{
    ASSERT_EQ(start({"tst_format"}), 0);
    std::string path = (private_home.dir / "inter.tst").string();
    Description d(path, ZEP_WINDOW{0, 2, 0, 0}, 2, 0, 0);
    ZEP_OBJECT *w = ZEP_open(&d.info, "w");
    ASSERT_NE(w, nullptr);
    uint8_t pixels[] = {1, 2, 3, 4, 5, 6}; // (c0, c1) per pixel
    ASSERT_EQ(ZEP_scan_write(w, 0, pixels), 0);
    ASSERT_EQ(ZEP_close(w), 0);

    ZEP_INFO in;
    ZEP_info_init(&in);
    in.handle = const_cast<char *>(path.c_str());
    ZEP_OBJECT *r = ZEP_open(&in, "r");
    ASSERT_NE(r, nullptr);
    void **got = nullptr;
    ASSERT_EQ(ZEP_scan_read(r, 0, &got), 0);
    const uint8_t *c0 = static_cast<uint8_t *>(got[0]), *c1 = static_cast<uint8_t *>(got[1]);
    EXPECT_EQ((std::vector<int>{c0[0], c0[1], c0[2]}), (std::vector<int>{1, 3, 5}));
    EXPECT_EQ((std::vector<int>{c1[0], c1[1], c1[2]}), (std::vector<int>{2, 4, 6}));
    ZEP_close(r);
}

std::string header(int32_t l, int32_t r, int32_t b, int32_t t, int32_t chans, int32_t mattes)
{
    std::string h = "ZTST";
    for (int32_t v : {l, r, b, t, chans, mattes})
        for (int i = 0; i < 4; ++i)
            h += static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xff);
    return h;
}

TEST_F(TstFormat, FilesThatAreNotWholeAreRefused)
{
    ASSERT_EQ(start({"tst_format"}), 0);
    struct Case {
        const char *what;
        std::string bytes;
        int code;
    };
    const Case cases[] = {
        {"wrong magic", "ZTSX" + header(0, 0, 0, 0, 1, 0).substr(4) + "x", ZEP_E_NOT_KIND},
        {"short header", "ZTST\1\0", ZEP_E_NOT_KIND},
        {"empty window", header(5, 4, 0, 0, 1, 0) + "x", ZEP_E_NOT_KIND},
        {"no channels", header(0, 0, 0, 0, 0, 0), ZEP_E_NOT_KIND},
        {"negative count", header(0, 0, 0, 0, -1, 2) + "x", ZEP_E_NOT_KIND},
        {"huge window", header(0, 0x7fffffff, 0, 0, 1, 0), ZEP_E_NOT_KIND},
        {"rows missing", header(0, 3, 0, 1, 1, 0) + "abcd", ZEP_E_DECODE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = write_file("bad.tst", c.bytes);
        ZEP_INFO in;
        ZEP_info_init(&in);
        in.handle = const_cast<char *>(path.c_str());
        EXPECT_EQ(ZEP_open(&in, "r"), nullptr);
        EXPECT_EQ(zep__err, c.code);
    }
    ZEP_INFO in;
    ZEP_info_init(&in);
    std::string missing = (private_home.dir / "missing.tst").string();
    in.handle = const_cast<char *>(missing.c_str());
    EXPECT_EQ(ZEP_open(&in, "r"), nullptr);
    EXPECT_EQ(zep__err, ZEP_E_OPEN);
}

TEST_F(TstFormat, DescriptionsItCannotStoreAreRefused)
{
    ASSERT_EQ(start({"tst_format"}), 0);
    std::string path = (private_home.dir / "refused.tst").string();
    struct Case {
        const char *what;
        int chans, chan_type, chan_width, aux;
    };
    for (const Case &c : {Case{"float channels", 3, ZEP_C_FLOAT, 32, 0},
                          Case{"16-bit channels", 3, ZEP_C_INTEGER, 16, 0},
                          Case{"auxiliary channel", 3, ZEP_C_INTEGER, 8, 1},
                          Case{"no channels", 0, ZEP_C_INTEGER, 8, 0}}) {
        SCOPED_TRACE(c.what);
        Description d(path, ZEP_WINDOW{0, 3, 0, 3}, c.chans, 0, 1);
        d.image.chan.type = c.chan_type;
        d.image.chan.width = c.chan_width;
        d.image.aux.count = c.aux;
        EXPECT_EQ(ZEP_open(&d.info, "w"), nullptr);
        EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
        EXPECT_FALSE(fs::exists(path));
    }
}

} // namespace
} // namespace registry_test
