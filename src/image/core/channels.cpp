/*
 * Scanline buffers laid out from an image description: a table of one
 * pointer per channel into one zeroed block of rows.
 *
 * Table order is image rows, matte rows, auxiliary rows, then colour-index
 * rows only when there are no image channels. Rows lie back to back in
 * table order; entry 0 is always the start of the block (the table has room
 * for it even without channels), so releasing entry 0 and then the table
 * releases the whole buffer. Image, matte and auxiliary rows are rounded up
 * to a multiple of 8 bytes, so that every row of 2-, 4- and 8-byte samples
 * starts aligned for its type whatever the rows before it hold; colour-index
 * rows are pixels x 2 bytes.
 *
 * Every size is worked out in 64 bits before anything is allocated. A
 * negative pixel or channel count is refused with -16 ("cannot handle the
 * requested action"); a table or block that would not fit in 31 bits is
 * treated as exhausted memory: "No more internal memory" and -10. So no
 * wrapped size ever reaches the allocator, and the block size always fits
 * the int that ZEP_chan_alloc hands back.
 */
#include <zep/error.h>
#include <zep/image.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>

#include "error/messages.h"

namespace zep {
namespace {

/* Block size of the most recent successful allocation. */
std::atomic<int32_t> g_last_block_size{0};

/* How a group's samples are checked: image, matte and auxiliary groups take
 * integers of up to 32 bits, floats and doubles; colour indices only
 * integers of up to 16 bits. */
struct GroupRule {
    ZEP_CHAN_GROUP ZEP_IMAGE_DESC::*group;
    bool index;
    const Message *bad_type;
    const Message *bad_width;
};

constexpr GroupRule kRules[] = {
    {&ZEP_IMAGE_DESC::chan, false, &kNoImageType, &kNoImageWidth},
    {&ZEP_IMAGE_DESC::matte, false, &kNoMatteType, &kNoMatteWidth},
    {&ZEP_IMAGE_DESC::aux, false, &kNoAuxType, &kNoAuxWidth},
    {&ZEP_IMAGE_DESC::index, true, &kNoIndexType, &kNoIndexWidth},
};

/* Bytes per sample of a group, or 0 with *refusal set to the message that
 * refuses it. */
int sample_bytes(const ZEP_CHAN_GROUP &g, const GroupRule &rule, const Message **refusal)
{
    if (rule.index) {
        if (g.type != ZEP_C_INTEGER) {
            *refusal = rule.bad_type;
            return 0;
        }
        if (g.width > 16) {
            *refusal = rule.bad_width;
            return 0;
        }
        return 2;
    }
    switch (g.type) {
    case ZEP_C_INTEGER:
        if (g.width <= 8) return 1;
        if (g.width <= 16) return 2;
        if (g.width <= 32) return 4;
        *refusal = rule.bad_width;
        return 0;
    case ZEP_C_FLOAT:
        return 4;
    case ZEP_C_DOUBLE:
        return 8;
    default:
        *refusal = rule.bad_type;
        return 0;
    }
}

/* Refuses the description: report m with name, -16. */
void **refuse(const Message &m, const char *name)
{
    report(m, name);
    zep__err = ZEP_E_UNSUPPORTED;
    return nullptr;
}

void **out_of_memory(bool reported)
{
    if (!reported) report(kNoMemory);
    zep__err = ZEP_E_NOMEM;
    return nullptr;
}

} // namespace
} // namespace zep

/* See <zep/image.h>. A description with image channels has its colour-index
 * count set to 0 in place, also when it is then refused. */
void **zep__chan_alloc(ZEP_IMAGE_DESC *desc, int pixels, const char *name)
{
    using namespace zep;
    const char *label = name ? name : "";
    if (!desc || pixels < 0 || desc->chan.count < 0) return refuse(kNoAction, label);
    const bool with_index = desc->chan.count == 0;
    if (!with_index) desc->index.count = 0;
    for (const GroupRule &rule : kRules)
        if ((desc->*rule.group).count < 0) return refuse(kNoAction, label);

    // Rows of each group, in bytes; a group with no channels must still
    // describe samples the library can hold.
    constexpr uint64_t kLimit = INT32_MAX;
    uint64_t row[4];
    for (int i = 0; i < 4; ++i) {
        const Message *refusal = nullptr;
        const int bytes = sample_bytes(desc->*kRules[i].group, kRules[i], &refusal);
        if (bytes == 0) return refuse(*refusal, label);
        const uint64_t size = uint64_t(pixels) * uint64_t(bytes);
        row[i] = i < 3 ? (size + 7) & ~uint64_t{7} : size;
    }

    // The table must fit first: that bounds the channels to 2^28, and with
    // rows below 2^34 bytes the block size cannot wrap.
    uint64_t count[4];
    uint64_t entries = 0;
    for (int i = 0; i < 4; ++i) {
        const bool used = i < 3 || with_index;
        count[i] = used ? uint64_t((desc->*kRules[i].group).count) : 0;
        entries += count[i];
    }
    const uint64_t slots = entries ? entries : 1;
    if (slots * sizeof(void *) > kLimit) return out_of_memory(false);
    uint64_t block = 0;
    for (int i = 0; i < 4; ++i)
        block += count[i] * row[i];
    if (block > kLimit) return out_of_memory(false);

    auto **table = static_cast<void **>(ERR_malloc(size_t(slots) * sizeof(void *)));
    if (!table) return out_of_memory(true);
    auto *data = static_cast<unsigned char *>(ERR_malloc(size_t(block)));
    if (!data) {
        ERR_free(table);
        return out_of_memory(true);
    }

    g_last_block_size.store(static_cast<int32_t>(block), std::memory_order_relaxed);
    std::memset(data, 0, size_t(block));
    table[0] = data;
    size_t k = 0;
    unsigned char *at = data;
    for (int i = 0; i < 4; ++i)
        for (uint64_t c = 0; c < count[i]; ++c, at += row[i])
            table[k++] = at;
    return table;
}

/* Releases a table from zep__chan_alloc: its block (entry 0), then the
 * table. Null is accepted. Returns 1. */
int zep__chan_free(void **table)
{
    if (!table) return 1;
    ERR_free(table[0]);
    ERR_free(table);
    return 1;
}

void **ZEP_chan_alloc(ZEP_IMAGE_DESC *desc, int pixels, const char *name, int *size_out)
{
    void **table = zep__chan_alloc(desc, pixels, name);
    if (size_out) *size_out = zep::g_last_block_size.load(std::memory_order_relaxed);
    return table;
}

int ZEP_chan_free(void **table) { return zep__chan_free(table); }
