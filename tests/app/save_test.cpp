// Saving the slots: the name dialog driven by keys and clicks, the JPEG files
// checked byte by byte, and failures that must leave no file and say why.

#include "app_fixture.h"
#include "common/AppViewTestUtils.h"

#include "app/U_Cropping_Save.h"
#include "app/U_fOut.h"
#include "jpegmeta/JpegSave.h"
#include "jpegmeta/SafeFile.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QImage Decode(const QByteArray& bytes)
{
    TBgrPixels px;
    if (!DecodeJpeg(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()), px))
        return QImage();
    return QImage(px.Data.data(), px.Width, px.Height, static_cast<qsizetype>(px.Stride), QImage::Format_BGR888)
        .copy();
}

// Checks a saved output: under the limit, a whole JPEG of the given size, and
// a JFIF header right after SOI that declares 200 x 200 dots per inch.
void ExpectOutputFile(const QString& path, int limit, QSize size)
{
    SCOPED_TRACE(path.toStdString());
    const QByteArray b = ReadAll(path);
    ASSERT_FALSE(b.isEmpty());
    EXPECT_LE(b.size(), limit);
    ASSERT_GE(b.size(), 20);
    EXPECT_EQ(b.left(4), QByteArray("\xFF\xD8\xFF\xE0", 4));
    EXPECT_EQ(b.mid(6, 5), QByteArray("JFIF\0", 5));
    EXPECT_EQ(b.mid(13, 5), QByteArray("\x01\x00\xC8\x00\xC8", 5));
    EXPECT_EQ(b.right(2), QByteArray("\xFF\xD9", 2));
    EXPECT_EQ(Decode(b).size(), size);
}

// Picture that stands for a retouched crop: smooth shapes with fine noise, so
// the encoder's size falls with the quality as on a real photo.
QImage PhotoLike(int w, int h, int noise)
{
    QImage img(w, h, QImage::Format_BGR888);
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int n = noise ? static_cast<int>(seed >> 24) % (2 * noise + 1) - noise : 0;
            const int dx = x - w / 2, dy = y - h / 2;
            const int face = dx * dx * 3 + dy * dy * 2 < w * w / 2 ? 60 : 0;
            row[3 * x] = static_cast<uchar>(qBound(0, 150 + y / 4 - face + n, 255));
            row[3 * x + 1] = static_cast<uchar>(qBound(0, 90 + face + x / 5 + n, 255));
            row[3 * x + 2] = static_cast<uchar>(qBound(0, 60 + 2 * face + n, 255));
        }
    }
    return img;
}

