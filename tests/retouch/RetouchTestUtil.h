#pragma once
// Small pictures for the retouch tests, built and read pixel by pixel.

#include <QImage>

#include <cstdint>
#include <ostream>
#include <vector>

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

inline void PrintTo(const Rgb& c, std::ostream* os) { *os << "(" << c.r << ", " << c.g << ", " << c.b << ")"; }

inline QImage Filled(int w, int h, Rgb c)
{
    QImage img(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        uchar* p = img.scanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            p[0] = static_cast<uchar>(c.b);
            p[1] = static_cast<uchar>(c.g);
            p[2] = static_cast<uchar>(c.r);
        }
    }
    return img;
}

inline Rgb At(const QImage& img, int x, int y)
{
    const uchar* p = img.constScanLine(y) + x * 3;
    return Rgb{p[2], p[1], p[0]};
}

inline void Set(QImage& img, int x, int y, Rgb c)
{
    uchar* p = img.scanLine(y) + x * 3;
    p[0] = static_cast<uchar>(c.b);
    p[1] = static_cast<uchar>(c.g);
    p[2] = static_cast<uchar>(c.r);
}

// A picture with every channel different from its neighbours (repeatable).
inline QImage Noisy(int w, int h, uint32_t seed = 7)
{
    QImage img(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        uchar* p = img.scanLine(y);
        for (int x = 0; x < w * 3; ++x) {
            seed = seed * 1664525u + 1013904223u;
            p[x] = static_cast<uchar>(seed >> 24);
        }
    }
    return img;
}

// Pixel bytes only (row padding ignored).
inline bool SamePixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width() * 3; ++x)
            if (a.constScanLine(y)[x] != b.constScanLine(y)[x])
                return false;
    return true;
}
