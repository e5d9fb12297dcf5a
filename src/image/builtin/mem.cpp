/*
 * The built-in "mem" format: an image written under a name is kept in
 * process memory, and a read open of the same name in the same process reads
 * it back, scanline by scanline, without touching a disk.
 *
 * The store is a process-wide list of the handles currently open for writing
 * in this format; the key of a stored image is its handle's file name. It
 * exists from the first write open to the close of the last stored handle:
 *
 *   absent  --first write open-->  present  --last write close-->  absent
 *
 * A write handle's priv table has one entry per image, each pointing at that
 * image's MemImage record; the records lie in one block (entry 0). A record
 * holds the channel counts, the copy routine of each channel group, the size
 * of the image and the row table: one zeroed scanline buffer per row, all
 * allocated at open, so that scanline calls never allocate and a row never
 * written reads back as zeros.
 *
 * A read handle shares the stored image: its description's image array and
 * the records with their rows are the writer's. What it owns is its priv
 * table and a block of MemReader records, each with the read buffer that its
 * scanline reads hand out. Record 0 of the shared block counts the open
 * readers. A writer closed while readers remain leaves the shared part to
 * them (it is gone from the store, so no new reader finds it), and the last
 * reader's close frees it.
 *
 * Rows move between buffers with plain copies sized by the channel type and
 * width: 1, 2 or 4 bytes per integer value, 4 per float, 8 per double.
 */
#include <zep/error.h>
#include <zep/image.h>
#include <zep/strings.h>

#include <cstdint>
#include <cstring>

#include "base/list.h"
#include "error/messages.h"
#include "image/builtin/builtin.h"
#include "image/core/core.h"

