// zep info FILE...: what each file holds. The file-level description
// (format, names, program, machine, user, date, elapsed time, filter,
// compression, job, frame, field, primaries and white point) and, for every
// image, its windows, channel groups, gamma and picture format. --json
// writes the same as one JSON array with an object per file.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common.h"

namespace zep::tool {

namespace {

struct InfoOptions {
    std::vector<std::string> files;
    std::string key;
    bool json = false;
};

// ---- text output -----------------------------------------------------------

// A string field for the terminal: "-" when unset, control characters as '?'.
std::string plain(const char *s)
{
    if (!s || !*s) return "-";
    std::string out(s);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

std::string number(double v)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6g", v);
    return buffer;
}

std::string window_text(const ZEP_WINDOW &w)
{
    return "x " + std::to_string(w.left) + ".." + std::to_string(w.right) + ", y " +
           std::to_string(w.bottom) + ".." + std::to_string(w.top) + " (" +
           std::to_string(window_width(w)) + " x " + std::to_string(window_height(w)) + ")";
}

std::string group_text(const ZEP_CHAN_GROUP &g)
{
    if (g.count <= 0) return "none";
    return std::to_string(g.count) + " x " + type_name(g.type) + " " + std::to_string(g.width) +
           "-bit, " + plain(g.format);
}

void print_text(const std::string &path, const ZEP_OBJECT *h)
{
    const ZEP_INFO &in = h->info;
    auto row = [](const char *label, const std::string &value) {
        std::printf("  %-13s %s\n", label, value.c_str());
    };
    auto xy = [](const float *p) { return number(p[0]) + " " + number(p[1]); };
    std::printf("%s\n", path.c_str());
    std::string format = plain(in.key);
    if (h->file_type && h->file_type->name) format += " (" + plain(h->file_type->name) + ")";
    row("format", format);
    row("images", std::to_string(in.num_images));
    row("name", plain(in.name));
    row("description", plain(in.desc));
    row("program", plain(in.program));
    row("machine", plain(in.machine));
    row("user", plain(in.user));
    row("date", plain(in.date));
    row("elapsed time", plain(in.time));
    row("filter", plain(in.filter));
    row("compression", plain(in.compression));
    row("job", std::to_string(in.job_num));
    row("frame", std::to_string(in.frame));
    row("field", std::to_string(in.field));
    row("primaries", "red " + xy(in.red_pri) + ", green " + xy(in.green_pri) + ", blue " +
                         xy(in.blue_pri));
    row("white point", xy(in.white_pt));
    for (int i = 0; i < in.num_images; ++i) {
        const ZEP_IMAGE_DESC &d = in.images[i];
        std::printf("  image %d\n", i);
        auto irow = [](const char *label, const std::string &value) {
            std::printf("    %-11s %s\n", label, value.c_str());
        };
        irow("window", window_text(d.window));
        irow("active", window_text(d.active));
        irow("colour", group_text(d.chan));
        irow("matte", group_text(d.matte));
        irow("aux", group_text(d.aux));
        if (d.index.count > 0) irow("index", group_text(d.index));
        irow("gamma", number(d.response.gamma) +
                          (d.response.kind == ZEP_CURVE_SAMPLED ? " (sampled curve)" : ""));
        irow("aspect", plain(d.aspect_name) + ", " + std::to_string(d.aspect_width) + " x " +
                           std::to_string(d.aspect_height) + ", ratio " +
                           number(d.aspect_ratio));
    }
}

// ---- JSON output -----------------------------------------------------------

bool valid_utf8(const std::string &s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3
                                                            : (c >> 3) == 30    ? 4
                                                                                : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += n;
    }
    return true;
}

// A JSON string, or null for an unset field. Text that is not UTF-8 is
// taken byte by byte as Latin-1.
std::string jstr(const char *s)
{
    if (!s) return "null";
    const std::string in(s);
    const bool utf8 = valid_utf8(in);
    std::string out = "\"";
    for (char ch : in) {
        const auto c = static_cast<unsigned char>(ch);
        char buffer[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7f || (c >= 0x80 && !utf8)) {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

// The shortest text that reads back as the same float; null for NaN and
// infinities, which JSON cannot hold.
std::string jnum(float v)
{
    if (!std::isfinite(v)) return "null";
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
    return std::string(buffer, end);
}

std::string jwindow(const ZEP_WINDOW &w)
{
    return "{\"left\": " + std::to_string(w.left) + ", \"right\": " + std::to_string(w.right) +
           ", \"bottom\": " + std::to_string(w.bottom) + ", \"top\": " + std::to_string(w.top) +
           ", \"width\": " + std::to_string(window_width(w)) +
           ", \"height\": " + std::to_string(window_height(w)) + "}";
}

std::string jgroup(const ZEP_CHAN_GROUP &g)
{
    return "{\"count\": " + std::to_string(g.count) + ", \"type\": " + jstr(type_name(g.type).c_str()) +
           ", \"width\": " + std::to_string(g.width) + ", \"format\": " + jstr(g.format) + "}";
}

std::string jtriple(const float *p)
{
    return "[" + jnum(p[0]) + ", " + jnum(p[1]) + ", " + jnum(p[2]) + "]";
}

std::string json_of(const std::string &path, const ZEP_OBJECT *h)
{
    const ZEP_INFO &in = h->info;
    std::string o = "  {\n";
    auto field = [&o](const char *name, const std::string &value, bool last = false) {
        o += "    \"" + std::string(name) + "\": " + value + (last ? "\n" : ",\n");
    };
    field("file", jstr(path.c_str()));
    field("format", jstr(in.key));
    field("format_name", jstr(h->file_type ? h->file_type->name : nullptr));
    field("name", jstr(in.name));
    field("description", jstr(in.desc));
    field("program", jstr(in.program));
    field("machine", jstr(in.machine));
    field("user", jstr(in.user));
    field("date", jstr(in.date));
    field("elapsed_time", jstr(in.time));
    field("filter", jstr(in.filter));
    field("compression", jstr(in.compression));
    field("job", std::to_string(in.job_num));
    field("frame", std::to_string(in.frame));
    field("field", std::to_string(in.field));
    field("primaries", "{\"red\": " + jtriple(in.red_pri) + ", \"green\": " +
                           jtriple(in.green_pri) + ", \"blue\": " + jtriple(in.blue_pri) + "}");
    field("white_point", jtriple(in.white_pt));
    std::string images = "[";
    for (int i = 0; i < in.num_images; ++i) {
        const ZEP_IMAGE_DESC &d = in.images[i];
        images += std::string(i ? "," : "") + "\n      {\"window\": " + jwindow(d.window) +
                  ",\n       \"active\": " + jwindow(d.active) +
                  ",\n       \"colour\": " + jgroup(d.chan) + ",\n       \"matte\": " +
                  jgroup(d.matte) + ",\n       \"aux\": " + jgroup(d.aux) +
                  ",\n       \"index\": " + jgroup(d.index) +
                  ",\n       \"gamma\": " + jnum(d.response.gamma) + ", \"response\": " +
                  (d.response.kind == ZEP_CURVE_SAMPLED ? "\"sampled\"" : "\"analytic\"") +
                  ",\n       \"aspect\": {\"name\": " + jstr(d.aspect_name) +
                  ", \"width\": " + std::to_string(d.aspect_width) +
                  ", \"height\": " + std::to_string(d.aspect_height) +
                  ", \"ratio\": " + jnum(d.aspect_ratio) + "}}";
    }
    images += in.num_images ? "\n    ]" : "]";
    field("images", images, true);
    return o + "  }";
}

int run_info(const InfoOptions &opt)
{
    Session session;
    if (!session.ok()) return kExitError;
    int status = kExitOk;
    std::vector<std::string> objects;
    for (const std::string &path : opt.files) {
        ZEP_OBJECT *h = open_read(path, opt.key);
        if (!h) {
            status = kExitError;
            continue;
        }
        if (opt.json)
            objects.push_back(json_of(path, h));
        else
            print_text(path, h);
        ZEP_close(h);
    }
    if (opt.json) {
        std::string out = "[";
        for (std::size_t i = 0; i < objects.size(); ++i)
            out += (i ? ",\n" : "\n") + objects[i];
        out += objects.empty() ? "]\n" : "\n]\n";
        std::fputs(out.c_str(), stdout);
    }
    return status;
}

} // namespace

void add_info(CLI::App &app, int &status)
{
    auto opt = std::make_shared<InfoOptions>();
    CLI::App *cmd = app.add_subcommand(
        "info", "Describe image files: format, names, program, dates, colour primaries and, "
                "for every image, windows, channel groups, gamma and picture format.");
    cmd->add_option("files", opt->files, "Image files to describe")->required();
    cmd->add_option("-k,--key", opt->key,
                    "Read with this format (key or extension) instead of detecting it");
    cmd->add_flag("--json", opt->json, "Write one JSON array with an object per file");
    cmd->callback([opt, &status] { status = run_info(*opt); });
}

} // namespace zep::tool
