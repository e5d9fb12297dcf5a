// Response curves: building tables, deep copies, the five composition
// cases and their mismatch reports, release, and every out-of-memory step.
#include "support.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>

namespace curves_test {
namespace {

// The bytes of a record, to show that a call left it as it was.
std::vector<unsigned char> record_bytes(const Curve &c)
{
    const auto *p = reinterpret_cast<const unsigned char *>(&c);
    return {p, p + sizeof c};
}

// Every entry of every table, to show that a call only read a curve.
std::vector<double> entries_of(const Curve &c)
{
    std::vector<double> out;
    for (int k = 0; k < c.num_chan; ++k)
        for (int i = 0; i < c.length; ++i)
            out.push_back(entry(c, k, i));
    return out;
}

// A record filled with a pattern that no call writes.
Curve sentinel()
{
    Curve c;
    std::memset(&c, 0xA5, sizeof c);
    return c;
}

// The code of x^gamma on `width` bits, rounded to nearest: the power law a
// sampled integer curve holds.
double power_code(int i, int length, float gamma, int width)
{
    const double x = static_cast<double>(i) / (length - 1);
    return std::trunc(std::pow(x, static_cast<double>(gamma)) * ((1 << width) - 1) + 0.5);
}

// Checks that out is the composite of a after b: table k of out at i is
// table k of a at the entry of b's table k at i (indices past a's end read
// a's last entry).
void expect_composite(const Curve &a, const Curve &b, const Curve &out)
{
    ASSERT_EQ(out.num_chan, b.num_chan);
    ASSERT_EQ(out.length, b.length);
    for (int k = 0; k < out.num_chan; ++k)
        for (int i = 0; i < out.length; ++i) {
            const int index = std::min(static_cast<int>(entry(b, k, i)), a.length - 1);
            ASSERT_EQ(entry(out, k, i), entry(a, k, index)) << "channel " << k << " entry " << i;
        }
}

// Makes the channels of a sampled curve differ: channel 1 runs backwards
// and channel 2, when there is one, steps through the codes by 7.
void vary_channels(Curve &c)
{
    if (c.num_chan < 2) return;
    std::vector<double> first;
    for (int i = 0; i < c.length; ++i)
        first.push_back(entry(c, 0, i));
    for (int i = 0; i < c.length; ++i)
        set_entry(c, 1, i, first[c.length - 1 - i]);
    if (c.num_chan < 3) return;
    if (c.elem_type == ZEP_C_FLOAT) {
        for (int i = 0; i < c.length; ++i)
            set_entry(c, 2, i, 0.5 * first[i]);
    } else {
        const int codes = 1 << c.elem_width;
        for (int i = 0; i < c.length; ++i)
            set_entry(c, 2, i, (i * 7) % codes);
    }
}

// ---- init --------------------------------------------------------------

TEST_F(CurvesTest, InitFillsEveryChannelWithThePowerLawInOneBlock)
{
    struct Case {
        const char *name;
        int32_t type, width, length;
        float gamma;
        size_t bytes;
        std::vector<std::pair<int, double>> spots; // entry index, value
        std::function<double(int)> value;          // every entry, when known
    };
    const Case cases[] = {
        {"8-bit identity", ZEP_C_INTEGER, 8, 256, 1.0f, 1, {}, [](int i) { return i; }},
        {"16-bit identity over 256 codes",
         ZEP_C_INTEGER,
         16,
         256,
         1.0f,
         2,
         {},
         [](int i) { return i * 257.0; }},
        {"9-bit identity rounds half up",
         ZEP_C_INTEGER,
         9,
         3,
         1.0f,
         2,
         {{0, 0}, {1, 256}, {2, 511}},
         nullptr},
        {"12-bit gamma 0.45",
         ZEP_C_INTEGER,
         12,
         4096,
         0.45f,
         2,
         {{0, 0}, {1, 97}, {2048, 2998}, {4095, 4095}},
         nullptr},
        {"10-bit gamma 2.2",
         ZEP_C_INTEGER,
         10,
         1024,
         2.2f,
         2,
         {{0, 0}, {100, 6}, {512, 223}, {1000, 973}, {1023, 1023}},
         nullptr},
        {"float identity", ZEP_C_FLOAT, 0, 5, 1.0f, 4, {}, [](int i) { return i / 4.0f; }},
        {"float square",
         ZEP_C_FLOAT,
         32,
         5,
         2.0f,
         4,
         {{0, 0}, {1, 0.0625}, {2, 0.25}, {3, 0.5625}, {4, 1}},
         nullptr},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(t.name);
        Owned c{describe(3, t.length, t.type, t.width, t.gamma)};
        c->kind = 0;
        c->reserved = 99;
        ASSERT_EQ(ZEP_response_curve_init(c.get()), 0);
        EXPECT_EQ(c->kind, ZEP_CURVE_SAMPLED);
        EXPECT_EQ(c->reserved, 0u);
        EXPECT_EQ(c->gamma, t.gamma);
        ASSERT_NE(c->tables, nullptr);
        const auto *block = static_cast<const unsigned char *>(c->tables[0]);
        for (int k = 1; k < 3; ++k) {
            EXPECT_EQ(c->tables[k], block + k * t.length * t.bytes) << "table " << k;
            EXPECT_EQ(std::memcmp(c->tables[k], block, t.length * t.bytes), 0) << "table " << k;
        }
        for (const auto &[i, v] : t.spots)
            EXPECT_EQ(entry(c.c, 0, i), v) << "entry " << i;
        if (t.value) {
            for (int i = 0; i < t.length; ++i)
                ASSERT_EQ(entry(c.c, 0, i), t.value(i)) << "entry " << i;
        }
        for (int i = 1; i < t.length; ++i)
            ASSERT_LE(entry(c.c, 0, i - 1), entry(c.c, 0, i));
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(CurvesTest, InitRejectsTypesAndWidthsWithoutTableFormSilently)
{
    const struct {
        int32_t type, width;
    } cases[] = {{ZEP_C_INTEGER, 7},
                 {ZEP_C_INTEGER, 17},
                 {ZEP_C_INTEGER, 0},
                 {ZEP_C_INTEGER, -8},
                 {ZEP_C_DOUBLE, 64},
                 {0, 8},
                 {4, 16}};
    for (const auto &t : cases) {
        SCOPED_TRACE(testing::Message() << "type " << t.type << " width " << t.width);
        void *stale = nullptr;
        Curve c = describe(2, 256, t.type, t.width, 1.0f, ZEP_CURVE_ANALYTIC);
        c.tables = &stale; // overwritten, never freed
        zep__err = 1234;
        EXPECT_EQ(ZEP_response_curve_init(&c), -1);
        EXPECT_EQ(c.tables, nullptr);
        EXPECT_EQ(c.kind, ZEP_CURVE_SAMPLED);
        EXPECT_EQ(zep__err, 1234);
        EXPECT_TRUE(no_leaks());
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(CurvesTest, InitRejectsUnusableSizesBeforeAllocatingAnything)
{
    const struct {
        int32_t num_chan, length;
    } cases[] = {{0, 256},       {-3, 256},      {1, 1},         {1, 0},
                 {1, INT32_MIN}, {65536, 65536}, {2, INT32_MAX}, {INT32_MAX, INT32_MAX}};
    for (const auto &t : cases) {
        SCOPED_TRACE(testing::Message() << t.num_chan << " x " << t.length);
        Curve c = describe(t.num_chan, t.length, ZEP_C_INTEGER, 8, 1.0f);
        zep__err = 1234;
        err__alloc_fail(1, 1); // any allocation would fail and be counted
        EXPECT_EQ(ZEP_response_curve_init(&c), -1);
        EXPECT_EQ(err__alloc_fail(0, 0), 0) << "an allocation was attempted";
        EXPECT_EQ(c.tables, nullptr);
        EXPECT_EQ(zep__err, 1234);
    }
    EXPECT_TRUE(reports.empty());

    // The smallest usable curve: one channel, two entries.
    Owned c;
    build(c, describe(1, 2, ZEP_C_INTEGER, 8, 3.0f));
    EXPECT_EQ(entry(c.c, 0, 0), 0);
    EXPECT_EQ(entry(c.c, 0, 1), 255);
}

TEST_F(CurvesTest, InitKeepsIntegerEntriesInRangeForAnyGamma)
{
    // Negative, zero and non-finite exponents still give codes of the width.
    const float gammas[] = {-2.0f, 0.0f, INFINITY, -INFINITY, NAN};
    for (float g : gammas) {
        SCOPED_TRACE(testing::Message() << "gamma " << g);
        Owned c;
        build(c, describe(1, 16, ZEP_C_INTEGER, 12, g));
        for (int i = 0; i < 16; ++i) {
            EXPECT_GE(entry(c.c, 0, i), 0);
            EXPECT_LE(entry(c.c, 0, i), 4095);
        }
    }
}

// ---- done --------------------------------------------------------------

TEST_F(CurvesTest, DoneIsHarmlessOnNullAnalyticAndReleasedCurves)
{
    EXPECT_EQ(ZEP_response_curve_done(nullptr), 1);

    void *stale = nullptr;
    Curve analytic = describe(0, 0, ZEP_C_INTEGER, 8, 2.2f, ZEP_CURVE_ANALYTIC);
    analytic.tables = &stale; // an analytic curve owns nothing, whatever the field holds
    EXPECT_EQ(ZEP_response_curve_done(&analytic), 1);
    EXPECT_EQ(analytic.tables, &stale);

    Curve sampled = describe(2, 256, ZEP_C_INTEGER, 8, 1.0f);
    ASSERT_EQ(ZEP_response_curve_init(&sampled), 0);
    EXPECT_EQ(ZEP_response_curve_done(&sampled), 1);
    EXPECT_EQ(sampled.tables, nullptr);
    EXPECT_EQ(ZEP_response_curve_done(&sampled), 1);
    EXPECT_EQ(sampled.tables, nullptr);
    EXPECT_TRUE(no_leaks());
}

// ---- copy --------------------------------------------------------------

TEST_F(CurvesTest, CopyMakesAnIndependentDeepCopy)
{
    const struct {
        int32_t type, width;
    } cases[] = {{ZEP_C_INTEGER, 8}, {ZEP_C_INTEGER, 12}, {ZEP_C_FLOAT, 0}};
    for (const auto &t : cases) {
        SCOPED_TRACE(testing::Message() << "type " << t.type << " width " << t.width);
        Owned src;
        build(src, describe(3, 64, t.type, t.width, 0.8f));
        vary_channels(src.c);
        src->reserved = 0xDEADBEEF;
        const std::vector<double> before = entries_of(src.c);

        Owned dst;
        void *stale = nullptr;
        dst->tables = &stale;
        ASSERT_EQ(ZEP_response_curve_copy(dst.get(), src.get()), 0);
        EXPECT_EQ(dst->kind, src->kind);
        EXPECT_EQ(dst->gamma, src->gamma);
        EXPECT_EQ(dst->reserved, 0xDEADBEEFu);
        EXPECT_EQ(dst->num_chan, 3);
        EXPECT_EQ(dst->length, 64);
        EXPECT_EQ(dst->elem_type, t.type);
        EXPECT_EQ(dst->elem_width, t.width);
        ASSERT_NE(dst->tables, nullptr);
        EXPECT_NE(dst->tables, src->tables);
        const size_t bytes = 64 * entry_bytes(src.c);
        const auto *block = static_cast<const unsigned char *>(dst->tables[0]);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NE(dst->tables[k], src->tables[k]);
            EXPECT_EQ(dst->tables[k], block + k * bytes) << "table " << k;
        }
        EXPECT_EQ(entries_of(dst.c), before);

        set_entry(dst.c, 2, 5, 1);
        set_entry(dst.c, 0, 0, 3);
        EXPECT_EQ(entries_of(src.c), before);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(CurvesTest, CopyOfAnAnalyticCurveCopiesItsFieldsOnly)
{
    void *stale = nullptr;
    Curve src = describe(0, 0, ZEP_C_INTEGER, 8, 2.2f, ZEP_CURVE_ANALYTIC);
    src.reserved = 7;
    src.tables = &stale;
    Curve dst = sentinel();
    err__alloc_fail(1, 1);
    EXPECT_EQ(ZEP_response_curve_copy(&dst, &src), 0);
    EXPECT_EQ(err__alloc_fail(0, 0), 0) << "an allocation was attempted";
    EXPECT_EQ(dst.kind, ZEP_CURVE_ANALYTIC);
    EXPECT_EQ(dst.gamma, 2.2f);
    EXPECT_EQ(dst.reserved, 7u);
    EXPECT_EQ(dst.num_chan, 0);
    EXPECT_EQ(dst.length, 0);
    EXPECT_EQ(dst.elem_type, ZEP_C_INTEGER);
    EXPECT_EQ(dst.elem_width, 8);
    EXPECT_EQ(dst.tables, nullptr);
}

TEST_F(CurvesTest, CopyReportsAnInvalidDepthOrTypeAndFails)
{
    const struct {
        int32_t type, width;
        const zep::Message &message;
        const char *text;
    } cases[] = {
        {ZEP_C_INTEGER, 7, zep::kCurveDepth,
         "Invalid curve depth 7 found: must be in the range 8 to 16"},
        {ZEP_C_INTEGER, 17, zep::kCurveDepth,
         "Invalid curve depth 17 found: must be in the range 8 to 16"},
        {ZEP_C_DOUBLE, 64, zep::kCurveType,
         "Invalid curve type 3 found: must be of type ZEP_C_INTEGER or ZEP_C_FLOAT"},
        {0, 8, zep::kCurveType,
         "Invalid curve type 0 found: must be of type ZEP_C_INTEGER or ZEP_C_FLOAT"},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.text);
        reports.clear();
        // A record whose own init failed: kind 2, no tables.
        Curve src = describe(2, 256, t.type, t.width, 1.0f);
        ASSERT_EQ(ZEP_response_curve_init(&src), -1);
        ASSERT_TRUE(reports.empty());

        void *stale = nullptr;
        Curve dst{};
        dst.tables = &stale;
        zep__err = 1234;
        EXPECT_EQ(ZEP_response_curve_copy(&dst, &src), -1);
        EXPECT_EQ(dst.tables, nullptr);
        EXPECT_EQ(zep__err, 1234);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports_of(t.message).size(), 1u);
        EXPECT_EQ(reports[0].severity, ERR_ERROR);
        EXPECT_EQ(reports[0].message, t.text);
        EXPECT_TRUE(no_leaks());
    }
}

TEST_F(CurvesTest, CopyRefusesASampledSourceWithoutItsTables)
{
    Curve released = describe(2, 16, ZEP_C_INTEGER, 8, 1.0f);
    ASSERT_EQ(ZEP_response_curve_init(&released), 0);
    ZEP_response_curve_done(&released);

    uint8_t table[16] = {};
    void *partial_tables[2] = {table, nullptr};
    Curve partial = describe(2, 16, ZEP_C_INTEGER, 8, 1.0f);
    partial.tables = partial_tables;

    for (const Curve *src : {&released, &partial}) {
        Curve dst{};
        zep__err = 1234;
        EXPECT_EQ(ZEP_response_curve_copy(&dst, src), -1);
        EXPECT_EQ(dst.tables, nullptr);
        EXPECT_EQ(zep__err, 1234);
        EXPECT_TRUE(no_leaks());
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(CurvesTest, CopyOntoItselfKeepsTheTables)
{
    Owned c;
    build(c, describe(2, 32, ZEP_C_INTEGER, 8, 2.0f));
    void **tables = c->tables;
    const std::vector<double> before = entries_of(c.c);
    EXPECT_EQ(ZEP_response_curve_copy(c.get(), c.get()), 0);
    EXPECT_EQ(c->tables, tables);
    EXPECT_EQ(entries_of(c.c), before);
}

// ---- comp --------------------------------------------------------------

TEST_F(CurvesTest, ComposingTwoAnalyticCurvesBuildsThePowerLawOfTheirRatio)
{
    // a gives element type and width, b channel count and length.
    const Curve a = describe(5, 7, ZEP_C_INTEGER, 8, 2.2f, ZEP_CURVE_ANALYTIC);
    const Curve b = describe(3, 256, ZEP_C_FLOAT, 32, 1.0f, ZEP_CURVE_ANALYTIC);
    Owned out{sentinel()};
    out->kind = ZEP_CURVE_ANALYTIC; // so that done leaves the pattern alone on failure
    ASSERT_EQ(ZEP_response_curve_comp(&a, &b, out.get()), 0);

    const float gamma = 1.0f / 2.2f;
    EXPECT_EQ(out->kind, ZEP_CURVE_SAMPLED);
    EXPECT_EQ(out->gamma, gamma);
    EXPECT_EQ(out->reserved, 0u);
    EXPECT_EQ(out->num_chan, 3);
    EXPECT_EQ(out->length, 256);
    EXPECT_EQ(out->elem_type, ZEP_C_INTEGER);
    EXPECT_EQ(out->elem_width, 8);

    const std::pair<int, double> spots[] = {{0, 0},    {1, 21},    {2, 28},
                                            {64, 136}, {128, 186}, {255, 255}};
    for (const auto &[i, v] : spots)
        EXPECT_EQ(entry(out.c, 2, i), v) << "entry " << i;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(entry(out.c, k, i), power_code(i, 256, gamma, 8));

    // The same pair with a description init refuses leaves out alone.
    Curve bad_a = a;
    bad_a.elem_width = 7;
    Curve untouched = sentinel();
    untouched.kind = ZEP_CURVE_ANALYTIC;
    const auto before = record_bytes(untouched);
    zep__err = 1234;
    EXPECT_EQ(ZEP_response_curve_comp(&bad_a, &b, &untouched), -1);
    EXPECT_EQ(record_bytes(untouched), before);
    EXPECT_EQ(zep__err, 1234);
    EXPECT_TRUE(reports.empty());
}

TEST_F(CurvesTest, ComposingSampledCurvesIndexesATablesThroughB)
{
    const struct {
        const char *name;
        int32_t a_type, a_width, a_length;
        int32_t b_width, b_length;
    } cases[] = {
        {"8-bit through 8-bit", ZEP_C_INTEGER, 8, 256, 8, 256},
        {"float through 8-bit", ZEP_C_FLOAT, 0, 256, 8, 100},
        {"16-bit through 12-bit", ZEP_C_INTEGER, 16, 4096, 12, 300},
        {"8-bit through 10-bit", ZEP_C_INTEGER, 8, 1024, 10, 64},
        {"float through 16-bit", ZEP_C_FLOAT, 0, 65536, 16, 50},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        Owned a, b;
        build(a, describe(3, t.a_length, t.a_type, t.a_width, 0.6f));
        build(b, describe(3, t.b_length, ZEP_C_INTEGER, t.b_width, 1.7f));
        vary_channels(a.c);
        vary_channels(b.c);
        const auto a_entries = entries_of(a.c);
        const auto b_entries = entries_of(b.c);

        Owned out;
        ASSERT_EQ(ZEP_response_curve_comp(a.get(), b.get(), out.get()), 0);
        EXPECT_EQ(out->kind, ZEP_CURVE_SAMPLED);
        EXPECT_EQ(out->gamma, 1.0f);
        EXPECT_EQ(out->reserved, 0u);
        EXPECT_EQ(out->elem_type, t.a_type);
        EXPECT_EQ(out->elem_width, t.a_width);
        expect_composite(a.c, b.c, out.c);
        EXPECT_EQ(entries_of(a.c), a_entries);
        EXPECT_EQ(entries_of(b.c), b_entries);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(CurvesTest, ComposingMismatchedSampledCurvesReportsAndLeavesOutAlone)
{
    const struct {
        const char *name;
        int32_t a_chan, a_length;
        int32_t b_chan, b_type, b_width;
        const zep::Message &message;
    } cases[] = {
        {"channel counts differ", 3, 256, 2, ZEP_C_INTEGER, 8, zep::kCurveChannelCounts},
        {"counts are tested before the type", 3, 256, 2, ZEP_C_FLOAT, 8, zep::kCurveChannelCounts},
        {"b holds floats", 2, 256, 2, ZEP_C_FLOAT, 8, zep::kCurveChannelType},
        {"8-bit b into 4096 entries", 1, 4096, 1, ZEP_C_INTEGER, 8, zep::kCurveElementCounts},
        {"12-bit b into 256 entries", 1, 256, 1, ZEP_C_INTEGER, 12, zep::kCurveElementCounts},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        reports.clear();
        Owned a, b;
        build(a, describe(t.a_chan, t.a_length, ZEP_C_INTEGER, 8, 1.0f));
        build(b, describe(t.b_chan, 256, t.b_type, t.b_width, 1.0f));
        Curve out = sentinel();
        const auto before = record_bytes(out);
        zep__err = 1234;
        EXPECT_EQ(ZEP_response_curve_comp(a.get(), b.get(), &out), -1);
        EXPECT_EQ(record_bytes(out), before);
        EXPECT_EQ(zep__err, 1234);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].format, t.message.text);
        EXPECT_EQ(reports[0].message, t.message.text);
        EXPECT_EQ(reports[0].severity, ERR_ERROR);
    }
}

TEST_F(CurvesTest, ComposingAnAnalyticCurveAfterASampledOneUsesItsInverse)
{
    // a analytic: its table spans b's 2^width codes with gamma 1 / a.gamma.
    for (int32_t a_type : {ZEP_C_INTEGER, ZEP_C_FLOAT}) {
        SCOPED_TRACE(testing::Message() << "a type " << a_type);
        const Curve a = describe(9, 9, a_type, 8, 2.2f, ZEP_CURVE_ANALYTIC);
        Owned b;
        build(b, describe(2, 50, ZEP_C_INTEGER, 10, 0.7f));
        vary_channels(b.c);

        Owned out;
        ASSERT_EQ(ZEP_response_curve_comp(&a, b.get(), out.get()), 0);
        EXPECT_EQ(out->gamma, 1.0f);
        EXPECT_EQ(out->num_chan, 2);
        EXPECT_EQ(out->length, 50);
        EXPECT_EQ(out->elem_type, a_type);
        const float inverse = static_cast<float>(1.0 / static_cast<double>(2.2f));
        for (int k = 0; k < 2; ++k)
            for (int i = 0; i < 50; ++i) {
                const int code = static_cast<int>(entry(b.c, k, i));
                const double x = code / 1023.0;
                const double expected = a_type == ZEP_C_FLOAT
                                            ? static_cast<float>(std::pow(x, double(inverse)))
                                            : power_code(code, 1024, inverse, 8);
                ASSERT_EQ(entry(out.c, k, i), expected) << "channel " << k << " entry " << i;
            }
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(CurvesTest, ComposingAnAnalyticCurveAfterAnUnusableOneFails)
{
    const Curve a = describe(1, 2, ZEP_C_INTEGER, 8, 2.2f, ZEP_CURVE_ANALYTIC);
    uint16_t table[4] = {0, 1, 2, 3};
    void *tables[1] = {table};

    Owned float_b;
    build(float_b, describe(1, 4, ZEP_C_FLOAT, 0, 1.0f));
    Curve wide_b = describe(1, 4, ZEP_C_INTEGER, 20, 1.0f);
    wide_b.tables = tables;
    Curve narrow_b = wide_b;
    narrow_b.elem_width = 0;

    const struct {
        const char *name;
        const Curve *b;
        const zep::Message &message;
    } cases[] = {
        {"b holds floats", float_b.get(), zep::kCurveChannelType},
        {"b is 20 bits wide", &wide_b, zep::kCurveElementCounts},
        {"b is 0 bits wide", &narrow_b, zep::kCurveElementCounts},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        reports.clear();
        Curve out = sentinel();
        const auto before = record_bytes(out);
        err__alloc_fail(1, 1);
        EXPECT_EQ(ZEP_response_curve_comp(&a, t.b, &out), -1);
        EXPECT_EQ(err__alloc_fail(0, 0), 0) << "an allocation was attempted";
        EXPECT_EQ(record_bytes(out), before);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].format, t.message.text);
    }

    // An analytic a whose description has no table form fails quietly.
    reports.clear();
    Owned b;
    build(b, describe(1, 8, ZEP_C_INTEGER, 8, 1.0f));
    Curve bad_a = a;
    bad_a.elem_type = ZEP_C_DOUBLE;
    Curve out = sentinel();
    EXPECT_EQ(ZEP_response_curve_comp(&bad_a, b.get(), &out), -1);
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(no_leaks());
}

TEST_F(CurvesTest, ComposingASampledCurveAfterAnAnalyticOneSamplesIt)
{
    // b analytic: its description becomes a temporary sampled curve.
    Owned a;
    build(a, describe(3, 256, ZEP_C_FLOAT, 0, 0.5f));
    vary_channels(a.c);
    const Curve b = describe(3, 300, ZEP_C_INTEGER, 8, 2.2f, ZEP_CURVE_ANALYTIC);

    Owned out;
    ASSERT_EQ(ZEP_response_curve_comp(a.get(), &b, out.get()), 0);
    EXPECT_EQ(out->gamma, 1.0f);
    EXPECT_EQ(out->num_chan, 3);
    EXPECT_EQ(out->length, 300);
    EXPECT_EQ(out->elem_type, ZEP_C_FLOAT);
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 300; ++i) {
            const int code = static_cast<int>(power_code(i, 300, 2.2f, 8));
            ASSERT_EQ(entry(out.c, k, i), entry(a.c, k, code)) << "channel " << k << " entry " << i;
        }
    EXPECT_TRUE(reports.empty());

    const struct {
        const char *name;
        int32_t b_chan, b_type, b_width;
        const zep::Message *message; // null: fails without a report
    } cases[] = {
        {"channel counts differ", 2, ZEP_C_INTEGER, 8, &zep::kCurveChannelCounts},
        {"b is sampled as floats", 3, ZEP_C_FLOAT, 8, &zep::kCurveChannelType},
        {"b's 12-bit codes against 256 entries", 3, ZEP_C_INTEGER, 12, &zep::kCurveElementCounts},
        {"b has no table form", 3, 9, 8, nullptr},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        reports.clear();
        const Curve bad_b = describe(t.b_chan, 300, t.b_type, t.b_width, 2.2f, ZEP_CURVE_ANALYTIC);
        Curve untouched = sentinel();
        const auto before = record_bytes(untouched);
        zep__err = 1234;
        EXPECT_EQ(ZEP_response_curve_comp(a.get(), &bad_b, &untouched), -1);
        EXPECT_EQ(record_bytes(untouched), before);
        EXPECT_EQ(zep__err, 1234);
        if (t.message) {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0].format, t.message->text);
        } else {
            EXPECT_TRUE(reports.empty());
        }
        EXPECT_TRUE(no_leaks());
    }
}

TEST_F(CurvesTest, ComposingOtherKindsDoesNothing)
{
    Owned sampled;
    build(sampled, describe(1, 256, ZEP_C_INTEGER, 8, 1.0f));
    const Curve analytic = describe(1, 256, ZEP_C_INTEGER, 8, 1.0f, ZEP_CURVE_ANALYTIC);
    Curve zero{};
    Curve three = analytic;
    three.kind = 3;
    const struct {
        const Curve *a, *b;
    } pairs[] = {{&zero, &analytic},
                 {&analytic, &zero},
                 {sampled.get(), &three},
                 {&three, sampled.get()},
                 {&zero, &zero}};
    for (const auto &p : pairs) {
        Curve out = sentinel();
        const auto before = record_bytes(out);
        err__alloc_fail(1, 1);
        EXPECT_EQ(ZEP_response_curve_comp(p.a, p.b, &out), 0);
        EXPECT_EQ(err__alloc_fail(0, 0), 0) << "an allocation was attempted";
        EXPECT_EQ(record_bytes(out), before);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(CurvesTest, ComposingClampsCodesBeyondTheEndOfA)
{
    Owned a, b;
    build(a, describe(1, 4096, ZEP_C_INTEGER, 16, 1.0f));
    build(b, describe(1, 4, ZEP_C_INTEGER, 12, 1.0f));
    const double codes[] = {0, 4095, 4096, 65535}; // the last two lie outside 12 bits
    for (int i = 0; i < 4; ++i)
        set_entry(b.c, 0, i, codes[i]);

    Owned out;
    ASSERT_EQ(ZEP_response_curve_comp(a.get(), b.get(), out.get()), 0);
    EXPECT_EQ(entry(out.c, 0, 0), 0);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(entry(out.c, 0, i), 65535) << "entry " << i;
}

TEST_F(CurvesTest, ComposingASampledCurveWithoutTablesFailsQuietly)
{
    Owned a;
    build(a, describe(1, 256, ZEP_C_INTEGER, 8, 1.0f));
    Curve released = describe(1, 256, ZEP_C_INTEGER, 8, 1.0f);
    ASSERT_EQ(ZEP_response_curve_init(&released), 0);
    ZEP_response_curve_done(&released);

    for (const auto &[first, second] :
         {std::pair{a.get(), &released}, std::pair{&released, a.get()}}) {
        Curve out = sentinel();
        const auto before = record_bytes(out);
        EXPECT_EQ(ZEP_response_curve_comp(first, second, &out), -1);
        EXPECT_EQ(record_bytes(out), before);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(CurvesTest, ComposingIntoAnOperandReadsItBeforeReplacingIt)
{
    Owned a, b;
    build(a, describe(2, 256, ZEP_C_INTEGER, 8, 0.5f));
    build(b, describe(2, 256, ZEP_C_INTEGER, 8, 2.0f));
    vary_channels(a.c);
    Owned old_a{a.c}; // keeps a's first tables alive for the comparison and frees them

    ASSERT_EQ(ZEP_response_curve_comp(a.get(), b.get(), a.get()), 0);
    EXPECT_NE(a->tables, old_a->tables);
    expect_composite(old_a.c, b.c, a.c);
}

// ---- out of memory -----------------------------------------------------

// Runs op with the n-th allocation from now failing, n = 1, 2, ..., until
// it runs without an injected failure. Each failing run must return -1,
// set zep__err to -10, report the exhaustion once, pass `check` and leak
// nothing. Returns the number of allocations of the successful run.
int fail_each_allocation(const std::function<int()> &op, const std::function<void()> &check)
{
    for (int n = 1; n <= 16; ++n) {
        SCOPED_TRACE(testing::Message() << "allocation " << n << " fails");
        reports.clear();
        zep__err = 0;
        err__alloc_fail(n, 0);
        const int result = op();
        if (err__alloc_fail(0, 0) == 0) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(zep__err, 0);
            EXPECT_TRUE(reports.empty());
            return n - 1;
        }
        EXPECT_EQ(result, -1);
        EXPECT_EQ(zep__err, ZEP_E_NOMEM);
        EXPECT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports_of(zep::kNoMemory).size(), 1u);
        check();
        EXPECT_TRUE(no_leaks());
    }
    ADD_FAILURE() << "still failing after 16 allocations";
    return -1;
}

TEST_F(CurvesTest, InitAndCopyFailCleanlyAtEveryAllocation)
{
    Owned c;
    const int init_allocations = fail_each_allocation(
        [&] {
            c.c = describe(3, 256, ZEP_C_INTEGER, 12, 0.45f);
            return ZEP_response_curve_init(c.get());
        },
        [&] { EXPECT_EQ(c->tables, nullptr); });
    EXPECT_EQ(init_allocations, 2);
    ASSERT_NE(c->tables, nullptr);
    EXPECT_EQ(entry(c.c, 2, 255), 4095);

    Owned copy;
    const int copy_allocations = fail_each_allocation(
        [&] {
            copy.c = sentinel();
            return ZEP_response_curve_copy(copy.get(), c.get());
        },
        [&] { EXPECT_EQ(copy->tables, nullptr); });
    EXPECT_EQ(copy_allocations, 2);
    ASSERT_NE(copy->tables, nullptr);
    EXPECT_EQ(entries_of(copy.c), entries_of(c.c));
}

TEST_F(CurvesTest, CompositionFailsCleanlyAtEveryAllocation)
{
    Owned sampled_a, sampled_b;
    build(sampled_a, describe(2, 256, ZEP_C_INTEGER, 8, 0.5f));
    build(sampled_b, describe(2, 100, ZEP_C_INTEGER, 8, 2.0f));
    const Curve analytic_a = describe(1, 1, ZEP_C_INTEGER, 8, 2.2f, ZEP_CURVE_ANALYTIC);
    const Curve analytic_b = describe(2, 100, ZEP_C_INTEGER, 8, 1.8f, ZEP_CURVE_ANALYTIC);
    const auto a_entries = entries_of(sampled_a.c);
    const auto b_entries = entries_of(sampled_b.c);

    const struct {
        const char *name;
        const Curve *a, *b;
        int allocations; // out's two, plus two for a temporary curve
    } cases[] = {
        {"analytic, analytic", &analytic_a, &analytic_b, 2},
        {"sampled, sampled", sampled_a.get(), sampled_b.get(), 2},
        {"analytic after sampled", &analytic_a, sampled_b.get(), 4},
        {"sampled after analytic", sampled_a.get(), &analytic_b, 4},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        Owned out;
        std::vector<unsigned char> before;
        const int allocations = fail_each_allocation(
            [&] {
                out.c = sentinel();
                out->kind = ZEP_CURVE_ANALYTIC;
                before = record_bytes(out.c);
                return ZEP_response_curve_comp(t.a, t.b, out.get());
            },
            [&] { EXPECT_EQ(record_bytes(out.c), before); });
        EXPECT_EQ(allocations, t.allocations);
        ASSERT_EQ(out->kind, ZEP_CURVE_SAMPLED);
        ASSERT_EQ(out->num_chan, 2);
        ASSERT_EQ(out->length, 100);
        EXPECT_EQ(entries_of(sampled_a.c), a_entries);
        EXPECT_EQ(entries_of(sampled_b.c), b_entries);
    }
    // The sampled pair's result, from the last run, is still the composite.
    Owned out;
    ASSERT_EQ(ZEP_response_curve_comp(sampled_a.get(), sampled_b.get(), out.get()), 0);
    expect_composite(sampled_a.c, sampled_b.c, out.c);
}

} // namespace
} // namespace curves_test
