// Frame and playback calls: dispatch to the module's routines with the
// driver data and the arguments unchanged, and the messages of handles that
// cannot take them.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "mf_support.h"

namespace {

using namespace mf_test;

class PlaybackTest : public MultiFrameTest {};

// What the module records for each call (its MFR_CALL_* numbers).
enum Call { kGetFrame = 1, kSetFrame, kBind, kGoto, kParams, kPlay, kStop };

struct Dispatch {
    const char *name;
    std::function<int(ZEP_OBJECT *)> call;
    int module_call;
    int module_result;
    std::vector<intptr_t> args;
    const zep::Message *unsupported;
};

const intptr_t kBig = static_cast<intptr_t>(INTPTR_MAX - 7);

std::vector<Dispatch> dispatches()
{
    return {
        {"get_frame",
         [](ZEP_OBJECT *h) { return ZEP_get_frame(h, 42); },
         kGetFrame,
         0,
         {42},
         &zep::kNoSetFrame},
        {"set_frame",
         [](ZEP_OBJECT *h) { return ZEP_set_frame(h, 1); },
         kSetFrame,
         0,
         {1},
         &zep::kNoSetFrame},
        {"bind",
         [](ZEP_OBJECT *h) { return ZEP_playback_bind(h, -3, kBig); },
         kBind,
         101,
         {-3, kBig},
         &zep::kNoPlaybackWindow},
        {"goto",
         [](ZEP_OBJECT *h) { return ZEP_playback_goto(h, 17); },
         kGoto,
         102,
         {17},
         &zep::kNoPlaybackFrame},
        {"params",
         [](ZEP_OBJECT *h) { return ZEP_playback_params(h, 1, 2, 3, 4, 5, 6, 7, kBig); },
         kParams,
         103,
         {1, 2, 3, 4, 5, 6, 7, kBig},
         &zep::kNoPlaybackParams},
        {"play",
         [](ZEP_OBJECT *h) { return ZEP_playback_play(h, 9, -8, 7, -6, 5); },
         kPlay,
         104,
         {9, -8, 7, -6, 5},
         &zep::kNoPlaybackStart},
        {"stop",
         [](ZEP_OBJECT *h) { return ZEP_playback_stop(h, -1); },
         kStop,
         105,
         {-1},
         &zep::kNoPlaybackStop},
    };
}

TEST_F(PlaybackTest, CallsReachTheModuleUnchanged)
{
    start();
    make_mfr(path("p.mfr"), 3, 2, 2, 1);
    ZEP_OBJECT *h = open_r(path("p.mfr"));
    ASSERT_NE(h, nullptr);
    for (const Dispatch &d : dispatches()) {
        SCOPED_TRACE(d.name);
        *last_call_ = 0;
        reports.clear();
        zep__err = -7;
        EXPECT_EQ(d.call(h), d.module_result);
        EXPECT_EQ(*last_call_, d.module_call);
        EXPECT_EQ(*last_priv_, h->priv[0]);
        for (size_t i = 0; i < 8; ++i)
            EXPECT_EQ(last_args_[i], i < d.args.size() ? d.args[i] : 0) << i;
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(zep__err, -7);
    }
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(PlaybackTest, SetFrameChoosesTheFrameThatLinesComeFrom)
{
    start();
    make_mfr(path("f.mfr"), 3, 4, 2, 6);
    ZEP_OBJECT *h = open_r(path("f.mfr"));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->info.num_frames, 3);
    ASSERT_EQ(ZEP_set_frame(h, 2), 0);
    EXPECT_EQ(ZEP_get_frame(h, 0), 2);
    void **line = nullptr;
    ASSERT_EQ(ZEP_scan_read(h, 1, &line), 0);
    EXPECT_EQ(static_cast<uint8_t *>(line[1])[3], mfr_byte(6, 2, 1, 4 + 3));
    // The module's own refusal comes back as it is.
    EXPECT_EQ(ZEP_set_frame(h, 3), ZEP_E_SCANLINE);
    EXPECT_EQ(ZEP_get_frame(h, 0), 2);
    EXPECT_EQ(ZEP_close(h), 0);
}

// A single-frame format fills none of the routines: each call reports its
// message with the file name and the key, and returns -16 leaving zep__err.
TEST_F(PlaybackTest, SingleFrameHandlesReportEveryCall)
{
    start();
    const std::string f = path("one.tst");
    make_tst(f, 2, 2);
    ZEP_OBJECT *h = open_r(f);
    ASSERT_NE(h, nullptr);
    for (const Dispatch &d : dispatches()) {
        SCOPED_TRACE(d.name);
        reports.clear();
        zep__err = -7;
        EXPECT_EQ(d.call(h), ZEP_E_UNSUPPORTED);
        EXPECT_EQ(zep__err, -7);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].format, d.unsupported->text);
        EXPECT_EQ(reports[0].severity, d.unsupported->severity);
        EXPECT_EQ(reports[0].message, expected(*d.unsupported, f.c_str(), "tst"));
    }
    EXPECT_EQ(ZEP_close(h), 0);
}

// The routines alone are not enough: the file must hold frames.
TEST_F(PlaybackTest, AHandleWithoutFramesIsRefused)
{
    start();
    make_mfr(path("n.mfr"), 2, 2, 2, 1);
    ZEP_OBJECT *h = open_r(path("n.mfr"));
    ASSERT_NE(h, nullptr);
    h->info.num_frames = 0;
    *last_call_ = 0;
    for (const Dispatch &d : dispatches()) {
        SCOPED_TRACE(d.name);
        reports.clear();
        EXPECT_EQ(d.call(h), ZEP_E_UNSUPPORTED);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].message, expected(*d.unsupported, path("n.mfr").c_str(), "mfr"));
    }
    EXPECT_EQ(*last_call_, 0);
    h->info.num_frames = 2;
    EXPECT_EQ(ZEP_close(h), 0);
}

TEST_F(PlaybackTest, ANullHandleIsRefused)
{
    for (const Dispatch &d : dispatches()) {
        SCOPED_TRACE(d.name);
        reports.clear();
        EXPECT_EQ(d.call(nullptr), ZEP_E_UNSUPPORTED);
        EXPECT_EQ(reports_of(*d.unsupported).size(), 1u);
    }
}

} // namespace

extern "C" int mf_c_calls(void);

namespace {

TEST_F(PlaybackTest, CallableFromC) { EXPECT_EQ(mf_c_calls(), 0); }

} // namespace
