/*
 * The path-name builder for formats with a name syntax.
 *
 * The base part of the name (after its last "/") is matched against the
 * syntax's tokens. Literal and extension tokens are anchors, found by their
 * text; the name and frame tokens between two anchors share the text
 * between them (span assignment: the frame takes a run of digits, a name
 * the rest). Each anchor is tried at every occurrence, left to right, until
 * the tokens after it match the text after it. A match that failed for want
 * of a frame number raises the retry flag; the builder then drops the frame
 * element (and a literal just before it) and matches once more. The file
 * name is then written token by token: matched texts, literals, the
 * extension and the frame field of the build mode.
 *
 * Failed (token, offset) pairs are remembered for the duration of a match,
 * so a syntax of many literals against a name of many punctuation marks
 * costs tokens × characters steps, not a combinatorial search.
 */
#include <cstdio>
#include <cstring>
#include <string_view>

#include <zep/error.h>
#include <zep/naming.h>

#include "image/naming/naming.h"

namespace zep::naming {
namespace {

constexpr const char kDefaultSyntax[] = "name.####.ext";

bool is_anchor(const ZEP_NAME_TOKEN &t)
{
    return t.kind == ZEP_NAME_TOKEN_EXT || t.kind == ZEP_NAME_TOKEN_LITERAL;
}

/* A digit run [begin, end) of the text. */
struct Run {
    size_t begin, end;
};

class Matcher {
  public:
    Matcher(ZEP_NAME_TOKEN *tokens, std::string_view ext, std::string_view text)
        : tok_(tokens), ext_(ext), s_(text)
    {
        while (tok_[end_].kind != ZEP_NAME_TOKEN_END) ++end_;
    }
    ~Matcher() { ERR_free(failed_); }
    Matcher(const Matcher &) = delete;
    Matcher &operator=(const Matcher &) = delete;

    /* Matches every token against the whole text: 0, -10 or -12. */
    int run()
    {
        ERR_free(failed_);
        const size_t cells = (end_ + 1) * (s_.size() + 1);
        failed_ = static_cast<unsigned char *>(ERR_malloc(cells));
        if (!failed_) return ZEP_E_NOMEM;
        std::memset(failed_, 0, cells);
        clear(0);
        if (match(0, 0)) return 0;
        clear(0);
        return ZEP_E_NO_MATCH;
    }

    bool retry() const { return retry_; }

    /* Removes the first frame token and a literal directly before it. */
    void drop_frame()
    {
        size_t f = 0;
        while (f < end_ && tok_[f].kind != ZEP_NAME_TOKEN_FRAME) ++f;
        if (f == end_) return;
        size_t from = f, n = 1;
        if (f > 0 && tok_[f - 1].kind == ZEP_NAME_TOKEN_LITERAL) --from, ++n;
        std::memmove(&tok_[from], &tok_[from + n], (end_ + 1 - from - n) * sizeof *tok_);
        end_ -= n;
        retry_ = false;
    }

  private:
    void clear(size_t from)
    {
        for (size_t i = from; i < end_; ++i) {
            tok_[i].match = nullptr;
            tok_[i].match_length = 0;
            tok_[i].field = ZEP_NAME_FIELD_NONE;
        }
    }

    void take(size_t i, size_t p, size_t q)
    {
        tok_[i].match = s_.data() + p;
        tok_[i].match_length = static_cast<int32_t>(q - p);
    }

    std::string_view anchor_text(size_t i) const
    {
        if (tok_[i].kind == ZEP_NAME_TOKEN_EXT) return ext_;
        return {tok_[i].text, static_cast<size_t>(tok_[i].text_length)};
    }

    bool frame_before(size_t i) const
    {
        for (size_t k = 0; k < i; ++k)
            if (tok_[k].kind == ZEP_NAME_TOKEN_FRAME) return true;
        return false;
    }

    /* True when ext occurs in [p, end of text) between two delimiters: the
     * ends of that text or punctuation other than "_". */
    bool ext_delimited(size_t p) const
    {
        if (ext_.empty()) return false;
        auto delim = [&](size_t i) {
            const char c = s_[i];
            return c != '_' && is_punct(static_cast<unsigned char>(c));
        };
        for (size_t at = s_.find(ext_, p); at != std::string_view::npos; at = s_.find(ext_, at + 1)) {
            const size_t after = at + ext_.size();
            if ((at == p || delim(at - 1)) && (after == s_.size() || delim(after))) return true;
        }
        return false;
    }

