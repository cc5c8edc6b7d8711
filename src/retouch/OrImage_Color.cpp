// The per-pixel rendering stage of the retouch control.
//
// Order per channel: posterize or solarize, noise, contrast, lightness, darkness,
// brightness, clamp, split light; then per pixel grey or saturation, and invert.
// Everything that depends on one channel value alone is tabulated (the tables
// of the last settings are kept), so a pixel costs a few table reads; only
// solarize, noise, grey and saturation need the pixel's other channels or
// position. Three renderers give the same bytes: byte permutes (AVX-512 VBMI)
// that read the tables 64 bytes at a time, 16-bit lanes (AVX2) that compute the
// slider adjustments directly, and the plain table loops for everything else.

#include "retouch/OrImage_Pixels.h"

#include "platform/ImageAlloc.h"
#include "platform/Rounding.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace orimage {

bool TColorEffects::AllOff() const
{
    return Brightness == 0 && Contrast == 0 && Lightness == 0 && Darkness == 0 && Saturation == 0 &&
           Splitlight <= 0 && Posterize == 0 && Solorize == 0 && !GrayScale && !Invert;
}

namespace {

// The sum before the clamp is kept within [-256, 256]: noise adds 0..255, so any
// value beyond still clamps to the same end after the noise is added.
constexpr int kSumLimit = 256;
// Offset that makes a sum plus noise (-256..511) a table index.
constexpr int kSumOffset = 256;

template <typename T> T ClampTo(T v, T lo, T hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Posterize: nearest multiple of the step by real division, halves to even.
// Not clamped: 255 with step 100 gives 300 and goes on as 300.
int64_t Posterized(int c, int32_t step)
{
    if (step == 0)
        return c;
    return Round(static_cast<double>(c) / step) * static_cast<int64_t>(step);
}

// Contrast, lightness, darkness and brightness added to a channel, before the
// clamp. In 64 bits because contrast, saturation, lightness and darkness are
// unbounded on one side and their products would overflow 32 bits; integer '/'
// truncates toward zero as the arithmetic here requires.
int64_t ToneSum(int64_t c, const TColorEffects& fx)
{
    int64_t t = 0;
    if (fx.Contrast != 0) {
        t = (std::llabs(127 - c) * fx.Contrast) / 255;
        if (c <= 127)
            t = -t;
    }
    const int64_t l = fx.Lightness != 0 ? (static_cast<int64_t>(fx.Lightness) * (255 - c)) / 255 : 0;
    const int64_t d = fx.Darkness != 0 ? (-(c * fx.Darkness)) / 255 : 0;
    return c + t + l + d + fx.Brightness;
}

struct TTables {
    int16_t base[256];           // channel after posterize -> clamped tone sum
    uint8_t post[768];           // tone sum + noise + offset -> clamp, split light
    uint8_t lut[256];            // base then post without noise
    int16_t sat[511];            // (c1 - a) + 255 -> ((c1 - a) * (S + 255)) div 255, limited
    uint8_t fin[768];            // sat term + average + offset -> clamp, invert
    uint8_t excess[256];         // |c1 - a| -> |((c1 - a) * (S + 255)) div 255 - (c1 - a)|, at most 255
    uint8_t invertMask;          // 255 when inverting (255 - v == v ^ 255 for bytes)
    int solarThreshold;          // solarize when the average is above this
};

// The last step of a pixel whose channels already went through the per-value
// tables: the saturation mix around the pixel's average, or the plain store.
inline void StoreSaturated(const TTables& tb, int b1, int g1, int r1, uint8_t* d)
{
    const int a = (r1 + g1 + b1) / 3;
    d[0] = tb.fin[tb.sat[b1 - a + 255] + a + kSumOffset];
    d[1] = tb.fin[tb.sat[g1 - a + 255] + a + kSumOffset];
    d[2] = tb.fin[tb.sat[r1 - a + 255] + a + kSumOffset];
}

inline void StorePlain(const TTables& tb, int b1, int g1, int r1, uint8_t* d)
{
    d[0] = static_cast<uint8_t>(b1) ^ tb.invertMask;
    d[1] = static_cast<uint8_t>(g1) ^ tb.invertMask;
    d[2] = static_cast<uint8_t>(r1) ^ tb.invertMask;
}

void BuildTables(const TColorEffects& fx, TTables& tb)
{
    uint8_t split[256];
    for (int v = 0; v < 256; ++v) {
        int c = v;
        // The tone curve in double precision, evaluated left to right as written.
        for (int i = 0; i < fx.Splitlight; ++i)
            c = static_cast<int>(Round(std::sin(static_cast<double>(c) / 255 * M_PI / 2) * 255));
        split[v] = static_cast<uint8_t>(c);
    }
    for (int c = 0; c < 256; ++c) {
        const int64_t sum = ToneSum(Posterized(c, fx.Posterize), fx);
        tb.base[c] = static_cast<int16_t>(ClampTo<int64_t>(sum, -kSumLimit, kSumLimit));
    }
    for (int i = 0; i < 768; ++i)
        tb.post[i] = split[ClampTo(i - kSumOffset, 0, 255)];
    for (int c = 0; c < 256; ++c)
        tb.lut[c] = tb.post[tb.base[c] + kSumOffset];

    tb.invertMask = fx.Invert ? 0xFF : 0x00;
    const int64_t k = static_cast<int64_t>(fx.Saturation) + 255;
    for (int d = -255; d <= 255; ++d)
        tb.sat[d + 255] = static_cast<int16_t>(ClampTo<int64_t>((d * k) / 255, -kSumLimit, kSumLimit));
    for (int i = 0; i < 768; ++i)
        tb.fin[i] = static_cast<uint8_t>(ClampTo(i - kSumOffset, 0, 255)) ^ tb.invertMask;
    for (int64_t d = 0; d < 256; ++d)
        tb.excess[d] = static_cast<uint8_t>(std::min<int64_t>(std::llabs((d * k) / 255 - d), 255));
    tb.solarThreshold = 255 - fx.Solorize;
}

bool SameEffects(const TColorEffects& a, const TColorEffects& b)
{
    return a.Brightness == b.Brightness && a.Contrast == b.Contrast && a.Lightness == b.Lightness &&
           a.Darkness == b.Darkness && a.Saturation == b.Saturation && a.Splitlight == b.Splitlight &&
           a.Posterize == b.Posterize && a.Solorize == b.Solorize && a.GrayScale == b.GrayScale &&
           a.Invert == b.Invert;
}

// The tables of the last settings, per thread: a slider drag renders the same
// settings again and again (the control re-renders even when a setter stores an
// unchanged value), and building them costs a fair part of a small render.
const TTables& TablesFor(const TColorEffects& fx)
{
    struct TCache {
        bool valid = false;
        TColorEffects fx;
        TTables tb;
    };
    static thread_local TCache cache;
    if (!cache.valid || !SameEffects(cache.fx, fx)) {
        cache.valid = false;  // a throw below must not leave half-built tables marked valid
        BuildTables(fx, cache.tb);
        cache.fx = fx;
        cache.valid = true;
    }
    return cache.tb;
}

// nearest(0.3 R + 0.59 G + 0.11 B) with the weights as exact hundredths, so a
// value that lies exactly halfway goes to the even neighbour whatever the
// binary representation of 0.3, 0.59 and 0.11 would make of it.
inline int GreyOf(int r, int g, int b)
{
    const int s = 30 * r + 59 * g + 11 * b;
    int q = s / 100;
    const int rem = s - q * 100;
    if (rem > 50 || (rem == 50 && (q & 1)))
        ++q;
    return q;
}

enum TMode { kPlain, kGrey, kSaturate };

template <bool kNoise, bool kSolar, TMode kMode>
void RenderPixels(const TTables& tb, const QImage& src, const QImage* noise, QImage& dst)
{
    const int w = src.width();
    const int h = src.height();
    uchar* dstBits = dst.bits();
    const qsizetype dstStride = dst.bytesPerLine();
    for (int y = 0; y < h; ++y) {
        const uchar* s = src.constScanLine(y);
        const uchar* n = kNoise ? noise->constScanLine(y) : nullptr;
        uchar* d = dstBits + y * dstStride;
        for (int x = 0; x < w; ++x, s += 3, d += 3) {
            int b = s[0], g = s[1], r = s[2];
            if (kSolar && (r + g + b) / 3 > tb.solarThreshold) {
                b = 255 - b;
                g = 255 - g;
                r = 255 - r;
            }
            int b1, g1, r1;
            if (kNoise) {
                b1 = tb.post[tb.base[b] + n[0] + kSumOffset];
                g1 = tb.post[tb.base[g] + n[1] + kSumOffset];
                r1 = tb.post[tb.base[r] + n[2] + kSumOffset];
                n += 3;
            } else {
                b1 = tb.lut[b];
                g1 = tb.lut[g];
                r1 = tb.lut[r];
            }
            if (kMode == kGrey) {
                const uint8_t v = static_cast<uint8_t>(GreyOf(r1, g1, b1)) ^ tb.invertMask;
                d[0] = d[1] = d[2] = v;
            } else if (kMode == kSaturate) {
                StoreSaturated(tb, b1, g1, r1, d);
            } else {
                StorePlain(tb, b1, g1, r1, d);
            }
        }
    }
}

// Every channel through one table: no step needs the other channels.
void RenderByTable(const uint8_t* lut, const QImage& src, QImage& dst)
{
    const int rowBytes = src.width() * 3;
    uchar* dstBits = dst.bits();
    const qsizetype dstStride = dst.bytesPerLine();
    for (int y = 0; y < src.height(); ++y) {
        const uchar* s = src.constScanLine(y);
        uchar* d = dstBits + y * dstStride;
        for (int i = 0; i < rowBytes; ++i)
            d[i] = lut[s[i]];
    }
}

template <bool kNoise, bool kSolar>
void RenderMode(TMode mode, const TTables& tb, const QImage& src, const QImage* noise, QImage& dst)
{
    switch (mode) {
    case kGrey: RenderPixels<kNoise, kSolar, kGrey>(tb, src, noise, dst); break;
    case kSaturate: RenderPixels<kNoise, kSolar, kSaturate>(tb, src, noise, dst); break;
    default: RenderPixels<kNoise, kSolar, kPlain>(tb, src, noise, dst); break;
    }
}

#if defined(__x86_64__)
// The slider path (brightness, contrast, lightness, darkness, saturation within
// +-255, nothing else) in 16-bit lanes, 32 pixels per step: two groups of 16
// pixels, one in each 128-bit half, so every shuffle stays within its half.
// Every division by 255 is exact here: the products stay below 65280, where
// x div 255 == ((x + 1) x 257) >> 16, and the signs are applied to the
// magnitudes afterwards, which is what truncation toward zero means.
#define ORIMAGE_AVX2 __attribute__((target("avx2")))

bool SimdApplies(const TColorEffects& fx)
{
    auto within = [](int32_t v) { return v >= -255 && v <= 255; };
    return fx.Posterize == 0 && fx.Solorize == 0 && fx.Splitlight <= 0 && !fx.GrayScale &&
           within(fx.Brightness) && within(fx.Contrast) && within(fx.Lightness) && within(fx.Darkness) &&
           within(fx.Saturation);
}

struct TShuffles {
    alignas(16) int8_t split[3][3][16];  // [plane][input chunk]
    alignas(16) int8_t merge[3][3][16];  // [output chunk][plane]
    TShuffles()
    {
        for (int plane = 0; plane < 3; ++plane)
            for (int k = 0; k < 3; ++k)
                for (int j = 0; j < 16; ++j) {
                    const int g = 3 * j + plane;
                    split[plane][k][j] = static_cast<int8_t>(g / 16 == k ? g % 16 : -128);
                    const int out = 16 * k + j;
                    merge[k][plane][j] = static_cast<int8_t>(out % 3 == plane ? out / 3 : -128);
                }
    }
};

ORIMAGE_AVX2 inline __m256i Div255(__m256i u)
{
    return _mm256_mulhi_epu16(_mm256_add_epi16(u, _mm256_set1_epi16(1)), _mm256_set1_epi16(257));
}

struct TLanes {
    __m256i absC, signC, absL, signL, absD, signD, bright, absS, signS, roundS;
};

ORIMAGE_AVX2 inline __m256i ToneLanes(__m256i c, const TLanes& k)
{
    const __m256i c255 = _mm256_set1_epi16(255);
    // Contrast: magnitude from |127 - c|, negative at or below 127 (2c - 255 is never 0).
    __m256i t = Div255(_mm256_mullo_epi16(_mm256_abs_epi16(_mm256_sub_epi16(c, _mm256_set1_epi16(127))), k.absC));
    t = _mm256_sign_epi16(_mm256_sign_epi16(t, _mm256_sub_epi16(_mm256_add_epi16(c, c), c255)), k.signC);
    const __m256i l = _mm256_sign_epi16(Div255(_mm256_mullo_epi16(_mm256_sub_epi16(c255, c), k.absL)), k.signL);
    const __m256i d = _mm256_sign_epi16(Div255(_mm256_mullo_epi16(c, k.absD)), k.signD);
    const __m256i sum =
        _mm256_add_epi16(_mm256_add_epi16(c, t), _mm256_add_epi16(_mm256_add_epi16(l, d), k.bright));
    return _mm256_min_epi16(_mm256_max_epi16(sum, _mm256_setzero_si256()), c255);
}

// ((c - a) x (S + 255)) div 255 + a, as |c - a| + or - ceil/floor(|c - a| x |S| / 255)
// with the sign of c - a; the clamp comes with the pack to bytes.
ORIMAGE_AVX2 inline __m256i SaturateLanes(__m256i c, __m256i a, const TLanes& k)
{
    const __m256i dl = _mm256_sub_epi16(c, a);
    const __m256i ad = _mm256_abs_epi16(dl);
    const __m256i q = Div255(_mm256_add_epi16(_mm256_mullo_epi16(ad, k.absS), k.roundS));
    const __m256i m = _mm256_add_epi16(ad, _mm256_sign_epi16(q, k.signS));
    return _mm256_add_epi16(_mm256_sign_epi16(m, dl), a);
}

ORIMAGE_AVX2 inline __m256i Load2x16(const uchar* lo, const uchar* hi)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}

ORIMAGE_AVX2 void RenderAvx2(const TColorEffects& fx, const TTables& tb, const QImage& src, QImage& dst)
{
    static const TShuffles sh;
    auto sign = [](int32_t v) { return static_cast<int16_t>(v < 0 ? -1 : 1); };
    TLanes k;
    k.absC = _mm256_set1_epi16(static_cast<int16_t>(std::abs(fx.Contrast)));
    k.signC = _mm256_set1_epi16(sign(fx.Contrast));
    k.absL = _mm256_set1_epi16(static_cast<int16_t>(std::abs(fx.Lightness)));
    k.signL = _mm256_set1_epi16(sign(fx.Lightness));
    k.absD = _mm256_set1_epi16(static_cast<int16_t>(std::abs(fx.Darkness)));
    k.signD = _mm256_set1_epi16(static_cast<int16_t>(fx.Darkness > 0 ? -1 : 1));
    k.bright = _mm256_set1_epi16(static_cast<int16_t>(fx.Brightness));
    k.absS = _mm256_set1_epi16(static_cast<int16_t>(std::abs(fx.Saturation)));
    k.signS = _mm256_set1_epi16(sign(fx.Saturation));
    // Rounding the magnitude up when the saturation is negative keeps the division truncating toward zero.
    k.roundS = _mm256_set1_epi16(static_cast<int16_t>(fx.Saturation < 0 ? 254 : 0));
    const bool saturate = fx.Saturation != 0;
    const __m256i invert = _mm256_set1_epi8(static_cast<char>(tb.invertMask));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i third = _mm256_set1_epi16(21846);  // (s x 21846) >> 16 == s div 3 for s <= 765
    __m256i split[3][3], merge[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            split[i][j] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(sh.split[i][j])));
            merge[i][j] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(sh.merge[i][j])));
        }

    const int w = src.width();
    uchar* dstBits = dst.bits();
    const qsizetype dstStride = dst.bytesPerLine();
    for (int y = 0; y < src.height(); ++y) {
        const uchar* s = src.constScanLine(y);
        uchar* d = dstBits + y * dstStride;
        int x = 0;
        for (; x + 32 <= w; x += 32, s += 96, d += 96) {
            const __m256i in[3] = {Load2x16(s, s + 48), Load2x16(s + 16, s + 64), Load2x16(s + 32, s + 80)};
            __m256i lo[3], hi[3];
            for (int p = 0; p < 3; ++p) {
                const __m256i plane = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(in[0], split[p][0]),
                                                                      _mm256_shuffle_epi8(in[1], split[p][1])),
                                                      _mm256_shuffle_epi8(in[2], split[p][2]));
                lo[p] = ToneLanes(_mm256_unpacklo_epi8(plane, zero), k);
                hi[p] = ToneLanes(_mm256_unpackhi_epi8(plane, zero), k);
            }
            if (saturate) {
                const __m256i aLo =
                    _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(lo[0], lo[1]), lo[2]), third);
                const __m256i aHi =
                    _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(hi[0], hi[1]), hi[2]), third);
                for (int p = 0; p < 3; ++p) {
                    lo[p] = SaturateLanes(lo[p], aLo, k);
                    hi[p] = SaturateLanes(hi[p], aHi, k);
                }
            }
            __m256i planes[3];
            for (int p = 0; p < 3; ++p)
                planes[p] = _mm256_xor_si256(_mm256_packus_epi16(lo[p], hi[p]), invert);
            for (int c = 0; c < 3; ++c) {
                const __m256i out = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(planes[0], merge[c][0]),
                                                                    _mm256_shuffle_epi8(planes[1], merge[c][1])),
                                                    _mm256_shuffle_epi8(planes[2], merge[c][2]));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * c), _mm256_castsi256_si128(out));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48 + 16 * c), _mm256_extracti128_si256(out, 1));
            }
        }
        // The last pixels of the row through the tables, which give the same values.
        for (; x < w; ++x, s += 3, d += 3) {
            const int b1 = tb.lut[s[0]], g1 = tb.lut[s[1]], r1 = tb.lut[s[2]];
            if (saturate) {
                StoreSaturated(tb, b1, g1, r1, d);
            } else {
                StorePlain(tb, b1, g1, r1, d);
            }
        }
    }
}

