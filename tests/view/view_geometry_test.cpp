// The view's geometry rules against numbers worked out by hand.

#include "view/ZSImage_Geometry.h"

#include <gtest/gtest.h>

TEST(StretchLayout, WorkedExampleFitsWithMarginAndBorder)
{
    // 1000 x 800 in 600 x 500, margin 20: factor min(560/1000, 460/800) = 0.56,
    // spans clamp to the picture, 560 x 448 centred at (20, 26).
    const TStretchLayout L = ComputeStretchLayout(1000, 800, 600, 500, kCenterMarker, 0, 20, false, 1);
    ASSERT_TRUE(L.Valid);
    EXPECT_DOUBLE_EQ(L.Factor, 0.56);
    EXPECT_EQ(L.Span, TRect(0, 0, 1000, 800));
    EXPECT_EQ(L.Canvas, TRect(20, 26, 580, 474));
    EXPECT_TRUE(L.FillBackground);
    EXPECT_TRUE(L.WantBorder);
}

TEST(StretchLayout, FitModeEnlargesOnlyWhenAllowed)
{
    // Small picture without Enlarge: one to one, centred.
    TStretchLayout L = ComputeStretchLayout(100, 50, 600, 500, kCenterMarker, 0, 20, false, 1);
    EXPECT_DOUBLE_EQ(L.Factor, 1.0);
    EXPECT_EQ(L.Canvas, TRect(250, 225, 350, 275));
    // With Enlarge: 5.6 = min(560/100, 460/50); 100 * 5.6 = 560, 50 * 5.6 = 280.
    L = ComputeStretchLayout(100, 50, 600, 500, kCenterMarker, 0, 20, true, 1);
    EXPECT_DOUBLE_EQ(L.Factor, 5.6);
    EXPECT_EQ(L.Canvas, TRect(20, 110, 580, 390));
    // A border wider than the margin is not wanted.
    L = ComputeStretchLayout(100, 50, 600, 500, kCenterMarker, 0, 2, false, 3);
    EXPECT_FALSE(L.WantBorder);
}

TEST(StretchLayout, PictureAsLargeAsTheViewCoversItWithoutBackground)
{
    const TStretchLayout L = ComputeStretchLayout(600, 500, 600, 500, kCenterMarker, 1.0, 20, false, 1);
    EXPECT_EQ(L.Canvas, TRect(0, 0, 600, 500));
    EXPECT_FALSE(L.FillBackground);
    EXPECT_FALSE(L.WantBorder);
}

TEST(StretchLayout, SpansClampAtCornersAndForCentresOutsideThePicture)
{
    EXPECT_EQ(ComputeStretchLayout(2000, 2000, 600, 500, TPoint(10, 10), 1.0, 20, false, 1).Span,
              TRect(0, 0, 600, 500));
    EXPECT_EQ(ComputeStretchLayout(2000, 2000, 600, 500, TPoint(5000, -300), 1.0, 20, false, 1).Span,
              TRect(1400, 0, 2000, 500));
    // Each coordinate of the centre marker stands alone: only Y is the picture's centre.
    EXPECT_EQ(ComputeStretchLayout(2000, 2000, 600, 500, TPoint(1990, kUnset), 1.0, 20, false, 1).Span,
              TRect(1400, 750, 2000, 1250));
    // Zoom 2 on a centre at 1001: 300 source columns from 1001 - 150.
    EXPECT_EQ(ComputeStretchLayout(2000, 2000, 600, 500, TPoint(1001, 1000), 2.0, 0, false, 0).Span,
              TRect(851, 875, 1151, 1125));
}

