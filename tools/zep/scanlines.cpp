// Scanline plumbing of the convert, pattern and diff subcommands: line
// numbers, output format choice, the all-or-nothing output file and the
// progress bar.
#include "scanlines.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <unistd.h>

#include "common.h"

namespace zep::tool {

int line_number(const ZEP_OBJECT *h, const ZEP_IMAGE_DESC &d, int y)
{
    const char *key = h->file_type ? h->file_type->key : h->info.key;
    return key && std::strcmp(key, "mem") == 0 ? y - d.window.bottom : y;
}

double full_scale(const ZEP_CHAN_GROUP &g)
{
    if (g.type == ZEP_C_FLOAT || g.type == ZEP_C_DOUBLE) return 1.0;
    return std::ldexp(1.0, std::clamp(g.width, 1, 32)) - 1.0;
}

std::string group_type(const ZEP_CHAN_GROUP &g)
{
    if (g.type == ZEP_C_FLOAT) return "float";
    if (g.type == ZEP_C_DOUBLE) return "double";
    return "int" + std::to_string(g.width);
}

const ZEP_FILE_TYPE *output_format(const std::string &path, const std::string &key)
{
    const ZEP_FILE_TYPE *t = nullptr;
    if (!key.empty()) {
        t = ZEP_find(key.c_str());
        if (!t) {
            fail(path, "unknown format key \"" + key + "\" (see zep formats)");
            return nullptr;
        }
    } else {
        // The text after the last dot of the file's own name; formats keep
        // their extensions with the dot.
        const char *ext = STR_extension(STR_tail(path.c_str()));
        if (ext && *ext) t = ZEP_find(("." + std::string(ext)).c_str());
        if (!t) {
            fail(path, "no format writes files of this name; choose one with --key");
            return nullptr;
        }
    }
    if (!(t->access & ZEP_ACCESS_WRITE)) {
        fail(path, std::string("format \"") + t->key + "\" cannot write files");
        return nullptr;
    }
    return t;
}

bool fits_format(const std::string &path, const ZEP_FILE_TYPE &format, const ZEP_INFO &info)
{
    if (std::strcmp(format.key, "pipe") != 0) return true;
    for (int i = 0; i < info.num_images; ++i) {
        const ZEP_IMAGE_DESC &d = info.images[i];
        if (d.chan.count < 3 || d.chan.type != ZEP_C_INTEGER || d.chan.width > 8 ||
            d.window.left != 0) {
            fail(path, "the pipe format takes 3 integer colour channels of at most 8 bits "
                       "and a window starting at column 0");
            return false;
        }
    }
    return true;
}

OutputFile::OutputFile(const std::string &path, const ZEP_FILE_TYPE &format) : path_(path)
{
    if (std::strcmp(format.key, "mem") == 0 || std::strcmp(format.key, "pipe") == 0) {
        write_name_ = path;
        settled_ = true;
        return;
    }
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string tail = slash == std::string::npos ? path : path.substr(slash + 1);
    write_name_ = dir + ".zep-" + std::to_string(getpid()) + "-" + tail;
}

OutputFile::~OutputFile()
{
    if (!settled_) std::remove(write_name_.c_str());
}

bool OutputFile::commit()
{
    if (settled_) return true;
    if (std::rename(write_name_.c_str(), path_.c_str()) != 0) {
        zep::tool::fail(path_, std::strerror(errno));
        return false;
    }
    settled_ = true;
    return true;
}

int OutputFile::fail() const
{
    std::string message = last_report();
    if (message.empty()) message = code_text(zep__err);
    if (message.empty()) message = "failed";
    if (write_name_ != path_)
        for (size_t at = message.find(write_name_); at != std::string::npos;
             at = message.find(write_name_, at + path_.size()))
            message.replace(at, write_name_.size(), path_);
    clear_report();
    return zep::tool::fail(path_, message);
}

void copy_file_fields(ZEP_INFO &to, const ZEP_INFO &from)
{
    to.name = from.name;
    to.desc = from.desc;
    to.program = from.program;
    to.machine = from.machine;
    to.user = from.user;
    to.date = from.date;
    to.time = from.time;
    to.filter = from.filter;
    to.compression = from.compression;
    to.job_num = from.job_num;
    to.frame = from.frame;
    to.field = from.field;
    std::memcpy(to.red_pri, from.red_pri, sizeof to.red_pri);
    std::memcpy(to.green_pri, from.green_pri, sizeof to.green_pri);
    std::memcpy(to.blue_pri, from.blue_pri, sizeof to.blue_pri);
    std::memcpy(to.white_pt, from.white_pt, sizeof to.white_pt);
}

std::string stored_date(const char *date)
{
    if (!date) return "";
    std::tm when{};
    const char *end = strptime(date, "%c", &when);
    if (!end || *end != '\0') return date;
    when.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&when);
    if (seconds == static_cast<std::time_t>(-1)) return date;
    return "{" + std::to_string(static_cast<long long>(seconds)) + "}";
}

Progress::Progress(bool enabled, std::string label, int64_t total)
    : shown_(enabled && total > 0 && isatty(STDERR_FILENO)), label_(std::move(label)), total_(total)
{
    if (shown_) draw();
}

Progress::~Progress() { finish(); }

void Progress::advance(int64_t steps)
{
    done_ += steps;
    if (shown_ && int(std::min(done_, total_) * 100 / total_) != percent_) draw();
}

void Progress::draw()
{
    constexpr int kBar = 40;
    percent_ = int(std::min(done_, total_) * 100 / total_);
    const int filled = percent_ * kBar / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%%", label_.c_str(),
                 std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(kBar - filled), '.').c_str(), percent_);
    std::fflush(stderr);
}

void Progress::finish()
{
    if (!shown_) return;
    std::fputc('\n', stderr);
    shown_ = false;
}

} // namespace zep::tool
