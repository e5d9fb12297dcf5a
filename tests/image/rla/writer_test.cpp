// The RLA writer, checked on the bytes it leaves on disk: the header of
// every field, the offset table and records, frame clamping, float and
// double groups, line order, active windows, image chains, the elapsed
// time, standard output, write failures, refused descriptions, path
// building and memory exhaustion; and the header codec and test it uses.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include <zep/zep.h>

#include "image/core/core.h"
#include "image/rla/rla_internal.h"
#include "image/rla/rla_writer.h"
#include "writer_support.h"

namespace {

using namespace rla_test;
namespace rla = zep::rla;

constexpr Group kInt8{1, ZEP_C_INTEGER, 8};
constexpr Group kNone{0, ZEP_C_INTEGER, 8};

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

// Writes every line of image i, bottom up, with priv[0] pointing at the
// image meanwhile, from `table` (null: one made here). Returns the first
// failure, or 0.
int write_image(ZEP_OBJECT *h, int i, void **table = nullptr)
{
    ZEP_IMAGE_DESC &d = h->info.images[i];
    const int width = d.window.right - d.window.left + 1;
    std::optional<Chan> own;
    if (!table) table = own.emplace(d, width).table;
    void *saved = h->priv[0];
    h->priv[0] = h->priv[i];
    int rc = 0;
    for (int y = d.window.bottom; rc == 0 && y <= d.window.top; ++y) {
        fill_table(table, d, width, y);
        rc = ZEP_scan_write(h, y, table);
    }
    h->priv[0] = saved;
    return rc;
}

// The 8-bit samples one plane payload of `count` bytes at `at` decodes to.
Bytes plane_at(const Bytes &file, size_t at, size_t count, size_t *used = nullptr)
{
    Bytes out(count);
    const long n = rla::decode_plane(file.data() + at, file.size() - at, out.data(), 1, count);
    EXPECT_GE(n, 0);
    if (used) *used = size_t(n);
    return out;
}

// Runs body in a child process; returns its exit status (-1: it died).
int in_child(const std::function<int()> &body)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RlaWriterTest : public FolderTest {};

// ---- The header and the layout ----------------------------------------------

TEST_F(RlaWriterTest, OneImageHeaderTableAndRecords)
{
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 4, 0, 2}, kInt8)};
    ZEP_IMAGE_DESC &d = images[0];
    d.response.gamma = 2.2f;
    d.aspect_name = const_cast<char *>("square");
    d.aspect_ratio = 1.25f;
    d.chan.format = const_cast<char *>("raw");
    d.aux.format = const_cast<char *>("depth");
    Info info(path("one.rla"), nullptr, images);
    ZEP_INFO &a = info.info;
    a.name = const_cast<char *>("picture");
    a.desc = const_cast<char *>("a test image");
    a.program = const_cast<char *>("zeptest");
    a.machine = const_cast<char *>("host1");
    a.user = const_cast<char *>("me");
    a.date = const_cast<char *>("{0}");
    a.filter = const_cast<char *>("box");
    a.job_num = 77;
    a.frame = 12;
    a.field = 1;
    const float red[3] = {0.64f, 0.33f, 0.03f}, white[3] = {0.3127f, 0.329f, 0.3583f};
    std::memcpy(a.red_pri, red, sizeof red);
    std::memcpy(a.white_pt, white, sizeof white);

    ZEP_OBJECT *h = open_writer(&info.info);
    ASSERT_NE(h, nullptr) << zep__err;
    // Every line one value: a run packet per record.
    Chan line(d, 5);
    for (int y = 0; y <= 2; ++y) {
        std::memset(line.table[0], 10 + y, 5);
        ASSERT_EQ(ZEP_scan_write(h, y, line.table), 0);
    }
    ASSERT_EQ(ZEP_close(h), 0);

    const Bytes f = file_bytes(path("one.rla"));
    ASSERT_EQ(f.size(), 740u + 3 * 4 + 3 * 4);
    const int ints[][2] = {{0, 0},   {2, 4},   {4, 0},   {6, 2},   {8, 0},  {10, 4}, {12, 0},
                           {14, 2},  {16, 12}, {18, 0},  {20, 1},  {22, 0}, {24, 0}, {612, 1},
                           {658, 8}, {660, 0}, {662, 8}, {664, 0}, {666, 8}};
    for (const auto &[at, v] : ints)
        EXPECT_EQ(be16(f, size_t(at)), v) << "int16 at " << at;
    EXPECT_EQ(f[26], 0xFF);
    EXPECT_EQ(f[27], 0xFE);
    EXPECT_EQ(be32(f, 140), 77);
    EXPECT_EQ(be32(f, 736), 0) << "next header of the last image";

    char pair[64];
    std::snprintf(pair, sizeof pair, "%7.4f %7.4f", double(red[0]), double(red[1]));
    const std::string red_text = pair;
    std::snprintf(pair, sizeof pair, "%7.4f %7.4f", double(white[0]), double(white[1]));
    const std::string white_text = pair;
    struct Text {
        size_t at, size;
        std::string value;
    };
    const Text texts[] = {{28, 16, " 2.2000"},        {44, 24, red_text},
                          {116, 24, white_text},      {144, 128, "picture"},
                          {272, 128, "a test image"}, {400, 64, "zeptest"},
                          {464, 32, "host1"},         {496, 32, "me"},
                          {528, 20, "{0}"},           {548, 24, "square"},
                          {572, 8, "1.250"},          {580, 32, "raw"},
                          {626, 32, "box"},           {668, 32, "depth"}};
    for (const Text &t : texts) {
        bool nul_filled = false;
        EXPECT_EQ(text_at(f, t.at, t.size, &nul_filled), t.value) << "text at " << t.at;
        EXPECT_TRUE(nul_filled) << "text at " << t.at;
    }
    bool nul_filled = false;
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

