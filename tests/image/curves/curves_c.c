/* The curve interface used from C: a sampled curve built, copied, composed
 * with an analytic one and released, and a gamma table, all through the
 * whole public header. */
#include <stddef.h>
#include <stdint.h>

#include <zep/zep.h>

int zep_test_c_curves(void);
size_t zep_test_c_curve_size(void);
size_t zep_test_c_curve_tables_offset(void);

size_t zep_test_c_curve_size(void) { return sizeof(ZEP_RESPONSE_CURVE); }

size_t zep_test_c_curve_tables_offset(void) { return offsetof(ZEP_RESPONSE_CURVE, tables); }

/* Returns 0, or the number of the first step that went wrong. */
int zep_test_c_curves(void)
{
    ZEP_RESPONSE_CURVE a = {0}, copy = {0}, out = {0};
    ZEP_RESPONSE_CURVE inverse = {ZEP_CURVE_ANALYTIC, 1.0f, 0, 2, 256, ZEP_C_INTEGER, 8, NULL};
    const uint8_t *table;
    uint8_t *tob;
    int step = 0;

    a.gamma = 1.0f;
    a.num_chan = 2;
    a.length = 256;
    a.elem_type = ZEP_C_INTEGER;
    a.elem_width = 8;
    if (ZEP_response_curve_init(&a) != 0) return 1;
    table = (const uint8_t *)a.tables[1];
    if (a.kind != ZEP_CURVE_SAMPLED || table[0] != 0 || table[200] != 200) step = 2;

    if (!step && ZEP_response_curve_copy(&copy, &a) != 0) step = 3;
    if (!step && (copy.tables == a.tables || ((const uint8_t *)copy.tables[0])[17] != 17)) step = 4;

    /* The identity after an analytic gamma of 1 is the identity again. */
    if (!step && ZEP_response_curve_comp(&a, &inverse, &out) != 0) step = 5;
    if (!step && (out.num_chan != 2 || ((const uint8_t *)out.tables[1])[99] != 99)) step = 6;

    tob = ZEP_gamma_tob(2.2);
    if (!step && (tob == NULL || tob[1] != 1)) step = 7;
    if (ZEP_gamma_done(tob) != 1 && !step) step = 8;

    if (ZEP_response_curve_done(&out) != 1 || ZEP_response_curve_done(&copy) != 1 ||
        ZEP_response_curve_done(&a) != 1)
        return step ? step : 9;
    if (!step && (a.tables != NULL || copy.tables != NULL || out.tables != NULL)) step = 10;
    return step;
}