void TypeAndPress(TFormFileOut* d, const QString& text, QPushButton* button)
{
    QTest::keyClicks(d->EdFileOut, text);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

// --- without windows ------------------------------------------------------------

TEST(SaveSlotJpeg, PhotoAndSignatureFitAndCarry200Dpi)
{
    QTemporaryDir dir;
    const QString tmp = dir.filePath(QStringLiteral("Foto.jpg"));
    const QString out = dir.filePath(QStringLiteral("RossiFoto.jpg"));
    const QImage photo = PhotoLike(260, 315, 40);
    const TSlotSaveResult r = SaveSlotJpeg(photo, out, tmp, kFotoMaxBytes);
    ASSERT_TRUE(r.Saved) << r.Error.toStdString();
    EXPECT_LT(r.Quality, 100); // the noise forces the loop below its first step
    EXPECT_EQ(r.Attempts, (100 - r.Quality) / 5 + 1);
    ExpectOutputFile(out, kFotoMaxBytes, QSize(260, 315));
    EXPECT_EQ(r.Size, QFileInfo(out).size());
    // The working copy is the same encoding before its density was set; it is
    // written after the output, by the background worker.
    FinishFileWork();
    const QByteArray a = ReadAll(out), t = ReadAll(tmp);
    ASSERT_EQ(a.size(), t.size());
    EXPECT_EQ(a.left(13), t.left(13));
    EXPECT_EQ(a.mid(18), t.mid(18));
    EXPECT_EQ(r.Written, Decode(a));

    const QString sig = dir.filePath(QStringLiteral("RossiFirma.jpg"));
    const TSlotSaveResult s = SaveSlotJpeg(PhotoLike(236, 47, 0), sig, QString(), kFirmaMaxBytes);
    ASSERT_TRUE(s.Saved);
    // A plain picture fits at once.
    EXPECT_EQ(s.Quality, 100);
    EXPECT_EQ(s.Attempts, 1);
    ExpectOutputFile(sig, kFirmaMaxBytes, QSize(236, 47));
}

TEST(SaveSlotJpeg, NothingIsWrittenWhenTheSaveCannotBeDoneWhole)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("xFoto.jpg"));
    const QByteArray before("earlier file");
    ASSERT_TRUE(WriteAll(out, before));

    // Over the limit even at the lowest quality: the earlier file stays as it was.
    const TSlotSaveResult big = SaveSlotJpeg(PhotoLike(260, 315, 120), out, QString(), 600);
    EXPECT_FALSE(big.Saved);
    EXPECT_EQ(big.Quality, 5);
    EXPECT_EQ(big.Attempts, 20);
    EXPECT_TRUE(big.Error.contains(QStringLiteral("600"))) << big.Error.toStdString();
    EXPECT_EQ(ReadAll(out), before);

    // A missing output folder, and a folder standing where the file should go.
    const TSlotSaveResult gone =
        SaveSlotJpeg(PhotoLike(260, 315, 0), dir.filePath(QStringLiteral("manca/xFoto.jpg")), QString(), 34990);
    EXPECT_FALSE(gone.Saved);
    EXPECT_EQ(gone.Error, QStringLiteral("la cartella non esiste"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("yFoto.jpg")));
    const TSlotSaveResult isDir =
        SaveSlotJpeg(PhotoLike(260, 315, 0), dir.filePath(QStringLiteral("yFoto.jpg")), QString(), 34990);
    EXPECT_FALSE(isDir.Saved);
    EXPECT_FALSE(isDir.Error.isEmpty());

    EXPECT_FALSE(SaveSlotJpeg(QImage(), out, QString(), 34990).Saved);

    // A folder the user may not write to. Root writes anywhere, so the save
    // runs as an unprivileged user for this one call.
    const QString locked = dir.filePath(QStringLiteral("chiusa"));
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(locked).constData(), 0555), 0);
    const uid_t self = geteuid();
    ASSERT_TRUE(self != 0 || seteuid(65534) == 0);
    const TSlotSaveResult denied =
        SaveSlotJpeg(PhotoLike(260, 315, 0), locked + QStringLiteral("/zFoto.jpg"), QString(), 34990);
    ASSERT_TRUE(self != 0 || seteuid(0) == 0);
    EXPECT_FALSE(denied.Saved);
    EXPECT_EQ(denied.Error, QStringLiteral("permesso negato"));
    EXPECT_TRUE(QDir(locked).isEmpty());
    // No temporary file of the safe writer is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              QStringList{QStringLiteral("xFoto.jpg")});
}

TEST(SaveSlotJpeg, PrefixesThatWouldLeaveTheFolderOrHideTheFileAreRefused)
{
    for (const QString& bad : {QStringLiteral("a/b"), QStringLiteral("../x"), QStringLiteral("a\\b"),
                               QStringLiteral("/tmp/x"), QStringLiteral("."), QStringLiteral(".."),
                               QStringLiteral("..."), QStringLiteral(".Rossi"), QStringLiteral("..x"),
                               QStringLiteral("a") + QChar(0) + QStringLiteral("b")})
        EXPECT_FALSE(CheckFilePrefix(bad).isEmpty()) << bad.toStdString();
    for (const QString& good : {QStringLiteral("Rossi"), QStringLiteral("x.."), QStringLiteral("Mario Rossi "),
                                QStringLiteral("Niccolò_1")})
        EXPECT_TRUE(CheckFilePrefix(good).isEmpty()) << good.toStdString();
}

TEST(SaveSlotJpeg, SaveJpgReencodesAFileAtTheGivenQuality)
{
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("a.jpg"));
    const QString dst = dir.filePath(QStringLiteral("b.jpg"));
    std::vector<uint8_t> bytes;
    const QImage pic = PhotoLike(260, 315, 20);
    ASSERT_TRUE(EncodeJpeg({pic.constBits(), 260, 315, static_cast<size_t>(pic.bytesPerLine())}, 100, bytes));
    ASSERT_TRUE(WriteAll(src, QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()))));
    ASSERT_TRUE(SaveJPG(src, dst, 30));
    EXPECT_LT(QFileInfo(dst).size(), QFileInfo(src).size());
    EXPECT_EQ(Decode(ReadAll(dst)).size(), QSize(260, 315));
    QString why;
    EXPECT_FALSE(SaveJPG(dir.filePath(QStringLiteral("nessuno.jpg")), dst, 30, &why));
    EXPECT_FALSE(why.isEmpty());
}

