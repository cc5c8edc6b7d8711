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

#include <mutex>
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

bool ImageSizeAllowed(std::int64_t width, std::int64_t height)
{
    if (width <= 0 || height <= 0 || width > kMaxImageBytes || height > kMaxImageBytes)
        return false;
    const std::int64_t stride = (width * 3 + 3) / 4 * 4;
    return stride <= kMaxImageBytes / height;
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

bool LoadImagefromFile(const QString& fileName, QImage& bitmap)
{
    return LoadImagefromFile(fileName, bitmap, nullptr);
}

bool LoadImagefromFile(const QString& fileName, QImage& bitmap, QString* userMessage)
{
    using namespace imageio;
    if (userMessage)
        userMessage->clear();

    const QString ext = QFileInfo(fileName).suffix().toLower();
    QImage picture;
    TReadFailure failure;
    bool ok = false;

    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg") || ext == QLatin1String("jpe")) {
        ok = ReadJpegFile(fileName, picture, failure);
        if (!ok)
            Notify(failure.error, userMessage);
    } else if (ext == QLatin1String("tif") || ext == QLatin1String("tiff")) {
        if (!ReadTiffFile(fileName, picture, failure))
            throw EImageReadError(failure.error);
        ok = true;
    } else if (ext == QLatin1String("png")) {
        if (!ReadPngFile(fileName, picture, failure))
            throw EImageReadError(failure.error);
        ok = true;
    } else if (ext == QLatin1String("gif")) {
        if (!ReadGifFile(fileName, picture, failure))
            throw EImageReadError(failure.error);
        ok = true;
    } else if (ext == QLatin1String("wmf") || ext == QLatin1String("emf")) {
        // Windows metafiles: no reader on this platform, the placeholder says so.
        ok = false;
    } else {
        bool notMine = true;
        if (ext == QLatin1String("bmp"))
            ok = ReadBmp24File(fileName, picture, failure, notMine);
        if (notMine)
            ok = ReadQtImageFile(fileName, picture, failure);
        // These formats fail silently; only a refusal for size is worth telling,
        // since the placeholder alone would suggest a damaged file.
        if (!ok && failure.oversize)
            Notify(failure.error, userMessage);
    }

    if (ok && !picture.isNull()) {
        bitmap = std::move(picture);
        return true;
    }
    bitmap = MakePlaceholderImage(fileName);
    return false;
}

namespace imageio {

QString OversizeMessage(std::int64_t width, std::int64_t height)
{
    return QStringLiteral("Immagine troppo grande: %1 x %2 pixel; il massimo è %3 MB di pixel a 24 bit.")
        .arg(width)
        .arg(height)
        .arg(kMaxImageBytes / (1024 * 1024));
}

QByteArray LocalPath(const QString& fileName) { return QFile::encodeName(fileName); }

} // namespace imageio
