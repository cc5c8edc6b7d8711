// Every format and pixel layout reaches the caller as the expected BGR pixels.

#include "imageio_files.h"

#include "view/io/ImageReaders.h"

#include <QImageReader>

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cmath>
#include <functional>

using namespace testfiles;

namespace {

// Straight alpha over white, computed the slow way.
int OverWhite(int c, int a) { return int(std::lround((c * a + 255.0 * (255 - a)) / 255.0)); }
Rgb OverWhite(Rgb c, int a) { return {OverWhite(c.r, a), OverWhite(c.g, a), OverWhite(c.b, a)}; }

void ExpectPixel(const QImage& img, int x, int y, Rgb want, int tolerance = 0)
{
    const Rgb got = PixelAt(img, x, y);
    EXPECT_TRUE(std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
                std::abs(got.b - want.b) <= tolerance)
        << "at " << x << "," << y << ": got " << got.r << "," << got.g << "," << got.b << " want " << want.r << ","
        << want.g << "," << want.b;
}

// A distinct colour for every position, so misplaced or swapped pixels show.
Rgb Pattern(int x, int y) { return Rgb{(x * 50 + 7) % 256, (y * 70 + 20) % 256, (x * 13 + y * 31) % 256}; }

// Rows of `w` pixels, each pixel's bytes given by `pixel`.
std::vector<Bytes> Rows(int w, int h, const std::function<Bytes(int, int)>& pixel)
{
    std::vector<Bytes> rows(static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Bytes p = pixel(x, y);
            rows[std::size_t(y)].insert(rows[std::size_t(y)].end(), p.begin(), p.end());
        }
    return rows;
}
Bytes PatternRgb(int x, int y)
{
    const Rgb p = Pattern(x, y);
    return {uint8_t(p.r), uint8_t(p.g), uint8_t(p.b)};
}

class ImageFormats : public ::testing::Test
{
protected:
    QString Path(const QString& name) const { return FDir.filePath(name); }

