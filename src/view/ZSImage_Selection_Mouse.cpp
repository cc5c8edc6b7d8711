// The selection overlay's mouse handling: drawing, resizing, moving, panning
// and edge scrolling.

#include "view/ZSImage.h"
#include "view/ZSImage_Geometry.h"
#include "view/ZSImage_Selection.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>

#include <cmath>
#include <cstdlib>

namespace {
// Platforms on which moving the pointer makes the window system report a mouse
// move at the new position; elsewhere (offscreen, Wayland) nothing arrives.
bool PointerMovesAreReported()
{
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("xcb") || name == QLatin1String("windows") || name == QLatin1String("cocoa");
}
} // namespace

void TzsiSelection::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    MouseDown(MouseButtonOf(event->button()), ShiftStateOf(event->buttons(), event->modifiers()), p.x(), p.y());
}

void TzsiSelection::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    MouseDown(MouseButtonOf(event->button()), ShiftStateOf(event->buttons(), event->modifiers()) | ssDouble, p.x(),
              p.y());
}

void TzsiSelection::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    MouseMove(ShiftStateOf(event->buttons(), event->modifiers()), p.x(), p.y());
}

void TzsiSelection::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    MouseUp(MouseButtonOf(event->button()), ShiftStateOf(event->buttons(), event->modifiers()), p.x(), p.y());
}

void TzsiSelection::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    FScrollBorderX = 0;
    FScrollBorderY = 0;
    if (FOwner->CanvasBitmap().isNull())
        return;
    if (Button == mbRight || PanKeyHeld()) {
        // Panning is armed; the frame and its state stay as they are.
        if (FCursorId != CursorOnScrollUp && FCursorId != CursorOnScrollDown)
            SaveCursor = FCursorId;
        SetOverlayCursor(CursorOnScrollUp);
        FOwner->OrigMousePoint = TPoint(X, Y);
        return;
    }
    if (Button != mbLeft)
        return;
    DrawSelFrame();
    if (SelectionExist() && SelectionType != stMagnetic && PosOnSelRect(X, Y) == ssIdle)
        Deselect();
    if (!SelectionExist()) {
        OrigCoordX = X;
        OrigCoordY = Y;
        SelectionState = ssDrawing;
        if (SelectionType == stResizeableMin) {
            const TRect& cr = FOwner->CanvasBitmapRect();
            if (SelectionRatio == srFoto) {
                // A minimum photo frame that would not fit from here starts centred instead.
                if (cr.Right - cr.Left < X + FixFotoW || cr.Bottom - cr.Top < Y + FixFotoH) {
                    OrigCoordX = cr.Right / 2 - FixFotoW / 2;
                    OrigCoordY = cr.Bottom / 2 - FixFotoH / 2;
                    X = OrigCoordX;
                    Y = OrigCoordY;
                }
                MouseMove(ssLeft, X + FixFotoW, Y + FixFotoH);
            } else if (SelectionRatio == srFirma) {
                MouseMove(ssLeft, X + FixFirmaW, Y + FixFirmaH);
            }
        }
    }
    ChangeCursor();
    if (FOwner->OnSelectionMouseDown)
        FOwner->OnSelectionMouseDown(Button, Shift, X, Y);
}

