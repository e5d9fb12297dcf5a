// Write-then-read through ZEP_open with the shipped "rla" and "rlb"
// modules: every integer width from 1 to 32 bits, float and double, mattes
// and auxiliary channels, active windows, chains of images, and both header
// layouts.
#include <gtest/gtest.h>

#include "rla_support.h"

namespace {

using namespace rlatest;

class RlaRoundTrip : public RlaTest {
  protected:
    void SetUp() override { RlaTest::SetUp(), start({"rla", "rlb"}); }
    std::string path(const std::string &name) const { return file(name); }
};

int width_of(const ZEP_WINDOW &w) { return w.right - w.left + 1; }

// Reads every line of image i of r against what `written` (the writer's
// description) and salt put there: active pixels as written, the rest zero.
// Returns "" or the first difference.
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
    static const uint8_t zeros[8] = {};
    std::swap(r->priv[0], r->priv[i]); // line reads go to image i meanwhile
    const std::string diff = [&]() -> std::string {
        for (int y = win.bottom; y <= win.top; ++y) {
            void **got = nullptr;
            if (ZEP_scan_read(r, y, &got) != 0 || !got)
                return "line " + std::to_string(y) + " unreadable: " + std::to_string(zep__err);
            fill_table(want.table, d, width, y, salt);
            int k = 0;
            for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux})
                for (int c = 0; c < g->count; ++c, ++k)
                    for (int x = 0, size = int(sample_bytes(*g)); x < width; ++x) {
                        const bool stored = y >= act.bottom && y <= act.top &&
                                            x + win.left >= act.left && x + win.left <= act.right;
                        const auto *b = static_cast<const uint8_t *>(want.table[k]) + x * size;
                        if (std::memcmp(static_cast<const uint8_t *>(got[k]) + x * size,
                                        stored ? b : zeros, size_t(size)) != 0)
                            return "image " + std::to_string(i) + " line " + std::to_string(y) +
                                   " channel " + std::to_string(k) + " pixel " + std::to_string(x);
                    }
        }
        return "";
    }();
    std::swap(r->priv[0], r->priv[i]);
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
        out.push_back({"int" + std::to_string(bits), {3, ZEP_C_INTEGER, bits},
                       {1, ZEP_C_INTEGER, bits % 32 + 1}, {1, ZEP_C_INTEGER, 33 - bits},
                       {0, 40, 0, 4}, {0, 40, 0, 4}});
    const ZEP_WINDOW w{10, 309, 3, 9}; // wide enough for 128-byte packets
    constexpr int I = ZEP_C_INTEGER, F = ZEP_C_FLOAT, D = ZEP_C_DOUBLE;
    // clang-format off
    out.insert(out.end(), {
        {"float", {3, F, 32}, {1, F, 32}, {2, F, 32}, w, w},
        {"double", {1, D, 64}, {0, D, 64}, {1, D, 64}, w, w},
        {"mixed", {3, I, 12}, {2, F, 32}, {1, D, 64}, w, w},
        {"mattes only", {0, I, 8}, {4, I, 24}, {0, I, 8}, w, w},
        {"active inside, 8 bits", {3, I, 8}, {1, I, 8}, {0, I, 8}, w, {12, 300, 5, 7}},
        {"active inside, 16 and float", {1, I, 16}, {0, I, 8}, {1, F, 32}, w, {10, 10, 9, 9}},
        {"one pixel", {3, I, 32}, {1, I, 8}, {1, D, 64}, {0, 0, 0, 0}, {0, 0, 0, 0}},
    }); // clang-format on
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
        ASSERT_TRUE(w && write_image(w, 0, ++salt) == 0 && ZEP_close(w) == 0) << zep__err;

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
            EXPECT_TRUE(read[g]->count == groups[g]->count && read[g]->type == groups[g]->type &&
                        read[g]->width == bits)
                << "group " << g;
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
    EXPECT_TRUE(r->info.images[0].usage == 1 && r->info.images[1].usage == 2 &&
                r->info.images[2].usage == 2);
    // Out of file order on purpose: the reader must seek between images.
    for (int i : {2, 0, 1})
        EXPECT_EQ(check_image(r, i, images[size_t(i)], 100 + i), "") << "image " << i;
    EXPECT_EQ(ZEP_close(r), 0);
}

// The "rlb" module writes the current layout too; any revision but FF FE
// makes the older one, whose field word is read only by "rlb" and behind
// which (the bits of each group, say) nothing is taken.
TEST_F(RlaRoundTrip, BothLayoutsReadThroughBothModules)
{
    std::vector<ZEP_IMAGE_DESC> images{
        describe({0, 30, 0, 5}, {3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8})};
    images[0].active = {2, 28, 1, 5};
    Info winfo(path("new"), "rlb", images);
    winfo.info.field = 3;
    winfo.info.filter = const_cast<char *>("gauss");
    ZEP_OBJECT *w = ZEP_open(&winfo.info, "w");
    ASSERT_TRUE(w && write_image(w, 0, 7) == 0 && ZEP_close(w) == 0) << zep__err;

    Bytes f = file_bytes(path("new.rlb"));
    ASSERT_TRUE(f.size() > 740 && f[26] == 0xFF && f[27] == 0xFE);
    write_bytes(path("new.rla"), f);
    f[26] = f[27] = 0;
    f[613] = 5;  // the field word
    f[659] = 16; // colour bits
    write_bytes(path("old.rla"), f);
    write_bytes(path("old.rlb"), f);
    const std::tuple<const char *, const char *, int> cases[] = {
        {"new.rla", "rla", 3}, {"new.rlb", "rlb", 3}, {"old.rla", "rla", 0}, {"old.rlb", "rlb", 5}};
    for (const auto &[name, key, field] : cases) {
        SCOPED_TRACE(name);
        Info rinfo(path(name));
        ZEP_OBJECT *r = ZEP_open(&rinfo.info, "r");
        ASSERT_NE(r, nullptr) << zep__err;
        EXPECT_STREQ(r->info.key, key);
        EXPECT_EQ(r->info.field, field);
        EXPECT_STREQ(r->info.filter, name[0] == 'o' ? "unknown" : "gauss");
        EXPECT_EQ(r->info.images[0].chan.width, 8);
        EXPECT_EQ(check_image(r, 0, images[0], 7), "");
        EXPECT_EQ(ZEP_close(r), 0);
    }
}

} // namespace
