/*
 * A module that exports every name a format module can but the open
 * routines (it claims neither read nor write access), each data name with a
 * value other than its default.
 *
 * Capabilities (counts 3 and 7): "quality", a list of three choices whose
 * second and third take their names from their default labels, and a
 * second capability with no name of its own whose default label names it.
 * Probe: a file starting "FULL" is claimed with 1, one starting "FUL2" with
 * 2 (true, but not the exact 1 some callers want). tst_full_state() exposes
 * what the module saw.
 */
#include "tst_plugin.h"

const char *version = ZEP_PLUGIN_VERSION;
const char *imageKey = "full";
const char *imageExtension = ".full";
const char *imageName = "full test format";
const char *imageDescription = "every name exported";
const char *imageFormatString = "%s_%d%s";
const char *imageNameSyntax = "Name_#.Ext";
int32_t imageAddExtension = 0;
int32_t imageUsage = 6;
int32_t imageOrientation = 3;
int32_t imageBitsPerPaletteEntry = 24;
int32_t imageNumberOfChannels = 4;
uint32_t imageBitsPerChannel = 0x8080;
int32_t imageNumberOfMattes = 2;
uint32_t imageBitsPerMatte = 0x80;
int32_t imageNumberOfZChannels = 1;
uint32_t imageBitsPerZChannel = 0x80000000u;
int32_t imageSupportsActiveWindow = 1;
int32_t imageAccess = ZEP_ACCESS_ANY_ORDER;
int32_t imageMultiFrame = 1;
uint8_t imageHardLinkDuplicates = 0;
uint8_t imageSupportRemoteAccess = 1;

typedef struct TstFullState {
    int inits, dones, probe_calls, popups, popdowns;
    void *popup_argument, *avail_a, *avail_b;
    ZEP_CAPABILITY *capabilities; /* the module's own table */
} TstFullState;

ZEP_PLUGIN_EXPORT TstFullState *tst_full_state(void);

static ZEP_CAP_CHOICE quality_choices[] = {
    {1, "low", 0, 0, NULL},
    {2, NULL, 77, 0, "medium"},
    {3, "high", 78, 0, "best"},
    {0, NULL, 0, 0, NULL},
};
static ZEP_CAP_LIST quality_list = {2, 0, quality_choices};
static ZEP_CAPABILITY capabilities[] = {
    {0, "quality", 0, 0, NULL, 0, &quality_list, 0},
    {0, NULL, 50, 0, "dither", 1, NULL, ZEP_CAP_UNAVAILABLE},
};
static TstFullState state = {.capabilities = capabilities};

TstFullState *tst_full_state(void) { return &state; }

int imageInit(void)
{
    ++state.inits;
    return 1;
}

int imageDone(void)
{
    ++state.dones;
    return 0;
}

int imageCapability(ZEP_CAPABILITY **caps, int *first_count, int *second_count,
                    int *num_capabilities)
{
    *caps = capabilities;
    *first_count = 3;
    *second_count = 7;
    *num_capabilities = 2;
    return 1;
}

int imageCapsAvailUpdate(void *a, void *b)
{
    state.avail_a = a;
    state.avail_b = b;
    return a == b;
}

int imageIsFile(const char *path, FILE *stream)
{
    char m[4];
    ++state.probe_calls;
    if (!tst_magic(path, stream, m)) return 0;
    return memcmp(m, "FULL", 4) == 0 ? 1 : memcmp(m, "FUL2", 4) == 0 ? 2 : 0;
}

int imagePrivateUIPopup(void *argument)
{
    ++state.popups;
    state.popup_argument = argument;
    return 42;
}

int imagePrivateUIPopdown(void)
{
    ++state.popdowns;
    return 7;
}
