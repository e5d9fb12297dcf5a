/*
 * "mfr": a multi-frame format of the test suite. A file holds N frames of
 * one three-channel 8-bit image, so that the multi-frame cache and the frame
 * and playback calls work on real files through a plug-in.
 *
 * File layout, every integer a 32-bit little-endian word:
 *
 *   offset  size  field
 *   0       4     magic "ZMFR"
 *   4       4     frame count N (1 .. 1024)
 *   8       4     width W (1 .. 4096)
 *   12      4     height H (1 .. 4096)
 *   16      ...   N frames of H rows; row y of frame f starts at
 *                 16 + (f * H + y) * 3 * W and holds the three channel
 *                 planes of W bytes each
 *
 * Lines are 0 .. H-1 and can be read and written in any order, in the
 * current frame (set_frame). The module exports counters of real opens and
 * closes, and the last frame or playback call it received with its
 * arguments, for the tests to check through dlsym.
 */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <zep/error.h>
#include <zep/plugin.h>
#include <zep/strings.h>

#define MFR_HEADER_BYTES 16
#define MFR_CHANNELS 3
#define MFR_MAX_FRAMES 1024
#define MFR_MAX_EXTENT 4096

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "mfr";
const char *imageExtension = ".mfr";
const char *imageName = "test movie";
const char *imageDescription = "test-suite multi-frame 8-bit images";
int32_t imageOrientation = 1;
int32_t imageNumberOfChannels = MFR_CHANNELS;
uint32_t imageBitsPerChannel = 0x80; /* 8 bits */
int32_t imageAccess = ZEP_ACCESS_READ | ZEP_ACCESS_WRITE | ZEP_ACCESS_ANY_ORDER;
int32_t imageMultiFrame = 1;

/* Real read opens and closes so far (any handle). */
ZEP_PLUGIN_EXPORT int mfr_opens;
ZEP_PLUGIN_EXPORT int mfr_closes;

/* The last frame or playback call: which one, the driver data it got and its
 * arguments. */
enum {
    MFR_CALL_NONE,
    MFR_CALL_GET_FRAME,
    MFR_CALL_SET_FRAME,
    MFR_CALL_BIND,
    MFR_CALL_GOTO,
    MFR_CALL_PARAMS,
    MFR_CALL_PLAY,
    MFR_CALL_STOP
};
ZEP_PLUGIN_EXPORT int mfr_last_call;
ZEP_PLUGIN_EXPORT void *mfr_last_priv;
ZEP_PLUGIN_EXPORT intptr_t mfr_last_args[8];

/* The driver data of one open file (entry 0 of priv). */
typedef struct MfrFile {
    FILE *fp;
    int32_t frames;
    int32_t width;
    int32_t height;
    int32_t frame; /* current frame */
    void **lines;  /* reading: the channel table handed out */
} MfrFile;

static void put32(uint8_t *p, int32_t v)
{
    uint32_t u = (uint32_t)v;
    for (int i = 0; i < 4; i++)
        p[i] = (uint8_t)(u >> (8 * i));
}

static int32_t get32(const uint8_t *p)
{
    return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                     (uint32_t)p[3] << 24);
}

static void remember(int call, void *priv, int n, const intptr_t *args)
{
    mfr_last_call = call;
    mfr_last_priv = priv;
    memset(mfr_last_args, 0, sizeof mfr_last_args);
    for (int i = 0; i < n; i++)
        mfr_last_args[i] = args[i];
}

static long row_offset(const MfrFile *f, int line)
{
    return MFR_HEADER_BYTES + ((long)f->frame * f->height + line) * (long)MFR_CHANNELS * f->width;
}

static int bad_line(int line)
{
    ERR_report_cat(zep__msg_cat, 902, 53, 3,
                   "Bad scanline: %d (out of range, or not in sequence if a sequential file)",
                   line);
    zep__err = ZEP_E_SCANLINE;
    return ZEP_E_SCANLINE;
}

/* Frees the driver data and priv, leaving the handle. */
static void drop_private(ZEP_OBJECT *h)
{
    if (!h->priv) return;
    MfrFile *f = (MfrFile *)h->priv[0];
    if (f) {
        if (f->fp) fclose(f->fp);
        zep__chan_free(f->lines);
        ERR_free(f);
    }
    ERR_free(h->priv);
    h->priv = NULL;
}

static MfrFile *new_private(ZEP_OBJECT *h)
{
    h->priv = (void **)ERR_malloc(sizeof(void *));
    if (!h->priv) return NULL;
    MfrFile *f = (MfrFile *)ERR_malloc(sizeof(MfrFile));
    if (!f) {
        ERR_free(h->priv);
        h->priv = NULL;
        return NULL;
    }
    memset(f, 0, sizeof *f);
    h->priv[0] = f;
    return f;
}

