// Undo and redo: the window's state is recorded after each user action that
// changed it (a frame placed or moved, a turn, a slider, a crop), and a step
// back puts the view, the frame, the mode, the angle, the sliders and both
// slots exactly as they were.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Status.h"
#include "app/U_Cropping_Undo.h"

#include "retouch/OrImage.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace {
TSlotState SlotState(const TOrImage* slot, const QImage& buffer, const TImage* placeholder)
{
    TSlotState s;
    s.Buffer = buffer;
    s.Brightness = slot->PicBrightness();
    s.Contrast = slot->PicContrast();
    s.Lightness = slot->PicLightness();
    s.Saturation = slot->PicSaturation();
    s.Sharpness = slot->Tag();
    s.Placeholder = placeholder->isVisible();
    return s;
}

TWindowState Capture(const TFormCrop& f)
{
    TWindowState s;
    TzsiSelection* sel = f.ZSImage->Selection();
    s.Picture = f.BmpBackBuffer.isNull() ? f.ZSImage->OrigBitmap().cacheKey() : f.BmpBackBuffer.cacheKey();
    s.Mode = sel->SelectionRatio;
    s.Type = sel->SelectionType;
    s.Activated = sel->Activated();
    s.Stretch = f.ZSImage->StretchFactor();
    s.Shown = f.ZSImage->OrigBitmapRect();
    s.HasFrame = sel->SelectionExist();
    s.Frame = sel->GetSelRect();
    s.Angle = f.gradiRot;
    s.Foto = SlotState(f.OrImageFoto, f.BmpFotoBuffer1, f.ImgFoto);
    s.Firma = SlotState(f.OrImageFirma, f.BmpFirmaBuffer1, f.ImgFirma);
    s.SaveText = f.BtSaveImg->text();
    s.SaveEnabled = f.BtSaveImg->isEnabled();
    return s;
}
} // namespace

void TFormCrop::Checkpoint()
{
    if (FRestoring || !Undo || !ZSImage || ViewEmpty())
        return;
    const TWindowState now = Capture(*this);
    // Another picture (a new file, a scan, a zoom that took in the turn) makes
    // the earlier steps meaningless: they would frame a picture no longer shown.
    if (Undo->HasCurrent && Undo->Current.Picture != now.Picture)
        Undo->Clear();
    if (!Undo->HasCurrent || Undo->Current != now)
        Undo->Record(now);
}

static void RestoreSlot(TFormCrop& f, TOrImage* slot, QImage& buffer, TImage* placeholder, const TSlotState& s)
{
    buffer = s.Buffer;
    if (!buffer.isNull())
        slot->SetPictureOriginal(buffer.copy());
    slot->SetBrightness(s.Brightness);
    slot->SetContrast(s.Contrast);
    slot->SetLightness(s.Lightness);
    slot->SetSaturation(s.Saturation);
    slot->SetTag(s.Sharpness);
    placeholder->setVisible(s.Placeholder);
    (void)f;
}

bool TFormCrop::UndoStep()
{
    Checkpoint();
    if (!Undo || Undo->Back.empty()) {
        if (Status)
            Status->ShowMessage(QStringLiteral("Niente da annullare"));
        return false;
    }
    Undo->Forward.push_back(Undo->Current);
    Undo->Current = Undo->Back.back();
    Undo->Back.pop_back();
    FRestoring = true;
    RunRestore();
    FRestoring = false;
    UpdateStatus();
    return true;
}

bool TFormCrop::RedoStep()
{
    Checkpoint();
    if (!Undo || Undo->Forward.empty()) {
        if (Status)
            Status->ShowMessage(QStringLiteral("Niente da ripetere"));
        return false;
    }
    Undo->Back.push_back(Undo->Current);
    Undo->Current = Undo->Forward.back();
    Undo->Forward.pop_back();
    FRestoring = true;
    RunRestore();
    FRestoring = false;
    UpdateStatus();
    return true;
}

void TFormCrop::RunRestore()
{
    const TWindowState& s = Undo->Current;
    TzsiSelection* sel = ZSImage->Selection();
    sel->Deselect();

    if (gradiRot != s.Angle) {
        gradiRot = s.Angle;
        RotateViewFromBackBuffer(gradiRot);
    }
    sel->SelectionType = s.Type;
    sel->SetActivated(s.Activated);
    ZSImage->SetStretchFactor(s.Stretch);
    if (s.Stretch != 0)
        ZSImage->StretchImage(TPoint((s.Shown.Right - s.Shown.Left + 1) / 2 + s.Shown.Left,
                                     (s.Shown.Bottom - s.Shown.Top + 1) / 2 + s.Shown.Top));
    else
        ZSImage->StretchImage();
    if (FormTBack)
        FormTBack->ImgLensUpdate();

    // Each slot is retouched through the sliders while its own mode is set,
    // so its sharpening is made again from its crop as a slider would make it.
    RestoreSlot(*this, OrImageFoto, BmpFotoBuffer1, ImgFoto, s.Foto);
    RestoreSlot(*this, OrImageFirma, BmpFirmaBuffer1, ImgFirma, s.Firma);
    sel->SelectionRatio = srFirma;
    LoadSlidersFromSlot(OrImageFirma, BmpFirmaBuffer1);
    sel->SelectionRatio = srFoto;
    LoadSlidersFromSlot(OrImageFoto, BmpFotoBuffer1);
    sel->SelectionRatio = s.Mode;
    SetFrameColors(s.Mode);
    if (s.Mode == srFoto || s.Mode == srFirma) {
        LoadSlidersFromSlot(s.Mode == srFoto ? OrImageFoto : OrImageFirma,
                            s.Mode == srFoto ? BmpFotoBuffer1 : BmpFirmaBuffer1);
    } else {
        for (int i = 0; i < 5; ++i) {
            Slider(i)->setValue(0);
            Slider(i)->setEnabled(false);
        }
    }
    ShowSliderValues();

    if (s.HasFrame) {
        const TRect r = NormalizeRect(s.Frame);
        sel->SetSelRect(s.Frame);
        ZSImageSelectionMouseDown(mbLeft, 0, r.Left, r.Top);
        MakeMaskPaint();
    }
    BtSaveImg->setText(s.SaveText);
    BtSaveImg->setEnabled(s.SaveEnabled);
    ZSImage->update();
}