// With byte permutes (AVX-512 VBMI) a 256-entry table lookup costs a few
// instructions per 64 bytes, so the whole per-channel stage is one table read,
// whatever it contains (posterize, split light included). The saturation mix is
// done in bytes too: for a channel c1 above its pixel's average a,
// ((c1 - a) x k) div 255 + a == c1 + e(|c1 - a|) with e(d) = (d x k) div 255 - d,
// and below the average it is c1 - e(d). e has one sign for all d (positive when
// k > 255, else not), so its magnitude, capped at 255, goes in a second table and
// the clamp to 0..255 comes from saturating byte adds and subtracts.
#define ORIMAGE_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

bool VbmiApplies(const TColorEffects& fx)
{
    return !fx.GrayScale && (fx.Posterize != 0 || fx.Solorize == 0);
}

struct TByteTable {
    __m512i q[4];
};

ORIMAGE_VBMI inline TByteTable LoadTable(const uint8_t* t)
{
    TByteTable tb;
    for (int i = 0; i < 4; ++i)
        tb.q[i] = _mm512_loadu_si512(t + 64 * i);
    return tb;
}

ORIMAGE_VBMI inline __m512i Lookup(const TByteTable& t, __m512i x)
{
    // Bit 6 picks the register of each pair, bit 7 the pair.
    const __m512i lo = _mm512_permutex2var_epi8(t.q[0], x, t.q[1]);
    const __m512i hi = _mm512_permutex2var_epi8(t.q[2], x, t.q[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), lo, hi);
}

