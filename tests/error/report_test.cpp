// Reporting: the handler chain, masks and counting, the history ring, the
// default handler's line and the fatal end, the message buffers' limits,
// errno reports and the queries.
#include <errno.h>
#include <string.h>

#include <climits>
#include <string>

#include "error/support.h"

using namespace zep_test;

namespace {

using Dispatch = ErrorLayer;

TEST_F(Dispatch, RunsRecordStackOwnHandlerGlobalStackThenDefault)
{
    ERR_RECORD rec = make_record(ERR_ERROR, "DISK", "disk %s");
    rec.handler = own_handler;
    Tag a{"record older", 1}, b{"record newer", 1}, g1{"global older", 1}, g2{"global newer", 1};
    Declared da(&rec, log_handler, &a), db(&rec, log_handler, &b);
    Declared dg1(nullptr, log_handler, &g1), dg2(nullptr, log_handler, &g2);

    testing::internal::CaptureStderr();
    EXPECT_EQ(ERR_report(&rec, "full"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR, disk full\n");
    EXPECT_EQ(tags(), (std::vector<std::string>{"record newer", "record older", "own",
                                                "global newer", "global older"}));
    for (const Call &c : calls) {
        EXPECT_EQ(c.name, "DISK");
        EXPECT_EQ(c.severity, ERR_ERROR);
        EXPECT_EQ(c.message, "disk full");
        EXPECT_EQ(c.record, &rec);
    }
}

TEST_F(Dispatch, FirstHandlerReturningZeroEndsTheChain)
{
    const std::vector<std::string> order{"record", "own", "global"};
    for (size_t stop = 0; stop < order.size(); ++stop) {
        SCOPED_TRACE(order[stop]);
        calls.clear();
        ERR_RECORD rec = make_record(ERR_WARNING, "W", "warned");
        rec.handler = own_handler;
        own_result = stop == 1 ? 0 : 1;
        Tag r{"record", stop == 0 ? 0 : 1}, g{"global", stop == 2 ? 0 : 1};
        Declared dr(&rec, log_handler, &r), dg(nullptr, log_handler, &g);

        testing::internal::CaptureStderr();
        ERR_report(&rec);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(tags(), std::vector<std::string>(order.begin(), order.begin() + stop + 1));
    }
}

TEST_F(Dispatch, CatalogueReportResultAndRecordFields)
{
    Tag pass{"pass", 1}, stop{"stop", 0};
    {
        Declared d(nullptr, log_handler, &stop);
        EXPECT_EQ(
            ERR_report_cat(nullptr, 902, 52, ERR_ERROR, "Cannot open file %s; %s", "a.rla", "gone"),
            0);
    }
    ASSERT_EQ(calls.size(), 1u);
    // Catalogued reports show the unfilled format as the name.
    EXPECT_EQ(calls[0].name, "Cannot open file %s; %s");
    EXPECT_EQ(calls[0].message, "Cannot open file a.rla; gone");
    ERR_RECORD *own = calls[0].record;
    ASSERT_EQ(ERR_last(0), own);
    EXPECT_EQ(own->kind, 1);
    EXPECT_EQ(own->severity, ERR_ERROR);
    EXPECT_STREQ(own->format, "Cannot open file a.rla; gone");

    // ERR_printf has a record of its own.
    {
        Declared d(nullptr, log_handler, &pass), d2(nullptr, log_handler, &stop);
        ERR_printf(ERR_WARNING, "%d lines", 3);
    }
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[1].record, own);
    EXPECT_EQ(calls[1].severity, ERR_WARNING);
    EXPECT_EQ(calls[1].record->severity, ERR_WARNING);
    EXPECT_EQ(calls[1].message, "3 lines");
}

// Logs, then cancels its own node and passes the report on.
int cancel_self(const char *, int, const char *, ERR_RECORD *record, void *data)
{
    calls.push_back({static_cast<const Tag *>(data)->tag, "", 0, "", record});
    EXPECT_EQ(ERR_can_handler(record), cancel_self);
    return 1;
}

TEST_F(Dispatch, HandlerMayCancelItselfAndStacksRecycleNodes)
{
    ERR_RECORD rec = make_record(ERR_ERROR, "R", "m");
    Tag below{"below", 0}, self{"self", 1};
    Declared d(&rec, log_handler, &below);
    ASSERT_EQ(ERR_dcl_handler(&rec, cancel_self, &self), 1);
    ERR_report(&rec);
    EXPECT_EQ(tags(), (std::vector<std::string>{"self", "below"}));
    calls.clear();
    ERR_report(&rec);
    EXPECT_EQ(tags(), std::vector<std::string>{"below"});

    ERR_RECORD empty = make_record(ERR_ERROR, "E", "m");
    EXPECT_EQ(ERR_can_handler(&empty), nullptr);
}

// Passes an ERR_printf message on through ERR_printf once.
int forward_once(const char *, int, const char *message, ERR_RECORD *record, void *)
{
    calls.push_back({"forward", "", 0, message, record});
    if (calls.size() == 1) ERR_printf(ERR_WARNING, "again: %s", message);
    return 0;
}

TEST_F(Dispatch, HandlerMayReportItsMessageAgain)
{
    Declared d(nullptr, forward_once, nullptr);
    ERR_printf(ERR_WARNING, "first %d", 1);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].message, "again: first 1");
}

