// Crop modes: zoom steps, placing the photo or signature frame, the clicks
// that choose a mode, and the selection events that drive the save button.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Status.h"

#include "platform/Rounding.h"
#include "retouch/OrImage.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"
#include "view/ZSImage_Geometry.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace {
constexpr TColor kLightGrey = 0xE0E0E0;

// Photo and signature frames at zoom 1, one pixel less than the slot sizes.
constexpr int kFixFotoW = 259;
constexpr int kFixFotoH = 314;
constexpr int kFixFirmaW = 235;
constexpr int kFixFirmaH = 46;

bool HasPicture(const TOrImage* slot)
{
    return slot && slot->Picture()->HasGraphic() && !slot->Picture()->Graphic().isNull();
}
} // namespace

TzsiFixSelectionRatio TFormCrop::Mode() const
{
    return ZSImage->Selection()->SelectionRatio;
}

bool TFormCrop::ViewEmpty() const
{
    // Asked everywhere, also in the middle of a turn: never waits for it.
    return ZSImage->SourceSize().isEmpty();
}

void TFormCrop::SetFrameColors(TzsiFixSelectionRatio mode)
{
    ShapeFoto->SetPenColor(mode == srFoto ? clProgramGreen : kLightGrey);
    ShapeFirma->SetPenColor(mode == srFirma ? clProgramGreen : kLightGrey);
}

void TFormCrop::ImpostaZoom(int scala)
{
    TzsiSelection* sel = ZSImage->Selection();
    if (sel->SelectionExist())
        sel->Deselect();
    if (ViewEmpty())
        return;
    // Fit mode shows the whole picture and has no frame.
    sel->SetActivated(scala != 0);
    ZSImage->SetStretchFactor(scala * 0.25);
    if (FormTBack)
        FormTBack->ImgLensUpdate();
    // Shares the pixels until one side changes them: a 100 MB scan is not copied per zoom step.
    BmpBackBuffer = ZSImage->OrigBitmap();
    gradiRot = 0;
    UpdateStatus();
}

void TFormCrop::SeletionFixMode(TzsiFixSelectionRatio mode, bool keepView)
{
    TzsiSelection* sel = ZSImage->Selection();
    setFocus();
    UpdatePreviewBw();
    sel->Deselect();
    sel->SelectionRatio = mode;

    // The frame's size follows the zoom on screen before any change below.
    const double s = ZSImage->GetScale();
    int w = 0;
    int h = 0;
    if (mode == srFoto) {
        w = static_cast<int>(Round(sel->FixFotoW * s));
        h = static_cast<int>(Round(sel->FixFotoH * s));
    } else if (mode == srFirma) {
        w = static_cast<int>(Round(sel->FixFirmaW * s));
        h = static_cast<int>(Round(sel->FixFirmaH * s));
    }
    SetFrameColors(mode);
    if (ViewEmpty() || keepView)
        return;

    if (mode == srFoto || mode == srFirma) {
        ImpostaZoom(4);
        sel->SelectionType = OptMinSizeSel() ? stResizeableMin : stResizeable;
    } else if (mode == srFree) {
        ImpostaZoom(0);
        sel->SelectionType = stResizeable;
    } else {
        ImpostaZoom(0);
        sel->SelectionType = stNotResizeable;
    }
    int x = ZSImage->width() / 2 - w / 2;
    int y = ZSImage->height() / 2 - h / 2;

    const bool stored = (mode == srFoto && OrImageFoto->PictureOriginal()->HasGraphic() && !PrimoAvvioFoto) ||
                        (mode == srFirma && OrImageFirma->PictureOriginal()->HasGraphic() && !PrimoAvvioFirma);
    if (OptStoreSelections() && stored) {
        TRect shown, frame;
        double zoom = 0;
        if (LeggiSelezioneIni(mode, shown, zoom, frame)) {
            x = frame.Left;
            y = frame.Top;
            w = frame.Right - frame.Left;
            h = frame.Bottom - frame.Top;
            ZSImage->SetStretchFactor(zoom);
            ZSImage->StretchImage(TPoint((shown.Right - shown.Left + 1) / 2 + shown.Left,
                                         (shown.Bottom - shown.Top + 1) / 2 + shown.Top));
        }
    }

    if (w > 0 && mode != srNone) {
        sel->SetSelRect(TRect(x, y, x + w, y + h));
        // The frame is "drawn" by the same handlers a press and a drag would run.
        ZSImageSelectionMouseDown(mbLeft, 0, x, y);
        ZSImageSelectionMouseMove(ssLeft, x + w, y + h);
        QCoreApplication::processEvents();
        MakeMaskPaint();
        ShowToolbar();
        ZSImage->setFocus();

        if (mode == srFoto)
            LoadSlidersFromSlot(OrImageFoto, BmpFotoBuffer1);
        else if (mode == srFirma)
            LoadSlidersFromSlot(OrImageFirma, BmpFirmaBuffer1);
        else {
            for (int i = 0; i < 5; ++i) {
                Slider(i)->setValue(0);
                Slider(i)->setEnabled(false);
            }
            OrImageFoto->SetTag(0);
            OrImageFirma->SetTag(0);
        }
        ShowSliderValues();
    }
    UpdateOutButton();
    UpdateStatus();
    // A frame placed by a click, a key or a stored selection is one step.
    Checkpoint();
}

