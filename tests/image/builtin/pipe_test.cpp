// The "pipe" format: the exact byte stream on standard output, failed
// writes, refused descriptions and the handle a read open gives.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "image/builtin/support.h"

namespace {

using namespace builtin_test;

class PipeTest : public LibraryTest {};

// Sends file descriptor 1 to `target` until restore(); what reached it is
// then read back when it is a temporary file.
class Stdout {
  public:
    explicit Stdout(int target)
    {
        std::fflush(stdout);
        saved_ = dup(1);
        dup2(target, 1);
    }
    ~Stdout() { restore(); }
    Stdout(const Stdout &) = delete;
    Stdout &operator=(const Stdout &) = delete;

    void restore()
    {
        if (saved_ < 0) return;
        // Whatever a failed flush left behind must not reach the terminal.
        __fpurge(stdout);
        clearerr(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
    }

  private:
    int saved_ = -1;
};

std::string read_all(FILE *f)
{
    std::string out;
    std::rewind(f);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    return out;
}

void append32(std::string &s, int32_t v)
{
    char b[4];
    std::memcpy(b, &v, 4); // host byte order
    s.append(b, 4);
}

uint8_t pattern(int y, int k, int x) { return static_cast<uint8_t>(y * 11 + k * 80 + x * 3); }

TEST_F(PipeTest, StreamsEachLineAsTagWidthAndThreePlanes)
{
    // The image window is wider than the active window, which does not
    // start at 0: the stream's width is its right edge plus one.
    std::vector<ZEP_IMAGE_DESC> images{
        describe({0, 799, 0, 9}, {3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8})};
    images[0].active = {10, 639, 0, 2};
    Info info("out.pipe", "pipe", &images);
    ZEP_OBJECT *h = ZEP_open(info.get(), "w");
    ASSERT_NE(h, nullptr) << zep__err;

    Chan line(images[0], 800);
    ASSERT_NE(line.table, nullptr);
    std::string want;
    std::vector<int> results, codes;
    FILE *tmp = std::tmpfile();
    ASSERT_NE(tmp, nullptr);
    {
        Stdout redirect(fileno(tmp));
        for (int y = 0; y < 4; ++y) {
            for (int k = 0; k < 4; ++k)
                for (int x = 0; x < 800; ++x)
                    static_cast<uint8_t *>(line.table[k])[x] = pattern(y, k, x);
            zep__err = 99;
            results.push_back(ZEP_scan_write(h, y, line.table));
            codes.push_back(zep__err);
        }
        redirect.restore();
    }
    for (int y = 0; y < 3; ++y) { // line 3 is beyond the active window
        append32(want, 2);
        append32(want, 640);
        for (int k = 0; k < 3; ++k)
            for (int x = 0; x < 640; ++x)
                want.push_back(static_cast<char>(pattern(y, k, x)));
    }
    std::string got = read_all(tmp);
    std::fclose(tmp);

    EXPECT_EQ(results, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(codes, (std::vector<int>{0, 0, 0, 0}));
    ASSERT_EQ(got.size(), 3u * (8 + 3 * 640));
    EXPECT_TRUE(got == want);
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_TRUE(no_leaks());
}

TEST_F(PipeTest, AFailedFlushGivesMinus20)
{
    int full = open("/dev/full", O_WRONLY);
    if (full < 0) GTEST_SKIP() << "no /dev/full";
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 15, 0, 1}, {3, ZEP_C_INTEGER, 8})};
    Info info("full.pipe", "pipe", &images);
    ZEP_OBJECT *h = ZEP_open(info.get(), "w");
    ASSERT_NE(h, nullptr);
    Chan line(images[0], 16);
    int rc, code;
    {
        Stdout redirect(full);
        rc = ZEP_scan_write(h, 0, line.table);
        code = zep__err;
    }
    close(full);
    EXPECT_EQ(rc, ZEP_E_WRITE);
    EXPECT_EQ(code, ZEP_E_WRITE);
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_TRUE(no_leaks());
}

struct Refusal {
    const char *name;
    std::vector<ZEP_IMAGE_DESC> images;
    const zep::Message *message;
};

void PrintTo(const Refusal &r, std::ostream *os) { *os << r.name; }

class PipeRefused : public PipeTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(PipeRefused, WriteOpenFails)
{
    std::vector<ZEP_IMAGE_DESC> images = GetParam().images;
    Info info("refused.pipe", "pipe", &images);
    EXPECT_EQ(ZEP_open(info.get(), "w"), nullptr);
    EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
    auto r = reports_of(*GetParam().message);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].message, expected(*GetParam().message, "pipe"));
    if (GetParam().message == &zep::kNoMultipleImages) {
        EXPECT_EQ(r[0].message, "pipe cannot store multiple images");
    }
    EXPECT_EQ(r[0].severity, ERR_ERROR);
    EXPECT_TRUE(no_leaks());
}

INSTANTIATE_TEST_SUITE_P(Descriptions, PipeRefused,
                         ::testing::Values(Refusal{"two_images",
                                                   {describe({0, 3, 0, 3}, {3, ZEP_C_INTEGER, 8}),
                                                    describe({0, 3, 0, 3}, {3, ZEP_C_INTEGER, 8})},
                                                   &zep::kNoMultipleImages},
                                           Refusal{"two_channels",
                                                   {describe({0, 3, 0, 3}, {2, ZEP_C_INTEGER, 8})},
                                                   &zep::kNoAction},
                                           Refusal{"no_image", {}, &zep::kNoAction}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(PipeTest, AReadHandleHasNoLines)
{
    Info info("in.pipe", "pipe");
    ZEP_OBJECT *h = ZEP_open(info.get(), "r");
    ASSERT_NE(h, nullptr);
    void **got = nullptr;
    zep__err = 0;
    EXPECT_EQ(ZEP_scan_read(h, 0, &got), ZEP_E_UNSUPPORTED);
    EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
    EXPECT_EQ(got, nullptr);
    // The handle still closes and frees itself.
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_TRUE(no_leaks());
}

TEST_F(PipeTest, WriteOpenOutOfMemory)
{
    ASSERT_EQ(ZEP_init(nullptr, nullptr), 0);
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 3, 0, 1}, {3, ZEP_C_INTEGER, 8})};
    Info info("oom.pipe", "pipe", &images);
    std::vector<int> codes;
    for (int n = 1; n < 500; ++n) {
        reports.clear();
        zep__err = 0;
        err__alloc_fail(n, 0);
        ZEP_OBJECT *h = ZEP_open(info.get(), "w");
        if (err__alloc_fail(0, 0) == 0) {
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(ZEP_close(h), 0);
            break;
        }
        ASSERT_EQ(h, nullptr) << "allocation " << n;
        EXPECT_FALSE(reports_of(zep::kNoMemory).empty());
        EXPECT_TRUE(no_leaks()) << "allocation " << n;
        codes.push_back(zep__err);
    }
    // The driver's own two allocations come last and give -10.
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes[codes.size() - 1], ZEP_E_NOMEM);
    EXPECT_EQ(codes[codes.size() - 2], ZEP_E_NOMEM);
}

TEST_F(PipeTest, NeverRecognisedByContent)
{
    uint8_t definite = 0;
    EXPECT_EQ(ZEP_is_file_type("any.pipe", nullptr, "pipe", &definite), nullptr);
    EXPECT_EQ(definite, 1);
}

} // namespace