TEST(StretchLayout, DegenerateViewsAndFactorsStaySafe)
{
    EXPECT_FALSE(ComputeStretchLayout(1000, 800, 0, 0, kCenterMarker, 0, 20, false, 1).Valid);
    // A view smaller than its margins has no room for the picture.
    EXPECT_FALSE(ComputeStretchLayout(1000, 800, 30, 30, kCenterMarker, 0, 20, false, 1).Valid);
    // A zoom so large that the view is narrower than one picture pixel still shows one pixel.
    TStretchLayout L = ComputeStretchLayout(10, 10, 100, 100, TPoint(3, 3), 1e6, 0, false, 0);
    ASSERT_TRUE(L.Valid);
    EXPECT_EQ(L.Span.Right - L.Span.Left, 1);
    EXPECT_EQ(L.Span.Bottom - L.Span.Top, 1);
    // A one-pixel picture fitted with Enlarge fills the room inside the margins.
    L = ComputeStretchLayout(1, 1, 100, 60, kCenterMarker, 0, 10, true, 1);
    EXPECT_EQ(L.Canvas, TRect(30, 10, 70, 50));
}

TEST(Mapping, ScaleIsTheZoomOnScreen)
{
    EXPECT_DOUBLE_EQ(ScaleOfRects(TRect(0, 0, 999, 799), TRect(20, 26, 579, 473)), 0.56);
    // Taller than wide: heights decide (448 / 800 against 300 / 600 for the width).
    EXPECT_DOUBLE_EQ(ScaleOfRects(TRect(0, 0, 599, 799), TRect(0, 0, 299, 447)), 0.56);
    EXPECT_EQ(ScaleOfRects(TRect(400, 300, 999, 799), TRect(0, 0, 599, 499)), 1.0);
}

TEST(Mapping, ViewToPictureRoundsHalvesToEven)
{
    const TRect cr(20, 26, 579, 473), orr(0, 0, 999, 799);
    EXPECT_EQ(ViewToImageX(20, 0.56, cr, orr), 0);
    EXPECT_EQ(ViewToImageX(300, 0.56, cr, orr), 500);    // 280 / 0.56
    EXPECT_EQ(ViewToImageX(579, 0.56, cr, orr), 998);    // 559 / 0.56 = 998.21
    EXPECT_EQ(ViewToImageY(473, 0.56, cr, orr), 798);    // 447 / 0.56 = 798.21
    // Zoom 2: 0.5 -> 0, 1.5 -> 2, 2.5 -> 2 (ties to the even neighbour).
    const TRect cr2(0, 0, 599, 499), or2(100, 200, 399, 449);
    EXPECT_EQ(ViewToImageX(1, 2.0, cr2, or2), 100);
    EXPECT_EQ(ViewToImageX(3, 2.0, cr2, or2), 102);
    EXPECT_EQ(ViewToImageX(5, 2.0, cr2, or2), 102);
    EXPECT_EQ(ViewToImageY(7, 2.0, cr2, or2), 204);
    // Zoom 1: view column CR.Left + k is picture column OR.Left + k.
    EXPECT_EQ(ViewToImageX(37, 1.0, TRect(0, 0, 599, 499), TRect(400, 300, 999, 799)), 437);
}

TEST(Mapping, CoordinatesOffThePictureGiveViewOriginRaisedToZero)
{
    const TRect cr(20, 26, 579, 473), orr(0, 0, 999, 799);
    EXPECT_EQ(CoordinatesAt(TPoint(5, 300), 0.56, cr, orr), TPoint(0, 0));
    EXPECT_EQ(CoordinatesAt(TPoint(300, 100), 0.56, cr, orr), TPoint(500, 132)); // 74 / 0.56 = 132.14
    // The last column and row of CR count as outside (exclusive reading of the intersection).
    EXPECT_EQ(CoordinatesAt(TPoint(579, 100), 0.56, cr, orr), TPoint(0, 0));
    // With a shown part away from the origin the view origin maps to OR's corner.
    EXPECT_EQ(CoordinatesAt(TPoint(-1, -1), 1.0, TRect(0, 0, 599, 499), TRect(400, 300, 999, 799)),
              TPoint(400, 300));
}

