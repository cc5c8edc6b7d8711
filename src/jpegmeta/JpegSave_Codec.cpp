// In-memory JPEG encoding and decoding over libjpeg-turbo.
#include "jpegmeta/JpegSave.h"
#include "jpegmeta/JpegSave_Internal.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

namespace {

void ErrorExit(j_common_ptr c)
{
    auto* e = reinterpret_cast<TJpegErrorMgr*>(c->err);
    (*c->err->format_message)(c, e->message);
    std::longjmp(e->jump, 1);
}

void OutputMessage(j_common_ptr) {}

constexpr int kRowsPerCall = 16;

} // namespace

void InitJpegErrors(TJpegErrorMgr& e)
{
    jpeg_std_error(&e.pub);
    e.pub.error_exit = ErrorExit;
    e.pub.output_message = OutputMessage;
    e.message[0] = 0;
}

void TJpegMemoryDest::Attach(jpeg_compress_struct& cinfo)
{
    pub.init_destination = [](j_compress_ptr c) {
        auto* self = reinterpret_cast<TJpegMemoryDest*>(c->dest);
        self->pub.next_output_byte = self->buf.data();
        self->pub.free_in_buffer = self->buf.size();
    };
    // Called with the buffer full: keep it all and double the room.
    pub.empty_output_buffer = [](j_compress_ptr c) -> boolean {
        auto* self = reinterpret_cast<TJpegMemoryDest*>(c->dest);
        const size_t old = self->buf.size();
        bool grown = true;
        try {
            self->buf.resize(old * 2);
        } catch (...) {
            grown = false;
        }
        // Leave through libjpeg's error exit only outside the handler.
        if (!grown)
            ERREXIT(c, JERR_OUT_OF_MEMORY);
        self->pub.next_output_byte = self->buf.data() + old;
        self->pub.free_in_buffer = self->buf.size() - old;
        return TRUE;
    };
    pub.term_destination = [](j_compress_ptr c) {
        auto* self = reinterpret_cast<TJpegMemoryDest*>(c->dest);
        self->used = self->buf.size() - self->pub.free_in_buffer;
    };
    cinfo.dest = &pub;
}

struct TJpegEncoder::Impl {
    jpeg_compress_struct cinfo{};
    TJpegErrorMgr err{};
    TJpegMemoryDest dest;
    JSAMPROW rows[kRowsPerCall] = {};
    std::string lastError;

    Impl()
    {
        InitJpegErrors(err);
        cinfo.err = &err.pub;
        jpeg_create_compress(&cinfo);
        dest.Attach(cinfo);
    }
    ~Impl() { jpeg_destroy_compress(&cinfo); }

    bool Run(const TBgrView& img, int quality)
    {
        if (setjmp(err.jump)) {
            lastError = err.message;
            jpeg_abort_compress(&cinfo);
            return false;
        }
        cinfo.image_width = JDIMENSION(img.Width);
        cinfo.image_height = JDIMENSION(img.Height);
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, quality, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            const JDIMENSION first = cinfo.next_scanline;
            const JDIMENSION n = std::min<JDIMENSION>(kRowsPerCall, cinfo.image_height - first);
            for (JDIMENSION i = 0; i < n; ++i)
                rows[i] = const_cast<JSAMPROW>(img.Bits + size_t(first + i) * img.Stride);
            jpeg_write_scanlines(&cinfo, rows, n);
        }
        jpeg_finish_compress(&cinfo);
        return true;
    }
};

TJpegEncoder::TJpegEncoder() : d(new Impl) {}
TJpegEncoder::~TJpegEncoder() = default;

const std::string& TJpegEncoder::LastError() const { return d->lastError; }

