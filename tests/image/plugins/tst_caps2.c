/* A second module with a capability table, reporting the counts 5 and 2, so
 * that the start-up maxima come from two different formats. Its one
 * capability is a two-choice list whose default is its second choice. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "caps2";
const char *imageName = "second capability table";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;

static ZEP_CAP_CHOICE mode_choices[] = {
    {0, "off", 0, 0, NULL},
    {1, "on", 0, 0, NULL},
    {0, NULL, 0, 0, NULL},
};
static ZEP_CAP_LIST mode_list = {1, 0, mode_choices};
static ZEP_CAPABILITY capabilities[] = {
    {0, "mode", 0, 0, NULL, 0, &mode_list, 0},
};

ZEP_PLUGIN_EXPORT ZEP_CAP_LIST *tst_caps2_list(void);

ZEP_CAP_LIST *tst_caps2_list(void) { return &mode_list; }

int imageCapability(ZEP_CAPABILITY **caps, int *first_count, int *second_count,
                    int *num_capabilities)
{
    *caps = capabilities;
    *first_count = 5;
    *second_count = 2;
    *num_capabilities = 1;
    return 1;
}