using Masks = ErrorLayer;

TEST_F(Masks, MaskCallsReturnThePreviousState)
{
    ERR_RECORD rec = make_record(ERR_ERROR, "R", "m");
    EXPECT_EQ(ERR_mask(&rec), 0);
    EXPECT_EQ(ERR_mask(&rec), 1);
    EXPECT_EQ(rec.flags, ERR_FLAG_MASKED);
    EXPECT_EQ(ERR_unmask(&rec), 1);
    EXPECT_EQ(ERR_unmask(&rec), 0);
    EXPECT_EQ(ERR_mask(nullptr), 0);
    EXPECT_EQ(ERR_mask(nullptr), 1);
    EXPECT_EQ(ERR_unmask(nullptr), 1);
    EXPECT_EQ(ERR_unmask(nullptr), 0);
    EXPECT_EQ(ERR_unmask_s(ERR_DEBUG), 1); // DEBUG starts masked
    EXPECT_EQ(ERR_mask_s(ERR_DEBUG), 0);
    EXPECT_EQ(ERR_mask_s(ERR_DEBUG), 1);
    for (int bad : {-1, 5, 200}) {
        EXPECT_EQ(ERR_mask_s(bad), 0);
        EXPECT_EQ(ERR_unmask_s(bad), 0);
    }
}

