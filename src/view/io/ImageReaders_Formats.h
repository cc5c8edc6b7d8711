#pragma once
// The format readers behind LoadImagefromFile, and the row kernels they share.
//
// Each reader returns true with a BGR888 picture in `out`, or false with the
// reason in `error` (the library's own text where it has one) and `out`
// untouched. `oversize` is set when the refusal was for the size alone.

#include <QImage>
#include <QString>

#include <cstdint>

namespace imageio {

struct TReadFailure
{
    QString error;
    bool oversize = false;
};

bool ReadJpegFile(const QString& fileName, QImage& out, TReadFailure& failure);
bool ReadPngFile(const QString& fileName, QImage& out, TReadFailure& failure);
bool ReadTiffFile(const QString& fileName, QImage& out, TReadFailure& failure);
bool ReadGifFile(const QString& fileName, QImage& out, TReadFailure& failure);

// Our own reader of uncompressed 24-bit BMP files. Returns false with an empty
// error when the file is a BMP of another kind (the caller hands it to Qt).
bool ReadBmp24File(const QString& fileName, QImage& out, TReadFailure& failure, bool& notMine);

// Every other format, through QImageReader.
bool ReadQtImageFile(const QString& fileName, QImage& out, TReadFailure& failure);

// Text of the refusal of a picture beyond kMaxImageBytes.
QString OversizeMessage(std::int64_t width, std::int64_t height);

// Local file name in the encoding the C libraries expect.
QByteArray LocalPath(const QString& fileName);

// Row kernels. `bgr` always points at 3 * width bytes of output.
void RgbToBgrInPlace(std::uint8_t* row, int width);
// RGBA with straight (unassociated) alpha, composited over white.
void RgbaOverWhiteToBgr(const std::uint8_t* rgba, std::uint8_t* bgr, int width);
// RGBA with premultiplied alpha, composited over white.
void PremulRgbaOverWhiteToBgr(const std::uint8_t* rgba, std::uint8_t* bgr, int width);
// CMYK as stored; `inverted` for files that store 255 for no ink (Adobe).
void CmykToBgr(const std::uint8_t* cmyk, std::uint8_t* bgr, int width, bool inverted);

// Turns a picture by an EXIF orientation value (2..8); 1 and unknown values
// leave it as it is.
QImage ApplyExifOrientation(const QImage& image, int orientation);

} // namespace imageio