TEST_F(RlaWriterTest, FrameNumbersAreClampedToTheField)
{
    const int cases[][2] = {{40000, 32767}, {32767, 32767}, {32768, 32767}, {7, 7},
                            {-1, -1},       {-2, 0},        {-5, 0},        {0, 0}};
    for (const auto &[frame, stored] : cases) {
        std::vector<ZEP_IMAGE_DESC> images{describe({0, 0, 0, 0}, kInt8)};
        Info info(path("frame.rla"), nullptr, images);
        info.info.frame = frame;
        ZEP_OBJECT *h = open_writer(&info.info);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(write_image(h, 0), 0);
        ASSERT_EQ(ZEP_close(h), 0);
        EXPECT_EQ(be16(file_bytes(path("frame.rla")), 16), stored) << "frame " << frame;
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
    EXPECT_EQ(h->info.images[0].chan.width, 32);
    EXPECT_EQ(h->info.images[0].matte.width, 64);
    EXPECT_EQ(h->info.images[0].aux.width, 12);
    Chan line(h->info.images[0], 10);
    fill_table(line.table, h->info.images[0], 10, 0);
    ASSERT_EQ(ZEP_scan_write(h, 0, line.table), 0);
    ASSERT_EQ(ZEP_close(h), 0);

    const Bytes f = file_bytes(path("raw.rla"));
    const int ints[][2] = {{18, 4}, {658, 32}, {660, 5}, {662, 64}, {664, 0}, {666, 12}};
    for (const auto &[at, v] : ints)
        EXPECT_EQ(be16(f, size_t(at)), v) << "int16 at " << at;
    size_t at = size_t(be32(f, 740));
    ASSERT_EQ(be16(f, at), 24) << "4 x active width";
    EXPECT_EQ(std::memcmp(&f[at + 2], static_cast<uint8_t *>(line.table[0]) + 2 * 4, 24), 0);
    at += 2 + 24;
    ASSERT_EQ(be16(f, at), 48) << "8 x active width";
    EXPECT_EQ(std::memcmp(&f[at + 2], static_cast<uint8_t *>(line.table[1]) + 2 * 8, 48), 0);
}

TEST_F(RlaWriterTest, LinesGoOutOnceInOrderFromTheWindowBottom)
{
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 3, 5, 7}, kInt8)};
    Info info(path("order.rla"), nullptr, images);
    ZEP_OBJECT *h = open_writer(&info.info);
    ASSERT_NE(h, nullptr);
    Chan line(images[0], 4);
    void *no_line[1] = {nullptr};
    struct Step {
        int y;
        void **table;
        int rc;
    };
    const Step steps[] = {{6, line.table, -2}, {5, line.table, 0}, {5, line.table, -2},
                          {7, line.table, -2}, {6, no_line, -20},  {6, nullptr, -20},
                          {6, line.table, 0},  {7, line.table, 0}};
    for (const Step &s : steps) {
        EXPECT_EQ(ZEP_scan_write(h, s.y, s.table), s.rc) << "line " << s.y;
        EXPECT_EQ(zep__err, s.rc);
    }
    const auto bad = messages_of(zep::kBadScanline);
    ASSERT_EQ(bad.size(), 3u);
    EXPECT_EQ(bad[0], text_of(zep::kBadScanline, 6));
    EXPECT_EQ(bad[2], text_of(zep::kBadScanline, 7));
    const auto refused = messages_of(zep::kCannotWriteScanline);
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0], text_of(zep::kCannotWriteScanline, 6, std::strerror(EINVAL)));
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_EQ(file_bytes(path("order.rla")).size(), 740u + 3 * 4 + 3 * 4)
        << "refused lines left nothing";
}

