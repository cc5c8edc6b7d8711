// Picture-file readers against the raw libraries, in one run, on a synthetic
// 600 dpi A4 page (4960 x 7016) written once as JPEG quality 90, PNG, TIFF
// (plain and LZW) and 24-bit BMP:
//  - JPEG: libjpeg-turbo decoding into 24-bit rows of a new buffer (and of a
//    reused one, and Qt's reader, for information);
//  - PNG, TIFF: the raw library decoding into a new buffer;
//  - BMP: a plain read of the file plus the row copy (and Qt's reader);
//  - the image list: showing entry 1 after its preload finished, against the
//    view taking an already decoded picture (and against showing it undecoded).
// Each benchmark runs five times; the ratios of the medians follow the table.

#include "platform/ImageAlloc.h"
#include "view/ZSImage.h"
#include "view/ZSImage_SlideShow.h"
#include "view/io/ImageReaders.h"

#include "BenchRatio.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include <fcntl.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

namespace {

constexpr int kPageW = 4960;
constexpr int kPageH = 7016;

struct Files
{
    std::string jpeg, png, tiffPlain, tiffLzw, bmp, jpeg2;
};
Files gFiles;

// A scan-like page: paper shading, a photo-like gradient, text strokes and
// sensor noise, so that no codec profits from long flat runs.
QImage MakePage()
{
    QImage img = NewBgrImage(kPageW, kPageH);
    uint32_t seed = 4711;
    for (int y = 0; y < kPageH; ++y) {
        uchar* p = img.scanLine(y);
        for (int x = 0; x < kPageW; ++x, p += 3) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 29);
            int r, g, b;
            if (x > 600 && x < 2200 && y > 700 && y < 2600) {
                r = 60 + (x - 600) / 10;
                g = 40 + (y - 700) / 12;
                b = 90 + ((x + y) / 16) % 80;
            } else {
                const bool ink = ((x / 9) % 13 == 0 && (y / 40) % 3 != 0 && y > 3000) || ((y / 7) % 29 == 0);
                r = ink ? 30 : 235 + ((x + y) >> 10) % 12;
                g = r - 3;
                b = r - 8;
            }
            p[0] = uchar(b + noise);
            p[1] = uchar(g + noise);
            p[2] = uchar(r + noise);
        }
    }
    return img;
}

void WriteJpeg(const QImage& page, const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(page.width());
    c.image_height = JDIMENSION(page.height());
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(page.constScanLine(int(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

void WritePng(const QImage& page, const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(page.width()), png_uint_32(page.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    for (int y = 0; y < page.height(); ++y)
        png_write_row(png, page.constScanLine(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

void WriteTiff(const QImage& page, const std::string& path, uint16_t compression)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(page.width()));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(page.height()));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<uint8_t> row(size_t(page.width()) * 3);
    for (int y = 0; y < page.height(); ++y) {
        const uchar* s = page.constScanLine(y);
        for (int x = 0; x < page.width(); ++x) {
            row[size_t(x) * 3] = s[x * 3 + 2];
            row[size_t(x) * 3 + 1] = s[x * 3 + 1];
            row[size_t(x) * 3 + 2] = s[x * 3];
        }
        TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
    }
    TIFFClose(tif);
}

void WriteBmp(const QImage& page, const std::string& path)
{
    const int w = page.width(), h = page.height();
    const int stride = int(BgrStride(w));
    uint8_t head[54] = {'B', 'M'};
    auto put32 = [&](int at, uint32_t v) { std::memcpy(head + at, &v, 4); };
    put32(2, uint32_t(54 + stride * h));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(h));
    head[26] = 1;
    head[28] = 24;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(head, 1, sizeof head, f);
    for (int y = h - 1; y >= 0; --y)
        std::fwrite(page.constScanLine(y), 1, size_t(stride), f);
    std::fclose(f);
}

// --- raw library references -------------------------------------------------

void RawJpeg(const std::string& path, uint8_t* dst)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_decompress(&c);
    jpeg_stdio_src(&c, f);
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&c);
    const size_t stride = size_t(c.output_width) * 3;
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = dst + c.output_scanline * stride;
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    std::fclose(f);
}

constexpr size_t kPageBytes = size_t(kPageW) * 3 * kPageH;

void BM_Jpeg_LibjpegNewBuffer(benchmark::State& state)
{
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPageBytes]);
        RawJpeg(gFiles.jpeg, buffer.get());
        benchmark::DoNotOptimize(buffer.get());
    }
}

