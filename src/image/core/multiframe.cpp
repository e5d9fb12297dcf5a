/*
 * The multi-frame open-file cache.
 *
 * Opening a file of a multi-frame format (a movie-like file) is expensive,
 * so read handles of such formats are kept open after ZEP_close and handed
 * back to the next read open of the same file with the same capability
 * settings. The cache is an array of entry pointers in least-recently-used
 * order (the entry used last is at the end), grown five entries at a time.
 *
 * An entry lives through these states:
 *   in use    added by a successful read open, or found again by
 *             ZEP_multiframe_open: use count 1 or more;
 *   released  every holder has called ZEP_close: use count 0, the file is
 *             still open;
 *   evicted   its handle closed through ZEP_close_do_it and the entry freed:
 *             when the cache is full, when the file changed on disk, or when
 *             the cache is reset.
 *
 * The cache has no lock of its own: ZEP_open and ZEP_close call it under the
 * library mutex. ZEP_init starts it disabled (ZEP_multiframe_init) and then
 * enables it with its limit (ZEP_multiframe_set).
 */
#include <zep/error.h>
#include <zep/image.h>
#include <zep/strings.h>

#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include "image/core/core.h"

namespace zep {
namespace {

struct CacheEntry {
    char *name;                 // the file name given at open (a private copy)
    ZEP_CAP_SETTING **settings; // a private copy of the open's settings, or null
    ZEP_OBJECT *handle;
    int use_count;  // opens currently holding the handle
    timespec ctime; // the file's change time when the entry was added
};

constexpr int kGrowth = 5;

struct Cache {
    bool enabled = false;
    int limit = 0;
    CacheEntry **entries = nullptr;
    int count = 0;
    int capacity = 0;
};

Cache cache;

int settings_count(ZEP_CAP_SETTING *const *list)
{
    int n = 0;
    if (list)
        while (list[n])
            ++n;
    return n;
}

void settings_free(ZEP_CAP_SETTING **list)
{
    if (!list) return;
    for (ZEP_CAP_SETTING **s = list; *s; ++s)
        ERR_free(*s);
    ERR_free(list);
}

void entry_free(CacheEntry *e)
{
    ERR_free(e->name);
    settings_free(e->settings);
    ERR_free(e);
}

// Reads the change time of `name` into *out. Returns false, after reporting
// the system error with the name, when the status cannot be read.
bool change_time(const char *name, timespec *out)
{
    struct stat st;
    if (stat(name, &st) != 0) {
        ERR_report_errno(errno, name);
        return false;
    }
    *out = st.st_ctim;
    return true;
}

// Removes entry i from the array, keeping the order of the others.
CacheEntry *take(int i)
{
    CacheEntry *e = cache.entries[i];
    for (int k = i; k + 1 < cache.count; ++k)
        cache.entries[k] = cache.entries[k + 1];
    --cache.count;
    cache.entries[cache.count] = nullptr;
    return e;
}

// Closes the handle of entry i for real and frees the entry.
void evict(int i)
{
    CacheEntry *e = take(i);
    ZEP_close_do_it(e->handle);
    entry_free(e);
}

// Empties the cache. Released handles are closed; a handle still held by the
// application only leaves the cache, so that its own ZEP_close, finding no
// entry, closes it then.
void drop_all()
{
    while (cache.count > 0) {
        CacheEntry *e = take(cache.count - 1);
        if (e->use_count == 0) ZEP_close_do_it(e->handle);
        entry_free(e);
    }
    ERR_free(cache.entries);
    cache.entries = nullptr;
    cache.capacity = 0;
}

// Appends e; false when the array could not grow (reported by the allocator).
bool append(CacheEntry *e)
{
    if (cache.count == cache.capacity) {
        size_t bytes = sizeof(CacheEntry *) * static_cast<size_t>(cache.capacity + kGrowth);
        auto *grown = static_cast<CacheEntry **>(ERR_realloc(cache.entries, bytes));
        if (!grown) return false;
        cache.entries = grown;
        cache.capacity += kGrowth;
    }
    cache.entries[cache.count++] = e;
    return true;
}

} // namespace
} // namespace zep