TEST_F(RlaWriterTest, OnlyActiveLinesAndPixelsAreStored)
{
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 9, 0, 5}, kInt8)};
    images[0].active = {2, 6, 1, 3};
    Info info(path("active.rla"), nullptr, images);
    ZEP_OBJECT *h = open_writer(&info.info);
    ASSERT_NE(h, nullptr);
    Chan line(images[0], 10);
    std::vector<Bytes> written;
    for (int y = 0; y <= 5; ++y) {
        fill_table(line.table, images[0], 10, y);
        const auto *p = static_cast<const uint8_t *>(line.table[0]);
        written.emplace_back(p + 2, p + 7);
        ASSERT_EQ(ZEP_scan_write(h, y, line.table), 0);
    }
    ASSERT_EQ(ZEP_close(h), 0);

    const Bytes f = file_bytes(path("active.rla"));
    size_t end = 740 + 3 * 4; // the table holds active height entries only
    for (int k = 0; k < 3; ++k) {
        const size_t at = size_t(be32(f, 740 + 4 * size_t(k)));
        EXPECT_EQ(at, end) << "record of line " << k + 1;
        const size_t n = size_t(be16(f, at));
        size_t used = 0;
        EXPECT_EQ(plane_at(f, at + 2, 5, &used), written[size_t(k) + 1]);
        EXPECT_EQ(used, n);
        end = at + 2 + n;
    }
    EXPECT_EQ(f.size(), end) << "lines outside the active window leave nothing";
}

TEST_F(RlaWriterTest, ImagesChainBehindTheRecords)
{
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 3, 0, 1}, kInt8),
                                       describe({0, 2, 4, 6}, {1, ZEP_C_INTEGER, 16})};
    Info info(path("chain.rla"), nullptr, images);
    ZEP_OBJECT *h = open_writer(&info.info);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(write_image(h, 0), 0);
    ASSERT_EQ(write_image(h, 1), 0) << "image 1 starts at its own window bottom";
    ASSERT_EQ(ZEP_close(h), 0);

    const Bytes f = file_bytes(path("chain.rla"));
    const size_t next = size_t(be32(f, 736));
    ASSERT_GT(next, 740u + 8);
    ASSERT_EQ(f.size(), next + 740 + 3 * 4);
    EXPECT_EQ(be16(f, next + 4), 4) << "image 1's window bottom";
    EXPECT_EQ(be16(f, next + 658), 16);
    EXPECT_EQ(be32(f, next + 736), 0);
    // Image 0's table was patched at close, image 1's written then.
    size_t end = 740 + 2 * 4;
    for (const auto &[table, lines] : {std::pair{size_t(740), 2}, std::pair{next + 740, 3}}) {
        for (int k = 0; k < lines; ++k) {
            const size_t at = size_t(be32(f, table + 4 * size_t(k)));
            EXPECT_EQ(at, end) << "table at " << table << ", entry " << k;
            end = at + 2 + size_t(be16(f, at));
        }
    }
    EXPECT_EQ(end, next) << "image 1's header follows the last record";
}

