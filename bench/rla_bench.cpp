// Throughput of the RLA reader and writer on 2048x1556 frames of four
// channels (three colour channels and a matte), 8-bit, 16-bit and float,
// with smooth (gradient) and noisy content; lines are read in file order and
// in a shuffled order, and written in order. The plane encoder and decoder
// are measured alone against memcpy of the same bytes.
//
// When the benchmark was built with another image library's RLA support
// (ZEP_BENCH_PEER), the same frames go through that library in the same run,
// and a table of the ratios (ours / peer) is printed at the end.
//
// Before timing, every file case moves all its lines once with the
// allocator armed to fail: a line move that allocates fails, and the case
// is reported as an error ("line_allocs" counts the allocations tried).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include <zep/zep.h>

#include "image/core/core.h"
#include "image/rla/rla_internal.h"

#ifdef ZEP_BENCH_PEER
#include <OpenImageIO/imageio.h>
#endif

namespace {

constexpr int kWidth = 2048;
constexpr int kHeight = 1556;
constexpr int kChannels = 4; // 3 colour + 1 matte

enum class Sample { u8, u16, f32 };
enum class Content { gradient, noise };
enum class Order { file, shuffled };

const char *name_of(Sample s) { return s == Sample::u8 ? "u8" : s == Sample::u16 ? "u16" : "f32"; }
const char *name_of(Content c) { return c == Content::gradient ? "gradient" : "noise"; }
const char *name_of(Order o) { return o == Order::file ? "in_order" : "shuffled"; }

size_t bytes_of(Sample s) { return s == Sample::u8 ? 1 : s == Sample::u16 ? 2 : 4; }

constexpr size_t kSamples = size_t{kWidth} * kHeight;

// A frame in both layouts the two libraries take: one plane per channel
// (ours: a channel-pointer table per line) and interleaved pixels (the
// peer's scanlines). Row y of a plane is the image's row y from the top;
// our writer stores it as line kHeight - 1 - y, so both files hold the same
// picture.
struct Frame {
    Sample sample;
    std::vector<uint8_t> planes[kChannels];
    std::vector<uint8_t> interleaved;

    const uint8_t *row(int c, int y) const
    {
        return planes[c].data() + static_cast<size_t>(y) * kWidth * bytes_of(sample);
    }
};

// A value in [0, 1] for channel c at (x, y): a gentle ramp, or noise.
template <typename Rng> double value_at(Content content, int c, int x, int y, Rng &rng)
{
    if (content == Content::noise) return std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    const double fx = x / double(kWidth - 1), fy = y / double(kHeight - 1);
    switch (c) {
    case 0: return fx;
    case 1: return fy;
    case 2: return 0.5 * (fx + fy);
    default: return 1.0 - 0.25 * fx;
    }
}

std::shared_ptr<const Frame> make_frame(Sample sample, Content content)
{
    static std::map<std::pair<int, int>, std::shared_ptr<const Frame>> cache;
    auto key = std::make_pair(static_cast<int>(sample), static_cast<int>(content));
    if (auto it = cache.find(key); it != cache.end()) return it->second;

    auto f = std::make_shared<Frame>();
    f->sample = sample;
    const size_t sb = bytes_of(sample);
    std::mt19937 rng(12345);
    for (auto &p : f->planes)
        p.resize(kSamples * sb);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < kChannels; ++c) {
                const double v = value_at(content, c, x, y, rng);
                uint8_t *dst = f->planes[c].data() + (static_cast<size_t>(y) * kWidth + x) * sb;
                if (sample == Sample::u8) {
                    *dst = static_cast<uint8_t>(v * 255.0 + 0.5);
                } else if (sample == Sample::u16) {
                    const auto u = static_cast<uint16_t>(v * 65535.0 + 0.5);
                    std::memcpy(dst, &u, 2);
                } else {
                    const auto fl = static_cast<float>(v);
                    std::memcpy(dst, &fl, 4);
                }
            }
    f->interleaved.resize(kSamples * kChannels * sb);
    for (size_t i = 0; i < kSamples; ++i)
        for (int c = 0; c < kChannels; ++c)
            std::memcpy(&f->interleaved[(i * kChannels + c) * sb], &f->planes[c][i * sb], sb);
    cache[key] = f;
    return f;
}

