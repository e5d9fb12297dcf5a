/* The curve interface used from C, through <zep/zep.h> alone: an 8-bit
 * identity curve composed with an analytic one, and a gamma table. Returns
 * 0, or the number of the first step that went wrong. */
#include <zep/zep.h>

int zep_test_c_curves(void);

int zep_test_c_curves(void)
{
    ZEP_RESPONSE_CURVE a = {0, 1.0f, 0, 2, 256, ZEP_C_INTEGER, 8, NULL}, out = {0};
    ZEP_RESPONSE_CURVE unit = {ZEP_CURVE_ANALYTIC, 1.0f, 0, 2, 256, ZEP_C_INTEGER, 8, NULL};
    uint8_t *tob = ZEP_gamma_tob(2.2);
    int step = ZEP_response_curve_init(&a) == 0 ? 0 : 1;

    if (!step && ZEP_response_curve_comp(&a, &unit, &out) != 0) step = 2;
    if (!step && ((uint8_t *)out.tables[1])[99] != 99) step = 3;
    if (tob == NULL || tob[1] != 1) step = 4;
    ZEP_gamma_done(tob);
    ZEP_response_curve_done(&a);
    ZEP_response_curve_done(&out);
    return step;
}
