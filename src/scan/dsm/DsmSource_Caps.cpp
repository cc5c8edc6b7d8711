// A data source's capabilities: what it offers and what the application may set.

#include "scan/dsm/DsmSource.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

TW_UINT32 FixBits(double v)
{
    const int32_t f = static_cast<int32_t>(std::lround(v * 65536.0));
    TW_FIX32 fix{static_cast<TW_INT16>(f >> 16), static_cast<TW_UINT16>(f & 0xFFFF)};
    TW_UINT32 bits;
    std::memcpy(&bits, &fix, 4);
    return bits;
}

double FixValue(TW_UINT32 bits)
{
    TW_FIX32 fix;
    std::memcpy(&fix, &bits, 4);
    return fix.Whole + fix.Frac / 65536.0;
}

TW_HANDLE OneValue(TW_UINT16 type, TW_UINT32 item)
{
    auto* c = static_cast<TW_ONEVALUE*>(std::malloc(sizeof(TW_ONEVALUE)));
    if (c) {
        c->ItemType = type;
        c->Item = item;
    }
    return c;
}

void PutItem(uint8_t* at, TW_UINT16 type, TW_UINT32 v)
{
    if (type == TWTY_INT8 || type == TWTY_UINT8)
        *at = static_cast<uint8_t>(v);
    else if (type == TWTY_INT32 || type == TWTY_UINT32 || type == TWTY_FIX32)
        std::memcpy(at, &v, 4);
    else {
        const uint16_t s = static_cast<uint16_t>(v);
        std::memcpy(at, &s, 2);
    }
}

size_t ItemSize(TW_UINT16 type)
{
    if (type == TWTY_INT8 || type == TWTY_UINT8)
        return 1;
    if (type == TWTY_INT32 || type == TWTY_UINT32 || type == TWTY_FIX32)
        return 4;
    return 2;
}

TW_HANDLE Enumeration(TW_UINT16 type, const std::vector<TW_UINT32>& items, size_t current, size_t def)
{
    auto* p = static_cast<uint8_t*>(std::calloc(1, 14 + items.size() * ItemSize(type) + 2));
    if (!p)
        return nullptr;
    const TW_UINT32 n = static_cast<TW_UINT32>(items.size());
    const TW_UINT32 cur = static_cast<TW_UINT32>(current), dflt = static_cast<TW_UINT32>(def);
    std::memcpy(p, &type, 2);
    std::memcpy(p + 2, &n, 4);
    std::memcpy(p + 6, &cur, 4);
    std::memcpy(p + 10, &dflt, 4);
    for (size_t i = 0; i < items.size(); ++i)
        PutItem(p + 14 + i * ItemSize(type), type, items[i]);
    return p;
}

TW_HANDLE ArrayOf(TW_UINT16 type, const std::vector<TW_UINT32>& items)
{
    auto* p = static_cast<uint8_t*>(std::calloc(1, 6 + items.size() * ItemSize(type) + 2));
    if (!p)
        return nullptr;
    const TW_UINT32 n = static_cast<TW_UINT32>(items.size());
    std::memcpy(p, &type, 2);
    std::memcpy(p + 2, &n, 4);
    for (size_t i = 0; i < items.size(); ++i)
        PutItem(p + 6 + i * ItemSize(type), type, items[i]);
    return p;
}

TW_HANDLE Range(TW_UINT16 type, TW_UINT32 lo, TW_UINT32 hi, TW_UINT32 step, TW_UINT32 def, TW_UINT32 cur)
{
    auto* r = static_cast<TW_RANGE*>(std::malloc(sizeof(TW_RANGE)));
    if (r)
        *r = TW_RANGE{type, lo, hi, step, def, cur};
    return r;
}

size_t IndexOf(const std::vector<TW_UINT32>& v, TW_UINT32 x)
{
    const auto it = std::find(v.begin(), v.end(), x);
    return it == v.end() ? 0 : static_cast<size_t>(it - v.begin());
}

} // namespace

