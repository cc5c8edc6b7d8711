// A data source's capabilities, image information and the three transfer mechanisms.

#include "scan/dsm/DsmSource.h"

#include "scan/dsm/DsmDialogs.h"

#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
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

TW_FIX32 Fix(double v)
{
    const TW_UINT32 b = FixBits(v);
    TW_FIX32 f;
    std::memcpy(&f, &b, 4);
    return f;
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

double TDsmSource::UnitsPerInch() const { return units_ == TWUN_CENTIMETERS ? 2.54 : 1.0; }

size_t TDsmSource::PageStride() const
{
    int width = page_.Width;
    int bits = page_.BitsPerPixel;
    if (State < 6 || page_.Width <= 0) {
        width = static_cast<int>((area_.Right - area_.Left) / 25.4 * xDpi_);
        bits = pixelType_ == TWPT_RGB ? 24 : (pixelType_ == TWPT_GRAY ? 8 : 1);
    }
    return static_cast<size_t>(((static_cast<int64_t>(bits) * std::max(width, 1) + 31) / 32) * 4);
}

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

TW_UINT16 TDsmSource::ImageInfo(TW_IMAGEINFO* info)
{
    if (State < 6)
        return Fail(TWCC_SEQERROR);
    std::memset(info, 0, sizeof *info);
    info->XResolution = Fix(page_.Dpi / UnitsPerInch());
    info->YResolution = Fix(page_.Dpi / UnitsPerInch());
    info->ImageWidth = page_.Width;
    info->ImageLength = page_.Height;
    const bool rgb = page_.PixelType == TWPT_RGB;
    info->SamplesPerPixel = rgb ? 3 : 1;
    for (int i = 0; i < info->SamplesPerPixel; ++i)
        info->BitsPerSample[i] = static_cast<TW_INT16>(page_.PixelType == TWPT_BW ? 1 : 8);
    info->BitsPerPixel = static_cast<TW_INT16>(page_.BitsPerPixel);
    info->Planar = TW_FALSE;
    info->PixelType = static_cast<TW_INT16>(page_.PixelType);
    info->Compression = TWCP_NONE;
    return Ok();
}

TW_UINT16 TDsmSource::ImageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* lay)
{
    if (msg == MSG_GET || msg == MSG_GETDEFAULT || msg == MSG_GETCURRENT) {
        if (State < 4 || State > 6)
            return Fail(TWCC_SEQERROR);
        const double k = UnitsPerInch() / 25.4;
        TScanSettings a = area_;
        if (msg == MSG_GETDEFAULT)
            a.Left = caps_.Left, a.Top = caps_.Top, a.Right = caps_.Right, a.Bottom = caps_.Bottom;
        lay->Frame = TW_FRAME{Fix(a.Left * k), Fix(a.Top * k), Fix(a.Right * k), Fix(a.Bottom * k)};
        lay->DocumentNumber = lay->PageNumber = lay->FrameNumber = 1;
        return Ok();
    }
    if (msg == MSG_SET || msg == MSG_RESET) {
        if (State != 4)
            return Fail(TWCC_SEQERROR);
        if (msg == MSG_RESET) {
            area_.Left = caps_.Left, area_.Top = caps_.Top, area_.Right = caps_.Right, area_.Bottom = caps_.Bottom;
            return Ok();
        }
        const double k = 25.4 / UnitsPerInch();
        TScanSettings a = area_;
        a.Left = (lay->Frame.Left.Whole + lay->Frame.Left.Frac / 65536.0) * k;
        a.Top = (lay->Frame.Top.Whole + lay->Frame.Top.Frac / 65536.0) * k;
        a.Right = (lay->Frame.Right.Whole + lay->Frame.Right.Frac / 65536.0) * k;
        a.Bottom = (lay->Frame.Bottom.Whole + lay->Frame.Bottom.Frac / 65536.0) * k;
        if (a.Left < 0 || a.Top < 0 || a.Right <= a.Left || a.Bottom <= a.Top || a.Right > caps_.MaxRight + 0.5 ||
            a.Bottom > caps_.MaxBottom + 0.5)
            return Fail(TWCC_BADVALUE);
        area_ = a;
        return Ok();
    }
    return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 TDsmSource::MemXfer(TW_IMAGEMEMXFER* xfer)
{
    if (State != 6 && State != 7)
        return Fail(TWCC_SEQERROR);
    if (xferMech_ != TWSX_MEMORY)
        return Fail(TWCC_SEQERROR);
    const size_t stride = PageStride();
    auto* dst = static_cast<uint8_t*>(xfer->Memory.TheMem);
    if (!dst || xfer->Memory.Length < stride)
        return Fail(TWCC_BADVALUE);
    int rows = std::min<int>(static_cast<int>(xfer->Memory.Length / stride), page_.Height - rowsSent_);
    const uint8_t* data = page_.Data.get();
    if (stream_) {
        // The strip waits for its rows only when the device has not read them yet.
        if (stream_->RowsReady < rowsSent_ + rows && !WaitForRows(rowsSent_ + rows))
            return abandoned_ ? Fail(TWCC_CHECKDEVICEONLINE) : TWRC_CANCEL;
        const int ready = stream_->RowsReady;
        if (ready <= rowsSent_)
            return StreamFailed();
        rows = std::min(rows, ready - rowsSent_);
        data = stream_->Page.Data.get();
    }
    const size_t rowBytes = std::min(page_.RowBytes, stride);
    for (int r = 0; r < rows; ++r) {
        const uint8_t* src = data + page_.SrcStride * static_cast<size_t>(rowsSent_ + r);
        uint8_t* out = dst + stride * static_cast<size_t>(r);
        std::memcpy(out, src, rowBytes);
        if (page_.Invert)
            for (size_t i = 0; i < rowBytes; ++i)
                out[i] = static_cast<uint8_t>(~out[i]);
        if (stride > rowBytes)
            std::memset(out + rowBytes, 0, stride - rowBytes);
    }
    xfer->Compression = TWCP_NONE;
    xfer->BytesPerRow = static_cast<TW_UINT32>(stride);
    xfer->Columns = static_cast<TW_UINT32>(page_.Width);
    xfer->Rows = static_cast<TW_UINT32>(rows);
    xfer->XOffset = 0;
    xfer->YOffset = static_cast<TW_UINT32>(rowsSent_);
    xfer->BytesWritten = static_cast<TW_UINT32>(stride * static_cast<size_t>(rows));
    rowsSent_ += rows;
    State = 7;
    Condition = TWCC_SUCCESS;
    return rowsSent_ >= page_.Height ? TWRC_XFERDONE : TWRC_SUCCESS;
}

bool TDsmSource::WaitForRows(int rows)
{
    // Blocking briefly on the worker's signal keeps a fast device at full speed; between
    // the waits the interface runs (the dialog's Stop and progress, the watchdog), and
    // Busy keeps every other triplet out meanwhile.
    const std::shared_ptr<TJobState> s = stream_;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(s->Mutex);
            if (s->Cond.wait_for(lock, std::chrono::milliseconds(25),
                                 [&] { return s->RowsReady >= rows || s->Ended; }))
                return true;
        }
        Busy = true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 25);
        Busy = false;
        if (abandoned_ || stream_ != s)
            return false;
    }
}

