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

#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "image/core/image_support.h"

#ifdef ZEP_TEST_PEER_API
#include <OpenImageIO/imageio.h>
#endif

namespace {

// ---- Pictures ---------------------------------------------------------------

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

// Runs of six equal samples every sixteen pixels, hashed samples between
// them, using every byte of the type; floats exact in single precision.
double sample(T t, int c, int x, int y)
{
    uint32_t h;
    if (x % 16 < 6) {
        h = static_cast<uint32_t>(y * 5 + c * 3 + 1) * 0x01010101u;
    } else {
        h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
            static_cast<uint32_t>(c + 1) * 83492791u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
    }
    return t == T::u8    ? h & 0xFF
           : t == T::u16 ? h & 0xFFFF
           : t == T::u32 ? h
                         : ((h & 0xFFFF) - 30000.0) / 8;
}

// A picture as the peer sees it: full size, data window (rows from the
// top) and per channel the type and the values row by row.
struct PeerImage {
    int full_width = 0, full_height = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<T> types;
    std::vector<std::vector<double>> values;

    double at(size_t c, int col, int row) const
    {
        return values[c][static_cast<size_t>(row) * width + col];
    }
};

PeerImage peer_picture(int full_width, int full_height, int x, int y, int width, int height,
                       std::vector<T> types)
{
    PeerImage p{full_width, full_height, x, y, width, height, std::move(types), {}};
    for (size_t c = 0; c < p.types.size(); ++c) {
        p.values.emplace_back();
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col)
                p.values.back().push_back(sample(p.types[c], static_cast<int>(c), col, row));
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
    PeerImage p{s.full_width, s.full_height, s.x, s.y, s.width, s.height, {}, {}};
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
        p.types.push_back(*t);
        p.values.emplace_back(n);
        for (size_t i = 0; i < n; ++i)
            p.values.back()[i] = load(*t, &raw[i * bytes_of(*t)]);
    }
    return p;
}

