/*
 * Colour look-up tables (ZEP_LUT) that drivers hand out: allocation, copy,
 * resize, release and the read through a handle's lut_read routine.
 *
 * A table owns two blocks: the record and its entries, count entries of 8
 * bytes each. The library never interprets the entries or the scale.
 * Entry counts are checked before any size is worked out: a negative count
 * is refused with -16, a size past what the allocator can be asked for is
 * treated as exhausted memory (-10).
 */
#include <zep/error.h>
#include <zep/image.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "error/messages.h"

static_assert(std::is_standard_layout_v<ZEP_LUT>);
static_assert(offsetof(ZEP_LUT, entries) == 0);

namespace zep {
namespace {

constexpr size_t kEntryBytes = 8;

/* The bytes of n entries through *bytes; false after the report (and with
 * zep__err set) when n is negative or the size cannot be allocated. */
bool entry_bytes(int n, const char *call, size_t *bytes)
{
    if (n < 0) {
        report(kNoAction, call);
        zep__err = ZEP_E_UNSUPPORTED;
        return false;
    }
    const uint64_t wanted = uint64_t(n) * kEntryBytes;
    if (wanted > SIZE_MAX) {
        report(kNoMemory);
        zep__err = ZEP_E_NOMEM;
        return false;
    }
    *bytes = static_cast<size_t>(wanted);
    return true;
}

} // namespace
} // namespace zep

/* A table of n zeroed entries, last n - 1 and scale 1.0; null when n is
 * negative (-16) or memory ran out (-10), nothing left allocated. */
ZEP_LUT *ZEP_lut_alloc(int n)
{
    size_t bytes = 0;
    if (!zep::entry_bytes(n, "ZEP_lut_alloc", &bytes)) return nullptr;
    auto *lut = static_cast<ZEP_LUT *>(ERR_malloc(sizeof(ZEP_LUT)));
    if (!lut) {
        zep__err = ZEP_E_NOMEM;
        return nullptr;
    }
    lut->entries = nullptr;
    lut->count = n;
    lut->scale = 1.0f;
    lut->last = n - 1;
    lut->entries = ERR_malloc(bytes);
    if (!lut->entries) {
        ERR_free(lut);
        zep__err = ZEP_E_NOMEM;
        return nullptr;
    }
    std::memset(lut->entries, 0, bytes);
    return lut;
}

/* A new table with lut's entries, last and scale; null (zep__err set) as
 * ZEP_lut_alloc fails, or for a null lut. */
ZEP_LUT *ZEP_lut_copy(const ZEP_LUT *lut)
{
    if (!lut) return nullptr;
    ZEP_LUT *copy = ZEP_lut_alloc(lut->count);
    if (!copy) return nullptr;
    if (lut->entries && lut->count > 0)
        std::memcpy(copy->entries, lut->entries, size_t(lut->count) * zep::kEntryBytes);
    copy->last = lut->last;
    copy->scale = lut->scale;
    return copy;
}

ZEP_LUT *ZEP_lut_free(ZEP_LUT *lut)
{
    if (!lut) return nullptr;
    ERR_free(lut->entries);
    ERR_free(lut);
    return nullptr;
}

/* lut resized to n entries, entries past the old count zeroed; count
 * becomes n, last stays. On failure (negative n: -16; memory: -10) the
 * table is released and null returned. A null lut is allocated afresh. */
ZEP_LUT *ZEP_lut_realloc(ZEP_LUT *lut, int n)
{
    if (!lut) return ZEP_lut_alloc(n);
    size_t bytes = 0;
    if (!zep::entry_bytes(n, "ZEP_lut_realloc", &bytes)) return ZEP_lut_free(lut);
    void *entries = ERR_realloc(lut->entries, bytes);
    if (!entries) {
        zep__err = ZEP_E_NOMEM;
        return ZEP_lut_free(lut);
    }
    const int old = lut->entries && lut->count > 0 ? lut->count : 0;
    if (n > old)
        std::memset(static_cast<char *>(entries) + size_t(old) * zep::kEntryBytes, 0,
                    size_t(n - old) * zep::kEntryBytes);
    lut->entries = entries;
    lut->count = n;
    return lut;
}

/* Sets *lut_out to null, then to what the handle's lut_read routine gives.
 * True when the handle has no such routine or the routine succeeded;
 * false for a null handle or out address. */
int ZEP_lut_read(ZEP_OBJECT *image, ZEP_LUT **lut_out)
{
    if (!lut_out) return 0;
    *lut_out = nullptr;
    if (!image) return 0;
    if (!image->lut_read) return 1;
    void *entry0 = image->priv ? image->priv[0] : nullptr;
    return image->lut_read(entry0, lut_out) != 0 ? 1 : 0;
}
