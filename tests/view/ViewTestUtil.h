#pragma once
// Pictures and views for the image-view tests.

#include "view/ZSImage.h"

#include <QImage>
#include <QTest>

#include <cstdint>
#include <memory>

// A BGR888 picture whose pixel (x, y) is blue = x mod 256, green = y mod 256,
// red = (x + y) mod 256, so every position can be told from its colour.
inline QImage CoordPicture(int w, int h)
{
    QImage img(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = img.scanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(x + y);
        }
    }
    return img;
}

inline QImage FlatPicture(int w, int h, uint8_t b, uint8_t g, uint8_t r)
{
    QImage img(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = img.scanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
    return img;
}

struct Bgr {
    int b, g, r;
    bool operator==(const Bgr& o) const { return b == o.b && g == o.g && r == o.r; }
    bool operator!=(const Bgr& o) const { return !(*this == o); }
};

// Colour of pixel (x, y) of a BGR888 or 32-bit picture.
inline Bgr PixelAt(const QImage& img, int x, int y)
{
    if (img.format() == QImage::Format_BGR888) {
        const uint8_t* p = img.constScanLine(y) + 3 * x;
        return {p[0], p[1], p[2]};
    }
    const QRgb c = img.pixel(x, y);
    return {qBlue(c), qGreen(c), qRed(c)};
}

// A shown view of the given size with the main window's settings (margin 20,
// grey border of 1 pixel, pan key = space bar).
inline std::unique_ptr<TZSImage> MakeView(int w, int h)
{
    auto view = std::make_unique<TZSImage>();
    view->SetMargin(20);
    view->SetBorderWidth(1);
    view->SetBorderColor(0x808080);
    view->SetBkgColor(0x102030);
    view->resize(w, h);
    view->show();
    QTest::qWait(0);
    return view;
}
