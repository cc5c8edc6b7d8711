// The image view as a widget: rendering, zoom, panning, coordinates,
// trimming, mouse handling, magnifier and guide lines.

#include "ViewTestUtil.h"
#include "view/ExCopyRect.h"
#include "view/KeyState.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

TEST(ZSImage, WorkedExampleRendersPictureBorderAndBackground)
{
    auto view = MakeView(600, 500);
    view->SetImage(FlatPicture(1000, 800, 10, 200, 30));
    EXPECT_EQ(view->OrigBitmapRect(), TRect(0, 0, 999, 799));
    EXPECT_EQ(view->CanvasBitmapRect(), TRect(20, 26, 579, 473));
    const QImage& b = view->CanvasBitmap();
    ASSERT_EQ(b.size(), QSize(600, 500));
    const Bgr border{0x80, 0x80, 0x80}, bkg{0x10, 0x20, 0x30}, pic{10, 200, 30};
    EXPECT_EQ(PixelAt(b, 19, 100), border);
    EXPECT_EQ(PixelAt(b, 580, 100), border);
    EXPECT_EQ(PixelAt(b, 300, 25), border);
    EXPECT_EQ(PixelAt(b, 300, 474), border);
    EXPECT_EQ(PixelAt(b, 18, 100), bkg);
    EXPECT_EQ(PixelAt(b, 581, 474), bkg);
    EXPECT_EQ(PixelAt(b, 20, 26), pic);
    EXPECT_EQ(PixelAt(b, 579, 473), pic);
    EXPECT_DOUBLE_EQ(view->GetScale(), 0.56);
    // What the widget shows is the back buffer, nothing resampled on the way.
    EXPECT_EQ(view->grab().toImage().convertToFormat(QImage::Format_BGR888), b);
}

TEST(ZSImage, StretchFactorChangesRenderOnlyOnNewValues)
{
    auto view = MakeView(400, 300);
    view->SetImage(CoordPicture(1000, 800));
    const qint64 key = view->CanvasBitmap().cacheKey();
    view->SetStretchFactor(0);
    EXPECT_EQ(view->CanvasBitmap().cacheKey(), key);
    view->SetStretchFactor(1);
    EXPECT_NE(view->CanvasBitmap().cacheKey(), key);
    EXPECT_EQ(view->GetScale(), 1.0);
    EXPECT_EQ(view->OrigBitmapRect(), TRect(300, 250, 699, 549));
    view->SetStretchFactor(-0.5);
    EXPECT_EQ(view->StretchFactor(), 0.0);
    EXPECT_EQ(view->OrigBitmapRect(), TRect(0, 0, 999, 799));
}

TEST(ZSImage, ZoomOneMapsViewColumnsOneToOne)
{
    auto view = MakeView(400, 300);
    view->SetImage(CoordPicture(1000, 800));
    view->SetStretchFactor(1);
    view->StretchImage(TPoint(900, 100)); // near the top-right corner: spans clamp
    EXPECT_EQ(view->OrigBitmapRect(), TRect(600, 0, 999, 299));
    EXPECT_EQ(view->CanvasBitmapRect(), TRect(0, 0, 399, 299));
    QTest::mouseMove(view.get(), QPoint(37, 55));
    EXPECT_EQ(view->GetCoordinates(), TPoint(637, 55));
    EXPECT_EQ(PixelAt(view->CanvasBitmap(), 37, 55), PixelAt(view->OrigBitmap(), 637, 55));
    view->StretchImage(kCenterMarker);
    EXPECT_EQ(view->OrigBitmapRect(), TRect(300, 250, 699, 549));
}

TEST(ZSImage, FitReRenderFromTheReducedCopyMatchesTheFullPicture)
{
    auto view = MakeView(500, 400);
    const QImage pic = CoordPicture(4000, 3000);
    view->SetImage(pic);
    const TRect cr = view->CanvasBitmapRect();
    QImage direct(500, 400, QImage::Format_BGR888);
    direct.fill(Qt::black);
    ASSERT_TRUE(ExCopyRect(direct, TRect(cr.Left, cr.Top, cr.Right + 1, cr.Bottom + 1), pic, TRect(0, 0, 4000, 3000)));
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1)
            view->StretchImage(); // a re-render of the picture already shown
        int worst = 0;
        for (int y = cr.Top; y <= cr.Bottom; y += 7)
            for (int x = cr.Left; x <= cr.Right; x += 5) {
                const Bgr a = PixelAt(view->CanvasBitmap(), x, y), b = PixelAt(direct, x, y);
                // The blue and green ramps wrap every 256 pixels; compare away from the wraps.
                if (a.g > 8 && a.g < 247 && b.g > 8 && b.g < 247)
                    worst = std::max(worst, std::abs(a.g - b.g));
            }
        EXPECT_LE(worst, 6) << "pass " << pass;
    }
}

