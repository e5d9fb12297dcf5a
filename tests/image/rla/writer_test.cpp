// The RLA writer on the bytes it leaves on disk: header fields, table and
// records, clamping, raw float groups, line order, standard output, write
// failures, refusals, paths and memory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <regex>

#include "image/rla/rla_internal.h"
#include "image/rla/rla_writer.h"
#include "rla_support.h"

namespace {

using namespace rlatest;
namespace rla = zep::rla;

constexpr Group kInt8{1, ZEP_C_INTEGER, 8};

// A write handle for app as ZEP_open builds one for the "rla" driver, not
// yet opened.
ZEP_OBJECT *prepared(ZEP_INFO *app)
{
    ZEP_OBJECT *h = zep::handle_create(ZEP_ACCESS_WRITE);
    if (!h) return nullptr;
    if (zep::info_fill_for_write(h, app) != 0) {
        zep__free_obj(h);
        return nullptr;
    }
    ERR_free(h->info.key);
    h->info.key = STR_save("rla");
    ERR_free(h->info.extension);
    h->info.extension = STR_save(".rla");
    return h;
}

// The opened handle, or null (the handle freed) when the open failed.
ZEP_OBJECT *open_writer(ZEP_INFO *app)
{
    ZEP_OBJECT *h = prepared(app);
    if (h && !ZEP_rla_w_open(h)) {
        zep__free_obj(h);
        return nullptr;
    }
    return h;
}

class RlaWriterTest : public RlaTest {
  protected:
    std::string path(const std::string &name) const { return file(name); }
};

TEST_F(RlaWriterTest, OneImageHeaderTableAndRecords)
{
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 5, 0, 3}, kInt8)};
    const int frames[][2] = {{40000, 32767}, {32767, 32767}, {-1, -1}, {-2, 0}, {12, 12}};
    for (const auto &[frame, stored] : frames) { // clamped to the field
        Info info(path("frame.rla"), nullptr, images);
        info.info.frame = frame;
        ZEP_OBJECT *h = open_writer(&info.info);
        ASSERT_TRUE(h && write_image(h, 0) == 0 && ZEP_close(h) == 0);
        EXPECT_EQ(be16(file_bytes(path("frame.rla")), 16), stored) << "frame " << frame;
    }
    ZEP_IMAGE_DESC &d = images[0];
    d.active = {0, 4, 0, 2}; // pixels and lines outside leave nothing
    d.response.gamma = 2.2f;
    d.aspect_name = const_cast<char *>("square");
    d.aspect_ratio = 1.25f;
    d.chan.format = const_cast<char *>("raw");
    d.aux.format = const_cast<char *>("depth");
    Info info(path("one.rla"), nullptr, images);
    ZEP_INFO &a = info.info;
    for (auto [field, text] : {std::pair{&a.name, "picture"}, {&a.desc, "a test image"},
                               {&a.program, "zeptest"}, {&a.machine, "host1"}, {&a.user, "me"},
                               {&a.date, "{0}"}, {&a.filter, "box"}})
        *field = const_cast<char *>(text);
    a.job_num = 77, a.frame = 12, a.field = 1;
    const float red[3] = {0.64f, 0.33f, 0.03f}, white[3] = {0.3127f, 0.329f, 0.3583f};
    std::memcpy(a.red_pri, red, sizeof red);
    std::memcpy(a.white_pt, white, sizeof white);

    ZEP_OBJECT *h = open_writer(&info.info);
    ASSERT_NE(h, nullptr) << zep__err;
    // Every active line one value: a run packet per record.
    Chan line(d, 6);
    for (int y = 0; y <= 3; ++y) {
        std::memset(line.table[0], 10 + y, 6);
        static_cast<uint8_t *>(line.table[0])[5] = 99;
        ASSERT_EQ(ZEP_scan_write(h, y, line.table), 0);
    }
    ASSERT_EQ(ZEP_close(h), 0);

    const Bytes f = file_bytes(path("one.rla"));
    ASSERT_EQ(f.size(), 740u + 3 * 4 + 3 * 4);
    const int ints[][2] = {{0, 0},   {2, 5},   {4, 0},   {6, 3},   {8, 0},  {10, 4}, {12, 0},
                           {14, 2},  {16, 12}, {18, 0},  {20, 1},  {22, 0}, {24, 0}, {612, 1},
                           {658, 8}, {660, 0}, {662, 8}, {664, 0}, {666, 8}};
    for (const auto &[at, v] : ints)
        EXPECT_EQ(be16(f, size_t(at)), v) << "int16 at " << at;
    EXPECT_TRUE(f[26] == 0xFF && f[27] == 0xFE && be32(f, 140) == 77);
    EXPECT_EQ(be32(f, 736), 0) << "next header of the last image";

    const std::tuple<size_t, size_t, std::string> texts[] = {
        // clang-format off
        {28, 16, " 2.2000"}, {44, 24, " 0.6400  0.3300"}, {116, 24, " 0.3127  0.3290"},
        {144, 128, "picture"}, {272, 128, "a test image"}, {400, 64, "zeptest"}, {464, 32, "host1"},
        {496, 32, "me"}, {528, 20, "{0}"}, {548, 24, "square"}, {572, 8, "1.250"}, {580, 32, "raw"},
        {626, 32, "box"}, {668, 32, "depth"}}; // clang-format on
    bool nul_filled = false;
    for (const auto &[at, size, value] : texts) {
        EXPECT_EQ(text_at(f, at, size, &nul_filled), value) << "text at " << at;
        EXPECT_TRUE(nul_filled) << "text at " << at;
    }
    EXPECT_TRUE(std::regex_match(text_at(f, 614, 12, &nul_filled),
                                 std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}")));
    EXPECT_TRUE(nul_filled);
    for (size_t i = 700; i < 736; ++i)
        ASSERT_EQ(f[i], 0) << "reserved byte " << i;

    // The table right behind the header; each record 2 + 2 bytes.
    for (int k = 0; k < 3; ++k) {
        const size_t at = size_t(be32(f, 740 + 4 * size_t(k)));
        EXPECT_EQ(at, 752u + 4 * size_t(k));
        EXPECT_EQ(Bytes(f.begin() + long(at), f.begin() + long(at) + 4),
                  (Bytes{0, 2, 0x04, uint8_t(10 + k)}));
    }
}

