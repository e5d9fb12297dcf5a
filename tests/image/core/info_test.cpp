// The description record: defaults of a new record, clean-up and its
// application-error lines, the defaults of image descriptions, the fill of
// a handle's description for writing and for reading, the handle copy of
// the memory format, releasing a handle, and every out-of-memory step.
//
// Each test runs with its own HOME (an empty directory unless the test
// writes a ".zeprc" there) and leaves both databases unbuilt.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <zep/colour.h>
#include <zep/config.h>
#include <zep/curves.h>
#include <zep/error.h>
#include <zep/image.h>
#include <zep/strings.h>

#include "config/format_defaults.h"
#include "error/messages.h"
#include "image/core/core.h"
#include "platform/platform.h"

#if defined(__SANITIZE_ADDRESS__)
#define INFO_TEST_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define INFO_TEST_LEAK_CHECK 1
#endif
#endif
#ifdef INFO_TEST_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace {

namespace fs = std::filesystem;

struct Report {
    std::string format; // catalogued reports pass their default format as name
    std::string message;
};

std::vector<Report> reports;

int log_handler(const char *name, int, const char *message, ERR_RECORD *, void *)
{
    reports.push_back({name ? name : "", message ? message : ""});
    return 0;
}

size_t count_of(const zep::Message &m)
{
    size_t n = 0;
    for (const Report &r : reports)
        n += r.format == m.text;
    return n;
}

// True when no block allocated so far has become unreachable (always true
// without the leak sanitizer, whose exit check is then the only one).
bool no_leaks()
{
#ifdef INFO_TEST_LEAK_CHECK
    return __lsan_do_recoverable_leak_check() == 0;
#else
    return true;
#endif
}

class SavedEnv {
  public:
    explicit SavedEnv(const char *name) : name_(name)
    {
        if (const char *v = std::getenv(name)) value_ = v;
    }
    ~SavedEnv()
    {
        if (value_)
            setenv(name_, value_->c_str(), 1);
        else
            unsetenv(name_);
    }
    SavedEnv(const SavedEnv &) = delete;
    SavedEnv &operator=(const SavedEnv &) = delete;

  private:
    const char *name_;
    std::optional<std::string> value_;
};

const std::string kCleanupLines =
    "ZEP_info_cleanup: application programming error.\n"
    "The ZEP_INFO structure being freed has either been freed already or else was never "
    "initialised.\n";

class RecordInfoTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        unload();
        std::string pattern = (fs::temp_directory_path() / "zep_info_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        home_ = pattern;
        setenv("HOME", home_.c_str(), 1);
        unsetenv("KV_ROOT");
        reports.clear();
        ASSERT_EQ(ERR_dcl_handler(nullptr, log_handler, nullptr), 1);
    }
    void TearDown() override
    {
        unload();
        ERR_can_handler(nullptr);
        std::error_code ec;
        fs::remove_all(home_, ec);
    }
    static void unload()
    {
        err__alloc_fail(0, 0);
        CLR_exit();
        FMT_exit();
        cfg__release();
    }
    // Replaces the configuration file and drops both databases, so the next
    // query reads the file again.
    void configure(const std::string &text)
    {
        std::ofstream(home_ / ".zeprc") << text;
        unload();
    }

    // A handle as the open sets one up: initialised description, no
    // slots, current line -1, its own mutex.
    static ZEP_OBJECT *new_handle(int access)
    {
        auto *h = static_cast<ZEP_OBJECT *>(ERR_malloc(sizeof(ZEP_OBJECT)));
        std::memset(h, 0, sizeof *h);
        ZEP_info_init(&h->info);
        h->access = access;
        h->current_line = -1;
        h->mutex = zep::platform::mutex_create();
        return h;
    }

    SavedEnv saved_home_{"HOME"};
    SavedEnv saved_root_{"KV_ROOT"};
    SavedEnv saved_job_{"KV_JOB_NUM"};
    fs::path home_;
};

// The twelve description strings of a record.
constexpr char *ZEP_INFO::*kAllStrings[] = {
    &ZEP_INFO::key,  &ZEP_INFO::handle,  &ZEP_INFO::name,    &ZEP_INFO::extension,
    &ZEP_INFO::desc, &ZEP_INFO::program, &ZEP_INFO::machine, &ZEP_INFO::user,
    &ZEP_INFO::date, &ZEP_INFO::time,    &ZEP_INFO::filter,  &ZEP_INFO::compression};

void expect_triple(const float *got, float x, float y, float z)
{
    EXPECT_FLOAT_EQ(got[0], x);
    EXPECT_FLOAT_EQ(got[1], y);
    EXPECT_FLOAT_EQ(got[2], z);
}

// ---- Defaults ---------------------------------------------------------------

