// The error layer: handler chain, masks and counters, history, default and
// fatal handling, expansion and filling with their limits, the allocators.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <zep/error.h>

namespace {

using Strings = std::vector<std::string>;
using Ints = std::vector<int>;
struct Call { std::string tag, name, message; int severity; ERR_RECORD *record; };
struct Tag { const char *tag; int result; }; // a logging handler's user data
std::vector<Call> calls;
int own_result = 1;
Tag catcher{"catcher", 0}; // the oldest global handler in every test

// Logs its call; with no user data it is a record's own handler ("own").
int log_handler(const char *name, int severity, const char *message, ERR_RECORD *record, void *data)
{
    const auto *t = static_cast<const Tag *>(data);
    calls.push_back({t ? t->tag : "own", name ? name : "", message, severity, record});
    return t ? t->result : own_result;
}

Strings seen(std::string Call::*field = &Call::tag)
{
    Strings out;
    for (const Call &c : calls) out.push_back(c.*field);
    return out;
}

struct Declared { // a handler declared for the life of the guard
    ERR_RECORD *record;
    Declared(ERR_RECORD *r, ERR_HANDLER h, void *d) : record(r) { ERR_dcl_handler(r, h, d); }
    ~Declared() { ERR_can_handler(record); }
};

ERR_RECORD make_record(int severity, const char *name, const char *format)
{
    ERR_RECORD r{};
    r.kind = 1, r.severity = static_cast<uint8_t>(severity), r.name = name, r.format = format;
    return r;
}

void reset_masks() // as at load time: only DEBUG masked
{
    ERR_unmask(nullptr);
    for (int s = ERR_DEBUG; s <= ERR_FATAL; ++s) (s == ERR_DEBUG ? ERR_mask_s : ERR_unmask_s)(s);
}

class Err : public ::testing::Test {
  protected:
    void SetUp() override
    {
        reset_masks();
        calls.clear();
        own_result = 1, catcher.result = 0;
        ASSERT_EQ(ERR_dcl_handler(nullptr, log_handler, &catcher), 1);
    }
    void TearDown() override
    {
        reset_masks();
        err__alloc_fail(0, 0);
        EXPECT_EQ(ERR_can_handler(nullptr), log_handler);
    }
};

TEST_F(Err, ChainRunsRecordStackOwnHandlerGlobalStackDefaultUntilOneReturnsZero)
{
    const Strings order{"rec new", "rec old", "own", "global", "catcher"};
    for (int stop = 0; stop <= 5; ++stop) { // handler `stop` returns 0; 5: none does
        calls.clear();
        ERR_RECORD rec = make_record(ERR_ERROR, "DISK", "disk %s: %d%%");
        rec.handler = log_handler;
        own_result = stop != 2, catcher.result = stop != 4;
        Tag a{"rec old", stop != 1}, b{"rec new", stop != 0}, g{"global", stop != 3};
        Declared da(&rec, log_handler, &a), db(&rec, log_handler, &b), dg(nullptr, log_handler, &g);
        testing::internal::CaptureStderr();
        EXPECT_EQ(ERR_report(&rec, "full", 90), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), stop < 5 ? "" : "ERROR, disk full: 90%\n")
            << "the default handler ends the chain";
        EXPECT_EQ(seen(), Strings(order.begin(), order.begin() + std::min(stop + 1, 5)));
        for (const Call &c : calls)
            EXPECT_EQ(std::tuple(c.name, c.message, c.severity, c.record),
                      std::tuple("DISK", "disk full: 90%", ERR_ERROR, &rec));
    }
}

// Cancels its own node, then reports its message again through ERR_printf.
int cancel_and_forward(const char *, int, const char *message, ERR_RECORD *record, void *)
{
    calls.push_back({"self", "", message, 0, record});
    EXPECT_EQ(ERR_can_handler(nullptr), cancel_and_forward);
    ERR_printf(ERR_WARNING, "again: %s", message);
    return 1;
}

