/*
 * "tst": a small read/write format of the test suite, stored in a file of
 * its own so that the open, scanline, seek and cache tests move real bytes
 * through a plug-in exactly as an application's driver would.
 *
 * File layout, every integer a 32-bit little-endian word:
 *
 *   offset  size  field
 *   0       4     magic "ZTST"
 *   4       16    image window: left, right, bottom, top (inclusive)
 *   20      4     image channel count (8-bit integers)
 *   24      4     matte channel count (8-bit integers)
 *   28      ...   rows, from the window bottom upwards; each row holds the
 *                 image channels then the mattes, one plane of `width`
 *                 bytes per channel
 *
 * Lines are window rows (bottom .. top) and can be read and written in any
 * order; a row never written reads back as zeros.
 *
 * Besides the module names of <zep/plugin.h> the module exports
 * tst_counters(), the number of opens and closes so far, for the tests that
 * check when the library really opens or closes a file.
 */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zep/error.h>
#include <zep/plugin.h>
#include <zep/strings.h>

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

/* Opens and closes so far: read opens, write opens, closes. */
typedef struct TstCounters {
    int read_opens;
    int write_opens;
    int closes;
} TstCounters;

ZEP_PLUGIN_EXPORT const TstCounters *tst_counters(void);

static TstCounters counters;

const TstCounters *tst_counters(void) { return &counters; }

/* The driver's data of one open file (entry 0 of the handle's priv). */
typedef struct TstFile {
    FILE *fp;
    int writing;
    ZEP_WINDOW window;
    int32_t width;
    int32_t height;
    int32_t channels; /* image channels + mattes */
    int32_t planar;   /* writing: the caller's buffers are channel tables */
    void **lines;     /* reading: the channel table handed out */
    uint8_t *row;     /* writing: one row, staged plane by plane */
} TstFile;

static const char *key_of(const ZEP_OBJECT *h) { return h->info.key ? h->info.key : imageKey; }

static void put32(uint8_t *p, int32_t v)
{
    uint32_t u = (uint32_t)v;
    p[0] = (uint8_t)u;
    p[1] = (uint8_t)(u >> 8);
    p[2] = (uint8_t)(u >> 16);
    p[3] = (uint8_t)(u >> 24);
}

static int32_t get32(const uint8_t *p)
{
    uint32_t u = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    return (int32_t)u;
}

static void report_open_failure(const char *name, int error)
{
    ERR_report_cat(zep__msg_cat, 902, 52, 3, "Cannot open file %s; %s", name ? name : "(null)",
                   strerror(error));
}

static void report_bad_line(int line)
{
    ERR_report_cat(zep__msg_cat, 902, 53, 3,
                   "Bad scanline: %d (out of range, or not in sequence if a sequential file)",
                   line);
}

/* Frees the driver's data and clears priv, leaving the handle itself. */
static void drop_private(ZEP_OBJECT *h)
{
    if (!h->priv) return;
    TstFile *f = (TstFile *)h->priv[0];
    if (f) {
        if (f->fp) fclose(f->fp);
        zep__chan_free(f->lines);
        ERR_free(f->row);
        ERR_free(f);
    }
    ERR_free(h->priv);
    h->priv = NULL;
}

/* Allocates priv with a zeroed TstFile in entry 0; null when memory ran out
 * (zep__err -10). */
static TstFile *new_private(ZEP_OBJECT *h)
{
    h->priv = (void **)ERR_malloc(sizeof(void *));
    if (!h->priv) {
        zep__err = ZEP_E_NOMEM;
        return NULL;
    }
    h->priv[0] = NULL;
    TstFile *f = (TstFile *)ERR_malloc(sizeof(TstFile));
    if (!f) {
        ERR_free(h->priv);
        h->priv = NULL;
        zep__err = ZEP_E_NOMEM;
        return NULL;
    }
    memset(f, 0, sizeof *f);
    h->priv[0] = f;
    return f;
}

static long row_offset(const TstFile *f, int line)
{
    return TST_HEADER_BYTES + (long)(line - f->window.bottom) * f->width * f->channels;
}

