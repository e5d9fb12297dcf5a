// The built-in formats. "mem": images read back byte for byte under their
// name, the life of the store, lines out of range, refused descriptions,
// both opens out of memory. "pipe": the exact stream on standard output, a
// failed flush, refusals, read handles.
#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "image/core/image_support.h"

namespace {

using namespace zt;

class BuiltinTest : public LibTest {};

// A scanline buffer of image 0 of `info`, and the values row y of an image
// holds (salt s tells images apart).
struct Line {
    ZEP_IMAGE_DESC desc;
    void **table;
    explicit Line(const Info &i) : desc(i.images[0])
    {
        table = ZEP_chan_alloc(&desc, desc.window.right - desc.window.left + 1, "test", nullptr);
    }
    ~Line() { ZEP_chan_free(table); }
    // Calls f(byte, value of row y) for every byte of every channel of t.
    template <typename F> void each(void *const *t, int y, int s, F f) const
    {
        int k = 0;
        for (const ZEP_CHAN_GROUP *g : {&desc.chan, &desc.matte, &desc.aux})
            for (int c = 0; c < g->count; ++c, ++k) {
                const int bytes = g->type == ZEP_C_DOUBLE                   ? 8
                                  : g->type == ZEP_C_FLOAT || g->width > 16 ? 4
                                                                            : (g->width + 7) / 8;
                for (int i = 0; i < bytes * (desc.window.right - desc.window.left + 1); ++i)
                    f(static_cast<uint8_t *>(t[k])[i],
                      uint8_t(y * 31 + k * 7 + i * 13 + s * 101 + 1));
            }
    }
    void fill(int y, int s = 0)
    {
        each(table, y, s, [](uint8_t &b, uint8_t v) { b = v; });
    }
    // The wrong bytes of line y read from h (compared with zeros when
    // !written); -1 when the read fails.
    int wrong(ZEP_OBJECT *h, int y, int s = 0, bool written = true) const
    {
        void **got = nullptr;
        int n = ZEP_scan_read(h, y, &got) == 0 ? 0 : -1;
        if (n == 0) each(got, y, s, [&](uint8_t &b, uint8_t v) { n += b != (written ? v : 0); });
        return n;
    }
};

// Rows y % 3 == 1 are never written; the reader is opened while the writer
// is open, shares its rows and gets a copy of its description.
TEST_F(BuiltinTest, MemReadsBackEveryWrittenByteAndZerosElsewhere)
{
    const struct {
        Group chan, matte, aux;
        int width, height;
    } layouts[] = {
        {kRgb8, {1, ZEP_C_INTEGER, 8}, kNone8, 7, 5},
        {{3, ZEP_C_INTEGER, 16}, {1, ZEP_C_INTEGER, 12}, {1, ZEP_C_INTEGER, 16}, 6, 4},
        {{3, ZEP_C_INTEGER, 32}, {1, ZEP_C_INTEGER, 24}, {1, ZEP_C_INTEGER, 32}, 5, 4},
        {{3, ZEP_C_FLOAT, 32}, {1, ZEP_C_FLOAT, 32}, {1, ZEP_C_FLOAT, 32}, 5, 4},
        {{3, ZEP_C_DOUBLE, 64}, {1, ZEP_C_DOUBLE, 64}, {2, ZEP_C_DOUBLE, 64}, 5, 4},
        {{4, ZEP_C_INTEGER, 8}, {2, ZEP_C_INTEGER, 16}, {1, ZEP_C_DOUBLE, 64}, 9, 3},
        {{1, ZEP_C_INTEGER, 4}, kNone8, kNone8, 3, 2},
    };
    for (const auto &l : layouts) {
        SCOPED_TRACE(std::to_string(l.chan.type) + "/" + std::to_string(l.chan.width));
        const ZEP_WINDOW window{10, 10 + l.width - 1, -2, -2 + l.height - 1};
        Info w("round.mem", "mem",
               {describe(window, l.chan, l.matte, l.aux), describe({0, 1, 0, 1}, {1, 1, 16})});
        std::tie(w.info.job_num, w.info.frame_rate, w.info.num_frames) = std::tuple(77, 24.0f, 3);
        ZEP_OBJECT *writer = w.open("w");
        ASSERT_NE(writer, nullptr) << zep__err;
        Line line(w);
        for (int y = 0; y < l.height; y += 1 + (y % 3 == 0)) {
            line.fill(y);
            ASSERT_EQ(ZEP_scan_write(writer, y, line.table), 0);
        }
        Info r("round.mem", "mem");
        ZEP_OBJECT *reader = r.open("r");
        ASSERT_NE(reader, nullptr) << zep__err;
        const ZEP_INFO &i = reader->info;
        ASSERT_EQ(i.num_images, 2);
        EXPECT_EQ(std::memcmp(&i.images[0].window, &window, sizeof window), 0);
        EXPECT_EQ(std::tuple(i.images[0].aux.count, i.images[0].matte.type, i.images[1].chan.width),
                  std::tuple(l.aux.count, l.matte.type, 16));
        EXPECT_EQ(std::tuple(i.job_num, i.frame_rate, i.num_frames), std::tuple(77, 24.0f, 3));
        for (auto f : {&ZEP_INFO::handle, &ZEP_INFO::key, &ZEP_INFO::extension, &ZEP_INFO::user,
                       &ZEP_INFO::machine, &ZEP_INFO::date, &ZEP_INFO::name}) // private copies
            EXPECT_TRUE(i.*f != writer->info.*f && std::string(i.*f) == writer->info.*f);
        for (int y = 0; y < l.height; ++y)
            EXPECT_EQ(line.wrong(reader, y, 0, y % 3 != 1), 0) << y;
        line.fill(1, 5);
        ASSERT_EQ(ZEP_scan_write(writer, 1, line.table), 0);
        EXPECT_EQ(line.wrong(reader, 1, 5), 0) << "a later write shows through";
        EXPECT_EQ(ZEP_close(reader) + ZEP_close(writer), 0);
    }
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(no_leaks());
}

TEST_F(BuiltinTest, MemStoreHoldsImagesFromWriteOpenToWriteClose)
{
    Info never("never.mem", "mem");
    EXPECT_EQ(never.open("r"), nullptr) << "no store yet";
    EXPECT_EQ(zep__err, ZEP_E_OPEN);
    Info a("a.mem", "mem", {describe({0, 2, 0, 3}, kRgb8, {1, ZEP_C_INTEGER, 8})});
    Info b("b.mem", ".mem", {describe({0, 2, 0, 3}, kRgb8, {1, ZEP_C_INTEGER, 8})}), rb("b.mem");
    ZEP_OBJECT *wa = a.open("w"), *wb = b.open("w");
    ASSERT_TRUE(wa && wb);
    Line line(a);
    for (int y = 0; y < 4; ++y) {
        line.fill(y, 1);
        ASSERT_EQ(ZEP_scan_write(wa, y, line.table), 0);
        line.fill(y, 2);
        ASSERT_EQ(ZEP_scan_write(wb, y, line.table), 0);
    }
    EXPECT_EQ(never.open("r"), nullptr) << "the name must match";
    EXPECT_EQ(zep__err, ZEP_E_OPEN);
    EXPECT_EQ(ZEP_close(wa), 0);
    EXPECT_EQ(a.open("r"), nullptr) << "closing the writer removed it";
    ZEP_OBJECT *r1 = rb.open("r"), *r2 = rb.open("r");
    ASSERT_TRUE(r1 && r2);

    for (int y : {-1, 4, 1000}) {
        reports.clear();
        void **got = nullptr;
        EXPECT_EQ((std::tuple{ZEP_scan_write(wb, y, line.table), zep__err}),
                  std::tuple(ZEP_E_SCANLINE, ZEP_E_SCANLINE));
        zep__err = 0;
        EXPECT_EQ((std::tuple{ZEP_scan_read(r1, y, &got), zep__err, got}),
                  std::tuple(ZEP_E_SCANLINE, ZEP_E_SCANLINE, nullptr));
        EXPECT_EQ(messages_of(zep::kBadScanline),
                  std::vector<std::string>(2, text_of(zep::kBadScanline, y)));
    }
    EXPECT_EQ(ZEP_close(r1), 0);
    EXPECT_EQ(ZEP_close(wb), 0); // a reader left open keeps the image alive
    EXPECT_EQ(rb.open("r"), nullptr);
    EXPECT_EQ(line.wrong(r2, 2, 2), 0);
    EXPECT_EQ(ZEP_close(r2), 0);

    // Without images, and on a pipe read handle, there are no lines to move.
    Info empty("empty.mem", "mem"), pipe("in.pipe", "pipe");
    ZEP_OBJECT *we = empty.open("w"), *re = empty.open("r"), *rp = pipe.open("r");
    ASSERT_TRUE(we && re && rp);
    EXPECT_EQ(ZEP_scan_write(we, 0, line.table), ZEP_E_UNSUPPORTED);
    for (ZEP_OBJECT *h : {re, rp}) {
        void **got = nullptr;
        zep__err = 0;
        EXPECT_EQ((std::tuple{ZEP_scan_read(h, 0, &got), zep__err}),
                  std::tuple(ZEP_E_UNSUPPORTED, ZEP_E_UNSUPPORTED));
    }
    EXPECT_EQ(ZEP_close(re) + ZEP_close(we) + ZEP_close(rp), 0);
    EXPECT_TRUE(no_leaks());
}

TEST_F(BuiltinTest, RefusedDescriptionsFailTheWriteOpenAndStoreNothing)
{
    const ZEP_IMAGE_DESC rgb = describe({0, 3, 0, 3});
    const struct {
        const char *key;
        std::vector<ZEP_IMAGE_DESC> images;
        const zep::Message &message;
    } cases[] = {
        {"mem", {describe({0, 3, 0, 3}, {3, 1, 33})}, zep::kNoImageWidth},
        {"mem", {describe({0, 3, 0, 3}, kRgb8, {1, 0, 8})}, zep::kNoMatteType},
        {"mem", {describe({0, 3, 0, 3}, kRgb8, kNone8, {1, 9, 8})}, zep::kNoAuxType},
        {"mem", {describe({5, 4, 0, 3})}, zep::kNoAction}, // no columns
        {"mem", {describe({0, 3, 2, 1})}, zep::kNoAction}, // no rows
        {"pipe", {rgb, rgb}, zep::kNoMultipleImages},
        {"pipe", {describe({0, 3, 0, 3}, {2, 1, 8})}, zep::kNoAction},
        {"pipe", {describe({0, 3, 0, 3}, {3, 1, 16})}, zep::kNoAction}, // two bytes a sample
        {"pipe", {describe({10, 13, 0, 3})}, zep::kNoAction},           // line past the row
        {"pipe", {}, zep::kNoAction},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message.text);
        reports.clear();
        Info w(std::string("refused.") + c.key, c.key, c.images), r("refused.mem", "mem");
        EXPECT_EQ(w.open("w"), nullptr);
        EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
        EXPECT_EQ(messages_of(c.message), std::vector<std::string>{text_of(c.message, c.key)});
        EXPECT_EQ(reports[0].severity, ERR_ERROR);
        EXPECT_EQ(r.open("r"), nullptr);
    }
    EXPECT_EQ(text_of(zep::kNoMultipleImages, "pipe"), "pipe cannot store multiple images");
    EXPECT_TRUE(no_leaks());
}

