// What the status strip says: the next step read from the window's state, the
// zoom and the angle, the frame's readout while a frame is placed, and the
// report of a save. Also the title with the loaded file's name.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Pixels.h"
#include "app/U_Cropping_Status.h"

#include "retouch/OrImage.h"
#include "view/ZSImage.h"
#include "view/ZSImage_SlideShow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kMmPerInch = 25.4;
constexpr double kFotoWidthMm = 33.0;
constexpr double kFirmaWidthMm = 30.0;
const QString kCaption = QStringLiteral("  Corvanta   |   Lodrevan");
} // namespace

void TFormCrop::BuildStatusStrip()
{
    Status = new TStatusStrip(PanelImage);
}

void TFormCrop::UpdateStatus()
{
    if (!Status || !ZSImage)
        return;
    TzsiSelection* sel = ZSImage->Selection();
    const TzsiFixSelectionRatio mode = Mode();
    const bool foto = mode == srFoto;
    const bool slotMode = foto || mode == srFirma;
    const QString what = foto ? QStringLiteral("la foto") : QStringLiteral("la firma");
    const bool frame = !ViewEmpty() && sel->SelectionExist();
    const bool dragging = frame && (QApplication::mouseButtons() & Qt::LeftButton);

    QString step;
    if (ViewEmpty())
        step = QStringLiteral("Premere S per acquisire dallo scanner o F per aprire un file");
    else if (dragging)
        step = QStringLiteral("Trascinare il riquadro, poi rilasciare");
    else if (!slotMode && mode != srFree)
        step = OptFirmaStartDefault() ? QStringLiteral("Fare clic sulla firma per inquadrarla")
                                      : QStringLiteral("Fare clic sul volto per inquadrare la foto");
    else if (!slotMode)
        step = QStringLiteral("Trascinare per tracciare il riquadro");
    else if (BtSaveImg->isEnabled() && BtSaveImg->text() == QLatin1String("RITAGLIA"))
        step = QStringLiteral("Invio per ritagliare %1 · frecce per spostare il riquadro").arg(what);
    else if (BtSaveImg->isEnabled())
        step = QStringLiteral("Invio per salvare %1 · frecce per spostare il riquadro").arg(what);
    else
        step = QStringLiteral("Trascinare il riquadro su %1, poi rilasciare").arg(what);
    Status->SetStep(step);

    const bool fit = ZSImage->StretchFactor() == 0;
    const int zoom = ViewEmpty() ? 0 : static_cast<int>(std::lround(ZSImage->GetScale() * 100));
    Status->SetView(zoom, gradiRot > 180 ? gradiRot - 360 : gradiRot, fit && !ViewEmpty());

    TRect area, onView;
    if (!frame || !ZSImage->GetSelection(area, onView)) {
        Status->SetFrame(QString(), QString());
        return;
    }
    const int w = area.Right - area.Left;
    const int h = area.Bottom - area.Top;
    QString readout = QStringLiteral("Riquadro %1 × %2 px").arg(w).arg(h);
    QString warning;
    if (slotMode && w > 0 && h > 0) {
        const int outW = foto ? kFotoWidth : kFirmaWidth;
        const int outH = foto ? kFotoHeight : kFirmaHeight;
        const double inches = (foto ? kFotoWidthMm : kFirmaWidthMm) / kMmPerInch;
        const int dpi = static_cast<int>(std::lround(w / inches));
        readout += QStringLiteral(" → uscita %1 × %2 px · %3 dpi").arg(outW).arg(outH).arg(dpi);
        // The photo is stretched to its slot; the signature is fitted into it.
        const double factor = foto ? double(outW) / w : std::min(double(outW) / w, double(outH) / h);
        if (factor > 1.0 + 1e-9)
            warning = QStringLiteral("ingrandimento %1×: %2 risulterà sfocata; scansionare a risoluzione più alta")
                          .arg(ItalianDecimal(factor), what);
    }
    Status->SetFrame(readout, warning);
}

void TFormCrop::UpdateTitle()
{
    if (ViewEmpty() || ImageListCount() < 1) {
        setWindowTitle(kCaption);
        return;
    }
    const int index = std::max(0, ZSImage->SlideShow()->ImageIndex());
    const QString file = ZSImage->SlideShow()->List()->Strings(index);
    const QString scan = OptAcqImgFile();
    const bool scanned = TwainACQ || (!scan.isEmpty() && QFileInfo(file) == QFileInfo(scan));
    setWindowTitle(QStringLiteral("Corvanta — %1").arg(scanned ? QStringLiteral("Scansione") : QFileInfo(file).fileName()));
}

bool TFormCrop::ConfirmReplace(const QString& target)
{
    const QFileInfo info(target);
    if (!info.exists())
        return true;
    if (AskConfirmation(QStringLiteral("Il file %1 esiste già. Sostituirlo?").arg(info.fileName())))
        return true;
    Status->ShowMessage(QStringLiteral("Nessun file salvato: %1 è rimasto com'era.").arg(info.fileName()));
    return false;
}

void TFormCrop::ReportSaved(const QString& target, qint64 bytes, int maxBytes, const QImage& written, int quality)
{
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    const QString text = QStringLiteral("Salvato %1 in %2: %3 byte su %4 · %5 × %6 px · 200 dpi · qualità %7")
                             .arg(info.fileName(), QDir(folder).dirName(), GroupedNumber(bytes), GroupedNumber(maxBytes))
                             .arg(written.width())
                             .arg(written.height())
                             .arg(quality);
    Status->ShowMessage(text, QStringLiteral("Apri cartella"), [this, folder] {
        // Without a file manager nothing would open: the folder is named instead.
        if (OpenUrl && !OpenUrl(folder))
            Status->ShowMessage(QStringLiteral("Nessun programma può aprire la cartella %1").arg(folder), QString(),
                                nullptr, true);
    });
}