TW_UINT16 TDsmSource::StreamFailed()
{
    const SANE_Status st = stream_->Status;
    progressTimer_.stop();
    if (dialog_)
        dialog_->SetBusy(false);
    if (st == SANE_STATUS_CANCELLED) {
        if (dialog_)
            dialog_->ShowStatus(SaneStatusText(st), false);
        Condition = TWCC_SUCCESS;
        return TWRC_CANCEL;
    }
    // The transfer's end closes the dialog, so the device's words come in a box.
    const QString text = SaneStatusText(st == SANE_STATUS_GOOD ? SANE_STATUS_IO_ERROR : st);
    if (dialog_)
        dialog_->ShowStatus(text, true);
    QMessageBox::warning(dialog_ ? static_cast<QWidget*>(dialog_.get()) : parent_, "Scanner", text);
    return Fail(SaneStatusCondition(st == SANE_STATUS_GOOD ? SANE_STATUS_IO_ERROR : st));
}

uint8_t* TDsmSource::BuildDib(size_t& size) const
{
    const int bits = page_.BitsPerPixel;
    const int colors = page_.PixelType == TWPT_RGB ? 0 : (page_.PixelType == TWPT_GRAY ? 256 : 2);
    const size_t stride = static_cast<size_t>(((static_cast<int64_t>(bits) * page_.Width + 31) / 32) * 4);
    const size_t offset = 40 + static_cast<size_t>(colors) * 4;
    size = offset + stride * static_cast<size_t>(page_.Height);
    auto* dib = static_cast<uint8_t*>(std::calloc(1, size));
    if (!dib)
        return nullptr;
    auto put32 = [dib](size_t at, uint32_t v) { std::memcpy(dib + at, &v, 4); };
    auto put16 = [dib](size_t at, uint16_t v) { std::memcpy(dib + at, &v, 2); };
    put32(0, 40);
    put32(4, static_cast<uint32_t>(page_.Width));
    put32(8, static_cast<uint32_t>(page_.Height));
    put16(12, 1);
    put16(14, static_cast<uint16_t>(bits));
    put32(20, static_cast<uint32_t>(stride * static_cast<size_t>(page_.Height)));
    const auto ppm = static_cast<uint32_t>(std::lround(page_.Dpi * 100.0 / 2.54));
    put32(24, ppm);
    put32(28, ppm);
    put32(32, static_cast<uint32_t>(colors));
    for (int i = 0; i < colors; ++i) {
        const uint8_t v = colors == 2 ? static_cast<uint8_t>(i * 255) : static_cast<uint8_t>(i);
        dib[40 + i * 4] = dib[40 + i * 4 + 1] = dib[40 + i * 4 + 2] = v;
    }
    const size_t rowBytes = std::min(page_.RowBytes, stride);
    for (int y = 0; y < page_.Height; ++y) {
        const uint8_t* src = page_.Data.get() + page_.SrcStride * static_cast<size_t>(y);
        uint8_t* out = dib + offset + stride * static_cast<size_t>(page_.Height - 1 - y);
        if (page_.PixelType == TWPT_RGB) {
            for (int x = 0; x < page_.Width; ++x) {
                out[x * 3] = src[x * 3 + 2];
                out[x * 3 + 1] = src[x * 3 + 1];
                out[x * 3 + 2] = src[x * 3];
            }
        } else {
            std::memcpy(out, src, rowBytes);
            if (page_.Invert)
                for (size_t i = 0; i < rowBytes; ++i)
                    out[i] = static_cast<uint8_t>(~out[i]);
        }
    }
    return dib;
}