TEST_F(BuiltinTest, OpensOutOfMemoryFailWithMinusTen)
{
    ASSERT_EQ(ZEP_init(nullptr, nullptr), 0);
    Info mem("oom.mem", "mem", {describe({0, 3, 0, 2}, kRgb8, {1, 1, 8})}), reader("oom.mem");
    Info pipe("oom.pipe", "pipe", {describe({0, 3, 0, 1})});
    Line line(mem);
    // The store, tables, 3 rows of 2 blocks and the store's node at least.
    EXPECT_GE(fail_each_open(mem, "w", [&] { EXPECT_EQ(reader.open("r"), nullptr); }), 10);
    EXPECT_GE(fail_each_open(pipe, "w", [] {}), 2);
    ZEP_OBJECT *writer = mem.open("w");
    ASSERT_NE(writer, nullptr);
    line.fill(1);
    ASSERT_EQ(ZEP_scan_write(writer, 1, line.table), 0);
    EXPECT_GE(fail_each_open(reader, "r", [] {}), 1);
    ZEP_OBJECT *r = reader.open("r");
    EXPECT_EQ(line.wrong(r, 1), 0) << "the stored image is intact";
    EXPECT_EQ(ZEP_close(r) + ZEP_close(writer), 0);
    EXPECT_TRUE(no_leaks());
}

