/*
 * Library start-up and the format registry.
 *
 * ZEP_init binds each plug-in module the application's enumerator yields
 * into a format definition (its exported names, looked up one by one),
 * keeps the accepted definitions in one contiguous array, builds one
 * registry entry per format (plug-ins, then the built-in "pipe" and "mem"
 * rows), checks every driver's capability table and starts the multi-frame
 * cache. ZEP_exit shuts the plug-ins down and frees it all again.
 *
 * States of the library:
 *
 *   stopped --ZEP_init, or the lazy start of a query or ZEP_open--> started
 *   started --ZEP_init-->  started, ZEP_info enumeration rewound
 *   started --ZEP_exit-->  stopped
 *
 * A start that fails in the databases leaves the library stopped; one that
 * runs out of memory while binding or registering stops it again through
 * ZEP_exit. The library mutex outlives ZEP_exit; the next start replaces it.
 *
 * Capability names that start-up takes from a label's default text are
 * private copies written into the driver's own table. The library records
 * each one and, at ZEP_exit, frees it and puts the driver's original value
 * back, so a table is the same before a start and after the stop.
 */
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include <zep/colour.h>
#include <zep/config.h>
#include <zep/error.h>
#include <zep/image.h>
#include <zep/strings.h>

#include "base/list.h"
#include "error/messages.h"
#include "image/builtin/builtin.h"
#include "image/core/core.h"
#include "image/core/registry.h"
#include "platform/platform.h"

static_assert(std::is_standard_layout_v<ZEP_FORMAT_DEF>);
static_assert(std::is_standard_layout_v<ZEP_FILE_TYPE>);
static_assert(std::is_standard_layout_v<ZEP_CAPABILITY>);
static_assert(std::is_standard_layout_v<ZEP_CAP_LIST>);
static_assert(std::is_standard_layout_v<ZEP_CAP_CHOICE>);
static_assert(std::is_standard_layout_v<zep::RegistryEntry>);

