// A data source's life: triplet dispatch and states, its dialog, and the pages read on
// the worker thread.

#include "scan/dsm/DsmSource.h"

#include "scan/dsm/DsmDialogs.h"
#include "scan/dsm/DsmSettings.h"

#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <cstring>

namespace {

// A small picture of a page for the preview, without any TWAIN packing.
QImage PageToImage(const TScanPage& page)
{
    if (!page.Data || page.Width <= 0 || page.Height <= 0)
        return QImage();
    QImage img(page.Width, page.Height, QImage::Format_RGB888);
    for (int y = 0; y < page.Height; ++y) {
        const uint8_t* src = page.Data.get() + page.SrcStride * static_cast<size_t>(y);
        uint8_t* dst = img.scanLine(y);
        for (int x = 0; x < page.Width; ++x, dst += 3) {
            if (page.PixelType == TWPT_RGB) {
                std::memcpy(dst, src + x * 3, 3);
            } else if (page.PixelType == TWPT_GRAY) {
                dst[0] = dst[1] = dst[2] = src[x];
            } else {
                const bool set = (src[x / 8] >> (7 - (x & 7))) & 1;
                dst[0] = dst[1] = dst[2] = (set != page.Invert) ? 255 : 0;
            }
        }
    }
    return img;
}

} // namespace

TDsmSource::TDsmSource(const TW_IDENTITY& identity, const TSaneDeviceInfo& device, std::shared_ptr<TSaneWorker> worker,
                       SANE_Handle handle, const TDeviceCaps& caps, const TExtraOptions& extra, TDeviceLister devices)
    : Identity(identity), device_(device), worker_(std::move(worker)), session_(std::make_shared<TSession>()),
      caps_(caps), extra_(extra), devices_(std::move(devices))
{
    session_->H = handle;
    pixelType_ = static_cast<TW_UINT16>(caps.CurrentPixelType);
    bitDepth_ = pixelType_ == TWPT_RGB ? 24 : (pixelType_ == TWPT_GRAY ? 8 : 1);
    xDpi_ = yDpi_ = caps.Resolution;
    area_.Left = caps.Left;
    area_.Top = caps.Top;
    area_.Right = caps.Right;
    area_.Bottom = caps.Bottom;
    progressTimer_.setInterval(100);
    connect(&progressTimer_, &QTimer::timeout, this, &TDsmSource::OnProgressTick);
}

TDsmSource::~TDsmSource()
{
    StopJob();
}

TW_UINT16 TDsmSource::Fail(TW_UINT16 cc)
{
    Condition = cc;
    return TWRC_FAILURE;
}

