/* A module whose imageInit refuses: start-up skips it without a message.
 * tst_initfail_calls() counts the init and done calls it received. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "initfail";
const char *imageName = "init fails";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;

static int inits, dones;

ZEP_PLUGIN_EXPORT void tst_initfail_calls(int *init_calls, int *done_calls);

void tst_initfail_calls(int *init_calls, int *done_calls)
{
    *init_calls = inits;
    *done_calls = dones;
}

int imageInit(void)
{
    ++inits;
    return 0;
}

int imageDone(void)
{
    ++dones;
    return 0;
}