bool TJpegEncoder::Encode(const TBgrView& img, int quality, std::vector<uint8_t>& out)
{
    d->lastError.clear();
    // JPEG frame dimensions are 16-bit, and libjpeg refuses above 65500.
    if (!img.Bits || img.Width <= 0 || img.Height <= 0 || img.Width > 65500 || img.Height > 65500 ||
        img.Stride < size_t(img.Width) * 3 || quality < 1 || quality > 100) {
        d->lastError = "invalid picture or quality";
        return false;
    }
    if (!d->Run(img, quality))
        return false;
    out.assign(d->dest.buf.begin(), d->dest.buf.begin() + std::ptrdiff_t(d->dest.used));
    return true;
}

TJpegEncoder& ThreadJpegEncoder()
{
    // One per thread: saves pay libjpeg's set-up and the output buffer once.
    thread_local TJpegEncoder encoder;
    return encoder;
}

bool EncodeJpeg(const TBgrView& img, int quality, std::vector<uint8_t>& out)
{
    return ThreadJpegEncoder().Encode(img, quality, out);
}

namespace {

struct Decoder {
    jpeg_decompress_struct cinfo{};
    TJpegErrorMgr err{};
    Decoder()
    {
        InitJpegErrors(err);
        cinfo.err = &err.pub;
        jpeg_create_decompress(&cinfo);
    }
    ~Decoder() { jpeg_destroy_decompress(&cinfo); }

    // No object with a destructor lives in this frame across setjmp.
    bool Run(const uint8_t* data, size_t size, TBgrRowsFor rowsFor, void* context, uint64_t maxPixels,
             const char*& why)
    {
        if (setjmp(err.jump)) {
            why = err.message;
            return false;
        }
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
        jpeg_read_header(&cinfo, TRUE);
        if (uint64_t(cinfo.image_width) * cinfo.image_height > maxPixels) {
            why = "picture too large";
            return false;
        }
        cinfo.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&cinfo);
        if (cinfo.output_components != 3) {
            why = "unsupported colour layout";
            return false;
        }
        size_t stride = 0;
        uint8_t* first = rowsFor(context, int(cinfo.output_width), int(cinfo.output_height), stride);
        if (!first || stride < size_t(cinfo.output_width) * 3) {
            why = "no memory for the picture";
            return false;
        }
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW rows[kRowsPerCall];
            const JDIMENSION at = cinfo.output_scanline;
            const JDIMENSION n = std::min<JDIMENSION>(kRowsPerCall, cinfo.output_height - at);
            for (JDIMENSION i = 0; i < n; ++i)
                rows[i] = first + size_t(at + i) * stride;
            jpeg_read_scanlines(&cinfo, rows, n);
        }
        jpeg_finish_decompress(&cinfo);
        if (cinfo.err->num_warnings > 0) {
            why = "corrupt or truncated data";
            return false;
        }
        return true;
    }
};

} // namespace

bool DecodeJpegInto(const uint8_t* data, size_t size, TBgrRowsFor rows, void* context, uint64_t maxPixels,
                    std::string* reason)
{
    if (!data || size < 4) {
        if (reason)
            *reason = "not a JPEG";
        return false;
    }
    Decoder dec;
    const char* why = nullptr;
    if (dec.Run(data, size, rows, context, maxPixels, why))
        return true;
    if (reason)
        *reason = why ? why : "decoding failed";
    return false;
}

uint8_t* IntoBgrPixels(void* context, int width, int height, size_t& stride)
{
    TBgrPixels& px = *static_cast<TBgrPixels*>(context);
    px.Width = width;
    px.Height = height;
    px.Stride = stride = (size_t(width) * 3 + 3) & ~size_t(3);
    px.Data.assign(px.Stride * size_t(height), 0);
    return px.Data.data();
}

bool DecodeJpeg(const uint8_t* data, size_t size, TBgrPixels& out, uint64_t maxPixels, std::string* reason)
{
    out = TBgrPixels{};
    if (DecodeJpegInto(data, size, IntoBgrPixels, &out, maxPixels, reason))
        return true;
    out = TBgrPixels{};
    return false;
}
