#include "scan/TW_Misc.h"

#include "scan/TW_Apps.h"
#include "scan/TW_Table.h"

#include <QMessageBox>
#include <QString>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The module's texts use "\r" as line break; Qt labels break on "\n".
QString BoxText(const std::string& text)
{
    QString s = QString::fromStdString(text);
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

void ShowBox(QWidget* window, QMessageBox::Icon icon, const std::string& caption, const std::string& text)
{
    QMessageBox box(icon, BoxText(caption), BoxText(text), QMessageBox::Ok, window);
    box.exec();
}

uint32_t ReadU32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint16_t ReadU16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

} // namespace

std::string TwFormat(const char* fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

void ShowRC_CC(QWidget* window, int level, const std::string& caption, const std::string& text)
{
    if (level > MessageLevel)
        return;
    ShowBox(window, QMessageBox::NoIcon, caption, text);
}

std::string OperationReportText(TW_UINT16 returnCode, const std::string& caption)
{
    std::string rc, cc;
    MatchTwainInt(ReturnCodeNames, ReturnCodeCount, returnCode, rc);
    MatchTwainInt(ConditionCodeNames, ConditionCodeCount, SourceStatus.ConditionCode, cc);
    return "Operation\t: " + caption + "\r" + "Return Code\t: " + rc + "\r" + "Condition Code\t: " + cc;
}

void ShowRC_CC(QWidget* window, int level, TW_UINT16 returnCode, const std::string& caption)
{
    if (level > MessageLevel)
        return;
    ShowBox(window, QMessageBox::NoIcon, "Operation Status", OperationReportText(returnCode, caption));
}

void ShowTwainError(QWidget* window, const std::string& text)
{
    ShowBox(window, QMessageBox::Critical, "Errore", text);
}

void ShowTwainInfo(QWidget* window, const std::string& text)
{
    ShowBox(window, QMessageBox::Information, "Informazione", text);
}

float FIX32ToFloat(TW_FIX32 fix)
{
    return static_cast<float>(fix.Whole) + static_cast<float>(fix.Frac) / 65536.0f;
}

TW_FIX32 FloatToFIX32(double value)
{
    const int32_t v = static_cast<int32_t>(value * 65536.0 + (value < 0 ? -0.5 : 0.5));
    TW_FIX32 f;
    f.Whole = static_cast<TW_INT16>(v >> 16);
    f.Frac = static_cast<TW_UINT16>(v & 0xFFFF);
    return f;
}

TW_UINT16 AltTWItemSize(TW_UINT16 itemType)
{
    switch (itemType) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
        return 4;
    case TWTY_FRAME:
        return 16;
    case TWTY_STR32:
        return 34;
    case TWTY_STR64:
        return 66;
    case TWTY_STR128:
        return 130;
    case TWTY_STR255:
        return 256;
    default:
        return 2;
    }
}

const std::string& GetItem(std::string& dest, TW_UINT16 itemType, const void* item)
{
    const auto* p = static_cast<const uint8_t*>(item);
    switch (itemType) {
    case TWTY_INT8:
        dest = std::to_string(static_cast<int8_t>(p[0]));
        break;
    case TWTY_UINT8:
        dest = std::to_string(p[0]);
        break;
    case TWTY_INT16:
        dest = std::to_string(static_cast<int16_t>(ReadU16(p)));
        break;
    case TWTY_UINT16:
    case TWTY_BOOL:
        dest = std::to_string(ReadU16(p));
        break;
    case TWTY_INT32:
        dest = std::to_string(static_cast<int32_t>(ReadU32(p)));
        break;
    case TWTY_UINT32:
        dest = std::to_string(ReadU32(p));
        break;
    case TWTY_FIX32: {
        TW_FIX32 f;
        std::memcpy(&f, p, sizeof f);
        dest = TwFormat("%f", static_cast<double>(FIX32ToFloat(f)));
        break;
    }
    case TWTY_FRAME: {
        TW_FRAME fr;
        std::memcpy(&fr, p, sizeof fr);
        dest = TwFormat("%f %f %f %f", static_cast<double>(FIX32ToFloat(fr.Left)),
                        static_cast<double>(FIX32ToFloat(fr.Top)), static_cast<double>(FIX32ToFloat(fr.Right)),
                        static_cast<double>(FIX32ToFloat(fr.Bottom)));
        break;
    }
    case TWTY_STR32:
    case TWTY_STR64:
    case TWTY_STR128:
    case TWTY_STR255: {
        // Never read past the field even when its terminating NUL is missing.
        const size_t field = AltTWItemSize(itemType);
        dest.assign(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), field));
        break;
    }
    default:
        dest = std::to_string(ReadU16(p));
        break;
    }
    return dest;
}

