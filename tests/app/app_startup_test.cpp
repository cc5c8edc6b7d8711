// Start-up in its order, with the real options window on a settings file of
// its own: the last scan is offered again, the first-start options apply.

#include "app_fixture.h"

#include <QCheckBox>
#include <QDir>

namespace {
class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        if (!Utils)
            InitOptionsUnit();
        // The options derive the temporary folder from the local data folder: keep it in here.
        OldDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", Dir.path().toUtf8());
        Folder = Dir.filePath(QStringLiteral("Lodrevan/Corvanta"));
        ASSERT_TRUE(QDir().mkpath(Folder));
        IniFileName = Folder + QStringLiteral("/corvanta.ini");
    }
    void TearDown() override
    {
        DestroyCorvantaWindows();
        qputenv("XDG_DATA_HOME", OldDataHome);
    }
    QTemporaryDir Dir;
    QString Folder;
    QByteArray OldDataHome;
};
} // namespace

TEST_F(StartupTest, WindowsComeInOrderAndTheLastScanIsOfferedAgain)
{
    // A scan left in the temporary folder (the settings file's folder) by an earlier run.
    const QString scan = Folder + QStringLiteral("/Scansione.bmp");
    ASSERT_TRUE(AppTest::MakeScannedForm(40).save(scan, "BMP"));

    CreateCorvantaWindows();
    ASSERT_NE(FormCrop, nullptr);
    ASSERT_NE(FormOptions, nullptr);
    ASSERT_NE(FormTBack, nullptr);
    EXPECT_TRUE(FormCrop->isVisible());
    EXPECT_FALSE(FormTBack->isVisible());
    EXPECT_FALSE(FormOptions->isVisible());
    EXPECT_EQ(FormOptions->AcqImgFile, scan);

    // The options window's creation put the scan in the empty list: reset brings it back.
    EXPECT_TRUE(FormCrop->BtResetImg->isEnabled());
    EXPECT_FALSE(FormCrop->BtResetDisGlyph->isVisible());
    EXPECT_TRUE(FormCrop->PanelLogo->isVisible());
    FormCrop->BtResetImg->click();
    EXPECT_EQ(FormCrop->ZSImage->OrigBitmap().size(), AppTest::MakeScannedForm(40).size());
    EXPECT_FALSE(FormCrop->PanelLogo->isVisible());
}

TEST_F(StartupTest, WithoutAScanTheResetButtonStaysOff)
{
    CreateCorvantaWindows();
    EXPECT_FALSE(FormCrop->BtResetImg->isEnabled());
    EXPECT_TRUE(FormCrop->BtResetDisGlyph->isVisible());
    // Reset with an empty view and still no scan: nothing to show, the guide goes.
    FormCrop->BtResetImgClick();
    EXPECT_TRUE(FormCrop->ZSImage->OrigBitmap().isNull());
}

TEST_F(StartupTest, ReleasingTheMouseCropsWhenTheOptionAsks)
{
    CreateCorvantaWindows();
    // First start: automatic crop on release is on.
    ASSERT_TRUE(FormOptions->CkCropMouseUp->isChecked());
    FormOptions->CkMinSizeSel->setChecked(false);
    TFormCrop* form = FormCrop;
    const QImage picture = AppTest::MakeScannedForm(150);
    const QString path = AppTest::SavePicture(picture, Dir.path(), QStringLiteral("modulo.png"));
    form->ChoosePictureFiles = [path] { return QStringList{path}; };
    form->BtLoadImagesClick();

    // A click on the photo of the form, then the frame's corner dragged inward and released.
    TZSImage* view = form->ZSImage;
    const QRect photo = AppTest::FormPhotoRect(150);
    const TRect c = view->CanvasBitmapRect();
    const double s = view->GetScale();
    const QPoint at(c.Left + static_cast<int>(photo.center().x() * s),
                    c.Top + static_cast<int>(photo.center().y() * s));
    AppTest::Press(view, at);
    AppTest::Release(view, at);
    ASSERT_EQ(view->Selection()->SelectionRatio, srFoto);
    EXPECT_EQ(form->BtSaveImg->text(), QStringLiteral("SALVA FOTO"));

    const TRect r = view->Selection()->GetSelRect();
    AppTest::Drag(view->Selection(), QPoint(r.Right, r.Bottom), QPoint(r.Right - 50, r.Bottom - 70));
    TRect area, onView;
    ASSERT_TRUE(view->GetSelection(area, onView));
    QImage expected(260, 315, QImage::Format_BGR888);
    SmoothResize(picture.copy(area.Left, area.Top, area.Right - area.Left, area.Bottom - area.Top), expected);
    EXPECT_EQ(form->OrImageFoto->PictureOriginal()->Graphic().convertToFormat(QImage::Format_BGR888), expected);
    EXPECT_FALSE(form->ImgFoto->isVisible());
    // The next move over the frame finds a crop in the slot: it can be saved.
    AppTest::Move(view->Selection(), QPoint(r.Left + 20, r.Top + 20), Qt::NoButton);
    EXPECT_TRUE(form->BtSaveImg->isEnabled());
    // A wheel step removes the frame, and the crop can still be saved.
    AppTest::Wheel(view, -120);
    EXPECT_FALSE(view->Selection()->SelectionExist());
    EXPECT_TRUE(form->BtSaveImg->isEnabled());
}
