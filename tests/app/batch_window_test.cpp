// "Elabora cartella…" in the main window: a folder with a taken name and a
// non-picture, the review, and a page opened again from it with the very
// pixels the batch saved.

#include "app_fixture.h"

#include "app/U_Cropping_BatchDialogs.h"
#include "batch/Batch.h"
#include "common/ConfigTestUtils.h"
#include "view/io/ImageReaders.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTableWidget>

namespace {
class BatchWindowTest : public ProgramFixture {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EnterHome());
        ASSERT_NO_FATAL_FAILURE(OpenProgram());
        ASSERT_NO_FATAL_FAILURE(SetOutputFolder());
        In = Dir.filePath(QStringLiteral("pagine"));
        ASSERT_TRUE(QDir().mkpath(In));
        FormOptions->CkStoreSelections->setChecked(true);
        FormOptions->CkStoreEditSliders->setChecked(false);
        FormOptions->CkFirmaGrayscale->setChecked(true);
    }
    // A frame as the window stores it: view pixels at zoom 1 over a view
    // whose top-left shows the page's.
    void StoreFrame(const QString& slot, const QRect& r)
    {
        auto put = [&](const char* key, int v) {
            WriteFileIni(IniFileName, QStringLiteral("FormOptions"), slot + QLatin1String(key), QString::number(v));
        };
        put(".Selected.Left", r.left());
        put(".Selected.Top", r.top());
        put(".Selected.Right", r.right() + 1);
        put(".Selected.Bottom", r.bottom() + 1);
        put(".Origin.Left", 0);
        put(".Origin.Top", 0);
        put(".Origin.Right", 1000);
        put(".Origin.Bottom", 1000);
        put(".Origin.Zoom", 1);
    }
    static constexpr int kDpi = 150;
    QString In;
};
} // namespace

TEST_F(BatchWindowTest, FolderRunAsksOnceForTakenNamesAndReopensAPageWithTheSavedPixels)
{
    const QImage form = AppTest::MakeScannedForm(kDpi);
    ASSERT_TRUE(form.save(In + QStringLiteral("/modulo_001.png")));
    ASSERT_TRUE(form.save(In + QStringLiteral("/modulo_002.png")));
    ConfigTest::WriteBytes(In + QStringLiteral("/elenco.txt"), "nomi\n");
    ConfigTest::WriteBytes(Out + QStringLiteral("/modulo_002Foto.jpg"), "già consegnata");
    StoreFrame(QStringLiteral("Foto"), AppTest::FormPhotoRect(kDpi));
    StoreFrame(QStringLiteral("Firma"), AppTest::FormSignatureRect(kDpi));
    // The slots' current retouch is what the batch applies.
    Form->OrImageFoto->SetBrightness(20);
    Form->OrImageFoto->SetContrast(10);
    Form->OrImageFoto->SetTag(2);
    Form->OrImageFirma->SetTag(-1);

    QList<int> asked;
    Form->AskCollision = [&asked](int n) {
        asked << n;
        return static_cast<int>(TBatchCollision::Number);
    };
    Form->ChooseBatchFolder = [this] { return In; };
    Form->ElaboraCartellaClick();

    EXPECT_EQ(asked, QList<int>{1});
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
    EXPECT_EQ(ConfigTest::ReadBytes(Out + QStringLiteral("/modulo_002Foto.jpg")), QByteArray("già consegnata"));
    QStringList names = QDir(Out).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    EXPECT_EQ(names, (QStringList{"modulo_001Firma.jpg", "modulo_001Foto.jpg", "modulo_002 (2)Firma.jpg",
                                  "modulo_002 (2)Foto.jpg", "modulo_002Foto.jpg"}));

    auto* review = Form->findChild<TBatchReviewDialog*>(QStringLiteral("BatchReview"));
    ASSERT_NE(review, nullptr);
    ASSERT_EQ(review->Table()->rowCount(), 3);
    int row = -1;
    for (int r = 0; r < 3; ++r) {
        const QString file = review->Table()->item(r, 0)->text();
        if (file == QLatin1String("elenco.txt"))
            EXPECT_TRUE(review->Table()->item(r, 1)->text().startsWith(QLatin1String("no")));
        else
            EXPECT_EQ(review->Table()->item(r, 1)->text(), QStringLiteral("sì")) << file.toStdString();
        if (file == QLatin1String("modulo_001.png"))
            row = r;
    }
    ASSERT_GE(row, 0);
    const TBatchPage page = review->Pages()[static_cast<size_t>(row)];

    // Reopened: the view holds the page, both frames were cut into their slots
    // through the window's own crop, with the same result the batch saved.
    emit review->Table()->cellDoubleClicked(row, 0);
    ASSERT_FALSE(Form->ViewEmpty());
    EXPECT_EQ(Form->Mode(), srFoto);
    EXPECT_EQ(Form->NomeCorrente, QStringLiteral("modulo_001"));
    EXPECT_TRUE(Form->BtSaveImg->isEnabled());
    QImage source;
    ASSERT_TRUE(LoadImagefromFile(page.Source, source));
    const TBatchSettings settings = Form->BatchSettingsFromWindow();
    EXPECT_EQ(settings.Foto.Sharpness, 2);
    const QImage foto =
        RenderBatchRetouch(CropAndResizeFotoPixels(CopyArea(source, page.Foto.Frame)), settings.Foto);
    const QImage firma =
        RenderBatchRetouch(CropAndResizeFirmaPixels(CopyArea(source, page.Firma.Frame), true), settings.Firma);
    EXPECT_TRUE(Form->OrImageFoto->Picture()->Graphic().convertToFormat(QImage::Format_BGR888) == foto);
    EXPECT_TRUE(Form->OrImageFirma->Picture()->Graphic().convertToFormat(QImage::Format_BGR888) == firma);
}
