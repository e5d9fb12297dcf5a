/* A module that exports no "version": start-up skips it with the
 * "must be defined" message. */
#include <zep/plugin.h>

const char *imageKey = "nover";
const char *imageName = "no version";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;