TEST_F(RlaWriterTest, FloatAndDoubleGroupsStoreRawSamplesAndTheirTrueBits)
{
    std::vector<ZEP_IMAGE_DESC> images{
        describe({0, 9, 0, 0}, {1, ZEP_C_FLOAT, 8}, {1, ZEP_C_DOUBLE, 3}, {1, ZEP_C_INTEGER, 12})};
    images[0].active = {2, 7, 0, 0}; // 6 active pixels
    Info info(path("raw.rla"), nullptr, images);
    ZEP_OBJECT *h = open_writer(&info.info);
    ASSERT_NE(h, nullptr);
    Chan line(h->info.images[0], 10);
    fill_table(line.table, h->info.images[0], 10, 0);
    ASSERT_EQ(ZEP_scan_write(h, 0, line.table), 0);
    ASSERT_EQ(ZEP_close(h), 0);

    const Bytes f = file_bytes(path("raw.rla"));
    const int ints[][2] = {{18, 4}, {658, 32}, {660, 5}, {662, 64}, {664, 0}, {666, 12}};
    for (const auto &[at, v] : ints)
        EXPECT_EQ(be16(f, size_t(at)), v) << "int16 at " << at;
    size_t at = size_t(be32(f, 740));
    for (int k = 0; k < 2; at += 2 + 24 * size_t(++k)) { // 4, then 8 x active width
        ASSERT_EQ(be16(f, at), 24 * (k + 1));
        EXPECT_EQ(std::memcmp(&f[at + 2], static_cast<uint8_t *>(line.table[k]) + 8 * (k + 1),
                              24 * size_t(k + 1)),
                  0);
    }
}

TEST_F(RlaWriterTest, LinesGoOutOnceInOrderFromTheWindowBottom)
{
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 3, 5, 7}, kInt8)};
    Info info(path("order.rla"), nullptr, images);
    ZEP_OBJECT *h = open_writer(&info.info);
    ASSERT_NE(h, nullptr);
    Chan line(images[0], 4);
    void *no_line[1] = {nullptr};
    const std::tuple<int, void **, int> steps[] = {
        {6, line.table, -2}, {5, line.table, 0}, {5, line.table, -2}, {7, line.table, -2},
        {6, no_line, -20},   {6, nullptr, -20},  {6, line.table, 0},  {7, line.table, 0}};
    for (const auto &[y, table, rc] : steps) {
        EXPECT_EQ(ZEP_scan_write(h, y, table), rc) << "line " << y;
        EXPECT_EQ(zep__err, rc);
    }
    EXPECT_EQ(messages_of(zep::kBadScanline),
              (std::vector{text_of(zep::kBadScanline, 6), text_of(zep::kBadScanline, 5),
                           text_of(zep::kBadScanline, 7)}));
    const auto refused = messages_of(zep::kCannotWriteScanline);
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0], text_of(zep::kCannotWriteScanline, 6, std::strerror(EINVAL)));
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_EQ(file_bytes(path("order.rla")).size(), 740u + 3 * 4 + 3 * 4)
        << "refused lines left nothing";
}

