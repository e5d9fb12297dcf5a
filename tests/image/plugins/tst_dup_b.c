/* The second of two modules that export the same key, "dup": it replaces
 * the first one. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "dup";
const char *imageExtension = ".dupb";
const char *imageName = "dup second";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;
