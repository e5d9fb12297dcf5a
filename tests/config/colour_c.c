/* The colour interface used from C, through <zep/zep.h> alone: the white
 * point, the one-bin set and a set-up of the conversion state. */
#include <zep/zep.h>

int zep_test_c_colour(float white[3], float one_bin[3], int *samples);

/* Copies the white point and the one-bin row into white and one_bin, and
 * stores what CLR_samp_init gives for 3 samples with the database's
 * primaries in *samples (the state is ended again). Returns 0, or -1 when
 * the database has no one-bin set or the matrices do not invert. */
int zep_test_c_colour(float white[3], float one_bin[3], int *samples)
{
    const float *w = CLR_def_white_point();
    const CLR_SAMPLE_SET *set = CLR_find(1);
    float m[9], inverse[9];
    int i;

    if (set == NULL || set->count != 1) return -1;
    for (i = 0; i < 3; i++) {
        white[i] = w[i];
        one_bin[i] = set->table[i];
    }
    *samples = CLR_samp_init(3, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    if (CLR_samp_rgb_to_xyz(m) != m || !CLR_matrix_invert(m, inverse)) return -1;
    CLR_samp_done();
    return 0;
}
