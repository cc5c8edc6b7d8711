// The save command: the crop-only press, the name dialog, the size-limited
// JPEG of 200 dots per inch, and the slot showing the file as saved.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Save.h"
#include "app/U_Cropping_Status.h"
#include "app/U_fOut.h"

#include "config/U_Options.h"
#include "jpegmeta/JpegSave.h"
#include "jpegmeta/SafeFile.h"
#include "retouch/OrImage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>

#include <cerrno>
#include <vector>

namespace {

std::string LocalPath(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    return std::string(name.constData(), static_cast<size_t>(name.size()));
}

QString FromLocal(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

// Decodes straight into the picture the slot will hold: no second buffer, no
// copy, no clearing of memory the decoder overwrites anyway. For the file the
// size-limited save just made, its encoders yield the same pixels without
// decoding.
QImage DecodeToQImage(const std::vector<uint8_t>& jpeg, bool justSaved = false)
{
    QImage img;
    auto rows = [](void* context, int width, int height, size_t& stride) -> uint8_t* {
        QImage& target = *static_cast<QImage*>(context);
        target = QImage(width, height, QImage::Format_BGR888);
        if (target.isNull())
            return nullptr;
        stride = static_cast<size_t>(target.bytesPerLine());
        return target.bits();
    };
    if (justSaved && DecodeLastSaved(jpeg.data(), jpeg.size(), rows, &img))
        return img;
    if (!DecodeJpegInto(jpeg.data(), jpeg.size(), rows, &img))
        return QImage();
    return img;
}

} // namespace

QString ItalianOsReason(int err, const QString& systemText)
{
    switch (err) {
    case ENOENT:
        return QStringLiteral("la cartella non esiste");
    case ENOTDIR:
        return QStringLiteral("una parte del percorso non è una cartella");
    case EACCES:
    case EPERM:
        return QStringLiteral("permesso negato");
    case EROFS:
        return QStringLiteral("il disco è in sola lettura");
    case ENOSPC:
        return QStringLiteral("spazio su disco esaurito");
#ifdef EDQUOT
    case EDQUOT:
        return QStringLiteral("quota del disco superata");
#endif
    case EISDIR:
        return QStringLiteral("esiste una cartella con lo stesso nome");
    case ENAMETOOLONG:
        return QStringLiteral("nome del file troppo lungo");
    case EIO:
        return QStringLiteral("errore di lettura o scrittura del disco");
    default:
        return systemText;
    }
}

QString CheckFilePrefix(const QString& prefix)
{
    if (prefix.contains(QLatin1Char('/')) || prefix.contains(QLatin1Char('\\')))
        return QStringLiteral("il nome non può contenere separatori di cartella (/ o \\)");
    if (prefix.contains(QChar(0)))
        return QStringLiteral("il nome non può contenere il carattere nullo");
    if (prefix == QLatin1String(".") || prefix == QLatin1String(".."))
        return QStringLiteral("il nome non può essere \".\" o \"..\"");
    return QString();
}

bool EncodeSlotJpeg(const QImage& picture, int maxBytes, TSlotJpeg& out, QString* error)
{
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (picture.isNull())
        return fail(QStringLiteral("nessuna immagine da salvare"));
    const QImage bgr =
        picture.format() == QImage::Format_BGR888 ? picture : picture.convertToFormat(QImage::Format_BGR888);
    const TBgrView view{bgr.constBits(), bgr.width(), bgr.height(), static_cast<size_t>(bgr.bytesPerLine())};

    TJpegCompressResult jpeg;
    if (!SaveJpegCompress(view, maxBytes, jpeg))
        return fail(QStringLiteral("codifica JPEG non riuscita"));
    out.Quality = jpeg.Quality;
    out.Attempts = jpeg.Attempts;
    if (!jpeg.Fits)
        return fail(QStringLiteral("anche con la qualità minima (%1) l'immagine occupa %2 byte, oltre il limite di %3")
                        .arg(jpeg.Quality)
                        .arg(jpeg.Bytes.size())
                        .arg(maxBytes));
    out.Compressed = std::move(jpeg.Bytes);
    std::string why;
    if (!ChangeJpeg200Dpi(out.Compressed, out.Marked, &why))
        return fail(QStringLiteral("Errore ChangeJpegDpi: ") + FromLocal(why));
    return true;
}

TSlotSaveResult SaveSlotJpeg(const QImage& picture, const QString& target, const QString& tmpFile, int maxBytes)
{
    TSlotSaveResult res;
    TSlotJpeg jpeg;
    const bool made = EncodeSlotJpeg(picture, maxBytes, jpeg, &res.Error);
    res.Quality = jpeg.Quality;
    res.Attempts = jpeg.Attempts;
    if (!made)
        return res;
    // The output goes to the disk on the background worker while this thread takes
    // the slot's pixels, which the encoder that made the file gives without
    // decoding it. The working copy is scratch that only this run reads:
    // replaced in one step like the output, but after it, so the user waits
    // for the output alone.
    std::future<TFileWriteResult> written = StartFileWrite(LocalPath(target), jpeg.Marked.data(), jpeg.Marked.size());
    if (!tmpFile.isEmpty())
        WriteFileWholeLater(LocalPath(tmpFile), std::move(jpeg.Compressed));
    QImage decoded = DecodeToQImage(jpeg.Marked, true);
    const TFileWriteResult w = written.get();
    if (!w.Ok) {
        res.Error = ItalianOsReason(w.Errno, FromLocal(w.Reason));
        return res;
    }
    res.Saved = true;
    res.Size = static_cast<qint64>(jpeg.Marked.size());
    res.Written = std::move(decoded);
    return res;
}

bool SaveJPG(const QString& source, const QString& destination, int quality, QString* reason)
{
    auto fail = [reason](const QString& text) {
        if (reason)
            *reason = text;
        return false;
    };
    std::vector<uint8_t> src;
    std::string why;
    if (!LoadFileBytes(LocalPath(source), src, &why))
        return fail(FromLocal(why));
    TBgrPixels px;
    if (!DecodeJpeg(src.data(), src.size(), px, uint64_t(1) << 26, &why))
        return fail(QStringLiteral("immagine JPEG non leggibile: ") + FromLocal(why));
    std::vector<uint8_t> out;
    if (!EncodeJpeg(px.View(), quality, out))
        return fail(QStringLiteral("codifica JPEG non riuscita"));
    int err = 0;
    if (!WriteFileWhole(LocalPath(destination), out.data(), out.size(), &why, &err))
        return fail(ItalianOsReason(err, FromLocal(why)));
    return true;
}

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
