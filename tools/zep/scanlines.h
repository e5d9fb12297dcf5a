// Scanline plumbing shared by the convert, pattern and diff subcommands on
// top of common.h: the line numbers a format expects, group descriptions,
// the choice of an output format, the output file that appears only when
// it is complete, and the progress bar.
#ifndef ZEP_TOOL_SCANLINES_H
#define ZEP_TOOL_SCANLINES_H

#include <zep/zep.h>

#include <cstdint>
#include <string>

namespace zep::tool {

// The line number a handle's scanline routine takes for window row y: the
// memory format counts rows from 0 at the window bottom, every other format
// uses the window's own coordinates.
int line_number(const ZEP_OBJECT *h, const ZEP_IMAGE_DESC &d, int y);

// The largest value an integer group holds (2^width - 1); 1 for float and
// double groups.
double full_scale(const ZEP_CHAN_GROUP &g);

// "int8", "int12", "float", "double": a group's type with its width.
std::string group_type(const ZEP_CHAN_GROUP &g);

// The format that writes `path`: the one named by key when given, else the
// one whose extension ends the name. Null after printing the error line
// (unknown key, no format for the name, or one that cannot write).
const ZEP_FILE_TYPE *output_format(const std::string &path, const std::string &key);

// True when every image of info can go out through the format; else prints
// the error line. The pipe format writes the first three channels of each
// line as bytes, W = active right + 1 of them, so it takes only images with
// three or more integer colour channels of at most 8 bits whose window
// starts at column 0.
bool fits_format(const std::string &path, const ZEP_FILE_TYPE &format, const ZEP_INFO &info);

// An output file that appears under its name only when complete. Files of
// plug-in formats are written under a hidden temporary name in the same
// folder (opened with the format's key and full_path, so the name is used
// as it stands) and renamed by commit(); without commit() the temporary
// file is removed. The built-in formats write no file (they keep the image
// in memory or stream it to standard output) and use the name unchanged.
class OutputFile {
  public:
    OutputFile(const std::string &path, const ZEP_FILE_TYPE &format);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // The name to hand to ZEP_open.
    const std::string &write_name() const { return write_name_; }
    // Moves the finished file to its name; false after printing why.
    bool commit();
    // Prints the error line for the output file with the library's last
    // report, the temporary name in it replaced by the file's own; returns
    // kExitError.
    int fail() const;

  private:
    std::string path_;
    std::string write_name_;
    bool settled_ = false; // nothing left to rename or remove
};

// Copies the file-wide fields of a description (texts, job, frame, field,
// primaries, white point) into a record set up by ZEP_info_init; the texts
// are shared, not copied, so `from` must outlive the use of `to`.
void copy_file_fields(ZEP_INFO &to, const ZEP_INFO &from);

// The date text to write for a date a reader gave: a date the reader
// expanded from the stored "{seconds since 1970}" form (the locale's "%c"
// layout, longer than the date field of some formats) goes back to that
// form, so a copy keeps the same moment; any other text stays as it is.
std::string stored_date(const char *date);

// A progress bar on standard error, drawn only when enabled and standard
// error is a terminal; it redraws only when the shown percentage changes.
class Progress {
  public:
    Progress(bool enabled, std::string label, int64_t total);
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;
    void advance(int64_t steps = 1);
    // Ends the bar's line (also done by the destructor).
    void finish();

  private:
    void draw();
    bool shown_;
    std::string label_;
    int64_t total_;
    int64_t done_ = 0;
    int percent_ = -1;
};

} // namespace zep::tool

#endif // ZEP_TOOL_SCANLINES_H