// --- the name dialog ---------------------------------------------------------------

TEST(NameDialog, LayoutTextsAndAnswers)
{
    QWidget owner;
    owner.setGeometry(100, 80, 900, 600);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));

    NameDialogAnswer look([&owner](TFormFileOut* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Nome per il file da salvare"));
        EXPECT_EQ(d->LbPrefisso->text(), QStringLiteral("Prefisso del nome dei file"));
        // Tall enough for a trailing "_" (below the baseline) to show.
        EXPECT_GE(d->EdFileOut->contentsRect().height() - 4, d->EdFileOut->fontMetrics().height());
        EXPECT_EQ(d->EdFileOut->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        EXPECT_EQ(d->LbNomi->text(), QStringLiteral("Scrivere un prefisso: vuoto non salva nulla"));
        QTest::keyClicks(d->EdFileOut, QStringLiteral("Rossi_"));
        EXPECT_EQ(d->LbNomi->text(), QStringLiteral("Sarà scritto: Rossi_Foto.jpg"));
        d->EdFileOut->clear();
        EXPECT_EQ(d->BtOk->text(), QStringLiteral("OK"));
        EXPECT_EQ(d->BtAnnulla->text(), QStringLiteral("Annulla"));
        EXPECT_EQ(d->focusWidget(), d->EdFileOut);
        // Left = screen width + owner's left - half the owner's width - own width,
        // kept on the screen; centred on the owner vertically.
        const QRect screen = owner.screen()->availableGeometry();
        const int w = d->frameGeometry().width();
        const int want = owner.screen()->geometry().width() + owner.frameGeometry().left() -
                         owner.frameGeometry().width() / 2 - w;
        EXPECT_EQ(d->frameGeometry().left(), qBound(screen.left(), want, screen.right() + 1 - w));
        EXPECT_EQ(d->frameGeometry().center().y(), owner.frameGeometry().center().y());
        TypeAndPress(d, QStringLiteral("  Rossi  "), d->BtOk);
    });
    EXPECT_EQ(GetFileNameOut(srFoto, QString(), &owner), QStringLiteral("Rossi"));
    EXPECT_EQ(look.FixedEnd, QStringLiteral("Foto"));
    EXPECT_TRUE(look.Offered.isEmpty());

    // The current prefix is offered as it is, all selected, so typing replaces it.
    NameDialogAnswer again([](TFormFileOut* d) { TypeAndPress(d, QStringLiteral("Bianchi"), d->BtOk); });
    EXPECT_EQ(GetFileNameOut(srFirma, QStringLiteral(" Rossi"), &owner), QStringLiteral("Bianchi"));
    EXPECT_EQ(again.FixedEnd, QStringLiteral("Firma"));
    EXPECT_EQ(again.Offered, QStringLiteral(" Rossi"));
    EXPECT_TRUE(again.AllSelected);

    NameDialogAnswer blank([](TFormFileOut* d) { QTest::keyClick(d->EdFileOut, Qt::Key_Return); });
    EXPECT_EQ(GetFileNameOut(srFoto, QStringLiteral("   "), &owner), QString());
    EXPECT_TRUE(blank.Offered.isEmpty());

    // "Annulla" and Esc give no name; the title bar's close keeps the text.
    NameDialogAnswer cancel([](TFormFileOut* d) { QTest::mouseClick(d->BtAnnulla, Qt::LeftButton); });
    EXPECT_EQ(GetFileNameOut(srFoto, QStringLiteral("Verdi"), &owner), QString());
    NameDialogAnswer esc([](TFormFileOut* d) { QTest::keyClick(d->EdFileOut, Qt::Key_Escape); });
    EXPECT_EQ(GetFileNameOut(srFoto, QStringLiteral("Verdi"), &owner), QString());
    NameDialogAnswer closed([](TFormFileOut* d) { d->close(); });
    EXPECT_EQ(GetFileNameOut(srFoto, QStringLiteral("Verdi"), &owner), QStringLiteral("Verdi"));
}

