// zep formats, zep info (text and JSON), unreadable files (one error line
// naming the file, exit status 2, for every subcommand) and --help.
#include <gtest/gtest.h>

#include "tool_test.h"

namespace {

using namespace tooltest;

class ToolInfo : public ToolTest {
  protected:
    // Two images: 5 x 4 of 3 int8 colour channels and an int8 matte, then
    // 3 x 2 of one float colour channel and two 16-bit auxiliary channels.
    std::string two_image_file(const std::string &name)
    {
        std::vector<ZEP_IMAGE_DESC> images{
            describe(5, 4, group(3, ZEP_C_INTEGER, 8, "rgb"), group(1)),
            describe(3, 2, group(1, ZEP_C_FLOAT, 32), group(0), group(2, ZEP_C_INTEGER, 16))};
        images[0].active = {1, 3, 1, 2};
        images[1].response.gamma = 2.2f;
        return write(
            name, images, [](int, int k, int x, int) { return k + x; }, true);
    }
};

TEST_F(ToolInfo, FormatsListsPluginsThenBuiltins)
{
    for (const char *plugin_path : {"", ZEP_BUILD_PLUGIN_DIR}) { // the shipped modules last
        setenv("ZEP_PLUGIN_PATH", plugin_path, 1);
        const Outcome r = zep("formats");
        ASSERT_TRUE(r.status == 0 && r.err.empty()) << r.err;
        std::string want = "KEY|EXTENSION|NAME|ACCESS|MULTI-FRAME|DESCRIPTION\n"
                           "rla|.rla|RLA|read,write,any-order|no|run-length encoded image\n"
                           "rlb|.rlb|RLB|read,write,any-order|no|run-length encoded image, "
                           "older header variant\n";
        if (!*plugin_path) want.resize(want.find('\n') + 1);
        want += "pipe|.pipe|pipe|read,write|no|ipc\nmem|.mem|memory|read,write,any-order|no|-\n";
        EXPECT_EQ(std::regex_replace(r.out, std::regex(" {2,}"), "|"), want);
    }
}

TEST_F(ToolInfo, InfoDescribesEveryImageAsTextAndAsJson)
{
    two_image_file("pic.rla");
    const Outcome r = zep("info pic.rla");
    ASSERT_TRUE(r.status == 0 && r.err.empty()) << r.err;
    // Rows the writer fills itself need only be there; control characters show as '?'.
    const std::string rows = std::regex_replace(
        r.out, std::regex("(\n  (date|elapsed time|compression|primaries|white point)) .*"),
        "$1  *");
    EXPECT_EQ(
        std::regex_replace(rows, std::regex(" {2,}"), "|"),
        "pic.rla\n|format|rla (RLA)\n|images|2\n|name|beauty\n|description|a \"quoted\" line?and "
        "caf\xc3\xa9\n|program|tool-test\n|machine|farm-07\n|user|lighting\n|date|*\n|elapsed "
        "time|*\n"
        "|filter|box\n|compression|*\n|job|42\n|frame|7\n|field|1\n|primaries|*\n|white point|*\n"
        "|image 0\n|window|x 0..4, y 0..3 (5 x 4)\n|active|x 1..3, y 1..2 (3 x 2)\n|colour|3 x "
        "int 8-bit, rgb\n|matte|1 x int 8-bit, -\n|aux|none\n|gamma|1\n|aspect|unknown, 5 x 4, "
        "ratio 1.25\n|image 1\n|window|x 0..2, y 0..1 (3 x 2)\n|active|x 0..2, y 0..1 (3 x 2)\n"
        "|colour|1 x float 32-bit, unknown\n|matte|none\n|aux|2 x int 16-bit, unknown\n|gamma|2.2\n"
        "|aspect|unknown, 3 x 2, ratio 1.5\n");

    // The same as JSON, of pic.rla and of an RLB file without an extension
    // (found by content).
    fs::rename(two_image_file("b.rlb"), path("b"));
    const Outcome j = zep("info --json pic.rla b");
    ASSERT_EQ(j.status, 0) << j.err;
    std::map<std::string, std::string> doc;
    ASSERT_NO_THROW(doc = FlatJson::parse(j.out)) << j.out;
    EXPECT_EQ(doc["#"], "2");
    EXPECT_EQ(doc["0.file"] + doc["1.file"], "pic.rlab");
    // Both layouts probe as "rla" first; keys and values, ';' between.
    const std::string want =
        "format rla;name beauty;program tool-test;job 42;frame 7;primaries.red# 3;white_point# 3;"
        "images# 2;images.0.window.width 5;images.0.window.height 4;images.0.active.left 1;"
        "images.0.active.top 2;images.0.colour.count 3;images.0.colour.type int;"
        "images.0.colour.format rgb;images.0.matte.count 1;images.1.colour.type float;"
        "images.1.aux.count 2;images.1.aux.width 16;images.1.gamma 2.2;images.1.response analytic";
    for (const std::string f : {"0.", "1."}) {
        EXPECT_EQ(doc[f + "description"], "a \"quoted\" line\nand caf\xc3\xa9");
        std::istringstream pairs(want);
        for (std::string pair; std::getline(pairs, pair, ';');) {
            const std::string key = f + pair.substr(0, pair.find(' '));
            EXPECT_EQ(doc[key], pair.substr(pair.find(' ') + 1)) << key;
        }
    }
}

// Every subcommand and a bad command line: exit status 2, the error as one
// line naming the file and the library's message (regular expressions
// below), and no file left behind, not even a partial output.
TEST_F(ToolInfo, ErrorsExitTwoWithOneLineAndWriteNothing)
{
    const std::string bytes =
        slurp(write("src.rla", {describe(40, 20, group(3))},
                    [](int, int k, int x, int y) { return (x * y + k) % 251; }));
    write("float.rla", {describe(4, 2, group(3, ZEP_C_FLOAT, 32))},
          [](int, int, int, int) { return 0.5; });
    // cut.rla keeps its header and line table: the open succeeds and the
    // last lines cannot be read, after the first ones have been written.
    // clang-format off
    for (const auto &[name, text] : std::map<std::string, std::string>{
             {"cut.rla", bytes.substr(0, bytes.size() - 30)}, {"head.rla", bytes.substr(0, 100)},
             {"garbage.rla", std::string(1500, 'x')}, {"empty.rla", ""}, {"kept.rla", "old file"}})
        std::ofstream(path(name)) << text;
    const Names before = listing();
    const std::pair<std::string, std::string> cases[] = {
        {"info missing.rla", "^zep: missing.rla: Cannot open file"},
        {"info garbage.rla", "^zep: garbage.rla: (?!garbage)."}, // the file named once
        {"info head.rla", "^zep: head.rla: ."}, {"info empty.rla", "^zep: empty.rla: ."},
        {"info frame.mem", "^zep: frame.mem: ."}, // memory images live in their process only
        {"info --key nokey src.rla", "^zep: src.rla: .*Invalid type nokey"},
        {"info --json src.rla missing.rla", "^zep: missing.rla: Cannot open file"},
        {"convert cut.rla out.rla", "^zep: cut.rla: Cannot read scanline"},
        {"convert cut.rla kept.rla", "^zep: cut.rla: Cannot read scanline"},
        {"convert cut.rla out.mem", "^zep: cut.rla: Cannot read scanline"},
        {"convert garbage.rla out.rla", "^zep: garbage.rla: ."},
        {"convert missing.rla out.rla", "^zep: missing.rla: Cannot open file"},
        {"convert src.rla out.rla --key nope", "^zep: out.rla: unknown format key \"nope\""},
        {"convert src.rla out.xyz", "^zep: out.xyz: no format writes files of this name"},
        {"convert float.rla out.pipe", "^zep: out.pipe: the pipe format takes 3 integer"},
        // The message names the file asked for, not the temporary one.
        {"convert src.rla no/out.rla", "^zep: no/out.rla: Cannot open file no/out.rla;"},
        {"diff src.rla missing.rla", "^zep: missing.rla: Cannot open file"},
        {"diff missing.rla src.rla", "^zep: missing.rla: Cannot open file"},
        {"diff garbage.rla src.rla", "^zep: garbage.rla: ."},
        {"diff src.rla cut.rla", "^zep: cut.rla: Cannot read scanline"},
        {"diff src.rla x.pipe", "^zep: x.pipe: the file holds no image"}, // a pipe opens empty
        {"diff src.rla src.rla --tolerance -1", "--tolerance"}, {"diff src.rla", "B"},
        {"pattern p.rla --type int8 --bits 4", "--type excludes"},
        {"pattern p.rla --float --double", "exclude each other"},
        {"pattern p.rla --active 0,64,0,10", "--active L,R,B,T must lie inside"},
        {"pattern p.rla --active 5,4,0,10", "--active L,R,B,T must lie inside"},
        {"pattern p.rla --channels 0", "at least one channel"},
        {"pattern p.rla --key nope", "unknown format key \"nope\""},
        {"pattern p.xyz", "^zep: p.xyz: no format writes"},
        {"pattern p.pipe --images 2", "^zep: p.pipe: pipe cannot store multiple images"},
        {"pattern p.pipe --float", "the pipe format takes"}, {"pattern p.rla --width 0", "--width"},
        {"", "subcommand"}, {"frobnicate", "subcommand"}, {"info", "files"}, {"formats -x", "-x"}};
    // clang-format on
    for (const auto &[args, error] : cases) {
        SCOPED_TRACE(args);
        const Outcome r = zep(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(std::regex_search(r.err, std::regex(error))) << r.err;
        EXPECT_TRUE(error[0] != '^' || r.err.find('\n') == r.err.size() - 1) << "one line";
        EXPECT_EQ(listing(), before);
        // The readable file of a list is still described.
        EXPECT_EQ(args.starts_with("info --json") ? FlatJson::parse(r.out)["0.file"] : r.out,
                  args.starts_with("info --json") ? "src.rla" : "");
    }
    EXPECT_EQ(slurp(path("kept.rla")), "old file");
}

TEST_F(ToolInfo, HelpForEverySubcommand)
{
    // clang-format off
    for (const auto &[args, has] : std::vector<std::pair<std::string, std::string>>{
             {"--help", "formats info convert pattern diff"}, {"--version", "zep "},
             {"formats --help", "multi-frame"}, {"info --help", "--json"}, {"diff --help", "-t"},
             {"convert --help", "--key"}, {"pattern --help", "--pattern"}}) {
        // clang-format on
        const Outcome r = zep(args);
        EXPECT_EQ(r.status, 0) << args;
        std::istringstream words(has);
        for (std::string w; words >> w;)
            EXPECT_NE(r.out.find(w), std::string::npos) << args << w;
    }
}

} // namespace
