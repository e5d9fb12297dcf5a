// Moves on open handles: scanline, direct-scanline and raster calls reach
// the driver's routine with the private entry and the arguments unchanged
// and keep current_line; handles without a routine refuse with -16; ZEP_seek
// positions a sequential reader by skipping or re-opening; closing.
#include "open_support.h"

#include <cstdint>
#include <functional>
#include <thread>

namespace open_test {
namespace {

using CountFn = int(void);
using ResetFn = void(void);
using LineAtFn = int(int);
using SampleFn = int(int, int, int);
using ArgFn = intptr_t(int);

// Routine codes of tst_alias's call log.
constexpr int kAliasScan = 1;
constexpr int kAliasSeek = 2;
constexpr int kAliasDirect = 3;
constexpr int kAliasRaster = 4;
constexpr int kAliasRasterResult = 7;

// A "seq" file 4 pixels wide with window lines 0..479, read top-down. The
// "pipe"-keyed tst_alias and the any-order "tst" format are loaded too.
class SeqTest : public OpenTest {
  protected:
    void SetUp() override
    {
        OpenTest::SetUp();
        start({kSeq, kAlias, kFormat});
        path_ = dir_.file("tall.seq");
        write_seq(path_, 0, 479);
        reset();
    }

    ZEP_OBJECT *open_reader()
    {
        Request r(path_.c_str(), nullptr);
        return ZEP_open(&r.info, "r");
    }

    void reset() { function<ResetFn>(kSeq, "tst_seq_reset")(); }
    int opens() { return function<CountFn>(kSeq, "tst_seq_opens")(); }
    int closes() { return function<CountFn>(kSeq, "tst_seq_closes")(); }

    // The lines the reader delivered since the last reset, in order.
    std::vector<int> lines_read()
    {
        std::vector<int> out;
        const int n = function<CountFn>(kSeq, "tst_seq_lines_read")();
        for (int i = 0; i < n; ++i)
            out.push_back(function<LineAtFn>(kSeq, "tst_seq_line_at")(i));
        return out;
    }

    // Reads line y and checks that the buffer holds that line's samples.
    void read_and_check(ZEP_OBJECT *h, int y)
    {
        void **line = nullptr;
        ASSERT_EQ(ZEP_scan_read(h, y, &line), 0) << "line " << y;
        ASSERT_NE(line, nullptr);
        const auto sample = function<SampleFn>(kSeq, "tst_seq_sample");
        for (int c = 0; c < 3; ++c)
            for (int x = 0; x < 4; ++x)
                ASSERT_EQ(static_cast<const uint8_t *>(line[c])[x], sample(y, x, c))
                    << "line " << y << " channel " << c << " pixel " << x;
        EXPECT_EQ(h->current_line, y);
    }

    static std::vector<int> range_down(int from, int to)
    {
        std::vector<int> out;
        for (int y = from; y >= to; --y)
            out.push_back(y);
        return out;
    }

