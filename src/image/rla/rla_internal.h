/*
 * Internal interface of the RLA driver, shared by the reader, the writer and
 * their common close routine.
 *
 * File layout: per image a 740-byte big-endian header, an offset table of
 * (active height) big-endian int32 record offsets, and one record per active
 * line holding, for each channel (colour, mattes, auxiliary), an int16
 * payload length and the payload: run-length byte planes for integer
 * channels (1, 2 or 4 planes, most significant first), raw samples for float
 * and double channels. Images chain through the int32 at header offset 736.
 */
#ifndef ZEP_SRC_IMAGE_RLA_RLA_INTERNAL_H
#define ZEP_SRC_IMAGE_RLA_RLA_INTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <zep/image.h>

namespace zep::rla {

constexpr size_t kHeaderBytes = 740;
constexpr uint16_t kRevision = 0xFFFE; /* current layout; anything else is older */

/* Big-endian fields, assembled and split byte by byte. */
inline uint32_t get_be32(const uint8_t *p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
inline uint16_t get_be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline void put_be32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
inline void put_be16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

/* Storage-type codes of the header (offsets 18, 660, 664). */
constexpr int kStoreInteger = 0;
constexpr int kStoreFloat = 4;
constexpr int kStoreDouble = 5;

/* Limits a header must keep to be opened; a header beyond them is not taken
 * for an RLA file (the reader reports it as such). */
constexpr int kMaxChannelsPerImage = 64; /* colour + mattes + auxiliary */
constexpr int kMaxImages = 1024;          /* images chained in one file */
constexpr uint64_t kMaxBufferBytes = uint64_t{256} << 20; /* all images' buffers */

/* A header's fields in host form. Text fields are copied NUL-terminated
 * (a field without a NUL is cut at its size minus one). */
struct Header {
    int16_t window_left, window_right, window_bottom, window_top;
    int16_t active_left, active_right, active_bottom, active_top;
    int16_t frame;
    int16_t storage_type; /* colour channels */
    int16_t colour_count, matte_count, aux_count;
    uint16_t revision;
    char gamma[16];
    char red[24], green[24], blue[24], white[24];
    int32_t job_num;
    char name[128];
    char desc[128];
    char program[64];
    char machine[32];
    char user[32];
    char date[20];
    char aspect_name[24];
    char aspect_ratio[8];
    char chan_format[32];
    int16_t field;
    char time[12];
    char filter[32];
    int16_t colour_bits;
    int16_t matte_type;
    int16_t matte_bits;
    int16_t aux_type;
    int16_t aux_bits;
    char aux_format[32];
    int32_t next_header; /* 0 for the last image */
};

/* Decodes the 740 bytes of raw into h (never fails). */
void header_decode(const uint8_t *raw, Header *h);
/* Encodes h into 740 bytes (texts cut to their field size minus one and
 * NUL-filled; reserved bytes zero). */
void header_encode(const Header &h, uint8_t *raw);
/* The acceptance test of a header: windows, active window inside the window,
 * an aspect name or ratio, 0..3 colour channels, counts and storage type not
 * negative; with file_test the matte type too. */
bool header_acceptable(const Header &h, bool file_test);

/* ---- Byte planes --------------------------------------------------------- */

/* Worst-case encoded size of one plane of count bytes. */
constexpr size_t plane_bound(size_t count) { return count + (count + 127) / 128; }

/* Encodes count bytes taken every `stride` bytes from src (one plane) with
 * the run-length procedure of the format; returns the bytes written to out,
 * which must hold plane_bound(count). */
size_t encode_plane(const uint8_t *src, size_t stride, size_t count, uint8_t *out);

/* Decodes one plane of count bytes from in (at most n bytes) into dst every
 * `stride` bytes. Returns the input bytes consumed, or -1 when a packet would
 * produce more than count bytes or run past n. */
long decode_plane(const uint8_t *in, size_t n, uint8_t *dst, size_t stride, size_t count);

/* ---- Per-channel coders ---------------------------------------------------- */

/* A decoder writes left_pad zeros, active_width decoded pixels and right_pad
 * zeros into line and returns the pixels written (the window width), or 0 when
 * the payload is malformed. */
using Decoder = int (*)(const uint8_t *payload, int n, void *line, int active_width, int left_pad,
                        int right_pad);
/* An encoder writes the payload of the active pixels of line (starting after
 * left_pad) into out and returns its length. */
using Encoder = int (*)(const void *line, int left_pad, int active_width, uint8_t *out);
/* Clears width samples of line. */
using Clear = void (*)(void *line, int width);

/* The coders of a channel group; false when the group's type or bits cannot
 * be handled (the caller reports which). *width_refused tells a width
 * refusal from a type refusal. */
bool choose_decoder(int type, int bits, Decoder *d, Clear *c, bool *width_refused);
bool choose_encoder(int type, int bits, Encoder *e, bool *width_refused);

/* ---- Line state ------------------------------------------------------------ */

/* One per image of an open file; the handle's priv table points at them,
 * image 0 first. All images of a file share the stream, the position word
 * and the current-image word. */
struct LineState {
    FILE *stream;
    int64_t *position;     /* shared: the offset the stream stands at */
    LineState **current;   /* shared: the image read last */
    int writing;           /* 1 for a writer */
    uint32_t start_seconds, start_millis; /* writer, image 0 */
    int channels;          /* colour + mattes + auxiliary */
    void **buffer;         /* reader: window-width channel buffer */
    int next_line;
    Decoder *decoders;     /* one per channel */
    Encoder *encoders;     /* writer: one per channel */
    Clear *clears;         /* reader: one per channel */
    int window_width, window_height;
    int window_top, window_bottom;
    int active_top, active_bottom;
    int active_width, active_height;
    int left_pad, right_pad;
    size_t record_size;
    uint8_t *record;
    uint8_t *offsets;      /* active height big-endian int32 */
    int64_t header_position; /* writer: -1 until written */
    int64_t table_position;  /* writer: 0 until written */
    char *path;            /* image 0: the name used in messages (owned) */
    bool standard_stream;  /* image 0: stdin or stdout, never closed or sought */
};

/* Frees every line state of the handle with its tables and buffers, closes
 * the stream (not a standard one), frees the handle. The writer's half first
 * appends the further headers, patches the chain, the offset table and the
 * time field. Returns zep__err. */
int close_handle(ZEP_OBJECT *handle);

/* Frees the line states of an open that failed (the handle stays). */
void release_states(LineState *states, int count);

} // namespace zep::rla

#endif // ZEP_SRC_IMAGE_RLA_RLA_INTERNAL_H
