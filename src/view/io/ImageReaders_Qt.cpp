// Every format without a reader of its own goes through QImageReader.

#include "platform/ImageAlloc.h"
#include "view/io/ImageReaders.h"
#include "view/io/ImageReaders_Formats.h"

#include <QImageReader>

namespace imageio {

bool ReadQtImageFile(const QString& fileName, QImage& out, TReadFailure& failure)
{
    QImageReader reader(fileName);
    // Qt refuses anything above 128 MB by default, which a 600 dpi A4 scan
    // exceeds. Its limit counts the format it decodes to, up to 4 bytes a
    // pixel, so allow that much for a picture within our own limit.
    reader.setAllocationLimit(int(PictureByteLimit() * 4 / 3 / (1024 * 1024)) + 1);
    const QSize size = reader.size();
    if (size.isValid() && !ImageSizeAllowed(size.width(), size.height()))
        return failure.FailSize(TReadFault::Oversize, size.width(), size.height());
    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull())
        return failure.Fail(TReadFault::Damaged, reader.errorString());
    if (!ImageSizeAllowed(decoded.width(), decoded.height()))
        return failure.FailSize(TReadFault::Oversize, decoded.width(), decoded.height());
    if (!decoded.hasAlphaChannel()) {
        out = decoded.format() == QImage::Format_BGR888 ? std::move(decoded)
                                                        : decoded.convertToFormat(QImage::Format_BGR888);
        return !out.isNull();
    }
    const QImage rgba = decoded.convertToFormat(QImage::Format_RGBA8888);
    QImage image = NewBgrImage(rgba.width(), rgba.height());
    if (rgba.isNull() || image.isNull())
        return failure.FailSize(TReadFault::OutOfMemory, decoded.width(), decoded.height());
    for (int y = 0; y < rgba.height(); ++y)
        RgbaOverWhiteToBgr(rgba.constScanLine(y), image.scanLine(y), rgba.width());
    out = std::move(image);
    return true;
}

} // namespace imageio