    ScratchDir dir_;
    std::string path_;
};

TEST_F(SeqTest, ScanReadDeliversTheLineAndRecordsIt)
{
    ZEP_OBJECT *h = open_reader();
    ASSERT_NE(h, nullptr);
    read_and_check(h, 479);
    void *line = nullptr;
    EXPECT_EQ(ZEP_scan_read(h, 470, &line), ZEP_E_SCANLINE) << "out of sequence";
    EXPECT_EQ(h->current_line, 479) << "a failed move leaves the current line";
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_EQ(closes(), 1) << "a single-frame file is closed at once";
}

TEST_F(SeqTest, SeekForwardReadsAndDiscardsTheLinesBetween)
{
    ZEP_OBJECT *h = open_reader();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->current_line, 480);
    ZEP_OBJECT *const before = h;
    EXPECT_EQ(ZEP_seek(&h, 470), 0);
    EXPECT_EQ(h, before) << "skipping forward keeps the handle";
    EXPECT_EQ(lines_read(), range_down(479, 471));
    EXPECT_EQ(h->current_line, 471);
    EXPECT_EQ(opens(), 1);
    read_and_check(h, 470);
    EXPECT_EQ(ZEP_close(h), 0);
}

struct Backwards {
    const char *what;
    int read_down_to; // lines 479.. this one are read first
    int seek_to;
    int next;                 // the line read after the seek
    std::vector<int> skipped; // lines read and discarded after the re-open
};

TEST_F(SeqTest, SeekToALineAlreadyPassedReopensTheFile)
{
    const Backwards cases[] = {
        {"backwards", 470, 475, 475, range_down(479, 476)},
        {"back to the first line", 470, 479, 479, {}},
        {"-1 means the window top", 477, -1, 479, {}},
        {"the line just read", 470, 470, 470, range_down(479, 471)},
    };
    for (const Backwards &c : cases) {
        SCOPED_TRACE(c.what);
        ZEP_OBJECT *h = open_reader();
        ASSERT_NE(h, nullptr);
        for (int y = 479; y >= c.read_down_to; --y)
            read_and_check(h, y);
        reset();
        zep__err = ZEP_E_DECODE;
        EXPECT_EQ(ZEP_seek(&h, c.seek_to), 0);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(closes(), 1) << "the old handle was closed";
        EXPECT_EQ(opens(), 1) << "and the file opened again";
        EXPECT_EQ(lines_read(), c.skipped);
        EXPECT_STREQ(h->info.handle, path_.c_str());
        EXPECT_STREQ(h->info.key, "seq");
        read_and_check(h, c.next);
        EXPECT_EQ(ZEP_close(h), 0);
        reset();
    }
    EXPECT_TRUE(no_leaks());
}

struct Upwards {
    const char *what;
    int read_up_to; // lines 10.. this one are read first; below 10: none
    int seek_to;
    bool reopens;
    int next;                 // the line read after the seek
    std::vector<int> skipped; // lines read and discarded by the seek
};

// A bottom-up file whose window starts above line 0 (lines 10..40).
TEST_F(SeqTest, SeekOnABottomUpReader)
{
    const std::string path = dir_.file("up.seq");
    write_seq(path, 10, 40, true);
    auto range_up = [](int from, int to) {
        std::vector<int> out;
        for (int y = from; y <= to; ++y)
            out.push_back(y);
        return out;
    };
    const Upwards cases[] = {
        {"fresh reader: skipping starts at the window bottom", 9, 15, false, 15, range_up(10, 14)},
        {"fresh reader: -1 means the window bottom", 9, -1, false, 10, {}},
        {"forward", 12, 20, false, 20, range_up(13, 19)},
        {"backwards", 20, 12, true, 12, range_up(10, 11)},
        {"back to -1", 12, -1, true, 10, {}},
        {"the line just read", 12, 12, true, 12, range_up(10, 11)},
    };
    for (const Upwards &c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        Request r(path.c_str(), nullptr);
        ZEP_OBJECT *h = ZEP_open(&r.info, "r");
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->current_line, -1);
        for (int y = 10; y <= c.read_up_to; ++y)
            read_and_check(h, y);
        reset();
        EXPECT_EQ(ZEP_seek(&h, c.seek_to), 0);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(opens(), c.reopens ? 1 : 0);
        EXPECT_EQ(closes(), c.reopens ? 1 : 0);
        EXPECT_EQ(lines_read(), c.skipped);
        read_and_check(h, c.next);
        EXPECT_EQ(ZEP_close(h), 0);
    }
}

TEST_F(SeqTest, SeekKeepsTheCapabilitySettingsAcrossTheReopen)
{
    ZEP_CAP_SETTING s{};
    s.code = 0;
    s.value.i = 42;
    ZEP_CAP_SETTING *list[] = {&s, nullptr};
    Request r(path_.c_str(), nullptr);
    r.info.cap_settings = list;
    ZEP_OBJECT *h = ZEP_open(&r.info, "r");
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->info.cap_settings, list);
    read_and_check(h, 479);
    EXPECT_EQ(ZEP_seek(&h, 479), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->info.cap_settings, list);
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(SeqTest, SeekWhoseReopenFailsLeavesNull)
{
    ZEP_OBJECT *h = open_reader();
    ASSERT_NE(h, nullptr);
    read_and_check(h, 479);
    std::filesystem::remove(path_);
    EXPECT_EQ(ZEP_seek(&h, 479), ZEP_E_OPEN);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(closes(), 1);
    EXPECT_TRUE(no_leaks());
}

// A seek that must re-open runs out of memory at each allocation in turn:
// the old handle stays usable when nothing was closed yet, else the handle
// variable is null; either way -10 and no leak.
TEST_F(SeqTest, SeekRunningOutOfMemory)
{
    for (int n = 1; n < 200; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        ZEP_OBJECT *h = open_reader();
        ASSERT_NE(h, nullptr);
        read_and_check(h, 479);
        read_and_check(h, 478);
        ZEP_OBJECT *const before = h;
        err__alloc_fail(n, 0);
        const int rc = ZEP_seek(&h, 479);
        const int failed = err__alloc_fail(0, 0);
        if (failed == 0) {
            EXPECT_EQ(rc, 0);
            ASSERT_NE(h, nullptr);
            read_and_check(h, 479);
            EXPECT_EQ(ZEP_close(h), 0);
            EXPECT_GT(n, 2);
            break;
        }
        EXPECT_EQ(rc, ZEP_E_NOMEM);
        if (h) {
            EXPECT_EQ(h, before) << "a handle that was not closed is kept";
            EXPECT_EQ(h->current_line, 478);
            EXPECT_EQ(ZEP_close(h), 0);
        }
        EXPECT_TRUE(no_leaks());
    }
}

