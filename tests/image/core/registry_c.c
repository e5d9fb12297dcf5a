/* Start-up, queries and setting lists used from C through the public
 * header: the built-in formats, a name from a key, a setting list copied and
 * compared, and the library stopped again. */
#include <stddef.h>
#include <string.h>

#include <zep/zep.h>

int zep_test_c_registry(void);

/* Returns 0, or the number of the first step that went wrong. */
int zep_test_c_registry(void)
{
    const ZEP_FILE_TYPE *pipe;
    ZEP_CAP_SETTING *settings;
    ZEP_CAP_SETTING *list[3];
    ZEP_CAP_SETTING **copy;
    int first = -1, second = -1;
    int step = 0;

    if (ZEP_init(NULL, NULL) != 0) return 1;
    pipe = ZEP_find(".pipe");
    if (pipe == NULL || strcmp(pipe->key, "pipe") != 0) step = 2;
    if (!step && strcmp(ZEP_name_from_key("mem"), "memory") != 0) step = 3;
    if (!step && ZEP_info() != NULL) step = 4;
    ZEP_info_num_specific(&first, &second);
    if (!step && (first != 0 || second != 0)) step = 5;

    settings = ZEP_cap_setting_alloc(2);
    if (settings == NULL) {
        ZEP_exit();
        return step ? step : 6;
    }
    settings[0].code = 0;
    settings[0].value.i = 3;
    settings[1].code = 1;
    settings[1].value.f = 0.5f;
    list[0] = &settings[0];
    list[1] = &settings[1];
    list[2] = NULL;
    copy = ZEP_cap_setting_copy(list);
    if (!step && (copy == NULL || copy[2] != NULL || !ZEP_cap_setting_compare(copy, list)))
        step = 7;
    if (copy) {
        ERR_free(copy[0]);
        ERR_free(copy[1]);
        ERR_free(copy);
    }
    ERR_free(settings);

    if (ZEP_exit() != 0 && !step) step = 8;
    return step;
}