TW_UINT16 DibNumColors(const void* header)
{
    const auto* h = static_cast<const uint8_t*>(header);
    const uint32_t size = ReadU32(h);
    uint32_t bits;
    if (size == 12) {
        bits = ReadU16(h + 10);
    } else {
        const uint32_t used = ReadU32(h + 32);
        if (used != 0)
            return static_cast<TW_UINT16>(used);
        bits = ReadU16(h + 14);
    }
    switch (bits) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

QVector<QRgb> CreateBIPalette(const void* header)
{
    QVector<QRgb> pal;
    const auto* h = static_cast<const uint8_t*>(header);
    if (!h || ReadU32(h) != 40)
        return pal;
    const int n = DibNumColors(header);
    if (n > 0) {
        const uint8_t* table = h + 40;
        pal.reserve(n);
        for (int i = 0; i < n && i < 256; ++i)
            pal.push_back(qRgb(table[i * 4 + 2], table[i * 4 + 1], table[i * 4]));
    } else if (ReadU16(h + 14) == 24) {
        // A display that needs a palette gets a 6x6x6 colour cube plus a grey ramp.
        for (int i = 0; i < 216; ++i)
            pal.push_back(qRgb((i / 36) * 51, ((i / 6) % 6) * 51, (i % 6) * 51));
        for (int i = 0; i < 40; ++i)
            pal.push_back(qRgb(i * 255 / 39, i * 255 / 39, i * 255 / 39));
    }
    return pal;
}

void ShowTW_ID(QWidget* window, const std::string& caption)
{
    const TW_IDENTITY& id = SourceIdentity;
    auto str = [](const char* s) { return std::string(s, strnlen(s, 34)); };
    std::string t;
    t += TwFormat("%s %d\r", "Id\t\t\t:", static_cast<int>(id.Id));
    t += TwFormat("%s %d\r", "TW_VERSION.MajorNum\t:", id.Version.MajorNum);
    t += TwFormat("%s %d\r", "TW_VERSION.MinorNum\t:", id.Version.MinorNum);
    t += TwFormat("%s %d\r", "TW_VERSION.Language\t:", id.Version.Language);
    t += TwFormat("%s %d\r", "TW_VERSION.Country\t:", id.Version.Country);
    t += TwFormat("%s %s\r", "TW_VERSION.Info\t\t:", str(id.Version.Info).c_str());
    t += TwFormat("%s %d\r", "ProtocolMajor\t\t:", id.ProtocolMajor);
    t += TwFormat("%s %d\r", "ProtocolMinor\t\t:", id.ProtocolMinor);
    t += TwFormat("%s %d\r", "SupportedGroups\t\t:", static_cast<int>(id.SupportedGroups));
    t += TwFormat("%s %s\r", "Manufacturer\t\t:", str(id.Manufacturer).c_str());
    t += TwFormat("%s %s\r", "ProductFamily\t\t:", str(id.ProductFamily).c_str());
    t += TwFormat("%s %s\r", "ProductName\t\t:", str(id.ProductName).c_str());
    ShowRC_CC(window, TWML_REPORT, caption, t);
}

void ShowImageInfo(QWidget* window)
{
    if (TWML_REPORT > MessageLevel)
        return;
    TW_IMAGEINFO info{};
    const TW_UINT16 rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
    std::string t = TwFormat("RETURN CODE\t: %d\r\r", rc);
    if (rc == TWRC_SUCCESS) {
        t += TwFormat("XResolution\t: %.2f\r", static_cast<double>(FIX32ToFloat(info.XResolution)));
        t += TwFormat("YResolution\t: %.2f\r", static_cast<double>(FIX32ToFloat(info.YResolution)));
        t += TwFormat("ImageWidth\t: %d\r", info.ImageWidth);
        t += TwFormat("ImageLength\t: %d\r", info.ImageLength);
        t += TwFormat("SamplesPerPixel\t: %d\r", info.SamplesPerPixel);
        t += "BitsPerSample\t: ";
        for (int i = 0; i < 8; ++i)
            t += (i ? ", " : "") + std::to_string(info.BitsPerSample[i]);
        t += TwFormat("\rBitsPerPixel\t: %d\r", info.BitsPerPixel);
        t += TwFormat("Planar\t\t: %s\r", info.Planar ? "TRUE" : "FALSE");
        t += TwFormat("PixelType\t\t: %d\r", info.PixelType);
        t += TwFormat("Compression\t: %d\r", info.Compression);
    } else {
        t += "Condition Code Check Failed\r";
    }
    ShowRC_CC(window, TWML_REPORT, "TW_IMAGEINFO", t);
}

void ShowImageLayout(QWidget* window)
{
    if (TWML_REPORT > MessageLevel)
        return;
    TW_IMAGELAYOUT lay{};
    const TW_UINT16 rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &lay);
    std::string t = TwFormat("RETURN CODE\t: %d\r", rc);
    if (rc == TWRC_SUCCESS) {
        t += TwFormat("\rFrame.Left\t: %.2f\r", static_cast<double>(FIX32ToFloat(lay.Frame.Left)));
        t += TwFormat("Frame.Top\t: %.2f\r", static_cast<double>(FIX32ToFloat(lay.Frame.Top)));
        t += TwFormat("Frame.Right\t: %.2f\r", static_cast<double>(FIX32ToFloat(lay.Frame.Right)));
        t += TwFormat("Frame.Bottom\t: %.2f\r", static_cast<double>(FIX32ToFloat(lay.Frame.Bottom)));
        t += TwFormat("DocumentNumber\t: %d\r", static_cast<int>(lay.DocumentNumber));
        t += TwFormat("PageNumber\t: %d\r", static_cast<int>(lay.PageNumber));
        t += TwFormat("FrameNumber\t: %d\r", static_cast<int>(lay.FrameNumber));
    } else {
        t += "Condition Code Check Failed";
    }
    ShowRC_CC(window, TWML_REPORT, "TW_IMAGELAYOUT", t);
}

