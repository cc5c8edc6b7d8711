// The retouch sliders on real crops, the grey preview, slot resets, and the
// retouch values and frames kept in a real settings file across two windows.

#include "app_fixture.h"
#include "common/AppViewTestUtils.h"

#include "app/U_Cropping_Store.h"
#include "app/U_fOut.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <cstdlib>

namespace {

QImage Bgr(const QImage& img)
{
    return img.convertToFormat(QImage::Format_BGR888);
}

// Equal up to one pixel on each side: re-centring rounds the middle of the shown part.
bool Near(const TRect& a, const TRect& b)
{
    return std::abs(a.Left - b.Left) <= 1 && std::abs(a.Top - b.Top) <= 1 && std::abs(a.Right - b.Right) <= 1 &&
           std::abs(a.Bottom - b.Bottom) <= 1;
}

QImage Sharpened(const QImage& crop, float alpha)
{
    QImage out;
    Sharpen(crop, out, alpha);
    return out;
}

// What a slot shows for this source and these colour values and softening.
QImage Rendered(const QImage& source, int light, int contr, int dark, int colour, int soft = 0)
{
    TOrImage ref;
    ref.SetPictureOriginal(source);
    ref.SetBrightness(light);
    ref.SetContrast(contr);
    ref.SetLightness(dark);
    ref.SetSaturation(colour);
    ref.SetAntiAlias(soft);
    ref.UpdateEffects();
    return Bgr(ref.Picture()->Graphic());
}


class RetouchStoreTest : public ProgramFixture {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EnterHome());
        qApp->setStyleSheet(LoadStyleSheet());
        StartWindows(150);
    }

    void TearDown() override
    {
        CloseProgram();
        qApp->setStyleSheet(QString());
    }

    // The three windows on the test's settings file, with a form of `dpi` loaded.
    void StartWindows(int dpi)
    {
        ASSERT_NO_FATAL_FAILURE(OpenProgram());
        ASSERT_NO_FATAL_FAILURE(SetOutputFolder());
        FormOptions->CkMinSizeSel->setChecked(false);
        Dpi = dpi;
        LoadForm(dpi, QStringLiteral("modulo%1.png").arg(dpi));
    }

    void ClickPicture(QPoint p)
    {
        AppTest::ClickPicture(Form->ZSImage, p);
    }

    // The frame's corner pulled inward and released: the slot is cut on release.
    void ShrinkFrame(int dx, int dy)
    {
        AppTest::ShrinkFrame(Form->ZSImage, dx, dy);
    }

    void CropPhoto()
    {
        ClickPicture(AppTest::FormPhotoRect(Dpi).center());
        ASSERT_EQ(Form->Mode(), srFoto);
        ShrinkFrame(40, 48);
        ASSERT_FALSE(Form->BmpFotoBuffer1.isNull());
    }

    QImage Source() const { return Bgr(Form->OrImageFoto->PictureOriginal()->Graphic()); }
    QImage Shown() const { return Bgr(Form->OrImageFoto->Picture()->Graphic()); }
    QString Ini(const QString& key) const { return ReadFileIni(IniFileName, QStringLiteral("FormOptions"), key); }
    void SetIni(const QString& key, const QString& value)
    {
        ASSERT_TRUE(WriteFileIni(IniFileName, QStringLiteral("FormOptions"), key, value));
    }

    int Dpi = 150;
};

} // namespace

TEST_F(RetouchStoreTest, SharpnessLevelsStartFromTheUnsharpenedCropAndKeepTheColourValues)
{
    CropPhoto();
    const QImage crop = Bgr(Form->BmpFotoBuffer1);
    Form->pBarLight->setValue(30);
    Form->pBarColor->setValue(-40);
    EXPECT_EQ(Form->OrImageFoto->PicBrightness(), 30);
    EXPECT_EQ(Form->LbColo->text(), QStringLiteral("-40"));

    Form->pBarSharpness->setValue(2);
    EXPECT_EQ(Source(), Sharpened(crop, 3));
    EXPECT_EQ(Shown(), Rendered(Sharpened(crop, 3), 30, 0, 0, -40));
    EXPECT_EQ(Form->OrImageFoto->Tag(), 2);
    EXPECT_EQ(Form->LbShar->text(), QStringLiteral("2"));

    // 3 sharpens the crop itself with alpha 4, not the picture already sharpened.
    Form->pBarSharpness->setValue(3);
    EXPECT_EQ(Source(), Sharpened(crop, 4));
    EXPECT_EQ(Bgr(Form->BmpFotoBuffer1), crop);
    EXPECT_EQ(Shown(), Rendered(Sharpened(crop, 4), 30, 0, 0, -40));

    Form->pBarSharpness->setValue(0);
    EXPECT_EQ(Source(), crop);
    EXPECT_EQ(Shown(), Rendered(crop, 30, 0, 0, -40));
    EXPECT_EQ(Form->OrImageFoto->Tag(), 0);

    // Softening leaves the source alone and goes through the control's filter.
    Form->pBarSharpness->setValue(-2);
    EXPECT_EQ(Source(), crop);
    EXPECT_EQ(Form->OrImageFoto->PicAntiAlias(), 2);
    EXPECT_EQ(Form->OrImageFoto->Tag(), -2);
    EXPECT_EQ(Shown(), Rendered(crop, 30, 0, 0, -40, 2));

    // A new crop re-applies the sliders to it; the signature slot was never touched.
    ShrinkFrame(10, 12);
    EXPECT_EQ(Shown(), Rendered(Bgr(Form->BmpFotoBuffer1), 30, 0, 0, -40, 2));
    EXPECT_EQ(Form->OrImageFirma->PicBrightness(), 0);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
}

