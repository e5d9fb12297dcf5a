/*
 * "tst": a read/write format of the test suite with files of its own, so
 * that tests move real bytes through a plug-in as an application's driver
 * would. A file is the magic "ZTST", then 32-bit little-endian words: the
 * window (left, right, bottom, top, inclusive) and the counts of image
 * channels and of mattes (8-bit integers); then the rows from the window
 * bottom upwards, each one plane of `width` bytes per channel, mattes last.
 * Lines can be read and written in any order; a row never written reads as
 * zeros. tst_counters() gives the opens for reading and for writing and the
 * closes so far.
 */
#include <errno.h>

#include <zep/strings.h>

#include "tst_plugin.h"

#define TST_HEADER_BYTES 28
#define TST_MAX_CHANNELS 16
#define TST_MAX_EXTENT 65536

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "tst";
const char *imageExtension = ".tst";
const char *imageName = "test";
const char *imageDescription = "test-suite planar 8-bit images";
int32_t imageOrientation = 1;
int32_t imageNumberOfChannels = TST_MAX_CHANNELS;
uint32_t imageBitsPerChannel = 0xff; /* 1 to 8 bits */
int32_t imageNumberOfMattes = TST_MAX_CHANNELS;
uint32_t imageBitsPerMatte = 0xff;
int32_t imageAccess = ZEP_ACCESS_READ | ZEP_ACCESS_WRITE | ZEP_ACCESS_ANY_ORDER;

static int counters[3]; /* read opens, write opens, closes */

ZEP_PLUGIN_EXPORT const int *tst_counters(void);
const int *tst_counters(void) { return counters; }

/* The driver's data of one open file (entry 0 of the handle's priv). */
typedef struct TstFile {
    FILE *fp;
    ZEP_WINDOW window;
    int32_t width, channels; /* channels: image channels + mattes */
    int32_t planar;          /* writing: the caller's buffers are channel tables */
    void **lines;            /* reading: the channel table handed out */
    uint8_t *row;            /* writing: one row, staged plane by plane */
} TstFile;

static const char *key_of(const ZEP_OBJECT *h) { return h->info.key ? h->info.key : imageKey; }

/* Releases what f holds (zep__free_obj frees f); non-zero when closing the
 * file failed. */
static int release(TstFile *f)
{
    int rc = f->fp ? fclose(f->fp) : 0;
    f->fp = NULL;
    zep__chan_free(f->lines);
    f->lines = NULL;
    ERR_free(f->row);
    f->row = NULL;
    return rc;
}

static int refuse(TstFile *f, int code)
{
    release(f);
    return tst_fail(code);
}

static int cannot_open(const char *name, const char *why, int code)
{
    ERR_report_cat(zep__msg_cat, 902, 52, 3, "Cannot open file %s; %s", name ? name : "(null)",
                   why);
    return code;
}

static int sizes_ok(const ZEP_WINDOW *w, int32_t chans, int32_t mattes)
{
    int64_t width = (int64_t)w->right - w->left + 1, height = (int64_t)w->top - w->bottom + 1;
    return width >= 1 && width <= TST_MAX_EXTENT && height >= 1 && height <= TST_MAX_EXTENT &&
           chans >= 0 && chans <= TST_MAX_CHANNELS && mattes >= 0 && mattes <= TST_MAX_CHANNELS &&
           chans + mattes >= 1;
}

/* Positions the file at the row of line; reports and returns -2 when the
 * line is outside the window, the given code when the seek fails. */
static int seek_line(TstFile *f, int line, int code)
{
    if (line < f->window.bottom || line > f->window.top) {
        ERR_report_cat(zep__msg_cat, 902, 53, 3,
                       "Bad scanline: %d (out of range, or not in sequence if a sequential file)",
                       line);
        return zep__err = ZEP_E_SCANLINE;
    }
    long at = TST_HEADER_BYTES + (long)(line - f->window.bottom) * f->width * f->channels;
    return fseek(f->fp, at, SEEK_SET) != 0 ? (zep__err = code) : 0;
}

