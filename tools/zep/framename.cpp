// zep framename NAME: the name of one frame of an image sequence, the
// wildcard pattern of all its frames or its printf template, as the library
// composes them from a name such as "shots/foo.0007.rla". Also the two
// helpers that convert --frames builds its names with.
//
// The format that composes the names is the one of --key, else the one
// whose extension ends NAME. A format with a name syntax ("Name.####.Ext")
// has NAME matched against it; one without composes frame names through
// its printf format string.
#include <cstdio>
#include <memory>
#include <string>

#include "common.h"

namespace zep::tool {

const ZEP_FILE_TYPE *sequence_format(const std::string &name, const std::string &key)
{
    if (name.empty()) {
        fail(name, code_text(ZEP_E_NO_NAME));
        return nullptr;
    }
    if (!key.empty()) {
        const ZEP_FILE_TYPE *t = ZEP_find(key.c_str());
        if (!t) fail(name, "unknown format key \"" + key + "\" (see zep formats)");
        return t;
    }
    // The printf builder finds the format by the name's extension, the
    // default key's format first; only its format result is used here.
    char path[ZEP_PATHNAME_MAX];
    int frame = -1;
    const char *found_key = nullptr;
    const ZEP_FILE_TYPE *t = nullptr;
    clear_report();
    zep__err = 0;
    const bool built = ZEP_pathname_build_no_name_syntax(name.c_str(), nullptr, ZEP_PATHNAME_FRAME,
                                                         0, &frame, path, nullptr, &found_key, &t);
    // A format found before a later step failed (a frame format string of
    // its own without a conversion) still has its name syntax to offer.
    if (t) return t;
    if (!built && zep__err == ZEP_E_KEY)
        fail(name, "no format has the extension of this name; choose one with --key");
    else
        fail(name);
    return nullptr;
}

bool frame_path(const std::string &name, const ZEP_FILE_TYPE &format, int mode, bool force,
                int frame, std::string &path)
{
    const char *syntax = format.name_syntax && *format.name_syntax ? format.name_syntax : nullptr;
    auto built = std::make_unique<char[]>(ZEP_PATHNAME_MAX);
    built[0] = '\0';
    zep__err = 0;
    if (!ZEP_pathname_build(syntax, name.c_str(), format.key, nullptr, mode, force ? 1 : 0, &frame,
                            built.get(), nullptr, nullptr, nullptr))
        return false;
    path = built.get();
    return true;
}

namespace {

struct FramenameOptions {
    std::string name;
    std::string key;
    int frame = -1;
    bool pattern = false;
    bool templ = false;
    bool force = false;
};

int run_framename(const FramenameOptions &o)
{
    Session session;
    if (!session.ok()) return kExitError;
    const ZEP_FILE_TYPE *format = sequence_format(o.name, o.key);
    if (!format) return kExitError;
    const int mode = o.pattern ? ZEP_PATHNAME_WILDCARD
                     : o.templ ? ZEP_PATHNAME_TEMPLATE
                               : ZEP_PATHNAME_FRAME;
    std::string path;
    clear_report();
    if (!frame_path(o.name, *format, mode, o.force, o.frame, path)) return fail(o.name);
    std::printf("%s\n", path.c_str());
    return kExitOk;
}

} // namespace

void add_framename(CLI::App &app, int &status)
{
    auto o = std::make_shared<FramenameOptions>();
    CLI::App *cmd = app.add_subcommand(
        "framename", "Print the name of frame N of the image sequence that NAME belongs to "
                     "(default: the frame in NAME), its wildcard pattern or its printf "
                     "template, as composed by the format of --key or of NAME's extension.");
    cmd->add_option("NAME", o->name, "A name of the sequence, such as shots/foo.0007.rla")
        ->required();
    cmd->add_option("-k,--key", o->key, "Format key (see zep formats)");
    cmd->add_option("-f,--frame", o->frame, "Frame number (default: the one in NAME)")
        ->check(CLI::Range(0, 2147483647));
    CLI::Option *pattern =
        cmd->add_flag("--pattern", o->pattern, "Print the pattern with * for the frame number");
    cmd->add_flag("--template", o->templ,
                  "Print a printf template with the frame conversion (every other % doubled)")
        ->excludes(pattern);
    cmd->add_flag("--force", o->force,
                  "Write every element of the name syntax, the frame with the syntax's width, "
                  "even when NAME lacks them");
    cmd->callback([&status, o] { status = run_framename(*o); });
}

} // namespace zep::tool
