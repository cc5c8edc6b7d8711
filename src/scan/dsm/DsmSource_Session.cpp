// A data source's device session: the handle and its worker, given up and opened again
// after a failed read or for another scanner, closing, the feeder's next pages, and the
// watchdog over a read.

#include "scan/dsm/DsmSource.h"

#include "scan/dsm/DsmDialogs.h"
#include "scan/dsm/DsmSettings.h"

#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <cmath>

TScanSettings TDsmSource::PresetSettings() const
{
    TScanSettings s = CurrentSettings();
    s.Depth = caps_.Depth;
    s.Source = caps_.Source;
    const TRememberedScan memory = Remembered(device_.Name);
    if (memory.HasArea && memory.Right <= caps_.MaxRight + 0.5 && memory.Bottom <= caps_.MaxBottom + 0.5) {
        s.Left = memory.Left, s.Top = memory.Top;
        s.Right = std::min(memory.Right, caps_.MaxRight), s.Bottom = std::min(memory.Bottom, caps_.MaxBottom);
    }
    // The resolution the user chose last time holds while the application asks for what
    // it asked for then; a new request (the options changed) is taken as it comes.
    if (memory.ChosenDpi > 0 && std::fabs(memory.AskedDpi - askedDpi_) < 0.5)
        s.Dpi = NearestResolution(caps_, memory.ChosenDpi);
    return s;
}

bool TDsmSource::LastReadClean() const
{
    if (!jobState_)
        return true;
    return jobState_->Ended && jobState_->Status == SANE_STATUS_GOOD && jobState_->Page.Height > 0;
}

void TDsmSource::RetireSession()
{
    const std::shared_ptr<TSession> old = session_;
    retiredClose_ = worker_->Submit([old] {
        if (old->H)
            sane_close(old->H);
        old->H = nullptr;
    });
    // Left to finish on its own, so nothing ever waits for a read that does not end.
    AbandonSaneWorker(worker_);
    worker_ = CurrentSaneWorker();
    session_ = std::make_shared<TSession>();
    jobState_.reset();
    jobConsumed_ = true;
}

bool TDsmSource::CloseDevice(QWidget* parent)
{
    StopJob();
    dialog_.reset();
    if (abandoned_ || worker_->Abandoned())
        return false;
    // After a failed read the handle is closed on its own worker: closing the source
    // must not wait for a device that may never end that read.
    if (!LastReadClean()) {
        RetireSession();
        return true;
    }
    const std::shared_ptr<TSession> session = session_;
    auto job = worker_->Submit([session] {
        if (session->H)
            sane_close(session->H);
        session->H = nullptr;
    });
    Busy = true;
    const bool done = WaitForJob(job, parent, "chiusura dello scanner");
    Busy = false;
    if (!done) {
        abandoned_ = true;
        AbandonSaneWorker(worker_);
    }
    return done;
}

void TDsmSource::RefreshDeviceList()
{
    if (!dialog_ || !devices_ || JobRunning())
        return;
    const std::vector<TSaneDeviceInfo> list = devices_(true);
    int current = -1;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].Name == device_.Name)
            current = static_cast<int>(i);
    dialog_->SetDevices(list, current);
    dialog_->ShowStatus(QString("Scanner trovati: %1.").arg(list.size()), false);
}

void TDsmSource::SwitchDevice(int index)
{
    if (!dialog_ || !devices_ || JobRunning() || abandoned_)
        return;
    const std::vector<TSaneDeviceInfo> list = devices_(false);
    if (index < 0 || index >= static_cast<int>(list.size()) || list[static_cast<size_t>(index)].Name == device_.Name)
        return;
    const TSaneDeviceInfo next = list[static_cast<size_t>(index)];
    // The open scanner is let go first: a backend may allow one open device at a time.
    RetireSession();
    struct Result {
        SANE_Status Status = SANE_STATUS_GOOD;
        TDeviceCaps Caps;
    };
    auto result = std::make_shared<Result>();
    const std::shared_ptr<TSession> session = session_;
    const std::shared_ptr<TDsmJob> retired = retiredClose_;
    const std::string name = next.Name;
    auto job = worker_->Submit([result, session, retired, name] {
        // Another scanner of the same backend may wait for the one let go to close.
        SANE_Handle h = nullptr;
        result->Status = sane_open(name.c_str(), &h);
        if (result->Status == SANE_STATUS_DEVICE_BUSY && retired && retired->WaitFor(500))
            result->Status = sane_open(name.c_str(), &h);
        if (result->Status != SANE_STATUS_GOOD)
            return;
        session->H = h;
        SaneReadCaps(h, result->Caps);
    });
    dialog_->SetBusy(true, "Apertura dello scanner...");
    Busy = true;
    const bool done = WaitForJob(job, dialog_.get(), "apertura dello scanner");
    Busy = false;
    if (!dialog_)
        return;
    dialog_->SetBusy(false);
    if (!done) {
        AbandonSaneWorker(worker_);
        worker_ = CurrentSaneWorker();
        session_ = std::make_shared<TSession>();
    }
    if (!done || result->Status != SANE_STATUS_GOOD) {
        // The scanner that was open stays the one used; it is opened again for the scan.
        const QString why = done ? SaneStatusText(result->Status) : QString("Lo scanner non risponde.");
        dialog_->ShowStatus("Impossibile usare lo scanner scelto: " + why, true);
        for (int i = 0; i < static_cast<int>(list.size()); ++i)
            if (list[static_cast<size_t>(i)].Name == device_.Name)
                dialog_->SetDevices(list, i);
        return;
    }
    TScanSettings keep = dialog_->Settings();
    device_ = next;
    caps_ = result->Caps;
    xDpi_ = yDpi_ = NearestResolution(caps_, keep.Dpi);
    area_.Left = caps_.Left, area_.Top = caps_.Top, area_.Right = caps_.Right, area_.Bottom = caps_.Bottom;
    TScanSettings preset = PresetSettings();
    preset.PixelType = keep.PixelType;
    dialog_->SetCaps(caps_, preset);
    dialog_->ShowStatus("Scanner pronto: " + DeviceTitle(device_) + ".", false);
}

