/* A sequential test format, key "seq": lines can only be moved one after the
 * other, from the window top downwards (or, in a file marked bottom-up, from
 * the bottom upwards), and there is no seek routine, so the library must
 * skip lines and re-open files to position a reader.
 *
 * A file is one text line, "SEQ <width> <bottom> <top> <up>\n", up being 1
 * for a bottom-up file. The writer puts the header from image 0's window and
 * scan flags and accepts lines in sequence without storing them; the reader
 * delivers, for line y, three 8-bit channels whose
 * sample x of channel c is tst_seq_sample(y, x, c). Every line the reader
 * delivers is logged; the tst_seq_* functions let a test read the log and
 * the open and close counts. */
#include <stdio.h>
#include <string.h>

#include <zep/error.h>
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "seq";
const char *imageExtension = ".seq";
const char *imageName = "sequential test format";
int32_t imageOrientation = 1;
int32_t imageAccess = ZEP_ACCESS_READ | ZEP_ACCESS_WRITE;

#define SEQ_LOG_MAX 4096

static int g_log[SEQ_LOG_MAX];
static int g_logged;
static int g_opens;
static int g_closes;

typedef struct SeqRecord {
    FILE *file; /* writer only */
    int next;   /* the only line the next move accepts */
    int bottom; /* window */
    int top;
    int up; /* lines go from the bottom upwards */
    int width;
    void **buffer; /* reader's line buffer */
} SeqRecord;

ZEP_PLUGIN_EXPORT int tst_seq_sample(int line, int x, int channel);
ZEP_PLUGIN_EXPORT void tst_seq_reset(void);
ZEP_PLUGIN_EXPORT int tst_seq_lines_read(void);
ZEP_PLUGIN_EXPORT int tst_seq_line_at(int i);
ZEP_PLUGIN_EXPORT int tst_seq_opens(void);
ZEP_PLUGIN_EXPORT int tst_seq_closes(void);

int tst_seq_sample(int line, int x, int channel) { return (line * 7 + x * 3 + channel) & 0xff; }

void tst_seq_reset(void)
{
    g_logged = 0;
    g_opens = 0;
    g_closes = 0;
}

int tst_seq_lines_read(void) { return g_logged; }

int tst_seq_line_at(int i) { return i >= 0 && i < g_logged ? g_log[i] : -1; }

int tst_seq_opens(void) { return g_opens; }

int tst_seq_closes(void) { return g_closes; }

static int out_of_sequence(void)
{
    zep__err = ZEP_E_SCANLINE;
    return ZEP_E_SCANLINE;
}

/* True when line is the one r accepts next; moves r on to the following. */
static int take_line(SeqRecord *r, int line)
{
    if (line != r->next || line < r->bottom || line > r->top) return 0;
    r->next = r->up ? line + 1 : line - 1;
    return 1;
}

static int read_scan(void *priv, int line, void *buffer)
{
    SeqRecord *r = (SeqRecord *)priv;
    int c, x;
    if (!take_line(r, line)) return out_of_sequence();
    for (c = 0; c < 3; ++c) {
        uint8_t *row = (uint8_t *)r->buffer[c];
        for (x = 0; x < r->width; ++x)
            row[x] = (uint8_t)tst_seq_sample(line, x, c);
    }
    *(void ***)buffer = r->buffer;
    if (g_logged < SEQ_LOG_MAX) g_log[g_logged++] = line;
    zep__err = 0;
    return 0;
}

static int write_scan(void *priv, int line, void *buffer)
{
    SeqRecord *r = (SeqRecord *)priv;
    (void)buffer;
    if (!take_line(r, line)) return out_of_sequence();
    return 0;
}

static int seq_close(ZEP_OBJECT *handle)
{
    SeqRecord *r = handle->priv ? (SeqRecord *)handle->priv[0] : NULL;
    int rc = 0;
    if (r) {
        if (r->file && fclose(r->file) != 0) rc = ZEP_E_WRITE;
        zep__chan_free(r->buffer);
    }
    ++g_closes;
    zep__free_obj(handle);
    zep__err = rc;
    return rc;
}

/* A zeroed record in a one-entry private table of the handle; 0 when memory
 * runs out. */
static SeqRecord *attach_record(ZEP_OBJECT *handle)
{
    SeqRecord *r;
    handle->priv = (void **)ERR_malloc(sizeof(void *));
    if (!handle->priv) return NULL;
    handle->priv[0] = NULL;
    r = (SeqRecord *)ERR_malloc(sizeof(SeqRecord));
    if (!r) return NULL;
    memset(r, 0, sizeof *r);
    handle->priv[0] = r;
    return r;
}

int imageReadOpen(ZEP_OBJECT *handle)
{
    FILE *f = fopen(handle->info.handle, "r");
    int width = 0, bottom = 0, top = 0, up = 0, fields;
    ZEP_IMAGE_DESC *image;
    SeqRecord *r;

    if (!f) {
        zep__err = ZEP_E_OPEN;
        return 0;
    }
    fields = fscanf(f, "SEQ %d %d %d %d", &width, &bottom, &top, &up);
    fclose(f);
    if (fields != 4 || width < 1 || width > 4096 || top < bottom || (up != 0 && up != 1)) {
        zep__err = ZEP_E_NOT_KIND;
        return 0;
    }

    handle->info.images = (ZEP_IMAGE_DESC *)ERR_malloc(sizeof(ZEP_IMAGE_DESC));
    if (!handle->info.images) {
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    memset(handle->info.images, 0, sizeof(ZEP_IMAGE_DESC));
    handle->info.num_images = 1;
    zep__init_ifd(handle);
    image = &handle->info.images[0];
    image->window.left = 0;
    image->window.right = width - 1;
    image->window.bottom = bottom;
    image->window.top = top;
    image->active = image->window;
    image->scan_flags = up ? ZEP_SCAN_BOTTOM_UP : 0;
    image->chan.count = 3;

    r = attach_record(handle);
    if (!r) {
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    r->next = up ? bottom : top;
    r->bottom = bottom;
    r->top = top;
    r->up = up;
    r->width = width;
    r->buffer = zep__chan_alloc(image, width, imageKey);
    if (!r->buffer) return 0; /* zep__err set by the allocator */

    handle->scan = read_scan;
    handle->close = seq_close;
    ++g_opens;
    return 1;
}

int imageWriteOpen(ZEP_OBJECT *handle)
{
    const ZEP_IMAGE_DESC *image;
    SeqRecord *r;

    if (handle->info.num_images < 1 || !handle->info.images) {
        zep__err = ZEP_E_OPEN;
        return 0;
    }
    image = &handle->info.images[0];
    r = attach_record(handle);
    if (!r) {
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    r->file = fopen(handle->info.handle, "w");
    if (!r->file) {
        zep__err = ZEP_E_OPEN;
        return 0;
    }
    r->up = (image->scan_flags & ZEP_SCAN_BOTTOM_UP) != 0;
    if (fprintf(r->file, "SEQ %d %d %d %d\n", (int)(image->window.right - image->window.left + 1),
                (int)image->window.bottom, (int)image->window.top, r->up) < 0) {
        fclose(r->file);
        r->file = NULL;
        remove(handle->info.handle); /* no half-written file stays behind */
        zep__err = ZEP_E_WRITE;
        return 0;
    }
    r->next = r->up ? image->window.bottom : image->window.top;
    r->bottom = image->window.bottom;
    r->top = image->window.top;
    r->width = image->window.right - image->window.left + 1;

    handle->scan = write_scan;
    handle->close = seq_close;
    ++g_opens;
    return 1;
}
