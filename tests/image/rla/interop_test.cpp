// Interoperability with another image library's RLA support, run as a peer
// through its C++ interface (ZEP_TEST_PEER_API; without it the tests skip):
// files we write read there with the same pixels, files it writes read here
// with the same pixels, and its files that are not sound RLA files refused.
//
// An RLA line counts from the window bottom up; the peer presents rows from
// the top down: row r of its data window is line (active top - r), column i
// pixel (active left + i). The peer places the data window vertically by a
// rule of its own: sizes, horizontal origins and pixels are compared.
#include <gtest/gtest.h>

#include <optional>

#include "rla_support.h"

#ifdef ZEP_TEST_PEER_API
#include <OpenImageIO/imageio.h>
#endif

namespace {

using namespace rlatest;

enum class T { u8, u16, u32, f32, f64 };

size_t bytes_of(T t) { return t == T::u8 ? 1 : t == T::u16 ? 2 : t == T::f64 ? 8 : 4; }

// The sample of type t at p, widened to double (exact for every type here),
// and back.
double load(T t, const uint8_t *p)
{
    const auto get = [p](auto v) { return std::memcpy(&v, p, sizeof v), double(v); };
    return t == T::u8    ? get(uint8_t())
           : t == T::u16 ? get(uint16_t())
           : t == T::u32 ? get(uint32_t())
           : t == T::f32 ? get(float())
                         : get(double());
}
void store(T t, double v, uint8_t *p)
{
    const auto put = [p](auto x) { std::memcpy(p, &x, sizeof x); };
    t == T::u8    ? put(uint8_t(v))
    : t == T::u16 ? put(uint16_t(v))
    : t == T::u32 ? put(uint32_t(v))
    : t == T::f32 ? put(float(v))
                  : put(v);
}

std::optional<T> type_of(const ZEP_CHAN_GROUP &g)
{
    if (g.type == ZEP_C_FLOAT) return T::f32;
    if (g.type == ZEP_C_DOUBLE) return T::f64;
    if (g.type != ZEP_C_INTEGER) return std::nullopt;
    return g.width <= 8 ? T::u8 : g.width <= 16 ? T::u16 : T::u32;
}

// Per channel the type and the values, row by row from the top.
struct Grid {
    int width = 0, height = 0;
    std::vector<T> types;
    std::vector<std::vector<double>> values;

    Grid &size(int w, int h)
    {
        width = w, height = h;
        values.assign(types.size(), std::vector<double>(size_t(w) * size_t(h)));
        return *this;
    }
    double &at(size_t c, int col, int row) { return values[c][size_t(row * width + col)]; }
    double at(size_t c, int col, int row) const { return values[c][size_t(row * width + col)]; }
    // Row `row` from a channel table of one line, from column `from` on.
    void take_row(int row, void *const *table, int from)
    {
        for (size_t c = 0; c < types.size(); ++c)
            for (int col = 0; col < width; ++col)
                at(c, col, row) = load(types[c], static_cast<const uint8_t *>(table[c]) +
                                                     size_t(from + col) * bytes_of(types[c]));
    }
};

// "" or the first difference of got from want.
std::string diff(const Grid &got, const Grid &want)
{
    if (got.width != want.width || got.height != want.height || got.types != want.types)
        return "sizes or channel types differ";
    for (size_t c = 0; c < got.types.size(); ++c)
        for (int r = 0; r < got.height; ++r)
            for (int i = 0; i < got.width; ++i)
                if (got.at(c, i, r) != want.at(c, i, r))
                    return "channel " + std::to_string(c) + " row " + std::to_string(r) + " column " +
                           std::to_string(i) + ": " + std::to_string(got.at(c, i, r)) +
                           " != " + std::to_string(want.at(c, i, r));
    return "";
}

// A picture as the peer sees it: full size, data window (rows from the top).
struct PeerImage {
    int full_width = 0, full_height = 0, x = 0, y = 0;
    Grid g;
};

// Runs of six equal samples every sixteen pixels, hashed samples between
// them, using every byte of the type; floats exact in single precision.
PeerImage peer_picture(int full_width, int full_height, int x, int y, int width, int height,
                       std::vector<T> types)
{
    PeerImage p{full_width, full_height, x, y, {0, 0, std::move(types), {}}};
    p.g.size(width, height);
    for (size_t c = 0; c < p.g.types.size(); ++c)
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col) {
                uint32_t h = uint32_t(row * 5 + int(c) * 3 + 1) * 0x01010101u;
                if (col % 16 >= 6) {
                    h = uint32_t(col) * 73856093u ^ uint32_t(row) * 19349663u ^ uint32_t(c + 1) * 83492791u;
                    h ^= h >> 13, h *= 0x5bd1e995u, h ^= h >> 15;
                }
                const T t = p.g.types[c];
                p.g.at(c, col, row) = t == T::u8    ? h & 0xFF
                                      : t == T::u16 ? h & 0xFFFF
                                      : t == T::u32 ? h
                                                    : ((h & 0xFFFF) - 30000.0) / 8;
            }
    return p;
}