bool TDsmSource::NextFeederPage()
{
    auto state = std::make_shared<TJobState>();
    state->Settings = CurrentSettings();
    const std::shared_ptr<TSession> session = session_;
    auto job = worker_->Submit([state, session] {
        if (!session->H) {
            state->Status = SANE_STATUS_INVAL;
            return;
        }
        state->Status = SaneReadPage(session->H, state->Progress, state->Page);
        sane_cancel(session->H);
    });
    Busy = true;
    const bool done = WaitForJob(job, parent_, "pagina successiva");
    Busy = false;
    if (!done) {
        abandoned_ = true;
        AbandonSaneWorker(worker_);
        return false;
    }
    if (state->Status == SANE_STATUS_GOOD && state->Page.Height > 0 && state->Page.Data) {
        page_ = std::move(state->Page);
        page_.Dpi = state->Settings.Dpi;
        rowsSent_ = 0;
        return true;
    }
    if (state->Status != SANE_STATUS_NO_DOCS)
        RetireSession();
    // An empty feeder ends the batch quietly; any other failure is the user's business.
    if (state->Status != SANE_STATUS_NO_DOCS && state->Status != SANE_STATUS_GOOD) {
        const QString text = SaneStatusText(state->Status);
        if (dialog_)
            dialog_->ShowStatus(text, true);
        else
            QMessageBox::warning(parent_, "Scanner", text);
    }
    return false;
}

void TDsmSource::OnProgressTick()
{
    TDsmDepthGuard guard(Depth);
    if (!JobRunning()) {
        progressTimer_.stop();
        return;
    }
    const int64_t bytes = jobState_->Progress.Bytes;
    if (dialog_)
        dialog_->SetProgress(bytes, jobState_->Progress.Expected);
    if (bytes != lastBytes_) {
        lastBytes_ = bytes;
        sinceProgress_.restart();
        return;
    }
    if (jobState_->Ready || sinceProgress_.elapsed() < WatchdogMs())
        return;
    progressTimer_.stop();
    QMessageBox box(QMessageBox::Warning, "Scanner",
                    QString("Lo scanner non risponde da %1 secondi.\n\nAbbandonare il dispositivo? Il programma "
                            "resta utilizzabile.")
                        .arg((sinceProgress_.elapsed() + 500) / 1000),
                    QMessageBox::NoButton, parent_);
    box.setObjectName("DsmWatchdogBox");
    QPushButton* yes = box.addButton("Sì", QMessageBox::YesRole);
    box.addButton("No, attendi ancora", QMessageBox::NoRole);
    box.setDefaultButton(yes);
    // No transfer starts under the question: the answer may abandon the device.
    asking_ = true;
    box.exec();
    asking_ = false;
    if (jobState_->Ready && (!jobConsumed_ || stream_ == jobState_)) {
        return;  // the answer came while the user was reading the question
    }
    if (box.clickedButton() == static_cast<QAbstractButton*>(yes)) {
        Abandon("Lo scanner non risponde ed è stato abbandonato. Chiudere questa finestra; per usarlo di nuovo "
                "spegnerlo e riaccenderlo.");
        return;
    }
    // Rows that came in meanwhile may now be handed over.
    if (jobState_->Streaming)
        PostDsmEvent();
    sinceProgress_.restart();
    progressTimer_.start();
}

void TDsmSource::Abandon(const QString& why)
{
    abandoned_ = true;
    jobConsumed_ = true;
    progressTimer_.stop();
    // Should the device ever answer, the abandoned worker still releases it.
    const std::shared_ptr<TSession> session = session_;
    worker_->Submit([session] {
        if (session->H)
            sane_close(session->H);
        session->H = nullptr;
    });
    AbandonSaneWorker(worker_);
    if (dialog_) {
        dialog_->SetBusy(false);
        dialog_->ShowStatus(why, true);
        for (const char* name : {"BtScan", "BtPreview"})
            if (auto* w = dialog_->findChild<QWidget*>(name))
                w->setEnabled(false);
    }
    // A transfer under way fails now and its end closes the dialog: the user hears it here.
    if (!dialog_ || stream_)
        QMessageBox::warning(dialog_ ? static_cast<QWidget*>(dialog_.get()) : parent_, "Scanner", why);
    if (!dialog_)
        closeRequested_ = true;
    PostDsmEvent();
}

