// Threads on the library at once: workers released together at a barrier
// each write and read back their own "mem" images and their own "tst" files,
// while another thread keeps opening, reading, probing and closing files.
// The tsan preset runs this under ThreadSanitizer; every run checks the
// bytes that come back.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "image/plugin_loader.h"

namespace {

constexpr int kWidth = 24;
constexpr int kHeight = 12;
constexpr int kChannels = 4; // three colour channels and a matte

uint8_t sample(int seed, int y, int c, int x) { return static_cast<uint8_t>(seed * 31 + y * 7 + c * 3 + x); }

ZEP_IMAGE_DESC describe()
{
    ZEP_IMAGE_DESC d{};
    d.response.kind = ZEP_CURVE_ANALYTIC;
    d.response.gamma = 1.0f;
    d.window = d.active = ZEP_WINDOW{0, kWidth - 1, 0, kHeight - 1};
    d.planar = 1;
    for (ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux, &d.index}) {
        g->type = ZEP_C_INTEGER;
        g->width = 8;
    }
    d.index.width = 16;
    d.chan.count = 3;
    d.matte.count = 1;
    return d;
}

// Opens name for writing and writes every line; returns the open handle.
ZEP_OBJECT *write_image(const std::string &name, int seed)
{
    ZEP_IMAGE_DESC desc = describe();
    ZEP_INFO info;
    ZEP_info_init(&info);
    info.handle = const_cast<char *>(name.c_str());
    info.num_images = 1;
    info.images = &desc;
    ZEP_OBJECT *h = ZEP_open(&info, "w");
    if (!h) return nullptr;
    void **line = ZEP_chan_alloc(&desc, kWidth, "concurrency", nullptr);
    bool ok = line != nullptr;
    for (int y = 0; ok && y < kHeight; ++y) {
        for (int c = 0; c < kChannels; ++c)
            for (int x = 0; x < kWidth; ++x) static_cast<uint8_t *>(line[c])[x] = sample(seed, y, c, x);
        ok = ZEP_scan_write(h, y, line) == 0;
    }
    ZEP_chan_free(line);
    if (!ok) {
        ZEP_close(h);
        return nullptr;
    }
    return h;
}

// Reads every line of name back; true when all bytes are the seed's.
bool read_back(const std::string &name, int seed)
{
    ZEP_INFO info;
    ZEP_info_init(&info);
    info.handle = const_cast<char *>(name.c_str());
    ZEP_OBJECT *h = ZEP_open(&info, "r");
    if (!h) return false;
    bool same = true;
    for (int y = 0; same && y < kHeight; ++y) {
        void **got = nullptr;
        same = ZEP_scan_read(h, y, &got) == 0 && got;
        for (int c = 0; same && c < kChannels; ++c)
            for (int x = 0; x < kWidth; ++x) same &= static_cast<uint8_t *>(got[c])[x] == sample(seed, y, c, x);
    }
    return ZEP_close(h) >= 0 && same;
}

TEST(Concurrency, ThreadsMoveLinesOnTheirOwnImagesWhileAnotherOpensAndCloses)
{
    char dir_template[] = "/tmp/zep-concurrency-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;

    zeptest::Plugins plugins({"tst_format"});
    ASSERT_EQ(plugins.init(), 0);

    // A file the churning thread keeps reopening.
    const std::string shared = dir + "/shared.tst";
    ZEP_OBJECT *w = write_image(shared, 99);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(ZEP_close(w), 0);

    constexpr int kWorkers = 4;
    constexpr int kRounds = 12;
    std::barrier start(kWorkers + 1);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;

    for (int id = 0; id < kWorkers; ++id) {
        threads.emplace_back([&, id] {
            start.arrive_and_wait();
            for (int round = 0; round < kRounds; ++round) {
                int seed = id * 100 + round;
                // "mem": read while the writer is still open, then close both.
                std::string mem = "worker" + std::to_string(id) + "_" + std::to_string(round) + ".mem";
                ZEP_OBJECT *mw = write_image(mem, seed);
                if (!mw || !read_back(mem, seed)) failures++;
                if (mw && ZEP_close(mw) != 0) failures++;
                // "tst": a real file, closed before it is read.
                std::string file = dir + "/worker" + std::to_string(id) + "_" + std::to_string(round) + ".tst";
                ZEP_OBJECT *fw = write_image(file, seed);
                if (!fw || ZEP_close(fw) != 0 || !read_back(file, seed)) failures++;
                if (zep__err != 0) failures++;
            }
        });
    }
    threads.emplace_back([&] {
        start.arrive_and_wait();
        for (int i = 0; i < kWorkers * kRounds; ++i) {
            if (!read_back(shared, 99)) failures++;
            uint8_t definite = 0;
            const char *key = ZEP_get_file_type(shared.c_str(), nullptr, &definite);
            if (!key || std::string(key) != "tst") failures++;
        }
    });
    for (auto &t : threads) t.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(ZEP_exit(), 0);
    std::string cleanup = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(cleanup.c_str()), 0);
}

// Counts the reports it sees and checks that the text handed over is still
// the report's own while the handler runs (another thread's report must not
// overwrite it).
std::atomic<int> seen_reports{0}, torn_reports{0};
int count_report(const char *, int, const char *message, ERR_RECORD *record, void *)
{
    const std::string text = message;
    std::this_thread::yield();
    if (record->format && text != record->format) torn_reports++;
    seen_reports++;
    return 0;
}

TEST(Concurrency, ReadsFailingOnSeveralHandlesAtOnceEachReportIntact)
{
    ASSERT_TRUE(ERR_dcl_handler(nullptr, count_report, nullptr));
    constexpr int kWorkers = 4;
    constexpr int kRounds = 50;
    std::vector<ZEP_OBJECT *> writers;
    for (int id = 0; id < kWorkers; ++id) {
        writers.push_back(write_image("failing" + std::to_string(id) + ".mem", id));
        ASSERT_NE(writers.back(), nullptr);
    }
    const int before = ERR_stats(ERR_ERROR);
    std::barrier start(kWorkers);
    std::vector<std::thread> threads;
    for (int id = 0; id < kWorkers; ++id) {
        threads.emplace_back([&, id] {
            ZEP_INFO info;
            ZEP_info_init(&info);
            std::string name = "failing" + std::to_string(id) + ".mem";
            info.handle = name.data();
            ZEP_OBJECT *h = ZEP_open(&info, "r");
            start.arrive_and_wait();
            for (int i = 0; h && i < kRounds; ++i) {
                void **got = nullptr;
                ZEP_scan_read(h, kHeight + id, &got); // past the top: reported
                ERR_printf(ERR_ERROR, "worker %d round %d", id, i);
            }
            if (h) ZEP_close(h);
        });
    }
    for (auto &t : threads) t.join();
    for (ZEP_OBJECT *w : writers) ZEP_close(w);
    ERR_can_handler(nullptr);

    EXPECT_EQ(ERR_stats(ERR_ERROR) - before, 2 * kWorkers * kRounds);
    EXPECT_EQ(seen_reports.load(), 2 * kWorkers * kRounds);
    EXPECT_EQ(torn_reports.load(), 0);
    EXPECT_EQ(ZEP_exit(), 0);
}

} // namespace
