/*
 * The description record ZEP_INFO and the parts of an image handle that
 * hang from it.
 *
 * A record is "initialised" while its magic word holds ZEP_INFO_MAGIC:
 * ZEP_info_init and ZEP_info_alloc set it, ZEP_info_cleanup clears it.
 * Clean-up of a record that is not initialised is an application error: it
 * is written to standard error and the call goes on, and since every
 * pointer it releases is cleared, a second clean-up releases nothing.
 *
 * A handle's own copy of the description (ZEP_OBJECT.info) is filled here
 * when a file is opened (info_fill_for_write / info_fill_for_read), copied
 * between handles for the memory format (handle_copy) and released with the
 * handle (zep__free_obj). Every string of a handle's copy is a private copy
 * owned by the handle; cap_settings stays the application's.
 */
#include <zep/colour.h>
#include <zep/curves.h>
#include <zep/error.h>
#include <zep/image.h>
#include <zep/strings.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <type_traits>

#include "config/format_defaults.h"
#include "error/messages.h"
#include "image/core/core.h"
#include "platform/platform.h"

static_assert(std::is_standard_layout_v<ZEP_INFO>);
static_assert(std::is_standard_layout_v<ZEP_IMAGE_DESC>);
static_assert(std::is_standard_layout_v<ZEP_CHAN_GROUP>);
static_assert(std::is_standard_layout_v<ZEP_OBJECT>);
static_assert(offsetof(ZEP_INFO, key) == 0);
static_assert(offsetof(ZEP_IMAGE_DESC, usage) == 0);

const char ZEP_LITERAL_HARD_FORMAT_TYPE_RAW[] = "raw";
const char ZEP_LITERAL_HARD_FORMAT_TYPE_RGB[] = "rgb";

namespace zep {
namespace {

constexpr const char kUnknown[] = "unknown";

/* The 1953 NTSC chromaticities, for a colour database that gives none. */
constexpr float kNtscRed[3] = {0.67f, 0.33f, 0.0f};
constexpr float kNtscGreen[3] = {0.21f, 0.71f, 0.08f};
constexpr float kNtscBlue[3] = {0.14f, 0.08f, 0.78f};
constexpr float kNtscWhite[3] = {0.310f, 0.316f, 0.374f};

void copy3(float dst[3], const float *src, const float fallback[3])
{
    const float *from = src ? src : fallback;
    for (int i = 0; i < 3; ++i)
        dst[i] = from[i];
}

/* The description strings of a record, in field order. */
constexpr char *ZEP_INFO::*kStrings[] = {
    &ZEP_INFO::key,  &ZEP_INFO::handle,  &ZEP_INFO::name,    &ZEP_INFO::extension,
    &ZEP_INFO::desc, &ZEP_INFO::program, &ZEP_INFO::machine, &ZEP_INFO::user,
    &ZEP_INFO::date, &ZEP_INFO::time,    &ZEP_INFO::filter,  &ZEP_INFO::compression,
};

/* The four channel groups of an image description, in field order. */
constexpr ZEP_CHAN_GROUP ZEP_IMAGE_DESC::*kGroups[] = {
    &ZEP_IMAGE_DESC::chan, &ZEP_IMAGE_DESC::matte, &ZEP_IMAGE_DESC::aux, &ZEP_IMAGE_DESC::index};

/* Stores into *dst a private copy of text, or null for null text. Returns
 * false when the copy failed (reported by the allocator); *dst is then null. */
bool copy_or_null(char **dst, const char *text)
{
    *dst = nullptr;
    if (!text) return true;
    *dst = STR_save(text);
    return *dst != nullptr;
}

/* As copy_or_null, with "unknown" standing in for null text. */
bool copy_or_unknown(char **dst, const char *text)
{
    return copy_or_null(dst, text ? text : kUnknown);
}

/* Stores a copy of text, else of the name `lookup` gives (a buffer of
 * `size` bytes), else of "unknown". */
bool copy_or_lookup(char **dst, const char *text, int (*lookup)(char *, size_t), size_t size)
{
    if (text) return copy_or_null(dst, text);
    char name[260];
    if (size > sizeof name) size = sizeof name;
    if (lookup(name, size) == 0 && name[0] != '\0') return copy_or_null(dst, name);
    return copy_or_null(dst, kUnknown);
}

/* The creation date "{seconds since 1970}". A clock that cannot be read is
 * reported with the file name and gives "{-1}". */
bool copy_date(char **dst, const char *text, const char *file_name)
{
    if (text) return copy_or_null(dst, text);
    errno = 0;
    const time_t now = std::time(nullptr);
    if (now == static_cast<time_t>(-1)) ERR_report_errno(errno, file_name);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "{%lld}", static_cast<long long>(now));
    return copy_or_null(dst, buffer);
}

/* KV_JOB_NUM converted as atoi does (leading blanks, sign, digits), with
 * values beyond the int range clamped; false when the variable is unset. */
bool job_number_from_environment(int32_t *value)
{
    const char *text = std::getenv("KV_JOB_NUM");
    if (!text) return false;
    const long long n = std::strtoll(text, nullptr, 10);
    *value = n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : static_cast<int32_t>(n);
    return true;
}

/* Copies the application's image description s over d (already set by
 * zep__init_ifd): every field as it is, the strings as private copies
 * ("unknown" for null), the response curve word for word when it is
 * analytic, else deep. Returns false after a failed copy (reported); d then
 * owns exactly what it points at, so releasing the handle frees it. */
bool copy_image(ZEP_IMAGE_DESC &d, const ZEP_IMAGE_DESC &s)
{
    d = s;
    d.aspect_name = nullptr;
    for (ZEP_CHAN_GROUP ZEP_IMAGE_DESC::*g : kGroups)
        (d.*g).format = nullptr;
    if (s.response.kind != ZEP_CURVE_ANALYTIC) {
        d.response.tables = nullptr;
        if (ZEP_response_curve_copy(&d.response, &s.response) != 0) return false;
    }
    if (!copy_or_unknown(&d.aspect_name, s.aspect_name)) return false;
    for (ZEP_CHAN_GROUP ZEP_IMAGE_DESC::*g : kGroups)
        if (!copy_or_unknown(&(d.*g).format, (s.*g).format)) return false;
    return true;
}

} // namespace

