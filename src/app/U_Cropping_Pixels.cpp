#include "app/U_Cropping_Pixels.h"

#include "platform/ImageAlloc.h"
#include "platform/Rounding.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

QImage AsBgr(const QImage& img)
{
    return img.format() == QImage::Format_BGR888 ? img : img.convertToFormat(QImage::Format_BGR888);
}

} // namespace

QImage CopyArea(const QImage& picture, const TRect& area)
{
    const int w = area.Right - area.Left;
    const int h = area.Bottom - area.Top;
    if (picture.isNull() || w <= 0 || h <= 0)
        return QImage();
    // QImage::copy fills whatever lies outside the picture with zero bytes (black).
    return AsBgr(picture.copy(area.Left, area.Top, w, h));
}

void SmoothResize(const QImage& Src, QImage& Dst)
{
    if (Src.isNull() || Dst.isNull())
        return;
    const QImage src = AsBgr(Src);
    if (Dst.format() != QImage::Format_BGR888)
        Dst = Dst.convertToFormat(QImage::Format_BGR888);
    if (src.size() == Dst.size()) {
        Dst = src;
        return;
    }

    const int sw = src.width();
    const int sh = src.height();
    const int dw = Dst.width();
    const int dh = Dst.height();
    const uint32_t stepX = static_cast<uint32_t>(MulDiv(sw - 1, 65536, dw));
    const uint32_t stepY = static_cast<uint32_t>(MulDiv(sh - 1, 65536, dh));

    // Column positions are the same on every row. The clamps only matter for a
    // source one pixel wide (no right neighbour) and for enlargements so large
    // that the rounded step walks past the last column; elsewhere they never bite.
    std::vector<int> col1(static_cast<size_t>(dw));
    std::vector<int> col2(static_cast<size_t>(dw));
    std::vector<uint32_t> frac(static_cast<size_t>(dw));
    uint32_t xP = 0;
    for (int x = 0; x < dw; ++x) {
        const int sx = std::min(static_cast<int>(xP >> 16), sw - 1);
        col1[static_cast<size_t>(x)] = sx * 3;
        col2[static_cast<size_t>(x)] = std::min(sx + 1, sw - 1) * 3;
        frac[static_cast<size_t>(x)] = xP & 0xFFFF;
        xP += stepX;
    }

    uint32_t yP = 0;
    for (int y = 0; y < dh; ++y) {
        const int sy = std::min(static_cast<int>(yP >> 16), sh - 1);
        const uchar* row1 = src.constScanLine(sy);
        const uchar* row2 = sy < sh - 1 ? src.constScanLine(sy + 1) : row1;
        const uint32_t f = yP & 0xFFFF;
        const uint32_t wa = 65536 - f;
        const uint32_t wb = f + 1;
        uchar* out = Dst.scanLine(y);
        for (int x = 0; x < dw; ++x) {
            const uint64_t g = frac[static_cast<size_t>(x)];
            // MulDiv(g, w, 65536) with both operands non-negative: half away from
            // zero is "add half, then drop the fraction".
            const uint32_t w2 = static_cast<uint32_t>((g * wa + 32768) >> 16);
            const uint32_t w1 = wa - w2;
            const uint32_t w4 = static_cast<uint32_t>((g * wb + 32768) >> 16);
            const uint32_t w3 = wb - w4;
            const uchar* a = row1 + col1[static_cast<size_t>(x)];
            const uchar* b = row1 + col2[static_cast<size_t>(x)];
            const uchar* c = row2 + col1[static_cast<size_t>(x)];
            const uchar* d = row2 + col2[static_cast<size_t>(x)];
            for (int k = 0; k < 3; ++k)
                out[k] = static_cast<uchar>((a[k] * w1 + b[k] * w2 + c[k] * w3 + d[k] * w4) >> 16);
            out += 3;
        }
        yP += stepY;
    }
}

QImage DisplayBitmap(const QImage& P, int width, int height)
{
    if (width <= 0 || height <= 0)
        return QImage();
    QImage B = NewBgrImage(width, height);
    B.fill(Qt::white);
    if (P.isNull())
        return B;
    const QImage src = AsBgr(P);
    const int pw = src.width();
    const int ph = src.height();

    // width/height > pw/ph, compared exactly by cross-multiplying.
    int left = 0;
    int top = 0;
    int right = width;
    int bottom = height;
    if (static_cast<int64_t>(width) * ph > static_cast<int64_t>(pw) * height) {
        const int w = MulDiv(height, pw, ph);
        left = (width - w) / 2;
        right = left + w;
    } else {
        const int h = MulDiv(width, ph, pw);
        top = (height - h) / 2;
        bottom = top + h;
    }
    const int tw = right - left;
    const int th = bottom - top;
    if (tw <= 0 || th <= 0)
        return B;

    // Nearest pixel: each target pixel's centre mapped back into the source.
    std::vector<int> cols(static_cast<size_t>(tw));
    for (int x = 0; x < tw; ++x)
        cols[static_cast<size_t>(x)] =
            static_cast<int>((static_cast<int64_t>(2 * x + 1) * pw) / (2 * static_cast<int64_t>(tw))) * 3;
    for (int y = 0; y < th; ++y) {
        const int sy = static_cast<int>((static_cast<int64_t>(2 * y + 1) * ph) / (2 * static_cast<int64_t>(th)));
        const uchar* in = src.constScanLine(sy);
        uchar* out = B.scanLine(top + y) + left * 3;
        for (int x = 0; x < tw; ++x) {
            const uchar* p = in + cols[static_cast<size_t>(x)];
            out[0] = p[0];
            out[1] = p[1];
            out[2] = p[2];
            out += 3;
        }
    }
    return B;
}

QImage CropAndResizeFotoPixels(const QImage& crop)
{
    if (crop.isNull())
        return QImage();
    if (crop.width() == kFotoWidth && crop.height() == kFotoHeight)
        return AsBgr(crop);
    QImage out = NewBgrImage(kFotoWidth, kFotoHeight);
    SmoothResize(crop, out);
    return out;
}

QImage CropAndResizeFirmaPixels(const QImage& crop, bool grayscale, int slotWidth, int slotHeight)
{
    if (crop.isNull())
        return QImage();
    QImage work = AsBgr(crop);
    if (grayscale)
        ConvertToGrayscale(work);
    if (work.width() == kFirmaWidth && work.height() == kFirmaHeight)
        return work;
    return DisplayBitmap(work, slotWidth, slotHeight);
}