TW_UINT16 TDsmSource::Capability(TW_UINT16 msg, TW_CAPABILITY* cap)
{
    const bool get = msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT;
    if (get || msg == MSG_QUERYSUPPORT) {
        if (State < 4)
            return Fail(TWCC_SEQERROR);
    } else if (msg == MSG_SET || msg == MSG_RESET) {
        if (State != 4)
            return Fail(TWCC_SEQERROR);
    } else {
        return Fail(TWCC_BADPROTOCOL);
    }
    static const std::vector<TW_UINT32> kSupported = {CAP_XFERCOUNT,    ICAP_COMPRESSION,     ICAP_PIXELTYPE,
                                                      ICAP_UNITS,       ICAP_XFERMECH,        CAP_SUPPORTEDCAPS,
                                                      CAP_UICONTROLLABLE, CAP_FEEDERENABLED,  ICAP_IMAGEFILEFORMAT,
                                                      ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT, ICAP_XRESOLUTION,
                                                      ICAP_YRESOLUTION, ICAP_PIXELFLAVOR,     ICAP_BITDEPTH};
    if (std::find(kSupported.begin(), kSupported.end(), cap->Cap) == kSupported.end())
        return Fail(TWCC_CAPUNSUPPORTED);
    if (msg == MSG_QUERYSUPPORT) {
        cap->ConType = TWON_ONEVALUE;
        cap->hContainer = OneValue(TWTY_INT32, 0x1F);
        return cap->hContainer ? Ok() : Fail(TWCC_LOWMEMORY);
    }

    std::vector<TW_UINT32> pixelTypes;
    if (caps_.HasLineart || caps_.HasGray)
        pixelTypes.push_back(TWPT_BW);
    if (caps_.HasGray)
        pixelTypes.push_back(TWPT_GRAY);
    if (caps_.HasColor)
        pixelTypes.push_back(TWPT_RGB);
    const TW_UINT16 depth = pixelType_ == TWPT_RGB ? 24 : (pixelType_ == TWPT_GRAY ? 8 : 1);

    if (msg == MSG_RESET) {
        switch (cap->Cap) {
        case ICAP_XFERMECH:
            xferMech_ = TWSX_NATIVE;
            break;
        case ICAP_UNITS:
            units_ = TWUN_INCHES;
            break;
        case ICAP_XRESOLUTION:
            xDpi_ = caps_.Resolution;
            break;
        case ICAP_YRESOLUTION:
            yDpi_ = caps_.Resolution;
            break;
        case ICAP_PIXELTYPE:
            pixelType_ = static_cast<TW_UINT16>(caps_.CurrentPixelType);
            break;
        case CAP_XFERCOUNT:
            xferCount_ = -1;
            break;
        default:
            break;
        }
        msg = MSG_GETCURRENT;
    }

    if (msg == MSG_SET) {
        if (cap->ConType != TWON_ONEVALUE || !cap->hContainer)
            return Fail(TWCC_BADVALUE);
        const auto* one = static_cast<const TW_ONEVALUE*>(cap->hContainer);
        const TW_UINT32 v = one->Item;
        switch (cap->Cap) {
        case ICAP_XFERMECH:
            if (v > TWSX_MEMORY)
                return Fail(TWCC_BADVALUE);
            xferMech_ = static_cast<TW_UINT16>(v);
            return Ok();
        case ICAP_UNITS:
            if ((v & 0xFFFF) != TWUN_INCHES && (v & 0xFFFF) != TWUN_CENTIMETERS)
                return Fail(TWCC_BADVALUE);
            units_ = static_cast<TW_UINT16>(v);
            return Ok();
        case ICAP_XRESOLUTION:
        case ICAP_YRESOLUTION: {
            if (one->ItemType != TWTY_FIX32)
                return Fail(TWCC_BADVALUE);
            const double dpi = FixValue(v) * UnitsPerInch();
            // A resolution the device cannot give becomes the nearest one it can, and
            // the user hears of it in the dialog: silently scanning at another one would
            // mislead.
            const double nearest = NearestResolution(caps_, dpi);
            (cap->Cap == ICAP_XRESOLUTION ? xDpi_ : yDpi_) = nearest;
            if (cap->Cap == ICAP_XRESOLUTION) {
                askedDpi_ = dpi;
                resolutionNote_.clear();
            }
            if (std::fabs(nearest - dpi) < 1e-3)
                return Ok();
            if (cap->Cap == ICAP_XRESOLUTION)
                resolutionNote_ = QString("La risoluzione di %1 dpi indicata nelle opzioni non è disponibile su "
                                          "questo scanner: si usa la più vicina, %2 dpi.")
                                      .arg(dpi, 0, 'f', 0)
                                      .arg(nearest, 0, 'f', 0);
            Condition = TWCC_SUCCESS;
            return TWRC_CHECKSTATUS;
        }
        case ICAP_BITDEPTH: {
            // Each depth belongs to one pixel type here: 24 is colour, 8 grey, 1 two-colour.
            const TW_UINT16 d = static_cast<TW_UINT16>(v & 0xFFFF);
            const TW_UINT32 type = d == 24 ? TWPT_RGB : (d == 8 ? TWPT_GRAY : (d == 1 ? TWPT_BW : 0xFFFF));
            if (std::find(pixelTypes.begin(), pixelTypes.end(), type) == pixelTypes.end())
                return Fail(TWCC_BADVALUE);
            bitDepth_ = d;
            pixelType_ = static_cast<TW_UINT16>(type);
            return Ok();
        }
        case ICAP_PIXELTYPE:
            if (std::find(pixelTypes.begin(), pixelTypes.end(), v & 0xFFFF) == pixelTypes.end())
                return Fail(TWCC_BADVALUE);
            pixelType_ = static_cast<TW_UINT16>(v);
            return Ok();
        case CAP_XFERCOUNT:
            xferCount_ = static_cast<TW_INT16>(v & 0xFFFF);
            return Ok();
        case ICAP_PIXELFLAVOR:
            return (v & 0xFFFF) == TWPF_CHOCOLATE ? Ok() : Fail(TWCC_BADVALUE);
        case ICAP_COMPRESSION:
            return (v & 0xFFFF) == TWCP_NONE ? Ok() : Fail(TWCC_BADVALUE);
        case ICAP_IMAGEFILEFORMAT:
            return (v & 0xFFFF) == TWFF_BMP ? Ok() : Fail(TWCC_BADVALUE);
        default:
            return Fail(TWCC_CAPBADOPERATION);
        }
    }

    // MSG_GET answers the full choice where there is one; the others a single value.
    const bool full = msg == MSG_GET;
    const bool dflt = msg == MSG_GETDEFAULT;
    TW_UINT16 con = TWON_ONEVALUE;
    TW_HANDLE h = nullptr;
    switch (cap->Cap) {
    case ICAP_XFERMECH: {
        const std::vector<TW_UINT32> v = {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY};
        if (full) {
            con = TWON_ENUMERATION;
            h = Enumeration(TWTY_UINT16, v, xferMech_, 0);
        } else {
            h = OneValue(TWTY_UINT16, dflt ? TWSX_NATIVE : xferMech_);
        }
        break;
    }
    case ICAP_UNITS:
        if (full) {
            con = TWON_ENUMERATION;
            h = Enumeration(TWTY_UINT16, {TWUN_INCHES, TWUN_CENTIMETERS}, units_, 0);
        } else {
            h = OneValue(TWTY_UINT16, dflt ? TWUN_INCHES : units_);
        }
        break;
    case ICAP_PIXELTYPE:
        if (full) {
            con = TWON_ENUMERATION;
            h = Enumeration(TWTY_UINT16, pixelTypes, IndexOf(pixelTypes, pixelType_),
                            IndexOf(pixelTypes, static_cast<TW_UINT32>(caps_.CurrentPixelType)));
        } else {
            h = OneValue(TWTY_UINT16, dflt ? static_cast<TW_UINT32>(caps_.CurrentPixelType) : pixelType_);
        }
        break;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
        const double cur = (cap->Cap == ICAP_XRESOLUTION ? xDpi_ : yDpi_) / UnitsPerInch();
        const double def = caps_.Resolution / UnitsPerInch();
        if (full) {
            con = TWON_RANGE;
            h = Range(TWTY_FIX32, FixBits(caps_.ResMin / UnitsPerInch()), FixBits(caps_.ResMax / UnitsPerInch()),
                      FixBits(1.0), FixBits(def), FixBits(cur));
        } else {
            h = OneValue(TWTY_FIX32, FixBits(dflt ? def : cur));
        }
        break;
    }
    case ICAP_BITDEPTH:
        h = OneValue(TWTY_UINT16, dflt ? 24 : depth);
        break;
    case ICAP_PIXELFLAVOR:
        h = OneValue(TWTY_UINT16, TWPF_CHOCOLATE);
        break;
    case ICAP_COMPRESSION:
        h = OneValue(TWTY_UINT16, TWCP_NONE);
        break;
    case ICAP_IMAGEFILEFORMAT:
        h = OneValue(TWTY_UINT16, TWFF_BMP);
        break;
    case CAP_XFERCOUNT:
        h = OneValue(TWTY_INT16, static_cast<TW_UINT16>(dflt ? -1 : xferCount_));
        break;
    case CAP_UICONTROLLABLE:
        h = OneValue(TWTY_BOOL, TW_TRUE);
        break;
    case CAP_FEEDERENABLED:
        h = OneValue(TWTY_BOOL, caps_.Feeder ? TW_TRUE : TW_FALSE);
        break;
    case ICAP_PHYSICALWIDTH:
        h = OneValue(TWTY_FIX32, FixBits(caps_.MaxRight / 25.4 * (units_ == TWUN_CENTIMETERS ? 2.54 : 1.0)));
        break;
    case ICAP_PHYSICALHEIGHT:
        h = OneValue(TWTY_FIX32, FixBits(caps_.MaxBottom / 25.4 * (units_ == TWUN_CENTIMETERS ? 2.54 : 1.0)));
        break;
    case CAP_SUPPORTEDCAPS:
        con = TWON_ARRAY;
        h = ArrayOf(TWTY_UINT16, kSupported);
        break;
    default:
        return Fail(TWCC_CAPUNSUPPORTED);
    }
    if (!h)
        return Fail(TWCC_LOWMEMORY);
    cap->ConType = con;
    cap->hContainer = h;
    return Ok();
}

