// The image list: choosing or dropping files, showing the first one, and the
// reset button that brings the list (or the last scan) back.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Startup.h"

#include "config/U_Options.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"
#include "view/ZSImage_SlideShow.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

namespace {
// Restores the screen cursor however the work in between ends.
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

QStringList LocalFilesOf(const QMimeData* data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (QFileInfo(path).isFile())
            files << path;
    }
    return files;
}
} // namespace

int TFormCrop::ImageListCount() const
{
    return ZSImage->SlideShow()->List()->Count();
}

void TFormCrop::SetImageList(const QStringList& files)
{
    ZSImage->SlideShow()->List()->Assign(files);
}

void TFormCrop::LoadImage()
{
    setFocus();
    UpdatePreviewBw();
    if (ImageListCount() >= 1) {
        ZSImage->SetDefaultCursor(1);
        ZSImage->ChangeCursor(1);
        TWaitCursor wait;
        ZSImage->Selection()->Deselect();
        // The guide goes first: the view may show a quick reduced copy while
        // the whole picture is still being read. A reader that fails with an
        // error ends the load here, guide back as it was; the error goes to the user.
        const bool guideShown = PanelLogo->isVisible();
        PanelLogo->hide();
        try {
            ZSImage->SlideShow()->ShowImage(0, 1, 0);
        } catch (...) {
            PanelLogo->setVisible(guideShown);
            throw;
        }
        ImpostaZoom(0);
        ZSImage->Selection()->SelectionRatio = srNone;
    }
    PanelLogo->hide();
    BtResetImg->setEnabled(true);
    BtResetDisGlyph->hide();
    if (FormTBack && FormTBack->isVisible())
        FormTBack->hide();
    UpdateTitle();
    UpdateStatus();
    Checkpoint();
    StartPageAnalysis();
}

void TFormCrop::LoadImageFiles(const QStringList& files)
{
    if (files.isEmpty())
        return;
    SetImageList(files);
    LoadImage();
}

void TFormCrop::BtLoadImagesClick()
{
    LoadImageFiles(ChoosePictureFiles());
}

QStringList TFormCrop::DefaultChoosePictureFiles()
{
    const QString folder = !FDialogFolder.isEmpty() ? FDialogFolder : OptFlsPicPath();
    const QString filter = QStringLiteral(
        "Immagini (*.jpg *.jpeg *.jpe *.tif *.tiff *.png *.gif *.bmp *.wmf *.emf *.ico *.webp);;Tutti i file (*)");
    const QStringList files = QFileDialog::getOpenFileNames(this, QStringLiteral("Apri immagini"), folder, filter);
    // The next dialog opens where the user last picked, no longer in the pictures folder.
    if (!files.isEmpty())
        FDialogFolder = QFileInfo(files.constFirst()).absolutePath();
    return files;
}

void TFormCrop::CheckImgageReset()
{
    if (ImageListCount() >= 1) {
        BtResetImg->setEnabled(true);
    } else {
        BtResetImg->setEnabled(false);
        const QString scan = OptAcqImgFile();
        if (Options() && !scan.isEmpty() && QFileInfo(scan).isFile()) {
            SetImageList(QStringList{scan});
            BtResetImg->setEnabled(true);
        }
        BtSaveImg->setEnabled(ZSImage->Selection()->SelectionExist() && !ViewEmpty());
    }
    BtResetDisGlyph->setVisible(!BtResetImg->isEnabled());
}

void TFormCrop::BtResetImgClick()
{
    PrimoAvvioFoto = true;
    PrimoAvvioFirma = true;
    if (ViewEmpty()) {
        ZSImage->SetDefaultCursor(crDefault);
        ZSImage->ChangeCursor(crDefault);
        CheckImgageReset();
        LoadImage();
        return;
    }
    const TzsiFixSelectionRatio m = Mode();
    SeletionFixMode(srNone, false);
    LoadImage();
    // Only the frame colours show the old mode; the next click on the view resumes it.
    SeletionFixMode(m, true);
    ZSImage->Selection()->SelectionRatio = srNone;
}

void TFormCrop::dragEnterEvent(QDragEnterEvent* e)
{
    if (!LocalFilesOf(e->mimeData()).isEmpty())
        e->acceptProposedAction();
}

void TFormCrop::dropEvent(QDropEvent* e)
{
    const QStringList files = LocalFilesOf(e->mimeData());
    if (files.isEmpty())
        return;
    e->acceptProposedAction();
    RunGuarded([&] { LoadImageFiles(files); });
}
