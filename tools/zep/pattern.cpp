// zep pattern OUT: writes a generated test image. Every image of the file
// has the same window (0..width-1 by 0..height-1), active window and
// channel groups: colour channels, mattes and auxiliary channels, all of one
// element type. Samples are a value v in [0, 1] scaled to the group's full
// range (2^bits - 1 for integers, 1 for float and double), and 0 outside
// the active window:
//   constant  v = --value everywhere;
//   gradient  channel k of image i runs left to right, bottom to top or
//             along the diagonal, as (k + i) mod 3 is 0, 1 or 2;
//   checker   squares of --size pixels, 0 and 1, shifted by one square per
//             channel and per image;
//   noise     a hash of (x, y, channel, image, --seed): integer samples
//             take the hash's low bits, float and double samples the hash
//             over 2^32.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common.h"
#include "scanlines.h"

namespace zep::tool {

namespace {

struct PatternOptions {
    std::string out;
    std::string key;
    int width = 64;
    int height = 48;
    int channels = 3;
    int mattes = 0;
    int aux = 0;
    std::string type;
    int bits = 0;
    bool as_float = false;
    bool as_double = false;
    std::string pattern = "gradient";
    std::vector<int> active; // L,R,B,T
    int images = 1;
    double value = 0.5;
    int size = 8;
    unsigned seed = 1;
    double gamma = 1.0;
    bool verbose = false;
};

uint32_t hash(uint32_t x, uint32_t y, uint32_t k, uint32_t i, uint32_t seed)
{
    uint32_t h = seed * 0x9e3779b9u;
    for (uint32_t v : {x, y, k, i}) {
        h ^= v + 0x7f4a7c15u + (h << 6) + (h >> 2);
        h *= 0x85ebca6bu;
        h ^= h >> 13;
    }
    h *= 0xc2b2ae35u;
    return h ^ (h >> 16);
}

// Sample (x, y) of channel k of image i, in the group's own scale.
double sample(const PatternOptions &o, const ZEP_CHAN_GROUP &g, int k, int i, int x, int y)
{
    const double top = full_scale(g);
    if (o.pattern == "constant") return o.value * top;
    if (o.pattern == "checker") {
        const int phase = x / o.size + y / o.size + k + i;
        return (phase & 1) ? top : 0.0;
    }
    if (o.pattern == "noise") {
        const uint32_t h = hash(uint32_t(x), uint32_t(y), uint32_t(k), uint32_t(i), o.seed);
        if (g.type != ZEP_C_INTEGER) return std::ldexp(double(h), -32);
        return g.width >= 32 ? double(h) : double(h & ((1u << g.width) - 1));
    }
    // gradient
    const double w = o.width > 1 ? o.width - 1 : 1;
    const double h = o.height > 1 ? o.height - 1 : 1;
    switch ((k + i) % 3) {
    case 0:
        return x / w * top;
    case 1:
        return y / h * top;
    default:
        return (x + y) / (w + h) * top;
    }
}

// The element type and width every group gets, from --type or --bits with
// --float / --double. False after printing the error line.
bool element(const PatternOptions &o, int *type, int *width)
{
    if (o.as_float && o.as_double) {
        fail("pattern", "--float and --double exclude each other");
        return false;
    }
    *type = o.as_double ? ZEP_C_DOUBLE : o.as_float ? ZEP_C_FLOAT : ZEP_C_INTEGER;
    *width = o.as_double ? 64 : o.as_float ? 32 : o.bits > 0 ? o.bits : 8;
    if (o.type.empty()) return true;
    if (o.bits > 0 || o.as_float || o.as_double) {
        fail("pattern", "--type excludes --bits, --float and --double");
        return false;
    }
    struct Name {
        const char *name;
        int type, width;
    };
    static constexpr Name kNames[] = {{"int8", ZEP_C_INTEGER, 8},
                                      {"int16", ZEP_C_INTEGER, 16},
                                      {"int32", ZEP_C_INTEGER, 32},
                                      {"float", ZEP_C_FLOAT, 32},
                                      {"double", ZEP_C_DOUBLE, 64}};
    for (const Name &n : kNames)
        if (o.type == n.name) {
            *type = n.type;
            *width = n.width;
            return true;
        }
    return false; // the option's own check refuses other names
}

// The image description of the pattern, or false after printing why.
bool describe(const PatternOptions &o, ZEP_IMAGE_DESC *d)
{
    int type = 0, width = 0;
    if (!element(o, &type, &width)) return false;
    if (o.channels + o.mattes + o.aux < 1) {
        fail("pattern", "the image needs at least one channel");
        return false;
    }
    *d = ZEP_IMAGE_DESC{};
    d->usage = 1;
    d->response = {ZEP_CURVE_ANALYTIC, float(o.gamma), 0u, 1, 256, ZEP_C_INTEGER, 8, nullptr};
    d->aspect_width = o.width;
    d->aspect_height = o.height;
    d->aspect_ratio = float(o.width) / float(o.height);
    d->window = {0, o.width - 1, 0, o.height - 1};
    d->active = d->window;
    if (!o.active.empty()) {
        d->active = {o.active[0], o.active[1], o.active[2], o.active[3]};
        const ZEP_WINDOW &a = d->active;
        if (a.left > a.right || a.bottom > a.top || a.left < 0 || a.bottom < 0 ||
            a.right >= o.width || a.top >= o.height) {
            fail("pattern", "--active L,R,B,T must lie inside the window 0," +
                                std::to_string(o.width - 1) + ",0," + std::to_string(o.height - 1));
            return false;
        }
    }
    d->planar = 1;
    static char rgb[] = "rgb", raw[] = "raw";
    d->chan = {o.channels == 3 ? rgb : raw, o.channels, type, width};
    d->matte = {raw, o.mattes, type, width};
    d->aux = {raw, o.aux, type, width};
    d->index = {nullptr, 0, ZEP_C_INTEGER, 16};
    return true;
}

// Writes image i through w. False after printing the error line.
bool write_image(const PatternOptions &o, ZEP_OBJECT *w, int i, const OutputFile &file,
                 Progress &bar)
{
    ZEP_IMAGE_DESC &d = w->info.images[i];
    ImageSelect select(w, i);
    clear_report();
    LineBuffer line(d, o.width);
    if (!line.table) {
        file.fail();
        return false;
    }
    const ZEP_WINDOW &a = d.active;
    for (int y = 0; y < o.height; ++y) {
        int k = 0;
        for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux})
            for (int c = 0; c < g->count; ++c, ++k)
                for (int x = 0; x < o.width; ++x) {
                    const bool active = x >= a.left && x <= a.right && y >= a.bottom && y <= a.top;
                    store_sample(line.table[k], *g, x, active ? sample(o, *g, k, i, x, y) : 0.0);
                }
        clear_report();
        if (ZEP_scan_write(w, line_number(w, d, y), line.table) != 0) {
            file.fail();
            return false;
        }
        bar.advance();
    }
    return true;
}

