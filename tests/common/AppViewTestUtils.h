#pragma once
// Mouse gestures on the main window's view, in picture pixels. Header-only so
// that the shared test library need not link the view.

#include "AppTestUtils.h"
#include "view/ZSImage.h"

namespace AppTest {

// A left click on the view at a picture pixel.
inline void ClickPicture(TZSImage* view, QPoint p)
{
    const TRect c = view->CanvasBitmapRect();
    const double s = view->GetScale();
    const QPoint at(c.Left + static_cast<int>(p.x() * s), c.Top + static_cast<int>(p.y() * s));
    Press(view, at);
    Release(view, at);
}

// Pulls the frame's bottom-right corner inward; on release the slot is cut. The
// pointer then moves on over the frame, which finds the slot cut and enables saving.
inline void ShrinkFrame(TZSImage* view, int dx, int dy)
{
    TzsiSelection* sel = view->Selection();
    const TRect r = sel->GetSelRect();
    Drag(sel, QPoint(r.Right, r.Bottom), QPoint(r.Right - dx, r.Bottom - dy));
    Move(sel, QPoint(r.Left + 20, r.Top + 20), Qt::NoButton);
}

} // namespace AppTest
