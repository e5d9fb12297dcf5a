// Shared by the reader's tests: the image tests' fixture (own HOME, reports
// logged) and read handles built directly on the reader's entry points, as
// ZEP_open prepares them for a driver (no format module needed).
#ifndef ZEP_TESTS_IMAGE_RLA_READER_SUPPORT_H
#define ZEP_TESTS_IMAGE_RLA_READER_SUPPORT_H

#include <memory>
#include <string>

#include "image/core/core.h"
#include "image/core/image_support.h"
#include "rla_builder.h"

namespace rlatest {

using namespace zt;

// Closes an open handle through its close routine; frees one whose open
// failed as ZEP_open does.
struct HandleCloser {
    void operator()(ZEP_OBJECT *h) const
    {
        h && h->close ? void(h->close(h)) : void(zep__free_obj(h));
    }
};
using Handle = std::unique_ptr<ZEP_OBJECT, HandleCloser>;

// Opens path for a driver of this key and extension; null when the open
// failed, *code holding zep__err either way. With fail_at > 0 the open's
// fail_at-th allocation fails.
inline Handle open_reader(const std::string &path, int *code, const char *key = "rla",
                          const char *extension = ".rla", bool full_path = true, int fail_at = 0)
{
    Handle h(zep::handle_create(ZEP_ACCESS_READ));
    h->info.handle = STR_save(path.c_str());
    h->info.key = STR_save(key);
    h->info.extension = STR_save(extension);
    h->info.full_path = full_path ? 1 : 0;
    zep__err = 0;
    if (fail_at > 0) err__alloc_fail(fail_at, 0);
    const int ok = ZEP_rla_r_open(h.get());
    *code = zep__err;
    return ok ? std::move(h) : nullptr;
}

// Reads line y of image i; its channel table through *lines.
inline int read_line(ZEP_OBJECT *h, int i, int y, void ***lines)
{
    return h->scan(h->priv[i], y, lines);
}

class ReaderTest : public LibTest {
  protected:
    std::string put(const std::string &name, const Bytes &bytes) const
    {
        const std::string path = file(name);
        EXPECT_TRUE(write_file(path, bytes));
        return path;
    }
    static bool reported(const std::string &message)
    {
        for (const Report &r : reports)
            if (r.message == message) return true;
        return false;
    }
};

} // namespace rlatest

#endif // ZEP_TESTS_IMAGE_RLA_READER_SUPPORT_H