TEST_F(SeqTest, SeekStopsSkippingAtTheFirstFailedRead)
{
    ZEP_OBJECT *h = open_reader();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ZEP_seek(&h, -5), ZEP_E_SCANLINE) << "the window ends at line 0";
    EXPECT_EQ(lines_read(), range_down(479, 0));
    EXPECT_EQ(h->current_line, 0);
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(SeqTest, SeekWarnsWhenTheReopenDoesNotReachTheLine)
{
    ZEP_OBJECT *h = open_reader();
    ASSERT_NE(h, nullptr);
    testing::internal::CaptureStderr();
    ZEP_seek(&h, 600); // above the window: no reader gets there
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "ZEP_seek: did not advance image pointer correctly\n");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(opens(), 2);
    EXPECT_TRUE(lines_read().empty());
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(SeqTest, MovesWithoutARoutineOrPrivateDataAreRefused)
{
    ZEP_OBJECT *h = open_reader();
    ASSERT_NE(h, nullptr);
    void *line = nullptr;

    struct Case {
        const char *what;
        std::function<int()> move;
    };
    const Case cases[] = {
        {"direct read", [&] { return ZEP_direct_scan_read(h, 479, 1, 2, 3, 4); }},
        {"direct write", [&] { return ZEP_direct_scan_write(h, 479, 1, 2, 3, 4); }},
        {"read with null entry 0",
         [&] {
             void *saved = h->priv[0];
             h->priv[0] = nullptr; // a locked sub-image
             const int rc = ZEP_scan_read(h, 479, &line);
             h->priv[0] = saved;
             return rc;
         }},
        {"write with null entry 0",
         [&] {
             void *saved = h->priv[0];
             h->priv[0] = nullptr;
             const int rc = ZEP_scan_write(h, 479, &line);
             h->priv[0] = saved;
             return rc;
         }},
        {"read with no private table",
         [&] {
             void **saved = h->priv;
             h->priv = nullptr;
             const int rc = ZEP_scan_read(h, 479, &line);
             h->priv = saved;
             return rc;
         }},
        {"read without a scan routine",
         [&] {
             ZEP_SCAN_FN saved = h->scan;
             h->scan = nullptr;
             const int rc = ZEP_scan_read(h, 479, &line);
             h->scan = saved;
             return rc;
         }},
        {"null handle", [&] { return ZEP_scan_read(nullptr, 479, &line); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        zep__err = 0;
        EXPECT_EQ(c.move(), ZEP_E_UNSUPPORTED);
        EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
        EXPECT_EQ(h->current_line, 480);
    }
    EXPECT_TRUE(lines_read().empty()) << "the driver was never called";
    read_and_check(h, 479);
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(SeqTest, RasterWithoutRoutineReportsAndLeavesTheCode)
{
    ZEP_OBJECT *h = open_reader();
    ASSERT_NE(h, nullptr);
    zep__err = ZEP_E_DECODE;
    EXPECT_EQ(ZEP_get_raster(h, 1, 2, 3, 4, 5), ZEP_E_UNSUPPORTED);
    EXPECT_EQ(zep__err, ZEP_E_DECODE);
    EXPECT_EQ(messages_of(zep::kNoRaster),
              std::vector<std::string>{text_of(zep::kNoRaster, path_.c_str(), "seq")});
    EXPECT_EQ(h->current_line, 480);
    EXPECT_EQ(ZEP_close(h), 0);
}

// Two threads read lines of their own handles while the main thread opens
// and closes a third file: each move holds only its handle's mutex, and a
// close takes the handle mutex before the library mutex.
TEST_F(SeqTest, HandlesOfDifferentFilesMoveLinesInParallel)
{
    constexpr int kWidth = 8, kHeight = 64, kPasses = 40;
    auto value = [](int file, int y, int c, int x) { return uint8_t(file * 101 + y * 3 + c + x); };
    std::string paths[3];
    for (int f = 0; f < 3; ++f) {
        paths[f] = dir_.file("par" + std::to_string(f) + ".tst");
        Request w(paths[f].c_str(), nullptr);
        w.images(1, kWidth, 0, kHeight - 1);
        ZEP_OBJECT *h = ZEP_open(&w.info, "w");
        ASSERT_NE(h, nullptr);
        uint8_t rows[3][kWidth];
        void *table[3] = {rows[0], rows[1], rows[2]};
        for (int y = 0; y < kHeight; ++y) {
            for (int c = 0; c < 3; ++c)
                for (int x = 0; x < kWidth; ++x)
                    rows[c][x] = value(f, y, c, x);
            ASSERT_EQ(ZEP_scan_write(h, y, table), 0);
        }
        ASSERT_EQ(ZEP_close(h), 0);
    }

    ZEP_OBJECT *readers[2];
    for (int f = 0; f < 2; ++f) {
        Request r(paths[f].c_str(), nullptr);
        readers[f] = ZEP_open(&r.info, "r");
        ASSERT_NE(readers[f], nullptr);
    }
    int wrong[2] = {0, 0};
    auto read_all = [&](int f) {
        for (int pass = 0; pass < kPasses; ++pass)
            for (int y = 0; y < kHeight; ++y) {
                void **line = nullptr;
                if (ZEP_scan_read(readers[f], y, &line) != 0) {
                    ++wrong[f];
                    continue;
                }
                for (int c = 0; c < 3; ++c)
                    for (int x = 0; x < kWidth; ++x)
                        if (static_cast<const uint8_t *>(line[c])[x] != value(f, y, c, x))
                            ++wrong[f];
            }
    };
    std::thread a(read_all, 0), b(read_all, 1);
    int failed_opens = 0;
    for (int i = 0; i < kPasses; ++i) {
        Request r(paths[2].c_str(), nullptr);
        ZEP_OBJECT *h = ZEP_open(&r.info, "r");
        if (!h) {
            ++failed_opens;
            continue;
        }
        void **line = nullptr;
        if (ZEP_scan_read(h, i % kHeight, &line) != 0) ++failed_opens;
        ZEP_close(h);
    }
    a.join();
    b.join();
    EXPECT_EQ(failed_opens, 0);
    EXPECT_EQ(wrong[0], 0);
    EXPECT_EQ(wrong[1], 0);
    EXPECT_EQ(ZEP_close(readers[0]), 0);
    EXPECT_EQ(ZEP_close(readers[1]), 0);
}

// ---- Dispatch to the driver's routines (tst_alias logs every call) ---------

class AliasTest : public SeqTest {
  protected:
    ZEP_OBJECT *open_alias(const char *mode)
    {
        Request r(dir_.file("a").c_str(), "pipe");
        r.images(1, 4, 0, 3);
        function<ResetFn>(kAlias, "tst_alias_reset")();
        return ZEP_open(&r.info, mode);
    }
    int routine() { return function<CountFn>(kAlias, "tst_alias_routine")(); }
    intptr_t arg(int i) { return function<ArgFn>(kAlias, "tst_alias_arg")(i); }
};

TEST_F(AliasTest, LineMovesPassTheirArgumentsAndRecordTheLine)
{
    for (const char *mode : {"r", "w"}) {
        SCOPED_TRACE(mode);
        ZEP_OBJECT *h = open_alias(mode);
        ASSERT_NE(h, nullptr);
        const intptr_t priv = reinterpret_cast<intptr_t>(h->priv[0]);
        int buffer = 0;

        struct Move {
            const char *what;
            std::function<int(int)> call; // (line) -> result
            int routine;
            std::vector<intptr_t> extra; // arguments logged after the line
        };
        const Move moves[] = {
            {"scan read",
             [&](int y) { return ZEP_scan_read(h, y, &buffer); },
             kAliasScan,
             {reinterpret_cast<intptr_t>(&buffer)}},
            {"scan write",
             [&](int y) { return ZEP_scan_write(h, y, &buffer); },
             kAliasScan,
             {reinterpret_cast<intptr_t>(&buffer)}},
            {"direct read",
             [&](int y) { return ZEP_direct_scan_read(h, y, 11, -12, 13, 14); },
             kAliasDirect,
             {11, -12, 13, 14}},
            {"direct write",
             [&](int y) { return ZEP_direct_scan_write(h, y, 21, 22, 23, -24); },
             kAliasDirect,
             {21, 22, 23, -24}},
        };
        int line = 7;
        for (const Move &m : moves) {
            SCOPED_TRACE(m.what);
            ++line;
            EXPECT_EQ(m.call(line), 0);
            EXPECT_EQ(routine(), m.routine);
            EXPECT_EQ(arg(0), priv);
            EXPECT_EQ(arg(1), line);
            for (size_t i = 0; i < m.extra.size(); ++i)
                EXPECT_EQ(arg(int(i) + 2), m.extra[i]) << "argument " << i;
            EXPECT_EQ(h->current_line, line);
            // A failing move returns the routine's result and keeps the line.
            EXPECT_EQ(m.call(-3), -2);
            EXPECT_EQ(h->current_line, line);
        }
        EXPECT_EQ(ZEP_close(h), kAliasCloseResult);
    }
}

TEST_F(AliasTest, RasterPassesItsArgumentsAndForgetsTheLine)
{
    ZEP_OBJECT *h = open_alias("r");
    ASSERT_NE(h, nullptr);
    int buffer = 0;
    ASSERT_EQ(ZEP_scan_read(h, 9, &buffer), 0);
    EXPECT_EQ(ZEP_get_raster(h, 101, 102, -103, 104, 105), kAliasRasterResult);
    EXPECT_EQ(routine(), kAliasRaster);
    EXPECT_EQ(arg(0), reinterpret_cast<intptr_t>(h->priv[0]));
    const intptr_t expected[] = {101, 102, -103, 104, 105};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(arg(i + 1), expected[i]);
    EXPECT_EQ(h->current_line, -1);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(ZEP_close(h), kAliasCloseResult);
}

TEST_F(AliasTest, SeekUsesTheSeekRoutineAndReturnsTheCode)
{
    ZEP_OBJECT *h = open_alias("r");
    ASSERT_NE(h, nullptr);
    ZEP_OBJECT *const before = h;
    zep__err = ZEP_E_DECODE;
    EXPECT_EQ(ZEP_seek(&h, 33), ZEP_E_DECODE) << "the routine's own result is ignored";
    EXPECT_EQ(h, before);
    EXPECT_EQ(routine(), kAliasSeek);
    EXPECT_EQ(arg(0), reinterpret_cast<intptr_t>(h->priv[0]));
    EXPECT_EQ(arg(1), 33);
    EXPECT_EQ(ZEP_close(h), kAliasCloseResult);
}

TEST_F(SeqTest, SeekOnAFormatReadingAnyOrderDoesNothing)
{
    const std::string path = dir_.file("any.tst");
    Request w(path.c_str(), nullptr);
    w.images(1, 4, 0, 9, 0);
    ZEP_OBJECT *writer = ZEP_open(&w.info, "w");
    ASSERT_NE(writer, nullptr);
    ASSERT_EQ(ZEP_close(writer), 0);

    Request r(path.c_str(), nullptr);
    ZEP_OBJECT *h = ZEP_open(&r.info, "r");
    ASSERT_NE(h, nullptr);
    ASSERT_STREQ(h->info.key, "tst");
    ASSERT_EQ(h->seek, nullptr);
    void *line = nullptr;
    ASSERT_EQ(ZEP_scan_read(h, 2, &line), 0);
    struct Counters {
        int read_opens, write_opens, closes;
    };
    const Counters *counters = function<const Counters *()>(kFormat, "tst_counters")();
    const int read_opens = counters->read_opens;
    ZEP_OBJECT *const before = h;
    zep__err = 0;
    EXPECT_EQ(ZEP_seek(&h, 1), 0);
    EXPECT_EQ(h, before);
    EXPECT_EQ(h->current_line, 2);
    EXPECT_EQ(counters->read_opens, read_opens) << "no re-open";
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(SeqTest, SeekWithoutAHandle)
{
    ZEP_OBJECT *none = nullptr;
    EXPECT_EQ(ZEP_seek(&none, 3), ZEP_E_UNSUPPORTED);
    EXPECT_EQ(ZEP_seek(nullptr, 3), ZEP_E_UNSUPPORTED);
}

// ---- Closing ----------------------------------------------------------------

TEST_F(SeqTest, CloseWithoutACloseRoutineIsRefused)
{
    ZEP_OBJECT bare{};
    zep__err = 0;
    EXPECT_EQ(ZEP_close_do_it(&bare), ZEP_E_UNSUPPORTED);
    EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
    zep__err = 0;
    EXPECT_EQ(ZEP_close_do_it(nullptr), ZEP_E_UNSUPPORTED);
    EXPECT_EQ(ZEP_close(nullptr), ZEP_E_UNSUPPORTED);
    EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
}

} // namespace
} // namespace open_test
