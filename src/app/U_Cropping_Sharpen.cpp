#include "app/U_Cropping_Pixels.h"

#include "platform/ImageAlloc.h"
#include "platform/Rounding.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// The position is given from the source root on, so the message reads the same
// whichever folder the program was built in.
std::string AssertionMessage(const char* text, const char* file, int line)
{
    std::string path(file);
    const size_t src = path.rfind("src/");
    if (src != std::string::npos)
        path.erase(0, src);
    return std::string(text) + " (" + path + ", line " + std::to_string(line) + ")";
}

#define CROP_ASSERT(cond, text)                                                                    \
    do {                                                                                           \
        if (!(cond))                                                                               \
            throw EAssertionFailed(AssertionMessage(text, __FILE__, __LINE__));                    \
    } while (0)

// Grey value of 3 red + 6 green + 1 blue (0 .. 2550), i.e. ten times the weighted
// sum, rounded to the nearest integer with halves to the even neighbour. Working on
// the integer sum keeps the halves exact (76.5 for pure red must give 76).
const std::array<uint8_t, 2551>& GreyTable()
{
    static const std::array<uint8_t, 2551> table = [] {
        std::array<uint8_t, 2551> t{};
        for (int s = 0; s <= 2550; ++s) {
            int q = s / 10;
            const int r = s % 10;
            if (r > 5 || (r == 5 && (q & 1)))
                ++q;
            t[static_cast<size_t>(s)] = static_cast<uint8_t>(q);
        }
        return t;
    }();
    return table;
}

} // namespace

void Sharpen(const QImage& sbm, QImage& tbm, float alpha)
{
    // Keeps the source alive and unchanged even when tbm is the same picture.
    const QImage src = sbm.format() == QImage::Format_BGR888 || sbm.isNull()
                           ? sbm
                           : sbm.convertToFormat(QImage::Format_BGR888);
    CROP_ASSERT(src.width() >= 3 && src.height() >= 3, "Bitmap must be at least 3x3");
    CROP_ASSERT(alpha > 1.0f && alpha < 6.0f, "Alpha must be >1 and <6");

    const float beta = (alpha - 1.0f) / 5.0f;
    const int32_t ib = static_cast<int32_t>(Round(beta * 65536.0f));
    const int32_t ia = static_cast<int32_t>(Round(alpha * 65536.0f));

    const int w = src.width();
    const int h = src.height();
    EnsureBgrImage(tbm, w, h);
    const size_t rowBytes = static_cast<size_t>(w) * 3;

    std::memcpy(tbm.scanLine(0), src.constScanLine(0), rowBytes);
    std::memcpy(tbm.scanLine(h - 1), src.constScanLine(h - 1), rowBytes);
    for (int i = 1; i < h - 1; ++i) {
        const uchar* up = src.constScanLine(i - 1);
        const uchar* mid = src.constScanLine(i);
        const uchar* down = src.constScanLine(i + 1);
        uchar* out = tbm.scanLine(i);
        std::memcpy(out, mid, 3);
        std::memcpy(out + rowBytes - 3, mid + rowBytes - 3, 3);
        for (size_t k = 3; k < rowBytes - 3; ++k) {
            const int32_t sum = up[k] + mid[k - 3] + mid[k] + mid[k + 3] + down[k];
            const int32_t a = (ib * sum + 32767) >> 16;
            const int32_t v = ((ia * mid[k] + 32767) >> 16) - a;
            out[k] = static_cast<uchar>(std::clamp(v, 0, 255));
        }
    }
}

void ConvertToGrayscale(QImage& bitmap)
{
    if (bitmap.isNull())
        return;
    if (bitmap.format() != QImage::Format_BGR888)
        bitmap = bitmap.convertToFormat(QImage::Format_BGR888);
    const auto& grey = GreyTable();
    const int w = bitmap.width();
    for (int y = 0; y < bitmap.height(); ++y) {
        uchar* p = bitmap.scanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            const uint8_t g = grey[static_cast<size_t>(3 * p[2] + 6 * p[1] + p[0])];
            p[0] = p[1] = p[2] = g;
        }
    }
}
