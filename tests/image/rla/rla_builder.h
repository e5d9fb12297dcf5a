// Hand-made RLA files for the reader's tests: headers laid out byte by byte
// from the file layout (not through the library's header code), offset
// tables, records of channel payloads, and byte planes made of explicit
// packets. Anything may be set to a value no writer would produce.
#ifndef ZEP_TESTS_IMAGE_RLA_RLA_BUILDER_H
#define ZEP_TESTS_IMAGE_RLA_RLA_BUILDER_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace rlatest {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes &b, size_t at, int v)
{
    b[at] = uint8_t(v >> 8);
    b[at + 1] = uint8_t(v);
}

inline void put32(Bytes &b, size_t at, int64_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(uint64_t(v) >> (24 - 8 * i));
}

// Copies at most size bytes of s: a text of size characters or more
// leaves the field without a terminating NUL.
inline void put_text(Bytes &b, size_t at, size_t size, const std::string &s)
{
    std::memcpy(&b[at], s.data(), s.size() < size ? s.size() : size);
}

// The fields of one header; the defaults describe a 4 x 3 image of three
// 8-bit colour channels in the current layout.
struct Header {
    int window[4] = {0, 3, 0, 2}; // left, right, bottom, top
    int active[4] = {0, 3, 0, 2};
    int frame = 7;
    int storage = 0, colours = 3, mattes = 0, auxes = 0;
    int revision = 0xFFFE;
    std::string gamma = " 2.2000";
    std::string red = " 0.6700  0.3300", green = " 0.2100  0.7100";
    std::string blue = " 0.1400  0.0800", white = " 0.3100  0.3160";
    int32_t job = 42;
    std::string name = "picture", desc = "a test image", program = "builder";
    std::string machine = "host", user = "someone", date = "Mon Jan  5 10:00:00";
    std::string aspect_name = "custom", aspect_ratio = "1.500", chan_format = "rgb";
    int field = 3;
    std::string time = "00:00:04", filter = "box";
    int colour_bits = 8, matte_type = 0, matte_bits = 8, aux_type = 0, aux_bits = 8;
    std::string aux_format = "depth";
    std::optional<int64_t> next; // the chain field; unset: filled by build()

    int active_height() const { return active[3] - active[2] + 1; }
    int active_width() const { return active[1] - active[0] + 1; }
};

inline Bytes header_bytes(const Header &h)
{
    Bytes b(740, 0);
    for (int i = 0; i < 4; ++i) {
        put16(b, 2 * i, h.window[i]);
        put16(b, 8 + 2 * i, h.active[i]);
    }
    put16(b, 16, h.frame);
    put16(b, 18, h.storage);
    put16(b, 20, h.colours);
    put16(b, 22, h.mattes);
    put16(b, 24, h.auxes);
    put16(b, 26, h.revision);
    put_text(b, 28, 16, h.gamma);
    put_text(b, 44, 24, h.red);
    put_text(b, 68, 24, h.green);
    put_text(b, 92, 24, h.blue);
    put_text(b, 116, 24, h.white);
    put32(b, 140, h.job);
    put_text(b, 144, 128, h.name);
    put_text(b, 272, 128, h.desc);
    put_text(b, 400, 64, h.program);
    put_text(b, 464, 32, h.machine);
    put_text(b, 496, 32, h.user);
    put_text(b, 528, 20, h.date);
    put_text(b, 548, 24, h.aspect_name);
    put_text(b, 572, 8, h.aspect_ratio);
    put_text(b, 580, 32, h.chan_format);
    put16(b, 612, h.field);
    put_text(b, 614, 12, h.time);
    put_text(b, 626, 32, h.filter);
    put16(b, 658, h.colour_bits);
    put16(b, 660, h.matte_type);
    put16(b, 662, h.matte_bits);
    put16(b, 664, h.aux_type);
    put16(b, 666, h.aux_bits);
    put_text(b, 668, 32, h.aux_format);
    put32(b, 736, h.next.value_or(0));
    return b;
}

// ---- Payloads -------------------------------------------------------------

// Literal packets of the bytes (at most 128 per packet).
inline Bytes literal(const Bytes &bytes)
{
    Bytes out;
    for (size_t at = 0; at < bytes.size();) {
        const size_t n = bytes.size() - at < 128 ? bytes.size() - at : 128;
        out.push_back(uint8_t(-int(n)));
        out.insert(out.end(), bytes.begin() + long(at), bytes.begin() + long(at + n));
        at += n;
    }
    return out;
}

// One run packet: count copies (1 to 128) of v.
inline Bytes run(int count, uint8_t v) { return {uint8_t(count - 1), v}; }

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Byte planes of integer samples, most significant plane first, each
// written as literal packets.
inline Bytes planes(const std::vector<uint32_t> &samples, int bytes_per_sample)
{
    Bytes out;
    for (int plane = bytes_per_sample - 1; plane >= 0; --plane) {
        Bytes p;
        for (uint32_t s : samples)
            p.push_back(uint8_t(s >> (8 * plane)));
        Bytes l = literal(p);
        out.insert(out.end(), l.begin(), l.end());
    }
    return out;
}

// One channel's part of a record: the int16 length, then the payload.
inline Bytes channel(const Bytes &payload, std::optional<int> length = std::nullopt)
{
    Bytes out(2);
    put16(out, 0, length.value_or(int(payload.size())));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// ---- Files ----------------------------------------------------------------

// An image: its header and the record of each active line, bottom first
// (each the concatenation of its channels). Offsets of the table may be
// overridden entry by entry; a shorter table than the active height may be
// asked for.
struct Image {
    Header header;
    std::vector<Bytes> records;
    std::vector<std::pair<int, int64_t>> offset_overrides; // entry, value
    std::optional<int> table_entries;
};

// Lays the images out one after the other (header, table, records) and
// chains them; a header whose next field is set keeps it.
inline Bytes build(std::vector<Image> images)
{
    Bytes file;
    std::vector<size_t> starts;
    for (Image &im : images) {
        const size_t start = file.size();
        starts.push_back(start);
        const int entries = im.table_entries.value_or(im.header.active_height());
        Bytes table(size_t(entries) * 4);
        size_t at = start + 740 + table.size();
        for (int k = 0; k < entries && size_t(k) < im.records.size(); ++k) {
            put32(table, size_t(k) * 4, int64_t(at));
            at += im.records[size_t(k)].size();
        }
        for (auto [k, v] : im.offset_overrides)
            put32(table, size_t(k) * 4, v);
        Bytes h = header_bytes(im.header);
        file.insert(file.end(), h.begin(), h.end());
        file.insert(file.end(), table.begin(), table.end());
        for (const Bytes &r : im.records)
            file.insert(file.end(), r.begin(), r.end());
    }
    for (size_t i = 0; i < images.size(); ++i) {
        if (images[i].header.next) continue;
        const int64_t next = i + 1 < images.size() ? int64_t(starts[i + 1]) : 0;
        for (int k = 0; k < 4; ++k)
            file[starts[i] + 736 + size_t(k)] = uint8_t(uint64_t(next) >> (24 - 8 * k));
    }
    return file;
}

inline bool write_file(const std::string &path, const Bytes &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace rlatest

#endif // ZEP_TESTS_IMAGE_RLA_RLA_BUILDER_H
