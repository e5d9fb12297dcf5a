/*
 * Fuzz target of the path-name builders: the input is a syntax, a name and
 * an extension separated by NUL bytes, after one byte that chooses the
 * build mode, the force flag and the frame. Each input goes through the
 * syntax checks, the syntax builder (with the "mem" format) and the printf
 * format builder, into heap buffers of exactly ZEP_PATHNAME_MAX bytes so
 * that the address sanitizer sees any write past them. A result must be a
 * string inside its buffer; a template (mode 2) must be a printf format
 * whose only conversion is the frame's.
 */
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <zep/zep.h>

namespace {

constexpr int kFrames[8] = {-1, 0, 7, 12, 99999, -5, 2147483647, 1};

// Counts the conversions of a printf format ("%%" is none); -1 when a "%"
// ends the text.
int conversions(const char *s)
{
    int n = 0;
    for (; *s; ++s) {
        if (*s != '%') continue;
        if (!*++s) return -1;
        if (*s != '%') ++n;
    }
    return n;
}

void check(uint8_t ok, const char *path, const char *base, int mode)
{
    if (!ok) return;
    if (!std::memchr(path, 0, ZEP_PATHNAME_MAX) || !std::memchr(base, 0, ZEP_PATHNAME_MAX))
        std::abort();
    if (mode == ZEP_PATHNAME_TEMPLATE && conversions(path) > 1) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const int mode = data[0] & 3;
    const uint8_t force = (data[0] >> 2) & 1;
    const int frame_in = kFrames[(data[0] >> 3) & 7];
    const std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    const size_t a = rest.find('\0');
    const size_t b = a == std::string::npos ? a : rest.find('\0', a + 1);
    const std::string syntax = rest.substr(0, a);
    const std::string name = a == std::string::npos ? "foo.0007.mem" : rest.substr(a + 1, b - a - 1);
    const std::string ext = b == std::string::npos ? "" : rest.substr(b + 1);

    ZEP_name_syntax_verify(syntax.c_str());
    ZEP_name_syntax_has_ext(syntax.c_str());
    ZEP_name_syntax_ends_ext(syntax.c_str());
    ZEP_NAME_TOKEN *tokens = nullptr;
    if (ZEP_parse_name_syntax(syntax.c_str(), &tokens, 0)) ZEP_name_tokens_release(tokens);

    char *path = static_cast<char *>(std::malloc(ZEP_PATHNAME_MAX));
    char *base = static_cast<char *>(std::malloc(ZEP_PATHNAME_MAX));
    path[0] = base[0] = 0;
    int frame = frame_in;
    check(ZEP_pathname_build_from_name_syntax(syntax.c_str(), name.c_str(), "mem", ext.c_str(),
                                              mode, &frame, path, base, nullptr, force),
          path, base, mode);
    path[0] = base[0] = 0;
    frame = frame_in;
    check(ZEP_pathname_build_no_name_syntax(name.c_str(), "mem", mode, force, &frame, path, base,
                                            nullptr, nullptr),
          path, base, mode);
    std::free(path);
    std::free(base);
    return 0;
}