// Writes want with the peer; returns the picture the file holds (want).
std::optional<PeerImage> peer_create(const std::string &path, const PeerImage &want,
                                     std::string *why)
{
    const int n = static_cast<int>(want.types.size());
    OIIO::ImageSpec s(want.width, want.height, n, desc_of(want.types[0]));
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
    for (T t : want.types) {
        pixel += bytes_of(t);
        mixed = mixed || t != want.types[0];
        s.channelformats.push_back(desc_of(t));
    }
    if (!mixed) s.channelformats.clear();
    std::vector<uint8_t> data(pixel * want.width * want.height);
    for (int row = 0, i = 0; row < want.height; ++row)
        for (int col = 0; col < want.width; ++col, ++i)
            for (size_t c = 0, off = 0; c < want.types.size(); off += bytes_of(want.types[c++]))
                store(want.types[c], want.at(c, col, row), &data[i * pixel + off]);
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

// A picture as our reader delivers it: windows, and per channel the type
// and the values of the whole window, line by line from the bottom.
struct OurImage {
    ZEP_WINDOW window{}, active{};
    std::vector<T> types;
    std::vector<std::vector<double>> values;

    int width() const { return window.right - window.left + 1; }
    double &at(size_t c, int x, int y)
    {
        return values[c][static_cast<size_t>(y - window.bottom) * width() + (x - window.left)];
    }
};

struct Group {
    int count;
    T type;
};

ZEP_CHAN_GROUP group_of(Group g, char *format)
{
    const int type = g.type == T::f32   ? ZEP_C_FLOAT
                     : g.type == T::f64 ? ZEP_C_DOUBLE
                                        : ZEP_C_INTEGER;
    return {format, g.count, type, static_cast<int32_t>(bytes_of(g.type) * 8)};
}

std::optional<T> type_of(const ZEP_CHAN_GROUP &g)
{
    if (g.type == ZEP_C_FLOAT) return T::f32;
    if (g.type == ZEP_C_DOUBLE) return T::f64;
    if (g.type != ZEP_C_INTEGER) return std::nullopt;
    return g.width <= 8 ? T::u8 : g.width <= 16 ? T::u16 : T::u32;
}

// Writes the picture (active pixels from `sample`) through ZEP_open; the
// line writes run with every allocation failing. Returns "" or the fault.
std::string write_ours(const std::string &path, ZEP_WINDOW window, ZEP_WINDOW active, Group chan,
                       Group matte, Group aux, OurImage *written)
{
    static char rgb[] = "rgb";
    ZEP_IMAGE_DESC d{};
    d.usage = 1;
    d.response.kind = ZEP_CURVE_ANALYTIC;
    d.response.gamma = 1.0f;
    d.response.elem_type = ZEP_C_INTEGER;
    d.response.elem_width = 8;
    d.aspect_ratio = 1.0f;
    d.window = window;
    d.active = active;
    d.planar = 1;
    d.chan = group_of(chan, rgb);
    d.matte = group_of(matte, nullptr);
    d.aux = group_of(aux, nullptr);
    d.index = {nullptr, 0, ZEP_C_INTEGER, 8};

    written->window = window;
    written->active = active;
    written->types.clear();
    for (Group g : {chan, matte, aux})
        written->types.insert(written->types.end(), g.count, g.type);
    const int w = window.right - window.left + 1;
    written->values.assign(
        written->types.size(),
        std::vector<double>(static_cast<size_t>(w) * (window.top - window.bottom + 1)));

    ZEP_INFO info;
    ZEP_info_init(&info);
    std::string name = path;
    info.handle = name.data();
    info.full_path = 1;
    info.num_images = 1;
    info.images = &d;
    ZEP_OBJECT *h = ZEP_open(&info, "w");
    ZEP_info_cleanup(&info, 0);
    if (!h) return "open for writing: " + std::to_string(zep__err);
    void **table = ZEP_chan_alloc(&d, w, "test", nullptr);
    if (!table) {
        ZEP_close(h);
        return "no channel table";
    }
    std::string fault;
    err__alloc_fail(1, 1);
    for (int y = window.bottom; y <= window.top && fault.empty(); ++y) {
        for (size_t c = 0; c < written->types.size(); ++c) {
            const T t = written->types[c];
            for (int x = window.left; x <= window.right; ++x) {
                const bool inside =
                    x >= active.left && x <= active.right && y >= active.bottom && y <= active.top;
                const double v = inside ? sample(t, static_cast<int>(c), x, y) : 0;
                store(t, v, static_cast<uint8_t *>(table[c]) + (x - window.left) * bytes_of(t));
                written->at(c, x, y) = v;
            }
        }
        if (ZEP_scan_write(h, y, table) != 0)
            fault = "line " + std::to_string(y) + ": " + std::to_string(zep__err);
    }
    if (const int tried = err__alloc_fail(0, 0); tried != 0 && fault.empty())
        fault = std::to_string(tried) + " allocations during line writes";
    ZEP_chan_free(table);
    if (ZEP_close(h) != 0 && fault.empty()) fault = "close: " + std::to_string(zep__err);
    return fault;
}

// Reads every line (in file order, with every allocation failing) through
// ZEP_open. On failure *code holds zep__err of the open or of the line.
std::optional<OurImage> read_ours(const std::string &path, int *code)
{
    ZEP_INFO info;
    ZEP_info_init(&info);
    std::string name = path;
    info.handle = name.data();
    info.full_path = 1;
    zep__err = 0;
    ZEP_OBJECT *h = ZEP_open(&info, "r");
    ZEP_info_cleanup(&info, 0);
    *code = zep__err;
    if (!h) return std::nullopt;
    OurImage img;
    std::optional<OurImage> result;
    if (h->info.num_images == 1) {
        const ZEP_IMAGE_DESC &d = h->info.images[0];
        img.window = d.window;
        img.active = d.active;
        bool known = true;
        for (const ZEP_CHAN_GROUP *g : {&d.chan, &d.matte, &d.aux}) {
            const auto t = type_of(*g);
            known = known && (g->count == 0 || t);
            if (t) img.types.insert(img.types.end(), g->count, *t);
        }
        img.values.assign(img.types.size(),
                          std::vector<double>(static_cast<size_t>(img.width()) *
                                              (img.window.top - img.window.bottom + 1)));
        err__alloc_fail(1, 1);
        bool ok = known;
        for (int y = img.window.bottom; y <= img.window.top && ok; ++y) {
            void **table = nullptr;
            ok = ZEP_scan_read(h, y, &table) == 0;
            *code = zep__err;
            for (size_t c = 0; ok && c < img.types.size(); ++c)
                for (int x = img.window.left; x <= img.window.right; ++x)
                    img.at(c, x, y) =
                        load(img.types[c], static_cast<const uint8_t *>(table[c]) +
                                               (x - img.window.left) * bytes_of(img.types[c]));
        }
        if (err__alloc_fail(0, 0) != 0 && *code == 0) *code = ZEP_E_NOMEM;
        if (ok) result = img;
    }
    if (ZEP_close(h) != 0 && *code == 0) *code = zep__err;
    return result;
}

class RlaInterop : public zt::LibTest {
  protected:
    void SetUp() override
    {
        if (!kPeerPresent) GTEST_SKIP() << "built without the peer image library";
        LibTest::SetUp();
        start({"rla"});
    }
    std::string file(const std::string &name) const { return LibTest::file(name + ".rla"); }
};

// ---- Ours, read by the peer ----------------------------------------------------------

struct OursCase {
    const char *name;
    Group chan, matte, aux;
    ZEP_WINDOW window, active;
};

const OursCase kOurs[] = {
    {"int8", {3, T::u8}, {1, T::u8}, {1, T::f32}, {0, 47, 0, 31}, {5, 40, 3, 27}},
    {"int16", {3, T::u16}, {1, T::u16}, {1, T::f32}, {0, 39, 0, 20}, {0, 39, 0, 20}},
    {"int32", {3, T::u32}, {1, T::u32}, {1, T::u32}, {0, 33, 0, 12}, {2, 30, 0, 12}},
    {"float", {3, T::f32}, {1, T::f32}, {1, T::f32}, {0, 29, 0, 17}, {4, 25, 6, 17}},
    {"mixed", {3, T::u16}, {1, T::u8}, {1, T::f32}, {0, 35, 0, 15}, {1, 34, 2, 13}},
    {"colour_only", {3, T::u8}, {0, T::u8}, {0, T::u8}, {0, 300, 0, 4}, {0, 300, 0, 4}},
};

void PrintTo(const OursCase &k, std::ostream *os) { *os << k.name; }

class OursReadByPeer : public RlaInterop, public ::testing::WithParamInterface<OursCase> {};

TEST_P(OursReadByPeer, SamePixels)
{
    const OursCase &k = GetParam();
    const std::string path = file(k.name);
    OurImage ours;
    ASSERT_EQ(write_ours(path, k.window, k.active, k.chan, k.matte, k.aux, &ours), "");
    EXPECT_TRUE(zt::reports.empty()) << zt::reports.front().message;

    std::string why;
    const auto peer = peer_read(path, &why);
    ASSERT_TRUE(peer) << why;
    const int aw = k.active.right - k.active.left + 1;
    const int ah = k.active.top - k.active.bottom + 1;
    EXPECT_EQ(peer->full_width, ours.width());
    EXPECT_EQ(peer->full_height, k.window.top - k.window.bottom + 1);
    EXPECT_EQ(peer->x, k.active.left - k.window.left);
    ASSERT_EQ(peer->width, aw);
    ASSERT_EQ(peer->height, ah);
    ASSERT_EQ(peer->types, ours.types);

    int wrong = 0;
    std::string first;
    for (size_t c = 0; c < ours.types.size(); ++c)
        for (int r = 0; r < ah; ++r)
            for (int i = 0; i < aw; ++i) {
                const double want = ours.at(c, k.active.left + i, k.active.top - r);
                const double got = peer->at(c, i, r);
                if (got == want) continue;
                if (wrong++ == 0)
                    first = "channel " + std::to_string(c) + " row " + std::to_string(r) +
                            " column " + std::to_string(i) + ": " + std::to_string(got) +
                            " != " + std::to_string(want);
            }
    EXPECT_EQ(wrong, 0) << first;
}

INSTANTIATE_TEST_SUITE_P(Layouts, OursReadByPeer, ::testing::ValuesIn(kOurs),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- The peer's, read by us ------------------------------------------------------------

struct PeerCase {
    const char *name;
    std::vector<T> types; // R, G, B, then A (a matte), then Z (auxiliary)
    int full_width, full_height;
    int x, width, height; // data window at the top (y origin 0)
};

const PeerCase kPeer[] = {
    {"int8_rgba", {T::u8, T::u8, T::u8, T::u8}, 37, 21, 0, 37, 21},
    {"int16_rgba", {T::u16, T::u16, T::u16, T::u16}, 33, 17, 0, 33, 17},
    {"int32_rgb", {T::u32, T::u32, T::u32}, 29, 11, 0, 29, 11},
    {"float_rgba", {T::f32, T::f32, T::f32, T::f32}, 31, 13, 0, 31, 13},
    {"int8_crop", {T::u8, T::u8, T::u8}, 64, 48, 10, 30, 20},
    {"float_rgbaz", {T::f32, T::f32, T::f32, T::f32, T::f32}, 24, 9, 0, 24, 9},
};
// No case mixes types: the peer's writer reads past its own buffers then.

void PrintTo(const PeerCase &k, std::ostream *os) { *os << k.name; }

class PeerReadByOurs : public RlaInterop, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(PeerReadByOurs, SamePixels)
{
    const PeerCase &k = GetParam();
    const std::string path = file(k.name);
    std::string why;
    const auto peer = peer_create(
        path, peer_picture(k.full_width, k.full_height, k.x, 0, k.width, k.height, k.types), &why);
    ASSERT_TRUE(peer) << why;

    int code = 0;
    auto ours = read_ours(path, &code);
    ASSERT_TRUE(ours) << "zep__err " << code << "; "
                      << (zt::reports.empty() ? "" : zt::reports[0].message);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(zt::reports.empty()) << zt::reports.front().message;
    EXPECT_EQ(ours->window.left, 0);
    EXPECT_EQ(ours->window.right, k.full_width - 1);
    EXPECT_EQ(ours->window.bottom, 0);
    EXPECT_EQ(ours->window.top, k.full_height - 1);
    EXPECT_EQ(ours->active.left, k.x);
    EXPECT_EQ(ours->active.right, k.x + k.width - 1);
    EXPECT_EQ(ours->active.top - ours->active.bottom + 1, k.height);
    ASSERT_EQ(ours->types, peer->types);

    int wrong = 0;
    std::string first;
    for (size_t c = 0; c < ours->types.size(); ++c)
        for (int y = ours->window.bottom; y <= ours->window.top; ++y)
            for (int x = ours->window.left; x <= ours->window.right; ++x) {
                const bool inside = x >= ours->active.left && x <= ours->active.right &&
                                    y >= ours->active.bottom && y <= ours->active.top;
                const double want = inside ? peer->at(c, x - k.x, ours->active.top - y) : 0;
                const double got = ours->at(c, x, y);
                if (got == want) continue;
                if (wrong++ == 0)
                    first = "channel " + std::to_string(c) + " line " + std::to_string(y) +
                            " pixel " + std::to_string(x) + ": " + std::to_string(got) +
                            " != " + std::to_string(want);
            }
    EXPECT_EQ(wrong, 0) << first;
}

INSTANTIATE_TEST_SUITE_P(Layouts, PeerReadByOurs, ::testing::ValuesIn(kPeer),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- The peer's files that are not sound RLA files ----------------------------------------

// Doubles the peer stores as 64-bit integer groups (which it cannot read
// back itself), and a data window off the top edge, which the peer stores
// as an active window below line 0.
struct RefusedCase {
    const char *name;
    T type;
    int y;
    int code;
    zep::Message message;
};

const RefusedCase kRefused[] = {
    {"double", T::f64, 0, ZEP_E_UNSUPPORTED, zep::kNoImageWidth},
    {"negative_active", T::u8, 5, ZEP_E_NOT_KIND, zep::kNotOurFile},
};

void PrintTo(const RefusedCase &k, std::ostream *os) { *os << k.name; }

class PeerRefusedByOurs : public RlaInterop, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(PeerRefusedByOurs, OpenFailsWithTheRightCode)
{
    const RefusedCase &k = GetParam();
    const std::string path = file(k.name);
    const bool crop = k.y != 0;
    std::string why;
    (void)peer_create(path,
                      peer_picture(16, 12, crop ? 2 : 0, k.y, crop ? 10 : 16, crop ? 6 : 12,
                                   {k.type, k.type, k.type}),
                      &why);
    // The peer writes the file, reporting the double one as unreadable.
    ASSERT_TRUE(std::filesystem::exists(path)) << why;

    int code = 0;
    EXPECT_FALSE(read_ours(path, &code));
    EXPECT_EQ(code, k.code);
    ASSERT_EQ(zt::reports.size(), 1u);
    EXPECT_EQ(zt::reports[0].format, k.message.text);
}

INSTANTIATE_TEST_SUITE_P(Files, PeerRefusedByOurs, ::testing::ValuesIn(kRefused),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
