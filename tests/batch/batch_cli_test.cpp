// corvanta-batch from the outside: a small folder of forms and bad files run
// through the real executable, its files, exit status and report checked.

#include "common/AppTestUtils.h"
#include "common/ConfigTestUtils.h"

#include "app/U_Cropping_Pixels.h"
#include "app/U_Cropping_Save.h"
#include "batch/Batch.h"
#include "corpus/PageCorpus.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTransform>
#include <gtest/gtest.h>

namespace {

constexpr int kDpi = 200;

QString BatchExe()
{
    return QString::fromLocal8Bit(qgetenv("CORVANTA_BINARY_DIR")) + QStringLiteral("/corvanta-batch");
}

struct TRun {
    int Status = -1;
    QList<QJsonObject> Lines;
    QByteArray Err;
};

TRun RunBatch(QStringList args)
{
    QProcess p;
    p.setProgram(BatchExe());
    p.setArguments(QStringList{QStringLiteral("--json"), QStringLiteral("-")} + args);
    p.start();
    EXPECT_TRUE(p.waitForFinished(-1));
    TRun r;
    r.Status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Err = p.readAllStandardError();
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            r.Lines << QJsonDocument::fromJson(line).object();
    return r;
}

QJsonObject LineFor(const TRun& r, const QString& name)
{
    for (const QJsonObject& o : r.Lines)
        if (QFileInfo(o.value(QStringLiteral("file")).toString()).fileName().startsWith(name))
            return o;
    ADD_FAILURE() << "no report line for " << name.toStdString();
    return {};
}

// The stored frames at zoom 1 with the view's top-left at the page's.
void WriteSettings(const QString& ini)
{
    const QRect f = AppTest::FormPhotoRect(kDpi);
    const QRect s = AppTest::FormSignatureRect(kDpi);
    QByteArray text = "[FormOptions]\nCkStoreSelections=1\nCkStoreEditSliders=1\nCkFirmaGrayscale=1\n"
                      "Foto.Slider.Light=15\nFoto.Slider.Sharp=1\n";
    auto frame = [&](const char* slot, const QRect& r) {
        text += QStringLiteral("%1.Selected.Left=%2\n%1.Selected.Top=%3\n%1.Selected.Right=%4\n%1.Selected.Bottom=%5\n"
                               "%1.Origin.Left=0\n%1.Origin.Top=0\n%1.Origin.Right=1000\n%1.Origin.Bottom=1000\n"
                               "%1.Origin.Zoom=1\n")
                    .arg(QLatin1String(slot))
                    .arg(r.left())
                    .arg(r.top())
                    .arg(r.right() + 1)
                    .arg(r.bottom() + 1)
                    .toUtf8();
    };
    frame("Foto", f);
    frame("Firma", s);
    ConfigTest::WriteBytes(ini, text);
}

// The JFIF density: units 1 (dots per inch) and 200 x 200.
bool Has200Dpi(const QByteArray& jpeg)
{
    return jpeg.size() > 18 && jpeg.mid(6, 5) == QByteArray("JFIF\0", 5) && jpeg.at(13) == 1 &&
           (uchar(jpeg.at(14)) << 8 | uchar(jpeg.at(15))) == 200 &&
           (uchar(jpeg.at(16)) << 8 | uchar(jpeg.at(17))) == 200;
}

class BatchCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        ASSERT_TRUE(QFileInfo(BatchExe()).isExecutable()) << BatchExe().toStdString();
        In = Dir.filePath(QStringLiteral("pagine"));
        Out = Dir.filePath(QStringLiteral("uscita"));
        Ini = Dir.filePath(QStringLiteral("corvanta.ini"));
        ASSERT_TRUE(QDir().mkpath(In) && QDir().mkpath(Out));
        WriteSettings(Ini);
        const QImage form = AppTest::MakeScannedForm(kDpi);
        ASSERT_TRUE(form.save(In + QStringLiteral("/modulo_017.jpg"), "JPG", 92));
        ASSERT_TRUE(form.save(In + QStringLiteral("/modulo_018.png")));
    }
    TRun Run(QStringList extra = {})
    {
        return RunBatch(QStringList{QStringLiteral("--settings"), Ini, QStringLiteral("--out"), Out} + extra +
                        QStringList{In});
    }
    QTemporaryDir Dir;
    QString In, Out, Ini;
};

} // namespace