TEST_F(RetouchStoreTest, SharpnessSetBeforeTheFirstCropWaitsForIt)
{
    // Stored values would replace the level at the first crop: this is about the level alone.
    FormOptions->CkStoreEditSliders->setChecked(false);
    Form->OrImageFotoClick();
    ASSERT_EQ(Form->Mode(), srFoto);
    Form->pBarSharpness->setValue(1);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
    EXPECT_EQ(Form->LbShar->text(), QStringLiteral("1"));
    EXPECT_FALSE(Form->OrImageFoto->PictureOriginal()->HasGraphic());

    ShrinkFrame(40, 48);
    ASSERT_FALSE(Form->BmpFotoBuffer1.isNull());
    EXPECT_EQ(Source(), Sharpened(Bgr(Form->BmpFotoBuffer1), 2));
    EXPECT_EQ(Form->OrImageFoto->Tag(), 1);
    EXPECT_TRUE(Messages.isEmpty());
}

TEST_F(RetouchStoreTest, GreyPreviewOnlyWhileAllItsConditionsHold)
{
    FormOptions->CkFotoPreviewBw->setChecked(true);
    CropPhoto();
    Form->pBarLight->setFocus();
    ASSERT_TRUE(Form->pBarLight->hasFocus());
    // The arrow keys move the focused slider one step and bring up the preview.
    PressKey(Qt::Key_Right);
    EXPECT_EQ(Form->pBarLight->value(), 1);
    ASSERT_TRUE(Form->PanelPreviewBw->isVisible());
    QImage grey = Shown();
    ConvertToGrayscale(grey);
    EXPECT_EQ(Bgr(Form->ImgPreviewBw->Picture()), grey);
    PressKey(Qt::Key_Left);
    EXPECT_EQ(Form->pBarLight->value(), 0);

    // Each condition in turn: the focus off the sliders, the option off, no frame.
    Form->setFocus();
    Form->UpdatePreviewBw();
    EXPECT_FALSE(Form->PanelPreviewBw->isVisible());

    Form->pBarContr->setFocus();
    Form->pBarContr->setValue(5);
    EXPECT_TRUE(Form->PanelPreviewBw->isVisible());
    FormOptions->CkFotoPreviewBw->setChecked(false);
    Form->pBarContr->setValue(6);
    EXPECT_FALSE(Form->PanelPreviewBw->isVisible());
    FormOptions->CkFotoPreviewBw->setChecked(true);
    Form->ZSImage->Selection()->Deselect();
    Form->pBarContr->setValue(7);
    EXPECT_FALSE(Form->PanelPreviewBw->isVisible());

    // The signature mode never shows the photo's preview.
    Form->OrImageFirmaClick();
    ASSERT_EQ(Form->Mode(), srFirma);
    Form->pBarContr->setFocus();
    Form->pBarContr->setValue(3);
    EXPECT_FALSE(Form->PanelPreviewBw->isVisible());
}

TEST_F(RetouchStoreTest, ResetsTakeTheSlotOfTheCurrentModeBackToItsCrop)
{
    CropPhoto();
    const QImage crop = Bgr(Form->BmpFotoBuffer1);
    Form->pBarDark->setValue(20);
    Form->pBarSharpness->setValue(3);
    const QPoint inSlot(30, 30);

    // A left press, or a right press on the slot of the other mode, resets nothing.
    AppTest::Press(Form->OrImageFoto, inSlot, Qt::LeftButton);
    AppTest::Release(Form->OrImageFoto, inSlot, Qt::LeftButton);
    Form->OrImageFirmaMouseDown(Qt::RightButton);
    EXPECT_EQ(Form->OrImageFoto->Tag(), 3);
    Form->OrImageFotoClick();

    ASSERT_EQ(Form->Mode(), srFoto);
    Form->OrImageFotoMouseDown(Qt::RightButton);
    EXPECT_EQ(Source(), crop);
    EXPECT_EQ(Shown(), crop);
    EXPECT_EQ(Form->OrImageFoto->Tag(), 0);
    EXPECT_EQ(Form->OrImageFoto->PicLightness(), 0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Form->Slider(i)->value(), 0);
        EXPECT_TRUE(Form->Slider(i)->isEnabled());
        EXPECT_EQ(Form->SliderLabel(i)->text(), QStringLiteral("0"));
    }

    // Key 0 does the same.
    Form->pBarLight->setValue(-15);
    Form->pBarSharpness->setValue(1);
    Form->setFocus();
    PressKey(Qt::Key_0);
    EXPECT_EQ(Source(), crop);
    EXPECT_EQ(Form->OrImageFoto->PicBrightness(), 0);
    EXPECT_EQ(Form->pBarLight->value(), 0);
}

