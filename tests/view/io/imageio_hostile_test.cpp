// Damaged files, odd paths and lying headers: what the user is told, and that
// a header alone never costs the memory it announces.

#include "imageio_files.h"

#include "view/io/ImageReaders.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testfiles;

namespace {

// The message the user gets for a file: thrown by the TIFF, PNG and GIF
// readers, handed to the notifier by the JPEG reader.
struct Told
{
    bool shown = false;
    QString message;
    QImage picture;
};

Told Load(const QString& file)
{
    Told t;
    QStringList notified;
    SetImageErrorNotifier([&notified](const QString& m) { notified << m; });
    try {
        t.shown = LoadImagefromFile(file, t.picture);
    } catch (const EImageReadError& e) {
        t.message = e.Message();
    }
    SetImageErrorNotifier({});
    if (t.message.isEmpty())
        t.message = notified.join(QLatin1Char('\n'));
    return t;
}

void PutBigEndian(QByteArray& d, int at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        d[at + i] = char((v >> (8 * (bytes - 1 - i))) & 0xFF);
}

class HostileFiles : public ::testing::Test
{
protected:
    QString P(const QString& name) const { return FDir.filePath(name); }

    QByteArray NoisyJpeg(int w, int h, bool progressive)
    {
        JpegSpec noisy{w, h, 3, {}, 90, 0, true, progressive};
        quint32 seed = 99;
        for (int i = 0; i < w * h * 3; ++i) {
            seed = seed * 1103515245u + 12345u;
            // Smooth bands with noise on top, so that rows differ.
            noisy.pixels.push_back(uint8_t((i / (w * 3)) + (seed >> 28)));
        }
        WriteJpeg(P("noisy.jpg"), noisy);
        return ReadAll(P("noisy.jpg"));
    }

    QTemporaryDir FDir;
};

} // namespace

TEST_F(HostileFiles, DamagedJpegShowsItsSoundTopWithAWarningOrIsRefusedWhenNothingDecoded)
{
    const QByteArray data = NoisyJpeg(64, 256, false);
    QImage sound;
    ASSERT_TRUE(LoadImagefromFile(P("noisy.jpg"), sound));
    const QByteArray eoi("\xFF\xD9", 2);

    // Cut in half with an end marker added, and cut with nothing added.
    for (const QByteArray& damaged : {data.left(data.size() / 2) + eoi, data.left(data.size() / 2)}) {
        WriteAll(P("modulo.jpg"), damaged);
        const Told t = Load(P("modulo.jpg"));
        ASSERT_TRUE(t.shown);
        EXPECT_TRUE(t.message.startsWith(QString::fromUtf8("Il file modulo.jpg è danneggiato: l'immagine può essere incompleta (")))
            << t.message.toStdString();
        ASSERT_EQ(t.picture.size(), sound.size());
        // The top quarter is the picture itself, the end is the decoder's grey.
        for (int y = 0; y < 64; ++y)
            ASSERT_EQ(0, memcmp(t.picture.constScanLine(y), sound.constScanLine(y), 64 * 3)) << "row " << y;
        const Rgb last = PixelAt(t.picture, 40, 255);
        EXPECT_NEAR(last.r, 128, 3);
        EXPECT_NEAR(last.b, 128, 3);
    }

    // The data ends where it begins: nothing sound, so no grey picture passed off.
    const int sos = data.indexOf(QByteArray("\xFF\xDA", 2));
    ASSERT_GT(sos, 0);
    const int sosLength = (uchar(data[sos + 2]) << 8) | uchar(data[sos + 3]);
    WriteAll(P("vuota.jpg"), data.left(sos + 2 + sosLength) + eoi);
    const Told t = Load(P("vuota.jpg"));
    EXPECT_FALSE(t.shown);
    EXPECT_EQ(t.picture.size(), QSize(300, 300));
    EXPECT_TRUE(t.message.startsWith(QString::fromUtf8("Il file vuota.jpg è danneggiato o non è un'immagine JPEG (")))
        << t.message.toStdString();
}

TEST_F(HostileFiles, EveryFailureSaysInItalianWhatHappenedToTheNamedFile)
{
    ASSERT_TRUE(QDir(FDir.path()).mkdir("cartella"));
    const struct { const char* ext; const char* kind; } formats[] = {
        {"jpg", "JPEG"}, {"png", "PNG"}, {"tif", "TIFF"}, {"gif", "GIF"}};
    const QByteArray signatures[] = {QByteArray("\xFF\xD8\xFF\xE0garbage garbage", 17),
                                     QByteArray("\x89PNG\r\n\x1A\n garbage garbage", 24),
                                     QByteArray("II*\0garbage garbage", 19), QByteArray("GIF89agarbage garbage", 21)};
    int i = 0;
    for (const auto& f : formats) {
        const QString ext = QString::fromLatin1(f.ext);
        SCOPED_TRACE(f.ext);
        ASSERT_TRUE(QDir(FDir.path()).mkdir("cartella." + ext));
        WriteAll(P("vuoto." + ext), QByteArray());
        WriteAll(P("rotto." + ext), signatures[i++]);
        ASSERT_EQ(mkfifo(QFile::encodeName(P("tubo." + ext)).constData(), 0600), 0);
        const struct { QString name; QString said; } cases[] = {
            {"cartella." + ext, QString::fromUtf8("cartella.%1 è una cartella, non un file di immagine.").arg(ext)},
            {"vuoto." + ext, QStringLiteral("Il file vuoto.%1 è vuoto.").arg(ext)},
            {"manca." + ext, QStringLiteral("Il file manca.%1 non esiste.").arg(ext)},
            {"tubo." + ext, QString::fromUtf8("tubo.%1 non è un file normale").arg(ext)},
            {"rotto." + ext, QString::fromUtf8("Il file rotto.%1 è danneggiato o non è un'immagine %2 (")
                                 .arg(ext, QString::fromLatin1(f.kind))},
        };
        for (const auto& c : cases) {
            const Told t = Load(P(c.name));
            EXPECT_FALSE(t.shown) << c.name.toStdString();
            EXPECT_TRUE(t.message.startsWith(c.said)) << t.message.toStdString();
            // The decoder's own words stay, but only inside the parentheses.
            if (c.name.startsWith("rotto")) {
                EXPECT_TRUE(t.message.endsWith(QStringLiteral(").")) && t.message.size() > c.said.size() + 2)
                    << t.message.toStdString();
            }
        }
    }
}

