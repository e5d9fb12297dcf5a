/*
 * The public interface from C: this file is compiled as strict C11 with
 * -pedantic against <zep/zep.h> and linked with the shared library, the way
 * an application uses it. It checks a round trip through each family.
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zep/zep.h>

static int failures;
static int checks;

#define CHECK(cond)                                                          \
    do {                                                                     \
        ++checks;                                                            \
        if (!(cond)) {                                                       \
            ++failures;                                                      \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                    #cond);                                                  \
        }                                                                    \
    } while (0)

static char last_message[ERR_MESSAGE_MAX];
static int last_severity = -1;

static int capture(const char *name, int severity, const char *message,
                   ERR_RECORD *record, void *data)
{
    (void)name;
    (void)record;
    (void)data;
    last_severity = severity;
    snprintf(last_message, sizeof last_message, "%s", message);
    return 0;
}

static const char *const open_args[] = {"file", "reason", NULL};
static ERR_RECORD open_failed = {1, ERR_ERROR, 0, "OPEN_FAILED",
                                 "Cannot open file %s; %s", 0, NULL, NULL, 0, 0,
                                 open_args};

static void test_errors(void)
{
    char buffer[ERR_MESSAGE_MAX];
    int before = ERR_stats(ERR_WARNING);

    CHECK(ERR_dcl_handler(NULL, capture, NULL) == 1);
    CHECK(ERR_report_cat(zep__msg_cat, ERR_SET_IMAGE, 53, ERR_WARNING,
                         "Bad scanline: %d (out of range)", 7) == 0);
    CHECK(strcmp(last_message, "Bad scanline: 7 (out of range)") == 0);
    CHECK(last_severity == ERR_WARNING);
    CHECK(ERR_stats(ERR_WARNING) == before + 1);

    CHECK(ERR_report(&open_failed, "a.rla", "gone") == 0);
    CHECK(strcmp(last_message, "Cannot open file a.rla; gone") == 0);
    CHECK(ERR_last(0) == &open_failed);
    CHECK(open_failed.count == 1);
    CHECK(strcmp(ERR_format_fill(&open_failed, buffer), "Cannot open file <file>; <reason>") == 0);
    CHECK(strcmp(ERR_type(ERR_FATAL), "FATAL") == 0);
    CHECK(ERR_can_handler(NULL) == capture);

    zep__err = ZEP_E_NOMEM;
    CHECK(zep__err == -10);
    zep__err = 0;
}

static void test_strings(void)
{
    char *s = STR_save("dir/name.rla");
    char path[64];
    const char *shared;
    char *expanded = NULL;

    CHECK(s != NULL);
    CHECK(strcmp(STR_extension(s), "rla") == 0);
    CHECK(strcmp(STR_tail(s), "name.rla") == 0);
    s = STR_append(s, ".bak");
    CHECK(s != NULL && strcmp(s, "dir/name.rla.bak") == 0);
    ERR_free(s);

    CHECK(STR_hash("abc", 1023) == 528);
    CHECK(STR_compare("a", "b") == -1);
    CHECK(STR_abbr("qu", "q*uit"));

    strcpy(path, "a//b/./c/../d/");
    CHECK(strcmp(STR_filename_clean(path), "a/b/d") == 0);

    shared = STR_define("frame");
    CHECK(shared != NULL && shared == STR_define("frame"));
    STR_undefine(shared);
    STR_undefine(shared);

    CHECK(STR_expand_filename("plain/name", &expanded));
    CHECK(expanded != NULL && strcmp(expanded, "plain/name") == 0);
    ERR_free(expanded);
}

/* The application's module enumerator: hands over the one loaded module. */
static void *module;
static int module_given;

static int enumerate(void **handle, const char **name)
{
    if (module_given) return 0;
    module_given = 1;
    *handle = module;
    *name = "tst_format";
    return 1;
}

/* Starts the library with a plug-in, writes a two-group image to "mem" and
 * reads it back line by line. */
