// One page of the batch: load, straighten, find the frames, cut, retouch and
// save both files, each step through the code the main window uses.

#include "batch/Batch.h"

#include "app/U_Cropping_Pixels.h"
#include "app/U_Cropping_Save.h"
#include "jpegmeta/SafeFile.h"
#include "retouch/OrImage_Pixels.h"
#include "view/io/ImageReaders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <mutex>
#include <set>

namespace {

// The toolbar turns the page over the same grey.
constexpr TColor kRotationBackground = 0x808080;

std::string LocalPath(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    return std::string(name.constData(), static_cast<size_t>(name.size()));
}

bool IsOwnOutput(const QString& name)
{
    return name.endsWith(QLatin1String("Foto.jpg"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String("Firma.jpg"), Qt::CaseInsensitive);
}

QString StateText(TSlotState s)
{
    switch (s) {
    case TSlotState::Saved: return QStringLiteral("salvato");
    case TSlotState::Exists: return QStringLiteral("esistente");
    case TSlotState::Failed: return QStringLiteral("errore");
    case TSlotState::NotDone: break;
    }
    return QStringLiteral("non fatto");
}

QString SlotFile(const TBatchSettings& s, const QString& prefix, bool foto)
{
    return s.OutFolder + prefix + (foto ? QStringLiteral("Foto.jpg") : QStringLiteral("Firma.jpg"));
}

// The prefix both files of the page get: the file's own, or under "keep both"
// the first numbered one that neither file uses yet.
// Two pages of one run may share a name ("a.jpg", "a.png"): a prefix handed
// out once is not handed out again while the program runs.
QString ChoosePrefix(const TBatchSettings& s, const QString& prefix)
{
    if (s.Collision != TBatchCollision::Number)
        return prefix;
    static std::mutex lock;
    static std::set<QString> given;
    const std::lock_guard<std::mutex> hold(lock);
    for (int n = 1;; ++n) {
        const QString p = n == 1 ? prefix : QStringLiteral("%1 (%2)").arg(prefix).arg(n);
        const QString foto = SlotFile(s, p, true);
        if (given.count(foto) == 0 && !QFileInfo::exists(foto) && !QFileInfo::exists(SlotFile(s, p, false))) {
            given.insert(foto);
            return p;
        }
    }
}

void CutSlot(const QImage& page, const TRect& frame, bool foto, const TBatchSettings& s, TBatchSlot& slot,
             QImage& out)
{
    const QImage crop = CopyArea(page, frame);
    const int w = foto ? kFotoWidth : kFirmaWidth;
    const int h = foto ? kFotoHeight : kFirmaHeight;
    slot.Enlarged = crop.width() < w || crop.height() < h;
    const QImage scaled = foto ? CropAndResizeFotoPixels(crop) : CropAndResizeFirmaPixels(crop, s.FirmaGrayscale);
    out = RenderBatchRetouch(scaled, foto ? s.Foto : s.Firma);
}

void SaveSlot(const QImage& picture, bool foto, const TBatchSettings& s, const QString& prefix, TBatchSlot& slot)
{
    TSlotJpeg jpeg;
    QString why;
    if (!EncodeSlotJpeg(picture, foto ? kFotoMaxBytes : kFirmaMaxBytes, jpeg, &why)) {
        slot.State = TSlotState::Failed;
        slot.Quality = jpeg.Quality;
        slot.Error = why;
        return;
    }
    slot.Quality = jpeg.Quality;
    slot.File = SlotFile(s, prefix, foto);
    std::string reason;
    int err = 0;
    const bool replace = s.Collision == TBatchCollision::Replace;
    if (WriteFileWhole(LocalPath(slot.File), jpeg.Marked.data(), jpeg.Marked.size(), &reason, &err, true, replace)) {
        slot.State = TSlotState::Saved;
        slot.Bytes = static_cast<qint64>(jpeg.Marked.size());
        return;
    }
    if (err == EEXIST) {
        slot.State = TSlotState::Exists;
        slot.Error = QStringLiteral("il file esiste già e non è stato sostituito");
    } else {
        slot.State = TSlotState::Failed;
        slot.Error = ItalianOsReason(err, QString::fromLocal8Bit(reason.c_str()));
    }
}

QJsonObject SlotJson(const TBatchSlot& s)
{
    QJsonObject o;
    o.insert(QStringLiteral("state"), StateText(s.State));
    o.insert(QStringLiteral("saved"), s.Saved());
    o.insert(QStringLiteral("file"), s.File);
    o.insert(QStringLiteral("bytes"), s.Bytes);
    o.insert(QStringLiteral("quality"), s.Quality);
    if (s.Frame.Right > s.Frame.Left)
        o.insert(QStringLiteral("frame"), QJsonArray{s.Frame.Left, s.Frame.Top, s.Frame.Right, s.Frame.Bottom});
    o.insert(QStringLiteral("stored_frame"), s.FromStored);
    o.insert(QStringLiteral("enlarged"), s.Enlarged);
    if (!s.Error.isEmpty())
        o.insert(QStringLiteral("error"), s.Error);
    return o;
}

} // namespace

QString BatchPrefix(const QString& file)
{
    return QFileInfo(file).completeBaseName();
}

QStringList CollectBatchFiles(const QStringList& arguments, QStringList* missing)
{
    QStringList files;
    for (const QString& a : arguments) {
        const QFileInfo fi(a);
        if (fi.isDir()) {
            // Hidden names hold half-written files and our own temporary ones;
            // files ending in Foto.jpg or Firma.jpg are results of an earlier run.
            const QStringList names = QDir(a).entryList(QDir::Files, QDir::Name);
            for (const QString& n : names)
                if (!IsOwnOutput(n))
                    files << QDir(a).filePath(n);
        } else if (fi.exists()) {
            files << a;
        } else if (missing) {
            *missing << a;
        }
    }
    return files;
}

int64_t BatchPageBudget(const QString& file)
{
    QImageReader reader(file);
    const QSize size = reader.size();
    if (!size.isValid())
        return 0;
    // The page, its straightened copy and the analysis's reduced copies.
    return int64_t(size.width()) * size.height() * 3 * 5 / 2;
}

QImage RenderBatchRetouch(const QImage& slotPicture, const TBatchRetouch& r)
{
    if (slotPicture.isNull())
        return QImage();
    // The window's order: sharpen the source, soften as a spatial effect, then
    // the colour sliders over the result.
    QImage source = slotPicture;
    if (r.Sharpness >= 1 && r.Sharpness <= 3 && source.width() >= 3 && source.height() >= 3) {
        QImage sharpened;
        Sharpen(source, sharpened, static_cast<float>(r.Sharpness + 1));
        source = sharpened;
    } else if (r.Sharpness <= -1 && r.Sharpness >= -3) {
        source = source.convertToFormat(QImage::Format_BGR888);
        for (int i = 0; i < -r.Sharpness; ++i)
            orimage::AntiAliasRect(source, 0, 0, source.width(), source.height());
    }
    orimage::TColorEffects fx;
    fx.Brightness = r.Brightness;
    fx.Contrast = r.Contrast;
    fx.Lightness = r.Lightness;
    fx.Saturation = r.Saturation;
    QImage out;
    orimage::RenderColorEffects(source, nullptr, fx, out);
    return out;
}

TBatchPage ProcessBatchPage(const QString& file, const TBatchSettings& s)
{
    TBatchPage page;
    page.Source = file;
    const QString prefix = ChoosePrefix(s, BatchPrefix(file));
    page.Foto.File = SlotFile(s, prefix, true);
    page.Firma.File = SlotFile(s, prefix, false);
    auto failBoth = [&page](const QString& why) {
        for (TBatchSlot* slot : {&page.Foto, &page.Firma}) {
            slot->State = TSlotState::Failed;
            slot->Error = why;
        }
        return page;
    };
    if (s.OutFolder.isEmpty())
        return failBoth(QStringLiteral("cartella di uscita non impostata"));

    QImage picture;
    QString message;
    try {
        page.Loaded = LoadImagefromFile(file, picture, &message) && !picture.isNull();
        if (!page.Loaded)
            return failBoth(message.isEmpty() ? QStringLiteral("file non leggibile come immagine")
                                               : QStringLiteral("immagine non leggibile: ") + message);
    } catch (const EImageReadError& e) {
        return failBoth(QStringLiteral("immagine danneggiata o non leggibile: ") + e.Message());
    } catch (const std::bad_alloc&) {
        return failBoth(QStringLiteral("memoria insufficiente per l'immagine"));
    }
    if (!message.isEmpty()) {
        page.Damaged = true;
        page.Warnings << QStringLiteral("file danneggiato, immagine forse incompleta: ") + message;
    }
    page.Width = picture.width();
    page.Height = picture.height();

    try {
        const TBatchFrames found = AnalyseBatchPage(picture);
        page.Degrees = found.Degrees;
        if (found.Degrees % 360 != 0) {
            QImage straight;
            RotateBitmapInto(picture, straight, found.Degrees, false, kRotationBackground,
                             1);
            picture = straight;
        }
        struct TJob {
            bool foto;
            bool found;
            TRect frame;
            bool stored;
            TRect storedFrame;
            TBatchSlot& slot;
        } jobs[] = {{true, found.HasFoto, found.Foto, s.UseStoredFrames && s.HasStoredFoto, s.StoredFoto, page.Foto},
                    {false, found.HasFirma, found.Firma, s.UseStoredFrames && s.HasStoredFirma, s.StoredFirma,
                     page.Firma}};
        for (TJob& j : jobs) {
            if (j.found) {
                j.slot.Frame = j.frame;
            } else if (j.stored) {
                j.slot.Frame = j.storedFrame;
                j.slot.FromStored = true;
            } else {
                j.slot.Error = j.foto ? QStringLiteral("nessuna foto trovata nella pagina")
                                      : QStringLiteral("nessuna firma trovata nella pagina");
                continue;
            }
            QImage out;
            CutSlot(picture, j.slot.Frame, j.foto, s, j.slot, out);
            if (out.isNull()) {
                j.slot.State = TSlotState::Failed;
                j.slot.Error = QStringLiteral("la cornice è fuori dalla pagina");
                continue;
            }
            SaveSlot(out, j.foto, s, prefix, j.slot);
            if (j.slot.Enlarged)
                page.Warnings << (j.foto ? QStringLiteral("foto ingrandita") : QStringLiteral("firma ingrandita"));
            if (j.slot.FromStored)
                page.Warnings << (j.foto ? QStringLiteral("foto dalla cornice memorizzata")
                                         : QStringLiteral("firma dalla cornice memorizzata"));
        }
    } catch (const std::bad_alloc&) {
        for (TBatchSlot* slot : {&page.Foto, &page.Firma})
            if (!slot->Saved()) {
                slot->State = TSlotState::Failed;
                slot->Error = QStringLiteral("memoria insufficiente");
            }
    }
    return page;
}

QByteArray BatchPageJson(const TBatchPage& page)
{
    QJsonObject o;
    o.insert(QStringLiteral("file"), page.Source);
    o.insert(QStringLiteral("done"), page.Done());
    o.insert(QStringLiteral("loaded"), page.Loaded);
    o.insert(QStringLiteral("damaged"), page.Damaged);
    o.insert(QStringLiteral("width"), page.Width);
    o.insert(QStringLiteral("height"), page.Height);
    o.insert(QStringLiteral("degrees"), page.Degrees);
    o.insert(QStringLiteral("foto"), SlotJson(page.Foto));
    o.insert(QStringLiteral("firma"), SlotJson(page.Firma));
    o.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(page.Warnings));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
