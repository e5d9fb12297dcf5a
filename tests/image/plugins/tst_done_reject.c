/* A module whose init succeeds but which is then rejected (it has no
 * imageName): its done routine must never run. tst_done_reject_calls()
 * counts the init and done calls it received. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "donereject";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;

static int inits, dones;

ZEP_PLUGIN_EXPORT void tst_done_reject_calls(int *init_calls, int *done_calls);

void tst_done_reject_calls(int *init_calls, int *done_calls)
{
    *init_calls = inits;
    *done_calls = dones;
}

int imageInit(void)
{
    ++inits;
    return 1;
}

int imageDone(void)
{
    ++dones;
    return 0;
}
