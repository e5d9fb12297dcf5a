/*
 * The colour database: primaries, white point, wavelength range, the
 * resampled matching functions and the sample-bin sets.
 *
 * States:
 *
 *   unbuilt --CLR_init, or any query--> built
 *   built   --CLR_init-->               built, lists rewound
 *   built   --CLR_exit-->               unbuilt
 *   building --a malformed file or no memory--> unbuilt (torn down)
 *
 * Building enters the ten built-in sets, then walks the configuration file.
 * When the file changes nothing that the tables depend on, the tables the
 * compiler worked out from the built-in data are taken (cie1931_table.cpp);
 * otherwise the tristimulus rows (the file's, or else the 81 built-in ones)
 * are resampled and every set's bins are integrated here, by the same code.
 *
 * A tear-down frees everything and puts the values back to their built-in
 * state, so that whatever query comes next builds from scratch.
 */
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <zep/colour.h>
#include <zep/config.h>
#include <zep/error.h>

#include "base/list.h"
#include "config/colour_db.h"
#include "config/colour_tables.h"
#include "config/format_defaults.h"
#include "error/messages.h"

static_assert(std::is_standard_layout_v<CLR_SAMPLE_SET>);

namespace {

using zep::colour::Row;
namespace colour = zep::colour;

constexpr const char kDatabaseName[] = "clr";

/* An element of the tristimulus list. */
struct RowElement {
    DST_LINK link;
    bool owned; /* read from the file; built-in elements are static */
    Row row;
};
static_assert(std::is_standard_layout_v<RowElement>);

/* An element of the sample-bin list. One block holds the element, then the
 * n + 1 boundaries, then the n rows of the per-bin table. */
struct SetElement {
    DST_LINK link;
    CLR_SAMPLE_SET set;
};
static_assert(std::is_standard_layout_v<SetElement>);
static_assert(sizeof(SetElement) % alignof(float) == 0);

struct Database {
    bool built;
    DST_LIST *rows; /* RowElement, ascending wavelength */
    DST_LIST *sets; /* SetElement, ascending bin count */
    const float *resampled;
    float *owned_resampled; /* the same table when computed here */
    int resolution;
    float min_wavelength;
    float max_wavelength;
    int default_samples;
    float red[3], green[3], blue[3], white[3];
};

constexpr Database builtin_values()
{
    return Database{false,
                    nullptr,
                    nullptr,
                    nullptr,
                    nullptr,
                    colour::kBuiltinResolution,
                    colour::kBuiltinMin,
                    colour::kBuiltinMax,
                    colour::kBuiltinDefaultSamples,
                    {0.67f, 0.33f, 0.0f},
                    {0.21f, 0.71f, 0.08f},
                    {0.14f, 0.08f, 0.78f},
                    {0.31f, 0.316f, 0.374f}};
}

constinit Database g_db = builtin_values();

/* The built-in rows, linked into the tristimulus list when a build needs
 * them; never freed. */
constinit RowElement g_builtin_rows[colour::kBuiltinRowCount]{};

/* ---- Sets and rows ----------------------------------------------------- */

/* A new set of n bins (n >= 1), boundaries and table zeroed; null with
 * zep__err -10 when memory ran out (reported). */
SetElement *new_set(int n)
{
    const uint64_t floats = 4 * static_cast<uint64_t>(n) + 1;
    if (floats > (SIZE_MAX - sizeof(SetElement)) / sizeof(float)) {
        zep::config_report(zep::kNoMemory);
        zep__err = ZEP_E_NOMEM;
        return nullptr;
    }
    const size_t size = sizeof(SetElement) + static_cast<size_t>(floats) * sizeof(float);
    auto *e = static_cast<SetElement *>(ERR_malloc(size));
    if (!e) {
        zep__err = ZEP_E_NOMEM;
        return nullptr;
    }
    std::memset(e, 0, size);
    auto *data = reinterpret_cast<float *>(reinterpret_cast<unsigned char *>(e) + sizeof *e);
    e->set.count = n;
    e->set.uniform = 0;
    e->set.bounds = data;
    e->set.table = data + n + 1;
    return e;
}

int compare_sets(const void *existing, const void *element)
{
    int a = static_cast<const SetElement *>(existing)->set.count;
    int b = static_cast<const SetElement *>(element)->set.count;
    return a < b ? -1 : a > b ? 1 : 0;
}

/* Rows of equal wavelength go after the ones already there. */
int compare_rows(const void *existing, const void *element)
{
    float a = static_cast<const RowElement *>(existing)->row.wavelength;
    float b = static_cast<const RowElement *>(element)->row.wavelength;
    return a <= b ? -1 : 1;
}

SetElement *find_set(int n)
{
    return zep::List<SetElement>(g_db.sets).find_if(
        [n](const SetElement &e) { return e.set.count == n; });
}

/* Enters a set, replacing any set of the same bin count. */
void enter_set(SetElement *e)
{
    if (SetElement *old = find_set(e->set.count)) {
        dst__list_remove(g_db.sets, old);
        ERR_free(old);
    }
    dst__list_insert_sorted(g_db.sets, e, compare_sets, 1);
}

void enter_row(RowElement *e) { dst__list_insert_sorted(g_db.rows, e, compare_rows, 1); }

/* Frees whatever the database holds and returns it to its built-in values. */
void tear_down()
{
    if (g_db.rows) {
        zep::List<RowElement> rows(g_db.rows);
        while (RowElement *e = rows.pop_head())
            if (e->owned) ERR_free(e);
        dst__list_destroy(g_db.rows);
    }
    if (g_db.sets) {
        zep::List<SetElement> sets(g_db.sets);
        while (SetElement *e = sets.pop_head())
            ERR_free(e);
        dst__list_destroy(g_db.sets);
    }
    ERR_free(g_db.owned_resampled);
    cfg__release();
    g_db = builtin_values();
}

/* ---- Reading the configuration file ------------------------------------ */

enum class Key {
    default_samples,
    red,
    green,
    blue,
    white,
    min_wavelength,
    max_wavelength,
    sample_bins,
    tristimulus,
    end_tristimulus,
    table_resolution,
};

struct KeyDef {
    const char *name;
    int words; /* the key included; 0 for any number */
    Key key;
};

constexpr KeyDef kKeys[] = {
    {"clr__default_samples", 2, Key::default_samples},
    {"clr__default_red_primary", 4, Key::red},
    {"clr__default_green_primary", 4, Key::green},
    {"clr__default_blue_primary", 4, Key::blue},
    {"clr__default_white_point", 4, Key::white},
    {"clr__min_wavelength", 2, Key::min_wavelength},
    {"clr__max_wavelength", 2, Key::max_wavelength},
    {"clr__sample_bins", 0, Key::sample_bins},
    {"clr__tristimulus", 1, Key::tristimulus},
    {"end__tristimulus", 1, Key::end_tristimulus},
    {"clr__tristimulus_tab_res", 2, Key::table_resolution},
};

const KeyDef *find_key(const char *word)
{
    for (const KeyDef &k : kKeys)
        if (std::strcmp(k.name, word) == 0) return &k;
    return nullptr;
}

/* The walk over the store's lines; line numbers count every line from 1. */
struct Reader {
    CFG_WORDS *line = nullptr;
    int number = 0;
    bool changed = false;
    bool block_started = false;
    bool block_ended = false;
    bool block_has_rows = false;

