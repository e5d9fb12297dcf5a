/* A capability table whose second capability has neither a name nor a
 * label: the start-up check reports it and stops there. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "capnoname";
const char *imageName = "capability without a name";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;

static ZEP_CAPABILITY capabilities[] = {
    {0, "fine", 0, 0, NULL, 1, NULL, 0},
    {0, NULL, 0, 0, NULL, 1, NULL, 0},
};

int imageCapability(ZEP_CAPABILITY **caps, int *first_count, int *second_count,
                    int *num_capabilities)
{
    *caps = capabilities;
    *first_count = 11;
    *second_count = 13;
    *num_capabilities = 2;
    return 1;
}