TEST_F(RecordInfoTest, InitSetsEveryDefaultAndLeavesTheSpareWords)
{
    ZEP_INFO info;
    std::memset(&info, 0xA5, sizeof info);
    ZEP_info_init(&info);

    for (char *ZEP_INFO::*s : kAllStrings)
        EXPECT_EQ(info.*s, nullptr);
    EXPECT_EQ(info.full_path, 0);
    EXPECT_EQ(info.cap_settings, nullptr);
    EXPECT_EQ(info.reserved_byte, 0);
    EXPECT_EQ(info.reserved_word, 0);
    EXPECT_EQ(info.job_num, -1);
    EXPECT_EQ(info.frame, 1);
    EXPECT_EQ(info.field, 0);
    EXPECT_EQ(info.magic, 22839);
    expect_triple(info.red_pri, 0.67f, 0.33f, 0.0f);
    expect_triple(info.green_pri, 0.21f, 0.71f, 0.08f);
    expect_triple(info.blue_pri, 0.14f, 0.08f, 0.78f);
    expect_triple(info.white_pt, 0.310f, 0.316f, 0.374f);
    EXPECT_EQ(info.num_images, 0);
    EXPECT_EQ(info.images, nullptr);
    EXPECT_EQ(info.mf_word1, 1);
    EXPECT_FLOAT_EQ(info.frame_rate, 29.97f);
    EXPECT_EQ(info.mf_word3, 0);
    EXPECT_EQ(info.mf_word4, 0);
    EXPECT_EQ(info.num_frames, 0);
    EXPECT_EQ(info.mf_flag, 1);
    EXPECT_EQ(info.mf_word6, 0);
    EXPECT_EQ(info.mf_word7, 0);
    EXPECT_EQ(info.mf_word8, 0);
    for (int32_t w : info.spare)
        EXPECT_EQ(static_cast<uint32_t>(w), 0xA5A5A5A5u);
}

TEST_F(RecordInfoTest, InitTakesTheColourDatabasesCurrentPrimaries)
{
    configure("clr__default_red_primary 0.64 0.33 0.03\n"
              "clr__default_green_primary 0.3 0.6 0.1\n"
              "clr__default_blue_primary 0.15 0.06 0.79\n"
              "clr__default_white_point 0.3127 0.329 0.3583\n");
    ZEP_INFO info;
    ZEP_info_init(&info);
    expect_triple(info.red_pri, 0.64f, 0.33f, 0.03f);
    expect_triple(info.green_pri, 0.3f, 0.6f, 0.1f);
    expect_triple(info.blue_pri, 0.15f, 0.06f, 0.79f);
    expect_triple(info.white_pt, 0.3127f, 0.329f, 0.3583f);
}

TEST_F(RecordInfoTest, AllocGivesAnInitialisedRecordWithZeroSpareWords)
{
    ZEP_INFO *info = ZEP_info_alloc();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->magic, ZEP_INFO_MAGIC);
    EXPECT_FLOAT_EQ(info->frame_rate, 29.97f);
    EXPECT_EQ(info->frame, 1);
    EXPECT_EQ(info->job_num, -1);
    EXPECT_EQ(info->num_frames, 0);
    expect_triple(info->red_pri, 0.67f, 0.33f, 0.0f);
    expect_triple(info->white_pt, 0.310f, 0.316f, 0.374f);
    for (int32_t w : info->spare)
        EXPECT_EQ(w, 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ZEP_info_free(info, 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ZEP_info_free(nullptr, 1), 0);
}

TEST_F(RecordInfoTest, AllocOutOfMemoryReturnsNullWithMinusTenAndLeaksNothing)
{
    CLR_def_red_primary(); // build the database outside the loop
    ASSERT_TRUE(no_leaks());
    int steps = 0;
    for (int n = 1;; ++n) {
        reports.clear();
        zep__err = 0;
        err__alloc_fail(n, 0);
        ZEP_INFO *info = ZEP_info_alloc();
        const int injected = err__alloc_fail(0, 0);
        if (injected == 0) {
            ASSERT_NE(info, nullptr);
            ZEP_info_free(info, 1);
            break;
        }
        ++steps;
        EXPECT_EQ(info, nullptr) << "step " << n;
        EXPECT_EQ(zep__err, ZEP_E_NOMEM);
        EXPECT_EQ(count_of(zep::kNoMemory), 1u);
        EXPECT_TRUE(no_leaks()) << "step " << n;
    }
    EXPECT_EQ(steps, 1);
    ZEP_INFO *again = ZEP_info_alloc();
    ASSERT_NE(again, nullptr);
    ZEP_info_free(again, 1);
    EXPECT_TRUE(no_leaks());
}

// ---- Clean-up ---------------------------------------------------------------

// A record whose strings and image array are heap blocks, as the library
// fills them; its aspect names and one sampled response curve are also
// heap blocks, which clean-up must leave alone.
struct FilledRecord {
    ZEP_INFO info;
    std::vector<char *> aspects;
    ZEP_RESPONSE_CURVE curve{};

    FilledRecord()
    {
        ZEP_info_init(&info);
        for (char *ZEP_INFO::*s : kAllStrings)
            info.*s = STR_save("text");
        info.num_images = 2;
        info.images = static_cast<ZEP_IMAGE_DESC *>(ERR_malloc(2 * sizeof(ZEP_IMAGE_DESC)));
        std::memset(info.images, 0, 2 * sizeof(ZEP_IMAGE_DESC));
        for (int i = 0; i < 2; ++i) {
            ZEP_IMAGE_DESC &d = info.images[i];
            d.chan.format = STR_save("rgb");
            d.matte.format = STR_save("raw");
            d.aux.format = i == 0 ? STR_save("raw") : nullptr;
            d.index.format = STR_save("raw");
            d.aspect_name = STR_save("ntsc_640");
            aspects.push_back(d.aspect_name);
        }
        curve.kind = ZEP_CURVE_SAMPLED;
        curve.gamma = 2.2f;
        curve.num_chan = 1;
        curve.length = 256;
        curve.elem_type = ZEP_C_INTEGER;
        curve.elem_width = 8;
        EXPECT_EQ(ZEP_response_curve_init(&curve), 0);
        info.images[0].response = curve;
    }
    // Frees what clean-up leaves to the owner; a block clean-up had freed
    // already would be caught here as a double free.
    void release_rest()
    {
        for (char *a : aspects)
            ERR_free(a);
        ZEP_response_curve_done(&curve);
    }
};

