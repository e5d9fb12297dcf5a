/* Start-up, queries and a setting list used from C through the public
 * header. */
#include <stddef.h>
#include <string.h>

#include <zep/zep.h>

int zep_test_c_registry(void);

/* Returns 0, or the number of the first check that failed. */
int zep_test_c_registry(void)
{
    const ZEP_FILE_TYPE *pipe;
    ZEP_CAP_SETTING *s, *list[3] = {NULL, NULL, NULL}, *swapped[3] = {NULL, NULL, NULL};
    int first = -1, second = -1, failed = 0;

    if (ZEP_init(NULL, NULL) != 0) return 1;
    pipe = ZEP_find(".pipe");
    ZEP_info_num_specific(&first, &second);
    s = ZEP_cap_setting_alloc(2);
    if (pipe == NULL || strcmp(pipe->key, "pipe") != 0 || ZEP_info() != NULL) failed = 2;
    if (strcmp(ZEP_name_from_key("mem"), "memory") != 0 || first != 0 || second != 0) failed = 3;
    if (s != NULL) {
        s[0].code = 0;
        s[0].value.i = 3;
        s[1].code = 1;
        s[1].value.f = 0.5f;
        list[0] = swapped[1] = &s[0];
        list[1] = swapped[0] = &s[1];
    }
    if (!s || !ZEP_cap_setting_compare(list, list) || ZEP_cap_setting_compare(list, swapped))
        failed = 4;
    ERR_free(s);
    if (ZEP_exit() != 0) failed = 5;
    return failed;
}
