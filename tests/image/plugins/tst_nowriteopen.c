/* A module that leaves its access at the default (read and write) but has
 * only a read-open routine. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "nowrite";
const char *imageName = "no write open";
int32_t imageOrientation = 1;

int imageReadOpen(ZEP_OBJECT *handle)
{
    (void)handle;
    return 0;
}
