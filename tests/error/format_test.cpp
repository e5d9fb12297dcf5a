// The layer's own expansion (ERR_report, ERR_format) and the placeholder
// filling of ERR_format_fill, including where long texts are cut.
#include <array>
#include <cstring>
#include <string>

#include "error/support.h"

using namespace zep_test;

namespace {

using Expansion = ErrorLayer;

// A buffer of ERR_MESSAGE_MAX bytes followed by guard bytes that must stay put.
struct Guarded {
    static constexpr size_t kGuard = 16;
    std::array<char, ERR_MESSAGE_MAX + kGuard> bytes;
    Guarded() { bytes.fill('#'); }
    char *data() { return bytes.data(); }
    bool guard_intact() const
    {
        for (size_t i = ERR_MESSAGE_MAX; i < bytes.size(); ++i)
            if (bytes[i] != '#') return false;
        return true;
    }
};

TEST_F(Expansion, ConversionsWithTheSameArguments)
{
    // Every case gets ('Z', 42, 2.5, "txt"); a format takes what it needs.
    struct Case {
        const char *format;
        const char *text;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"", ""},
        {"100%%", "100%"},
        {"%c", "Z"},
        {"%c %d %f %s", "Z 42 2.500000 txt"},
        {"%x%c", "%xZ"},     // unknown conversion takes no argument
        {"%5d|%c", "%5d|Z"}, // no width: "%5" is copied, then "d"
        {"%c%%d", "Z%d"},
        {"ends %", "ends %"}, // a final "%" is copied
        {"%c%", "Z%"},
        {"a%%b%", "a%b%"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        ERR_RECORD rec = make_record(ERR_ERROR, "R", c.format);
        Guarded out;
        EXPECT_EQ(ERR_format(out.data(), &rec, 'Z', 42, 2.5, "txt"), out.data());
        EXPECT_STREQ(out.data(), c.text);
    }
}

TEST_F(Expansion, CharacterLowByteNullTextAndNullFormat)
{
    char out[ERR_MESSAGE_MAX];
    ERR_RECORD rec = make_record(ERR_ERROR, "R", "[%c][%s]");
    EXPECT_STREQ(ERR_format(out, &rec, 0x141, static_cast<const char *>(nullptr)), "[A][(null)]");
    rec.format = nullptr;
    EXPECT_STREQ(ERR_format(out, &rec), "");
}

TEST_F(Expansion, ReportUsesTheSameExpansion)
{
    Tag catcher{"catcher", 0};
    Declared d(nullptr, log_handler, &catcher);
    ERR_RECORD rec = make_record(ERR_WARNING, "R", "%s: %d%% at %f, %q%");
    ERR_report(&rec, "clip", 50, 0.25);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].message, "clip: 50% at 0.250000, %q%");
}

TEST_F(Expansion, LongResultsAreCutAtTheBufferEnd)
{
    const std::string long_text(300, 'a');
    const std::string nearly(250, 'b');
    struct Case {
        std::string format;
        std::string text;
    };
    const Case cases[] = {
        {long_text, long_text.substr(0, 255)},
        {nearly + "%f", nearly + "10000"}, // 1e300 printed and cut
        {nearly + "%d", nearly + "-2147"},
        {nearly + "%s", nearly + "ccccc"},
        {nearly + "12345%c", nearly + "12345"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        ERR_RECORD rec = make_record(ERR_ERROR, "R", c.format.c_str());
        Guarded out;
        if (c.format.back() == 'f')
            ERR_format(out.data(), &rec, 1e300);
        else if (c.format.back() == 'd')
            ERR_format(out.data(), &rec, INT32_MIN);
        else
            ERR_format(out.data(), &rec, std::string(100, 'c').c_str());
        EXPECT_EQ(std::string(out.data()), c.text);
        EXPECT_TRUE(out.guard_intact());
    }
}

using Fill = ErrorLayer;

TEST_F(Fill, ConversionsBecomePlaceholders)
{
    static const char *const file_only[] = {"file", nullptr};
    static const char *const two[] = {"line", "why", nullptr};
    static const char *const tail[] = {"tail", nullptr};
    struct Case {
        const char *format;
        const char *const *names;
        const char *text;
    };
    const Case cases[] = {
        {"Cannot open file %s; %s", nullptr, "Cannot open file <string>; <string>"},
        {"%d %f %c %x %s", nullptr, "<integer> <real> <character> <unknown type> <string>"},
        {"100%% sure %d", nullptr, "100% sure <integer>"},
        {"Cannot open file %s; %s", file_only, "Cannot open file <file>; <string>"},
        {"%d %s %d", two, "<line> <why> <integer>"},
        {"%%%d", two, "%<line>"}, // "%%" takes no name
        {"ends %", nullptr, "ends <unknown type>"},
        {"x %", tail, "x <tail>"},
        {"100%%%", nullptr, "100%<unknown type>"},
        {"", two, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        ERR_RECORD rec = make_record(ERR_ERROR, "R", c.format);
        rec.arg_names = c.names;
        Guarded out;
        EXPECT_EQ(ERR_format_fill(&rec, out.data()), out.data());
        EXPECT_STREQ(out.data(), c.text);
    }
}

TEST_F(Fill, LongFormatIsCutAndMaskIsIgnored)
{
    std::string format;
    for (int i = 0; i < 40; ++i)
        format += "%s-";
    ERR_RECORD rec = make_record(ERR_ERROR, "R", format.c_str());
    ERR_mask(&rec);
    Guarded out;
    ERR_format_fill(&rec, out.data());
    std::string expected;
    for (int i = 0; i < 40; ++i)
        expected += "<string>-";
    EXPECT_EQ(std::string(out.data()), expected.substr(0, ERR_MESSAGE_MAX - 1));
    EXPECT_TRUE(out.guard_intact());
}

} // namespace
