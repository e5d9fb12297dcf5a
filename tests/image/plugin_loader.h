// Loads test plug-in modules with dlopen and hands them to ZEP_init through
// an enumerator, as an application does. Modules are named without folder
// or suffix ("tst_basic") and found in ZEP_TEST_PLUGIN_DIR.
#ifndef ZEP_TESTS_IMAGE_PLUGIN_LOADER_H
#define ZEP_TESTS_IMAGE_PLUGIN_LOADER_H

#include <dlfcn.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <zep/zep.h>

namespace zeptest {

class Plugins {
  public:
    // Loads every named module; a name that does not load throws.
    explicit Plugins(std::vector<std::string> names)
    {
        for (auto &n : names) {
            std::string path = std::string(ZEP_TEST_PLUGIN_DIR) + "/" + n + ".so";
            void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!h) throw std::runtime_error(std::string("cannot load ") + path + ": " + dlerror());
            modules_.push_back({h, n});
        }
    }
    ~Plugins()
    {
        for (auto &m : modules_)
            if (m.handle) dlclose(m.handle);
    }
    Plugins(const Plugins &) = delete;
    Plugins &operator=(const Plugins &) = delete;

    // Adds a null module handle to the enumeration (the library skips it).
    void add_null(const std::string &name) { modules_.push_back({nullptr, name}); }

    // Runs ZEP_init with these modules and returns its result.
    int init(void *catalogue = nullptr)
    {
        current_ = this;
        next_ = 0;
        int rc = ZEP_init(catalogue, &Plugins::enumerate);
        current_ = nullptr;
        return rc;
    }

    void *handle(size_t i) const { return modules_.at(i).handle; }

  private:
    struct Module {
        void *handle;
        std::string name;
    };

    static int enumerate(void **module, const char **name)
    {
        if (!current_ || next_ >= current_->modules_.size()) return 0;
        const Module &m = current_->modules_[next_++];
        *module = m.handle;
        *name = m.name.c_str();
        return 1;
    }

    std::vector<Module> modules_;
    static inline Plugins *current_ = nullptr;
    static inline size_t next_ = 0;
};

} // namespace zeptest

#endif // ZEP_TESTS_IMAGE_PLUGIN_LOADER_H