static int line_ok(const TstFile *f, int line)
{
    return line >= f->window.bottom && line <= f->window.top;
}

/* ---- Reading ------------------------------------------------------------- */

static int tst_read_scan(void *priv, int line, void *buffer)
{
    TstFile *f = (TstFile *)priv;
    if (!line_ok(f, line)) {
        report_bad_line(line);
        zep__err = ZEP_E_SCANLINE;
        return ZEP_E_SCANLINE;
    }
    if (fseek(f->fp, row_offset(f, line), SEEK_SET) != 0) {
        zep__err = ZEP_E_READ;
        return ZEP_E_READ;
    }
    for (int k = 0; k < f->channels; k++) {
        if (fread(f->lines[k], 1, (size_t)f->width, f->fp) != (size_t)f->width) {
            ERR_report_cat(zep__msg_cat, 902, 55, 3, "Cannot read scanline %d; %s", line,
                           "unexpected end of file");
            zep__err = ZEP_E_READ;
            return ZEP_E_READ;
        }
    }
    *(void ***)buffer = f->lines;
    zep__err = 0;
    return 0;
}

static int tst_close(ZEP_OBJECT *h)
{
    int rc = 0;
    if (h->priv && h->priv[0]) {
        TstFile *f = (TstFile *)h->priv[0];
        if (f->fp && fclose(f->fp) != 0) rc = ZEP_E_WRITE;
        f->fp = NULL;
    }
    drop_private(h);
    counters.closes++;
    zep__free_obj(h);
    zep__err = rc;
    return rc;
}

static int not_ours(const char *name)
{
    ERR_report_cat(zep__msg_cat, 902, 52, 3, "Cannot open file %s; %s", name,
                   "not a test image file");
    return ZEP_E_NOT_KIND;
}

/* Reads and checks the header; fills f's geometry and the two channel
 * counts. Returns 0, or the code to fail with (reported). */
static int read_header(TstFile *f, const char *name, int32_t *chans, int32_t *mattes)
{
    uint8_t hdr[TST_HEADER_BYTES];
    if (fread(hdr, 1, sizeof hdr, f->fp) != sizeof hdr || memcmp(hdr, "ZTST", 4) != 0)
        return not_ours(name);
    f->window.left = get32(hdr + 4);
    f->window.right = get32(hdr + 8);
    f->window.bottom = get32(hdr + 12);
    f->window.top = get32(hdr + 16);
    *chans = get32(hdr + 20);
    *mattes = get32(hdr + 24);
    int64_t w = (int64_t)f->window.right - f->window.left + 1;
    int64_t hgt = (int64_t)f->window.top - f->window.bottom + 1;
    if (w < 1 || w > TST_MAX_EXTENT || hgt < 1 || hgt > TST_MAX_EXTENT || *chans < 0 ||
        *chans > TST_MAX_CHANNELS || *mattes < 0 || *mattes > TST_MAX_CHANNELS ||
        *chans + *mattes < 1)
        return not_ours(name);
    f->width = (int32_t)w;
    f->height = (int32_t)hgt;
    f->channels = *chans + *mattes;
    /* The rows must all be there. */
    int64_t need = TST_HEADER_BYTES + w * hgt * f->channels;
    if (fseek(f->fp, 0, SEEK_END) != 0 || (int64_t)ftell(f->fp) < need) {
        ERR_report_cat(zep__msg_cat, 902, 59, 3, "Cannot decode scanline %d", f->window.bottom);
        return ZEP_E_DECODE;
    }
    return 0;
}