// ---- The peer -----------------------------------------------------------------

#ifdef ZEP_TEST_PEER_API
constexpr bool kPeerPresent = true;

OIIO::TypeDesc desc_of(T t)
{
    const OIIO::TypeDesc descs[] = {OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT16,
                                    OIIO::TypeDesc::UINT32, OIIO::TypeDesc::FLOAT,
                                    OIIO::TypeDesc::DOUBLE};
    return descs[int(t)];
}

std::optional<PeerImage> peer_read(const std::string &path, std::string *why)
{
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        *why = OIIO::geterror();
        return std::nullopt;
    }
    const OIIO::ImageSpec s = in->spec_dimensions(0); // sizes, origin and channel types
    PeerImage p{s.full_width, s.full_height, s.x, s.y, {s.width, s.height, {}, {}}};
    for (int c = 0; c < s.nchannels; ++c) {
        const OIIO::TypeDesc d = s.channelformat(c);
        std::optional<T> t;
        for (T k : {T::u8, T::u16, T::u32, T::f32, T::f64})
            if (desc_of(k) == d) t = k;
        if (!t) {
            *why = "channel type " + std::string(d.c_str());
            return std::nullopt;
        }
        const size_t n = static_cast<size_t>(s.width) * s.height;
        std::vector<uint8_t> raw(n * bytes_of(*t));
        if (!in->read_image(0, 0, c, c + 1, d, raw.data())) {
            *why = in->geterror();
            return std::nullopt;
        }
        p.g.types.push_back(*t);
        p.g.values.emplace_back(n);
        for (size_t i = 0; i < n; ++i)
            p.g.values.back()[i] = load(*t, &raw[i * bytes_of(*t)]);
    }
    return p;
}

// Writes want with the peer; returns the picture the file holds (want).
std::optional<PeerImage> peer_create(const std::string &path, const PeerImage &want,
                                     std::string *why)
{
    const Grid &g = want.g;
    const int n = static_cast<int>(g.types.size());
    OIIO::ImageSpec s(g.width, g.height, n, desc_of(g.types[0]));
    s.x = want.x;
    s.y = want.y;
    s.full_x = s.full_y = 0;
    s.full_width = want.full_width;
    s.full_height = want.full_height;
    static const char *const names[] = {"R", "G", "B", "A", "Z"};
    s.channelnames.assign(names, names + n);
    s.alpha_channel = n >= 4 ? 3 : -1;
    s.z_channel = n >= 5 ? 4 : -1;
    size_t pixel = 0;
    bool mixed = false;
    for (T t : g.types) {
        pixel += bytes_of(t);
        mixed = mixed || t != g.types[0];
        s.channelformats.push_back(desc_of(t));
    }
    if (!mixed) s.channelformats.clear();
    std::vector<uint8_t> data(pixel * size_t(g.width) * size_t(g.height));
    for (int row = 0, i = 0; row < g.height; ++row)
        for (int col = 0; col < g.width; ++col, ++i)
            for (size_t c = 0, off = 0; c < g.types.size(); off += bytes_of(g.types[c++]))
                store(g.types[c], g.at(c, col, row), &data[size_t(i) * pixel + off]);
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, s) || !out->write_image(OIIO::TypeDesc::UNKNOWN, data.data()) ||
        !out->close()) {
        *why = out ? out->geterror() : OIIO::geterror();
        return std::nullopt;
    }
    return want;
}

#else
constexpr bool kPeerPresent = false;
std::optional<PeerImage> peer_read(const std::string &, std::string *) { return {}; }
std::optional<PeerImage> peer_create(const std::string &, const PeerImage &, std::string *)
{
    return {};
}
#endif

// ---- Our side, through the shipped "rla" module ----------------------------------

