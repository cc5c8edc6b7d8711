// TIFF files through libtiff.
//
// Plain 8-bit RGB strips (what scanners and most programs write) are decoded
// straight into the picture's rows; every other layout goes through libtiff's
// RGBA conversion band by band, so memory stays bounded by one band. The file
// is read, not mapped: a mapped file counts in the program's memory as it is
// read, which for an uncompressed page doubles the peak of the load.

#include "platform/ImageAlloc.h"
#include "view/io/ImageReaders.h"
#include "view/io/ImageReaders_Formats.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <tiffio.h>

namespace imageio {

namespace {

struct TiffContext
{
    char message[512] = {};
    const TReadFailure* control = nullptr;
    bool cancelled = false;

    bool CalledOff()
    {
        cancelled = cancelled || control->Cancelled();
        return cancelled;
    }
};

int TiffError(TIFF*, void* user, const char* module, const char* fmt, va_list ap)
{
    auto* ctx = static_cast<TiffContext*>(user);
    // The first error names the cause; later ones are consequences.
    if (ctx->message[0] == '\0') {
        char text[400];
        std::vsnprintf(text, sizeof text, fmt, ap);
        std::snprintf(ctx->message, sizeof ctx->message, "%s%s%s", module ? module : "", module ? ": " : "", text);
    }
    return 1;
}

int TiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

class TiffFile
{
public:
    TiffFile(const QString& fileName, TiffContext& ctx)
    {
        TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
        if (!opts)
            return;
        TIFFOpenOptionsSetErrorHandlerExtR(opts, TiffError, &ctx);
        TIFFOpenOptionsSetWarningHandlerExtR(opts, TiffWarning, &ctx);
        // libtiff's own ceiling for any single buffer it allocates (a strip, a
        // tile, a colour map), so a lying header cannot make it ask for more.
        TIFFOpenOptionsSetMaxSingleMemAlloc(opts, static_cast<tmsize_t>(PictureByteLimit()));
        FTif = TIFFOpenExt(LocalPath(fileName).constData(), "rm", opts);
        TIFFOpenOptionsFree(opts);
    }
    ~TiffFile()
    {
        if (FTif)
            TIFFClose(FTif);
    }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;
    TIFF* get() const { return FTif; }

private:
    TIFF* FTif = nullptr;
};

bool IsPlainRgb(TIFF* tif)
{
    uint16_t spp = 0, bps = 0, planar = 0, photometric = 0, extra = 0;
    uint16_t* extraTypes = nullptr;
    if (TIFFIsTiled(tif) || !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra, &extraTypes);
    return photometric == PHOTOMETRIC_RGB && spp == 3 && bps == 8 && planar == PLANARCONFIG_CONTIG && extra == 0;
}

bool ReadPlainRgb(TIFF* tif, QImage& image, TiffContext& ctx)
{
    const int w = image.width();
    const int h = image.height();
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (compression != COMPRESSION_NONE) {
        // Row by row into the picture: libtiff then reads the compressed data
        // a little ahead of the rows, where a whole strip at once would be,
        // for a file of one strip, the whole file beside the picture.
        for (int y = 0; y < h; ++y) {
            if (y % 64 == 0 && ctx.CalledOff())
                return false;
            uchar* row = image.scanLine(y);
            if (TIFFReadScanline(tif, row, uint32_t(y), 0) < 0) {
                if (ctx.message[0] == '\0')
                    std::snprintf(ctx.message, sizeof ctx.message, "row %d is unreadable", y);
                return false;
            }
            RgbToBgrInPlace(row, w);
        }
        return true;
    }
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > uint32_t(h))
        rowsPerStrip = uint32_t(h);
    const qsizetype stride = image.bytesPerLine();
    const qsizetype rowBytes = qsizetype(w) * 3;
    // Without row padding a whole strip lands in place and is turned to BGR
    // while it is still in the cache.
    const bool direct = stride == rowBytes;
    std::vector<uint8_t> buffer;
    if (!direct)
        buffer.resize(std::size_t(rowBytes) * rowsPerStrip);
    uchar* bits = image.bits();
    const uint32_t strips = (uint32_t(h) + rowsPerStrip - 1) / rowsPerStrip;
    for (uint32_t s = 0; s < strips; ++s) {
        if (ctx.CalledOff())
            return false;
        const uint32_t y0 = s * rowsPerStrip;
        const uint32_t rows = std::min<uint32_t>(rowsPerStrip, uint32_t(h) - y0);
        const tmsize_t want = tmsize_t(rowBytes) * rows;
        uint8_t* dst = direct ? bits + y0 * stride : buffer.data();
        if (TIFFReadEncodedStrip(tif, s, dst, want) != want) {
            if (ctx.message[0] == '\0')
                std::snprintf(ctx.message, sizeof ctx.message, "strip %u is short or unreadable", s);
            return false;
        }
        if (direct) {
            RgbToBgrInPlace(dst, int(rows) * w);
        } else {
            for (uint32_t r = 0; r < rows; ++r) {
                uint8_t* row = bits + (y0 + r) * stride;
                std::memcpy(row, buffer.data() + r * rowBytes, std::size_t(rowBytes));
                RgbToBgrInPlace(row, w);
            }
        }
    }
    return true;
}

bool ReadAnyLayout(TIFF* tif, QImage& image, TiffContext& ctx)
{
    char emsg[1024] = {};
    TIFFRGBAImage img;
    if (!TIFFRGBAImageOK(tif, emsg) || !TIFFRGBAImageBegin(&img, tif, 0, emsg)) {
        if (ctx.message[0] == '\0')
            std::snprintf(ctx.message, sizeof ctx.message, "%s", emsg);
        return false;
    }
    const int w = image.width();
    const int h = image.height();
    // Keep the file's row order; the orientation is applied afterwards as a
    // whole-picture turn, which also covers the transposed orientations.
    img.req_orientation = img.orientation;
    // A band is one strip or one row of tiles, so no strip is decoded twice.
    uint32_t band = 0;
    if (TIFFIsTiled(tif))
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &band);
    else
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band);
    if (band == 0 || band > uint32_t(h))
        band = uint32_t(h);
    // Grey with unassociated alpha comes out of libtiff unpremultiplied, every
    // other layout premultiplied.
    const bool straightAlpha = img.alpha == EXTRASAMPLE_UNASSALPHA &&
                               (img.photometric == PHOTOMETRIC_MINISBLACK || img.photometric == PHOTOMETRIC_MINISWHITE);
    // The band buffer is 4 bytes a pixel, more than the picture itself when a
    // strip holds the whole picture; beyond kMaxRasterBytes the strip is read
    // in parts. Not cleared, so a file whose data stops early has not touched it.
    constexpr std::size_t kMaxRasterBytes = std::size_t(64) << 20;
    const uint32_t fitting = uint32_t(std::max<std::size_t>(1, kMaxRasterBytes / (std::size_t(w) * 4)));
    if (band > fitting)
        band = fitting;
    std::unique_ptr<uint32_t[]> raster(new uint32_t[std::size_t(w) * band]);
    bool ok = true;
    for (uint32_t y = 0; ok && y < uint32_t(h); y += band) {
        if (ctx.CalledOff()) {
            ok = false;
            break;
        }
        const uint32_t rows = std::min<uint32_t>(band, uint32_t(h) - y);
        img.row_offset = int(y);
        img.col_offset = 0;
        if (!TIFFRGBAImageGet(&img, raster.get(), uint32_t(w), rows)) {
            ok = false;
            break;
        }
        for (uint32_t r = 0; r < rows; ++r) {
            // Packed as ABGR words: R, G, B, A bytes in memory on little endian.
            static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "raster byte order");
            const auto* rgba = reinterpret_cast<const uint8_t*>(raster.get() + std::size_t(r) * w);
            uint8_t* dst = image.scanLine(int(y + r));
            if (straightAlpha)
                RgbaOverWhiteToBgr(rgba, dst, w);
            else
                PremulRgbaOverWhiteToBgr(rgba, dst, w);
        }
    }
    TIFFRGBAImageEnd(&img);
    if (!ok && !ctx.cancelled && ctx.message[0] == '\0')
        std::snprintf(ctx.message, sizeof ctx.message, "cannot decode the picture data");
    return ok;
}

} // namespace