void BM_Jpeg_LibjpegReusedBuffer(benchmark::State& state)
{
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPageBytes]);
    std::memset(buffer.get(), 0, kPageBytes);
    for (auto _ : state) {
        RawJpeg(gFiles.jpeg, buffer.get());
        benchmark::DoNotOptimize(buffer.get());
    }
}

void RawPng(const std::string& path, uint8_t* dst)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_read_info(png, info);
    const size_t stride = png_get_rowbytes(png, info);
    for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y)
        png_read_row(png, dst + y * stride, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
}

void BM_Png_LibpngNewBuffer(benchmark::State& state)
{
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPageBytes]);
        RawPng(gFiles.png, buffer.get());
        benchmark::DoNotOptimize(buffer.get());
    }
}

void RawTiff(const std::string& path, uint8_t* dst)
{
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    const tmsize_t stripSize = TIFFStripSize(tif);
    tmsize_t at = 0;
    for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s)
        at += TIFFReadEncodedStrip(tif, s, dst + at, stripSize);
    TIFFClose(tif);
}

void BM_Tiff_LibtiffNewBuffer(benchmark::State& state, const std::string* path)
{
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPageBytes + 65536]);
        RawTiff(*path, buffer.get());
        benchmark::DoNotOptimize(buffer.get());
    }
}

// What a simple reader does: the whole file into memory, then each row to its place.
void BM_Bmp_ReadPlusRowCopy(benchmark::State& state)
{
    for (auto _ : state) {
        const int fd = ::open(gFiles.bmp.c_str(), O_RDONLY);
        const off_t size = ::lseek(fd, 0, SEEK_END);
        std::unique_ptr<uint8_t[]> file(new uint8_t[size_t(size)]);
        for (off_t at = 0; at < size;) {
            const ssize_t n = ::pread(fd, file.get() + at, size_t(size - at), at);
            if (n <= 0)
                break;
            at += n;
        }
        ::close(fd);
        QImage img = NewBgrImage(kPageW, kPageH);
        const qsizetype stride = img.bytesPerLine();
        for (int y = 0; y < kPageH; ++y)
            std::memcpy(img.scanLine(kPageH - 1 - y), file.get() + 54 + y * stride, size_t(stride));
        benchmark::DoNotOptimize(img.constBits());
    }
}

// --- ours and Qt's ---------------------------------------------------------------

void BM_Load(benchmark::State& state, const std::string* path)
{
    const QString name = QString::fromStdString(*path);
    for (auto _ : state) {
        QImage img;
        LoadImagefromFile(name, img);
        benchmark::DoNotOptimize(img.constBits());
    }
}

void BM_QtReader(benchmark::State& state, const std::string* path)
{
    const QString name = QString::fromStdString(*path);
    for (auto _ : state) {
        QImageReader reader(name);
        reader.setAllocationLimit(1024);
        QImage img = reader.read();
        benchmark::DoNotOptimize(img.constBits());
    }
}

// --- the image list ---------------------------------------------------------------

// A view of the main window's usual size, made in main after the application.
TZSImage* gView = nullptr;
TZSImage& View() { return *gView; }