namespace zep {
namespace {

constexpr const char kDefaultFormatString[] = "%s.%04.4d%s";
constexpr const char kBuiltinNameSyntax[] = "Name.####.Ext";
constexpr int kPendingStep = 20; /* growth of the start-up definition array */
constexpr int kDefaultCacheLimit = 15;
constexpr uint32_t kEveryWidth = 0xffffffffu;

// clang-format off
constexpr ZEP_FORMAT_DEF kBuiltins[] = {
    {"pipe", ".pipe", "pipe", "ipc", 0, 0, nullptr, kDefaultFormatString, kBuiltinNameSyntax,
     1, 1, 1, 0, 3, kEveryWidth, 1, kEveryWidth, 0, 0, 1, 0x0c,
     nullptr, nullptr, nullptr, nullptr, pipe_read_open, pipe_write_open,
     0, 0, 0, pipe_is_file, nullptr, nullptr},
    {"mem", ".mem", "memory", nullptr, 0, 0, nullptr, kDefaultFormatString, kBuiltinNameSyntax,
     1, 0xff, 1, 0, 0x7fff, kEveryWidth, 0x7fff, kEveryWidth, 0x7fff, kEveryWidth, 1, 0x3c,
     nullptr, nullptr, nullptr, nullptr, mem_read_open, mem_write_open,
     0, 0, 0, mem_is_file, nullptr, nullptr},
};
// clang-format on
constexpr int kBuiltinCount = static_cast<int>(sizeof kBuiltins / sizeof kBuiltins[0]);

/* A definition being bound; owned_extension is the private empty text given
 * to a module without an extension (null otherwise). */
struct Binding {
    ZEP_FORMAT_DEF def;
    char *owned_extension;
};

/* A capability name that start-up replaced by a copy of its default label. */
struct NameCopy {
    const char **slot;    /* the name field in the driver's table */
    const char *original; /* what the driver had there */
    char *copy;
};

struct State {
    bool started;
    DST_LIST registry;
    /* The accepted plug-ins in registry order, followed in the same block by
     * one owned-extension pointer per definition. */
    ZEP_FORMAT_DEF *plugins;
    char **plugin_extensions;
    int plugin_count;
    /* The growable, null-terminated definition array of a start in progress. */
    Binding **pending;
    int pending_count;
    int pending_capacity;
    int first_max;
    int second_max;
    platform::Mutex *mutex;
    NameCopy *names;
    int name_count;
    int name_capacity;
};

constinit State g{};

const char *text(const char *s) { return s ? s : "(null)"; }

/* ---- Binding one module --------------------------------------------------- */

template <typename T> const T *data_symbol(void *module, const char *name)
{
    return static_cast<const T *>(platform::module_symbol(module, name));
}

template <typename F> F function_symbol(void *module, const char *name)
{
    return reinterpret_cast<F>(platform::module_symbol(module, name));
}

template <typename T> T data_or(void *module, const char *name, T fallback)
{
    const T *p = data_symbol<T>(module, name);
    return p ? *p : fallback;
}

void discard(Binding *b)
{
    if (!b) return;
    ERR_free(b->owned_extension);
    ERR_free(b);
}

/* Removes the first pending definition whose key equals key. */
void replace_key(const char *key)
{
    for (int i = 0; i < g.pending_count; ++i) {
        if (STR_compare(g.pending[i]->def.key, key) != 0) continue;
        discard(g.pending[i]);
        for (int j = i; j < g.pending_count; ++j)
            g.pending[j] = g.pending[j + 1]; /* the terminator moves up too */
        --g.pending_count;
        return;
    }
}

/* Appends b to the pending array; false when memory runs out. */
bool pending_append(Binding *b)
{
    if (g.pending_count == g.pending_capacity) {
        int capacity = g.pending_capacity + kPendingStep;
        void *grown = ERR_realloc(g.pending, sizeof(Binding *) * (capacity + 1));
        if (!grown) return false;
        g.pending = static_cast<Binding **>(grown);
        g.pending_capacity = capacity;
    }
    g.pending[g.pending_count++] = b;
    g.pending[g.pending_count] = nullptr;
    return true;
}

bool pending_create()
{
    g.pending = static_cast<Binding **>(ERR_malloc(sizeof(Binding *) * (kPendingStep + 1)));
    if (!g.pending) return false;
    g.pending[0] = nullptr;
    g.pending_count = 0;
    g.pending_capacity = kPendingStep;
    return true;
}

/* Frees the pending array and its definitions; with shut_down, first calls
 * the done routine of each (start-up abandoned after their init ran). */
void pending_release(bool shut_down)
{
    for (int i = 0; i < g.pending_count; ++i) {
        if (shut_down && g.pending[i]->def.done) g.pending[i]->def.done();
        discard(g.pending[i]);
    }
    ERR_free(g.pending);
    g.pending = nullptr;
    g.pending_count = 0;
    g.pending_capacity = 0;
}

enum class Bound { accepted, skipped, no_memory };

/* Reports a missing required name of module and discards b. */
Bound reject(Binding *b, const char *module, const char *symbol)
{
    report(kMustBeDefined, module, symbol);
    discard(b);
    return Bound::skipped;
}

/* Binds one module into a definition and appends it to the pending array.
 * Returns accepted, skipped (reported unless its init refused), or
 * no_memory (the caller abandons the start). */
Bound bind_module(void *module, const char *module_name)
{
    const char *mod = text(module_name);
    const auto *ver = data_symbol<const char *>(module, "version");
    if (!ver) {
        report(kMustBeDefined, mod, "version");
        return Bound::skipped;
    }
    if (STR_compare(*ver, ZEP_PLUGIN_VERSION) != 0) {
        report(kPluginVersion, mod, "version", ZEP_PLUGIN_VERSION, text(*ver));
        return Bound::skipped;
    }

    auto *b = static_cast<Binding *>(ERR_malloc(sizeof(Binding)));
    if (!b) return Bound::no_memory;
    *b = Binding{};
    ZEP_FORMAT_DEF &d = b->def;

    d.init = function_symbol<ZEP_INIT_FN>(module, "imageInit");
    if (d.init && d.init() == 0) {
        discard(b);
        return Bound::skipped;
    }

    /* A key that holds no text is as good as none. */
    d.key = data_or<const char *>(module, "imageKey", nullptr);
    if (!d.key) return reject(b, mod, "imageKey");
    replace_key(d.key);

    d.extension = data_or<const char *>(module, "imageExtension", nullptr);
    if (!d.extension) {
        b->owned_extension = STR_save("");
        if (!b->owned_extension) {
            discard(b);
            return Bound::no_memory;
        }
        d.extension = b->owned_extension;
    }
    d.name = data_or<const char *>(module, "imageName", nullptr);
    if (!d.name) return reject(b, mod, "imageName");
    d.description = data_or<const char *>(module, "imageDescription", nullptr);
    d.desc_msg = 0;
    d.format_string = data_or<const char *>(module, "imageFormatString", kDefaultFormatString);
    d.name_syntax = data_or<const char *>(module, "imageNameSyntax", nullptr);
    d.add_extension = data_or<int32_t>(module, "imageAddExtension", 1);
    d.usage = data_or<int32_t>(module, "imageUsage", 1);
    const auto *orientation = data_symbol<int32_t>(module, "imageOrientation");
    if (!orientation) return reject(b, mod, "imageOrientation");
    d.orientation = *orientation;
    d.bits_per_palette_entry = data_or<int32_t>(module, "imageBitsPerPaletteEntry", 0);
    d.number_of_channels = data_or<int32_t>(module, "imageNumberOfChannels", 3);
    d.bits_per_channel = data_or<uint32_t>(module, "imageBitsPerChannel", 0x80);
    d.number_of_mattes = data_or<int32_t>(module, "imageNumberOfMattes", 0);
    d.bits_per_matte = data_or<uint32_t>(module, "imageBitsPerMatte", 0);
    d.number_of_z_channels = data_or<int32_t>(module, "imageNumberOfZChannels", 0);
    d.bits_per_z_channel = data_or<uint32_t>(module, "imageBitsPerZChannel", 0);
    d.supports_active_window = data_or<int32_t>(module, "imageSupportsActiveWindow", 0);
    d.access = data_or<int32_t>(module, "imageAccess", ZEP_ACCESS_READ | ZEP_ACCESS_WRITE);
    d.multi_frame = data_or<int32_t>(module, "imageMultiFrame", 0);
    d.hard_link_duplicates = data_or<uint8_t>(module, "imageHardLinkDuplicates", 1);
    d.support_remote_access = data_or<uint8_t>(module, "imageSupportRemoteAccess", 0);
    d.capability = function_symbol<ZEP_CAPABILITY_FN>(module, "imageCapability");
    d.caps_avail_update = function_symbol<ZEP_CAPS_AVAIL_FN>(module, "imageCapsAvailUpdate");
    d.read_open = function_symbol<ZEP_OPEN_FN>(module, "imageReadOpen");
    d.write_open = function_symbol<ZEP_OPEN_FN>(module, "imageWriteOpen");

    if ((d.access & ZEP_ACCESS_READ) && !d.read_open) return reject(b, mod, "imageReadOpen");
    if ((d.access & ZEP_ACCESS_WRITE) && !d.write_open) return reject(b, mod, "imageWriteOpen");

    d.done = function_symbol<ZEP_DONE_FN>(module, "imageDone");
    d.is_file = function_symbol<ZEP_IS_FILE_FN>(module, "imageIsFile");
    d.private_ui_popup = function_symbol<ZEP_UI_POPUP_FN>(module, "imagePrivateUIPopup");
    d.private_ui_popdown = function_symbol<ZEP_UI_POPDOWN_FN>(module, "imagePrivateUIPopdown");

    if (!pending_append(b)) {
        /* It passed every check and its init ran: shut it down like the
         * others the abandoned start had accepted. */
        if (d.done) d.done();
        discard(b);
        return Bound::no_memory;
    }
    return Bound::accepted;
}

/* Moves the pending definitions into the contiguous plug-in array and
 * releases the pending array. False when memory runs out (nothing moved). */
bool publish_plugins()
{
    int n = g.pending_count;
    if (n > 0) {
        size_t bytes = sizeof(ZEP_FORMAT_DEF) * n + sizeof(char *) * n;
        void *block = ERR_malloc(bytes);
        if (!block) return false;
        g.plugins = static_cast<ZEP_FORMAT_DEF *>(block);
        g.plugin_extensions = reinterpret_cast<char **>(g.plugins + n);
        for (int i = 0; i < n; ++i) {
            g.plugins[i] = g.pending[i]->def;
            g.plugin_extensions[i] = g.pending[i]->owned_extension;
            g.pending[i]->owned_extension = nullptr; /* now the array's */
        }
    }
    g.plugin_count = n;
    pending_release(false);
    return true;
}

/* ---- Registry entries ----------------------------------------------------- */

bool owns_description(const ZEP_FILE_TYPE &t) { return t.desc_msg != 0 && t.desc_default; }

void free_entry(RegistryEntry *e)
{
    if (owns_description(e->type)) ERR_free(const_cast<char *>(e->type.description));
    ERR_free(e);
}

/* A new entry with the public fields of def; null when memory runs out. */
RegistryEntry *new_entry(const ZEP_FORMAT_DEF &d, int builtin)
{
    auto *e = static_cast<RegistryEntry *>(ERR_malloc(sizeof(RegistryEntry)));
    if (!e) return nullptr;
    e->link.next = nullptr;
    e->builtin = builtin;
    ZEP_FILE_TYPE &t = e->type;
    t.key = d.key;
    t.extension = d.extension;
    t.name = d.name;
    t.description = d.description;
    t.desc_msg = d.desc_msg;
    t.desc_reserved = d.desc_reserved;
    t.desc_default = d.desc_default;
    t.format_string = d.format_string;
    t.name_syntax = d.name_syntax;
    t.add_extension = d.add_extension;
    t.usage = d.usage;
    t.orientation = d.orientation;
    t.bits_per_palette_entry = d.bits_per_palette_entry;
    t.number_of_channels = d.number_of_channels;
    t.bits_per_channel = d.bits_per_channel;
    t.number_of_mattes = d.number_of_mattes;
    t.bits_per_matte = d.bits_per_matte;
    t.number_of_z_channels = d.number_of_z_channels;
    t.bits_per_z_channel = d.bits_per_z_channel;
    t.supports_active_window = d.supports_active_window;
    t.access = d.access;
    t.capability = d.capability;
    t.caps_avail_update = d.caps_avail_update;
    t.multi_frame = d.multi_frame;
    t.hard_link_duplicates = d.hard_link_duplicates;
    t.support_remote_access = d.support_remote_access;
    t.is_file = d.is_file;
    t.private_ui_popdown = d.private_ui_popdown;
    t.private_ui_popup = d.private_ui_popup;
    /* A catalogued description is the entry's own copy of its default text. */
    if (owns_description(t)) {
        t.description = STR_save(d.desc_default);
        if (!t.description) {
            ERR_free(e);
            return nullptr;
        }
    }
    return e;
}

/* ---- Capability check ----------------------------------------------------- */

/* Gives the name slot a private copy of label; false when memory runs out. */
bool name_from_label(const char **slot, const char *label)
{
    for (int i = 0; i < g.name_count; ++i)
        if (g.names[i].slot == slot && g.names[i].copy == *slot) return true; /* done already */
    if (g.name_count == g.name_capacity) {
        int capacity = g.name_capacity ? g.name_capacity * 2 : 8;
        void *grown = ERR_realloc(g.names, sizeof(NameCopy) * capacity);
        if (!grown) return false;
        g.names = static_cast<NameCopy *>(grown);
        g.name_capacity = capacity;
    }
    char *copy = STR_save(label);
    if (!copy) return false;
    g.names[g.name_count++] = NameCopy{slot, *slot, copy};
    *slot = copy;
    return true;
}

/* Frees the copies and puts the drivers' own names back. */
void restore_names()
{
    for (int i = g.name_count - 1; i >= 0; --i) {
        NameCopy &n = g.names[i];
        if (*n.slot == n.copy) *n.slot = n.original;
        ERR_free(n.copy);
    }
    ERR_free(g.names);
    g.names = nullptr;
    g.name_count = 0;
    g.name_capacity = 0;
}

enum class Named { ok, missing, no_memory };

/* Applies the label rule to one name. */
Named settle_name(const char **name, int32_t label_msg, const char *label_default)
{
    if (label_msg != 0 && label_default) {
        if (!name_from_label(name, label_default)) {
            zep__err = ZEP_E_NOMEM;
            return Named::no_memory;
        }
        return Named::ok;
    }
    return *name ? Named::ok : Named::missing;
}

/* Checks the choices of list capability i of format key. A default that is
 * none of the choices ends the process. */
bool check_list(const char *key, int i, ZEP_CAPABILITY &cap)
{
    ZEP_CAP_LIST *list = cap.list;
    if (!list) return true; /* nothing to check, nothing to count */
    int count = 0;
    bool default_found = false;
    for (ZEP_CAP_CHOICE *c = list->choices; c && (c->name || c->label_msg != 0); ++c, ++count) {
        Named n = settle_name(&c->name, c->label_msg, c->label_default);
        if (n == Named::no_memory) return false;
        if (n == Named::missing) {
            report(kCapabilityEntryNoName, key, i, count);
            return false;
        }
        if (static_cast<int32_t>(c->value) == list->default_value) default_found = true;
    }
    list->count = count;
    if (!default_found) {
        std::fprintf(stderr, "%s: capability `%s' has invalid list default %d\n", text(key),
                     text(cap.name), static_cast<int>(list->default_value));
        std::fflush(stderr);
        std::abort();
    }
    return true;
}

/* The capability check of one registry entry; false when it fails. */
bool check_capabilities(RegistryEntry *e)
{
    const ZEP_FILE_TYPE &t = e->type;
    if (!t.capability) return true;
    ZEP_CAPABILITY *caps = nullptr;
    int first = 0, second = 0, num = 0;
    ZEP_info_get_specific(nullptr, &t, &caps, &first, &second, &num);
    for (int i = 0; caps && i < num; ++i) {
        ZEP_CAPABILITY &cap = caps[i];
        Named n = settle_name(&cap.name, cap.label_msg, cap.label_default);
        if (n == Named::no_memory) return false;
        if (n == Named::missing) {
            report(kCapabilityNoName, t.key, i);
            return false;
        }
        if (cap.kind == 0 && !check_list(t.key, i, cap)) return false;
    }
    if (first > g.first_max) g.first_max = first;
    if (second > g.second_max) g.second_max = second;
    return true;
}

/* Abandons a start that ran out of memory: shuts down the modules accepted
 * so far, stops the library and returns -1 with zep__err -10. */
int abandon_start()
{
    pending_release(true);
    ZEP_exit();
    zep__err = ZEP_E_NOMEM;
    return -1;
}

/* The multi-frame cache limit: KV_ZEP_MULTIFRAME_OPEN read like atoi, 15
 * when unset. */
int cache_limit()
{
    const char *v = std::getenv("KV_ZEP_MULTIFRAME_OPEN");
    return v ? std::atoi(v) : kDefaultCacheLimit;
}

} // namespace

/* ---- Internal interface (core.h, registry.h) ------------------------------ */

bool library_started() { return g.started; }

int lazy_start(const char *call)
{
    if (g.started) return 0;
    int rc = ZEP_init(nullptr, nullptr);
    if (rc == 0) report(kInitDatabase, "zep", call);
    return rc;
}

platform::Mutex *library_mutex() { return g.mutex; }

const ZEP_FORMAT_DEF *plugin_defs(int *count)
{
    if (count) *count = g.plugin_count;
    return g.plugins;
}

const ZEP_FORMAT_DEF *builtin_defs(int *count)
{
    if (count) *count = kBuiltinCount;
    return kBuiltins;
}

DST_LIST *registry_list() { return &g.registry; }

} // namespace zep