const std::vector<int> &shuffled_rows()
{
    static const std::vector<int> rows = [] {
        std::vector<int> r(kHeight);
        std::iota(r.begin(), r.end(), 0);
        std::shuffle(r.begin(), r.end(), std::mt19937(99));
        return r;
    }();
    return rows;
}

std::string bench_dir()
{
    static const std::string dir = [] {
        auto d = std::filesystem::temp_directory_path() /
                 ("zep_rla_bench." + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(d);
        return d.string();
    }();
    return dir;
}

std::string file_name(const char *who, Sample s, Content c)
{
    return bench_dir() + "/" + who + "_" + name_of(s) + "_" + name_of(c) + ".rla";
}

int64_t frame_bytes(Sample s) { return static_cast<int64_t>(kSamples * kChannels * bytes_of(s)); }

// ---- Ours -------------------------------------------------------------------

ZEP_IMAGE_DESC describe(Sample s)
{
    static char rgb[] = "rgb";
    const int type = s == Sample::f32 ? ZEP_C_FLOAT : ZEP_C_INTEGER;
    const int width = static_cast<int>(bytes_of(s)) * 8;
    ZEP_IMAGE_DESC d{};
    d.usage = 1;
    d.response.kind = ZEP_CURVE_ANALYTIC;
    d.response.gamma = 1.0f;
    d.response.elem_type = ZEP_C_INTEGER;
    d.response.elem_width = 8;
    d.aspect_ratio = 1.0f;
    d.window = {0, kWidth - 1, 0, kHeight - 1};
    d.active = d.window;
    d.planar = 1;
    d.chan = {rgb, 3, type, width};
    d.matte = {nullptr, 1, type, width};
    d.aux = {nullptr, 0, ZEP_C_INTEGER, 8};
    d.index = {nullptr, 0, ZEP_C_INTEGER, 8};
    return d;
}

// Builds a handle as ZEP_open does for the "rla" format and opens it with
// the library's RLA driver; null on failure.
ZEP_OBJECT *open_ours(const std::string &path, bool write, ZEP_IMAGE_DESC *image)
{
    ZEP_INFO app;
    ZEP_info_init(&app);
    std::string name = path;
    char key[] = "rla";
    app.handle = name.data();
    app.key = key;
    app.full_path = 1;
    if (write) {
        app.num_images = 1;
        app.images = image;
    }
    ZEP_OBJECT *h = zep::handle_create(write ? ZEP_ACCESS_WRITE : ZEP_ACCESS_READ);
    bool ok = h != nullptr;
    if (ok) ok = (write ? zep::info_fill_for_write(h, &app) : zep::info_fill_for_read(h, &app)) == 0;
    if (ok) ok = (h->info.extension = STR_save(".rla")) != nullptr;
    if (ok) ok = (write ? ZEP_rla_w_open(h) : ZEP_rla_r_open(h)) == 1;
    ZEP_info_cleanup(&app, 0);
    if (!ok && h) zep__free_obj(h);
    return ok ? h : nullptr;
}

// Writes the frame; returns the allocations tried during the line writes
// when count_allocs is set (they fail then), else 0; -1 on failure.
int write_ours(const std::string &path, const Frame &f, bool count_allocs)
{
    ZEP_IMAGE_DESC d = describe(f.sample);
    ZEP_OBJECT *h = open_ours(path, true, &d);
    if (!h) return -1;
    if (count_allocs) err__alloc_fail(1, 1);
    bool ok = true;
    for (int line = 0; line < kHeight && ok; ++line) {
        const int y = kHeight - 1 - line;
        const void *table[kChannels];
        for (int c = 0; c < kChannels; ++c)
            table[c] = f.row(c, y);
        ok = ZEP_scan_write(h, line, table) == 0;
    }
    const int allocs = count_allocs ? err__alloc_fail(0, 0) : 0;
    if (ZEP_close_do_it(h) != 0) ok = false;
    return ok ? allocs : -1;
}

// Reads every line; the checksum keeps the reads from being optimised away.
int read_ours(const std::string &path, Order order, bool count_allocs, uint64_t *checksum)
{
    ZEP_OBJECT *h = open_ours(path, false, nullptr);
    if (!h) return -1;
    if (count_allocs) err__alloc_fail(1, 1);
    bool ok = true;
    for (int i = 0; i < kHeight && ok; ++i) {
        const int line = order == Order::file ? i : shuffled_rows()[i];
        void **table = nullptr;
        ok = ZEP_scan_read(h, line, &table) == 0;
        if (ok) *checksum += static_cast<const uint8_t *>(table[i % kChannels])[i];
    }
    const int allocs = count_allocs ? err__alloc_fail(0, 0) : 0;
    if (ZEP_close_do_it(h) != 0) ok = false;
    return ok ? allocs : -1;
}

void BM_OursWrite(benchmark::State &state, Sample s, Content c)
{
    auto f = make_frame(s, c);
    const std::string path = file_name("ours_w", s, c);
    const int allocs = write_ours(path, *f, true);
    state.counters["line_allocs"] = allocs;
    if (allocs != 0) {
        state.SkipWithError(allocs < 0 ? "write failed" : "a line write allocated memory");
        return;
    }
    for (auto _ : state)
        if (write_ours(path, *f, false) != 0) {
            state.SkipWithError("write failed");
            break;
        }
    state.SetBytesProcessed(state.iterations() * frame_bytes(s));
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

void BM_OursRead(benchmark::State &state, Sample s, Content c, Order o)
{
    auto f = make_frame(s, c);
    const std::string path = file_name("ours_r", s, c);
    uint64_t sum = 0;
    int allocs = write_ours(path, *f, false);
    if (allocs == 0) allocs = read_ours(path, o, true, &sum);
    state.counters["line_allocs"] = allocs;
    if (allocs != 0) {
        state.SkipWithError(allocs < 0 ? "write or read failed" : "a line read allocated memory");
        return;
    }
    for (auto _ : state)
        if (read_ours(path, o, false, &sum) != 0) {
            state.SkipWithError("read failed");
            break;
        }
    benchmark::DoNotOptimize(sum);
    state.SetBytesProcessed(state.iterations() * frame_bytes(s));
}

// ---- The plane coder alone ----------------------------------------------------

// Plane 0 (8-bit) or the high-byte plane (16-bit, stride 2) of channel 0.
struct Planes {
    const uint8_t *src;
    size_t stride;
    std::vector<uint8_t> encoded;
    std::vector<size_t> starts; // kHeight + 1 offsets into encoded
};

Planes encode_all(const Frame &f)
{
    Planes p{f.planes[0].data() + (f.sample == Sample::u16 ? 1 : 0), bytes_of(f.sample), {}, {}};
    p.encoded.resize(zep::rla::plane_bound(kWidth) * kHeight);
    p.starts.push_back(0);
    for (int y = 0; y < kHeight; ++y) {
        const size_t n = zep::rla::encode_plane(p.src + static_cast<size_t>(y) * kWidth * p.stride,
                                                p.stride, kWidth, &p.encoded[p.starts.back()]);
        p.starts.push_back(p.starts.back() + n);
    }
    return p;
}

void BM_EncodePlane(benchmark::State &state, Sample s, Content c)
{
    auto f = make_frame(s, c);
    Planes p = encode_all(*f);
    std::vector<uint8_t> out(zep::rla::plane_bound(kWidth));
    for (auto _ : state)
        for (int y = 0; y < kHeight; ++y) {
            benchmark::DoNotOptimize(zep::rla::encode_plane(
                p.src + static_cast<size_t>(y) * kWidth * p.stride, p.stride, kWidth, out.data()));
            benchmark::ClobberMemory();
        }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kSamples));
    state.counters["ratio"] = static_cast<double>(p.starts.back()) / kSamples;
}

