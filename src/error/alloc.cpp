/*
 * The library's allocators and their fault injection.
 *
 * Every block the library takes comes from ERR_malloc or ERR_realloc and goes
 * back through ERR_free, so running out of memory is reported in one place
 * ("No more internal memory", set 902, number 94) and tests can make the
 * n-th allocation from now fail with err__alloc_fail.
 *
 * The injector is a countdown: disarmed (0), armed (n allocations to go),
 * and, for a persistent arming, failing every allocation once the countdown
 * has run out, until the next err__alloc_fail call.
 */
#include <stdlib.h>

#include <zep/error.h>

#include "error/messages.h"

namespace zep {
namespace {

struct FaultInjector {
    int countdown;   /* allocations until the injected failure; 0 disarmed */
    bool persistent; /* keep failing once the countdown has run out */
    bool failing;    /* the countdown ran out on a persistent arming */
    int failures;    /* injected failures since the last err__alloc_fail */
};

constinit FaultInjector injector{0, false, false, 0};

/* Set while the no-memory report is on its way, so that a handler whose own
 * allocation fails does not report again and again. */
constinit bool reporting = false;

/* True when this allocation is to fail by injection. */
bool inject_failure()
{
    if (!injector.failing) {
        if (injector.countdown <= 0 || --injector.countdown > 0) return false;
        injector.failing = injector.persistent;
    }
    ++injector.failures;
    return true;
}

/* Reports the exhaustion once and returns null. */
void *out_of_memory()
{
    if (!reporting) {
        reporting = true;
        report(kNoMemory);
        reporting = false;
    }
    return nullptr;
}

} // namespace
} // namespace zep

/* A new block of size bytes (a unique 1-byte block for size 0); null, after
 * the report, when memory runs out. */
void *ERR_malloc(size_t size)
{
    if (zep::inject_failure()) return zep::out_of_memory();
    void *block = malloc(size ? size : 1);
    return block ? block : zep::out_of_memory();
}

/* The block resized to size bytes (at least 1, so a block is never freed
 * here); null, after the report, when memory runs out, pointer then still
 * holding the old block. A null pointer allocates afresh. */
void *ERR_realloc(void *pointer, size_t size)
{
    if (zep::inject_failure()) return zep::out_of_memory();
    void *block = realloc(pointer, size ? size : 1);
    return block ? block : zep::out_of_memory();
}

int ERR_free(void *pointer)
{
    free(pointer);
    return 1;
}

int err__alloc_fail(int n, int persistent)
{
    using zep::injector;
    int failures = injector.failures;
    injector.countdown = n > 0 ? n : 0;
    injector.persistent = n > 0 && persistent != 0;
    injector.failing = false;
    injector.failures = 0;
    return failures;
}
