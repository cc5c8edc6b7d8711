#pragma once
// The steps of the whole-program benchmark, the same for every program timed:
// a process started in its own home, and each step timed from the key that
// starts it to what the screen (or the disk) then shows for good.

#include "XScreen.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace benchsteps {

// The main window's first-start client size and its picture view in it; the
// minimal viewer lays itself out the same.
constexpr int kWinW = 900, kWinH = 725;
constexpr int kViewX = 3, kViewY = 0, kViewW = 599, kViewH = 671;
constexpr double kQuietMs = 800;      // unchanged this long: the screen is settled
constexpr double kPatienceMs = 60000; // a step that takes longer has failed

void SleepMs(int ms);
bool Exists(const std::string& path);

// Ends the running program under test, then the benchmark, on a signal.
void StopWithChild(int sig);

// One process of a program, its output appended to `log`; ended (TERM, then
// KILL) when it goes.
class TProcess
{
public:
    TProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log);
    ~TProcess() { Stop(); }
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;
    int Pid() const { return FPid; }
    bool Alive() const;
    void Stop();

private:
    pid_t FPid = -1;
};

using TPixels = std::vector<uint32_t>;

// The share of pixels that show the test page's paper.
double PaperShare(const TPixels& px);

struct TWatch {
    bool Ok = false;
    double FirstMs = -1;   // first poll for which `first` held
    double SettledMs = -1; // first poll showing what the screen then kept showing
    TPixels Final;
};

// Polls `rects` until they have stayed unchanged for kQuietMs while `done`
// holds for them. The settled time is that of the first poll showing the
// final pixels, so a quick preview followed by the real picture counts
// until the real one.
TWatch Watch(const benchx::TScreen& screen, const std::function<std::vector<benchx::TRect>()>& rects,
             benchx::TClock::time_point t0, const std::function<bool(const TPixels&)>& done,
             const std::function<bool(const TPixels&)>& first = nullptr);

std::vector<benchx::TRect> ViewRects(const benchx::TScreen& screen, unsigned long win);
std::vector<benchx::TRect> WindowRects(const benchx::TScreen& screen, unsigned long win);
// The status strip under the view, where the program reports the save.
std::vector<benchx::TRect> StripRects(const benchx::TScreen& screen, unsigned long win);

// The process's main window (empty title) or its window `title`, once mapped.
unsigned long WaitWindow(const benchx::TScreen& screen, const TProcess& proc, const std::string& title,
                         double patienceMs);
// Waits until the window `title` of the process is up and has the keyboard.
unsigned long WaitDialog(const benchx::TScreen& screen, const TProcess& proc, const std::string& title);

// Start-up: from `t0` (the spawn) to the window shown and painted as it stays.
double TimeStart(const benchx::TScreen& screen, const TProcess& proc, benchx::TClock::time_point t0,
                 unsigned long& win);

struct TStepTime {
    double First = -1, Settled = -1;
};

// A key in the main window whose result is a changed view: from the press
// to the view as it stays. `picture` asks that the view then shows the page.
TStepTime TimeViewKey(const benchx::TScreen& screen, unsigned long win, const std::string& key, bool picture);

struct TSaveTime {
    double File = -1;   // the output under its name, whole
    double Report = -1; // the window saying so, as it stays (-1 when not watched)
};

// From the press to the file under its name, whole, and to the window's
// report of it when `win` is given.
TSaveTime TimeSaveKey(const benchx::TScreen& screen, const std::string& key, const std::string& target,
                      unsigned long win);

} // namespace benchsteps
