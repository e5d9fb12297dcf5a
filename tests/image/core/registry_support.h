// Shared by the start-up, query, setting and "tst" format tests: what the
// test modules export, and a fixture that starts the library with a list of
// modules and lists the plug-in formats it registered.
#ifndef ZEP_TESTS_IMAGE_CORE_REGISTRY_SUPPORT_H
#define ZEP_TESTS_IMAGE_CORE_REGISTRY_SUPPORT_H

#include <sstream>

#include "image_support.h"

namespace registry_test {

using namespace zt;

// What tst_full exports through tst_full_state().
struct TstFullState {
    int inits, dones, probe_calls, popups, popdowns;
    void *popup_argument, *avail_a, *avail_b;
    ZEP_CAPABILITY *capabilities;
};

class RegistryTest : public LibTest {
  protected:
    void TearDown() override
    {
        ERR_mask_s(ERR_DEBUG);
        LibTest::TearDown();
    }
    // Stops the library, loads the modules (a space-separated list; "-" is a
    // null module handle, enumerated last) and starts the library with them.
    // Returns ZEP_init's result.
    int boot(const std::string &modules, void *catalogue = nullptr)
    {
        stop();
        std::istringstream in(modules);
        bool null_handle = false;
        modules_.clear();
        for (std::string m; in >> m;)
            m == "-" ? void(null_handle = true) : modules_.push_back(m);
        plugins_ = std::make_unique<zeptest::Plugins>(modules_);
        if (null_handle) plugins_->add_null("ghost");
        return plugins_->init(catalogue);
    }
    TstFullState *full() { return sym<TstFullState *()>("tst_full", "tst_full_state")(); }
    // Key and extension of each plug-in format in enumeration order,
    // space-separated (rewinds the enumeration first).
    static std::string plugin_keys()
    {
        std::string keys;
        ZEP_init(nullptr, nullptr);
        while (const ZEP_FILE_TYPE *t = ZEP_info())
            keys += (keys.empty() ? "" : " ") + std::string(t->key) + t->extension;
        return keys;
    }
};

} // namespace registry_test

#endif // ZEP_TESTS_IMAGE_CORE_REGISTRY_SUPPORT_H
