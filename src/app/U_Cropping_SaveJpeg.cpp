// The size-limited JPEG of 200 dots per inch and its whole-or-nothing write,
// without windows: the save command and the batch both call these.

#include "app/U_Cropping_Save.h"

#include "jpegmeta/JpegSave.h"
#include "jpegmeta/SafeFile.h"

#include <QFile>

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
    // "." and ".." would name the folder itself; any other leading dot would
    // save a hidden file that the clerk never finds again.
    if (prefix.startsWith(QLatin1Char('.')))
        return QStringLiteral("il nome non può iniziare con un punto");
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