int info_fill_for_write(ZEP_OBJECT *handle, const ZEP_INFO *app)
{
    ZEP_INFO &h = handle->info;
    bool ok = copy_or_null(&h.key, app->key);
    ok = ok && copy_or_null(&h.handle, app->handle);
    h.full_path = app->full_path;
    ok = ok && copy_or_unknown(&h.name, app->name);
    ok = ok && copy_or_unknown(&h.desc, app->desc);
    ok = ok && copy_or_unknown(&h.program, app->program);
    ok = ok && copy_or_unknown(&h.filter, app->filter);
    ok = ok && copy_or_unknown(&h.compression, app->compression);
    ok = ok && copy_or_unknown(&h.time, app->time);
    ok = ok && copy_or_lookup(&h.machine, app->machine, platform::host_name, 256);
    ok = ok && copy_or_lookup(&h.user, app->user, platform::user_name, 257);
    ok = ok && copy_date(&h.date, app->date, app->handle);
    if (!ok) return -1;

    if (app->cap_settings) h.cap_settings = app->cap_settings;
    h.reserved_word = app->reserved_word;
    h.frame = app->frame;
    h.field = app->field;
    std::memcpy(h.red_pri, app->red_pri, sizeof h.red_pri);
    std::memcpy(h.green_pri, app->green_pri, sizeof h.green_pri);
    std::memcpy(h.blue_pri, app->blue_pri, sizeof h.blue_pri);
    std::memcpy(h.white_pt, app->white_pt, sizeof h.white_pt);
    h.mf_word1 = app->mf_word1;
    h.frame_rate = app->frame_rate;
    h.mf_word3 = app->mf_word3;
    h.mf_word4 = app->mf_word4;
    h.num_frames = app->num_frames;
    h.mf_flag = app->mf_flag;
    h.mf_word6 = app->mf_word6;
    h.mf_word7 = app->mf_word7;
    h.mf_word8 = app->mf_word8;

    // A job number of 0 asks for the environment's; without the variable
    // the handle keeps its own default.
    if (app->job_num != 0)
        h.job_num = app->job_num;
    else
        job_number_from_environment(&h.job_num);

    h.num_images = 0;
    h.images = nullptr;
    if (app->num_images <= 0) return 0;
    const uint64_t bytes = uint64_t(app->num_images) * sizeof(ZEP_IMAGE_DESC);
    if (bytes > SIZE_MAX) {
        report(kNoMemory);
        zep__err = ZEP_E_NOMEM;
        return ZEP_E_NOMEM;
    }
    auto *images = static_cast<ZEP_IMAGE_DESC *>(ERR_malloc(static_cast<size_t>(bytes)));
    if (!images) {
        zep__err = ZEP_E_NOMEM;
        return ZEP_E_NOMEM;
    }
    std::memset(static_cast<void *>(images), 0, static_cast<size_t>(bytes));
    h.images = images;
    h.num_images = app->num_images;
    zep__init_ifd(handle);
    // Without the application's array the defaults stand.
    if (!app->images) return 0;
    for (int32_t i = 0; i < h.num_images; ++i)
        if (!copy_image(images[i], app->images[i])) return -1;
    return 0;
}

