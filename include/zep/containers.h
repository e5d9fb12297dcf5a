/*
 * Base containers: the ordered, singly linked list with a cursor and the
 * free-list node pool that carry the library's tables.
 *
 * Both are intrusive: a list element is a record of the owner's whose first
 * field is the link to the following element (a DST_LINK), and a free pool
 * node's first word links to the next free node. The containers never copy
 * the owner's data. The operations on them are internal to the library; the
 * records are public because other public records may embed them.
 */
#ifndef ZEP_CONTAINERS_H
#define ZEP_CONTAINERS_H

#include <stdint.h>

#include <zep/export.h>

ZEP_BEGIN_DECLS

/* First field of every list element. */
typedef struct DST_LINK {
    struct DST_LINK *next;
} DST_LINK;

/* An ordered list: an empty list has all four fields zero. */
typedef struct DST_LIST {
    DST_LINK *head;
    DST_LINK *tail;
    DST_LINK *cursor; /* the element the next "next" returns */
    int32_t count;
} DST_LIST;

/* A pool of free nodes of one size. */
typedef struct DST_POOL {
    DST_LINK *free;
} DST_POOL;

ZEP_END_DECLS

#endif /* ZEP_CONTAINERS_H */