/* ---- Exported ------------------------------------------------------------- */

using zep::g;

int ZEP_init(void *catalogue, ZEP_ENUMERATOR enumerator)
{
    zep__err = 0;
    if (g.started) {
        dst__list_rewind(&g.registry);
        return 0;
    }

    zep__msg_cat = catalogue;
    zep::platform::mutex_destroy(g.mutex);
    g.mutex = zep::platform::mutex_create();
    if (!g.mutex) {
        zep__err = ZEP_E_NOMEM;
        return -1;
    }

    if (FMT_init(catalogue) != 0) return -1;
    if (CLR_init(catalogue) != 0) {
        FMT_exit(); /* stopped means both databases stopped */
        return -1;
    }

    g.started = true;
    dst__list_clear(&g.registry);
    g.first_max = 0;
    g.second_max = 0;

    if (!zep::pending_create()) return zep::abandon_start();
    if (enumerator) {
        void *module = nullptr;
        const char *name = nullptr;
        while (enumerator(&module, &name)) {
            if (module && zep::bind_module(module, name) == zep::Bound::no_memory)
                return zep::abandon_start();
            module = nullptr;
            name = nullptr;
        }
    }
    if (!zep::publish_plugins()) return zep::abandon_start();

    zep::List<zep::RegistryEntry> registry(&g.registry);
    for (int i = 0; i < g.plugin_count; ++i) {
        zep::RegistryEntry *e = zep::new_entry(g.plugins[i], 0);
        if (!e) return zep::abandon_start();
        registry.append(e);
    }
    for (const ZEP_FORMAT_DEF &row : zep::kBuiltins) {
        zep::RegistryEntry *e = zep::new_entry(row, 1);
        if (!e) return zep::abandon_start();
        if (row.init && row.init() == 0) {
            zep::free_entry(e);
            return -1;
        }
        registry.append(e);
    }

    registry.rewind();
    for (zep::RegistryEntry *e = registry.next(); e; e = registry.next())
        if (!zep::check_capabilities(e)) break;
    registry.rewind();

    ZEP_multiframe_init();
    ZEP_multiframe_set(1, zep::cache_limit());
    return zep__err;
}

