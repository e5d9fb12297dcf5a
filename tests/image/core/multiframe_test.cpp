// The multi-frame open-file cache (limits, reuse, use counts, changed files,
// settings, memory) and the frame and playback calls. The "mfr" module counts
// its real opens and closes and logs the last frame or playback call.
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <thread>

#include "image/core/image_support.h"

namespace {

using namespace zt;

// Byte i of row y of frame f of an "mfr" file made with seed s.
uint8_t mfr_byte(int s, int f, int y, int i) { return uint8_t(s * 29 + f * 17 + y * 5 + i); }

class CacheTest : public LibTest {
  protected:
    // Starts with the "mfr" and "tst" modules, keeping at most `limit` closed
    // files open (null: the default).
    void start_cache(const char *limit = nullptr)
    {
        if (limit) setenv("KV_ZEP_MULTIFRAME_OPEN", limit, 1);
        start({"tst_multiframe", "tst_format"});
    }
    // Writes an "mfr" file: "ZMFR", frame count, width 4 and height 2 as
    // 32-bit little-endian words, then the frames' rows of three planes.
    void make_mfr(const std::string &name, int frames, int seed)
    {
        std::string b = "ZMFR";
        for (int i = 0; i < 12; ++i)
            b += char((i < 4 ? frames : i < 8 ? 4 : 2) >> 8 * (i % 4));
        for (int i = 0; i < frames * 24; ++i)
            b += char(mfr_byte(seed, i / 24, i / 12 % 2, i % 12));
        write_file(name, b);
    }
    ZEP_OBJECT *open_r(const std::string &name, ZEP_CAP_SETTING **settings = nullptr)
    {
        Info r(file(name));
        r.info.cap_settings = settings;
        return r.open("r");
    }
    void cycle(const std::string &name, ZEP_CAP_SETTING **settings = nullptr)
    {
        ZEP_OBJECT *h = open_r(name, settings);
        ASSERT_NE(h, nullptr) << name;
        EXPECT_EQ(ZEP_close(h), 0);
    }
    int opens() { return *sym<int>("tst_multiframe", "mfr_opens"); }
    int closes() { return *sym<int>("tst_multiframe", "mfr_closes"); }
    static int first_byte(ZEP_OBJECT *h)
    {
        void **line = nullptr;
        return ZEP_scan_read(h, 0, &line) == 0 ? static_cast<uint8_t *>(line[0])[0] : -1;
    }
    // Lets the file system clock move on, so a change gives a new ctime.
    static void tick() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }
};

TEST_F(CacheTest, DefaultLimitKeepsAtMostFourteenClosedFiles)
{
    start_cache();
    EXPECT_EQ(ZEP_multiframe_used(), 1);
    for (int i = 0; i < 20; ++i) {
        make_mfr("f" + std::to_string(i) + ".mfr", 2, i);
        cycle("f" + std::to_string(i) + ".mfr");
    }
    EXPECT_EQ(std::tuple(opens(), closes()), std::tuple(20, 6));
    ZEP_OBJECT *h = open_r("f19.mfr"); // the newest is served from the cache
    EXPECT_EQ(std::tuple(opens(), first_byte(h)), std::tuple(20, int(mfr_byte(19, 0, 0, 0))));
    EXPECT_EQ(ZEP_close(h), 0);
    cycle("f0.mfr"); // the oldest was closed
    EXPECT_EQ(opens(), 21);
    EXPECT_LE(opens() - closes(), 14);
}

// Limit 3: a release evicts from the front of the least-recently-used
// order while three entries are cached; a reuse moves an entry to the back.
TEST_F(CacheTest, EnvironmentLimitAndLeastRecentlyUsedOrder)
{
    start_cache("3");
    for (const char *n : {"a", "b", "c", "d"})
        make_mfr(std::string(n) + ".mfr", 1, 1);
    const std::pair<const char *, int> steps[] = {{"a", 1}, {"b", 2}, {"c", 3}, {"b", 3},
                                                  {"d", 4}, {"b", 4}, {"c", 5}, {"a", 6}};
    for (auto [name, want_opens] : steps) {
        cycle(std::string(name) + ".mfr");
        EXPECT_EQ(opens(), want_opens) << name;
        EXPECT_LE(opens() - closes(), 2);
    }
}