struct TPermutes {
    alignas(64) uint8_t split[3][2][64];  // [plane][from in0:in1, from in2]
    alignas(64) uint8_t merge[3][2][64];  // [output chunk][from plane0:plane1, from plane2]
    uint64_t splitMask[3];                // plane bytes taken from in2
    uint64_t mergeMask[3];                // output bytes taken from plane2
    TPermutes()
    {
        for (int p = 0; p < 3; ++p) {
            splitMask[p] = 0;
            for (int j = 0; j < 64; ++j) {
                const int pos = 3 * j + p;
                split[p][0][j] = static_cast<uint8_t>(pos < 128 ? pos : 0);
                split[p][1][j] = static_cast<uint8_t>(pos >= 128 ? pos - 128 : 0);
                if (pos >= 128)
                    splitMask[p] |= uint64_t{1} << j;
            }
        }
        for (int k = 0; k < 3; ++k) {
            mergeMask[k] = 0;
            for (int j = 0; j < 64; ++j) {
                const int pos = 64 * k + j;
                const int plane = pos % 3, pixel = pos / 3;
                merge[k][0][j] = static_cast<uint8_t>(plane == 1 ? pixel + 64 : pixel);
                merge[k][1][j] = static_cast<uint8_t>(pixel);
                if (plane == 2)
                    mergeMask[k] |= uint64_t{1} << j;
            }
        }
    }
};

