// libjpeg's accurate integer forward DCT (jfdctint.c) reproduced bit for bit:
// with SSE2 the way libjpeg-turbo's own SIMD version computes it (8 columns or
// rows per register, products in pairs through pmaddwd), otherwise in plain
// loops the compiler vectorizes. Every product pairs factors that fit 16 bits,
// grouped as libjpeg-turbo groups them; the sums are jfdctint's integers.
#include "jpegmeta/JpegSave_Prepared.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// jfdctint's constants: CONST_BITS 13, PASS1_BITS 2.
constexpr int16_t kF0298 = 2446, kF0390 = 3196, kF0541 = 4433, kF0765 = 6270, kF0899 = 7373, kF1175 = 9633,
                  kF1501 = 12299, kF1847 = 15137, kF1961 = 16069, kF2053 = 16819, kF2562 = 20995, kF3072 = 25172;

// Products of 16-bit values widened to 32 bits, which the vectorizer turns
// into SSE2's 16-bit multiplies. Every factor below fits 16 bits because the
// products are grouped as libjpeg-turbo's SIMD DCT groups them; the sums are
// the same integers as jfdctint's.
inline int32_t Mul(int16_t a, int16_t c) { return int32_t(a) * int32_t(c); }

// The odd half of both passes, before descaling: outputs 1, 3, 5, 7.
struct TOdd {
    int32_t o1, o3, o5, o7;
};
inline TOdd OddPart(int16_t t4, int16_t t5, int16_t t6, int16_t t7)
{
    const int16_t z3 = int16_t(t4 + t6), z4 = int16_t(t5 + t7);
    const int32_t z3s = Mul(z3, kF1175 - kF1961) + Mul(z4, kF1175);
    const int32_t z4s = Mul(z3, kF1175) + Mul(z4, kF1175 - kF0390);
    return {Mul(t4, -kF0899) + Mul(t7, kF1501 - kF0899) + z4s, Mul(t5, -kF2562) + Mul(t6, kF3072 - kF2562) + z3s,
            Mul(t5, kF2053 - kF2562) + Mul(t6, -kF2562) + z4s, Mul(t4, kF0298 - kF0899) + Mul(t7, -kF0899) + z3s};
}

#if defined(__SSE2__)

// Two 16-bit vectors a, b times the constant pairs (ca, cb), lane by lane:
// a * ca + b * cb in 32 bits, then rounded and shifted down by `shift`, and
// packed back to 16 bits.
template <int shift>
inline __m128i PairProduct(__m128i a, __m128i b, int16_t ca, int16_t cb)
{
    const __m128i c = _mm_set_epi16(cb, ca, cb, ca, cb, ca, cb, ca);
    const __m128i round = _mm_set1_epi32(1 << (shift - 1));
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), c), round), shift);
    const __m128i hi = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), c), round), shift);
    return _mm_packs_epi32(lo, hi);
}

// The 32-bit halves of a * ca + b * cb, unrounded, for the odd part's sums.
struct TWide {
    __m128i lo, hi;
};
inline TWide PairWide(__m128i a, __m128i b, int16_t ca, int16_t cb)
{
    const __m128i c = _mm_set_epi16(cb, ca, cb, ca, cb, ca, cb, ca);
    return {_mm_madd_epi16(_mm_unpacklo_epi16(a, b), c), _mm_madd_epi16(_mm_unpackhi_epi16(a, b), c)};
}
template <int shift>
inline __m128i Descale(TWide x, TWide y)
{
    const __m128i round = _mm_set1_epi32(1 << (shift - 1));
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(x.lo, y.lo), round), shift),
                           _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(x.hi, y.hi), round), shift));
}

inline void Transpose(__m128i (&v)[8])
{
    const __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
    const __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
    const __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
    const __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    v[0] = _mm_unpacklo_epi64(b0, b4);
    v[1] = _mm_unpackhi_epi64(b0, b4);
    v[2] = _mm_unpacklo_epi64(b1, b5);
    v[3] = _mm_unpackhi_epi64(b1, b5);
    v[4] = _mm_unpacklo_epi64(b2, b6);
    v[5] = _mm_unpackhi_epi64(b2, b6);
    v[6] = _mm_unpacklo_epi64(b3, b7);
    v[7] = _mm_unpackhi_epi64(b3, b7);
}

