// Key A on a crooked scanned form: the page is turned by the toolbar, the
// signature and the photo are cut into their slots, the window ends in photo
// mode with the 259:314 frame on the photo; a replaced picture's analysis is dropped.

#include "app_fixture.h"

#include "analysis/PageAnalysis.h"
#include "app/U_Cropping_Status.h"
#include "view/U_FtBack.h"
#include "corpus/PageCorpus.h"

#include <QFile>

class AutoCropFixture : public AppFixture {
protected:
    void LoadFile(const QByteArray& bytes, const QString& name)
    {
        const QString path = Dir.filePath(name);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        Form->ChoosePictureFiles = [path] { return QStringList{path}; };
        Form->BtLoadImagesClick();
    }
    QStringList Said;
};

TEST_F(AutoCropFixture, KeyAStraightensAndCropsSignatureThenPhoto)
{
    if (CorpusPortrait().isNull())
        GTEST_SKIP() << "portrait photograph (python3-skimage) not installed";
    Form->ShowAutoCropStatus = [this](const QString& s) { Said << s; };
    const CorpusPage page = MakeCorpusPage(2); // 300 dpi, skewed by 5.91 degrees
    ASSERT_TRUE(page.hasPhoto && page.hasSignature);
    LoadFile(page.jpeg, QStringLiteral("modulo.jpg"));
    QTRY_VERIFY_WITH_TIMEOUT(!Said.isEmpty(), 120000);
    EXPECT_EQ(Said.last(), QStringLiteral("Foto e firma trovate: premere A per ritagliarle"));

    PressKey(Qt::Key_A);
    EXPECT_EQ(Said.last(), QStringLiteral("Pagina raddrizzata di 6° - Foto trovata - Firma trovata"));
    EXPECT_EQ(Form->Mode(), srFoto);
    EXPECT_TRUE(Form->OrImageFoto->PictureOriginal()->HasGraphic());
    EXPECT_TRUE(Form->OrImageFirma->PictureOriginal()->HasGraphic());
    EXPECT_TRUE(Form->BtSaveImg->isEnabled());
    // The frame shown: 259:314, on the photo as the turned page has it.
    TRect area, onView;
    ASSERT_TRUE(View()->GetSelection(area, onView));
    const double w = area.Right - area.Left;
    const double h = area.Bottom - area.Top;
    EXPECT_NEAR(w / h, 259.0 / 314.0, 0.02);
    const QSize size = page.picture.size();
    const QPointF centre = analysis::MapIntoTurned(QRectF(page.photo).center(), size, size, -6);
    EXPECT_NEAR((area.Left + area.Right) / 2.0, centre.x(), 0.08 * w);
    EXPECT_NEAR((area.Top + area.Bottom) / 2.0, centre.y(), 0.12 * h);
    EXPECT_GT(w, 0.85 * page.photo.width() * 0.95);

    // The turn stays a turn of the page as opened, through A's own zoom steps:
    // the strip shows it, and a turn by hand afterwards starts from the page as
    // opened, giving the very pixels it gives on a freshly opened page.
    EXPECT_EQ(Form->gradiRot, 354);
    EXPECT_TRUE(Form->Status->ViewText().endsWith(QStringLiteral("Rotazione -6°"))) << Form->Status->ViewText().toStdString();
    ASSERT_NE(FormTBack, nullptr);
    FormTBack->TbRotateSChange(357);
    const QImage byHand = View()->OrigBitmap().copy();
    LoadFile(page.jpeg, QStringLiteral("modulo2.jpg"));
    FormTBack->TbRotateSChange(357);
    EXPECT_TRUE(View()->OrigBitmap() == byHand);
}

TEST_F(AutoCropFixture, ReplacedPictureAnalysisIsNeverApplied)
{
    if (CorpusPortrait().isNull())
        GTEST_SKIP() << "portrait photograph (python3-skimage) not installed";
    Form->ShowAutoCropStatus = [this](const QString& s) { Said << s; };
    const CorpusPage page = MakeCorpusPage(0);
    LoadFile(page.jpeg, QStringLiteral("modulo.jpg"));
    // Replaced at once by a blank sheet of the same size.
    QImage blank(page.picture.size(), QImage::Format_BGR888);
    blank.fill(Qt::white);
    AppTest::SavePicture(blank, Dir.path(), QStringLiteral("bianco.png"));
    const QString path = Dir.filePath(QStringLiteral("bianco.png"));
    Form->ChoosePictureFiles = [path] { return QStringList{path}; };
    Form->BtLoadImagesClick();
    QTest::qWait(4000);
    EXPECT_TRUE(Said.isEmpty()) << Said.join(QLatin1Char('|')).toStdString();

    PressKey(Qt::Key_A);
    ASSERT_FALSE(Said.isEmpty());
    EXPECT_EQ(Said.last(), QStringLiteral("Foto non trovata - Firma non trovata"));
    EXPECT_FALSE(Form->OrImageFoto->PictureOriginal()->HasGraphic());
    EXPECT_FALSE(Form->OrImageFirma->PictureOriginal()->HasGraphic());
}
