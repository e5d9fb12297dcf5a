/* A module without "imageName", which is required. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "noname";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;
