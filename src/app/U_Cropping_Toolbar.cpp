// The main window's side of the rotate and zoom toolbar: what the toolbar may
// reach here (the view, the angle gradiRot, the unrotated copy BmpBackBuffer,
// the keyboard focus, where to stand), and the rotation of the view's picture.

#include "app/U_Cropping.h"

#include "app/U_Cropping_LiveRotation.h"
#include "app/U_Cropping_Pixels.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"

#include <QApplication>

namespace {
// Colour of the corners a rotation uncovers.
constexpr TColor kRotationBackground = 0x808080;
// The rotation splits its rows over both cores of the machines we target.
constexpr int kRotationThreads = 2;
} // namespace

TFormTBackHooks TFormCrop::ToolbarHooks()
{
    TFormTBackHooks hooks;
    hooks.View = [this] { return ZSImage; };
    hooks.GetGradiRot = [this] { return static_cast<int32_t>(gradiRot); };
    hooks.SetGradiRot = [this](int32_t value) { gradiRot = value; };
    hooks.ZoomChanged = [this] { UpdateStatus(); };
    hooks.RotateView = [this](int32_t degs, bool live) {
        RotateViewLive(degs, !live);
        UpdateStatus();
        // A drag of the angle is one step, recorded at the button's release.
        if (!(QApplication::mouseButtons() & Qt::LeftButton))
            Checkpoint();
    };
    // As a window taking the focus does: active again, with the control that
    // had the focus keeping it. Moving the focus while a key is on its way up
    // through the controls would let the window see that key twice.
    hooks.FocusMain = [this] {
        activateWindow();
        QWidget* focused = QApplication::focusWidget();
        if (!focused || focused->window() != this)
            setFocus();
    };
    hooks.MainTopLeft = [this] { return frameGeometry().topLeft(); };
    hooks.ImagePanelWidth = [this] { return PanelImage->width(); };
    return hooks;
}

void TFormCrop::ShowToolbar()
{
    if (!FormTBack)
        return;
    // The toolbar works on whichever main window shows it.
    FormTBack->SetHooks(ToolbarHooks());
    FormTBack->show();
    GlueToolbar();
}

void TFormCrop::RotateViewFromBackBuffer(int32_t Degs)
{
    RotateViewLive(Degs, false);
    // Read at once: the whole turn is made here.
    (void)ZSImage->OrigBitmap();
}

void TFormCrop::RotateViewLive(int32_t Degs, bool Whole)
{
    // The copy must be of the picture on show: turning a copy left from an
    // earlier picture would replace the picture the user is framing.
    const QSize shown = ZSImage->SourceSize();
    if (BmpBackBuffer.isNull() || shown.isEmpty() || BmpBackBuffer.size() != shown)
        return;
    if (!FLiveRotation)
        FLiveRotation = std::make_shared<TLiveRotation>(this, kRotationBackground, kRotationThreads);
    TLiveRotation* live = FLiveRotation.get();
    const QImage source = BmpBackBuffer;
    // A turn still under way is of an angle the user has left.
    live->Cancel();
    if (Degs % 360 == 0) {
        live->Keep(ZSImage->SetPendingSource(source, {}));
        ZSImage->ReplaceSource(source, true);
        return;
    }
    TZSImage::TPendingSource pending;
    pending.Settle = [live, source, Degs] { return live->Finish(source, Degs); };
    pending.Drop = [live] { live->Release(); };
    live->Keep(ZSImage->SetPendingSource(source, std::move(pending)));
    ZSImage->PreviewSource([live, source, Degs](const TRect& span, int k, QImage& out) {
        live->Preview(source, Degs, QRect(span.Left, span.Top, span.Right - span.Left, span.Bottom - span.Top), k,
                      out);
    });
    if (Whole) {
        TZSImage* view = ZSImage;
        live->Start(source, Degs, [view](const QImage& turned) { view->ReplaceSource(turned, true); });
    }
}

void TFormCrop::RotateBitmapGDIP(QImage& Bmp, int32_t Degs, bool AdjustSize, TColor BkColor)
{
    ::RotateBitmapGDIP(Bmp, Degs, AdjustSize, BkColor, kRotationThreads);
}
