/*
 * The shared-string table seen from inside the library: how many
 * definitions a text holds, for checks of the table's state.
 */
#ifndef ZEP_SRC_STRINGS_SHARED_H
#define ZEP_SRC_STRINGS_SHARED_H

namespace zep {

/* The reference count of s in the shared-string table; 0 when absent. */
int shared_count(const char *s);

} // namespace zep

#endif // ZEP_SRC_STRINGS_SHARED_H
