// Crop modes, the frame's placement, cutting out into the slots, the image
// list and reset, dropped files and errors while loading.

#include "app_fixture.h"

#include "app/U_Cropping_Pixels.h"
#include "app/U_Cropping_Status.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace {
// A picture whose every pixel differs from its neighbours, so a crop off by one shows.
QImage Gradient(int w, int h)
{
    QImage img(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<uchar>(x * 7 + y);
            row[3 * x + 1] = static_cast<uchar>(y * 5 + x / 3);
            row[3 * x + 2] = static_cast<uchar>((x ^ y) * 3);
        }
    }
    return img;
}

bool SameImage(const QImage& a, const QImage& b)
{
    return a.convertToFormat(QImage::Format_BGR888) == b.convertToFormat(QImage::Format_BGR888);
}
} // namespace

class CropFixture : public AppFixture {
protected:
    // Sizes the window so the view is exactly w x h.
    void ViewSize(int w, int h)
    {
        Form->resize(w + 3 + 8 + 290, h + TStatusStrip::kHeight);
        QCoreApplication::processEvents();
        ASSERT_EQ(View()->size(), QSize(w, h));
    }

    void LoadPicture(const QImage& img)
    {
        Picture = img;
        const QString path = AppTest::SavePicture(img, Dir.path(), QStringLiteral("prova.png"));
        Form->ChoosePictureFiles = [path] { return QStringList{path}; };
        Form->BtLoadImagesClick();
    }

    // Frame (view pixels, inclusive) and the picture area it covers.
    TRect Framed()
    {
        TRect area, onView;
        EXPECT_TRUE(View()->GetSelection(area, onView));
        return area;
    }
};

TEST_F(CropFixture, PhotoFrameIsCentredInTheViewAtZoomOne)
{
    ViewSize(600, 700);
    LoadPicture(Gradient(1600, 1800));
    Form->OrImageFotoClick();
    EXPECT_EQ(View()->StretchFactor(), 1.0);
    EXPECT_EQ(Sel()->GetSelRect(), TRect(171, 193, 171 + 259, 193 + 314));
    EXPECT_EQ(Sel()->SelectionType, stResizeable);
    // With CkCropMouseUp off the save button crops, and it can because there is a frame.
    EXPECT_EQ(Form->BtSaveImg->text(), QStringLiteral("RITAGLIA"));
    EXPECT_TRUE(Form->BtSaveImg->isEnabled());
    EXPECT_TRUE(FormTBack->isVisible());

    Form->OrImageFirmaClick();
    EXPECT_EQ(Sel()->GetSelRect(), TRect(300 - 117, 350 - 23, 300 - 117 + 235, 350 - 23 + 46));
}

TEST_F(CropFixture, ModeTransitions)
{
    ViewSize(600, 700);
    LoadPicture(Gradient(1200, 1400));
    // Loading: no mode, fit, no frame, the guide gone for good, reset available.
    EXPECT_EQ(Sel()->SelectionRatio, srNone);
    EXPECT_EQ(View()->StretchFactor(), 0.0);
    EXPECT_FALSE(Sel()->SelectionExist());
    EXPECT_FALSE(Form->PanelLogo->isVisible());
    EXPECT_TRUE(Form->BtResetImg->isEnabled());
    EXPECT_FALSE(Form->BtResetDisGlyph->isVisible());

    // The first click on a new picture starts the photo mode around the clicked pixel.
    const TRect c = View()->CanvasBitmapRect();
    const double s = View()->GetScale();
    const QPoint at(c.Left + static_cast<int>(300 * s), c.Top + static_cast<int>(900 * s));
    AppTest::Press(View(), at);
    AppTest::Release(View(), at);
    ASSERT_EQ(Sel()->SelectionRatio, srFoto);
    EXPECT_EQ(View()->StretchFactor(), 1.0);
    const TRect shown = View()->OrigBitmapRect();
    // The click was placed to within one view pixel, two picture pixels at this fit.
    EXPECT_NEAR((shown.Left + shown.Right) / 2.0, 300, 1 / s + 1);
    EXPECT_NEAR((shown.Top + shown.Bottom) / 2.0, 900, 1 / s + 1);
    // A click while framing belongs to the frame, not to the mode switch.
    Form->ZSImageClick();
    EXPECT_EQ(Sel()->SelectionRatio, srFoto);

    // Signature, then reset: fit, no mode, the frames still show the signature.
    Form->OrImageFirmaClick();
    Form->BtResetImgClick();
    EXPECT_EQ(Sel()->SelectionRatio, srNone);
    EXPECT_EQ(View()->StretchFactor(), 0.0);
    EXPECT_FALSE(Sel()->SelectionExist());
    EXPECT_EQ(Form->ShapeFirma->PenColor(), clProgramGreen);
    EXPECT_EQ(Form->ShapeFoto->PenColor(), 0xE0E0E0u);
    // ... and the next click on the view resumes the signature.
    AppTest::Press(View(), QPoint(300, 350));
    AppTest::Release(View(), QPoint(300, 350));
    EXPECT_EQ(Sel()->SelectionRatio, srFirma);
    // Loading again keeps the frame colours of the last mode.
    Form->BtLoadImagesClick();
    EXPECT_EQ(Sel()->SelectionRatio, srNone);
    EXPECT_EQ(Form->ShapeFirma->PenColor(), clProgramGreen);
}