TEST_F(RecordInfoTest, CleanupFreesStringsAndImageArrayButNotAspectsOrCurves)
{
    FilledRecord r;
    testing::internal::CaptureStderr();
    ZEP_info_cleanup(&r.info, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(r.info.magic, 0);
    EXPECT_EQ(r.info.key, nullptr);
    EXPECT_EQ(r.info.handle, nullptr);
    EXPECT_EQ(r.info.compression, nullptr);
    EXPECT_EQ(r.info.images, nullptr);
    r.release_rest();
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordInfoTest, CleanupTwiceWritesBothLinesAndReleasesNothingTwice)
{
    FilledRecord r;
    ZEP_info_cleanup(&r.info, 1);
    testing::internal::CaptureStderr();
    ZEP_info_cleanup(&r.info, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kCleanupLines);
    EXPECT_EQ(r.info.magic, 0);
    r.release_rest();
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordInfoTest, CleanupOfARecordNeverInitialisedWritesTheLinesAndGoesOn)
{
    ZEP_INFO info;
    std::memset(&info, 0, sizeof info);
    info.magic = 1234;
    info.name = STR_save("kept going");
    testing::internal::CaptureStderr();
    ZEP_info_cleanup(&info, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kCleanupLines);
    EXPECT_EQ(info.magic, 0);
    EXPECT_EQ(info.name, nullptr);
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordInfoTest, CleanupWithoutFreeStringsOnlyClearsTheMark)
{
    FilledRecord r;
    char *key = r.info.key;
    ZEP_IMAGE_DESC *images = r.info.images;
    ZEP_info_cleanup(&r.info, 0);
    EXPECT_EQ(r.info.magic, 0);
    EXPECT_EQ(r.info.key, key);
    EXPECT_EQ(r.info.images, images);
    // The strings are still the record's: a freeing clean-up releases them.
    r.info.magic = ZEP_INFO_MAGIC;
    ZEP_info_cleanup(&r.info, 1);
    r.release_rest();
    EXPECT_TRUE(no_leaks());
}

// ---- Image description defaults ----------------------------------------------

void expect_default_image(const ZEP_IMAGE_DESC &d, float gamma, int width)
{
    EXPECT_EQ(d.usage, 1);
    EXPECT_EQ(d.response.kind, ZEP_CURVE_ANALYTIC);
    EXPECT_FLOAT_EQ(d.response.gamma, gamma);
    EXPECT_EQ(d.response.reserved, 0u);
    EXPECT_EQ(d.response.num_chan, 1);
    EXPECT_EQ(d.response.length, 256);
    EXPECT_EQ(d.response.elem_type, ZEP_C_INTEGER);
    EXPECT_EQ(d.response.elem_width, width);
    EXPECT_EQ(d.response.tables, nullptr);
    EXPECT_EQ(d.aspect_name, nullptr);
    EXPECT_EQ(d.planar, 1);
    EXPECT_EQ(d.scan_flags, 1);
    for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux, &d.index}) {
        EXPECT_EQ(g->format, nullptr);
        EXPECT_EQ(g->count, 0);
        EXPECT_EQ(g->type, ZEP_C_INTEGER);
    }
    EXPECT_EQ(d.chan.width, 8);
    EXPECT_EQ(d.matte.width, 8);
    EXPECT_EQ(d.aux.width, 8);
    EXPECT_EQ(d.index.width, 16);
}

TEST_F(RecordInfoTest, InitIfdSetsEveryImageAndLeavesWindowsAndAspectNumbers)
{
    ZEP_OBJECT handle;
    std::memset(&handle, 0, sizeof handle);
    ZEP_IMAGE_DESC images[3];
    std::memset(images, 0xA5, sizeof images);
    for (int i = 0; i < 3; ++i) {
        images[i].window = {i, 639, 2 * i, 479};
        images[i].active = {1, 2, 3, 4 + i};
        images[i].aspect_width = 640 + i;
        images[i].aspect_height = 480;
        images[i].aspect_ratio = 1.25f;
    }
    handle.info.num_images = 3;
    handle.info.images = images;
    EXPECT_EQ(zep__init_ifd(&handle), 1);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        expect_default_image(images[i], 2.2f, 12);
        EXPECT_EQ(images[i].window.left, i);
        EXPECT_EQ(images[i].window.bottom, 2 * i);
        EXPECT_EQ(images[i].window.top, 479);
        EXPECT_EQ(images[i].active.top, 4 + i);
        EXPECT_EQ(images[i].aspect_width, 640 + i);
        EXPECT_EQ(images[i].aspect_height, 480);
        EXPECT_FLOAT_EQ(images[i].aspect_ratio, 1.25f);
    }
    EXPECT_EQ(zep__init_ifd(nullptr), 1);
}