// Each pixel's (R + G + B) div 3, in bytes: the sums of even and odd bytes in
// 16-bit lanes, where (s x 21846) >> 16 == s div 3 for s <= 765.
ORIMAGE_VBMI inline __m512i Average64(__m512i c0, __m512i c1, __m512i c2)
{
    const __m512i low = _mm512_set1_epi16(0x00FF);
    const __m512i third = _mm512_set1_epi16(21846);
    const __m512i even = _mm512_add_epi16(_mm512_add_epi16(_mm512_and_si512(c0, low), _mm512_and_si512(c1, low)),
                                          _mm512_and_si512(c2, low));
    const __m512i odd = _mm512_add_epi16(_mm512_add_epi16(_mm512_srli_epi16(c0, 8), _mm512_srli_epi16(c1, 8)),
                                         _mm512_srli_epi16(c2, 8));
    return _mm512_or_si512(_mm512_mulhi_epu16(even, third), _mm512_slli_epi16(_mm512_mulhi_epu16(odd, third), 8));
}

// 64 bytes gathered from three registers: the first two through one two-source
// permute, the bytes of the third merged in under the mask.
ORIMAGE_VBMI inline __m512i Plane(__m512i v0, __m512i v1, __m512i v2, const __m512i* idx, __mmask64 fromV2)
{
    return _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(v0, idx[0], v1), fromV2, idx[1], v2);
}