TEST_F(Err, OwnRecordsTakeTheFormatAsNameAndHandlersMayCancelAndReport)
{
    ASSERT_EQ(ERR_dcl_handler(nullptr, cancel_and_forward, nullptr), 1);
    ERR_printf(ERR_WARNING, "first %d", 1);
    EXPECT_EQ(ERR_report_cat(nullptr, 902, 52, ERR_ERROR, "Cannot open %s; %s", "a", "gone"), 0);
    ASSERT_EQ(seen(), (Strings{"self", "catcher", "catcher", "catcher"}));
    EXPECT_EQ(calls[1].message, "again: first 1");
    EXPECT_EQ(calls[1].record->severity, ERR_WARNING);
    EXPECT_EQ(calls[3].name + "|" + calls[3].message, "Cannot open %s; %s|Cannot open a; gone");
    EXPECT_STREQ(calls[3].record->format, "Cannot open a; gone");
    EXPECT_TRUE(calls[3].record != calls[0].record && ERR_last(0) == calls[3].record);
    ERR_RECORD empty = make_record(ERR_ERROR, "E", "m");
    EXPECT_EQ(ERR_can_handler(&empty), nullptr);

    calls.clear(); // errno reports go through ERR_printf at severity 3
    const std::string denied = strerror(EACCES);
    ERR_report_errno(EACCES, "shot.rla"), ERR_report_errno(EACCES, "");
    ERR_report_errno(100000, nullptr), ERR_report_errno(-3, "clock");
    EXPECT_EQ(seen(&Call::message),
              (Strings{"shot.rla: " + denied, denied, "error 100000", "clock: error -3"}));
    EXPECT_EQ(calls[0].severity, ERR_ERROR);
}

TEST_F(Err, MaskCallsReturnThePreviousState)
{
    ERR_RECORD rec = make_record(ERR_ERROR, "R", "m");
    for (ERR_RECORD *r : {&rec, static_cast<ERR_RECORD *>(nullptr)}) {
        int first = ERR_mask(r), again = ERR_mask(r), flags = static_cast<int>(rec.flags);
        int unmask = ERR_unmask(r), unmask_again = ERR_unmask(r);
        EXPECT_EQ(Ints({first, again, flags, unmask, unmask_again}),
                  Ints({0, 1, r ? 1 : 0, 1, 0})); // ERR_FLAG_MASKED is bit 0
    }
    int debug = ERR_unmask_s(ERR_DEBUG), first = ERR_mask_s(ERR_DEBUG), again = ERR_mask_s(0);
    EXPECT_EQ(Ints({debug, first, again, ERR_mask_s(5), ERR_unmask_s(-1)}),
              Ints({1, 0, 1, 0, 0})); // DEBUG starts masked
}

TEST_F(Err, MaskedReportsReachNoHandlerAndOnlyRecordReportsCount)
{
    struct Case { const char *what; int severity; void (*mask)(ERR_RECORD *); } const cases[] = {
        {"global", ERR_ERROR, [](ERR_RECORD *) { ERR_mask(nullptr); }},
        {"severity", ERR_WARNING, [](ERR_RECORD *) { ERR_mask_s(ERR_WARNING); }},
        {"debug at start", ERR_DEBUG, [](ERR_RECORD *) {}},
        {"record", ERR_INFORMATION, [](ERR_RECORD *r) { ERR_mask(r); }}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        reset_masks();
        ERR_printf(ERR_ERROR, "before"); // a known newest history slot
        ERR_RECORD *last = ERR_last(0), rec = make_record(c.severity, "R", "m");
        calls.clear();
        c.mask(&rec);
        int before = ERR_stats(c.severity), total = ERR_stats(-1);
        if (rec.flags == 0) { // the layer's own records count nothing when masked
            EXPECT_NE(ERR_report_cat(nullptr, 902, 30, c.severity, "masked %s", "x"), 0);
            ERR_printf(c.severity, "masked too");
            EXPECT_EQ(ERR_stats(-1), total);
        }
        EXPECT_EQ(ERR_report(&rec), 0);
        EXPECT_TRUE(ERR_stats(c.severity) == before + 1 && rec.count == 1);
        EXPECT_TRUE(ERR_last(0) == last && calls.empty());
        char buffer[ERR_MESSAGE_MAX] = "untouched"; // ERR_format obeys the same masks
        EXPECT_STREQ(ERR_format(buffer, &rec), "untouched");
    }
    reset_masks();
    ERR_unmask_s(ERR_DEBUG);
    int errors = ERR_stats(ERR_ERROR);
    ERR_printf(ERR_DEBUG, "now heard");
    ERR_printf(-1, "a severity outside 0..4 is an error");
    EXPECT_EQ(seen(&Call::message), (Strings{"now heard", "a severity outside 0..4 is an error"}));
    EXPECT_EQ(ERR_stats(ERR_ERROR), errors + 1);
}

TEST_F(Err, HistoryRingKeepsTheSixteenNewest)
{
    ERR_RECORD recs[17];
    for (ERR_RECORD &r : recs) ERR_report(&(r = make_record(ERR_INFORMATION, "R", "m")));
    EXPECT_EQ(std::vector<ERR_RECORD *>({ERR_last(0), ERR_last(1), ERR_last(15)}),
              std::vector<ERR_RECORD *>({&recs[16], &recs[15], &recs[1]}));
    EXPECT_TRUE(ERR_last(16) == nullptr && ERR_last(-1) == nullptr);
    recs[0].count = INT32_MAX; // counts stop at the largest value
    ERR_report(&recs[0]);
    EXPECT_EQ(recs[0].count, INT32_MAX);
}