TEST_F(RecordInfoTest, InitIfdFollowsTheFormatDefaultsGammaAndTableResolution)
{
    struct Case {
        int resolution;
        const char *gamma;
        int width;
    };
    const Case cases[] = {
        {4096, "2.2", 12}, {1024, "1.8", 10}, {1000, "1.0", 9}, {65536, "2.5", 16}, {2, "2.2", 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.resolution);
        configure("fmt__gamma_table_res " + std::to_string(c.resolution) + "\nfmt__gamma_default " +
                  c.gamma + "\n");
        ASSERT_EQ(FMT_init(nullptr), 0);
        ZEP_OBJECT handle;
        std::memset(&handle, 0, sizeof handle);
        ZEP_IMAGE_DESC image;
        handle.info.num_images = 1;
        handle.info.images = &image;
        zep__init_ifd(&handle);
        expect_default_image(image, std::stof(c.gamma), c.width);
    }
    // The numbers a file set outlive the database; put the built-in ones back.
    configure("fmt__gamma_table_res 4096\nfmt__gamma_default 2.2\n");
    ASSERT_EQ(FMT_init(nullptr), 0);
    EXPECT_EQ(zep::fmt_gamma_table_res_current(), 4096);
}

// ---- Write fill -----------------------------------------------------------------

class RecordWriteFillTest : public RecordInfoTest {
  protected:
    void SetUp() override
    {
        RecordInfoTest::SetUp();
        ZEP_info_init(&app_);
        app_.handle = const_cast<char *>("out.rla");
    }
    void TearDown() override
    {
        zep__free_obj(handle_);
        RecordInfoTest::TearDown();
    }
    int fill()
    {
        zep__free_obj(handle_);
        handle_ = new_handle(ZEP_ACCESS_WRITE);
        return zep::info_fill_for_write(handle_, &app_);
    }
    ZEP_INFO app_;
    ZEP_OBJECT *handle_ = nullptr;
};

TEST_F(RecordWriteFillTest, MissingStringsGetTheirDefaults)
{
    setenv("KV_JOB_NUM", "42", 1); // job_num -1: the variable is not consulted
    const long long before = static_cast<long long>(std::time(nullptr));
    ASSERT_EQ(fill(), 0);
    const long long after = static_cast<long long>(std::time(nullptr));
    const ZEP_INFO &h = handle_->info;

    EXPECT_EQ(h.key, nullptr);
    ASSERT_NE(h.handle, nullptr);
    EXPECT_STREQ(h.handle, "out.rla");
    EXPECT_NE(h.handle, app_.handle);
    for (char *ZEP_INFO::*s : {&ZEP_INFO::name, &ZEP_INFO::desc, &ZEP_INFO::program,
                               &ZEP_INFO::filter, &ZEP_INFO::compression, &ZEP_INFO::time})
        EXPECT_STREQ(h.*s, "unknown");
    EXPECT_EQ(h.extension, nullptr);

    char expected[300];
    if (zep::platform::user_name(expected, sizeof expected) != 0) std::strcpy(expected, "unknown");
    EXPECT_STREQ(h.user, expected);
    if (zep::platform::host_name(expected, sizeof expected) != 0) std::strcpy(expected, "unknown");
    EXPECT_STREQ(h.machine, expected);

    ASSERT_NE(h.date, nullptr);
    std::cmatch m;
    ASSERT_TRUE(std::regex_match(h.date, m, std::regex(R"(\{(\d+)\})"))) << h.date;
    const long long stamp = std::stoll(m[1].str());
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);

    EXPECT_EQ(h.job_num, -1);
    EXPECT_EQ(h.num_images, 0);
    EXPECT_EQ(h.images, nullptr);
    EXPECT_EQ(h.magic, ZEP_INFO_MAGIC);
}

TEST_F(RecordWriteFillTest, JobNumberZeroAsksTheEnvironment)
{
    struct Case {
        int32_t app;
        const char *env; // null: unset
        int32_t expected;
    };
    const Case cases[] = {
        {0, "42", 42},
        {0, nullptr, -1},
        {-1, "42", -1},
        {7, "42", 7},
        {0, "  -13x", -13},
        {0, "abc", 0},
        {0, "99999999999", INT32_MAX},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.app) + " / " + (c.env ? c.env : "unset"));
        if (c.env)
            setenv("KV_JOB_NUM", c.env, 1);
        else
            unsetenv("KV_JOB_NUM");
        app_.job_num = c.app;
        ASSERT_EQ(fill(), 0);
        EXPECT_EQ(handle_->info.job_num, c.expected);
    }
}

// The integer fields a write open copies as they are.
constexpr int32_t ZEP_INFO::*kCopiedInts[] = {
    &ZEP_INFO::reserved_word, &ZEP_INFO::job_num,  &ZEP_INFO::frame,    &ZEP_INFO::field,
    &ZEP_INFO::mf_word1,      &ZEP_INFO::mf_word3, &ZEP_INFO::mf_word4, &ZEP_INFO::num_frames,
    &ZEP_INFO::mf_word6,      &ZEP_INFO::mf_word7, &ZEP_INFO::mf_word8};

