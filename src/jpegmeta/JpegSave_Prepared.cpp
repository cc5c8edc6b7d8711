// Encodes of one picture at several qualities with the quality-independent
// work done once. Every step up to the quantization reproduces libjpeg-turbo's
// own compressor exactly, so the files are byte for byte those of a plain
// encode: the colour conversion and subsampling are libjpeg-turbo's (through
// TurboJPEG's YUV encoder, which runs the compressor's own converter and
// downsampler), the edge replication follows the compressor's preprocessing,
// and the DCT is the accurate integer DCT (jfdctint, JpegSave_Dct.cpp).
// Quantization is libjpeg-turbo's too; libjpeg itself then entropy-codes and
// writes the file from the quantized coefficients, unless a lower bound of
// the entropy-coded size, counted while quantizing, is already over the
// caller's limit.
#include "jpegmeta/JpegSave_Prepared.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <jerror.h>

namespace {

// The shortest code of a Huffman table.
int ShortestCode(const JHUFF_TBL* table)
{
    for (int l = 1; l <= 16; ++l)
        if (table && table->bits[l] > 0)
            return l;
    return 1;
}

} // namespace

TJpegPrepared::Impl::Impl()
{
    InitJpegErrors(err);
    cinfo.err = &err.pub;
    jpeg_create_compress(&cinfo);
    dest.Attach(cinfo);
    cinfo.client_data = this;
    libjpegAccess = cinfo.mem->access_virt_barray;
    cinfo.mem->access_virt_barray = AccessArray;
    tj = tjInitCompress();
}

TJpegPrepared::Impl::~Impl()
{
    jpeg_destroy_compress(&cinfo);
    if (tj)
        tjDestroy(tj);
}

bool TJpegPrepared::Impl::Fail(const std::string& why)
{
    lastError = why;
    prepared = false;
    return false;
}

bool TJpegPrepared::Impl::Planes(const TBgrView& img)
{
    const int w = img.Width, h = img.Height;
    // The compressor widens every row to whole MCUs by repeating the last
    // pixel before it subsamples; the same widening done here first gives
    // the subsampler identical input.
    const int padW = (w + 15) & ~15;
    const uint8_t* src = img.Bits;
    size_t pitch = img.Stride;
    if (padW != w) {
        pitch = size_t(padW) * 3;
        padded.resize(pitch * size_t(h));
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = img.Bits + size_t(y) * img.Stride;
            uint8_t* t = padded.data() + size_t(y) * pitch;
            std::memcpy(t, s, size_t(w) * 3);
            for (int x = w; x < padW; ++x)
                std::memcpy(t + 3 * x, s + 3 * (w - 1), 3);
        }
        src = padded.data();
    }
    comp[0].wib = (w + 7) / 8;
    comp[0].hib = (h + 7) / 8;
    comp[0].stride = padW;
    comp[1].wib = comp[2].wib = (w + 15) / 16;
    comp[1].hib = comp[2].hib = (h + 15) / 16;
    comp[1].stride = comp[2].stride = padW / 2;
    unsigned char* planes[3];
    int strides[3];
    for (int c = 0; c < 3; ++c) {
        comp[c].plane.resize(size_t(comp[c].stride) * size_t(comp[c].hib) * 8);
        planes[c] = comp[c].plane.data();
        strides[c] = comp[c].stride;
    }
    if (!tj || tjEncodeYUVPlanes(tj, src, padW, int(pitch), h, TJPF_BGR, planes, strides, TJSAMP_420, 0) != 0)
        return Fail(tj ? tjGetErrorStr2(tj) : "TurboJPEG not available");
    // Below the picture each plane repeats its last row down to whole blocks,
    // as the compressor's preprocessing does after subsampling.
    const int rows[3] = {h, (h + 1) / 2, (h + 1) / 2};
    for (int c = 0; c < 3; ++c) {
        TComp& k = comp[c];
        const uint8_t* last = k.plane.data() + size_t(k.stride) * size_t(rows[c] - 1);
        for (int y = rows[c]; y < k.hib * 8; ++y)
            std::memcpy(k.plane.data() + size_t(k.stride) * size_t(y), last, size_t(k.stride));
    }
    return true;
}

void TJpegPrepared::Impl::Transform(TComp& k)
{
    k.coef.resize(size_t(k.wib) * size_t(k.hib) * 64);
    for (int by = 0; by < k.hib; ++by)
        ForwardDctBlockRow(k.plane.data() + size_t(k.stride) * size_t(by) * 8, size_t(k.stride), k.wib,
                           k.coef.data() + size_t(by) * size_t(k.wib) * 64, rowPass);
    k.source = k.coef.data();
}

bool TJpegPrepared::Impl::Prepare(const TBgrView& img)
{
    lastError.clear();
    prepared = false;
    written = false;
    if (!img.Bits || img.Width <= 0 || img.Height <= 0 || img.Width > 65500 || img.Height > 65500 ||
        img.Stride < size_t(img.Width) * 3)
        return Fail("invalid picture");
    width = img.Width;
    height = img.Height;
    try {
        if (!Planes(img))
            return false;
        for (TComp& k : comp)
            Transform(k);
    } catch (const std::bad_alloc&) {
        return Fail("out of memory");
    }
    prepared = true;
    return true;
}