TEST(RlaElapsedTime, FieldTextFromTheTickCounts)
{
    const std::tuple<uint32_t, uint32_t, uint32_t, const char *> cases[] = {
        {0, 0, 999, "00:00:00"},
        {10, 500, 10500 + (3 * 3600 + 2 * 60 + 5) * 1000, "03:02:05"},
        {0, 0, 59999, "00:00:59"},
        {4294967, 295, 4999, "00:00:05"}, // the count wrapped
        {0, 0, 0xFFFFFFFFu, "1193:02:47"},
    };
    for (const auto &[seconds, millis, now, text] : cases) {
        char field[12];
        std::memset(field, 0x55, sizeof field);
        rla::elapsed_text(seconds, millis, now, field);
        bool nul_filled = false;
        EXPECT_EQ(text_at(Bytes(field, field + 12), 0, 12, &nul_filled), text);
        EXPECT_TRUE(nul_filled) << text;
    }
}

TEST_F(RlaWriterTest, StandardOutputIsNeverSoughtOrPatched)
{
    const std::string out = path("stdout.bin");
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 7, 0, 2}, kInt8),
                                       describe({0, 7, 0, 1}, kInt8)};
    const int status = in_child([&] {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, 1) < 0) return 10;
        close(fd);
        Info info("/dev/stdout", nullptr, images);
        info.info.time = const_cast<char *>("at-open");
        ZEP_OBJECT *h = open_writer(&info.info);
        if (!h) return 11;
        if (write_image(h, 0) != 0 || write_image(h, 1) != 0) return 12;
        return ZEP_close(h) == 0 ? 0 : 13;
    });
    ASSERT_EQ(status, 0);

    const Bytes f = file_bytes(out);
    ASSERT_GT(f.size(), 740u + 12);
    EXPECT_EQ(text_at(f, 614, 12), "at-open");
    EXPECT_EQ(be32(f, 736), 0) << "the chain is not patched";
    for (size_t i = 740; i < 752; ++i)
        EXPECT_EQ(f[i], 0) << "placeholder table byte " << i;
    // Image 1's header is appended with its real table.
    const size_t second = f.size() - 740 - 8;
    EXPECT_TRUE(f[second + 26] == 0xFF && be16(f, second + 6) == 1 && be32(f, second + 740) > 752);
}

// Lets this process's files grow to `limit` bytes only, a write beyond
// failing with EFBIG rather than a signal.
void limit_files(rlim_t limit)
{
    signal(SIGXFSZ, SIG_IGN);
    const rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
}

TEST_F(RlaWriterTest, WriteFailuresAreReportedAtTheHeaderARecordOrTheClose)
{
    const std::string file = path("full.rla");
    const std::string message = text_of(zep::kCannotWrite, file.c_str(), std::strerror(EFBIG));
    EXPECT_EQ(in_child([&] { // the header: the file is removed
                  limit_files(600);
                  std::vector<ZEP_IMAGE_DESC> images{describe({0, 3, 0, 3}, kInt8)};
                  Info info(file, nullptr, images);
                  if (open_writer(&info.info) || zep__err != ZEP_E_WRITE) return 1;
                  if (messages_of(zep::kCannotWrite) != std::vector{message}) return 2;
                  return access(file.c_str(), F_OK) == 0 ? 3 : 0;
              }),
              0);
    EXPECT_EQ(in_child([&] { // 3000 of noise pass 4000 by line 1
                  limit_files(4000);
                  std::vector<ZEP_IMAGE_DESC> images{describe({0, 2999, 0, 3}, kInt8)};
                  Info info(file, nullptr, images);
                  ZEP_OBJECT *h = open_writer(&info.info);
                  if (!h) return 1;
                  Chan line(images[0], 3000);
                  std::mt19937 rng(1);
                  int failed = -1;
                  for (int y = 0; y <= 3 && failed < 0; ++y) {
                      for (int x = 0; x < 3000; ++x)
                          static_cast<uint8_t *>(line.table[0])[x] = uint8_t(rng());
                      if (ZEP_scan_write(h, y, line.table) != 0) failed = y;
                  }
                  if (failed < 0 || zep__err != ZEP_E_WRITE) return 2;
                  if (messages_of(zep::kCannotWriteScanline) !=
                      std::vector{text_of(zep::kCannotWriteScanline, failed, std::strerror(EFBIG))})
                      return 3;
                  ZEP_close(h);
                  return 0;
              }),
              0);
    EXPECT_EQ(in_child([&] { // lines in the buffer, out at the close
                  std::vector<ZEP_IMAGE_DESC> images{describe({0, 9, 0, 3}, kInt8)};
                  Info info(file, nullptr, images);
                  ZEP_OBJECT *h = open_writer(&info.info);
                  if (!h || write_image(h, 0) != 0) return 1;
                  limit_files(740 + 16);
                  if (ZEP_close(h) != ZEP_E_WRITE || zep__err != ZEP_E_WRITE) return 2;
                  const auto r = messages_of(zep::kCannotWrite);
                  return r.empty() || r[0] != message ? 3 : 0;
              }),
              0);
}