// One channel plane mixed with its pixels' averages (see above).
template <bool kWiden> ORIMAGE_VBMI inline __m512i Mix(__m512i c, __m512i a, const TByteTable& excessT)
{
    const __mmask64 above = _mm512_cmpgt_epu8_mask(c, a);
    const __m512i e = Lookup(excessT, _mm512_sub_epi8(_mm512_max_epu8(c, a), _mm512_min_epu8(c, a)));
    if (kWiden)
        return _mm512_mask_adds_epu8(_mm512_subs_epu8(c, e), above, c, e);
    return _mm512_mask_subs_epu8(_mm512_adds_epu8(c, e), above, c, e);
}

// kWiden: saturation above 0, channels move away from their pixel's average.
template <bool kWiden>
ORIMAGE_VBMI void RenderVbmi(const TColorEffects& fx, const TTables& tb, const QImage& src, QImage& dst)
{
    static const TPermutes pm;
    const uint8_t* lut = tb.lut;
    const TByteTable toneT = LoadTable(lut);
    const TByteTable excessT = LoadTable(tb.excess);
    const bool saturate = fx.Saturation != 0;
    const __m512i invert = _mm512_set1_epi8(static_cast<char>(tb.invertMask));
    __m512i split[3][2], merge[3][2];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) {
            split[i][j] = _mm512_load_si512(pm.split[i][j]);
            merge[i][j] = _mm512_load_si512(pm.merge[i][j]);
        }

    const int w = src.width();
    const int rowBytes = w * 3;
    uchar* dstBits = dst.bits();
    const qsizetype dstStride = dst.bytesPerLine();
    for (int y = 0; y < src.height(); ++y) {
        const uchar* s = src.constScanLine(y);
        uchar* d = dstBits + y * dstStride;
        if (!saturate) {
            // Channels are independent: the row is one run of bytes.
            for (int i = 0; i < rowBytes; i += 64) {
                const int n = std::min(64, rowBytes - i);
                const __mmask64 m = n == 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
                const __m512i v = _mm512_maskz_loadu_epi8(m, s + i);
                _mm512_mask_storeu_epi8(d + i, m, _mm512_xor_si512(Lookup(toneT, v), invert));
            }
            continue;
        }
        int x = 0;
        for (; x + 64 <= w; x += 64, s += 192, d += 192) {
            const __m512i in0 = Lookup(toneT, _mm512_loadu_si512(s));
            const __m512i in1 = Lookup(toneT, _mm512_loadu_si512(s + 64));
            const __m512i in2 = Lookup(toneT, _mm512_loadu_si512(s + 128));
            const __m512i c0 = Plane(in0, in1, in2, split[0], pm.splitMask[0]);
            const __m512i c1 = Plane(in0, in1, in2, split[1], pm.splitMask[1]);
            const __m512i c2 = Plane(in0, in1, in2, split[2], pm.splitMask[2]);
            const __m512i a = Average64(c0, c1, c2);
            const __m512i r0 = _mm512_xor_si512(Mix<kWiden>(c0, a, excessT), invert);
            const __m512i r1 = _mm512_xor_si512(Mix<kWiden>(c1, a, excessT), invert);
            const __m512i r2 = _mm512_xor_si512(Mix<kWiden>(c2, a, excessT), invert);
            _mm512_storeu_si512(d, Plane(r0, r1, r2, merge[0], pm.mergeMask[0]));
            _mm512_storeu_si512(d + 64, Plane(r0, r1, r2, merge[1], pm.mergeMask[1]));
            _mm512_storeu_si512(d + 128, Plane(r0, r1, r2, merge[2], pm.mergeMask[2]));
        }
        for (; x < w; ++x, s += 3, d += 3) {
            const int b1 = lut[s[0]], g1 = lut[s[1]], r1 = lut[s[2]];
            const int a = (r1 + g1 + b1) / 3;
            d[0] = tb.fin[tb.sat[b1 - a + 255] + a + kSumOffset];
            d[1] = tb.fin[tb.sat[g1 - a + 255] + a + kSumOffset];
            d[2] = tb.fin[tb.sat[r1 - a + 255] + a + kSumOffset];
        }
    }
}
#endif

} // namespace

