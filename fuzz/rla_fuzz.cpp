/*
 * Fuzz target of the RLA reader: any bytes, taken as a file, go through the
 * file test, the open, and every line of every image from one below the
 * window to one above it (a large image at a stride), then the close. The
 * reader must fail cleanly or succeed; the sanitizers catch anything else.
 *
 * Built with ZEP_FUZZ_REPLAY, the same source is a plain program that runs
 * the target once on each file named on its command line (the files of a
 * named folder included), so the test suite can replay the crashers and the
 * seed corpus without a fuzzing engine.
 */
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include <zep/zep.h>

#include "image/core/core.h"

namespace {

// Keeps the reports of bad files off standard error.
int swallow(const char *, int, const char *, ERR_RECORD *, void *) { return 0; }

// Bytes a line of the image moves: every channel's samples across the window.
uint64_t line_bytes(const ZEP_IMAGE_DESC &d)
{
    uint64_t per_pixel = 0;
    for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux}) {
        const int bytes = g->type == ZEP_C_DOUBLE                   ? 8
                          : g->type == ZEP_C_FLOAT || g->width > 16 ? 4
                          : g->width > 8                            ? 2
                                                                    : 1;
        per_pixel += uint64_t(g->count > 0 ? g->count : 0) * uint64_t(bytes);
    }
    return per_pixel * uint64_t(d.window.right - d.window.left + 1);
}

// What the lines of one image may move in one run; an image whose lines
// would move more is read at a stride (its first and last lines and the
// lines just outside the window always), so that a large but valid image
// cannot pass for a hang.
constexpr uint64_t kLineBudget = uint64_t{32} << 20;

// Reads the lines of every image of an open handle, from one below the
// window to one above it, image i through priv[0] as an application reaches
// a further image.
void read_everything(ZEP_OBJECT *h)
{
    void *first = h->priv[0];
    for (int i = 0; i < h->info.num_images; ++i) {
        h->priv[0] = h->priv[i];
        const ZEP_IMAGE_DESC &d = h->info.images[i];
        const int64_t height = int64_t(d.window.top) - d.window.bottom + 1;
        const uint64_t total = uint64_t(height) * line_bytes(d);
        const int64_t stride = int64_t(total / kLineBudget) + 1;
        for (int64_t y = int64_t(d.window.bottom) - 1; y <= int64_t(d.window.top) + 1;
             y += stride) {
            void **lines = nullptr;
            ZEP_scan_read(h, int(y), &lines);
        }
        for (int y : {d.window.top, d.window.top + 1}) {
            void **lines = nullptr;
            ZEP_scan_read(h, y, &lines);
        }
    }
    h->priv[0] = first;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = ERR_dcl_handler(nullptr, swallow, nullptr) != 0;
    (void)quiet;

    const int fd = memfd_create("rla", 0);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

    ZEP_rla_is_file(path, nullptr);
    if (ZEP_OBJECT *h = zep::handle_create(ZEP_ACCESS_READ)) {
        h->info.handle = STR_save(path);
        h->info.key = STR_save("rla");
        h->info.extension = STR_save(".rla");
        h->info.full_path = 1;
        if (h->info.handle && h->info.key && h->info.extension && ZEP_rla_r_open(h)) {
            read_everything(h);
            h->close(h);
        } else {
            zep__free_obj(h);
        }
    }
    close(fd);
    return 0;
}

#ifdef ZEP_FUZZ_REPLAY

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

int replay(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    int failures = 0, files = 0;
    for (int a = 1; a < argc; ++a) {
        const std::filesystem::path arg(argv[a]);
        if (std::filesystem::is_directory(arg)) {
            for (const auto &item : std::filesystem::directory_iterator(arg))
                if (item.is_regular_file()) failures += replay(item.path()), ++files;
        } else {
            failures += replay(arg), ++files;
        }
    }
    std::printf("replayed %d files\n", files);
    return failures == 0 && files > 0 ? 0 : 1;
}

#endif