int info_fill_for_read(ZEP_OBJECT *handle, const ZEP_INFO *app)
{
    ZEP_INFO &h = handle->info;
    bool ok = copy_or_null(&h.key, app->key);
    ok = ok && copy_or_null(&h.handle, app->handle);
    h.full_path = app->full_path;
    h.cap_settings = app->cap_settings;
    h.mf_flag = app->mf_flag;
    return ok ? 0 : -1;
}

/*
 * dst's strings are overwritten, not released: the caller frees those it
 * owns first (the memory reader frees its key, file name and extension).
 * After a failure every string field of dst holds a private copy or null.
 * dst keeps a mutex it already has; one is created only when it has none.
 */
int handle_copy(ZEP_OBJECT *dst, const ZEP_OBJECT *src)
{
    ZEP_INFO &d = dst->info;
    const ZEP_INFO &s = src->info;
    bool ok = true;
    for (char *ZEP_INFO::*field : kStrings)
        ok = copy_or_null(&(d.*field), ok ? s.*field : nullptr) && ok;

    d.full_path = s.full_path;
    d.cap_settings = s.cap_settings;
    d.reserved_byte = s.reserved_byte;
    d.reserved_word = s.reserved_word;
    d.job_num = s.job_num;
    d.frame = s.frame;
    d.field = s.field;
    std::memcpy(d.red_pri, s.red_pri, sizeof d.red_pri);
    std::memcpy(d.green_pri, s.green_pri, sizeof d.green_pri);
    std::memcpy(d.blue_pri, s.blue_pri, sizeof d.blue_pri);
    std::memcpy(d.white_pt, s.white_pt, sizeof d.white_pt);
    d.mf_word1 = s.mf_word1;
    d.frame_rate = s.frame_rate;
    d.mf_word3 = s.mf_word3;
    d.mf_word4 = s.mf_word4;
    d.num_frames = s.num_frames;
    d.mf_flag = s.mf_flag;

    d.num_images = 0;
    d.images = nullptr;
    dst->priv = nullptr;
    dst->lut_read = src->lut_read;
    dst->scan = src->scan;
    dst->set_frame = src->set_frame;
    dst->close = src->close;

    if (!dst->mutex) {
        dst->mutex = platform::mutex_create();
        if (!dst->mutex) ok = false;
    }
    return ok ? 1 : 0;
}

} // namespace zep

void ZEP_info_init(ZEP_INFO *info)
{
    if (!info) return;
    for (char *ZEP_INFO::*field : zep::kStrings)
        info->*field = nullptr;
    info->full_path = 0;
    info->cap_settings = nullptr;
    info->reserved_byte = 0;
    info->reserved_word = 0;
    info->job_num = -1;
    info->frame = 1;
    info->field = 0;
    info->magic = ZEP_INFO_MAGIC;
    zep::copy3(info->red_pri, CLR_def_red_primary(), zep::kNtscRed);
    zep::copy3(info->green_pri, CLR_def_green_primary(), zep::kNtscGreen);
    zep::copy3(info->blue_pri, CLR_def_blue_primary(), zep::kNtscBlue);
    zep::copy3(info->white_pt, CLR_def_white_point(), zep::kNtscWhite);
    info->num_images = 0;
    info->images = nullptr;
    info->mf_word1 = 1;
    info->frame_rate = 29.97f;
    info->mf_word3 = 0;
    info->mf_word4 = 0;
    info->num_frames = 0;
    info->mf_flag = 1;
    info->mf_word6 = 0;
    info->mf_word7 = 0;
    info->mf_word8 = 0;
}

/* A new initialised record (spare words zero); null with zep__err -10 when
 * memory ran out (reported). */
