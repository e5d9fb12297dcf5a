/* A write-only test format that stands in for the default format key:
 * key "rla", extension ".mem" (the built-in memory format's extension), no
 * read routine. Tests use it to see the default key chosen, a plug-in
 * extension preferred to a built-in one, and a read open refused for want
 * of a read routine. tst_defkey_opens counts its successful opens. */
#include <zep/error.h>
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "rla";
const char *imageExtension = ".mem";
const char *imageName = "default-key test format";
int32_t imageOrientation = 1;
int32_t imageAccess = ZEP_ACCESS_WRITE;

static int g_opens;

ZEP_PLUGIN_EXPORT void tst_defkey_reset(void);
ZEP_PLUGIN_EXPORT int tst_defkey_opens(void);

void tst_defkey_reset(void) { g_opens = 0; }

int tst_defkey_opens(void) { return g_opens; }

static int defkey_scan(void *priv, int line, void *buffer)
{
    (void)priv;
    (void)buffer;
    return line < 0 ? ZEP_E_SCANLINE : 0;
}

static int defkey_close(ZEP_OBJECT *handle)
{
    zep__free_obj(handle);
    zep__err = 0;
    return 0;
}

int imageWriteOpen(ZEP_OBJECT *handle)
{
    handle->priv = (void **)ERR_malloc(sizeof(void *));
    if (!handle->priv) {
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    handle->priv[0] = ERR_malloc(1);
    if (!handle->priv[0]) {
        zep__err = ZEP_E_NOMEM;
        return 0;
    }
    handle->scan = defkey_scan;
    handle->close = defkey_close;
    ++g_opens;
    return 1;
}
