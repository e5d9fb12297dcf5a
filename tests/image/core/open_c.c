/* Opening, moving lines and closing from C, through the whole public
 * header: an image written to the memory format is read back line by line. */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <zep/zep.h>

int zep_test_c_open(void);

enum { WIDTH = 5, HEIGHT = 3 };

static void describe(ZEP_IMAGE_DESC *d)
{
    memset(d, 0, sizeof *d);
    d->usage = 1;
    d->response.kind = ZEP_CURVE_ANALYTIC;
    d->response.gamma = 1.0f;
    d->response.num_chan = 1;
    d->response.length = 256;
    d->response.elem_type = ZEP_C_INTEGER;
    d->response.elem_width = 8;
    d->window.right = WIDTH - 1;
    d->window.top = HEIGHT - 1;
    d->active = d->window;
    d->planar = 1;
    d->scan_flags = ZEP_SCAN_BOTTOM_UP;
    d->chan.count = 3;
    d->chan.type = ZEP_C_INTEGER;
    d->chan.width = 8;
    d->matte.type = ZEP_C_INTEGER;
    d->matte.width = 8;
    d->aux.type = ZEP_C_INTEGER;
    d->aux.width = 8;
    d->index.type = ZEP_C_INTEGER;
    d->index.width = 16;
}

/* Returns 0, or the number of the first step that went wrong. */
int zep_test_c_open(void)
{
    ZEP_INFO w, r;
    ZEP_IMAGE_DESC desc;
    ZEP_OBJECT *writer, *reader;
    uint8_t rows[3][WIDTH];
    void *table[3];
    void **line = NULL;
    int y, c, x, step = 0;

    describe(&desc);
    ZEP_info_init(&w);
    w.handle = (char *)"from-c.mem";
    w.num_images = 1;
    w.images = &desc;
    writer = ZEP_open(&w, "w");
    if (!writer) return 1;

    for (c = 0; c < 3; ++c)
        table[c] = rows[c];
    for (y = 0; y < HEIGHT && !step; ++y) {
        for (c = 0; c < 3; ++c)
            for (x = 0; x < WIDTH; ++x)
                rows[c][x] = (uint8_t)(y * 50 + c * 10 + x);
        if (ZEP_scan_write(writer, y, table) != 0 || writer->current_line != y) step = 2;
    }

    ZEP_info_init(&r);
    r.handle = (char *)"from-c.mem";
    reader = step ? NULL : ZEP_open(&r, "r");
    if (!step && !reader) step = 3;
    for (y = HEIGHT - 1; y >= 0 && !step; --y) {
        if (ZEP_scan_read(reader, y, (void *)&line) != 0 || !line) {
            step = 4;
            break;
        }
        for (c = 0; c < 3; ++c)
            for (x = 0; x < WIDTH; ++x)
                if (((const uint8_t *)line[c])[x] != (uint8_t)(y * 50 + c * 10 + x)) step = 5;
    }
    if (!step && ZEP_scan_read(reader, HEIGHT, (void *)&line) != ZEP_E_SCANLINE) step = 6;
    if (reader && ZEP_close(reader) != 0 && !step) step = 7;
    if (ZEP_close(writer) != 0 && !step) step = 8;
    return step;
}