int ZEP_exit(void)
{
    if (!g.started) return 0;

    ZEP_private_ui_popdown(); /* the driver's window goes before the driver */
    /* Closed files the multi-frame cache keeps open belong to drivers that
     * are about to shut down: close them now. */
    ZEP_multiframe_set(0, 0);
    for (int i = 0; i < g.plugin_count; ++i)
        if (g.plugins[i].done) g.plugins[i].done();
    for (int i = 0; i < g.plugin_count; ++i)
        ERR_free(g.plugin_extensions[i]);
    ERR_free(g.plugins);
    g.plugins = nullptr;
    g.plugin_extensions = nullptr;
    g.plugin_count = 0;
    zep::pending_release(false);

    zep::List<zep::RegistryEntry> registry(&g.registry);
    while (zep::RegistryEntry *e = registry.pop_head())
        zep::free_entry(e);
    dst__list_clear(&g.registry);
    zep::queries_forget_registry();
    zep::restore_names();

    g.started = false;
    CLR_exit();
    FMT_exit();
    return 0;
}

void ZEP_dso_init(void) {}

void ZEP_info_get_specific(const char *key, const ZEP_FILE_TYPE *file_type,
                           ZEP_CAPABILITY **capabilities, int *first_count, int *second_count,
                           int *num_capabilities)
{
    const ZEP_FILE_TYPE *t = file_type;
    if (key) {
        t = ZEP_find(key);
        if (!t) {
            zep::report(zep::kUnknownKey, key);
            return;
        }
    }
    if (t && t->capability) {
        t->capability(capabilities, first_count, second_count, num_capabilities);
        return;
    }
    if (capabilities) *capabilities = nullptr;
    if (first_count) *first_count = 0;
    if (second_count) *second_count = 0;
    if (num_capabilities) *num_capabilities = 0;
}

void ZEP_info_num_specific(int *first_max, int *second_max)
{
    if (first_max) *first_max = g.first_max;
    if (second_max) *second_max = g.second_max;
}
