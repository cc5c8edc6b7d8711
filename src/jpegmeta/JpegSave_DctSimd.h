#pragma once
// The SIMD DCTs behind JpegSave_Dct.cpp, written once over a vector type:
// 128-bit registers hold one 8x8 block (SSE2), 256-bit ones two side by side
// (AVX2, whose unpacks work within each 128-bit half). Included by one file
// built for the baseline and one built for AVX2; everything here has internal
// linkage so the two builds never mix. The arithmetic is libjpeg-turbo's:
// every product pairs factors that fit 16 bits through a multiply-add, and
// the sums are jfdctint's and jidctint's integers.

#include "jpegmeta/JpegSave_Prepared.h"

#include <cstring>
#include <immintrin.h>

namespace {
namespace simd {

// jfdctint's and jidctint's constants: CONST_BITS 13, PASS1_BITS 2.
constexpr int16_t kF0298 = 2446, kF0390 = 3196, kF0541 = 4433, kF0765 = 6270, kF0899 = 7373, kF1175 = 9633,
                  kF1501 = 12299, kF1847 = 15137, kF1961 = 16069, kF2053 = 16819, kF2562 = 20995, kF3072 = 25172;

template <class S>
struct TWide {
    typename S::V lo, hi;
};

template <class S>
inline TWide<S> PairWide(typename S::V a, typename S::V b, int16_t ca, int16_t cb)
{
    const typename S::V c = S::Pair(ca, cb);
    return {S::Madd(S::Lo16(a, b), c), S::Madd(S::Hi16(a, b), c)};
}
template <class S>
inline TWide<S> Plus(TWide<S> a, TWide<S> b)
{
    return {S::Add32(a.lo, b.lo), S::Add32(a.hi, b.hi)};
}
template <class S>
inline TWide<S> Minus(TWide<S> a, TWide<S> b)
{
    return {S::Sub32(a.lo, b.lo), S::Sub32(a.hi, b.hi)};
}
// Rounded, shifted down by `shift` and packed back to 16 bits.
template <class S, int shift>
inline typename S::V Packed(TWide<S> x)
{
    const typename S::V round = S::Set32(1 << (shift - 1));
    return S::Packs32(S::template Sra32<shift>(S::Add32(x.lo, round)),
                      S::template Sra32<shift>(S::Add32(x.hi, round)));
}

template <class S>
inline void Transpose(typename S::V (&v)[8])
{
    using V = typename S::V;
    const V a0 = S::Lo16(v[0], v[1]), a1 = S::Hi16(v[0], v[1]), a2 = S::Lo16(v[2], v[3]), a3 = S::Hi16(v[2], v[3]);
    const V a4 = S::Lo16(v[4], v[5]), a5 = S::Hi16(v[4], v[5]), a6 = S::Lo16(v[6], v[7]), a7 = S::Hi16(v[6], v[7]);
    const V b0 = S::Lo32(a0, a2), b1 = S::Hi32(a0, a2), b2 = S::Lo32(a1, a3), b3 = S::Hi32(a1, a3);
    const V b4 = S::Lo32(a4, a6), b5 = S::Hi32(a4, a6), b6 = S::Lo32(a5, a7), b7 = S::Hi32(a5, a7);
    v[0] = S::Lo64(b0, b4);
    v[1] = S::Hi64(b0, b4);
    v[2] = S::Lo64(b1, b5);
    v[3] = S::Hi64(b1, b5);
    v[4] = S::Lo64(b2, b6);
    v[5] = S::Hi64(b2, b6);
    v[6] = S::Lo64(b3, b7);
    v[7] = S::Hi64(b3, b7);
}

// One 1-D pass of the forward DCT over 8 lanes: v[k] holds input k of every
// lane. The first pass keeps PASS1_BITS of extra precision, the second
// removes it.
template <class S, bool first>
inline void ForwardPass(typename S::V (&v)[8])
{
    using V = typename S::V;
    constexpr int shift = first ? 11 : 15;
    const V t0 = S::Add16(v[0], v[7]), t7 = S::Sub16(v[0], v[7]), t1 = S::Add16(v[1], v[6]),
            t6 = S::Sub16(v[1], v[6]);
    const V t2 = S::Add16(v[2], v[5]), t5 = S::Sub16(v[2], v[5]), t3 = S::Add16(v[3], v[4]),
            t4 = S::Sub16(v[3], v[4]);
    const V t10 = S::Add16(t0, t3), t13 = S::Sub16(t0, t3), t11 = S::Add16(t1, t2), t12 = S::Sub16(t1, t2);
    if (first) {
        v[0] = S::template Sll16<2>(S::Add16(t10, t11));
        v[4] = S::template Sll16<2>(S::Sub16(t10, t11));
    } else {
        // t10 + t11 stays within 16 bits: its extremes are -32768 and 32512.
        const V two = S::Set16(2);
        v[0] = S::template Sra16<2>(S::Add16(S::Add16(t10, t11), two));
        v[4] = S::template Sra16<2>(S::Add16(S::Sub16(t10, t11), two));
    }
    v[2] = Packed<S, shift>(PairWide<S>(t13, t12, kF0541 + kF0765, kF0541));
    v[6] = Packed<S, shift>(PairWide<S>(t13, t12, kF0541, kF0541 - kF1847));
    const V z3 = S::Add16(t4, t6), z4 = S::Add16(t5, t7);
    const TWide<S> z3s = PairWide<S>(z3, z4, kF1175 - kF1961, kF1175);
    const TWide<S> z4s = PairWide<S>(z3, z4, kF1175, kF1175 - kF0390);
    v[1] = Packed<S, shift>(Plus(PairWide<S>(t4, t7, -kF0899, kF1501 - kF0899), z4s));
    v[3] = Packed<S, shift>(Plus(PairWide<S>(t5, t6, -kF2562, kF3072 - kF2562), z3s));
    v[5] = Packed<S, shift>(Plus(PairWide<S>(t5, t6, kF2053 - kF2562, -kF2562), z4s));
    v[7] = Packed<S, shift>(Plus(PairWide<S>(t4, t7, kF0298 - kF0899, -kF0899), z3s));
}

// One 1-D pass of the inverse DCT, kept in 16 bits between the passes as
// libjpeg-turbo's SIMD decoder keeps it.
template <class S, bool first>
inline void InversePass(typename S::V (&v)[8])
{
    using V = typename S::V;
    constexpr int shift = first ? 11 : 18;
    const TWide<S> t3 = PairWide<S>(v[2], v[6], kF0541 + kF0765, kF0541);
    const TWide<S> t2 = PairWide<S>(v[2], v[6], kF0541, kF0541 - kF1847);
    // (in0 +- in4) << CONST_BITS: the 16-bit sum in the upper half of each
    // 32-bit lane, shifted down arithmetically.
    const V zero = S::Zero(), sum = S::Add16(v[0], v[4]), dif = S::Sub16(v[0], v[4]);
    const TWide<S> t0 = {S::template Sra32<3>(S::Lo16(zero, sum)), S::template Sra32<3>(S::Hi16(zero, sum))};
    const TWide<S> t1 = {S::template Sra32<3>(S::Lo16(zero, dif)), S::template Sra32<3>(S::Hi16(zero, dif))};
    const TWide<S> t10 = Plus(t0, t3), t13 = Minus(t0, t3), t11 = Plus(t1, t2), t12 = Minus(t1, t2);
    const V z3 = S::Add16(v[7], v[3]), z4 = S::Add16(v[5], v[1]);
    const TWide<S> z3s = PairWide<S>(z3, z4, kF1175 - kF1961, kF1175);
    const TWide<S> z4s = PairWide<S>(z3, z4, kF1175, kF1175 - kF0390);
    const TWide<S> o0 = Plus(PairWide<S>(v[7], v[1], kF0298 - kF0899, -kF0899), z3s);
    const TWide<S> o3 = Plus(PairWide<S>(v[7], v[1], -kF0899, kF1501 - kF0899), z4s);
    const TWide<S> o1 = Plus(PairWide<S>(v[5], v[3], kF2053 - kF2562, -kF2562), z4s);
    const TWide<S> o2 = Plus(PairWide<S>(v[5], v[3], -kF2562, kF3072 - kF2562), z3s);
    v[0] = Packed<S, shift>(Plus(t10, o3));
    v[7] = Packed<S, shift>(Minus(t10, o3));
    v[1] = Packed<S, shift>(Plus(t11, o2));
    v[6] = Packed<S, shift>(Minus(t11, o2));
    v[2] = Packed<S, shift>(Plus(t12, o1));
    v[5] = Packed<S, shift>(Minus(t12, o1));
    v[3] = Packed<S, shift>(Plus(t13, o0));
    v[4] = Packed<S, shift>(Minus(t13, o0));
}

// The forward DCT of S::kBlocks blocks side by side from 8 sample rows.
template <class S>
inline void ForwardBlocks(const uint8_t* rows, size_t stride, int16_t* out)
{
    typename S::V v[8];
    for (int r = 0; r < 8; ++r)
        v[r] = S::Sub16(S::LoadSamples(rows + size_t(r) * stride), S::Set16(128));
    Transpose<S>(v); // columns per register: the first pass runs along the rows
    ForwardPass<S, true>(v);
    Transpose<S>(v); // back to rows: the second pass runs down the columns
    ForwardPass<S, false>(v);
    for (int r = 0; r < 8; ++r)
        S::StoreCoefRow(out + 8 * r, v[r]);
}

// The inverse DCT of S::kBlocks quantized blocks, dequantized by `q`, into 8
// sample rows; saturated to -128..127 and moved to 0..255 as the SIMD decoder
// does. A block whose AC coefficients are all zero is flat: both passes then
// reduce to (DC + 4) >> 3 everywhere, which is what it gets straight away.
template <class S>
inline void InverseBlocks(const JCOEF* blocks, const typename S::V (&q)[8], int dcQuant, uint8_t* rows,
                          size_t stride)
{
    using V = typename S::V;
    V v[8];
    for (int r = 0; r < 8; ++r)
        v[r] = S::LoadCoefRow(blocks + 8 * r);
    V ac = S::And(v[0], S::NotDc());
    for (int r = 1; r < 8; ++r)
        ac = S::Or(ac, v[r]);
    if (S::AllZero(ac)) {
        for (int b = 0; b < S::kBlocks; ++b) {
            const int dc = (int(blocks[64 * b]) * dcQuant + 4) >> 3;
            const uint8_t flat = uint8_t((dc < -128 ? -128 : dc > 127 ? 127 : dc) + 128);
            for (int r = 0; r < 8; ++r)
                std::memset(rows + size_t(r) * stride + 8 * b, flat, 8);
        }
        return;
    }
    for (int r = 0; r < 8; ++r)
        v[r] = S::Mullo16(v[r], q[r]);
    InversePass<S, true>(v); // down the columns
    Transpose<S>(v);
    InversePass<S, false>(v); // along the rows
    Transpose<S>(v);
    const V center = S::Set8(-128);
    for (int r = 0; r < 8; ++r)
        S::StoreSampleRow(rows + size_t(r) * stride, S::Xor(S::Packs16(v[r], v[r]), center));
}

// libjpeg-turbo's quantization (TDivisors) of `nblocks` blocks, 8 * S::kBlocks
// coefficients of one block per register, and the AC magnitudes that reach 1,
// 2, 4 and 8 counted on the way.
template <class S>
inline void QuantizeBlocks(const int16_t* coef, int nblocks, const TDivisors& d, JCOEF* out, TAcCounts& counts)
{
    using V = typename S::V;
    constexpr int kLanes = 8 * S::kBlocks, kSteps = 64 / kLanes;
    V corr[kSteps], recip[kSteps], scale[kSteps];
    for (int j = 0; j < kSteps; ++j) {
        corr[j] = S::Load16(reinterpret_cast<const int16_t*>(d.corr) + j * kLanes);
        recip[j] = S::Load16(reinterpret_cast<const int16_t*>(d.recip) + j * kLanes);
        scale[j] = S::Load16(reinterpret_cast<const int16_t*>(d.scale) + j * kLanes);
    }
    alignas(32) static const int16_t kNotDc[16] = {0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    const V notDc = S::Load16(kNotDc);
    const V limit[4] = {S::Zero(), S::Set16(1), S::Set16(3), S::Set16(7)};
    V acc[4] = {S::Zero(), S::Zero(), S::Zero(), S::Zero()};
    uint64_t total[4] = {};
    for (int b = 0; b < nblocks; ++b, coef += 64, out += 64) {
        // Unrolled whole, so the counters stay in registers.
#pragma GCC unroll 8
        for (int j = 0; j < kSteps; ++j) {
            const V x = S::Load16(coef + j * kLanes);
            const V sign = S::template Sra16<15>(x);
            V a = S::Sub16(S::Xor(x, sign), sign);
            a = S::MulhiU16(S::MulhiU16(S::Add16(a, corr[j]), recip[j]), scale[j]);
            S::Store16(out + j * kLanes, S::Sub16(S::Xor(a, sign), sign));
            if (j == 0)
                a = S::And(a, notDc);
#pragma GCC unroll 4
            for (int t = 0; t < 4; ++t)
                acc[t] = S::Sub16(acc[t], S::CmpGt16(a, limit[t]));
        }
        // Each 16-bit lane gains at most 8 a block: widened well before it could overflow.
        if ((b & 1023) == 1023 || b == nblocks - 1)
            for (int t = 0; t < 4; ++t) {
                int32_t lanes[sizeof(V) / 4];
                const V pairs = S::Madd(acc[t], S::Set16(1));
                std::memcpy(lanes, &pairs, sizeof lanes);
                for (int32_t n : lanes)
                    total[t] += uint64_t(n);
                acc[t] = S::Zero();
            }
    }
    for (int t = 0; t < 4; ++t)
        counts.n[t] += total[t];
}

// One block per 128-bit register (SSE2).
struct S128 {
    using V = __m128i;
    static constexpr int kBlocks = 1;
    static V Zero() { return _mm_setzero_si128(); }
    static V Set8(char x) { return _mm_set1_epi8(x); }
    static V Set16(int16_t x) { return _mm_set1_epi16(x); }
    static V Set32(int32_t x) { return _mm_set1_epi32(x); }
    // ca at the even 16-bit places, cb at the odd ones.
    static V Pair(int16_t ca, int16_t cb) { return _mm_set1_epi32(int32_t(uint16_t(ca) | (uint32_t(uint16_t(cb)) << 16))); }
    static V Add16(V a, V b) { return _mm_add_epi16(a, b); }
    static V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    static V Add32(V a, V b) { return _mm_add_epi32(a, b); }
    static V Sub32(V a, V b) { return _mm_sub_epi32(a, b); }
    static V Madd(V a, V b) { return _mm_madd_epi16(a, b); }
    static V Mullo16(V a, V b) { return _mm_mullo_epi16(a, b); }
    static V MulhiU16(V a, V b) { return _mm_mulhi_epu16(a, b); }
    static V CmpGt16(V a, V b) { return _mm_cmpgt_epi16(a, b); }
    static V Load16(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void Store16(int16_t* p, V a) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), a); }
    static V Lo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static V Hi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    static V Lo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V Hi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V Lo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V Hi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
    static V Packs32(V a, V b) { return _mm_packs_epi32(a, b); }
    static V Packs16(V a, V b) { return _mm_packs_epi16(a, b); }
    static V And(V a, V b) { return _mm_and_si128(a, b); }
    static V Or(V a, V b) { return _mm_or_si128(a, b); }
    static V Xor(V a, V b) { return _mm_xor_si128(a, b); }
    template <int n>
    static V Sll16(V a) { return _mm_slli_epi16(a, n); }
    template <int n>
    static V Sra16(V a) { return _mm_srai_epi16(a, n); }
    template <int n>
    static V Sra32(V a) { return _mm_srai_epi32(a, n); }
    static V NotDc() { return _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0); }
    static bool AllZero(V a) { return _mm_movemask_epi8(_mm_cmpeq_epi16(a, Zero())) == 0xFFFF; }
    static V LoadSamples(const uint8_t* p)
    {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), Zero());
    }
    static void StoreCoefRow(int16_t* p, V a) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), a); }
    static V LoadCoefRow(const JCOEF* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static V LoadQuantRow(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void StoreSampleRow(uint8_t* p, V a) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), a); }
};

} // namespace simd
} // namespace
