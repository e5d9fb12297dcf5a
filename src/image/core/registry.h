/*
 * The format registry as the start-up code and the queries share it: the
 * list of registry entries, one per registered format, plug-ins first in
 * enumeration order, then "pipe", then "mem". The list's cursor is the
 * ZEP_info enumeration. Nothing here is exported.
 */
#ifndef ZEP_SRC_IMAGE_CORE_REGISTRY_H
#define ZEP_SRC_IMAGE_CORE_REGISTRY_H

#include <zep/containers.h>
#include <zep/image.h>

namespace zep {

/* One registered format. `type` is what ZEP_find and ZEP_info hand out. */
struct RegistryEntry {
    DST_LINK link;
    int32_t builtin; /* 1 for "pipe" and "mem", 0 for plug-ins */
    ZEP_FILE_TYPE type;
};

/* The registry list; empty while the library is stopped. */
DST_LIST *registry_list();

/* Forgets the entry remembered by ZEP_is_file_type (queries.cpp); called
 * when the registry is torn down. */
void queries_forget_registry();

/* The first registered format (plug-ins first) whose non-empty extension
 * ends name, or null. Starts the library on first use; the registry's
 * cursor is left where it was. */
const ZEP_FILE_TYPE *find_by_name_ending(const char *name);

} // namespace zep

#endif // ZEP_SRC_IMAGE_CORE_REGISTRY_H
