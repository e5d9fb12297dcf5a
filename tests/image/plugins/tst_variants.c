/*
 * The small modules of the start-up and query tests, built from this one
 * file with the definitions CMakeLists.txt gives each:
 *   KEY, EXTENSION    the strings exported as imageKey and imageExtension;
 *                     imageName is the key too unless NO_NAME is defined;
 *   VERSION           the protocol exported ("3.2" by default); NO_VERSION
 *                     exports none;
 *   ORIENTATION       (1 by default); NO_ORIENTATION exports none;
 *   ACCESS            (0 by default, so no open routine is needed);
 *                     READ_OPEN_ONLY leaves the default access (read and
 *                     write) and exports only a read open;
 *   INIT_RESULT       exports init (returning it) and done routines, which
 *                     count their calls in tst_inits and tst_dones;
 *   POPUP             a settings window it opens (counted in tst_popups) but
 *                     cannot close;
 *   CAPS              a capability table, 1 to 4 (below).
 */
#include "tst_plugin.h"

#ifndef NO_VERSION
#ifndef VERSION
#define VERSION ZEP_PLUGIN_VERSION
#endif
const char *version = VERSION;
#endif
const char *imageKey = KEY;
#ifdef EXTENSION
const char *imageExtension = EXTENSION;
#endif
#ifndef NO_NAME
const char *imageName = KEY;
#endif
#ifndef NO_ORIENTATION
#ifndef ORIENTATION
#define ORIENTATION 1
#endif
int32_t imageOrientation = ORIENTATION;
#endif

ZEP_PLUGIN_EXPORT int tst_inits, tst_dones, tst_popups;

#ifdef READ_OPEN_ONLY
int imageReadOpen(ZEP_OBJECT *handle)
{
    (void)handle;
    return 0;
}
#else
#ifndef ACCESS
#define ACCESS 0
#endif
int32_t imageAccess = ACCESS;
#endif

#ifdef INIT_RESULT
int imageInit(void)
{
    ++tst_inits;
    return INIT_RESULT;
}

int imageDone(void)
{
    ++tst_dones;
    return 0;
}
#endif

#ifdef POPUP
int imagePrivateUIPopup(void *argument)
{
    (void)argument;
    return ++tst_popups;
}
#endif

/* A table of one list capability "compression" with the choices 0 and 1:
 * CAPS 1 reports counts 5 and 2 and defaults to choice 1; 2 has a second
 * capability with neither name nor label; 3 gives choice 1 a label number
 * but no text; 4 defaults to 9, none of its choices. */
#ifdef CAPS
static const int counts[][2] = {{0, 0}, {5, 2}, {11, 13}, {1, 1}, {1, 1}};
static ZEP_CAP_CHOICE choices[] = {
    {0, "zero", 0, 0, NULL},
    {1, CAPS == 3 ? NULL : "one", CAPS == 3 ? 12 : 0, 0, NULL},
    {0, NULL, 0, 0, NULL},
};
static ZEP_CAP_LIST list = {CAPS == 1 ? 1 : CAPS == 4 ? 9 : 0, 0, choices};
static ZEP_CAPABILITY capabilities[] = {
    {0, "compression", 0, 0, NULL, 0, &list, 0},
    {0, NULL, 0, 0, NULL, 1, NULL, 0},
};

int imageCapability(ZEP_CAPABILITY **caps, int *first_count, int *second_count,
                    int *num_capabilities)
{
    *caps = capabilities;
    *first_count = counts[CAPS][0];
    *second_count = counts[CAPS][1];
    *num_capabilities = CAPS == 2 ? 2 : 1;
    return 1;
}
#endif