// The channel types of d, all known, or nullopt.
std::optional<std::vector<T>> types_of(const ZEP_IMAGE_DESC &d)
{
    std::vector<T> types;
    for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux}) {
        const auto t = type_of(*g);
        if (g->count != 0 && !t) return std::nullopt;
        if (t) types.insert(types.end(), size_t(g->count), *t);
    }
    return types;
}

// A picture as our reader delivers it: windows, and the whole window.
struct OurImage {
    ZEP_WINDOW window{}, active{};
    Grid g;
};

// Reads every line (in file order, with every allocation failing) through
// ZEP_open. On failure *code holds zep__err of the open or of the line.
std::optional<OurImage> read_ours(const std::string &path, int *code)
{
    Info info(path);
    info.info.full_path = 1;
    zep__err = 0;
    ZEP_OBJECT *h = info.open("r");
    *code = zep__err;
    if (!h) return std::nullopt;
    std::optional<OurImage> result;
    const auto types = h->info.num_images == 1 ? types_of(h->info.images[0]) : std::nullopt;
    if (types) {
        const ZEP_WINDOW &w = h->info.images[0].window;
        OurImage img{w, h->info.images[0].active, {0, 0, *types, {}}};
        img.g.size(w.right - w.left + 1, w.top - w.bottom + 1);
        err__alloc_fail(1, 1);
        bool ok = true;
        for (int y = w.bottom; y <= w.top && ok; ++y) {
            void **table = nullptr;
            ok = ZEP_scan_read(h, y, &table) == 0;
            *code = zep__err;
            if (ok) img.g.take_row(w.top - y, table, 0);
        }
        if (err__alloc_fail(0, 0) != 0 && *code == 0) *code = ZEP_E_NOMEM;
        if (ok) result = img;
    }
    if (ZEP_close(h) != 0 && *code == 0) *code = zep__err;
    return result;
}

class RlaInterop : public LibTest {
  protected:
    void SetUp() override
    {
        if (!kPeerPresent) GTEST_SKIP() << "built without the peer image library";
        LibTest::SetUp();
        start({"rla"});
    }
    std::string file(const std::string &name) const { return LibTest::file(name + ".rla"); }
};

constexpr int kI = ZEP_C_INTEGER, kF = ZEP_C_FLOAT;

TEST_F(RlaInterop, OursReadByThePeerWithTheSamePixels)
{
    const struct {
        const char *name;
        Group chan, matte, aux;
        ZEP_WINDOW window, active;
    } cases[] = {
        {"int8", {3, kI, 8}, {1, kI, 8}, {1, kF, 32}, {0, 47, 0, 31}, {5, 40, 3, 27}},
        {"int16", {3, kI, 16}, {1, kI, 16}, {1, kF, 32}, {0, 39, 0, 20}, {0, 39, 0, 20}},
        {"int32", {3, kI, 32}, {1, kI, 32}, {1, kI, 32}, {0, 33, 0, 12}, {2, 30, 0, 12}},
        {"float", {3, kF, 32}, {1, kF, 32}, {1, kF, 32}, {0, 29, 0, 17}, {4, 25, 6, 17}},
        {"mixed", {3, kI, 16}, {1, kI, 8}, {1, kF, 32}, {0, 35, 0, 15}, {1, 34, 2, 13}},
        {"colour_only", {3, kI, 8}, {0, kI, 8}, {0, kI, 8}, {0, 300, 0, 4}, {0, 300, 0, 4}},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        reports.clear();
        const std::string path = file(k.name);
        std::vector<ZEP_IMAGE_DESC> images{describe(k.window, k.chan, k.matte, k.aux)};
        images[0].active = k.active;
        images[0].chan.format = const_cast<char *>("rgb");
        Info info(path, nullptr, images);
        info.info.full_path = 1;
        ZEP_OBJECT *h = info.open("w");
        ASSERT_NE(h, nullptr) << zep__err;
        const int width = k.window.right - k.window.left + 1;
        Chan table(images[0], width);
        err__alloc_fail(1, 1); // the line writes allocate nothing
        EXPECT_EQ(write_image(h, 0, 0, table.table), 0);
        EXPECT_EQ(err__alloc_fail(0, 0), 0);
        EXPECT_EQ(ZEP_close(h), 0);
        EXPECT_TRUE(reports.empty()) << reports.front().message;

        // What went in: the active part of the lines write_image filled.
        Grid want{0, 0, *types_of(images[0]), {}};
        want.size(k.active.right - k.active.left + 1, k.active.top - k.active.bottom + 1);
        for (int r = 0; r < want.height; ++r) {
            fill_table(table.table, images[0], width, k.active.top - r);
            want.take_row(r, table.table, k.active.left - k.window.left);
        }
        std::string why;
        const auto peer = peer_read(path, &why);
        ASSERT_TRUE(peer) << why;
        EXPECT_EQ(peer->full_width, width);
        EXPECT_EQ(peer->full_height, k.window.top - k.window.bottom + 1);
        EXPECT_EQ(peer->x, k.active.left - k.window.left);
        EXPECT_EQ(diff(peer->g, want), "");
    }
}