// Each case changes a description of 3 colours, a matte and an auxiliary
// channel; a refused one leaves an existing file as it was. A payload
// length is an int16: the widest line of each kind is tried.
TEST_F(RlaWriterTest, DescriptionsTheFormatCannotHoldAreRefusedBeforeTheFileIsMade)
{
    using Change = void (*)(ZEP_IMAGE_DESC &);
    const std::pair<Change, const zep::Message *> cases[] = {
        // null: accepted
        // clang-format off
        {[](auto &d) { d.chan.width = 33; }, &zep::kNoImageWidth},
        {[](auto &d) { d.chan.type = 9; }, &zep::kNoImageType},
        {[](auto &d) { d.matte.width = 40; }, &zep::kNoMatteWidth},
        {[](auto &d) { d.matte.type = 0; }, &zep::kNoMatteType},
        {[](auto &d) { d.aux.width = 64; }, &zep::kNoAuxWidth},
        {[](auto &d) { d.aux.type = 17; }, &zep::kNoAuxType},
        {[](auto &d) { d.chan.count = 4; }, &zep::kNoAction},
        {[](auto &d) { d.matte.count = 61; }, &zep::kNoAction},
        {[](auto &d) { d.matte.count = 60; }, nullptr},
        {[](auto &d) { d.aux.count = -1; }, &zep::kNoAction},
        {[](auto &d) { d.window.left = d.active.left = -1; }, &zep::kNoAction},
        {[](auto &d) { d.window.top = d.active.top = 32768; }, &zep::kNoAction},
        {[](auto &d) { d.active.right = d.window.right + 1; }, &zep::kNoAction},
        {[](auto &d) { d.active.bottom = d.active.top + 1; }, &zep::kNoAction},
        {[](auto &d) { d.chan.type = ZEP_C_FLOAT, d.window.right = d.active.right = 8191; }, &zep::kNoAction},
        {[](auto &d) { d.chan.type = ZEP_C_FLOAT, d.window.right = d.active.right = 8190; }, nullptr},
        {[](auto &d) { d.aux.type = ZEP_C_DOUBLE, d.window.right = d.active.right = 4095; }, &zep::kNoAction},
        {[](auto &d) { d.aux.type = ZEP_C_DOUBLE, d.window.right = d.active.right = 4094; }, nullptr},
        {[](auto &d) { d.matte.width = 16, d.window.right = d.active.right = 16256; }, &zep::kNoAction},
        {[](auto &d) { d.matte.width = 16, d.window.right = d.active.right = 16255; }, nullptr},
        // clang-format on
    };
    const std::string file = path("keep.rla");
    const Bytes precious{'k', 'e', 'e', 'p'};
    int n = 0;
    for (const auto &[change, refusal] : cases) {
        SCOPED_TRACE("case " + std::to_string(n++));
        write_bytes(file, precious);
        reports.clear();
        std::vector<ZEP_IMAGE_DESC> images{
            describe({0, 9, 0, 3}, {3, ZEP_C_INTEGER, 8}, kInt8, kInt8)};
        change(images[0]);
        Info info(file, nullptr, images);
        ZEP_OBJECT *h = open_writer(&info.info);
        if (!refusal) {
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(write_image(h, 0), 0);
            EXPECT_EQ(ZEP_close(h), 0);
            continue;
        }
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
        EXPECT_EQ(messages_of(*refusal), std::vector{text_of(*refusal, "rla")});
        EXPECT_EQ(file_bytes(file), precious);
    }
    Info none(file);
    EXPECT_EQ(open_writer(&none.info), nullptr) << "no image";
    EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
}

