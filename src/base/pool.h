/*
 * The free-list node pool, internal to the library: nodes of one size are
 * taken from a chain of free nodes, or allocated when the chain is empty,
 * and given back to the chain instead of being freed.
 */
#ifndef ZEP_SRC_BASE_POOL_H
#define ZEP_SRC_BASE_POOL_H

#include <stddef.h>

#include <zep/containers.h>

extern "C" {

/* The first free node, or a new one of size bytes (at least a pointer);
 * null when memory runs out ("No more internal memory" reported). */
void *dst__pool_take(DST_POOL *pool, size_t size);
/* Links node at the front of the free chain; null is ignored. */
void dst__pool_give(void *node, DST_POOL *pool);
/* Frees every free node. */
void dst__pool_release(DST_POOL *pool);

} // extern "C"

#endif // ZEP_SRC_BASE_POOL_H