TEST_F(RlaInterop, ThePeersFilesReadByOursWithTheSamePixels)
{
    // R, G, B, then A (a matte), then Z (auxiliary); data window at the top.
    // No case mixes types: the peer's writer reads past its own buffers then.
    const struct {
        const char *name;
        std::vector<T> types;
        int full_width, full_height, x, width, height;
    } cases[] = {
        {"int8_rgba", {T::u8, T::u8, T::u8, T::u8}, 37, 21, 0, 37, 21},
        {"int16_rgba", {T::u16, T::u16, T::u16, T::u16}, 33, 17, 0, 33, 17},
        {"int32_rgb", {T::u32, T::u32, T::u32}, 29, 11, 0, 29, 11},
        {"float_rgba", {T::f32, T::f32, T::f32, T::f32}, 31, 13, 0, 31, 13},
        {"int8_crop", {T::u8, T::u8, T::u8}, 64, 48, 10, 30, 20},
        {"float_rgbaz", {T::f32, T::f32, T::f32, T::f32, T::f32}, 24, 9, 0, 24, 9},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        reports.clear();
        const std::string path = file(k.name);
        std::string why;
        const auto peer = peer_create(
            path, peer_picture(k.full_width, k.full_height, k.x, 0, k.width, k.height, k.types), &why);
        ASSERT_TRUE(peer) << why;

        int code = 0;
        const auto ours = read_ours(path, &code);
        ASSERT_TRUE(ours) << "zep__err " << code << "; " << (reports.empty() ? "" : reports[0].message);
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(reports.empty()) << reports.front().message;
        const ZEP_WINDOW &w = ours->window, &a = ours->active;
        EXPECT_TRUE(w.left == 0 && w.right == k.full_width - 1 && w.bottom == 0 &&
                    w.top == k.full_height - 1);
        EXPECT_TRUE(a.left == k.x && a.right == k.x + k.width - 1);
        EXPECT_EQ(a.top - a.bottom + 1, k.height);
        // The peer's rows where our reader placed them, zeros around.
        Grid want{0, 0, peer->g.types, {}};
        want.size(k.full_width, k.full_height);
        for (size_t c = 0; c < want.types.size(); ++c)
            for (int y = a.bottom; y <= a.top; ++y)
                for (int x = a.left; x <= a.right; ++x)
                    want.at(c, x, w.top - y) = peer->g.at(c, x - k.x, a.top - y);
        EXPECT_EQ(diff(ours->g, want), "");
    }
}

// Doubles the peer stores as 64-bit integer groups (which it cannot read
// back itself), and a data window off the top edge, which the peer stores
// as an active window below line 0.
TEST_F(RlaInterop, ThePeersFilesThatAreNotSoundAreRefused)
{
    const struct {
        const char *name;
        T type;
        int y, code;
        const zep::Message &message;
    } cases[] = {
        {"double", T::f64, 0, ZEP_E_UNSUPPORTED, zep::kNoImageWidth},
        {"negative_active", T::u8, 5, ZEP_E_NOT_KIND, zep::kNotOurFile},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        reports.clear();
        const std::string path = file(k.name);
        const bool crop = k.y != 0;
        std::string why;
        (void)peer_create(path,
                          peer_picture(16, 12, crop ? 2 : 0, k.y, crop ? 10 : 16, crop ? 6 : 12,
                                       {k.type, k.type, k.type}),
                          &why);
        // The peer writes the file, reporting the double one as unreadable.
        ASSERT_TRUE(fs::exists(path)) << why;
        int code = 0;
        EXPECT_FALSE(read_ours(path, &code));
        EXPECT_EQ(code, k.code);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].format, k.message.text);
    }
}

} // namespace