// One 1-D pass over 8 lanes at once: v[k] holds input k of every lane. The
// first pass keeps PASS1_BITS of extra precision, the second removes it.
template <bool first>
inline void Pass(__m128i (&v)[8])
{
    constexpr int shift = first ? 11 : 15;
    const __m128i t0 = _mm_add_epi16(v[0], v[7]), t7 = _mm_sub_epi16(v[0], v[7]);
    const __m128i t1 = _mm_add_epi16(v[1], v[6]), t6 = _mm_sub_epi16(v[1], v[6]);
    const __m128i t2 = _mm_add_epi16(v[2], v[5]), t5 = _mm_sub_epi16(v[2], v[5]);
    const __m128i t3 = _mm_add_epi16(v[3], v[4]), t4 = _mm_sub_epi16(v[3], v[4]);
    const __m128i t10 = _mm_add_epi16(t0, t3), t13 = _mm_sub_epi16(t0, t3);
    const __m128i t11 = _mm_add_epi16(t1, t2), t12 = _mm_sub_epi16(t1, t2);
    if (first) {
        v[0] = _mm_slli_epi16(_mm_add_epi16(t10, t11), 2);
        v[4] = _mm_slli_epi16(_mm_sub_epi16(t10, t11), 2);
    } else {
        // t10 + t11 stays within 16 bits: its extremes are -32768 and 32512.
        const __m128i two = _mm_set1_epi16(2);
        v[0] = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(t10, t11), two), 2);
        v[4] = _mm_srai_epi16(_mm_add_epi16(_mm_sub_epi16(t10, t11), two), 2);
    }
    v[2] = PairProduct<shift>(t13, t12, kF0541 + kF0765, kF0541);
    v[6] = PairProduct<shift>(t13, t12, kF0541, kF0541 - kF1847);
    const __m128i z3 = _mm_add_epi16(t4, t6), z4 = _mm_add_epi16(t5, t7);
    const TWide z3s = PairWide(z3, z4, kF1175 - kF1961, kF1175);
    const TWide z4s = PairWide(z3, z4, kF1175, kF1175 - kF0390);
    v[1] = Descale<shift>(PairWide(t4, t7, -kF0899, kF1501 - kF0899), z4s);
    v[3] = Descale<shift>(PairWide(t5, t6, -kF2562, kF3072 - kF2562), z3s);
    v[5] = Descale<shift>(PairWide(t5, t6, kF2053 - kF2562, -kF2562), z4s);
    v[7] = Descale<shift>(PairWide(t4, t7, kF0298 - kF0899, -kF0899), z3s);
}

inline TWide Plus(TWide a, TWide b) { return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)}; }
inline TWide Minus(TWide a, TWide b) { return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)}; }
template <int shift>
inline __m128i Packed(TWide x)
{
    const __m128i round = _mm_set1_epi32(1 << (shift - 1));
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(x.lo, round), shift),
                           _mm_srai_epi32(_mm_add_epi32(x.hi, round), shift));
}

