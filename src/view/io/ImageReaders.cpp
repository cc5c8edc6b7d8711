#include "view/io/ImageReaders.h"

#include "platform/ImageAlloc.h"
#include "view/io/ImageReaders_Formats.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

std::mutex gNotifierMutex;
TImageErrorNotifier gNotifier;

void Notify(const QString& message, QString* userMessage)
{
    if (userMessage) {
        *userMessage = message;
        return;
    }
    TImageErrorNotifier notifier;
    {
        std::lock_guard<std::mutex> lock(gNotifierMutex);
        notifier = gNotifier;
    }
    if (notifier)
        notifier(message);
}

} // namespace

std::int64_t PictureByteLimitFor(std::int64_t physicalBytes)
{
    if (physicalBytes <= 0)
        return kMaxImageBytes;
    return std::min(kMaxImageBytes, physicalBytes / 4 / kFullSizeCopies);
}

std::int64_t PictureByteLimit()
{
    static const std::int64_t limit = PictureByteLimitFor(PhysicalMemoryBytes());
    return limit;
}

bool ImageSizeAllowed(std::int64_t width, std::int64_t height)
{
    const std::int64_t limit = PictureByteLimit();
    if (width <= 0 || height <= 0 || width > limit || height > limit)
        return false;
    const std::int64_t stride = (width * 3 + 3) / 4 * 4;
    return stride <= limit / height;
}

void SetImageErrorNotifier(TImageErrorNotifier notifier)
{
    std::lock_guard<std::mutex> lock(gNotifierMutex);
    gNotifier = std::move(notifier);
}

void ReportImageError(const QString& message) { Notify(message, nullptr); }

bool HasImageErrorNotifier()
{
    std::lock_guard<std::mutex> lock(gNotifierMutex);
    return static_cast<bool>(gNotifier);
}

QImage MakePlaceholderImage(const QString& fileName)
{
    // Painted as RGB32 because the raster engine paints text on it natively.
    QImage canvas(300, 300, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    // Fonts need a GUI application; without one the black square still says
    // "no picture" and nothing crashes.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QPainter p(&canvas);
        QFont font = QGuiApplication::font();
        font.setPointSize(8);
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor(255, 0, 0));
        const QRect titleBand(10, 120, 280, 30);
        const QRect nameBand(10, 170, 280, 30);
        p.drawText(titleBand, Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Errore di apertura del file:"));
        // Shortened in the middle so that both the folder's start and the file's
        // own name stay readable.
        const QString name = QFontMetrics(font).elidedText(fileName, Qt::ElideMiddle, nameBand.width());
        p.drawText(nameBand, Qt::AlignHCenter | Qt::AlignTop, name);
    }
    return canvas.convertToFormat(QImage::Format_BGR888);
}

namespace {

using imageio::TReadFailure;
using imageio::TReadFault;

// What can be told about the file before a decoder opens it. A pipe or a
// device named like a picture would block the reader, a folder or an empty
// file would only earn the decoder's puzzling words.
bool FileLooksReadable(const QString& fileName, TReadFailure& failure)
{
    const QByteArray path = imageio::LocalPath(fileName);
    struct stat st;
    if (::stat(path.constData(), &st) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return failure.Fail(TReadFault::Missing);
        if (err == EACCES)
            return failure.Fail(TReadFault::Denied);
        return failure.Fail(TReadFault::Unreadable, QString::fromLocal8Bit(std::strerror(err)));
    }
    if (S_ISDIR(st.st_mode))
        return failure.Fail(TReadFault::Folder);
    if (!S_ISREG(st.st_mode))
        return failure.Fail(TReadFault::Special);
    if (st.st_size == 0)
        return failure.Fail(TReadFault::Empty);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM)
            return failure.Fail(TReadFault::Denied);
        return failure.Fail(TReadFault::Unreadable, QString::fromLocal8Bit(std::strerror(err)));
    }
    ::close(fd);
    return true;
}

QString WithDetail(const QString& text, const QString& detail)
{
    return detail.isEmpty() ? text + QLatin1Char('.') : QStringLiteral("%1 (%2).").arg(text, detail.trimmed());
}

} // namespace

