// The five retouch sliders, the black-and-white preview of the photo and the
// reset of a slot's retouch.
//
// The four colour sliders only set parameters of the slot's picture control,
// which renders from the slot's source. Sharpness is ours: positive levels
// sharpen the source itself, always starting again from the unsharpened crop
// kept in the slot's buffer, so changing the level never sharpens twice.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Pixels.h"
#include "app/U_Cropping_Startup.h"

#include "config/U_Options.h"
#include "retouch/OrImage.h"
#include "view/ZSImage.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>

namespace {
// Which of the slot's colour properties a slider drives.
using TSlotSetter = void (TOrImage::*)(int);
} // namespace

void TFormCrop::ConnectSliders()
{
    auto colour = [this](QSlider* slider, void (TFormCrop::*handler)()) {
        connect(slider, &QSlider::valueChanged, this,
                [this, handler](int) { RunGuarded([&] { (this->*handler)(); }); });
    };
    colour(pBarLight, &TFormCrop::pBarLightChange);
    colour(pBarContr, &TFormCrop::pBarContrChange);
    colour(pBarDark, &TFormCrop::pBarDarkChange);
    colour(pBarColor, &TFormCrop::pBarColorChange);
    colour(pBarSharpness, &TFormCrop::pBarSharpnessChange);
}

TOrImage* TFormCrop::RetouchSlot(QImage** buffer)
{
    const TzsiFixSelectionRatio mode = Mode();
    if (mode == srFoto) {
        if (buffer)
            *buffer = &BmpFotoBuffer1;
        return OrImageFoto;
    }
    if (mode == srFirma) {
        if (buffer)
            *buffer = &BmpFirmaBuffer1;
        return OrImageFirma;
    }
    return nullptr;
}

void TFormCrop::ColourSliderChange(QSlider* slider, QLabel* label, void (TOrImage::*setter)(int))
{
    if (TOrImage* slot = RetouchSlot()) {
        (slot->*setter)(slider->value());
        slot->UpdateEffects();
    }
    label->setText(QString::number(slider->value()));
    if (slider->hasFocus())
        UpdatePreviewBw();
}

void TFormCrop::pBarLightChange()
{
    ColourSliderChange(pBarLight, LbLigh, static_cast<TSlotSetter>(&TOrImage::SetBrightness));
}

void TFormCrop::pBarContrChange()
{
    ColourSliderChange(pBarContr, Lbcont, static_cast<TSlotSetter>(&TOrImage::SetContrast));
}

void TFormCrop::pBarDarkChange()
{
    ColourSliderChange(pBarDark, LbDark, static_cast<TSlotSetter>(&TOrImage::SetLightness));
}

void TFormCrop::pBarColorChange()
{
    ColourSliderChange(pBarColor, LbColo, static_cast<TSlotSetter>(&TOrImage::SetSaturation));
}

void TFormCrop::pBarSharpnessChange()
{
    QImage* buffer = nullptr;
    if (TOrImage* slot = RetouchSlot(&buffer)) {
        QImage& B = *buffer;
        const int brightness = slot->PicBrightness();
        const int contrast = slot->PicContrast();
        const int saturation = slot->PicSaturation();
        const int lightness = slot->PicLightness();
        int softening = 0;
        slot->ResetEffects();
        // The source is sharpened: start again from the unsharpened crop.
        if (slot->Tag() >= 1 && slot->Tag() <= 3 && !B.isNull())
            slot->SetPictureOriginal(B.copy());

        const int p = pBarSharpness->value();
        if (p >= -3 && p <= -1) {
            softening = -p;
        } else if (p >= 1 && p <= 3) {
            // Before the first crop of this kind there is nothing to sharpen: the
            // level is only recorded, and the crop applies it when it arrives.
            const QImage& shown = slot->Picture()->Graphic();
            if (slot->Picture()->HasGraphic() && !shown.isNull()) {
                B = shown.copy();
                QImage sharpened;
                Sharpen(B, sharpened, static_cast<float>(p + 1));
                slot->SetPictureOriginal(sharpened);
            }
        } else {
            if (!B.isNull())
                slot->SetPictureOriginal(B.copy());
            pBarSharpness->setValue(0);
        }

        slot->SetTag(p);
        slot->SetBrightness(brightness);
        slot->SetContrast(contrast);
        slot->SetSaturation(saturation);
        slot->SetLightness(lightness);
        slot->SetAntiAlias(softening);
        slot->UpdateEffects();
    }
    LbShar->setText(QString::number(pBarSharpness->value()));
    if (pBarSharpness->hasFocus())
        UpdatePreviewBw();
}

void TFormCrop::UpdatePreviewBw()
{
    bool sliderFocused = false;
    for (int i = 0; i < 5; ++i)
        sliderFocused = sliderFocused || Slider(i)->hasFocus();
    const TOrPicture* shown = OrImageFoto->Picture();
    const bool show = Options() && Options()->CkFotoPreviewBw->isChecked() && shown->HasGraphic() &&
                      !shown->Graphic().isNull() && Mode() == srFoto && ZSImage->Selection()->SelectionExist() &&
                      sliderFocused;
    if (!show) {
        PanelPreviewBw->hide();
        return;
    }
    QImage grey = shown->Graphic().copy();
    ConvertToGrayscale(grey);
    ImgPreviewBw->SetPicture(grey);
    PanelPreviewBw->show();
    PanelPreviewBw->raise();
}

void TFormCrop::ResetSlotRetouch(TOrImage* slot, const QImage& buffer)
{
    slot->ResetEffects();
    if (!buffer.isNull())
        slot->SetPictureOriginal(buffer.copy());
    slot->ResetEffects();
    slot->SetTag(0);
    for (int i = 0; i < 5; ++i) {
        Slider(i)->setEnabled(true);
        Slider(i)->setValue(0);
    }
    for (int i = 0; i < 5; ++i)
        SliderLabel(i)->setText(QStringLiteral("0"));
    UpdatePreviewBw();
}

void TFormCrop::OrImageFotoReset()
{
    ResetSlotRetouch(OrImageFoto, BmpFotoBuffer1);
}

void TFormCrop::OrImageFirmaReset()
{
    ResetSlotRetouch(OrImageFirma, BmpFirmaBuffer1);
}

void TFormCrop::OrImageFotoMouseDown(Qt::MouseButton Button)
{
    if (Button == Qt::RightButton && Mode() == srFoto)
        OrImageFotoReset();
}

void TFormCrop::OrImageFirmaMouseDown(Qt::MouseButton Button)
{
    if (Button == Qt::RightButton && Mode() == srFirma)
        OrImageFirmaReset();
}
