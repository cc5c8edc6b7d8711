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
