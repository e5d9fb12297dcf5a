/*
 * The ordered list with a cursor, internal to the library.
 *
 * Elements are the owner's records whose first field is a DST_LINK. The list
 * threads them and never frees them: the owner pops them before destroying
 * the header. The cursor is the element that the next dst__list_next
 * returns; lookups in the middle of a walk save and restore it with
 * dst__list_get_cursor / dst__list_set_cursor.
 */
#ifndef ZEP_SRC_BASE_LIST_H
#define ZEP_SRC_BASE_LIST_H

#include <zep/containers.h>

extern "C" {

/* Orders two elements: negative when existing goes before the new one. */
typedef int (*DST_COMPARE)(const void *existing, const void *element);
/* Visits an element; with stop-on-zero, a 0 ends the walk. */
typedef int (*DST_VISIT)(void *element, void *argument);

/* A new empty header (null when memory runs out, reported). */
DST_LIST *dst__list_create(void);
/* Resets a header to empty; the elements are untouched. */
void dst__list_clear(DST_LIST *list);
/* Frees the header only. */
void dst__list_destroy(DST_LIST *list);

void dst__list_append(DST_LIST *list, void *element);
void dst__list_prepend(DST_LIST *list, void *element);
/* Inserts element before the first existing one for which compare(existing,
 * element) is not negative. With allow_equal 0 an element comparing 0 to an
 * existing one is not inserted. Returns 1 when inserted, else 0. */
int dst__list_insert_sorted(DST_LIST *list, void *element, DST_COMPARE compare,
                            int allow_equal);
/* Unlinks element; returns it, or null when it is not in the list. A cursor
 * on the element moves to the one after it. */
void *dst__list_remove(DST_LIST *list, void *element);
void *dst__list_pop_head(DST_LIST *list);
void *dst__list_pop_tail(DST_LIST *list);

void dst__list_rewind(DST_LIST *list);
/* The element at the cursor, moving the cursor past it; null at the end. */
void *dst__list_next(DST_LIST *list);
void *dst__list_get_cursor(const DST_LIST *list);
void dst__list_set_cursor(DST_LIST *list, void *cursor);

/* Rewinds and calls visit(element, argument) for each element in order, the
 * cursor already past the element during the call; with stop_on_zero a 0
 * result ends the walk. */
void dst__list_for_each(DST_LIST *list, DST_VISIT visit, void *argument,
                        int stop_on_zero);
/* The first element for which visit returns 0, with the cursor resting on it;
 * null when there is none. */
void *dst__list_find(DST_LIST *list, DST_VISIT visit, void *argument);
int dst__list_count(const DST_LIST *list);

} // extern "C"

namespace zep {

/*
 * A typed view of a DST_LIST whose elements are T records starting with a
 * DST_LINK. It adds no state: it only saves the casts at the call sites.
 */
template <typename T>
class List {
  public:
    explicit List(DST_LIST *list) : list_(list) {}

    DST_LIST *raw() const { return list_; }
    void append(T *e) { dst__list_append(list_, e); }
    void prepend(T *e) { dst__list_prepend(list_, e); }
    T *remove(T *e) { return static_cast<T *>(dst__list_remove(list_, e)); }
    T *pop_head() { return static_cast<T *>(dst__list_pop_head(list_)); }
    T *pop_tail() { return static_cast<T *>(dst__list_pop_tail(list_)); }
    void rewind() { dst__list_rewind(list_); }
    T *next() { return static_cast<T *>(dst__list_next(list_)); }
    int count() const { return dst__list_count(list_); }

    /* Walks from the head without touching the cursor. */
    template <typename F>
    T *find_if(F &&pred) const
    {
        for (DST_LINK *l = list_->head; l; l = l->next)
            if (pred(*reinterpret_cast<T *>(l))) return reinterpret_cast<T *>(l);
        return nullptr;
    }

  private:
    DST_LIST *list_;
};

} // namespace zep

#endif // ZEP_SRC_BASE_LIST_H
