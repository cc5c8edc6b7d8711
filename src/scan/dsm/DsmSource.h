#pragma once
// One open data source of our manager: a SANE device with its TWAIN capabilities,
// states 4 to 7, its settings dialog and the page it hands over.

#include "scan/TW_Const.h"
#include "scan/dsm/DsmSane.h"
#include "scan/dsm/DsmWorker.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class QWidget;
class TSourceDialog;

using TExtraOptions = std::vector<std::pair<std::string, std::string>>;
// The manager's list of scanners, looked up again when asked to.
using TDeviceLister = std::function<std::vector<TSaneDeviceInfo>(bool refresh)>;

// Keeps a source's Depth counted for as long as one of its calls runs, so a source closed
// from a nested event loop is freed only once no call of it is left on the stack.
struct TDsmDepthGuard {
    explicit TDsmDepthGuard(int& d) : depth(d) { ++depth; }
    ~TDsmDepthGuard() { --depth; }
    int& depth;
};

class TDsmSource : public QObject {
    Q_OBJECT
public:
    TDsmSource(const TW_IDENTITY& identity, const TSaneDeviceInfo& device, std::shared_ptr<TSaneWorker> worker,
               SANE_Handle handle, const TDeviceCaps& caps, const TExtraOptions& extra, TDeviceLister devices);
    ~TDsmSource() override;

    // Every triplet addressed to this source (DAT_STATUS included).
    TW_UINT16 Entry(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    // Closes the device on its worker; false when the user abandoned a device that hung.
    bool CloseDevice(QWidget* parent);

    TW_IDENTITY Identity{};
    int State = 4;
    TW_UINT16 Condition = TWCC_SUCCESS;
    // Set while a call waits synchronously for the worker, so re-entrant calls are refused.
    bool Busy = false;
    // Calls of this source still running further up the stack (message boxes run nested
    // event loops in which the application may close the source).
    int Depth = 0;

private:
    TW_UINT16 Fail(TW_UINT16 cc);
    TW_UINT16 Ok();
    TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY* cap);
    TW_UINT16 UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui);
    TW_UINT16 ProcessEvent(TW_EVENT* ev);
    TW_UINT16 ImageInfo(TW_IMAGEINFO* info);
    TW_UINT16 MemXfer(TW_IMAGEMEMXFER* xfer);
    TW_UINT16 NativeXfer(TW_HANDLE* out);
    TW_UINT16 FileXfer();
    TW_UINT16 PendingXfers(TW_UINT16 msg, TW_PENDINGXFERS* p);
    TW_UINT16 ImageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* lay);

    TScanSettings CurrentSettings() const;
    // The dialog's first settings: the negotiated ones, with the area and resolution
    // last scanned with this scanner.
    TScanSettings PresetSettings() const;
    // The last page read ended cleanly, so the device may go on with the same handle.
    bool LastReadClean() const;
    // Gives the device's handle up after a failed read: it is ended and closed on its
    // own worker, which is left to finish (a backend may hang ending a failed read), and
    // the next read opens the device afresh on a new worker.
    void RetireSession();
    void SwitchDevice(int index);
    void RefreshDeviceList();
    void StartScan(bool preview);
    TW_UINT16 FinishJob();
    TW_UINT16 BeginStream();
    struct TJobState;
    // State 6 with the page's layout in place: the source answers MSG_XFERREADY.
    TW_UINT16 ArmTransfer(const TJobState& job);
    bool JobRunning() const;
    bool WaitForRows(int rows);
    TW_UINT16 StreamFailed();
    void DropPage();
    void OnProgressTick();
    void StopJob();
    void Abandon(const QString& why);
    bool NextFeederPage();
    size_t PageStride() const;
    double UnitsPerInch() const;
    uint8_t* BuildDib(size_t& size) const;

    // The device's handle; read and written on the session's worker only. Null once the
    // handle was given up: the next read opens the device again.
    struct TSession {
        SANE_Handle H = nullptr;
    };

    TSaneDeviceInfo device_;
    std::shared_ptr<TSaneWorker> worker_;
    std::shared_ptr<TSession> session_;
    // Closing of the last handle given up; a reopen waits for it.
    std::shared_ptr<TDsmJob> retiredClose_;
    TDeviceCaps caps_;
    TExtraOptions extra_;
    TDeviceLister devices_;
    // The resolution the application asked for (0: none), and what the user was told
    // about it when the device cannot give it.
    double askedDpi_ = 0;
    QString resolutionNote_;
    bool abandoned_ = false;

    // Capabilities
    TW_UINT16 xferMech_ = TWSX_NATIVE;
    TW_UINT16 units_ = TWUN_INCHES;
    TW_UINT16 pixelType_ = TWPT_RGB;
    TW_UINT16 bitDepth_ = 24;
    double xDpi_ = 200, yDpi_ = 200;
    TW_INT16 xferCount_ = -1;
    TScanSettings area_;

    // User interface
    bool showUI_ = false;
    QWidget* parent_ = nullptr;
    std::unique_ptr<TSourceDialog> dialog_;
    bool closeRequested_ = false;
    bool asking_ = false;  // the watchdog's question is up

    // The page being read and the one handed over. A page read for a memory transfer is
    // handed over while it is read: its rows are counted as they arrive.
    struct TJobState : TPageSink {
        TScanProgress Progress;
        std::atomic<bool> Ready{false};  // result known (the scan may still be ending)
        TScanPage Page;
        SANE_Status Status = SANE_STATUS_GOOD;
        bool Preview = false;
        bool Feeder = false;  // the page came from an automatic feeder
        TScanSettings Settings;

        std::mutex Mutex;
        std::condition_variable Cond;
        std::atomic<bool> Streaming{false};  // Page describes the page; rows arrive in its Data
        std::atomic<int> RowsReady{0};
        std::atomic<bool> Ended{false};      // the read is over and Status is final

        void Begin(const TScanPage& page) override;
        void Rows(int rows) override;
        void End();
    };
    std::shared_ptr<TJobState> jobState_;
    std::shared_ptr<TDsmJob> job_;
    bool jobConsumed_ = true;
    // The job whose page the current transfer hands over while it is still being read.
    std::shared_ptr<TJobState> stream_;
    QTimer progressTimer_;
    QElapsedTimer sinceProgress_;
    int64_t lastBytes_ = -1;
    TScanPage page_;
    int rowsSent_ = 0;
    std::string fileName_;
};