TEST(ZSImage, SelectionInPicturePixelsAtTheEdges)
{
    auto view = MakeView(600, 500);
    view->SetImage(CoordPicture(1000, 800));
    view->SetStretchFactor(1);
    view->StretchImage(TPoint(999, 799));
    ASSERT_EQ(view->OrigBitmapRect(), TRect(400, 300, 999, 799));
    TRect o(1, 1, 1, 1), s(2, 2, 2, 2);
    EXPECT_FALSE(view->GetSelection(o, s)); // no frame: untouched
    EXPECT_EQ(o, TRect(1, 1, 1, 1));
    view->Selection()->SetSelRect(TRect(599, 499, 100, 100)); // unnormalised as a drag leaves it
    ASSERT_TRUE(view->GetSelection(o, s));
    EXPECT_EQ(o, TRect(500, 400, 1000, 800));
    view->SetStretchFactor(0);
    view->Selection()->SetSelRect(TRect(0, 0, 15, 20)); // in the margin
    EXPECT_FALSE(view->GetSelection(o, s));
}

TEST(ZSImage, PanStepsClampAtThePictureEdges)
{
    auto view = MakeView(400, 300);
    view->SetImage(CoordPicture(1000, 300));
    view->SetStretchFactor(1);
    view->StretchImage(TPoint(999, 150));
    ASSERT_EQ(view->OrigBitmapRect(), TRect(600, 0, 999, 299));
    // Leftward drag at the right edge without vertical room: nothing moves.
    view->OrigMousePoint = TPoint(200, 100);
    const qint64 key = view->CanvasBitmap().cacheKey();
    view->DoScroll(150, 100);
    EXPECT_EQ(view->OrigBitmapRect(), TRect(600, 0, 999, 299));
    EXPECT_EQ(view->CanvasBitmap().cacheKey(), key);
    EXPECT_EQ(view->OrigMousePoint, TPoint(150, 100));
    // Rightward: the picture follows the mouse, one picture pixel per view pixel at zoom 1.
    view->DoScroll(180, 100);
    EXPECT_EQ(view->OrigBitmapRect(), TRect(570, 0, 969, 299));
    // A position outside the view is ignored, the anchor stays.
    view->DoScroll(400, 100);
    EXPECT_EQ(view->OrigMousePoint, TPoint(180, 100));
    EXPECT_EQ(view->OrigBitmapRect(), TRect(570, 0, 969, 299));
}

TEST(ZSImage, PanKeyWithLeftDragScrollsUntilReleased)
{
    auto view = MakeView(400, 300);
    view->SetImage(CoordPicture(1000, 800));
    view->SetStretchFactor(1);
    QTest::keyPress(view.get(), Qt::Key_Space);
    EXPECT_TRUE(KeyState::IsKeyHeld(VK_SPACE));
    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(200, 150));
    QTest::mouseMove(view.get(), QPoint(220, 140));
    EXPECT_EQ(view->OrigBitmapRect(), TRect(280, 260, 679, 559));
    QTest::keyRelease(view.get(), Qt::Key_Space);
    EXPECT_FALSE(KeyState::IsKeyHeld(VK_SPACE));
    QTest::mouseMove(view.get(), QPoint(260, 140));
    EXPECT_EQ(view->OrigBitmapRect(), TRect(280, 260, 679, 559));
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(260, 140));
    // A release lost while another application had the focus does not leave the key stuck.
    QTest::keyPress(view.get(), Qt::Key_Space);
    QEvent away(QEvent::ApplicationDeactivate);
    QCoreApplication::sendEvent(qApp, &away);
    EXPECT_FALSE(KeyState::IsKeyHeld(VK_SPACE));
}