TEST_F(BatchCli, FolderOfFormsAndBadFilesGivesEveryGoodPageBothFilesAndSaysWhatHappenedToTheRest)
{
    ConfigTest::WriteBytes(In + QStringLiteral("/leggimi.txt"), "non sono un'immagine\n");
    const QByteArray whole = ConfigTest::ReadBytes(In + QStringLiteral("/modulo_017.jpg"));
    ConfigTest::WriteBytes(In + QStringLiteral("/rotto.jpg"), whole.left(whole.size() / 3));

    const TRun r = Run();
    EXPECT_EQ(r.Status, 1) << r.Err.toStdString(); // two files gave nothing
    ASSERT_EQ(r.Lines.size(), 4);
    for (const char* name : {"modulo_017", "modulo_018"}) {
        const QJsonObject line = LineFor(r, QLatin1String(name));
        EXPECT_TRUE(line.value(QStringLiteral("done")).toBool()) << name;
        for (const auto& [slot, w, h, limit] : {std::tuple{"Foto", kFotoWidth, kFotoHeight, kFotoMaxBytes},
                                                std::tuple{"Firma", kFirmaWidth, kFirmaHeight, kFirmaMaxBytes}}) {
            const QString file = Out + QLatin1Char('/') + QLatin1String(name) + QLatin1String(slot) + ".jpg";
            const QByteArray bytes = ConfigTest::ReadBytes(file);
            ASSERT_FALSE(bytes.isEmpty()) << file.toStdString();
            EXPECT_LE(bytes.size(), limit);
            EXPECT_TRUE(Has200Dpi(bytes)) << file.toStdString();
            const QImage img = QImage::fromData(bytes);
            EXPECT_EQ(img.size(), QSize(w, h)) << file.toStdString();
            const QJsonObject s = line.value(QString::fromLatin1(slot).toLower()).toObject();
            EXPECT_EQ(s.value(QStringLiteral("bytes")).toInteger(), bytes.size());
        }
    }
    // The photo's frame covers the form's blue photo, so the crop is mostly blue.
    const QImage foto = QImage(Out + QStringLiteral("/modulo_017Foto.jpg")).convertToFormat(QImage::Format_RGB32);
    EXPECT_GT(qBlue(foto.pixel(10, 10)), qRed(foto.pixel(10, 10)) + 40);
    // The signature is grey, as the settings ask.
    const QImage firma = QImage(Out + QStringLiteral("/modulo_017Firma.jpg")).convertToFormat(QImage::Format_RGB32);
    for (int x = 0; x < firma.width(); x += 7) {
        const QRgb c = firma.pixel(x, firma.height() / 2);
        EXPECT_LE(std::abs(qRed(c) - qBlue(c)), 6);
    }
    const QJsonObject text = LineFor(r, QStringLiteral("leggimi.txt"));
    EXPECT_FALSE(text.value(QStringLiteral("done")).toBool());
    EXPECT_FALSE(text.value(QStringLiteral("foto")).toObject().value(QStringLiteral("error")).toString().isEmpty());
    // A cut-off file: whatever it gives is kept, but it is reported as damaged, not done.
    const QJsonObject cut = LineFor(r, QStringLiteral("rotto.jpg"));
    EXPECT_FALSE(cut.value(QStringLiteral("done")).toBool());
    EXPECT_TRUE(cut.value(QStringLiteral("damaged")).toBool() || !cut.value(QStringLiteral("loaded")).toBool());
    // Nothing else in the output folder: no half file, no temporary name.
    for (const QString& name : QDir(Out).entryList(QDir::Files | QDir::Hidden))
        EXPECT_TRUE(!name.startsWith(QLatin1Char('.')) &&
                    (name.endsWith(QLatin1String("Foto.jpg")) || name.endsWith(QLatin1String("Firma.jpg"))))
            << name.toStdString();
    for (const char* name : {"modulo_017Foto.jpg", "modulo_017Firma.jpg", "modulo_018Foto.jpg", "modulo_018Firma.jpg"})
        EXPECT_TRUE(QFileInfo::exists(Out + QLatin1Char('/') + QLatin1String(name))) << name;
}

