#pragma once
// TzsiSelection: the selection frame over the image view.
//
// A child widget of the view that, when activated, covers the whole view,
// shows the view's back buffer and the frame on top of it, and turns mouse
// input into drawing, moving and resizing the frame. The frame (SelectedRect)
// is held in VIEW pixels, inclusive; the view converts it to picture pixels
// (TZSImage::GetSelection).
//
// The frame is drawn by XOR onto the overlay's own copy of the back buffer
// (its surface), so it shows and vanishes at exactly the moments an XOR frame
// on the screen would: every DrawSelFrame call toggles it.
//
// Events are raised through the view's On... members (see ZSImage.h).

#include "platform/Cursors.h"
#include "platform/Geometry.h"
#include "view/ZSImage_Events.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>

class TZSImage;
class QMenu;

enum TzsiSelectionType { stResizeable, stNotResizeable, stMagnetic, stResizeableMin };
enum TzsiSelectionForm { sfRectangle, sfEllipse };
enum TzsiFixSelectionRatio { srFree, srFoto, srFirma, srNone };

// SelectionState values: -1 idle, 0 drawing, 1..8 resizing at a grip
// (clockwise from the top-left corner), 9 moving, 10 magnetic.
constexpr int32_t ssIdle = -1;
constexpr int32_t ssDrawing = 0;
constexpr int32_t ssMoving = 9;
constexpr int32_t ssMagneticFollow = 10;

class TzsiSelection : public QWidget
{
    Q_OBJECT
public:
    // The owner must be a view; anything else throws std::invalid_argument.
    explicit TzsiSelection(TZSImage* AOwner);

    bool Activated() const { return FActivated; }
    void SetActivated(bool Value);
    TzsiSelectionForm SelectionForm() const { return FSelectionForm; }
    void SetSelectionForm(TzsiSelectionForm Value);
    uint8_t FrameWidth() const { return FFrameWidth; }
    void SetFrameWidth(uint8_t Value);
    TCursor CursorOnDrawSel() const { return FCursorOnDrawSel; }
    void SetCursorOnDrawSel(TCursor Value);
    QMenu* PopUpMenu() const { return FPopUpMenu; }
    void SetPopUpMenu(QMenu* Value) { FPopUpMenu = Value; }

    // True when a frame exists (all four coordinates set).
    bool SelectionExist() const;
    // A frame exists and the mouse rests on it (moving or magnetic).
    bool SelectionAvailable() const;
    // Removes the frame and raises OnSelectionChange.
    void Deselect();
    // The frame normalised (view pixels, inclusive); kUnsetRect without one.
    TRect GetSelRect() const;
    // Stores Value as it is (no normalising, no clamping) and raises OnSelectionChange.
    void SetSelRect(const TRect& Value);
    // Darkens the picture outside selRect (view, inclusive) on the screen until
    // the next paint; Alpha 200 gives the program's grey-green veil.
    void MaskPaint(const TRect& selRect, int32_t Alpha);

    // Plain settings: writing them has no immediate effect.
    TzsiSelectionType SelectionType = stResizeable;
    TzsiFixSelectionRatio SelectionRatio = srFree;
    TCursor CursorOnMoveSel = crSizeAll;
    TCursor CursorOnScrollUp = crHandPoint;   // panning armed
    TCursor CursorOnScrollDown = crHandPoint; // panning
    // Photo frame size in view pixels (its ratio and minimum) and the
    // signature frame's minimum size.
    int32_t FixFotoW = 0;
    int32_t FixFotoH = 0;
    int32_t FixFirmaW = 0;
    int32_t FixFirmaH = 0;

    // Interaction state (see the ss... constants above).
    int32_t SelectionState = ssIdle;
    // Mouse position of the previous mouse event (view pixels).
    int32_t OrigCoordX = 0;
    int32_t OrigCoordY = 0;
    TCursor SaveCursor = crArrow;

    // Hit test at view position (X, Y): the state a press there would start.
    int32_t PosOnSelRect(int32_t X, int32_t Y) const;
    // Sets the cursor for the current state and pan-key state.
    void ChangeCursor();
    // Toggles the frame on the surface (an XOR drawing).
    void DrawSelFrame();
    // Shows the back buffer again and the frame once, if there is one.
    void Paint();
    bool FrameDrawed() const { return FFrameDrawed; }
    TCursor CurrentCursor() const { return FCursorId; }
    bool EdgeScrolling() const { return FTimerScrollByBorders.isActive(); }
    // What the overlay shows at this moment (32-bit RGB).
    const QImage& ScreenImage() const { return FScreen; }

    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y);
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void ChangeSelRect(int32_t X, int32_t Y, int32_t PrevX, int32_t PrevY);
    void ScrollByBorders(int32_t X, int32_t Y);
    void TimerScrollOnTimer();
    void SetOverlayCursor(TCursor Value);
    bool PanKeyHeld() const;
    void RaiseChange();
    // Moves the pointer to view position p; where the platform reports no
    // move for that, runs the move handling there once more.
    void MovePointerTo(TShiftState Shift, int32_t X, int32_t Y);

    TZSImage* FOwner;
    bool FActivated = false;
    TRect FSelRect = kUnsetRect;
    TzsiSelectionForm FSelectionForm = sfRectangle;
    TCursor FCursorOnDrawSel = crCross;
    uint8_t FFrameWidth = 1;
    int32_t FScrollBorderX = 0;
    int32_t FScrollBorderY = 0;
    bool FFrameDrawed = false;
    QTimer FTimerScrollByBorders;
    QMenu* FPopUpMenu = nullptr;

    TCursor FCursorId = crArrow;
    QImage FScreen;
    bool FReplayingMove = false;
};
