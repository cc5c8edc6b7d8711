// Broken, truncated and oversize files take their format's failure path; the
// placeholder and the notifier behave as the callers rely on.

#include "imageio_files.h"

#include "view/io/ImageReaders.h"

#include <QFileInfo>

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <mutex>

using namespace testfiles;

namespace {

// Collects what the readers would show the user.
class NotifierCapture
{
public:
    NotifierCapture()
    {
        SetImageErrorNotifier([this](const QString& m) {
            std::lock_guard<std::mutex> lock(FMutex);
            FMessages << m;
        });
    }
    ~NotifierCapture() { SetImageErrorNotifier({}); }
    QStringList Messages()
    {
        std::lock_guard<std::mutex> lock(FMutex);
        return FMessages;
    }

private:
    std::mutex FMutex;
    QStringList FMessages;
};

enum class Path { Message, Throws, Silent };

struct Outcome
{
    bool result = false;
    bool threw = false;
    QString error;
    QStringList notified;
    QImage bitmap;
};

Outcome Read(const QString& file)
{
    NotifierCapture capture;
    Outcome o;
    o.bitmap = QImage(7, 7, QImage::Format_BGR888); // must survive a thrown error
    try {
        o.result = LoadImagefromFile(file, o.bitmap);
    } catch (const EImageReadError& e) {
        o.threw = true;
        o.error = e.Message();
    }
    o.notified = capture.Messages();
    return o;
}

bool IsPlaceholder(const QImage& img) { return img.size() == QSize(300, 300) && img.pixelColor(2, 2) == Qt::black; }

void ExpectPath(const QString& file, Path path)
{
    SCOPED_TRACE(file.toStdString());
    const Outcome o = Read(file);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.threw, path == Path::Throws);
    EXPECT_EQ(o.threw, !o.error.isEmpty());
    EXPECT_EQ(o.notified.size(), path == Path::Message ? 1 : 0);
    // A thrown error leaves the caller's picture alone; the other paths draw the placeholder.
    if (path == Path::Throws)
        EXPECT_EQ(o.bitmap.size(), QSize(7, 7));
    else
        EXPECT_TRUE(IsPlaceholder(o.bitmap));
}

class ImageFailures : public ::testing::Test
{
protected:
    QString P(const QString& name) const { return FDir.filePath(name); }

    // One valid file of each format, of noisy pixels so the data runs to many bytes.
    void WriteValidFiles(int w, int h)
    {
        QImage img(w, h, QImage::Format_BGR888);
        quint32 seed = 12345;
        std::vector<Bytes> rows(static_cast<std::size_t>(h));
        JpegSpec j{w, h, 3, {}, 90, 0, true, false};
        for (int y = 0; y < h; ++y)
            for (int i = 0; i < w * 3; ++i) {
                seed = seed * 1103515245u + 12345u;
                img.scanLine(y)[i] = uchar(seed >> 24);
                rows[std::size_t(y)].push_back(uint8_t(seed >> 24));
                j.pixels.push_back(uint8_t(seed >> 24));
            }
        WriteJpeg(P("ok.jpg"), j);
        WritePng(P("ok.png"), {w, h, PNG_COLOR_TYPE_RGB, 8, rows, {}, {}, false});
        WriteTiff(P("ok.tif"), {w, h, 3, 8, PHOTOMETRIC_RGB, COMPRESSION_LZW, 1, false, 0, rows, {}});
        GifFrame f{0, 0, w, h, Bytes(std::size_t(w * h)), false, -1};
        for (std::size_t i = 0; i < f.indices.size(); ++i)
            f.indices[i] = j.pixels[i] & 3;
        WriteGif(P("ok.gif"), w, h, {{0, 0, 0}, {90, 90, 90}, {180, 0, 0}, {0, 0, 250}}, {f});
        WriteBmp24(P("ok.bmp"), img);
        ASSERT_TRUE(img.save(P("ok.ppm"), "PPM"));
    }

    QTemporaryDir FDir;
};

const struct
{
    const char* ext;
    Path path;
} kFormats[] = {{"jpg", Path::Message}, {"png", Path::Throws}, {"tif", Path::Throws},
                {"gif", Path::Throws},  {"bmp", Path::Silent}, {"ppm", Path::Silent}};

} // namespace

