/*
 * The reporting core of the error layer: masks, counters, the history ring,
 * the handler stacks and the dispatch that every report goes through, plus
 * the queries on that state and the library-wide failure code.
 *
 * All state is process-wide and statically initialised. One recursive lock
 * guards it: the library reports from scanline calls that run on several
 * handles at once, which no caller can serialise. The lock is held while
 * the handlers run, so a handler may report again on its own thread, but
 * must not wait for another thread that reports. A report moves through
 * these steps:
 *
 *   masked    ERR_report_cat and ERR_printf stop here counting nothing;
 *             ERR_report counts first and then stops
 *   formatted into the layer's own 32,768-byte buffer (ERR_report_cat,
 *             ERR_printf) or a 256-byte buffer on the stack (ERR_report)
 *   recorded  in the newest slot of the 16-slot history
 *   handled   by the record's stack (newest first), the record's own
 *             handler, the global stack (newest first) and ERR_def_handler;
 *             the first handler that returns 0 ends the chain
 *
 * A severity outside 0..4 is taken as ERROR wherever it would pick a mask or
 * a counter. Handler nodes come from a free-list pool and go back to it when
 * cancelled; they are never freed.
 */
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <cstdlib>
#include <mutex>
#include <type_traits>

#include <zep/error.h>

#include "base/pool.h"
#include "error/format.h"
#include "platform/platform.h"

/* A node of a handler stack. The first word is the link, so that the node
 * pool can chain free nodes through it. */
struct ERR_NODE {
    ERR_NODE *next;
    ERR_HANDLER handler;
    void *data;
};

static_assert(std::is_standard_layout_v<ERR_RECORD>);
static_assert(std::is_standard_layout_v<ERR_NODE>);
static_assert(offsetof(ERR_NODE, next) == 0);

thread_local int32_t zep__err = 0;
void *zep__msg_cat = nullptr;

namespace zep {
namespace {

constexpr int kSeverities = 5;
constexpr int kHistory = 16;

/* One of the layer's own records and the buffer its messages are printed
 * into. The record's name points at the caller's format, its format field
 * at the buffer, after each report. busy is set while the record's report
 * is in the handler chain. */
struct OwnRecord {
    ERR_RECORD record;
    char buffer[ERR_CAT_BUFFER_MAX];
    bool busy;
};

constexpr ERR_RECORD own_record()
{
    ERR_RECORD r{};
    r.kind = 1;
    r.severity = ERR_ERROR;
    return r;
}

constinit bool global_mask = false;
constinit bool severity_mask[kSeverities] = {true, false, false, false, false};
constinit int32_t counters[kSeverities] = {};
constinit ERR_RECORD *history[kHistory] = {};
constinit int newest = kHistory - 1; /* the first report lands in slot 0 */
constinit ERR_NODE *global_handlers = nullptr;
constinit DST_POOL node_pool = {nullptr};
constinit OwnRecord catalogued = {own_record(), {}, false};
constinit OwnRecord printed = {own_record(), {}, false};
constinit const char *mp_target = nullptr; /* recorded, never read */

constexpr const char *kSeverityNames[kSeverities] = {"DEBUG", "INFORMATION", "WARNING", "ERROR",
                                                     "FATAL"};

/* The mask and counter index of a severity: itself, or ERROR when outside
 * 0..4. */
int severity_index(int severity)
{
    return severity >= 0 && severity < kSeverities ? severity : ERR_ERROR;
}

/* The lock over all of the layer's state. */
std::recursive_mutex &state_lock()
{
    static std::recursive_mutex lock;
    return lock;
}
using Guard = std::lock_guard<std::recursive_mutex>;

/* Adds one, stopping at the largest count rather than wrapping. */
void bump(int32_t &count)
{
    if (count < INT32_MAX) ++count;
}

bool masked(const ERR_RECORD *record)
{
    return global_mask || severity_mask[severity_index(record->severity)] ||
           (record->flags & ERR_FLAG_MASKED) != 0;
}

ERR_NODE **stack_of(ERR_RECORD *record) { return record ? &record->handlers : &global_handlers; }

/* True when a handler of the stack from top down returned 0. The next node
 * is read before each call, so a handler may cancel itself. */
bool stack_handles(ERR_NODE *top, const char *name, int severity, const char *message,
                   ERR_RECORD *record)
{
    for (ERR_NODE *node = top; node;) {
        ERR_NODE *next = node->next;
        if (node->handler && node->handler(name, severity, message, record, node->data) == 0)
            return true;
        node = next;
    }
    return false;
}

/* Records the report in the history and runs the handler chain. Returns 0
 * when a handler, the default one included, returned 0. */
int dispatch(ERR_RECORD *record, const char *message)
{
    newest = (newest + 1) % kHistory;
    history[newest] = record;

    const char *name = record->name;
    int severity = record->severity;
    if (stack_handles(record->handlers, name, severity, message, record)) return 0;
    if (record->handler && record->handler(name, severity, message, record, nullptr) == 0) return 0;
    if (stack_handles(global_handlers, name, severity, message, record)) return 0;
    return ERR_def_handler(name, severity, message, record, nullptr);
}

/* The common path of ERR_report_cat and ERR_printf. Returns 1 when masked,
 * else the result of the handler chain. */
int report_own(OwnRecord &own, int severity, const char *format, va_list args)
{
    Guard guard(state_lock());
    int s = severity_index(severity);
    if (global_mask || severity_mask[s]) return 1;
    if (!format) format = "";
    if (own.busy) {
        /* A handler reports again through the same record, perhaps passing
         * on the message it was given, which lives in own.buffer: print
         * aside so that source and destination never overlap. */
        char aside[ERR_CAT_BUFFER_MAX];
        vsnprintf(aside, sizeof aside, format, args);
        memcpy(own.buffer, aside, strlen(aside) + 1);
    } else {
        vsnprintf(own.buffer, sizeof own.buffer, format, args);
    }
    bump(counters[s]);
    own.record.severity = static_cast<uint8_t>(s);
    own.record.name = format;
    own.record.format = own.buffer;

    bool outer = own.busy;
    own.busy = true;
    int result = dispatch(&own.record, own.buffer);
    own.busy = outer;
    return result;
}

} // namespace
} // namespace zep