// Runs `write` with file descriptor 1 sent to `target`.
void to_stdout(int target, const std::function<void()> &write)
{
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(target, 1);
    write();
    __fpurge(stdout); // what a failed flush left must not reach the terminal
    clearerr(stdout);
    dup2(saved, 1);
    close(saved);
}

// The stream's width is the active window's right edge plus one; lines
// above its top are not sent; the stream is flushed after every line.
TEST_F(BuiltinTest, PipeStreamsEachLineAsTagWidthAndThreePlanes)
{
    Info w("out.pipe", "pipe", {describe({0, 799, 0, 9}, kRgb8, {1, ZEP_C_INTEGER, 8})});
    w.images[0].active = {10, 639, 0, 2};
    ZEP_OBJECT *h = w.open("w");
    ASSERT_NE(h, nullptr) << zep__err;
    Line line(w);
    FILE *tmp = std::tmpfile();
    std::string want;
    std::vector<int> results;
    to_stdout(fileno(tmp), [&] {
        for (int y = 0; y < 4; ++y) {
            line.fill(y);
            zep__err = 99;
            results.push_back(ZEP_scan_write(h, y, line.table));
            results.push_back(zep__err);
            const int32_t head[2] = {2, 640}; // host byte order
            for (int k = -1; k < 3 && y < 3; ++k)
                want.append(k < 0 ? reinterpret_cast<const char *>(head)
                                  : static_cast<const char *>(line.table[k]),
                            k < 0 ? 8 : 640);
        }
    });
    std::string got(want.size() + 1, '\0');
    std::rewind(tmp);
    got.resize(std::fread(got.data(), 1, got.size(), tmp));
    std::fclose(tmp);
    EXPECT_EQ(results, std::vector<int>(8, 0));
    EXPECT_EQ(got.size(), 3u * (8 + 3 * 640));
    EXPECT_TRUE(got == want);
    EXPECT_EQ(ZEP_close(h), 0);

    const int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    h = w.open("w");
    ASSERT_NE(h, nullptr);
    to_stdout(full, [&] { results = {ZEP_scan_write(h, 0, line.table), zep__err}; });
    close(full);
    EXPECT_EQ(results, std::vector<int>(2, ZEP_E_WRITE)) << "a failed flush";
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_TRUE(no_leaks());
}

} // namespace