TEST_F(RetouchStoreTest, StoredValuesBeyondTheSlidersAreClampedTwice)
{
    SetIni(QStringLiteral("Foto.Slider.Light"), QStringLiteral("500"));
    SetIni(QStringLiteral("Foto.Slider.Color"), QStringLiteral("dieci"));
    SetIni(QStringLiteral("Foto.Slider.Sharp"), QStringLiteral("2"));
    CropPhoto();
    EXPECT_FALSE(Form->PrimoAvvioFoto);
    EXPECT_TRUE(Form->PrimoAvvioFirma);
    EXPECT_EQ(Form->pBarLight->value(), 100);
    EXPECT_EQ(Form->LbLigh->text(), QStringLiteral("100"));
    EXPECT_EQ(Form->OrImageFoto->PicBrightness(), 100);
    EXPECT_EQ(Form->OrImageFoto->PicSaturation(), 0);
    EXPECT_EQ(Form->OrImageFoto->Tag(), 2);
    EXPECT_EQ(Source(), Sharpened(Bgr(Form->BmpFotoBuffer1), 3));

    // The slider already at its end does not move: the slot still ends at its position.
    Form->PrimoAvvioFoto = true;
    Form->LeggiRitoccoIni(srFoto);
    EXPECT_EQ(Form->pBarLight->value(), 100);
    EXPECT_EQ(Form->OrImageFoto->PicBrightness(), 100);
}

TEST(StoredZoom, WrittenAndReadInTheLocaleNotation)
{
    const QLocale it(QLocale::Italian, QLocale::Italy);
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(ZoomToIniText(0.75, it), QStringLiteral("0,75"));
    EXPECT_EQ(ZoomToIniText(0.75, en), QStringLiteral("0.75"));
    EXPECT_EQ(ZoomToIniText(1.0, it), QStringLiteral("1"));
    EXPECT_EQ(ZoomToIniText(1250.5, it), QStringLiteral("1250,5"));
    EXPECT_EQ(ZoomToIniText(0.1 + 0.2, en), QStringLiteral("0.3"));

    EXPECT_EQ(ZoomFromIniText(QStringLiteral("0,75"), it), 0.75);
    EXPECT_EQ(ZoomFromIniText(QStringLiteral("0.75"), en), 0.75);
    // Under a decimal point "0,75" is no number, nor a grouped "1.250" under a comma.
    EXPECT_EQ(ZoomFromIniText(QStringLiteral("0,75"), en), 1.0);
    EXPECT_EQ(ZoomFromIniText(QStringLiteral("0,75"), QLocale::c()), 1.0);
    EXPECT_EQ(ZoomFromIniText(QStringLiteral("1.250"), it), 1.0);
    for (const char* bad : {"", "abc", "inf", "nan", "1e999"})
        EXPECT_EQ(ZoomFromIniText(QString::fromLatin1(bad), en), 1.0) << bad;
}

TEST_F(RetouchStoreTest, FramesAreNeverPutBackWhileTheRetouchValuesAreNotStored)
{
    FormOptions->CkStoreEditSliders->setChecked(false);
    CropPhoto();
    const TRect cropped = NormalizeRect(Form->ZSImage->Selection()->GetSelRect());
    EXPECT_EQ(Ini(QStringLiteral("Foto.Selected.Right")), QString::number(cropped.Right));
    EXPECT_TRUE(Ini(QStringLiteral("Foto.Slider.Light")).isEmpty());
    EXPECT_TRUE(Form->PrimoAvvioFoto);

    Form->OrImageFotoClick();
    const TRect r = Form->ZSImage->Selection()->GetSelRect();
    EXPECT_EQ(r.Left, Form->ZSImage->width() / 2 - 259 / 2);
    EXPECT_EQ(r.Right - r.Left, 259);
    EXPECT_NE(r.Right - r.Left, cropped.Right - cropped.Left);
}

