#pragma once
// TFormTBack: the floating toolbar laid over the top of the image view while
// the user frames the photo or the signature. Its left end turns the picture
// in steps of one degree (or freely with a right-button drag), its right end
// zooms the view in steps of 0.25 or back to one to one.
//
// The window is frameless, faint and see-through: only the drawn pixels of its
// pictures are shown and only they take the mouse, so the picture under the toolbar stays
// visible and clickable. It never takes the keyboard focus; every handler
// hands it back to the main window.
//
// The rotation angle, the unrotated copy of the picture and the rotation
// itself belong to the main window; the toolbar reaches them through
// TFormTBackHooks, which the main window fills in before it shows the toolbar.
// Coordinates X, Y of the handlers are pixels of the picture that reported the
// event (the lens pictures are 48 x 48).

#include "view/ZSImage_Events.h"

#include <QImage>
#include <QRegion>
#include <QWidget>

#include <cstdint>
#include <functional>

class TZSImage;

// What the toolbar needs of the main window. An unset hook makes the step
// that needs it do nothing.
struct TFormTBackHooks {
    // The view the toolbar turns and zooms.
    std::function<TZSImage*()> View;
    // The main window's rotation angle (degrees, relative to the unrotated copy).
    std::function<int32_t()> GetGradiRot;
    std::function<void(int32_t)> SetGradiRot;
    // The view's source picture becomes the unrotated copy turned by the angle,
    // clockwise for positive degrees, and the view shows it. Live while a drag
    // goes on: only what the view shows needs turning until the drag ends.
    std::function<void(int32_t Degs, bool Live)> RotateView;
    // The main window takes the keyboard focus.
    std::function<void()> FocusMain;
    // The lens changed the view's zoom.
    std::function<void()> ZoomChanged;
    // Where FormShow places the toolbar: the main window's outer top left on
    // the screen, and the width of the panel that holds the view.
    std::function<QPoint()> MainTopLeft;
    std::function<int()> ImagePanelWidth;
};

// One picture of the toolbar: drawn unscaled at its top left over a transparent
// ground, with the hand cursor. A left press and release inside it is a click,
// reported before the release, like the platform's picture controls do.
class TTbPicture : public QWidget {
    Q_OBJECT
public:
    TTbPicture(QWidget* parent, const QString& name, const char* artwork, const QRect& bounds);
    const QImage& Picture() const { return FPicture; }
    // The pixels the picture draws (alpha above 0), in its own coordinates.
    const QRegion& Shape() const { return FShape; }

    std::function<void()> OnClick;
    std::function<void(TMouseButton Button, TShiftState Shift, int X, int Y)> OnMouseDown;
    std::function<void(TShiftState Shift, int X, int Y)> OnMouseMove;
    std::function<void(TMouseButton Button, TShiftState Shift, int X, int Y)> OnMouseUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage FPicture;
    QRegion FShape;
    bool FClicked = false;
};

class TFormTBack : public QWidget
{
    Q_OBJECT
public:
    // Builds the window at its designed size (723 x 56) with its pictures, hidden.
    explicit TFormTBack(QWidget* owner = nullptr, TFormTBackHooks hooks = {});

    void SetHooks(const TFormTBackHooks& hooks) { FHooks = hooks; }
    const TFormTBackHooks& Hooks() const { return FHooks; }

    // --- pictures, in stacking order (later ones lie on top) ---
    TTbPicture* ImgRotateP = nullptr; // right half of a circular arrow: clockwise
    TTbPicture* ImgLensN = nullptr;   // plain lens: zoom outside 0.25..2 (fit mode)
    TTbPicture* ImgLensP = nullptr;   // lens with a plus: zoomed in
    TTbPicture* ImgLensM = nullptr;   // lens with a minus: zoomed out
    TTbPicture* ImgLensX = nullptr;   // lens with a dot: one to one
    TTbPicture* ImgRotateM = nullptr; // left half of the arrow: counter-clockwise
    TTbPicture* BufRotateM = nullptr; // pressed look of the left half
    TTbPicture* BufRotateP = nullptr; // pressed look of the right half
    TTbPicture* ImgLensY = nullptr;   // pressed look of the one-to-one lens

    // Screen row where a right-button rotation drag started; 0 when none.
    int32_t shftGrad = 0;

    // --- handlers ---
    void FormCreate();
    void FormShow();
    // One degree clockwise / counter-clockwise, then the main window takes the focus.
    void BtRotatePClick();
    void BtRotateMClick();
    void ImgRotatePMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void ImgRotateMMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    // While a right-button drag is under way: the angle follows the rows dragged.
    void BufRotatePMouseMove(TShiftState Shift, int X, int Y);
    // Ends a press or drag: pressed looks hidden, zoom arrows hidden, focus back.
    void ImgRotateMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    // Turns the picture to an absolute angle in degrees: a negative Value
    // becomes Value + 359; values above 359 are kept as they are.
    void TbRotateSChange(int32_t Value);
    // The zoom button: in the step zone (X > 20 and Y < 26) a left press zooms
    // in and a right press out by 0.25 (up to 2, down to 0.25); elsewhere
    // either sets one to one. The pressed look stays 200 ms.
    void ImgLensNMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    // Shows the lens picture that matches the view's zoom.
    void ImgLensUpdate();

    // True between a right-button press on a rotate picture and its release.
    bool Dragging() const { return FDragging; }
    // Rotations the drag has run so far; moves that arrive while one is
    // pending only change the angle it will turn to.
    int DragRotations() const { return FDragRotations; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    TZSImage* View() const;
    void FocusMain();
    void RotateMouseDown(TMouseButton Button, int Y, TTbPicture* pressed, TTbPicture* other);
    // gradiRot stepped by delta, wrapped into 0..359.
    void RotationStep(int32_t delta);
    // The view's source := unrotated copy turned by gradiRot, then shown.
    void ShowRotation();
    void RunPendingRotation();
    void ShowOnlyLens(TTbPicture* shown);
    void UpdateMask();
    // Screen row of a point given in the toolbar's client pixels.
    int32_t ScreenRow(int Y) const;

    TFormTBackHooks FHooks;
    bool FDragging = false;
    bool FMaskOnWindow = false;
    bool FRotationPending = false;
    bool FRotationQueued = false;
    int32_t FPendingValue = 0;
    int FDragRotations = 0;
};

// The one toolbar window; null until the program's start-up creates it.
extern TFormTBack* FormTBack;