TEST_F(RecordWriteFillTest, GivenStringsAndNumbersAreCopied)
{
    ZEP_CAP_SETTING setting{3, {7}};
    ZEP_CAP_SETTING *settings[] = {&setting, nullptr};
    app_.key = const_cast<char *>("rla");
    app_.full_path = 1;
    app_.name = const_cast<char *>("name");
    app_.desc = const_cast<char *>("desc");
    app_.program = const_cast<char *>("program");
    app_.machine = const_cast<char *>("machine");
    app_.user = const_cast<char *>("user");
    app_.date = const_cast<char *>("date");
    app_.time = const_cast<char *>("time");
    app_.filter = const_cast<char *>("filter");
    app_.compression = const_cast<char *>("compression");
    app_.extension = const_cast<char *>("ignored");
    app_.cap_settings = settings;
    app_.reserved_byte = 9;
    app_.frame_rate = 24.0f;
    app_.mf_flag = 0;
    int32_t value = 11;
    for (int32_t ZEP_INFO::*f : kCopiedInts)
        app_.*f = value++;
    for (int i = 0; i < 3; ++i) {
        app_.red_pri[i] = 0.1f * float(i + 1);
        app_.green_pri[i] = 0.2f * float(i + 1);
        app_.blue_pri[i] = 0.05f * float(i + 1);
        app_.white_pt[i] = 0.3f + 0.01f * float(i);
    }

    ASSERT_EQ(fill(), 0);
    const ZEP_INFO &h = handle_->info;
    for (char *ZEP_INFO::*s :
         {&ZEP_INFO::key, &ZEP_INFO::handle, &ZEP_INFO::name, &ZEP_INFO::desc, &ZEP_INFO::program,
          &ZEP_INFO::machine, &ZEP_INFO::user, &ZEP_INFO::date, &ZEP_INFO::time, &ZEP_INFO::filter,
          &ZEP_INFO::compression}) {
        ASSERT_NE(h.*s, nullptr);
        EXPECT_STREQ(h.*s, app_.*s);
        EXPECT_NE(h.*s, app_.*s); // a private copy
    }
    EXPECT_EQ(h.extension, nullptr); // the open fills it from the format
    EXPECT_EQ(h.full_path, 1);
    EXPECT_EQ(h.cap_settings, settings);
    EXPECT_EQ(h.reserved_byte, 0); // not the library's to copy
    for (int32_t ZEP_INFO::*f : kCopiedInts)
        EXPECT_EQ(h.*f, app_.*f);
    EXPECT_EQ(std::memcmp(h.red_pri, app_.red_pri, sizeof h.red_pri), 0);
    EXPECT_EQ(std::memcmp(h.green_pri, app_.green_pri, sizeof h.green_pri), 0);
    EXPECT_EQ(std::memcmp(h.blue_pri, app_.blue_pri, sizeof h.blue_pri), 0);
    EXPECT_EQ(std::memcmp(h.white_pt, app_.white_pt, sizeof h.white_pt), 0);
    EXPECT_FLOAT_EQ(h.frame_rate, 24.0f);
    EXPECT_EQ(h.mf_flag, 0);
}

// Two application images: an analytic curve whose stray tables word must be
// copied as it is, and a sampled curve that must be copied deeply.
struct AppImages {
    ZEP_IMAGE_DESC images[2];
    ZEP_RESPONSE_CURVE sampled{};
    AppImages()
    {
        std::memset(images, 0, sizeof images);
        ZEP_IMAGE_DESC &a = images[0];
        a.usage = 8;
        a.response = {ZEP_CURVE_ANALYTIC,
                      1.7f,
                      5u,
                      3,
                      1024,
                      ZEP_C_FLOAT,
                      10,
                      reinterpret_cast<void **>(uintptr_t{0x1234})};
        a.aspect_width = 720;
        a.aspect_height = 486;
        a.aspect_ratio = 1.333f;
        a.window = {0, 719, 0, 485};
        a.active = {10, 700, 5, 480};
        a.planar = 0;
        a.scan_flags = 0;
        a.chan = {nullptr, 3, ZEP_C_INTEGER, 8};
        a.matte = {nullptr, 1, ZEP_C_INTEGER, 8};
        a.aux = {nullptr, 1, ZEP_C_FLOAT, 32};
        a.index = {nullptr, 0, ZEP_C_INTEGER, 16};

        sampled = {ZEP_CURVE_SAMPLED, 2.2f, 0u, 2, 256, ZEP_C_INTEGER, 12, nullptr};
        EXPECT_EQ(ZEP_response_curve_init(&sampled), 0);
        ZEP_IMAGE_DESC &b = images[1];
        b.usage = 16;
        b.response = sampled;
        b.aspect_name = const_cast<char *>("ntsc_640");
        b.window = {0, 63, 0, 47};
        b.chan = {const_cast<char *>("rgb"), 3, ZEP_C_INTEGER, 16};
        b.matte = {const_cast<char *>("raw"), 0, ZEP_C_INTEGER, 8};
        b.aux = {const_cast<char *>("raw"), 0, ZEP_C_DOUBLE, 64};
        b.index = {const_cast<char *>("raw"), 2, ZEP_C_INTEGER, 16};
    }
    ~AppImages() { ZEP_response_curve_done(&sampled); }
    AppImages(const AppImages &) = delete;
    AppImages &operator=(const AppImages &) = delete;
};