bool TJpegPrepared::Impl::Write(int quality, size_t maxBytes)
{
    if (setjmp(err.jump)) {
        lastError = err.message;
        jpeg_abort_compress(&cinfo);
        return false;
    }
    written = false;
    Setup(quality);
    jvirt_barray_ptr arrays[3];
    uint64_t bits = 0;
    for (int c = 0; c < 3; ++c) {
        const jpeg_component_info& ci = cinfo.comp_info[c];
        const JQUANT_TBL* table = cinfo.quant_tbl_ptrs[ci.quant_tbl_no];
        TDivisors divisors;
        divisors.Set(*table);
        // libjpeg reads whole MCU rows: the rows past the picture exist (with
        // whatever they hold) although only dummy blocks are coded there.
        TComp& k = comp[c];
        const size_t rows = size_t((k.hib + ci.v_samp_factor - 1) / ci.v_samp_factor * ci.v_samp_factor);
        k.quantized.resize(rows * size_t(k.wib) * 64);
        k.rows.resize(rows);
        for (size_t r = 0; r < rows; ++r)
            k.rows[r] = reinterpret_cast<JBLOCKROW>(k.quantized.data() + r * size_t(k.wib) * 64);
        TAcCounts counts;
        QuantizeBlocks(k.source, k.wib * k.hib, divisors, k.quantized.data(), counts);
        bits += uint64_t(ShortestCode(cinfo.ac_huff_tbl_ptrs[ci.ac_tbl_no])) * counts.n[0] + counts.n[0] +
                counts.n[1] + counts.n[2] + counts.n[3];
        for (int i = 0; i < 64; ++i)
            k.quant[i] = uint16_t(table->quantval[i]);
        arrays[c] = reinterpret_cast<jvirt_barray_ptr>(&k);
    }
    skipped = bits / 8 > maxBytes;
    if (skipped)
        return true;
    jpeg_write_coefficients(&cinfo, arrays);
    jpeg_finish_compress(&cinfo);
    written = true;
    return true;
}

// libjpeg reaches the coefficients through its memory manager; the arrays
// handed to jpeg_write_coefficients are this encoder's own buffers, which
// live as long as the encoder, so no encode allocates (and faults in) fresh
// pages for them. Any other array goes to libjpeg's own method.
JBLOCKARRAY TJpegPrepared::Impl::AccessArray(j_common_ptr c, jvirt_barray_ptr ptr, JDIMENSION first,
                                             JDIMENSION count, boolean writable)
{
    Impl* self = static_cast<Impl*>(c->client_data);
    for (TComp& k : self->comp)
        if (ptr == reinterpret_cast<jvirt_barray_ptr>(&k)) {
            if (size_t(first) + count > k.rows.size())
                ERREXIT(c, JERR_BAD_VIRTUAL_ACCESS);
            return k.rows.data() + first;
        }
    return self->libjpegAccess(c, ptr, first, count, writable);
}

// The settings of a plain encode (TJpegEncoder): defaults for BGR input,
// then the quality's tables, baseline.
void TJpegPrepared::Impl::Setup(int quality)
{
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    // The planes were made for YCbCr with 2x2 luma and 1x1 chroma sampling.
    if (cinfo.num_components != 3 || cinfo.comp_info[0].h_samp_factor != 2 || cinfo.comp_info[0].v_samp_factor != 2 ||
        cinfo.comp_info[1].h_samp_factor != 1 || cinfo.comp_info[1].v_samp_factor != 1 ||
        cinfo.comp_info[2].h_samp_factor != 1 || cinfo.comp_info[2].v_samp_factor != 1)
        ERREXIT(&cinfo, JERR_BAD_SAMPLING);
}

TJpegPrepared::TJpegPrepared() : d(new Impl) {}
TJpegPrepared::~TJpegPrepared() = default;

const std::string& TJpegPrepared::LastError() const { return d->lastError; }

bool TJpegPrepared::Prepare(const TBgrView& img) { return d->Prepare(img); }

bool TJpegPrepared::ShareFrom(const TJpegPrepared& other)
{
    Impl& m = *d;
    const Impl& o = *other.d;
    m.lastError.clear();
    m.prepared = m.written = false;
    if (!o.prepared || &o == &m)
        return m.Fail(o.prepared ? "an encoder cannot share with itself" : "no picture prepared");
    m.width = o.width;
    m.height = o.height;
    for (int c = 0; c < 3; ++c) {
        m.comp[c].wib = o.comp[c].wib;
        m.comp[c].hib = o.comp[c].hib;
        m.comp[c].stride = o.comp[c].stride;
        m.comp[c].source = o.comp[c].source;
    }
    m.prepared = true;
    return true;
}

bool TJpegPrepared::Encode(int quality, std::vector<uint8_t>& out)
{
    return EncodeWithin(quality, SIZE_MAX, out);
}

bool TJpegPrepared::EncodeWithin(int quality, size_t maxBytes, std::vector<uint8_t>& out)
{
    d->lastError.clear();
    if (!d->prepared || quality < 1 || quality > 100) {
        d->lastError = d->prepared ? "invalid quality" : "no picture prepared";
        return false;
    }
    if (!d->Write(quality, maxBytes))
        return false;
    if (d->skipped)
        out.clear();
    else
        out.assign(d->dest.buf.begin(), d->dest.buf.begin() + std::ptrdiff_t(d->dest.used));
    return true;
}

TJpegPrepared& ThreadJpegPrepared()
{
    thread_local TJpegPrepared prepared;
    return prepared;
}
