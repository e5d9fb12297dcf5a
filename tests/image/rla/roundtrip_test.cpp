// Write-then-read through ZEP_open with the shipped "rla" and "rlb"
// modules: every integer width from 1 to 32 bits, float and double, mattes
// and auxiliary channels, active windows smaller than the window, chains of
// images, and a file turned into the older header layout read through both
// modules. The modules' registry entries are checked too.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "writer_support.h"

namespace {

using namespace rla_test;

class RlaRoundTrip : public FolderTest {
  protected:
    void SetUp() override
    {
        FolderTest::SetUp();
        start({"rla", "rlb"});
    }
};

int width_of(const ZEP_WINDOW &w) { return w.right - w.left + 1; }

// Writes every line of image i of w (priv[0] switched to it meanwhile) with
// the pattern of salt. Returns the first failure, or 0.
int write_image(ZEP_OBJECT *w, int i, int salt)
{
    ZEP_IMAGE_DESC &d = w->info.images[i];
    const int width = width_of(d.window);
    Chan line(d, width);
    void *saved = w->priv[0];
    w->priv[0] = w->priv[i];
    int rc = 0;
    for (int y = d.window.bottom; rc == 0 && y <= d.window.top; ++y) {
        fill_table(line.table, d, width, y, salt);
        rc = ZEP_scan_write(w, y, line.table);
    }
    w->priv[0] = saved;
    return rc;
}

// Reads every line of image i of r and compares it with what `written`
// (the description the writer was given) and salt put there: active pixels
// of active lines as written, everything else zero. Returns "" or the
// first difference.
std::string check_image(ZEP_OBJECT *r, int i, const ZEP_IMAGE_DESC &written, int salt)
{
    const ZEP_IMAGE_DESC &d = r->info.images[i];
    const ZEP_WINDOW &win = written.window, &act = written.active;
    if (std::memcmp(&d.window, &win, sizeof win) != 0 ||
        std::memcmp(&d.active, &act, sizeof act) != 0)
        return "windows differ";
    const int width = width_of(win);
    ZEP_IMAGE_DESC layout = d;
    Chan want(layout, width);
    void *saved = r->priv[0];
    r->priv[0] = r->priv[i];
    std::string diff;
    for (int y = win.bottom; diff.empty() && y <= win.top; ++y) {
        void **got = nullptr;
        if (ZEP_scan_read(r, y, &got) != 0 || !got) {
            diff = "line " + std::to_string(y) + " unreadable: " + std::to_string(zep__err);
            break;
        }
        fill_table(want.table, d, width, y, salt);
        int k = 0;
        for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux})
            for (int c = 0; c < g->count && diff.empty(); ++c, ++k) {
                const size_t size = sample_bytes({g->count, g->type, g->width});
                for (int x = 0; x < width && diff.empty(); ++x) {
                    const bool stored = y >= act.bottom && y <= act.top &&
                                        x + win.left >= act.left && x + win.left <= act.right;
                    const auto *a = static_cast<const uint8_t *>(got[k]) + size_t(x) * size;
                    const auto *b = static_cast<const uint8_t *>(want.table[k]) + size_t(x) * size;
                    for (size_t j = 0; j < size; ++j)
                        if (a[j] != (stored ? b[j] : 0)) {
                            diff = "image " + std::to_string(i) + " line " + std::to_string(y) +
                                   " channel " + std::to_string(k) + " pixel " + std::to_string(x);
                            break;
                        }
                }
            }
    }
    r->priv[0] = saved;
    return diff;
}

struct Layout {
    std::string name;
    Group chan, matte, aux;
    ZEP_WINDOW window, active;
};

