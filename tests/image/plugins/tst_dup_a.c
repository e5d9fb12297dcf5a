/* The first of two modules that export the same key, "dup". */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "dup";
const char *imageExtension = ".dupa";
const char *imageName = "dup first";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;
