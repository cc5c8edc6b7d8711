#pragma once
// Saving under a size limit: an in-memory JPEG codec over libjpeg-turbo, the
// falling-quality loop, the 200 dots-per-inch marking and the file size query.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// 24-bit pixels, bytes blue, green, red; row 0 on top; rows Stride bytes apart.
struct TBgrView {
    const uint8_t* Bits = nullptr;
    int Width = 0;
    int Height = 0;
    size_t Stride = 0;
};

// Decoded pixels; rows padded to 4 bytes like the platform's 24-bit bitmaps.
struct TBgrPixels {
    int Width = 0;
    int Height = 0;
    size_t Stride = 0;
    std::vector<uint8_t> Data;
    TBgrView View() const { return {Data.data(), Width, Height, Stride}; }
};

// Where a decoder puts its pixels once the size is known: receives the width
// and height and returns the first row (rows `stride` bytes apart, at least
// width * 3) or null to refuse.
using TBgrRowsFor = uint8_t* (*)(void* context, int width, int height, size_t& stride);
// Rows into the TBgrPixels `context` points at, its padding bytes cleared so
// whole buffers compare equal.
uint8_t* IntoBgrPixels(void* context, int width, int height, size_t& stride);

// The codec's default quality, used for the first, intermediate save.
constexpr int kDefaultJpegQuality = 90;

// Encodes to JPEG in memory (baseline, 4:2:0, JFIF APP0 written first with
// density units 0 and 1:1). Keeps its libjpeg state between calls, so a loop
// of encodes pays the set-up once.
class TJpegEncoder {
public:
    TJpegEncoder();
    ~TJpegEncoder();
    TJpegEncoder(const TJpegEncoder&) = delete;
    TJpegEncoder& operator=(const TJpegEncoder&) = delete;

    // quality 1..100. False for an empty picture, a bad quality or a libjpeg error.
    bool Encode(const TBgrView& img, int quality, std::vector<uint8_t>& out);
    const std::string& LastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The calling thread's encoder, kept for the life of the thread.
TJpegEncoder& ThreadJpegEncoder();
bool EncodeJpeg(const TBgrView& img, int quality, std::vector<uint8_t>& out);

// The encodes of one picture at several qualities, sharing the work that does
// not depend on the quality: colour conversion, 4:2:0 subsampling and the DCT
// run once in Prepare, and each Encode only quantizes and lets libjpeg write
// the file. Encode's bytes are exactly TJpegEncoder::Encode's for the same
// picture and quality, so a loop over qualities costs little more than its
// entropy coding. Keeps its buffers (about 13 bytes a pixel) between calls.
class TJpegPrepared {
public:
    TJpegPrepared();
    ~TJpegPrepared();
    TJpegPrepared(const TJpegPrepared&) = delete;
    TJpegPrepared& operator=(const TJpegPrepared&) = delete;

    // False for an empty or oversized picture (nothing is then prepared).
    bool Prepare(const TBgrView& img);
    // Prepared with another encoder's picture without redoing its work: the
    // two can then encode at the same time on two threads. `other` must stay
    // prepared with that picture while this one encodes from it.
    bool ShareFrom(const TJpegPrepared& other);
    // quality 1..100, after a successful Prepare.
    bool Encode(int quality, std::vector<uint8_t>& out);
    // The same when the file fits maxBytes; when its quantized coefficients
    // alone prove it would not (a lower bound of its entropy-coded size is
    // over the limit), no file is made and `out` is left empty. A file made
    // may still be over the limit: the bound is only ever too small.
    bool EncodeWithin(int quality, size_t maxBytes, std::vector<uint8_t>& out);
    // The pixels libjpeg-turbo's decoder gives for `data` (delivered as by
    // DecodeJpegInto) when `data` is the last file this encoder made, also
    // with other JFIF density fields: computed from the coefficients at hand, without
    // the entropy decoding. False, with nothing delivered, for any other data
    // or where this is not available (no SSE2, a picture under 5 pixels
    // wide); such data is for DecodeJpegInto.
    bool DecodeLast(const uint8_t* data, size_t size, TBgrRowsFor rows, void* context);
    const std::string& LastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The calling thread's shared-work encoder. SaveJpegCompress (from pixels)
// prepares the picture with it.
TJpegPrepared& ThreadJpegPrepared();

// DecodeLast of the encoders SaveJpegCompress (from pixels) used on this
// thread: the pixels of the file it kept, without decoding it.
bool DecodeLastSaved(const uint8_t* data, size_t size, TBgrRowsFor rows, void* context);

// Decodes a JPEG to BGR pixels. Refuses pictures of more than maxPixels
// (checked from the frame header before any pixel memory is taken) and data
// that libjpeg had to patch up (truncated or corrupt).
bool DecodeJpeg(const uint8_t* data, size_t size, TBgrPixels& out, uint64_t maxPixels = uint64_t(1) << 26,
                std::string* reason = nullptr);
// The same into memory the caller provides once the size is known: `rows`
// receives the width and height and returns the first row (rows `stride`
// bytes apart, at least width * 3) or null to refuse. Saves a copy and a
// cleared buffer when the pixels end up in the caller's own picture.
bool DecodeJpegInto(const uint8_t* data, size_t size, TBgrRowsFor rows, void* context,
                    uint64_t maxPixels = uint64_t(1) << 26, std::string* reason = nullptr);

struct TJpegCompressResult {
    std::vector<uint8_t> Bytes; // the encoding kept
    int Quality = 0;            // its quality
    int Attempts = 0;           // qualities tried
    bool Fits = false;          // Bytes.size() <= the limit
};

// Encodes at quality 100, 95, ..., 5 until an encoding fits aMaxSize bytes;
// without one that fits, the quality-5 encoding is kept with Fits false.
// False only when encoding itself failed. This is the save's path: it costs
// one shared preparation and the entropy coding of the qualities tried
// (except those whose coefficients alone are far over the limit), where
// a detour through an intermediate JPEG would add an encode, a decode and one
// more generation of compression loss. The bytes are those of a plain encode
// (TJpegEncoder) at the quality reached.
bool SaveJpegCompress(const TBgrView& src, int aMaxSize, TJpegCompressResult& result);
// The same from a JPEG (such as an intermediate save), decoded once.
bool SaveJpegCompress(const uint8_t* jpeg, size_t size, int aMaxSize, TJpegCompressResult& result);
// File to file: the destination is written whole, and only with an encoding
// that fits; an over-limit result is reported as false, never left on disk.
bool SaveJpegCompress(const std::string& nSrcFile, const std::string& nDstFile, int aMaxSize,
                      std::string* reason = nullptr);

// Size of a file in bytes (low 32 bits, signed); -1 when there is no such file.
int32_t Get_File_Size(const std::string& name);

// Marks a JPEG with 200 dots per inch: the JFIF density, a new JFIF APP0 for a
// JPEG that starts with neither JFIF nor EXIF, or the EXIF resolution tags.
// False (with a reason in Italian) when the density could not be written.
bool ChangeJpeg200Dpi(const std::vector<uint8_t>& src, std::vector<uint8_t>& dst, std::string* reason = nullptr);
// File to file; true only when the destination was written whole.
bool ChangeJpeg200Dpi(const std::string& nSrcFile, const std::string& nDstFile, std::string* reason = nullptr);
