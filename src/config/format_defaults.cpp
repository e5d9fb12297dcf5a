/*
 * The format-defaults database: the defaults the image-file core applies
 * when an application leaves a value open, and the table of named picture
 * formats. Values start built in and are then overridden by the lines of the
 * configuration file whose first word is one of the keys below; a block
 * between "fmt__aspect_table" and "end_aspect_table" holds picture-format
 * rows of four words (name, width, height, aspect ratio).
 *
 * States:
 *
 *   unbuilt --FMT_init or the first query--> built
 *   built   --FMT_init-->                    built, picture-format walk rewound
 *   built   --FMT_exit-->                    unbuilt
 *
 * FMT_exit frees what came from the file: the texts return to their built-in
 * values, the numbers keep what the file last set. A failed build either
 * tears the database down (allocation of a list element or entry) or leaves
 * it built with the lines read so far (copy of a text).
 */
#include <cstring>
#include <type_traits>

#include <zep/config.h>
#include <zep/error.h>
#include <zep/strings.h>

#include "base/list.h"
#include "config/format_defaults.h"
#include "error/messages.h"

static_assert(std::is_standard_layout_v<FMT_ASPECT>);

namespace {

constexpr const char kDatabaseName[] = "fmt";

/* Built-in values. */
constexpr const char kBuiltinAspect[] = "ntsc_640";
constexpr const char kBuiltinKey[] = "rla";
constexpr const char kBuiltinName[] = "im";
constexpr const char kBuiltinChannels[] = "rgb";
constexpr int kBuiltinGammaTableRes = 4096;
constexpr float kBuiltinGamma = 2.2f;
constexpr float kBuiltinInputGamma = 1.0f;
constexpr int kBuiltinFrameRate = 30;
constexpr int kBuiltinDominance = 1;
constexpr int kBuiltinSwatchSize = 0;

/* The built-in picture formats. Entries handed out are const, so these are
 * never changed; the list flags them so they are never freed. */
const FMT_ASPECT kBuiltinFormats[] = {
    {kBuiltinAspect, 640, 486, 1.33f},
};

/* One element of the picture-format list. */
struct FormatNode {
    DST_LINK link;
    const FMT_ASPECT *entry;
    bool owned; /* read from the file: entry and its name belong to the list */
};
static_assert(std::is_standard_layout_v<FormatNode>);

enum class Key {
    aspect_default,
    gamma_table_res,
    gamma_default,
    input_gamma_default,
    key_default,
    name_default,
    chan_default,
    dominance,
    frame_rate,
    swatch_size,
    aspect_table,
    end_aspect_table,
};

struct KeyEntry {
    const char *word;
    int words; /* words on the line, the key included */
    Key key;
};

constexpr KeyEntry kKeys[] = {
    {"fmt__aspect_default", 2, Key::aspect_default},
    {"fmt__gamma_table_res", 2, Key::gamma_table_res},
    {"fmt__gamma_default", 2, Key::gamma_default},
    {"fmt__input_gamma_default", 2, Key::input_gamma_default},
    {"fmt__key_default", 2, Key::key_default},
    {"fmt__name_default", 2, Key::name_default},
    {"fmt__chan_default", 2, Key::chan_default},
    {"fmt__dominance", 2, Key::dominance},
    {"fmt__frame_rate", 2, Key::frame_rate},
    {"fmt__swatch_size", 2, Key::swatch_size},
    {"fmt__aspect_table", 1, Key::aspect_table},
    {"end_aspect_table", 1, Key::end_aspect_table},
};

/* Words of a picture-format row. */
constexpr int kRowWords = 4;

/* A text value: built in, or an owned copy from the file. */
struct Text {
    const char *builtin;
    char *owned;

    const char *get() const { return owned ? owned : builtin; }
    void set(char *copy)
    {
        ERR_free(owned);
        owned = copy;
    }
    void reset() { set(nullptr); }
};

struct Database {
    bool built;
    DST_LIST formats; /* of FormatNode */

    Text aspect{kBuiltinAspect, nullptr};
    Text key{kBuiltinKey, nullptr};
    Text name{kBuiltinName, nullptr};
    Text channels{kBuiltinChannels, nullptr};

