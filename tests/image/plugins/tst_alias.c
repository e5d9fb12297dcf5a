/* Two test formats whose names collide with other formats, so that tests
 * can tell which search of the format choice found them. Each counts its
 * successful opens (<module>_opens, cleared by <module>_reset).
 *
 * tst_alias: key "pipe" (a built-in key) and extension "mem" (another
 * built-in key, without a dot), read and write. Its handles carry every
 * routine the library dispatches to (scan, seek, direct scan, raster, and a
 * close that returns 3), and each call is logged: which routine ran (1 scan,
 * 2 seek, 3 direct scan, 4 raster), the private entry it got and its
 * arguments, for tst_alias_routine and tst_alias_arg to read.
 *
 * tst_defkey (built with TST_DEFKEY): key "rla", the default format key,
 * and extension ".mem", the memory format's; write only, with just a scan
 * routine and a close that returns 0. */
#include "tst_plugin.h"

const char *version = ZEP_PLUGIN_VERSION;
int32_t imageOrientation = 1;
#ifdef TST_DEFKEY
#define EXPORTED(name) tst_defkey_##name
#define CLOSE_RESULT 0
const char *imageKey = "rla";
const char *imageExtension = ".mem";
const char *imageName = "default-key test format";
int32_t imageAccess = ZEP_ACCESS_WRITE;
#else
#define EXPORTED(name) tst_alias_##name
#define CLOSE_RESULT 3
const char *imageKey = "pipe";
const char *imageExtension = "mem";
const char *imageName = "alias test format";
int32_t imageAccess = ZEP_ACCESS_READ | ZEP_ACCESS_WRITE;
#endif

static int g_opens, g_routine;
static intptr_t g_args[7]; /* private entry, then the arguments */

ZEP_PLUGIN_EXPORT void EXPORTED(reset)(void);
ZEP_PLUGIN_EXPORT int EXPORTED(opens)(void);
ZEP_PLUGIN_EXPORT int EXPORTED(routine)(void);
ZEP_PLUGIN_EXPORT intptr_t EXPORTED(arg)(int i);

void EXPORTED(reset)(void)
{
    g_opens = g_routine = 0;
    memset(g_args, 0, sizeof g_args);
}
int EXPORTED(opens)(void) { return g_opens; }
int EXPORTED(routine)(void) { return g_routine; }
intptr_t EXPORTED(arg)(int i) { return i >= 0 && i < 7 ? g_args[i] : 0; }

/* Logs a call of routine with n arguments and returns result. */
static int log_call(int routine, void *priv, int n, const intptr_t *args, int result)
{
    g_routine = routine;
    g_args[0] = (intptr_t)priv;
    for (int i = 0; i < 6; i++)
        g_args[i + 1] = i < n ? args[i] : 0;
    return result;
}

static int alias_scan(void *priv, int line, void *buffer)
{
    return log_call(1, priv, 2, (intptr_t[]){line, (intptr_t)buffer}, line < 0 ? -2 : 0);
}

#ifndef TST_DEFKEY
static int alias_seek(void *priv, int line)
{
    return log_call(2, priv, 1, (intptr_t[]){line}, -1); /* ignored by the library */
}

static int alias_direct(void *priv, int line, intptr_t a, intptr_t b, intptr_t c, intptr_t d)
{
    return log_call(3, priv, 5, (intptr_t[]){line, a, b, c, d}, line < 0 ? -2 : 0);
}

static int alias_raster(void *priv, intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e)
{
    return log_call(4, priv, 5, (intptr_t[]){a, b, c, d, e}, 7);
}
#endif

static int alias_close(ZEP_OBJECT *handle)
{
    zep__free_obj(handle);
    zep__err = 0;
    return CLOSE_RESULT;
}

int imageWriteOpen(ZEP_OBJECT *handle)
{
    if (!tst_attach(handle, 16)) return 0; /* 16 bytes of per-image data */
    handle->scan = alias_scan;
    handle->close = alias_close;
#ifndef TST_DEFKEY
    handle->seek = alias_seek;
    handle->direct_scan = alias_direct;
    handle->get_raster = alias_raster;
#endif
    ++g_opens;
    return 1;
}

#ifndef TST_DEFKEY
int imageReadOpen(ZEP_OBJECT *handle) { return imageWriteOpen(handle); }
#endif