TW_UINT16 TDsmSource::NativeXfer(TW_HANDLE* out)
{
    if (State != 6)
        return Fail(TWCC_SEQERROR);
    if (xferMech_ != TWSX_NATIVE)
        return Fail(TWCC_SEQERROR);
    size_t size = 0;
    uint8_t* dib = BuildDib(size);
    if (!dib)
        return Fail(TWCC_LOWMEMORY);
    *out = dib;
    State = 7;
    Condition = TWCC_SUCCESS;
    return TWRC_XFERDONE;
}

TW_UINT16 TDsmSource::FileXfer()
{
    if (State != 6)
        return Fail(TWCC_SEQERROR);
    if (xferMech_ != TWSX_FILE)
        return Fail(TWCC_SEQERROR);
    size_t size = 0;
    uint8_t* dib = BuildDib(size);
    if (!dib)
        return Fail(TWCC_LOWMEMORY);
    const uint32_t colors = static_cast<uint32_t>(dib[32] | dib[33] << 8);
    uint8_t header[14] = {'B', 'M'};
    const uint32_t fileSize = static_cast<uint32_t>(14 + size);
    const uint32_t offBits = 14 + 40 + colors * 4;
    std::memcpy(header + 2, &fileSize, 4);
    std::memcpy(header + 10, &offBits, 4);
    QFile f(QString::fromLocal8Bit(fileName_.empty() ? "TWAIN.TMP" : fileName_.c_str()));
    const bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                    f.write(reinterpret_cast<const char*>(header), 14) == 14 &&
                    f.write(reinterpret_cast<const char*>(dib), static_cast<qint64>(size)) == static_cast<qint64>(size);
    std::free(dib);
    f.close();
    if (!ok)
        return Fail(TWCC_FILEWRITEERROR);
    State = 7;
    Condition = TWCC_SUCCESS;
    return TWRC_XFERDONE;
}

TW_UINT16 TDsmSource::PendingXfers(TW_UINT16 msg, TW_PENDINGXFERS* p)
{
    p->EOJ = 0;
    if (msg == MSG_GET) {
        if (State < 4)
            return Fail(TWCC_SEQERROR);
        p->Count = State >= 6 ? 1 : 0;
        return Ok();
    }
    if (msg == MSG_ENDXFER || msg == MSG_RESET) {
        if (State != 6 && !(msg == MSG_ENDXFER && State == 7))
            return Fail(TWCC_SEQERROR);
        const bool complete = !stream_ || rowsSent_ >= page_.Height;
        DropPage();
        // A feeder keeps going until it runs out of paper or the application has
        // taken the number of pages it asked for.
        if (msg == MSG_ENDXFER && caps_.Feeder && !abandoned_ && xferCount_ != 1 && NextFeederPage()) {
            if (xferCount_ > 1)
                --xferCount_;
            State = 6;
            p->Count = TWON_DONTCARE16;
            return Ok();
        }
        State = 5;
        p->Count = 0;
        if (dialog_ && complete) {
            dialog_->SetBusy(false);
            dialog_->ShowStatus("Scansione completata.", false);
        }
        return Ok();
    }
    return Fail(TWCC_BADPROTOCOL);
}
