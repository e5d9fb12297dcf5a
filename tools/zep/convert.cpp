// zep convert IN OUT: copies every image of a readable file, line by line
// from each window's bottom up, into a file of any writable format (chosen
// by --key or by OUT's extension), keeping the whole description: windows,
// channel groups, response curve, picture format, texts, primaries and
// frame data. The output appears under its name only when every line and
// the close succeeded; a failure leaves no file behind.
//
// With --frames FIRST-LAST, IN and OUT each name one frame of a sequence;
// the names of every frame are composed from them first (the naming calls
// are not reentrant), then the pairs are converted one by one, or by -j
// worker threads that take the next frame from a shared counter. Each
// frame's lines and error lines are printed in frame order as soon as the
// frames before it are done; a frame that fails leaves no output and does
// not stop the others.
//
// Threads: the library allows lines to move on several handles at once, but
// its format queries, opens and closes share process-wide state (the
// registry's cursor, the probe cache). A conversion holds the tool's library
// lock for everything but moving lines. A line that fails is reported from
// inside the scanline call, outside that lock; the error layer guards its
// own state.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common.h"
#include "scanlines.h"

namespace zep::tool {

namespace {

// Longest frame range: the names of every frame are built up front.
constexpr long long kMaxFrames = 100000;

struct ConvertOptions {
    std::string in;
    std::string out;
    std::string key;
    std::string frames; // FIRST-LAST; empty for a single file
    int jobs = 1;
    bool verbose = false;
};

// Closes a handle when the scope ends unless it was closed on purpose.
struct HandleCloser {
    void operator()(ZEP_OBJECT *h) const { ZEP_close(h); }
};
using Handle = std::unique_ptr<ZEP_OBJECT, HandleCloser>;

// Held by a conversion for every library call but the scanline ones.
std::mutex g_library;

// Copies image i of r to w. Returns false after printing the error line.
bool copy_image(ZEP_OBJECT *r, ZEP_OBJECT *w, int i, const std::string &in, const OutputFile &file,
                Progress &bar)
{
    const ZEP_IMAGE_DESC &rd = r->info.images[i];
    const ZEP_IMAGE_DESC &wd = w->info.images[i];
    ImageSelect read_image(r, i);
    ImageSelect write_image(w, i);
    for (int y = rd.window.bottom; y <= rd.window.top; ++y) {
        // The reader's channel table has the writer's layout: both handles
        // hold the same channel groups.
        void *line = nullptr;
        clear_report();
        if (ZEP_scan_read(r, line_number(r, rd, y), &line) != 0 || !line) {
            fail(in);
            return false;
        }
        if (ZEP_scan_write(w, line_number(w, wd, y), line) != 0) {
            file.fail();
            return false;
        }
        bar.advance();
    }
    return true;
}

// Converts the file in to out (format of key, else of out's extension).
// Returns the exit status after printing any error line; done receives the
// line that tells what was converted ("" for the pipe format, whose stream
// is standard output). Safe to run on several threads at once.
int convert_file(const std::string &in, const std::string &out, const std::string &key,
                 bool verbose, std::string &done)
{
    // Declared first, so that the handles close under it on every return.
    std::unique_lock lock(g_library);
    Handle r(open_read(in, ""));
    if (!r) return kExitError;
    const ZEP_INFO &info_in = r->info;
    if (info_in.num_images < 1 || !info_in.images) return fail(in, "the file holds no image");

    const ZEP_FILE_TYPE *format = output_format(out, key);
    if (!format || !fits_format(out, *format, info_in)) return kExitError;

    OutputFile file(out, *format);
    // The writer takes a deep copy of this record: the texts and image
    // descriptions may stay the reader's.
    std::vector<ZEP_IMAGE_DESC> images(info_in.images, info_in.images + info_in.num_images);
    ZEP_INFO info;
    ZEP_info_init(&info);
    copy_file_fields(info, info_in);
    std::string date = stored_date(info_in.date);
    if (info_in.date) info.date = date.data();
    info.key = const_cast<char *>(format->key);
    info.handle = const_cast<char *>(file.write_name().c_str());
    info.full_path = 1;
    info.num_images = info_in.num_images;
    info.images = images.data();
    clear_report();
    Handle w(ZEP_open(&info, "w"));
    ZEP_info_cleanup(&info, 0);
    if (!w) return file.fail();

    int64_t lines = 0;
    for (const ZEP_IMAGE_DESC &d : images)
        lines += window_height(d.window);
    bool copied = true;
    lock.unlock();
    {
        Progress bar(verbose, "converting " + out, lines);
        for (int i = 0; copied && i < info_in.num_images; ++i)
            copied = copy_image(r.get(), w.get(), i, in, file, bar);
    }
    lock.lock();
    if (!copied) return kExitError;
    clear_report();
    if (ZEP_close(w.release()) != 0) return file.fail();
    if (!file.commit()) return kExitError;

    if (std::strcmp(format->key, "pipe") != 0)
        done = "converted " + in + " (" + (r->file_type ? r->file_type->key : info_in.key) +
               ") to " + out + " (" + format->key + "): " + std::to_string(info_in.num_images) +
               (info_in.num_images == 1 ? " image, " : " images, ") + std::to_string(lines) +
               " lines\n";
    return kExitOk;
}

int run_convert(const ConvertOptions &o)
{
    Session session;
    if (!session.ok()) return kExitError;
    std::string done;
    const int status = convert_file(o.in, o.out, o.key, o.verbose, done);
    std::fputs(done.c_str(), stdout);
    return status;
}

// ---- Frame sequences ----

struct Frame {
    int number = 0;
    std::string in, out;
    // Filled by the worker that converts the frame.
    int status = kExitError;
    std::string done, errors;
    bool finished = false; // under the print lock
};

// Reads "FIRST-LAST" (or one frame number); false when it is not a range
// of 0 <= FIRST <= LAST of at most kMaxFrames frames.
bool parse_range(const std::string &text, int &first, int &last)
{
    std::smatch m;
    if (!std::regex_match(text, m, std::regex(R"((\d{1,10})(?:-(\d{1,10}))?)"))) return false;
    const long long a = std::stoll(m[1]), b = m[2].matched ? std::stoll(m[2]) : a;
    if (b > INT_MAX || a > b || b - a >= kMaxFrames) return false;
    first = int(a);
    last = int(b);
    return true;
}

// The names of every frame, or an empty list after printing the error line.
// Two frames may not write one file (an OUT without a frame number names
// the same file for every frame). Frame f's output names frame f, as its
// input does, so no frame can write over another's input.
std::vector<Frame> frame_names(const ConvertOptions &o, int first, int last)
{
    const ZEP_FILE_TYPE *in_format = sequence_format(o.in, "");
    const ZEP_FILE_TYPE *out_format = in_format ? sequence_format(o.out, o.key) : nullptr;
    if (!out_format) return {};
    if (std::strcmp(out_format->key, "pipe") == 0) {
        fail(o.out, "the pipe format has one stream: it takes no frame sequence");
        return {};
    }
    std::vector<Frame> frames(size_t(last - first) + 1);
    std::unordered_map<std::string, int> writer; // output name -> frame
    for (size_t i = 0; i < frames.size(); ++i) {
        Frame &f = frames[i];
        f.number = first + int(i);
        clear_report();
        if (!frame_path(o.in, *in_format, ZEP_PATHNAME_FRAME, false, f.number, f.in) ||
            !frame_path(o.out, *out_format, ZEP_PATHNAME_FRAME, false, f.number, f.out)) {
            fail(f.in.empty() ? o.in : o.out);
            return {};
        }
        const auto [at, fresh] = writer.emplace(f.out, f.number);
        if (!fresh) {
            fail(o.out, "frames " + std::to_string(at->second) + " and " +
                            std::to_string(f.number) + " would both be written to " + f.out +
                            "; give OUT a frame number, as in out.0001.rla");
            return {};
        }
    }
    return frames;
}

int run_frames(const ConvertOptions &o)
{
    int first = 0, last = 0;
    if (!parse_range(o.frames, first, last))
        return fail("convert", "--frames takes FIRST-LAST, 0 <= FIRST <= LAST, at most " +
                                   std::to_string(kMaxFrames) + " frames");
    Session session;
    if (!session.ok()) return kExitError;
    std::vector<Frame> frames = frame_names(o, first, last);
    if (frames.empty()) return kExitError;

    std::atomic<size_t> next{0};
    std::mutex print;
    size_t finished = 0, printed = 0;
    auto work = [&] {
        for (size_t i = next++; i < frames.size(); i = next++) {
            Frame &f = frames[i];
            try {
                ErrorLines capture(f.errors);
                clear_report();
                f.status = convert_file(f.in, f.out, o.key, false, f.done);
            } catch (const std::exception &e) {
                f.status = kExitError;
                f.errors += "zep: " + f.in + ": " + e.what() + "\n";
            }
            std::lock_guard lock(print);
            f.finished = true;
            ++finished;
            if (o.verbose)
                std::fprintf(stderr, "frame %d %s (%zu of %zu)\n", f.number,
                             f.status == kExitOk ? "done" : "failed", finished, frames.size());
            // Lines go out in frame order: those of every finished frame
            // that no unfinished one precedes.
            for (; printed < frames.size() && frames[printed].finished; ++printed) {
                std::fputs(frames[printed].done.c_str(), stdout);
                std::fflush(stdout); // keeps the order where both streams meet
                std::fputs(frames[printed].errors.c_str(), stderr);
            }
        }
    };
    const size_t workers = std::min(size_t(o.jobs), frames.size());
    if (workers <= 1) {
        work();
    } else {
        std::vector<std::jthread> threads;
        for (size_t t = 0; t < workers; ++t)
            threads.emplace_back(work);
    } // the threads are joined here

    std::string failed;
    int count = 0;
    for (const Frame &f : frames)
        if (f.status != kExitOk && ++count <= 10)
            failed += (failed.empty() ? "" : ", ") + std::to_string(f.number);
    if (count == 0) return kExitOk;
    return fail("convert", std::to_string(count) + " of " + std::to_string(frames.size()) +
                               " frames failed: " + failed + (count > 10 ? ", ..." : ""));
}

} // namespace

void add_convert(CLI::App &app, int &status)
{
    auto o = std::make_shared<ConvertOptions>();
    CLI::App *cmd = app.add_subcommand(
        "convert", "Copy every image of IN into OUT, in the format of OUT's extension or of "
                   "--key, keeping the description. A failed conversion leaves no OUT behind.");
    cmd->add_option("IN", o->in, "File to read (any readable format)")->required();
    cmd->add_option("OUT", o->out, "File to write")->required();
    cmd->add_option("-k,--key", o->key, "Output format key (see zep formats)");
    CLI::Option *frames = cmd->add_option(
        "--frames", o->frames,
        "Convert the frames FIRST-LAST of a sequence: IN and OUT name one frame each (such as "
        "in.0001.rla and out.0001.rlb), and each frame's names are composed from them");
    cmd->add_option("-j,--jobs", o->jobs, "Frames converted at a time (with --frames)")
        ->check(CLI::Range(1, 64))
        ->needs(frames)
        ->capture_default_str();
    cmd->add_flag("-v,--verbose", o->verbose,
                  "Show a progress bar on standard error when it is a terminal; with --frames, "
                  "a line on standard error as each frame is done");
    cmd->callback([&status, o] { status = o->frames.empty() ? run_convert(*o) : run_frames(*o); });
}

} // namespace zep::tool