void TzsiSelection::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    if (FOwner->CanvasBitmap().isNull())
        return;
    if ((Shift & ssRight) || (PanKeyHeld() && (Shift & ssLeft))) {
        if (FCursorId != CursorOnScrollUp && FCursorId != CursorOnScrollDown)
            SaveCursor = FCursorId;
        SetOverlayCursor(CursorOnScrollDown);
        FOwner->DoScroll(X, Y);
        return;
    }
    // Where the pointer really is; the photo ratio may replace Y below.
    const int32_t pointerAtX = X;
    const int32_t pointerAtY = Y;
    bool movePointer = false;
    bool settle = false;
    int32_t pointerX = 0, pointerY = 0;
    if ((Shift == ssLeft && SelectionState >= 0) || (SelectionType == stMagnetic && SelectionExist())) {
        // The photo ratio is held through the mouse row: the height follows
        // the frame's width as it stood before this move.
        if (SelectionRatio == srFoto && FixFotoW > 0 && FixFotoH > 0) {
            if (FSelRect.Right - FSelRect.Left == 1 && SelectionType == stResizeableMin && FSelRect.Left > 0) {
                DrawSelFrame();
                FSelRect.Right = FSelRect.Left + FixFotoW;
                FSelRect.Bottom = FSelRect.Top + FixFotoH;
                X = FSelRect.Right;
            }
            const long double ratio = static_cast<long double>(FixFotoW) / FixFotoH;
            const auto h = static_cast<int32_t>(
                std::trunc(std::fabs(static_cast<long double>(FSelRect.Right) - FSelRect.Left) / ratio));
            switch (SelectionState) {
            case 0:
            case 5:
            case 7: Y = FSelRect.Top + h; break;
            case 1:
            case 3: Y = FSelRect.Bottom - h; break;
            default: break;
            }
        }
        DrawSelFrame();
        if (SelectionType == stMagnetic && SelectionState != ssDrawing)
            SelectionState = ssMagneticFollow;
        ChangeCursor();
        if (FSelRect.Left == kUnset)
            FSelRect.Left = OrigCoordX;
        if (FSelRect.Top == kUnset)
            FSelRect.Top = OrigCoordY;
        const int32_t widthBefore = std::abs(FSelRect.Right - FSelRect.Left);
        ChangeSelRect(X, Y, OrigCoordX, OrigCoordY);
        // A photo frame resized from a corner took its height from the width
        // before this move; one more pass at the same point brings the height
        // to the new width, so the frame holds the ratio whenever the mouse stops.
        if (SelectionRatio == srFoto && FixFotoW > 0 && FixFotoH > 0 &&
            (SelectionState == 1 || SelectionState == 3 || SelectionState == 5 || SelectionState == 7) &&
            std::abs(FSelRect.Right - FSelRect.Left) != widthBefore)
            settle = true;
        if (SelectionRatio == srFoto && SelectionState < 1) {
            movePointer = true;
            pointerX = FSelRect.Right;
            pointerY = FSelRect.Bottom;
        }
        DrawSelFrame();
    } else if (SelectionExist()) {
        SelectionState = PosOnSelRect(X, Y);
        // An edge of a photo frame drags the corner opposite the first corner.
        if (SelectionRatio == srFoto &&
            (SelectionState == 2 || SelectionState == 4 || SelectionState == 6 || SelectionState == 8))
            SelectionState = ssDrawing;
        ChangeCursor();
    }
    OrigCoordX = X;
    OrigCoordY = Y;
    if (FOwner->OnSelectionMouseMove)
        FOwner->OnSelectionMouseMove(Shift, X, Y);
    if (movePointer && (pointerX != pointerAtX || pointerY != pointerAtY)) {
        MovePointerTo(Shift, pointerX, pointerY);
    } else if (settle && !FReplayingMove) {
        FReplayingMove = true;
        MouseMove(Shift, X, Y);
        FReplayingMove = false;
    }
}

void TzsiSelection::MovePointerTo(TShiftState Shift, int32_t X, int32_t Y)
{
    if (PointerMovesAreReported()) {
        QCursor::setPos(mapToGlobal(QPoint(X, Y)));
        return;
    }
    // No move will be reported for the new pointer position: handle it here,
    // once, so the frame settles as it would once the pointer rests.
    if (FReplayingMove)
        return;
    FReplayingMove = true;
    QCursor::setPos(mapToGlobal(QPoint(X, Y)));
    MouseMove(Shift, X, Y);
    FReplayingMove = false;
}

void TzsiSelection::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    FTimerScrollByBorders.stop();
    if (FCursorId == CursorOnScrollUp || FCursorId == CursorOnScrollDown)
        SetOverlayCursor(SaveCursor);
    if (!FActivated)
        SetActivated(true);
    if (SelectionExist()) {
        FSelRect = NormalizeRect(FSelRect);
        if (SelectionType == stMagnetic && SelectionState == ssDrawing) {
            const TRect& r = FSelRect;
            QCursor::setPos(mapToGlobal(QPoint(r.Left + (r.Right - r.Left) / 2, r.Top + (r.Bottom - r.Top) / 2)));
            SelectionState = ssMagneticFollow;
            ChangeCursor();
        }
    }
    if (FOwner->OnSelectionMouseUp)
        FOwner->OnSelectionMouseUp(Button, Shift, X, Y);
}

void TzsiSelection::ChangeSelRect(int32_t X, int32_t Y, int32_t PrevX, int32_t PrevY)
{
    const TFrameChange c = ChangeFrame(FSelRect, SelectionState, X, Y, PrevX, PrevY, FOwner->CanvasBitmapRect(),
                                       FScrollBorderX, FScrollBorderY);
    FSelRect = c.Sel;
    FScrollBorderX = c.ScrollX;
    FScrollBorderY = c.ScrollY;
    if (FScrollBorderX != 0 || FScrollBorderY != 0)
        ScrollByBorders(X, Y);
    RaiseChange();
}

void TzsiSelection::ScrollByBorders(int32_t X, int32_t Y)
{
    if (!FTimerScrollByBorders.isActive())
        FTimerScrollByBorders.start();
    FOwner->OrigMousePoint = TPoint(X, Y);
    // The anchor moves 10 view pixels away from the pushed edge, so the
    // picture shifts by 10 picture pixels and more of it comes into view there.
    if (FScrollBorderX > 0)
        X -= 10;
    else if (FScrollBorderX < 0)
        X += 10;
    if (FScrollBorderY > 0)
        Y -= 10;
    else if (FScrollBorderY < 0)
        Y += 10;
    FOwner->DoScroll(X, Y);
    Paint();
}

void TzsiSelection::TimerScrollOnTimer() { ScrollByBorders(FOwner->OrigMousePoint.X, FOwner->OrigMousePoint.Y); }
