/*
 * Writes the seed corpus of the RLA fuzz target into the folder named on
 * the command line: a handful of small valid files made by the library's
 * own writer, one for each shape the reader must handle (8-bit, 16-bit and
 * float colours, mattes, auxiliary channels, an active window smaller than
 * the window, a two-image chain, the older header layout).
 */
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>

#include <zep/zep.h>

#include "image/core/core.h"

namespace {

struct Group {
    int count, type, width;
};

struct Seed {
    const char *file;
    int images;
    Group colour, matte, aux;
    ZEP_WINDOW window, active;
    bool older; // the revision word cleared after writing
};

// clang-format off
constexpr Seed kSeeds[] = {
    {"rgb8.rla", 1, {3, ZEP_C_INTEGER, 8}, {0, ZEP_C_INTEGER, 8}, {0, ZEP_C_INTEGER, 8}, {0, 15, 0, 9}, {0, 15, 0, 9}, false},
    {"rgba16.rla", 1, {3, ZEP_C_INTEGER, 16}, {1, ZEP_C_INTEGER, 16}, {0, ZEP_C_INTEGER, 8}, {0, 11, 0, 7}, {0, 11, 0, 7}, false},
    {"float_depth.rla", 1, {3, ZEP_C_FLOAT, 32}, {1, ZEP_C_FLOAT, 32}, {1, ZEP_C_FLOAT, 32}, {0, 7, 0, 5}, {0, 7, 0, 5}, false},
    {"double_12bit.rla", 1, {1, ZEP_C_DOUBLE, 64}, {1, ZEP_C_INTEGER, 12}, {2, ZEP_C_INTEGER, 24}, {0, 5, 0, 4}, {0, 5, 0, 4}, false},
    {"active_window.rla", 1, {3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}, {0, ZEP_C_INTEGER, 8}, {0, 19, 0, 11}, {4, 13, 3, 8}, false},
    {"chain2.rla", 2, {3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}, {0, ZEP_C_INTEGER, 8}, {0, 9, 0, 5}, {1, 8, 1, 4}, false},
    {"older.rla", 1, {3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}, {0, ZEP_C_INTEGER, 8}, {0, 9, 0, 6}, {0, 9, 0, 6}, true},
};
// clang-format on

int bytes_of(const ZEP_CHAN_GROUP &g)
{
    if (g.type == ZEP_C_DOUBLE) return 8;
    if (g.type == ZEP_C_FLOAT || g.width > 16) return 4;
    return g.width > 8 ? 2 : 1;
}

// Fills the line of channel c for line y with runs and a gradient, so the
// planes hold both runs and literals.
void fill(void *line, const ZEP_CHAN_GROUP &g, int width, int c, int y)
{
    auto *bytes = static_cast<uint8_t *>(line);
    for (int x = 0; x < width; ++x) {
        const int v = x < width / 3 ? 7 * c : x * 13 + y * 5 + c;
        if (g.type == ZEP_C_FLOAT) {
            const float f = float(v) / 16.0f;
            std::memcpy(bytes + 4 * x, &f, 4);
        } else if (g.type == ZEP_C_DOUBLE) {
            const double d = double(v) / 3.0;
            std::memcpy(bytes + 8 * x, &d, 8);
        } else {
            const uint32_t u = uint32_t(v) * 0x01010101u;
            std::memcpy(bytes + bytes_of(g) * x, &u, size_t(bytes_of(g)));
        }
    }
}

bool write_seed(const Seed &s, const std::string &path)
{
    ZEP_INFO app;
    ZEP_info_init(&app);
    app.handle = const_cast<char *>(path.c_str());
    app.key = const_cast<char *>("rla");
    app.full_path = 1;
    app.num_images = s.images;
    ZEP_OBJECT *h = zep::handle_create(ZEP_ACCESS_WRITE);
    if (!h) return false;
    if (zep::info_fill_for_write(h, &app) != 0 || !(h->info.extension = STR_save(".rla"))) {
        zep__free_obj(h);
        return false;
    }
    for (int i = 0; i < s.images; ++i) {
        ZEP_IMAGE_DESC &d = h->info.images[i];
        d.window = s.window;
        d.active = s.active;
        d.chan = {STR_save("rgb"), s.colour.count, s.colour.type, s.colour.width};
        d.matte = {nullptr, s.matte.count, s.matte.type, s.matte.width};
        d.aux = {STR_save("depth"), s.aux.count, s.aux.type, s.aux.width};
        d.aspect_name = STR_save("seed");
        d.aspect_ratio = 1.5f;
    }
    if (!ZEP_rla_w_open(h)) {
        zep__free_obj(h);
        return false;
    }
    bool ok = true;
    void *first = h->priv[0];
    for (int i = 0; ok && i < s.images; ++i) {
        ZEP_IMAGE_DESC &d = h->info.images[i];
        const int width = d.window.right - d.window.left + 1;
        void **lines = zep__chan_alloc(&d, width, "rla");
        if (!lines) {
            ok = false;
            break;
        }
        h->priv[0] = h->priv[i];
        for (int y = d.window.bottom; ok && y <= d.window.top; ++y) {
            int c = 0;
            for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux})
                for (int k = 0; k < g->count; ++k, ++c)
                    fill(lines[c], *g, width, c + i, y);
            ok = ZEP_scan_write(h, y, lines) == 0;
        }
        zep__chan_free(lines);
    }
    h->priv[0] = first;
    ok = h->close(h) == 0 && ok;
    if (ok && s.older) {
        // The older layout: any revision word but the current one.
        FILE *f = std::fopen(path.c_str(), "r+b");
        ok =
            f && std::fseek(f, 26, SEEK_SET) == 0 && std::fputc(0, f) == 0 && std::fputc(0, f) == 0;
        if (f) ok = std::fclose(f) == 0 && ok;
    }
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    int failures = 0;
    for (const Seed &s : kSeeds) {
        const std::string path = (folder / s.file).string();
        if (!write_seed(s, path)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