    /* Tokens [t, end) against the text from offset p to its end. */
    bool match(size_t t, size_t p)
    {
        unsigned char &failed = failed_[t * (s_.size() + 1) + p];
        if (failed) return false;
        size_t a = t;
        while (a < end_ && !is_anchor(tok_[a])) ++a;
        if (a < end_) {
            const std::string_view at = anchor_text(a);
            size_t at_pos = at.empty() ? std::string_view::npos : s_.find(at, p);
            for (; at_pos != std::string_view::npos; at_pos = s_.find(at, at_pos + 1)) {
                clear(t);
                if (span(t, a, p, at_pos, true) && match(a + 1, at_pos + at.size())) {
                    take(a, at_pos, at_pos + at.size());
                    return true;
                }
            }
        }
        // No placement: the remaining text goes to the tokens before the
        // anchor, unless a later element needs text of its own.
        for (size_t k = p == s_.size() ? t : a; k < end_; ++k) {
            if (tok_[k].kind == ZEP_NAME_TOKEN_NAME) return failed = 1, false;
            if (tok_[k].kind == ZEP_NAME_TOKEN_EXT && ext_delimited(p)) {
                if (frame_before(k)) retry_ = true;
                return failed = 1, false;
            }
        }
        clear(t);
        if (span(t, a, p, s_.size(), false)) return true;
        failed = 1;
        return false;
    }

    /* Tokens [a, b) (names and a frame) take the text [p, q). `anchored`:
     * q is where an anchor was placed. */
    bool span(size_t a, size_t b, size_t p, size_t q, bool anchored)
    {
        if (a == b || p == q) return a == b && p == q;
        if (b - a == 1) return single(a, p, q);
        size_t f = a;
        while (f < b && tok_[f].kind != ZEP_NAME_TOKEN_FRAME) ++f;
        if (f == b) return false;
        Run last{0, 0}, before_last{0, 0};
        int runs = 0;
        for (size_t i = p; i < q;) {
            if (!is_digit(s_[i])) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j < q && is_digit(s_[j])) ++j;
            before_last = last;
            last = {i, j};
            ++runs;
            i = j;
        }
        if (runs == 0) {
            if (anchored) {
                retry_ = true;
                return false;
            }
            // No frame number at the end of the name: the frame stays
            // unmatched and the name takes the text.
            return f > a ? span(a, f, p, q, false) : span(f + 1, b, p, q, false);
        }
        Run r = last;
        if (runs > 1 && last.end == q && f + 1 < b && tok_[f + 1].kind == ZEP_NAME_TOKEN_NAME)
            r = before_last;
        if ((f == a && r.begin != p) || (f + 1 == b && r.end != q)) return false;
        take(f, r.begin, r.end);
        return span(a, f, p, r.begin, false) && span(f + 1, b, r.end, q, anchored);
    }

    bool single(size_t i, size_t p, size_t q)
    {
        ZEP_NAME_TOKEN &t = tok_[i];
        if (t.kind == ZEP_NAME_TOKEN_NAME) {
            take(i, p, q);
            return true;
        }
        if (t.kind != ZEP_NAME_TOKEN_FRAME) return false;
        size_t d = p;
        while (d < q && is_digit(s_[d])) ++d;
        if (d == q) {
            take(i, p, q);
            return true;
        }
        if (d == p) retry_ = true;
        const std::string_view rest = s_.substr(d, q - d);
        if (d > p && i + 1 == end_ && (rest == "e" || rest == "o")) {
            take(i, p, d);
            t.field = rest == "e" ? ZEP_NAME_FIELD_EVEN : ZEP_NAME_FIELD_ODD;
            return true;
        }
        return false;
    }

    ZEP_NAME_TOKEN *tok_;
    std::string_view ext_;
    std::string_view s_;
    size_t end_ = 0;
    unsigned char *failed_ = nullptr;
    bool retry_ = false;
};

/* A token array released when the scope ends. */
struct Tokens {
    ZEP_NAME_TOKEN *t = nullptr;
    ~Tokens() { ZEP_name_tokens_release(t); }
};

/* Upper- or lower-case form of an all-lower or all-upper extension when
 * base holds that form and not the extension itself. */
void match_case(char *ext, std::string_view base)
{
    bool lower = false, upper = false;
    for (char *c = ext; *c; ++c) {
        lower |= *c >= 'a' && *c <= 'z';
        upper |= *c >= 'A' && *c <= 'Z';
    }
    if (lower == upper || base.find(ext) != std::string_view::npos) return;
    char other[ZEP_PATHNAME_MAX];
    size_t n = 0;
    for (char *c = ext; *c; ++c)
        other[n++] = static_cast<char>(lower ? (*c >= 'a' && *c <= 'z' ? *c - 32 : *c)
                                             : (*c >= 'A' && *c <= 'Z' ? *c + 32 : *c));
    other[n] = 0;
    if (base.find(other) != std::string_view::npos) std::memcpy(ext, other, n + 1);
}

/* Appends the frame field of token t. */
void write_frame(Text &out, const ZEP_NAME_TOKEN &t, int mode, bool force, int caller, int &local)
{
    int value, width;
    if (t.match) {
        local = frame_number({t.match, static_cast<size_t>(t.match_length)});
        value = caller == -1 ? local : caller;
        width = t.match_length;
        if ((t.match[0] != '0' && t.match_length >= t.text_length) || force) width = t.text_length;
    } else {
        value = caller == -1 ? 1 : caller;
        width = t.text_length;
    }
    const char *marker = t.field == ZEP_NAME_FIELD_EVEN ? "e" : t.field == ZEP_NAME_FIELD_ODD ? "o" : "";
    if (width >= ZEP_PATHNAME_MAX) {
        out.overflow = true;
        return;
    }
    char field[ZEP_PATHNAME_MAX + 16];
    if (mode == ZEP_PATHNAME_WILDCARD) {
        out.append_raw("*");
        return;
    }
    if (mode == ZEP_PATHNAME_TEMPLATE)
        std::snprintf(field, sizeof field, "%%0%dd", width);
    else if (value == -1)
        field[0] = 0;
    else
        std::snprintf(field, sizeof field, "%0*d", width, value);
    out.append_raw(field);
    out.append_raw(marker);
}

} // namespace
} // namespace zep::naming