TEST_F(ImageFailures, TruncatedAndCorruptFilesTakeTheirFormatsPath)
{
    WriteValidFiles(64, 48);
    for (const auto& f : kFormats) {
        const QString ext = QString::fromLatin1(f.ext);
        const QByteArray data = ReadAll(P("ok." + ext));
        QImage sound;
        ASSERT_TRUE(LoadImagefromFile(P("ok." + ext), sound)) << f.ext;

        // A cut JPEG file shows its sound top with a warning (tested below).
        WriteAll(P("cut." + ext), data.left(data.size() * 6 / 10));
        if (ext != "jpg")
            ExpectPath(P("cut." + ext), f.path);

        WriteAll(P("empty." + ext), QByteArray());
        ExpectPath(P("empty." + ext), f.path);

        // The signature survives, the structure after it is garbage.
        QByteArray corrupt = data;
        for (int i = 4; i < 200 && i < corrupt.size(); ++i)
            corrupt[i] = char(0xA5 ^ i);
        WriteAll(P("corrupt." + ext), corrupt);
        ExpectPath(P("corrupt." + ext), f.path);

        ExpectPath(P("missing." + ext), f.path);
    }
}

TEST_F(ImageFailures, UpperCaseExtensionsPickTheSameReaders)
{
    const QByteArray junk("this is not a picture at all, just text");
    const struct { const char* name; Path path; } cases[] = {
        {"A.JPG", Path::Message}, {"B.Jpeg", Path::Message}, {"C.JPE", Path::Message}, {"D.PNG", Path::Throws},
        {"E.TIF", Path::Throws},  {"F.TIFF", Path::Throws},  {"G.GIF", Path::Throws}, {"H.XYZ", Path::Silent},
        {"I.BMP", Path::Silent}};
    for (const auto& c : cases) {
        WriteAll(P(c.name), junk);
        ExpectPath(P(c.name), c.path);
    }
}

TEST_F(ImageFailures, MetafilesGetThePlaceholderWhateverTheyHold)
{
    WriteValidFiles(8, 8);
    QFile::copy(P("ok.bmp"), P("drawing.wmf"));
    QFile::copy(P("ok.bmp"), P("drawing.EMF"));
    ExpectPath(P("drawing.wmf"), Path::Silent);
    ExpectPath(P("drawing.EMF"), Path::Silent);
}

TEST_F(ImageFailures, OversizeHeadersAreRefusedWithAMessage)
{
    WriteValidFiles(16, 16);
    // Big-endian 16 and 32-bit fields written over a valid file.
    auto put = [](QByteArray& d, int at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            d[at + i] = char((v >> (8 * (bytes - 1 - i))) & 0xFF);
    };
    // JPEG: the SOF0 marker announces 65000 x 65000 (12 GB).
    QByteArray jpg = ReadAll(P("ok.jpg"));
    const int sof = jpg.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    put(jpg, sof + 5, 65000, 2);
    put(jpg, sof + 7, 65000, 2);
    WriteAll(P("huge.jpg"), jpg);

    // PNG: IHDR at 60000 x 60000 with a correct CRC, so only the size is wrong.
    QByteArray png = ReadAll(P("ok.png"));
    put(png, 16, 60000, 4);
    put(png, 20, 60000, 4);
    put(png, 29, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17)), 4);
    WriteAll(P("huge.png"), png);

    // TIFF: a valid directory announcing 60000 x 60000 grey pixels, one byte of data.
    TIFF* tif = TIFFOpen(QFile::encodeName(P("huge.tif")).constData(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 60000u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 60000u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 60000u);
    uint8_t byte = 0;
    TIFFWriteRawStrip(tif, 0, &byte, 1);
    TIFFClose(tif);

    // GIF: a 65535 x 65535 logical screen around a 1 x 1 frame.
    WriteGif(P("huge.gif"), 65535, 65535, {{0, 0, 0}, {255, 255, 255}}, {GifFrame{0, 0, 1, 1, {1}, false, -1}});

    // BMP: 50000 x 50000 announced (little-endian fields), a few bytes present.
    QByteArray bmp = ReadAll(P("ok.bmp"));
    put(bmp, 18, 0x50C30000, 4);
    put(bmp, 22, 0x50C30000, 4);
    WriteAll(P("huge.bmp"), bmp);

    const QString files[] = {P("huge.jpg"), P("huge.png"), P("huge.tif"), P("huge.gif"), P("huge.bmp")};
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const QString ext = QFileInfo(file).suffix();
        const bool throws = ext == "png" || ext == "tif" || ext == "gif";
        const Outcome o = Read(file);
        EXPECT_FALSE(o.result);
        // Even the silent formats say why: a placeholder alone would look like a damaged file.
        const QString text = o.threw ? o.error : o.notified.value(0);
        EXPECT_TRUE(text.contains(QStringLiteral("troppo grande"))) << text.toStdString();
        EXPECT_EQ(o.threw, throws);
    }

    // Qt's readers of other formats often cannot tell the size before decoding;
    // Qt's own allocation guard then refuses the picture, silently like any
    // unreadable file of that kind.
    WriteAll(P("huge.ppm"), QByteArray("P6\n60000 60000\n255\n") + QByteArray(64, 'x'));
    ExpectPath(P("huge.ppm"), Path::Silent);
}

