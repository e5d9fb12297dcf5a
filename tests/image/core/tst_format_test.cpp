// The test suite's own "tst" format, which other tests rely on: images read
// back as planes in any line order, and what it cannot handle is refused.
#include "registry_support.h"

namespace registry_test {
namespace {

using TstFormat = RegistryTest;

std::string header(int32_t l, int32_t r, int32_t b, int32_t t, int32_t chans, int32_t mattes)
{
    std::string h = "ZTST";
    for (int32_t v : {l, r, b, t, chans, mattes})
        for (int i = 0; i < 4; ++i)
            h += static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xff);
    return h;
}

// Pixel-interleaved lines 12, 10 and 13 read back as planes in any order;
// line 11, never written, as zeros.
TEST_F(TstFormat, ImagesReadBackAndWhatItCannotHandleIsRefused)
{
    start({"tst_format"});
    constexpr int n = 4, width = 5; // three channels and a matte
    auto sample = [](int line, int x, int k) { return uint8_t(line * 31 + x * 7 + k * 101 + 1); };
    Info w(file("a.tst"), nullptr, {describe({2, 6, 10, 13}, kRgb8, {1, ZEP_C_INTEGER, 8})});
    w.images[0].planar = 0;
    ZEP_OBJECT *h = w.open("w");
    ASSERT_NE(h, nullptr) << zep__err;
    uint8_t pixels[width * n];
    for (int line : {12, 10, 13}) {
        for (int i = 0; i < width * n; ++i)
            pixels[i] = sample(line, i / n, i % n);
        ASSERT_EQ(ZEP_scan_write(h, line, pixels), 0);
    }
    EXPECT_EQ(ZEP_scan_write(h, 14, pixels), ZEP_E_SCANLINE);
    EXPECT_EQ(ZEP_close(h), 0);
    Info r(file("a.tst"));
    h = r.open("r");
    ASSERT_NE(h, nullptr) << zep__err;
    EXPECT_EQ(h->info.images[0].matte.count, 1);
    for (int line : {13, 10, 11, 12}) {
        void **got = nullptr;
        ASSERT_EQ(ZEP_scan_read(h, line, &got), 0) << line;
        for (int i = 0; i < width * n; ++i)
            EXPECT_EQ(static_cast<uint8_t *>(got[i % n])[i / n],
                      line == 11 ? 0 : sample(line, i / n, i % n))
                << line << " " << i;
    }
    EXPECT_EQ(ZEP_close(h), 0);

    const std::pair<std::string, int> files[] = {
        {"ZTSX" + header(0, 0, 0, 0, 1, 0).substr(4) + "x", ZEP_E_NOT_KIND},
        {header(0, 0x7fffffff, 0, 0, 1, 0), ZEP_E_NOT_KIND}, // a window too large
        {header(0, 3, 0, 1, 1, 0) + "abcd", ZEP_E_DECODE},   // rows missing
    };
    for (const auto &[bytes, code] : files) {
        Info in(write_file("bad.tst", bytes));
        EXPECT_EQ((std::tuple{in.open("r"), zep__err}), std::tuple(nullptr, code)) << code;
    }
    Info deep(file("deep.tst"), nullptr, {describe({0, 3, 0, 3}, {3, ZEP_C_INTEGER, 16})});
    EXPECT_EQ((std::tuple{deep.open("w"), zep__err}), std::tuple(nullptr, ZEP_E_UNSUPPORTED));
    EXPECT_FALSE(fs::exists(file("deep.tst")));
}

} // namespace
} // namespace registry_test