    int gamma_table_res = kBuiltinGammaTableRes;
    float gamma = kBuiltinGamma;
    float input_gamma = kBuiltinInputGamma;
    int frame_rate = kBuiltinFrameRate;
    int dominance = kBuiltinDominance;
    int swatch_size = kBuiltinSwatchSize;
};

Database g_db{};

const KeyEntry *find_key(const char *word)
{
    for (const KeyEntry &k : kKeys)
        if (std::strcmp(k.word, word) == 0) return &k;
    return nullptr;
}

void free_node(FormatNode *node)
{
    if (node->owned) {
        ERR_free(const_cast<char *>(node->entry->name));
        ERR_free(const_cast<FMT_ASPECT *>(node->entry));
    }
    ERR_free(node);
}

/* The element whose entry is named name, found by a walk from the head that
 * leaves the cursor alone; null when there is none. */
FormatNode *node_named(const char *name)
{
    return zep::List<FormatNode>(&g_db.formats).find_if(
        [name](const FormatNode &n) { return std::strcmp(n.entry->name, name) == 0; });
}

/* Reports that memory ran out while copying a text of the file and sets
 * zep__err. Returns -10. */
int text_copy_failed()
{
    zep::config_report(zep::kConfigNoMemory);
    zep__err = ZEP_E_NOMEM;
    return ZEP_E_NOMEM;
}

/* Replaces text with a copy of word. Returns 0, or -10 (reported) when the
 * copy cannot be made; text is then unchanged. */
int set_text(Text *text, const char *word)
{
    char *copy = STR_save(word);
    if (!copy) return text_copy_failed();
    text->set(copy);
    return 0;
}

/* Enters the picture-format row words[0..3], replacing an entry of the same
 * name (which then moves to the end of the list). Returns 0; -1 when an
 * element or entry cannot be allocated; -10 when the name cannot be copied
 * (reported). Nothing changes on failure. */
int add_format(char *const *words)
{
    auto *node = static_cast<FormatNode *>(ERR_malloc(sizeof(FormatNode)));
    if (!node) return -1;
    auto *entry = static_cast<FMT_ASPECT *>(ERR_malloc(sizeof(FMT_ASPECT)));
    if (!entry) {
        ERR_free(node);
        return -1;
    }
    char *name = STR_save(words[0]);
    if (!name) {
        ERR_free(entry);
        ERR_free(node);
        return text_copy_failed();
    }
    float aspect = 0.0f; /* a row whose ratio is not a number gets 0 */
    cfg__parse_real(words[3], &aspect);
    *entry = FMT_ASPECT{name, zep::cfg_integer(words[1]), zep::cfg_integer(words[2]), aspect};
    *node = FormatNode{{nullptr}, entry, true};

    zep::List<FormatNode> formats(&g_db.formats);
    if (FormatNode *old = node_named(name)) free_node(formats.remove(old));
    formats.append(node);
    return 0;
}

/* Applies one line of a key. Returns 0, -1 or -10 as add_format. */
int apply_key(Key key, char *const *words, bool *in_table, char **aspect_request)
{
    const char *value = words[1];
    switch (key) {
    case Key::aspect_default: {
        char *copy = STR_save(value);
        if (!copy) return text_copy_failed();
        ERR_free(*aspect_request);
        *aspect_request = copy;
        return 0;
    }
    case Key::aspect_table: *in_table = true; return 0;
    case Key::end_aspect_table: *in_table = false; return 0;
    case Key::gamma_table_res: g_db.gamma_table_res = zep::cfg_integer(value); return 0;
    case Key::gamma_default: cfg__parse_real(value, &g_db.gamma); return 0;
    case Key::input_gamma_default: cfg__parse_real(value, &g_db.input_gamma); return 0;
    case Key::key_default: return set_text(&g_db.key, value);
    case Key::name_default: return set_text(&g_db.name, value);
    case Key::chan_default: return set_text(&g_db.channels, value);
    case Key::dominance: g_db.dominance = std::strcmp(value, "even") == 0 ? 0 : 1; return 0;
    case Key::frame_rate: {
        int rate = zep::cfg_integer(value);
        if (rate >= 1) g_db.frame_rate = rate;
        return 0;
    }
    case Key::swatch_size: {
        int size = std::strcmp(value, "none") == 0 ? 0 : zep::cfg_integer(value);
        g_db.swatch_size = size < 0 ? 0 : size;
        return 0;
    }
    }
    return 0;
}

void report_syntax(int line)
{
    const char *path = cfg__path();
    zep::config_report(zep::kConfigSyntax, path ? path : "", line);
}

/* Walks the configuration store and applies its lines. Returns 0, -1 or
 * -10 as add_format; *aspect_request receives the last default picture
 * format named. */
int read_configuration(char **aspect_request)
{
    bool in_table = false;
    int line_number = 0;
    while (CFG_WORDS *line = cfg__next_line()) {
        line_number++;
        if (line->count == 0) continue;
        const KeyEntry *k = find_key(line->words[0]);
        int rc = 0;
        if (k) {
            if (line->count != k->words) {
                report_syntax(line_number);
                continue;
            }
            rc = apply_key(k->key, line->words, &in_table, aspect_request);
        } else {
            if (!in_table || line->words[0][0] == '#') continue;
            if (line->count != kRowWords) {
                report_syntax(line_number);
                continue;
            }
            rc = add_format(line->words);
        }
        if (rc != 0) return rc;
    }
    return 0;
}

/* Builds the database if it is not built; reports the on-demand build for
 * query. Returns what FMT_init returned. */
int ensure_built(const char *query)
{
    if (g_db.built) return 0;
    int rc = FMT_init(nullptr);
    if (rc == 0) zep::config_report(zep::kConfigInitDatabase, kDatabaseName, query);
    return rc;
}

} // namespace

