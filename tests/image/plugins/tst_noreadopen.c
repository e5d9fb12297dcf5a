/* A module that claims read access but has no read-open routine. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "noread";
const char *imageName = "no read open";
int32_t imageOrientation = 1;
int32_t imageAccess = ZEP_ACCESS_READ;