void BM_DecodePlane(benchmark::State &state, Sample s, Content c)
{
    auto f = make_frame(s, c);
    Planes p = encode_all(*f);
    std::vector<uint8_t> line(kWidth * p.stride);
    for (auto _ : state)
        for (int y = 0; y < kHeight; ++y) {
            const long used = zep::rla::decode_plane(&p.encoded[p.starts[y]],
                                                     p.starts[y + 1] - p.starts[y], line.data(),
                                                     p.stride, kWidth);
            if (used < 0) {
                state.SkipWithError("decode failed");
                return;
            }
            benchmark::DoNotOptimize(line.data());
            benchmark::ClobberMemory();
        }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kSamples));
}

// The same plane bytes, line by line, with memcpy (8-bit planes only: a
// strided plane has no memcpy equivalent).
void BM_MemcpyPlane(benchmark::State &state)
{
    auto f = make_frame(Sample::u8, Content::noise);
    std::vector<uint8_t> line(kWidth);
    for (auto _ : state)
        for (int y = 0; y < kHeight; ++y) {
            std::memcpy(line.data(), f->row(0, y), kWidth);
            benchmark::DoNotOptimize(line.data());
            benchmark::ClobberMemory();
        }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kSamples));
}

// ---- The peer ------------------------------------------------------------------

