/* A module of an older plug-in protocol ("3.1"): start-up skips it with the
 * version message quoting what it found. */
#include <zep/plugin.h>

const char *version = "3.1";
const char *imageKey = "badver";
const char *imageName = "old protocol";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;