TEST(ZSImage, ClickRaisesOnClickWithTheCoordinatesOfThePress)
{
    auto view = MakeView(600, 500);
    view->SetImage(CoordPicture(1000, 800));
    TPoint seen(-1, -1);
    int clicks = 0;
    view->OnClick = [&](QObject* sender) {
        EXPECT_EQ(sender, view.get());
        ++clicks;
        seen = view->GetCoordinates();
    };
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(300, 100));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(seen, TPoint(500, 132));
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(5, 5)); // in the margin
    EXPECT_EQ(seen, TPoint(0, 0));
    QTest::mouseClick(view.get(), Qt::RightButton, {}, QPoint(300, 100));
    EXPECT_EQ(clicks, 2);
}

TEST(ZSImage, TrimmingKeepsTheSelectedPixels)
{
    auto view = MakeView(600, 500);
    const QImage pic = CoordPicture(1000, 800);
    view->SetImage(pic);
    view->SetStretchFactor(1);
    view->StretchImage(TPoint(0, 0));
    view->Selection()->SetSelRect(TRect(10, 20, 109, 69));
    view->ResizeImage();
    ASSERT_EQ(view->OrigBitmap().size(), QSize(100, 50));
    EXPECT_EQ(PixelAt(view->OrigBitmap(), 0, 0), PixelAt(pic, 10, 20));
    EXPECT_EQ(PixelAt(view->OrigBitmap(), 99, 49), PixelAt(pic, 109, 69));
    // Ellipse: the corners keep the new picture's black, the middle comes from the source.
    view->SetImage(pic);
    view->StretchImage(TPoint(0, 0));
    view->Selection()->SetSelectionForm(sfEllipse);
    view->Selection()->SetSelRect(TRect(0, 0, 39, 19));
    view->ResizeImage();
    ASSERT_EQ(view->OrigBitmap().size(), QSize(40, 20));
    EXPECT_EQ(PixelAt(view->OrigBitmap(), 0, 0), (Bgr{0, 0, 0}));
    EXPECT_EQ(PixelAt(view->OrigBitmap(), 20, 10), PixelAt(pic, 20, 10));
    // A frame thinner than a picture pixel leaves the picture alone.
    view->Selection()->SetSelectionForm(sfRectangle);
    view->Selection()->SetSelRect(TRect(5, 5, 5, 30));
    view->ResizeImage();
    EXPECT_EQ(view->OrigBitmap().size(), QSize(40, 20));
}

TEST(ZSImage, ClearAndEmptyPicturesLeaveAnEmptyView)
{
    auto view = MakeView(300, 200);
    view->SetImage(CoordPicture(100, 100));
    view->SetStretchFactor(2);
    const TRect o = view->OrigBitmapRect();
    int changes = 0;
    view->OnSelectionChange = [&](QObject*) { ++changes; };
    view->Clear();
    EXPECT_TRUE(view->OrigBitmap().isNull());
    EXPECT_TRUE(view->ScreenImage().isNull());
    EXPECT_EQ(view->OrigBitmapRect(), o);
    EXPECT_EQ(view->StretchFactor(), 2.0);
    EXPECT_EQ(changes, 1);
    // Stretching, panning and trimming an empty view do nothing.
    view->StretchImage();
    view->DoScroll(10, 10);
    view->ResizeImage();
    EXPECT_TRUE(view->CanvasBitmap().isNull());
    const QImage shown = view->grab().toImage();
    EXPECT_EQ(PixelAt(shown, 150, 100), (Bgr{0x10, 0x20, 0x30}));
    view->SetImage(CoordPicture(100, 100));
    view->SetImage(QImage());
    EXPECT_TRUE(view->OrigBitmap().isNull());
    EXPECT_TRUE(view->CanvasBitmap().isNull());
}

TEST(ZSImage, ExtremeSizesDoNotBreakTheView)
{
    auto view = MakeView(300, 200);
    view->SetImage(CoordPicture(1, 1));
    EXPECT_EQ(view->CanvasBitmapRect(), TRect(149, 99, 149, 99));
    view->SetEnlarge(true);
    view->StretchImage();
    EXPECT_EQ(view->CanvasBitmapRect(), TRect(70, 20, 229, 179)); // factor 160
    view->SetStretchFactor(1e9);
    EXPECT_EQ(WidthOfRect(view->OrigBitmapRect()), 1);
    view->resize(0, 0);
    view->SetStretchFactor(0);
    view->SetImage(CoordPicture(50, 50));
    TRect o, s;
    view->Selection()->SetSelRect(TRect(0, 0, 10, 10));
    view->GetSelection(o, s);
    view->DoMagnify(0, 0);
    view->resize(30, 30); // smaller than its margins
    QTest::qWait(30);
    EXPECT_EQ(view->CanvasBitmap().size(), QSize(30, 30));
}