void WaitForPreload(TzsiSlideShow* show)
{
    while (show->LoadingFile())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

QStringList TwoPages()
{
    return {QString::fromStdString(gFiles.jpeg), QString::fromStdString(gFiles.jpeg2)};
}

void BM_List_ShowPreloaded(benchmark::State& state)
{
    TzsiSlideShow* show = View().SlideShow();
    for (auto _ : state) {
        state.PauseTiming();
        show->List()->Assign(TwoPages());
        show->ShowImage(0, 1, 0);
        WaitForPreload(show);
        state.ResumeTiming();
        show->ShowImage(1, -1, -1);
    }
}

void BM_List_ShowUndecoded(benchmark::State& state)
{
    TzsiSlideShow* show = View().SlideShow();
    for (auto _ : state) {
        state.PauseTiming();
        show->List()->Assign(TwoPages());
        state.ResumeTiming();
        show->ShowImage(1, -1, -1);
    }
}

// The view taking a decoded picture it has not seen before, as the list hands it over.
void BM_List_ViewTakesPicture(benchmark::State& state)
{
    QImage decoded;
    LoadImagefromFile(QString::fromStdString(gFiles.jpeg2), decoded);
    for (auto _ : state) {
        state.PauseTiming();
        const QImage fresh = decoded.copy();
        state.ResumeTiming();
        View().InternSetImage(fresh, true);
    }
}

void Register()
{
    auto common = [](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
    };
    common(benchmark::RegisterBenchmark("Jpeg/libjpeg-new-buffer", BM_Jpeg_LibjpegNewBuffer));
    common(benchmark::RegisterBenchmark("Jpeg/libjpeg-reused-buffer", BM_Jpeg_LibjpegReusedBuffer));
    common(benchmark::RegisterBenchmark("Jpeg/qt-reader", BM_QtReader, &gFiles.jpeg));
    common(benchmark::RegisterBenchmark("Jpeg/ours", BM_Load, &gFiles.jpeg));
    common(benchmark::RegisterBenchmark("Png/libpng-new-buffer", BM_Png_LibpngNewBuffer));
    common(benchmark::RegisterBenchmark("Png/ours", BM_Load, &gFiles.png));
    common(benchmark::RegisterBenchmark("TiffPlain/libtiff-new-buffer", BM_Tiff_LibtiffNewBuffer, &gFiles.tiffPlain));
    common(benchmark::RegisterBenchmark("TiffPlain/ours", BM_Load, &gFiles.tiffPlain));
    common(benchmark::RegisterBenchmark("TiffLzw/libtiff-new-buffer", BM_Tiff_LibtiffNewBuffer, &gFiles.tiffLzw));
    common(benchmark::RegisterBenchmark("TiffLzw/ours", BM_Load, &gFiles.tiffLzw));
    common(benchmark::RegisterBenchmark("Bmp/read-plus-row-copy", BM_Bmp_ReadPlusRowCopy));
    common(benchmark::RegisterBenchmark("Bmp/qt-reader", BM_QtReader, &gFiles.bmp));
    common(benchmark::RegisterBenchmark("Bmp/ours", BM_Load, &gFiles.bmp));
    common(benchmark::RegisterBenchmark("List/view-takes-picture", BM_List_ViewTakesPicture));
    common(benchmark::RegisterBenchmark("List/show-undecoded", BM_List_ShowUndecoded));
    common(benchmark::RegisterBenchmark("List/show-preloaded", BM_List_ShowPreloaded));
}

// Keeps the table as usual and remembers each median for the ratios.
} // namespace

int main(int argc, char** argv)
{
    bench::DefaultToOffscreen();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    QTemporaryDir dir;
    const std::string base = QFile::encodeName(dir.path()).toStdString();
    gFiles = {base + "/page.jpg", base + "/page.png", base + "/page-plain.tif", base + "/page-lzw.tif",
              base + "/Scansione.bmp", base + "/page2.jpg"};
    {
        std::fprintf(stderr, "writing the test page in five formats...\n");
        const QImage page = MakePage();
        WriteJpeg(page, gFiles.jpeg);
        WriteJpeg(page, gFiles.jpeg2);
        WritePng(page, gFiles.png);
        WriteTiff(page, gFiles.tiffPlain, COMPRESSION_NONE);
        WriteTiff(page, gFiles.tiffLzw, COMPRESSION_LZW);
        WriteBmp(page, gFiles.bmp);
    }
    TZSImage view;
    view.resize(1146, 553);
    gView = &view;
    Register();
    bench::TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nRatios of the medians (ours / reference):\n");
    reporter.Ratio("JPEG vs libjpeg-turbo into a new buffer", "Jpeg/ours", "Jpeg/libjpeg-new-buffer", 1.05);
    reporter.Ratio("JPEG vs libjpeg-turbo into a reused buffer", "Jpeg/ours", "Jpeg/libjpeg-reused-buffer", 0);
    reporter.Ratio("JPEG vs Qt's reader", "Jpeg/ours", "Jpeg/qt-reader", 0);
    reporter.Ratio("PNG vs libpng into a new buffer", "Png/ours", "Png/libpng-new-buffer", 1.1);
    reporter.Ratio("TIFF plain vs libtiff into a new buffer", "TiffPlain/ours", "TiffPlain/libtiff-new-buffer", 1.1);
    reporter.Ratio("TIFF LZW vs libtiff into a new buffer", "TiffLzw/ours", "TiffLzw/libtiff-new-buffer", 1.1);
    reporter.Ratio("BMP vs plain read plus row copy", "Bmp/ours", "Bmp/read-plus-row-copy", 1.2);
    reporter.Ratio("BMP vs Qt's reader", "Bmp/ours", "Bmp/qt-reader", 0);
    reporter.Ratio("Show preloaded entry vs view taking a picture", "List/show-preloaded",
                        "List/view-takes-picture", 0);
    reporter.Ratio("Show preloaded entry vs showing it undecoded", "List/show-preloaded", "List/show-undecoded", 0);
    benchmark::Shutdown();
    return 0;
}
