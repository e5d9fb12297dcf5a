// zep formats: one line per registered format, plug-ins first in load
// order, then the built-in "pipe" and "mem": key, extension, name, access
// (read, write, any-order), multi-frame, description.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common.h"

namespace zep::tool {

namespace {

std::string access_text(int access)
{
    std::string s;
    for (auto [bit, word] : {std::pair{ZEP_ACCESS_READ, "read"}, {ZEP_ACCESS_WRITE, "write"},
                             {ZEP_ACCESS_ANY_ORDER, "any-order"}})
        if (access & bit) s += (s.empty() ? "" : ",") + std::string(word);
    return s.empty() ? "-" : s;
}

int run_formats()
{
    Session session;
    if (!session.ok()) return kExitError;

    std::vector<const ZEP_FILE_TYPE *> types;
    ZEP_init(nullptr, nullptr); // restarts the plug-in enumeration
    while (const ZEP_FILE_TYPE *t = ZEP_info()) types.push_back(t);
    for (const char *key : {"pipe", "mem"}) {
        const ZEP_FILE_TYPE *t = ZEP_find(key);
        if (t && std::find(types.begin(), types.end(), t) == types.end()) types.push_back(t);
    }

    using Row = std::vector<std::string>;
    std::vector<Row> rows{{"KEY", "EXTENSION", "NAME", "ACCESS", "MULTI-FRAME", "DESCRIPTION"}};
    auto text = [](const char *s) { return std::string(s && *s ? s : "-"); };
    for (const ZEP_FILE_TYPE *t : types)
        rows.push_back({text(t->key), text(t->extension), text(t->name), access_text(t->access),
                        t->multi_frame ? "yes" : "no", text(t->description)});

    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const Row &r : rows)
        for (std::size_t c = 0; c < r.size(); ++c) widths[c] = std::max(widths[c], r[c].size());
    for (const Row &r : rows) {
        std::string line;
        for (std::size_t c = 0; c < r.size(); ++c) {
            line += r[c];
            if (c + 1 < r.size()) line += std::string(widths[c] - r[c].size() + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
    return kExitOk;
}

} // namespace

void add_formats(CLI::App &app, int &status)
{
    CLI::App *cmd = app.add_subcommand(
        "formats", "List the registered image formats: key, extension, name, access "
                   "(read, write, any-order), multi-frame and description.");
    cmd->callback([&status] { status = run_formats(); });
}

} // namespace zep::tool