std::vector<Layout> layouts()
{
    std::vector<Layout> out;
    // Every integer width in every group.
    for (int bits = 1; bits <= 32; ++bits)
        out.push_back({"int" + std::to_string(bits),
                       {3, ZEP_C_INTEGER, bits},
                       {1, ZEP_C_INTEGER, bits % 32 + 1},
                       {1, ZEP_C_INTEGER, 33 - bits},
                       {0, 40, 0, 4},
                       {0, 40, 0, 4}});
    const ZEP_WINDOW w{10, 309, 3, 9}; // wide enough for 128-byte packets
    out.push_back(
        {"float", {3, ZEP_C_FLOAT, 32}, {1, ZEP_C_FLOAT, 32}, {2, ZEP_C_FLOAT, 32}, w, w});
    out.push_back(
        {"double", {1, ZEP_C_DOUBLE, 64}, {0, ZEP_C_DOUBLE, 64}, {1, ZEP_C_DOUBLE, 64}, w, w});
    out.push_back(
        {"mixed", {3, ZEP_C_INTEGER, 12}, {2, ZEP_C_FLOAT, 32}, {1, ZEP_C_DOUBLE, 64}, w, w});
    out.push_back({"mattes only",
                   {0, ZEP_C_INTEGER, 8},
                   {4, ZEP_C_INTEGER, 24},
                   {0, ZEP_C_INTEGER, 8},
                   w,
                   w});
    out.push_back({"active inside, 8 bits",
                   {3, ZEP_C_INTEGER, 8},
                   {1, ZEP_C_INTEGER, 8},
                   {0, ZEP_C_INTEGER, 8},
                   w,
                   {12, 300, 5, 7}});
    out.push_back({"active inside, 16 and float",
                   {1, ZEP_C_INTEGER, 16},
                   {0, ZEP_C_INTEGER, 8},
                   {1, ZEP_C_FLOAT, 32},
                   w,
                   {10, 10, 9, 9}});
    out.push_back({"one pixel",
                   {3, ZEP_C_INTEGER, 32},
                   {1, ZEP_C_INTEGER, 8},
                   {1, ZEP_C_DOUBLE, 64},
                   {0, 0, 0, 0},
                   {0, 0, 0, 0}});
    return out;
}

TEST_F(RlaRoundTrip, EveryChannelTypeAndWidthReadsBackIdentically)
{
    int salt = 0;
    for (const Layout &l : layouts()) {
        SCOPED_TRACE(l.name);
        std::vector<ZEP_IMAGE_DESC> images{describe(l.window, l.chan, l.matte, l.aux)};
        images[0].active = l.active;
        images[0].chan.format = const_cast<char *>("rgb");
        const std::string file = path("rt.rla");
        Info winfo(file, nullptr, images);
        ZEP_OBJECT *w = ZEP_open(&winfo.info, "w");
        ASSERT_NE(w, nullptr) << zep__err;
        ASSERT_EQ(write_image(w, 0, ++salt), 0);
        ASSERT_EQ(ZEP_close(w), 0);

        Info rinfo(file);
        ZEP_OBJECT *r = ZEP_open(&rinfo.info, "r");
        ASSERT_NE(r, nullptr) << zep__err;
        ASSERT_EQ(r->info.num_images, 1);
        const ZEP_IMAGE_DESC &d = r->info.images[0];
        const Group *groups[] = {&l.chan, &l.matte, &l.aux};
        const ZEP_CHAN_GROUP *read[] = {&d.chan, &d.matte, &d.aux};
        for (int g = 0; g < 3; ++g) {
            const int bits = groups[g]->type == ZEP_C_FLOAT    ? 32
                             : groups[g]->type == ZEP_C_DOUBLE ? 64
                                                               : groups[g]->width;
            EXPECT_EQ(read[g]->count, groups[g]->count) << "group " << g;
            EXPECT_EQ(read[g]->type, groups[g]->type) << "group " << g;
            EXPECT_EQ(read[g]->width, bits) << "group " << g;
        }
        EXPECT_STREQ(d.chan.format, "rgb");
        EXPECT_EQ(check_image(r, 0, images[0], salt), "");
        EXPECT_EQ(ZEP_close(r), 0);
    }
}

TEST_F(RlaRoundTrip, ChainsOfImagesReadBackImageByImage)
{
    std::vector<ZEP_IMAGE_DESC> images{
        describe({0, 20, 0, 9}, {3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}),
        describe({0, 5, 2, 4}, {0, ZEP_C_INTEGER, 8}, {0, ZEP_C_INTEGER, 8}, {1, ZEP_C_FLOAT, 32}),
        describe({3, 200, 1, 6}, {1, ZEP_C_INTEGER, 16}),
    };
    images[2].active = {50, 150, 2, 4};
    const std::string file = path("chain.rla");
    Info winfo(file, nullptr, images);
    ZEP_OBJECT *w = ZEP_open(&winfo.info, "w");
    ASSERT_NE(w, nullptr) << zep__err;
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(write_image(w, i, 100 + i), 0) << "image " << i;
    ASSERT_EQ(ZEP_close(w), 0);

    Info rinfo(file);
    ZEP_OBJECT *r = ZEP_open(&rinfo.info, "r");
    ASSERT_NE(r, nullptr) << zep__err;
    ASSERT_EQ(r->info.num_images, 3);
    EXPECT_EQ(r->info.images[0].usage, 1);
    EXPECT_EQ(r->info.images[1].usage, 2);
    EXPECT_EQ(r->info.images[2].usage, 2);
    // Out of file order on purpose: the reader must seek between images.
    for (int i : {2, 0, 1})
        EXPECT_EQ(check_image(r, i, images[size_t(i)], 100 + i), "") << "image " << i;
    EXPECT_EQ(ZEP_close(r), 0);
}

