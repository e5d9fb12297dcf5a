// Shared pieces of the zep tool: the subcommand registration functions, the
// library session (plug-ins loaded, reports captured), the one-line error
// output, opening an image for reading, and sample access helpers.
//
// Each subcommand file defines one add_* function that adds its
// subcommand to the app; the subcommand's callback runs the work and stores
// its exit status in `status`. Errors are printed as one line on standard
// error, "zep: WHAT: message", where the message is the text of the
// library's last report (or, when there was none, a text for zep__err).
//
// Threads: the captured report and the destination of error lines belong to
// the calling thread, so worker threads may each run a conversion; the
// library session is started and ended by the main thread alone.
#ifndef ZEP_TOOL_COMMON_H
#define ZEP_TOOL_COMMON_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

#include <zep/zep.h>

namespace zep::tool {

// Exit statuses: success; "the images differ" (diff only); any error.
inline constexpr int kExitOk = 0;
inline constexpr int kExitDiffer = 1;
inline constexpr int kExitError = 2;

void add_formats(CLI::App &app, int &status);
void add_info(CLI::App &app, int &status);
void add_convert(CLI::App &app, int &status);
void add_pattern(CLI::App &app, int &status);
void add_diff(CLI::App &app, int &status);
void add_framename(CLI::App &app, int &status);

// The library for the length of a command: loads the plug-in modules and
// starts the library with them, then routes every report into the capture
// (nothing reaches standard error through the default handler). The
// destructor shuts the library down and unloads the modules. Module load
// failures are reported on standard error while starting.
class Session {
  public:
    Session();
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    // False when the library could not be started (already printed).
    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
    bool handler_ = false;
};

// Forgets the calling thread's captured report; the text of the newest
// report made on this thread since then, "" when none.
void clear_report();
const std::string &last_report();

// A text for a failure code of zep__err ("" for 0).
std::string code_text(int code);

// Prints "zep: WHAT: MESSAGE" on standard error, the message being the last
// captured report, else code_text(zep__err), else "failed". Returns
// kExitError.
int fail(const std::string &what);
// The same with an explicit message.
int fail(const std::string &what, const std::string &message);

// While one is in scope, the error lines that fail() makes on the calling
// thread are appended to `lines` (each with its line end) instead of going
// to standard error. Captures nest; other threads are not affected.
class ErrorLines {
  public:
    explicit ErrorLines(std::string &lines);
    ~ErrorLines();
    ErrorLines(const ErrorLines &) = delete;
    ErrorLines &operator=(const ErrorLines &) = delete;

  private:
    std::string *saved_;
};

// ---- Frame sequences (framename.cpp) ----
// The naming calls of the library share process-wide scratch state: only
// one thread at a time may call these.

// The format whose name syntax (or, without one, printf format string)
// composes the frame names of `name`: the format of key when one is given,
// else the one the library finds from name's extension (the default key's
// format first). Null after printing the error line.
const ZEP_FILE_TYPE *sequence_format(const std::string &name, const std::string &key);

// Builds from `name` the path of `frame` (mode ZEP_PATHNAME_FRAME; -1 for
// the frame found in name), the wildcard pattern (ZEP_PATHNAME_WILDCARD) or
// the printf template (ZEP_PATHNAME_TEMPLATE) of the sequence, with the
// format's own name syntax. force writes every element of the syntax, with
// the syntax's frame width. False with zep__err set (path then unchanged).
bool frame_path(const std::string &name, const ZEP_FILE_TYPE &format, int mode, bool force,
                int frame, std::string &path);

// Opens path for reading. With an empty key the format is found by content
// (the formats' probes), else by the name's extension. On failure prints the
// error line naming path and returns null.
ZEP_OBJECT *open_read(const std::string &path, const std::string &key);

// Points priv[0] of a handle at image i while in scope, so that scanline
// calls reach that image; restores it on leaving.
class ImageSelect {
  public:
    ImageSelect(ZEP_OBJECT *h, int i) : h_(h), saved_(h->priv[0]) { h->priv[0] = h->priv[i]; }
    ~ImageSelect() { h_->priv[0] = saved_; }
    ImageSelect(const ImageSelect &) = delete;
    ImageSelect &operator=(const ImageSelect &) = delete;

  private:
    ZEP_OBJECT *h_;
    void *saved_;
};

// A scanline buffer (channel-pointer table) for an image description, freed
// on leaving scope. table is null when it could not be allocated (reported).
class LineBuffer {
  public:
    LineBuffer(ZEP_IMAGE_DESC &desc, int width)
        : table(ZEP_chan_alloc(&desc, width, "zep", nullptr))
    {
    }
    ~LineBuffer() { ZEP_chan_free(table); }
    LineBuffer(const LineBuffer &) = delete;
    LineBuffer &operator=(const LineBuffer &) = delete;
    void **table;
};

// Window width and height.
inline int window_width(const ZEP_WINDOW &w) { return w.right - w.left + 1; }
inline int window_height(const ZEP_WINDOW &w) { return w.top - w.bottom + 1; }

// Bytes per sample of a channel group: 1, 2 or 4 for integers by width,
// 4 for float, 8 for double; 0 for an unknown type.
std::size_t sample_bytes(const ZEP_CHAN_GROUP &g);
// Sample x of a channel row of group g, as a double.
double sample_at(const void *row, const ZEP_CHAN_GROUP &g, int x);
// Stores v (clamped to the group's range, rounded for integers) as sample x.
void store_sample(void *row, const ZEP_CHAN_GROUP &g, int x, double v);
// "int", "float", "double" or "type N".
std::string type_name(int type);

} // namespace zep::tool

#endif // ZEP_TOOL_COMMON_H