int imageReadOpen(ZEP_OBJECT *h)
{
    const char *name = h->info.handle;
    TstFile *f = new_private(h);
    if (!f) return 0;
    f->fp = name ? fopen(name, "rb") : NULL;
    if (!f->fp) {
        report_open_failure(name, name ? errno : ENOENT);
        drop_private(h);
        zep__err = ZEP_E_OPEN;
        return 0;
    }
    int32_t chans = 0, mattes = 0;
    int rc = read_header(f, name, &chans, &mattes);
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
    d->window = f->window;
    d->active = f->window;
    d->chan.count = chans;
    d->matte.count = mattes;
    d->chan.format = STR_save(ZEP_LITERAL_HARD_FORMAT_TYPE_RAW);
    f->lines = d->chan.format ? zep__chan_alloc(d, f->width, key_of(h)) : NULL;
    if (!f->lines) {
        drop_private(h);
        if (!d->chan.format) zep__err = ZEP_E_NOMEM;
        return 0; /* zep__chan_alloc set zep__err */
    }
    h->scan = tst_read_scan;
    h->close = tst_close;
    counters.read_opens++;
    return 1;
}

/* ---- Writing ------------------------------------------------------------- */

static int tst_write_scan(void *priv, int line, void *buffer)
{
    TstFile *f = (TstFile *)priv;
    if (!line_ok(f, line)) {
        report_bad_line(line);
        zep__err = ZEP_E_SCANLINE;
        return ZEP_E_SCANLINE;
    }
    if (f->planar) {
        void **table = (void **)buffer;
        for (int k = 0; k < f->channels; k++)
            memcpy(f->row + (size_t)k * f->width, table[k], (size_t)f->width);
    } else {
        const uint8_t *px = (const uint8_t *)buffer;
        for (int x = 0; x < f->width; x++)
            for (int k = 0; k < f->channels; k++)
                f->row[(size_t)k * f->width + x] = *px++;
    }
    size_t n = (size_t)f->width * f->channels;
    if (fseek(f->fp, row_offset(f, line), SEEK_SET) != 0 || fwrite(f->row, 1, n, f->fp) != n) {
        ERR_report_cat(zep__msg_cat, 902, 57, 3, "Cannot write scanline %d; %s", line,
                       strerror(errno));
        zep__err = ZEP_E_WRITE;
        return ZEP_E_WRITE;
    }
    zep__err = 0;
    return 0;
}

/* Checks that image 0 is a description this format can store; returns 0 or
 * reports and returns -16. */
static int check_description(const ZEP_OBJECT *h, const ZEP_IMAGE_DESC *d)
{
    const char *key = key_of(h);
    if (h->info.num_images != 1) {
        ERR_report_cat(zep__msg_cat, 902, 61, 3, "%s cannot store multiple images", key);
        return ZEP_E_UNSUPPORTED;
    }
    int64_t w = (int64_t)d->window.right - d->window.left + 1;
    int64_t hgt = (int64_t)d->window.top - d->window.bottom + 1;
    int total = d->chan.count + d->matte.count;
    if (w < 1 || w > TST_MAX_EXTENT || hgt < 1 || hgt > TST_MAX_EXTENT || d->chan.count < 0 ||
        d->chan.count > TST_MAX_CHANNELS || d->matte.count < 0 ||
        d->matte.count > TST_MAX_CHANNELS || total < 1) {
        ERR_report_cat(zep__msg_cat, 902, 87, 3, "%s cannot handle the requested action", key);
        return ZEP_E_UNSUPPORTED;
    }
    if (d->chan.count > 0 && d->chan.type != ZEP_C_INTEGER) {
        ERR_report_cat(zep__msg_cat, 902, 72, 3, "%s cannot handle image channel type", key);
        return ZEP_E_UNSUPPORTED;
    }
    if (d->chan.count > 0 && (d->chan.width < 1 || d->chan.width > 8)) {
        ERR_report_cat(zep__msg_cat, 902, 73, 3, "%s cannot handle image channel width", key);
        return ZEP_E_UNSUPPORTED;
    }
    if (d->matte.count > 0 && d->matte.type != ZEP_C_INTEGER) {
        ERR_report_cat(zep__msg_cat, 902, 79, 3, "%s cannot handle matte channel type", key);
        return ZEP_E_UNSUPPORTED;
    }
    if (d->matte.count > 0 && (d->matte.width < 1 || d->matte.width > 8)) {
        ERR_report_cat(zep__msg_cat, 902, 80, 3, "%s cannot handle matte channel width", key);
        return ZEP_E_UNSUPPORTED;
    }
    if (d->aux.count != 0) {
        ERR_report_cat(zep__msg_cat, 902, 69, 3, "%s cannot handle multiple auxiliary channels",
                       key);
        return ZEP_E_UNSUPPORTED;
    }
    return 0;
}

