#include "view/Artwork.h"

#include <QPainter>
#include <QString>
#include <QSvgRenderer>

QImage RenderArtwork(const char* resource, QSize size)
{
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QSvgRenderer svg(QString::fromLatin1(resource));
    if (svg.isValid()) {
        QPainter p(&img);
        svg.render(&p);
    }
    return img;
}