// One file opened twice shares one handle; only the last release can close
// it, and with limit 0 it does.
TEST_F(CacheTest, UseCountsKeepSharedHandlesOpen)
{
    for (const char *limit : {"15", "0"}) {
        SCOPED_TRACE(limit);
        start_cache(limit);
        make_mfr("m.mfr", 3, 7);
        const int opens0 = opens(), closes0 = closes(), zero = limit[0] == '0';
        ZEP_OBJECT *a = open_r("m.mfr"), *b = open_r("m.mfr");
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(std::tuple(b, opens()), std::tuple(a, opens0 + 1));
        EXPECT_EQ(ZEP_close(a), 0);
        EXPECT_EQ(std::tuple(closes(), first_byte(b)), std::tuple(closes0, mfr_byte(7, 0, 0, 0)));
        EXPECT_EQ(ZEP_close(b), 0);
        EXPECT_EQ(closes(), closes0 + zero);
        cycle("m.mfr");
        EXPECT_EQ(opens(), opens0 + 1 + zero);
        stop();
    }
}

TEST_F(CacheTest, ChangedFilesAreReadAnewUnlessStillHeld)
{
    start_cache();
    make_mfr("r.mfr", 2, 1);
    cycle("r.mfr");
    tick();
    make_mfr("r.mfr", 5, 9);
    ZEP_OBJECT *h = open_r("r.mfr");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::tuple(opens(), closes(), h->info.num_frames, first_byte(h)),
              std::tuple(2, 1, 5, mfr_byte(9, 0, 0, 0)))
        << "the stale handle was closed and the file read anew";
    EXPECT_EQ(ZEP_close(h), 0);
    tick();
    ASSERT_EQ(chmod(file("r.mfr").c_str(), 0640), 0); // any change of status counts
    cycle("r.mfr");
    cycle("r.mfr"); // unchanged: reused
    EXPECT_EQ(opens(), 3);

    ZEP_OBJECT *held = open_r("r.mfr");
    tick();
    make_mfr("r.mfr", 1, 2);
    EXPECT_EQ(open_r("r.mfr"), held) << "a holder still uses it";
    EXPECT_EQ(std::tuple(ZEP_close(held) + ZEP_close(held), opens()), std::tuple(0, 3));

    fs::remove(file("r.mfr"));
    reports.clear();
    EXPECT_EQ(open_r("r.mfr"), nullptr);
    EXPECT_EQ(closes(), 3) << "a vanished file is evicted";
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0].message.rfind(file("r.mfr") + ": ", 0), 0u) << reports[0].message;
}

TEST_F(CacheTest, UncachedFormatsAndDisabledCachesCloseAtOnce)
{
    start_cache();
    const int *tst = sym<const int *()>("tst_format", "tst_counters")(); // read, write, close
    Info w(file("s.tst"), nullptr, {describe({0, 3, 0, 1})});
    ASSERT_EQ(ZEP_close(w.open("w")), 0);
    const int tst_closes = tst[2];
    cycle("s.tst");
    EXPECT_EQ(tst[2], tst_closes + 1) << "a single-frame format is never cached";

    for (const char *n : {"a", "b", "c", "d"})
        make_mfr(std::string(n) + ".mfr", 1, 1);
    for (int on : {0, 1}) { // a disabled cache closes at once
        ZEP_multiframe_set(on, 15);
        EXPECT_EQ(ZEP_multiframe_used(), on);
        cycle(on ? "a.mfr" : "d.mfr");
        EXPECT_EQ(closes(), 1);
    }
}

// The cache keeps its own copy of the settings: equal values match.
TEST_F(CacheTest, CapabilitySettingsTellOpensApart)
{
    start_cache();
    make_mfr("s.mfr", 1, 1);
    ZEP_CAP_SETTING one{0, {1}}, two{0, {2}}, one_again{0, {1}};
    ZEP_CAP_SETTING *l1[] = {&one, nullptr}, *l2[] = {&two, nullptr},
                    *l1b[] = {&one_again, nullptr};
    const std::pair<ZEP_CAP_SETTING **, int> steps[] = {{l1, 1}, {l2, 2}, {l1b, 2}, {nullptr, 3}};
    for (auto [settings, want_opens] : steps) {
        cycle("s.mfr", settings);
        EXPECT_EQ(opens(), want_opens);
    }
}

// A failure before the file is open fails the open with -10; one of the six
// while caching it leaves a successful open whose close closes the file.
TEST_F(CacheTest, OutOfMemoryWhileCachingKeepsTheOpen)
{
    start_cache();
    make_mfr("oom.mfr", 2, 4);
    ZEP_CAP_SETTING s0{0, {5}}, s1{1, {6}}, *settings[] = {&s0, &s1, nullptr};
    int uncached = 0;
    fail_each_allocation([&] { return open_r("oom.mfr", settings); },
                         [&](ZEP_OBJECT *h, bool failed) {
                             const int closes0 = closes();
                             EXPECT_TRUE(h || zep__err == ZEP_E_NOMEM);
                             EXPECT_EQ(h ? first_byte(h) : 4 * 29, mfr_byte(4, 0, 0, 0));
                             EXPECT_EQ(h ? ZEP_close(h) : 0, 0);
                             uncached += failed && h;
                             EXPECT_EQ(closes(), closes0 + (failed && h));
                         });
    EXPECT_EQ(uncached, 6);
    const int opens0 = opens();
    cycle("oom.mfr", settings);
    EXPECT_EQ(opens(), opens0) << "the cached handle is served again";
}