TEST_F(RetouchStoreTest, MissingOrBrokenKeysFallBack)
{
    Form->OrImageFirmaClick();
    ASSERT_EQ(Form->Mode(), srFirma);
    SetIni(QStringLiteral("Firma.Selected.Left"), QStringLiteral("12x"));
    TRect shown, frame;
    double zoom = 0;
    ASSERT_TRUE(Form->LeggiSelezioneIni(srFirma, shown, zoom, frame));
    EXPECT_TRUE(RectIsEqual(shown, TRect(0, 0, 260, 315)));
    EXPECT_TRUE(RectIsEqual(frame, TRect(0, 0, 236, 47)));
    EXPECT_EQ(zoom, 1.0);
    ASSERT_TRUE(Form->LeggiSelezioneIni(srFoto, shown, zoom, frame));
    EXPECT_TRUE(RectIsEqual(frame, TRect(0, 0, 260, 315)));

    // Switched off, or outside the two slot modes: the outputs stay as given.
    FormOptions->CkStoreSelections->setChecked(false);
    TRect untouched(1, 2, 3, 4);
    EXPECT_FALSE(Form->LeggiSelezioneIni(srFirma, untouched, zoom, untouched));
    FormOptions->CkStoreSelections->setChecked(true);
    EXPECT_FALSE(Form->LeggiSelezioneIni(srFree, untouched, zoom, untouched));
    EXPECT_TRUE(RectIsEqual(untouched, TRect(1, 2, 3, 4)));
}

TEST_F(RetouchStoreTest, RetouchValuesAndFrameComeBackInTheNextRun)
{
    // First run: crop, retouch, save.
    CropPhoto();
    Form->pBarLight->setValue(25);
    Form->pBarContr->setValue(-10);
    Form->pBarDark->setValue(5);
    Form->pBarColor->setValue(20);
    Form->pBarSharpness->setValue(2);
    {
        NameDialogAnswer name(QStringLiteral("Rossi"));
        Form->BtSaveImg->click();
    }
    ASSERT_TRUE(QFileInfo::exists(Out + QStringLiteral("/RossiFoto.jpg"))) << Messages.join('\n').toStdString();
    const TRect frame = NormalizeRect(Form->ZSImage->Selection()->GetSelRect());
    const TRect shown = Form->ZSImage->OrigBitmapRect();
    const double zoom = Form->ZSImage->StretchFactor();

    // Between the runs, the settings file holds them.
    const QStringList sliders{"Light", "Contr", "Darkn", "Color", "Sharp"};
    const QStringList values{"25", "-10", "5", "20", "2"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Ini(QStringLiteral("Foto.Slider.") + sliders[i]), values[i]) << sliders[i].toStdString();
    EXPECT_TRUE(Ini(QStringLiteral("Firma.Slider.Light")).isEmpty());
    EXPECT_EQ(Ini(QStringLiteral("Foto.Selected.Left")), QString::number(frame.Left));
    EXPECT_EQ(Ini(QStringLiteral("Foto.Selected.Bottom")), QString::number(frame.Bottom));
    EXPECT_EQ(Ini(QStringLiteral("Foto.Origin.Top")), QString::number(shown.Top));
    EXPECT_EQ(Ini(QStringLiteral("Foto.Origin.Right")), QString::number(shown.Right));
    EXPECT_EQ(Ini(QStringLiteral("Foto.Origin.Zoom")), ZoomToIniText(zoom, QLocale::system()));

    // Second run on the same settings file, another picture.
    DestroyCorvantaWindows();
    StartWindows(120);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Form->Slider(i)->value(), 0);
    CropPhoto();
    EXPECT_EQ(Form->pBarLight->value(), 25);
    EXPECT_EQ(Form->pBarContr->value(), -10);
    EXPECT_EQ(Form->pBarDark->value(), 5);
    EXPECT_EQ(Form->pBarColor->value(), 20);
    EXPECT_EQ(Form->pBarSharpness->value(), 2);
    EXPECT_EQ(Form->LbShar->text(), QStringLiteral("2"));
    EXPECT_EQ(Shown(), Rendered(Sharpened(Bgr(Form->BmpFotoBuffer1), 3), 25, -10, 5, 20));

    // The frame of this crop, after a trip to the signature, comes back where it was,
    // over the same part of the picture at the same zoom.
    const TRect again = NormalizeRect(Form->ZSImage->Selection()->GetSelRect());
    const TRect againShown = Form->ZSImage->OrigBitmapRect();
    PressKey(Qt::Key_2);
    ASSERT_EQ(Form->Mode(), srFirma);
    Form->OrImageFotoClick();
    ASSERT_EQ(Form->Mode(), srFoto);
    EXPECT_TRUE(RectIsEqual(NormalizeRect(Form->ZSImage->Selection()->GetSelRect()), again));
    EXPECT_TRUE(Near(Form->ZSImage->OrigBitmapRect(), againShown));
    EXPECT_EQ(Form->pBarLight->value(), 25);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
}
