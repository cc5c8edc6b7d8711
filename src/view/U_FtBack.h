#pragma once
// TFormTBack: the floating toolbar over the image view that turns and zooms
// the picture. For now it is an empty, frameless tool window that the main
// window shows, hides and keeps glued to the view; its buttons come later.
// The operations the main window calls already exist and do nothing yet.

#include "view/ZSImage_Events.h"

#include <QWidget>

class TFormTBack : public QWidget
{
    Q_OBJECT
public:
    explicit TFormTBack(QWidget* owner = nullptr);

    // The zoom button: a left click zooms in, a right click out, a click near
    // its left edge sets zoom 1 (X, Y in the button's pixels).
    void ImgLensNMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    // The zoom buttons follow the view's zoom.
    void ImgLensUpdate();
    // Hides the transient rotate pictures.
    void ImgRotateMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    // One degree forward / back.
    void BtRotatePClick();
    void BtRotateMClick();
};

// The one toolbar window; null until the program's start-up creates it.
extern TFormTBack* FormTBack;
