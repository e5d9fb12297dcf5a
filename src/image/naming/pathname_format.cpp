/*
 * The path-name builder for formats without a name syntax.
 *
 * Such a format composes frame names with its printf format string, base
 * name, frame number, extension ("%s.%04.4d%s"). What follows the base
 * name's "%s" is the frame part (".%04.4d"): literal text, one integer
 * conversion, literal text. The builder finds where the name holds that
 * frame part (the literal text followed by digits, or trailing digits, or a
 * "%04f"-style conversion the user typed), adapts the conversion to the
 * digit count it found, and writes the name back with the frame field of
 * the build mode.
 *
 * A frame part is kept as three pieces, prefix text, conversion and suffix
 * text, with the format's "%%" already turned into "%", so that a "%" typed
 * in a name can never reach printf as a conversion.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <zep/error.h>
#include <zep/naming.h>

#include "image/core/registry.h"
#include "image/naming/naming.h"

namespace zep::naming {
namespace {

constexpr const char kDefaultFormatString[] = "%s.%04.4d%s";
constexpr size_t kNameMax = 259;

/* A frame part: prefix, an integer conversion ("%04.4d"), suffix. */
struct FramePart {
    Text prefix;
    char conv[24] = {};
    Text suffix;
    int width = 0;          /* the number after "%" */
    bool zero_flag = false; /* the conversion starts "%0" */

    bool empty() const { return !conv[0] && !prefix.size() && !suffix.size(); }
    /* The character that must follow the frame digits in a name. */
    char after() const { return suffix.size() ? suffix.c_str()[0] : 0; }

    /* Sets the conversion to "%0<digits>d" (leading zero) or "%d". */
    void rebuild(size_t digits, bool leading_zero)
    {
        if (leading_zero)
            std::snprintf(conv, sizeof conv, "%%0%zud", digits);
        else
            std::strcpy(conv, "%d");
        zero_flag = leading_zero;
        width = leading_zero ? static_cast<int>(digits) : 0;
    }
};

/* Reads a conversion at text[0] == '%': "%" digits ["." digits] "d" or, with
 * `letter` 'f', the same ending in "f". Returns its length, or 0. Widths and
 * precisions have at most three digits. */
size_t conversion_length(std::string_view text, char letter)
{
    size_t i = 1, n = 0;
    while (i < text.size() && is_digit(text[i]) && n < 4) ++i, ++n;
    if (n > 3) return 0;
    if (i < text.size() && text[i] == '.') {
        ++i, n = 0;
        while (i < text.size() && is_digit(text[i]) && n < 4) ++i, ++n;
        if (n > 3) return 0;
    }
    return i < text.size() && text[i] == letter ? i + 1 : 0;
}

/* Splits a frame part written as printf text. 0, or -11 when it holds no
 * conversion starting "%0" or "%d" or anything but one integer conversion. */
int parse_frame_part(std::string_view fp, FramePart &out)
{
    Text *side = &out.prefix;
    for (size_t i = 0; i < fp.size(); ++i) {
        if (fp[i] != '%') {
            side->append_raw(fp.substr(i, 1));
            continue;
        }
        if (i + 1 < fp.size() && fp[i + 1] == '%') {
            side->append_raw("%");
            ++i;
            continue;
        }
        const size_t n = conversion_length(fp.substr(i), 'd');
        if (side != &out.prefix || i + 1 >= fp.size() || (fp[i + 1] != '0' && fp[i + 1] != 'd') ||
            n == 0)
            return ZEP_E_SYNTAX;
        std::memcpy(out.conv, fp.data() + i, n);
        out.conv[n] = 0;
        out.zero_flag = fp[i + 1] == '0';
        out.width = std::atoi(out.conv + 1);
        side = &out.suffix;
        i += n - 1;
    }
    return side == &out.suffix ? 0 : ZEP_E_SYNTAX;
}

/* The frame part of a format string: what follows its last "%s" once a
 * trailing "%s" is dropped. */
std::string_view frame_part_text(std::string_view fs)
{
    if (fs.size() > 2 && fs.ends_with("%s")) fs.remove_suffix(2);
    const size_t s = fs.rfind("%s");
    return s == std::string_view::npos ? fs : fs.substr(s + 2);
}

bool ends_with(std::string_view name, const char *ext)
{
    return ext && *ext && name.ends_with(ext);
}

const ZEP_FILE_TYPE *format_for(const char *name, const char *key)
{
    if (key) return ZEP_find(key);
    const ZEP_FILE_TYPE *def = ZEP_find(ZEP_def_key());
    if (def && ends_with(name, def->extension)) return def;
    return find_by_name_ending(name);
}

/* Where the frame of `name` (cut to [0, end)) begins, with the frame part
 * adapted to what was found and the number read into `found`; npos when
 * the name holds no frame. `base` is where its last component starts. */
