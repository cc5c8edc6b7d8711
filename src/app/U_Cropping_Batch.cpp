// "Elabora cartella…": every picture of a folder (or of the image list, when
// it holds several files) cut into its photo and signature files by the batch,
// with a progress window, and a review from which a page opens in this window.

#include "app/U_Cropping.h"
#include "app/U_Cropping_BatchDialogs.h"
#include "app/U_Cropping_Startup.h"

#include "batch/Batch.h"
#include "jpegmeta/SafeFile.h"
#include "config/U_Options.h"
#include "config/U_Savecfg.h"
#include "retouch/OrImage.h"
#include "view/ZSImage.h"
#include "view/ZSImage_SlideShow.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>

#include <thread>

namespace {

TBatchRetouch SlotRetouch(const TOrImage* slot)
{
    TBatchRetouch r;
    r.Brightness = slot->PicBrightness();
    r.Contrast = slot->PicContrast();
    r.Lightness = slot->PicLightness();
    r.Saturation = slot->PicSaturation();
    r.Sharpness = slot->Tag();
    return r;
}

// How many pages would write over a file already there.
int CountCollisions(const QStringList& files, const QString& outFolder)
{
    int n = 0;
    for (const QString& f : files) {
        const QString p = outFolder + BatchPrefix(f);
        if (QFileInfo::exists(p + QStringLiteral("Foto.jpg")) || QFileInfo::exists(p + QStringLiteral("Firma.jpg")))
            ++n;
    }
    return n;
}

} // namespace

void TFormCrop::InstallBatchCommand()
{
    // The key B, which no other command uses, and an entry on the FILE
    // button's menu (right click), next to loading single files.
    auto* key = new QShortcut(QKeySequence(Qt::Key_B), this);
    key->setObjectName(QStringLiteral("BatchKey"));
    connect(key, &QShortcut::activated, this, [this] { RunGuarded([this] { ElaboraCartellaClick(); }); });
    auto* menu = new QMenu(BtLoadImages);
    menu->setObjectName(QStringLiteral("BatchMenu"));
    QAction* act = menu->addAction(QStringLiteral("Elabora cartella…\tB"));
    act->setObjectName(QStringLiteral("ActElaboraCartella"));
    connect(act, &QAction::triggered, this, [this] { RunGuarded([this] { ElaboraCartellaClick(); }); });
    BtLoadImages->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(BtLoadImages, &QWidget::customContextMenuRequested, this,
            [this, menu](const QPoint& at) { menu->popup(BtLoadImages->mapToGlobal(at)); });
    BtLoadImages->setToolTip(QStringLiteral("Carica immagini (F). Clic destro: Elabora cartella… (B)"));
}

TBatchSettings TFormCrop::BatchSettingsFromWindow() const
{
    TBatchSettings s;
    QString ignored;
    ReadBatchSettings(IniFileName, s, &ignored);
    s.OutFolder = Options() ? Options()->OutImgPath : QString();
    s.FirmaGrayscale = OptFirmaGrayscale();
    s.UseStoredFrames = OptStoreSelections();
    // A slot not used yet in this run would take the stored values at its first
    // crop; a used one keeps what the user set.
    if (!(OptStoreEditSliders() && PrimoAvvioFoto))
        s.Foto = SlotRetouch(OrImageFoto);
    if (!(OptStoreEditSliders() && PrimoAvvioFirma))
        s.Firma = SlotRetouch(OrImageFirma);
    return s;
}

QStringList TFormCrop::ChooseBatchFiles()
{
    if (ImageListCount() > 1)
        return ZSImage->SlideShow()->List()->Names();
    QString folder;
    if (ChooseBatchFolder) {
        folder = ChooseBatchFolder();
    } else {
        const QString start = !FDialogFolder.isEmpty() ? FDialogFolder : OptFlsPicPath();
        folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Elabora cartella: scegliere la cartella delle pagine"),
                                                   start);
    }
    if (folder.isEmpty())
        return {};
    return CollectBatchFiles({folder});
}

