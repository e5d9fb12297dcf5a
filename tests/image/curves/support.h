// Shared by the curve tests: a fixture that logs every report through a
// global handler and keeps the allocator's fault injection disarmed around
// each test, a curve that frees its tables when it goes out of scope, entry
// access by element type, and a leak probe for the out-of-memory loops.
#ifndef ZEP_TESTS_IMAGE_CURVES_SUPPORT_H
#define ZEP_TESTS_IMAGE_CURVES_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <zep/curves.h>
#include <zep/error.h>

#include "error/messages.h"

#if defined(__SANITIZE_ADDRESS__)
#define CURVES_TEST_LEAK_CHECK 1
#include <sanitizer/lsan_interface.h>
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CURVES_TEST_LEAK_CHECK 1
#include <sanitizer/lsan_interface.h>
#endif
#endif

namespace curves_test {

struct Report {
    std::string format; // catalogued reports pass their default format as name
    int severity;
    std::string message;
};

inline std::vector<Report> reports;

inline int log_handler(const char *name, int severity, const char *message, ERR_RECORD *, void *)
{
    reports.push_back({name ? name : "", severity, message ? message : ""});
    return 0;
}

// The reports made from table entry m.
inline std::vector<Report> reports_of(const zep::Message &m)
{
    std::vector<Report> out;
    for (const Report &r : reports)
        if (r.format == m.text) out.push_back(r);
    return out;
}

// True when no block allocated so far has become unreachable. Without the
// leak sanitizer there is nothing to ask, and the process-exit check of a
// sanitizer build is the only one.
inline bool no_leaks()
{
#ifdef CURVES_TEST_LEAK_CHECK
    return __lsan_do_recoverable_leak_check() == 0;
#else
    return true;
#endif
}

class CurvesTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        err__alloc_fail(0, 0);
        reports.clear();
        ASSERT_EQ(ERR_dcl_handler(nullptr, log_handler, nullptr), 1);
    }
    void TearDown() override
    {
        ERR_can_handler(nullptr);
        err__alloc_fail(0, 0);
    }
};

using Curve = ZEP_RESPONSE_CURVE;

// A description ready for ZEP_response_curve_init.
inline Curve describe(int32_t num_chan, int32_t length, int32_t type, int32_t width, float gamma,
                      int32_t kind = ZEP_CURVE_SAMPLED)
{
    Curve c{};
    c.kind = kind;
    c.gamma = gamma;
    c.num_chan = num_chan;
    c.length = length;
    c.elem_type = type;
    c.elem_width = width;
    return c;
}

// A curve record whose tables are released when it goes out of scope.
struct Owned {
    Curve c{};
    Owned() = default;
    explicit Owned(const Curve &from) : c(from) {}
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    ~Owned() { ZEP_response_curve_done(&c); }
    Curve *operator->() { return &c; }
    Curve *get() { return &c; }
};

// Builds a sampled curve; a failed init fails the test that asked for it.
inline void build(Owned &o, const Curve &description)
{
    o.c = description;
    ASSERT_EQ(ZEP_response_curve_init(&o.c), 0);
    ASSERT_NE(o.c.tables, nullptr);
}

// Bytes per entry of a sampled curve's tables.
inline size_t entry_bytes(const Curve &c)
{
    if (c.elem_type == ZEP_C_FLOAT) return 4;
    return c.elem_width <= 8 ? 1 : 2;
}

// Entry i of table k, whatever the entry type.
inline double entry(const Curve &c, int k, int i)
{
    if (c.elem_type == ZEP_C_FLOAT) return static_cast<const float *>(c.tables[k])[i];
    if (c.elem_width <= 8) return static_cast<const uint8_t *>(c.tables[k])[i];
    return static_cast<const uint16_t *>(c.tables[k])[i];
}

inline void set_entry(Curve &c, int k, int i, double v)
{
    if (c.elem_type == ZEP_C_FLOAT)
        static_cast<float *>(c.tables[k])[i] = static_cast<float>(v);
    else if (c.elem_width <= 8)
        static_cast<uint8_t *>(c.tables[k])[i] = static_cast<uint8_t>(v);
    else
        static_cast<uint16_t *>(c.tables[k])[i] = static_cast<uint16_t>(v);
}

} // namespace curves_test

#endif // ZEP_TESTS_IMAGE_CURVES_SUPPORT_H
