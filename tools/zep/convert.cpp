// zep convert IN OUT: copies every image of a readable file, line by line
// from each window's bottom up, into a file of any writable format (chosen
// by --key or by OUT's extension), keeping the whole description: windows,
// channel groups, response curve, picture format, texts, primaries and
// frame data. The output appears under its name only when every line and
// the close succeeded; a failure leaves no file behind.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common.h"
#include "scanlines.h"

namespace zep::tool {

namespace {

struct ConvertOptions {
    std::string in;
    std::string out;
    std::string key;
    bool verbose = false;
};

// Closes a handle when the scope ends unless it was closed on purpose.
struct HandleCloser {
    void operator()(ZEP_OBJECT *h) const { ZEP_close(h); }
};
using Handle = std::unique_ptr<ZEP_OBJECT, HandleCloser>;

// Copies image i of r to w. Returns false after printing the error line.
bool copy_image(ZEP_OBJECT *r, ZEP_OBJECT *w, int i, const ConvertOptions &o,
                const OutputFile &file, Progress &bar)
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
            fail(o.in);
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

int run_convert(const ConvertOptions &o)
{
    Session session;
    if (!session.ok()) return kExitError;

    Handle r(open_read(o.in, ""));
    if (!r) return kExitError;
    const ZEP_INFO &in = r->info;
    if (in.num_images < 1 || !in.images) return fail(o.in, "the file holds no image");

    const ZEP_FILE_TYPE *format = output_format(o.out, o.key);
    if (!format || !fits_format(o.out, *format, in)) return kExitError;

    OutputFile file(o.out, *format);
    // The writer takes a deep copy of this record: the texts and image
    // descriptions may stay the reader's.
    std::vector<ZEP_IMAGE_DESC> images(in.images, in.images + in.num_images);
    ZEP_INFO info;
    ZEP_info_init(&info);
    copy_file_fields(info, in);
    std::string date = stored_date(in.date);
    if (in.date) info.date = date.data();
    info.key = const_cast<char *>(format->key);
    info.handle = const_cast<char *>(file.write_name().c_str());
    info.full_path = 1;
    info.num_images = in.num_images;
    info.images = images.data();
    clear_report();
    Handle w(ZEP_open(&info, "w"));
    ZEP_info_cleanup(&info, 0);
    if (!w) return file.fail();

    int64_t lines = 0;
    for (const ZEP_IMAGE_DESC &d : images)
        lines += window_height(d.window);
    {
        Progress bar(o.verbose, "converting " + o.out, lines);
        for (int i = 0; i < in.num_images; ++i)
            if (!copy_image(r.get(), w.get(), i, o, file, bar)) return kExitError;
    }
    clear_report();
    if (ZEP_close(w.release()) != 0) return file.fail();
    if (!file.commit()) return kExitError;

    // The pipe format's stream is standard output: say nothing there.
    if (std::strcmp(format->key, "pipe") != 0)
        std::printf("converted %s (%s) to %s (%s): %d image%s, %lld lines\n", o.in.c_str(),
                    r->file_type ? r->file_type->key : in.key, o.out.c_str(), format->key,
                    in.num_images, in.num_images == 1 ? "" : "s", static_cast<long long>(lines));
    return kExitOk;
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
    cmd->add_flag("-v,--verbose", o->verbose,
                  "Show a progress bar on standard error when it is a terminal");
    cmd->callback([&status, o] { status = run_convert(*o); });
}

} // namespace zep::tool
