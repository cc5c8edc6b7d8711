#pragma once
// The view's geometry as plain functions: where the picture goes in the view,
// how view pixels map to picture pixels, and how the selection frame, panning,
// the magnifier and the guide lines are laid out. No widgets here, so every
// rule can be checked against numbers worked out by hand.
//
// Units: "view" = pixels of the view's client area (also its back buffer),
// "picture" = pixels of the source picture. Rectangles follow the view's
// convention: names ending in Rect kept by the view are inclusive (Right is
// the last column); spans handed to copying are exclusive (Right is one past).
//
// Floating-point steps run in long double (x87 extended precision) with the
// zoom factors held as double, because the rounding of spans and coordinates
// depends on it (a 4575 x 1603 picture fitted into 1146 x 553 with margin 20
// has a source height of 2287 this way and 2288 in plain double).

#include "platform/Geometry.h"

#include <cstdint>

struct TStretchLayout {
    bool Valid = false;        // false: nothing of the picture can be shown (view too small)
    double Factor = 0;         // view pixels per picture pixel used for this rendering
    TRect Span;                // source part, picture pixels, exclusive Right/Bottom
    TRect Canvas;              // its place in the view, view pixels, exclusive Right/Bottom
    bool FillBackground = false; // the picture leaves part of the view uncovered
    bool WantBorder = false;
};

// Where a picture of srcW x srcH goes in a W x H view for a requested factor
// (0 = fit) about center (picture pixels; kUnset per coordinate = the centre).
TStretchLayout ComputeStretchLayout(int32_t srcW, int32_t srcH, int32_t W, int32_t H, TPoint center,
                                    double factor, int32_t margin, bool enlarge, int32_t borderWidth);

// The zoom actually on screen: view pixels per picture pixel, from the inclusive
// rectangles of what is shown (origRect, picture) and where (canvasRect, view).
double ScaleOfRects(const TRect& origRect, const TRect& canvasRect);

// View column/row to picture column/row: Round((v - CR.Left) / s) + OR.Left.
int32_t ViewToImageX(int32_t x, double scale, const TRect& canvasRect, const TRect& origRect);
int32_t ViewToImageY(int32_t y, double scale, const TRect& canvasRect, const TRect& origRect);

// The picture pixel under view position p; positions off the shown picture give
// the mapping of view (0, 0); negative results are raised to 0.
TPoint CoordinatesAt(TPoint p, double scale, const TRect& canvasRect, const TRect& origRect);

// The picture rectangle a normalised selection frame `sel` (view, inclusive)
// covers. stretchRect receives the part of the frame over the picture (view);
// origRect's Right and Bottom are exclusive (one past the last covered pixel,
// at most the picture's width and height). False when the frame lies off the picture.
bool SelectionToImage(const TRect& sel, const TRect& canvasRect, const TRect& origRect, int32_t picW,
                      int32_t picH, TRect& origRect_out, TRect& stretchRect_out);

// One pan step toward view position (x, y) from anchor: true and the new centre
// (picture pixels) when the shown part has room to move in a dragged direction.
bool PanCenter(TPoint p, TPoint anchor, const TRect& origRect, int32_t picW, int32_t picH, TPoint& center);

// Magnifier: picture part src (exclusive) shown in dst (view, exclusive) at
// factor f so that the picture point under (x, y) stays there. x and y must
// already be clamped to the shown picture.
void MagnifierLayout(int32_t x, int32_t y, int32_t viewW, int32_t viewH, const TRect& canvasRect,
                     const TRect& origRect, double scale, double f, int32_t picW, int32_t picH, TRect& src,
                     TRect& dst);

// Radius of the lens in view pixels; 0 = the whole view magnifies.
int32_t LensRadius(int32_t magnifierSize, int32_t viewW);

// Row of guide line i (0..24) in a view of the given height.
constexpr int32_t kGridLines = 25;
int32_t GridRow(int32_t i, int32_t viewH);

// Selection frame -----------------------------------------------------------

// Hit test on frame sel as it stands (possibly unnormalised): 1..8 grips
// clockwise from the top-left corner, 9 inside, -1 elsewhere. Grips reach 3
// pixels either side of the frame line; on small frames the lower number wins.
int32_t HitTestFrame(const TRect& sel, int32_t x, int32_t y, bool moveOnly);

// Result of changing the frame by one mouse step.
struct TFrameChange {
    TRect Sel;            // the frame after the change and clamping (view, may be unnormalised)
    int32_t ScrollX = 0;  // -1 left, +1 right, 0 none: the moved frame pushes an edge
    int32_t ScrollY = 0;
};

// Applies one mouse step (x, y) from (prevX, prevY) in selection state `state`
// to frame sel and clamps it to canvasRect (view, inclusive). scrollX/scrollY
// are the current edge-scrolling directions, kept where the rules keep them.
TFrameChange ChangeFrame(const TRect& sel, int32_t state, int32_t x, int32_t y, int32_t prevX, int32_t prevY,
                         const TRect& canvasRect, int32_t scrollX, int32_t scrollY);