using zep::cache;

/* Empties the cache (closing released handles), limit 0, disabled. */
void ZEP_multiframe_init(void)
{
    zep::drop_all();
    cache.limit = 0;
    cache.enabled = false;
}

/* Stores the enabled flag and the limit. Entries present are dropped first:
 * released handles are closed, handles still held leave the cache. */
void ZEP_multiframe_set(int enabled, int limit)
{
    if (cache.count > 0) zep::drop_all();
    cache.enabled = enabled != 0;
    cache.limit = limit;
}

int ZEP_multiframe_used(void) { return cache.enabled ? 1 : 0; }

/* The cached handle of info's file opened with equal capability settings,
 * its use count raised and its entry moved to the end; null when there is
 * none, or when the file changed since it was cached and nobody holds it (the
 * entry is then evicted). */
ZEP_OBJECT *ZEP_multiframe_open(ZEP_INFO *info)
{
    if (!cache.enabled || cache.count == 0 || !info || !info->handle) return nullptr;
    int i = 0;
    for (; i < cache.count; ++i) {
        zep::CacheEntry *e = cache.entries[i];
        if (STR_compare(e->name, info->handle) == 0 &&
            ZEP_cap_setting_compare(e->settings, info->cap_settings))
            break;
    }
    if (i == cache.count) return nullptr;

    zep::CacheEntry *e = cache.entries[i];
    timespec now{};
    // A file whose status cannot be read counts as changed.
    bool same = zep::change_time(e->name, &now) && now.tv_sec == e->ctime.tv_sec &&
                now.tv_nsec == e->ctime.tv_nsec;
    if (!same && e->use_count == 0) {
        zep::evict(i);
        return nullptr;
    }
    ++e->use_count;
    zep::take(i);
    cache.entries[cache.count++] = e; // the slot just freed; no allocation
    return e->handle;
}

/* Registers a newly read-opened handle of a multi-frame format, with use
 * count 1. Nothing is added when the cache is disabled, the format is not a
 * multi-frame one, the file's status cannot be read (reported) or memory
 * runs out (reported); the handle is then closed for real by its ZEP_close. */
void ZEP_multiframe_add(ZEP_OBJECT *handle, ZEP_INFO *info)
{
    if (!cache.enabled || !handle || !info || !info->handle || !handle->info.key) return;
    const ZEP_FILE_TYPE *type = ZEP_find(handle->info.key);
    if (!type || type->multi_frame == 0) return;

    if (cache.count >= cache.limit && cache.count >= 1) {
        for (int i = 0; i < cache.count; ++i) {
            if (cache.entries[i]->use_count == 0) {
                zep::evict(i);
                break;
            }
        }
    }

    auto *e = static_cast<zep::CacheEntry *>(ERR_malloc(sizeof(zep::CacheEntry)));
    if (!e) return;
    e->name = STR_save(info->handle);
    e->settings = ZEP_cap_setting_copy(info->cap_settings);
    e->handle = handle;
    e->use_count = 1;
    e->ctime = timespec{};
    // A copy cut short by the allocator has fewer settings than the original.
    bool copied =
        e->name && zep::settings_count(e->settings) == zep::settings_count(info->cap_settings);
    if (!copied || !zep::change_time(e->name, &e->ctime) || !zep::append(e)) zep::entry_free(e);
}

/* Releases one hold on a handle. A handle the cache does not hold is closed
 * for real and that result returned. Otherwise its use count drops, and
 * released entries are evicted from the front while the cache holds at least
 * its limit; returns 0. Returns 0 at once when the cache is disabled. */
int ZEP_multiframe_set_closed(ZEP_OBJECT *handle)
{
    if (!cache.enabled) return 0;
    int i = 0;
    while (i < cache.count && cache.entries[i]->handle != handle)
        ++i;
    if (i == cache.count) return ZEP_close_do_it(handle);

    if (cache.entries[i]->use_count > 0) --cache.entries[i]->use_count;
    for (int k = 0; k < cache.count && cache.count >= cache.limit;) {
        if (cache.entries[k]->use_count == 0)
            zep::evict(k);
        else
            ++k;
    }
    return 0;
}
