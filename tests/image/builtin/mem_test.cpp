// The "mem" format: images written under a name read back byte for byte by
// a reader of the same name in the same process, the life of the store,
// out-of-range lines, refused descriptions and the out-of-memory paths of
// both opens.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "image/builtin/support.h"

namespace {

using namespace builtin_test;

class MemTest : public LibraryTest {};

// The byte written at byte i of channel k of row y.
uint8_t pattern(int y, int k, size_t i, int salt = 0)
{
    return static_cast<uint8_t>(y * 31 + k * 7 + static_cast<int>(i) * 13 + salt * 101 + 1);
}

// The groups of a description, in channel-table order, as (group, count).
std::vector<Group> groups_of(const Group &chan, const Group &matte, const Group &aux)
{
    return {chan, matte, aux};
}

// Fills every channel of the table for row y.
void fill(void **table, const std::vector<Group> &groups, int width, int y, int salt = 0)
{
    int k = 0;
    for (const Group &g : groups)
        for (int c = 0; c < g.count; ++c, ++k) {
            auto *p = static_cast<uint8_t *>(table[k]);
            size_t n = sample_bytes(g) * static_cast<size_t>(width);
            for (size_t i = 0; i < n; ++i)
                p[i] = pattern(y, k, i, salt);
        }
}

// Compares every channel of a read row with the pattern of row y, or with
// zeros when `written` is false. Returns the first difference, or "".
std::string compare(void *const *table, const std::vector<Group> &groups, int width, int y,
                    bool written, int salt = 0)
{
    int k = 0;
    for (const Group &g : groups)
        for (int c = 0; c < g.count; ++c, ++k) {
            auto *p = static_cast<const uint8_t *>(table[k]);
            size_t n = sample_bytes(g) * static_cast<size_t>(width);
            for (size_t i = 0; i < n; ++i) {
                uint8_t want = written ? pattern(y, k, i, salt) : 0;
                if (p[i] != want)
                    return "row " + std::to_string(y) + " channel " + std::to_string(k) + " byte " +
                           std::to_string(i) + ": " + std::to_string(p[i]) +
                           " != " + std::to_string(want);
            }
        }
    return "";
}

struct Layout {
    const char *name;
    Group chan, matte, aux;
    int width, height;
};

const Layout kLayouts[] = {
    {"int8", {3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}, {0, ZEP_C_INTEGER, 8}, 7, 5},
    {"int16", {3, ZEP_C_INTEGER, 16}, {1, ZEP_C_INTEGER, 12}, {1, ZEP_C_INTEGER, 16}, 6, 4},
    {"int32", {3, ZEP_C_INTEGER, 32}, {1, ZEP_C_INTEGER, 24}, {1, ZEP_C_INTEGER, 32}, 5, 4},
    {"float", {3, ZEP_C_FLOAT, 32}, {1, ZEP_C_FLOAT, 32}, {1, ZEP_C_FLOAT, 32}, 5, 4},
    {"double", {3, ZEP_C_DOUBLE, 64}, {1, ZEP_C_DOUBLE, 64}, {2, ZEP_C_DOUBLE, 64}, 5, 4},
    {"mixed", {4, ZEP_C_INTEGER, 8}, {2, ZEP_C_INTEGER, 16}, {1, ZEP_C_DOUBLE, 64}, 9, 3},
    {"one_small_channel",
     {1, ZEP_C_INTEGER, 4},
     {0, ZEP_C_INTEGER, 8},
     {0, ZEP_C_INTEGER, 8},
     3,
     2},
};

void PrintTo(const Layout &l, std::ostream *os) { *os << l.name; }

class MemRoundTrip : public MemTest, public ::testing::WithParamInterface<Layout> {};

// Rows y % 3 == 1 are never written and must read back as zeros; the
// reader is opened while the writer is still open, as it must be.
TEST_P(MemRoundTrip, ReadsBackEveryWrittenByteAndZerosElsewhere)
{
    const Layout &l = GetParam();
    ZEP_WINDOW window{10, 10 + l.width - 1, -2, -2 + l.height - 1};
    std::vector<ZEP_IMAGE_DESC> images{describe(window, l.chan, l.matte, l.aux)};
    auto groups = groups_of(l.chan, l.matte, l.aux);

    Info winfo("round.mem", "mem", &images);
    ZEP_OBJECT *w = ZEP_open(winfo.get(), "w");
    ASSERT_NE(w, nullptr) << zep__err;
    Chan line(images[0], l.width);
    ASSERT_NE(line.table, nullptr);
    for (int y = 0; y < l.height; ++y) {
        if (y % 3 == 1) continue;
        fill(line.table, groups, l.width, y);
        ASSERT_EQ(ZEP_scan_write(w, y, line.table), 0);
        EXPECT_EQ(zep__err, 0);
    }

    Info rinfo("round.mem", "mem");
    ZEP_OBJECT *r = ZEP_open(rinfo.get(), "r");
    ASSERT_NE(r, nullptr) << zep__err;
    ASSERT_EQ(r->info.num_images, 1);
    const ZEP_IMAGE_DESC &d = r->info.images[0];
    EXPECT_EQ(d.window.left, window.left);
    EXPECT_EQ(d.window.top, window.top);
    EXPECT_EQ(d.chan.count, l.chan.count);
    EXPECT_EQ(d.matte.type, l.matte.type);
    EXPECT_EQ(d.aux.count, l.aux.count);
    EXPECT_STREQ(r->info.handle, "round.mem");
    EXPECT_STREQ(r->info.key, "mem");

    for (int y = 0; y < l.height; ++y) {
        void **got = nullptr;
        ASSERT_EQ(ZEP_scan_read(r, y, &got), 0);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(compare(got, groups, l.width, y, y % 3 != 1), "");
    }

    // The reader shares the stored rows: a later write shows through.
    fill(line.table, groups, l.width, 1, 5);
    ASSERT_EQ(ZEP_scan_write(w, 1, line.table), 0);
    void **got = nullptr;
    ASSERT_EQ(ZEP_scan_read(r, 1, &got), 0);
    EXPECT_EQ(compare(got, groups, l.width, 1, true, 5), "");

    EXPECT_EQ(ZEP_close(r), 0);
    EXPECT_EQ(ZEP_close(w), 0);
    EXPECT_TRUE(reports.empty()) << reports.front().message;
    EXPECT_TRUE(no_leaks());
}

INSTANTIATE_TEST_SUITE_P(Layouts, MemRoundTrip, ::testing::ValuesIn(kLayouts),
                         [](const auto &info) { return std::string(info.param.name); });

std::vector<ZEP_IMAGE_DESC> small_image(int width = 4, int height = 3)
{
    return {describe({0, width - 1, 0, height - 1}, {3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8})};
}

TEST_F(MemTest, ReadFailsWhenNoImageOfThatNameIsStored)
{
    {
        Info rinfo("never.mem", "mem");
        zep__err = 0;
        EXPECT_EQ(ZEP_open(rinfo.get(), "r"), nullptr);
        EXPECT_EQ(zep__err, ZEP_E_OPEN);
    }
    // With another image stored the name must still match.
    auto images = small_image();
    Info winfo("other.mem", "mem", &images);
    ZEP_OBJECT *w = ZEP_open(winfo.get(), "w");
    ASSERT_NE(w, nullptr);
    Info rinfo("never.mem", "mem");
    EXPECT_EQ(ZEP_open(rinfo.get(), "r"), nullptr);
    EXPECT_EQ(zep__err, ZEP_E_OPEN);
    EXPECT_EQ(ZEP_close(w), 0);
    EXPECT_TRUE(no_leaks());
}

TEST_F(MemTest, ClosingTheWriterRemovesTheImage)
{
    auto images = small_image();
    Info winfo("gone.mem", "mem", &images);
    ZEP_OBJECT *w = ZEP_open(winfo.get(), "w");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(ZEP_close(w), 0);
    EXPECT_EQ(zep__err, 0);
    Info rinfo("gone.mem", "mem");
    EXPECT_EQ(ZEP_open(rinfo.get(), "r"), nullptr);
    EXPECT_TRUE(no_leaks());
}

TEST_F(MemTest, ImagesOfDifferentNamesLiveSideBySide)
{
    auto images = small_image(2, 2);
    Info ainfo("a.mem", "mem", &images), binfo("b.mem", ".mem", &images);
    ZEP_OBJECT *a = ZEP_open(ainfo.get(), "w");
    ZEP_OBJECT *b = ZEP_open(binfo.get(), "w");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::vector<Group> groups{{3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}};
    Chan line(images[0], 2);
    fill(line.table, groups, 2, 0, 1);
    ASSERT_EQ(ZEP_scan_write(a, 0, line.table), 0);
    fill(line.table, groups, 2, 0, 2);
    ASSERT_EQ(ZEP_scan_write(b, 0, line.table), 0);

    // Closing a leaves b stored and readable.
    EXPECT_EQ(ZEP_close(a), 0);
    Info rinfo("b.mem", "mem");
    ZEP_OBJECT *r = ZEP_open(rinfo.get(), "r");
    ASSERT_NE(r, nullptr);
    void **got = nullptr;
    ASSERT_EQ(ZEP_scan_read(r, 0, &got), 0);
    EXPECT_EQ(compare(got, groups, 2, 0, true, 2), "");
    EXPECT_EQ(ZEP_close(r), 0);
    Info again("a.mem", "mem");
    EXPECT_EQ(ZEP_open(again.get(), "r"), nullptr);
    EXPECT_EQ(ZEP_close(b), 0);
    EXPECT_TRUE(no_leaks());
}

TEST_F(MemTest, LinesOutsideTheImageAreRefused)
{
    auto images = small_image(4, 3);
    Info winfo("lines.mem", "mem", &images);
    ZEP_OBJECT *w = ZEP_open(winfo.get(), "w");
    ASSERT_NE(w, nullptr);
    Info rinfo("lines.mem", "mem");
    ZEP_OBJECT *r = ZEP_open(rinfo.get(), "r");
    ASSERT_NE(r, nullptr);
    Chan line(images[0], 4);

    for (int y : {-1, 3, 1000}) {
        SCOPED_TRACE(y);
        reports.clear();
        zep__err = 0;
        EXPECT_EQ(ZEP_scan_write(w, y, line.table), ZEP_E_SCANLINE);
        EXPECT_EQ(zep__err, ZEP_E_SCANLINE);
        void **got = nullptr;
        EXPECT_EQ(ZEP_scan_read(r, y, &got), ZEP_E_SCANLINE);
        EXPECT_EQ(zep__err, ZEP_E_SCANLINE);
        EXPECT_EQ(got, nullptr);
        auto bad = reports_of(zep::kBadScanline);
        ASSERT_EQ(bad.size(), 2u);
        EXPECT_EQ(bad[0].message, expected(zep::kBadScanline, y));
        EXPECT_EQ(bad[1].message, expected(zep::kBadScanline, y));
        EXPECT_EQ(bad[0].severity, ERR_ERROR);
    }
    // The last line is fine.
    EXPECT_EQ(ZEP_scan_write(w, 2, line.table), 0);
    EXPECT_EQ(ZEP_close(r), 0);
    EXPECT_EQ(ZEP_close(w), 0);
}

TEST_F(MemTest, TwoReadersReadIndependently)
{
    auto images = small_image(3, 4);
    std::vector<Group> groups{{3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}};
    Info winfo("two.mem", "mem", &images);
    ZEP_OBJECT *w = ZEP_open(winfo.get(), "w");
    ASSERT_NE(w, nullptr);
    Chan line(images[0], 3);
    for (int y = 0; y < 4; ++y) {
        fill(line.table, groups, 3, y);
        ASSERT_EQ(ZEP_scan_write(w, y, line.table), 0);
    }
    Info rinfo("two.mem", "mem");
    ZEP_OBJECT *r1 = ZEP_open(rinfo.get(), "r");
    ZEP_OBJECT *r2 = ZEP_open(rinfo.get(), "r");
    ASSERT_NE(r1, nullptr);
    ASSERT_NE(r2, nullptr);
    void **a = nullptr, **b = nullptr;
    ASSERT_EQ(ZEP_scan_read(r1, 0, &a), 0);
    ASSERT_EQ(ZEP_scan_read(r2, 3, &b), 0);
    // Each reader's line stays as it was read.
    EXPECT_EQ(compare(a, groups, 3, 0, true), "");
    EXPECT_EQ(compare(b, groups, 3, 3, true), "");
    EXPECT_EQ(ZEP_close(r1), 0);
    ASSERT_EQ(ZEP_scan_read(r2, 2, &b), 0);
    EXPECT_EQ(compare(b, groups, 3, 2, true), "");
    EXPECT_EQ(ZEP_close(r2), 0);
    EXPECT_EQ(ZEP_close(w), 0);
    EXPECT_TRUE(no_leaks());
}

// A writer closed before its reader leaves the image to the reader; no new
// reader finds it, and the reader's close frees it.
TEST_F(MemTest, ReaderOutlivesItsWriter)
{
    auto images = small_image(5, 2);
    std::vector<Group> groups{{3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}};
    Info winfo("early.mem", "mem", &images);
    ZEP_OBJECT *w = ZEP_open(winfo.get(), "w");
    ASSERT_NE(w, nullptr);
    Chan line(images[0], 5);
    fill(line.table, groups, 5, 1);
    ASSERT_EQ(ZEP_scan_write(w, 1, line.table), 0);
    Info rinfo("early.mem", "mem");
    ZEP_OBJECT *r1 = ZEP_open(rinfo.get(), "r");
    ZEP_OBJECT *r2 = ZEP_open(rinfo.get(), "r");
    ASSERT_NE(r1, nullptr);
    ASSERT_NE(r2, nullptr);
    EXPECT_EQ(ZEP_close(w), 0);

    EXPECT_EQ(ZEP_open(rinfo.get(), "r"), nullptr);
    void **got = nullptr;
    ASSERT_EQ(ZEP_scan_read(r1, 1, &got), 0);
    EXPECT_EQ(compare(got, groups, 5, 1, true), "");
    EXPECT_EQ(r1->info.images[0].window.right, 4);
    EXPECT_EQ(ZEP_close(r1), 0);
    ASSERT_EQ(ZEP_scan_read(r2, 0, &got), 0);
    EXPECT_EQ(compare(got, groups, 5, 0, false), "");
    EXPECT_EQ(ZEP_close(r2), 0);
    EXPECT_TRUE(no_leaks());
}

TEST_F(MemTest, EveryImageOfAHandleIsStored)
{
    std::vector<ZEP_IMAGE_DESC> images{
        describe({0, 3, 0, 2}, {3, ZEP_C_INTEGER, 8}),
        describe({0, 1, 0, 1}, {1, ZEP_C_INTEGER, 16}, {1, ZEP_C_INTEGER, 16}),
    };
    Info winfo("pair.mem", "mem", &images);
    ZEP_OBJECT *w = ZEP_open(winfo.get(), "w");
    ASSERT_NE(w, nullptr);
    Chan line(images[0], 4);
    std::vector<Group> groups{{3, ZEP_C_INTEGER, 8}};
    fill(line.table, groups, 4, 2);
    ASSERT_EQ(ZEP_scan_write(w, 2, line.table), 0);
    Info rinfo("pair.mem", "mem");
    ZEP_OBJECT *r = ZEP_open(rinfo.get(), "r");
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->info.num_images, 2);
    EXPECT_EQ(r->info.images[1].window.right, 1);
    EXPECT_EQ(r->info.images[1].matte.width, 16);
    void **got = nullptr;
    ASSERT_EQ(ZEP_scan_read(r, 2, &got), 0);
    EXPECT_EQ(compare(got, groups, 4, 2, true), "");
    EXPECT_EQ(ZEP_close(r), 0);
    EXPECT_EQ(ZEP_close(w), 0);
    EXPECT_TRUE(no_leaks());
}

