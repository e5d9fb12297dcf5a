// Moves on open handles: scanline, direct-scanline and raster calls reach the
// driver with its data and their arguments, or are refused with -16;
// ZEP_seek positions a sequential reader by skipping and re-opening.
#include <source_location>

#include "image/core/image_support.h"

namespace {

using namespace zt;

const std::string kSeq = "tst_seq", kAlias = "tst_alias";

// "seq" files (lines in sequence only, no seek routine), 4 pixels wide:
// tall.seq read from line 479 down to 0, up.seq from line 10 up to 40.
class ScanTest : public LibTest {
  protected:
    void SetUp() override
    {
        LibTest::SetUp();
        start({kSeq, kAlias, "tst_format"});
        std::ofstream(file("tall.seq")) << "SEQ 4 0 479 0\n";
        std::ofstream(file("up.seq")) << "SEQ 4 10 40 1\n";
    }
    ZEP_OBJECT *open_seq(const char *name = "tall.seq", ZEP_CAP_SETTING **settings = nullptr)
    {
        Info r(file(name));
        r.info.cap_settings = settings;
        return r.open("r");
    }
    int seq(const std::string &what) { return sym<int()>(kSeq, ("tst_seq_" + what).c_str())(); }
    void reset() { sym<void()>(kSeq, "tst_seq_reset")(); }
    // The lines the reader delivered since the last reset.
    std::vector<int> lines_read()
    {
        std::vector<int> out;
        for (int i = 0; i < seq("lines_read"); ++i)
            out.push_back(sym<int(int)>(kSeq, "tst_seq_line_at")(i));
        return out;
    }
    // Reads line y and checks its samples and the current line.
    void read(ZEP_OBJECT *h, int y)
    {
        void **line = nullptr;
        ASSERT_EQ(ZEP_scan_read(h, y, &line), 0) << "line " << y;
        for (int i = 0; i < 12; ++i)
            ASSERT_EQ(static_cast<uint8_t *>(line[i / 4])[i % 4],
                      sym<int(int, int, int)>(kSeq, "tst_seq_sample")(y, i % 4, i / 4));
        EXPECT_EQ(h->current_line, y);
    }
};

// from, from +- 1, ..., to.
std::vector<int> lines(int from, int to)
{
    std::vector<int> out{from};
    while (out.back() != to)
        out.push_back(out.back() + (from < to ? 1 : -1));
    return out;
}

TEST_F(ScanTest, SeekSkipsForwardAndReopensToGoBack)
{
    const struct {
        const char *file;
        std::vector<int> first; // lines read before the seek
        int seek_to;
        bool reopens;
        std::vector<int> skipped; // lines read and discarded by the seek
        int next;
    } cases[] = {
        {"tall.seq", {}, 470, false, lines(479, 471), 470},
        {"tall.seq", lines(479, 470), 475, true, lines(479, 476), 475},
        {"tall.seq", lines(479, 470), 479, true, {}, 479},
        {"tall.seq", lines(479, 477), -1, true, {}, 479}, // -1: the window top
        {"tall.seq", lines(479, 470), 470, true, lines(479, 471), 470},
        {"up.seq", {}, 15, false, lines(10, 14), 15},
        {"up.seq", {}, -1, false, {}, 10}, // -1: the window bottom
        {"up.seq", lines(10, 12), 20, false, lines(13, 19), 20},
        {"up.seq", lines(10, 20), 12, true, lines(10, 11), 12},
        {"up.seq", lines(10, 12), -1, true, {}, 10},
        {"up.seq", lines(10, 12), 12, true, lines(10, 11), 12},
    };
    ZEP_CAP_SETTING s{0, {42}}, *settings[] = {&s, nullptr};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " to " + std::to_string(c.seek_to));
        ZEP_OBJECT *h = open_seq(c.file, settings);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->current_line, c.file[0] == 't' ? 480 : -1) << "above the top, or bottom-up";
        for (int y : c.first)
            read(h, y);
        reset();
        zep__err = c.reopens ? ZEP_E_DECODE : 0;
        EXPECT_EQ(ZEP_seek(&h, c.seek_to), 0);
        ASSERT_NE(h, nullptr);
        // A re-open closes the old handle and opens a new one (which may get
        // the old one's address back from the allocator).
        EXPECT_EQ(std::tuple(seq("opens"), seq("closes")), std::tuple(c.reopens, c.reopens));
        EXPECT_EQ(lines_read(), c.skipped);
        EXPECT_EQ(std::tuple(std::string(h->info.handle), h->info.cap_settings),
                  std::tuple(file(c.file), settings));
        read(h, c.next);
        EXPECT_EQ(ZEP_close(h), 0);
        EXPECT_EQ(seq("closes"), c.reopens + 1) << "single-frame files close at once";
    }
    EXPECT_TRUE(no_leaks());
}

TEST_F(ScanTest, FailedMovesAndSeeks)
{
    ZEP_OBJECT *h = open_seq();
    ASSERT_NE(h, nullptr);
    void **line = nullptr;
    read(h, 479);
    EXPECT_EQ(ZEP_scan_read(h, 470, &line), ZEP_E_SCANLINE) << "out of sequence";
    EXPECT_EQ(h->current_line, 479) << "a failed move keeps the line";
    reset();
    EXPECT_EQ(ZEP_seek(&h, -5), ZEP_E_SCANLINE) << "skipping stops at the first failed read";
    EXPECT_EQ(lines_read(), lines(478, 0));
    EXPECT_EQ(h->current_line, 0);
    reset();
    EXPECT_EQ(stderr_of([&] { ZEP_seek(&h, 600); }), // above the window: no re-open gets there
              "ZEP_seek: did not advance image pointer correctly\n");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(seq("opens"), 1);
    EXPECT_TRUE(lines_read().empty());
    read(h, 479);
    fs::remove(file("tall.seq"));
    EXPECT_EQ((std::tuple{ZEP_seek(&h, 479), h}), std::tuple(ZEP_E_OPEN, nullptr)) << "re-open";
    EXPECT_EQ(seq("closes"), 2);
    EXPECT_EQ(std::tuple(ZEP_seek(&h, 3), ZEP_seek(nullptr, 3)),
              std::tuple(ZEP_E_UNSUPPORTED, ZEP_E_UNSUPPORTED));
    EXPECT_TRUE(no_leaks());
}

