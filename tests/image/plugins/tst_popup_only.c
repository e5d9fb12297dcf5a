/* A module with a private settings window that it can open but not close:
 * imagePrivateUIPopup without imagePrivateUIPopdown. */
#include <zep/plugin.h>

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "popuponly";
const char *imageName = "popup only";
int32_t imageOrientation = 1;
int32_t imageAccess = 0;

static int popups;

ZEP_PLUGIN_EXPORT int tst_popup_only_calls(void);

int tst_popup_only_calls(void) { return popups; }

int imagePrivateUIPopup(void *argument)
{
    (void)argument;
    return ++popups;
}
