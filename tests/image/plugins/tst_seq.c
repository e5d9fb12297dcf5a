/* A sequential test format, key "seq": lines can only be moved one after the
 * other, from the window top downwards (or, in a file marked bottom-up, from
 * the bottom upwards), and there is no seek routine, so the library must
 * skip lines and re-open files to position a reader.
 *
 * A file is one text line, "SEQ <width> <bottom> <top> <up>\n", up being 1
 * for a bottom-up file. The writer puts the header from image 0's window and
 * scan flags and accepts lines in sequence without storing them; the reader
 * delivers, for line y, three 8-bit channels whose sample x of channel c is
 * tst_seq_sample(y, x, c). Every line the reader delivers is logged; the
 * tst_seq_* functions let a test read the log and the open and close
 * counts. */
#include "tst_plugin.h"

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "seq";
const char *imageExtension = ".seq";
const char *imageName = "sequential test format";
int32_t imageOrientation = 1;
int32_t imageAccess = ZEP_ACCESS_READ | ZEP_ACCESS_WRITE;

#define SEQ_LOG_MAX 4096

static int g_log[SEQ_LOG_MAX];
static int g_logged, g_opens, g_closes;

typedef struct SeqRecord {
    FILE *file; /* writer only */
    int next;   /* the only line the next move accepts */
    int bottom, top, up, width;
    void **buffer; /* reader's line buffer */
} SeqRecord;

ZEP_PLUGIN_EXPORT int tst_seq_sample(int line, int x, int channel);
ZEP_PLUGIN_EXPORT void tst_seq_reset(void);
ZEP_PLUGIN_EXPORT int tst_seq_lines_read(void);
ZEP_PLUGIN_EXPORT int tst_seq_line_at(int i);
ZEP_PLUGIN_EXPORT int tst_seq_opens(void);
ZEP_PLUGIN_EXPORT int tst_seq_closes(void);

int tst_seq_sample(int line, int x, int channel) { return (line * 7 + x * 3 + channel) & 0xff; }
void tst_seq_reset(void) { g_logged = g_opens = g_closes = 0; }
int tst_seq_lines_read(void) { return g_logged; }
int tst_seq_line_at(int i) { return i >= 0 && i < g_logged ? g_log[i] : -1; }
int tst_seq_opens(void) { return g_opens; }
int tst_seq_closes(void) { return g_closes; }

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
    if (!take_line(r, line)) return zep__err = ZEP_E_SCANLINE;
    for (int c = 0; c < 3; ++c)
        for (int x = 0; x < r->width; ++x)
            ((uint8_t *)r->buffer[c])[x] = (uint8_t)tst_seq_sample(line, x, c);
    *(void ***)buffer = r->buffer;
    if (g_logged < SEQ_LOG_MAX) g_log[g_logged++] = line;
    return zep__err = 0;
}

static int write_scan(void *priv, int line, void *buffer)
{
    (void)buffer;
    return take_line((SeqRecord *)priv, line) ? 0 : (zep__err = ZEP_E_SCANLINE);
}

static int seq_close(ZEP_OBJECT *handle)
{
    SeqRecord *r = handle->priv ? (SeqRecord *)handle->priv[0] : NULL;
    int rc = r && r->file && fclose(r->file) != 0 ? ZEP_E_WRITE : 0;
    if (r) zep__chan_free(r->buffer);
    ++g_closes;
    zep__free_obj(handle);
    return zep__err = rc;
}

/* Sets r up to accept lines of the window from its first line on. */
static void start_at(SeqRecord *r, const ZEP_WINDOW *w, int up, ZEP_OBJECT *handle,
                     int (*scan)(void *, int, void *))
{
    r->bottom = w->bottom;
    r->top = w->top;
    r->up = up;
    r->width = w->right - w->left + 1;
    r->next = up ? w->bottom : w->top;
    handle->scan = scan;
    handle->close = seq_close;
    ++g_opens;
}

int imageReadOpen(ZEP_OBJECT *handle)
{
    FILE *f = fopen(handle->info.handle, "r");
    int width = 0, bottom = 0, top = 0, up = 0, fields;
    if (!f) return tst_fail(ZEP_E_OPEN);
    fields = fscanf(f, "SEQ %d %d %d %d", &width, &bottom, &top, &up);
    fclose(f);
    if (fields != 4 || width < 1 || width > 4096 || top < bottom || (up != 0 && up != 1))
        return tst_fail(ZEP_E_NOT_KIND);

    SeqRecord *r = (SeqRecord *)tst_attach(handle, sizeof(SeqRecord));
    if (!r) return 0;
    r->buffer = tst_describe(handle, (ZEP_WINDOW){0, width - 1, bottom, top}, 3, 0, imageKey);
    if (!r->buffer) return 0; /* zep__err set */
    ZEP_IMAGE_DESC *image = &handle->info.images[0];
    image->scan_flags = up ? ZEP_SCAN_BOTTOM_UP : 0;
    start_at(r, &image->window, up, handle, read_scan);
    return 1;
}

int imageWriteOpen(ZEP_OBJECT *handle)
{
    if (handle->info.num_images < 1 || !handle->info.images) return tst_fail(ZEP_E_OPEN);
    const ZEP_IMAGE_DESC *image = &handle->info.images[0];
    const ZEP_WINDOW *w = &image->window;
    SeqRecord *r = (SeqRecord *)tst_attach(handle, sizeof(SeqRecord));
    if (!r) return 0;
    if (!(r->file = fopen(handle->info.handle, "w"))) return tst_fail(ZEP_E_OPEN);
    int up = (image->scan_flags & ZEP_SCAN_BOTTOM_UP) != 0;
    if (fprintf(r->file, "SEQ %d %d %d %d\n", (int)(w->right - w->left + 1), (int)w->bottom,
                (int)w->top, up) < 0) {
        fclose(r->file);
        r->file = NULL;
        remove(handle->info.handle); /* no half-written file stays behind */
        return tst_fail(ZEP_E_WRITE);
    }
    start_at(r, w, up, handle, write_scan);
    return 1;
}