TEST(Mapping, SelectionToPictureAtEdgesAndOffThePicture)
{
    TRect o(1, 2, 3, 4), s(5, 6, 7, 8);
    // Entirely in the margin: false, arguments untouched.
    EXPECT_FALSE(SelectionToImage(TRect(0, 0, 15, 20), TRect(20, 26, 579, 473), TRect(0, 0, 999, 799), 1000, 800, o, s));
    EXPECT_EQ(o, TRect(1, 2, 3, 4));
    // Zoom 1 on a 1000 x 800 picture showing its bottom-right part.
    const TRect cr(0, 0, 599, 499), orr(400, 300, 999, 799);
    ASSERT_TRUE(SelectionToImage(TRect(10, 20, 109, 219), cr, orr, 1000, 800, o, s));
    EXPECT_EQ(o, TRect(410, 320, 510, 520)); // one past the last selected pixel
    ASSERT_TRUE(SelectionToImage(TRect(100, 100, 599, 499), cr, orr, 1000, 800, o, s));
    EXPECT_EQ(o, TRect(500, 400, 1000, 800)); // exclusive: the last column and row are covered
    EXPECT_EQ(s, TRect(100, 100, 599, 499));
    // Fit example: 280 / 0.56 = 500, 174 / 0.56 = 310.71.
    ASSERT_TRUE(SelectionToImage(TRect(20, 26, 299, 199), TRect(20, 26, 579, 473), TRect(0, 0, 999, 799), 1000, 800,
                                 o, s));
    EXPECT_EQ(o, TRect(0, 0, 500, 311));
}

TEST(Mapping, PanStepNeedsRoomInADraggedDirection)
{
    TPoint c(-1, -1);
    // Showing the right edge, no vertical room, dragged left: nothing.
    const TRect atRight(400, 0, 999, 499);
    EXPECT_FALSE(PanCenter(TPoint(90, 100), TPoint(100, 100), atRight, 1000, 500, c));
    // With vertical room both components apply; the stretch clamps the horizontal one later.
    const TRect roomBelow(400, 0, 999, 499);
    ASSERT_TRUE(PanCenter(TPoint(90, 80), TPoint(100, 100), roomBelow, 1000, 800, c));
    EXPECT_EQ(c, TPoint(400 + 300 + 10, 0 + 250 + 20));
    // Dragging right towards an edge already shown: nothing.
    EXPECT_FALSE(PanCenter(TPoint(120, 100), TPoint(100, 100), TRect(0, 0, 599, 499), 1000, 500, c));
}

TEST(Magnifier, LayoutKeepsThePictureUnderThePointer)
{
    TRect S, D;
    // Zoom 1, factor 2, pointer (100, 50) over picture (100, 50).
    MagnifierLayout(100, 50, 600, 500, TRect(0, 0, 599, 499), TRect(0, 0, 599, 499), 1.0, 2.0, 1000, 800, S, D);
    EXPECT_EQ(S, TRect(50, 25, 350, 275));
    EXPECT_EQ(D, TRect(0, 0, 600, 500));
    // Scale 0.5, factor 0.25 at (100, 100): picture point (200, 200) would need
    // source from -200, so the picture starts 50 view pixels in.
    MagnifierLayout(100, 100, 600, 500, TRect(0, 0, 599, 499), TRect(0, 0, 1199, 999), 0.5, 0.25, 1200, 1000, S, D);
    EXPECT_EQ(S, TRect(0, 0, 1200, 1000));
    EXPECT_EQ(D, TRect(50, 50, 350, 300));
}

TEST(Magnifier, LensRadiusAndGridRows)
{
    EXPECT_EQ(LensRadius(200, 220), 85);
    EXPECT_EQ(LensRadius(100, 600), 50);
    EXPECT_EQ(LensRadius(0, 600), 0);
    EXPECT_EQ(LensRadius(100, 40), 0); // no room for a lens
    EXPECT_EQ(GridRow(0, 400), 70);
    EXPECT_EQ(GridRow(1, 400), 83);
    EXPECT_EQ(GridRow(24, 400), 382);
    EXPECT_EQ(GridRow(24, 90), 70); // step 0: every line on row 70
}