TEST_F(CropFixture, EmptyViewOnlySetsTheModeAndColours)
{
    const double zoom = View()->StretchFactor();
    Form->SeletionFixMode(srFoto, false);
    EXPECT_EQ(Sel()->SelectionRatio, srFoto);
    EXPECT_EQ(Form->ShapeFoto->PenColor(), clProgramGreen);
    EXPECT_EQ(View()->StretchFactor(), zoom);
    EXPECT_FALSE(Sel()->SelectionExist());
    EXPECT_FALSE(FormTBack->isVisible());
    EXPECT_FALSE(Form->BtSaveImg->isEnabled());
}

TEST_F(CropFixture, PhotoOfExactlySlotSizeIsTakenAsItIsOtherwiseResampled)
{
    ViewSize(600, 700);
    LoadPicture(Gradient(900, 1000));
    Form->OrImageFotoClick();
    Form->BtMakeCropClick();
    TRect a = Framed();
    ASSERT_EQ(a.Right - a.Left, 260);
    ASSERT_EQ(a.Bottom - a.Top, 315);
    const QImage exact = Picture.copy(a.Left, a.Top, 260, 315);
    EXPECT_TRUE(SameImage(Form->BmpFotoBuffer1, exact));
    EXPECT_TRUE(SameImage(Form->OrImageFoto->PictureOriginal()->Graphic(), exact));
    EXPECT_FALSE(Form->ImgFoto->isVisible());
    EXPECT_TRUE(Form->ImgFirma->isVisible());

    // One pixel more each way, and a frame half as big again, are scaled to the slot.
    for (const QSize frame : {QSize(261, 316), QSize(390, 472)}) {
        Sel()->SetSelRect(TRect(100, 100, 100 + frame.width() - 1, 100 + frame.height() - 1));
        a = Framed();
        ASSERT_EQ(a.Right - a.Left, frame.width());
        ASSERT_EQ(a.Bottom - a.Top, frame.height());
        Form->BtMakeCropClick();
        QImage expected(260, 315, QImage::Format_BGR888);
        SmoothResize(Picture.copy(a.Left, a.Top, frame.width(), frame.height()), expected);
        EXPECT_TRUE(SameImage(Form->BmpFotoBuffer1, expected)) << frame.width();
    }
}

TEST_F(CropFixture, SignatureIsLetterboxedOnWhite)
{
    ViewSize(600, 700);
    LoadPicture(Gradient(900, 1000));
    Form->OrImageFirmaClick();
    // The frame of 235 x 46 covers 236 x 47 picture pixels: taken as it is.
    Form->BtMakeCropClick();
    TRect a = Framed();
    ASSERT_EQ(a.Right - a.Left, 236);
    ASSERT_EQ(a.Bottom - a.Top, 47);
    EXPECT_TRUE(SameImage(Form->BmpFirmaBuffer1, Picture.copy(a.Left, a.Top, 236, 47)));
    EXPECT_FALSE(Form->ImgFirma->isVisible());

    // 236 x 46: full width, and one white row left at the bottom.
    Sel()->SetSelRect(TRect(50, 60, 50 + 235, 60 + 45));
    a = Framed();
    Form->BtMakeCropClick();
    const QImage& slot = Form->BmpFirmaBuffer1;
    ASSERT_EQ(slot.size(), QSize(236, 47));
    EXPECT_TRUE(SameImage(slot.copy(0, 0, 236, 46), Picture.copy(a.Left, a.Top, 236, 46)));
    for (int x = 0; x < 236; ++x)
        ASSERT_EQ(slot.pixel(x, 46), qRgb(255, 255, 255)) << x;
    EXPECT_TRUE(SameImage(Form->OrImageFirma->PictureOriginal()->Graphic(), slot));

    // 100 x 47 spans the full height, centred: white from 0 to 67 and from 168 on.
    Sel()->SetSelRect(TRect(50, 60, 50 + 99, 60 + 46));
    Form->BtMakeCropClick();
    EXPECT_EQ(Form->BmpFirmaBuffer1.pixel(67, 20), qRgb(255, 255, 255));
    EXPECT_NE(Form->BmpFirmaBuffer1.pixel(68, 20), qRgb(255, 255, 255));
    EXPECT_NE(Form->BmpFirmaBuffer1.pixel(167, 20), qRgb(255, 255, 255));
    EXPECT_EQ(Form->BmpFirmaBuffer1.pixel(168, 20), qRgb(255, 255, 255));
}