namespace imageio {

QString FailureMessage(const QString& fileName, const QString& format, const TReadFailure& failure)
{
    const QString name = QFileInfo(fileName).fileName();
    switch (failure.fault) {
    case TReadFault::Missing:
        return QStringLiteral("Il file %1 non esiste.").arg(name);
    case TReadFault::Folder:
        return QStringLiteral("%1 è una cartella, non un file di immagine.").arg(name);
    case TReadFault::Special:
        return QStringLiteral("%1 non è un file normale e non può essere aperto come immagine.").arg(name);
    case TReadFault::Empty:
        return QStringLiteral("Il file %1 è vuoto.").arg(name);
    case TReadFault::Denied:
        return QStringLiteral("Il file %1 non può essere letto: permesso negato.").arg(name);
    case TReadFault::Unreadable:
        return WithDetail(QStringLiteral("Il file %1 non può essere letto").arg(name), failure.error);
    case TReadFault::Oversize:
        return QStringLiteral("L'immagine %1 è troppo grande: %2 x %3 pixel; il massimo è %4 MB di pixel a 24 bit.")
            .arg(name)
            .arg(failure.width)
            .arg(failure.height)
            .arg(PictureByteLimit() / (1024 * 1024));
    case TReadFault::OutOfMemory:
        return QStringLiteral("Memoria insufficiente per aprire l'immagine %1 di %2 x %3 pixel.")
            .arg(name)
            .arg(failure.width)
            .arg(failure.height);
    case TReadFault::Cancelled:
        return QString();
    case TReadFault::Damaged:
        break;
    }
    if (failure.incomplete)
        return WithDetail(QStringLiteral("Il file %1 è danneggiato: l'immagine può essere incompleta").arg(name),
                          failure.error);
    return WithDetail(QStringLiteral("Il file %1 è danneggiato o non è un'immagine %2").arg(name, format),
                      failure.error);
}

} // namespace imageio

bool LoadImagefromFile(const QString& fileName, QImage& bitmap, QString* userMessage,
                       const std::atomic<bool>* cancel)
{
    using namespace imageio;
    if (userMessage)
        userMessage->clear();

    const QString ext = QFileInfo(fileName).suffix().toLower();
    QImage picture;
    TReadFailure failure;
    failure.cancel = cancel;
    bool ok = false;
    const bool readable = FileLooksReadable(fileName, failure);
    // A read called off is nobody's failure: nothing to show, nothing to say.
    auto calledOff = [&] {
        if (!failure.Cancelled() && failure.fault != TReadFault::Cancelled)
            return false;
        bitmap = QImage();
        return true;
    };

    if (IsJpegFileName(fileName)) {
        ok = readable && ReadJpegFile(fileName, picture, failure);
        if (!ok && calledOff())
            return false;
        if (!ok || failure.incomplete)
            Notify(FailureMessage(fileName, QStringLiteral("JPEG"), failure), userMessage);
    } else if (ext == QLatin1String("tif") || ext == QLatin1String("tiff")) {
        if (!readable || !ReadTiffFile(fileName, picture, failure)) {
            if (calledOff())
                return false;
            throw EImageReadError(FailureMessage(fileName, QStringLiteral("TIFF"), failure));
        }
        ok = true;
    } else if (ext == QLatin1String("png")) {
        if (!readable || !ReadPngFile(fileName, picture, failure)) {
            if (calledOff())
                return false;
            throw EImageReadError(FailureMessage(fileName, QStringLiteral("PNG"), failure));
        }
        ok = true;
    } else if (ext == QLatin1String("gif")) {
        if (!readable || !ReadGifFile(fileName, picture, failure)) {
            if (calledOff())
                return false;
            throw EImageReadError(FailureMessage(fileName, QStringLiteral("GIF"), failure));
        }
        ok = true;
    } else if (ext == QLatin1String("wmf") || ext == QLatin1String("emf")) {
        // Windows metafiles: no reader on this platform, the placeholder says so.
        ok = false;
    } else if (readable) {
        bool notMine = true;
        if (ext == QLatin1String("bmp"))
            ok = ReadBmp24File(fileName, picture, failure, notMine);
        if (notMine && !failure.Cancelled())
            ok = ReadQtImageFile(fileName, picture, failure);
        if (!ok && calledOff())
            return false;
        // These formats fail silently; only a refusal for size is worth telling,
        // since the placeholder alone would suggest a damaged file.
        if (!ok && failure.fault == TReadFault::Oversize)
            Notify(FailureMessage(fileName, ext.toUpper(), failure), userMessage);
    }

    if (ok && !picture.isNull()) {
        bitmap = std::move(picture);
        return true;
    }
    bitmap = MakePlaceholderImage(fileName);
    return false;
}

bool IsJpegFileName(const QString& fileName)
{
    const QString ext = QFileInfo(fileName).suffix().toLower();
    return ext == QLatin1String("jpg") || ext == QLatin1String("jpeg") || ext == QLatin1String("jpe");
}

bool LoadImagefromFile(const QString& fileName, QImage& bitmap)
{
    return LoadImagefromFile(fileName, bitmap, nullptr, nullptr);
}

bool LoadImagefromFile(const QString& fileName, QImage& bitmap, QString* userMessage)
{
    return LoadImagefromFile(fileName, bitmap, userMessage, nullptr);
}

bool LoadReducedJpeg(const QString& fileName, const QSize& box, QImage& reduced, QSize& fullSize)
{
    if (!IsJpegFileName(fileName))
        return false;
    imageio::TReadFailure failure;
    if (!FileLooksReadable(fileName, failure))
        return false;
    try {
        return imageio::ReadReducedJpegFile(fileName, box, reduced, fullSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

namespace imageio {

QByteArray LocalPath(const QString& fileName) { return QFile::encodeName(fileName); }

} // namespace imageio
