#include "retouch/OrPicture.h"

#include <QImageReader>

TOrPicture::TOrPicture(QObject* parent) : QObject(parent) {}

void TOrPicture::Assign(const TOrPicture& other)
{
    if (&other == this) {
        Changed();
        return;
    }
    FGraphic = other.FGraphic;
    FKind = other.FKind;
    FTransparent = other.FTransparent;
    Changed();
}

void TOrPicture::AssignBitmap(const QImage& bitmap)
{
    FGraphic = bitmap;
    FKind = bitmap.isNull() ? TOrGraphicKind::None : TOrGraphicKind::Bitmap;
    Changed();
}

void TOrPicture::AssignGraphic(const QImage& image, TOrGraphicKind kind)
{
    FGraphic = image;
    FKind = image.isNull() ? TOrGraphicKind::None : kind;
    Changed();
}

void TOrPicture::Clear()
{
    FGraphic = QImage();
    FKind = TOrGraphicKind::None;
    Changed();
}

bool TOrPicture::LoadFromFile(const QString& fileName)
{
    QImageReader reader(fileName);
    const QByteArray format = reader.format().toLower();
    emit OnProgress(this, TOrProgressStage::psStarting, 0, false, QRect(), QString());
    QImage image = reader.read();
    if (image.isNull()) {
        emit OnProgress(this, TOrProgressStage::psEnding, 100, false, QRect(), reader.errorString());
        return false;
    }
    TOrGraphicKind kind = TOrGraphicKind::Other;
    if (format == "jpeg" || format == "jpg")
        kind = TOrGraphicKind::Jpeg;
    else if (format == "ico" || format == "cur")
        kind = TOrGraphicKind::Icon;
    else if (format == "bmp")
        kind = TOrGraphicKind::Bitmap;
    FGraphic = image;
    FKind = kind;
    emit OnProgress(this, TOrProgressStage::psEnding, 100, true, image.rect(), QString());
    Changed();
    return true;
}

void TOrPicture::Changed() { emit OnChange(this); }
