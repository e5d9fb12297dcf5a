/*
 * The ordered list with a cursor. Elements are linked through their first
 * field; head, tail, cursor and count live in the header. Every operation is
 * O(1) but remove, pop tail and insert sorted, which walk from the head.
 */
#include "base/list.h"

#include <type_traits>

#include <zep/error.h>

static_assert(std::is_standard_layout_v<DST_LIST>);
static_assert(std::is_standard_layout_v<DST_LINK>);

static DST_LINK *link_of(void *element) { return static_cast<DST_LINK *>(element); }

DST_LIST *dst__list_create(void)
{
    auto *list = static_cast<DST_LIST *>(ERR_malloc(sizeof(DST_LIST)));
    if (list) dst__list_clear(list);
    return list;
}

void dst__list_clear(DST_LIST *list) { *list = DST_LIST{}; }

void dst__list_destroy(DST_LIST *list) { ERR_free(list); }

void dst__list_append(DST_LIST *list, void *element)
{
    DST_LINK *e = link_of(element);
    e->next = nullptr;
    if (list->tail)
        list->tail->next = e;
    else
        list->head = e;
    list->tail = e;
    list->count++;
}

void dst__list_prepend(DST_LIST *list, void *element)
{
    DST_LINK *e = link_of(element);
    e->next = list->head;
    list->head = e;
    if (!list->tail) list->tail = e;
    list->count++;
}

int dst__list_insert_sorted(DST_LIST *list, void *element, DST_COMPARE compare,
                            int allow_equal)
{
    DST_LINK *e = link_of(element);
    DST_LINK *prev = nullptr;
    DST_LINK *cur = list->head;
    int c = 0;
    while (cur && (c = compare(cur, e)) < 0) {
        prev = cur;
        cur = cur->next;
    }
    if (cur && c == 0 && !allow_equal) return 0;
    e->next = cur;
    if (prev)
        prev->next = e;
    else
        list->head = e;
    if (!cur) list->tail = e;
    list->count++;
    return 1;
}

/* Unlinks e, whose predecessor is prev (null for the head). */
static void unlink_after(DST_LIST *list, DST_LINK *prev, DST_LINK *e)
{
    if (prev)
        prev->next = e->next;
    else
        list->head = e->next;
    if (list->tail == e) list->tail = prev;
    if (list->cursor == e) list->cursor = e->next;
    e->next = nullptr;
    list->count--;
}

void *dst__list_remove(DST_LIST *list, void *element)
{
    DST_LINK *prev = nullptr;
    for (DST_LINK *cur = list->head; cur; prev = cur, cur = cur->next) {
        if (cur == element) {
            unlink_after(list, prev, cur);
            return cur;
        }
    }
    return nullptr;
}

void *dst__list_pop_head(DST_LIST *list)
{
    DST_LINK *e = list->head;
    if (e) unlink_after(list, nullptr, e);
    return e;
}

void *dst__list_pop_tail(DST_LIST *list)
{
    DST_LINK *e = list->tail;
    if (!e) return nullptr;
    DST_LINK *prev = nullptr;
    if (list->head != e)
        for (prev = list->head; prev->next != e; prev = prev->next) {}
    unlink_after(list, prev, e);
    return e;
}

void dst__list_rewind(DST_LIST *list) { list->cursor = list->head; }

void *dst__list_next(DST_LIST *list)
{
    DST_LINK *e = list->cursor;
    if (e) list->cursor = e->next;
    return e;
}

void *dst__list_get_cursor(const DST_LIST *list) { return list->cursor; }

void dst__list_set_cursor(DST_LIST *list, void *cursor) { list->cursor = link_of(cursor); }

void dst__list_for_each(DST_LIST *list, DST_VISIT visit, void *argument,
                        int stop_on_zero)
{
    dst__list_rewind(list);
    while (void *e = dst__list_next(list))
        if (visit(e, argument) == 0 && stop_on_zero) return;
}

void *dst__list_find(DST_LIST *list, DST_VISIT visit, void *argument)
{
    dst__list_rewind(list);
    while (void *e = dst__list_next(list)) {
        if (visit(e, argument) == 0) {
            list->cursor = link_of(e);
            return e;
        }
    }
    return nullptr;
}

int dst__list_count(const DST_LIST *list) { return list->count; }