int run_pattern(const PatternOptions &o)
{
    ZEP_IMAGE_DESC d;
    if (!describe(o, &d)) return kExitError;

    Session session;
    if (!session.ok()) return kExitError;
    const ZEP_FILE_TYPE *format = output_format(o.out, o.key);
    if (!format) return kExitError;

    std::vector<ZEP_IMAGE_DESC> images(size_t(o.images), d);
    const std::string name = STR_tail(o.out.c_str());
    const std::string desc = "zep pattern: " + o.pattern;
    ZEP_INFO info;
    ZEP_info_init(&info);
    info.num_images = o.images;
    info.images = images.data();
    if (!fits_format(o.out, *format, info)) return kExitError;

    OutputFile file(o.out, *format);
    info.key = const_cast<char *>(format->key);
    info.handle = const_cast<char *>(file.write_name().c_str());
    info.full_path = 1;
    info.name = const_cast<char *>(name.c_str());
    info.desc = const_cast<char *>(desc.c_str());
    info.program = const_cast<char *>("zep");
    clear_report();
    ZEP_OBJECT *w = ZEP_open(&info, "w");
    ZEP_info_cleanup(&info, 0);
    if (!w) return file.fail();

    bool ok = true;
    {
        Progress bar(o.verbose, "writing " + o.out, int64_t(o.height) * o.images);
        for (int i = 0; ok && i < o.images; ++i)
            ok = write_image(o, w, i, file, bar);
    }
    clear_report();
    if (ZEP_close(w) != 0 && ok) {
        file.fail();
        ok = false;
    }
    if (!ok || !file.commit()) return kExitError;

    if (std::strcmp(format->key, "pipe") != 0) {
        const std::string group = group_type(d.chan);
        std::printf("wrote %s (%s): %d image%s of %dx%d, %d colour, %d matte, %d aux channels "
                    "of %s, %s\n",
                    o.out.c_str(), format->key, o.images, o.images == 1 ? "" : "s", o.width,
                    o.height, o.channels, o.mattes, o.aux, group.c_str(), o.pattern.c_str());
    }
    return kExitOk;
}

} // namespace