void RenderColorEffects(const QImage& srcIn, const QImage* noise, const TColorEffects& fx, QImage& dst)
{
    const QImage src =
        srcIn.format() == QImage::Format_BGR888 ? srcIn : srcIn.convertToFormat(QImage::Format_BGR888);
    if (src.isNull()) {
        dst = QImage();
        return;
    }
    EnsureBgrImage(dst, src.width(), src.height());
    if (dst.isNull())
        return;

    QImage noiseBgr;
    if (noise && noise->size() == src.size()) {
        noiseBgr = noise->format() == QImage::Format_BGR888 ? *noise
                                                             : noise->convertToFormat(QImage::Format_BGR888);
    }
    const bool hasNoise = !noiseBgr.isNull();

    if (!hasNoise && fx.AllOff()) {
        const qsizetype rowBytes = static_cast<qsizetype>(src.width()) * 3;
        for (int y = 0; y < src.height(); ++y)
            std::memcpy(dst.scanLine(y), src.constScanLine(y), static_cast<size_t>(rowBytes));
        return;
    }

    const TTables& tb = TablesFor(fx);
#if defined(__x86_64__)
    static const bool vbmi = __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw");
    if (!hasNoise && vbmi && VbmiApplies(fx)) {
        fx.Saturation > 0 ? RenderVbmi<true>(fx, tb, src, dst) : RenderVbmi<false>(fx, tb, src, dst);
        return;
    }
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (!hasNoise && avx2 && SimdApplies(fx)) {
        RenderAvx2(fx, tb, src, dst);
        return;
    }
#endif
    const bool solar = fx.Posterize == 0 && fx.Solorize != 0;
    const TMode mode = fx.GrayScale ? kGrey : (fx.Saturation != 0 ? kSaturate : kPlain);

    if (!hasNoise && !solar && mode == kPlain) {
        uint8_t lut[256];
        for (int c = 0; c < 256; ++c)
            lut[c] = tb.lut[c] ^ tb.invertMask;
        RenderByTable(lut, src, dst);
        return;
    }
    const QImage* n = hasNoise ? &noiseBgr : nullptr;
    if (hasNoise)
        solar ? RenderMode<true, true>(mode, tb, src, n, dst) : RenderMode<true, false>(mode, tb, src, n, dst);
    else
        solar ? RenderMode<false, true>(mode, tb, src, n, dst) : RenderMode<false, false>(mode, tb, src, n, dst);
}

} // namespace orimage
