#include "scan/dsm/DsmSane.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace {

std::once_flag g_initOnce;
SANE_Status g_initStatus = SANE_STATUS_GOOD;

// Descriptors must be fetched afresh before each access: a backend may rebuild them
// whenever an option reports that the others need reloading.
int FindOption(SANE_Handle h, const char* name, const SANE_Option_Descriptor** out)
{
    SANE_Int count = 0;
    if (sane_control_option(h, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
        return -1;
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
        if (d && d->name && std::strcmp(d->name, name) == 0) {
            if (out)
                *out = d;
            return i;
        }
    }
    return -1;
}

bool Usable(const SANE_Option_Descriptor* d)
{
    return SANE_OPTION_IS_ACTIVE(d->cap) && SANE_OPTION_IS_SETTABLE(d->cap);
}

SANE_Status SetNumber(SANE_Handle h, const char* name, double value)
{
    const SANE_Option_Descriptor* d = nullptr;
    const int i = FindOption(h, name, &d);
    if (i < 0 || !Usable(d))
        return SANE_STATUS_UNSUPPORTED;
    SANE_Word w;
    if (d->type == SANE_TYPE_FIXED)
        w = SANE_FIX(value);
    else if (d->type == SANE_TYPE_INT)
        w = static_cast<SANE_Word>(std::lround(value));
    else if (d->type == SANE_TYPE_BOOL)
        w = value != 0 ? SANE_TRUE : SANE_FALSE;
    else
        return SANE_STATUS_INVAL;
    if (d->size > static_cast<SANE_Int>(sizeof(SANE_Word)))
        return SANE_STATUS_INVAL;
    return sane_control_option(h, i, SANE_ACTION_SET_VALUE, &w, nullptr);
}

SANE_Status SetString(SANE_Handle h, const char* name, const std::string& value)
{
    const SANE_Option_Descriptor* d = nullptr;
    const int i = FindOption(h, name, &d);
    if (i < 0 || !Usable(d) || d->type != SANE_TYPE_STRING)
        return SANE_STATUS_UNSUPPORTED;
    std::vector<char> buf(static_cast<size_t>(std::max<SANE_Int>(d->size, 1)) + value.size() + 1, '\0');
    std::memcpy(buf.data(), value.c_str(), value.size());
    return sane_control_option(h, i, SANE_ACTION_SET_VALUE, buf.data(), nullptr);
}

bool GetNumber(SANE_Handle h, const char* name, double& value)
{
    const SANE_Option_Descriptor* d = nullptr;
    const int i = FindOption(h, name, &d);
    if (i < 0 || !SANE_OPTION_IS_ACTIVE(d->cap) || d->size != static_cast<SANE_Int>(sizeof(SANE_Word)))
        return false;
    SANE_Word w = 0;
    if (sane_control_option(h, i, SANE_ACTION_GET_VALUE, &w, nullptr) != SANE_STATUS_GOOD)
        return false;
    value = d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : w;
    return true;
}

bool GetString(SANE_Handle h, const char* name, std::string& value)
{
    const SANE_Option_Descriptor* d = nullptr;
    const int i = FindOption(h, name, &d);
    if (i < 0 || !SANE_OPTION_IS_ACTIVE(d->cap) || d->type != SANE_TYPE_STRING || d->size <= 0)
        return false;
    std::vector<char> buf(static_cast<size_t>(d->size) + 1, '\0');
    if (sane_control_option(h, i, SANE_ACTION_GET_VALUE, buf.data(), nullptr) != SANE_STATUS_GOOD)
        return false;
    value = buf.data();
    return true;
}

// Range of a numeric option (range or word list constraint).
bool GetRange(SANE_Handle h, const char* name, double& lo, double& hi)
{
    const SANE_Option_Descriptor* d = nullptr;
    if (FindOption(h, name, &d) < 0)
        return false;
    auto unfix = [d](SANE_Word w) { return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w); };
    if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
        lo = unfix(d->constraint.range->min);
        hi = unfix(d->constraint.range->max);
        return true;
    }
    if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list && d->constraint.word_list[0] > 0) {
        lo = hi = unfix(d->constraint.word_list[1]);
        for (SANE_Int k = 1; k <= d->constraint.word_list[0]; ++k) {
            lo = std::min(lo, unfix(d->constraint.word_list[k]));
            hi = std::max(hi, unfix(d->constraint.word_list[k]));
        }
        return true;
    }
    return false;
}

