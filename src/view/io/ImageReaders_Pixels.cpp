// Row kernels shared by the readers, and the EXIF orientation turn.

#include "platform/ImageAlloc.h"
#include "view/io/ImageReaders_Formats.h"

#include <algorithm>

namespace imageio {

namespace {
// x / 255 rounded to nearest, for 0 <= x <= 255 * 255.
inline std::uint8_t Div255(unsigned x) { return static_cast<std::uint8_t>((x + 128 + ((x + 128) >> 8)) >> 8); }
} // namespace

void RgbToBgrInPlace(std::uint8_t* row, int width)
{
    for (int i = 0; i < width; ++i, row += 3)
        std::swap(row[0], row[2]);
}

void RgbaOverWhiteToBgr(const std::uint8_t* rgba, std::uint8_t* bgr, int width)
{
    for (int i = 0; i < width; ++i, rgba += 4, bgr += 3) {
        const unsigned a = rgba[3];
        const unsigned white = 255u * (255u - a);
        bgr[0] = Div255(rgba[2] * a + white);
        bgr[1] = Div255(rgba[1] * a + white);
        bgr[2] = Div255(rgba[0] * a + white);
    }
}

void PremulRgbaOverWhiteToBgr(const std::uint8_t* rgba, std::uint8_t* bgr, int width)
{
    for (int i = 0; i < width; ++i, rgba += 4, bgr += 3) {
        const unsigned rest = 255u - rgba[3];
        // A malformed file may carry colour above its alpha; clamp rather than wrap.
        bgr[0] = static_cast<std::uint8_t>(std::min(255u, rgba[2] + rest));
        bgr[1] = static_cast<std::uint8_t>(std::min(255u, rgba[1] + rest));
        bgr[2] = static_cast<std::uint8_t>(std::min(255u, rgba[0] + rest));
    }
}

void CmykToBgr(const std::uint8_t* cmyk, std::uint8_t* bgr, int width, bool inverted)
{
    for (int i = 0; i < width; ++i, cmyk += 4, bgr += 3) {
        // Inverted files store the remaining light (255 = no ink) directly.
        unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255u - c;
            m = 255u - m;
            y = 255u - y;
            k = 255u - k;
        }
        bgr[0] = Div255(y * k);
        bgr[1] = Div255(m * k);
        bgr[2] = Div255(c * k);
    }
}

QImage ApplyExifOrientation(const QImage& image, int orientation)
{
    if (orientation < 2 || orientation > 8 || image.isNull())
        return image;
    const int w = image.width();
    const int h = image.height();
    const bool swapsSides = orientation >= 5;
    QImage out = NewBgrImage(swapsSides ? h : w, swapsSides ? w : h);
    if (out.isNull())
        return QImage();
    const int ow = out.width();
    const int oh = out.height();
    const uchar* src = image.constBits();
    const qsizetype sstride = image.bytesPerLine();
    for (int y = 0; y < oh; ++y) {
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < ow; ++x, dst += 3) {
            int sx = x, sy = y;
            switch (orientation) {
            case 2: sx = w - 1 - x; break;
            case 3: sx = w - 1 - x; sy = h - 1 - y; break;
            case 4: sy = h - 1 - y; break;
            case 5: sx = y; sy = x; break;
            case 6: sx = y; sy = h - 1 - x; break;
            case 7: sx = w - 1 - y; sy = h - 1 - x; break;
            case 8: sx = w - 1 - y; sy = x; break;
            default: break;
            }
            const uchar* s = src + sy * sstride + qsizetype(sx) * 3;
            dst[0] = s[0];
            dst[1] = s[1];
            dst[2] = s[2];
        }
    }
    return out;
}

} // namespace imageio