/* ---- Reporting --------------------------------------------------------- */

int ERR_report_cat(void *, int, int, int severity, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int result = zep::report_own(zep::catalogued, severity, format, args);
    va_end(args);
    return result;
}

void ERR_printf(int severity, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    zep::report_own(zep::printed, severity, format, args);
    va_end(args);
}

int ERR_report(ERR_RECORD *record, ...)
{
    if (!record) return 0;
    zep::Guard guard(zep::state_lock());
    zep::bump(zep::counters[zep::severity_index(record->severity)]);
    zep::bump(record->count);
    if (zep::masked(record)) return 0;

    char message[ERR_MESSAGE_MAX];
    va_list args;
    va_start(args, record);
    zep::expand_format(message, sizeof message, record->format, args);
    va_end(args);
    zep::dispatch(record, message);
    return 0;
}

void ERR_report_errno(int error, const char *prefix)
{
    const char *text = zep::platform::errno_text(error);
    if (prefix && *prefix) {
        if (text)
            ERR_printf(ERR_ERROR, "%s: %s", prefix, text);
        else
            ERR_printf(ERR_ERROR, "%s: error %d", prefix, error);
    } else if (text) {
        ERR_printf(ERR_ERROR, "%s", text);
    } else {
        ERR_printf(ERR_ERROR, "error %d", error);
    }
}

int ERR_report_mp(const char *target, int enable)
{
    if (enable) return 0;
    zep::mp_target = target;
    return 1;
}

char *ERR_format(char *buffer, ERR_RECORD *record, ...)
{
    if (!buffer || !record || zep::masked(record)) return buffer;
    va_list args;
    va_start(args, record);
    zep::expand_format(buffer, ERR_MESSAGE_MAX, record->format, args);
    va_end(args);
    return buffer;
}

/* ---- Masks ------------------------------------------------------------- */

int ERR_mask(ERR_RECORD *record)
{
    zep::Guard guard(zep::state_lock());
    if (!record) {
        int was = zep::global_mask ? 1 : 0;
        zep::global_mask = true;
        return was;
    }
    int was = (record->flags & ERR_FLAG_MASKED) ? 1 : 0;
    record->flags |= ERR_FLAG_MASKED;
    return was;
}