    QImage Load(const QString& name)
    {
        QImage img;
        EXPECT_TRUE(LoadImagefromFile(Path(name), img)) << name.toStdString();
        EXPECT_EQ(img.format(), QImage::Format_BGR888);
        return img;
    }
    void ExpectPattern(const QString& name, int w, int h, int alphaStep = -1)
    {
        SCOPED_TRACE(name.toStdString());
        const QImage img = Load(name);
        ASSERT_EQ(img.size(), QSize(w, h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ExpectPixel(img, x, y, alphaStep < 0 ? Pattern(x, y) : OverWhite(Pattern(x, y), (x * alphaStep) % 256));
    }

    QTemporaryDir FDir;
};

// Six 8 x 8 blocks of flat colour: JPEG keeps flat blocks within a few levels.
const Rgb kBlocks[6] = {{230, 20, 20}, {20, 200, 30}, {30, 40, 220}, {240, 240, 40}, {20, 20, 20}, {250, 250, 250}};

JpegSpec BlockJpeg()
{
    JpegSpec s;
    s.width = 24;
    s.height = 16;
    for (const Bytes& row : Rows(24, 16, [](int x, int y) {
             const Rgb c = kBlocks[(y / 8) * 3 + x / 8];
             return Bytes{uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)};
         }))
        s.pixels.insert(s.pixels.end(), row.begin(), row.end());
    return s;
}

} // namespace

TEST_F(ImageFormats, JpegColourProgressiveGreyAndCmyk)
{
    JpegSpec rgb = BlockJpeg();
    WriteJpeg(Path("blocks.jpg"), rgb);
    rgb.progressive = true;
    WriteJpeg(Path("progressive.jpeg"), rgb);
    for (const char* name : {"blocks.jpg", "progressive.jpeg"}) {
        const QImage img = Load(name);
        ASSERT_EQ(img.size(), QSize(24, 16));
        for (int b = 0; b < 6; ++b)
            ExpectPixel(img, (b % 3) * 8 + 4, (b / 3) * 8 + 4, kBlocks[b], 4);
    }

    JpegSpec grey;
    grey.components = 1;
    grey.pixels.assign(256, 40);
    WriteJpeg(Path("grey.jpe"), grey);
    ExpectPixel(Load("grey.jpe"), 3, 3, {40, 40, 40}, 2);

    // Ink amounts (0 = none) and the colour each prints as; Adobe files store
    // them inverted, and both kinds must look the same.
    struct Ink { int c, m, y, k; Rgb want; };
    const Ink inks[4] = {{255, 0, 0, 0, {0, 255, 255}}, {0, 255, 0, 0, {255, 0, 255}},
                         {0, 0, 0, 255, {0, 0, 0}}, {0, 0, 0, 0, {255, 255, 255}}};
    for (bool adobe : {false, true}) {
        JpegSpec s;
        s.width = 32;
        s.height = 8;
        s.components = 4;
        s.adobeCmyk = adobe;
        for (int i = 0; i < 32 * 8; ++i)
            for (int v : {inks[i % 32 / 8].c, inks[i % 32 / 8].m, inks[i % 32 / 8].y, inks[i % 32 / 8].k})
                s.pixels.push_back(uint8_t(adobe ? 255 - v : v));
        const QString name = adobe ? "adobe.jpg" : "plain.jpg";
        WriteJpeg(Path(name), s);
        const QImage img = Load(name);
        for (int n = 0; n < 4; ++n)
            ExpectPixel(img, n * 8 + 4, 4, inks[n].want, 4);
    }
}

TEST_F(ImageFormats, JpegExifOrientationMatchesQtsUprightReading)
{
    JpegSpec s = BlockJpeg();
    for (int orientation = 1; orientation <= 8; ++orientation) {
        s.orientation = orientation;
        // Upper-case extension: still the JPEG reader, the only one turning it.
        const QString name = QStringLiteral("turned%1.JPG").arg(orientation);
        WriteJpeg(Path(name), s);
        QImageReader qt(Path(name), "jpeg");
        qt.setAutoTransform(true);
        const QImage want = qt.read().convertToFormat(QImage::Format_BGR888);
        const QImage img = Load(name);
        ASSERT_EQ(img.size(), want.size()) << "orientation " << orientation;
        for (int y = 4; y < img.height(); y += 8)
            for (int x = 4; x < img.width(); x += 8)
                ExpectPixel(img, x, y, PixelAt(want, x, y), 6);
    }
}

TEST_F(ImageFormats, PngColourTypesDepthsAndInterlace)
{
    const int w = 9, h = 9; // odd sizes: padded rows and every interlace pass
    const auto rgba = Rows(w, h, [](int x, int y) {
        Bytes p = PatternRgb(x, y);
        p.push_back(uint8_t((x * 40) % 256));
        return p;
    });
    // 16-bit samples v * 257 scale back to exactly v.
    const auto rgb16 = Rows(w, h, [](int x, int y) {
        const Bytes p = PatternRgb(x, y);
        return Bytes{p[0], p[0], p[1], p[1], p[2], p[2]};
    });
    WritePng(Path("rgb.png"), {w, h, PNG_COLOR_TYPE_RGB, 8, Rows(w, h, PatternRgb), {}, {}, false});
    WritePng(Path("rgb16-i.png"), {w, h, PNG_COLOR_TYPE_RGB, 16, rgb16, {}, {}, true});
    WritePng(Path("rgba.png"), {w, h, PNG_COLOR_TYPE_RGBA, 8, rgba, {}, {}, false});
    WritePng(Path("rgba-i.png"), {w, h, PNG_COLOR_TYPE_RGBA, 8, rgba, {}, {}, true});
    ExpectPattern("rgb.png", w, h);
    ExpectPattern("rgb16-i.png", w, h);
    ExpectPattern("rgba.png", w, h, 40);
    ExpectPattern("rgba-i.png", w, h, 40);

    // 1-bit grey 1,0,1,1,0 packed from the high bit.
    WritePng(Path("bits.png"), {5, 1, PNG_COLOR_TYPE_GRAY, 1, {{0xB0}}, {}, {}, false});
    const QImage b = Load("bits.png");
    for (int x = 0; x < 5; ++x)
        ExpectPixel(b, x, 0, (0xB0 << x) & 0x80 ? Rgb{255, 255, 255} : Rgb{0, 0, 0});

    // 16-bit grey with alpha: grey 0x6400 -> 100, alpha 0x8000 -> 128.
    WritePng(Path("ga.png"), {1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16, {{0x64, 0x00, 0x80, 0x00}}, {}, {}, false});
    ExpectPixel(Load("ga.png"), 0, 0, OverWhite({100, 100, 100}, 128), 1);

    // 4-bit palette, entry 1 partly and entry 2 fully transparent.
    WritePng(Path("pal.png"),
             {3, 1, PNG_COLOR_TYPE_PALETTE, 4, {{0x01, 0x20}}, {{10, 20, 30}, {200, 0, 0}, {0, 0, 255}}, {255, 51, 0}, false});
    const QImage p = Load("pal.png");
    ExpectPixel(p, 0, 0, {10, 20, 30});
    ExpectPixel(p, 1, 0, OverWhite({200, 0, 0}, 51));
    ExpectPixel(p, 2, 0, {255, 255, 255});
}

TEST_F(ImageFormats, TiffStripsPlainAndLzwPaddedOrNot)
{
    for (int w : {4, 5}) // 4 * 3 bytes fill a row exactly, 5 * 3 need padding
        for (int compression : {COMPRESSION_NONE, COMPRESSION_LZW}) {
            // Three rows a strip, so the last strip is short.
            const QString name = QStringLiteral("rgb%1-%2.tif").arg(w).arg(compression);
            WriteTiff(Path(name), {w, 7, 3, 8, PHOTOMETRIC_RGB, compression, 1, false, 3, Rows(w, 7, PatternRgb), {}});
            ExpectPattern(name, w, 7);
        }
    // Bottom-left origin: the first stored row is the bottom of the picture.
    WriteTiff(Path("up.tif"), {3, 4, 3, 8, PHOTOMETRIC_RGB, COMPRESSION_NONE, ORIENTATION_BOTLEFT, false, 0,
                               Rows(3, 4, [](int x, int y) { return PatternRgb(x, 3 - y); }), {}});
    ExpectPattern("up.tif", 3, 4);
}

TEST_F(ImageFormats, TiffOtherLayouts)
{
    WriteTiff(Path("grey.tif"), {2, 1, 1, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, 1, false, 0, {{128, 255}}, {}});
    ExpectPixel(Load("grey.tif"), 0, 0, {128, 128, 128});

    // 1-bit min-is-white: 1 is black.
    WriteTiff(Path("bw.tif"), {3, 1, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_NONE, 1, false, 0, {{0xA0}}, {}});
    const QImage bw = Load("bw.tif");
    ExpectPixel(bw, 0, 0, {0, 0, 0});
    ExpectPixel(bw, 1, 0, {255, 255, 255});

    WriteTiff(Path("pal.tif"), {2, 1, 1, 8, PHOTOMETRIC_PALETTE, COMPRESSION_NONE, 1, false, 0, {{1, 0}},
                                {{1, 2, 3}, {90, 180, 250}}});
    ExpectPixel(Load("pal.tif"), 0, 0, {90, 180, 250});

    // 16 bits per sample in native (little-endian) order: v * 257 scales to v.
    WriteTiff(Path("rgb16.tif"), {1, 1, 3, 16, PHOTOMETRIC_RGB, COMPRESSION_NONE, 1, false, 0, {{10, 10, 100, 100, 250, 250}}, {}});
    ExpectPixel(Load("rgb16.tif"), 0, 0, {10, 100, 250}, 1);

    // CMYK as TIFF stores it: 255 is full ink.
    WriteTiff(Path("cmyk.tif"), {2, 1, 4, 8, PHOTOMETRIC_SEPARATED, COMPRESSION_NONE, 1, false, 0,
                                 {{255, 0, 0, 0, 0, 0, 0, 255}}, {}});
    const QImage c = Load("cmyk.tif");
    ExpectPixel(c, 0, 0, {0, 255, 255}, 1);
    ExpectPixel(c, 1, 0, {0, 0, 0}, 1);

    WriteTiff(Path("rgba.tif"), {2, 1, 4, 8, PHOTOMETRIC_RGB, COMPRESSION_NONE, 1, true, 0,
                                 {{200, 100, 50, 255, 200, 100, 50, 64}}, {}});
    const QImage a = Load("rgba.tif");
    ExpectPixel(a, 0, 0, {200, 100, 50});
    ExpectPixel(a, 1, 0, OverWhite({200, 100, 50}, 64), 1);
}

TEST_F(ImageFormats, GifFirstFrameWithTransparencyAndInterlace)
{
    const std::vector<Rgb> palette = {{0, 0, 0}, {255, 0, 0}, {0, 128, 0}, {10, 20, 200}};
    GifFrame first{2, 1, 3, 10, {}, true, 3}; // inside a 6 x 12 screen, index 3 transparent
    for (int i = 0; i < 30; ++i)
        first.indices.push_back(uint8_t(i % 4));
    const GifFrame second{0, 0, 6, 12, Bytes(72, 1), false, -1};
    WriteGif(Path("anim.GIF"), 6, 12, palette, {first, second});
    const QImage img = Load("anim.GIF");
    ASSERT_EQ(img.size(), QSize(6, 12));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 1 && y < 11;
            const int index = inside ? ((y - 1) * 3 + (x - 2)) % 4 : 3;
            ExpectPixel(img, x, y, index == 3 ? Rgb{255, 255, 255} : palette[std::size_t(index)]);
        }
}