    CFG_WORDS *next_line()
    {
        line = cfg__next_line();
        if (line) ++number;
        return line;
    }
};

/* Failures of a build; each has been reported when it is returned. */
enum class Status { ok, failed };

/* A failed allocation (already reported): zep__err -10. */
Status out_of_memory()
{
    zep__err = ZEP_E_NOMEM;
    return Status::failed;
}

Status syntax_error(const Reader &r)
{
    const char *path = cfg__path();
    zep::config_report(zep::kConfigSyntax, path ? path : "", r.number);
    return Status::failed;
}

Status number_error(const Reader &r)
{
    zep::config_report(zep::kConfigNumber, r.number);
    return Status::failed;
}

/* Reads words[first .. first + count - 1] of the current line as reals; a
 * missing word fails like one that is not a number. */
Status read_reals(const Reader &r, int first, int count, float *out)
{
    for (int i = 0; i < count; ++i)
        if (first + i >= r.line->count || !cfg__parse_real(r.line->words[first + i], &out[i]))
            return number_error(r);
    return Status::ok;
}

/* The words after a clr__sample_bins key, across lines: a word that is a
 * single backslash continues with the first word of the next line. */
struct WordStream {
    Reader &r;
    int index;

    /* The next word, or null when the line (or the file) has run out. */
    const char *next()
    {
        for (;;) {
            if (index >= r.line->count) return nullptr;
            const char *word = r.line->words[index++];
            if (std::strcmp(word, "\\") != 0) return word;
            if (!r.next_line()) return nullptr;
            index = 0;
        }
    }
};

/* clr__sample_bins n, then "uniform" or n + 1 boundaries. A bin count below
 * 1 is taken as malformed. */
Status read_sample_bins(Reader &r)
{
    WordStream words{r, 1};
    const char *word = words.next();
    if (!word) return syntax_error(r);
    const int n = zep::cfg_integer(word);
    if (n < 1) return syntax_error(r);
    r.changed = true;
    if (!(word = words.next())) return syntax_error(r);

    SetElement *e = new_set(n);
    if (!e) return Status::failed;
    if (std::strcmp(word, "uniform") == 0) {
        e->set.uniform = 1;
    } else {
        for (int i = 0; i <= n; ++i) {
            if (i > 0 && !(word = words.next())) {
                ERR_free(e);
                return syntax_error(r);
            }
            if (!cfg__parse_real(word, &e->set.bounds[i])) {
                ERR_free(e);
                return number_error(r);
            }
        }
    }
    enter_set(e);
    return Status::ok;
}

/* A row of the tristimulus block: wavelength, xbar, ybar, zbar. */
Status read_row(Reader &r)
{
    float v[4];
    if (read_reals(r, 0, 4, v) != Status::ok) return Status::failed;
    auto *e = static_cast<RowElement *>(ERR_malloc(sizeof(RowElement)));
    if (!e) return out_of_memory();
    *e = RowElement{{nullptr}, true, Row{v[0], v[1], v[2], v[3]}};
    enter_row(e);
    r.block_has_rows = true;
    return Status::ok;
}

Status apply(Reader &r, const KeyDef &k)
{
    float value;
    switch (k.key) {
    case Key::default_samples:
        g_db.default_samples = zep::cfg_integer(r.line->words[1]);
        return Status::ok;
    case Key::red:
        return read_reals(r, 1, 3, g_db.red);
    case Key::green:
        return read_reals(r, 1, 3, g_db.green);
    case Key::blue:
        return read_reals(r, 1, 3, g_db.blue);
    case Key::white:
        return read_reals(r, 1, 3, g_db.white);
    case Key::min_wavelength:
        if (read_reals(r, 1, 1, &value) != Status::ok) return Status::failed;
        g_db.min_wavelength = value;
        if (value != colour::kBuiltinMin) r.changed = true;
        return Status::ok;
    case Key::max_wavelength:
        if (read_reals(r, 1, 1, &value) != Status::ok) return Status::failed;
        g_db.max_wavelength = value;
        if (value != colour::kBuiltinMax) r.changed = true;
        return Status::ok;
    case Key::table_resolution:
        g_db.resolution = zep::cfg_integer(r.line->words[1]);
        if (g_db.resolution != colour::kBuiltinResolution) r.changed = true;
        return Status::ok;
    case Key::sample_bins:
        return read_sample_bins(r);
    case Key::tristimulus:
        r.block_started = true;
        return Status::ok;
    case Key::end_tristimulus:
        r.block_ended = true;
        return Status::ok;
    }
    return Status::ok;
}

Status read_file(Reader &r)
{
    while (r.next_line()) {
        if (r.line->count == 0) continue;
        const KeyDef *k = find_key(r.line->words[0]);
        if (!k) {
            if (r.block_started && !r.block_ended && read_row(r) != Status::ok)
                return Status::failed;
            continue;
        }
        if (k->words != 0 && r.line->count != k->words) {
            syntax_error(r); /* reported; the line is skipped */
            continue;
        }
        if (apply(r, *k) != Status::ok) return Status::failed;
    }
    return Status::ok;
}

/* ---- Tables ------------------------------------------------------------ */

/* Enters the 81 built-in rows, flagged built-in. */
void enter_builtin_rows()
{
    for (int i = 0; i < colour::kBuiltinRowCount; ++i) {
        g_builtin_rows[i] = RowElement{{nullptr}, false, colour::kCie1931[i]};
        enter_row(&g_builtin_rows[i]);
    }
}

/* Resamples the rows and integrates every set's bins. */
Status compute_tables()
{
    const int res = g_db.resolution;
    const double min = g_db.min_wavelength, max = g_db.max_wavelength;
    if (static_cast<uint64_t>(res) > SIZE_MAX / (3 * sizeof(float))) {
        zep::config_report(zep::kNoMemory);
        return out_of_memory();
    }
    g_db.owned_resampled = static_cast<float *>(ERR_malloc(3 * sizeof(float) * res));
    if (!g_db.owned_resampled) return out_of_memory();
    g_db.resampled = g_db.owned_resampled;

    DST_LINK *cursor = g_db.rows->head;
    auto next = [&cursor]() -> const Row * {
        if (!cursor) return nullptr;
        const Row *row = &reinterpret_cast<RowElement *>(cursor)->row;
        cursor = cursor->next;
        return row;
    };
    if (!colour::resample(next, min, max, res, g_db.owned_resampled)) {
        zep::config_report(zep::kConfigMatching);
        return Status::failed;
    }

    for (DST_LINK *l = g_db.sets->head; l; l = l->next) {
        CLR_SAMPLE_SET &set = reinterpret_cast<SetElement *>(l)->set;
        if (set.uniform) colour::uniform_bounds(min, max, set.count, set.bounds);
        colour::integrate_bins(g_db.resampled, res, min, max, set.count, set.bounds, set.table);
    }
    return Status::ok;
}

/* Takes the tables the compiler worked out for the built-in data. Only the
 * ten built-in sets exist on this path: any clr__sample_bins line counts as
 * a change. */
void take_builtin_tables()
{
    g_db.resampled = colour::kBuiltinTables.resampled;
    for (DST_LINK *l = g_db.sets->head; l; l = l->next) {
        CLR_SAMPLE_SET &set = reinterpret_cast<SetElement *>(l)->set;
        std::memcpy(set.table,
                    &colour::kBuiltinTables.bins[colour::builtin_table_offset(set.count)],
                    3 * sizeof(float) * set.count);
    }
}

Status build(void *catalogue)
{
    g_db.built = true;
    g_db.rows = dst__list_create();
    g_db.sets = dst__list_create();
    if (!g_db.rows || !g_db.sets) return out_of_memory();
    g_db.resampled = colour::kBuiltinTables.resampled;

    for (int n = 1; n <= colour::kBuiltinSetCount; ++n) {
        SetElement *e = new_set(n);
        if (!e) return Status::failed;
        std::memcpy(e->set.bounds, &colour::kBuiltinBounds[colour::builtin_bounds_offset(n)],
                    (n + 1) * sizeof(float));
        dst__list_append(g_db.sets, e);
    }

    /* No file (or no memory to read it, which has been reported) leaves the
     * built-in values. */
    Reader r;
    if (cfg__read_file(catalogue) == 0 && read_file(r) != Status::ok) return Status::failed;

    const float min = g_db.min_wavelength, max = g_db.max_wavelength;
    if (min <= 0 || max <= 0 || max <= min || !std::isfinite(min) || !std::isfinite(max)) {
        zep::config_report(zep::kConfigRange, static_cast<double>(min), static_cast<double>(max));
        return Status::failed;
    }
    if (g_db.resolution <= 1) {
        zep::config_report(zep::kConfigResolution, g_db.resolution);
        return Status::failed;
    }

    const bool complete_block = r.block_started && r.block_ended && r.block_has_rows;
    if (!r.changed && !complete_block) {
        take_builtin_tables();
        return Status::ok;
    }
    if (r.changed && !r.block_started && !r.block_ended) enter_builtin_rows();
    return compute_tables();
}

/* Builds on demand and reports it at severity 0; false when the build
 * failed. */
bool ensure_built(const char *query, bool report_on_failure)
{
    if (g_db.built) return true;
    const bool ok = CLR_init(nullptr) == 0;
    if (ok || report_on_failure) zep::config_report(zep::kConfigInitDatabase, kDatabaseName, query);
    return ok;
}

} // namespace

