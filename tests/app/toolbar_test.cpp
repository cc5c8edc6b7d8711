// The rotate and zoom toolbar over a real main window, driven by mouse events
// on its pictures and by the main window's keys.

#include "app_fixture.h"

#include "app/U_Cropping_Status.h"

#include <QTimer>

namespace {

bool SamePixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    const qsizetype row = qsizetype(a.width()) * 3;
    for (int y = 0; y < a.height(); ++y)
        if (memcmp(a.constScanLine(y), b.constScanLine(y), size_t(row)) != 0)
            return false;
    return true;
}

QImage Rotated(const QImage& src, int degs)
{
    QImage out;
    RotateBitmapInto(src, out, degs, false, clGray);
    return out;
}

} // namespace

class ToolbarTest : public AppFixture {
protected:
    // A picture framed in the photo mode, at zoom 1, with the toolbar up.
    void EnterPhotoMode()
    {
        LoadForm();
        PressKey(Qt::Key_1);
        ASSERT_TRUE(FormTBack->isVisible());
        ASSERT_EQ(View()->StretchFactor(), 1.0);
        Unrotated = Form->BmpBackBuffer;
        ASSERT_TRUE(SamePixels(Unrotated, View()->OrigBitmap()));
    }

    // The picture on top at (x, y) of the lens spot, as the pointer finds it.
    QWidget* LensAt(int x, int y) const
    {
        return FormTBack->childAt(FormTBack->ImgLensN->geometry().topLeft() + QPoint(x, y));
    }

    void ClickLens(Qt::MouseButton button, int x, int y)
    {
        QWidget* lens = LensAt(x, y);
        ASSERT_NE(lens, nullptr);
        QTest::mouseClick(lens, button, {}, QPoint(x, y));
    }

    // The lens picture the user sees.
    QString ShownLens() const { return LensAt(19, 19)->objectName(); }

    QImage Unrotated;
};

TEST_F(ToolbarTest, StepsWrapRestartFromTheUnrotatedCopyAndBringTheGuideLines)
{
    EnterPhotoMode();
    EXPECT_FALSE(View()->Grid);
    // The left half of the circle turns back, the right half forward.
    QWidget* back = FormTBack->childAt(10, 28);
    QWidget* forward = FormTBack->childAt(45, 28);
    ASSERT_EQ(back, FormTBack->ImgRotateM);
    ASSERT_EQ(forward, FormTBack->ImgRotateP);

    QTest::mouseClick(back, Qt::LeftButton, {}, QPoint(6, 24));
    EXPECT_EQ(Form->gradiRot, 359);
    EXPECT_TRUE(View()->Grid);
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), Rotated(Unrotated, -1)));
    QTest::mouseClick(forward, Qt::LeftButton, {}, QPoint(40, 24));
    EXPECT_EQ(Form->gradiRot, 0);
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), Unrotated));

    // Two steps give the two-degree turn of the copy, not a turn of a turn.
    QTest::mouseClick(forward, Qt::LeftButton, {}, QPoint(40, 24));
    const uchar* buffer = View()->OrigBitmap().constBits();
    PressKey(Qt::Key_PageDown);
    EXPECT_EQ(Form->gradiRot, 2);
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), Rotated(Unrotated, 2)));
    EXPECT_FALSE(SamePixels(View()->OrigBitmap(), Rotated(Rotated(Unrotated, 1), 1)));
    // Later steps reuse the view's buffer instead of taking new memory.
    EXPECT_EQ(View()->OrigBitmap().constBits(), buffer);
    PressKey(Qt::Key_PageUp);
    PressKey(Qt::Key_PageUp);
    EXPECT_EQ(Form->gradiRot, 0);
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), Unrotated));
    // The copy itself was never touched.
    EXPECT_TRUE(SamePixels(Form->BmpBackBuffer, Unrotated));

    // The guide lines stay until the next press on the frame.
    EXPECT_TRUE(View()->Grid);
    const QPoint inFrame(Sel()->GetSelRect().Left + 20, Sel()->GetSelRect().Top + 20);
    AppTest::Press(Sel(), inFrame);
    EXPECT_FALSE(View()->Grid);
    AppTest::Release(Sel(), inFrame);
}