TEST_F(CropFixture, FrameOutsideThePictureCropsNothing)
{
    ViewSize(600, 700);
    LoadPicture(Gradient(200, 150)); // small: at zoom 1 most of the view is background
    Form->OrImageFotoClick();
    Sel()->SetSelRect(TRect(0, 0, 20, 20));
    TRect area, onView;
    ASSERT_FALSE(View()->GetSelection(area, onView));
    EXPECT_FALSE(Form->BtSaveImg->isEnabled());
    EXPECT_FALSE(Form->CropAndResizeFoto());
    Form->BtMakeCropClick();
    EXPECT_TRUE(Form->BmpFotoBuffer1.isNull());
    EXPECT_FALSE(Form->OrImageFoto->PictureOriginal()->HasGraphic());
}

TEST_F(CropFixture, DrawnFrameIsCutAndScaledIntoThePhotoSlot)
{
    ViewSize(600, 700);
    LoadForm(150);
    PressKey(Qt::Key_1);
    ASSERT_EQ(Sel()->SelectionRatio, srFoto);
    // Draw a new frame with the mouse away from the placed one, then crop on command.
    const TRect placed = Sel()->GetSelRect();
    AppTest::Drag(Sel(), QPoint(placed.Right - 1, placed.Bottom - 1), QPoint(placed.Right - 60, placed.Bottom - 80));
    ASSERT_TRUE(Sel()->SelectionExist());
    const TRect area = Framed();
    const TRect frame = Sel()->GetSelRect();
    EXPECT_LT(frame.Right - frame.Left, 259);
    PressKey(Qt::Key_Return);

    QImage expected(260, 315, QImage::Format_BGR888);
    SmoothResize(Picture.copy(area.Left, area.Top, area.Right - area.Left, area.Bottom - area.Top), expected);
    EXPECT_TRUE(SameImage(Form->OrImageFoto->PictureOriginal()->Graphic(), expected));
    EXPECT_TRUE(SameImage(Form->OrImageFoto->Picture()->Graphic(), expected));
}

TEST_F(CropFixture, FreeFrameInNoModeTrimsTheViewPicture)
{
    ViewSize(600, 700);
    LoadPicture(Gradient(900, 1000));
    Form->ImpostaZoom(4);
    ASSERT_EQ(Sel()->SelectionRatio, srNone);
    Sel()->SetSelRect(TRect(10, 20, 109, 69));
    const TRect area = Framed();
    Form->BtMakeCropClick();
    EXPECT_FALSE(Sel()->SelectionExist());
    EXPECT_EQ(View()->OrigBitmap().size(), QSize(area.Right - area.Left, area.Bottom - area.Top));
    EXPECT_TRUE(Form->BmpFotoBuffer1.isNull());
}

TEST_F(CropFixture, DroppedFilesBecomeTheImageListInTheirOrder)
{
    const QString first = AppTest::SavePicture(Gradient(300, 200), Dir.path(), QStringLiteral("a.png"));
    const QString second = AppTest::SavePicture(Gradient(100, 400), Dir.path(), QStringLiteral("b.png"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Dir.path()), QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &drop);
    // The folder is no picture: the list holds the two files, the first is shown.
    EXPECT_EQ(Form->ImageListCount(), 2);
    EXPECT_EQ(View()->OrigBitmap().size(), QSize(300, 200));
    EXPECT_FALSE(Form->PanelLogo->isVisible());

    // A drop of anything but files changes nothing.
    QMimeData text;
    text.setText(QStringLiteral("ciao"));
    QDragEnterEvent enterText(QPoint(50, 50), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &enterText);
    EXPECT_FALSE(enterText.isAccepted());
}

TEST_F(CropFixture, ReaderErrorEndsTheLoadShowsTheMessageAndRestoresTheCursor)
{
    QStringList shown;
    SetErrorReporter([&](const QString& text) { shown << text; });
    const QString broken = Dir.filePath(QStringLiteral("rotto.png"));
    {
        QFile f(broken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\x89PNG\r\n\x1a\n garbage that is not a PNG stream");
    }
    Form->ChoosePictureFiles = [broken] { return QStringList{broken}; };
    Form->BtLoadImages->click();
    SetErrorReporter(nullptr);

    ASSERT_EQ(shown.size(), 1);
    EXPECT_FALSE(shown[0].isEmpty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // The steps after showing the picture did not run.
    EXPECT_TRUE(Form->PanelLogo->isVisible());
    EXPECT_FALSE(Form->BtResetImg->isEnabled());
    // The program carries on: a good file loads afterwards.
    LoadPicture(Gradient(50, 40));
    EXPECT_FALSE(Form->PanelLogo->isVisible());
}

TEST(AppErrors, GuardedHandlersReportAndCarryOn)
{
    QStringList shown;
    SetErrorReporter([&](const QString& text) { shown << text; });
    EXPECT_FALSE(RunGuarded([] { throw std::runtime_error("Bitmap must be at least 3x3"); }));
    EXPECT_FALSE(RunGuarded([] { throw 42; }));
    EXPECT_TRUE(RunGuarded([] {}));
    SetErrorReporter(nullptr);
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[0], QStringLiteral("Bitmap must be at least 3x3"));
    EXPECT_FALSE(shown[1].isEmpty());
}
