// PNG files through libpng: every colour type and depth becomes BGR rows,
// transparency composited over white.

#include "platform/ImageAlloc.h"
#include "view/io/ImageReaders.h"
#include "view/io/ImageReaders_Formats.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <png.h>

namespace imageio {

namespace {

// Side limit handed to libpng; the size limit proper is checked on top of it.
constexpr png_uint_32 kMaxPngSide = 1u << 20;
// Largest ancillary chunk we let libpng buffer (text, ICC profiles).
constexpr png_alloc_size_t kMaxPngChunk = 16u * 1024u * 1024u;

struct PngContext
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE* file = nullptr;
    QImage image;
    std::vector<png_byte> rgba;           // one row
    // The whole picture when interlaced with transparency. Not cleared: its
    // pages are only taken as the passes reach them.
    std::unique_ptr<png_byte[]> whole;
    std::vector<png_bytep> rowPointers;   // interlaced pictures only
    char message[256] = {};
    TReadFault fault = TReadFault::Damaged;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    const TReadFailure* control = nullptr;
};

// Checked every few rows: a read called off stops there.
bool CalledOff(PngContext& ctx, png_uint_32 y)
{
    if (y % 64 != 0 || !ctx.control->Cancelled())
        return false;
    ctx.fault = TReadFault::Cancelled;
    return true;
}

void PngError(png_structp png, png_const_charp text)
{
    auto* ctx = static_cast<PngContext*>(png_get_error_ptr(png));
    std::snprintf(ctx->message, sizeof ctx->message, "%s", text);
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Only trivially destructible locals: errors leave by longjmp.
bool DecodePng(PngContext& ctx)
{
    png_structp png = ctx.png;
    png_infop info = ctx.info;
    if (setjmp(png_jmpbuf(png)))
        return false;

    png_init_io(png, ctx.file);
    png_set_user_limits(png, kMaxPngSide, kMaxPngSide);
    png_set_chunk_malloc_max(png, kMaxPngChunk);
    png_read_info(png, info);

    ctx.width = png_get_image_width(png, info);
    ctx.height = png_get_image_height(png, info);
    if (!ImageSizeAllowed(ctx.width, ctx.height)) {
        ctx.fault = TReadFault::Oversize;
        return false;
    }

    const int colorType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    // Palette and low-depth grey to 8 bits, tRNS to an alpha channel.
    png_set_expand(png);
    if (depth == 16)
        png_set_scale_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    // Opaque pictures are read straight into the picture's rows.
    if (!alpha)
        png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_channels(png, info) != (alpha ? 4 : 3)) {
        std::snprintf(ctx.message, sizeof ctx.message, "unexpected channel count");
        return false;
    }

    ctx.image = NewBgrImage(int(ctx.width), int(ctx.height));
    if (ctx.image.isNull()) {
        ctx.fault = TReadFault::OutOfMemory;
        return false;
    }
    uchar* bits = ctx.image.bits();
    const qsizetype stride = ctx.image.bytesPerLine();

    if (!alpha) {
        for (int pass = 0; pass < passes; ++pass)
            for (png_uint_32 y = 0; y < ctx.height; ++y) {
                if (CalledOff(ctx, y))
                    return false;
                png_read_row(png, bits + y * stride, nullptr);
            }
    } else if (passes == 1) {
        ctx.rgba.resize(std::size_t(ctx.width) * 4);
        for (png_uint_32 y = 0; y < ctx.height; ++y) {
            if (CalledOff(ctx, y))
                return false;
            png_read_row(png, ctx.rgba.data(), nullptr);
            RgbaOverWhiteToBgr(ctx.rgba.data(), bits + y * stride, int(ctx.width));
        }
    } else {
        // Interlaced with transparency: the passes need the whole picture
        // before it can be composited.
        const std::size_t rowBytes = std::size_t(ctx.width) * 4;
        ctx.whole.reset(new png_byte[rowBytes * ctx.height]);
        ctx.rowPointers.resize(ctx.height);
        for (png_uint_32 y = 0; y < ctx.height; ++y)
            ctx.rowPointers[y] = ctx.whole.get() + y * rowBytes;
        png_read_image(png, ctx.rowPointers.data());
        for (png_uint_32 y = 0; y < ctx.height; ++y)
            RgbaOverWhiteToBgr(ctx.rowPointers[y], bits + y * stride, int(ctx.width));
    }
    png_read_end(png, nullptr);
    return true;
}

} // namespace

bool ReadPngFile(const QString& fileName, QImage& out, TReadFailure& failure)
{
    PngContext ctx;
    ctx.control = &failure;
    ctx.file = std::fopen(LocalPath(fileName).constData(), "rb");
    if (!ctx.file)
        return failure.Fail(errno == EACCES ? TReadFault::Denied : TReadFault::Unreadable,
                            QString::fromLocal8Bit(std::strerror(errno)));
    bool ok = false;
    ctx.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, PngError, PngWarning);
    if (ctx.png)
        ctx.info = png_create_info_struct(ctx.png);
    if (ctx.png && ctx.info) {
        try {
            ok = DecodePng(ctx);
        } catch (const std::bad_alloc&) {
            ctx.fault = TReadFault::OutOfMemory;
            ok = false;
        }
    } else {
        ctx.fault = TReadFault::OutOfMemory;
    }
    png_destroy_read_struct(ctx.png ? &ctx.png : nullptr, ctx.info ? &ctx.info : nullptr, nullptr);
    std::fclose(ctx.file);

    if (!ok) {
        if (ctx.fault != TReadFault::Damaged)
            return failure.FailSize(ctx.fault, ctx.width, ctx.height);
        return failure.Fail(TReadFault::Damaged, QString::fromUtf8(ctx.message));
    }
    out = std::move(ctx.image);
    return true;
}

} // namespace imageio