/* ---- Frame and playback routines ----------------------------------------- */

static int mfr_get_frame(void *priv, int frame)
{
    intptr_t a = frame;
    remember(MFR_CALL_GET_FRAME, priv, 1, &a);
    return ((MfrFile *)priv)->frame;
}

static int mfr_set_frame(void *priv, int frame)
{
    MfrFile *f = (MfrFile *)priv;
    intptr_t a = frame;
    remember(MFR_CALL_SET_FRAME, priv, 1, &a);
    if (frame < 0 || frame >= f->frames) return ZEP_E_SCANLINE;
    f->frame = frame;
    return 0;
}

static int mfr_bind(void *priv, intptr_t a, intptr_t b)
{
    intptr_t args[2] = {a, b};
    remember(MFR_CALL_BIND, priv, 2, args);
    return 101;
}

static int mfr_goto(void *priv, intptr_t a)
{
    remember(MFR_CALL_GOTO, priv, 1, &a);
    return 102;
}

static int mfr_params(void *priv, intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e,
                      intptr_t f, intptr_t g, intptr_t h)
{
    intptr_t args[8] = {a, b, c, d, e, f, g, h};
    remember(MFR_CALL_PARAMS, priv, 8, args);
    return 103;
}

static int mfr_play(void *priv, intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e)
{
    intptr_t args[5] = {a, b, c, d, e};
    remember(MFR_CALL_PLAY, priv, 5, args);
    return 104;
}

static int mfr_stop(void *priv, intptr_t a)
{
    remember(MFR_CALL_STOP, priv, 1, &a);
    return 105;
}

static void set_routines(ZEP_OBJECT *h)
{
    h->get_frame = mfr_get_frame;
    h->set_frame = mfr_set_frame;
    h->playback_bind = mfr_bind;
    h->playback_goto = mfr_goto;
    h->playback_params = mfr_params;
    h->playback_play = mfr_play;
    h->playback_stop = mfr_stop;
}

static int mfr_close(ZEP_OBJECT *h)
{
    int rc = 0;
    if (h->priv && h->priv[0]) {
        MfrFile *f = (MfrFile *)h->priv[0];
        if (f->fp && fclose(f->fp) != 0) rc = ZEP_E_WRITE;
        f->fp = NULL;
    }
    drop_private(h);
    mfr_closes++;
    zep__free_obj(h);
    zep__err = rc;
    return rc;
}

/* ---- Reading ------------------------------------------------------------- */

static int mfr_read_scan(void *priv, int line, void *buffer)
{
    MfrFile *f = (MfrFile *)priv;
    if (line < 0 || line >= f->height) return bad_line(line);
    if (fseek(f->fp, row_offset(f, line), SEEK_SET) != 0) {
        zep__err = ZEP_E_READ;
        return ZEP_E_READ;
    }
    for (int k = 0; k < MFR_CHANNELS; k++) {
        if (fread(f->lines[k], 1, (size_t)f->width, f->fp) != (size_t)f->width) {
            zep__err = ZEP_E_READ;
            return ZEP_E_READ;
        }
    }
    *(void ***)buffer = f->lines;
    zep__err = 0;
    return 0;
}

/* Reads and checks the header into f; 0, or -8 when the file is not one of
 * ours or is cut short. */
static int read_header(MfrFile *f)
{
    uint8_t hdr[MFR_HEADER_BYTES];
    if (fread(hdr, 1, sizeof hdr, f->fp) != sizeof hdr || memcmp(hdr, "ZMFR", 4) != 0)
        return ZEP_E_NOT_KIND;
    f->frames = get32(hdr + 4);
    f->width = get32(hdr + 8);
    f->height = get32(hdr + 12);
    if (f->frames < 1 || f->frames > MFR_MAX_FRAMES || f->width < 1 || f->width > MFR_MAX_EXTENT ||
        f->height < 1 || f->height > MFR_MAX_EXTENT)
        return ZEP_E_NOT_KIND;
    int64_t need =
        MFR_HEADER_BYTES + (int64_t)f->frames * f->height * MFR_CHANNELS * (int64_t)f->width;
    if (fseek(f->fp, 0, SEEK_END) != 0 || (int64_t)ftell(f->fp) < need) return ZEP_E_NOT_KIND;
    return 0;
}