TEST_F(RlaWriterTest, OutputPathFromNameDirectoryAndExtension)
{
    const std::string sub = path("sub"), longest(2000, 'n');
    fs::create_directory(sub);
    struct Case {
        const char *image_dir; // null: KV_IMG_DIR unset
        uint8_t full_path;
        std::string name, made; // made: "" when it cannot be created
        std::string refused = ""; // the name reported, then the error
    } const cases[] = {
        {nullptr, 0, path("a"), path("a.rla")},
        {nullptr, 0, path("b.rla"), path("b.rla")}, // extension not doubled
        {sub.c_str(), 0, "c", sub + "/c.rla"},
        {sub.c_str(), 0, path("d"), path("d.rla")}, // absolute: no directory
        {sub.c_str(), 1, path("e"), path("e")},     // full path as it stands
        {"", 0, "f", "f.rla"},                      // empty directory means none
        {nullptr, 0, path("nofolder/x"), "", path("nofolder/x.rla") + "; " + std::strerror(ENOENT)},
        {nullptr, 0, longest, "", longest + "; " + std::strerror(ENAMETOOLONG)},
    };
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    for (const Case &c : cases) {
        c.image_dir ? void(setenv("KV_IMG_DIR", c.image_dir, 1)) : void(unsetenv("KV_IMG_DIR"));
        reports.clear();
        std::vector<ZEP_IMAGE_DESC> images{describe({0, 0, 0, 0}, kInt8)};
        Info info(c.name, nullptr, images);
        info.info.full_path = c.full_path;
        ZEP_OBJECT *h = open_writer(&info.info);
        EXPECT_EQ(h != nullptr, !c.made.empty()) << c.name;
        EXPECT_TRUE(!h || ZEP_close(h) == 0);
        if (!c.made.empty()) {
            EXPECT_TRUE(fs::exists(c.made)) << c.made;
            continue;
        }
        EXPECT_EQ(zep__err, ZEP_E_OPEN);
        // Spelled out: the text_of() buffer would cut the long name.
        EXPECT_EQ(messages_of(zep::kCannotOpen), std::vector{"Cannot open file " + c.refused});
    }
    fs::current_path(cwd);
}

TEST_F(RlaWriterTest, OutOfMemoryAtEveryAllocationOfTheOpen)
{
    const std::string file = path("oom.rla");
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 5, 0, 2}, {3, ZEP_C_INTEGER, 16}, kInt8),
                                       describe({0, 3, 0, 1}, {1, ZEP_C_FLOAT, 32})};
    Info info(file, nullptr, images);
    ZEP_OBJECT *h = nullptr;
    int n = 1;
    for (; n < 100 && !h; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        ZEP_OBJECT *p = prepared(&info.info);
        ASSERT_NE(p, nullptr);
        err__alloc_fail(n, 0);
        const int rc = ZEP_rla_w_open(p);
        const int injected = err__alloc_fail(0, 0);
        EXPECT_EQ(injected, rc ? 0 : 1);
        if (rc) {
            h = p;
            break;
        }
        EXPECT_EQ(zep__err, ZEP_E_NOMEM);
        EXPECT_EQ(p->priv, nullptr);
        EXPECT_FALSE(fs::exists(file)) << "failed after the file was made";
        zep__free_obj(p);
        EXPECT_TRUE(no_leaks());
    }
    ASSERT_NE(h, nullptr);
    EXPECT_GT(n, 5);

    // Lines and the close allocate nothing; image 1 chains behind image 0.
    Chan line0(h->info.images[0], 6), line1(h->info.images[1], 4);
    err__alloc_fail(1, 1);
    EXPECT_EQ(write_image(h, 0, 0, line0.table), 0);
    EXPECT_EQ(write_image(h, 1, 0, line1.table), 0);
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_EQ(err__alloc_fail(0, 0), 0);
    EXPECT_TRUE(no_leaks());
    const Bytes f = file_bytes(file);
    const size_t next = size_t(be32(f, 736));
    EXPECT_GT(next, 740u + 3 * 4);
    EXPECT_EQ(f.size(), next + 740 + 2 * 4);
}

} // namespace
