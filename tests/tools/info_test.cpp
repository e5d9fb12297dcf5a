// zep formats, zep info (text and JSON) and what the tool does with bad
// command lines and unreadable files: one error line naming the file, and
// exit status 2.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "json_reader.h"
#include "tool_test.h"
#include "zep_plugins.h"

namespace {

using namespace tooltest;

// Lines of a text, without their ends.
std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// The columns of a table line (separated by two or more spaces).
std::vector<std::string> columns(const std::string &line)
{
    static const std::regex gap(" {2,}");
    return {std::sregex_token_iterator(line.begin(), line.end(), gap, -1), {}};
}

class ToolInfo : public ToolTest {
  protected:
    static void SetUpTestSuite()
    {
        // The tests and the tool they run use the shipped modules only.
        setenv("ZEP_PLUGIN_PATH", ZEP_BUILD_PLUGIN_DIR, 1);
        ASSERT_EQ(zep_plugins_init(nullptr), 0);
    }
    static void TearDownTestSuite() { zep_plugins_exit(); }

    // Writes a two-image RLA file: 5 x 4 of 3 int8 colour channels and an
    // int8 matte, then 3 x 2 of one float colour channel and two 16-bit
    // auxiliary channels, with every text field of the description set.
    std::string two_image_file(const std::string &name, const char *key = nullptr)
    {
        std::vector<ZEP_IMAGE_DESC> images{
            describe(5, 4, {const_cast<char *>("rgb"), 3, ZEP_C_INTEGER, 8},
                     {nullptr, 1, ZEP_C_INTEGER, 8}),
            describe(3, 2, {nullptr, 1, ZEP_C_FLOAT, 32}, {nullptr, 0, ZEP_C_INTEGER, 8},
                     {nullptr, 2, ZEP_C_INTEGER, 16})};
        images[0].active = {1, 3, 1, 2};
        images[1].response.gamma = 2.2f;
        std::string file = path(name), desc = "a \"quoted\" line\nand caf\xc3\xa9";
        std::string title = "beauty", program = "tool-test", filter = "box";
        ZEP_INFO info;
        ZEP_info_init(&info);
        info.handle = file.data();
        info.key = const_cast<char *>(key);
        info.name = title.data();
        info.desc = desc.data();
        info.program = program.data();
        info.filter = filter.data();
        info.job_num = 42;
        info.frame = 7;
        info.num_images = 2;
        info.images = images.data();
        EXPECT_EQ(write_file(info), "");
        ZEP_info_cleanup(&info, 0);
        return file;
    }
};

TEST_F(ToolInfo, FormatsListsPluginsThenBuiltins)
{
    for (bool with_plugins : {true, false}) {
        SCOPED_TRACE(with_plugins ? "shipped modules" : "no modules");
        if (!with_plugins) setenv("ZEP_PLUGIN_PATH", "", 1);
        const Outcome r = zep({"formats"});
        setenv("ZEP_PLUGIN_PATH", ZEP_BUILD_PLUGIN_DIR, 1);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        std::vector<std::vector<std::string>> rows;
        for (const auto &l : lines_of(r.out)) rows.push_back(columns(l));
        std::vector<std::vector<std::string>> want{
            {"KEY", "EXTENSION", "NAME", "ACCESS", "MULTI-FRAME", "DESCRIPTION"}};
        if (with_plugins) {
            want.push_back({"rla", ".rla", "RLA", "read,write,any-order", "no",
                            "run-length encoded image"});
            want.push_back({"rlb", ".rlb", "RLB", "read,write,any-order", "no",
                            "run-length encoded image, older header variant"});
        }
        want.push_back({"pipe", ".pipe", "pipe", "read,write", "no", "ipc"});
        want.push_back({"mem", ".mem", "memory", "read,write,any-order", "no", "-"});
        EXPECT_EQ(rows, want);
    }
}

TEST_F(ToolInfo, InfoTextDescribesEveryImage)
{
    two_image_file("pic.rla");
    const Outcome r = zep({"info", "pic.rla"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto l = lines_of(r.out);
    // Rows looked up by label; the image rows are indented by four.
    auto row = [&](const std::string &label, int image = -1) {
        std::size_t i = 0;
        if (image >= 0)
            while (i < l.size() && l[i] != "  image " + std::to_string(image)) ++i;
        const std::string lead = image >= 0 ? "    " + label : "  " + label;
        for (; i < l.size(); ++i)
            if (l[i].rfind(lead + " ", 0) == 0) {
                std::string v = l[i].substr(lead.size());
                return v.substr(v.find_first_not_of(' '));
            }
        return std::string("(missing)");
    };
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l[0], "pic.rla");
    const std::vector<std::pair<std::string, std::string>> file_rows{
        {"format", "rla (RLA)"}, {"images", "2"},  {"name", "beauty"},
        {"description", "a \"quoted\" line?and caf\xc3\xa9"},
        {"program", "tool-test"}, {"filter", "box"}, {"job", "42"},
        {"frame", "7"},           {"field", "0"}};
    for (const auto &[label, value] : file_rows) EXPECT_EQ(row(label), value) << label;
    // Fields the writer fills by itself: present, whatever they hold.
    for (const char *label : {"machine", "user", "date", "compression", "primaries", "white point"})
        EXPECT_NE(row(label), "(missing)") << label;
    const std::vector<std::tuple<int, std::string, std::string>> image_rows{
        {0, "window", "x 0..4, y 0..3 (5 x 4)"},
        {0, "active", "x 1..3, y 1..2 (3 x 2)"},
        {0, "colour", "3 x int 8-bit, rgb"},
        {0, "matte", "1 x int 8-bit, "},
        {0, "aux", "none"},
        {0, "gamma", "1"},
        {1, "window", "x 0..2, y 0..1 (3 x 2)"},
        {1, "colour", "1 x float 32-bit, "},
        {1, "matte", "none"},
        {1, "aux", "2 x int 16-bit, "},
        {1, "gamma", "2.2"}};
    // Values ending in ", " are prefixes: the group's format name follows.
    for (const auto &[image, label, value] : image_rows) {
        const std::string got = row(label, image);
        if (value.ends_with(", "))
            EXPECT_EQ(got.substr(0, value.size()), value) << "image " << image << " " << label;
        else
            EXPECT_EQ(got, value) << "image " << image << " " << label;
    }
}

TEST_F(ToolInfo, InfoJsonParsesBackWithTheSameContent)
{
    two_image_file("a.rla");
    // Without an extension the format is found by content.
    fs::rename(two_image_file("b.rlb", "rlb"), path("b"));
    const Outcome r = zep({"info", "--json", "a.rla", "b"});
    ASSERT_EQ(r.status, 0) << r.err;
    Json doc;
    ASSERT_NO_THROW(doc = JsonParser::parse(r.out)) << r.out;
    ASSERT_EQ(doc.kind, Json::Array);
    ASSERT_EQ(doc.items.size(), 2u);
    EXPECT_EQ(doc[0]["file"].text, "a.rla");
    EXPECT_EQ(doc[1]["file"].text, "b");
    for (const Json &f : doc.items) {
        SCOPED_TRACE(f["file"].text);
        EXPECT_EQ(f["format"].text, "rla"); // both layouts probe as "rla" first
        EXPECT_EQ(f["name"].text, "beauty");
        EXPECT_EQ(f["description"].text, "a \"quoted\" line\nand caf\xc3\xa9");
        EXPECT_EQ(f["program"].text, "tool-test");
        EXPECT_EQ(f["job"].number, 42);
        EXPECT_EQ(f["frame"].number, 7);
        EXPECT_EQ(f["primaries"]["red"].items.size(), 3u);
        EXPECT_EQ(f["white_point"].items.size(), 3u);
        ASSERT_EQ(f["images"].items.size(), 2u);
        const Json &i0 = f["images"][0], &i1 = f["images"][1];
        EXPECT_EQ(i0["window"]["width"].number, 5);
        EXPECT_EQ(i0["window"]["height"].number, 4);
        EXPECT_EQ(i0["active"]["left"].number, 1);
        EXPECT_EQ(i0["active"]["top"].number, 2);
        EXPECT_EQ(i0["colour"]["count"].number, 3);
        EXPECT_EQ(i0["colour"]["type"].text, "int");
        EXPECT_EQ(i0["colour"]["format"].text, "rgb");
        EXPECT_EQ(i0["matte"]["count"].number, 1);
        EXPECT_EQ(i1["colour"]["type"].text, "float");
        EXPECT_EQ(i1["aux"]["count"].number, 2);
        EXPECT_EQ(i1["aux"]["width"].number, 16);
        EXPECT_NEAR(i1["gamma"].number, 2.2, 1e-6);
        EXPECT_EQ(i1["response"].text, "analytic");
    }
}

TEST_F(ToolInfo, FailuresGiveOneLineNamingTheFile)
{
    const std::string good = two_image_file("good.rla");
    const std::string bytes = slurp(good);
    spit(path("garbage.rla"), std::string(2000, 'x'));
    spit(path("cut.rla"), bytes.substr(0, 100));
    spit(path("empty.rla"), "");
    struct Case {
        std::vector<std::string> args;
        std::string file;     // the file the error line names
        std::string message;  // a part of the message after "zep: FILE: "
    } cases[] = {
        {{"info", "missing.rla"}, "missing.rla", ""},
        {{"info", "garbage.rla"}, "garbage.rla", ""},
        {{"info", "cut.rla"}, "cut.rla", ""},
        {{"info", "empty.rla"}, "empty.rla", ""},
        {{"info", "--key", "nokey", "good.rla"}, "good.rla", "Invalid type nokey"},
        // An image in memory lives only in the process that wrote it.
        {{"info", "frame.mem"}, "frame.mem", ""},
        // The pipe format cannot be read back.
        {{"info", "--json", "good.rla", "missing.rla"}, "missing.rla", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.back());
        const Outcome r = zep(c.args);
        EXPECT_EQ(r.status, 2);
        const auto errs = lines_of(r.err);
        ASSERT_EQ(errs.size(), 1u) << r.err;
        const std::string lead = "zep: " + c.file + ": ";
        EXPECT_EQ(errs[0].rfind(lead, 0), 0u) << errs[0];
        EXPECT_GT(errs[0].size(), lead.size()) << "no message";
        EXPECT_NE(errs[0].rfind(lead + c.file + ": ", 0), 0u) << "file named twice";
        EXPECT_NE(errs[0].find(c.message), std::string::npos) << errs[0];
    }
    // The readable file of a list is still described.
    const Outcome mixed = zep({"info", "--json", "good.rla", "missing.rla"});
    Json doc;
    ASSERT_NO_THROW(doc = JsonParser::parse(mixed.out)) << mixed.out;
    ASSERT_EQ(doc.items.size(), 1u);
    EXPECT_EQ(doc[0]["file"].text, "good.rla");
}

TEST_F(ToolInfo, CommandLine)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out_has, err_has;
    } cases[] = {
        {{"--help"}, 0, "formats", ""},
        {{"--version"}, 0, "zep ", ""},
        {{"info", "--help"}, 0, "--json", ""},
        {{"formats", "--help"}, 0, "multi-frame", ""},
        {{}, 2, "", "subcommand"},
        {{"info"}, 2, "", "files"},
        {{"frobnicate"}, 2, "", "subcommand"},
        {{"formats", "--bogus"}, 2, "", "--bogus"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args[0]);
        const Outcome r = zep(c.args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_NE(r.out.find(c.out_has), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
    }
    const Outcome help = zep({"--help"});
    for (const char *sub : {"formats", "info", "convert", "pattern", "diff"})
        EXPECT_NE(help.out.find(sub), std::string::npos) << sub;
}

} // namespace