static int tst_write_close(ZEP_OBJECT *h)
{
    int rc = 0;
    if (h->priv && h->priv[0]) {
        TstFile *f = (TstFile *)h->priv[0];
        if (f->fp && (fflush(f->fp) != 0 || fclose(f->fp) != 0)) rc = ZEP_E_WRITE;
        f->fp = NULL;
    }
    drop_private(h);
    counters.closes++;
    zep__free_obj(h);
    zep__err = rc;
    return rc;
}

int imageWriteOpen(ZEP_OBJECT *h)
{
    const char *name = h->info.handle;
    if (!h->info.images || h->info.num_images < 1) {
        ERR_report_cat(zep__msg_cat, 902, 88, 3, "Required field, %s, uninitialized", "images");
        zep__err = ZEP_E_OPEN;
        return 0;
    }
    const ZEP_IMAGE_DESC *d = &h->info.images[0];
    int rc = check_description(h, d);
    if (rc != 0) {
        zep__err = rc;
        return 0;
    }
    TstFile *f = new_private(h);
    if (!f) return 0;
    f->writing = 1;
    f->window = d->window;
    f->width = d->window.right - d->window.left + 1;
    f->height = d->window.top - d->window.bottom + 1;
    f->channels = d->chan.count + d->matte.count;
    f->planar = d->planar;
    f->row = (uint8_t *)ERR_malloc((size_t)f->width * f->channels);
    if (!f->row) {
        drop_private(h);
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    f->fp = fopen(name, "w+b");
    if (!f->fp) {
        report_open_failure(name, errno);
        drop_private(h);
        zep__err = ZEP_E_OPEN;
        return 0;
    }
    /* Header, then every row zeroed so that unwritten rows read as zeros. */
    uint8_t hdr[TST_HEADER_BYTES];
    memcpy(hdr, "ZTST", 4);
    put32(hdr + 4, f->window.left);
    put32(hdr + 8, f->window.right);
    put32(hdr + 12, f->window.bottom);
    put32(hdr + 16, f->window.top);
    put32(hdr + 20, d->chan.count);
    put32(hdr + 24, d->matte.count);
    size_t n = (size_t)f->width * f->channels;
    memset(f->row, 0, n);
    int ok = fwrite(hdr, 1, sizeof hdr, f->fp) == sizeof hdr;
    for (int y = 0; ok && y < f->height; y++)
        ok = fwrite(f->row, 1, n, f->fp) == n;
    if (!ok) {
        ERR_report_cat(zep__msg_cat, 902, 56, 3, "Cannot write to %s; %s", name, strerror(errno));
        drop_private(h);
        remove(name); /* no half-written file is left behind */
        zep__err = ZEP_E_WRITE;
        return 0;
    }
    h->scan = tst_write_scan;
    h->close = tst_write_close;
    counters.write_opens++;
    return 1;
}

/* ---- Probe --------------------------------------------------------------- */

/* True when the file starts with the magic. A given stream is read from its
 * current position, which is restored afterwards. */
int imageIsFile(const char *path, FILE *stream)
{
    char magic[4];
    size_t got = 0;
    if (stream) {
        long at = ftell(stream);
        got = fread(magic, 1, sizeof magic, stream);
        if (at >= 0) fseek(stream, at, SEEK_SET);
    } else {
        FILE *fp = path ? fopen(path, "rb") : NULL;
        if (!fp) return 0;
        got = fread(magic, 1, sizeof magic, fp);
        fclose(fp);
    }
    return got == sizeof magic && memcmp(magic, "ZTST", 4) == 0;
}
