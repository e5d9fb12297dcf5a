/*
 * The configuration file ".zeprc": finding it, reading it once into a store
 * of lines split into words, handing the lines out one at a time, and the
 * number syntax both databases use for reals.
 *
 * The store is process-wide and shared by the two databases. Its states:
 *
 *   unloaded --cfg__read_file finds a file--> loaded
 *   loaded   --cfg__read_file-->              loaded, cursor on the first line
 *   loaded   --cfg__release-->                unloaded
 *
 * A failed load leaves it unloaded with no lines. When no file was found the
 * path tried last is kept, for messages; when memory ran out the store is
 * released whole.
 *
 * Each line record owns one copy of its line, split in place: every word is
 * ended by a zero byte written over the character after it, and the word
 * pointers point into the copy.
 */
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

#include <zep/config.h>
#include <zep/error.h>
#include <zep/strings.h>

#include "base/list.h"
#include "config/format_defaults.h"
#include "error/messages.h"

static_assert(std::is_standard_layout_v<CFG_WORDS>);

namespace {

constexpr const char kFileName[] = ".zeprc";
constexpr const char kBuiltinRoot[] = "/usr/vk/";
constexpr char kEscape = 27;

/* One line of the file (or one 254-character piece of a longer line). */
struct Line {
    DST_LINK link;
    CFG_WORDS words;
    char *text; /* the owned copy the words point into */
};
static_assert(std::is_standard_layout_v<Line>);

struct Store {
    DST_LIST lines;  /* of Line */
    char *path;      /* the path tried last; owned */
    void *catalogue; /* given to the load that read the lines */
    bool loaded;
};

Store g_store{};

void free_lines()
{
    zep::List<Line> lines(&g_store.lines);
    while (Line *line = lines.pop_head()) {
        ERR_free(line->text);
        ERR_free(line);
    }
    dst__list_clear(&g_store.lines);
}

/* "%s/%s" or "%s/userconfig/%s" of dir and the file name in a new block;
 * null when memory ran out (reported by the allocator). */
char *make_path(const char *dir, bool userconfig)
{
    const char *middle = userconfig ? "/userconfig/" : "/";
    size_t size = std::strlen(dir) + std::strlen(middle) + sizeof kFileName;
    auto *path = static_cast<char *>(ERR_malloc(size));
    if (path) std::snprintf(path, size, "%s%s%s", dir, middle, kFileName);
    return path;
}

/* Opens the first configuration file found and leaves the path tried last
 * in g_store.path. Returns the open file, or null with *no_memory set when
 * a path could not be built (g_store.path is then null). */
FILE *open_file(bool *no_memory)
{
    struct Candidate {
        const char *dir;
        bool userconfig;
    };
    const Candidate candidates[] = {
        {std::getenv("HOME"), false},
        {std::getenv("KV_ROOT"), true},
        {kBuiltinRoot, true},
    };
    *no_memory = false;
    for (const Candidate &c : candidates) {
        if (!c.dir) continue;
        ERR_free(g_store.path);
        g_store.path = make_path(c.dir, c.userconfig);
        if (!g_store.path) {
            *no_memory = true;
            return nullptr;
        }
        if (FILE *file = std::fopen(g_store.path, "r")) return file;
    }
    return nullptr;
}

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_word_char(char c) { return std::isgraph(static_cast<unsigned char>(c)) != 0; }

/* Splits text in place into at most CFG_MAX_WORDS words. A word is a run of
 * printable non-blank characters, or the text between a pair of the same
 * quote character (", ' or ESC); an unclosed quote takes the rest of the
 * line. */
void split_words(char *text, CFG_WORDS *out)
{
    int n = 0;
    char *p = text;
    for (;;) {
        while (*p && is_blank(*p)) p++;
        if (*p == '\0' || n == CFG_MAX_WORDS) break;
        if (*p == '"' || *p == '\'' || *p == kEscape) {
            char quote = *p++;
            out->words[n++] = p;
            char *end = std::strchr(p, quote);
            if (!end) break;
            *end = '\0';
            p = end + 1;
        } else {
            out->words[n++] = p;
            while (is_word_char(*p)) p++;
            if (*p == '\0') break;
            *p++ = '\0';
        }
    }
    out->words[n] = nullptr;
    out->count = n;
}

/* Reads the next line of at most CFG_MAX_LINE characters into buffer (of
 * CFG_MAX_LINE + 1 bytes) without its line end ("\n" or "\r\n"). A longer
 * line comes back in pieces of CFG_MAX_LINE characters; a line of exactly
 * that length is one piece, its line end read with it. Returns false at end
 * of file. */
bool read_piece(FILE *file, char *buffer)
{
    if (!std::fgets(buffer, CFG_MAX_LINE + 1, file)) return false;
    size_t len = std::strlen(buffer);
    bool ended = len > 0 && buffer[len - 1] == '\n';
    if (ended) {
        buffer[--len] = '\0';
    } else if (len == CFG_MAX_LINE) {
        int c = std::fgetc(file);
        if (c == '\n') {
            ended = true;
        } else if (c == '\r') {
            /* A carriage return not before a line end is dropped: at the
             * start of the next piece it would only be a blank. */
            int c2 = std::fgetc(file);
            ended = c2 == '\n';
            if (!ended && c2 != EOF) std::ungetc(c2, file);
        } else if (c != EOF) {
            std::ungetc(c, file);
        }
    }
    if (ended && len > 0 && buffer[len - 1] == '\r') buffer[--len] = '\0';
    return true;
}

/* Reads every line of file into the store. Returns 0, or -1 when memory ran
 * out (reported; the lines read so far stay for the caller to release). */
int read_lines(FILE *file)
{
    char buffer[CFG_MAX_LINE + 1];
    zep::List<Line> lines(&g_store.lines);
    while (read_piece(file, buffer)) {
        auto *line = static_cast<Line *>(ERR_malloc(sizeof(Line)));
        if (!line) return -1;
        *line = Line{};
        line->text = STR_save(buffer);
        if (!line->text) {
            ERR_free(line);
            zep::config_report(zep::kConfigNoMemory);
            return -1;
        }
        split_words(line->text, &line->words);
        lines.append(line);
    }
    return 0;
}

} // namespace