TEST_F(RecordWriteFillTest, ImageDescriptionsAreCopiedWithPrivateStringsAndCurves)
{
    AppImages app_images;
    app_.num_images = 2;
    app_.images = app_images.images;
    ASSERT_EQ(fill(), 0);
    const ZEP_INFO &h = handle_->info;
    ASSERT_EQ(h.num_images, 2);
    ASSERT_NE(h.images, nullptr);
    ASSERT_NE(h.images, app_images.images);

    const ZEP_IMAGE_DESC &a = h.images[0];
    const ZEP_IMAGE_DESC &src_a = app_images.images[0];
    EXPECT_EQ(std::memcmp(&a.response, &src_a.response, sizeof a.response), 0);
    EXPECT_EQ(a.usage, 8);
    EXPECT_STREQ(a.aspect_name, "unknown");
    EXPECT_EQ(a.aspect_width, 720);
    EXPECT_EQ(a.aspect_height, 486);
    EXPECT_FLOAT_EQ(a.aspect_ratio, 1.333f);
    EXPECT_EQ(std::memcmp(&a.window, &src_a.window, sizeof a.window), 0);
    EXPECT_EQ(std::memcmp(&a.active, &src_a.active, sizeof a.active), 0);
    EXPECT_EQ(a.planar, 0);
    EXPECT_EQ(a.scan_flags, 0);
    for (auto g : {&ZEP_IMAGE_DESC::chan, &ZEP_IMAGE_DESC::matte, &ZEP_IMAGE_DESC::aux,
                   &ZEP_IMAGE_DESC::index}) {
        EXPECT_STREQ((a.*g).format, "unknown");
        EXPECT_EQ((a.*g).count, (src_a.*g).count);
        EXPECT_EQ((a.*g).type, (src_a.*g).type);
        EXPECT_EQ((a.*g).width, (src_a.*g).width);
    }

    const ZEP_IMAGE_DESC &b = h.images[1];
    const ZEP_IMAGE_DESC &src_b = app_images.images[1];
    EXPECT_EQ(b.usage, 16);
    EXPECT_EQ(b.response.kind, ZEP_CURVE_SAMPLED);
    EXPECT_EQ(b.response.num_chan, 2);
    EXPECT_EQ(b.response.elem_width, 12);
    ASSERT_NE(b.response.tables, nullptr);
    EXPECT_NE(b.response.tables, src_b.response.tables);
    for (int k = 0; k < 2; ++k) {
        EXPECT_NE(b.response.tables[k], src_b.response.tables[k]);
        EXPECT_EQ(std::memcmp(b.response.tables[k], src_b.response.tables[k], 256 * 2), 0);
    }
    EXPECT_STREQ(b.aspect_name, "ntsc_640");
    EXPECT_NE(b.aspect_name, src_b.aspect_name);
    for (auto g : {&ZEP_IMAGE_DESC::chan, &ZEP_IMAGE_DESC::matte, &ZEP_IMAGE_DESC::aux,
                   &ZEP_IMAGE_DESC::index}) {
        EXPECT_STREQ((b.*g).format, (src_b.*g).format);
        EXPECT_NE((b.*g).format, (src_b.*g).format);
        EXPECT_EQ((b.*g).count, (src_b.*g).count);
        EXPECT_EQ((b.*g).type, (src_b.*g).type);
        EXPECT_EQ((b.*g).width, (src_b.*g).width);
    }
    // Releasing the handle releases the copies and leaves the application's.
    zep__free_obj(handle_);
    handle_ = nullptr;
    EXPECT_TRUE(no_leaks());
    EXPECT_NE(app_images.sampled.tables, nullptr);
}

TEST_F(RecordWriteFillTest, ImageCountWithoutAnArrayKeepsTheDefaults)
{
    app_.num_images = 2;
    app_.images = nullptr;
    ASSERT_EQ(fill(), 0);
    ASSERT_EQ(handle_->info.num_images, 2);
    for (int i = 0; i < 2; ++i) {
        const ZEP_IMAGE_DESC &d = handle_->info.images[i];
        expect_default_image(d, 2.2f, 12);
        // Fields the defaults leave alone start at zero.
        EXPECT_EQ(d.window.left, 0);
        EXPECT_EQ(d.window.top, 0);
        EXPECT_EQ(d.active.right, 0);
        EXPECT_EQ(d.aspect_width, 0);
        EXPECT_EQ(d.aspect_ratio, 0.0f);
    }
}

TEST_F(RecordWriteFillTest, NegativeImageCountGivesNoImages)
{
    app_.num_images = -3;
    ASSERT_EQ(fill(), 0);
    EXPECT_EQ(handle_->info.num_images, 0);
    EXPECT_EQ(handle_->info.images, nullptr);
}

