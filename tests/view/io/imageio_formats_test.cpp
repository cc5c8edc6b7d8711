// Every format and pixel layout reaches the caller as the expected BGR pixels.

#include "imageio_files.h"

#include "view/io/ImageReaders.h"

#include <QImageReader>

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cmath>

using namespace testfiles;

namespace {

// Straight alpha over white, computed the slow way.
int OverWhite(int c, int a) { return int(std::lround((c * a + 255.0 * (255 - a)) / 255.0)); }

void ExpectPixel(const QImage& img, int x, int y, Rgb want, int tolerance = 0)
{
    const Rgb got = PixelAt(img, x, y);
    EXPECT_NEAR(got.r, want.r, tolerance) << "red at " << x << "," << y;
    EXPECT_NEAR(got.g, want.g, tolerance) << "green at " << x << "," << y;
    EXPECT_NEAR(got.b, want.b, tolerance) << "blue at " << x << "," << y;
}

// A distinct colour for every position, so misplaced or swapped pixels show.
Rgb Pattern(int x, int y) { return Rgb{(x * 50 + 7) % 256, (y * 70 + 20) % 256, (x * 13 + y * 31) % 256}; }

class ImageFormats : public ::testing::Test
{
protected:
    QString Path(const QString& name) const { return FDir.filePath(name); }

    QImage Load(const QString& path)
    {
        QImage img;
        EXPECT_TRUE(LoadImagefromFile(path, img)) << path.toStdString();
        EXPECT_EQ(img.format(), QImage::Format_BGR888);
        return img;
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
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const Rgb c = kBlocks[(y / 8) * 3 + x / 8];
            s.pixels.insert(s.pixels.end(), {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)});
        }
    return s;
}

} // namespace

TEST_F(ImageFormats, JpegColourAndGreyAndProgressive)
{
    JpegSpec rgb = BlockJpeg();
    WriteJpeg(Path("blocks.jpg"), rgb);
    rgb.progressive = true;
    WriteJpeg(Path("progressive.jpeg"), rgb);
    for (const char* name : {"blocks.jpg", "progressive.jpeg"}) {
        const QImage img = Load(Path(name));
        ASSERT_EQ(img.size(), QSize(24, 16));
        for (int b = 0; b < 6; ++b)
            ExpectPixel(img, (b % 3) * 8 + 4, (b / 3) * 8 + 4, kBlocks[b], 4);
    }

    JpegSpec grey;
    grey.components = 1;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            grey.pixels.push_back(x < 8 ? 40 : 200);
    WriteJpeg(Path("grey.jpe"), grey);
    const QImage g = Load(Path("grey.jpe"));
    ExpectPixel(g, 3, 3, {40, 40, 40}, 2);
    ExpectPixel(g, 12, 12, {200, 200, 200}, 2);
}

TEST_F(ImageFormats, JpegCmykPlainAndAdobeInvertedGiveTheSameColours)
{
    // Ink amounts (0 = none) and the colour each should print as.
    struct Ink { int c, m, y, k; Rgb want; };
    const Ink inks[4] = {{255, 0, 0, 0, {0, 255, 255}}, {0, 255, 0, 0, {255, 0, 255}},
                         {0, 0, 0, 255, {0, 0, 0}}, {0, 0, 0, 0, {255, 255, 255}}};
    for (bool adobe : {false, true}) {
        JpegSpec s;
        s.width = 32;
        s.height = 8;
        s.components = 4;
        s.adobeCmyk = adobe;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 32; ++x) {
                const Ink& i = inks[x / 8];
                for (int v : {i.c, i.m, i.y, i.k})
                    s.pixels.push_back(uint8_t(adobe ? 255 - v : v));
            }
        const QString path = Path(adobe ? "adobe.jpg" : "plain.jpg");
        WriteJpeg(path, s);
        const QImage img = Load(path);
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
        const QString path = Path(QStringLiteral("turned%1.JPG").arg(orientation));
        WriteJpeg(path, s);
        QImageReader qt(path, "jpeg");
        qt.setAutoTransform(true);
        const QImage want = qt.read().convertToFormat(QImage::Format_BGR888);
        ASSERT_FALSE(want.isNull());
        const QImage img = Load(path);
        ASSERT_EQ(img.size(), want.size()) << "orientation " << orientation;
        for (int y = 4; y < img.height(); y += 8)
            for (int x = 4; x < img.width(); x += 8)
                ExpectPixel(img, x, y, PixelAt(want, x, y), 6);
    }
}