TEST_F(ScanTest, MovesWithoutARoutineOrPrivateDataAreRefused)
{
    ZEP_OBJECT *h = open_seq(), bare{};
    ASSERT_NE(h, nullptr);
    auto refused = [&](int rc, std::source_location at = std::source_location::current()) {
        SCOPED_TRACE(at.line());
        EXPECT_EQ(std::tuple(rc, zep__err, h->current_line), std::tuple(-16, -16, 480));
        zep__err = 0;
    };
    void *line = nullptr;
    refused(ZEP_direct_scan_read(h, 479, 1, 2, 3, 4));
    refused(ZEP_direct_scan_write(h, 479, 1, 2, 3, 4));
    refused(ZEP_scan_read(nullptr, 479, &line));
    refused(ZEP_close(nullptr));
    refused(ZEP_close_do_it(&bare));
    void *entry0 = std::exchange(h->priv[0], nullptr); // a locked sub-image
    refused(ZEP_scan_read(h, 479, &line));
    refused(ZEP_scan_write(h, 479, &line));
    h->priv[0] = entry0;
    void **priv = std::exchange(h->priv, nullptr);
    refused(ZEP_scan_read(h, 479, &line));
    h->priv = priv;
    ZEP_SCAN_FN scan = std::exchange(h->scan, nullptr);
    refused(ZEP_scan_read(h, 479, &line));
    h->scan = scan;
    EXPECT_TRUE(lines_read().empty()) << "the driver was never called";

    zep__err = ZEP_E_DECODE;
    EXPECT_EQ((std::tuple{ZEP_get_raster(h, 1, 2, 3, 4, 5), zep__err}),
              std::tuple(ZEP_E_UNSUPPORTED, ZEP_E_DECODE));
    EXPECT_EQ(messages_of(zep::kNoRaster),
              std::vector<std::string>{text_of(zep::kNoRaster, file("tall.seq").c_str(), "seq")});
    read(h, 479);
    EXPECT_EQ(ZEP_close(h), 0);
}

// tst_alias (key "pipe") logs each call: routine (1 scan, 2 seek, 3 direct,
// 4 raster), entry 0 and the arguments; its close returns 3.
TEST_F(ScanTest, MovesReachTheDriverWithTheirArguments)
{
    auto routine = sym<int()>(kAlias, "tst_alias_routine");
    auto arg = sym<intptr_t(int)>(kAlias, "tst_alias_arg");
    auto args = [&](int n) {
        std::vector<intptr_t> out;
        for (int i = 0; i < n; ++i)
            out.push_back(arg(i));
        return out;
    };
    for (const char *mode : {"r", "w"}) {
        Info r(file("a"), "pipe", {describe({0, 3, 0, 3})});
        ZEP_OBJECT *h = r.open(mode);
        ASSERT_NE(h, nullptr);
        int buffer = 0;
        const auto b = reinterpret_cast<intptr_t>(&buffer),
                   p = reinterpret_cast<intptr_t>(h->priv[0]);
        auto logged = [&](int r, std::vector<intptr_t> want, int line,
                          std::source_location at = std::source_location::current()) {
            SCOPED_TRACE(std::string(mode) + " line " + std::to_string(at.line()));
            EXPECT_EQ(std::tuple(routine(), args(int(want.size())), h->current_line),
                      std::tuple(r, want, line));
        };
        EXPECT_EQ(ZEP_scan_read(h, 8, &buffer), 0);
        logged(1, {p, 8, b}, 8);
        EXPECT_EQ(ZEP_scan_write(h, 9, &buffer), 0);
        logged(1, {p, 9, b}, 9);
        EXPECT_EQ(ZEP_direct_scan_read(h, 10, 11, -12, 13, 14), 0);
        logged(3, {p, 10, 11, -12, 13, 14}, 10);
        EXPECT_EQ(ZEP_direct_scan_write(h, 11, 21, 22, 23, -24), 0);
        logged(3, {p, 11, 21, 22, 23, -24}, 11);
        // A failing move gives the routine's result and keeps the line.
        EXPECT_EQ(ZEP_scan_read(h, -3, &buffer), -2);
        EXPECT_EQ(ZEP_scan_write(h, -3, &buffer), -2);
        EXPECT_EQ(ZEP_direct_scan_read(h, -3, 0, 0, 0, 0), -2);
        logged(3, {p, -3}, 11);
        EXPECT_EQ(ZEP_get_raster(h, 101, 102, -103, 104, 105), 7);
        logged(4, {p, 101, 102, -103, 104, 105}, -1);
        ZEP_OBJECT *const before = h;
        zep__err = ZEP_E_DECODE; // the seek routine's result is ignored
        EXPECT_EQ((std::tuple{ZEP_seek(&h, 33), h}), std::tuple(ZEP_E_DECODE, before));
        logged(2, {p, 33}, -1);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(ZEP_close(h), 3);
    }
}

} // namespace