int FMT_init(void *catalogue)
{
    if (g_db.built) {
        dst__list_rewind(&g_db.formats);
        return 0;
    }
    g_db.built = true;
    dst__list_clear(&g_db.formats);
    for (const FMT_ASPECT &f : kBuiltinFormats) {
        auto *node = static_cast<FormatNode *>(ERR_malloc(sizeof(FormatNode)));
        if (!node) {
            FMT_exit();
            zep__err = ZEP_E_NOMEM;
            return -1;
        }
        *node = FormatNode{{nullptr}, &f, false};
        dst__list_append(&g_db.formats, node);
    }

    cfg__read_file(catalogue); /* without a file the built-in values stand */

    char *aspect_request = nullptr;
    int rc = read_configuration(&aspect_request);
    if (rc == -1) {
        ERR_free(aspect_request);
        FMT_exit();
        zep__err = ZEP_E_NOMEM;
        return -1;
    }
    if (rc == 0 && aspect_request && node_named(aspect_request))
        g_db.aspect.set(aspect_request);
    else
        ERR_free(aspect_request);
    dst__list_rewind(&g_db.formats);
    return rc;
}

int FMT_exit(void)
{
    zep::List<FormatNode> formats(&g_db.formats);
    while (FormatNode *node = formats.pop_head()) free_node(node);
    dst__list_clear(&g_db.formats);
    g_db.aspect.reset();
    g_db.key.reset();
    g_db.name.reset();
    g_db.channels.reset();
    cfg__release();
    g_db.built = false;
    return 0;
}

const FMT_ASPECT *FMT_find(const char *name)
{
    if (ensure_built("FMT_find") != 0 || !name) return nullptr;
    DST_LIST *list = &g_db.formats;
    void *saved = dst__list_get_cursor(list);
    dst__list_rewind(list);
    while (auto *node = static_cast<FormatNode *>(dst__list_next(list)))
        if (std::strcmp(node->entry->name, name) == 0) return node->entry;
    dst__list_set_cursor(list, saved);
    return nullptr;
}

const FMT_ASPECT *FMT_info(void)
{
    if (ensure_built("FMT_info") != 0) return nullptr;
    auto *node = static_cast<FormatNode *>(dst__list_next(&g_db.formats));
    return node ? node->entry : nullptr;
}

const char *FMT_def_aspect(void)
{
    ensure_built("FMT_def_aspect");
    return g_db.aspect.get();
}

float FMT_def_gamma(void)
{
    ensure_built("FMT_def_gamma");
    return g_db.gamma;
}

float FMT_def_input_gamma(void)
{
    ensure_built("FMT_def_input_gamma");
    return g_db.input_gamma;
}

int FMT_def_gamma_tab_res(void)
{
    ensure_built("FMT_def_gamma_tab_res");
    return g_db.gamma_table_res;
}

int FMT_def_frame_rate(void)
{
    ensure_built("FMT_def_frame_rate");
    return g_db.frame_rate;
}

int FMT_def_dominance(void)
{
    ensure_built("FMT_def_dominance");
    return g_db.dominance;
}

const char *FMT_def_image_data(void)
{
    ensure_built("FMT_def_image_data");
    return g_db.channels.get();
}

namespace zep {

int fmt_gamma_table_res_current() { return g_db.gamma_table_res; }
float fmt_gamma_current() { return g_db.gamma; }
const char *fmt_key_default_current() { return g_db.key.get(); }
const char *fmt_name_default_current() { return g_db.name.get(); }
int fmt_swatch_size_current() { return g_db.swatch_size; }
bool fmt_is_built() { return g_db.built; }

} // namespace zep
