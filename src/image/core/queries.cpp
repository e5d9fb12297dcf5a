/*
 * Format queries: which formats exist, and which one a key, an extension or
 * a file belongs to.
 *
 * Every query here starts the library on first use. They share the
 * registry's one cursor: ZEP_info advances it; the searches start from the
 * first entry, leave the cursor just after the entry they found, and put it
 * back where it was when they find nothing. ZEP_is_file_type remembers the
 * entry its last search stopped at (the probe cache) and asks that one
 * first next time. Only ZEP_get_file_type takes the library mutex.
 */
#include <cstring>

#include <zep/error.h>
#include <zep/image.h>
#include <zep/strings.h>

#include "base/list.h"
#include "config/format_defaults.h"
#include "error/messages.h"
#include "image/core/core.h"
#include "image/core/registry.h"
#include "platform/platform.h"

namespace zep {
namespace {

constexpr const char kNoFileType[] = "__none_";

/* The probe cache of ZEP_is_file_type: the entry its last search stopped
 * at, or null. */
constinit RegistryEntry *probe_cache = nullptr;

/* Saves the registry cursor and rewinds; restore() puts it back. */
class CursorSave {
  public:
    CursorSave() : list_(registry_list()), saved_(dst__list_get_cursor(list_))
    {
        dst__list_rewind(list_);
    }
    void restore() { dst__list_set_cursor(list_, saved_); }
    RegistryEntry *next() { return static_cast<RegistryEntry *>(dst__list_next(list_)); }

  private:
    DST_LIST *list_;
    void *saved_;
};

void set_definite(uint8_t *definite, uint8_t value)
{
    if (definite) *definite = value;
}

} // namespace

void queries_forget_registry() { probe_cache = nullptr; }

const ZEP_FILE_TYPE *find_by_name_ending(const char *name)
{
    if (lazy_start("ZEP_pathname_build") != 0 || !name) return nullptr;
    const size_t len = std::strlen(name);
    CursorSave walk;
    const ZEP_FILE_TYPE *found = nullptr;
    while (RegistryEntry *e = walk.next()) {
        const char *ext = e->type.extension;
        const size_t elen = ext ? std::strlen(ext) : 0;
        if (elen > 0 && elen <= len && std::memcmp(name + len - elen, ext, elen) == 0) {
            found = &e->type;
            break;
        }
    }
    walk.restore();
    return found;
}

} // namespace zep

const ZEP_FILE_TYPE *ZEP_find(const char *key)
{
    if (zep::lazy_start("ZEP_find") != 0 || !key) return nullptr;
    zep::CursorSave walk;
    while (zep::RegistryEntry *e = walk.next())
        if (STR_compare(e->type.key, key) == 0 || STR_compare(e->type.extension, key) == 0)
            return &e->type;
    walk.restore();
    return nullptr;
}

const ZEP_FILE_TYPE *ZEP_info(void)
{
    if (zep::lazy_start("ZEP_info") != 0) return nullptr;
    DST_LIST *list = zep::registry_list();
    while (auto *e = static_cast<zep::RegistryEntry *>(dst__list_next(list)))
        if (!e->builtin) return &e->type;
    return nullptr;
}

const char *ZEP_def_key(void)
{
    zep::lazy_start("ZEP_def_key");
    return zep::fmt_key_default_current();
}

const char *ZEP_def_base_name(void)
{
    zep::lazy_start("ZEP_def_base_name");
    return zep::fmt_name_default_current();
}

const char *ZEP_name_from_key(const char *key)
{
    if (!key) return nullptr;
    const ZEP_FILE_TYPE *t = ZEP_find(key);
    if (!t) {
        zep::report(zep::kUnknownKey, key);
        return key;
    }
    return t->name ? t->name : key;
}

const char *ZEP_is_file_type(const char *path, FILE *stream, const char *key, uint8_t *definite)
{
    zep::set_definite(definite, 0);
    if (zep::lazy_start("ZEP_find") != 0) return nullptr;
    if (!key) return ZEP_get_file_type(path, stream, definite);

    zep::CursorSave walk;
    zep::set_definite(definite, 1);
    zep::RegistryEntry *cached = zep::probe_cache;
    if (cached && STR_compare(cached->type.key, key) == 0 && cached->type.is_file &&
        cached->type.is_file(path, stream))
        return cached->type.key;

    while (zep::RegistryEntry *e = walk.next()) {
        zep::probe_cache = e;
        if (STR_compare(e->type.key, key) != 0) continue;
        if (!e->type.is_file)
            zep::set_definite(definite, 0);
        else if (e->type.is_file(path, stream))
            return e->type.key;
    }
    zep::probe_cache = nullptr;
    walk.restore();
    return nullptr;
}

const char *ZEP_get_file_type(const char *path, FILE *stream, uint8_t *definite)
{
    if (zep::lazy_start("ZEP_find") != 0) {
        zep::set_definite(definite, 0);
        return nullptr;
    }
    zep::platform::MutexGuard lock(zep::library_mutex());
    /* Files are opened in binary mode on this platform: no mode to switch. */
    zep::CursorSave walk;
    bool asked_all = true;
    while (zep::RegistryEntry *e = walk.next()) {
        if (!e->type.is_file) {
            asked_all = false;
            continue;
        }
        if (e->type.is_file(path, stream) == 1) {
            zep::set_definite(definite, asked_all ? 1 : 0);
            return e->type.key;
        }
    }
    zep::set_definite(definite, asked_all ? 1 : 0);
    walk.restore();
    return asked_all ? zep::kNoFileType : nullptr;
}