TEST_F(RlaRoundTrip, OlderLayoutReadsThroughBothModules)
{
    std::vector<ZEP_IMAGE_DESC> images{
        describe({0, 30, 0, 5}, {3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8})};
    images[0].active = {2, 28, 1, 5};
    Info winfo(path("new.rla"), nullptr, images);
    winfo.info.field = 3;
    winfo.info.filter = const_cast<char *>("gauss");
    ZEP_OBJECT *w = ZEP_open(&winfo.info, "w");
    ASSERT_NE(w, nullptr) << zep__err;
    ASSERT_EQ(write_image(w, 0, 7), 0);
    ASSERT_EQ(ZEP_close(w), 0);

    // The older layout: any revision but FF FE.
    Bytes f = file_bytes(path("new.rla"));
    ASSERT_EQ(f[26], 0xFF);
    f[26] = f[27] = 0;
    f[613] = 5; // the field word
    write_bytes(path("old.rla"), f);
    write_bytes(path("old.rlb"), f);

    struct Case {
        const char *name, *key;
        int field;
    };
    const Case cases[] = {{"new.rla", "rla", 3}, {"old.rla", "rla", 0}, {"old.rlb", "rlb", 5}};
    for (const Case &c : cases) {
        Info rinfo(path(c.name));
        ZEP_OBJECT *r = ZEP_open(&rinfo.info, "r");
        ASSERT_NE(r, nullptr) << c.name << ": " << zep__err;
        EXPECT_STREQ(r->info.key, c.key) << c.name;
        EXPECT_EQ(r->info.field, c.field) << c.name;
        const bool older = c.name[0] == 'o';
        EXPECT_STREQ(r->info.filter, older ? "unknown" : "gauss") << c.name;
        EXPECT_EQ(r->info.images[0].chan.width, 8) << c.name;
        EXPECT_EQ(check_image(r, 0, images[0], 7), "") << c.name;
        EXPECT_EQ(ZEP_close(r), 0);
    }
}

TEST_F(RlaRoundTrip, TheOlderVariantModuleWritesTheCurrentLayout)
{
    std::vector<ZEP_IMAGE_DESC> images{
        describe({0, 9, 0, 3}, {3, ZEP_C_INTEGER, 16}, {1, ZEP_C_FLOAT, 32})};
    Info winfo(path("pic"), "rlb", images);
    ZEP_OBJECT *w = ZEP_open(&winfo.info, "w");
    ASSERT_NE(w, nullptr) << zep__err;
    ASSERT_EQ(write_image(w, 0, 9), 0);
    ASSERT_EQ(ZEP_close(w), 0);
    const Bytes f = file_bytes(path("pic.rlb"));
    ASSERT_GT(f.size(), 740u);
    EXPECT_EQ(f[26], 0xFF);
    EXPECT_EQ(f[27], 0xFE);

    Info rinfo(path("pic.rlb"));
    ZEP_OBJECT *r = ZEP_open(&rinfo.info, "r");
    ASSERT_NE(r, nullptr) << zep__err;
    EXPECT_EQ(check_image(r, 0, images[0], 9), "");
    EXPECT_EQ(ZEP_close(r), 0);
}

TEST_F(RlaRoundTrip, ModulesDescribeWhatTheCodecStores)
{
    for (const char *key : {"rla", "rlb"}) {
        const ZEP_FILE_TYPE *t = ZEP_find(key);
        ASSERT_NE(t, nullptr) << key;
        EXPECT_EQ(std::string(t->extension), std::string(".") + key);
        EXPECT_EQ(t->access, ZEP_ACCESS_READ | ZEP_ACCESS_WRITE | ZEP_ACCESS_ANY_ORDER);
        EXPECT_EQ(t->number_of_channels, 3);
        EXPECT_EQ(t->bits_per_channel, 0xFFFFFFFFu);
        EXPECT_EQ(t->bits_per_matte, 0xFFFFFFFFu);
        EXPECT_EQ(t->bits_per_z_channel, 0xFFFFFFFFu);
        EXPECT_EQ(t->number_of_mattes + t->number_of_channels, 64);
        EXPECT_EQ(t->supports_active_window, 1);
        EXPECT_NE(t->is_file, nullptr);
    }
    // The probe claims our files with exactly 1.
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 2, 0, 2}, {1, ZEP_C_INTEGER, 8})};
    Info winfo(path("probe.rla"), nullptr, images);
    ZEP_OBJECT *w = ZEP_open(&winfo.info, "w");
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(write_image(w, 0, 1), 0);
    ASSERT_EQ(ZEP_close(w), 0);
    EXPECT_EQ(ZEP_find("rla")->is_file(path("probe.rla").c_str(), nullptr), 1);
}

} // namespace