TEST_F(HostileFiles, FileWithoutReadPermissionIsSaidToBeSo)
{
    // Root reads anything, so the reading runs as nobody in a child process.
    ASSERT_EQ(chmod(QFile::encodeName(FDir.path()).constData(), 0755), 0);
    const QByteArray data = NoisyJpeg(16, 16, false);
    for (const char* name : {"chiuso.jpg", "chiuso.png"}) {
        WriteAll(P(name), data);
        ASSERT_EQ(chmod(QFile::encodeName(P(name)).constData(), 0), 0);
    }
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                                   setresuid(65534, 65534, 65534) != 0))
                _exit(2);
            for (const char* name : {"chiuso.jpg", "chiuso.png"}) {
                const Told t = Load(P(name));
                if (t.shown || t.message != QStringLiteral("Il file %1 non può essere letto: permesso negato.")
                                               .arg(QString::fromLatin1(name))) {
                    fprintf(stderr, "%s\n", t.message.toUtf8().constData());
                    _exit(3);
                }
            }
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(HostileFiles, HeadersWithinTheLimitCostNoMemoryWithoutTheData)
{
    // 16000 x 16000 is 768 MB of pixels, within the limit of most machines:
    // each file below announces it and holds a few hundred bytes.
    const int side = 16000;
    if (!ImageSizeAllowed(side, side))
        GTEST_SKIP() << "this machine's limit already refuses the size";

    for (bool progressive : {false, true}) {
        QByteArray jpg = NoisyJpeg(16, 16, progressive);
        const int sof = jpg.indexOf(QByteArray(progressive ? "\xFF\xC2" : "\xFF\xC0", 2));
        ASSERT_GT(sof, 0);
        PutBigEndian(jpg, sof + 5, side, 2);
        PutBigEndian(jpg, sof + 7, side, 2);
        WriteAll(P(progressive ? "p.jpg" : "b.jpg"), jpg);
        // Comments make the file as large as the announced blocks need, so
        // only the data's own end stops the decoder.
        QByteArray padded = jpg.left(2);
        for (int i = 0; i < 9; ++i)
            padded += QByteArray("\xFF\xFE\xFF\xFF", 4) + QByteArray(65533, ' ');
        WriteAll(P(progressive ? "pp.jpg" : "pb.jpg"), padded + jpg.mid(2));
    }
    std::vector<Bytes> rows(16, Bytes(48, 7));
    WritePng(P("h.png"), {16, 16, 2, 8, rows, {}, {}, false});
    QByteArray png = ReadAll(P("h.png"));
    PutBigEndian(png, 16, side, 4);
    PutBigEndian(png, 20, side, 4);
    PutBigEndian(png, 29, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17)), 4);
    WriteAll(P("h.png"), png);
    // A GIF frame as large as its screen with two bytes of picture data.
    QByteArray gif("GIF89a", 6);
    gif += QByteArray("\x80\x3E\x80\x3E\x80\x00\x00", 7); // 16000 x 16000, two colours
    gif += QByteArray("\x00\x00\x00\xFF\xFF\xFF", 6);
    gif += QByteArray("\x2C\x00\x00\x00\x00\x80\x3E\x80\x3E\x00", 10);
    gif += QByteArray("\x02\x02\x44\x01\x00\x3B", 6);
    WriteAll(P("h.gif"), gif);
    TIFF* tif = TIFFOpen(QFile::encodeName(P("h.tif")).constData(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(side));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(side));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(side));
    uint8_t byte = 0;
    TIFFWriteRawStrip(tif, 0, &byte, 1);
    TIFFClose(tif);

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (const char* name : {"b.jpg", "p.jpg", "pb.jpg", "pp.jpg", "h.png", "h.gif", "h.tif"}) {
        const Told t = Load(P(name));
        EXPECT_FALSE(t.shown) << name;
        EXPECT_TRUE(t.message.contains(QString::fromUtf8("danneggiato"))) << t.message.toStdString();
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    // ru_maxrss is in KiB: the process never grew by more than 64 MiB.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);
}