// Every value of a word-list constraint, or the step of a range (0 when none).
void Constraint(SANE_Handle h, const char* name, std::vector<double>& list, double& step)
{
    list.clear();
    step = 0;
    const SANE_Option_Descriptor* d = nullptr;
    if (FindOption(h, name, &d) < 0)
        return;
    auto unfix = [d](SANE_Word w) { return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w); };
    if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range)
        step = unfix(d->constraint.range->quant);
    else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list)
        for (SANE_Int k = 1; k <= d->constraint.word_list[0]; ++k)
            list.push_back(unfix(d->constraint.word_list[k]));
}

std::vector<std::string> StringList(SANE_Handle h, const char* name)
{
    std::vector<std::string> out;
    const SANE_Option_Descriptor* d = nullptr;
    if (FindOption(h, name, &d) < 0 || d->constraint_type != SANE_CONSTRAINT_STRING_LIST)
        return out;
    for (const SANE_String_Const* s = d->constraint.string_list; s && *s; ++s)
        out.emplace_back(*s);
    return out;
}

bool Contains(const std::string& s, const char* part)
{
    std::string a = s, b = part;
    std::transform(a.begin(), a.end(), a.begin(), ::tolower);
    std::transform(b.begin(), b.end(), b.begin(), ::tolower);
    return a.find(b) != std::string::npos;
}

SANE_Status SetExtra(SANE_Handle h, const std::string& name, const std::string& value)
{
    const SANE_Option_Descriptor* d = nullptr;
    if (FindOption(h, name.c_str(), &d) < 0)
        return SANE_STATUS_UNSUPPORTED;
    if (d->type == SANE_TYPE_STRING)
        return SetString(h, name.c_str(), value);
    if (d->type == SANE_TYPE_BOOL) {
        const bool on = value == "1" || value == "yes" || value == "true";
        return SetNumber(h, name.c_str(), on ? 1 : 0);
    }
    return SetNumber(h, name.c_str(), std::atof(value.c_str()));
}

} // namespace

SANE_Status SaneEnsureInit()
{
    std::call_once(g_initOnce, [] {
        SANE_Int version = 0;
        g_initStatus = sane_init(&version, nullptr);
    });
    return g_initStatus;
}

SANE_Status SaneListDevices(std::vector<TSaneDeviceInfo>& out)
{
    out.clear();
    SANE_Status st = SaneEnsureInit();
    if (st != SANE_STATUS_GOOD)
        return st;
    const SANE_Device** list = nullptr;
    st = sane_get_devices(&list, SANE_FALSE);
    if (st != SANE_STATUS_GOOD)
        return st;
    for (const SANE_Device** d = list; d && *d; ++d) {
        TSaneDeviceInfo info;
        info.Name = (*d)->name ? (*d)->name : "";
        info.Vendor = (*d)->vendor ? (*d)->vendor : "";
        info.Model = (*d)->model ? (*d)->model : "";
        info.Type = (*d)->type ? (*d)->type : "";
        out.push_back(std::move(info));
    }
    return SANE_STATUS_GOOD;
}