TEST_F(BatchCli, ExistingFilesAreKeptUnlessAskedAndKeepBothNumbersThePair)
{
    ASSERT_EQ(Run().Status, 0);
    // A file the clerk corrected by hand since.
    const QString fixed = Out + QStringLiteral("/modulo_017Foto.jpg");
    ConfigTest::WriteBytes(fixed, "corretta a mano");

    TRun again = Run();
    EXPECT_EQ(again.Status, 1);
    EXPECT_EQ(ConfigTest::ReadBytes(fixed), QByteArray("corretta a mano"));
    const QJsonObject line = LineFor(again, QStringLiteral("modulo_017.jpg"));
    EXPECT_EQ(line.value(QStringLiteral("foto")).toObject().value(QStringLiteral("state")).toString(),
              QStringLiteral("esistente"));

    TRun both = Run({QStringLiteral("--keep-both")});
    EXPECT_EQ(both.Status, 0);
    EXPECT_EQ(ConfigTest::ReadBytes(fixed), QByteArray("corretta a mano"));
    EXPECT_TRUE(QFileInfo::exists(Out + QStringLiteral("/modulo_017 (2)Foto.jpg")));
    EXPECT_TRUE(QFileInfo::exists(Out + QStringLiteral("/modulo_017 (2)Firma.jpg")));

    EXPECT_EQ(Run({QStringLiteral("--overwrite")}).Status, 0);
    EXPECT_EQ(QImage(fixed).size(), QSize(kFotoWidth, kFotoHeight));

    // An output folder that is no folder: refused before any page.
    const TRun wrong = RunBatch({QStringLiteral("--settings"), Ini, QStringLiteral("--out"), fixed, In});
    EXPECT_EQ(wrong.Status, 2);
}

// A skewed page: the batch turns it as the analysis plans, and the frames it
// cuts lie on the page's photo and signature as they lie once straightened.
TEST(BatchPage, SkewedPagesAreStraightenedTheWayTheirFramesWerePlanned)
{
    QTemporaryDir dir;
    TBatchSettings s;
    s.OutFolder = dir.path() + QLatin1Char('/');
    int turned = 0;
    for (int n = 0; n < CorpusSize() && turned < 2; ++n) {
        const CorpusPage t = MakeCorpusPage(n);
        if (!t.hasPhoto || std::abs(t.skewDegrees) < 2.5 || std::abs(t.skewDegrees) > 4)
            continue;
        const QString file = dir.filePath(t.name + QStringLiteral(".jpg"));
        ConfigTest::WriteBytes(file, t.jpeg);
        const TBatchPage p = ProcessBatchPage(file, s);
        if (!BatchHasAnalysis())
            GTEST_SKIP() << "built without the page analysis";
        // Lines turned clockwise are straightened by turning counter-clockwise.
        EXPECT_EQ(p.Degrees, -static_cast<int>(std::lround(t.skewDegrees))) << t.name.toStdString();
        QTransform back;
        back.translate(p.Width / 2.0, p.Height / 2.0);
        back.rotate(p.Degrees);
        back.translate(-p.Width / 2.0, -p.Height / 2.0);
        const QRectF photo = back.mapRect(QRectF(t.photo));
        const QRectF frame(p.Foto.Frame.Left, p.Foto.Frame.Top, p.Foto.Frame.Right - p.Foto.Frame.Left,
                           p.Foto.Frame.Bottom - p.Foto.Frame.Top);
        const QRectF common = photo.intersected(frame);
        ASSERT_TRUE(p.Foto.Saved()) << t.name.toStdString();
        // Turned the wrong way the frame would miss the photo by twice the skew.
        EXPECT_GT(common.width() * common.height(), 0.6 * frame.width() * frame.height()) << t.name.toStdString();
        ++turned;
    }
    EXPECT_EQ(turned, 2);
}