TEST_F(RecordWriteFillTest, OutOfMemoryAtEveryStepFailsCleanly)
{
    AppImages app_images;
    app_.num_images = 2;
    app_.images = app_images.images;
    app_.name = const_cast<char *>("given");
    constexpr int32_t kUntouched = 12345;
    std::set<int> codes;
    bool untouched_seen = false;
    int n = 1;
    for (;; ++n) {
        zep__free_obj(handle_);
        handle_ = new_handle(ZEP_ACCESS_WRITE);
        ASSERT_TRUE(no_leaks());
        reports.clear();
        zep__err = kUntouched;
        err__alloc_fail(n, 0);
        const int rc = zep::info_fill_for_write(handle_, &app_);
        const int injected = err__alloc_fail(0, 0);
        if (injected == 0) {
            ASSERT_EQ(rc, 0);
            break;
        }
        SCOPED_TRACE(n);
        codes.insert(rc);
        EXPECT_EQ(count_of(zep::kNoMemory), 1u);
        if (rc == ZEP_E_NOMEM) {
            EXPECT_EQ(zep__err, ZEP_E_NOMEM);
        } else {
            ASSERT_EQ(rc, -1);
            // A failed string copy leaves the code; a failed curve copy sets -10.
            EXPECT_TRUE(zep__err == kUntouched || zep__err == ZEP_E_NOMEM) << zep__err;
            untouched_seen = untouched_seen || zep__err == kUntouched;
        }
        zep__free_obj(handle_);
        handle_ = nullptr;
        EXPECT_TRUE(no_leaks());
    }
    EXPECT_EQ(codes, (std::set<int>{-1, ZEP_E_NOMEM}));
    EXPECT_TRUE(untouched_seen);
    // 10 description strings (the key is null), the image array, the two
    // blocks of the sampled curve, 2 x 5 image strings: each failed once.
    EXPECT_EQ(n - 1, 10 + 1 + 2 + 10);
    EXPECT_STREQ(handle_->info.images[1].chan.format, "rgb");
}

// ---- Read fill ----------------------------------------------------------------

TEST_F(RecordInfoTest, ReadFillTakesOnlyKeyNameFullPathSettingsAndFlag)
{
    ZEP_CAP_SETTING *settings[] = {nullptr};
    ZEP_INFO app;
    ZEP_info_init(&app);
    app.key = const_cast<char *>("rla");
    app.handle = const_cast<char *>("in.rla");
    app.full_path = 1;
    app.cap_settings = settings;
    app.mf_flag = 0;
    app.name = const_cast<char *>("not taken");
    app.job_num = 77;
    app.frame = 9;
    app.num_images = 1;

    ZEP_OBJECT *h = new_handle(ZEP_ACCESS_READ);
    ASSERT_EQ(zep::info_fill_for_read(h, &app), 0);
    EXPECT_STREQ(h->info.key, "rla");
    EXPECT_NE(h->info.key, app.key);
    EXPECT_STREQ(h->info.handle, "in.rla");
    EXPECT_NE(h->info.handle, app.handle);
    EXPECT_EQ(h->info.full_path, 1);
    EXPECT_EQ(h->info.cap_settings, settings);
    EXPECT_EQ(h->info.mf_flag, 0);
    EXPECT_EQ(h->info.name, nullptr);
    EXPECT_EQ(h->info.job_num, -1);
    EXPECT_EQ(h->info.frame, 1);
    EXPECT_EQ(h->info.num_images, 0);
    zep__free_obj(h);

    // Null stays null.
    app.key = nullptr;
    h = new_handle(ZEP_ACCESS_READ);
    ASSERT_EQ(zep::info_fill_for_read(h, &app), 0);
    EXPECT_EQ(h->info.key, nullptr);
    EXPECT_STREQ(h->info.handle, "in.rla");
    zep__free_obj(h);
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordInfoTest, ReadFillOutOfMemoryFailsAndLeaksNothing)
{
    ZEP_INFO app;
    ZEP_info_init(&app);
    app.key = const_cast<char *>("rla");
    app.handle = const_cast<char *>("in.rla");
    for (int n = 1;; ++n) {
        ZEP_OBJECT *h = new_handle(ZEP_ACCESS_READ);
        reports.clear();
        err__alloc_fail(n, 0);
        const int rc = zep::info_fill_for_read(h, &app);
        const int injected = err__alloc_fail(0, 0);
        zep__free_obj(h);
        if (injected == 0) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(n, 3);
            break;
        }
        EXPECT_EQ(rc, -1) << n;
        EXPECT_EQ(count_of(zep::kNoMemory), 1u);
        EXPECT_TRUE(no_leaks()) << n;
    }
}

// ---- Handle copy and release ---------------------------------------------------

int lut_slot(void *, ZEP_LUT **) { return 1; }
int scan_slot(void *, int, void *) { return 0; }
int frame_slot(void *, int) { return 0; }
int close_slot(ZEP_OBJECT *) { return 0; }
int seek_slot(void *, int) { return 0; }

// A written handle as the memory format stores it.
ZEP_OBJECT *stored_handle(ZEP_OBJECT *(*make)(int))
{
    ZEP_OBJECT *src = make(ZEP_ACCESS_WRITE);
    ZEP_INFO &s = src->info;
    s.key = STR_save("mem");
    s.handle = STR_save("frame.mem");
    s.name = STR_save("name");
    s.extension = STR_save(".mem");
    s.desc = STR_save("desc");
    s.program = nullptr; // null stays null
    s.machine = STR_save("machine");
    s.user = STR_save("user");
    s.date = STR_save("{1}");
    s.time = STR_save("time");
    s.filter = STR_save("filter");
    s.compression = STR_save("none");
    s.full_path = 1;
    s.reserved_byte = 3;
    s.reserved_word = 4;
    s.job_num = 5;
    s.frame = 6;
    s.field = 1;
    s.red_pri[0] = 0.5f;
    s.white_pt[2] = 0.25f;
    s.mf_word1 = 7;
    s.frame_rate = 25.0f;
    s.mf_word3 = 8;
    s.mf_word4 = 9;
    s.num_frames = 10;
    s.mf_flag = 0;
    s.mf_word6 = 11;
    s.num_images = 1;
    s.images = static_cast<ZEP_IMAGE_DESC *>(ERR_malloc(sizeof(ZEP_IMAGE_DESC)));
    std::memset(s.images, 0, sizeof(ZEP_IMAGE_DESC));
    src->priv = static_cast<void **>(ERR_malloc(sizeof(void *)));
    src->priv[0] = ERR_malloc(16);
    src->lut_read = lut_slot;
    src->scan = scan_slot;
    src->set_frame = frame_slot;
    src->get_frame = frame_slot;
    src->close = close_slot;
    src->seek = seek_slot;
    return src;
}

