/*
 * ZEP_open: chooses a format for a file and opens it through the format's
 * driver.
 *
 * The whole call runs under the library mutex (taken after the lazy start).
 * A write open checks the file name, builds a handle whose description is
 * the application's, deep-copied; a read open first asks the multi-frame
 * cache for a handle of the same file, else builds a handle that knows only
 * the key, the name and the settings, and registers the opened handle with
 * the cache. Both then choose a format (below), store its extension in the
 * handle and call its open routine, which fills the handle's slots.
 *
 * Format choice searches the plug-in definitions (registry order), then the
 * built-in table:
 *   with a key:    plug-in key, built-in key, plug-in extension, built-in
 *                  extension, each equal to the key;
 *   without a key: plug-in extension, built-in extension, each ending the
 *                  file name (the handle's key becomes the format's key);
 *                  else the default key, matched against plug-in keys, then
 *                  plug-in extensions only.
 *
 * Every failure frees the handle (zep__free_obj) and returns null with a
 * code in zep__err; a driver's failed open keeps the code the driver set.
 */
#include <zep/error.h>
#include <zep/image.h>
#include <zep/strings.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "error/messages.h"
#include "image/core/core.h"

namespace zep {
namespace {

enum class Mode { read, write };

struct Table {
    const ZEP_FORMAT_DEF *rows;
    int count;
};

// A text for a %s that must not receive null.
const char *text(const char *s) { return s ? s : "(null)"; }

const ZEP_FORMAT_DEF *with_key(Table t, const char *key)
{
    for (int i = 0; i < t.count; ++i)
        if (STR_compare(t.rows[i].key, key) == 0) return &t.rows[i];
    return nullptr;
}

const ZEP_FORMAT_DEF *with_extension(Table t, const char *extension)
{
    for (int i = 0; i < t.count; ++i)
        if (STR_compare(t.rows[i].extension, extension) == 0) return &t.rows[i];
    return nullptr;
}

// The first row whose extension ends name. An empty extension ends no name:
// a module without an extension must not claim every file.
const ZEP_FORMAT_DEF *ending(Table t, const char *name)
{
    const size_t len = std::strlen(name);
    for (int i = 0; i < t.count; ++i) {
        const char *ext = t.rows[i].extension;
        const size_t elen = ext ? std::strlen(ext) : 0;
        if (elen == 0 || elen > len) continue;
        if (std::memcmp(name + len - elen, ext, elen) == 0) return &t.rows[i];
    }
    return nullptr;
}

// Replaces the string *field by a private copy of value; false (reported by
// the allocator) when the copy cannot be made.
bool store_copy(char *&field, const char *value)
{
    char *copy = STR_save(value);
    if (!copy) return false;
    ERR_free(field);
    field = copy;
    return true;
}

// Chooses the format for h (whose description already holds the
// application's key and file name) and calls its open routine for mode.
// Returns true when the driver opened the handle (zep__err 0); false with
// zep__err set otherwise. The handle is the caller's to free on failure.
bool choose_and_open(ZEP_OBJECT *h, const char *app_key, Mode mode)
{
    int np = 0, nb = 0;
    const Table plugins{plugin_defs(&np), np};
    const Table builtins{builtin_defs(&nb), nb};

    const ZEP_FORMAT_DEF *def = nullptr;
    const char *named = app_key; // the key a failure message names
    if (app_key) {
        def = with_key(plugins, app_key);
        if (!def) def = with_key(builtins, app_key);
        if (!def) def = with_extension(plugins, app_key);
        if (!def) def = with_extension(builtins, app_key);
    } else {
        const char *name = h->info.handle;
        if (name) {
            def = ending(plugins, name);
            if (!def) def = ending(builtins, name);
        }
        if (def) {
            if (!store_copy(h->info.key, def->key)) {
                zep__err = ZEP_E_NOMEM;
                return false;
            }
        } else {
            named = ZEP_def_key();
            // Without a file name there is nothing to choose from.
            if (name) {
                if (!store_copy(h->info.key, named)) {
                    zep__err = ZEP_E_NOMEM;
                    return false;
                }
                def = with_key(plugins, named);
                if (!def) def = with_extension(plugins, named);
            }
        }
    }
    if (!def) {
        report(kInvalidType, text(named));
        zep__err = ZEP_E_TYPE;
        return false;
    }

    const ZEP_OPEN_FN open = mode == Mode::read ? def->read_open : def->write_open;
    if (!open) {
        report(kNoAction, text(app_key ? app_key : def->key));
        zep__err = ZEP_E_UNSUPPORTED;
        return false;
    }
    if (!store_copy(h->info.extension, def->extension)) {
        zep__err = ZEP_E_NOMEM;
        return false;
    }
    if (open(h) == 0) return false;
    zep__err = ZEP_E_NONE;
    return true;
}

// False when the name cannot be written: its status cannot be read for a
// reason other than its absence, or its last component holds a character
// that is not a letter, digit, punctuation mark or blank.
bool name_is_valid(const char *name)
{
    struct stat st;
    if (stat(name, &st) != 0 && errno != ENOENT) return false;
    const char *slash = std::strrchr(name, '/');
    for (const char *p = slash ? slash + 1 : name; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (!(std::isalnum(c) || std::ispunct(c) || c == ' ')) return false;
    }
    return true;
}

ZEP_OBJECT *write_open(ZEP_INFO *info)
{
    if (!info->handle) {
        report(kRequiredField, "handle");
        zep__err = ZEP_E_OPEN;
        return nullptr;
    }
    if (!name_is_valid(info->handle)) {
        report(kInvalidFilename, info->handle);
        zep__err = ZEP_E_OPEN;
        return nullptr;
    }
    ZEP_OBJECT *h = handle_create(ZEP_ACCESS_WRITE);
    if (!h) {
        zep__err = ZEP_E_NOMEM;
        return nullptr;
    }
    const int rc = info_fill_for_write(h, info);
    if (rc != 0) {
        // A failed string copy leaves no code of its own; memory is its only
        // cause, and a null handle must not come with zep__err 0.
        if (rc == ZEP_E_NOMEM || zep__err == ZEP_E_NONE) zep__err = ZEP_E_NOMEM;
        zep__free_obj(h);
        return nullptr;
    }
    if (!choose_and_open(h, info->key, Mode::write)) {
        zep__free_obj(h);
        return nullptr;
    }
    return h;
}

ZEP_OBJECT *read_open(ZEP_INFO *info)
{
    if (ZEP_OBJECT *cached = ZEP_multiframe_open(info)) return cached;
    ZEP_OBJECT *h = handle_create(ZEP_ACCESS_READ);
    if (!h) {
        zep__err = ZEP_E_NOMEM;
        return nullptr;
    }
    if (info_fill_for_read(h, info) != 0) {
        zep__err = ZEP_E_NOMEM;
        zep__free_obj(h);
        return nullptr;
    }
    if (!choose_and_open(h, info->key, Mode::read)) {
        zep__free_obj(h);
        return nullptr;
    }
    ZEP_multiframe_add(h, info);
    return h;
}

} // namespace
} // namespace zep

