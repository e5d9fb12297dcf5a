// zep: the command-line face of the image library. Each subcommand lives in
// its own file and registers itself through an add_* function (common.h);
// main parses the command line and returns the subcommand's status.
// Exit statuses: 0 success, 1 "the images differ" (diff), 2 any error,
// including a command line that does not parse.
#include <cstdio>
#include <exception>

#include "common.h"

int main(int argc, char **argv)
{
    using namespace zep::tool;
    CLI::App app{"Reads, writes, converts and compares image files.", "zep"};
    app.set_version_flag("--version", std::string("zep ") + ZEP_TOOL_VERSION);
    app.require_subcommand(1, 1);
    app.footer("Plug-in format modules are loaded from the directories of ZEP_PLUGIN_PATH\n"
               "(separated by ':') or, when it is not set, from the installed plug-in folder.\n"
               "Run 'zep COMMAND --help' for the options of a command.");

    int status = kExitOk;
    add_formats(app, status);
    add_info(app, status);
    add_convert(app, status);
    add_pattern(app, status);
    add_diff(app, status);
    add_framename(app, status);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? kExitOk : kExitError;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zep: %s\n", e.what());
        return kExitError;
    }
    return status;
}
