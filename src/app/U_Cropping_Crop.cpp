// Cutting the framed area out of the view's picture into a slot.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Pixels.h"

#include "retouch/OrImage.h"
#include "view/ZSImage.h"

void TFormCrop::BtMakeCropClick()
{
    const TzsiFixSelectionRatio mode = Mode();
    if (ImgFoto->isVisible() && mode == srFoto)
        ImgFoto->hide();
    if (ImgFirma->isVisible() && mode == srFirma)
        ImgFirma->hide();
    TzsiSelection* sel = ZSImage->Selection();
    if (!sel->SelectionExist())
        return;

    if (mode == srFoto) {
        CropAndResizeFoto();
    } else if (mode == srFirma) {
        CropAndResizeFirma();
    } else {
        // Without a slot the view's own picture is trimmed to the frame.
        ZSImage->ResizeImage();
        sel->Deselect();
    }
    if (OptStoreEditSliders() && ((mode == srFoto && PrimoAvvioFoto) || (mode == srFirma && PrimoAvvioFirma)))
        LeggiRitoccoIni(mode);
    pBarSharpnessChange();
    ScriviSelezioneIni();
    // The first crop of a kind fills a slot that was empty while the frame was
    // drawn: the save button must follow now, not at the next mouse move.
    ZSImageSelectionChange();
}

bool TFormCrop::CropAndResizeFoto()
{
    TRect area, onView;
    if (ViewEmpty() || !ZSImage->GetSelection(area, onView))
        return false;
    const QImage out = CropAndResizeFotoPixels(CopyArea(ZSImage->OrigBitmap(), area));
    if (out.isNull())
        return false;
    BmpFotoBuffer1 = out;
    OrImageFoto->SetPictureOriginal(BmpFotoBuffer1.copy());
    return OrImageFoto->PictureOriginal()->HasGraphic();
}

bool TFormCrop::CropAndResizeFirma()
{
    TRect area, onView;
    if (ViewEmpty() || !ZSImage->GetSelection(area, onView))
        return false;
    const QImage out = CropAndResizeFirmaPixels(CopyArea(ZSImage->OrigBitmap(), area), OptFirmaGrayscale(),
                                                OrImageFirma->width(), OrImageFirma->height());
    if (out.isNull())
        return false;
    BmpFirmaBuffer1 = out;
    OrImageFirma->SetPictureOriginal(BmpFirmaBuffer1.copy());
    return OrImageFirma->PictureOriginal()->HasGraphic();
}
