/* A module with the key "dup" but no name: it is rejected, yet it has
 * already removed an earlier module's definition of the same key. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "dup";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;
