// JPEG files through libjpeg-turbo, decoded straight into the picture's rows,
// and the reduced decode shown while a large picture is still on its way.

#include "platform/ImageAlloc.h"
#include "view/io/ImageReaders.h"
#include "view/io/ImageReaders_Formats.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <vector>

#include <sys/stat.h>

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
    // The first report of corrupt or missing data, and how many rows from the
    // top were decoded from sound data when it came.
    bool damaged = false;
    char damage[JMSG_LENGTH_MAX];
    JDIMENSION intactRows = 0;
    const std::atomic<bool>* cancel = nullptr;
    bool cancelled = false;
};

struct JpegContext
{
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    jpeg_progress_mgr progress;
    std::FILE* file = nullptr;
    QImage image;
    std::vector<JSAMPLE> cmykRow;
    long fileSize = 0;
    TReadFailure* failure = nullptr;
    int orientation = 1;
    // A reduced decode: the smallest DCT scaling that still covers the
    // picture fitted into `box`, and of a progressive file its first scan only.
    bool reduce = false;
    QSize box;
    QSize stored; // the size the file declares, before any turn
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

bool IsDamage(int code)
{
    switch (code) {
    case JWRN_HIT_MARKER:   // the data stops at a marker (a cut file with an end marker added)
    case JWRN_JPEG_EOF:     // the file ends early
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:  // a restart marker lost: rows shifted or missing
        return true;
    default:
        return false;
    }
}

// Rows the decoder had made from sound data when it found damage: for a file
// of one scan the rows already handed out; for a progressive file the rows of
// the first scan read so far, or all of them once a later scan is reached,
// since the whole picture is then there at a coarser quality.
JDIMENSION IntactRows(j_decompress_ptr d)
{
    if (!jpeg_has_multiple_scans(d))
        return d->output_scanline;
    if (d->input_scan_number > 1)
        return d->image_height;
    const JDIMENSION rows = JDIMENSION(d->input_iMCU_row) * JDIMENSION(d->max_v_samp_factor) * DCTSIZE;
    return rows < d->image_height ? rows : d->image_height;
}

void JpegEmitMessage(j_common_ptr cinfo, int level)
{
    // Other warnings (extraneous bytes before a marker, odd progressions) are
    // common in files from cameras that show fine.
    if (level >= 0)
        return;
    ++cinfo->err->num_warnings;
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (err->damaged || !IsDamage(cinfo->err->msg_code) || !cinfo->is_decompressor)
        return;
    err->damaged = true;
    (*cinfo->err->format_message)(cinfo, err->damage);
    err->intactRows = IntactRows(reinterpret_cast<j_decompress_ptr>(cinfo));
    // Nothing sound above the damage: the picture is refused, so the decoder
    // stops here instead of filling the whole picture (and the coefficients
    // of a progressive file) with grey first.
    if (err->intactRows == 0) {
        std::memcpy(err->message, err->damage, sizeof err->message);
        FailJpeg(cinfo);
    }
}

void JpegProgress(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    // Called every few rows, while the scans of a progressive file are
    // gathered as well as while rows are handed out.
    if (err->cancel && err->cancel->load(std::memory_order_relaxed)) {
        err->cancelled = true;
        FailJpeg(cinfo);
    }
    if (d->input_scan_number > kMaxProgressiveScans) {
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

// Below this many pixels the whole decode is about as quick as a reduced one.
constexpr std::int64_t kMinReducedPixels = std::int64_t(1) << 18;

// Sets the smallest scaling n/8 whose output still has at least as many pixels
// across and down as the picture fitted into `box`, so that the reduced copy
// is only ever made smaller for the view. False when no scaling below 1 does.
bool ChooseReduction(jpeg_decompress_struct& cinfo, const QSize& box, bool swapsSides)
{
    const std::int64_t w = cinfo.image_width, h = cinfo.image_height;
    if (w * h < kMinReducedPixels || box.width() <= 0 || box.height() <= 0)
        return false;
    const double across = double(swapsSides ? h : w), down = double(swapsSides ? w : h);
    const double fit = std::min(box.width() / across, box.height() / down);
    for (unsigned n = 1; n < 8; ++n) {
        cinfo.scale_num = n;
        cinfo.scale_denom = 8;
        jpeg_calc_output_dimensions(&cinfo);
        const double outAcross = swapsSides ? cinfo.output_height : cinfo.output_width;
        const double outDown = swapsSides ? cinfo.output_width : cinfo.output_height;
        if (outAcross >= std::ceil(across * fit) && outDown >= std::ceil(down * fit))
            return true;
    }
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    return false;
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
    ctx.stored = QSize(int(cinfo.image_width), int(cinfo.image_height));

    if (!ImageSizeAllowed(cinfo.image_width, cinfo.image_height))
        return ctx.failure->FailSize(TReadFault::Oversize, cinfo.image_width, cinfo.image_height);
    // Huffman coding spends at least one bit on every block of the first
    // component: a header announcing far more blocks than the file has bits
    // is refused before the picture's memory is taken.
    const jpeg_component_info& first = cinfo.comp_info[0];
    const std::int64_t blocks = std::int64_t(first.width_in_blocks) * first.height_in_blocks;
    if (!cinfo.arith_code && blocks / 8 > ctx.fileSize) {
        std::snprintf(ctx.err.message, sizeof ctx.err.message,
                      "l'intestazione dichiara %u x %u pixel, che questo file non può contenere", cinfo.image_width,
                      cinfo.image_height);
        return false;
    }
    // A progressive or multi-scan file keeps every coefficient until its last
    // scan: 128 bytes per block, beside the picture.
    if (jpeg_has_multiple_scans(&cinfo)) {
        std::int64_t coefficients = 0;
        for (int c = 0; c < cinfo.num_components; ++c)
            coefficients += std::int64_t(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks *
                            DCTSIZE2 * std::int64_t(sizeof(JCOEF));
        if (coefficients > PictureByteLimit())
            return ctx.failure->FailSize(TReadFault::Oversize, cinfo.image_width, cinfo.image_height);
    }
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1) {
            ctx.orientation = ExifOrientation(m->data, m->data_length);
            break;
        }
    }

    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    const bool firstScanOnly = ctx.reduce && jpeg_has_multiple_scans(&cinfo);
    if (ctx.reduce) {
        if (!ChooseReduction(cinfo, ctx.box, ctx.orientation >= 5))
            return false;
        cinfo.buffered_image = firstScanOnly ? TRUE : FALSE;
        cinfo.do_fancy_upsampling = FALSE;
    }
    jpeg_start_decompress(&cinfo);
    if (firstScanOnly)
        jpeg_start_output(&cinfo, cinfo.input_scan_number);

    ctx.image = NewBgrImage(int(cinfo.output_width), int(cinfo.output_height));
    if (ctx.image.isNull())
        return ctx.failure->FailSize(TReadFault::OutOfMemory, cinfo.output_width, cinfo.output_height);
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
    // A reduced decode stops here: the rest of the file is the whole decode's.
    if (!ctx.reduce)
        jpeg_finish_decompress(&cinfo);
    return true;
}

// Opens the file and runs DecodeJpeg with the error manager and the limits.
bool RunJpeg(const QString& fileName, JpegContext& ctx)
{
    TReadFailure& failure = *ctx.failure;
    ctx.file = std::fopen(LocalPath(fileName).constData(), "rb");
    if (!ctx.file)
        return failure.Fail(errno == EACCES ? TReadFault::Denied : TReadFault::Unreadable,
                            QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st;
    ctx.fileSize = fstat(fileno(ctx.file), &st) == 0 ? long(st.st_size) : 0;
    ctx.cinfo.err = jpeg_std_error(&ctx.err.pub);
    ctx.err.pub.error_exit = JpegErrorExit;
    ctx.err.pub.emit_message = JpegEmitMessage;
    ctx.err.message[0] = '\0';
    ctx.err.damage[0] = '\0';
    ctx.err.cancel = failure.cancel;
    jpeg_create_decompress(&ctx.cinfo);
    // The library's own ceiling for its working buffers: the coefficients of
    // a progressive file are checked against the limit before they are
    // taken, this only stops what that check does not foresee.
    ctx.cinfo.mem->max_memory_to_use = static_cast<long>(PictureByteLimit() + (std::int64_t(64) << 20));
    ctx.progress.progress_monitor = JpegProgress;
    ctx.cinfo.progress = &ctx.progress;

    failure.fault = TReadFault::Damaged;
    const bool ok = DecodeJpeg(ctx);
    jpeg_destroy_decompress(&ctx.cinfo);
    std::fclose(ctx.file);
    if (ctx.err.cancelled)
        return failure.Fail(TReadFault::Cancelled);
    if (!ok && failure.fault == TReadFault::Damaged)
        failure.error = QString::fromUtf8(ctx.err.message[0] ? ctx.err.message : ctx.err.damage);
    return ok;
}

} // namespace

bool ReadJpegFile(const QString& fileName, QImage& out, TReadFailure& failure)
{
    JpegContext ctx;
    ctx.failure = &failure;
    if (!RunJpeg(fileName, ctx)) {
        ctx.image = QImage();
        return false;
    }
    if (ctx.err.damaged) {
        // Nothing sound to show: the picture would be all grey.
        if (ctx.err.intactRows == 0)
            return failure.Fail(TReadFault::Damaged, QString::fromUtf8(ctx.err.damage));
        // The clerk may still crop from the intact top; the message says so.
        failure.incomplete = true;
        failure.error = QString::fromUtf8(ctx.err.damage);
    }
    if (ctx.orientation != 1) {
        QImage turned = ApplyExifOrientation(ctx.image, ctx.orientation);
        if (turned.isNull())
            return failure.FailSize(TReadFault::OutOfMemory, ctx.image.width(), ctx.image.height());
        ctx.image = std::move(turned);
    }
    out = std::move(ctx.image);
    return true;
}

bool ReadReducedJpegFile(const QString& fileName, const QSize& box, QImage& out, QSize& fullSize)
{
    TReadFailure failure;
    JpegContext ctx;
    ctx.failure = &failure;
    ctx.reduce = true;
    ctx.box = box;
    if (!RunJpeg(fileName, ctx) || ctx.image.isNull())
        return false;
    const bool swapsSides = ctx.orientation >= 5;
    fullSize = swapsSides ? ctx.stored.transposed() : ctx.stored;
    out = ApplyExifOrientation(ctx.image, ctx.orientation);
    return !out.isNull();
}

} // namespace imageio
