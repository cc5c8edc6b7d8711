// libjpeg's accurate integer DCTs reproduced bit for bit, and libjpeg-turbo's
// quantization: with SSE2 (and AVX2 where the processor has it) the way
// libjpeg-turbo's own SIMD versions compute them (JpegSave_DctSimd.h);
// otherwise in plain loops the compiler vectorizes.
#include "jpegmeta/JpegSave_Prepared.h"

#include <algorithm>
#include <cstdlib>


#if defined(__SSE2__)

#include "jpegmeta/JpegSave_DctSimd.h"

#if defined(CORVANTA_JPEG_AVX2)
// In JpegSave_DctAvx2.cpp, built for AVX2: run only where the processor has it.
void ForwardDctBlockRowAvx2(const uint8_t* rows, size_t stride, int wib, int16_t* out);
void InverseDctBlockRowAvx2(const JCOEF* blocks, int wib, const uint16_t* quant, uint8_t* rows, size_t stride);
void QuantizeBlocksAvx2(const int16_t* coef, int nblocks, const TDivisors& d, JCOEF* out, TAcCounts& counts);
namespace {
// CORVANTA_JPEG_NO_AVX2 keeps to SSE2, so that path can be checked here too.
bool HaveAvx2()
{
    static const bool have = __builtin_cpu_supports("avx2") && !std::getenv("CORVANTA_JPEG_NO_AVX2");
    return have;
}
} // namespace
#endif

void ForwardDctBlockRow(const uint8_t* rows, size_t stride, int wib, int16_t* out, std::vector<int16_t>&)
{
#if defined(CORVANTA_JPEG_AVX2)
    if (HaveAvx2()) {
        ForwardDctBlockRowAvx2(rows, stride, wib, out);
        return;
    }
#endif
    for (int bx = 0; bx < wib; ++bx)
        simd::ForwardBlocks<simd::S128>(rows + 8 * size_t(bx), stride, out + 64 * size_t(bx));
}

void QuantizeBlocks(const int16_t* coef, int nblocks, const TDivisors& d, JCOEF* out, TAcCounts& counts)
{
#if defined(CORVANTA_JPEG_AVX2)
    if (HaveAvx2()) {
        QuantizeBlocksAvx2(coef, nblocks, d, out, counts);
        return;
    }
#endif
    simd::QuantizeBlocks<simd::S128>(coef, nblocks, d, out, counts);
}

void InverseDctBlockRow(const JCOEF* blocks, int wib, const uint16_t* quant, uint8_t* rows, size_t stride)
{
#if defined(CORVANTA_JPEG_AVX2)
    if (HaveAvx2()) {
        InverseDctBlockRowAvx2(blocks, wib, quant, rows, stride);
        return;
    }
#endif
    __m128i q[8];
    for (int r = 0; r < 8; ++r)
        q[r] = simd::S128::LoadQuantRow(quant + 8 * r);
    for (int bx = 0; bx < wib; ++bx)
        simd::InverseBlocks<simd::S128>(blocks + 64 * size_t(bx), q, quant[0], rows + 8 * size_t(bx), stride);
}

#else

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

void QuantizeBlocks(const int16_t* coef, int nblocks, const TDivisors& d, JCOEF* out, TAcCounts& counts)
{
    for (int b = 0; b < nblocks; ++b, coef += 64, out += 64)
        for (int i = 0; i < 64; ++i) {
            const int32_t x = coef[i];
            const uint32_t a = uint32_t(x < 0 ? -x : x) + d.corr[i];
            const uint32_t q = (((a * d.recip[i]) >> 16) * d.scale[i]) >> 16;
            out[i] = JCOEF(x < 0 ? -int32_t(q) : int32_t(q));
            if (i > 0)
                for (int t = 0; t < 4; ++t)
                    counts.n[t] += q >= (1u << t) ? 1 : 0;
        }
}

void ForwardDctBlockRow(const uint8_t* rows, size_t stride, int wib, int16_t* out, std::vector<int16_t>& scratch)
{
    const int n = wib * 8;
    scratch.resize(size_t(n) * 8);
    for (int r = 0; r < 8; ++r)
        RowPass(rows + stride * size_t(r), wib, scratch.data() + size_t(n) * size_t(r));
    ColumnPass(scratch.data(), n, wib, out);
}

#endif
