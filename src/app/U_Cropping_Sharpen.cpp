#include "app/U_Cropping_Pixels.h"

#include "platform/ImageAlloc.h"
#include "platform/Rounding.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// (m * x + 32767) >> 16 for sixteen-bit m and x, exactly: the high half of the
// product plus one when the low half is 32769 or more.
inline __m128i MulRound16(__m128i x, __m128i m)
{
    const __m128i lo = _mm_mullo_epi16(x, m);
    const __m128i hi = _mm_mulhi_epu16(x, m);
    const __m128i carry = _mm_cmpgt_epi16(_mm_xor_si128(lo, _mm_set1_epi16(static_cast<short>(0x8000))),
                                          _mm_setzero_si128());
    return _mm_sub_epi16(hi, carry);
}

// Eight channel bytes of an inner row, the same arithmetic as the scalar loop.
// Reads mid[-3 .. 10] and writes out[0 .. 7].
inline void SharpenEight(const uchar* up, const uchar* mid, const uchar* down, uchar* out, int32_t ib, int32_t ia)
{
    const __m128i zero = _mm_setzero_si128();
    auto load = [&](const uchar* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
    };
    const __m128i c = load(mid);
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(load(up), load(down)),
                                      _mm_add_epi16(_mm_add_epi16(load(mid - 3), load(mid + 3)), c));
    const __m128i a = MulRound16(sum, _mm_set1_epi16(static_cast<short>(ib)));
    // ia passes 16 bits: its whole multiples of 65536 add exactly, without rounding.
    const __m128i centre = _mm_add_epi16(_mm_mullo_epi16(c, _mm_set1_epi16(static_cast<short>(ia >> 16))),
                                         MulRound16(c, _mm_set1_epi16(static_cast<short>(ia & 0xFFFF))));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(_mm_sub_epi16(centre, a), zero));
}
#endif

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

    // Both products depend on one small integer only, so they are tabled once.
    std::array<int16_t, 256> centre{};
    for (int32_t v = 0; v < 256; ++v)
        centre[static_cast<size_t>(v)] = static_cast<int16_t>((ia * v + 32767) >> 16);
    std::array<int16_t, 5 * 255 + 1> cross{};
    for (int32_t sum = 0; sum <= 5 * 255; ++sum)
        cross[static_cast<size_t>(sum)] = static_cast<int16_t>((ib * sum + 32767) >> 16);

    const int w = src.width();
    const int h = src.height();
    EnsureBgrImage(tbm, w, h);
    const size_t rowBytes = static_cast<size_t>(w) * 3;

    std::memcpy(tbm.scanLine(0), src.constScanLine(0), rowBytes);
    std::memcpy(tbm.scanLine(h - 1), src.constScanLine(h - 1), rowBytes);
    for (int i = 1; i < h - 1; ++i) {
        const uchar* __restrict up = src.constScanLine(i - 1);
        const uchar* __restrict mid = src.constScanLine(i);
        const uchar* __restrict down = src.constScanLine(i + 1);
        uchar* __restrict out = tbm.scanLine(i);
        std::memcpy(out, mid, 3);
        std::memcpy(out + rowBytes - 3, mid + rowBytes - 3, 3);
        size_t k = 3;
#if defined(__SSE2__)
        for (; k + 8 <= rowBytes - 3; k += 8)
            SharpenEight(up + k, mid + k, down + k, out + k, ib, ia);
#endif
        for (; k < rowBytes - 3; ++k) {
            const int sum = up[k] + mid[k - 3] + mid[k] + mid[k + 3] + down[k];
            const int v = centre[mid[k]] - cross[static_cast<size_t>(sum)];
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
