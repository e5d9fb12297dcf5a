/* A list capability whose default value (9) is none of its choices: a
 * programming error that ends the process at start-up. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "baddefault";
const char *imageName = "invalid list default";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;

static ZEP_CAP_CHOICE choices[] = {
    {0, "zero", 0, 0, NULL},
    {1, "one", 0, 0, NULL},
    {0, NULL, 0, 0, NULL},
};
static ZEP_CAP_LIST list = {9, 0, choices};
static ZEP_CAPABILITY capabilities[] = {
    {0, "compression", 0, 0, NULL, 0, &list, 0},
};

int imageCapability(ZEP_CAPABILITY **caps, int *first_count, int *second_count,
                    int *num_capabilities)
{
    *caps = capabilities;
    *first_count = 1;
    *second_count = 1;
    *num_capabilities = 1;
    return 1;
}