void SaneReadCaps(SANE_Handle h, TDeviceCaps& caps)
{
    double lo, hi, v;
    if (GetRange(h, SANE_NAME_SCAN_RESOLUTION, lo, hi)) {
        caps.ResMin = lo;
        caps.ResMax = hi;
    }
    if (GetNumber(h, SANE_NAME_SCAN_RESOLUTION, v))
        caps.Resolution = v;
    const std::vector<std::string> modes = StringList(h, SANE_NAME_SCAN_MODE);
    if (!modes.empty()) {
        caps.HasColor = caps.HasGray = caps.HasLineart = false;
        for (const std::string& m : modes) {
            if (!caps.HasColor && (m == SANE_VALUE_SCAN_MODE_COLOR || (Contains(m, "color") && !Contains(m, "lineart")))) {
                caps.HasColor = true;
                caps.ColorMode = m;
            } else if (!caps.HasGray && (m == SANE_VALUE_SCAN_MODE_GRAY || Contains(m, "gray") || Contains(m, "grey"))) {
                caps.HasGray = true;
                caps.GrayMode = m;
            } else if (!caps.HasLineart && (m == SANE_VALUE_SCAN_MODE_LINEART || Contains(m, "lineart") ||
                                            Contains(m, "binary"))) {
                caps.HasLineart = true;
                caps.LineartMode = m;
            }
        }
    }
    std::string mode;
    if (GetString(h, SANE_NAME_SCAN_MODE, mode))
        caps.CurrentPixelType = mode == caps.GrayMode ? TWPT_GRAY : (mode == caps.LineartMode ? TWPT_BW : TWPT_RGB);
    if (GetRange(h, SANE_NAME_SCAN_BR_X, lo, hi))
        caps.MaxRight = hi;
    if (GetRange(h, SANE_NAME_SCAN_BR_Y, lo, hi))
        caps.MaxBottom = hi;
    GetNumber(h, SANE_NAME_SCAN_TL_X, caps.Left);
    GetNumber(h, SANE_NAME_SCAN_TL_Y, caps.Top);
    GetNumber(h, SANE_NAME_SCAN_BR_X, caps.Right);
    GetNumber(h, SANE_NAME_SCAN_BR_Y, caps.Bottom);
    caps.Feeder = SaneUsesFeeder(h);
    std::vector<double> list;
    Constraint(h, SANE_NAME_SCAN_RESOLUTION, caps.ResList, caps.ResStep);
    Constraint(h, SANE_NAME_SCAN_BR_X, list, caps.AreaStep);
    caps.Sources = StringList(h, SANE_NAME_SCAN_SOURCE);
    if (!GetString(h, SANE_NAME_SCAN_SOURCE, caps.Source))
        caps.Source.clear();
    double step = 0;
    Constraint(h, SANE_NAME_BIT_DEPTH, list, step);
    caps.Depths.clear();
    for (double d : list)
        if (d == 8 || d == 16)
            caps.Depths.push_back(static_cast<int>(d));
    if (GetNumber(h, SANE_NAME_BIT_DEPTH, v) && (v == 8 || v == 16))
        caps.Depth = static_cast<int>(v);
}

double NearestResolution(const TDeviceCaps& caps, double dpi)
{
    if (!caps.ResList.empty()) {
        double best = caps.ResList.front();
        for (double r : caps.ResList)
            if (std::fabs(r - dpi) < std::fabs(best - dpi))
                best = r;
        return best;
    }
    double r = std::max(caps.ResMin, std::min(caps.ResMax, dpi));
    if (caps.ResStep > 0)
        r = std::min(caps.ResMax, caps.ResMin + std::round((r - caps.ResMin) / caps.ResStep) * caps.ResStep);
    return r;
}

int AreaPixels(double mm, double dpi)
{
    // Devices cut the last partial pixel off; the small allowance keeps a length that is
    // an exact number of pixels from losing one to rounding of the millimetres.
    return std::max(0, static_cast<int>(mm / 25.4 * dpi + 1e-6));
}