void TFormCrop::LoadSlidersFromSlot(TOrImage* slot, const QImage& buffer)
{
    if (!buffer.isNull())
        slot->SetPictureOriginal(buffer.copy());
    // Each change of position runs the slider's handler on the mode just set.
    pBarLight->setValue(slot->PicBrightness());
    pBarContr->setValue(slot->PicContrast());
    pBarDark->setValue(slot->PicLightness());
    pBarColor->setValue(slot->PicSaturation());
    pBarSharpness->setValue(slot->Tag());
    for (int i = 0; i < 5; ++i)
        Slider(i)->setEnabled(true);
    pBarSharpnessChange();
}

void TFormCrop::ShowSliderValues()
{
    for (int i = 0; i < 5; ++i)
        SliderLabel(i)->setText(QString::number(Slider(i)->value()));
}

void TFormCrop::OrImageFotoClick()
{
    ImpostaZoom(4);
    SeletionFixMode(srFoto, false);
}

void TFormCrop::OrImageFirmaClick()
{
    ImpostaZoom(4);
    SeletionFixMode(srFirma, false);
}

void TFormCrop::ZSImageClick()
{
    if (ViewEmpty() || Mode() == srFoto || Mode() == srFirma)
        return;
    const TPoint c = ZSImage->GetCoordinates();
    ZSImage->Selection()->SelectionType = stResizeable;
    ZSImage->SetStretchFactor(1);
    ZSImage->StretchImage(c);
    TzsiFixSelectionRatio mode;
    if (ShapeFoto->PenColor() == kLightGrey && ShapeFirma->PenColor() == kLightGrey)
        mode = OptFirmaStartDefault() ? srFirma : srFoto;
    else
        mode = ShapeFoto->PenColor() == clProgramGreen ? srFoto : srFirma;
    SeletionFixMode(mode, false);
}

void TFormCrop::MakeMaskPaint()
{
    TzsiSelection* sel = ZSImage->Selection();
    if (!sel->SelectionExist())
        return;
    sel->MaskPaint(NormalizeRect(sel->GetSelRect()), 200);
    if (FormTBack)
        FormTBack->ImgRotateMouseUp(mbRight, 0, 0, 0);
}

void TFormCrop::UpdateOutButton()
{
    if (!OptCropMouseUp())
        BtSaveImg->setText(QStringLiteral("RITAGLIA"));
    else if (Mode() == srFoto)
        BtSaveImg->setText(QStringLiteral("SALVA FOTO"));
    else if (Mode() == srFirma)
        BtSaveImg->setText(QStringLiteral("SALVA FIRMA"));
    else
        BtSaveImg->setText(QString());
    BtSaveImg->setEnabled(ZSImage->Selection()->SelectionExist());
}

void TFormCrop::ZSImageSelectionChange()
{
    if (!OptCropMouseUp())
        BtSaveImg->setText(QStringLiteral("RITAGLIA"));
    TRect picture, view;
    BtSaveImg->setEnabled(ZSImage->GetSelection(picture, view));
    // After an automatic crop the slot can be saved although the frame is gone.
    if (OptCropMouseUp() && BtSaveImg->text().left(5) == QLatin1String("SALVA")) {
        if (Mode() == srFoto)
            BtSaveImg->setEnabled(HasPicture(OrImageFoto));
        else if (Mode() == srFirma)
            BtSaveImg->setEnabled(HasPicture(OrImageFirma));
    }
    UpdateStatus();
}

void TFormCrop::ZSImageSelectionMouseDown(TMouseButton, TShiftState Shift, int X, int Y)
{
    if (ZSImage->Grid) {
        ZSImage->Grid = false;
        ZSImage->StretchImage();
    }
    if (PanelPreviewBw->isVisible()) {
        setFocus();
        PanelPreviewBw->hide();
        QCoreApplication::processEvents();
        MakeMaskPaint();
    }
    ZSImageSelectionMouseMove(Shift, X, Y);
}

void TFormCrop::ZSImageSelectionMouseMove(TShiftState Shift, int X, int Y)
{
    // The centre is the picture pixel under the pointer: the view position itself
    // would re-centre on an unrelated part of the picture whenever it is zoomed or scrolled.
    if (Shift & ssRight)
        ZSImage->StretchImage(CoordinatesAt(TPoint(X, Y), ZSImage->GetScale(), ZSImage->CanvasBitmapRect(),
                                            ZSImage->OrigBitmapRect()));
    else
        ZSImageSelectionChange();
}

void TFormCrop::ZSImageSelectionMouseUp(TMouseButton, TShiftState, int, int)
{
    if (!ZSImage->Selection()->SelectionExist())
        return;
    MakeMaskPaint();
    if (OptCropMouseUp())
        BtMakeCropClick();
    UpdateStatus();
    Checkpoint();
}
