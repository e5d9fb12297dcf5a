/*
 * The free-list node pool. A free node's first word links to the next free
 * node; taken nodes belong to the caller until given back.
 */
#include "base/pool.h"

#include <zep/error.h>

void *dst__pool_take(DST_POOL *pool, size_t size)
{
    DST_LINK *node = pool->free;
    if (node) {
        pool->free = node->next;
        return node;
    }
    return ERR_malloc(size < sizeof(DST_LINK) ? sizeof(DST_LINK) : size);
}

void dst__pool_give(void *node, DST_POOL *pool)
{
    if (!node) return;
    auto *n = static_cast<DST_LINK *>(node);
    n->next = pool->free;
    pool->free = n;
}

void dst__pool_release(DST_POOL *pool)
{
    while (DST_LINK *n = pool->free) {
        pool->free = n->next;
        ERR_free(n);
    }
}
