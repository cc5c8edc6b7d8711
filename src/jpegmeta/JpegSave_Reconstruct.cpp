// The pixels of the shared-work encoder's last file, as libjpeg-turbo's
// decoder (default settings, BGR output) makes them, but from the quantized
// coefficients the encoder still holds: the entropy decoding, most of a
// decode's cost, is left out. The steps are the decoder's: the accurate
// inverse DCT, the triangle ("fancy") 2x2 upsampling of the chroma with the
// edge rows and columns repeated, and the fixed-point YCbCr to RGB conversion
// (jdcolor.c) saturated to 0..255.
#include "jpegmeta/JpegSave_Prepared.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

// One chroma row at full width, as int16: `near` is the nearer chroma row,
// `far` the other one in the triangle (the row itself at the picture's edge).
// Each output sample weighs its chroma neighbours 9/16, 3/16, 3/16, 1/16,
// rounding halves up on even columns and down on odd ones.
void UpsampleRow(const uint8_t* nearRow, const uint8_t* farRow, int cw, int16_t* colsum, int16_t* full)
{
    const __m128i zero = _mm_setzero_si128();
    int16_t* cs = colsum + 1;
    for (int c = 0; c < cw; c += 8) {
        const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(nearRow + c)), zero);
        const __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(farRow + c)), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cs + c), _mm_add_epi16(_mm_add_epi16(a, _mm_add_epi16(a, a)), b));
    }
    cs[-1] = cs[0];
    cs[cw] = cs[cw - 1];
    const __m128i eight = _mm_set1_epi16(8), seven = _mm_set1_epi16(7);
    for (int c = 0; c < cw; c += 8) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cs + c));
        const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cs + c - 1));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cs + c + 1));
        const __m128i three = _mm_add_epi16(here, _mm_add_epi16(here, here));
        const __m128i even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(three, prev), eight), 4);
        const __m128i odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(three, next), seven), 4);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(full + 2 * c), _mm_unpacklo_epi16(even, odd));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(full + 2 * c + 8), _mm_unpackhi_epi16(even, odd));
    }
}

// (a * ca + b * cb + 32768) >> 16 lane by lane, for 8 lanes.
inline __m128i Scaled(__m128i a, __m128i b, int16_t ca, int16_t cb)
{
    const __m128i c = _mm_set_epi16(cb, ca, cb, ca, cb, ca, cb, ca);
    const __m128i half = _mm_set1_epi32(32768);
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), c), half), 16);
    const __m128i hi = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), c), half), 16);
    return _mm_packs_epi32(lo, hi);
}

// (a * c + 32768) >> 16 for one product: the high half of the product, plus
// one where the low half is 32768 or more.
inline __m128i Scaled(__m128i a, int16_t c)
{
    const __m128i k = _mm_set1_epi16(c);
    return _mm_add_epi16(_mm_mulhi_epi16(a, k), _mm_srli_epi16(_mm_mullo_epi16(a, k), 15));
}

// jdcolor.c's conversion of 8 pixels: the table entries FIX(1.402) x,
// FIX(1.772) x and the green sum, each rounded and shifted down by 16, with
// the factors above 0.5 split into whole multiples of 65536 and a 16-bit rest.
inline void ToRgb(__m128i y, __m128i cb, __m128i cr, __m128i& r, __m128i& g, __m128i& b)
{
    const __m128i center = _mm_set1_epi16(128);
    const __m128i xb = _mm_sub_epi16(cb, center), xr = _mm_sub_epi16(cr, center);
    // 1.402 = 1 + 26345 / 65536; 1.772 = 2 - 14942 / 65536; -0.71414 = -1 + 18734 / 65536.
    r = _mm_add_epi16(y, _mm_add_epi16(xr, Scaled(xr, 26345)));
    b = _mm_add_epi16(y, _mm_add_epi16(_mm_add_epi16(xb, xb), Scaled(xb, -14942)));
    g = _mm_add_epi16(y, _mm_sub_epi16(Scaled(xr, xb, 18734, -22554), xr));
}

// Four pixels held as 32-bit lanes (blue, green, red, 0) squeezed to 12 bytes
// at the start of the register.
inline __m128i Squeeze(__m128i p)
{
    const __m128i low3 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i next3 = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000), 0x0000FFFF,
                                        static_cast<int>(0xFF000000));
    const __m128i six = _mm_or_si128(_mm_and_si128(p, low3), _mm_and_si128(_mm_srli_epi64(p, 8), next3));
    const __m128i first6 = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
    const __m128i second6 = _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000), 0);
    return _mm_or_si128(_mm_and_si128(six, first6), _mm_and_si128(_mm_srli_si128(six, 2), second6));
}