ZEP_INFO *ZEP_info_alloc(void)
{
    auto *info = static_cast<ZEP_INFO *>(ERR_malloc(sizeof(ZEP_INFO)));
    if (!info) {
        zep__err = ZEP_E_NOMEM;
        return nullptr;
    }
    std::memset(info, 0, sizeof *info);
    ZEP_info_init(info);
    return info;
}

/* Releases the twelve description strings and the image array with its
 * channel-group strings (not aspect names, response curves or
 * cap_settings), clearing each pointer released. */
void ZEP_info_cleanup(ZEP_INFO *info, uint8_t free_strings)
{
    if (!info) return;
    if (info->magic != ZEP_INFO_MAGIC) {
        std::fputs("ZEP_info_cleanup: application programming error.\n", stderr);
        std::fprintf(stderr, "The ZEP_INFO structure being freed has either been %s",
                     "freed already or else was never initialised.\n");
    }
    info->magic = 0;
    if (!free_strings) return;
    for (char *ZEP_INFO::*field : zep::kStrings) {
        ERR_free(info->*field);
        info->*field = nullptr;
    }
    if (info->images) {
        for (int32_t i = 0; i < info->num_images; ++i)
            for (ZEP_CHAN_GROUP ZEP_IMAGE_DESC::*g : zep::kGroups) {
                ERR_free((info->images[i].*g).format);
                (info->images[i].*g).format = nullptr;
            }
        ERR_free(info->images);
        info->images = nullptr;
    }
}

int ZEP_info_free(ZEP_INFO *info, uint8_t free_strings)
{
    if (!info) return 0;
    ZEP_info_cleanup(info, free_strings);
    ERR_free(info);
    return 0;
}

/* Sets every image description of the handle to the defaults: usage 1, an
 * analytic response curve of the display gamma, planar, bottom-up, no
 * strings, 8-bit integer image/matte/auxiliary groups and a 16-bit index
 * group, all of count 0. Windows and aspect numbers are left alone.
 * Reads the format defaults' current values without building the
 * database. Returns 1. */
int zep__init_ifd(ZEP_OBJECT *handle)
{
    if (!handle || !handle->info.images) return 1;
    const float gamma = zep::fmt_gamma_current();
    int width = 0;
    for (int res = zep::fmt_gamma_table_res_current(); res > 1; res >>= 1)
        ++width;
    for (int32_t i = 0; i < handle->info.num_images; ++i) {
        ZEP_IMAGE_DESC &d = handle->info.images[i];
        d.usage = 1;
        d.response.kind = ZEP_CURVE_ANALYTIC;
        d.response.gamma = gamma;
        d.response.reserved = 0;
        d.response.num_chan = 1;
        d.response.length = 256;
        d.response.elem_type = ZEP_C_INTEGER;
        d.response.elem_width = width;
        d.response.tables = nullptr;
        d.aspect_name = nullptr;
        d.planar = 1;
        d.scan_flags = 1;
        for (ZEP_CHAN_GROUP ZEP_IMAGE_DESC::*g : zep::kGroups) {
            ZEP_CHAN_GROUP &group = d.*g;
            group.format = nullptr;
            group.count = 0;
            group.type = ZEP_C_INTEGER;
            group.width = 8;
        }
        d.index.width = 16;
    }
    return 1;
}

/* Releases a handle and everything hanging from it: the description
 * strings, each image's response curve, aspect name and channel-group
 * strings, the image array, priv[0] and the priv table, the mutex and the
 * record. cap_settings stays the application's. The caller must not hold
 * the handle's mutex. Null is accepted. Returns 1. */
int zep__free_obj(ZEP_OBJECT *handle)
{
    if (!handle) return 1;
    ZEP_INFO &info = handle->info;
    for (char *ZEP_INFO::*field : zep::kStrings) {
        ERR_free(info.*field);
        info.*field = nullptr;
    }
    if (info.images) {
        for (int32_t i = 0; i < info.num_images; ++i) {
            ZEP_IMAGE_DESC &d = info.images[i];
            ZEP_response_curve_done(&d.response);
            ERR_free(d.aspect_name);
            for (ZEP_CHAN_GROUP ZEP_IMAGE_DESC::*g : zep::kGroups)
                ERR_free((d.*g).format);
        }
        ERR_free(info.images);
    }
    if (handle->priv) {
        ERR_free(handle->priv[0]);
        ERR_free(handle->priv);
    }
    zep::platform::mutex_destroy(zep::handle_mutex(handle));
    ERR_free(handle);
    return 1;
}