TEST_F(ToolbarTest, HoldingTheButtonShowsThePressedLookAndStepsOnlyOnAClick)
{
    EnterPhotoMode();
    QTest::mousePress(FormTBack->ImgRotateM, Qt::LeftButton, {}, QPoint(6, 24));
    EXPECT_TRUE(FormTBack->BufRotateM->isVisible());
    EXPECT_FALSE(FormTBack->BufRotateP->isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(Form->gradiRot, 0);
    // Let go off the picture: no click, no step.
    QTest::mouseRelease(FormTBack->ImgRotateM, Qt::LeftButton, {}, QPoint(6, 90));
    EXPECT_EQ(Form->gradiRot, 0);
    EXPECT_FALSE(FormTBack->BufRotateM->isVisible());
}

TEST_F(ToolbarTest, RightDragTurnsByTheRowsDraggedAndEndsAtTheLastMove)
{
    EnterPhotoMode();
    QWidget* p = FormTBack->ImgRotateP;
    AppTest::Press(p, QPoint(40, 24), Qt::RightButton);
    EXPECT_TRUE(FormTBack->BufRotateP->isVisible());
    EXPECT_TRUE(FormTBack->BufRotateM->isVisible());
    EXPECT_EQ(FormTBack->shftGrad, FormTBack->mapToGlobal(QPoint(0, 24)).y());

    AppTest::Move(p, QPoint(40, 23), Qt::RightButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(Form->gradiRot, 358);
    EXPECT_TRUE(View()->Grid);
    AppTest::Move(p, QPoint(40, 24 + 400), Qt::RightButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(Form->gradiRot, 400);
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), Rotated(Unrotated, 40)));

    // The release comes before the rotation of the last move has run.
    AppTest::Move(p, QPoint(40, 24 + 10), Qt::RightButton);
    AppTest::Release(p, QPoint(40, 24 + 10), Qt::RightButton);
    EXPECT_EQ(Form->gradiRot, 10);
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), Rotated(Unrotated, 10)));
    EXPECT_EQ(FormTBack->shftGrad, 0);
    EXPECT_FALSE(FormTBack->BufRotateP->isVisible());
    EXPECT_FALSE(FormTBack->BufRotateM->isVisible());
    EXPECT_FALSE(FormTBack->Dragging());
}

TEST_F(ToolbarTest, StepsAfterADragBeyondAFullTurnMoveOneDegree)
{
    EnterPhotoMode();
    FormTBack->TbRotateSChange(400);
    EXPECT_EQ(Form->gradiRot, 400);
    FormTBack->BtRotatePClick();
    EXPECT_EQ(Form->gradiRot, 41);
    FormTBack->TbRotateSChange(-400);
    EXPECT_EQ(Form->gradiRot, -41);
    FormTBack->BtRotateMClick();
    EXPECT_EQ(Form->gradiRot, 318);
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), Rotated(Unrotated, 318)));
}

TEST_F(ToolbarTest, MovesQueuedDuringARotationTurnOnceToTheNewestAngle)
{
    EnterPhotoMode();
    QWidget* p = FormTBack->ImgRotateP;
    AppTest::Press(p, QPoint(40, 24), Qt::RightButton);
    const QPoint global = p->mapToGlobal(QPoint(40, 24));
    for (int i = 1; i <= 30; ++i) {
        const QPoint local(40, 24 + i);
        QCoreApplication::postEvent(p, new QMouseEvent(QEvent::MouseMove, QPointF(local),
                                                       QPointF(global + QPoint(0, i)), Qt::NoButton,
                                                       Qt::RightButton, Qt::NoModifier));
    }
    // The moves first, then the rotation they queued.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(FormTBack->DragRotations(), 1);
    EXPECT_EQ(Form->gradiRot, 30);
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), Rotated(Unrotated, 30)));
    AppTest::Release(p, QPoint(40, 54), Qt::RightButton);
    EXPECT_EQ(FormTBack->DragRotations(), 1);
}

TEST_F(ToolbarTest, ANewPictureIsNeverTurnedByADragCutShort)
{
    EnterPhotoMode();
    QWidget* p = FormTBack->ImgRotateP;
    AppTest::Press(p, QPoint(40, 24), Qt::RightButton);
    AppTest::Move(p, QPoint(40, 40), Qt::RightButton);
    // A different picture arrives before the queued rotation runs.
    const QImage other = AppTest::MakeScannedForm(80);
    const QString path = AppTest::SavePicture(other, Dir.path(), QStringLiteral("altro.png"));
    Form->ChoosePictureFiles = [path] { return QStringList{path}; };
    Form->BtLoadImagesClick();
    QCoreApplication::processEvents();
    EXPECT_FALSE(FormTBack->isVisible());
    EXPECT_FALSE(View()->SourcePending());
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), other.convertToFormat(QImage::Format_BGR888)));

    // Even a direct call cannot put a copy of another picture on show.
    Form->BmpBackBuffer = Unrotated;
    FormTBack->TbRotateSChange(5);
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), other.convertToFormat(QImage::Format_BGR888)));
}