TEST_F(ImageFormats, PngEveryColourTypeAndDepth)
{
    const int w = 9, h = 9; // odd sizes: padded rows and every interlace pass
    PngSpec rgb{w, h, PNG_COLOR_TYPE_RGB, 8, {}, {}, {}, false};
    PngSpec rgba{w, h, PNG_COLOR_TYPE_RGBA, 8, {}, {}, {}, false};
    PngSpec rgb16{w, h, PNG_COLOR_TYPE_RGB, 16, {}, {}, {}, false};
    for (int y = 0; y < h; ++y) {
        Bytes a, b, c;
        for (int x = 0; x < w; ++x) {
            const Rgb p = Pattern(x, y);
            a.insert(a.end(), {uint8_t(p.r), uint8_t(p.g), uint8_t(p.b)});
            b.insert(b.end(), {uint8_t(p.r), uint8_t(p.g), uint8_t(p.b), uint8_t((x * 40) % 256)});
            // 16-bit samples v * 257 scale back to exactly v.
            for (int v : {p.r, p.g, p.b})
                c.insert(c.end(), {uint8_t(v), uint8_t(v)});
        }
        rgb.rows.push_back(a);
        rgba.rows.push_back(b);
        rgb16.rows.push_back(c);
    }
    WritePng(Path("rgb.png"), rgb);
    WritePng(Path("rgba.png"), rgba);
    WritePng(Path("rgb16.png"), rgb16);
    rgb.interlaced = rgba.interlaced = true;
    WritePng(Path("rgb-i.png"), rgb);
    WritePng(Path("rgba-i.png"), rgba);
    for (const char* name : {"rgb.png", "rgb16.png", "rgb-i.png"}) {
        const QImage img = Load(Path(name));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ExpectPixel(img, x, y, Pattern(x, y));
    }
    for (const char* name : {"rgba.png", "rgba-i.png"}) {
        const QImage img = Load(Path(name));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Rgb p = Pattern(x, y);
                const int a = (x * 40) % 256;
                ExpectPixel(img, x, y, {OverWhite(p.r, a), OverWhite(p.g, a), OverWhite(p.b, a)});
            }
    }
}

TEST_F(ImageFormats, PngGreyOneBitAndPaletteWithTransparency)
{
    // 1-bit grey, pattern 1,0,1,1,0 packed from the high bit.
    PngSpec bits{5, 1, PNG_COLOR_TYPE_GRAY, 1, {{0xB0}}, {}, {}, false};
    WritePng(Path("bits.png"), bits);
    const QImage b = Load(Path("bits.png"));
    const int want[5] = {255, 0, 255, 255, 0};
    for (int x = 0; x < 5; ++x)
        ExpectPixel(b, x, 0, {want[x], want[x], want[x]});

    // 16-bit grey with alpha: grey 0x6400 -> 100, alpha 0x8000 -> 128.
    PngSpec ga{2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16, {{0x64, 0x00, 0xFF, 0xFF, 0x64, 0x00, 0x80, 0x00}}, {}, {}, false};
    WritePng(Path("greyalpha.png"), ga);
    const QImage g = Load(Path("greyalpha.png"));
    ExpectPixel(g, 0, 0, {100, 100, 100});
    ExpectPixel(g, 1, 0, {OverWhite(100, 128), OverWhite(100, 128), OverWhite(100, 128)}, 1);

    // 4-bit palette, entry 1 half transparent, entry 2 fully transparent.
    PngSpec pal{3, 1, PNG_COLOR_TYPE_PALETTE, 4, {{0x01, 0x20}}, {{10, 20, 30}, {200, 0, 0}, {0, 0, 255}}, {255, 51, 0},
                false};
    WritePng(Path("palette.png"), pal);
    const QImage p = Load(Path("palette.png"));
    ExpectPixel(p, 0, 0, {10, 20, 30});
    ExpectPixel(p, 1, 0, {OverWhite(200, 51), OverWhite(0, 51), OverWhite(0, 51)});
    ExpectPixel(p, 2, 0, {255, 255, 255});
}