#ifdef ZEP_BENCH_PEER
OIIO::TypeDesc peer_type(Sample s)
{
    return s == Sample::u8 ? OIIO::TypeDesc::UINT8
           : s == Sample::u16 ? OIIO::TypeDesc::UINT16
                              : OIIO::TypeDesc::FLOAT;
}

bool write_peer(const std::string &path, const Frame &f)
{
    auto out = OIIO::ImageOutput::create(path);
    if (!out) return false;
    OIIO::ImageSpec layout(kWidth, kHeight, kChannels, peer_type(f.sample));
    layout.alpha_channel = 3;
    if (!out->open(path, layout)) return false;
    const size_t row = size_t{kWidth} * kChannels * bytes_of(f.sample);
    bool ok = true;
    for (int y = 0; y < kHeight && ok; ++y)
        ok = out->write_scanline(y, 0, peer_type(f.sample), &f.interleaved[y * row]);
    return out->close() && ok;
}

bool read_peer(const std::string &path, Order order, std::vector<uint8_t> &row, uint64_t *sum)
{
    auto in = OIIO::ImageInput::open(path);
    if (!in) return false;
    const OIIO::TypeDesc type = in->spec_dimensions(0).format;
    bool ok = true;
    for (int i = 0; i < kHeight && ok; ++i) {
        const int y = order == Order::file ? i : shuffled_rows()[i];
        ok = in->read_scanline(y, 0, type, row.data());
        *sum += row[i];
    }
    return in->close() && ok;
}

void BM_PeerWrite(benchmark::State &state, Sample s, Content c)
{
    auto f = make_frame(s, c);
    const std::string path = file_name("peer_w", s, c);
    for (auto _ : state)
        if (!write_peer(path, *f)) {
            state.SkipWithError("peer write failed");
            break;
        }
    state.SetBytesProcessed(state.iterations() * frame_bytes(s));
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

void BM_PeerRead(benchmark::State &state, Sample s, Content c, Order o)
{
    auto f = make_frame(s, c);
    const std::string path = file_name("peer_r", s, c);
    if (!write_peer(path, *f)) {
        state.SkipWithError("peer write failed");
        return;
    }
    std::vector<uint8_t> row(size_t{kWidth} * kChannels * bytes_of(s));
    uint64_t sum = 0;
    for (auto _ : state)
        if (!read_peer(path, o, row, &sum)) {
            state.SkipWithError("peer read failed");
            break;
        }
    benchmark::DoNotOptimize(sum);
    state.SetBytesProcessed(state.iterations() * frame_bytes(s));
}
#endif

// ---- Registration and the ratio table --------------------------------------------

// Console output as usual, and each case's bytes per second kept by name:
// the median when the runs were repeated, else the one run.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}
    std::map<std::string, double> rate;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.error_occurred || !(median || r.run_type == Run::RT_Iteration)) continue;
            auto it = r.counters.find("bytes_per_second");
            if (it == r.counters.end()) continue;
            if (median || !medians_.count(r.run_name.function_name))
                rate[r.run_name.function_name] = it->second;
            if (median) medians_.insert(r.run_name.function_name);
        }
        ConsoleReporter::ReportRuns(runs);
    }

  private:
    std::set<std::string> medians_;
};