TEST_F(MemTest, AHandleWithoutImagesHasNoLinesToMove)
{
    Info winfo("empty.mem", "mem");
    ZEP_OBJECT *w = ZEP_open(winfo.get(), "w");
    ASSERT_NE(w, nullptr);
    uint8_t byte = 0;
    void *table[1] = {&byte};
    EXPECT_EQ(ZEP_scan_write(w, 0, table), ZEP_E_UNSUPPORTED);
    Info rinfo("empty.mem", "mem");
    ZEP_OBJECT *r = ZEP_open(rinfo.get(), "r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->info.num_images, 0);
    void **got = nullptr;
    EXPECT_EQ(ZEP_scan_read(r, 0, &got), ZEP_E_UNSUPPORTED);
    EXPECT_EQ(ZEP_close(r), 0);
    EXPECT_EQ(ZEP_close(w), 0);
    EXPECT_TRUE(no_leaks());
}

struct Refusal {
    const char *name;
    ZEP_IMAGE_DESC desc;
    const zep::Message *message;
};

void PrintTo(const Refusal &r, std::ostream *os) { *os << r.name; }

class MemRefused : public MemTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(MemRefused, WriteOpenFailsAndStoresNothing)
{
    std::vector<ZEP_IMAGE_DESC> images{GetParam().desc};
    Info winfo("refused.mem", "mem", &images);
    EXPECT_EQ(ZEP_open(winfo.get(), "w"), nullptr);
    EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
    auto r = reports_of(*GetParam().message);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].message, expected(*GetParam().message, "mem"));
    Info rinfo("refused.mem", "mem");
    EXPECT_EQ(ZEP_open(rinfo.get(), "r"), nullptr);
    EXPECT_TRUE(no_leaks());
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, MemRefused,
    ::testing::Values(
        Refusal{"image_width_33", describe({0, 3, 0, 3}, {3, ZEP_C_INTEGER, 33}),
                &zep::kNoImageWidth},
        Refusal{"matte_type_0", describe({0, 3, 0, 3}, {3, ZEP_C_INTEGER, 8}, {1, 0, 8}),
                &zep::kNoMatteType},
        Refusal{"aux_type_9",
                describe({0, 3, 0, 3}, {3, ZEP_C_INTEGER, 8}, {0, ZEP_C_INTEGER, 8}, {1, 9, 8}),
                &zep::kNoAuxType},
        Refusal{"no_columns", describe({5, 4, 0, 3}, {3, ZEP_C_INTEGER, 8}), &zep::kNoAction},
        Refusal{"no_rows", describe({0, 3, 2, 1}, {3, ZEP_C_INTEGER, 8}), &zep::kNoAction}),
    [](const auto &info) { return std::string(info.param.name); });