TEST(ZSImage, SizeChangesAreCoalescedIntoOneRendering)
{
    auto view = MakeView(400, 300);
    view->SetImage(CoordPicture(1000, 800));
    view->resize(500, 300);
    view->resize(640, 480);
    EXPECT_EQ(view->CanvasBitmap().size(), QSize(400, 300)); // nothing re-rendered yet
    EXPECT_EQ(view->Selection()->size(), QSize(640, 480));  // the overlay follows at once
    QTRY_COMPARE(view->CanvasBitmap().size(), QSize(640, 480));
    EXPECT_EQ(view->CanvasBitmapRect(), TRect(45, 20, 594, 459)); // factor 0.55
}

TEST(ZSImage, GuideLinesGoIntoTheBackBuffer)
{
    auto view = MakeView(300, 400);
    view->SetImage(FlatPicture(300, 400, 0, 0, 0));
    view->SetStretchFactor(1);
    view->Grid = true;
    view->Paint();
    const QImage& b = view->CanvasBitmap();
    const Bgr green{0x00, 0x80, 0x00}, black{0, 0, 0};
    for (int row : {70, 83, 382}) {
        EXPECT_EQ(PixelAt(b, 30, row), green) << row;
        EXPECT_EQ(PixelAt(b, 269, row), green) << row;
        EXPECT_EQ(PixelAt(b, 270, row), black) << row;
    }
    EXPECT_EQ(PixelAt(b, 100, 71), black);
    EXPECT_EQ(PixelAt(b, 29, 70), black);
    view->Grid = false;
    view->StretchImage(); // re-rendering removes them
    EXPECT_EQ(PixelAt(view->CanvasBitmap(), 100, 70), black);
}

TEST(ZSImage, WholeViewMagnifierKeepsThePointUnderThePointer)
{
    auto view = MakeView(400, 300);
    const QImage pic = CoordPicture(1000, 800);
    view->SetImage(pic);
    view->SetStretchFactor(1);
    view->SetMagnifierActivated(true);
    view->SetMagnifierFactor(2);
    view->SetMagnifierCursor(crCross);
    view->SetMagnifierSize(0);
    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(100, 50));
    EXPECT_EQ(view->CurrentCursor(), crNone);
    // Picture point (400, 300) is under (100, 50); at 2:1 its neighbour is two view pixels on.
    EXPECT_EQ(PixelAt(view->ScreenImage(), 100, 50), PixelAt(pic, 400, 300));
    EXPECT_EQ(PixelAt(view->ScreenImage(), 102, 50), PixelAt(pic, 401, 300));
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(100, 50));
    EXPECT_EQ(view->ScreenImage().cacheKey(), view->CanvasBitmap().cacheKey());
    EXPECT_EQ(view->CurrentCursor(), crCross);
}

TEST(ZSImage, LensChangesOnlyTheCircleAroundThePointer)
{
    auto view = MakeView(400, 300);
    view->SetImage(CoordPicture(1000, 800));
    view->SetStretchFactor(1);
    view->SetMagnifierActivated(true);
    view->SetMagnifierFactor(3);
    view->SetMagnifierSize(100);
    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(200, 150));
    const QImage lens = view->ScreenImage();
    const QImage& back = view->CanvasBitmap();
    EXPECT_EQ(PixelAt(lens, 200 + 60, 150), PixelAt(back, 260, 150));     // outside the radius of 50
    // Inside, 3:1 about picture point (500, 400): view column 170 shows about column 490.
    const Bgr in = PixelAt(lens, 170, 150), want = PixelAt(view->OrigBitmap(), 490, 400);
    EXPECT_LE(std::abs(in.b - want.b), 1);
    EXPECT_LE(std::abs(in.g - want.g), 1);
    EXPECT_EQ(PixelAt(lens, 250, 150), (Bgr{0x80, 0x80, 0x80}));          // the outline
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(200, 150));
}