int imageReadOpen(ZEP_OBJECT *h)
{
    const char *name = h->info.handle;
    MfrFile *f = new_private(h);
    if (!f) {
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    f->fp = name ? fopen(name, "rb") : NULL;
    if (!f->fp) {
        ERR_report_cat(zep__msg_cat, 902, 52, 3, "Cannot open file %s; %s", name ? name : "(null)",
                       strerror(name ? errno : ENOENT));
        drop_private(h);
        zep__err = ZEP_E_OPEN;
        return 0;
    }
    int rc = read_header(f);
    if (rc != 0) {
        drop_private(h);
        zep__err = rc;
        return 0;
    }
    h->info.images = (ZEP_IMAGE_DESC *)ERR_malloc(sizeof(ZEP_IMAGE_DESC));
    if (!h->info.images) {
        drop_private(h);
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    memset(h->info.images, 0, sizeof(ZEP_IMAGE_DESC));
    h->info.num_images = 1;
    zep__init_ifd(h);
    ZEP_IMAGE_DESC *d = &h->info.images[0];
    ZEP_WINDOW w = {0, f->width - 1, 0, f->height - 1};
    d->window = w;
    d->active = w;
    d->chan.count = MFR_CHANNELS;
    f->lines = zep__chan_alloc(d, f->width, h->info.key ? h->info.key : imageKey);
    if (!f->lines) {
        drop_private(h);
        return 0; /* zep__chan_alloc set zep__err */
    }
    h->info.num_frames = f->frames;
    h->scan = mfr_read_scan;
    h->close = mfr_close;
    set_routines(h);
    mfr_opens++;
    return 1;
}

/* ---- Writing ------------------------------------------------------------- */

static int mfr_write_scan(void *priv, int line, void *buffer)
{
    MfrFile *f = (MfrFile *)priv;
    if (line < 0 || line >= f->height) return bad_line(line);
    void **table = (void **)buffer;
    if (fseek(f->fp, row_offset(f, line), SEEK_SET) != 0) {
        zep__err = ZEP_E_WRITE;
        return ZEP_E_WRITE;
    }
    for (int k = 0; k < MFR_CHANNELS; k++) {
        if (fwrite(table[k], 1, (size_t)f->width, f->fp) != (size_t)f->width) {
            zep__err = ZEP_E_WRITE;
            return ZEP_E_WRITE;
        }
    }
    zep__err = 0;
    return 0;
}

/* Writes a file of info.num_frames frames (at least one) of image 0's
 * window, every row zero until written. */
int imageWriteOpen(ZEP_OBJECT *h)
{
    const char *key = h->info.key ? h->info.key : imageKey;
    if (h->info.num_images != 1 || !h->info.images) {
        ERR_report_cat(zep__msg_cat, 902, 61, 3, "%s cannot store multiple images", key);
        zep__err = ZEP_E_UNSUPPORTED;
        return 0;
    }
    const ZEP_IMAGE_DESC *d = &h->info.images[0];
    int64_t w = (int64_t)d->window.right - d->window.left + 1;
    int64_t hgt = (int64_t)d->window.top - d->window.bottom + 1;
    int32_t frames = h->info.num_frames > 0 ? h->info.num_frames : 1;
    if (w < 1 || w > MFR_MAX_EXTENT || hgt < 1 || hgt > MFR_MAX_EXTENT || frames > MFR_MAX_FRAMES ||
        d->chan.count != MFR_CHANNELS || d->chan.type != ZEP_C_INTEGER || d->chan.width != 8) {
        ERR_report_cat(zep__msg_cat, 902, 87, 3, "%s cannot handle the requested action", key);
        zep__err = ZEP_E_UNSUPPORTED;
        return 0;
    }
    MfrFile *f = new_private(h);
    if (!f) {
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    f->frames = frames;
    f->width = (int32_t)w;
    f->height = (int32_t)hgt;
    f->fp = h->info.handle ? fopen(h->info.handle, "w+b") : NULL;
    uint8_t hdr[MFR_HEADER_BYTES];
    memcpy(hdr, "ZMFR", 4);
    put32(hdr + 4, f->frames);
    put32(hdr + 8, f->width);
    put32(hdr + 12, f->height);
    int ok = f->fp && fwrite(hdr, 1, sizeof hdr, f->fp) == sizeof hdr;
    /* Zero every row, so that a short file never results. */
    static const uint8_t zeros[MFR_MAX_EXTENT];
    for (int32_t r = 0; ok && r < f->frames * f->height * MFR_CHANNELS; r++)
        ok = fwrite(zeros, 1, (size_t)f->width, f->fp) == (size_t)f->width;
    if (!ok) {
        ERR_report_cat(zep__msg_cat, 902, 56, 3, "Cannot write to %s; %s",
                       h->info.handle ? h->info.handle : "(null)", strerror(errno));
        drop_private(h);
        zep__err = ZEP_E_WRITE;
        return 0;
    }
    h->info.num_frames = f->frames;
    h->scan = mfr_write_scan;
    h->close = mfr_close;
    set_routines(h);
    return 1;
}
