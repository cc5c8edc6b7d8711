// The selection overlay driven by real mouse and key events (offscreen).

#include "ViewTestUtil.h"
#include "view/ExCopyRect.h"
#include "view/KeyState.h"
#include "view/ZSImage_Geometry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Overlay {
    std::unique_ptr<TZSImage> view;
    TzsiSelection* sel = nullptr;
    std::vector<std::string> events;
    TPoint down{-1, -1};
    TMouseButton upButton = mbMiddle;
};

// A 600 x 500 view at zoom 1 with the overlay on; every event is logged.
std::unique_ptr<Overlay> MakeOverlay(int picW, int picH)
{
    auto o = std::make_unique<Overlay>();
    o->view = MakeView(600, 500);
    o->view->SetImage(CoordPicture(picW, picH));
    o->view->SetStretchFactor(1);
    o->sel = o->view->Selection();
    o->sel->FixFotoW = 259;
    o->sel->FixFotoH = 314;
    o->sel->FixFirmaW = 235;
    o->sel->FixFirmaH = 46;
    o->sel->SetActivated(true);
    Overlay* raw = o.get();
    o->view->OnSelectionChange = [raw](QObject* sender) {
        EXPECT_EQ(sender, raw->sel);
        raw->events.push_back("change");
    };
    o->view->OnSelectionMouseMove = [raw](TShiftState, int32_t, int32_t) { raw->events.push_back("move"); };
    o->view->OnSelectionMouseDown = [raw](TMouseButton, TShiftState, int32_t x, int32_t y) {
        raw->events.push_back("down");
        raw->down = TPoint(x, y);
    };
    o->view->OnSelectionMouseUp = [raw](TMouseButton b, TShiftState, int32_t, int32_t) {
        raw->events.push_back("up");
        raw->upButton = b;
    };
    return o;
}

int Count(const std::vector<std::string>& v, const char* what) { return static_cast<int>(std::count(v.begin(), v.end(), what)); }

void Drag(TzsiSelection* sel, QPoint from, std::initializer_list<QPoint> path)
{
    QTest::mouseMove(sel, from);
    QTest::mousePress(sel, Qt::LeftButton, {}, from);
    QPoint last = from;
    for (QPoint p : path) {
        QTest::mouseMove(sel, p);
        last = p;
    }
    QTest::mouseRelease(sel, Qt::LeftButton, {}, last);
}

// Photo frames: the height is the width divided by 259/314, cut toward zero.
int PhotoHeightFor(int width) { return static_cast<int>(std::abs(width) / (259.0L / 314.0L)); }

} // namespace

TEST(Selection, DrawingPastThePictureClampsWithoutScrolling)
{
    auto o = MakeOverlay(300, 200); // shown at (150, 150)-(449, 349)
    const TRect shown = o->view->OrigBitmapRect();
    Drag(o->sel, QPoint(200, 200), {QPoint(300, 300), QPoint(520, 420)});
    EXPECT_EQ(o->sel->GetSelRect(), TRect(200, 200, 449, 349));
    EXPECT_FALSE(o->sel->EdgeScrolling());
    EXPECT_EQ(o->view->OrigBitmapRect(), shown);
    EXPECT_TRUE(o->sel->SelectionExist());
}

TEST(Selection, MovingAgainstTheRightEdgeScrollsWhileHeld)
{
    auto o = MakeOverlay(2000, 800);
    ASSERT_EQ(o->view->OrigBitmapRect(), TRect(700, 150, 1299, 649));
    o->sel->SetSelRect(TRect(400, 100, 500, 200));
    QTest::mouseMove(o->sel, QPoint(450, 150));
    ASSERT_EQ(o->sel->SelectionState, ssMoving);
    QTest::mousePress(o->sel, Qt::LeftButton, {}, QPoint(450, 150));
    QTest::mouseMove(o->sel, QPoint(560, 150));
    // The frame stops at the edge with its size, and the picture moves 10 pixels at once.
    EXPECT_EQ(o->sel->GetSelRect(), TRect(499, 100, 599, 200));
    EXPECT_EQ(o->view->OrigBitmapRect().Left, 710);
    EXPECT_TRUE(o->sel->EdgeScrolling());
    QTRY_VERIFY(o->view->OrigBitmapRect().Left >= 740);
    EXPECT_EQ((o->view->OrigBitmapRect().Left - 700) % 10, 0);
    QTest::mouseRelease(o->sel, Qt::LeftButton, {}, QPoint(560, 150));
    EXPECT_FALSE(o->sel->EdgeScrolling());
    const TRect stopped = o->view->OrigBitmapRect();
    QTest::qWait(120);
    EXPECT_EQ(o->view->OrigBitmapRect(), stopped);
    EXPECT_EQ(o->sel->GetSelRect(), TRect(499, 100, 599, 200));
}

