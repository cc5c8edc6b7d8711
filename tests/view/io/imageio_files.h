#pragma once
// Writers of small picture files for the reader tests, straight through the
// format libraries so that every layout a file can hold is produced exactly.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

namespace testfiles {

using Bytes = std::vector<std::uint8_t>;

struct Rgb
{
    int r, g, b;
};

// Colour of a BGR888 picture at (x, y).
Rgb PixelAt(const QImage& image, int x, int y);

// Pixels packed row after row, `components` bytes each, as the writers expect.
struct JpegSpec
{
    int width = 16;
    int height = 16;
    int components = 3;       // 1 grey, 3 RGB, 4 CMYK
    Bytes pixels;
    int quality = 100;
    int orientation = 0;      // EXIF orientation to record; 0 writes no EXIF block
    bool adobeCmyk = true;    // CMYK stored inverted with the Adobe marker
    bool progressive = false;
};
void WriteJpeg(const QString& path, const JpegSpec& layout);

struct PngSpec
{
    int width = 0;
    int height = 0;
    int colorType = 2;        // PNG_COLOR_TYPE_*
    int bitDepth = 8;
    std::vector<Bytes> rows;  // packed exactly as stored in the file (16-bit big endian)
    std::vector<Rgb> palette;
    Bytes transparency;       // tRNS: alpha per palette entry
    bool interlaced = false;
};
void WritePng(const QString& path, const PngSpec& layout);

struct TiffSpec
{
    int width = 0;
    int height = 0;
    int samples = 3;
    int bitsPerSample = 8;
    int photometric = 2;      // PHOTOMETRIC_*
    int compression = 1;      // COMPRESSION_*
    int orientation = 1;
    bool unassociatedAlpha = false; // the last sample is alpha
    int rowsPerStrip = 0;     // 0: libtiff's default
    std::vector<Bytes> rows;  // packed, native-endian 16-bit samples
    std::vector<Rgb> palette; // 16-bit colour map is made from these
};
void WriteTiff(const QString& path, const TiffSpec& layout);

struct GifFrame
{
    int left = 0, top = 0, width = 0, height = 0;
    Bytes indices;            // width * height, row after row
    bool interlaced = false;
    int transparent = -1;
};
void WriteGif(const QString& path, int screenWidth, int screenHeight, const std::vector<Rgb>& palette,
              const std::vector<GifFrame>& frames);

// Uncompressed 24-bit BMP from a BGR888 picture.
void WriteBmp24(const QString& path, const QImage& image, bool topDown = false);

QByteArray ReadAll(const QString& path);
void WriteAll(const QString& path, const QByteArray& data);

} // namespace testfiles