TEST_F(ImageFailures, JpegWithEndlessProgressiveScansIsRefused)
{
    // The last scan of a progressive file repeated 600 times: each repetition
    // is a full pass over the coefficients, a classic way to stall a decoder.
    JpegSpec layout{64, 64, 3, Bytes(64 * 64 * 3, 128), 90, 0, true, true};
    WriteJpeg(P("p.jpg"), layout);
    const QByteArray data = ReadAll(P("p.jpg"));
    const int lastScan = data.lastIndexOf(QByteArray("\xFF\xDA", 2));
    const int end = data.lastIndexOf(QByteArray("\xFF\xD9", 2));
    ASSERT_GT(lastScan, 0);
    WriteAll(P("scans.jpg"), data.left(end) + data.mid(lastScan, end - lastScan).repeated(600) + data.mid(end));
    ExpectPath(P("scans.jpg"), Path::Message);
}

TEST_F(ImageFailures, SizeLimitIsAGibibyteOrASixteenthOfTheMemory)
{
    // Four full-size pictures within a quarter of the memory, never above 1 GiB.
    EXPECT_EQ(PictureByteLimitFor(0), kMaxImageBytes);
    EXPECT_EQ(PictureByteLimitFor(std::int64_t(64) << 30), std::int64_t(1) << 30);
    EXPECT_EQ(PictureByteLimitFor(std::int64_t(8) << 30), std::int64_t(512) << 20);
    EXPECT_EQ(PictureByteLimitFor(std::int64_t(4) << 30), std::int64_t(256) << 20);
    // An A3 page at 600 dpi (209 MB) still opens on a 4 GiB machine.
    EXPECT_GE(PictureByteLimitFor(std::int64_t(4) << 30), std::int64_t(7016) * 3 * 9921);

    // This machine's limit, to the row: 16384 pixels make rows of 49152 bytes.
    const std::int64_t rows = PictureByteLimit() / 49152;
    EXPECT_TRUE(ImageSizeAllowed(16384, rows));
    EXPECT_FALSE(ImageSizeAllowed(16384, rows + 1));
    EXPECT_FALSE(ImageSizeAllowed(std::int64_t(1) << 40, 1));
    EXPECT_FALSE(ImageSizeAllowed(26000, 26000)); // 2 GB, the hostile headers' favourite
}

TEST_F(ImageFailures, MessageGoesToTheCallerInsteadOfTheNotifierWhenAsked)
{
    WriteAll(P("bad.jpg"), QByteArray("\xFF\xD8garbage", 9));
    NotifierCapture capture;
    QImage img;
    QString message = QStringLiteral("stale");
    EXPECT_FALSE(LoadImagefromFile(P("bad.jpg"), img, &message));
    EXPECT_FALSE(message.isEmpty());
    EXPECT_NE(message, QStringLiteral("stale"));
    EXPECT_TRUE(capture.Messages().isEmpty());
    EXPECT_TRUE(IsPlaceholder(img));

    // A good read clears what an earlier failure left.
    WriteValidFiles(8, 8);
    EXPECT_TRUE(LoadImagefromFile(P("ok.jpg"), img, &message));
    EXPECT_TRUE(message.isEmpty());
}

TEST_F(ImageFailures, PlaceholderWritesBothLinesInsideTheirBands)
{
    const QString longName = QStringLiteral("/home/utente/") + QString(200, QLatin1Char('x')) + QStringLiteral("/foto.xyz");
    const QImage img = MakePlaceholderImage(longName);
    ASSERT_EQ(img.size(), QSize(300, 300));
    ASSERT_EQ(img.format(), QImage::Format_BGR888);
    int titleRed = 0, nameRed = 0, strayRed = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 300; ++x) {
            const Rgb c = PixelAt(img, x, y);
            const bool red = c.r > 100 && c.g < 60 && c.b < 60;
            if (!red) {
                // Only black and the red text's antialiased edges.
                EXPECT_TRUE(c.g < 60 && c.b < 60) << x << "," << y;
                continue;
            }
            const bool inX = x >= 10 && x < 290;
            if (inX && y >= 120 && y < 150)
                ++titleRed;
            else if (inX && y >= 170 && y < 200)
                ++nameRed;
            else
                ++strayRed;
        }
    EXPECT_GT(titleRed, 50);
    EXPECT_GT(nameRed, 50);
    EXPECT_EQ(strayRed, 0);
}

