// Creating the view and the slots and wiring their events; the options as the
// workflow reads them; commands whose work lies with other windows; and the
// points where retouching, stored values, saving and scanning join the window.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Startup.h"

#include "config/U_Options.h"
#include "retouch/OrImage.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

void TFormCrop::CreateView()
{
    ZSImage = new TZSImage(PanelImage);
    ZSImage->setObjectName(QStringLiteral("ZSImage"));
    ZSImage->setGeometry(0, 0, PanelImage->width(), PanelImage->height());
    ZSImage->SetBkgColor(Color);
    ZSImage->SetMargin(20);
    ZSImage->SetBorderWidth(1);
    ZSImage->SetBorderColor(clGray);
    ZSImage->SetKeyToScroll(32);
    ZSImage->SetMagnifierActivated(false);
    ZSImage->SetMagnifierCursor(1);
    ZSImage->OnSlideShowEffect = nullptr;
    // Every handler runs guarded: an error is shown and the view carries on.
    ZSImage->OnClick = [this](QObject*) { RunGuarded([this] { ZSImageClick(); }); };
    ZSImage->OnSelectionMouseDown = [this](TMouseButton b, TShiftState s, int32_t x, int32_t y) {
        RunGuarded([&] { ZSImageSelectionMouseDown(b, s, x, y); });
    };
    ZSImage->OnSelectionMouseUp = [this](TMouseButton b, TShiftState s, int32_t x, int32_t y) {
        RunGuarded([&] { ZSImageSelectionMouseUp(b, s, x, y); });
    };
    ZSImage->OnSelectionMouseMove = [this](TShiftState s, int32_t x, int32_t y) {
        RunGuarded([&] { ZSImageSelectionMouseMove(s, x, y); });
    };
    ZSImage->OnSelectionChange = [this](QObject*) { RunGuarded([this] { ZSImageSelectionChange(); }); };

    TzsiSelection* sel = ZSImage->Selection();
    sel->SetCursorOnDrawSel(2);
    sel->CursorOnScrollUp = 4;
    sel->CursorOnScrollDown = 5;
    sel->SelectionType = stResizeable;
    sel->SetSelectionForm(sfRectangle);
    sel->SelectionRatio = srNone;
    sel->FixFotoW = 259;
    sel->FixFotoH = 314;
    sel->FixFirmaW = 235;
    sel->FixFirmaH = 46;
    sel->SetActivated(false);

    AskConfirmation = [this](const QString& text) { return AskYesNo(this, text); };
    ChoosePictureFiles = [this] { return DefaultChoosePictureFiles(); };
}

void TFormCrop::CreateSlotControls()
{
    OrImageFoto = new TOrImage(PanelImgs);
    OrImageFoto->setObjectName(QStringLiteral("OrImageFoto"));
    OrImageFoto->setGeometry(13, 4, 260, 315);
    OrImageFirma = new TOrImage(PanelImgs);
    OrImageFirma->setObjectName(QStringLiteral("OrImageFirma"));
    OrImageFirma->setGeometry(25, 334, 236, 47);
    // The placeholders lie over the slots until the first crop of each kind.
    ImgFoto->raise();
    ImgFirma->raise();

    auto guarded = [](std::function<void()> fn) { return [fn] { RunGuarded(fn); }; };
    connect(OrImageFoto, &TOrImage::OnClick, this, guarded([this] { OrImageFotoClick(); }));
    connect(OrImageFirma, &TOrImage::OnClick, this, guarded([this] { OrImageFirmaClick(); }));
    ImgFoto->OnClick = guarded([this] { OrImageFotoClick(); });
    ImgFirma->OnClick = guarded([this] { OrImageFirmaClick(); });
    connect(OrImageFoto, &TOrImage::OnMouseDown, this,
            [this](TOrImage*, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
                RunGuarded([this, b] { OrImageFotoMouseDown(b); });
            });
    connect(OrImageFirma, &TOrImage::OnMouseDown, this,
            [this](TOrImage*, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
                RunGuarded([this, b] { OrImageFirmaMouseDown(b); });
            });
}

TFormCropHooks TFormCrop::OptionsHooks()
{
    TFormCropHooks hooks;
    hooks.CheckImgageReset = [this] { RunGuarded([this] { CheckImgageReset(); }); };
    hooks.UpdateOutButton = [this] { RunGuarded([this] { UpdateOutButton(); }); };
    hooks.HidePanelPreviewBw = [this] { PanelPreviewBw->hide(); };
    hooks.MakeMaskPaint = [this] { RunGuarded([this] { MakeMaskPaint(); }); };
    hooks.SetOpenDialogFolder = [this](const QString& folder) { FDialogFolder = folder; };
    hooks.SelectScanner = [this] { return SelectScannerForOptions(); };
    return hooks;
}

// --- options ------------------------------------------------------------------

TFormOptions* TFormCrop::Options() const
{
    // While the options window is being created it already calls this window
    // (CheckImgageReset), before the global that will hold it is set.
    if (FormOptions)
        return FormOptions;
    return findChild<TFormOptions*>(QString(), Qt::FindDirectChildrenOnly);
}

bool TFormCrop::OptCropMouseUp() const
{
    return Options() && Options()->CkCropMouseUp->isChecked();
}

bool TFormCrop::OptMinSizeSel() const
{
    return Options() && Options()->CkMinSizeSel->isChecked();
}

bool TFormCrop::OptStoreSelections() const
{
    return Options() && Options()->CkStoreSelections->isChecked();
}

bool TFormCrop::OptStoreEditSliders() const
{
    return Options() && Options()->CkStoreEditSliders->isChecked();
}

bool TFormCrop::OptFirmaStartDefault() const
{
    return Options() && Options()->RbFirmaStartDefault->isChecked();
}

bool TFormCrop::OptFirmaGrayscale() const
{
    return Options() && Options()->CkFirmaGrayscale->isChecked();
}

QString TFormCrop::OptAcqImgFile() const
{
    return Options() ? Options()->AcqImgFile : QString();
}

QString TFormCrop::OptFlsPicPath() const
{
    return Options() ? Options()->FlsPicPath : QString();
}

QString TFormCrop::ManualFileName() const
{
    if (Options() && !Options()->PdfFilName.isEmpty())
        return Options()->PdfFilName;
    return ManualPath();
}

// --- commands -----------------------------------------------------------------

void TFormCrop::BtOptionsClick()
{
    if (TFormOptions* options = Options())
        options->exec();
}

void TFormCrop::BtExitClick()
{
    close();
}
