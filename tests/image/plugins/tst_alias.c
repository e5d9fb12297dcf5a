/* A test format whose names collide with the built-in ones: its key is
 * "pipe" (a built-in key) and its extension "mem" (another built-in key,
 * without a dot), so that tests can tell which search of the format choice
 * found it. Its handles carry every routine the library dispatches to
 * (scan, seek, direct scan, raster, and a close that returns 3), and each
 * call is logged: which routine ran, the private entry it got and its
 * arguments, for tst_alias_* to read. */
#include <string.h>

#include <zep/error.h>
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "pipe";
const char *imageExtension = "mem";
const char *imageName = "alias test format";
int32_t imageOrientation = 1;
int32_t imageAccess = ZEP_ACCESS_READ | ZEP_ACCESS_WRITE;

/* Routine codes of the call log. */
#define ALIAS_SCAN 1
#define ALIAS_SEEK 2
#define ALIAS_DIRECT 3
#define ALIAS_RASTER 4

/* What the raster routine returns, and what the scan and direct routines
 * return for a negative line. */
#define ALIAS_RASTER_RESULT 7
#define ALIAS_BAD_LINE_RESULT (-2)
/* What the close routine returns, so a test can see it come back. */
#define ALIAS_CLOSE_RESULT 3

static int g_opens;
static int g_routine;
static intptr_t g_args[7]; /* private entry, then the arguments */

ZEP_PLUGIN_EXPORT void tst_alias_reset(void);
ZEP_PLUGIN_EXPORT int tst_alias_opens(void);
ZEP_PLUGIN_EXPORT int tst_alias_routine(void);
ZEP_PLUGIN_EXPORT intptr_t tst_alias_arg(int i);

void tst_alias_reset(void)
{
    g_opens = 0;
    g_routine = 0;
    memset(g_args, 0, sizeof g_args);
}

int tst_alias_opens(void) { return g_opens; }

int tst_alias_routine(void) { return g_routine; }

intptr_t tst_alias_arg(int i) { return i >= 0 && i < 7 ? g_args[i] : 0; }

static void log_call(int routine, void *priv, intptr_t a, intptr_t b, intptr_t c, intptr_t d,
                     intptr_t e, intptr_t f)
{
    g_routine = routine;
    g_args[0] = (intptr_t)priv;
    g_args[1] = a;
    g_args[2] = b;
    g_args[3] = c;
    g_args[4] = d;
    g_args[5] = e;
    g_args[6] = f;
}

static int alias_scan(void *priv, int line, void *buffer)
{
    log_call(ALIAS_SCAN, priv, line, (intptr_t)buffer, 0, 0, 0, 0);
    return line < 0 ? ALIAS_BAD_LINE_RESULT : 0;
}

static int alias_seek(void *priv, int line)
{
    log_call(ALIAS_SEEK, priv, line, 0, 0, 0, 0, 0);
    return -1; /* ignored by the library */
}

static int alias_direct(void *priv, int line, intptr_t a, intptr_t b, intptr_t c, intptr_t d)
{
    log_call(ALIAS_DIRECT, priv, line, a, b, c, d, 0);
    return line < 0 ? ALIAS_BAD_LINE_RESULT : 0;
}

static int alias_raster(void *priv, intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e)
{
    log_call(ALIAS_RASTER, priv, a, b, c, d, e, 0);
    return ALIAS_RASTER_RESULT;
}

static int alias_close(ZEP_OBJECT *handle)
{
    zep__free_obj(handle);
    zep__err = 0;
    return ALIAS_CLOSE_RESULT;
}

static int alias_open(ZEP_OBJECT *handle)
{
    handle->priv = (void **)ERR_malloc(sizeof(void *));
    if (!handle->priv) {
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    handle->priv[0] = ERR_malloc(16); /* the driver's per-image data */
    if (!handle->priv[0]) {
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    handle->scan = alias_scan;
    handle->seek = alias_seek;
    handle->direct_scan = alias_direct;
    handle->get_raster = alias_raster;
    handle->close = alias_close;
    ++g_opens;
    return 1;
}

int imageReadOpen(ZEP_OBJECT *handle) { return alias_open(handle); }

int imageWriteOpen(ZEP_OBJECT *handle) { return alias_open(handle); }
