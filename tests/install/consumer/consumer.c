/*
 * A program of a project that uses an installed zep. It starts the library
 * with the installed RLA format module, then writes a small gradient image
 * with a matte as RLA and as "mem", reads each back and compares every
 * sample. With ZEP_CONSUMER_LOADER the plug-in loading library finds the
 * module; otherwise the program opens it itself from the folder the
 * package description names, as an application without the loader would.
 *
 * Prints one line per format and "consumer: ok"; exits 1 on any mismatch.
 */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <zep/zep.h>
#ifdef ZEP_CONSUMER_LOADER
#include <zep_plugins.h>
#endif

enum { W = 7, H = 5, CHANNELS = 4 };

static int failures;

#define CHECK(cond)                                                              \
    do {                                                                         \
        if (!(cond)) {                                                           \
            ++failures;                                                          \
            fprintf(stderr, "consumer.c:%d: check failed: %s (zep__err %d)\n",   \
                    __LINE__, #cond, zep__err);                                  \
        }                                                                        \
    } while (0)

static unsigned char sample(int c, int x, int y) { return (unsigned char)(c * 60 + y * W + x); }

/* Writes the gradient to `name` through format `key`, reads it back and
 * returns the number of samples that differ (-1: an open or line failed).
 * A "mem" image lives as long as its writer, so that writer stays open
 * until the image has been read; a file's writer is closed first. */
static int round_trip(const char *key, const char *name)
{
    const int in_memory = strcmp(key, "mem") == 0;
    static char rgb[] = "rgb";
    ZEP_IMAGE_DESC desc;
    ZEP_INFO info;
    ZEP_OBJECT *writer, *image;
    void **line;
    int x, y, c, differ = 0;

    memset(&desc, 0, sizeof desc);
    desc.response.kind = ZEP_CURVE_ANALYTIC;
    desc.response.gamma = 1.0f;
    desc.aspect_ratio = 1.0f;
    desc.window.right = desc.active.right = W - 1;
    desc.window.top = desc.active.top = H - 1;
    desc.planar = 1;
    desc.chan.format = rgb;
    desc.chan.count = 3;
    desc.matte.count = 1;
    desc.chan.type = desc.matte.type = desc.aux.type = desc.index.type = ZEP_C_INTEGER;
    desc.chan.width = desc.matte.width = desc.aux.width = 8;
    desc.index.width = 16;

    ZEP_info_init(&info);
    info.key = (char *)key;
    info.handle = (char *)name;
    info.full_path = 1;
    info.num_images = 1;
    info.images = &desc;
    writer = ZEP_open(&info, "w");
    ZEP_info_cleanup(&info, 0);
    line = ZEP_chan_alloc(&desc, W, "consumer", NULL);
    if (!writer || !line) {
        if (writer) ZEP_close(writer);
        ZEP_chan_free(line);
        return -1;
    }
    for (y = 0; y < H; ++y) { /* from the window bottom upwards */
        for (c = 0; c < CHANNELS; ++c)
            for (x = 0; x < W; ++x) ((unsigned char *)line[c])[x] = sample(c, x, y);
        if (ZEP_scan_write(writer, y, line) != 0) differ = -1;
    }
    ZEP_chan_free(line);
    if (!in_memory && ZEP_close(writer) != 0) differ = -1;
    if (differ) {
        if (in_memory) ZEP_close(writer);
        return -1;
    }

    ZEP_info_init(&info);
    info.handle = (char *)name;
    info.full_path = 1;
    image = ZEP_open(&info, "r");
    ZEP_info_cleanup(&info, 0);
    if (!image || image->info.num_images != 1 || image->info.images[0].chan.count != 3 ||
        image->info.images[0].matte.count != 1)
        differ = -1;
    for (y = 0; image && differ >= 0 && y < H; ++y) {
        void **got = NULL;
        if (ZEP_scan_read(image, y, &got) != 0 || !got) {
            differ = -1;
            break;
        }
        for (c = 0; c < CHANNELS; ++c)
            for (x = 0; x < W; ++x) differ += ((unsigned char *)got[c])[x] != sample(c, x, y);
    }
    if (image && ZEP_close(image) != 0) differ = -1;
    if (in_memory && ZEP_close(writer) != 0) differ = -1;
    return differ;
}

#ifndef ZEP_CONSUMER_LOADER
static void *rla_module;

static int enumerate(void **module, const char **name)
{
    static int given;
    if (given) return 0;
    given = 1;
    *module = rla_module;
    *name = "rla";
    return 1;
}
#endif

int main(void)
{
    const ZEP_FILE_TYPE *rla;
    int differ;

#ifdef ZEP_CONSUMER_LOADER
    CHECK(zep_plugins_load(ZEP_CONSUMER_PLUGIN_DIR) >= 2); /* rla and rlb */
    CHECK(zep_plugins_init(NULL) == 0);
#else
    rla_module = dlopen(ZEP_CONSUMER_PLUGIN_DIR "/rla.so", RTLD_NOW | RTLD_LOCAL);
    if (!rla_module) fprintf(stderr, "consumer: %s\n", dlerror());
    CHECK(rla_module != NULL);
    CHECK(ZEP_init(NULL, enumerate) == 0);
#endif
    rla = ZEP_find("rla");
    CHECK(rla != NULL && strcmp(rla->extension, ".rla") == 0);
    CHECK(ZEP_find("mem") != NULL);

    differ = round_trip("rla", "consumer.rla");
    printf("rla: %d samples differ\n", differ);
    CHECK(differ == 0);
    differ = round_trip("mem", "consumer.mem");
    printf("mem: %d samples differ\n", differ);
    CHECK(differ == 0);

#ifdef ZEP_CONSUMER_LOADER
    zep_plugins_exit();
#else
    CHECK(ZEP_exit() == 0);
    if (rla_module) dlclose(rla_module);
#endif
    if (failures == 0) printf("consumer: ok\n");
    return failures ? 1 : 0;
}
