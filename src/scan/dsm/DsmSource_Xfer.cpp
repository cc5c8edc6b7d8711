// A data source's image information and layout, and the three transfer mechanisms.

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

TW_FIX32 Fix(double v)
{
    const int32_t f = static_cast<int32_t>(std::lround(v * 65536.0));
    return TW_FIX32{static_cast<TW_INT16>(f >> 16), static_cast<TW_UINT16>(f & 0xFFFF)};
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
