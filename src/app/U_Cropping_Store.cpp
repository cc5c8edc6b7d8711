// The last retouch values of each slot and the last frame of each crop mode,
// kept in the settings file from one run of the program to the next. Each is
// written during the work (sliders at every save, frames at every crop), never
// at exit, and switching an option off only stops reading and writing.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Store.h"

#include "config/U_Options.h"
#include "config/U_Savecfg.h"
#include "retouch/OrImage.h"
#include "view/ZSImage.h"

#include <QLabel>
#include <QSlider>

#include <cmath>

namespace {
const QString kSection = QStringLiteral("FormOptions");

// "Foto." or "Firma." for the two slot modes, empty for the others.
QString KeyPrefix(TzsiFixSelectionRatio mode)
{
    if (mode == srFoto)
        return QStringLiteral("Foto.");
    if (mode == srFirma)
        return QStringLiteral("Firma.");
    return QString();
}

int ReadInt(const QString& key, int fallback)
{
    int32_t value = 0;
    return ValidInteger(ReadFileIni(IniFileName, kSection, key), &value) ? value : fallback;
}

// One group of values in one rewrite of the settings file: every rewrite
// waits for the disk, and these groups are written at each save and crop.
using TIniValues = QList<QPair<QString, QString>>;

void WriteValues(const TIniValues& values)
{
    WriteFileIniValues(IniFileName, kSection, values);
}

QPair<QString, QString> Int(const QString& key, int value) { return {key, QString::number(value)}; }

// The user's own number notation; group separators are neither written nor
// accepted, so "0,75" is no number at all under a decimal point.
QLocale NumberLocale()
{
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}
} // namespace

QString ZoomToIniText(double zoom, const QLocale& locale)
{
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return l.toString(zoom, 'g', 15);
}

double ZoomFromIniText(const QString& text, const QLocale& locale, double fallback)
{
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = l.toDouble(text.trimmed(), &ok);
    // "inf" and "nan" parse, but no view can be shown at such a zoom.
    return ok && std::isfinite(value) ? value : fallback;
}

void TFormCrop::ScriviRitoccoIni()
{
    const QString prefix = KeyPrefix(Mode());
    if (!OptStoreEditSliders() || prefix.isEmpty())
        return;
    WriteValues({Int(prefix + QStringLiteral("Slider.Light"), pBarLight->value()),
                 Int(prefix + QStringLiteral("Slider.Contr"), pBarContr->value()),
                 Int(prefix + QStringLiteral("Slider.Darkn"), pBarDark->value()),
                 Int(prefix + QStringLiteral("Slider.Color"), pBarColor->value()),
                 Int(prefix + QStringLiteral("Slider.Sharp"), pBarSharpness->value())});
}

void TFormCrop::LeggiRitoccoIni(TzsiFixSelectionRatio mode)
{
    const QString prefix = KeyPrefix(mode);
    if (!OptStoreEditSliders() || prefix.isEmpty())
        return;
    TOrImage* slot = mode == srFoto ? OrImageFoto : OrImageFirma;
    // Once per run and after each reset: later crops keep what the user set.
    if (mode == srFoto)
        PrimoAvvioFoto = false;
    else
        PrimoAvvioFirma = false;

    slot->SetBrightness(ReadInt(prefix + QStringLiteral("Slider.Light"), 0));
    slot->SetContrast(ReadInt(prefix + QStringLiteral("Slider.Contr"), 0));
    slot->SetLightness(ReadInt(prefix + QStringLiteral("Slider.Darkn"), 0));
    slot->SetSaturation(ReadInt(prefix + QStringLiteral("Slider.Color"), 0));
    slot->SetTag(ReadInt(prefix + QStringLiteral("Slider.Sharp"), 0));

    // A changed position runs the slider's handler, which hands the (clamped)
    // position back to the slot.
    pBarLight->setValue(slot->PicBrightness());
    pBarContr->setValue(slot->PicContrast());
    pBarDark->setValue(slot->PicLightness());
    pBarColor->setValue(slot->PicSaturation());
    pBarSharpness->setValue(slot->Tag());
    // A stored value beyond a slider's range on a slider already at its end
    // moves nothing, so no handler ran: the slot must still follow the slider.
    if (slot->PicBrightness() != pBarLight->value())
        slot->SetBrightness(pBarLight->value());
    if (slot->PicContrast() != pBarContr->value())
        slot->SetContrast(pBarContr->value());
    if (slot->PicLightness() != pBarDark->value())
        slot->SetLightness(pBarDark->value());
    if (slot->PicSaturation() != pBarColor->value())
        slot->SetSaturation(pBarColor->value());
    if (slot->Tag() != pBarSharpness->value())
        slot->SetTag(pBarSharpness->value());

    for (int i = 0; i < 5; ++i)
        SliderLabel(i)->setText(QString::number(Slider(i)->value()));
}

void TFormCrop::ScriviSelezioneIni()
{
    const QString prefix = KeyPrefix(Mode());
    TzsiSelection* sel = ZSImage->Selection();
    if (!OptStoreSelections() || prefix.isEmpty() || !sel->SelectionExist())
        return;
    const TRect frame = NormalizeRect(sel->GetSelRect());
    const TRect shown = ZSImage->OrigBitmapRect();
    WriteValues({Int(prefix + QStringLiteral("Selected.Left"), frame.Left),
                 Int(prefix + QStringLiteral("Selected.Top"), frame.Top),
                 Int(prefix + QStringLiteral("Selected.Right"), frame.Right),
                 Int(prefix + QStringLiteral("Selected.Bottom"), frame.Bottom),
                 Int(prefix + QStringLiteral("Origin.Left"), shown.Left),
                 Int(prefix + QStringLiteral("Origin.Top"), shown.Top),
                 Int(prefix + QStringLiteral("Origin.Right"), shown.Right),
                 Int(prefix + QStringLiteral("Origin.Bottom"), shown.Bottom),
                 {prefix + QStringLiteral("Origin.Zoom"), ZoomToIniText(ZSImage->StretchFactor(), NumberLocale())}});
}

bool TFormCrop::LeggiSelezioneIni(TzsiFixSelectionRatio mode, TRect& shown, double& zoom, TRect& frame)
{
    const QString prefix = KeyPrefix(mode);
    if (!OptStoreSelections() || prefix.isEmpty())
        return false;
    const bool foto = mode == srFoto;
    frame.Left = ReadInt(prefix + QStringLiteral("Selected.Left"), 0);
    frame.Top = ReadInt(prefix + QStringLiteral("Selected.Top"), 0);
    frame.Right = ReadInt(prefix + QStringLiteral("Selected.Right"), foto ? 260 : 236);
    frame.Bottom = ReadInt(prefix + QStringLiteral("Selected.Bottom"), foto ? 315 : 47);
    // The shown part falls back to the photo's size in both modes.
    shown.Left = ReadInt(prefix + QStringLiteral("Origin.Left"), 0);
    shown.Top = ReadInt(prefix + QStringLiteral("Origin.Top"), 0);
    shown.Right = ReadInt(prefix + QStringLiteral("Origin.Right"), 260);
    shown.Bottom = ReadInt(prefix + QStringLiteral("Origin.Bottom"), 315);
    zoom = ZoomFromIniText(ReadFileIni(IniFileName, kSection, prefix + QStringLiteral("Origin.Zoom")),
                           NumberLocale());
    return true;
}