// One 1-D pass of the accurate inverse DCT (jidctint.c) over 8 lanes, kept
// in 16 bits between the passes as libjpeg-turbo's SIMD version keeps it.
template <bool first>
inline void InversePass(__m128i (&v)[8])
{
    constexpr int shift = first ? 11 : 18;
    const __m128i zero = _mm_setzero_si128();
    const TWide t3 = PairWide(v[2], v[6], kF0541 + kF0765, kF0541);
    const TWide t2 = PairWide(v[2], v[6], kF0541, kF0541 - kF1847);
    // (in0 +- in4) << CONST_BITS: the 16-bit sum in the upper half of each
    // 32-bit lane, shifted down arithmetically.
    const __m128i sum = _mm_add_epi16(v[0], v[4]), dif = _mm_sub_epi16(v[0], v[4]);
    const TWide t0 = {_mm_srai_epi32(_mm_unpacklo_epi16(zero, sum), 3), _mm_srai_epi32(_mm_unpackhi_epi16(zero, sum), 3)};
    const TWide t1 = {_mm_srai_epi32(_mm_unpacklo_epi16(zero, dif), 3), _mm_srai_epi32(_mm_unpackhi_epi16(zero, dif), 3)};
    const TWide t10 = Plus(t0, t3), t13 = Minus(t0, t3), t11 = Plus(t1, t2), t12 = Minus(t1, t2);
    const __m128i z3 = _mm_add_epi16(v[7], v[3]), z4 = _mm_add_epi16(v[5], v[1]);
    const TWide z3s = PairWide(z3, z4, kF1175 - kF1961, kF1175);
    const TWide z4s = PairWide(z3, z4, kF1175, kF1175 - kF0390);
    const TWide o0 = Plus(PairWide(v[7], v[1], kF0298 - kF0899, -kF0899), z3s);
    const TWide o3 = Plus(PairWide(v[7], v[1], -kF0899, kF1501 - kF0899), z4s);
    const TWide o1 = Plus(PairWide(v[5], v[3], kF2053 - kF2562, -kF2562), z4s);
    const TWide o2 = Plus(PairWide(v[5], v[3], -kF2562, kF3072 - kF2562), z3s);
    v[0] = Packed<shift>(Plus(t10, o3));
    v[7] = Packed<shift>(Minus(t10, o3));
    v[1] = Packed<shift>(Plus(t11, o2));
    v[6] = Packed<shift>(Minus(t11, o2));
    v[2] = Packed<shift>(Plus(t12, o1));
    v[5] = Packed<shift>(Minus(t12, o1));
    v[3] = Packed<shift>(Plus(t13, o0));
    v[4] = Packed<shift>(Minus(t13, o0));
}

} // namespace

void ForwardDctBlockRow(const uint8_t* rows, size_t stride, int wib, int16_t* out, std::vector<int16_t>&)
{
    const __m128i zero = _mm_setzero_si128(), center = _mm_set1_epi16(128);
    for (int bx = 0; bx < wib; ++bx, out += 64) {
        __m128i v[8];
        for (int r = 0; r < 8; ++r) {
            const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows + size_t(r) * stride + 8 * bx));
            v[r] = _mm_sub_epi16(_mm_unpacklo_epi8(s, zero), center);
        }
        Transpose(v); // columns per register: the first pass runs along the rows
        Pass<true>(v);
        Transpose(v); // back to rows: the second pass runs down the columns
        Pass<false>(v);
        for (int r = 0; r < 8; ++r)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * r), v[r]);
    }
}


void InverseDctBlockRow(const JCOEF* blocks, int wib, const uint16_t* quant, uint8_t* rows, size_t stride)
{
    __m128i q[8];
    for (int r = 0; r < 8; ++r)
        q[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * r));
    const __m128i center = _mm_set1_epi8(-128);
    const __m128i notDc = _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0);
    for (int bx = 0; bx < wib; ++bx, blocks += 64) {
        __m128i v[8];
        __m128i ac = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks)), notDc);
        for (int r = 1; r < 8; ++r)
            ac = _mm_or_si128(ac, _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 8 * r)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(ac, _mm_setzero_si128())) == 0xFFFF) {
            // A flat block: both passes reduce to (DC + 4) >> 3 everywhere.
            const int dc = (int(blocks[0]) * int(quant[0]) + 4) >> 3;
            const __m128i flat = _mm_set1_epi8(char(std::clamp(dc, -128, 127) ^ 0x80));
            for (int r = 0; r < 8; ++r)
                _mm_storel_epi64(reinterpret_cast<__m128i*>(rows + size_t(r) * stride + 8 * bx), flat);
            continue;
        }
        for (int r = 0; r < 8; ++r)
            v[r] = _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 8 * r)), q[r]);
        InversePass<true>(v); // down the columns
        Transpose(v);
        InversePass<false>(v); // along the rows
        Transpose(v);
        // Saturated to -128..127, then moved to 0..255, as the SIMD decoder does.
        for (int r = 0; r < 8; ++r)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(rows + size_t(r) * stride + 8 * bx),
                             _mm_xor_si128(_mm_packs_epi16(v[r], v[r]), center));
    }
}

#else