SANE_Status SaneApply(SANE_Handle h, const TScanSettings& s, const std::vector<std::pair<std::string, std::string>>& extra)
{
    std::vector<std::string> modes = StringList(h, SANE_NAME_SCAN_MODE);
    TDeviceCaps caps;
    SaneReadCaps(h, caps);
    if (!modes.empty()) {
        std::string mode = caps.ColorMode;
        if (s.PixelType == TWPT_GRAY || (s.PixelType == TWPT_BW && !caps.HasLineart))
            mode = caps.GrayMode;
        else if (s.PixelType == TWPT_BW)
            mode = caps.LineartMode;
        SetString(h, SANE_NAME_SCAN_MODE, mode);
    }
    if (!s.Source.empty() && !caps.Sources.empty())
        SetString(h, SANE_NAME_SCAN_SOURCE, s.Source);
    // Without a lineart mode a two-colour page is a grey scan of depth 1.
    SetNumber(h, SANE_NAME_BIT_DEPTH, s.PixelType == TWPT_BW && !caps.HasLineart ? 1 : (s.Depth == 16 ? 16 : 8));
    SetNumber(h, SANE_NAME_SCAN_RESOLUTION, s.Dpi);
    SetNumber(h, SANE_NAME_PREVIEW, s.Preview ? 1 : 0);
    // The bottom-right corner first, so a shrinking area never passes its top-left one.
    SetNumber(h, SANE_NAME_SCAN_TL_X, 0);
    SetNumber(h, SANE_NAME_SCAN_TL_Y, 0);
    SetNumber(h, SANE_NAME_SCAN_BR_X, s.Right);
    SetNumber(h, SANE_NAME_SCAN_BR_Y, s.Bottom);
    SetNumber(h, SANE_NAME_SCAN_TL_X, s.Left);
    SetNumber(h, SANE_NAME_SCAN_TL_Y, s.Top);
    for (const auto& kv : extra)
        SetExtra(h, kv.first, kv.second);
    return SANE_STATUS_GOOD;
}

bool SaneUsesFeeder(SANE_Handle h)
{
    std::string source;
    return GetString(h, SANE_NAME_SCAN_SOURCE, source) && (Contains(source, "feeder") || Contains(source, "adf"));
}

QString SaneStatusText(SANE_Status st)
{
    switch (st) {
    case SANE_STATUS_GOOD:
        return QString();
    case SANE_STATUS_UNSUPPORTED:
        return "Operazione non supportata dallo scanner.";
    case SANE_STATUS_CANCELLED:
        return "Scansione interrotta.";
    case SANE_STATUS_DEVICE_BUSY:
        return "Lo scanner è occupato. Attendere che termini l'operazione in corso e riprovare.";
    case SANE_STATUS_INVAL:
        return "Lo scanner non accetta le impostazioni richieste.";
    case SANE_STATUS_EOF:
        return "Lo scanner non ha restituito alcuna immagine (pagina vuota).";
    case SANE_STATUS_JAMMED:
        return "Carta inceppata nello scanner. Rimuovere il foglio e riprovare.";
    case SANE_STATUS_NO_DOCS:
        return "Nessun documento nello scanner. Inserire il foglio e riprovare.";
    case SANE_STATUS_COVER_OPEN:
        return "Il coperchio dello scanner è aperto. Chiuderlo e riprovare.";
    case SANE_STATUS_IO_ERROR:
        return "Errore di comunicazione con lo scanner (errore di ingresso/uscita). Controllare il collegamento.";
    case SANE_STATUS_NO_MEM:
        return "Memoria insufficiente per completare la scansione.";
    case SANE_STATUS_ACCESS_DENIED:
        return "Accesso allo scanner negato. Controllare i permessi del dispositivo.";
    default:
        return QString("Errore dello scanner (codice %1).").arg(static_cast<int>(st));
    }
}

TW_UINT16 SaneStatusCondition(SANE_Status st)
{
    switch (st) {
    case SANE_STATUS_GOOD:
        return TWCC_SUCCESS;
    case SANE_STATUS_JAMMED:
        return TWCC_PAPERJAM;
    case SANE_STATUS_NO_MEM:
        return TWCC_LOWMEMORY;
    case SANE_STATUS_DEVICE_BUSY:
        return TWCC_MAXCONNECTIONS;
    case SANE_STATUS_ACCESS_DENIED:
        return TWCC_DENIED;
    case SANE_STATUS_INVAL:
        return TWCC_BADVALUE;
    case SANE_STATUS_IO_ERROR:
        return TWCC_CHECKDEVICEONLINE;
    default:
        return TWCC_OPERATIONERROR;
    }
}