// Fails the n-th allocation of the open for n = 1, 2, ... until the open
// succeeds; returns the zep__err of each failed round.
template <typename Open> std::vector<int> fail_each_allocation(Open open)
{
    std::vector<int> codes;
    for (int n = 1; n < 500; ++n) {
        reports.clear();
        zep__err = 0;
        err__alloc_fail(n, 0);
        ZEP_OBJECT *h = open();
        int injected = err__alloc_fail(0, 0);
        if (injected == 0) {
            EXPECT_NE(h, nullptr);
            if (h) ZEP_close(h);
            return codes;
        }
        EXPECT_EQ(h, nullptr) << "allocation " << n;
        if (h) ZEP_close(h);
        EXPECT_FALSE(reports_of(zep::kNoMemory).empty()) << "allocation " << n;
        EXPECT_TRUE(no_leaks()) << "allocation " << n;
        codes.push_back(zep__err);
    }
    ADD_FAILURE() << "the open never succeeded";
    return codes;
}

TEST_F(MemTest, WriteOpenOutOfMemory)
{
    ASSERT_EQ(ZEP_init(nullptr, nullptr), 0);
    auto images = small_image(4, 3);
    Info winfo("oom.mem", "mem", &images);
    Info rinfo("oom.mem", "mem");
    auto codes = fail_each_allocation([&] {
        ZEP_OBJECT *h = ZEP_open(winfo.get(), "w");
        // A failed open leaves nothing stored under the name.
        if (!h) {
            const int code = zep__err;
            EXPECT_EQ(ZEP_open(rinfo.get(), "r"), nullptr);
            zep__err = code;
        }
        return h;
    });
    ASSERT_FALSE(codes.empty());
    // The library's own copies leave zep__err alone; every failure inside
    // the driver (store, tables, 3 rows of 2 blocks, store node: at least
    // ten allocations, the last ones of the open) gives -10.
    size_t tail = 0;
    while (tail < codes.size() && codes[codes.size() - 1 - tail] == ZEP_E_NOMEM)
        ++tail;
    EXPECT_GE(tail, 10u);
    for (int c : codes)
        EXPECT_TRUE(c == 0 || c == ZEP_E_NOMEM) << c;

    // The library still works.
    ZEP_OBJECT *w = ZEP_open(winfo.get(), "w");
    ASSERT_NE(w, nullptr);
    std::vector<Group> groups{{3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}};
    Chan line(images[0], 4);
    fill(line.table, groups, 4, 2);
    ASSERT_EQ(ZEP_scan_write(w, 2, line.table), 0);
    ZEP_OBJECT *r = ZEP_open(rinfo.get(), "r");
    ASSERT_NE(r, nullptr);
    void **got = nullptr;
    ASSERT_EQ(ZEP_scan_read(r, 2, &got), 0);
    EXPECT_EQ(compare(got, groups, 4, 2, true), "");
    EXPECT_EQ(ZEP_close(r), 0);
    EXPECT_EQ(ZEP_close(w), 0);
    EXPECT_TRUE(no_leaks());
}