void ShowCapability(QWidget* window, TW_UINT16 cap)
{
    if (TWML_REPORT > MessageLevel)
        return;
    TW_CAPABILITY c{cap, TWON_DONTCARE16, nullptr};
    const TW_UINT16 rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &c);
    std::string name, item;
    MatchTwainInt(CapabilityNames, CapabilityCount, cap, name);
    std::string t = TwFormat("RETURN CODE\t: %d\r", rc) + "\rCapability\t\t: " + name;
    if (rc == TWRC_SUCCESS && c.hContainer) {
        std::string con, ty;
        MatchTwainInt(ContainerNames, ContainerCount, c.ConType, con);
        t += "\rConType\t\t: " + con + "\r\rhContainer...";
        const auto* p = static_cast<const uint8_t*>(c.hContainer);
        const TW_UINT16 itemType = ReadU16(p);
        MatchTwainInt(ItemTypeNames, ItemTypeCount, itemType, ty);
        const TW_UINT16 sz = AltTWItemSize(itemType);
        switch (c.ConType) {
        case TWON_ARRAY: {
            const uint32_t n = ReadU32(p + 2);
            t += "\rItemType\t: " + ty + TwFormat("\rNumItems\t: %d", static_cast<int>(n)) + "\rItemList\t\t: ";
            for (uint32_t i = 0; i < n; ++i)
                t += (i ? ", " : "") + GetItem(item, itemType, p + 6 + i * sz);
            break;
        }
        case TWON_ENUMERATION: {
            const uint32_t n = ReadU32(p + 2);
            t += "\rItemType\t\t: " + ty + TwFormat("\rNumItems\t: %d", static_cast<int>(n)) +
                 TwFormat("\rCurrentIndex\t: %d", static_cast<int>(ReadU32(p + 6))) +
                 TwFormat("\rDefaultIndex\t: %d", static_cast<int>(ReadU32(p + 10))) + "\rItemList\t\t: ";
            for (uint32_t i = 0; i < n; ++i)
                t += (i ? ", " : "") + GetItem(item, itemType, p + 14 + i * sz);
            break;
        }
        case TWON_ONEVALUE:
            t += "\rItemType\t\t: " + ty + "\rItem\t\t: " + GetItem(item, itemType, p + 2);
            break;
        case TWON_RANGE:
            t += "\rItemType\t: " + ty;
            t += "\rMinValue\t: " + GetItem(item, itemType, p + 2);
            t += "\rMaxValue\t: " + GetItem(item, itemType, p + 6);
            t += "\rStepSize\t: " + GetItem(item, itemType, p + 10);
            t += "\rDefaultValue\t: " + GetItem(item, itemType, p + 14);
            t += "\rCurrentValue\t: " + GetItem(item, itemType, p + 18);
            break;
        default:
            break;
        }
        std::free(c.hContainer);
    } else if (rc == TWRC_FAILURE) {
        t += TwFormat("\rCondition Code\t: %d", SourceStatus.ConditionCode);
    }
    ShowRC_CC(window, TWML_REPORT, "TW_CAPABILITY", t);
}
