// The description record and colour look-up tables: defaults, clean-up,
// image-description defaults, a write handle's description and its release,
// look-up tables and running out of memory.
#include <cstring>
#include <ctime>
#include <algorithm>
#include <regex>
#include <tuple>
#include <utility>

#include "config/format_defaults.h"
#include "image/core/core.h"
#include "image/core/image_support.h"

namespace {

using namespace zt;

constexpr char *ZEP_INFO::*kStrings[] = {
    &ZEP_INFO::key,  &ZEP_INFO::handle,  &ZEP_INFO::name,    &ZEP_INFO::extension,
    &ZEP_INFO::desc, &ZEP_INFO::program, &ZEP_INFO::machine, &ZEP_INFO::user,
    &ZEP_INFO::date, &ZEP_INFO::time,    &ZEP_INFO::filter,  &ZEP_INFO::compression};
// The integer fields a write open copies.
constexpr int32_t ZEP_INFO::*kInts[] = {
    &ZEP_INFO::reserved_word, &ZEP_INFO::job_num,  &ZEP_INFO::frame,    &ZEP_INFO::field,
    &ZEP_INFO::mf_word1,      &ZEP_INFO::mf_word3, &ZEP_INFO::mf_word4, &ZEP_INFO::num_frames,
    &ZEP_INFO::mf_word6,      &ZEP_INFO::mf_word7, &ZEP_INFO::mf_word8};
constexpr ZEP_CHAN_GROUP ZEP_IMAGE_DESC::*kGroups[] = {
    &ZEP_IMAGE_DESC::chan, &ZEP_IMAGE_DESC::matte, &ZEP_IMAGE_DESC::aux, &ZEP_IMAGE_DESC::index};

auto nums(const ZEP_CHAN_GROUP &g) { return std::tuple(g.count, g.type, g.width); }
auto curve(const ZEP_RESPONSE_CURVE &r)
{
    return std::tuple(r.kind, r.gamma, r.reserved, r.num_chan, r.length, r.elem_type, r.elem_width,
                      r.tables);
}
auto floats(const float *f) { return std::tuple(f[0], f[1], f[2]); }

class RecordTest : public LibTest {
  protected:
    void TearDown() override
    {
        zep__free_obj(h_);
        LibTest::TearDown();
    }
    // Fills a new write handle h_ from app_.
    int fill()
    {
        zep__free_obj(h_);
        h_ = zep::handle_create(ZEP_ACCESS_WRITE);
        return zep::info_fill_for_write(h_, &app_.info);
    }
    Info app_{"out.rla"};
    ZEP_OBJECT *h_ = nullptr;
};

TEST_F(RecordTest, InitAndAllocSetEveryDefault)
{
    ZEP_INFO info;
    std::memset(&info, 0xA5, sizeof info);
    ZEP_info_init(&info);
    ZEP_INFO *alloc = ZEP_info_alloc();
    ASSERT_NE(alloc, nullptr);
    const int32_t ints[] = {0, -1, 1, 0, 1, 0, 0, 0, 0, 0, 0};
    for (ZEP_INFO *i : {&info, alloc}) {
        for (auto s : kStrings)
            EXPECT_EQ(i->*s, nullptr);
        for (size_t k = 0; k < std::size(kInts); ++k)
            EXPECT_EQ(i->*kInts[k], ints[k]) << k;
        EXPECT_EQ(std::tuple(i->full_path, i->reserved_byte, i->mf_flag, i->magic, i->num_images),
                  std::tuple(0, 0, 1, 22839, 0));
        EXPECT_EQ(std::tuple(i->cap_settings, i->images), std::tuple(nullptr, nullptr));
        EXPECT_FLOAT_EQ(i->frame_rate, 29.97f);
        EXPECT_EQ(floats(i->red_pri), std::tuple(0.67f, 0.33f, 0.0f)); // 1953 NTSC
        EXPECT_EQ(floats(i->green_pri), std::tuple(0.21f, 0.71f, 0.08f));
        EXPECT_EQ(floats(i->blue_pri), std::tuple(0.14f, 0.08f, 0.78f));
        EXPECT_EQ(floats(i->white_pt), std::tuple(0.310f, 0.316f, 0.374f));
    }
    for (int k = 0; k < 5; ++k) // init leaves the spare words
        EXPECT_EQ(std::tuple(uint32_t(info.spare[k]), alloc->spare[k]), std::tuple(0xA5A5A5A5u, 0));
    EXPECT_EQ(ZEP_info_free(alloc, 1) + ZEP_info_free(nullptr, 1), 0);
    configure("clr__default_red_primary 0.64 0.33 0.03\nclr__default_white_point 0.3 0.4 0.3\n");
    ZEP_info_init(&info);
    EXPECT_EQ(floats(info.red_pri), std::tuple(0.64f, 0.33f, 0.03f));
    EXPECT_EQ(floats(info.white_pt), std::tuple(0.3f, 0.4f, 0.3f));
}

TEST_F(RecordTest, CleanupReleasesTheRecordsOwnStringsOnlyOnce)
{
    ZEP_INFO info;
    ZEP_info_init(&info);
    for (auto s : kStrings)
        info.*s = STR_save("text");
    info.num_images = 2;
    info.images = static_cast<ZEP_IMAGE_DESC *>(ERR_malloc(2 * sizeof(ZEP_IMAGE_DESC)));
    for (int i = 0; i < 2; ++i) {
        info.images[i] = describe({});
        for (auto g : kGroups)
            (info.images[i].*g).format = g == kGroups[2] && i ? nullptr : STR_save("raw");
    }
    char *aspect = info.images[1].aspect_name = STR_save("ntsc_640"); // not the clean-up's
    ZEP_RESPONSE_CURVE sampled = {ZEP_CURVE_SAMPLED, 2.2f, 0u, 1, 256, ZEP_C_INTEGER, 8, nullptr};
    ASSERT_EQ(ZEP_response_curve_init(&sampled), 0);
    info.images[0].response = sampled; // not the clean-up's either

    char *key = info.key;
    ZEP_info_cleanup(&info, 0);
    EXPECT_EQ(info.magic, 0);
    EXPECT_EQ(info.key, key) << "without free_strings only the mark goes";
    info.magic = ZEP_INFO_MAGIC;
    const std::string lines = "ZEP_info_cleanup: application programming error.\nThe ZEP_INFO "
                              "structure being freed has either been freed already or else was "
                              "never initialised.\n";
    for (int pass = 0; pass < 3; ++pass) { // later passes: not initialised, the lines, go on
        if (pass == 2) info.name = STR_save("freed all the same");
        EXPECT_EQ(stderr_of([&] { ZEP_info_cleanup(&info, 1); }), pass ? lines : "");
        for (auto s : kStrings)
            EXPECT_EQ(info.*s, nullptr);
        EXPECT_EQ(info.images, nullptr);
    }
    ERR_free(aspect);
    ZEP_response_curve_done(&sampled);
    EXPECT_TRUE(no_leaks());
}

void expect_default_image(const ZEP_IMAGE_DESC &d, float gamma, int32_t elem_width)
{
    EXPECT_EQ(std::tuple(d.usage, d.aspect_name, d.planar, d.scan_flags),
              std::tuple(1, nullptr, 1, 1));
    EXPECT_EQ(curve(d.response),
              curve({ZEP_CURVE_ANALYTIC, gamma, 0u, 1, 256, ZEP_C_INTEGER, elem_width, nullptr}));
    for (auto g : kGroups) {
        EXPECT_EQ((d.*g).format, nullptr);
        EXPECT_EQ(nums(d.*g), std::tuple(0, ZEP_C_INTEGER, g == kGroups[3] ? 16 : 8));
    }
}

// The element width is the base-2 logarithm of the gamma-table resolution.
TEST_F(RecordTest, InitIfdFollowsTheFormatDefaultsAndLeavesWindowsAndAspects)
{
    const std::tuple<const char *, float, int> cases[] = {
        {"4096", 2.2f, 12}, {"1024", 1.8f, 10}, {"1000", 1.0f, 9}, {"2", 2.5f, 1}};
    for (auto [res, gamma, width] : cases) {
        SCOPED_TRACE(res);
        configure(std::string("fmt__gamma_table_res ") + res + "\nfmt__gamma_default " +
                  std::to_string(gamma) + "\n");
        ASSERT_EQ(FMT_init(nullptr), 0);
        ZEP_IMAGE_DESC images[2];
        std::memset(images, 0xA5, sizeof images);
        ZEP_OBJECT handle{};
        handle.info.num_images = 2;
        handle.info.images = images;
        EXPECT_EQ(zep__init_ifd(&handle), 1);
        for (const ZEP_IMAGE_DESC &d : images) {
            expect_default_image(d, gamma, width);
            EXPECT_EQ(std::tuple(d.window.left, d.active.top, d.aspect_width),
                      std::tuple(int32_t(0xA5A5A5A5), int32_t(0xA5A5A5A5), int32_t(0xA5A5A5A5)));
        }
    }
    // The numbers a file set outlive the database; put the built-in ones back.
    configure("fmt__gamma_table_res 4096\nfmt__gamma_default 2.2\n");
    ASSERT_EQ(FMT_init(nullptr), 0);
    EXPECT_EQ(zep::fmt_gamma_table_res_current(), 4096);
}

TEST_F(RecordTest, WriteFillGivesDefaultsAndAsksKvJobNumForJobZero)
{
    const long long before = std::time(nullptr);
    ASSERT_EQ(fill(), 0);
    const ZEP_INFO &h = h_->info;
    EXPECT_EQ(std::tuple(h.key, h.extension), std::tuple(nullptr, nullptr)) << "the open sets them";
    EXPECT_STREQ(h.handle, "out.rla");
    for (auto s : {&ZEP_INFO::name, &ZEP_INFO::desc, &ZEP_INFO::program, &ZEP_INFO::filter,
                   &ZEP_INFO::compression, &ZEP_INFO::time})
        EXPECT_STREQ(h.*s, "unknown");
    char want[300];
    EXPECT_STREQ(h.user, zep::platform::user_name(want, 300) == 0 ? want : "unknown");
    EXPECT_STREQ(h.machine, zep::platform::host_name(want, 300) == 0 ? want : "unknown");
    std::cmatch m;
    ASSERT_TRUE(std::regex_match(h.date, m, std::regex(R"(\{(\d+)\})"))) << h.date;
    EXPECT_GE(std::stoll(m[1].str()), before);
    EXPECT_LE(std::stoll(m[1].str()), std::time(nullptr));

    app_.info.num_images = 2; // without images: default descriptions
    ASSERT_EQ(fill(), 0);
    ASSERT_EQ(h_->info.num_images, 2);
    expect_default_image(h_->info.images[1], 2.2f, 12);
    app_.info.num_images = -3;
    ASSERT_EQ(fill(), 0);
    EXPECT_EQ(std::tuple(h_->info.images, h_->info.num_images), std::tuple(nullptr, 0));

    const char *envs[] = {"42", nullptr, "42", "42", "abc", "  -13x", "99999999999"};
    const int32_t jobs[] = {0, 0, -1, 7, 0, 0, 0}, want_jobs[] = {42, -1, -1, 7, 0, -13, INT32_MAX};
    for (int k = 0; k < 7; ++k) {
        SCOPED_TRACE(envs[k] ? envs[k] : "unset");
        envs[k] ? setenv("KV_JOB_NUM", envs[k], 1) : unsetenv("KV_JOB_NUM");
        app_.info.job_num = jobs[k];
        ASSERT_EQ(fill(), 0);
        EXPECT_EQ(h_->info.job_num, want_jobs[k]);
    }
}

// Image 0 has an analytic curve whose stray tables word is copied as it
// is; image 1 a sampled curve that must be copied deeply.
TEST_F(RecordTest, WriteFillAndHandleCopyTakeGivenFieldsAsPrivateCopies)
{
    ZEP_CAP_SETTING *settings[] = {nullptr};
    ZEP_INFO &a = app_.info;
    for (auto s : kStrings)
        a.*s = const_cast<char *>(s == &ZEP_INFO::handle ? "out.rla" : "given");
    std::tie(a.full_path, a.cap_settings, a.reserved_byte, a.frame_rate, a.mf_flag) =
        std::tuple(1, settings, 9, 24.0f, 0);
    for (size_t k = 0; k < std::size(kInts); ++k)
        a.*kInts[k] = int32_t(11 + k);
    for (int i = 0; i < 3; ++i)
        std::tie(a.red_pri[i], a.green_pri[i], a.blue_pri[i], a.white_pt[i]) =
            std::tuple(0.1f + i, 0.2f + i, 0.3f + i, 0.4f + i);
    ZEP_IMAGE_DESC images[2] = {
        describe({0, 719, 0, 485}, kRgb8, {1, ZEP_C_INTEGER, 8}, {1, ZEP_C_FLOAT, 32}),
        describe({0, 63, 0, 47}, {3, ZEP_C_INTEGER, 16}, kNone8, {0, ZEP_C_DOUBLE, 64})};
    images[0].response = {ZEP_CURVE_ANALYTIC, 1.7f, 5u, 3, 1024, ZEP_C_FLOAT, 10, nullptr};
    images[0].response.tables = reinterpret_cast<void **>(uintptr_t{0x1234});
    std::tie(images[0].usage, images[0].aspect_width, images[0].planar) = std::tuple(8, 720, 0);
    images[0].active = {10, 700, 5, 480};
    images[1].response = {ZEP_CURVE_SAMPLED, 2.2f, 0u, 2, 256, ZEP_C_INTEGER, 12, nullptr};
    ASSERT_EQ(ZEP_response_curve_init(&images[1].response), 0);
    images[1].aspect_name = const_cast<char *>("ntsc_640");
    for (auto g : kGroups)
        (images[1].*g).format = const_cast<char *>("rgb");
    std::tie(a.num_images, a.images) = std::tuple(2, images);
    ASSERT_EQ(fill(), 0);

    const ZEP_INFO &h = h_->info;
    for (auto s : kStrings) {
        EXPECT_STREQ(h.*s, s == &ZEP_INFO::extension ? nullptr : a.*s);
        EXPECT_NE(h.*s, a.*s) << "a private copy";
    }
    EXPECT_EQ(std::tuple(h.full_path, h.cap_settings, h.reserved_byte, h.frame_rate, h.mf_flag),
              std::tuple(1, settings, 0, 24.0f, 0));
    for (auto f : kInts)
        EXPECT_EQ(h.*f, a.*f);
    for (auto f :
         {&ZEP_INFO::red_pri, &ZEP_INFO::green_pri, &ZEP_INFO::blue_pri, &ZEP_INFO::white_pt})
        EXPECT_EQ(floats(h.*f), floats(a.*f));
    ASSERT_EQ(h.num_images, 2);
    for (int i = 0; i < 2; ++i) {
        const ZEP_IMAGE_DESC &d = h.images[i], &s = images[i];
        EXPECT_EQ(std::tuple(d.usage, d.aspect_width, d.planar),
                  std::tuple(s.usage, s.aspect_width, s.planar));
        EXPECT_EQ(std::memcmp(&d.window, &s.window, 2 * sizeof d.window), 0) << "window, active";
        EXPECT_STREQ(d.aspect_name, i ? "ntsc_640" : "unknown");
        EXPECT_NE(d.aspect_name, s.aspect_name);
        for (auto g : kGroups) {
            EXPECT_STREQ((d.*g).format, i ? "rgb" : "unknown");
            EXPECT_NE((d.*g).format, (s.*g).format);
            EXPECT_EQ(nums(d.*g), nums(s.*g));
        }
    }
    EXPECT_EQ(curve(h.images[0].response), curve(images[0].response));
    const ZEP_RESPONSE_CURVE &c = h.images[1].response, &src = images[1].response;
    ASSERT_EQ(std::tuple(c.kind, c.num_chan, c.elem_width), std::tuple(ZEP_CURVE_SAMPLED, 2, 12));
    for (int k = 0; k < 2; ++k) {
        EXPECT_NE(c.tables[k], src.tables[k]);
        EXPECT_EQ(std::memcmp(c.tables[k], src.tables[k], 256 * 2), 0);
    }
    ZEP_response_curve_done(&images[1].response);
    zep__free_obj(std::exchange(h_, nullptr)); // all but the caller's settings
    EXPECT_TRUE(no_leaks());
}

uint64_t *words(ZEP_LUT *lut) { return static_cast<uint64_t *>(lut->entries); }
int lut_result;
ZEP_LUT lut_given{};
void *lut_priv;
int lut_routine(void *priv, ZEP_LUT **out)
{
    lut_priv = priv;
    *out = lut_result ? &lut_given : nullptr;
    return lut_result;
}

// Resizing keeps the old entries, zeroes new ones and leaves `last`; a copy
// has entries of its own.
TEST_F(RecordTest, LutAllocCopyResizeAndRead)
{
    for (auto [from, to] : {std::pair(4, 6), std::pair(6, 2), std::pair(0, 3), std::pair(3, 0)}) {
        SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
        ZEP_LUT *lut = ZEP_lut_alloc(from);
        ASSERT_NE(lut, nullptr);
        EXPECT_EQ(std::tuple(lut->count, lut->last, lut->scale), std::tuple(from, from - 1, 1.0f));
        std::vector<uint64_t> want(size_t(std::max(from, to)));
        for (int i = 0; i < from; ++i)
            want[i] = std::exchange(words(lut)[i], 0xABC0ull + i) + 0xABC0ull + i; // zeroed
        lut->scale = 0.5f;
        ZEP_LUT *copy = ZEP_lut_copy(lut);
        ASSERT_TRUE(copy && ZEP_lut_realloc(lut, to) == lut && copy->entries != lut->entries);
        EXPECT_EQ(
            std::tuple(lut->count, lut->last, lut->scale, copy->count, copy->last, copy->scale),
            std::tuple(to, from - 1, 0.5f, from, from - 1, 0.5f));
        EXPECT_EQ(std::vector<uint64_t>(words(lut), words(lut) + to),
                  std::vector<uint64_t>(want.begin(), want.begin() + to));
        EXPECT_EQ(std::vector<uint64_t>(words(copy), words(copy) + from),
                  std::vector<uint64_t>(want.begin(), want.begin() + from));
        EXPECT_EQ(ZEP_lut_free(lut), nullptr);
        ZEP_lut_free(copy);
    }
    EXPECT_EQ((std::tuple{ZEP_lut_alloc(-1), zep__err}), std::tuple(nullptr, ZEP_E_UNSUPPORTED));
    EXPECT_EQ(messages_of(zep::kNoAction),
              std::vector<std::string>{"ZEP_lut_alloc cannot handle the requested action"});
    zep__err = 0;
    EXPECT_EQ((std::tuple{ZEP_lut_realloc(ZEP_lut_alloc(4), -2), zep__err}), // and released
              std::tuple(nullptr, ZEP_E_UNSUPPORTED));

    void *priv[] = {&lut_result};
    ZEP_OBJECT handle{};
    ZEP_LUT *out = &lut_given;
    EXPECT_EQ((std::tuple{ZEP_lut_read(&handle, &out), out}), std::tuple(1, nullptr))
        << "no routine";
    std::tie(handle.priv, handle.lut_read) = std::tuple(priv, &lut_routine);
    for (int result : {7, 0, -1}) {
        lut_result = result;
        EXPECT_EQ(ZEP_lut_read(&handle, &out), result != 0) << result;
        EXPECT_EQ(std::tuple(out, lut_priv), std::tuple(result ? &lut_given : nullptr, priv[0]));
    }
    EXPECT_TRUE(no_leaks());
}

// Handle set-up, the description fills and the handle copy run out of
// memory in the open tests.
TEST_F(RecordTest, OutOfMemoryFailsWithMinusTenAndLeaksNothing)
{
    CLR_def_red_primary(); // the database is built outside the loops
    auto info_check = [](ZEP_INFO *i, bool failed) {
        expect_nomem(!i, failed), ZEP_info_free(i, 1);
    };
    auto lut_check = [](ZEP_LUT *l, bool failed) { expect_nomem(!l, failed), ZEP_lut_free(l); };
    ZEP_LUT *lut = ZEP_lut_alloc(3);
    EXPECT_EQ(fail_each_allocation([] { return ZEP_info_alloc(); }, info_check), 1);
    EXPECT_EQ(fail_each_allocation([] { return ZEP_lut_alloc(8); }, lut_check), 2);
    EXPECT_EQ(fail_each_allocation([&] { return ZEP_lut_copy(lut); }, lut_check), 2);
    auto realloc_check = [&](ZEP_LUT *l, bool failed) { // a failure releases the old table
        lut_check(l, failed), lut = failed ? ZEP_lut_alloc(3) : nullptr;
    };
    EXPECT_EQ(fail_each_allocation([&] { return ZEP_lut_realloc(lut, 6); }, realloc_check), 1);
}

} // namespace
