// Writes the starting corpora of the fuzz targets into the folder given as
// the only argument, one subfolder per target. Every seed is small and
// valid, made with the same builders as the tests, so the fuzzer starts
// from each layout the code knows and mutates from there.

#include "ExifSamples.h"
#include "imageio_files.h"

#include <QBuffer>
#include <QDirIterator>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <functional>

#include <zlib.h>

namespace {

QString gRoot;

QString Dir(const char* target)
{
    const QString d = gRoot + QLatin1Char('/') + QLatin1String(target);
    QDir().mkpath(d);
    return d;
}

void Put(const char* target, const QString& name, const QByteArray& bytes)
{
    testfiles::WriteAll(Dir(target) + QLatin1Char('/') + name, bytes);
}

void PutBytes(const char* target, const QString& name, const Bytes& b)
{
    Put(target, name, QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())));
}

// Writes through a testfiles writer into the target's folder.
void Make(const char* target, const QString& name, const std::function<void(const QString&)>& write)
{
    write(Dir(target) + QLatin1Char('/') + name);
}

testfiles::Bytes Ramp(int w, int h, int components, int bytesPerSample = 1)
{
    testfiles::Bytes b(size_t(w) * size_t(h) * size_t(components) * size_t(bytesPerSample));
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = uint8_t(i * 37 + i / 7);
    return b;
}

std::vector<testfiles::Bytes> Rows(int w, int h, int bytesPerPixel)
{
    std::vector<testfiles::Bytes> rows;
    for (int y = 0; y < h; ++y) {
        testfiles::Bytes r(size_t(w * bytesPerPixel));
        for (size_t x = 0; x < r.size(); ++x)
            r[x] = uint8_t(x * 29 + size_t(y) * 11);
        rows.push_back(r);
    }
    return rows;
}

void ExifSeeds()
{
    const Bytes plain = SmallJpeg(16, 12, 50);
    std::vector<std::pair<const char*, Bytes>> seeds = {
        {"rich-le.jpg", RichJpeg(false)},
        {"rich-be.jpg", RichJpeg(true)},
        {"jfif.jpg", plain},
        {"bare.jpg", [&] { Bytes b{0xFF, 0xD8}; const Bytes rest = StripLeadingApp0(plain); b.insert(b.end(), rest.begin(), rest.end()); return b; }()},
        {"jfif-then-exif.jpg", WrapExif(BuildTiff(RichSpec(false)).bytes, plain, true)},
    };
    XSpec small;
    small.ifd0 = {XRational(0x011A, {72, 1}), XRational(0x011B, {72, 1}), XShort(0x0128, {2})};
    small.thumbnail = Thumbnail();
    seeds.push_back({"small.jpg", WrapExif(BuildTiff(small).bytes, plain)});
    small.withInterop = false;
    small.bigEndian = true;
    seeds.push_back({"small-be-nointerop.jpg", WrapExif(BuildTiff(small).bytes, plain)});
    small.thumbnail.clear();
    seeds.push_back({"no-thumbnail.jpg", WrapExif(BuildTiff(small).bytes, plain)});
    for (const auto& s : seeds) {
        PutBytes("exif", QLatin1String(s.first), s.second);
        PutBytes("dpi", QLatin1String(s.first), s.second);
    }
}

void JpegSeeds()
{
    using testfiles::JpegSpec;
    const auto add = [](const char* name, JpegSpec layout) {
        layout.pixels = Ramp(layout.width, layout.height, layout.components);
        Make("read_jpeg", QLatin1String(name), [&](const QString& p) { testfiles::WriteJpeg(p, layout); });
    };
    JpegSpec s;
    s.quality = 80;
    add("rgb.jpg", s);
    s.components = 1;
    add("grey.jpg", s);
    s.components = 4;
    add("cmyk-adobe.jpg", s);
    s.adobeCmyk = false;
    add("cmyk.jpg", s);
    s = JpegSpec{};
    s.progressive = true;
    s.width = 20;
    s.height = 9;
    add("progressive.jpg", s);
    for (int o : {3, 6, 8}) {
        s = JpegSpec{};
        s.width = 12;
        s.orientation = o;
        add(qPrintable(QStringLiteral("orientation%1.jpg").arg(o)), s);
    }
}

