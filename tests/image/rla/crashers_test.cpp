// Bad RLA files of tests/crashers/rla, each read in full (file test, open,
// every line from one below the window to one above it): each fails
// cleanly with its entry's code, at the open or at the first bad line.
// Every file needs an entry; a recipe made the file (the disabled
// *Regenerate* test writes them again), fuzzed files have none.
#include <gtest/gtest.h>

#include <set>

#include "rla_support.h"

namespace rlatest {
namespace {

const fs::path kFolder = ZEP_RLA_CRASHERS_DIR;

// A 4 x 3 file of three 8-bit channels, one literal packet per channel and
// line; `change` edits the header, `edit` the finished image.
Bytes small(void (*change)(Header &) = nullptr, void (*edit)(Image &) = nullptr)
{
    Header h;
    if (change) change(h);
    Image im{h, {}, {}, {}};
    for (int y = 0; y < h.active_height(); ++y) {
        im.records.emplace_back();
        for (int c = 0; c < h.colours; ++c) {
            Bytes plane;
            for (int x = 0; x < h.active_width(); ++x)
                plane.push_back(uint8_t(16 * c + 4 * y + x));
            im.records.back() = cat({im.records.back(), channel(literal(plane))});
        }
    }
    if (edit) edit(im);
    return build({im});
}

// Line 0's first channel replaced by payload, with its true length or the
// one given.
Image &line0(Image &im, const Bytes &payload, std::optional<int> length = {})
{
    Bytes &r = im.records[0];
    r = cat({channel(payload, length), Bytes(r.begin() + 2 + (r[0] << 8 | r[1]), r.end())});
    return im;
}

// Two images; image 1's header gets the chain field `next` (an offset, or
// relative to image 1's own start when relative is set).
Bytes two_images(int64_t next, bool relative)
{
    Image a{{}, {}, {}, 3}, b = a;
    const Bytes first = build({a});
    b.header.next = relative ? int64_t(first.size()) + next : next;
    return build({a, b});
}

struct Crasher {
    const char *file;
    Bytes (*make)();            // the recipe; null for a file found by fuzzing
    int claimed;                // ZEP_rla_is_file
    int open_code;              // zep__err of the open, 0 when it opens
    int image, line, line_code; // the first line that fails, when it opens
};

// clang-format off
const Crasher kCrashers[] = {
    {"empty.rla", [] { return Bytes{}; }, 0, ZEP_E_NOT_KIND, 0, 0, 0},
    {"truncated_header.rla", [] { Bytes b = small(); b.resize(600); return b; }, 0, ZEP_E_NOT_KIND, 0, 0, 0},
    {"window_inverted.rla", [] { return small([](Header &h) { h.window[0] = 3, h.window[1] = 0; }); }, 0, ZEP_E_NOT_KIND, 0, 0, 0},
    {"window_negative.rla", [] { return small([](Header &h) { h.window[2] = h.active[2] = -3; }); }, 0, ZEP_E_NOT_KIND, 0, 0, 0},
    {"active_outside_window.rla", [] { return small([](Header &h) { h.active[1] = 9; }); }, 0, ZEP_E_NOT_KIND, 0, 0, 0},
    {"active_inverted.rla", [] { return small([](Header &h) { h.active[2] = 2, h.active[3] = 1; }); }, 0, ZEP_E_NOT_KIND, 0, 0, 0},
    {"four_colours.rla", [] { return small([](Header &h) { h.colours = 4; }); }, 0, ZEP_E_NOT_KIND, 0, 0, 0},
    {"no_aspect.rla", [] { return small([](Header &h) { h.aspect_name = h.aspect_ratio = ""; }); }, 0, ZEP_E_NOT_KIND, 0, 0, 0},
    {"negative_storage_type.rla", [] { return small([](Header &h) { h.storage = -1; }); }, 0, ZEP_E_NOT_KIND, 0, 0, 0},
    {"negative_aux_count.rla", [] { return small([](Header &h) { h.auxes = -5; }); }, 0, ZEP_E_NOT_KIND, 0, 0, 0},
    {"huge_channel_counts.rla", [] { return small([](Header &h) { h.mattes = h.auxes = 32767; }); }, 0, ZEP_E_NOT_KIND, 0, 0, 0},
    {"bad_gamma.rla", [] { return small([](Header &h) { h.gamma = "abc"; }); }, 1, ZEP_E_NOT_KIND, 0, 0, 0},
    {"short_offset_table.rla", [] { Bytes b = small([](Header &h) { h.window[3] = h.active[3] = 200; }); b.resize(800); return b; }, 1, ZEP_E_NOT_KIND, 0, 0, 0},
    {"chain_into_own_table.rla", [] { return small([](Header &h) { h.next = 744; }); }, 1, ZEP_E_NOT_KIND, 0, 0, 0},
    {"chain_self.rla", [] { return two_images(0, true); }, 1, ZEP_E_NOT_KIND, 0, 0, 0},
    {"chain_backward.rla", [] { return two_images(4, false); }, 1, ZEP_E_NOT_KIND, 0, 0, 0},
    {"chain_past_end.rla", [] { return small([](Header &h) { h.next = 0x7FFFFF00; }); }, 1, ZEP_E_NOT_KIND, 0, 0, 0},
    {"storage_type_3.rla", [] { return small([](Header &h) { h.storage = 3; }); }, 1, ZEP_E_UNSUPPORTED, 0, 0, 0},
    {"integer_40_bits.rla", [] { return small([](Header &h) { h.colour_bits = 40; }); }, 1, ZEP_E_UNSUPPORTED, 0, 0, 0},
    {"offset_past_end.rla", [] { return small(nullptr, [](Image &im) { im.offset_overrides = {{1, 0x7FFFFFF0}}; }); }, 1, 0, 0, 1, ZEP_E_READ},
    {"offset_top_bit.rla", [] { return small(nullptr, [](Image &im) { im.offset_overrides = {{2, 0xFFFFFFF0}}; }); }, 1, 0, 0, 2, ZEP_E_READ},
    {"payload_too_long.rla", [] { return small(nullptr, [](Image &im) { line0(im, literal({1, 2, 3, 4}), 20000); }); }, 1, 0, 0, 0, ZEP_E_READ},
    {"payload_negative.rla", [] { return small(nullptr, [](Image &im) { line0(im, literal({1, 2, 3, 4}), -2); }); }, 1, 0, 0, 0, ZEP_E_READ},
    {"payload_past_end.rla", [] { Bytes b = small(); b.resize(b.size() - 3); return b; }, 1, 0, 0, 2, ZEP_E_READ},
    {"run_overrun.rla", [] { return small(nullptr, [](Image &im) { line0(im, run(10, 7)); }); }, 1, 0, 0, 0, ZEP_E_DECODE},
    {"literal_overrun.rla", [] { return small(nullptr, [](Image &im) { line0(im, literal({1, 2, 3, 4, 5, 6})); }); }, 1, 0, 0, 0, ZEP_E_DECODE},
    {"literal_past_payload.rla", [] { return small(nullptr, [](Image &im) { line0(im, Bytes{0xFC, 1, 2}); }); }, 1, 0, 0, 0, ZEP_E_DECODE},
    {"run_past_payload.rla", [] { return small(nullptr, [](Image &im) { line0(im, Bytes{0x01, 9, 0x01}); }); }, 1, 0, 0, 0, ZEP_E_DECODE},
    {"plane_leftover.rla", [] { return small(nullptr, [](Image &im) { line0(im, cat({literal({1, 2, 3, 4}), Bytes{0}})); }); }, 1, 0, 0, 0, ZEP_E_DECODE},
    {"empty_payload.rla", [] { return small(nullptr, [](Image &im) { line0(im, Bytes{}); }); }, 1, 0, 0, 0, ZEP_E_DECODE},
    {"second_plane_missing.rla", [] { return small([](Header &h) { h.colour_bits = 16; }, [](Image &im) { line0(im, literal({1, 2, 3, 4})); }); }, 1, 0, 0, 0, ZEP_E_DECODE},
    {"float_payload_short.rla", [] { return small([](Header &h) { h.storage = 4, h.colour_bits = 32; }, [](Image &im) { line0(im, Bytes(8, 0x3F)); }); }, 1, 0, 0, 0, ZEP_E_DECODE},
    {"texts_without_terminator.rla", [] { return small([](Header &h) {
         for (std::string *t : {&h.gamma, &h.red, &h.green, &h.blue, &h.white, &h.name, &h.desc, &h.program, &h.machine,
                                &h.user, &h.date, &h.aspect_name, &h.aspect_ratio, &h.chan_format, &h.time, &h.filter,
                                &h.aux_format})
             *t = std::string(128, '7');
     }); }, 1, 0, 0, 0, 0},
    // Found by fuzzing: a 24-bit auxiliary row that starts on a 2-byte boundary
    // behind a 12-bit matte row of odd width.
    {"fuzz_misaligned_aux_row.rla", nullptr, 1, 0, 0, 0, ZEP_E_READ},
};
// clang-format on

const Crasher *entry(const std::string &file)
{
    for (const Crasher &c : kCrashers)
        if (file == c.file) return &c;
    return nullptr;
}

class CrashersTest : public RlaTest {};

TEST_F(CrashersTest, EveryFileFailsCleanlyWithItsCode)
{
    std::set<std::string> seen;
    for (const auto &item : fs::directory_iterator(kFolder)) {
        if (item.path().extension() != ".rla") continue;
        const std::string name = item.path().filename().string();
        seen.insert(name);
        const Crasher *c = entry(name);
        ASSERT_NE(c, nullptr) << name << " has no entry in the table";
        const std::string path = item.path().string();
        EXPECT_LE(fs::file_size(item.path()), 2048u) << name;
        EXPECT_TRUE(!c->make || file_bytes(path) == c->make())
            << name << " differs from its recipe";

        EXPECT_EQ(ZEP_rla_is_file(path.c_str(), nullptr), c->claimed) << name;
        int code = 0;
        Handle h = open_reader(path, &code);
        EXPECT_EQ(code, c->open_code) << name;
        if (!h) continue;

        int failed_image = -1, failed_line = 0, failed_code = 0;
        for (int i = 0; i < h->info.num_images; ++i) {
            const ZEP_WINDOW &w = h->info.images[i].window;
            for (int y = w.bottom - 1; y <= w.top + 1; ++y) {
                void **lines = nullptr;
                const int rc = read_line(h.get(), i, y, &lines);
                EXPECT_EQ(rc, zep__err) << name;
                if (y < w.bottom || y > w.top) {
                    EXPECT_EQ(rc, ZEP_E_SCANLINE) << name;
                } else if (rc != 0 && failed_image < 0) {
                    failed_image = i, failed_line = y, failed_code = rc;
                }
            }
        }
        EXPECT_EQ(failed_code, c->line_code) << name << " line " << failed_line;
        EXPECT_TRUE(!c->line_code || (failed_image == c->image && failed_line == c->line)) << name;
    }
    for (const Crasher &c : kCrashers)
        EXPECT_TRUE(seen.count(c.file)) << c.file << " is missing from the folder";
}

// Writes the files of every recipe into the folder.
TEST_F(CrashersTest, DISABLED_Regenerate)
{
    for (const Crasher &c : kCrashers)
        ASSERT_TRUE(!c.make || write_bytes((kFolder / c.file).string(), c.make())) << c.file;
}

} // namespace
} // namespace rlatest