namespace {

// A BMP of `bits` per pixel with a BITMAPINFOHEADER, a two-colour palette
// and the given pixel bytes after it.
QByteArray BmpWithPalette(int32_t width, int32_t height, uint16_t bits, uint32_t compression, const QByteArray& data)
{
    QByteArray head(14 + 40 + 8, '\0');
    auto le = [&](int at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            head[at + i] = char((v >> (8 * i)) & 0xFF);
    };
    head[0] = 'B';
    head[1] = 'M';
    le(2, uint32_t(head.size() + data.size()), 4);
    le(10, uint32_t(head.size()), 4);
    le(14, 40, 4);
    le(18, uint32_t(width), 4);
    le(22, uint32_t(height), 4);
    le(26, 1, 2);
    le(28, bits, 2);
    le(30, compression, 4);
    le(46, 2, 4);                  // colours used
    le(54 + 4, 0x00FFFFFF, 4);     // palette: black, white
    return head + data;
}

} // namespace

TEST_F(ImageFailures, BmpOfOtherKindsMustHoldTheRowsItsHeaderPromises)
{
    // 7 x 33 million 1-bit pixels promised by 64 bytes: refused as truncated
    // before any reader allocates the picture; silently, as BMP failures are.
    WriteAll(P("tiny.bmp"), BmpWithPalette(7, 33000000, 1, 0, QByteArray(2, '\0')));
    ExpectPath(P("tiny.bmp"), Path::Silent);
    // Run-length data far beyond any real compression ratio.
    WriteAll(P("rle.bmp"), BmpWithPalette(30000, 30000, 8, 1, QByteArray("\0\1", 2)));
    ExpectPath(P("rle.bmp"), Path::Silent);

    // Whole files of those kinds still open: 1-bit rows of 4 bytes, and RLE8
    // runs of white ending each row, then the end of the picture.
    WriteAll(P("mono.bmp"), BmpWithPalette(20, 3, 1, 0, QByteArray(12, char(0xFF))));
    QByteArray rle;
    for (int y = 0; y < 3; ++y)
        rle += QByteArray("\x14\x01\x00\x00", 4);
    rle += QByteArray("\x00\x01", 2);
    WriteAll(P("white.bmp"), BmpWithPalette(20, 3, 8, 1, rle));
    for (const char* name : {"mono.bmp", "white.bmp"}) {
        SCOPED_TRACE(name);
        const Outcome o = Read(P(name));
        ASSERT_TRUE(o.result);
        ASSERT_EQ(o.bitmap.size(), QSize(20, 3));
        EXPECT_EQ(o.bitmap.pixel(19, 2), qRgb(255, 255, 255));
    }
}

TEST_F(ImageFailures, ACalledOffReadLeavesNoPictureNoPlaceholderAndNoMessage)
{
    WriteValidFiles(300, 200);
    // Plain strips take the direct TIFF path, LZW the row by row one.
    std::vector<Bytes> rows(200, Bytes(900, 77));
    WriteTiff(P("plain.tif"), {300, 200, 3, 8, PHOTOMETRIC_RGB, COMPRESSION_NONE, 1, false, 0, rows, {}});
    NotifierCapture capture;
    const std::atomic<bool> off{true};
    const std::atomic<bool> on{false};
    for (const char* name : {"ok.jpg", "ok.png", "ok.tif", "plain.tif", "ok.bmp"}) {
        SCOPED_TRACE(name);
        QImage bitmap(5, 5, QImage::Format_BGR888);
        QString message;
        bool result = true;
        EXPECT_NO_THROW(result = LoadImagefromFile(P(name), bitmap, &message, &off));
        EXPECT_FALSE(result);
        EXPECT_TRUE(bitmap.isNull());
        EXPECT_TRUE(message.isEmpty());
        // The same file with a flag that stays down reads whole.
        EXPECT_TRUE(LoadImagefromFile(P(name), bitmap, &message, &on));
        EXPECT_EQ(bitmap.size(), QSize(300, 200));
    }
    EXPECT_TRUE(capture.Messages().isEmpty());
}