TEST(RlaElapsedTime, FieldTextFromTheTickCounts)
{
    struct Case {
        uint32_t start_seconds, start_millis, now;
        const char *text;
    };
    const Case cases[] = {
        {0, 0, 0, "00:00:00"},
        {0, 0, 999, "00:00:00"},
        {10, 500, 10500 + (3 * 3600 + 2 * 60 + 5) * 1000, "03:02:05"},
        {0, 0, 59999, "00:00:59"},
        {4294967, 295, 4999, "00:00:05"}, // the count wrapped
        {0, 0, 0xFFFFFFFFu, "1193:02:47"},
    };
    for (const Case &c : cases) {
        char field[12];
        std::memset(field, 0x55, sizeof field);
        rla::elapsed_text(c.start_seconds, c.start_millis, c.now, field);
        const Bytes b(field, field + 12);
        bool nul_filled = false;
        EXPECT_EQ(text_at(b, 0, 12, &nul_filled), c.text);
        EXPECT_TRUE(nul_filled) << c.text;
    }
}

// ---- Standard output, write failures --------------------------------------

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
    EXPECT_EQ(f[second + 26], 0xFF);
    EXPECT_EQ(be16(f, second + 6), 1);
    EXPECT_GT(be32(f, second + 740), 752);
}

// Runs body in a child whose files may not grow beyond `limit` bytes
// (from the moment body calls the returned setter).
int with_file_limit(const std::function<int(const std::function<void(rlim_t)> &)> &body)
{
    return in_child([&] {
        signal(SIGXFSZ, SIG_IGN);
        return body([](rlim_t limit) {
            const rlimit r{limit, limit};
            setrlimit(RLIMIT_FSIZE, &r);
        });
    });
}

