/* A module without "imageOrientation", which is required. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "noorient";
const char *imageName = "no orientation";
int32_t imageAccess = 0;
