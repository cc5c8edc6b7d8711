// The batch's settings, read from the same settings file and keys as the main
// window's options and stored values.

#include "batch/Batch.h"

#include "config/U_Savecfg.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {
const QString kSection = QStringLiteral("FormOptions");

struct TReader {
    const QString& File;
    QString Error;
    QString Text(const QString& key)
    {
        QString why;
        const QString v = ReadFileIni(File, kSection, key, &why);
        if (!why.isEmpty() && Error.isEmpty())
            Error = why;
        return v;
    }
    bool Has(const QString& key) { return !Text(key).isEmpty(); }
    int Int(const QString& key, int fallback)
    {
        int32_t v = 0;
        return ValidInteger(Text(key), &v) ? v : fallback;
    }
    // A flag missing from the file has the first start's value.
    bool Flag(const QString& key, bool fallback)
    {
        const QString t = Text(key);
        return t.isEmpty() ? fallback : StringToBool(t);
    }
    // The zoom is stored in the user's own notation; a file written under
    // another locale still reads with the decimal point.
    double Zoom(const QString& key)
    {
        const QString t = Text(key).trimmed();
        bool ok = false;
        QLocale l = QLocale::system();
        l.setNumberOptions(QLocale::RejectGroupSeparator);
        double v = l.toDouble(t, &ok);
        if (!ok)
            v = QLocale::c().toDouble(t, &ok);
        return ok && std::isfinite(v) && v > 0 ? v : 1.0;
    }
};

TBatchRetouch ReadRetouch(TReader& r, const QString& prefix)
{
    TBatchRetouch v;
    // The sliders' ranges, which the window's sliders clamp to.
    v.Brightness = std::clamp(r.Int(prefix + QStringLiteral("Slider.Light"), 0), -100, 100);
    v.Contrast = std::clamp(r.Int(prefix + QStringLiteral("Slider.Contr"), 0), -150, 150);
    v.Lightness = std::clamp(r.Int(prefix + QStringLiteral("Slider.Darkn"), 0), -100, 100);
    v.Saturation = std::clamp(r.Int(prefix + QStringLiteral("Slider.Color"), 0), -150, 150);
    v.Sharpness = std::clamp(r.Int(prefix + QStringLiteral("Slider.Sharp"), 0), -3, 3);
    return v;
}

bool ReadFrame(TReader& r, const QString& prefix, TRect& out)
{
    if (!r.Has(prefix + QStringLiteral("Selected.Left")))
        return false;
    const TRect frame(r.Int(prefix + QStringLiteral("Selected.Left"), 0), r.Int(prefix + QStringLiteral("Selected.Top"), 0),
                      r.Int(prefix + QStringLiteral("Selected.Right"), 0),
                      r.Int(prefix + QStringLiteral("Selected.Bottom"), 0));
    const TRect shown(r.Int(prefix + QStringLiteral("Origin.Left"), 0), r.Int(prefix + QStringLiteral("Origin.Top"), 0),
                      r.Int(prefix + QStringLiteral("Origin.Right"), 0),
                      r.Int(prefix + QStringLiteral("Origin.Bottom"), 0));
    out = StoredFrameToPicture(shown, r.Zoom(prefix + QStringLiteral("Origin.Zoom")), frame);
    return out.Right > out.Left && out.Bottom > out.Top;
}
} // namespace

TRect StoredFrameToPicture(const TRect& shown, double zoom, const TRect& frame)
{
    const double z = zoom > 0 ? zoom : 1.0;
    auto at = [z](int origin, int v) { return origin + static_cast<int>(std::lround(v / z)); };
    return TRect(at(shown.Left, frame.Left), at(shown.Top, frame.Top), at(shown.Left, frame.Right),
                 at(shown.Top, frame.Bottom));
}

bool ReadBatchSettings(const QString& iniFile, TBatchSettings& s, QString* error)
{
    TReader r{iniFile, {}};
    QString out = r.Text(QStringLiteral("EdFilesOutput"));
    if (!out.isEmpty() && !out.endsWith(QLatin1Char('/')))
        out += QLatin1Char('/');
    s.OutFolder = out;
    s.FirmaGrayscale = r.Flag(QStringLiteral("CkFirmaGrayscale"), true);
    if (r.Flag(QStringLiteral("CkStoreEditSliders"), true)) {
        s.Foto = ReadRetouch(r, QStringLiteral("Foto."));
        s.Firma = ReadRetouch(r, QStringLiteral("Firma."));
    }
    s.UseStoredFrames = r.Flag(QStringLiteral("CkStoreSelections"), true);
    if (s.UseStoredFrames) {
        s.HasStoredFoto = ReadFrame(r, QStringLiteral("Foto."), s.StoredFoto);
        s.HasStoredFirma = ReadFrame(r, QStringLiteral("Firma."), s.StoredFirma);
    }
    if (!r.Error.isEmpty()) {
        if (error)
            *error = QStringLiteral("impossibile leggere il file delle impostazioni %1: %2").arg(iniFile, r.Error);
        return false;
    }
    return true;
}