/* ---- Interface --------------------------------------------------------- */

int CLR_init(void *catalogue)
{
    if (g_db.built) {
        dst__list_rewind(g_db.rows);
        dst__list_rewind(g_db.sets);
        return 0;
    }
    if (build(catalogue) != Status::ok) {
        tear_down();
        return -1;
    }
    dst__list_rewind(g_db.rows);
    dst__list_rewind(g_db.sets);
    return 0;
}

int CLR_exit(void)
{
    tear_down();
    return 0;
}

CLR_SAMPLE_SET *CLR_find(int n)
{
    if (!ensure_built("CLR_find", false)) return nullptr;
    void *saved = dst__list_get_cursor(g_db.sets);
    dst__list_rewind(g_db.sets);
    while (auto *e = static_cast<SetElement *>(dst__list_next(g_db.sets)))
        if (e->set.count == n) return &e->set;
    dst__list_set_cursor(g_db.sets, saved);
    return nullptr;
}

const float *CLR_def_red_primary(void)
{
    ensure_built("CLR_def_red_primary", true);
    return g_db.red;
}

const float *CLR_def_green_primary(void)
{
    ensure_built("CLR_def_green_primary", true);
    return g_db.green;
}

const float *CLR_def_blue_primary(void)
{
    ensure_built("CLR_def_blue_primary", true);
    return g_db.blue;
}

const float *CLR_def_white_point(void)
{
    ensure_built("CLR_def_white_point", true);
    return g_db.white;
}

namespace zep {

bool colour_is_built() { return g_db.built; }
int colour_default_samples() { return g_db.default_samples; }
float colour_min_wavelength() { return g_db.min_wavelength; }
float colour_max_wavelength() { return g_db.max_wavelength; }
int colour_resolution() { return g_db.resolution; }
const float *colour_resampled() { return g_db.built ? g_db.resampled : nullptr; }
int colour_row_count() { return g_db.rows ? dst__list_count(g_db.rows) : 0; }
int colour_set_count() { return g_db.sets ? dst__list_count(g_db.sets) : 0; }

} // namespace zep
