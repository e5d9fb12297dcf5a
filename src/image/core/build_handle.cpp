/*
 * zep__build_handle: joins an image directory, a file name and a format
 * extension into one path, in a static buffer that each call overwrites.
 *
 * The path is first assembled in a local buffer and copied to the static
 * one only when it fits whole, so a call that fails leaves the previous
 * result in place.
 */
#include <zep/image.h>

#include <cstring>

namespace {

char g_path[ZEP_BUILD_HANDLE_MAX];

bool ends_with(const char *text, size_t len, const char *suffix, size_t suffix_len)
{
    return suffix_len <= len && std::memcmp(text + len - suffix_len, suffix, suffix_len) == 0;
}

// Appends n bytes of s to buf (holding len bytes); false when the result and
// its terminator would not fit in ZEP_BUILD_HANDLE_MAX bytes.
bool append(char *buf, size_t &len, const char *s, size_t n)
{
    if (n >= ZEP_BUILD_HANDLE_MAX - len) return false;
    std::memcpy(buf + len, s, n);
    len += n;
    buf[len] = '\0';
    return true;
}

} // namespace

/* Returns the built path, or null (the buffer untouched) when name is null or
 * the path would not fit in ZEP_BUILD_HANDLE_MAX bytes with its terminator.
 * A null extension counts as an empty one. */
extern "C" ZEP_API const char *zep__build_handle(const char *directory, const char *name,
                                                 const char *extension)
{
    if (!name) return nullptr;
    char buf[ZEP_BUILD_HANDLE_MAX];
    size_t len = 0;
    buf[0] = '\0';

    const bool as_is = !directory || name[0] == '/' || (name[0] == '.' && name[1] == '/');
    if (!as_is) {
        size_t dlen = std::strlen(directory);
        if (!append(buf, len, directory, dlen)) return nullptr;
        if (dlen == 0 || directory[dlen - 1] != '/') {
            if (!append(buf, len, "/", 1)) return nullptr;
        }
    }
    if (!append(buf, len, name, std::strlen(name))) return nullptr;

    const char *ext = extension ? extension : "";
    size_t elen = std::strlen(ext);
    if (!ends_with(buf, len, ext, elen)) {
        // A name that ends in the dot takes the extension without its own.
        if (len > 0 && buf[len - 1] == '.' && elen > 0) {
            ++ext;
            --elen;
        }
        if (!append(buf, len, ext, elen)) return nullptr;
    }
    std::memcpy(g_path, buf, len + 1);
    return g_path;
}