TW_UINT16 TDsmSource::Ok()
{
    Condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 TDsmSource::Entry(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    TDsmDepthGuard guard(Depth);
    if (dg == DG_CONTROL && dat == DAT_STATUS) {
        if (msg != MSG_GET || !data)
            return Fail(TWCC_BADPROTOCOL);
        auto* st = static_cast<TW_STATUS*>(data);
        st->ConditionCode = Condition;
        st->Reserved = 0;
        Condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (dg == DG_CONTROL && dat == DAT_EVENT) {
        if (msg != MSG_PROCESSEVENT || !data)
            return Fail(TWCC_BADPROTOCOL);
        if (State < 5)
            return Fail(TWCC_SEQERROR);
        return ProcessEvent(static_cast<TW_EVENT*>(data));
    }
    // Only event routing may enter while a call waits for the device.
    if (Busy)
        return Fail(TWCC_SEQERROR);
    if (!data && !(dg == DG_IMAGE && dat == DAT_IMAGEFILEXFER))
        return Fail(TWCC_BADVALUE);
    if (dg == DG_CONTROL) {
        switch (dat) {
        case DAT_CAPABILITY:
            return Capability(msg, static_cast<TW_CAPABILITY*>(data));
        case DAT_USERINTERFACE:
            return UserInterface(msg, static_cast<TW_USERINTERFACE*>(data));
        case DAT_PENDINGXFERS:
            return PendingXfers(msg, static_cast<TW_PENDINGXFERS*>(data));
        case DAT_SETUPMEMXFER: {
            if (msg != MSG_GET)
                return Fail(TWCC_BADPROTOCOL);
            if (State < 4 || State > 6)
                return Fail(TWCC_SEQERROR);
            auto* s = static_cast<TW_SETUPMEMXFER*>(data);
            const auto stride = static_cast<TW_UINT32>(PageStride());
            s->MinBufSize = stride;
            s->Preferred = stride > 65536 ? stride : 65536;
            s->MaxBufSize = TWON_DONTCARE32;
            return Ok();
        }
        case DAT_SETUPFILEXFER: {
            if (State < 4 || State > 6)
                return Fail(TWCC_SEQERROR);
            auto* s = static_cast<TW_SETUPFILEXFER*>(data);
            if (msg == MSG_GET || msg == MSG_GETDEFAULT) {
                std::memset(s, 0, sizeof *s);
                std::strncpy(s->FileName, msg == MSG_GET && !fileName_.empty() ? fileName_.c_str() : "TWAIN.TMP", 255);
                s->Format = TWFF_BMP;
                return Ok();
            }
            if (msg == MSG_SET) {
                if (s->Format != TWFF_BMP)
                    return Fail(TWCC_BADVALUE);
                fileName_.assign(s->FileName, strnlen(s->FileName, 256));
                return Ok();
            }
            return Fail(TWCC_BADPROTOCOL);
        }
        default:
            return Fail(TWCC_BADPROTOCOL);
        }
    }
    if (dg == DG_IMAGE) {
        switch (dat) {
        case DAT_IMAGEINFO:
            if (msg != MSG_GET)
                return Fail(TWCC_BADPROTOCOL);
            return ImageInfo(static_cast<TW_IMAGEINFO*>(data));
        case DAT_IMAGELAYOUT:
            return ImageLayout(msg, static_cast<TW_IMAGELAYOUT*>(data));
        case DAT_IMAGEMEMXFER:
            if (msg != MSG_GET)
                return Fail(TWCC_BADPROTOCOL);
            return MemXfer(static_cast<TW_IMAGEMEMXFER*>(data));
        case DAT_IMAGENATIVEXFER:
            if (msg != MSG_GET)
                return Fail(TWCC_BADPROTOCOL);
            return NativeXfer(static_cast<TW_HANDLE*>(data));
        case DAT_IMAGEFILEXFER:
            if (msg != MSG_GET)
                return Fail(TWCC_BADPROTOCOL);
            return FileXfer();
        case DAT_PALETTE8:
            // SANE devices deliver no palettes.
            if (State < 4 || State > 6)
                return Fail(TWCC_SEQERROR);
            return Fail(TWCC_BADPROTOCOL);
        default:
            return Fail(TWCC_BADPROTOCOL);
        }
    }
    return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 TDsmSource::UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui)
{
    if (msg == MSG_ENABLEDS) {
        if (State != 4)
            return Fail(TWCC_SEQERROR);
        if (abandoned_)
            return Fail(TWCC_CHECKDEVICEONLINE);
        showUI_ = ui->ShowUI != 0;
        parent_ = static_cast<QWidget*>(ui->hParent);
        closeRequested_ = false;
        State = 5;
        if (showUI_) {
            dialog_ = std::make_unique<TSourceDialog>(caps_, PresetSettings(), parent_);
            if (devices_) {
                const std::vector<TSaneDeviceInfo> list = devices_(false);
                int current = -1;
                for (size_t i = 0; i < list.size(); ++i)
                    if (list[i].Name == device_.Name)
                        current = static_cast<int>(i);
                dialog_->SetDevices(list, current);
            }
            if (!resolutionNote_.isEmpty())
                dialog_->ShowStatus(resolutionNote_, false);
            connect(dialog_.get(), &TSourceDialog::ScanRequested, this, [this] { StartScan(false); });
            connect(dialog_.get(), &TSourceDialog::PreviewRequested, this, [this] { StartScan(true); });
            connect(dialog_.get(), &TSourceDialog::StopRequested, this, [this] {
                if (jobState_)
                    jobState_->Progress.Cancel = true;
            });
            connect(dialog_.get(), &TSourceDialog::CloseRequested, this, [this] {
                if (JobRunning())
                    jobState_->Progress.Cancel = true;
                closeRequested_ = true;
                PostDsmEvent();
            });
            connect(dialog_.get(), &TSourceDialog::DeviceRequested, this, &TDsmSource::SwitchDevice);
            connect(dialog_.get(), &TSourceDialog::RefreshRequested, this, &TDsmSource::RefreshDeviceList);
            dialog_->show();
            dialog_->raise();
        } else {
            // Without an interface the page is read at once with the negotiated settings.
            StartScan(false);
        }
        return Ok();
    }
    if (msg == MSG_DISABLEDS) {
        if (State != 5)
            return Fail(TWCC_SEQERROR);
        StopJob();
        if (dialog_) {
            dialog_->hide();
            dialog_.reset();
        }
        State = 4;
        return Ok();
    }
    if (msg == MSG_ENABLEDSUIONLY)
        return Fail(TWCC_BADPROTOCOL);
    return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 TDsmSource::ProcessEvent(TW_EVENT* ev)
{
    ev->TWMessage = MSG_NULL;
    auto* event = static_cast<QEvent*>(ev->pEvent);
    if (!event || event->type() != static_cast<QEvent::Type>(DsmEventType())) {
        Condition = TWCC_SUCCESS;
        return TWRC_NOTDSEVENT;
    }
    Condition = TWCC_SUCCESS;
    if (Busy || (State != 5 && State != 6))
        return TWRC_DSEVENT;
    if (State == 6) {
        // The user gave up on a page the application never fetched: drop it and let
        // the application close the source.
        if (closeRequested_) {
            closeRequested_ = false;
            DropPage();
            State = 5;
            ev->TWMessage = MSG_CLOSEDSREQ;
        }
        return TWRC_DSEVENT;
    }
    if (jobState_ && jobState_->Ready && !jobConsumed_) {
        const TW_UINT16 message = FinishJob();
        if (message != MSG_NULL) {
            ev->TWMessage = message;
            return TWRC_DSEVENT;
        }
    } else if (jobState_ && !jobConsumed_ && jobState_->Streaming && !closeRequested_ &&
               !jobState_->Progress.Cancel && !asking_) {
        // The first rows are in: the application may start fetching while the rest is read.
        ev->TWMessage = BeginStream();
        return TWRC_DSEVENT;
    }
    if (closeRequested_ && (jobConsumed_ || !jobState_)) {
        closeRequested_ = false;
        ev->TWMessage = MSG_CLOSEDSREQ;
    }
    return TWRC_DSEVENT;
}

TScanSettings TDsmSource::CurrentSettings() const
{
    TScanSettings s = area_;
    s.Dpi = xDpi_;
    s.PixelType = pixelType_;
    s.Preview = false;
    return s;
}

void TDsmSource::StartScan(bool preview)
{
    if (abandoned_ || JobRunning())
        return;
    // A failed read may leave the device's handle in a state no later read survives.
    if (!LastReadClean())
        RetireSession();
    auto state = std::make_shared<TJobState>();
    TScanSettings s = dialog_ ? dialog_->Settings() : CurrentSettings();
    if (dialog_ && !preview) {
        // What the user chose becomes the source's current settings, and this scanner's
        // settings for the next scan.
        xDpi_ = yDpi_ = s.Dpi;
        pixelType_ = static_cast<TW_UINT16>(s.PixelType);
        area_ = s;
    }
    if (preview) {
        s.Dpi = NearestResolution(caps_, 50.0);
        s.Left = s.Top = 0;
        s.Right = caps_.MaxRight;
        s.Bottom = caps_.MaxBottom;
        if (s.PixelType == TWPT_BW)
            s.PixelType = TWPT_GRAY;
        s.Depth = 8;
        s.Preview = true;
    }
    state->Preview = preview;
    state->Settings = s;
    jobState_ = state;
    jobConsumed_ = false;
    const std::shared_ptr<TSession> session = session_;
    const std::shared_ptr<TDsmJob> retired = retiredClose_;
    const std::string name = device_.Name;
    const TExtraOptions extra = extra_;
    // A memory transfer takes its strips while the device is still reading; the other
    // mechanisms, and the preview, need the whole page first.
    const bool stream = !preview && xferMech_ == TWSX_MEMORY;
    job_ = worker_->Submit([state, session, retired, name, extra, s, stream] {
        if (!session->H) {
            // A device that allows one handle at a time is busy until the handle given
            // up is closed, which normally follows within milliseconds; one that never
            // closes is reported busy at once rather than waited for.
            SANE_Handle h = nullptr;
            state->Status = sane_open(name.c_str(), &h);
            if (state->Status == SANE_STATUS_DEVICE_BUSY && retired && retired->WaitFor(500))
                state->Status = sane_open(name.c_str(), &h);
            if (state->Status != SANE_STATUS_GOOD) {
                state->End();
                state->Ready = true;
                PostDsmEvent();
                return;
            }
            session->H = h;
        }
        SANE_Handle h = session->H;
        state->Status = SaneApply(h, s, extra);
        state->Feeder = SaneUsesFeeder(h);
        if (state->Status == SANE_STATUS_GOOD)
            state->Status = SaneReadPage(h, state->Progress, state->Page, stream ? state.get() : nullptr);
        state->End();
        if (state->Status != SANE_STATUS_GOOD || state->Page.Height <= 0) {
            // Report the failure (an empty page is one) before ending the scan: some
            // backends hang in sane_cancel after a failed read, and the user must hear
            // of it anyway.
            state->Ready = true;
            PostDsmEvent();
            sane_cancel(h);
            return;
        }
        sane_cancel(h);
        state->Ready = true;
        PostDsmEvent();
    });
    if (dialog_ && !preview) {
        // Written while the device reads.
        TRememberedScan memory;
        memory.HasArea = true;
        memory.Left = s.Left, memory.Top = s.Top, memory.Right = s.Right, memory.Bottom = s.Bottom;
        memory.AskedDpi = askedDpi_;
        memory.ChosenDpi = s.Dpi;
        Remember(device_.Name, memory);
    }
    lastBytes_ = -1;
    sinceProgress_.start();
    if (dialog_)
        dialog_->SetBusy(true, preview ? "Anteprima in corso..." : "Scansione in corso...");
    progressTimer_.start();
}

TW_UINT16 TDsmSource::FinishJob()
{
    jobConsumed_ = true;
    progressTimer_.stop();
    auto state = jobState_;
    if (dialog_)
        dialog_->SetBusy(false);
    QString error;
    if (state->Status != SANE_STATUS_GOOD)
        error = SaneStatusText(state->Status);
    else if (state->Page.Height <= 0 || !state->Page.Data)
        error = SaneStatusText(SANE_STATUS_EOF);
    if (!error.isEmpty()) {
        Condition = SaneStatusCondition(state->Status);
        if (dialog_) {
            dialog_->ShowStatus(error, state->Status != SANE_STATUS_CANCELLED);
        } else {
            QMessageBox::warning(parent_, "Scanner", error);
            closeRequested_ = true;
            return MSG_CLOSEDSREQ;
        }
        return MSG_NULL;
    }
    if (state->Preview) {
        if (dialog_) {
            dialog_->ShowPreview(PageToImage(state->Page), state->Settings);
            dialog_->ShowStatus("Anteprima completata: regolare l'area e premere \"Scansiona\".", false);
        }
        return MSG_NULL;
    }
    page_ = std::move(state->Page);
    return ArmTransfer(*state);
}

TW_UINT16 TDsmSource::ArmTransfer(const TJobState& job)
{
    page_.Dpi = job.Settings.Dpi;
    caps_.Feeder = job.Feeder;
    rowsSent_ = 0;
    State = 6;
    if (dialog_)
        dialog_->ShowStatus("Trasferimento dell'immagine...", false);
    return MSG_XFERREADY;
}

void TDsmSource::StopJob()
{
    progressTimer_.stop();
    if (JobRunning())
        jobState_->Progress.Cancel = true;
    jobConsumed_ = true;
    stream_.reset();
}

bool TDsmSource::JobRunning() const
{
    if (!jobState_)
        return false;
    return !jobConsumed_ || (stream_ == jobState_ && !jobState_->Ended);
}

void TDsmSource::TJobState::Begin(const TScanPage&)
{
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Streaming = true;
    }
    PostDsmEvent();
}

void TDsmSource::TJobState::Rows(int rows)
{
    {
        std::lock_guard<std::mutex> lock(Mutex);
        RowsReady = rows;
    }
    Cond.notify_all();
}

void TDsmSource::TJobState::End()
{
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Ended = true;
    }
    Cond.notify_all();
}

TW_UINT16 TDsmSource::BeginStream()
{
    auto state = jobState_;
    jobConsumed_ = true;
    stream_ = state;
    // The layout only: the rows stay in the job, where the worker goes on writing them.
    page_ = TScanPage();
    {
        std::lock_guard<std::mutex> lock(state->Mutex);
        const TScanPage& p = state->Page;
        page_.Width = p.Width;
        page_.Height = p.Height;
        page_.PixelType = p.PixelType;
        page_.BitsPerPixel = p.BitsPerPixel;
        page_.RowBytes = p.RowBytes;
        page_.SrcStride = p.SrcStride;
        page_.Invert = p.Invert;
    }
    return ArmTransfer(*state);
}

void TDsmSource::DropPage()
{
    // A transfer ended before its last row stops the device too.
    if (stream_ && rowsSent_ < page_.Height && !stream_->Ended)
        stream_->Progress.Cancel = true;
    stream_.reset();
    page_ = TScanPage();
    rowsSent_ = 0;
}

