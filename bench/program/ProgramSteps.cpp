#include "ProgramSteps.h"

#include "BenchPages.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <fstream>

using benchx::Ms;
using benchx::TClock;
using benchx::TRect;
using benchx::TScreen;

namespace benchsteps {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// --- one process of a program --------------------------------------------------

// The program under test when the benchmark is stopped (Ctrl+C, a time
// limit): it is ended with it rather than left on a display that goes away.
namespace {
volatile sig_atomic_t RunningChild = 0;
} // namespace

void StopWithChild(int sig)
{
    if (RunningChild > 0)
        ::kill(RunningChild, SIGKILL);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

TProcess::TProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log)
{
    std::vector<char*> a, e;
    for (const std::string& s : argv)
        a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    for (const std::string& s : env)
        e.push_back(const_cast<char*>(s.c_str()));
    e.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    if (posix_spawnp(&FPid, a[0], &fa, nullptr, a.data(), e.data()) != 0)
        FPid = -1;
    RunningChild = FPid;
    posix_spawn_file_actions_destroy(&fa);
}

bool TProcess::Alive() const { return FPid > 0 && ::waitpid(FPid, nullptr, WNOHANG) == 0; }

void TProcess::Stop()
{
    if (FPid <= 0)
        return;
    ::kill(FPid, SIGTERM);
    for (int i = 0; i < 300 && ::waitpid(FPid, nullptr, WNOHANG) == 0; ++i)
        SleepMs(10);
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
    RunningChild = 0;
}

// --- watching the screen -------------------------------------------------------


double PaperShare(const TPixels& px)
{
    if (px.empty())
        return 0;
    size_t n = 0;
    for (uint32_t p : px)
        n += benchpages::IsPaper(p >> 16 & 255, p >> 8 & 255, p & 255);
    return double(n) / px.size();
}

namespace {
double LitShare(const TPixels& px)
{
    if (px.empty())
        return 0;
    size_t n = 0;
    for (uint32_t p : px)
        n += (p & 0xffffff) != 0;
    return double(n) / px.size();
}
} // namespace


// Polls `rects` until they have stayed unchanged for kQuietMs while `done`
// holds for them. The settled time is that of the first poll showing the
// final pixels, so a quick preview followed by the real picture counts
// until the real one.
TWatch Watch(const TScreen& screen, const std::function<std::vector<TRect>()>& rects, TClock::time_point t0,
             const std::function<bool(const TPixels&)>& done,
             const std::function<bool(const TPixels&)>& first)
{
    TWatch w;
    TPixels last;
    TClock::time_point changed = t0;
    bool have = false;
    for (;;) {
        const TPixels px = screen.Sample(rects());
        const TClock::time_point now = TClock::now();
        if (!have || px != last) {
            last = px;
            changed = now;
            have = true;
        }
        if (w.FirstMs < 0 && first && first(px))
            w.FirstMs = Ms(t0, now);
        if (Ms(changed, now) >= kQuietMs && done(last)) {
            w.Ok = true;
            w.SettledMs = Ms(t0, changed);
            w.Final = last;
            return w;
        }
        if (Ms(t0, now) > kPatienceMs)
            return w;
        SleepMs(1);
    }
}

std::vector<TRect> ViewRects(const TScreen& screen, unsigned long win)
{
    const TRect g = screen.Geometry(win);
    std::vector<TRect> r;
    // Rows below the see-through toolbar over the view's top, and columns
    // through its middle.
    for (double f : {0.40, 0.55, 0.70, 0.85})
        r.push_back({g.X + kViewX, g.Y + kViewY + int(kViewH * f), kViewW, 1});
    for (double f : {0.35, 0.5, 0.65})
        r.push_back({g.X + kViewX + int(kViewW * f), g.Y + kViewY + 120, 1, kViewH - 130});
    return r;
}

std::vector<TRect> WindowRects(const TScreen& screen, unsigned long win)
{
    const TRect g = screen.Geometry(win);
    std::vector<TRect> r;
    for (double f : {0.1, 0.3, 0.5, 0.7, 0.9})
        r.push_back({g.X, g.Y + int(g.H * f), g.W, 1});
    return r;
}

unsigned long WaitWindow(const TScreen& screen, const TProcess& proc, const std::string& title, double patienceMs)
{
    const TClock::time_point t0 = TClock::now();
    while (Ms(t0, TClock::now()) < patienceMs && proc.Alive()) {
        const std::vector<unsigned long> w =
            title.empty() ? std::vector<unsigned long>{screen.MainWindow(proc.Pid())} : screen.Windows(proc.Pid(), title);
        if (!w.empty() && w[0] && screen.Geometry(w[0]).W >= 100)
            return w[0];
        SleepMs(1);
    }
    return 0;
}

// Waits until the window `title` of the process is up and has the keyboard.
unsigned long WaitDialog(const TScreen& screen, const TProcess& proc, const std::string& title)
{
    const unsigned long box = WaitWindow(screen, proc, title, kPatienceMs);
    const TClock::time_point t0 = TClock::now();
    while (box && screen.Focus() != box && Ms(t0, TClock::now()) < 10000)
        SleepMs(5);
    // The dialog's own set-up (a file list read, a completer) goes first.
    SleepMs(400);
    return box;
}

// Start-up: from the spawn to the window shown and painted as it stays.
double TimeStart(const TScreen& screen, const TProcess& proc, TClock::time_point t0, unsigned long& win)
{
    win = WaitWindow(screen, proc, std::string(), kPatienceMs);
    if (!win)
        return -1;
    const TWatch w = Watch(screen, [&] { return WindowRects(screen, win); }, t0,
                           [](const TPixels& px) { return LitShare(px) > 0.9; });
    return w.Ok ? w.SettledMs : -1;
}


// A key in the main window whose result is a changed view: from the press
// to the view as it stays. `picture` asks that the view then shows the page.
TStepTime TimeViewKey(const TScreen& screen, unsigned long win, const std::string& key, bool picture)
{
    screen.SetFocus(win);
    SleepMs(50);
    auto rects = [&] { return ViewRects(screen, win); };
    const TPixels before = screen.Sample(rects());
    const TClock::time_point t0 = TClock::now();
    screen.Key(key, 20);
    auto differs = [&](const TPixels& px) { return px != before; };
    auto shown = [&](const TPixels& px) { return PaperShare(px) > 0.25; };
    const TWatch w = picture ? Watch(screen, rects, t0, [&](const TPixels& px) { return differs(px) && shown(px); }, shown)
                             : Watch(screen, rects, t0, differs, differs);
    TStepTime t;
    if (w.Ok) {
        t.First = w.FirstMs;
        t.Settled = w.SettledMs;
    }
    return t;
}

// The status strip under the view, where the program reports the save.
std::vector<TRect> StripRects(const TScreen& screen, unsigned long win)
{
    const TRect g = screen.Geometry(win);
    std::vector<TRect> r;
    for (int y : {9, 27, 45})
        r.push_back({g.X + kViewX, g.Y + kViewY + kViewH + y, kViewW, 1});
    return r;
}


// From the press to the file under its name, whole, and to the window's
// report of it when `win` is given.
TSaveTime TimeSaveKey(const TScreen& screen, const std::string& key, const std::string& target, unsigned long win)
{
    TSaveTime t;
    auto rects = [&] { return StripRects(screen, win); };
    const TPixels before = win ? screen.Sample(rects()) : TPixels();
    const TClock::time_point t0 = TClock::now();
    screen.KeyDown(key);
    // Only a short wait: a save that has not come within seconds has failed.
    constexpr double kSavePatienceMs = 10000;
    for (;;) {
        if (Exists(target)) {
            t.File = Ms(t0, TClock::now());
            break;
        }
        if (Ms(t0, TClock::now()) > kSavePatienceMs)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (win && t.File >= 0) {
        const TWatch w = Watch(screen, rects, t0, [&](const TPixels& px) { return px != before; });
        t.Report = w.Ok ? w.SettledMs : -1;
    }
    screen.KeyUp(key);
    std::ifstream f(target, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (t.File >= 0 && (bytes.size() < 4 || bytes.compare(bytes.size() - 2, 2, "\xff\xd9") != 0 ||
                        bytes.compare(0, 2, "\xff\xd8") != 0)) {
        std::fprintf(stderr, "%s was not a whole JPEG when it appeared\n", target.c_str());
        t.File = -1;
    }
    return t;
}

} // namespace benchsteps