TEST_F(RecordInfoTest, HandleCopyCopiesTheDescriptionAndFourRoutines)
{
    ZEP_OBJECT *src = stored_handle(new_handle);
    ZEP_OBJECT *dst = new_handle(ZEP_ACCESS_READ);
    void *own_mutex = dst->mutex;
    ASSERT_EQ(zep::handle_copy(dst, src), 1);
    const ZEP_INFO &d = dst->info;
    const ZEP_INFO &s = src->info;
    for (char *ZEP_INFO::*f : kAllStrings) {
        if (f == &ZEP_INFO::program) continue; // null in the source, below
        ASSERT_NE(d.*f, nullptr);
        EXPECT_STREQ(d.*f, s.*f);
        EXPECT_NE(d.*f, s.*f);
    }
    EXPECT_EQ(d.program, nullptr);
    EXPECT_EQ(d.full_path, 1);
    EXPECT_EQ(d.cap_settings, s.cap_settings);
    EXPECT_EQ(d.reserved_byte, 3);
    EXPECT_EQ(d.reserved_word, 4);
    EXPECT_EQ(d.job_num, 5);
    EXPECT_EQ(d.frame, 6);
    EXPECT_EQ(d.field, 1);
    EXPECT_FLOAT_EQ(d.red_pri[0], 0.5f);
    EXPECT_FLOAT_EQ(d.white_pt[2], 0.25f);
    EXPECT_EQ(d.mf_word1, 7);
    EXPECT_FLOAT_EQ(d.frame_rate, 25.0f);
    EXPECT_EQ(d.mf_word3, 8);
    EXPECT_EQ(d.mf_word4, 9);
    EXPECT_EQ(d.num_frames, 10);
    EXPECT_EQ(d.mf_flag, 0);
    EXPECT_EQ(d.mf_word6, 0); // past the first five multi-frame words
    EXPECT_EQ(d.num_images, 0);
    EXPECT_EQ(d.images, nullptr);
    EXPECT_EQ(dst->priv, nullptr);
    EXPECT_EQ(dst->lut_read, lut_slot);
    EXPECT_EQ(dst->scan, scan_slot);
    EXPECT_EQ(dst->set_frame, frame_slot);
    EXPECT_EQ(dst->close, close_slot);
    EXPECT_EQ(dst->get_frame, nullptr);
    EXPECT_EQ(dst->seek, nullptr);
    EXPECT_EQ(dst->access, ZEP_ACCESS_READ);
    EXPECT_EQ(dst->mutex, own_mutex);
    EXPECT_NE(dst->mutex, src->mutex);
    zep__free_obj(dst);
    zep__free_obj(src);
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordInfoTest, HandleCopyOutOfMemoryReturnsZeroAndLeavesAFreeableHandle)
{
    ZEP_OBJECT *src = stored_handle(new_handle);
    for (int n = 1;; ++n) {
        ZEP_OBJECT *dst = new_handle(ZEP_ACCESS_READ);
        zep::platform::mutex_destroy(zep::handle_mutex(dst));
        dst->mutex = nullptr; // so the mutex is one of the steps
        reports.clear();
        err__alloc_fail(n, 0);
        const int rc = zep::handle_copy(dst, src);
        const int injected = err__alloc_fail(0, 0);
        const bool has_mutex = dst->mutex != nullptr;
        zep__free_obj(dst);
        if (injected == 0) {
            EXPECT_EQ(rc, 1);
            EXPECT_TRUE(has_mutex);   // a handle without one gets its own
            EXPECT_EQ(n, 11 + 1 + 1); // 11 strings and the mutex failed once each
            break;
        }
        SCOPED_TRACE(n);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(count_of(zep::kNoMemory), 1u);
        EXPECT_TRUE(no_leaks());
    }
    zep__free_obj(src);
    EXPECT_TRUE(no_leaks());
}

TEST_F(RecordInfoTest, FreeObjReleasesEverythingHangingFromAHandle)
{
    ZEP_OBJECT *h = stored_handle(new_handle);
    ZEP_IMAGE_DESC &d = h->info.images[0];
    d.aspect_name = STR_save("ntsc_640");
    d.chan.format = STR_save("rgb");
    d.matte.format = STR_save("raw");
    d.aux.format = STR_save("raw");
    d.index.format = STR_save("raw");
    d.response = {ZEP_CURVE_SAMPLED, 2.2f, 0u, 3, 256, ZEP_C_INTEGER, 8, nullptr};
    ASSERT_EQ(ZEP_response_curve_init(&d.response), 0);
    ZEP_CAP_SETTING setting{1, {2}};
    ZEP_CAP_SETTING *settings[] = {&setting, nullptr};
    h->info.cap_settings = settings; // the application's: left alone
    EXPECT_EQ(zep__free_obj(h), 1);
    EXPECT_TRUE(no_leaks());
    EXPECT_EQ(zep__free_obj(nullptr), 1);
}

} // namespace