TEST_F(ImageFormats, TiffRgbStripsPlainAndLzwPaddedAndUnpadded)
{
    for (int w : {4, 5}) { // 4 * 3 bytes fill the row exactly, 5 * 3 need padding
        TiffSpec s;
        s.width = w;
        s.height = 7;
        s.rowsPerStrip = 3; // the last strip is short
        for (int y = 0; y < s.height; ++y) {
            Bytes row;
            for (int x = 0; x < w; ++x) {
                const Rgb p = Pattern(x, y);
                row.insert(row.end(), {uint8_t(p.r), uint8_t(p.g), uint8_t(p.b)});
            }
            s.rows.push_back(row);
        }
        for (int compression : {COMPRESSION_NONE, COMPRESSION_LZW}) {
            s.compression = compression;
            const QString path = Path(QStringLiteral("rgb%1-%2.tif").arg(w).arg(compression));
            WriteTiff(path, s);
            const QImage img = Load(path);
            ASSERT_EQ(img.size(), QSize(w, 7));
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < w; ++x)
                    ExpectPixel(img, x, y, Pattern(x, y));
        }
    }
}

TEST_F(ImageFormats, TiffOtherLayouts)
{
    // 8-bit grey and 1-bit min-is-white (1 = black).
    TiffSpec grey{3, 1, 1, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, 1, false, false, 0, {{0, 128, 255}}, {}};
    WriteTiff(Path("grey.tiff"), grey);
    const QImage g = Load(Path("grey.tiff"));
    ExpectPixel(g, 1, 0, {128, 128, 128});
    ExpectPixel(g, 2, 0, {255, 255, 255});

    TiffSpec bw{4, 1, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_NONE, 1, false, false, 0, {{0xA0}}, {}};
    WriteTiff(Path("bw.tif"), bw);
    const QImage b = Load(Path("bw.tif"));
    ExpectPixel(b, 0, 0, {0, 0, 0});
    ExpectPixel(b, 1, 0, {255, 255, 255});
    ExpectPixel(b, 2, 0, {0, 0, 0});

    TiffSpec pal{2, 1, 1, 8, PHOTOMETRIC_PALETTE, COMPRESSION_NONE, 1, false, false, 0, {{1, 0}}, {{1, 2, 3}, {90, 180, 250}}};
    WriteTiff(Path("palette.tif"), pal);
    const QImage p = Load(Path("palette.tif"));
    ExpectPixel(p, 0, 0, {90, 180, 250});
    ExpectPixel(p, 1, 0, {1, 2, 3});

    // 16 bits per sample, native byte order: v * 257 scales back to v.
    TiffSpec rgb16{1, 1, 3, 16, PHOTOMETRIC_RGB, COMPRESSION_NONE, 1, false, false, 0, {{}}, {}};
    for (uint16_t v : {uint16_t(10 * 257), uint16_t(100 * 257), uint16_t(250 * 257)})
        rgb16.rows[0].insert(rgb16.rows[0].end(), {uint8_t(v & 0xFF), uint8_t(v >> 8)});
    WriteTiff(Path("rgb16.tif"), rgb16);
    ExpectPixel(Load(Path("rgb16.tif")), 0, 0, {10, 100, 250}, 1);

    // CMYK as TIFF stores it: 255 is full ink.
    TiffSpec cmyk{2, 1, 4, 8, PHOTOMETRIC_SEPARATED, COMPRESSION_NONE, 1, false, false, 0, {{255, 0, 0, 0, 0, 0, 0, 255}}, {}};
    WriteTiff(Path("cmyk.tif"), cmyk);
    const QImage c = Load(Path("cmyk.tif"));
    ExpectPixel(c, 0, 0, {0, 255, 255}, 1);
    ExpectPixel(c, 1, 0, {0, 0, 0}, 1);

    TiffSpec rgba{2, 1, 4, 8, PHOTOMETRIC_RGB, COMPRESSION_NONE, 1, true, false, 0, {{200, 100, 50, 255, 200, 100, 50, 64}}, {}};
    WriteTiff(Path("rgba.tif"), rgba);
    const QImage a = Load(Path("rgba.tif"));
    ExpectPixel(a, 0, 0, {200, 100, 50});
    ExpectPixel(a, 1, 0, {OverWhite(200, 64), OverWhite(100, 64), OverWhite(50, 64)}, 1);
}