static int tst_close(ZEP_OBJECT *h)
{
    int rc = h->priv && h->priv[0] && release((TstFile *)h->priv[0]) != 0 ? ZEP_E_WRITE : 0;
    counters[2]++;
    zep__free_obj(h);
    return zep__err = rc;
}

static int tst_read_scan(void *priv, int line, void *buffer)
{
    TstFile *f = (TstFile *)priv;
    int rc = seek_line(f, line, ZEP_E_READ);
    for (int k = 0; rc == 0 && k < f->channels; k++) {
        if (fread(f->lines[k], 1, (size_t)f->width, f->fp) != (size_t)f->width) {
            ERR_report_cat(zep__msg_cat, 902, 55, 3, "Cannot read scanline %d; %s", line,
                           "unexpected end of file");
            rc = zep__err = ZEP_E_READ;
        }
    }
    if (rc == 0) *(void ***)buffer = f->lines;
    return zep__err = rc;
}

int imageReadOpen(ZEP_OBJECT *h)
{
    const char *name = h->info.handle;
    TstFile *f = (TstFile *)tst_attach(h, sizeof(TstFile));
    if (!f) return 0;
    f->fp = name ? fopen(name, "rb") : NULL;
    if (!f->fp) return refuse(f, cannot_open(name, strerror(name ? errno : ENOENT), ZEP_E_OPEN));
    uint8_t hdr[TST_HEADER_BYTES];
    if (fread(hdr, 1, sizeof hdr, f->fp) != sizeof hdr || memcmp(hdr, "ZTST", 4) != 0)
        return refuse(f, cannot_open(name, "not a test image file", ZEP_E_NOT_KIND));
    ZEP_WINDOW w = {tst_get32(hdr + 4), tst_get32(hdr + 8), tst_get32(hdr + 12),
                    tst_get32(hdr + 16)};
    int32_t chans = tst_get32(hdr + 20), mattes = tst_get32(hdr + 24);
    if (!sizes_ok(&w, chans, mattes))
        return refuse(f, cannot_open(name, "not a test image file", ZEP_E_NOT_KIND));
    f->window = w;
    f->width = w.right - w.left + 1;
    f->channels = chans + mattes;
    int64_t need = TST_HEADER_BYTES + (int64_t)f->width * (w.top - w.bottom + 1) * f->channels;
    if (fseek(f->fp, 0, SEEK_END) != 0 || (int64_t)ftell(f->fp) < need) {
        ERR_report_cat(zep__msg_cat, 902, 59, 3, "Cannot decode scanline %d", w.bottom);
        return refuse(f, ZEP_E_DECODE);
    }
    f->lines = tst_describe(h, w, chans, mattes, imageKey);
    if (!f->lines) return refuse(f, zep__err);
    h->info.images[0].chan.format = STR_save(ZEP_LITERAL_HARD_FORMAT_TYPE_RAW);
    if (!h->info.images[0].chan.format) return refuse(f, ZEP_E_NOMEM);
    h->scan = tst_read_scan;
    h->close = tst_close;
    counters[0]++;
    return 1;
}

static int tst_write_scan(void *priv, int line, void *buffer)
{
    TstFile *f = (TstFile *)priv;
    int rc = seek_line(f, line, ZEP_E_WRITE);
    if (rc) return rc;
    const uint8_t *px = (const uint8_t *)buffer;
    for (int k = 0; k < f->channels; k++)
        for (int x = 0; x < f->width; x++)
            f->row[(size_t)k * f->width + x] =
                f->planar ? ((const uint8_t *)((void **)buffer)[k])[x] : px[x * f->channels + k];
    size_t n = (size_t)f->width * f->channels;
    if (fwrite(f->row, 1, n, f->fp) != n) {
        ERR_report_cat(zep__msg_cat, 902, 57, 3, "Cannot write scanline %d; %s", line,
                       strerror(errno));
        return zep__err = ZEP_E_WRITE;
    }
    return zep__err = 0;
}