TEST(Selection, PressAndReleaseWithoutMovingMakesNoFrame)
{
    auto o = MakeOverlay(1000, 800);
    QTest::mouseClick(o->sel, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_FALSE(o->sel->SelectionExist());
    EXPECT_EQ(Count(o->events, "change"), 0);
    EXPECT_EQ(Count(o->events, "down"), 1);
    EXPECT_EQ(Count(o->events, "up"), 1);
}

TEST(Selection, MinimumPhotoFrameNearTheCornerStartsCentred)
{
    auto o = MakeOverlay(1000, 800); // CR = (0, 0, 599, 499)
    o->sel->SelectionType = stResizeableMin;
    o->sel->SelectionRatio = srFoto;
    QTest::mousePress(o->sel, Qt::LeftButton, {}, QPoint(550, 450));
    // 599 div 2 - 259 div 2 = 170, 499 div 2 - 314 div 2 = 92.
    EXPECT_EQ(o->down, TPoint(170, 92));
    EXPECT_EQ(o->sel->GetSelRect(), TRect(170, 92, 429, 406));
    QTest::mouseRelease(o->sel, Qt::LeftButton, {}, QPoint(550, 450));
    EXPECT_EQ(o->sel->GetSelRect(), TRect(170, 92, 429, 406));
    // The signature minimum needs no room check.
    auto f = MakeOverlay(1000, 800);
    f->sel->SelectionType = stResizeableMin;
    f->sel->SelectionRatio = srFirma;
    QTest::mouseClick(f->sel, Qt::LeftButton, {}, QPoint(100, 60));
    EXPECT_EQ(f->sel->GetSelRect(), TRect(100, 60, 335, 106));
    EXPECT_EQ(f->down, TPoint(100, 60));
}

TEST(Selection, PhotoFrameKeepsItsRatioFromEveryCorner)
{
    auto o = MakeOverlay(1000, 800);
    o->sel->SelectionRatio = srFoto;
    // Drawing a new frame: the height follows the width once the pointer rests.
    Drag(o->sel, QPoint(100, 50), {QPoint(180, 100), QPoint(250, 140), QPoint(310, 160)});
    TRect r = o->sel->GetSelRect();
    EXPECT_EQ(r.Bottom - r.Top, PhotoHeightFor(r.Right - r.Left)) << r.Left << "," << r.Top << "," << r.Right;
    const QPoint corners[] = {QPoint(0, 0), QPoint(1, 0), QPoint(1, 1), QPoint(0, 1)};
    for (const QPoint c : corners) {
        o->sel->SetSelRect(TRect(200, 100, 459, 414));
        const QPoint grip(c.x() ? 459 : 200, c.y() ? 414 : 100);
        const int dx = c.x() ? 23 : -17;
        Drag(o->sel, grip, {grip + QPoint(dx / 2, 5), grip + QPoint(dx, 9)});
        r = o->sel->GetSelRect();
        EXPECT_EQ(r.Right - r.Left, 259 + std::abs(dx)) << c.x() << c.y();
        EXPECT_EQ(r.Bottom - r.Top, PhotoHeightFor(r.Right - r.Left)) << c.x() << c.y();
        // The corner opposite the grip stays where it was.
        EXPECT_EQ(c.x() ? r.Left : r.Right, c.x() ? 200 : 459);
        EXPECT_EQ(c.y() ? r.Top : r.Bottom, c.y() ? 100 : 414);
    }
    // Only the four corner grips exist: an edge drags the corner opposite the first corner.
    o->sel->SetSelRect(TRect(200, 100, 459, 414));
    QTest::mouseMove(o->sel, QPoint(459, 250));
    EXPECT_EQ(o->sel->SelectionState, ssDrawing);
}

TEST(Selection, RightButtonPansAndNeverTouchesTheFrame)
{
    auto o = MakeOverlay(2000, 1600);
    o->sel->SetSelRect(TRect(100, 100, 200, 200));
    o->events.clear();
    const TRect before = o->view->OrigBitmapRect();
    QTest::mousePress(o->sel, Qt::RightButton, {}, QPoint(400, 400));
    EXPECT_EQ(Count(o->events, "down"), 0);
    EXPECT_EQ(o->sel->CurrentCursor(), o->sel->CursorOnScrollUp);
    QTest::mouseMove(o->sel, QPoint(380, 390));
    EXPECT_EQ(o->view->OrigBitmapRect().Left, before.Left + 20);
    EXPECT_EQ(o->view->OrigBitmapRect().Top, before.Top + 10);
    QTest::mouseRelease(o->sel, Qt::RightButton, {}, QPoint(380, 390));
    EXPECT_EQ(o->sel->GetSelRect(), TRect(100, 100, 200, 200));
    EXPECT_EQ(Count(o->events, "change"), 0);
    EXPECT_EQ(Count(o->events, "up"), 1);
    EXPECT_EQ(o->upButton, mbRight);
}

TEST(Selection, EventsComeInTheOrderTheMainWindowRelies)
{
    auto o = MakeOverlay(1000, 800);
    bool normalisedAtUp = false;
    o->view->OnSelectionMouseUp = [&](TMouseButton, TShiftState, int32_t, int32_t) {
        // The top-left grip answers at the normalised top-left corner only if the
        // stored frame itself was normalised before the event.
        normalisedAtUp = o->sel->PosOnSelRect(100, 80) == 1;
    };
    QTest::mousePress(o->sel, Qt::LeftButton, {}, QPoint(300, 250));
    o->events.clear();
    QTest::mouseMove(o->sel, QPoint(100, 80));
    EXPECT_EQ(o->events, (std::vector<std::string>{"change", "move"}));
    QTest::mouseRelease(o->sel, Qt::LeftButton, {}, QPoint(100, 80));
    EXPECT_TRUE(normalisedAtUp);
    EXPECT_EQ(o->sel->GetSelRect(), TRect(100, 80, 300, 250));
}

TEST(Selection, HoverStatesAndCursors)
{
    auto o = MakeOverlay(1000, 800);
    o->sel->CursorOnScrollUp = 4;
    o->sel->CursorOnScrollDown = 5;
    Drag(o->sel, QPoint(100, 100), {QPoint(300, 250)});
    EXPECT_EQ(o->sel->SelectionState, ssDrawing);
    EXPECT_FALSE(o->sel->SelectionAvailable());
    QTest::mouseMove(o->sel, QPoint(200, 170));
    EXPECT_TRUE(o->sel->SelectionAvailable());
    EXPECT_EQ(o->sel->CurrentCursor(), crSizeAll);
    QTest::mouseMove(o->sel, QPoint(301, 251));
    EXPECT_EQ(o->sel->CurrentCursor(), crSizeNWSE);
    QTest::mouseMove(o->sel, QPoint(200, 250));
    EXPECT_EQ(o->sel->CurrentCursor(), crSizeNS);
    QTest::mouseMove(o->sel, QPoint(500, 400));
    EXPECT_EQ(o->sel->CurrentCursor(), crCross);
    // With the pan key held: the inside shows the grabbing hand, elsewhere the open hand.
    QTest::keyPress(o->sel, Qt::Key_Space);
    QTest::mouseMove(o->sel, QPoint(200, 170));
    EXPECT_EQ(o->sel->CurrentCursor(), 5);
    QTest::mouseMove(o->sel, QPoint(500, 400));
    EXPECT_EQ(o->sel->CurrentCursor(), 4);
    QTest::keyRelease(o->sel, Qt::Key_Space);
    QTest::mouseMove(o->sel, QPoint(500, 401));
    EXPECT_EQ(o->sel->CurrentCursor(), crCross);
}

TEST(Selection, FrameTogglesLikeAnXorDrawing)
{
    auto o = MakeOverlay(1000, 800);
    o->sel->SetSelRect(TRect(100, 100, 111, 140)); // 11 wide: solid
    const QImage plain = o->view->CanvasBitmap().convertToFormat(QImage::Format_RGB32);
    ASSERT_TRUE(o->sel->FrameDrawed());
    const QImage drawn = o->sel->ScreenImage();
    // Along the left edge between the grips every pixel is inverted by the grey pen.
    for (int y = 103; y <= 116; ++y)
        EXPECT_EQ(drawn.pixel(100, y) ^ plain.pixel(100, y), 0x808080u) << y;
    EXPECT_EQ(drawn.pixel(105, 110), plain.pixel(105, 110));
    o->sel->DrawSelFrame();
    EXPECT_FALSE(o->sel->FrameDrawed());
    EXPECT_EQ(o->sel->ScreenImage(), plain);
    // 12 x 12 and more: dotted, every second pixel along the outline.
    o->sel->SetSelRect(TRect(200, 100, 240, 140));
    const QImage dotted = o->sel->ScreenImage();
    EXPECT_NE(dotted.pixel(210, 100), plain.pixel(210, 100));
    EXPECT_EQ(dotted.pixel(211, 100), plain.pixel(211, 100));
    int changedLeft = 0;
    for (int y = 103; y <= 116; ++y)
        changedLeft += dotted.pixel(200, y) != plain.pixel(200, y);
    EXPECT_EQ(changedLeft, 7);
    // The ellipse form has no grips and still toggles back exactly.
    o->sel->SetSelectionForm(sfEllipse);
    EXPECT_EQ(o->sel->ScreenImage().pixel(200, 100), plain.pixel(200, 100));
    o->sel->DrawSelFrame();
    EXPECT_EQ(o->sel->ScreenImage(), plain);
}

TEST(Selection, MaskVeilsThePictureOutsideTheFrameUntilTheNextPaint)
{
    auto o = MakeOverlay(300, 200); // CR = (150, 150, 449, 349)
    o->sel->SetSelRect(TRect(200, 200, 299, 279));
    const QImage& back = o->view->CanvasBitmap();
    o->sel->MaskPaint(o->sel->GetSelRect(), 200);
    const QImage shown = o->sel->ScreenImage();
    auto veiled = [&](int x, int y) {
        const Bgr b = PixelAt(back, x, y);
        return Bgr{MaskChannel(90, 200, b.b), MaskChannel(120, 200, b.g), MaskChannel(100, 200, b.r)};
    };
    EXPECT_EQ(PixelAt(shown, 160, 160), veiled(160, 160));
    EXPECT_EQ(PixelAt(shown, 449, 349), veiled(449, 349));
    EXPECT_EQ(PixelAt(shown, 200, 200), PixelAt(back, 200, 200)); // frame lines hidden: the picture shows
    EXPECT_EQ(PixelAt(shown, 250, 240), PixelAt(back, 250, 240));
    EXPECT_EQ(PixelAt(shown, 100, 100), PixelAt(back, 100, 100)); // margin
    EXPECT_TRUE(o->sel->FrameDrawed());                           // the bookkeeping is untouched
    // The next press draws the frame over the veil.
    QTest::mouseMove(o->sel, QPoint(250, 240));
    QTest::mousePress(o->sel, Qt::LeftButton, {}, QPoint(250, 240));
    EXPECT_NE(PixelAt(o->sel->ScreenImage(), 200, 200), PixelAt(shown, 200, 200));
    QTest::mouseRelease(o->sel, Qt::LeftButton, {}, QPoint(250, 240));
    o->sel->Paint();
    EXPECT_EQ(PixelAt(o->sel->ScreenImage(), 160, 160), PixelAt(back, 160, 160));
}

TEST(Selection, NotResizeableAndMagneticFrames)
{
    auto o = MakeOverlay(1000, 800);
    o->sel->SelectionType = stNotResizeable;
    o->sel->SetSelRect(TRect(100, 100, 200, 200));
    Drag(o->sel, QPoint(100, 100), {QPoint(130, 120)}); // a corner moves the whole frame
    EXPECT_EQ(o->sel->GetSelRect(), TRect(130, 120, 230, 220));
    o->sel->SelectionType = stMagnetic;
    o->sel->SetSelRect(TRect(0, 0, 40, 20));
    EXPECT_EQ(o->sel->SelectionState, ssMagneticFollow);
    QTest::mouseMove(o->sel, QPoint(300, 200));
    EXPECT_EQ(o->sel->GetSelRect(), TRect(280, 190, 320, 210));
    EXPECT_EQ(o->sel->CurrentCursor(), crNone);
}

TEST(Selection, MouseInputWithoutAPictureIsIgnored)
{
    auto o = MakeOverlay(100, 100);
    o->view->Clear();
    o->events.clear();
    QTest::mousePress(o->sel, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(o->sel, QPoint(50, 50));
    QTest::mouseRelease(o->sel, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_EQ(o->events, (std::vector<std::string>{"up"}));
    EXPECT_FALSE(o->sel->SelectionExist());
}