// --- the main window from start-up to the saved files ---------------------------------

namespace {
class SaveWindowTest : public ProgramFixture {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EnterHome());
        ASSERT_NO_FATAL_FAILURE(OpenProgram());
        ASSERT_NO_FATAL_FAILURE(SetOutputFolder());
        ASSERT_EQ(FormOptions->OutImgPath, Out + QLatin1Char('/'));
        FormOptions->CkMinSizeSel->setChecked(false);
        LoadForm(kDpi);
    }

    // A click on the view at a picture pixel.
    void ClickPicture(QPoint p)
    {
        AppTest::ClickPicture(Form->ZSImage, p);
    }

    // Pulls the frame's bottom-right corner inward; on release the slot is cut.
    void ShrinkFrame(int dx, int dy)
    {
        AppTest::ShrinkFrame(Form->ZSImage, dx, dy);
    }

    QStringList OutFiles() const { return QDir(Out).entryList(QDir::Files | QDir::Hidden | QDir::System); }

    static constexpr int kDpi = 150;
};
} // namespace

TEST_F(SaveWindowTest, PhotoAndSignatureSavedWithATypedPrefix)
{
    // The photo: a click on the form's photo, the frame pulled in, released (cut on release).
    ClickPicture(AppTest::FormPhotoRect(kDpi).center());
    ASSERT_EQ(Form->Mode(), srFoto);
    ShrinkFrame(40, 48);
    ASSERT_FALSE(Form->BmpFotoBuffer1.isNull());
    ASSERT_TRUE(Form->BtSaveImg->isEnabled());
    ASSERT_EQ(Form->BtSaveImg->text(), QStringLiteral("SALVA FOTO"));

    NameDialogAnswer photo([](TFormFileOut* d) { TypeAndPress(d, QStringLiteral("  Rossi "), d->BtOk); });
    Form->BtSaveImg->click();
    ASSERT_EQ(photo.Shown, 1);
    EXPECT_EQ(photo.FixedEnd, QStringLiteral("Foto"));
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
    EXPECT_EQ(OutFiles(), QStringList{QStringLiteral("RossiFoto.jpg")});
    const QString fotoFile = Out + QStringLiteral("/RossiFoto.jpg");
    ExpectOutputFile(fotoFile, kFotoMaxBytes, QSize(260, 315));
    EXPECT_EQ(Form->NomeCorrente, QStringLiteral("Rossi"));
    // The slot shows the file as saved, as a bitmap the sliders can still retouch.
    EXPECT_TRUE(Form->OrImageFoto->Picture()->IsBitmap());
    EXPECT_EQ(Form->OrImageFoto->Picture()->Graphic().convertToFormat(QImage::Format_BGR888),
              Decode(ReadAll(fotoFile)));
    // The working copy in the temporary folder.
    EXPECT_EQ(ReadAll(FormOptions->TmpFotFile).mid(18), ReadAll(fotoFile).mid(18));

    // The signature: key 2, its frame placed, saved with Enter; the dialog offers the last prefix.
    PressKey(Qt::Key_2);
    ASSERT_EQ(Form->Mode(), srFirma);
    ASSERT_TRUE(Form->BtSaveImg->isEnabled());
    NameDialogAnswer sig([](TFormFileOut* d) { QTest::keyClick(d->EdFileOut, Qt::Key_Return); });
    PressKey(Qt::Key_Return);
    ASSERT_EQ(sig.Shown, 1);
    EXPECT_EQ(sig.Offered, QStringLiteral("Rossi"));
    EXPECT_EQ(sig.FixedEnd, QStringLiteral("Firma"));
    const QString firmaFile = Out + QStringLiteral("/RossiFirma.jpg");
    ExpectOutputFile(firmaFile, kFirmaMaxBytes, QSize(236, 47));
    EXPECT_TRUE(QFileInfo::exists(FormOptions->TmpFirFile));

    // Tools written by others read the same density.
    if (QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty())
        GTEST_SKIP() << "exiftool not installed: its cross-check was skipped";
    for (const QString& f : {fotoFile, firmaFile}) {
        QProcess p;
        p.start(QStringLiteral("exiftool"), {QStringLiteral("-s3"), QStringLiteral("-XResolution"),
                                             QStringLiteral("-YResolution"), QStringLiteral("-ResolutionUnit"),
                                             QStringLiteral("-ImageSize"), f});
        ASSERT_TRUE(p.waitForFinished(-1));
        const QString want = f == fotoFile ? QStringLiteral("260x315") : QStringLiteral("236x47");
        EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
                  (QStringList{"200", "200", "inches", want}));
        if (!QStandardPaths::findExecutable(QStringLiteral("jpeginfo")).isEmpty()) {
            QProcess check;
            check.start(QStringLiteral("jpeginfo"), {QStringLiteral("-c"), f});
            ASSERT_TRUE(check.waitForFinished(-1));
            EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();
        }
    }
}