// Each call, what the module logs for it, what it returns, and the message
// of a handle that cannot take it.
// clang-format off
const struct Dispatch {
    std::function<int(ZEP_OBJECT *)> call;
    int logged, result;
    std::vector<intptr_t> args;
    const zep::Message &unsupported;
} kDispatches[] = {
    {[](ZEP_OBJECT *h) { return ZEP_get_frame(h, 42); }, 1, 0, {42}, zep::kNoSetFrame},
    {[](ZEP_OBJECT *h) { return ZEP_set_frame(h, 1); }, 2, 0, {1}, zep::kNoSetFrame},
    {[](ZEP_OBJECT *h) { return ZEP_playback_bind(h, -3, INTPTR_MAX); }, 3, 101, {-3, INTPTR_MAX},
     zep::kNoPlaybackWindow},
    {[](ZEP_OBJECT *h) { return ZEP_playback_goto(h, 17); }, 4, 102, {17}, zep::kNoPlaybackFrame},
    {[](ZEP_OBJECT *h) { return ZEP_playback_params(h, 1, 2, 3, 4, 5, 6, 7, INTPTR_MIN); }, 5, 103,
     {1, 2, 3, 4, 5, 6, 7, INTPTR_MIN}, zep::kNoPlaybackParams},
    {[](ZEP_OBJECT *h) { return ZEP_playback_play(h, 9, -8, 7, -6, 5); }, 6, 104, {9, -8, 7, -6, 5},
     zep::kNoPlaybackStart},
    {[](ZEP_OBJECT *h) { return ZEP_playback_stop(h, -1); }, 7, 105, {-1}, zep::kNoPlaybackStop},
};
// clang-format on

TEST_F(CacheTest, FrameAndPlaybackCallsReachTheModuleOrAreRefused)
{
    start_cache();
    make_mfr("p.mfr", 3, 6);
    ZEP_OBJECT *h = open_r("p.mfr");
    ASSERT_NE(h, nullptr);
    const intptr_t *args = sym<intptr_t>("tst_multiframe", "mfr_last_args");
    for (const Dispatch &d : kDispatches) {
        SCOPED_TRACE(d.logged);
        zep__err = -7;
        EXPECT_EQ(d.call(h), d.result);
        EXPECT_EQ(std::tuple(*sym<int>("tst_multiframe", "mfr_last_call"),
                             *sym<void *>("tst_multiframe", "mfr_last_priv"), zep__err),
                  std::tuple(d.logged, h->priv[0], -7));
        std::vector<intptr_t> want = d.args;
        want.resize(8);
        EXPECT_EQ(std::vector<intptr_t>(args, args + 8), want);
    }
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(ZEP_close(h), 0);

    // A single-frame handle, a multi-frame one without frames and no handle:
    // each call reports its message and returns -16, leaving zep__err.
    Info w(file("one.tst"), nullptr, {describe({0, 1, 0, 1})});
    ASSERT_EQ(ZEP_close(w.open("w")), 0);
    make_mfr("n.mfr", 2, 1);
    ZEP_OBJECT *single = open_r("one.tst"), *framed = open_r("n.mfr");
    ASSERT_TRUE(single && framed);
    framed->info.num_frames = 0;
    *sym<int>("tst_multiframe", "mfr_last_call") = 0;
    for (const Dispatch &d : kDispatches)
        for (ZEP_OBJECT *o : {single, framed, static_cast<ZEP_OBJECT *>(nullptr)}) {
            SCOPED_TRACE(std::to_string(d.logged) + (o ? o->info.key : " null"));
            reports.clear();
            zep__err = -7;
            EXPECT_EQ((std::tuple{d.call(o), zep__err}), std::tuple(ZEP_E_UNSUPPORTED, -7));
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(std::tuple(reports[0].format, reports[0].severity),
                      std::tuple(d.unsupported.text, d.unsupported.severity));
            if (o) {
                EXPECT_EQ(reports[0].message, text_of(d.unsupported, o->info.handle, o->info.key));
            }
        }
    EXPECT_EQ(*sym<int>("tst_multiframe", "mfr_last_call"), 0) << "the module was never called";
    framed->info.num_frames = 2;
    EXPECT_EQ(ZEP_close(single) + ZEP_close(framed), 0);
}

} // namespace
