/* A list capability whose second choice has a label number but neither a
 * name nor a default label: the start-up check reports it and stops. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "choicenoname";
const char *imageName = "choice without a name";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;

static ZEP_CAP_CHOICE choices[] = {
    {0, "first", 0, 0, NULL},
    {1, NULL, 12, 0, NULL},
    {0, NULL, 0, 0, NULL},
};
static ZEP_CAP_LIST list = {0, 0, choices};
static ZEP_CAPABILITY capabilities[] = {
    {0, "list", 0, 0, NULL, 0, &list, 0},
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