TEST_F(ToolbarTest, ABurstOfStepsEndsOnTheOneFinalTurnAndANewPictureDropsATurnUnderWay)
{
    EnterPhotoMode();
    // Clicks arriving faster than a page turns: each one cancels the turn
    // before it, and the newest angle is what the picture becomes.
    const auto postClick = [](QWidget* w) {
        const QPoint at(20, 24);
        const QPoint global = w->mapToGlobal(at);
        for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(
                w, new QMouseEvent(t, QPointF(at), QPointF(global), Qt::LeftButton,
                                   t == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier));
    };
    for (int i = 0; i < 12; ++i)
        postClick(FormTBack->ImgRotateP);
    for (int i = 0; i < 3; ++i)
        postClick(FormTBack->ImgRotateM);
    QCoreApplication::processEvents();
    EXPECT_EQ(Form->gradiRot, 9);
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), Rotated(Unrotated, 9)));
    const QImage shown = View()->CanvasBitmap().copy();
    View()->StretchImage();
    EXPECT_TRUE(SamePixels(View()->CanvasBitmap(), shown));

    // A new picture while a turn is under way: the turn never reaches it.
    QTest::mouseClick(FormTBack->ImgRotateP, Qt::LeftButton, {}, QPoint(40, 24));
    const QImage other = AppTest::MakeScannedForm(80);
    const QString path = AppTest::SavePicture(other, Dir.path(), QStringLiteral("altro.png"));
    Form->ChoosePictureFiles = [path] { return QStringList{path}; };
    Form->BtLoadImagesClick();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(View()->SourcePending());
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), other.convertToFormat(QImage::Format_BGR888)));
}

TEST_F(ToolbarTest, ADragShowsTheFinalPixelsAndACropRightAfterTheReleaseCutsTheWholeTurn)
{
    EnterPhotoMode();
    QWidget* p = FormTBack->ImgRotateP;
    AppTest::Press(p, QPoint(40, 24), Qt::RightButton);
    AppTest::Move(p, QPoint(40, 24 + 30), Qt::RightButton);
    QCoreApplication::processEvents();
    // Only the part on show was turned while the drag goes on.
    EXPECT_TRUE(View()->SourcePending());
    const QImage during = View()->CanvasBitmap().copy();
    AppTest::Release(p, QPoint(40, 24 + 30), Qt::RightButton);

    // The crop comes before the worker is done with the whole page.
    Form->BtMakeCropClick();
    const QImage turned = Rotated(Unrotated, 30);
    TRect area, onView;
    ASSERT_TRUE(View()->GetSelection(area, onView));
    EXPECT_TRUE(SamePixels(Form->BmpFotoBuffer1, CropAndResizeFotoPixels(CopyArea(turned, area))));
    EXPECT_FALSE(SamePixels(Form->BmpFotoBuffer1, CropAndResizeFotoPixels(CopyArea(Unrotated, area))));
    EXPECT_TRUE(SamePixels(View()->OrigBitmap(), turned));
    // What the drag showed is what the whole turn shows.
    QCoreApplication::processEvents();
    View()->StretchImage();
    EXPECT_TRUE(SamePixels(View()->CanvasBitmap(), during));
}