/* Reports why image 0 cannot be stored and returns -16; 0 when it can. */
static int check_description(const ZEP_OBJECT *h, const ZEP_IMAGE_DESC *d)
{
    static const struct {
        int number;
        const char *text;
    } refusals[] = {
        {61, "%s cannot store multiple images"},
        {87, "%s cannot handle the requested action"},
        {72, "%s cannot handle image channel type"},
        {73, "%s cannot handle image channel width"},
        {79, "%s cannot handle matte channel type"},
        {80, "%s cannot handle matte channel width"},
        {69, "%s cannot handle multiple auxiliary channels"},
    };
    const int chans = d->chan.count > 0, mattes = d->matte.count > 0;
    const int refused[] = {
        h->info.num_images != 1,
        !sizes_ok(&d->window, d->chan.count, d->matte.count),
        chans && d->chan.type != ZEP_C_INTEGER,
        chans && (d->chan.width < 1 || d->chan.width > 8),
        mattes && d->matte.type != ZEP_C_INTEGER,
        mattes && (d->matte.width < 1 || d->matte.width > 8),
        d->aux.count != 0,
    };
    for (size_t i = 0; i < sizeof refused / sizeof refused[0]; i++) {
        if (refused[i]) {
            ERR_report_cat(zep__msg_cat, 902, refusals[i].number, 3, refusals[i].text, key_of(h));
            return ZEP_E_UNSUPPORTED;
        }
    }
    return 0;
}

int imageWriteOpen(ZEP_OBJECT *h)
{
    const char *name = h->info.handle;
    if (!h->info.images || h->info.num_images < 1) {
        ERR_report_cat(zep__msg_cat, 902, 88, 3, "Required field, %s, uninitialized", "images");
        return tst_fail(ZEP_E_OPEN);
    }
    const ZEP_IMAGE_DESC *d = &h->info.images[0];
    int rc = check_description(h, d);
    TstFile *f = rc ? NULL : (TstFile *)tst_attach(h, sizeof(TstFile));
    if (!f) return rc ? tst_fail(rc) : 0;
    f->window = d->window;
    f->width = d->window.right - d->window.left + 1;
    f->channels = d->chan.count + d->matte.count;
    f->planar = d->planar;
    size_t n = (size_t)f->width * f->channels;
    f->row = (uint8_t *)ERR_malloc(n);
    if (!f->row) return refuse(f, ZEP_E_NOMEM);
    f->fp = fopen(name, "w+b");
    if (!f->fp) return refuse(f, cannot_open(name, strerror(errno), ZEP_E_OPEN));
    /* The header, then every row zeroed so that unwritten rows read as zeros. */
    const int32_t fields[6] = {f->window.left, f->window.right, f->window.bottom,
                               f->window.top,  d->chan.count,   d->matte.count};
    uint8_t hdr[TST_HEADER_BYTES] = "ZTST";
    for (int i = 0; i < 6; i++)
        tst_put32(hdr + 4 + 4 * i, fields[i]);
    memset(f->row, 0, n);
    int ok = fwrite(hdr, 1, sizeof hdr, f->fp) == sizeof hdr;
    for (int y = f->window.bottom; ok && y <= f->window.top; y++)
        ok = fwrite(f->row, 1, n, f->fp) == n;
    if (!ok) {
        ERR_report_cat(zep__msg_cat, 902, 56, 3, "Cannot write to %s; %s", name, strerror(errno));
        refuse(f, ZEP_E_WRITE);
        remove(name); /* no half-written file is left behind */
        return 0;
    }
    h->scan = tst_write_scan;
    h->close = tst_close;
    counters[1]++;
    return 1;
}

int imageIsFile(const char *path, FILE *stream)
{
    char m[4];
    return tst_magic(path, stream, m) && memcmp(m, "ZTST", 4) == 0;
}