// 16 pixels to 48 BGR bytes; writes 4 bytes more past them.
inline void Store16(uint8_t* out, __m128i b, __m128i g, __m128i r)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
    const __m128i rLo = _mm_unpacklo_epi8(r, zero), rHi = _mm_unpackhi_epi8(r, zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Squeeze(_mm_unpacklo_epi16(bgLo, rLo)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), Squeeze(_mm_unpackhi_epi16(bgLo, rLo)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), Squeeze(_mm_unpacklo_epi16(bgHi, rHi)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 36), Squeeze(_mm_unpackhi_epi16(bgHi, rHi)));
}

void ConvertRow(const uint8_t* y, const int16_t* cb, const int16_t* cr, int w, uint8_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    for (int x = 0; x < w; x += 16) {
        const __m128i ys = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        __m128i r0, g0, b0, r1, g1, b1;
        ToRgb(_mm_unpacklo_epi8(ys, zero), _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + x)),
              _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + x)), r0, g0, b0);
        ToRgb(_mm_unpackhi_epi8(ys, zero), _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + x + 8)),
              _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + x + 8)), r1, g1, b1);
        const __m128i b = _mm_packus_epi16(b0, b1), g = _mm_packus_epi16(g0, g1), r = _mm_packus_epi16(r0, r1);
        if (x + 18 <= w) {
            Store16(out + 3 * x, b, g, r);
        } else { // the row's end: no byte past it is written
            uint8_t tail[64];
            Store16(tail, b, g, r);
            std::memcpy(out + 3 * x, tail, size_t(3 * std::min(16, w - x)));
        }
    }
}

} // namespace

bool TJpegPrepared::Impl::Reconstruct(TBgrRowsFor rowsFor, void* context)
{
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    // Chroma two samples wide or less is upsampled without the triangle.
    if (cw <= 2)
        return false;
    for (TComp& k : comp) {
        const size_t stride = size_t(k.wib) * 8;
        // 16 bytes to spare: rows are read 16 samples at a time.
        k.decoded.resize(stride * size_t(k.hib) * 8 + 16);
        for (int by = 0; by < k.hib; ++by)
            InverseDctBlockRow(k.quantized.data() + size_t(by) * size_t(k.wib) * 64, k.wib, k.quant,
                               k.decoded.data() + size_t(by) * 8 * stride, stride);
    }
    size_t stride = 0;
    uint8_t* first = rowsFor(context, width, height, stride);
    if (!first || stride < size_t(width) * 3)
        return false;
    const size_t cStride = size_t(comp[1].wib) * 8, yStride = size_t(comp[0].wib) * 8;
    const size_t wide = (size_t(cw) + 7) / 8 * 16 + 16;
    std::vector<int16_t> colsum(size_t(cw) + 24, 0), cb(wide, 0), cr(wide, 0);
    for (int y = 0; y < height; ++y) {
        // The nearer chroma row, and the one above (even rows) or below (odd
        // rows) it, repeated at the picture's top and bottom.
        const int cy = y / 2;
        const int fy = (y & 1) ? std::min(cy + 1, ch - 1) : std::max(cy - 1, 0);
        UpsampleRow(comp[1].decoded.data() + size_t(cy) * cStride, comp[1].decoded.data() + size_t(fy) * cStride, cw,
                    colsum.data(), cb.data());
        UpsampleRow(comp[2].decoded.data() + size_t(cy) * cStride, comp[2].decoded.data() + size_t(fy) * cStride, cw,
                    colsum.data(), cr.data());
        ConvertRow(comp[0].decoded.data() + size_t(y) * yStride, cb.data(), cr.data(), width,
                   first + size_t(y) * stride);
    }
    return true;
}

#else

bool TJpegPrepared::Impl::Reconstruct(TBgrRowsFor, void*) { return false; }

#endif

bool TJpegPrepared::DecodeLast(const uint8_t* data, size_t size, TBgrRowsFor rows, void* context)
{
    Impl& m = *d;
    if (!m.written || !data || !rows || size != m.dest.used || size < 20)
        return false;
    // Bytes 13 to 17 are the JFIF density (units, X and Y), which a decoder
    // does not use; every other byte must be the encoder's own.
    static const uint8_t jfif[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    const uint8_t* own = m.dest.buf.data();
    if (std::memcmp(data, jfif, sizeof jfif) != 0 || std::memcmp(data, own, 13) != 0 ||
        std::memcmp(data + 18, own + 18, size - 18) != 0)
        return false;
    return m.Reconstruct(rows, context);
}
