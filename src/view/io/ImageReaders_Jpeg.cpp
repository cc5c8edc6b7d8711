// JPEG files through libjpeg-turbo, decoded straight into the picture's rows.

#include "platform/ImageAlloc.h"
#include "view/io/ImageReaders.h"
#include "view/io/ImageReaders_Formats.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace imageio {

namespace {

// A progressive file may hold any number of scans, each one a full pass over
// the coefficients: a few hundred bytes can keep the decoder busy for minutes.
// Real encoders write about ten.
constexpr int kMaxProgressiveScans = 500;

struct JpegErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

struct JpegContext
{
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    jpeg_progress_mgr progress;
    std::FILE* file = nullptr;
    QImage image;
    std::vector<JSAMPLE> cmykRow;
    bool oversize = false;
    int orientation = 1;
};

[[noreturn]] void FailJpeg(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void JpegErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    FailJpeg(cinfo);
}

void JpegEmitMessage(j_common_ptr cinfo, int level)
{
    // Corrupt-data warnings are common in files from cameras that show fine;
    // a file that ends early is a truncated download and must not pass as a
    // picture with a grey lower half.
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        JpegErrorExit(cinfo);
    if (level < 0)
        ++cinfo->err->num_warnings;
}

void JpegProgress(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxProgressiveScans) {
        auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "JPEG file has more than %d progressive scans",
                      kMaxProgressiveScans);
        FailJpeg(cinfo);
    }
}

std::uint16_t Get16(const JOCTET* p, bool bigEndian)
{
    return bigEndian ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[1] << 8 | p[0]);
}

std::uint32_t Get32(const JOCTET* p, bool bigEndian)
{
    return bigEndian ? std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3]
                     : std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

// Orientation tag (0x0112) of IFD0 in an APP1 "Exif" segment; 1 when absent.
int ExifOrientation(const JOCTET* data, unsigned length)
{
    if (length < 14 || std::memcmp(data, "Exif\0\0", 6) != 0)
        return 1;
    const JOCTET* tiff = data + 6;
    const std::size_t size = length - 6;
    bool big;
    if (tiff[0] == 'M' && tiff[1] == 'M')
        big = true;
    else if (tiff[0] == 'I' && tiff[1] == 'I')
        big = false;
    else
        return 1;
    if (Get16(tiff + 2, big) != 42)
        return 1;
    const std::uint32_t ifd = Get32(tiff + 4, big);
    if (ifd > size || size - ifd < 2)
        return 1;
    const unsigned count = Get16(tiff + ifd, big);
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t entry = std::size_t(ifd) + 2 + std::size_t(i) * 12;
        if (entry + 12 > size)
            return 1;
        if (Get16(tiff + entry, big) != 0x0112)
            continue;
        // SHORT, count 1: the value sits in the first two bytes of the value field.
        if (Get16(tiff + entry + 2, big) != 3 || Get32(tiff + entry + 4, big) != 1)
            return 1;
        const int value = Get16(tiff + entry + 8, big);
        return (value >= 1 && value <= 8) ? value : 1;
    }
    return 1;
}

// Runs with the error manager armed; only trivially destructible locals here,
// because an error leaves this function by longjmp.
bool DecodeJpeg(JpegContext& ctx)
{
    jpeg_decompress_struct& cinfo = ctx.cinfo;
    if (setjmp(ctx.err.jump))
        return false;

    jpeg_stdio_src(&cinfo, ctx.file);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);

    if (!ImageSizeAllowed(cinfo.image_width, cinfo.image_height)) {
        ctx.oversize = true;
        return false;
    }
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1) {
            ctx.orientation = ExifOrientation(m->data, m->data_length);
            break;
        }
    }

    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);

    ctx.image = NewBgrImage(int(cinfo.output_width), int(cinfo.output_height));
    if (ctx.image.isNull()) {
        std::snprintf(ctx.err.message, sizeof ctx.err.message, "Out of memory for a %u x %u picture",
                      cinfo.output_width, cinfo.output_height);
        return false;
    }
    uchar* bits = ctx.image.bits();
    const qsizetype stride = ctx.image.bytesPerLine();
    if (cmyk)
        ctx.cmykRow.resize(std::size_t(cinfo.output_width) * 4);
    // Adobe applications write CMYK with 255 meaning no ink; such files carry
    // the Adobe marker, and every reader that matters goes by it.
    const bool inverted = cinfo.saw_Adobe_marker;

    while (cinfo.output_scanline < cinfo.output_height) {
        if (cmyk) {
            JSAMPROW row = ctx.cmykRow.data();
            const JDIMENSION y = cinfo.output_scanline;
            jpeg_read_scanlines(&cinfo, &row, 1);
            CmykToBgr(row, bits + y * stride, int(cinfo.output_width), inverted);
        } else {
            JSAMPROW rows[16];
            const JDIMENSION y = cinfo.output_scanline;
            JDIMENSION n = cinfo.output_height - y;
            if (n > 16)
                n = 16;
            for (JDIMENSION i = 0; i < n; ++i)
                rows[i] = bits + (y + i) * stride;
            jpeg_read_scanlines(&cinfo, rows, n);
        }
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

} // namespace

bool ReadJpegFile(const QString& fileName, QImage& out, TReadFailure& failure)
{
    JpegContext ctx;
    ctx.file = std::fopen(LocalPath(fileName).constData(), "rb");
    if (!ctx.file) {
        failure.error = QStringLiteral("Impossibile aprire il file \"%1\": %2")
                            .arg(fileName, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    ctx.cinfo.err = jpeg_std_error(&ctx.err.pub);
    ctx.err.pub.error_exit = JpegErrorExit;
    ctx.err.pub.emit_message = JpegEmitMessage;
    ctx.err.message[0] = '\0';
    jpeg_create_decompress(&ctx.cinfo);
    // The library's own ceiling for its working buffers (the coefficients of a
    // progressive file), well above what an accepted picture needs.
    ctx.cinfo.mem->max_memory_to_use = static_cast<long>(kMaxImageBytes);
    ctx.progress.progress_monitor = JpegProgress;
    ctx.cinfo.progress = &ctx.progress;

    const bool ok = DecodeJpeg(ctx);
    const unsigned width = ctx.cinfo.image_width;
    const unsigned height = ctx.cinfo.image_height;
    jpeg_destroy_decompress(&ctx.cinfo);
    std::fclose(ctx.file);

    if (!ok) {
        failure.oversize = ctx.oversize;
        failure.error = ctx.oversize ? OversizeMessage(width, height) : QString::fromUtf8(ctx.err.message);
        return false;
    }
    if (ctx.orientation != 1) {
        QImage turned = ApplyExifOrientation(ctx.image, ctx.orientation);
        if (turned.isNull()) {
            failure.error = QStringLiteral("Memoria insufficiente per raddrizzare l'immagine");
            return false;
        }
        ctx.image = std::move(turned);
    }
    out = std::move(ctx.image);
    return true;
}

} // namespace imageio