// The first pass over the rows of `nb` blocks side by side: one picture row
// of 8 * nb samples in, the row transforms of each block out (scaled up by
// PASS1_BITS, as jfdctint keeps them).
__attribute__((noinline)) void RowPass(const uint8_t* __restrict in, int nb, int16_t* __restrict out)
{
    for (int b = 0; b < nb; ++b) {
        const uint8_t* d = in + 8 * b;
        int16_t* o = out + 8 * b;
        const int16_t d0 = int16_t(d[0] - 128), d1 = int16_t(d[1] - 128), d2 = int16_t(d[2] - 128);
        const int16_t d3 = int16_t(d[3] - 128), d4 = int16_t(d[4] - 128), d5 = int16_t(d[5] - 128);
        const int16_t d6 = int16_t(d[6] - 128), d7 = int16_t(d[7] - 128);
        const int16_t t0 = int16_t(d0 + d7), t7 = int16_t(d0 - d7), t1 = int16_t(d1 + d6), t6 = int16_t(d1 - d6);
        const int16_t t2 = int16_t(d2 + d5), t5 = int16_t(d2 - d5), t3 = int16_t(d3 + d4), t4 = int16_t(d3 - d4);
        const int16_t t10 = int16_t(t0 + t3), t13 = int16_t(t0 - t3), t11 = int16_t(t1 + t2), t12 = int16_t(t1 - t2);
        o[0] = int16_t((t10 + t11) * 4);
        o[4] = int16_t((t10 - t11) * 4);
        o[2] = int16_t((Mul(t13, kF0541 + kF0765) + Mul(t12, kF0541) + 1024) >> 11);
        o[6] = int16_t((Mul(t13, kF0541) + Mul(t12, kF0541 - kF1847) + 1024) >> 11);
        const TOdd odd = OddPart(t4, t5, t6, t7);
        o[1] = int16_t((odd.o1 + 1024) >> 11);
        o[3] = int16_t((odd.o3 + 1024) >> 11);
        o[5] = int16_t((odd.o5 + 1024) >> 11);
        o[7] = int16_t((odd.o7 + 1024) >> 11);
    }
}

// The second pass down the columns of a block row: the eight row-pass rows
// (`n` samples each) in, `nb` blocks of final coefficients out.
__attribute__((noinline)) void ColumnPass(const int16_t* __restrict in, int n, int nb, int16_t* __restrict out)
{
    for (int b = 0; b < nb; ++b) {
        const int16_t* c = in + 8 * b;
        int16_t* o = out + 64 * b;
        for (int u = 0; u < 8; ++u) {
            const int16_t r0 = c[u], r1 = c[n + u], r2 = c[2 * n + u], r3 = c[3 * n + u];
            const int16_t r4 = c[4 * n + u], r5 = c[5 * n + u], r6 = c[6 * n + u], r7 = c[7 * n + u];
            const int16_t t0 = int16_t(r0 + r7), t7 = int16_t(r0 - r7), t1 = int16_t(r1 + r6), t6 = int16_t(r1 - r6);
            const int16_t t2 = int16_t(r2 + r5), t5 = int16_t(r2 - r5), t3 = int16_t(r3 + r4), t4 = int16_t(r3 - r4);
            const int16_t t10 = int16_t(t0 + t3), t13 = int16_t(t0 - t3), t11 = int16_t(t1 + t2),
                          t12 = int16_t(t1 - t2);
            // t10 + t11 reaches -32768 for a block of black: summed in 32 bits.
            o[u] = int16_t((int32_t(t10) + t11 + 2) >> 2);
            o[32 + u] = int16_t((int32_t(t10) - t11 + 2) >> 2);
            o[16 + u] = int16_t((Mul(t13, kF0541 + kF0765) + Mul(t12, kF0541) + 16384) >> 15);
            o[48 + u] = int16_t((Mul(t13, kF0541) + Mul(t12, kF0541 - kF1847) + 16384) >> 15);
            const TOdd odd = OddPart(t4, t5, t6, t7);
            o[8 + u] = int16_t((odd.o1 + 16384) >> 15);
            o[24 + u] = int16_t((odd.o3 + 16384) >> 15);
            o[40 + u] = int16_t((odd.o5 + 16384) >> 15);
            o[56 + u] = int16_t((odd.o7 + 16384) >> 15);
        }
    }
}

} // namespace

void ForwardDctBlockRow(const uint8_t* rows, size_t stride, int wib, int16_t* out, std::vector<int16_t>& scratch)
{
    const int n = wib * 8;
    scratch.resize(size_t(n) * 8);
    for (int r = 0; r < 8; ++r)
        RowPass(rows + stride * size_t(r), wib, scratch.data() + size_t(n) * size_t(r));
    ColumnPass(scratch.data(), n, wib, out);
}

#endif
