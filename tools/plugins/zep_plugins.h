/*
 * zep_plugins: loads the format plug-in modules of an installation and
 * starts the library with them. The library itself never loads modules;
 * applications that want the shipped formats call zep_plugins_init where
 * they would call ZEP_init, and zep_plugins_exit where they would call
 * ZEP_exit.
 *
 * Where modules are looked for:
 *   - ZEP_PLUGIN_PATH, when set: its directories, separated by ':', in that
 *     order (empty entries are skipped; a set but empty variable means no
 *     modules at all);
 *   - otherwise the plug-in directory of the installation, "zep/plugins"
 *     beside the helper library's own file (<libdir>/zep/plugins), or, when
 *     the helper runs from the build tree, the build tree's plug-in folder.
 * A module is a file whose name ends in ".so" and does not start with '.'.
 * Within a directory the modules load in byte order of their names; a name
 * already loaded from an earlier directory is not loaded again. Each module
 * is opened with dlopen(RTLD_NOW | RTLD_LOCAL); one that fails to load is
 * reported by path (ERR_printf, severity WARNING) and skipped.
 *
 * State: unloaded -> loaded (zep_plugins_load or zep_plugins_init) ->
 * unloaded (zep_plugins_exit, which also shuts the library down). The
 * helper holds no lock: call it from one thread.
 */
#ifndef ZEP_PLUGINS_H
#define ZEP_PLUGINS_H

#if defined(__GNUC__) || defined(__clang__)
#define ZEP_PLUGINS_API __attribute__((visibility("default")))
#else
#define ZEP_PLUGINS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Loads the modules of `path` (a ':'-separated directory list; null: as
 * described above). Returns the number of modules loaded, or -1 when memory
 * ran out (reported; nothing stays loaded). Modules loaded by an earlier
 * call stay loaded; their names are not loaded twice. */
ZEP_PLUGINS_API int zep_plugins_load(const char *path);

/* The enumerator to hand to ZEP_init: yields each loaded module (dlopen
 * handle and path) once, in load order, then returns 0 and starts over on
 * the next call. */
ZEP_PLUGINS_API int zep_plugins_enumerate(void **module, const char **name);

/* Loads the modules (as zep_plugins_load(NULL)) unless some are loaded
 * already, then calls ZEP_init(catalogue, zep_plugins_enumerate). Returns
 * ZEP_init's result, or -1 when memory ran out while loading (zep__err is
 * then -10 and the library is not started). */
ZEP_PLUGINS_API int zep_plugins_init(void *catalogue);

/* Shuts the library down (ZEP_exit) and unloads every module. */
ZEP_PLUGINS_API void zep_plugins_exit(void);

/* Number of loaded modules, and the path of module i (0-based; null when
 * out of range). */
ZEP_PLUGINS_API int zep_plugins_count(void);
ZEP_PLUGINS_API const char *zep_plugins_path(int i);

#ifdef __cplusplus
}
#endif

#endif /* ZEP_PLUGINS_H */
