#pragma once
// SANE side of the source manager: device list, options and page reading.
// Every function taking or returning a SANE_Handle runs on a TSaneWorker thread only.

#include "scan/TW_Const.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <QString>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct TSaneDeviceInfo {
    std::string Name;
    std::string Vendor;
    std::string Model;
    std::string Type;
};

// What the device offers, read once when the source opens.
struct TDeviceCaps {
    double ResMin = 1;
    double ResMax = 1200;
    double Resolution = 200;
    bool HasColor = true;
    bool HasGray = true;
    bool HasLineart = false;
    std::string ColorMode = "Color";
    std::string GrayMode = "Gray";
    std::string LineartMode;
    int CurrentPixelType = TWPT_RGB;
    double MaxRight = 215.9;   // mm
    double MaxBottom = 297.0;  // mm
    double Left = 0, Top = 0, Right = 210, Bottom = 297;  // current area, mm
    bool Feeder = false;
    // The resolutions the device takes: a list when it names them, else ResMin to
    // ResMax in steps of ResStep (0: any value).
    std::vector<double> ResList;
    double ResStep = 0;
    // Steps of the area's corners in mm (0: any value).
    double AreaStep = 0;
    // The device's document sources ("Flatbed", "Automatic Document Feeder", ...) and
    // the one in use; empty when it has no choice.
    std::vector<std::string> Sources;
    std::string Source;
    // Bits per sample the device offers for colour and grey (1 is black and white).
    std::vector<int> Depths;
    int Depth = 8;
};

// The supported resolution nearest to `dpi`.
double NearestResolution(const TDeviceCaps& caps, double dpi);
// Width and height in pixels of an area (mm) at `dpi`, as a device computes them.
int AreaPixels(double mm, double dpi);

// What one scan asks of the device.
struct TScanSettings {
    double Dpi = 200;
    int PixelType = TWPT_RGB;
    double Left = 0, Top = 0, Right = 210, Bottom = 297;  // mm
    bool Preview = false;
    int Depth = 8;       // bits per sample of colour and grey pages
    std::string Source;  // document source; empty: leave the device's
};

// Gives a page buffer back. The last large one is kept for the next page that fits it:
// fresh memory costs a scan the kernel's clearing of every page of it.
void ReleasePageBuffer(uint8_t* p);
struct TFreeDeleter {
    void operator()(uint8_t* p) const { ReleasePageBuffer(p); }
};
using TPageBuffer = std::unique_ptr<uint8_t, TFreeDeleter>;

// A page as the TWAIN side hands it out: rows top first, TWAIN sample order (red,
// green, blue; 1-bit rows with 0 = black once Invert is applied).
struct TScanPage {
    int Width = 0;
    int Height = 0;
    int PixelType = TWPT_RGB;
    int BitsPerPixel = 24;
    double Dpi = 0;
    size_t RowBytes = 0;   // meaningful bytes per row
    size_t SrcStride = 0;  // bytes between rows in Data
    bool Invert = false;   // SANE's 1-bit black is 1, TWAIN's chocolate black is 0
    TPageBuffer Data;
    size_t Size = 0;
};

// Progress and cancellation shared between a reading worker and the interface.
struct TScanProgress {
    std::atomic<bool> Cancel{false};
    std::atomic<int64_t> Bytes{0};
    std::atomic<int64_t> Expected{-1};
};

SANE_Status SaneEnsureInit();
SANE_Status SaneListDevices(std::vector<TSaneDeviceInfo>& out);
void SaneReadCaps(SANE_Handle h, TDeviceCaps& caps);
// Applies the settings, then the extra options (name, value) the manager was given.
SANE_Status SaneApply(SANE_Handle h, const TScanSettings& s, const std::vector<std::pair<std::string, std::string>>& extra);
// The device currently takes its pages from an automatic feeder.
bool SaneUsesFeeder(SANE_Handle h);
// Hears of a page while it is read, so its rows can be handed on before the device is
// done. Called on the reading thread.
class TPageSink {
public:
    virtual ~TPageSink() = default;
    // The page's layout is known and its first rows are in: `page` describes the whole
    // page and its Data stays where it is until the read ends.
    virtual void Begin(const TScanPage& page) = 0;
    // The first `rows` rows of the page are complete.
    virtual void Rows(int rows) = 0;
};

// Starts the device and reads one page, all frames. The caller ends the scan with sane_cancel.
// With a sink, a page of known length in one frame of 8-bit colour, 8-bit grey or 1-bit
// samples is announced to it as it arrives; a page that ends early is completed with
// white rows, so the length announced stays true. Other pages reach the sink not at all.
SANE_Status SaneReadPage(SANE_Handle h, TScanProgress& progress, TScanPage& page, TPageSink* sink = nullptr);

// The user's words for a SANE status, and the TWAIN condition code that stands for it.
QString SaneStatusText(SANE_Status st);
TW_UINT16 SaneStatusCondition(SANE_Status st);