void PngSeeds()
{
    using testfiles::PngSpec;
    const auto add = [](const char* name, PngSpec layout) {
        Make("read_png", QLatin1String(name), [&](const QString& p) { testfiles::WritePng(p, layout); });
    };
    struct Kind { const char* name; int colorType, bitDepth, bytesPerPixel; };
    const Kind kinds[] = {{"grey1.png", 0, 1, 1}, {"grey4.png", 0, 4, 1}, {"grey8.png", 0, 8, 1},
                          {"grey16.png", 0, 16, 2}, {"rgb8.png", 2, 8, 3}, {"rgb16.png", 2, 16, 6},
                          {"greyalpha.png", 4, 8, 2}, {"rgba8.png", 6, 8, 4}, {"rgba16.png", 6, 16, 8}};
    for (const Kind& k : kinds) {
        PngSpec s;
        s.width = 10;
        s.height = 7;
        s.colorType = k.colorType;
        s.bitDepth = k.bitDepth;
        // Packed rows of sub-byte depths are shorter; the longer rows are cut by the writer's own width.
        s.rows = Rows(s.width, s.height, k.bytesPerPixel);
        add(k.name, s);
        s.interlaced = true;
        add(qPrintable(QStringLiteral("interlaced-") + QLatin1String(k.name)), s);
    }
    PngSpec pal;
    pal.width = 9;
    pal.height = 5;
    pal.colorType = 3;
    pal.rows = Rows(9, 5, 1);
    for (auto& r : pal.rows)
        for (auto& v : r)
            v %= 4;
    pal.palette = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    add("palette.png", pal);
    pal.transparency = {0, 128};
    add("palette-trns.png", pal);
}

void TiffSeeds()
{
    using testfiles::TiffSpec;
    const auto add = [](const QString& name, TiffSpec layout) {
        Make("read_tiff", name, [&](const QString& p) { testfiles::WriteTiff(p, layout); });
    };
    struct Kind { const char* name; int samples, bits, photometric; bool alpha; };
    const Kind kinds[] = {{"rgb8", 3, 8, 2, false}, {"rgb16", 3, 16, 2, false}, {"grey8", 1, 8, 1, false},
                          {"white0-8", 1, 8, 0, false}, {"bilevel", 1, 1, 1, false}, {"cmyk", 4, 8, 5, false},
                          {"rgba", 4, 8, 2, true}, {"premul-rgba", 4, 8, 2, false}};
    for (const Kind& k : kinds) {
        for (int compression : {1, 5, 8, 32773}) {
            TiffSpec s;
            s.width = 11;
            s.height = 6;
            s.samples = k.samples;
            s.bitsPerSample = k.bits;
            s.photometric = k.photometric;
            s.unassociatedAlpha = k.alpha;
            s.compression = compression;
            s.rowsPerStrip = 2;
            s.rows = Rows(s.width, s.height, (k.samples * k.bits + 7) / 8);
            if (k.bits == 1)
                s.rows = Rows((s.width + 7) / 8, s.height, 1);
            add(QStringLiteral("%1-c%2.tif").arg(QLatin1String(k.name)).arg(compression), s);
        }
    }
    TiffSpec pal;
    pal.width = 8;
    pal.height = 4;
    pal.samples = 1;
    pal.bitsPerSample = 8;
    pal.photometric = 3;
    pal.rows = Rows(8, 4, 1);
    for (int i = 0; i < 256; ++i)
        pal.palette.push_back({i, 255 - i, i / 2});
    add(QStringLiteral("palette.tif"), pal);
    for (int o : {2, 5, 7}) {
        TiffSpec s;
        s.width = 5;
        s.height = 3;
        s.rows = Rows(5, 3, 3);
        s.orientation = o;
        add(QStringLiteral("orientation%1.tif").arg(o), s);
    }
}

void GifSeeds()
{
    using testfiles::GifFrame;
    const std::vector<testfiles::Rgb> palette = {{0, 0, 0}, {255, 255, 255}, {200, 30, 30}, {30, 30, 200}};
    const auto frame = [](int left, int top, int w, int h) {
        GifFrame f;
        f.left = left;
        f.top = top;
        f.width = w;
        f.height = h;
        for (int i = 0; i < w * h; ++i)
            f.indices.push_back(uint8_t((i / 3) % 4));
        return f;
    };
    const auto add = [&](const char* name, int sw, int sh, const std::vector<GifFrame>& frames) {
        Make("read_gif", QLatin1String(name), [&](const QString& p) { testfiles::WriteGif(p, sw, sh, palette, frames); });
    };
    add("plain.gif", 8, 6, {frame(0, 0, 8, 6)});
    GifFrame f = frame(0, 0, 9, 9);
    f.interlaced = true;
    add("interlaced.gif", 9, 9, {f});
    f = frame(2, 1, 4, 3);
    f.transparent = 1;
    add("offset-transparent.gif", 8, 6, {f});
    add("two-frames.gif", 8, 6, {frame(0, 0, 8, 6), frame(1, 1, 3, 3)});
}