int cfg__read_file(void *catalogue)
{
    if (g_store.loaded) {
        dst__list_rewind(&g_store.lines);
        return 0;
    }
    free_lines();
    g_store.catalogue = catalogue;

    bool no_memory = false;
    FILE *file = open_file(&no_memory);
    if (!file) {
        if (no_memory) zep::config_report(zep::kConfigNoMemory);
        return -1;
    }
    int rc = read_lines(file);
    std::fclose(file);
    if (rc != 0) {
        cfg__release();
        return -1;
    }
    dst__list_rewind(&g_store.lines);
    g_store.loaded = true;
    return 0;
}

CFG_WORDS *cfg__next_line(void)
{
    if (!g_store.loaded) return nullptr;
    auto *line = static_cast<Line *>(dst__list_next(&g_store.lines));
    return line ? &line->words : nullptr;
}

void cfg__release(void)
{
    free_lines();
    ERR_free(g_store.path);
    g_store.path = nullptr;
    g_store.loaded = false;
}

const char *cfg__path(void) { return g_store.path; }

void *cfg__catalogue(void) { return g_store.catalogue; }

/*
 * The number syntax: optional sign, digits with at most one point, then an
 * optional exponent marker (e, E, d or D), sign and one or two digits. No
 * blank may follow. Evaluated as digits times a power of ten; past 19
 * significant digits further digits only scale the value.
 */
int cfg__parse_real(const char *text, float *value)
{
    if (!text) return 0;
    enum class State { start, integer, fraction, exp_marker, exp_digits };
    State state = State::start;
    bool negative = false, exp_negative = false;
    bool exp_pending = false; /* a marker not yet followed by a digit */
    int mantissa_digits = 0, exp_digits = 0, exponent = 0;
    int significant = 0; /* digits taken into mantissa */
    long scale = 0;      /* power of ten the mantissa is to be multiplied by */
    double mantissa = 0.0;

    const char *p = text;
    while (is_blank(*p)) p++;
    for (; *p; p++) {
        char c = *p;
        if (c == '+' || c == '-') {
            if (state == State::start) {
                negative = c == '-';
                state = State::integer;
            } else if (state == State::exp_marker) {
                exp_negative = c == '-';
                state = State::exp_digits;
            } else {
                return 0;
            }
        } else if (c == '.') {
            if (state != State::start && state != State::integer) return 0;
            state = State::fraction;
        } else if (c >= '0' && c <= '9') {
            int d = c - '0';
            if (state == State::start || state == State::integer || state == State::fraction) {
                bool in_fraction = state == State::fraction;
                if (state == State::start) state = State::integer;
                mantissa_digits++;
                if (mantissa == 0.0 && d == 0) {
                    if (in_fraction) scale--; /* leading zeros carry no digits */
                } else if (significant < 19) {
                    mantissa = mantissa * 10.0 + d;
                    significant++;
                    if (in_fraction) scale--;
                } else if (!in_fraction) {
                    scale++;
                }
            } else {
                if (++exp_digits > 2) return 0;
                exponent = exponent * 10 + d;
                exp_pending = false;
                state = State::exp_digits;
            }
        } else if (c == 'e' || c == 'E' || c == 'd' || c == 'D') {
            state = State::exp_marker;
            exp_pending = true;
        } else {
            return 0;
        }
    }
    if (mantissa_digits == 0) return 0;
    if (exp_pending) return 0;

    long power = scale + (exp_negative ? -exponent : exponent);
    double v = mantissa;
    if (v != 0.0) {
        /* Dividing by an exact power of ten rounds 2.2 and its kin as well as
         * a double can; the bound keeps pow within range. */
        if (power < 0)
            v = power < -400 ? 0.0 : v / std::pow(10.0, static_cast<double>(-power));
        else if (power > 0)
            v = power > 400 ? std::numeric_limits<double>::infinity()
                            : v * std::pow(10.0, static_cast<double>(power));
    }
    if (negative) v = -v;
    float f;
    if (v > std::numeric_limits<float>::max())
        f = std::numeric_limits<float>::infinity();
    else if (v < -std::numeric_limits<float>::max())
        f = -std::numeric_limits<float>::infinity();
    else
        f = static_cast<float>(v);
    *value = f;
    return 1;
}

namespace zep {

int cfg_integer(const char *word)
{
    if (!word) return 0;
    long v = std::strtol(word, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int>(v);
}

} // namespace zep