TEST_F(ToolbarTest, ZoomButtonStepsWithinItsRangeAndResetsOutsideTheStepZone)
{
    EnterPhotoMode();
    // Left in the step zone: up by 0.25 until 2.
    for (double expected : {1.25, 1.5, 1.75, 2.0, 2.0}) {
        ClickLens(Qt::LeftButton, 28, 12);
        EXPECT_EQ(View()->StretchFactor(), expected);
    }
    EXPECT_EQ(ShownLens(), QStringLiteral("ImgLensP"));
    EXPECT_TRUE(Form->Status->ViewText().startsWith(QStringLiteral("Zoom 200% ·"))) << Form->Status->ViewText().toStdString();
    // Right in the step zone: down by 0.25 until 0.25.
    for (double expected : {1.75, 1.5, 1.25, 1.0, 0.75, 0.5, 0.25, 0.25}) {
        ClickLens(Qt::RightButton, 28, 12);
        EXPECT_EQ(View()->StretchFactor(), expected);
    }
    EXPECT_EQ(ShownLens(), QStringLiteral("ImgLensM"));

    // The zone's edges belong to the reset: the pressed one-to-one lens shows
    // during the pause, then the one-to-one lens.
    for (QPoint at : {QPoint(20, 12), QPoint(28, 26)}) {
        View()->SetStretchFactor(0.5);
        QString during;
        QTimer::singleShot(0, [&] { during = ShownLens(); });
        ClickLens(Qt::RightButton, at.x(), at.y());
        EXPECT_EQ(View()->StretchFactor(), 1.0) << at.x() << "," << at.y();
        EXPECT_EQ(during, QStringLiteral("ImgLensY"));
        EXPECT_EQ(ShownLens(), QStringLiteral("ImgLensX"));
    }

    // From fit mode a left step gives 0.25; a right step nothing.
    View()->SetStretchFactor(0);
    ClickLens(Qt::RightButton, 28, 12);
    EXPECT_EQ(View()->StretchFactor(), 0.0);
    ClickLens(Qt::LeftButton, 28, 12);
    EXPECT_EQ(View()->StretchFactor(), 0.25);
    // A value off the quarter grid keeps its fraction; the bound tests the value before the step.
    View()->SetStretchFactor(1.9);
    ClickLens(Qt::LeftButton, 28, 12);
    EXPECT_FLOAT_EQ(static_cast<float>(View()->StretchFactor()), 2.15f);
    // The middle button changes nothing.
    View()->SetStretchFactor(1.0);
    ClickLens(Qt::MiddleButton, 28, 12);
    EXPECT_EQ(View()->StretchFactor(), 1.0);
}

TEST_F(ToolbarTest, NumericPadKeysZoomOnlyWhileTheToolbarIsUp)
{
    EnterPhotoMode();
    PressKey(Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_EQ(View()->StretchFactor(), 1.25);
    PressKey(Qt::Key_Minus, Qt::KeypadModifier);
    PressKey(Qt::Key_Minus, Qt::KeypadModifier);
    EXPECT_EQ(View()->StretchFactor(), 0.75);
    PressKey(Qt::Key_Asterisk, Qt::KeypadModifier);
    EXPECT_EQ(View()->StretchFactor(), 1.0);

    FormTBack->hide();
    PressKey(Qt::Key_Plus, Qt::KeypadModifier);
    PressKey(Qt::Key_PageDown);
    EXPECT_EQ(View()->StretchFactor(), 1.0);
    EXPECT_EQ(Form->gradiRot, 0);
}

TEST_F(ToolbarTest, IndicatorFollowsTheZoom)
{
    EnterPhotoMode();
    const struct {
        double zoom;
        const char* lens;
    } cases[] = {{0, "ImgLensN"},     {0.2, "ImgLensN"},  {0.25, "ImgLensM"}, {0.5, "ImgLensM"},
                 {1, "ImgLensX"},     {1.5, "ImgLensP"},  {2, "ImgLensP"},    {2.25, "ImgLensN"}};
    for (const auto& c : cases) {
        View()->SetStretchFactor(c.zoom);
        FormTBack->ImgLensUpdate();
        EXPECT_EQ(ShownLens(), QString::fromLatin1(c.lens)) << c.zoom;
    }
}

TEST_F(ToolbarTest, OnlyThePicturesTakeTheMouseAndTheLensStaysAtTheRightEnd)
{
    EnterPhotoMode();
    const int w = FormTBack->width();
    ASSERT_GT(w, 200);
    for (TTbPicture* lens : {FormTBack->ImgLensN, FormTBack->ImgLensP, FormTBack->ImgLensM, FormTBack->ImgLensY})
        EXPECT_EQ(lens->geometry(), QRect(w - 51, 4, 48, 48)) << lens->objectName().toStdString();
    const QRegion mask = FormTBack->mask();
    EXPECT_TRUE(mask.contains(QPoint(10, 28)));
    EXPECT_TRUE(mask.contains(QPoint(45, 28)));
    EXPECT_TRUE(mask.contains(QPoint(w - 27, 28)));
    EXPECT_FALSE(mask.contains(QPoint(w / 2, 28)));
    // Nor do the lens's transparent corners.
    EXPECT_FALSE(mask.contains(QPoint(w - 51 + 45, 6)));
    EXPECT_FALSE(mask.contains(QPoint(2, 2)));
}
