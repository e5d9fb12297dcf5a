/*
 * The built-in "pipe" format: written scanlines go to standard output as a
 * raw stream for another program to consume. There is no file header and no
 * trailer; each line is, integers in the host's byte order:
 *
 *   offset  size  field
 *   0       4     signed 32-bit integer 2
 *   4       4     signed 32-bit integer W, the line width in pixels
 *   8       W     channel 0, one byte per pixel
 *   8+W     W     channel 1
 *   8+2W    W     channel 2
 *
 * W is the active window's right edge plus one. The stream is flushed after
 * every line. Reading is not possible: a read open succeeds but gives the
 * handle no scanline routine, so every read fails with -16.
 */
#include <zep/error.h>
#include <zep/image.h>

#include <cstdint>
#include <cstdio>

#include "error/messages.h"
#include "image/builtin/builtin.h"

namespace zep {
namespace {

constexpr int32_t kLineTag = 2;
constexpr int32_t kPlanes = 3;

// The driver data of a pipe write handle (entry 0 of priv).
struct PipeRecord {
    int32_t width;  // pixels per line
    int32_t height; // lines
    int32_t planes; // channel planes written per line
};

// Writes line y when it is below the line count, then flushes standard
// output whatever y is. Returns 0, or -20 (also in zep__err) when the write
// or the flush fails.
int pipe_write_scan(void *priv, int y, void *buffer)
{
    auto *p = static_cast<PipeRecord *>(priv);
    bool ok = true;
    if (y < p->height) {
        const int32_t header[2] = {kLineTag, p->width};
        ok = std::fwrite(header, sizeof header, 1, stdout) == 1;
        auto *const *planes = static_cast<void *const *>(buffer);
        size_t w = p->width > 0 ? static_cast<size_t>(p->width) : 0;
        for (int k = 0; ok && w > 0 && k < p->planes; ++k)
            ok = std::fwrite(planes[k], 1, w, stdout) == w;
    }
    if (std::fflush(stdout) != 0) ok = false;
    zep__err = ok ? ZEP_E_NONE : ZEP_E_WRITE;
    return zep__err;
}

int pipe_write_close(ZEP_OBJECT *handle)
{
    zep__free_obj(handle);
    zep__err = ZEP_E_NONE;
    return 0;
}

// A read handle holds nothing of its own.
int pipe_read_close(ZEP_OBJECT *handle)
{
    zep__free_obj(handle);
    zep__err = ZEP_E_NONE;
    return 0;
}

} // namespace

/* Succeeds without a scanline routine: reads of the handle fail with -16.
 * The handle gets a close routine, so that ZEP_close releases it. */
int pipe_read_open(ZEP_OBJECT *handle)
{
    handle->close = pipe_read_close;
    return 1;
}

/* Prepares a single image of at least three channels for the stream.
 * Returns 1, or 0 with zep__err -16 (more than one image: reported; no image,
 * fewer than three 8-bit integer image channels, a line longer than the
 * window's rows or an unbounded window: reported) or -10 (memory). */
int pipe_write_open(ZEP_OBJECT *handle)
{
    const char *key = handle->info.key ? handle->info.key : "pipe";
    if (handle->info.num_images > 1) {
        report(kNoMultipleImages, key);
        zep__err = ZEP_E_UNSUPPORTED;
        return 0;
    }
    // Every line carries three planes taken from the caller's first three
    // channel pointers; a description with fewer cannot supply them.
    // Each plane is one byte per pixel read from a caller's row of window
    // width, so the channels must be integers of at most 8 bits and a line
    // (active right + 1 pixels) must fit that row. Window edges at the top of
    // the int range leave no count of lines.
    const ZEP_IMAGE_DESC *d = handle->info.num_images >= 1 ? handle->info.images : nullptr;
    const int64_t row = d ? int64_t{d->window.right} - d->window.left + 1 : 0;
    if (!d || d->chan.count < kPlanes || d->chan.type != ZEP_C_INTEGER || d->chan.width > 8 ||
        d->active.right == INT32_MAX || d->active.top == INT32_MAX ||
        int64_t{d->active.right} + 1 > row) {
        report(kNoAction, key);
        zep__err = ZEP_E_UNSUPPORTED;
        return 0;
    }

    auto **table = static_cast<void **>(ERR_malloc(sizeof(void *)));
    auto *p = static_cast<PipeRecord *>(ERR_malloc(sizeof(PipeRecord)));
    if (!table || !p) {
        ERR_free(table);
        ERR_free(p);
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    const ZEP_WINDOW &active = handle->info.images[0].active;
    p->width = active.right + 1;
    p->height = active.top + 1;
    p->planes = kPlanes;
    table[0] = p;
    handle->priv = table;
    handle->scan = pipe_write_scan;
    handle->close = pipe_write_close;
    return 1;
}

int pipe_is_file(const char *, FILE *) { return 0; }

} // namespace zep