TEST_F(Masks, MaskedCatalogueAndPrintfReportsCountNothing)
{
    Tag catcher{"catcher", 0};
    Declared d(nullptr, log_handler, &catcher);
    ERR_printf(ERR_ERROR, "before"); // leaves a known newest history slot
    ERR_RECORD *last = ERR_last(0);
    calls.clear();

    struct Case {
        const char *what;
        int severity;
        void (*mask)();
    };
    const Case cases[] = {
        {"global", ERR_ERROR, [] { ERR_mask(nullptr); }},
        {"debug at start", ERR_DEBUG, [] {}},
        {"severity", ERR_WARNING, [] { ERR_mask_s(ERR_WARNING); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        reset_masks();
        c.mask();
        int total = ERR_stats(-1);
        EXPECT_NE(ERR_report_cat(nullptr, 902, 30, c.severity, "masked %s", "x"), 0);
        ERR_printf(c.severity, "masked too");
        EXPECT_EQ(ERR_stats(-1), total);
        EXPECT_EQ(ERR_last(0), last);
        EXPECT_TRUE(calls.empty());
    }

    reset_masks();
    EXPECT_EQ(ERR_unmask_s(ERR_DEBUG), 1);
    int debug = ERR_stats(ERR_DEBUG);
    ERR_printf(ERR_DEBUG, "now heard");
    EXPECT_EQ(ERR_stats(ERR_DEBUG), debug + 1);
    EXPECT_EQ(tags(), std::vector<std::string>{"catcher"});
}

TEST_F(Masks, MaskedRecordReportStillCounts)
{
    Tag catcher{"catcher", 0};
    Declared d(nullptr, log_handler, &catcher);
    ERR_printf(ERR_ERROR, "before");
    ERR_RECORD *last = ERR_last(0);
    calls.clear();

    struct Case {
        const char *what;
        int severity;
        void (*mask)(ERR_RECORD *);
    };
    const Case cases[] = {
        {"record", ERR_WARNING, [](ERR_RECORD *r) { ERR_mask(r); }},
        {"global", ERR_WARNING, [](ERR_RECORD *) { ERR_mask(nullptr); }},
        {"severity", ERR_INFORMATION, [](ERR_RECORD *) { ERR_mask_s(ERR_INFORMATION); }},
        {"debug at start", ERR_DEBUG, [](ERR_RECORD *) {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        reset_masks();
        ERR_RECORD rec = make_record(c.severity, "R", "m");
        c.mask(&rec);
        int before = ERR_stats(c.severity);
        EXPECT_EQ(ERR_report(&rec), 0);
        EXPECT_EQ(ERR_stats(c.severity), before + 1);
        EXPECT_EQ(rec.count, 1);
        EXPECT_EQ(ERR_last(0), last);
        EXPECT_TRUE(calls.empty());

        // ERR_format leaves the buffer alone under the same masks.
        char buffer[ERR_MESSAGE_MAX] = "untouched";
        EXPECT_EQ(ERR_format(buffer, &rec), buffer);
        EXPECT_STREQ(buffer, "untouched");
    }
}

TEST_F(Masks, SeverityOutsideTheRangeIsTakenAsError)
{
    Tag catcher{"catcher", 0};
    Declared d(nullptr, log_handler, &catcher);
    for (int severity : {-1, 5, 300}) {
        SCOPED_TRACE(severity);
        calls.clear();
        int errors = ERR_stats(ERR_ERROR);
        ERR_printf(severity, "odd");
        EXPECT_EQ(ERR_stats(ERR_ERROR), errors + 1);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].severity, ERR_ERROR);
        ERR_mask_s(ERR_ERROR);
        EXPECT_NE(ERR_report_cat(nullptr, 1, 1, severity, "odd"), 0);
        ERR_unmask_s(ERR_ERROR);
    }
    ERR_RECORD rec = make_record(9, "R", "m");
    int errors = ERR_stats(ERR_ERROR);
    ERR_report(&rec);
    EXPECT_EQ(ERR_stats(ERR_ERROR), errors + 1);
}

TEST_F(Masks, CountsStopAtTheLargestValue)
{
    ERR_RECORD rec = make_record(ERR_ERROR, "R", "m");
    rec.count = INT32_MAX;
    ERR_mask(&rec);
    ERR_report(&rec);
    EXPECT_EQ(rec.count, INT32_MAX);
}

using History = ErrorLayer;

TEST_F(History, RingKeepsTheSixteenNewest)
{
    Tag catcher{"catcher", 0};
    Declared d(nullptr, log_handler, &catcher);
    ERR_RECORD recs[17];
    for (ERR_RECORD &r : recs) {
        r = make_record(ERR_INFORMATION, "R", "m");
        ERR_report(&r);
    }
    EXPECT_EQ(ERR_last(0), &recs[16]);
    EXPECT_EQ(ERR_last(1), &recs[15]);
    EXPECT_EQ(ERR_last(15), &recs[1]);
    EXPECT_EQ(ERR_last(16), nullptr);
    EXPECT_EQ(ERR_last(-1), nullptr);
}

using DefaultHandler = ErrorLayer;

TEST_F(DefaultHandler, WritesSeverityAndMessage)
{
    struct Case {
        int severity;
        const char *line;
    };
    const Case cases[] = {
        {ERR_DEBUG, "DEBUG, text\n"}, {ERR_WARNING, "WARNING, text\n"}, {7, "UNKNOWN, text\n"}};
    for (const Case &c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(ERR_def_handler("N", c.severity, "text", nullptr, nullptr), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
    }
    testing::internal::CaptureStderr();
    ERR_printf(ERR_INFORMATION, "%s has %d frames", "clip", 24);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "INFORMATION, clip has 24 frames\n");
}

TEST_F(DefaultHandler, GlobalHandlerDecidesWhetherTheLineIsWritten)
{
    for (int result : {0, 1}) {
        Tag g{"global", result};
        Declared d(nullptr, log_handler, &g);
        testing::internal::CaptureStderr();
        ERR_printf(ERR_WARNING, "maybe");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), result ? "WARNING, maybe\n" : "");
    }
}

using DefaultHandlerDeathTest = ErrorLayer;

TEST_F(DefaultHandlerDeathTest, FatalReportShowsTheBoxAndAborts)
{
    EXPECT_DEATH(ERR_printf(ERR_FATAL, "disk %s", "gone"),
                 "FATAL, disk gone\nFatal Error: FATAL, disk gone\n");
    static ERR_RECORD fatal = make_record(ERR_FATAL, "F", "lost %d frames");
    EXPECT_DEATH(ERR_report(&fatal, 3), "Fatal Error: FATAL, lost 3 frames");
    // The box text is cut at 1,023 characters: "FATAL, " and 1,016 of the message.
    const std::string huge(40000, 'x');
    EXPECT_DEATH(ERR_printf(ERR_FATAL, "%s", huge.c_str()), "Fatal Error: FATAL, x{1016}\n");
}

TEST_F(DefaultHandler, FatalReportHandledByTheApplicationReturns)
{
    Tag g{"global", 0};
    Declared d(nullptr, log_handler, &g);
    EXPECT_EQ(ERR_report_cat(nullptr, 902, 1, ERR_FATAL, "survived"), 0);
    EXPECT_EQ(tags(), std::vector<std::string>{"global"});
}

using Limits = ErrorLayer;

