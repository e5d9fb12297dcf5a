// The zep tool's shared pieces: the library session and its report
// capture, error lines, opening files for reading, sample access.
//
// The captured report and the error-line destination are per thread: the
// handler runs on the thread that made the report, so a worker converting
// one frame sees only its own reports.
#include "common.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "zep_plugins.h"

namespace zep::tool {

namespace {

thread_local std::string g_report;
// Where fail() puts error lines; null for standard error.
thread_local std::string *g_lines = nullptr;

// Global handler: keeps the newest report's text and ends the chain, so the
// default handler prints nothing; the subcommand decides what the user sees.
int capture(const char *, int, const char *message, ERR_RECORD *, void *)
{
    g_report = message ? message : "";
    return 0;
}

template <class T>
T clamp_round(double v, double top)
{
    if (!(v > 0)) return 0; // negative and NaN
    if (v >= top) return static_cast<T>(top);
    return static_cast<T>(std::lround(v));
}

} // namespace

Session::Session()
{
    if (zep_plugins_init(nullptr) != 0) {
        std::fprintf(stderr, "zep: cannot start the image library: %s\n",
                     code_text(zep__err).empty() ? "failed" : code_text(zep__err).c_str());
        return;
    }
    handler_ = ERR_dcl_handler(nullptr, capture, nullptr) != 0;
    if (!handler_) {
        std::fprintf(stderr, "zep: cannot start the image library: %s\n",
                     code_text(ZEP_E_NOMEM).c_str());
        return;
    }
    clear_report();
    ok_ = true;
}

Session::~Session()
{
    if (handler_) ERR_can_handler(nullptr);
    zep_plugins_exit();
}

void clear_report() { g_report.clear(); }

const std::string &last_report() { return g_report; }

std::string code_text(int code)
{
    switch (code) {
    case ZEP_E_NONE: return "";
    case ZEP_E_SCANLINE: return "scanline out of range or out of sequence";
    case ZEP_E_TYPE: return "invalid channel or file type, or no format found";
    case ZEP_E_OPEN: return "cannot open the file";
    case ZEP_E_DECODE: return "a scanline cannot be decoded";
    case ZEP_E_NOT_KIND: return "the file is not of the expected kind";
    case ZEP_E_KEY: return "no format for this name (choose one with --key)";
    case ZEP_E_NOMEM: return "out of memory";
    case ZEP_E_SYNTAX: return "the format's name syntax or frame format is invalid";
    case ZEP_E_NO_MATCH: return "the name does not match the format's name syntax";
    case ZEP_E_NO_SYNTAX: return "no name syntax given";
    case ZEP_E_TOO_LONG: return "the name or the path built from it is too long";
    case ZEP_E_NO_NAME: return "no name given";
    case ZEP_E_NULL_ARG: return "a required result has no place to go";
    case ZEP_E_UNSUPPORTED: return "the format cannot do what was asked";
    case ZEP_E_READ: return "a scanline cannot be read";
    case ZEP_E_WRITE: return "a write failed";
    default: return "error " + std::to_string(code);
    }
}

int fail(const std::string &what, const std::string &message)
{
    const std::string line = "zep: " + what + ": " + message + "\n";
    if (g_lines)
        *g_lines += line;
    else
        std::fputs(line.c_str(), stderr); // one call: lines of threads never mix
    return kExitError;
}

ErrorLines::ErrorLines(std::string &lines) : saved_(g_lines) { g_lines = &lines; }

ErrorLines::~ErrorLines() { g_lines = saved_; }

int fail(const std::string &what)
{
    std::string message = last_report();
    // Reports of the file readers often start with the file's name already.
    if (message.rfind(what + ": ", 0) == 0) message.erase(0, what.size() + 2);
    if (message.empty()) message = code_text(zep__err);
    if (message.empty()) message = "failed";
    clear_report();
    return fail(what, message);
}

ZEP_OBJECT *open_read(const std::string &path, const std::string &key)
{
    std::string chosen = key;
    // A format named by the file's extension that accepts the content comes
    // first (an .rlb file also passes the rla probe); then any format that
    // accepts the content.
    const std::size_t dot = path.rfind('.');
    if (chosen.empty() && dot != std::string::npos && path.find('/', dot) == std::string::npos) {
        const ZEP_FILE_TYPE *by_extension = ZEP_find(path.c_str() + dot);
        uint8_t definite = 0;
        if (by_extension && ZEP_is_file_type(path.c_str(), nullptr, by_extension->key, &definite))
            chosen = by_extension->key;
    }
    if (chosen.empty()) {
        uint8_t definite = 0;
        const char *probed = ZEP_get_file_type(path.c_str(), nullptr, &definite);
        if (probed && std::strcmp(probed, "__none_") != 0) chosen = probed;
    }
    clear_report();
    ZEP_INFO info;
    ZEP_info_init(&info);
    // ZEP_open takes private copies of key and name.
    info.key = chosen.empty() ? nullptr : const_cast<char *>(chosen.c_str());
    info.handle = const_cast<char *>(path.c_str());
    info.full_path = 1;
    ZEP_OBJECT *h = ZEP_open(&info, "r");
    ZEP_info_cleanup(&info, 0);
    if (!h) fail(path);
    return h;
}

std::size_t sample_bytes(const ZEP_CHAN_GROUP &g)
{
    switch (g.type) {
    case ZEP_C_INTEGER: return g.width <= 8 ? 1 : g.width <= 16 ? 2 : 4;
    case ZEP_C_FLOAT: return 4;
    case ZEP_C_DOUBLE: return 8;
    default: return 0;
    }
}

double sample_at(const void *row, const ZEP_CHAN_GROUP &g, int x)
{
    switch (g.type) {
    case ZEP_C_INTEGER:
        if (g.width <= 8) return static_cast<const uint8_t *>(row)[x];
        if (g.width <= 16) return static_cast<const uint16_t *>(row)[x];
        return static_cast<const uint32_t *>(row)[x];
    case ZEP_C_FLOAT: return static_cast<const float *>(row)[x];
    case ZEP_C_DOUBLE: return static_cast<const double *>(row)[x];
    default: return 0;
    }
}

void store_sample(void *row, const ZEP_CHAN_GROUP &g, int x, double v)
{
    switch (g.type) {
    case ZEP_C_INTEGER: {
        const int w = std::clamp(g.width, 1, 32);
        const double top = std::ldexp(1.0, w) - 1;
        if (g.width <= 8)
            static_cast<uint8_t *>(row)[x] = clamp_round<uint8_t>(v, top);
        else if (g.width <= 16)
            static_cast<uint16_t *>(row)[x] = clamp_round<uint16_t>(v, top);
        else
            static_cast<uint32_t *>(row)[x] = clamp_round<uint32_t>(v, top);
        break;
    }
    case ZEP_C_FLOAT: static_cast<float *>(row)[x] = static_cast<float>(v); break;
    case ZEP_C_DOUBLE: static_cast<double *>(row)[x] = v; break;
    default: break;
    }
}

std::string type_name(int type)
{
    switch (type) {
    case ZEP_C_INTEGER: return "int";
    case ZEP_C_FLOAT: return "float";
    case ZEP_C_DOUBLE: return "double";
    default: return "type " + std::to_string(type);
    }
}

} // namespace zep::tool
