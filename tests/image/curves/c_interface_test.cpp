// The curve interface from C: the record has the same layout on both sides
// and a C program can build, copy, compose and release curves.
#include "support.h"

extern "C" {
int zep_test_c_curves(void);
size_t zep_test_c_curve_size(void);
size_t zep_test_c_curve_tables_offset(void);
}

namespace curves_test {
namespace {

TEST_F(CurvesTest, TheCurveInterfaceWorksFromC)
{
    EXPECT_EQ(zep_test_c_curve_size(), sizeof(ZEP_RESPONSE_CURVE));
    EXPECT_EQ(zep_test_c_curve_tables_offset(), offsetof(ZEP_RESPONSE_CURVE, tables));
    EXPECT_EQ(zep_test_c_curves(), 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(no_leaks());
}

} // namespace
} // namespace curves_test