TEST_F(SaveWindowTest, WithoutCropOnReleaseTheFirstPressOnlyCrops)
{
    FormOptions->CkCropMouseUp->setChecked(false);
    ClickPicture(AppTest::FormPhotoRect(kDpi).center());
    ASSERT_EQ(Form->Mode(), srFoto);
    ASSERT_EQ(Form->BtSaveImg->text(), QStringLiteral("RITAGLIA"));
    ASSERT_TRUE(Form->BmpFotoBuffer1.isNull());

    NameDialogAnswer answer([](TFormFileOut* d) { TypeAndPress(d, QStringLiteral("Verdi"), d->BtOk); });
    Form->BtSaveImg->click();
    EXPECT_EQ(answer.Shown, 0);
    EXPECT_FALSE(Form->BmpFotoBuffer1.isNull());
    EXPECT_EQ(Form->BtSaveImg->text(), QStringLiteral("SALVA FOTO"));
    EXPECT_TRUE(OutFiles().isEmpty());

    Form->BtSaveImg->click();
    EXPECT_EQ(answer.Shown, 1);
    ExpectOutputFile(Out + QStringLiteral("/VerdiFoto.jpg"), kFotoMaxBytes, QSize(260, 315));
}

TEST_F(SaveWindowTest, FailedOrRefusedSavesWriteNothingAndSaySo)
{
    ClickPicture(AppTest::FormPhotoRect(kDpi).center());
    ShrinkFrame(30, 30);
    ASSERT_EQ(Form->BtSaveImg->text(), QStringLiteral("SALVA FOTO"));

    // Cancelled: nothing written, nothing said.
    NameDialogAnswer cancel([](TFormFileOut* d) { QTest::mouseClick(d->BtAnnulla, Qt::LeftButton); });
    Form->BtSaveImg->click();
    EXPECT_EQ(cancel.Shown, 1);
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_TRUE(OutFiles().isEmpty());

    // A name that climbs out of the output folder.
    NameDialogAnswer climb([](TFormFileOut* d) { TypeAndPress(d, QStringLiteral("../Rossi"), d->BtOk); });
    Form->BtSaveImg->click();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].startsWith(QStringLiteral("Nome non valido: \"../Rossi\""))) << Messages[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(Dir.filePath(QStringLiteral("RossiFoto.jpg"))));
    EXPECT_TRUE(OutFiles().isEmpty());
    EXPECT_TRUE(Form->NomeCorrente.isEmpty());

    // The output folder vanished since it was chosen: the message names file and reason.
    ASSERT_TRUE(QDir(Out).removeRecursively());
    NameDialogAnswer gone([](TFormFileOut* d) { TypeAndPress(d, QStringLiteral("Rossi"), d->BtOk); });
    Form->BtSaveImg->click();
    ASSERT_EQ(Messages.size(), 2);
    EXPECT_TRUE(Messages[1].contains(QDir::toNativeSeparators(Out + QStringLiteral("/RossiFoto.jpg"))));
    EXPECT_TRUE(Messages[1].contains(QStringLiteral("la cartella non esiste"))) << Messages[1].toStdString();
    EXPECT_FALSE(QFileInfo::exists(Out));
    EXPECT_TRUE(Form->NomeCorrente.isEmpty());
    // The slot still shows its crop, not a file that was never written.
    EXPECT_EQ(Form->OrImageFoto->Picture()->Graphic().size(), QSize(260, 315));
}