TEST(Frame, HitTestZonesLowerNumberWins)
{
    const TRect f(100, 100, 200, 180);
    EXPECT_EQ(HitTestFrame(f, 97, 97, false), 1);
    EXPECT_EQ(HitTestFrame(f, 96, 100, false), -1);
    EXPECT_EQ(HitTestFrame(f, 150, 100, false), 2);
    EXPECT_EQ(HitTestFrame(f, 203, 103, false), 3);
    EXPECT_EQ(HitTestFrame(f, 200, 140, false), 4);
    EXPECT_EQ(HitTestFrame(f, 203, 183, false), 5);
    EXPECT_EQ(HitTestFrame(f, 204, 183, false), -1);
    EXPECT_EQ(HitTestFrame(f, 150, 180, false), 6);
    EXPECT_EQ(HitTestFrame(f, 100, 180, false), 7);
    EXPECT_EQ(HitTestFrame(f, 103, 140, false), 8);
    EXPECT_EQ(HitTestFrame(f, 150, 140, false), 9);
    // Moving only: the whole widened frame moves.
    EXPECT_EQ(HitTestFrame(f, 97, 97, true), 9);
    EXPECT_EQ(HitTestFrame(f, 204, 140, true), -1);
    // On a 4 x 4 frame the corner zones overlap everything: 1 wins, then 3, 5, 7.
    const TRect small(10, 10, 14, 14);
    EXPECT_EQ(HitTestFrame(small, 12, 12, false), 1);
    EXPECT_EQ(HitTestFrame(small, 14, 12, false), 3);
    EXPECT_EQ(HitTestFrame(small, 14, 14, false), 5);
    EXPECT_EQ(HitTestFrame(small, 10, 14, false), 7);
}

TEST(Frame, DrawingAndResizingClampWithoutScrolling)
{
    const TRect cr(20, 30, 579, 469);
    TFrameChange c = ChangeFrame(TRect(100, 100, 200, 200), 0, 700, 600, 0, 0, cr, 0, 0);
    EXPECT_EQ(c.Sel, TRect(100, 100, 579, 469));
    EXPECT_EQ(c.ScrollX, 0);
    EXPECT_EQ(c.ScrollY, 0);
    // Resizing the left edge past the picture.
    c = ChangeFrame(TRect(100, 100, 200, 200), 8, 0, 150, 100, 150, cr, 0, 0);
    EXPECT_EQ(c.Sel, TRect(20, 100, 200, 200));
    EXPECT_EQ(c.ScrollX, 0);
    // Drawing leftwards and upwards into the margin stops at the picture too.
    c = ChangeFrame(TRect(100, 100, 100, 100), 0, 3, 5, 0, 0, cr, 0, 0);
    EXPECT_EQ(c.Sel, TRect(100, 100, 20, 30));
}

TEST(Frame, MovingAgainstAnEdgeKeepsTheSizeAndArmsScrolling)
{
    const TRect cr(0, 0, 599, 499);
    TFrameChange c = ChangeFrame(TRect(500, 100, 580, 200), 9, 330, 150, 300, 150, cr, 0, 0);
    EXPECT_EQ(c.Sel, TRect(519, 100, 599, 200));
    EXPECT_EQ(c.ScrollX, 1);
    c = ChangeFrame(TRect(10, 10, 90, 60), 9, 90, 95, 110, 100, cr, 0, 0);
    EXPECT_EQ(c.Sel, TRect(0, 5, 80, 55));
    EXPECT_EQ(c.ScrollX, -1);
    EXPECT_EQ(c.ScrollY, 0);
    // Moved back off the edge: scrolling ends.
    c = ChangeFrame(TRect(519, 100, 599, 200), 9, 290, 150, 300, 150, cr, 1, 0);
    EXPECT_EQ(c.ScrollX, 0);
    // Magnetic: centred on the pointer.
    c = ChangeFrame(TRect(0, 0, 40, 20), 10, 300, 200, 0, 0, cr, 0, 0);
    EXPECT_EQ(c.Sel, TRect(280, 190, 320, 210));
}
