// Response curves: init, copy, done, the composition cases and their
// reports, running out of memory; gamma tables: values, bounds, resolution.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <zep/config.h>
#include <zep/curves.h>
#include <zep/error.h>

#include "config/format_defaults.h"
#include "error/messages.h"

extern "C" int zep_test_c_curves(void);

namespace {

using Curve = ZEP_RESPONSE_CURVE;
constexpr int32_t kA = ZEP_CURVE_ANALYTIC, kS = ZEP_CURVE_SAMPLED, kI = ZEP_C_INTEGER,
                  kF = ZEP_C_FLOAT;
std::vector<std::string> reports; // "default format | text" of each report

class Curves : public ::testing::Test {
  protected:
    void SetUp() override
    {
        err__alloc_fail(0, 0);
        reports.clear();
        zep__err = 1234;
        ASSERT_EQ(ERR_dcl_handler(nullptr, log, nullptr), 1);
    }
    void TearDown() override { ERR_can_handler(nullptr); }
    static int log(const char *format, int severity, const char *text, ERR_RECORD *, void *)
    {
        EXPECT_EQ(severity, ERR_ERROR);
        reports.push_back(std::string(format) + " | " + text);
        return 0;
    }
};

Curve curve(int32_t kind, int32_t chans, int32_t length, int32_t type, int32_t width, float gamma)
{
    Curve c{kind, gamma, 0, chans, length, type, width, nullptr};
    EXPECT_EQ(kind == kS ? ZEP_response_curve_init(&c) : 0, 0);
    return c;
}
bool operator==(const Curve &x, const Curve &y) // every field
{
    return !std::memcmp(&x, &y, offsetof(Curve, elem_width) + 4) && x.tables == y.tables;
}
void *stale[1];
const Curve kUntouched{kA, 9.0f, 9, 9, 9, 9, 9, stale}; // done leaves an analytic curve alone

// Entry i of table k, whatever the entry type.
double entry(const Curve &c, int k, int i)
{
    if (c.elem_type == kF) return static_cast<const float *>(c.tables[k])[i];
    if (c.elem_width <= 8) return static_cast<const uint8_t *>(c.tables[k])[i];
    return static_cast<const uint16_t *>(c.tables[k])[i];
}

// out = a after b: table k of out at i is a's at b's entry.
void expect_composite(const Curve &a, const Curve &b, const Curve &out)
{
    ASSERT_TRUE(out.kind == kS && out.num_chan == b.num_chan && out.length == b.length &&
                out.elem_type == a.elem_type && out.gamma == 1.0f);
    for (int k = 0; k < out.num_chan; ++k)
        for (int i = 0; i < out.length; ++i)
            ASSERT_EQ(entry(out, k, i), entry(a, k, int(entry(b, k, i)))) << k << " " << i;
}

TEST_F(Curves, InitBuildsThePowerLawOrFailsAndCopyReportsWhy)
{
    const struct {
        int32_t type, width, length;
        float gamma;
        std::vector<std::pair<int, double>> spots; // entry, value
    } cases[] = {{kI, 8, 256, 1.0f, {{0, 0}, {1, 1}, {200, 200}, {255, 255}}},
                 {kI, 16, 256, 1.0f, {{0, 0}, {1, 257}, {255, 65535}}},
                 {kI, 9, 3, 1.0f, {{1, 256}, {2, 511}}}, // 255.5 rounds half up
                 {kI, 12, 4096, 0.45f, {{0, 0}, {1, 97}, {2048, 2998}, {4095, 4095}}},
                 {kF, 0, 5, 2.0f, {{0, 0}, {1, 0.0625}, {2, 0.25}, {4, 1}}}};
    for (const auto &t : cases) {
        Curve c = curve(0, 3, t.length, t.type, t.width, t.gamma);
        c.reserved = 99;
        ASSERT_EQ(ZEP_response_curve_init(&c), 0);
        EXPECT_TRUE(c.kind == kS && c.reserved == 0 && c.gamma == t.gamma);
        const size_t bytes = t.length * (t.type == kF ? 4 : t.width == 8 ? 1 : 2);
        for (int k = 1; k < 3; ++k) {
            EXPECT_EQ(c.tables[k], static_cast<char *>(c.tables[0]) + k * bytes);
            EXPECT_EQ(std::memcmp(c.tables[k], c.tables[0], bytes), 0);
        }
        for (const auto &[i, v] : t.spots)
            EXPECT_EQ(entry(c, 0, i), v) << t.width << " bits, entry " << i;
        EXPECT_EQ(ZEP_response_curve_done(&c), 1);
        EXPECT_TRUE(c.tables == nullptr && ZEP_response_curve_done(&c) == 1); // twice: harmless
    }
    Curve analytic = kUntouched;
    EXPECT_TRUE(ZEP_response_curve_done(&analytic) == 1 && ZEP_response_curve_done(nullptr) == 1);
    EXPECT_TRUE(analytic == kUntouched && reports.empty());
    EXPECT_EQ(zep_test_c_curves(), 0) << "the same from C";

    // Init fails quietly without a table form (and, before allocating, for
    // sizes that cannot be addressed); copying such a curve reports 211 or 210.
    const std::pair<int32_t, const char *> refused[] = {
        {7, "Invalid curve depth 7 found: must be in the range 8 to 16"},
        {17, "Invalid curve depth 17 found: must be in the range 8 to 16"},
        {ZEP_C_DOUBLE, "Invalid curve type 3 found: must be of type ZEP_C_INTEGER or ZEP_C_FLOAT"},
        {0, "Invalid curve type 0 found: must be of type ZEP_C_INTEGER or ZEP_C_FLOAT"}};
    for (const auto &[value, text] : refused) {
        reports.clear();
        const bool width = value > 3; // else the type
        Curve src = curve(kA, 2, 256, width ? kI : value, width ? value : 8, 1), dst = kUntouched;
        EXPECT_EQ(ZEP_response_curve_init(&src), -1) << text;
        EXPECT_TRUE(src.kind == kS && src.tables == nullptr && reports.empty());
        EXPECT_EQ(ZEP_response_curve_copy(&dst, &src), -1);
        EXPECT_EQ(dst.tables, nullptr);
        const zep::Message &m = width ? zep::kCurveDepth : zep::kCurveType;
        EXPECT_EQ(reports, std::vector<std::string>{m.text + (" | " + std::string(text))});
    }
    // clang-format off
    for (const auto &[chans, length] : {std::pair{0, 256}, {-3, 256}, {1, 1}, {1, INT32_MIN},
                                        {65536, 65536}, {INT32_MAX, INT32_MAX}}) {
        // clang-format on
        Curve c = curve(0, chans, length, kI, 8, 1.0f);
        err__alloc_fail(1, 1);
        EXPECT_EQ(ZEP_response_curve_init(&c), -1) << chans << " x " << length;
        EXPECT_EQ(err__alloc_fail(0, 0), 0) << "an allocation was attempted";
    }
    EXPECT_EQ(zep__err, 1234);
}

TEST_F(Curves, CompositionCoversEveryPairOfKinds)
{
    // Analytic pair: the law b.gamma / a.gamma, a's type and width, b's size.
    Curve a = curve(kA, 5, 7, kI, 8, 2.2f), b = curve(kA, 3, 256, kF, 32, 1.0f), out{};
    ASSERT_EQ(ZEP_response_curve_comp(&a, &b, &out), 0);
    EXPECT_TRUE(out.kind == kS && out.gamma == 1.0f / 2.2f && out.num_chan == 3 &&
                out.length == 256 && out.elem_type == kI && out.elem_width == 8);
    for (const auto &[i, v] : {std::pair{1, 21}, {2, 28}, {64, 136}, {128, 186}, {255, 255}})
        EXPECT_EQ(entry(out, 2, i), v) << i;
    ZEP_response_curve_done(&out);

    // Sampled pairs: b's entries index a's tables, also when out is a.
    for (const auto &[a_type, a_width, a_length, b_width, b_length] :
         {std::tuple{kI, 8, 256, 8, 256}, {kF, 0, 256, 8, 100}, {kI, 16, 4096, 12, 300}}) {
        a = curve(kS, 2, a_length, a_type, a_width, 0.6f);
        b = curve(kS, 2, b_length, kI, b_width, 1.7f);
        std::memset(b.tables[1], 1, b_length); // channels differ: codes 1 or 257
        ASSERT_EQ(ZEP_response_curve_comp(&a, &b, &out), 0);
        expect_composite(a, b, out);
        Curve old_a = a;
        ASSERT_EQ(ZEP_response_curve_comp(&a, &b, &a), 0);
        expect_composite(old_a, b, a);
        for (Curve *c : {&a, &b, &out, &old_a})
            ZEP_response_curve_done(c);
    }

    // Analytic a after sampled b: a's inverse law over b's 2^10 codes. Then
    // sampled a after analytic b: b sampled as it is described.
    a = curve(kA, 9, 9, kI, 16, 0.5f);
    b = curve(kS, 2, 50, kI, 10, 0.7f);
    ASSERT_EQ(ZEP_response_curve_comp(&a, &b, &out), 0);
    a = curve(kS, 2, 1024, kI, 16, 2.0f);
    expect_composite(a, b, out);
    ZEP_response_curve_done(&out);
    ZEP_response_curve_done(&b);
    b = curve(kA, 2, 300, kI, 10, 2.2f);
    ASSERT_EQ(ZEP_response_curve_comp(&a, &b, &out), 0);
    b = curve(kS, 2, 300, kI, 10, 2.2f);
    expect_composite(a, b, out);
    for (Curve *c : {&a, &b, &out})
        ZEP_response_curve_done(c);
    EXPECT_TRUE(reports.empty());

    // A mismatch is reported once and leaves out and zep__err alone.
    Curve a256 = curve(kS, 2, 256, kI, 8, 1), a4096 = curve(kS, 2, 4096, kF, 0, 1);
    Curve b8 = curve(kS, 2, 256, kI, 8, 1), bf = curve(kS, 2, 256, kF, 0, 1);
    Curve b3 = curve(kS, 3, 256, kI, 8, 1), analytic = curve(kA, 2, 256, kI, 8, 2.2f);
    // clang-format off
    const struct { const Curve &a, &b; const zep::Message &message; } cases[] = {
        {a256, b3, zep::kCurveChannelCounts}, {a256, bf, zep::kCurveChannelType},
        {a4096, b8, zep::kCurveElementCounts}, {analytic, bf, zep::kCurveChannelType},
        {b3, analytic, zep::kCurveChannelCounts}};
    // clang-format on
    for (const auto &c : cases) {
        reports.clear();
        Curve untouched = kUntouched;
        EXPECT_EQ(ZEP_response_curve_comp(&c.a, &c.b, &untouched), -1) << c.message.text;
        EXPECT_TRUE(untouched == kUntouched);
        const std::string text = c.message.text;
        EXPECT_EQ(reports, std::vector<std::string>{text + " | " + text});
    }
    EXPECT_EQ(zep__err, 1234);
    for (Curve *c : {&a256, &a4096, &b8, &bf, &b3})
        ZEP_response_curve_done(c);
}

// Each allocation of init, copy and the compositions fails in turn: -1, -10
// in zep__err, the allocator's one report, out as it was or without tables.
TEST_F(Curves, EveryAllocationCanFailCleanly)
{
    Curve src = curve(kS, 3, 256, kI, 12, 0.45f), b = curve(kS, 3, 256, kI, 8, 2.0f), out;
    const Curve a1 = curve(kA, 1, 1, kI, 12, 2.2f), b1 = curve(kA, 3, 99, kI, 8, 1.8f);
    const Curve *pairs[][2] = {{&a1, &b1}, {&src, &b}, {&a1, &b}, {&src, &b1}};
    for (int op = 0; op < 6; ++op) {
        int n = 1;
        for (;; ++n) {
            SCOPED_TRACE(testing::Message() << "operation " << op << ", allocation " << n);
            reports.clear();
            out = op == 4 ? src : kUntouched;
            err__alloc_fail(n, 0);
            const int rc = op == 4   ? ZEP_response_curve_init(&out)
                           : op == 5 ? ZEP_response_curve_copy(&out, &src)
                                     : ZEP_response_curve_comp(pairs[op][0], pairs[op][1], &out);
            if (err__alloc_fail(0, 0) == 0) break;
            EXPECT_TRUE(rc == -1 && zep__err == ZEP_E_NOMEM);
            zep__err = 0;
            EXPECT_EQ(reports, std::vector<std::string>{
                                   "No more internal memory | No more internal memory"});
            EXPECT_TRUE(op > 3 ? out.tables == nullptr : out == kUntouched);
        }
        EXPECT_EQ(n - 1, op == 2 || op == 3 ? 4 : 2);
        ASSERT_EQ(out.kind, kS);
        if (op == 5) { // a deep copy: its own block, the same entries
            EXPECT_TRUE(out.gamma == src.gamma && out.elem_width == 12 && out.tables != src.tables);
            EXPECT_EQ(out.tables[2], static_cast<char *>(out.tables[0]) + 1024);
            EXPECT_EQ(std::memcmp(out.tables[2], src.tables[2], 512), 0);
        }
        ZEP_response_curve_done(&out);
    }
    ZEP_response_curve_done(&src);
    ZEP_response_curve_done(&b);
}

// Sets the gamma-table resolution by reading a configuration file with it.
void set_resolution(int r)
{
    const auto home = std::filesystem::temp_directory_path() / "zep-curves-home";
    std::filesystem::create_directories(home);
    std::ofstream(home / ".zeprc") << "fmt__gamma_table_res " << r << "\n";
    setenv("HOME", home.c_str(), 1);
    FMT_exit();
    ASSERT_EQ(FMT_init(nullptr), 0);
    FMT_exit(); // the resolution stays
    std::filesystem::remove_all(home);
    ASSERT_EQ(zep::fmt_gamma_table_res_current(), r);
}

TEST_F(Curves, GammaTablesHoldTheirValuesBoundedByTheIdentity)
{
    ASSERT_EQ(zep::fmt_gamma_table_res_current(), 4096);
    float *btof = ZEP_gamma_btof(2.2), *tof = ZEP_gamma_tof(2.2), *linear = ZEP_gamma_tof(1.0);
    int16_t *btos = ZEP_gamma_btos(2.2);
    uint8_t *tob = ZEP_gamma_tob(2.2);
    EXPECT_FALSE(zep::fmt_is_built()) << "the builders read R without building the database";
    ASSERT_TRUE(btof && tof && linear && btos && tob);
    EXPECT_EQ(btof[1], 1.0f / 4095.0f) << "the lower bound, not (1/255)^2.2";
    EXPECT_EQ(btof[255], 1.0f);
    EXPECT_TRUE(btos[0] == 0 && btos[10] == 10 && btos[128] == 899 && btos[255] == 4095);
    EXPECT_TRUE(tob[0] == 0 && tob[1] == 1 && tob[100] == 47 && tob[4095] == 255);
    EXPECT_EQ(tof[3], 3.0f) << "bounded above by the index";
    EXPECT_TRUE(tof[4095] == 254.9f && linear[0] == 0.0f && linear[4095] == 254.9f);
    for (void *t : {(void *)btof, (void *)tof, (void *)linear, (void *)btos, (void *)tob})
        EXPECT_EQ(ZEP_gamma_done(t), 1);

    set_resolution(256); // 256 steps each way: the linear tables are the identity
    tob = ZEP_gamma_tob(1.0);
    btos = ZEP_gamma_btos(1.0);
    EXPECT_TRUE(tob[128] == 128 && tob[255] == 255 && btos[128] == 128 && btos[255] == 255);
    ZEP_gamma_done(tob);
    ZEP_gamma_done(btos);
    for (int r : {1, 4096}) { // R below 2: no table, no allocation tried; out of memory: null
        set_resolution(r);
        err__alloc_fail(1, 1);
        EXPECT_TRUE(!ZEP_gamma_btof(2) && !ZEP_gamma_btos(2) && !ZEP_gamma_tob(2) &&
                    !ZEP_gamma_tof(2));
        EXPECT_EQ(err__alloc_fail(0, 0), r == 1 ? 0 : 4);
    }
    EXPECT_TRUE(reports.size() == 4 && zep__err == 1234) << "only the allocator reports";
}

} // namespace
