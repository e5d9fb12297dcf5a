/*
 * Capabilities and settings: whether a driver's optional features are
 * available, the capability-setting lists an application attaches to an
 * open request, and the hook through which a driver shows its own settings
 * window.
 *
 * A setting list is a null-terminated array of pointers to settings; a null
 * list and an empty one mean the same. The private window is either closed
 * (no current popdown routine) or open (the popdown routine of the driver
 * that opened it is current); a popup closes any open window first.
 */
#include <cstddef>
#include <type_traits>

#include <zep/error.h>
#include <zep/image.h>

#include "error/messages.h"

static_assert(std::is_standard_layout_v<ZEP_CAP_SETTING>);

namespace zep {
namespace {

/* Code of a setting compared as an integer, and as a float. */
constexpr uint16_t kCodeInteger = 0;
constexpr uint16_t kCodeFloat = 1;

/* The popdown routine of the driver whose private window is open. */
constinit ZEP_UI_POPDOWN_FN current_popdown = nullptr;

int list_length(ZEP_CAP_SETTING *const *list)
{
    int n = 0;
    while (list && list[n])
        ++n;
    return n;
}

/* Frees a list built by ZEP_cap_setting_copy. */
void free_list(ZEP_CAP_SETTING **list)
{
    for (int i = 0; list[i]; ++i)
        ERR_free(list[i]);
    ERR_free(list);
}

/* True when the values of two settings of the same code are equal; an
 * unknown code is reported and compares unequal. */
bool same_value(const ZEP_CAP_SETTING &a, const ZEP_CAP_SETTING &b)
{
    switch (a.code) {
    case kCodeInteger:
        return a.value.i == b.value.i;
    case kCodeFloat:
        return a.value.f == b.value.f;
    default:
        report(kUnknownCapability, static_cast<int>(a.code));
        return false;
    }
}

} // namespace
} // namespace zep

int ZEP_capabilities_available(const ZEP_FILE_TYPE *file_type, void *a, void *b)
{
    if (!file_type || !file_type->caps_avail_update) return 0;
    return file_type->caps_avail_update(a, b);
}

int ZEP_set_available(ZEP_CAPABILITY *capability, int available)
{
    if (!capability) return 0;
    bool unavailable = (capability->flags & ZEP_CAP_UNAVAILABLE) != 0;
    if (available && unavailable) {
        capability->flags = static_cast<uint8_t>(capability->flags & ~ZEP_CAP_UNAVAILABLE);
        return 1;
    }
    if (!available && !unavailable) {
        capability->flags = static_cast<uint8_t>(capability->flags | ZEP_CAP_UNAVAILABLE);
        return 1;
    }
    return 0;
}

ZEP_CAP_SETTING *ZEP_cap_setting_alloc(int n)
{
    if (n < 0) return nullptr;
    auto *settings = static_cast<ZEP_CAP_SETTING *>(
        ERR_malloc(sizeof(ZEP_CAP_SETTING) * static_cast<size_t>(n)));
    if (!settings) return nullptr;
    for (int i = 0; i < n; ++i) {
        settings[i].code = 0xffff;
        settings[i].value.i = 0;
    }
    return settings;
}

/* A list that cannot be copied whole is not copied at all: a part of it
 * would match settings it does not hold. */
ZEP_CAP_SETTING **ZEP_cap_setting_copy(ZEP_CAP_SETTING *const *list)
{
    int n = zep::list_length(list);
    if (n == 0) return nullptr;
    auto **copy = static_cast<ZEP_CAP_SETTING **>(
        ERR_malloc(sizeof(ZEP_CAP_SETTING *) * (static_cast<size_t>(n) + 1)));
    if (!copy) return nullptr;
    for (int i = 0; i <= n; ++i)
        copy[i] = nullptr;
    for (int i = 0; i < n; ++i) {
        copy[i] = static_cast<ZEP_CAP_SETTING *>(ERR_malloc(sizeof(ZEP_CAP_SETTING)));
        if (!copy[i]) {
            zep::free_list(copy);
            return nullptr;
        }
        *copy[i] = *list[i];
    }
    return copy;
}

int ZEP_cap_setting_compare(ZEP_CAP_SETTING *const *a, ZEP_CAP_SETTING *const *b)
{
    int na = zep::list_length(a), nb = zep::list_length(b);
    if (na == 0 || nb == 0) return na == 0 && nb == 0;
    int from = 0; /* each search starts where the previous one ended */
    for (int i = 0; i < na; ++i) {
        while (from < nb && b[from]->code != a[i]->code)
            ++from;
        if (from == nb) return 0;
        if (!zep::same_value(*a[i], *b[from])) return 0;
    }
    return 1;
}

int ZEP_private_ui_popup(const ZEP_FILE_TYPE *file_type, void *argument)
{
    ZEP_private_ui_popdown();
    if (!file_type || !file_type->private_ui_popup || !file_type->private_ui_popdown) {
        zep__err = ZEP_E_UNSUPPORTED;
        return ZEP_E_UNSUPPORTED;
    }
    zep::current_popdown = file_type->private_ui_popdown;
    return file_type->private_ui_popup(argument);
}

int ZEP_private_ui_popdown(void)
{
    ZEP_UI_POPDOWN_FN popdown = zep::current_popdown;
    if (!popdown) return 0;
    zep::current_popdown = nullptr;
    return popdown();
}
