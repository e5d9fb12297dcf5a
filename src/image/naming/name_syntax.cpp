/*
 * Name syntaxes: the lower-case copy buffer, the parser into tokens and the
 * exported checks.
 *
 * A syntax is read left to right as elements: the word "name" (repeats
 * merge into one element), the word "ext" (once), one run of "#" (the frame
 * number, its length the digit count) and runs of punctuation other than
 * "/" and "#" (literal text). It needs a name or a frame element. Every
 * operation except ZEP_name_syntax_has_frame works on a lower-case copy
 * kept in one process-wide buffer that only grows; token texts point into
 * it. The parser's three "seen" flags are process-wide as well, so a parse
 * at depth > 0 continues the one that reached it.
 */
#include <cstring>

#include <zep/error.h>
#include <zep/naming.h>
#include <zep/strings.h>

#include "image/naming/naming.h"

namespace zep::naming {
namespace {

constinit char *copy_buf = nullptr;
constinit int copy_size = 0;

constexpr const char kName[] = "name";
constexpr const char kExt[] = "ext";

/* The parser's flags; a parse at depth 0 clears them. */
struct Seen {
    bool name_or_frame = false;
    bool ext = false;
    bool frame = false;
};
constinit Seen seen;

/* The element at the front of s: its kind (0 when s is empty, -1 when the
 * element is invalid given what `seen` holds) and its length. Updates
 * `seen` for a valid element. */
struct Element {
    int kind;
    int length;
};

Element next_element(const char *s)
{
    const unsigned char c = static_cast<unsigned char>(*s);
    if (c == 0) return {ZEP_NAME_TOKEN_END, 0};
    if (c == '#') {
        if (seen.frame) return {-1, 0};
        int n = 0;
        while (s[n] == '#') ++n;
        seen.frame = seen.name_or_frame = true;
        return {ZEP_NAME_TOKEN_FRAME, n};
    }
    if (c == '/') return {-1, 0};
    if (is_punct(c)) {
        int n = 1;
        while (is_punct(static_cast<unsigned char>(s[n])) && s[n] != '/' && s[n] != '#') ++n;
        return {ZEP_NAME_TOKEN_LITERAL, n};
    }
    if (std::strncmp(s, kName, 4) == 0) {
        int n = 4;
        while (std::strncmp(s + n, kName, 4) == 0) n += 4;
        seen.name_or_frame = true;
        return {ZEP_NAME_TOKEN_NAME, n};
    }
    if (seen.ext || std::strncmp(s, kExt, 3) != 0) return {-1, 0};
    seen.ext = true;
    return {ZEP_NAME_TOKEN_EXT, 3};
}

/* Walks a whole syntax copy from a clean state: the result code (0 or -11)
 * with `seen` describing it. */
int walk(const char *s)
{
    seen = {};
    for (;;) {
        Element e = next_element(s);
        if (e.kind < 0) return ZEP_E_SYNTAX;
        if (e.kind == ZEP_NAME_TOKEN_END) return seen.name_or_frame ? 0 : ZEP_E_SYNTAX;
        s += e.length;
    }
}

/* The check shared by verify and has_ext: 1 valid, 0 invalid, with
 * zep__err set. */
bool check(const char *syntax)
{
    if (!*syntax) {
        zep__err = ZEP_E_NO_SYNTAX;
        return false;
    }
    const char *copy = syntax_copy(syntax);
    if (!copy) {
        zep__err = ZEP_E_NOMEM;
        return false;
    }
    zep__err = walk(copy);
    return zep__err == 0;
}

} // namespace

const char *syntax_copy(const char *syntax)
{
    // A syntax may be a token text, inside the buffer already: it fits,
    // and the copy may overlap it.
    const size_t len = std::strlen(syntax);
    if (len > static_cast<size_t>(INT32_MAX) - 32) return nullptr;
    if (static_cast<int>(len) + 1 > copy_size) {
        const int size = (static_cast<int>(len) + 1) / 16 * 16 + 16;
        char *grown = STR_more(copy_buf, size - 1);
        if (!grown) return nullptr;
        copy_buf = grown;
        copy_size = size;
    }
    std::memmove(copy_buf, syntax, len + 1);
    return STR_tolower(copy_buf);
}

} // namespace zep::naming

using namespace zep::naming;

uint8_t ZEP_parse_name_syntax(const char *syntax, ZEP_NAME_TOKEN **tokens, int depth)
{
    if (!syntax || !tokens) {
        zep__err = syntax ? ZEP_E_NULL_ARG : ZEP_E_NO_SYNTAX;
        return 0;
    }
    if (depth < 0) depth = 0;
    const char *s = syntax;
    if (depth == 0) {
        s = syntax_copy(syntax);
        if (!s) {
            zep__err = ZEP_E_NOMEM;
            return 0;
        }
        seen = {};
    }
    // One pass to check and count, one to fill: the array is allocated
    // once, at its final size, as the recursive reading would leave it.
    int count = 0;
    for (const char *p = s;;) {
        Element e = next_element(p);
        if (e.kind < 0) {
            zep__err = ZEP_E_SYNTAX;
            return 0;
        }
        if (e.kind == ZEP_NAME_TOKEN_END) break;
        p += e.length;
        ++count;
    }
    if (!seen.name_or_frame) {
        zep__err = ZEP_E_SYNTAX;
        return 0;
    }
    const size_t n = static_cast<size_t>(depth) + count + 1;
    auto *t = static_cast<ZEP_NAME_TOKEN *>(ERR_malloc(n * sizeof(ZEP_NAME_TOKEN)));
    if (!t) {
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    std::memset(t, 0, n * sizeof(ZEP_NAME_TOKEN));
    const Seen kept = seen;
    seen = {}; // the counting pass accepted every element
    for (size_t i = depth; i + 1 < n; ++i) {
        Element e = next_element(s);
        t[i].kind = e.kind;
        t[i].text_length = e.length;
        t[i].text = s;
        s += e.length;
    }
    seen = kept;
    t[n - 1].kind = ZEP_NAME_TOKEN_END;
    t[n - 1].text_length = 1;
    t[n - 1].text = s;
    *tokens = t;
    zep__err = 0;
    return 1;
}

uint8_t ZEP_name_syntax_verify(const char *syntax)
{
    if (!syntax) {
        zep__err = ZEP_E_NO_SYNTAX;
        return 0;
    }
    return check(syntax);
}

uint8_t ZEP_name_syntax_has_ext(const char *syntax)
{
    if (!syntax) return 0;
    return check(syntax) && seen.ext;
}

uint8_t ZEP_name_syntax_ends_ext(const char *syntax)
{
    if (!syntax) return 0;
    const char *copy = syntax_copy(syntax);
    if (!copy) {
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    zep__err = 0;
    const size_t len = std::strlen(copy);
    return len >= 3 && STR_compare(copy + len - 3, kExt) == 0;
}

uint8_t ZEP_name_syntax_has_frame(const char *syntax)
{
    return syntax && std::strchr(syntax, '#') != nullptr;
}

const char *ZEP_name_syntax_name(void) { return kName; }