TEST_F(ImageFormats, TiffTiledAndOrientedPictures)
{
    TiffSpec s;
    s.width = 20; // partial tiles on both edges
    s.height = 18;
    for (int y = 0; y < s.height; ++y) {
        Bytes row;
        for (int x = 0; x < s.width; ++x) {
            const Rgb p = Pattern(x, y);
            row.insert(row.end(), {uint8_t(p.r), uint8_t(p.g), uint8_t(p.b)});
        }
        s.rows.push_back(row);
    }
    s.tiled = true;
    WriteTiff(Path("tiled.tif"), s);
    const QImage t = Load(Path("tiled.tif"));
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            ExpectPixel(t, x, y, Pattern(x, y));

    // Bottom-left origin: the first stored row is the bottom of the picture.
    s.tiled = false;
    s.orientation = ORIENTATION_BOTLEFT;
    WriteTiff(Path("bottomup.tif"), s);
    const QImage b = Load(Path("bottomup.tif"));
    for (int y = 0; y < s.height; ++y)
        ExpectPixel(b, 3, y, Pattern(3, s.height - 1 - y));
}

TEST_F(ImageFormats, GifFirstFrameTransparencyAndInterlace)
{
    const std::vector<Rgb> palette = {{0, 0, 0}, {255, 0, 0}, {0, 128, 0}, {10, 20, 200}};
    GifFrame first{2, 1, 3, 10, {}, true, 3};
    for (int i = 0; i < 30; ++i)
        first.indices.push_back(uint8_t(i % 4));
    GifFrame second{0, 0, 6, 12, Bytes(72, 1), false, -1};
    WriteGif(Path("anim.GIF"), 6, 12, palette, {first, second});
    const QImage img = Load(Path("anim.GIF"));
    ASSERT_EQ(img.size(), QSize(6, 12));
    const Rgb white{255, 255, 255};
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 1 && y < 11;
            if (!inside) {
                ExpectPixel(img, x, y, white);
                continue;
            }
            const int index = ((y - 1) * 3 + (x - 2)) % 4;
            ExpectPixel(img, x, y, index == 3 ? white : palette[std::size_t(index)]);
        }
}

TEST_F(ImageFormats, BmpOwnReaderAndOtherKindsThroughQt)
{
    QImage src(5, 3, QImage::Format_BGR888);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const Rgb p = Pattern(x, y);
            src.setPixelColor(x, y, QColor(p.r, p.g, p.b));
        }
    WriteBmp24(Path("bottomup.bmp"), src, false);
    WriteBmp24(Path("topdown.BMP"), src, true);
    // An 8-bit palette BMP is not ours to read; Qt's reader takes it.
    QImage indexed = src.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    ASSERT_TRUE(indexed.save(Path("palette.bmp"), "BMP"));
    for (const char* name : {"bottomup.bmp", "topdown.BMP", "palette.bmp"}) {
        const QImage img = Load(Path(name));
        ASSERT_EQ(img.size(), QSize(5, 3)) << name;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                const QColor want = (QString::fromLatin1(name) == "palette.bmp" ? indexed.pixelColor(x, y)
                                                                                  : src.pixelColor(x, y));
                ExpectPixel(img, x, y, {want.red(), want.green(), want.blue()});
            }
    }
}

TEST_F(ImageFormats, OtherFormatsThroughQtWithAlphaOverWhite)
{
    QImage argb(4, 2, QImage::Format_ARGB32);
    argb.fill(QColor(0, 0, 255, 0));
    argb.setPixelColor(0, 0, QColor(200, 100, 0, 255));
    argb.setPixelColor(1, 0, QColor(0, 0, 0, 102));
    ASSERT_TRUE(argb.save(Path("icon.ico"), "ICO"));
    const QImage ico = Load(Path("icon.ico"));
    ExpectPixel(ico, 0, 0, {200, 100, 0});
    ExpectPixel(ico, 1, 0, {OverWhite(0, 102), OverWhite(0, 102), OverWhite(0, 102)}, 1);
    ExpectPixel(ico, 3, 1, {255, 255, 255});

    QImage grey(3, 1, QImage::Format_Grayscale8);
    grey.fill(77);
    ASSERT_TRUE(grey.save(Path("grey.pgm"), "PGM"));
    ExpectPixel(Load(Path("grey.pgm")), 2, 0, {77, 77, 77});
}