const Sample kSamplesKinds[] = {Sample::u8, Sample::u16, Sample::f32};
const Content kContents[] = {Content::gradient, Content::noise};
const Order kOrders[] = {Order::file, Order::shuffled};

std::vector<std::string> g_cases; // case names that have an ours/ and a peer/ run

void register_all()
{
    for (Sample s : kSamplesKinds)
        for (Content c : kContents) {
            const std::string sc = std::string(name_of(s)) + "/" + name_of(c);
            g_cases.push_back("write/" + sc);
            benchmark::RegisterBenchmark(("ours/write/" + sc).c_str(), BM_OursWrite, s, c)
                ->Unit(benchmark::kMillisecond);
#ifdef ZEP_BENCH_PEER
            benchmark::RegisterBenchmark(("peer/write/" + sc).c_str(), BM_PeerWrite, s, c)
                ->Unit(benchmark::kMillisecond);
#endif
            for (Order o : kOrders) {
                const std::string sco = "read/" + sc + "/" + name_of(o);
                g_cases.push_back(sco);
                benchmark::RegisterBenchmark(("ours/" + sco).c_str(), BM_OursRead, s, c, o)
                    ->Unit(benchmark::kMillisecond);
#ifdef ZEP_BENCH_PEER
                benchmark::RegisterBenchmark(("peer/" + sco).c_str(), BM_PeerRead, s, c, o)
                    ->Unit(benchmark::kMillisecond);
#endif
            }
        }
    for (Sample s : {Sample::u8, Sample::u16})
        for (Content c : kContents) {
            const std::string sc = std::string(name_of(s)) + "/" + name_of(c);
            benchmark::RegisterBenchmark(("plane/encode/" + sc).c_str(), BM_EncodePlane, s, c)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("plane/decode/" + sc).c_str(), BM_DecodePlane, s, c)
                ->Unit(benchmark::kMicrosecond);
        }
    benchmark::RegisterBenchmark("plane/memcpy", BM_MemcpyPlane)->Unit(benchmark::kMicrosecond);
}

void print_ratios(const RatioReporter &reporter)
{
    std::printf("\n%-34s %12s %12s %8s\n", "case (MB/s)", "ours", "peer", "ratio");
    for (const std::string &c : g_cases) {
        auto ours = reporter.rate.find("ours/" + c);
        auto peer = reporter.rate.find("peer/" + c);
        if (ours == reporter.rate.end() || peer == reporter.rate.end()) continue;
        std::printf("%-34s %12.1f %12.1f %8.2f\n", c.c_str(), ours->second / 1e6,
                    peer->second / 1e6, ours->second / peer->second);
    }
}

} // namespace

int main(int argc, char **argv)
{
#ifdef ZEP_BENCH_PEER
    // Both libraries move lines on one thread.
    OIIO::attribute("threads", 1);
#endif
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(static_cast<benchmark::ConsoleReporter::OutputOptions>(
        benchmark::ConsoleReporter::OO_Tabular |
        (isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Color : 0)));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    print_ratios(reporter);
    std::error_code ec;
    std::filesystem::remove_all(bench_dir(), ec);
    return 0;
}
