/* Helpers shared by the test format modules: 32-bit little-endian words,
 * the handle's one-entry private table, the image description of a read
 * handle and a probe by magic. All static inline, so a module takes only
 * what it uses. */
#ifndef ZEP_TESTS_IMAGE_PLUGINS_TST_PLUGIN_H
#define ZEP_TESTS_IMAGE_PLUGINS_TST_PLUGIN_H

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <zep/error.h>
#include <zep/plugin.h>

static inline void tst_put32(uint8_t *p, int32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (uint8_t)((uint32_t)v >> (8 * i));
}

static inline int32_t tst_get32(const uint8_t *p)
{
    return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                     (uint32_t)p[3] << 24);
}

/* Fails an open routine: sets zep__err to code and returns 0. */
static inline int tst_fail(int code)
{
    zep__err = code;
    return 0;
}

/* Gives the handle a private table whose entry 0 is a zeroed record of
 * `size` bytes (zep__free_obj frees both); returns the record, or null with
 * zep__err -10. */
static inline void *tst_attach(ZEP_OBJECT *h, size_t size)
{
    void *r = ERR_malloc(size);
    h->priv = r ? (void **)ERR_malloc(sizeof(void *)) : NULL;
    if (!h->priv) {
        ERR_free(r);
        tst_fail(ZEP_E_NOMEM);
        return NULL;
    }
    h->priv[0] = memset(r, 0, size);
    return r;
}

/* Gives a read handle its one image description: `w` as image and active
 * window, `chans` image channels and `mattes` mattes of 8-bit integers.
 * Returns a channel table for one line, or null with zep__err set. */
static inline void **tst_describe(ZEP_OBJECT *h, ZEP_WINDOW w, int chans, int mattes,
                                  const char *key)
{
    ZEP_IMAGE_DESC *d = (ZEP_IMAGE_DESC *)ERR_malloc(sizeof *d);
    if (!d) {
        tst_fail(ZEP_E_NOMEM);
        return NULL;
    }
    h->info.images = (ZEP_IMAGE_DESC *)memset(d, 0, sizeof *d);
    h->info.num_images = 1;
    zep__init_ifd(h);
    d->window = d->active = w;
    d->chan.count = chans;
    d->matte.count = mattes;
    return zep__chan_alloc(d, w.right - w.left + 1, h->info.key ? h->info.key : key);
}

/* Reads the first four bytes of the file into m: of `stream` from its
 * current position, which is restored, or of the file at `path`. Returns 1
 * when all four were read. */
static inline int tst_magic(const char *path, FILE *stream, char m[4])
{
    size_t got = 0;
    if (stream) {
        long at = ftell(stream);
        got = fread(m, 1, 4, stream);
        if (at >= 0) fseek(stream, at, SEEK_SET);
    } else if ((stream = path ? fopen(path, "rb") : NULL) != NULL) {
        got = fread(m, 1, 4, stream);
        fclose(stream);
    }
    return got == 4;
}

#endif /* ZEP_TESTS_IMAGE_PLUGINS_TST_PLUGIN_H */