static void test_image(void)
{
    enum { W = 5, H = 3 };
    ZEP_IMAGE_DESC desc;
    ZEP_INFO info;
    ZEP_OBJECT *writer, *reader;
    void **line;
    const ZEP_FILE_TYPE *first;
    int x, y, c, same = 1;

    module = dlopen(ZEP_TEST_PLUGIN_DIR "/tst_format.so", RTLD_NOW | RTLD_LOCAL);
    CHECK(module != NULL);
    if (!module) return;
    CHECK(ZEP_init(NULL, enumerate) == 0);
    CHECK(ZEP_find("tst") != NULL && ZEP_find(".mem") == ZEP_find("mem"));
    CHECK(ZEP_init(NULL, NULL) == 0); /* a second call rewinds the enumeration */
    first = ZEP_info();
    CHECK(first != NULL && first == ZEP_find("tst"));
    CHECK(ZEP_info() == NULL);

    memset(&desc, 0, sizeof desc);
    desc.response.kind = ZEP_CURVE_ANALYTIC;
    desc.response.gamma = 1.0f;
    desc.window.right = desc.active.right = W - 1;
    desc.window.top = desc.active.top = H - 1;
    desc.planar = 1;
    desc.chan.count = 3;
    desc.chan.type = desc.matte.type = desc.aux.type = desc.index.type = ZEP_C_INTEGER;
    desc.chan.width = desc.matte.width = desc.aux.width = 8;
    desc.index.width = 16;
    desc.matte.count = 1;

    ZEP_info_init(&info);
    info.handle = "c_api_image.mem";
    info.num_images = 1;
    info.images = &desc;
    writer = ZEP_open(&info, "w");
    CHECK(writer != NULL && zep__err == 0);
    line = ZEP_chan_alloc(&desc, W, "c_api", NULL);
    CHECK(line != NULL);
    if (!writer || !line) return;
    for (y = 0; y < H; ++y) {
        for (c = 0; c < 4; ++c)
            for (x = 0; x < W; ++x) ((unsigned char *)line[c])[x] = (unsigned char)(y * 50 + c * 10 + x);
        CHECK(ZEP_scan_write(writer, y, line) == 0);
    }

    ZEP_info_init(&info);
    info.handle = "c_api_image.mem";
    reader = ZEP_open(&info, "r");
    CHECK(reader != NULL && reader->info.num_images == 1);
    for (y = 0; reader && y < H; ++y) {
        void **got = NULL;
        CHECK(ZEP_scan_read(reader, y, &got) == 0 && got != NULL);
        for (c = 0; got && c < 4; ++c)
            for (x = 0; x < W; ++x)
                same &= ((unsigned char *)got[c])[x] == (unsigned char)(y * 50 + c * 10 + x);
    }
    CHECK(same);
    CHECK(reader && ZEP_scan_read(reader, H, &line) == ZEP_E_SCANLINE);
    if (reader) CHECK(ZEP_close(reader) == 0);
    CHECK(ZEP_close(writer) == 0);
    ZEP_chan_free(line);
    CHECK(ZEP_exit() == 0);
    dlclose(module);
}

static void test_containers(void)
{
    DST_LIST list = {0, 0, 0, 0};
    DST_POOL pool = {0};
    CHECK(list.count == 0 && pool.free == NULL);
    CHECK(sizeof(DST_LINK) == sizeof(void *));
}

/* A frame path from the built-in "mem" format's syntax, and a parse whose
 * tokens are released with the header's inline helper. */
static void test_naming(void)
{
    char path[ZEP_PATHNAME_MAX], base[ZEP_PATHNAME_MAX];
    int frame = 12;
    ZEP_NAME_TOKEN *tokens = NULL;
    CHECK(ZEP_pathname_build("Name.####.Ext", "shots/seq.0007.mem", "mem", NULL,
                             ZEP_PATHNAME_FRAME, 0, &frame, path, base, NULL, NULL));
    CHECK(strcmp(path, "shots/seq.0012.mem") == 0 && strcmp(base, "seq") == 0 && frame == 7);
    CHECK(ZEP_parse_name_syntax("Name.####.Ext", &tokens, 0) && tokens[2].kind == ZEP_NAME_TOKEN_FRAME &&
          tokens[2].text_length == 4 && tokens[5].kind == ZEP_NAME_TOKEN_END);
    ZEP_name_tokens_release(tokens);
    CHECK(ZEP_exit() == 0);
}

int main(void)
{
    test_errors();
    test_strings();
    test_containers();
    ERR_mask_s(ERR_ERROR); /* the out-of-range read below reports */
    test_image();
    ERR_unmask_s(ERR_ERROR);
    test_naming();
    printf("%d passed, %d failed\n", checks - failures, failures);
    return failures ? 1 : 0;
}
