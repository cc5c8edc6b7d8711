#pragma once
// The format readers behind LoadImagefromFile, and the row kernels they share.
//
// Each reader returns true with a BGR888 picture in `out`, or false with the
// kind of failure and the library's own text (where it has one) in `failure`
// and `out` untouched. LoadImagefromFile turns a failure into the message the
// user reads.

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <cstdint>

namespace imageio {

enum class TReadFault {
    Damaged,     // the decoder refused the contents
    Oversize,    // the header announces more than the size limit
    OutOfMemory, // within the limit, but memory was refused
    Missing,     // no such file
    Folder,      // a folder with a picture's name
    Special,     // a device, a pipe or a socket
    Empty,       // zero bytes
    Denied,      // no permission to read it
    Unreadable,  // any other read error
    Cancelled,   // the caller no longer wants the picture
};

struct TReadFailure
{
    TReadFault fault = TReadFault::Damaged;
    QString error;
    // The announced size, for Oversize and OutOfMemory.
    std::int64_t width = 0;
    std::int64_t height = 0;
    // Set on success when the decoder reported corrupt or missing data: the
    // picture is shown, `error` says what the decoder found.
    bool incomplete = false;
    // Set by the caller before the read: once it holds true the reader stops
    // at its next row or strip and fails with Cancelled, freeing its memory.
    const std::atomic<bool>* cancel = nullptr;

    bool Cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }

    bool Fail(TReadFault f, const QString& text = QString())
    {
        fault = f;
        error = text;
        return false;
    }
    bool FailSize(TReadFault f, std::int64_t w, std::int64_t h)
    {
        fault = f;
        width = w;
        height = h;
        return false;
    }
};

bool ReadJpegFile(const QString& fileName, QImage& out, TReadFailure& failure);
// The reduced decode behind LoadReducedJpeg.
bool ReadReducedJpegFile(const QString& fileName, const QSize& box, QImage& out, QSize& fullSize);
bool ReadPngFile(const QString& fileName, QImage& out, TReadFailure& failure);
bool ReadTiffFile(const QString& fileName, QImage& out, TReadFailure& failure);
bool ReadGifFile(const QString& fileName, QImage& out, TReadFailure& failure);

// Our own reader of uncompressed 24-bit BMP files. Returns false with an empty
// error when the file is a BMP of another kind (the caller hands it to Qt).
bool ReadBmp24File(const QString& fileName, QImage& out, TReadFailure& failure, bool& notMine);

// Every other format, through QImageReader.
bool ReadQtImageFile(const QString& fileName, QImage& out, TReadFailure& failure);

// The user's message for a failure (or, with `incomplete`, a damaged picture
// that is shown): names the file, says what happened, the decoder's text in
// parentheses. `format` names the file's kind ("JPEG").
QString FailureMessage(const QString& fileName, const QString& format, const TReadFailure& failure);

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