TEST_F(RlaWriterTest, AFailedHeaderWriteRemovesTheFile)
{
    const std::string file = path("short.rla");
    const std::string message = text_of(zep::kCannotWrite, file.c_str(), std::strerror(EFBIG));
    const int status = with_file_limit([&](const auto &limit) {
        limit(600);
        std::vector<ZEP_IMAGE_DESC> images{describe({0, 3, 0, 3}, kInt8)};
        Info info(file, nullptr, images);
        if (open_writer(&info.info)) return 1;
        if (zep__err != ZEP_E_WRITE) return 2;
        const auto r = messages_of(zep::kCannotWrite);
        if (r.size() != 1 || r[0] != message) return 3;
        return access(file.c_str(), F_OK) == 0 ? 4 : 0;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(RlaWriterTest, RecordAndCloseWriteFailuresAreReported)
{
    const std::string file = path("full.rla");
    // Lines of noise 3000 wide outgrow a 4000-byte limit by the second line.
    int status = with_file_limit([&](const auto &limit) {
        limit(4000);
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
        const auto r = messages_of(zep::kCannotWriteScanline);
        if (r.size() != 1 ||
            r[0] != text_of(zep::kCannotWriteScanline, failed, std::strerror(EFBIG)))
            return 3;
        ZEP_close(h);
        return 0;
    });
    EXPECT_EQ(status, 0);

    // The lines fit the stream's buffer; the close cannot bring them out.
    status = with_file_limit([&](const auto &limit) {
        std::vector<ZEP_IMAGE_DESC> images{describe({0, 9, 0, 3}, kInt8)};
        Info info(file, nullptr, images);
        ZEP_OBJECT *h = open_writer(&info.info);
        if (!h || write_image(h, 0) != 0) return 1;
        limit(740 + 16);
        if (ZEP_close(h) != ZEP_E_WRITE || zep__err != ZEP_E_WRITE) return 2;
        const auto r = messages_of(zep::kCannotWrite);
        if (r.empty() || r[0] != text_of(zep::kCannotWrite, file.c_str(), std::strerror(EFBIG)))
            return 3;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

// ---- Refused descriptions, paths ---------------------------------------------

// Each case changes a description of 3 colour channels, a matte and an
// auxiliary channel; a refused one must leave an existing file as it was.
TEST_F(RlaWriterTest, DescriptionsTheFormatCannotHoldAreRefusedBeforeTheFileIsMade)
{
    using Change = void (*)(ZEP_IMAGE_DESC &);
    struct Case {
        const char *what;
        Change change;
        const zep::Message *refusal; // null: accepted
    };
    const Case cases[] = {
        {"33-bit colour", [](auto &d) { d.chan.width = 33; }, &zep::kNoImageWidth},
        {"colour type 9", [](auto &d) { d.chan.type = 9; }, &zep::kNoImageType},
        {"40-bit matte", [](auto &d) { d.matte.width = 40; }, &zep::kNoMatteWidth},
        {"matte type 0", [](auto &d) { d.matte.type = 0; }, &zep::kNoMatteType},
        {"64-bit aux", [](auto &d) { d.aux.width = 64; }, &zep::kNoAuxWidth},
        {"aux type 17", [](auto &d) { d.aux.type = 17; }, &zep::kNoAuxType},
        {"4 colour channels", [](auto &d) { d.chan.count = 4; }, &zep::kNoAction},
        {"65 channels", [](auto &d) { d.matte.count = 61; }, &zep::kNoAction},
        {"64 channels", [](auto &d) { d.matte.count = 60; }, nullptr},
        {"negative aux count", [](auto &d) { d.aux.count = -1; }, &zep::kNoAction},
        {"negative window", [](auto &d) { d.window.left = d.active.left = -1; }, &zep::kNoAction},
        {"window past 32767", [](auto &d) { d.window.top = d.active.top = 32768; },
         &zep::kNoAction},
        {"active outside", [](auto &d) { d.active.right = d.window.right + 1; }, &zep::kNoAction},
        {"inverted active", [](auto &d) { d.active.bottom = d.active.top + 1; }, &zep::kNoAction},
        // A payload length is an int16: the widest line of each kind.
        {"float line of 8192",
         [](auto &d) { d.chan.type = ZEP_C_FLOAT, d.window.right = d.active.right = 8191; },
         &zep::kNoAction},
        {"float line of 8191",
         [](auto &d) { d.chan.type = ZEP_C_FLOAT, d.window.right = d.active.right = 8190; },
         nullptr},
        {"double line of 4096",
         [](auto &d) { d.aux.type = ZEP_C_DOUBLE, d.window.right = d.active.right = 4095; },
         &zep::kNoAction},
        {"double line of 4095",
         [](auto &d) { d.aux.type = ZEP_C_DOUBLE, d.window.right = d.active.right = 4094; },
         nullptr},
        {"16-bit line of 16257",
         [](auto &d) { d.matte.width = 16, d.window.right = d.active.right = 16256; },
         &zep::kNoAction},
        {"16-bit line of 16256",
         [](auto &d) { d.matte.width = 16, d.window.right = d.active.right = 16255; }, nullptr},
    };
    const std::string file = path("keep.rla");
    const Bytes precious{'k', 'e', 'e', 'p'};
    for (const Case &c : cases) {
        write_bytes(file, precious);
        reports.clear();
        std::vector<ZEP_IMAGE_DESC> images{
            describe({0, 9, 0, 3}, {3, ZEP_C_INTEGER, 8}, kInt8, kInt8)};
        c.change(images[0]);
        Info info(file, nullptr, images);
        ZEP_OBJECT *h = open_writer(&info.info);
        if (!c.refusal) {
            ASSERT_NE(h, nullptr) << c.what;
            EXPECT_EQ(write_image(h, 0), 0) << c.what;
            EXPECT_EQ(ZEP_close(h), 0) << c.what;
            continue;
        }
        EXPECT_EQ(h, nullptr) << c.what;
        EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED) << c.what;
        const auto r = messages_of(*c.refusal);
        ASSERT_EQ(r.size(), 1u) << c.what;
        EXPECT_EQ(r[0], text_of(*c.refusal, "rla")) << c.what;
        EXPECT_EQ(file_bytes(file), precious) << c.what;
    }
    Info none(file);
    EXPECT_EQ(open_writer(&none.info), nullptr) << "no image";
    EXPECT_EQ(zep__err, ZEP_E_UNSUPPORTED);
}

TEST_F(RlaWriterTest, OutputPathFromNameDirectoryAndExtension)
{
    struct Case {
        const char *what;
        const char *image_dir; // null: KV_IMG_DIR unset
        uint8_t full_path;
        std::string name, created;
    };
    const std::string sub = path("sub");
    fs::create_directory(sub);
    const Case cases[] = {
        {"extension added", nullptr, 0, path("a"), path("a.rla")},
        {"extension not doubled", nullptr, 0, path("b.rla"), path("b.rla")},
        {"image directory", sub.c_str(), 0, "c", sub + "/c.rla"},
        {"absolute name ignores the directory", sub.c_str(), 0, path("d"), path("d.rla")},
        {"full path as it stands", sub.c_str(), 1, path("e"), path("e")},
        {"empty directory means none", "", 0, "f", "f.rla"},
    };
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    for (const Case &c : cases) {
        if (c.image_dir)
            setenv("KV_IMG_DIR", c.image_dir, 1);
        else
            unsetenv("KV_IMG_DIR");
        std::vector<ZEP_IMAGE_DESC> images{describe({0, 0, 0, 0}, kInt8)};
        Info info(c.name, nullptr, images);
        info.info.full_path = c.full_path;
        ZEP_OBJECT *h = open_writer(&info.info);
        EXPECT_NE(h, nullptr) << c.what;
        if (h) {
            EXPECT_EQ(ZEP_close(h), 0);
        }
        EXPECT_TRUE(fs::exists(c.created)) << c.what;
    }
    fs::current_path(cwd);
}

TEST_F(RlaWriterTest, OutputThatCannotBeCreated)
{
    struct Case {
        const char *what;
        std::string name;
        std::string path_reported;
        int error;
    };
    const std::string longest(2000, 'n');
    const Case cases[] = {
        {"missing folder", path("nofolder/x"), path("nofolder/x.rla"), ENOENT},
        {"name too long", longest, longest, ENAMETOOLONG},
    };
    for (const Case &c : cases) {
        reports.clear();
        std::vector<ZEP_IMAGE_DESC> images{describe({0, 0, 0, 0}, kInt8)};
        Info info(c.name, nullptr, images);
        EXPECT_EQ(open_writer(&info.info), nullptr) << c.what;
        EXPECT_EQ(zep__err, ZEP_E_OPEN) << c.what;
        const auto r = messages_of(zep::kCannotOpen);
        ASSERT_EQ(r.size(), 1u) << c.what;
        // Spelled out: the text_of() buffer would cut the long name.
        EXPECT_EQ(r[0], "Cannot open file " + c.path_reported + "; " + std::strerror(c.error));
    }
}

// ---- Memory ------------------------------------------------------------------

TEST_F(RlaWriterTest, OutOfMemoryAtEveryAllocationOfTheOpen)
{
    const std::string file = path("oom.rla");
    std::vector<ZEP_IMAGE_DESC> images{describe({0, 5, 0, 2}, {3, ZEP_C_INTEGER, 16}, kInt8),
                                       describe({0, 3, 0, 1}, {1, ZEP_C_FLOAT, 32})};
    Info info(file, nullptr, images);
    ZEP_OBJECT *h = nullptr;
    int n = 1;
    for (; n < 100; ++n) {
        ZEP_OBJECT *p = prepared(&info.info);
        ASSERT_NE(p, nullptr);
        err__alloc_fail(n, 0);
        const int rc = ZEP_rla_w_open(p);
        const int injected = err__alloc_fail(0, 0);
        if (rc) {
            EXPECT_EQ(injected, 0);
            h = p;
            break;
        }
        EXPECT_EQ(injected, 1) << n;
        EXPECT_EQ(zep__err, ZEP_E_NOMEM) << n;
        EXPECT_EQ(p->priv, nullptr) << n;
        EXPECT_FALSE(fs::exists(file)) << "allocation " << n << " failed after the file was made";
        zep__free_obj(p);
        EXPECT_TRUE(no_leaks()) << n;
    }
    ASSERT_NE(h, nullptr);
    EXPECT_GT(n, 5);

    // Lines and the close allocate nothing.
    Chan line0(h->info.images[0], 6), line1(h->info.images[1], 4);
    err__alloc_fail(1, 1);
    EXPECT_EQ(write_image(h, 0, line0.table), 0);
    EXPECT_EQ(write_image(h, 1, line1.table), 0);
    EXPECT_EQ(ZEP_close(h), 0);
    EXPECT_EQ(err__alloc_fail(0, 0), 0);
    EXPECT_TRUE(no_leaks());
    const Bytes f = file_bytes(file);
    const size_t next = size_t(be32(f, 736));
    EXPECT_GT(next, 740u + 3 * 4);
    EXPECT_EQ(f.size(), next + 740 + 2 * 4);
}

// ---- The header codec -----------------------------------------------------------

rla::Header good_header()
{
    rla::Header h{};
    h.window_right = h.active_right = 9;
    h.window_top = h.active_top = 4;
    h.colour_count = 3;
    h.revision = rla::kRevision;
    std::strcpy(h.aspect_name, "x");
    return h;
}

TEST(RlaHeader, AcceptanceTest)
{
    struct Case {
        const char *what;
        std::function<void(rla::Header &)> change;
        bool accepted, as_file;
    };
    const Case cases[] = {
        {"good", [](auto &) {}, true, true},
        {"colour count 4", [](auto &h) { h.colour_count = 4; }, false, false},
        {"colour count -1", [](auto &h) { h.colour_count = -1; }, false, false},
        {"negative window left", [](auto &h) { h.window_left = -1; }, false, false},
        {"window left past right", [](auto &h) { h.window_left = 10; }, false, false},
        {"negative active bottom", [](auto &h) { h.active_bottom = -1; }, false, false},
        {"active left of the window", [](auto &h) { h.window_left = 1; }, false, false},
        {"active above the window", [](auto &h) { h.window_top = 3; }, false, false},
        {"inverted active", [](auto &h) { h.active_bottom = 5; }, false, false},
        {"no aspect name or ratio", [](auto &h) { h.aspect_name[0] = 0; }, false, false},
        {"aspect ratio only",
         [](auto &h) {
             h.aspect_name[0] = 0;
             h.aspect_ratio[0] = '1';
         },
         true, true},
        {"negative matte count", [](auto &h) { h.matte_count = -1; }, false, false},
        {"negative aux count", [](auto &h) { h.aux_count = -1; }, false, false},
        {"64 channels",
         [](auto &h) {
             h.matte_count = 60;
             h.aux_count = 1;
         },
         true, true},
        {"65 channels",
         [](auto &h) {
             h.matte_count = 60;
             h.aux_count = 2;
         },
         false, false},
        {"huge counts",
         [](auto &h) {
             h.matte_count = 32767;
             h.aux_count = 32767;
         },
         false, false},
        {"negative storage type", [](auto &h) { h.storage_type = -1; }, false, false},
        {"negative matte type", [](auto &h) { h.matte_type = -1; }, true, false},
    };
    for (const Case &c : cases) {
        rla::Header h = good_header();
        c.change(h);
        EXPECT_EQ(rla::header_acceptable(h, false), c.accepted) << c.what;
        EXPECT_EQ(rla::header_acceptable(h, true), c.as_file) << c.what;
    }
}

TEST(RlaHeader, EncodeDecodeKeepsFieldsAndCutsTexts)
{
    rla::Header h = good_header();
    h.window_left = 1;
    h.frame = -1;
    h.job_num = -123456;
    h.next_header = 0x12345678;
    h.revision = 0;
    h.aux_type = -3;
    std::memset(h.name, 'a', sizeof h.name); // no NUL: cut at 127
    std::strcpy(h.filter, "box");
    uint8_t raw[rla::kHeaderBytes];
    rla::header_encode(h, raw);
    const Bytes b(raw, raw + sizeof raw);
    EXPECT_EQ(be16(b, 0), 1);
    EXPECT_EQ(be16(b, 16), -1);
    EXPECT_EQ(be32(b, 140), -123456);
    EXPECT_EQ(be32(b, 736), 0x12345678);
    EXPECT_EQ(be16(b, 664), -3);
    EXPECT_EQ(text_at(b, 144, 128), std::string(127, 'a'));
    EXPECT_EQ(text_at(b, 626, 32), "box");

    rla::Header back{};
    rla::header_decode(raw, &back);
    EXPECT_EQ(back.window_left, 1);
    EXPECT_EQ(back.frame, -1);
    EXPECT_EQ(back.job_num, -123456);
    EXPECT_EQ(back.next_header, 0x12345678);
    EXPECT_EQ(back.aux_type, -3);
    EXPECT_EQ(back.revision, 0);
    EXPECT_EQ(std::string(back.name), std::string(127, 'a'));
    EXPECT_STREQ(back.filter, "box");

    // A file's text field without a NUL is cut at its size minus one.
    std::memset(raw + 548, 'z', 24);
    rla::header_decode(raw, &back);
    EXPECT_EQ(std::string(back.aspect_name), std::string(23, 'z'));
    raw[26] = 0xFF;
    raw[27] = 0xFE;
    rla::header_decode(raw, &back);
    EXPECT_EQ(back.revision, rla::kRevision);
}

} // namespace
