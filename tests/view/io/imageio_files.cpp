#include "imageio_files.h"

#include <QFile>

#include <cstdio>
#include <stdexcept>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace testfiles {

Rgb PixelAt(const QImage& image, int x, int y)
{
    const uchar* p = image.constScanLine(y) + x * 3;
    return Rgb{p[2], p[1], p[0]};
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read test file");
    return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
        throw std::runtime_error("cannot write test file");
}

namespace {
std::FILE* OpenForWrite(const QString& path)
{
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        throw std::runtime_error("cannot create test file");
    return f;
}
} // namespace

void WriteJpeg(const QString& path, const JpegSpec& layout)
{
    std::FILE* f = OpenForWrite(path);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(layout.width);
    cinfo.image_height = JDIMENSION(layout.height);
    cinfo.input_components = layout.components;
    cinfo.in_color_space = layout.components == 1 ? JCS_GRAYSCALE : layout.components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, layout.quality, TRUE);
    if (layout.components == 4) {
        jpeg_set_colorspace(&cinfo, JCS_CMYK);
        cinfo.write_Adobe_marker = layout.adobeCmyk;
    }
    if (layout.progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    if (layout.orientation > 0) {
        const JOCTET exif[] = {'E', 'x', 'i', 'f', 0, 0,
                               'M', 'M', 0, 42, 0, 0, 0, 8,                                // TIFF header
                               0, 1,                                                     // one entry
                               0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, JOCTET(layout.orientation), 0, 0, // SHORT
                               0, 0, 0, 0};                                              // no next IFD
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif, sizeof exif);
    }
    const std::size_t rowBytes = std::size_t(layout.width) * layout.components;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(layout.pixels.data() + cinfo.next_scanline * rowBytes);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

void WritePng(const QString& path, const PngSpec& layout)
{
    std::FILE* f = OpenForWrite(path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        throw std::runtime_error("libpng could not write the test file");
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(layout.width), png_uint_32(layout.height), layout.bitDepth, layout.colorType,
                 layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> plte;
    for (const Rgb& c : layout.palette)
        plte.push_back(png_color{png_byte(c.r), png_byte(c.g), png_byte(c.b)});
    if (!plte.empty())
        png_set_PLTE(png, info, plte.data(), int(plte.size()));
    if (!layout.transparency.empty())
        png_set_tRNS(png, info, layout.transparency.data(), int(layout.transparency.size()), nullptr);
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (const Bytes& r : layout.rows)
        rows.push_back(const_cast<png_bytep>(r.data()));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

void WriteTiff(const QString& path, const TiffSpec& layout)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        throw std::runtime_error("cannot create test TIFF");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(layout.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(layout.height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(layout.samples));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(layout.bitsPerSample));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(layout.photometric));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(layout.compression));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(layout.orientation));
    if (layout.photometric == PHOTOMETRIC_SEPARATED)
        TIFFSetField(tif, TIFFTAG_INKSET, uint16_t(INKSET_CMYK));
    if (layout.unassociatedAlpha) {
        uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    std::vector<uint16_t> red, green, blue;
    if (!layout.palette.empty()) {
        const std::size_t n = std::size_t(1) << layout.bitsPerSample;
        red.assign(n, 0);
        green.assign(n, 0);
        blue.assign(n, 0);
        for (std::size_t i = 0; i < layout.palette.size() && i < n; ++i) {
            red[i] = uint16_t(layout.palette[i].r * 257);
            green[i] = uint16_t(layout.palette[i].g * 257);
            blue[i] = uint16_t(layout.palette[i].b * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 layout.rowsPerStrip > 0 ? uint32_t(layout.rowsPerStrip) : TIFFDefaultStripSize(tif, 0));
    for (int y = 0; y < layout.height; ++y)
        TIFFWriteScanline(tif, const_cast<uint8_t*>(layout.rows[std::size_t(y)].data()), uint32_t(y), 0);
    TIFFClose(tif);
}

void WriteGif(const QString& path, int screenWidth, int screenHeight, const std::vector<Rgb>& palette,
              const std::vector<GifFrame>& frames)
{
    int err = 0;
    GifFileType* gif = EGifOpenFileName(QFile::encodeName(path).constData(), false, &err);
    if (!gif)
        throw std::runtime_error("cannot create test GIF");
    int size = 2;
    while (size < int(palette.size()))
        size *= 2;
    std::vector<GifColorType> colors(std::size_t(size), GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < palette.size(); ++i)
        colors[i] = GifColorType{GifByteType(palette[i].r), GifByteType(palette[i].g), GifByteType(palette[i].b)};
    ColorMapObject* map = GifMakeMapObject(size, colors.data());
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, screenWidth, screenHeight, 8, 0, map);
    for (const GifFrame& fr : frames) {
        if (fr.transparent >= 0) {
            GifByteType gce[4] = {1, 0, 0, GifByteType(fr.transparent)};
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce);
        }
        EGifPutImageDesc(gif, fr.left, fr.top, fr.width, fr.height, fr.interlaced, nullptr);
        std::vector<int> order;
        if (fr.interlaced) {
            const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int p = 0; p < 4; ++p)
                for (int y = start[p]; y < fr.height; y += step[p])
                    order.push_back(y);
        } else {
            for (int y = 0; y < fr.height; ++y)
                order.push_back(y);
        }
        for (int y : order) {
            Bytes line(fr.indices.begin() + std::ptrdiff_t(y) * fr.width,
                       fr.indices.begin() + std::ptrdiff_t(y + 1) * fr.width);
            EGifPutLine(gif, line.data(), fr.width);
        }
    }
    GifFreeMapObject(map);
    EGifCloseFile(gif, &err);
}

void WriteBmp24(const QString& path, const QImage& image, bool topDown)
{
    const int w = image.width();
    const int h = image.height();
    const int stride = (w * 3 + 3) / 4 * 4;
    QByteArray data(54 + stride * h, '\0');
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            data[at + i] = char((v >> (8 * i)) & 0xFF);
    };
    data[0] = 'B';
    data[1] = 'M';
    put32(2, uint32_t(data.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(topDown ? -h : h));
    data[26] = 1;
    data[28] = 24;
    for (int y = 0; y < h; ++y) {
        const int fileRow = topDown ? y : h - 1 - y;
        std::memcpy(data.data() + 54 + fileRow * stride, image.constScanLine(y), std::size_t(w) * 3);
    }
    WriteAll(path, data);
}

} // namespace testfiles