TEST_F(MemTest, ReadOpenOutOfMemory)
{
    ASSERT_EQ(ZEP_init(nullptr, nullptr), 0);
    auto images = small_image(4, 3);
    std::vector<Group> groups{{3, ZEP_C_INTEGER, 8}, {1, ZEP_C_INTEGER, 8}};
    Info winfo("oomr.mem", "mem", &images);
    ZEP_OBJECT *w = ZEP_open(winfo.get(), "w");
    ASSERT_NE(w, nullptr);
    Chan line(images[0], 4);
    fill(line.table, groups, 4, 1);
    ASSERT_EQ(ZEP_scan_write(w, 1, line.table), 0);

    Info rinfo("oomr.mem", "mem");
    auto codes = fail_each_allocation([&] { return ZEP_open(rinfo.get(), "r"); });
    ASSERT_FALSE(codes.empty());
    for (int c : codes)
        EXPECT_EQ(c, ZEP_E_NOMEM);

    // The stored image is intact and readable.
    ZEP_OBJECT *r = ZEP_open(rinfo.get(), "r");
    ASSERT_NE(r, nullptr);
    void **got = nullptr;
    ASSERT_EQ(ZEP_scan_read(r, 1, &got), 0);
    EXPECT_EQ(compare(got, groups, 4, 1, true), "");
    EXPECT_EQ(ZEP_close(r), 0);
    EXPECT_EQ(ZEP_close(w), 0);
    EXPECT_TRUE(no_leaks());
}

TEST_F(MemTest, NeverRecognisedByContent)
{
    uint8_t definite = 0;
    EXPECT_EQ(ZEP_is_file_type("any.mem", nullptr, "mem", &definite), nullptr);
    EXPECT_EQ(definite, 1);
}

} // namespace