size_t find_frame(std::string_view name, size_t base, bool ext_cut, FramePart &fp, int &found)
{
    found = -1;
    const std::string_view b = name.substr(base);
    // A conversion typed in the name ("foo.%04f") becomes the frame part,
    // together with the literal text before it that the format shares.
    for (size_t i = 0; i < b.size(); ++i) {
        if (b[i] != '%') continue;
        const size_t n = conversion_length(b.substr(i), 'f');
        if (!n) continue;
        const std::string_view lit = fp.prefix.view();
        size_t k = 0;
        while (k < lit.size() && k < i && b[i - 1 - k] == lit[lit.size() - 1 - k]) ++k;
        FramePart typed;
        typed.prefix.append_raw(b.substr(i - k, k));
        std::memcpy(typed.conv, b.data() + i, n);
        typed.conv[n - 1] = 'd';
        typed.zero_flag = b[i + 1] == '0';
        typed.width = std::atoi(typed.conv + 1);
        typed.suffix.append_raw(b.substr(i + n));
        fp = typed;
        return base + i - k;
    }
    size_t digits_end = b.size(), digits_begin = b.size();
    while (digits_begin > 0 && is_digit(b[digits_begin - 1])) --digits_begin;
    const std::string_view lit = fp.prefix.view();
    if (!lit.empty()) {
        const size_t at = b.rfind(lit[0]);
        if (at == std::string_view::npos) {
            if (!ext_cut || digits_begin == digits_end) return std::string_view::npos;
            const std::string_view d = b.substr(digits_begin);
            fp = FramePart{};
            fp.rebuild(d.size(), d[0] == '0');
            found = frame_number(d);
            return base + digits_begin;
        }
        if (b.substr(at, lit.size()) != lit) return std::string_view::npos;
        size_t j = at + lit.size(), e = j;
        while (e < b.size() && is_digit(b[e])) ++e;
        const char next = e < b.size() ? b[e] : 0;
        if (e == j || next != fp.after()) return std::string_view::npos;
        const size_t d = e - j, w = static_cast<size_t>(fp.width);
        const bool zero = b[j] == '0';
        if (!(d == w || (d > w && !zero))) {
            fp.rebuild(d, zero);
            fp.suffix = Text{};
            fp.suffix.append_raw(b.substr(e));
        }
        found = frame_number(b.substr(j, d));
        return base + at;
    }
    // The frame part starts with its conversion: the trailing digits.
    if (digits_begin == digits_end) return std::string_view::npos;
    if (fp.zero_flag && digits_end - digits_begin > static_cast<size_t>(fp.width))
        digits_begin = digits_end - fp.width;
    const std::string_view d = b.substr(digits_begin);
    if (!(fp.zero_flag && d.size() == static_cast<size_t>(fp.width))) {
        fp = FramePart{};
        fp.rebuild(d.size(), d[0] == '0');
    }
    found = frame_number(d);
    return base + digits_begin;
}

/* Appends the frame field of the mode. */
void write_frame(Text &out, const FramePart &fp, int mode, int frame)
{
    if (mode == ZEP_PATHNAME_FRAME && frame < 0) return;
    out.append(fp.prefix.view());
    if (mode == ZEP_PATHNAME_WILDCARD) {
        out.append_raw("*");
    } else if (mode == ZEP_PATHNAME_TEMPLATE) {
        out.append_raw(fp.conv);
    } else if (fp.conv[0]) {
        char digits[1100];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        // conv is one checked integer conversion of at most 3-digit width
        // and precision.
        std::snprintf(digits, sizeof digits, fp.conv, frame);
#pragma GCC diagnostic pop
        out.append_raw(digits);
    }
    out.append(fp.suffix.view());
}

} // namespace
} // namespace zep::naming

using namespace zep::naming;

uint8_t ZEP_pathname_build_no_name_syntax(const char *name, const char *key, int mode,
                                          uint8_t force, int *frame, char *path, char *base,
                                          const char **key_out, const ZEP_FILE_TYPE **format)
{
    if (!path || !frame) {
        zep__err = ZEP_E_NULL_ARG;
        return 0;
    }
    if (!name || !*name) {
        zep__err = ZEP_E_NO_NAME;
        return 0;
    }
    const std::string_view full(name);
    if (full.size() > kNameMax) {
        zep__err = ZEP_E_TOO_LONG;
        return 0;
    }
    const ZEP_FILE_TYPE *fmt = format_for(name, key);
    if (!fmt) {
        zep__err = ZEP_E_KEY;
        return 0;
    }
    if (key_out) *key_out = fmt->key;
    if (format) *format = fmt;
    if (mode < 0 || mode > ZEP_PATHNAME_TEMPLATE) mode = ZEP_PATHNAME_FRAME;

    const char *ext = fmt->extension ? fmt->extension : "";
    FramePart fp;
    const std::string_view fp_text =
        frame_part_text(fmt->format_string ? fmt->format_string : kDefaultFormatString);
    const bool has_frame_part = !fp_text.empty();
    if (has_frame_part) {
        if (int rc = parse_frame_part(fp_text, fp); rc != 0) {
            zep__err = rc;
            return 0;
        }
    }

    size_t end = full.size();
    const bool ext_cut = ends_with(full, ext);
    if (ext_cut) end -= std::strlen(ext);
    const std::string_view cut = full.substr(0, end);
    const size_t slash = cut.rfind('/');
    const size_t base_at = slash == std::string_view::npos ? 0 : slash + 1;

    size_t frame_at = std::string_view::npos;
    if (has_frame_part) {
        int found;
        frame_at = find_frame(cut, base_at, ext_cut, fp, found);
        if (frame_at != std::string_view::npos) {
            end = frame_at;
            if (*frame < 0 && found >= 0) *frame = found;
        }
    } else {
        *frame = -1;
    }

    Text out;
    out.append_raw(full.substr(0, end));
    Text base_name;
    base_name.append_raw(full.substr(base_at, end - base_at));
    out.doubling = mode == ZEP_PATHNAME_TEMPLATE;
    if (out.doubling) out.double_percent();

    const bool frame_found = frame_at != std::string_view::npos;
    if (!frame_found && ext_cut) {
        *frame = -1;
        out.append(ext);
    } else if (!frame_found && !force && !fmt->add_extension && readable_file(name)) {
        *frame = -1;
    } else {
        if (has_frame_part) write_frame(out, fp, mode, *frame);
        if (fmt->add_extension || ext_cut) out.append(ext);
    }
    if (out.overflow) {
        zep__err = ZEP_E_TOO_LONG;
        return 0;
    }
    out.copy_to(path);
    if (base) base_name.copy_to(base);
    return 1;
}
