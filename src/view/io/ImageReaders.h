#pragma once
// Picture-file readers: any supported file becomes a 24-bit BGR picture.
//
// No widgets here: the readers run on the user-interface thread and on the
// preloading thread alike. Messages meant for the user leave through a
// notifier that the widget layer installs (see SetImageErrorNotifier).

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

// The size limit on one decoded picture, in bytes of 24-bit rows: the smaller
// of kMaxImageBytes and what the machine can hold. 1 GiB is well above any
// real scan (an A3 page at 600 dpi is 209 MB, an A4 page at 1200 dpi 417 MB,
// an A3 page at 1200 dpi 835 MB). The program may keep kFullSizeCopies
// pictures of that size at once: the one on view, its unturned copy while the
// toolbar turns it, the next file preloaded, and the working buffers of a
// decoder (coefficients, a turn by the EXIF orientation), which may take
// about as much again as the picture itself. Those together stay within a
// quarter of the physical memory. The check runs on the header, before any
// decoder allocates pixel memory.
constexpr std::int64_t kMaxImageBytes = std::int64_t(1) << 30;
constexpr int kFullSizeCopies = 4;

// The limit for a machine with `physicalBytes` of memory (0: unknown, then
// kMaxImageBytes), and for this machine.
std::int64_t PictureByteLimitFor(std::int64_t physicalBytes);
std::int64_t PictureByteLimit();

// True when a width x height BGR888 picture stays within PictureByteLimit().
bool ImageSizeAllowed(std::int64_t width, std::int64_t height);

// Failure of the TIFF, PNG and GIF readers (and of a refused oversize picture in
// those formats). These errors go to the caller; what() holds UTF-8 text.
class EImageReadError : public std::runtime_error
{
public:
    explicit EImageReadError(const QString& message)
        : std::runtime_error(message.toStdString()), FMessage(message) {}
    const QString& Message() const { return FMessage; }

private:
    QString FMessage;
};

// Receives the text of a failure the user must see although the reader carries
// on with the placeholder (a broken JPEG file, an oversize picture in the
// formats that otherwise fail silently). The notifier may be called from any
// thread; the installed one is responsible for reaching the user-interface
// thread. Passing an empty function removes it.
using TImageErrorNotifier = std::function<void(const QString& message)>;
void SetImageErrorNotifier(TImageErrorNotifier notifier);
bool HasImageErrorNotifier();
// Hands a message to the installed notifier (nothing happens without one).
void ReportImageError(const QString& message);

// Loads fileName into bitmap as QImage::Format_BGR888, whatever the file holds
// (grey, palette, 1-bit, 16 bits per channel, CMYK, transparency over white).
// The extension, compared in lower case, picks the reader. Returns true when a
// real picture was read, false when bitmap got the placeholder instead.
// TIFF, PNG and GIF failures throw EImageReadError and leave bitmap unchanged.
// Every message names the file and says in Italian what happened, with the
// decoder's own text in parentheses. A damaged JPEG file whose top decoded
// is shown with a message that it may be incomplete (the result is true).
bool LoadImagefromFile(const QString& fileName, QImage& bitmap);

// The same, except that a message for the user is stored in *userMessage
// instead of going to the notifier (the preloading thread hands it back to
// the user-interface thread this way). *userMessage is cleared first.
bool LoadImagefromFile(const QString& fileName, QImage& bitmap, QString* userMessage);

// The same for a reader on a worker that may be called off: once *cancel holds
// true the decoder stops at its next rows and frees what it took; the result
// is then false with a null bitmap, no placeholder, no message and no
// exception. A null cancel never stops.
bool LoadImagefromFile(const QString& fileName, QImage& bitmap, QString* userMessage,
                       const std::atomic<bool>* cancel);

// The extension, in any case, is one the JPEG reader takes.
bool IsJpegFileName(const QString& fileName);

// A quick decode of a large JPEG file at a fraction of its size, to show while
// the whole picture is being decoded: the smallest DCT scaling (1/8 to 7/8)
// whose result still covers the picture fitted into `box` (view pixels), and
// of a progressive file its first scan only; turned by its EXIF orientation
// like the whole picture. `fullSize` receives the size the whole picture will
// have. False (and never a message) when the file is no JPEG, is too small to
// gain anything, would be refused whole for its size, or fails in any way:
// the whole decode then tells the user what is wrong.
bool LoadReducedJpeg(const QString& fileName, const QSize& box, QImage& reduced, QSize& fullSize);

// The picture shown for a file that cannot be read: 300 x 300 black, the red
// bold line "Errore di apertura del file:" and the file name below it.
QImage MakePlaceholderImage(const QString& fileName);
