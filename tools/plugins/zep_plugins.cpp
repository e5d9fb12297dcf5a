// The plug-in loader: finds module files in a directory list, opens them
// with dlopen and hands them to ZEP_init through an enumerator.
//
// Loaded modules live in one process-wide table (path, file name, dlopen
// handle) in load order; the enumerator walks it with its own cursor. All
// memory goes through the error layer's allocators (std containers with an
// allocator over ERR_malloc), so running out is reported once and the
// loader can be driven through every out-of-memory path in tests.
#include "zep_plugins.h"

#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include <zep/zep.h>

namespace {

template <class T>
struct ErrAllocator {
    using value_type = T;
    ErrAllocator() = default;
    template <class U>
    ErrAllocator(const ErrAllocator<U> &) noexcept
    {
    }
    T *allocate(std::size_t n)
    {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        void *p = ERR_malloc(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, std::size_t) noexcept { ERR_free(p); }
    friend bool operator==(ErrAllocator, ErrAllocator) { return true; }
};

using String = std::basic_string<char, std::char_traits<char>, ErrAllocator<char>>;
template <class T>
using Vector = std::vector<T, ErrAllocator<T>>;

struct Module {
    void *handle;
    String path; // what dlopen was given; the display name for ZEP_init
    String file; // the file name alone, for hiding later duplicates
};

Vector<Module> g_modules;
std::size_t g_cursor = 0;

bool ends_with(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool is_loaded(std::string_view file)
{
    return std::any_of(g_modules.begin(), g_modules.end(),
                       [&](const Module &m) { return std::string_view(m.file) == file; });
}

// The canonical form of a directory, or the text as given when it has none.
String canonical(const char *dir)
{
    char buffer[PATH_MAX];
    return String(realpath(dir, buffer) ? buffer : dir);
}

// The default directory list: the build tree's plug-in folder when this
// helper runs from the build tree; else the installation's, "zep/plugins"
// beside the helper's own file (so an installed tree can be moved), or the
// compiled-in folder when the helper cannot find its own file.
String default_path()
{
    Dl_info self{};
    if (dladdr(reinterpret_cast<void *>(&zep_plugins_load), &self) && self.dli_fname) {
        String dir(self.dli_fname);
        const auto slash = dir.rfind('/');
        dir = slash == String::npos ? String(".") : dir.substr(0, slash);
        if (canonical(dir.c_str()) == canonical(ZEP_PLUGINS_BUILD_LIBDIR))
            return String(ZEP_PLUGINS_BUILD_DIR);
        return dir + "/zep/plugins";
    }
    return String(ZEP_PLUGINS_INSTALL_DIR);
}

// Module file names of one directory, sorted; none when it cannot be read.
Vector<String> module_files(const String &dir)
{
    Vector<String> files;
    DIR *d = opendir(dir.c_str());
    if (!d) return files;
    struct Closer {
        DIR *d;
        ~Closer() { closedir(d); }
    } closer{d};
    while (const dirent *e = readdir(d)) {
        const std::string_view name(e->d_name);
        if (name.empty() || name[0] == '.' || !ends_with(name, ".so")) continue;
        const String full = dir + "/" + e->d_name;
        struct stat st;
        if (stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        files.emplace_back(name);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// dlopen's complaint without the path it usually starts with.
const char *load_error(const String &path)
{
    const char *why = dlerror();
    if (!why) return "unknown error";
    const std::size_t n = path.size();
    if (std::strncmp(why, path.c_str(), n) == 0 && why[n] == ':' && why[n + 1] == ' ')
        return why + n + 2;
    return why;
}

// Loads the modules of one directory; throws std::bad_alloc.
int load_directory(const String &dir)
{
    int loaded = 0;
    for (const String &file : module_files(dir)) {
        if (is_loaded(file)) continue;
        // Everything that allocates happens before dlopen, so a module is
        // never opened without a place in the table.
        Module m{nullptr, dir + "/" + file, file};
        g_modules.reserve(g_modules.size() + 1);
        m.handle = dlopen(m.path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m.handle) {
            ERR_printf(ERR_WARNING, "%s: plug-in module not loaded: %s", m.path.c_str(),
                       load_error(m.path));
            continue;
        }
        g_modules.push_back(std::move(m));
        ++loaded;
    }
    return loaded;
}

void unload_from(std::size_t first)
{
    while (g_modules.size() > first) {
        dlclose(g_modules.back().handle);
        g_modules.pop_back();
    }
}

} // namespace

extern "C" int zep_plugins_load(const char *path)
{
    const std::size_t before = g_modules.size();
    try {
        String list;
        if (path)
            list = path;
        else if (const char *env = getenv("ZEP_PLUGIN_PATH"))
            list = env;
        else
            list = default_path();
        int loaded = 0;
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(':', start);
            if (end == String::npos) end = list.size();
            if (end > start) loaded += load_directory(list.substr(start, end - start));
            start = end + 1;
        }
        return loaded;
    } catch (const std::bad_alloc &) {
        unload_from(before);
        zep__err = ZEP_E_NOMEM;
        return -1;
    }
}

extern "C" int zep_plugins_enumerate(void **module, const char **name)
{
    if (g_cursor >= g_modules.size()) {
        g_cursor = 0;
        return 0;
    }
    const Module &m = g_modules[g_cursor++];
    *module = m.handle;
    *name = m.path.c_str();
    return 1;
}

extern "C" int zep_plugins_init(void *catalogue)
{
    if (g_modules.empty() && zep_plugins_load(nullptr) < 0) return -1;
    g_cursor = 0;
    return ZEP_init(catalogue, zep_plugins_enumerate);
}

extern "C" void zep_plugins_exit(void)
{
    ZEP_exit();
    unload_from(0);
    Vector<Module>().swap(g_modules);
    g_cursor = 0;
}

extern "C" int zep_plugins_count(void) { return static_cast<int>(g_modules.size()); }

extern "C" const char *zep_plugins_path(int i)
{
    if (i < 0 || static_cast<std::size_t>(i) >= g_modules.size()) return nullptr;
    return g_modules[static_cast<std::size_t>(i)].path.c_str();
}
