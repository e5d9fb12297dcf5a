// Runs the checks written in C against the public header.
#include <gtest/gtest.h>

extern "C" int strings_from_c(void);

TEST(StringsFromC, InterfaceWorksFromC) { EXPECT_EQ(strings_from_c(), 0) << "failed at line"; }