TEST_F(Err, DefaultHandlerWritesSeverityAndMessage)
{
    for (auto [severity, line] : {std::pair<int, const char *>{ERR_DEBUG, "DEBUG, text\n"},
                                  {ERR_WARNING, "WARNING, text\n"}, {7, "UNKNOWN, text\n"}}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(ERR_def_handler("N", severity, "text", nullptr, nullptr), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), line);
    }
    // An application whose handler takes a fatal report survives it.
    EXPECT_EQ(ERR_report_cat(nullptr, 902, 1, ERR_FATAL, "survived"), 0);
    EXPECT_EQ(seen(), Strings{"catcher"});
}

using ErrDeathTest = Err;

TEST_F(ErrDeathTest, FatalReportShowsTheBoxAndAborts)
{
    catcher.result = 1;
    EXPECT_DEATH(ERR_printf(ERR_FATAL, "disk %s", "gone"),
                 "FATAL, disk gone\nFatal Error: FATAL, disk gone\n");
    static ERR_RECORD fatal = make_record(ERR_FATAL, "F", "lost %d frames");
    EXPECT_DEATH(ERR_report(&fatal, 3), "Fatal Error: FATAL, lost 3 frames");
    // The box text is cut at 1,023 characters: "FATAL, " and 1,016 of the message.
    const std::string huge(40000, 'x');
    EXPECT_DEATH(ERR_printf(ERR_FATAL, "%s", huge.c_str()), "Fatal Error: FATAL, x{1016}\n");
}

TEST_F(Err, LongMessagesAreCutToTheirBuffers)
{
    const std::string huge(40000, 'y');
    ERR_printf(ERR_ERROR, "%s", huge.c_str());
    ERR_report_cat(nullptr, 902, 1, ERR_ERROR, "%s!", huge.c_str());
    ERR_RECORD rec = make_record(ERR_ERROR, "R", "%s");
    ERR_report(&rec, huge.c_str());
    const std::string cat = huge.substr(0, ERR_CAT_BUFFER_MAX - 1);
    EXPECT_EQ(seen(&Call::message), (Strings{cat, cat, huge.substr(0, ERR_MESSAGE_MAX - 1)}));

    // ERR_format and ERR_format_fill stop at ERR_MESSAGE_MAX bytes whatever
    // crosses the end; filling ignores the masks.
    auto cut = [](const std::string &format, auto arg, bool fill = false) {
        ERR_RECORD r = make_record(ERR_ERROR, "R", format.c_str());
        char out[ERR_MESSAGE_MAX + 8];
        std::memset(out, '#', sizeof out);
        (fill && ERR_mask(&r) == 0) ? ERR_format_fill(&r, out) : ERR_format(out, &r, arg);
        EXPECT_EQ(std::string(out + ERR_MESSAGE_MAX, 8), "########") << format;
        return std::string(out);
    };
    const std::string b(250, 'b');
    EXPECT_EQ(cut(std::string(300, 'a'), 0), std::string(255, 'a'));
    EXPECT_EQ(cut(b + "%f", 1e300), b + "10000");
    EXPECT_EQ(cut(b + "%d", INT32_MIN), b + "-2147");
    EXPECT_EQ(cut(b + "%s", std::string(100, 'c').c_str()), b + "ccccc");
    std::string format, filled;
    for (int i = 0; i < 40; ++i) format += "%s-", filled += "<string>-";
    EXPECT_EQ(cut(format, 0, true), filled.substr(0, ERR_MESSAGE_MAX - 1));
}

TEST_F(Err, ExpansionAndFillingTakeConversionsWithoutWidths)
{
    static const char *const file[] = {"file", nullptr}, *const two[] = {"line", "why", nullptr};
    struct Case { // expanded with ('Z', 42, 2.5, "txt"); filled with the names
        const char *format, *expanded;
        const char *const *names;
        const char *filled;
    } const cases[] = {
        {"", "", two, ""}, {"x %", "x %", file, "x <file>"},
        {"%c %d %f %s %x", "Z 42 2.500000 txt %x", nullptr,
         "<character> <integer> <real> <string> <unknown type>"},
        {"%5d|%c", "%5d|Z", nullptr, "<unknown type>d|<character>"},
        {"open %c; %d %f", "open Z; 42 2.500000", two, "open <line>; <why> <real>"},
        {"%%%c%%d", "%Z%d", file, "%<file>%d"}, {"%c%", "Z%", file, "<file><unknown type>"},
        {"ends %", "ends %", nullptr, "ends <unknown type>"}};
    char out[ERR_MESSAGE_MAX];
    for (const Case &c : cases) {
        ERR_RECORD rec = make_record(ERR_ERROR, "R", c.format);
        rec.arg_names = c.names;
        EXPECT_STREQ(ERR_format(out, &rec, 'Z', 42, 2.5, "txt"), c.expanded) << c.format;
        EXPECT_STREQ(ERR_format_fill(&rec, out), c.filled) << c.format;
    }
    ERR_RECORD rec = make_record(ERR_ERROR, "R", "[%c][%s]");
    EXPECT_STREQ(ERR_format(out, &rec, 0x141, static_cast<const char *>(nullptr)), "[A][(null)]");
}

