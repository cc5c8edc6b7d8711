// The SIMD DCTs two blocks at a time in AVX2's 256-bit registers. Built with
// AVX2 enabled; JpegSave_Dct.cpp calls in only where the processor has it.
#if defined(__AVX2__)

#include "jpegmeta/JpegSave_DctSimd.h"

namespace {
namespace simd {

// Two blocks side by side, one in each 128-bit half.
struct S256 {
    using V = __m256i;
    static constexpr int kBlocks = 2;
    static V Zero() { return _mm256_setzero_si256(); }
    static V Set8(char x) { return _mm256_set1_epi8(x); }
    static V Set16(int16_t x) { return _mm256_set1_epi16(x); }
    static V Set32(int32_t x) { return _mm256_set1_epi32(x); }
    static V Pair(int16_t ca, int16_t cb)
    {
        return _mm256_set1_epi32(int32_t(uint16_t(ca) | (uint32_t(uint16_t(cb)) << 16)));
    }
    static V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
    static V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
    static V Sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V Madd(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V Mullo16(V a, V b) { return _mm256_mullo_epi16(a, b); }
    static V MulhiU16(V a, V b) { return _mm256_mulhi_epu16(a, b); }
    static V CmpGt16(V a, V b) { return _mm256_cmpgt_epi16(a, b); }
    static V Load16(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void Store16(int16_t* p, V a) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), a); }
    static V Lo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    static V Hi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
    static V Lo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    static V Hi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    static V Lo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V Hi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
    static V Packs32(V a, V b) { return _mm256_packs_epi32(a, b); }
    static V Packs16(V a, V b) { return _mm256_packs_epi16(a, b); }
    static V And(V a, V b) { return _mm256_and_si256(a, b); }
    static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
    template <int n>
    static V Sll16(V a) { return _mm256_slli_epi16(a, n); }
    template <int n>
    static V Sra16(V a) { return _mm256_srai_epi16(a, n); }
    template <int n>
    static V Sra32(V a) { return _mm256_srai_epi32(a, n); }
    static V NotDc() { return _mm256_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0, -1, -1, -1, -1, -1, -1, -1, 0); }
    static bool AllZero(V a) { return _mm256_movemask_epi8(_mm256_cmpeq_epi16(a, Zero())) == -1; }
    // Row r of both blocks: 16 samples in a row.
    static V LoadSamples(const uint8_t* p)
    {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static void StoreCoefRow(int16_t* p, V a)
    {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(a));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 64), _mm256_extracti128_si256(a, 1));
    }
    static V LoadCoefRow(const JCOEF* p)
    {
        return _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 64)), 1);
    }
    static V LoadQuantRow(const uint16_t* p)
    {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static void StoreSampleRow(uint8_t* p, V a)
    {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(a));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 8), _mm256_extracti128_si256(a, 1));
    }
};

} // namespace simd
} // namespace

void ForwardDctBlockRowAvx2(const uint8_t* rows, size_t stride, int wib, int16_t* out)
{
    int bx = 0;
    for (; bx + 2 <= wib; bx += 2)
        simd::ForwardBlocks<simd::S256>(rows + 8 * size_t(bx), stride, out + 64 * size_t(bx));
    if (bx < wib)
        simd::ForwardBlocks<simd::S128>(rows + 8 * size_t(bx), stride, out + 64 * size_t(bx));
}

void QuantizeBlocksAvx2(const int16_t* coef, int nblocks, const TDivisors& d, JCOEF* out, TAcCounts& counts)
{
    simd::QuantizeBlocks<simd::S256>(coef, nblocks, d, out, counts);
}

void InverseDctBlockRowAvx2(const JCOEF* blocks, int wib, const uint16_t* quant, uint8_t* rows, size_t stride)
{
    __m256i q2[8];
    __m128i q1[8];
    for (int r = 0; r < 8; ++r) {
        q2[r] = simd::S256::LoadQuantRow(quant + 8 * r);
        q1[r] = simd::S128::LoadQuantRow(quant + 8 * r);
    }
    int bx = 0;
    for (; bx + 2 <= wib; bx += 2)
        simd::InverseBlocks<simd::S256>(blocks + 64 * size_t(bx), q2, quant[0], rows + 8 * size_t(bx), stride);
    if (bx < wib)
        simd::InverseBlocks<simd::S128>(blocks + 64 * size_t(bx), q1, quant[0], rows + 8 * size_t(bx), stride);
}

#endif