using namespace zep::naming;

uint8_t ZEP_pathname_build_from_name_syntax(const char *syntax, const char *name, const char *key,
                                            const char *extension, int mode, int *frame,
                                            char *path, char *base, const ZEP_FILE_TYPE **format,
                                            uint8_t force)
{
    const ZEP_FILE_TYPE *fmt = key ? ZEP_find(key) : nullptr;
    if (!fmt) {
        zep__err = ZEP_E_KEY;
        return 0;
    }
    if (!syntax || !*syntax) syntax = fmt->name_syntax;
    if (!syntax || !*syntax) syntax = kDefaultSyntax;
    Tokens tokens;
    if (!ZEP_parse_name_syntax(syntax, &tokens.t, 0)) return 0;
    if (!name || !*name) {
        zep__err = ZEP_E_NO_NAME;
        return 0;
    }
    const char *slash = std::strrchr(name, '/');
    const std::string_view dir(name, slash ? slash + 1 - name : 0);
    const std::string_view base_part(name + dir.size());

    char ext[ZEP_PATHNAME_MAX];
    if (!extension || !*extension) {
        extension = fmt->extension ? fmt->extension : "";
        if (*extension == '.') ++extension;
    }
    if (std::strlen(extension) >= sizeof ext) {
        zep__err = ZEP_E_TOO_LONG;
        return 0;
    }
    std::strcpy(ext, extension);
    match_case(ext, base_part);
    if (!frame || !path) {
        zep__err = ZEP_E_NULL_ARG;
        return 0;
    }
    if (mode < 0 || mode > ZEP_PATHNAME_TEMPLATE) mode = ZEP_PATHNAME_FRAME;

    Matcher m(tokens.t, ext, base_part);
    int rc = m.run();
    if (rc == ZEP_E_NO_MATCH && m.retry()) {
        m.drop_frame();
        rc = m.run();
    }
    if (rc != 0) {
        zep__err = rc;
        return 0;
    }

    Text out, base_name;
    out.doubling = mode == ZEP_PATHNAME_TEMPLATE;
    out.append(dir);
    const bool stop_early = !force && readable_file(name);
    int local = -1;
    for (const ZEP_NAME_TOKEN *t = tokens.t; t->kind != ZEP_NAME_TOKEN_END; ++t) {
        if (!t->match && stop_early) break;
        switch (t->kind) {
        case ZEP_NAME_TOKEN_EXT:
            out.append(ext);
            break;
        case ZEP_NAME_TOKEN_NAME: {
            const std::string_view text = t->match ? std::string_view(t->match, t->match_length) : "";
            out.append(text);
            base_name.append(text);
            break;
        }
        case ZEP_NAME_TOKEN_LITERAL: {
            const std::string_view text(t->text, t->text_length);
            out.append(text);
            if (t[1].kind == ZEP_NAME_TOKEN_NAME) base_name.append(text);
            break;
        }
        case ZEP_NAME_TOKEN_FRAME:
            write_frame(out, *t, mode, force, *frame, local);
            break;
        }
    }
    if (out.overflow || base_name.overflow) {
        zep__err = ZEP_E_TOO_LONG;
        return 0;
    }
    out.copy_to(path);
    if (base) base_name.copy_to(base);
    if (format) *format = fmt;
    *frame = local;
    zep__err = 0;
    return 1;
}

uint8_t ZEP_pathname_build(const char *syntax, const char *name, const char *key,
                           const char *extension, int mode, uint8_t force, int *frame, char *path,
                           char *base, const char **key_out, const ZEP_FILE_TYPE **format)
{
    if (!syntax)
        return ZEP_pathname_build_no_name_syntax(name, key, mode, force, frame, path, base, key_out,
                                                 format);
    if (key_out) *key_out = key;
    return ZEP_pathname_build_from_name_syntax(syntax, name, key, extension, mode, frame, path,
                                               base, format, force);
}
