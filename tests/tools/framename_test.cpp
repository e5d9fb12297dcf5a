// zep framename: frame names, wildcard patterns and printf templates, for
// the shipped formats (names matched against a name syntax) and for a test
// format without one (names composed through its printf format string);
// failures are one line and exit 2.
#include <gtest/gtest.h>

#include "tool_test.h"

namespace {

using namespace tooltest;

class ToolFramename : public ToolTest {
  protected:
    // The "tst" test format, beside the shipped ones, for the tool's runs.
    void SetUp() override
    {
        ToolTest::SetUp();
        fs::create_directory(path("plug"));
        fs::copy_file(ZEP_TEST_PLUGIN_DIR "/tst_format.so", path("plug/tst_format.so"));
        setenv("ZEP_PLUGIN_PATH", (ZEP_BUILD_PLUGIN_DIR ":" + path("plug")).c_str(), 1);
    }
    void TearDown() override
    {
        setenv("ZEP_PLUGIN_PATH", ZEP_BUILD_PLUGIN_DIR, 1);
        ToolTest::TearDown();
    }
};

TEST_F(ToolFramename, BuildsFramesPatternsAndTemplates)
{
    const std::pair<const char *, const char *> cases[] = {
        {"shots/foo.0007.rla", "shots/foo.0007.rla"}, // the frame in the name
        {"shots/foo.0007.rla --frame 12", "shots/foo.0012.rla"},
        {"shots/foo.0007.rla --frame 123456", "shots/foo.123456.rla"},
        {"shots/foo.0007.rla --pattern", "shots/foo.*.rla"},
        {"shots/foo.0007.rla --template", "shots/foo.%04d.rla"},
        {"'100%/a_b.0001.rlb' --template", "100%%/a_b.%04d.rlb"}, // a printf format
        {"x.1.rlb -f 25", "x.25.rlb"},                            // the width of the name's digits
        {"FOO.0001.RLA --key rla --frame 3", "FOO.0003.RLA"},
        {"foo.0007 --key rla --force", "foo.0007.rla"},
        // No syntax: the frame field of "%s.%04.4d%s".
        {"seq.0001.tst --frame 25", "seq.0025.tst"},
        {"seq.1.tst --frame 25", "seq.25.tst"},
        {"dir/seq.0001.tst --pattern", "dir/seq.*.tst"},
        {"seq.0001.tst --template", "seq.%04.4d.tst"}};
    for (const auto &[args, want] : cases) {
        SCOPED_TRACE(args);
        const Outcome r = zep(std::string("framename ") + args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, want + std::string("\n"));
    }
}

TEST_F(ToolFramename, FailuresAreOneLineAndExit2)
{
    const std::pair<const char *, const char *> cases[] = {
        {"--key nosuch foo.0001.rla", "foo.0001.rla: unknown format key"},
        {"foo.0001.xyz", "foo.0001.xyz: no format has the extension"},
        {"--key rla ''", ": no name given"}};
    for (const auto &[args, start] : cases) {
        SCOPED_TRACE(args);
        const Outcome r = zep(std::string("framename ") + args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.find(start), r.err.find("zep: ") + 5) << r.err;
    }
}

} // namespace