bool ReadTiffFile(const QString& fileName, QImage& out, TReadFailure& failure)
{
    TiffContext ctx;
    ctx.control = &failure;
    TiffFile file(fileName, ctx);
    TIFF* tif = file.get();
    if (!tif)
        return failure.Fail(TReadFault::Damaged, QString::fromLocal8Bit(ctx.message));
    uint32_t w = 0, h = 0;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h)) {
        return failure.Fail(TReadFault::Damaged, QStringLiteral("dimensioni dell'immagine mancanti"));
    }
    if (!ImageSizeAllowed(w, h)) {
        return failure.FailSize(TReadFault::Oversize, w, h);
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);

    QImage image = NewBgrImage(int(w), int(h));
    if (image.isNull())
        return failure.FailSize(TReadFault::OutOfMemory, w, h);
    bool ok;
    try {
        ok = IsPlainRgb(tif) ? ReadPlainRgb(tif, image, ctx) : ReadAnyLayout(tif, image, ctx);
    } catch (const std::bad_alloc&) {
        std::snprintf(ctx.message, sizeof ctx.message, "out of memory");
        ok = false;
    }
    if (ctx.cancelled)
        return failure.Fail(TReadFault::Cancelled);
    if (!ok)
        return failure.Fail(TReadFault::Damaged, QString::fromLocal8Bit(ctx.message));
    if (orientation != ORIENTATION_TOPLEFT) {
        image = ApplyExifOrientation(image, orientation);
        if (image.isNull())
            return failure.FailSize(TReadFault::OutOfMemory, w, h);
    }
    out = std::move(image);
    return true;
}

} // namespace imageio