QByteArray Encoded(const QImage& img, const char* format)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, format);
    return bytes;
}

QImage Sample(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x * 20, y * 30, (x + y) * 10));
    return img;
}

void BmpAndQtSeeds()
{
    const QImage img = Sample(7, 5).convertToFormat(QImage::Format_BGR888);
    Make("read_bmp", QStringLiteral("bottom-up.bmp"), [&](const QString& p) { testfiles::WriteBmp24(p, img); });
    Make("read_bmp", QStringLiteral("top-down.bmp"), [&](const QString& p) { testfiles::WriteBmp24(p, img, true); });
    Put("read_bmp", QStringLiteral("indexed.bmp"), Encoded(img.convertToFormat(QImage::Format_Indexed8), "bmp"));
    Put("read_bmp", QStringLiteral("mono.bmp"), Encoded(img.convertToFormat(QImage::Format_Mono), "bmp"));
    Put("read_bmp", QStringLiteral("argb.bmp"), Encoded(Sample(6, 4).convertToFormat(QImage::Format_ARGB32), "bmp"));

    // The Qt target's first byte picks the extension (see fuzz_read.cpp).
    const auto qt = [](int kind, const char* name, const QByteArray& bytes) {
        Put("read_qt", QLatin1String(name), QByteArray(1, char(kind)) + bytes);
    };
    const QImage small = Sample(6, 4);
    qt(0, "indexed.bmp", Encoded(small.convertToFormat(QImage::Format_Indexed8), "bmp"));
    qt(1, "p6.ppm", Encoded(small, "ppm"));
    qt(1, "p3.ppm", QByteArray("P3\n2 2\n255\n255 0 0 0 255 0\n0 0 255 9 9 9\n"));
    qt(2, "p5.pgm", Encoded(small.convertToFormat(QImage::Format_Grayscale8), "pgm"));
    qt(3, "p4.pbm", Encoded(small.convertToFormat(QImage::Format_Mono), "pbm"));
    qt(4, "icon.xpm", Encoded(small.convertToFormat(QImage::Format_Indexed8), "xpm"));
    qt(5, "mono.xbm", Encoded(small.convertToFormat(QImage::Format_Mono), "xbm"));
    qt(6, "icon.ico", Encoded(Sample(16, 16).convertToFormat(QImage::Format_ARGB32), "ico"));
    qt(8, "box.svg", QByteArray("<svg xmlns='http://www.w3.org/2000/svg' width='8' height='6'>"
                                "<rect width='4' height='3' fill='red'/></svg>"));
    qt(9, "meta.emf", QByteArray("\x01\0\0\0 EMF", 8));
}

void ProfileSeeds()
{
    // The names and the value come first, each ended by a backslash and one
    // more byte (the provider's string format); the file follows.
    const auto add = [](const char* name, const QByteArray& names, const QByteArray& file) {
        Put("profile", QLatin1String(name), names + file);
    };
    const QByteArray names = "Ritocco\\xLuminosita\\x12\\xCartelle\\xFoto\\x";
    add("typical.ini", names,
        "[Cartelle]\nFoto=/home/utente/Immagini\nFirma=\n\n[Ritocco]\nLuminosita=0\nContrasto=5\n");
    add("crlf-bom.ini", names, "\xEF\xBB\xBF[ritocco]\r\n; commento\r\nluminosita = \" 3 \"\r\n[cartelle]\r\nfoto='x'\r\n");
    add("cr-only.ini", "Nuova\\xChiave\\x valore \\xA\\xB\\x", "[A]\rB=1\r\r[C]\rD=2");
    add("duplicates.ini", "S\\xK\\x'q'\\xs\\xk\\x", "[S]\nK=1\nk=2\n[s]\nK=3\njunk line\n[broken\n=novalue\n");
    add("unterminated.ini", "T\\xZ\\xv\\xT\\xY\\x", "[T]\nY=1\n  ; c\n\t\n[U]\nZ=9");
    add("empty.ini", "S\\xK\\xV\\xS\\xK\\x", "");
}

void Put32LE(QByteArray& b, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (8 * i));
}

void Put32BE(QByteArray& b, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (24 - 8 * i));
}

void Put16BE(QByteArray& b, int at, uint16_t v)
{
    b[at] = char(v >> 8);
    b[at + 1] = char(v);
}