/* Returns the open handle, or null with zep__err set (left at 0 for a bad
 * mode). */
extern "C" ZEP_API ZEP_OBJECT *ZEP_open(ZEP_INFO *info, const char *mode)
{
    using namespace zep;
    zep__err = ZEP_E_NONE;
    if (lazy_start("ZEP_open") != 0) return nullptr;
    platform::MutexGuard lock(library_mutex());
    // Files have no text mode here, so there is no translation mode to
    // switch to binary around the driver's opens.

    if (!info) {
        report(kRequiredField, "info");
        zep__err = ZEP_E_OPEN;
        return nullptr;
    }
    if (info->magic != ZEP_INFO_MAGIC) {
        std::fputs("ZEP_open: application programming error.\n", stderr);
        std::fputs("The application must call ZEP_info_init or ZEP_info_alloc\n", stderr);
        std::fputs("on the info structure before passing it to ZEP_open.\n", stderr);
    }

    ZEP_OBJECT *h = nullptr;
    if (mode && std::strcmp(mode, "r") == 0) {
        h = read_open(info);
        if (h && h->info.images && h->info.num_images > 0) {
            const ZEP_IMAGE_DESC &image = h->info.images[0];
            h->current_line = (image.scan_flags & ZEP_SCAN_BOTTOM_UP) ? -1 : image.window.top + 1;
        }
    } else if (mode && std::strcmp(mode, "w") == 0) {
        h = write_open(info);
    } else {
        report(kBadOpenMode, text(mode));
        return nullptr;
    }
    if (h) h->file_type = ZEP_find(h->info.key);
    return h;
}
