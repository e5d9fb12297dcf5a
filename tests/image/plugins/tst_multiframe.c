/*
 * "mfr": a read-only multi-frame format of the test suite, so that the
 * multi-frame cache and the frame and playback calls work on real files. A
 * file is the magic "ZMFR", then 32-bit little-endian words: the frame
 * count N (1 .. 1024), the width W and height H (1 .. 4096); then N frames
 * of H rows, each three planes of W bytes. Lines 0 .. H-1 of the current
 * frame can be read in any order. The module exports its counts of opens
 * and closes, and the last frame or playback call it received.
 */
#include <errno.h>

#include "tst_plugin.h"

#define MFR_HEADER_BYTES 16
#define MFR_CHANNELS 3

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "mfr";
const char *imageExtension = ".mfr";
const char *imageName = "test movie";
const char *imageDescription = "test-suite multi-frame 8-bit images";
int32_t imageOrientation = 1;
int32_t imageNumberOfChannels = MFR_CHANNELS;
int32_t imageAccess = ZEP_ACCESS_READ | ZEP_ACCESS_ANY_ORDER;
int32_t imageMultiFrame = 1;

ZEP_PLUGIN_EXPORT int mfr_opens;
ZEP_PLUGIN_EXPORT int mfr_closes;

/* The last frame or playback call: which one (1 get_frame, 2 set_frame,
 * 3 bind, 4 goto, 5 params, 6 play, 7 stop), the driver data it got and its
 * arguments. Each playback routine returns 100 + its number - 2. */
ZEP_PLUGIN_EXPORT int mfr_last_call;
ZEP_PLUGIN_EXPORT void *mfr_last_priv;
ZEP_PLUGIN_EXPORT intptr_t mfr_last_args[8];

typedef struct MfrFile {
    FILE *fp;
    int32_t frames, width, height;
    int32_t frame; /* current frame */
    void **lines;  /* the channel table handed out */
} MfrFile;

static int remember(int call, void *priv, int n, const intptr_t *args)
{
    mfr_last_call = call;
    mfr_last_priv = priv;
    for (int i = 0; i < 8; i++)
        mfr_last_args[i] = i < n ? args[i] : 0;
    return 100 + call - 2;
}

static int mfr_get_frame(void *priv, int frame)
{
    intptr_t a = frame;
    remember(1, priv, 1, &a);
    return ((MfrFile *)priv)->frame;
}

static int mfr_set_frame(void *priv, int frame)
{
    MfrFile *f = (MfrFile *)priv;
    intptr_t a = frame;
    remember(2, priv, 1, &a);
    if (frame < 0 || frame >= f->frames) return ZEP_E_SCANLINE;
    f->frame = frame;
    return 0;
}

static int mfr_bind(void *priv, intptr_t a, intptr_t b)
{
    return remember(3, priv, 2, (intptr_t[]){a, b});
}

static int mfr_goto(void *priv, intptr_t a) { return remember(4, priv, 1, &a); }

static int mfr_params(void *priv, intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e,
                      intptr_t f, intptr_t g, intptr_t h)
{
    return remember(5, priv, 8, (intptr_t[]){a, b, c, d, e, f, g, h});
}

static int mfr_play(void *priv, intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e)
{
    return remember(6, priv, 5, (intptr_t[]){a, b, c, d, e});
}

static int mfr_stop(void *priv, intptr_t a) { return remember(7, priv, 1, &a); }

static int release(MfrFile *f)
{
    int rc = f->fp && fclose(f->fp) != 0 ? ZEP_E_WRITE : 0;
    f->fp = NULL;
    zep__chan_free(f->lines);
    f->lines = NULL;
    return rc;
}

static int mfr_close(ZEP_OBJECT *h)
{
    int rc = h->priv && h->priv[0] ? release((MfrFile *)h->priv[0]) : 0;
    mfr_closes++;
    zep__free_obj(h);
    return zep__err = rc;
}

static int mfr_read_scan(void *priv, int line, void *buffer)
{
    MfrFile *f = (MfrFile *)priv;
    if (line < 0 || line >= f->height) {
        ERR_report_cat(zep__msg_cat, 902, 53, 3,
                       "Bad scanline: %d (out of range, or not in sequence if a sequential file)",
                       line);
        return zep__err = ZEP_E_SCANLINE;
    }
    long at = MFR_HEADER_BYTES + ((long)f->frame * f->height + line) * MFR_CHANNELS * f->width;
    if (fseek(f->fp, at, SEEK_SET) != 0) return zep__err = ZEP_E_READ;
    for (int k = 0; k < MFR_CHANNELS; k++)
        if (fread(f->lines[k], 1, (size_t)f->width, f->fp) != (size_t)f->width)
            return zep__err = ZEP_E_READ;
    *(void ***)buffer = f->lines;
    return zep__err = 0;
}

/* Reads and checks the header into f; 0, or -8 when the file is not one of
 * ours or is cut short. */
static int read_header(MfrFile *f)
{
    uint8_t hdr[MFR_HEADER_BYTES];
    if (fread(hdr, 1, sizeof hdr, f->fp) != sizeof hdr || memcmp(hdr, "ZMFR", 4) != 0)
        return ZEP_E_NOT_KIND;
    f->frames = tst_get32(hdr + 4);
    f->width = tst_get32(hdr + 8);
    f->height = tst_get32(hdr + 12);
    if (f->frames < 1 || f->frames > 1024 || f->width < 1 || f->width > 4096 || f->height < 1 ||
        f->height > 4096)
        return ZEP_E_NOT_KIND;
    int64_t need = MFR_HEADER_BYTES + (int64_t)f->frames * f->height * MFR_CHANNELS * f->width;
    if (fseek(f->fp, 0, SEEK_END) != 0 || (int64_t)ftell(f->fp) < need) return ZEP_E_NOT_KIND;
    return 0;
}

int imageReadOpen(ZEP_OBJECT *h)
{
    const char *name = h->info.handle;
    MfrFile *f = (MfrFile *)tst_attach(h, sizeof(MfrFile));
    if (!f) return 0;
    f->fp = name ? fopen(name, "rb") : NULL;
    if (!f->fp) {
        ERR_report_cat(zep__msg_cat, 902, 52, 3, "Cannot open file %s; %s", name ? name : "(null)",
                       strerror(name ? errno : ENOENT));
        return tst_fail(ZEP_E_OPEN);
    }
    int rc = read_header(f);
    if (rc != 0) {
        release(f);
        return tst_fail(rc);
    }
    f->lines =
        tst_describe(h, (ZEP_WINDOW){0, f->width - 1, 0, f->height - 1}, MFR_CHANNELS, 0, imageKey);
    if (!f->lines) {
        release(f);
        return 0; /* zep__err set */
    }
    h->info.num_frames = f->frames;
    h->scan = mfr_read_scan;
    h->close = mfr_close;
    h->get_frame = mfr_get_frame;
    h->set_frame = mfr_set_frame;
    h->playback_bind = mfr_bind;
    h->playback_goto = mfr_goto;
    h->playback_params = mfr_params;
    h->playback_play = mfr_play;
    h->playback_stop = mfr_stop;
    mfr_opens++;
    return 1;
}
