/* The configuration databases used from C, through <zep/zep.h> alone. */
#include <zep/zep.h>

int zep_test_c_config(void);

/* Returns 0, or the number of the first check that failed. */
int zep_test_c_config(void)
{
    const FMT_ASPECT *pal;
    const CLR_SAMPLE_SET *one = CLR_find(1);
    float m[9], inverse[9];
    int formats = 0;

    while (FMT_info() != NULL)
        formats++;
    pal = FMT_find("pal");
    if (formats != 2 || pal == NULL || pal->width != 720) return 1;
    if (one == NULL || one->count != 1 || CLR_def_white_point()[1] != 0.316f) return 2;
    if (CLR_samp_init(3, 0, 0, 0, 0, 0, 0, 0, 0, 0) != 3) return 3;
    if (CLR_samp_rgb_to_xyz(m) != m || !CLR_matrix_invert(m, inverse)) return 4;
    return CLR_samp_done() == 1 ? 0 : 5;
}
