/* The cache control and frame calls as a C program sees them. */
#include <stddef.h>

#include <zep/zep.h>

/* Returns 0, or the number of the first check that failed. */
int mf_c_calls(void)
{
    ZEP_multiframe_set(1, 4);
    if (ZEP_multiframe_used() != 1) return 1;
    if (ZEP_set_frame(NULL, 0) != ZEP_E_UNSUPPORTED) return 2;
    if (ZEP_playback_params(NULL, 1, 2, 3, 4, 5, 6, 7, 8) != ZEP_E_UNSUPPORTED) return 3;
    if (ZEP_multiframe_open(NULL) != NULL) return 4;
    ZEP_multiframe_set(0, 0);
    if (ZEP_multiframe_used() != 0) return 5;
    return 0;
}