bool TFormCrop::AskBatchCollision(int collisions, int total, TBatchCollision& rule)
{
    if (AskCollision) {
        const int answer = AskCollision(collisions);
        if (answer < 0)
            return false;
        rule = static_cast<TBatchCollision>(answer);
        return true;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Elabora cartella"),
                    QStringLiteral("Per %1 pagine su %2 nella cartella di uscita esistono già file con lo stesso nome.\n"
                                   "Cosa si vuole fare con questi file?")
                        .arg(collisions)
                        .arg(total),
                    QMessageBox::NoButton, this);
    QPushButton* replace = box.addButton(QStringLiteral("Sostituisci"), QMessageBox::AcceptRole);
    QPushButton* skip = box.addButton(QStringLiteral("Salta"), QMessageBox::AcceptRole);
    QPushButton* both = box.addButton(QStringLiteral("Mantieni entrambi"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Annulla"), QMessageBox::RejectRole);
    box.setDefaultButton(skip);
    box.exec();
    if (box.clickedButton() == replace)
        rule = TBatchCollision::Replace;
    else if (box.clickedButton() == skip)
        rule = TBatchCollision::Skip;
    else if (box.clickedButton() == both)
        rule = TBatchCollision::Number;
    else
        return false;
    return true;
}

void TFormCrop::ElaboraCartellaClick()
{
    const QStringList files = ChooseBatchFiles();
    if (files.isEmpty())
        return;
    TBatchSettings settings = BatchSettingsFromWindow();
    const QFileInfo out(settings.OutFolder);
    if (settings.OutFolder.isEmpty() || !out.isDir() || !out.isWritable()) {
        Message(QStringLiteral("Errore! Nessuna pagina elaborata: la cartella di uscita \"%1\" non esiste o non è scrivibile.")
                    .arg(settings.OutFolder));
        return;
    }
    const int collisions = CountCollisions(files, settings.OutFolder);
    if (collisions > 0 && !AskBatchCollision(collisions, files.size(), settings.Collision))
        return;

    TBatchProgressDialog progress(files.size(), this);
    TBatchRun run(files, settings, {});
    std::vector<TBatchPage> pages(static_cast<size_t>(files.size()));
    std::vector<char> finished(pages.size(), 0);
    QPointer<TBatchProgressDialog> dlg(&progress);
    // The workers hand everything over through queued calls: no widget is
    // touched off the user-interface thread.
    run.OnStart = [dlg, files](int index) {
        QMetaObject::invokeMethod(dlg, [dlg, name = files.at(index)] {
            if (dlg)
                dlg->PageStarted(name);
        }, Qt::QueuedConnection);
    };
    run.OnPage = [dlg, &pages, &finished](int index, const TBatchPage& page) {
        QMetaObject::invokeMethod(dlg, [dlg, &pages, &finished, index, page] {
            pages[static_cast<size_t>(index)] = page;
            finished[static_cast<size_t>(index)] = 1;
            if (dlg)
                dlg->PageDone();
        }, Qt::QueuedConnection);
    };
    connect(&progress, &TBatchProgressDialog::StopRequested, this, [&run] { run.Cancel(); });
    run.Start();
    std::thread waiter([&run, dlg] {
        run.Wait();
        QMetaObject::invokeMethod(dlg, [dlg] {
            if (dlg)
                dlg->accept();
        }, Qt::QueuedConnection);
    });
    progress.exec();
    waiter.join();
    // The last pages' reports may still be queued behind the closing call.
    QCoreApplication::sendPostedEvents(&progress);
    FinishFileWork();

    for (size_t i = 0; i < pages.size(); ++i) {
        if (finished[i])
            continue;
        pages[i].Source = files.at(static_cast<int>(i));
        pages[i].Warnings << QStringLiteral("non elaborata: interrotto");
    }
    auto* review = new TBatchReviewDialog(std::move(pages), run.Cancelled(), this);
    review->setAttribute(Qt::WA_DeleteOnClose);
    connect(review, &TBatchReviewDialog::PageChosen, this,
            [this](const TBatchPage& page) { RunGuarded([this, page] { OpenBatchPage(page); }); });
    review->show();
}

void TFormCrop::PlaceFrameOnPicture(TzsiFixSelectionRatio mode, const TRect& frame)
{
    SeletionFixMode(mode, false);
    TzsiSelection* sel = ZSImage->Selection();
    if (ViewEmpty() || frame.Right <= frame.Left || frame.Bottom <= frame.Top)
        return;
    ZSImage->StretchImage(TPoint((frame.Left + frame.Right) / 2, (frame.Top + frame.Bottom) / 2));
    const TRect& shown = ZSImage->OrigBitmapRect();
    const TRect& canvas = ZSImage->CanvasBitmapRect();
    const double s = ZSImage->GetScale();
    auto vx = [&](int x) { return canvas.Left + static_cast<int>(std::lround((x - shown.Left) * s)); };
    auto vy = [&](int y) { return canvas.Top + static_cast<int>(std::lround((y - shown.Top) * s)); };
    const int x = vx(frame.Left);
    const int y = vy(frame.Top);
    // The selection's Right and Bottom are its last column and row.
    const int x2 = vx(frame.Right) - 1;
    const int y2 = vy(frame.Bottom) - 1;
    sel->Deselect();
    sel->SetSelRect(TRect(x, y, x2, y2));
    // Drawn by the handlers a press, drag and release would run, so the crop
    // lands in the slot as if the clerk had framed it.
    ZSImageSelectionMouseDown(mbLeft, 0, x, y);
    ZSImageSelectionMouseMove(ssLeft, x2, y2);
    ZSImageSelectionMouseUp(mbLeft, 0, x2, y2);
    MakeMaskPaint();
}

void TFormCrop::OpenBatchPage(const TBatchPage& page)
{
    if (!QFileInfo::exists(page.Source)) {
        Message(QStringLiteral("Il file %1 non esiste più.").arg(page.Source));
        return;
    }
    LoadImageFiles({page.Source});
    if (ViewEmpty())
        return;
    if (page.Degrees % 360 != 0) {
        BmpBackBuffer = ZSImage->OrigBitmap();
        gradiRot = ((page.Degrees % 360) + 360) % 360;
        RotateViewFromBackBuffer(page.Degrees);
    }
    // The signature first: the photo's frame stays on the view, ready to move.
    if (page.Firma.Frame.Right > page.Firma.Frame.Left)
        PlaceFrameOnPicture(srFirma, page.Firma.Frame);
    if (page.Foto.Frame.Right > page.Foto.Frame.Left)
        PlaceFrameOnPicture(srFoto, page.Foto.Frame);
    NomeCorrente = BatchPrefix(page.Source);
    UpdateOutButton();
}