// The IHDR of a PNG with new dimensions, its checksum made right again so
// the reader gets past libpng's CRC test to its own size checks.
QByteArray PngWithSize(QByteArray png, uint32_t w, uint32_t h)
{
    Put32BE(png, 16, w);
    Put32BE(png, 20, h);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17);
    Put32BE(png, 29, uint32_t(crc));
    return png;
}

// Position of the SOF height field in a JPEG, or -1.
int SofHeightPos(const QByteArray& jpeg)
{
    for (int i = 2; i + 8 < jpeg.size(); ++i)
        if (uchar(jpeg[i]) == 0xFF && (uchar(jpeg[i + 1]) == 0xC0 || uchar(jpeg[i + 1]) == 0xC2))
            return i + 5;
    return -1;
}

// Known ways a picture file goes wrong, made from the valid seeds: every
// file cut in half, and per format the header fields that size the
// picture and place its data.
void MalformedSeeds()
{
    for (const char* target : {"read_jpeg", "read_png", "read_tiff", "read_gif", "read_bmp"}) {
        QDirIterator it(Dir(target), QDir::Files);
        QStringList files;
        while (it.hasNext())
            files << it.next();
        for (const QString& f : files) {
            const QByteArray b = testfiles::ReadAll(f);
            Put(target, QStringLiteral("cut-") + QFileInfo(f).fileName(), b.left(b.size() / 2));
        }
    }

    const QByteArray bmp = testfiles::ReadAll(Dir("read_bmp") + QStringLiteral("/bottom-up.bmp"));
    const auto bmpWith = [&](const char* name, int at, uint32_t v) {
        QByteArray b = bmp;
        Put32LE(b, at, v);
        Put("read_bmp", QLatin1String(name), b);
    };
    bmpWith("height-min.bmp", 22, 0x80000000u);
    bmpWith("width-huge.bmp", 18, 0x7FFFFFFFu);
    bmpWith("size-beyond-limit.bmp", 18, 40000);
    bmpWith("data-beyond-end.bmp", 10, 0xFFFFFFF0u);
    bmpWith("bitfields.bmp", 30, 3);
    bmpWith("header-size-odd.bmp", 14, 0xFFFF);

    const QByteArray png = testfiles::ReadAll(Dir("read_png") + QStringLiteral("/rgb8.png"));
    Put("read_png", QStringLiteral("huge.png"), PngWithSize(png, 0x7FFFFFFF, 0x7FFFFFFF));
    Put("read_png", QStringLiteral("large-no-data.png"), PngWithSize(png, 20000, 20000));
    Put("read_png", QStringLiteral("zero.png"), PngWithSize(png, 0, 7));
    QByteArray badCrc = png;
    badCrc[40] = char(badCrc[40] ^ 0x55);
    Put("read_png", QStringLiteral("bad-crc.png"), badCrc);

    const QByteArray jpeg = testfiles::ReadAll(Dir("read_jpeg") + QStringLiteral("/rgb.jpg"));
    const int sof = SofHeightPos(jpeg);
    if (sof > 0) {
        const auto jpegWith = [&](const char* name, uint16_t h, uint16_t w) {
            QByteArray b = jpeg;
            Put16BE(b, sof, h);
            Put16BE(b, sof + 2, w);
            Put("read_jpeg", QLatin1String(name), b);
        };
        jpegWith("large-no-data.jpg", 30000, 20000);
        jpegWith("largest.jpg", 65535, 65535);
        jpegWith("zero-width.jpg", 16, 0);
    }

    const std::vector<testfiles::Rgb> four = {{0, 0, 0}, {255, 255, 255}, {200, 30, 30}, {30, 30, 200}};
    testfiles::GifFrame over;
    over.left = 5;
    over.top = 4;
    over.width = 8;
    over.height = 6;
    for (int i = 0; i < 48; ++i)
        over.indices.push_back(uint8_t(i % 8)); // indices past the four colours too
    Make("read_gif", QStringLiteral("frame-past-screen.gif"),
         [&](const QString& p) { testfiles::WriteGif(p, 8, 6, four, {over}); });
    Make("read_gif", QStringLiteral("screen-large.gif"),
         [&](const QString& p) { testfiles::WriteGif(p, 65535, 65535, four, {over}); });
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    gRoot = QString::fromLocal8Bit(argv[1]);
    ExifSeeds();
    JpegSeeds();
    PngSeeds();
    TiffSeeds();
    GifSeeds();
    BmpAndQtSeeds();
    ProfileSeeds();
    MalformedSeeds();
    return 0;
}
