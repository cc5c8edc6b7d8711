#include "app/U_Cropping_Art.h"

#include <QPainter>
#include <QString>
#include "view/Artwork.h"
#include <cstring>

namespace Art {

QImage Render(const char* resource, QSize size) { return RenderArtwork(resource, size); }

QImage Glyph(int index)
{
    static const char* const names[] = {":/glyphs/scanner.svg", ":/glyphs/file.svg", ":/glyphs/reset.svg",
                                        ":/glyphs/options.svg", ":/glyphs/save.svg", ":/glyphs/exit.svg"};
    if (index < 0 || index > 5)
        return Render("", QSize(28, 28));
    return Render(names[index], QSize(28, 28));
}

QImage StepMarker(int step)
{
    const QByteArray name = QStringLiteral(":/images/step%1.svg").arg(step).toLatin1();
    return Render(name.constData(), QSize(30, 30));
}

QCursor Cursor(const char* resource)
{
    // Hot spots in the 32 x 32 drawings: the lens centre, the cross centre,
    // the brush tip, the palm of each hand.
    int hx = 16, hy = 16;
    if (std::strcmp(resource, kCursorLens) == 0) {
        hx = 12;
        hy = 12;
    } else if (std::strcmp(resource, kCursorPaint) == 0) {
        hx = 3;
        hy = 28;
    }
    return QCursor(QPixmap::fromImage(Render(resource, QSize(32, 32))), hx, hy);
}

} // namespace Art
