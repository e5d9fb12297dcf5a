// zep diff A B: compares two image files sample by sample over every image
// and every channel group (colour, matte, auxiliary). Images whose windows
// or channel groups differ are reported as such and not compared further.
// Two samples differ when they are more than --tolerance apart (a NaN
// equals only a NaN). Prints the count of differing samples, the largest
// difference and the first place one occurs (image, group, channel, x, y),
// and exits 0 when the files are equal, 1 when they differ, 2 on an error.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "common.h"
#include "scanlines.h"

namespace zep::tool {

namespace {

struct DiffOptions {
    std::string a;
    std::string b;
    double tolerance = 0.0;
};

struct HandleCloser {
    void operator()(ZEP_OBJECT *h) const { ZEP_close(h); }
};
using Handle = std::unique_ptr<ZEP_OBJECT, HandleCloser>;

constexpr const char *kGroupNames[] = {"colour", "matte", "aux"};

// Where a sample lies.
struct Place {
    int image = 0;
    int group = 0; // index into kGroupNames
    int channel = 0;
    int x = 0;
    int y = 0;
};

// What the comparison found so far.
struct Tally {
    int64_t compared = 0;
    int64_t differing = 0;
    int layouts = 0; // images (or image counts) that could not be compared
    double largest = 0.0;
    Place largest_at;
    Place first_at;
    double first_a = 0.0;
    double first_b = 0.0;
};

// A sample as text: integers without a fraction, others with 9 digits.
std::string number(double v)
{
    char buf[64];
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 9.0e15)
        std::snprintf(buf, sizeof buf, "%.0f", v);
    else
        std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

std::string where(const Place &p)
{
    return "image " + std::to_string(p.image) + ", " + kGroupNames[p.group] + " channel " +
           std::to_string(p.channel) + ", x " + std::to_string(p.x) + ", y " + std::to_string(p.y);
}

std::string window_text(const ZEP_WINDOW &w)
{
    return std::to_string(w.left) + "," + std::to_string(w.right) + "," + std::to_string(w.bottom) +
           "," + std::to_string(w.top);
}

std::string group_text(const ZEP_CHAN_GROUP &g)
{
    return std::to_string(g.count) + " " + group_type(g);
}

// True when images ia of A and ib of B can be compared sample by sample;
// else prints each difference of layout.
bool same_layout(const ZEP_IMAGE_DESC &a, const ZEP_IMAGE_DESC &b, int i)
{
    bool same = true;
    const auto differ = [&](const char *what, const std::string &ta, const std::string &tb) {
        std::printf("image %d: %s differ: %s and %s\n", i, what, ta.c_str(), tb.c_str());
        same = false;
    };
    if (std::memcmp(&a.window, &b.window, sizeof a.window) != 0)
        differ("windows", window_text(a.window), window_text(b.window));
    if (std::memcmp(&a.active, &b.active, sizeof a.active) != 0)
        differ("active windows", window_text(a.active), window_text(b.active));
    const ZEP_CHAN_GROUP *ga[] = {&a.chan, &a.matte, &a.aux};
    const ZEP_CHAN_GROUP *gb[] = {&b.chan, &b.matte, &b.aux};
    for (int g = 0; g < 3; ++g) {
        // The type of an empty group means nothing.
        const bool equal =
            ga[g]->count == gb[g]->count &&
            (ga[g]->count == 0 || (ga[g]->type == gb[g]->type && ga[g]->width == gb[g]->width));
        if (!equal)
            differ((std::string(kGroupNames[g]) + " channels").c_str(), group_text(*ga[g]),
                   group_text(*gb[g]));
    }
    return same;
}

// Compares one sample pair found at p.
void compare(Tally &t, double va, double vb, const Place &p, double tolerance)
{
    ++t.compared;
    double d;
    if (std::isnan(va) || std::isnan(vb)) {
        if (std::isnan(va) && std::isnan(vb)) return;
        d = std::numeric_limits<double>::infinity();
    } else {
        d = std::fabs(va - vb);
        if (!(d > tolerance)) return;
    }
    if (t.differing++ == 0) {
        t.first_at = p;
        t.first_a = va;
        t.first_b = vb;
    }
    if (d > t.largest || t.differing == 1) {
        t.largest = d;
        t.largest_at = p;
    }
}

// Compares image i of both files line by line. False after printing the
// error line of a read that failed.
bool compare_image(ZEP_OBJECT *ha, ZEP_OBJECT *hb, int i, const DiffOptions &o, Tally &t)
{
    const ZEP_IMAGE_DESC &da = ha->info.images[i];
    const ZEP_IMAGE_DESC &db = hb->info.images[i];
    const int width = window_width(da.window);
    const ZEP_CHAN_GROUP *groups[] = {&da.chan, &da.matte, &da.aux};
    ImageSelect select_a(ha, i);
    ImageSelect select_b(hb, i);
    for (int y = da.window.bottom; y <= da.window.top; ++y) {
        void **la = nullptr;
        void **lb = nullptr;
        clear_report();
        if (ZEP_scan_read(ha, line_number(ha, da, y), &la) != 0 || !la) {
            fail(o.a);
            return false;
        }
        if (ZEP_scan_read(hb, line_number(hb, db, y), &lb) != 0 || !lb) {
            fail(o.b);
            return false;
        }
        Place p;
        p.image = i;
        p.y = y;
        int k = 0;
        for (p.group = 0; p.group < 3; ++p.group) {
            const ZEP_CHAN_GROUP &g = *groups[p.group];
            for (p.channel = 0; p.channel < g.count; ++p.channel, ++k)
                for (int x = 0; x < width; ++x) {
                    p.x = da.window.left + x;
                    compare(t, sample_at(la[k], g, x), sample_at(lb[k], g, x), p, o.tolerance);
                }
        }
    }
    return true;
}

int run_diff(const DiffOptions &o)
{
    Session session;
    if (!session.ok()) return kExitError;
    Handle a(open_read(o.a, ""));
    if (!a) return kExitError;
    Handle b(open_read(o.b, ""));
    if (!b) return kExitError;

    // A handle without images (the pipe format's reader) has nothing to
    // compare: that is an error, not a difference.
    const int na = a->info.images ? a->info.num_images : 0;
    const int nb = b->info.images ? b->info.num_images : 0;
    if (na < 1) return fail(o.a, "the file holds no image");
    if (nb < 1) return fail(o.b, "the file holds no image");

    Tally t;
    if (na != nb) {
        std::printf("image counts differ: %d and %d\n", na, nb);
        ++t.layouts;
    }
    for (int i = 0; i < na && i < nb; ++i) {
        if (!same_layout(a->info.images[i], b->info.images[i], i)) {
            ++t.layouts;
            continue;
        }
        if (!compare_image(a.get(), b.get(), i, o, t)) return kExitError;
    }

    if (t.layouts == 0 && t.differing == 0) {
        std::printf("%s and %s are equal: %d image%s, %lld samples compared\n", o.a.c_str(),
                    o.b.c_str(), na, na == 1 ? "" : "s", static_cast<long long>(t.compared));
        return kExitOk;
    }
    std::printf("%s and %s differ: %lld of %lld samples compared\n", o.a.c_str(), o.b.c_str(),
                static_cast<long long>(t.differing), static_cast<long long>(t.compared));
    if (t.differing > 0) {
        std::printf("largest difference: %s at %s\n", number(t.largest).c_str(),
                    where(t.largest_at).c_str());
        std::printf("first difference: %s at %s\n",
                    (number(t.first_a) + " and " + number(t.first_b)).c_str(),
                    where(t.first_at).c_str());
    }
    return kExitDiffer;
}

} // namespace

void add_diff(CLI::App &app, int &status)
{
    auto o = std::make_shared<DiffOptions>();
    CLI::App *cmd = app.add_subcommand(
        "diff", "Compare two image files sample by sample over every image and channel "
                "group. Exit status: 0 equal, 1 different, 2 error.");
    cmd->add_option("A", o->a, "First file")->required();
    cmd->add_option("B", o->b, "Second file")->required();
    cmd->add_option("-t,--tolerance", o->tolerance,
                    "Largest difference two samples may have and still be equal")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    cmd->callback([&status, o] { status = run_diff(*o); });
}

} // namespace zep::tool