namespace zep {
namespace {

// Copies `width` values of each of `count` channels, channel k of src to
// channel k of dst.
using CopyFn = void (*)(void **dst, void *const *src, int count, int width);

template <size_t Bytes> void copy_values(void **dst, void *const *src, int count, int width)
{
    const size_t n = Bytes * static_cast<size_t>(width);
    for (int k = 0; k < count; ++k)
        std::memcpy(dst[k], src[k], n);
}

// The copy routine of a channel group; null for a group without channels.
// The sizes match the channel allocator's sample sizes.
CopyFn choose_copy(const ZEP_CHAN_GROUP &g)
{
    if (g.count <= 0) return nullptr;
    if (g.type == ZEP_C_DOUBLE) return copy_values<8>;
    if (g.type == ZEP_C_FLOAT || g.width > 16) return copy_values<4>;
    if (g.width > 8) return copy_values<2>;
    return copy_values<1>;
}

// One image of a stored handle, shared by its writer and readers.
struct MemImage {
    int32_t chan_count;
    int32_t matte_count;
    int32_t aux_count;
    CopyFn copy_chan;
    CopyFn copy_matte;
    CopyFn copy_aux;
    int32_t width;  // window right - left + 1
    int32_t height; // window top - bottom + 1
    void ***rows;   // height scanline buffers; entry y holds row y
    // The channel groups the rows were allocated for (strings left out),
    // from which readers allocate their buffers.
    ZEP_IMAGE_DESC layout;
    // Kept in record 0 for the whole image set:
    int32_t readers;    // read handles open on the image
    bool writer_closed; // the writer has gone; the last reader frees the rest
};

// One image of a read handle.
struct MemReader {
    MemImage *image;
    void **read_buf; // the buffer the scanline reads hand out
};

// A node of the store: the write handle and its block of image records
// (the handle's priv entry 0 may be replaced while operators sit on it).
struct StoreNode {
    DST_LINK link;
    ZEP_OBJECT *handle;
    MemImage *images;
    int32_t count; // records in images
};

DST_LIST *store = nullptr; // null while the store is absent

// Copies the image, matte and auxiliary channels of one scanline, in that
// order, from the channel table src to the channel table dst.
void copy_line(const MemImage &m, void **dst, void *const *src)
{
    if (m.copy_chan) m.copy_chan(dst, src, m.chan_count, m.width);
    int k = m.chan_count;
    if (m.copy_matte) m.copy_matte(dst + k, src + k, m.matte_count, m.width);
    k += m.matte_count;
    if (m.copy_aux) m.copy_aux(dst + k, src + k, m.aux_count, m.width);
}

// Frees the row buffers and the row table of an image record.
void free_rows(MemImage &m)
{
    if (!m.rows) return;
    for (int32_t y = 0; y < m.height; ++y)
        zep__chan_free(m.rows[y]);
    ERR_free(m.rows);
    m.rows = nullptr;
}

int bad_line(int y)
{
    report(kBadScanline, y);
    zep__err = ZEP_E_SCANLINE;
    return ZEP_E_SCANLINE;
}

int mem_write_scan(void *priv, int y, void *buffer)
{
    auto *m = static_cast<MemImage *>(priv);
    if (y < 0 || y >= m->height) return bad_line(y);
    copy_line(*m, m->rows[y], static_cast<void *const *>(buffer));
    zep__err = ZEP_E_NONE;
    return 0;
}

// Stores the address of the reader's copy of row y through buffer.
int mem_read_scan(void *priv, int y, void *buffer)
{
    auto *r = static_cast<MemReader *>(priv);
    const MemImage &m = *r->image;
    if (y < 0 || y >= m.height) return bad_line(y);
    copy_line(m, r->read_buf, m.rows[y]);
    if (buffer) *static_cast<void ***>(buffer) = r->read_buf;
    zep__err = ZEP_E_NONE;
    return 0;
}

// Takes the handle's node out of the store; returns its image records and
// their count.
MemImage *store_remove(ZEP_OBJECT *handle, int32_t *count)
{
    *count = 0;
    if (!store) return nullptr;
    List<StoreNode> list(store);
    StoreNode *node = list.find_if([handle](const StoreNode &n) { return n.handle == handle; });
    MemImage *images = nullptr;
    if (node) {
        images = node->images;
        *count = node->count;
        list.remove(node);
        ERR_free(node);
    }
    if (list.count() == 0) {
        dst__list_destroy(store);
        store = nullptr;
    }
    return images;
}

// Drops the store again when a failed open leaves it empty.
void store_drop_if_empty()
{
    if (store && dst__list_count(store) == 0) {
        dst__list_destroy(store);
        store = nullptr;
    }
}

int mem_write_close(ZEP_OBJECT *handle)
{
    int32_t n = 0;
    MemImage *block = store_remove(handle, &n);
    if (block && block[0].readers > 0) {
        // The readers keep the records, the rows and the image array.
        block[0].writer_closed = true;
        if (handle->priv) handle->priv[0] = nullptr;
        handle->info.images = nullptr;
        handle->info.num_images = 0;
    } else if (block) {
        for (int32_t i = 0; i < n; ++i)
            free_rows(block[i]);
    }
    zep__free_obj(handle);
    zep__err = ZEP_E_NONE;
    return 0;
}

int mem_read_close(ZEP_OBJECT *handle)
{
    auto *readers = handle->priv ? static_cast<MemReader *>(handle->priv[0]) : nullptr;
    bool last_of_orphan = false;
    if (readers) {
        for (int32_t i = 0; i < handle->info.num_images; ++i)
            zep__chan_free(readers[i].read_buf);
        MemImage *shared = readers[0].image;
        --shared[0].readers;
        if (shared[0].writer_closed && shared[0].readers == 0) {
            for (int32_t i = 0; i < handle->info.num_images; ++i)
                free_rows(shared[i]);
            ERR_free(shared);
            last_of_orphan = true;
        }
    }
    if (!last_of_orphan) {
        // The image array stays the writer's (or the other readers').
        handle->info.images = nullptr;
        handle->info.num_images = 0;
    }
    zep__free_obj(handle);
    zep__err = ZEP_E_NONE;
    return 0;
}

// Allocates the priv table of a handle of n images (at least one entry, so
// that entry 0 exists; it stays null without images). Null when memory runs
// out.
void **table_alloc(int32_t n)
{
    size_t entries = n > 0 ? static_cast<size_t>(n) : 1;
    auto **table = static_cast<void **>(ERR_malloc(entries * sizeof(void *)));
    if (table) std::memset(table, 0, entries * sizeof(void *));
    return table;
}

// The width and height of an image window, when both are at least 1 and
// fit an int.
bool window_size(const ZEP_WINDOW &w, int32_t *width, int32_t *height)
{
    int64_t x = static_cast<int64_t>(w.right) - w.left + 1;
    int64_t y = static_cast<int64_t>(w.top) - w.bottom + 1;
    if (x < 1 || y < 1 || x > INT32_MAX || y > INT32_MAX) return false;
    *width = static_cast<int32_t>(x);
    *height = static_cast<int32_t>(y);
    return true;
}

} // namespace

/* Stores the handle's images under its file name: one zeroed scanline buffer
 * per row of every image. Returns 1, or 0 with zep__err -10 (memory), -16
 * (a channel description the allocator refuses, reported by it; or an empty
 * window, reported), leaving the handle as it was given. */
int mem_write_open(ZEP_OBJECT *handle)
{
    const char *key = handle->info.key ? handle->info.key : "mem";
    const int32_t n = handle->info.images ? handle->info.num_images : 0;
    if (!store) {
        store = dst__list_create();
        if (!store) {
            zep__err = ZEP_E_NOMEM;
            return 0;
        }
    }

    void **table = table_alloc(n);
    MemImage *block = nullptr;
    if (table && n > 0) {
        block = static_cast<MemImage *>(ERR_malloc(sizeof(MemImage) * static_cast<size_t>(n)));
        if (block)
            std::memset(static_cast<void *>(block), 0, sizeof(MemImage) * static_cast<size_t>(n));
    }
    auto fail = [&](int code) {
        if (block)
            for (int32_t i = 0; i < n; ++i)
                free_rows(block[i]);
        ERR_free(block);
        ERR_free(table);
        store_drop_if_empty();
        zep__err = code;
        return 0;
    };
    if (!table || (n > 0 && !block)) return fail(ZEP_E_NOMEM);

    for (int32_t i = n - 1; i >= 0; --i) {
        ZEP_IMAGE_DESC &desc = handle->info.images[i];
        MemImage &m = block[i];
        table[i] = &m;
        m.chan_count = desc.chan.count;
        m.matte_count = desc.matte.count;
        m.aux_count = desc.aux.count;
        if (!window_size(desc.window, &m.width, &m.height)) {
            report(kNoAction, key);
            return fail(ZEP_E_UNSUPPORTED);
        }
        const size_t bytes = sizeof(void *) * static_cast<size_t>(m.height);
        m.rows = static_cast<void ***>(ERR_malloc(bytes));
        if (!m.rows) return fail(ZEP_E_NOMEM);
        std::memset(static_cast<void *>(m.rows), 0, bytes);
        for (int32_t y = 0; y < m.height; ++y) {
            m.rows[y] = zep__chan_alloc(&desc, m.width, key);
            if (!m.rows[y]) return fail(zep__err);
        }
        m.layout = desc;
        m.layout.aspect_name = nullptr;
        m.layout.response.tables = nullptr;
        m.layout.chan.format = m.layout.matte.format = nullptr;
        m.layout.aux.format = m.layout.index.format = nullptr;
        m.copy_chan = choose_copy(desc.chan);
        m.copy_matte = choose_copy(desc.matte);
        m.copy_aux = choose_copy(desc.aux);
    }

    auto *node = static_cast<StoreNode *>(ERR_malloc(sizeof(StoreNode)));
    if (!node) return fail(ZEP_E_NOMEM);
    node->link.next = nullptr;
    node->handle = handle;
    node->images = block;
    node->count = n;
    dst__list_append(store, node);

    handle->priv = table;
    handle->scan = mem_write_scan;
    handle->close = mem_write_close;
    return 1;
}

/* Opens the stored image whose file name is the handle's: the handle takes
 * the stored description (strings copied) and shares its image array and
 * rows. Returns 1, or 0 with zep__err -5 (no stored image of that name),
 * -10 (memory) or the channel allocator's code. */
int mem_read_open(ZEP_OBJECT *handle)
{
    StoreNode *found = nullptr;
    if (store) {
        const char *name = handle->info.handle;
        found = List<StoreNode>(store).find_if(
            [name](const StoreNode &s) { return STR_compare(s.handle->info.handle, name) == 0; });
    }
    if (!found) {
        zep__err = ZEP_E_OPEN;
        return 0;
    }
    const ZEP_OBJECT *stored = found->handle;
    MemImage *shared = found->images;

    ERR_free(handle->info.handle);
    ERR_free(handle->info.key);
    ERR_free(handle->info.extension);
    handle->info.handle = handle->info.key = handle->info.extension = nullptr;
    if (!handle_copy(handle, stored)) {
        handle->scan = nullptr;
        handle->close = nullptr;
        zep__err = ZEP_E_NOMEM;
        return 0;
    }

    const int32_t n = found->count;
    void **table = table_alloc(n);
    MemReader *readers = nullptr;
    if (table && n > 0) {
        readers = static_cast<MemReader *>(ERR_malloc(sizeof(MemReader) * static_cast<size_t>(n)));
        if (readers)
            std::memset(static_cast<void *>(readers), 0,
                        sizeof(MemReader) * static_cast<size_t>(n));
    }
    auto fail = [&](int code) {
        if (readers)
            for (int32_t i = 0; i < n; ++i)
                zep__chan_free(readers[i].read_buf);
        ERR_free(readers);
        ERR_free(table);
        handle->scan = nullptr; // the copy took the writer's routines
        handle->close = nullptr;
        zep__err = code;
        return 0;
    };
    if (!table || (n > 0 && !readers)) return fail(ZEP_E_NOMEM);

    const char *key = handle->info.key ? handle->info.key : "mem";
    for (int32_t i = n - 1; i >= 0; --i) {
        readers[i].image = &shared[i];
        readers[i].read_buf = zep__chan_alloc(&shared[i].layout, shared[i].width, key);
        if (!readers[i].read_buf) return fail(zep__err);
        table[i] = &readers[i];
    }

    if (shared) ++shared[0].readers;
    handle->priv = table;
    handle->info.num_images = n;
    handle->info.images = stored->info.images;
    handle->scan = mem_read_scan;
    handle->close = mem_read_close;
    return 1;
}

int mem_is_file(const char *, FILE *) { return 0; }

} // namespace zep
