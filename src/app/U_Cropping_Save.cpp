// The save command: the crop-only press, the name dialog, the size-limited
// JPEG of 200 dots per inch, and the slot showing the file as saved.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Save.h"
#include "app/U_Cropping_Status.h"
#include "app/U_fOut.h"

#include "config/U_Options.h"
#include "retouch/OrImage.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>

// --- the save command ---------------------------------------------------------

void TFormCrop::BtSaveImgClick()
{
    if (PanelPreviewBw->isVisible()) {
        setFocus();
        PanelPreviewBw->hide();
        QCoreApplication::processEvents();
        MakeMaskPaint();
    }
    // Without automatic cropping the first press only cuts the frame out, so
    // the user sees the crop (and can retouch it) before anything is written.
    if (!OptCropMouseUp() && BtSaveImg->text().left(5) != QLatin1String("SALVA")) {
        BtMakeCropClick();
        if (Mode() == srFoto)
            BtSaveImg->setText(QStringLiteral("SALVA FOTO"));
        else if (Mode() == srFirma)
            BtSaveImg->setText(QStringLiteral("SALVA FIRMA"));
        return;
    }
    BtMakeCropClick();
    const TzsiFixSelectionRatio mode = Mode();
    if (mode == srFoto || mode == srFirma)
        SaveSlot(mode);
    ScriviRitoccoIni();
}

bool TFormCrop::SaveSlot(TzsiFixSelectionRatio mode)
{
    const bool foto = mode == srFoto;
    const QString prefix = GetFileNameOut(mode, NomeCorrente, this, Options() ? Options()->OutImgPath : QString());
    if (prefix.isEmpty())
        return false;

    const QString fixedEnd = foto ? QStringLiteral("Foto.jpg") : QStringLiteral("Firma.jpg");
    const QString bad = CheckFilePrefix(prefix);
    if (!bad.isEmpty()) {
        Message(QStringLiteral("Nome non valido: \"%1\"\n%2.\nNessun file è stato salvato.")
                    .arg(QString(prefix).replace(QChar(0), QChar(0xFFFD)), bad));
        return false;
    }
    TFormOptions* options = Options();
    if (!options || options->OutImgPath.isEmpty()) {
        Message(QStringLiteral("Errore! Il file %1 non è stato salvato: cartella di uscita non impostata.")
                    .arg(prefix + fixedEnd));
        return false;
    }
    const QString target = options->OutImgPath + prefix + fixedEnd;
    if (!ConfirmReplace(target))
        return false;
    TOrImage* slot = foto ? OrImageFoto : OrImageFirma;
    const TSlotSaveResult res = SaveSlotJpeg(slot->Picture()->Graphic(), target,
                                             foto ? options->TmpFotFile : options->TmpFirFile,
                                             foto ? kFotoMaxBytes : kFirmaMaxBytes);
    if (!res.Saved) {
        Message(QStringLiteral("Errore! Il file %1 non è stato salvato: %2.")
                    .arg(QDir::toNativeSeparators(target), res.Error));
        return false;
    }
    if (!res.Written.isNull())
        slot->Picture()->AssignBitmap(res.Written);
    NomeCorrente = prefix;
    ReportSaved(target, res.Size, foto ? kFotoMaxBytes : kFirmaMaxBytes,
                res.Written.isNull() ? slot->Picture()->Graphic() : res.Written, res.Quality);
    return true;
}

void TFormCrop::Message(const QString& text)
{
    // The strip keeps the outcome in sight after the box is gone.
    if (Status)
        Status->ShowMessage(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')), QString(), nullptr, true);
    if (ShowMessage) {
        ShowMessage(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), text, QMessageBox::Ok, this);
    box.exec();
}
