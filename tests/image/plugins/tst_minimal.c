/* A module with the required names only and access 0, so it needs no open
 * routine: every other field takes its default. It has no extension and no
 * file probe. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "minimal";
const char *imageName = "minimal";
int32_t imageOrientation = 2;
int32_t imageAccess = 0;