TEST_F(ImageFormats, BmpAndFormatsReadThroughQt)
{
    QImage src(5, 3, QImage::Format_BGR888);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            src.setPixelColor(x, y, QColor(Pattern(x, y).r, Pattern(x, y).g, Pattern(x, y).b));
    WriteBmp24(Path("bottomup.bmp"), src, false);
    WriteBmp24(Path("topdown.BMP"), src, true);
    ExpectPattern("bottomup.bmp", 5, 3);
    ExpectPattern("topdown.BMP", 5, 3);

    // An 8-bit palette BMP is not ours to read; Qt's reader takes it.
    const QImage indexed = src.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    ASSERT_TRUE(indexed.save(Path("palette.bmp"), "BMP"));
    const QImage pal = Load("palette.bmp");
    for (int x = 0; x < 5; ++x) {
        const QColor want = indexed.pixelColor(x, 1);
        ExpectPixel(pal, x, 1, {want.red(), want.green(), want.blue()});
    }

    QImage argb(4, 2, QImage::Format_ARGB32);
    argb.fill(QColor(0, 0, 255, 0));
    argb.setPixelColor(0, 0, QColor(200, 100, 0, 255));
    argb.setPixelColor(1, 0, QColor(0, 0, 0, 102));
    ASSERT_TRUE(argb.save(Path("icon.ico"), "ICO"));
    const QImage ico = Load("icon.ico");
    ExpectPixel(ico, 0, 0, {200, 100, 0});
    ExpectPixel(ico, 1, 0, OverWhite({0, 0, 0}, 102), 1);
    ExpectPixel(ico, 3, 1, {255, 255, 255});
}