void add_pattern(CLI::App &app, int &status)
{
    auto o = std::make_shared<PatternOptions>();
    CLI::App *cmd = app.add_subcommand(
        "pattern", "Write a generated test image to OUT, in the format of OUT's extension "
                   "or of --key.");
    cmd->add_option("OUT", o->out, "File to write")->required();
    cmd->add_option("-k,--key", o->key, "Output format key (see zep formats)");
    cmd->add_option("--width", o->width, "Width in pixels")
        ->check(CLI::Range(1, 32767))
        ->capture_default_str();
    cmd->add_option("--height", o->height, "Height in pixels")
        ->check(CLI::Range(1, 32767))
        ->capture_default_str();
    cmd->add_option("--channels", o->channels, "Colour channels")
        ->check(CLI::Range(0, 32767))
        ->capture_default_str();
    cmd->add_option("--matte", o->mattes, "Matte channels")
        ->check(CLI::Range(0, 32767))
        ->capture_default_str();
    cmd->add_option("--aux", o->aux, "Auxiliary (depth) channels")
        ->check(CLI::Range(0, 32767))
        ->capture_default_str();
    cmd->add_option("--type", o->type, "Element type of every channel")
        ->check(CLI::IsMember({"int8", "int16", "int32", "float", "double"}));
    cmd->add_option("--bits", o->bits, "Integer width in bits (default 8)")
        ->check(CLI::Range(1, 32));
    cmd->add_flag("--float", o->as_float, "32-bit float channels");
    cmd->add_flag("--double", o->as_double, "64-bit double channels");
    cmd->add_option("--pattern", o->pattern, "What the samples show")
        ->check(CLI::IsMember({"constant", "gradient", "checker", "noise"}))
        ->capture_default_str();
    cmd->add_option("--active", o->active, "Active window L,R,B,T (default: the whole window)")
        ->expected(4)
        ->delimiter(',');
    cmd->add_option("--images", o->images, "Images in the file")
        ->check(CLI::Range(1, 1000))
        ->capture_default_str();
    cmd->add_option("--value", o->value, "Level of the constant pattern, 0 to 1")
        ->check(CLI::Range(0.0, 1.0))
        ->capture_default_str();
    cmd->add_option("--size", o->size, "Square size of the checker pattern")
        ->check(CLI::Range(1, 32767))
        ->capture_default_str();
    cmd->add_option("--seed", o->seed, "Seed of the noise pattern")->capture_default_str();
    cmd->add_option("--gamma", o->gamma, "Gamma of the response curve")
        ->check(CLI::Range(0.01, 100.0))
        ->capture_default_str();
    cmd->add_flag("-v,--verbose", o->verbose,
                  "Show a progress bar on standard error when it is a terminal");
    cmd->callback([&status, o] { status = run_pattern(*o); });
}

} // namespace zep::tool