int ERR_unmask(ERR_RECORD *record)
{
    zep::Guard guard(zep::state_lock());
    if (!record) {
        int was = zep::global_mask ? 1 : 0;
        zep::global_mask = false;
        return was;
    }
    int was = (record->flags & ERR_FLAG_MASKED) ? 1 : 0;
    record->flags &= ~ERR_FLAG_MASKED;
    return was;
}

int ERR_mask_s(int severity)
{
    zep::Guard guard(zep::state_lock());
    if (severity < 0 || severity >= zep::kSeverities) return 0;
    int was = zep::severity_mask[severity] ? 1 : 0;
    zep::severity_mask[severity] = true;
    return was;
}

int ERR_unmask_s(int severity)
{
    zep::Guard guard(zep::state_lock());
    if (severity < 0 || severity >= zep::kSeverities) return 0;
    int was = zep::severity_mask[severity] ? 1 : 0;
    zep::severity_mask[severity] = false;
    return was;
}

/* ---- Handlers ---------------------------------------------------------- */

int ERR_dcl_handler(ERR_RECORD *record, ERR_HANDLER handler, void *data)
{
    zep::Guard guard(zep::state_lock());
    auto *node = static_cast<ERR_NODE *>(dst__pool_take(&zep::node_pool, sizeof(ERR_NODE)));
    if (!node) return 0;
    ERR_NODE **top = zep::stack_of(record);
    node->handler = handler;
    node->data = data;
    node->next = *top;
    *top = node;
    return 1;
}

ERR_HANDLER ERR_can_handler(ERR_RECORD *record)
{
    zep::Guard guard(zep::state_lock());
    ERR_NODE **top = zep::stack_of(record);
    ERR_NODE *node = *top;
    if (!node) return nullptr;
    *top = node->next;
    ERR_HANDLER handler = node->handler;
    dst__pool_give(node, &zep::node_pool);
    return handler;
}

int ERR_def_handler(const char *, int severity, const char *message, ERR_RECORD *, void *)
{
    if (!message) message = "";
    fprintf(stderr, "%s, %s\n", ERR_type(severity), message);
    fflush(stderr);
    if (severity == ERR_FATAL) {
        char text[1024];
        snprintf(text, sizeof text, "%s, %s\n", "FATAL", message);
        zep::platform::fatal_box("Fatal Error", text);
        std::abort();
    }
    return 0;
}

/* ---- Queries ----------------------------------------------------------- */

void ERR_query(ERR_RECORD *record, int *severity, int *masked, int *count, const char **name,
               const char **format, uint32_t *user1, uint32_t *user2)
{
    if (!record) return;
    if (severity) *severity = record->severity;
    if (masked) *masked = (record->flags & ERR_FLAG_MASKED) ? 1 : 0;
    if (count) *count = record->count;
    if (name) *name = record->name;
    if (format) *format = record->format;
    if (user1) *user1 = record->user1;
    if (user2) *user2 = record->user2;
}

int ERR_stats(int severity)
{
    zep::Guard guard(zep::state_lock());
    if (severity >= 0 && severity < zep::kSeverities) return zep::counters[severity];
    if (severity != -1) return 0;
    int64_t sum = 0;
    for (int32_t c : zep::counters)
        sum += c;
    return sum < INT32_MAX ? static_cast<int>(sum) : INT32_MAX;
}

ERR_RECORD *ERR_last(int n)
{
    zep::Guard guard(zep::state_lock());
    if (n < 0 || n >= zep::kHistory) return nullptr;
    int slot = zep::newest - n;
    if (slot < 0) slot += zep::kHistory;
    return zep::history[slot];
}

const char *ERR_type(int severity)
{
    if (severity < 0 || severity >= zep::kSeverities) return "UNKNOWN";
    return zep::kSeverityNames[severity];
}

int ERR_compare(const char *text, ERR_RECORD *record, int skip)
{
    const char *name = record && record->name ? record->name : "";
    if (!text) text = "";
    if (skip) {
        size_t prefix = strnlen(name, 5);
        name += prefix;
    }
    size_t text_length = strlen(text);
    if (text_length < strlen(name)) return strncmp(text, name, text_length);
    return strcmp(text, name);
}
