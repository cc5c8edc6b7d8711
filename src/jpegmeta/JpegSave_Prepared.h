#pragma once
// The state behind TJpegPrepared, shared by its encoder and its size counter.

#include "jpegmeta/JpegSave.h"
#include "jpegmeta/JpegSave_Internal.h"

#include <string>
#include <turbojpeg.h>
#include <vector>

struct TJpegPrepared::Impl {
    // One colour component: its samples widened and lengthened to whole
    // blocks, and their DCT coefficients before quantization, block after
    // block in rows, each block in libjpeg's natural order.
    struct TComp {
        int wib = 0, hib = 0; // width and height in blocks
        int stride = 0;
        std::vector<uint8_t> plane;
        std::vector<int16_t> coef;
        const int16_t* source = nullptr; // the coefficients encoded: coef's, or a shared encoder's
        // The coefficients quantized for the encode under way, and the
        // block rows libjpeg reads them through.
        std::vector<JCOEF> quantized;
        std::vector<JBLOCKROW> rows;
        uint16_t quant[64] = {}; // the quantization table of that encode
        std::vector<uint8_t> decoded; // its samples as a decoder sees them
    };

    jpeg_compress_struct cinfo{};
    TJpegErrorMgr err{};
    TJpegMemoryDest dest;
    tjhandle tj = nullptr;
    std::string lastError;
    int width = 0, height = 0;
    bool prepared = false;
    bool written = false; // dest holds the last Encode's file
    TComp comp[3];
    std::vector<uint8_t> padded;
    std::vector<int16_t> rowPass;

    Impl();
    ~Impl();
    bool Fail(const std::string& why);
    bool Prepare(const TBgrView& img);
    bool Planes(const TBgrView& img);
    void Transform(TComp& k);
    void Setup(int quality);
    // Encodes into dest, unless the coefficients prove the file would be
    // over maxBytes: then `skipped` is set and no file is made.
    bool Write(int quality, size_t maxBytes);
    bool skipped = false;
    bool Reconstruct(TBgrRowsFor rows, void* context);
    using TAccess = JBLOCKARRAY (*)(j_common_ptr, jvirt_barray_ptr, JDIMENSION, JDIMENSION, boolean);
    TAccess libjpegAccess = nullptr;
    static JBLOCKARRAY AccessArray(j_common_ptr c, jvirt_barray_ptr ptr, JDIMENSION first, JDIMENSION count,
                                   boolean writable);
};

// libjpeg-turbo's quantization: the magnitude rounded to the nearest multiple
// of the divisor 8 * q (the islow DCT's output is 8 times the true
// coefficient), halves down, the sign kept. Like libjpeg-turbo it divides by
// multiplying with a 16-bit reciprocal and rescaling (jcdctmgr.c's
// compute_reciprocal); for magnitudes below 2^16 that is the exact quotient.
struct TDivisors {
    uint16_t recip[64], corr[64], scale[64];
    void Set(const JQUANT_TBL& table)
    {
        for (int i = 0; i < 64; ++i) {
            const uint32_t divisor = uint32_t(table.quantval[i]) * 8;
            int b = 0;
            while ((divisor >> (b + 1)) != 0)
                ++b;
            int r = 16 + b;
            uint32_t fq = (uint32_t(1) << r) / divisor;
            const uint32_t fr = (uint32_t(1) << r) % divisor;
            uint32_t c = divisor / 2;
            if (fr == 0) {
                fq >>= 1;
                --r;
            } else if (fr <= divisor / 2) {
                ++c;
            } else {
                ++fq;
            }
            recip[i] = uint16_t(fq);
            corr[i] = uint16_t(c);
            scale[i] = uint16_t(1u << (32 - r));
        }
    }
};

// How many of the quantized AC coefficients reach 1, 2, 4 and 8 in magnitude.
// Each nonzero one is written as a Huffman code of at least the table's
// shortest length plus its magnitude's bits (1 for 1, 2 from 2, 3 from 4, 4
// and more from 8), which bounds the entropy-coded size from below.
struct TAcCounts {
    uint64_t n[4] = {};
};

// Quantizes `nblocks` blocks of coefficients (as ForwardDctBlockRow makes
// them) into `out` and adds their AC magnitudes to `counts`.
void QuantizeBlocks(const int16_t* coef, int nblocks, const TDivisors& d, JCOEF* out, TAcCounts& counts);

// The accurate integer forward DCT of libjpeg (jfdctint.c), bit for bit, over
// one row of `wib` blocks: 8 rows of samples `stride` apart in, wib blocks of
// 64 coefficients (natural order, 8 times the true values) out. `scratch` is
// working memory kept between calls.
void ForwardDctBlockRow(const uint8_t* rows, size_t stride, int wib, int16_t* out, std::vector<int16_t>& scratch);

#if defined(__SSE2__)
// libjpeg-turbo's accurate inverse DCT (jidctint.c, as its SIMD decoder runs
// it) over one row of `wib` quantized blocks, dequantized with `quant`: 8
// rows of samples `stride` apart out.
void InverseDctBlockRow(const JCOEF* blocks, int wib, const uint16_t* quant, uint8_t* rows, size_t stride);
#endif