TEST_F(Limits, LongMessagesAreCutToTheirBuffers)
{
    Tag catcher{"catcher", 0};
    Declared d(nullptr, log_handler, &catcher);
    const std::string huge(40000, 'y');

    ERR_printf(ERR_ERROR, "%s", huge.c_str());
    ERR_report_cat(nullptr, 902, 1, ERR_ERROR, "%s!", huge.c_str());
    ERR_RECORD rec = make_record(ERR_ERROR, "R", "%s");
    ERR_report(&rec, huge.c_str());
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].message, huge.substr(0, ERR_CAT_BUFFER_MAX - 1));
    EXPECT_EQ(calls[1].message, huge.substr(0, ERR_CAT_BUFFER_MAX - 1));
    EXPECT_EQ(calls[2].message, huge.substr(0, ERR_MESSAGE_MAX - 1));
}

using Errno = ErrorLayer;

TEST_F(Errno, ReportsTheSystemTextOrTheNumber)
{
    Tag catcher{"catcher", 0};
    Declared d(nullptr, log_handler, &catcher);
    const std::string denied = strerror(EACCES);
    struct Case {
        int error;
        const char *prefix;
        std::string message;
    };
    const Case cases[] = {
        {EACCES, "shot.rla", "shot.rla: " + denied},
        {EACCES, nullptr, denied},
        {EACCES, "", denied},
        {100000, "shot.rla", "shot.rla: error 100000"},
        {100000, nullptr, "error 100000"},
        {-3, "clock", "clock: error -3"},
    };
    for (const Case &c : cases) {
        calls.clear();
        ERR_report_errno(c.error, c.prefix);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].message, c.message);
        EXPECT_EQ(calls[0].severity, ERR_ERROR);
    }
}

using Queries = ErrorLayer;

TEST_F(Queries, QueryStatsTypeAndMultiProcess)
{
    ERR_RECORD rec = make_record(ERR_WARNING, "NAME", "fmt");
    rec.count = 7;
    rec.user2 = 22;
    ERR_mask(&rec);
    int masked = -1, count = -1;
    uint32_t user2 = 0;
    ERR_query(&rec, nullptr, &masked, &count, nullptr, nullptr, nullptr, &user2);
    EXPECT_EQ(masked, 1);
    EXPECT_EQ(count, 7);
    EXPECT_EQ(user2, 22u);

    int sum = 0;
    for (int s = ERR_DEBUG; s <= ERR_FATAL; ++s)
        sum += ERR_stats(s);
    EXPECT_EQ(ERR_stats(-1), sum);
    EXPECT_EQ(ERR_stats(5), 0);
    EXPECT_EQ(ERR_stats(-2), 0);

    EXPECT_STREQ(ERR_type(ERR_INFORMATION), "INFORMATION");
    EXPECT_STREQ(ERR_type(-1), "UNKNOWN");
    EXPECT_STREQ(ERR_type(5), "UNKNOWN");

    EXPECT_EQ(ERR_report_mp("host:1", 1), 0);
    EXPECT_EQ(ERR_report_mp("host:1", 0), 1);
}

TEST_F(Queries, CompareMatchesAbbreviationsAndSkipsThePrefix)
{
    struct Case {
        const char *text;
        const char *name;
        int skip;
        int sign;
    };
    const Case cases[] = {
        {"Cannot", "Cannot open", 0, 0},
        {"Cannot", "Can", 0, 1},
        {"Can", "Cannot", 0, 0},
        {"Cbn", "Cannot", 0, 1},
        {"Cam", "Cannot", 0, -1},
        {"Cannot open", "Cannot open", 0, 0},
        {"Cannot opens", "Cannot open", 0, 1},
        {"open", "ZEP: open file", 1, 0},
        {"file", "ZEP: open", 1, -1},
        {"ZEP: open", "ZEP: open", 1, -1},
        {"x", "abc", 1, 1},
        {"", "abc", 1, 0},
        {"", "anything", 0, 0},
        {"\xe9", "a", 0, 1},
        {"a", nullptr, 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + (c.name ? c.name : "null"));
        ERR_RECORD rec = make_record(ERR_ERROR, c.name, "m");
        int r = ERR_compare(c.text, &rec, c.skip);
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
    }
}

} // namespace

extern "C" int zep_test_c_report(char *message, char *filled);

TEST_F(ErrorLayer, InterfaceWorksFromC)
{
    char message[ERR_MESSAGE_MAX] = "";
    char filled[ERR_MESSAGE_MAX] = "";
    EXPECT_EQ(zep_test_c_report(message, filled), ERR_WARNING + 10);
    EXPECT_STREQ(message, "cannot open a.rla (2)");
    EXPECT_STREQ(filled, "cannot open <file> (<integer>)");
}