TEST_F(Err, CompareMatchesAbbreviationsAndSkipsThePrefix)
{
    struct Case { const char *text, *name; int skip, sign; } const cases[] = {
        {"Cannot", "Cannot open", 0, 0}, {"Cannot", "Can", 0, 1}, {"\xe9", "a", 0, 1},
        {"Cannot opens", "Cannot open", 0, 1}, {"open", "ZEP: open file", 1, 0},
        {"file", "ZEP: open", 1, -1}, {"a", nullptr, 0, 1}};
    for (const Case &c : cases) {
        ERR_RECORD rec = make_record(ERR_ERROR, c.name, "m");
        int r = ERR_compare(c.text, &rec, c.skip);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.text << " / " << (c.name ? c.name : "null");
    }
}

int allocating_handler(const char *, int, const char *message, ERR_RECORD *record, void *)
{
    calls.push_back({"allocating", "", message, 0, record});
    EXPECT_EQ(ERR_malloc(16), nullptr);
    return 0;
}

TEST_F(Err, AllocatorsFailWhereTheHookSaysAndReportEachFailureOnce)
{
    void *a = ERR_malloc(0), *b = ERR_malloc(0);
    EXPECT_TRUE(a && b && a != b);
    EXPECT_EQ(ERR_free(a) + ERR_free(b) + ERR_free(nullptr), 3);
    struct Case { int n, persistent; const char *pattern; } const cases[] = { // '+' succeeds
        {1, 0, "-++++"}, {3, 0, "++-++"}, {2, 1, "+----"}, {0, 0, "+++++"}, {-4, 1, "+++++"}};
    for (auto [n, persistent, pattern] : cases) {
        calls.clear();
        err__alloc_fail(n, persistent);
        std::string got;
        for (int i = 0; i < 5; ++i) {
            void *p = i % 2 ? ERR_realloc(nullptr, 8) : ERR_malloc(8);
            got += p ? '+' : '-';
            ERR_free(p);
        }
        EXPECT_EQ(got, pattern);
        size_t failures = std::count(got.begin(), got.end(), '-');
        EXPECT_EQ(err__alloc_fail(0, 0), static_cast<int>(failures)) << pattern;
        EXPECT_EQ(seen(&Call::message), Strings(failures, "No more internal memory"));
    }
    char *block = static_cast<char *>(ERR_malloc(6));
    std::memcpy(block, "frame", 6);
    err__alloc_fail(1, 0);
    EXPECT_EQ(ERR_realloc(block, 1 << 20), nullptr);
    EXPECT_STREQ(block, "frame"); // the old block stays valid
    ERR_free(block);
    Declared d(nullptr, allocating_handler, nullptr); // its allocation is not reported again
    calls.clear();
    err__alloc_fail(1, 1);
    EXPECT_EQ(ERR_malloc(8), nullptr);
    EXPECT_EQ(err__alloc_fail(0, 0), 2);
    EXPECT_EQ(seen(), Strings{"allocating"});
}

TEST_F(Err, HandlerWithoutANodeIsNotDeclared)
{
    static ERR_RECORD rec = make_record(ERR_ERROR, "R", "reported");
    static Tag declared_tag{"declared", 1};
    int declared = 0; // free nodes are taken first: a call fails once none is left
    for (err__alloc_fail(1, 0); declared < 64; err__alloc_fail(1, 0), ++declared)
        if (ERR_dcl_handler(&rec, log_handler, &declared_tag) != 1) break;
    ASSERT_LT(declared, 64);
    EXPECT_EQ(err__alloc_fail(0, 0), 1);
    EXPECT_EQ(seen(&Call::message), Strings{"No more internal memory"});
    calls.clear();
    ERR_report(&rec); // reaches every declared handler and nothing else
    Strings expected(declared, "declared");
    expected.push_back("catcher");
    EXPECT_EQ(seen(), expected);
    ASSERT_EQ(ERR_dcl_handler(&rec, log_handler, &declared_tag), 1);
    for (int i = 0; i <= declared; ++i) EXPECT_EQ(ERR_can_handler(&rec), log_handler);
    EXPECT_EQ(ERR_can_handler(&rec), nullptr);
}

} // namespace
