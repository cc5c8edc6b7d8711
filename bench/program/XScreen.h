#pragma once
// What the whole-program benchmark sees and does on the X server: its own
// Xvfb, the top-level windows of a process, a few rows of the screen read
// back, and keys pressed through XTest as a keyboard would.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace benchx {

using TClock = std::chrono::steady_clock;

double Ms(TClock::time_point from, TClock::time_point to);

struct TRect {
    int X = 0, Y = 0, W = 0, H = 0;
};

// A private Xvfb (a black root, no window manager, no compositor), or the
// display in $DISPLAY when asked to use it.
class TXServer
{
public:
    explicit TXServer(bool useOwn);
    ~TXServer();
    bool Ok() const { return FDpy != nullptr; }
    const std::string& Name() const { return FName; }
    Display* Dpy() const { return FDpy; }

private:
    int FPid = -1;
    std::string FName;
    Display* FDpy = nullptr;
};

class TScreen
{
public:
    explicit TScreen(Display* dpy);

    // The mapped top-level windows of process `pid`; with a title, only those
    // whose name contains it.
    std::vector<unsigned long> Windows(int pid, const std::string& title = std::string()) const;
    // The largest mapped top-level window of `pid`, 0 when none.
    unsigned long MainWindow(int pid) const;
    TRect Geometry(unsigned long win) const; // in screen coordinates
    unsigned long Focus() const;
    void SetFocus(unsigned long win) const;
    void PointerTo(int x, int y) const;

    // The screen's pixels on each rectangle, as 0xRRGGBB, row after row and
    // rectangle after rectangle (empty when one could not be read).
    std::vector<uint32_t> Sample(const std::vector<TRect>& rects) const;
    // The rectangle as a PPM file, to see afterwards what was timed.
    bool SavePpm(const TRect& rect, const std::string& path) const;

    // Presses and lets go of a key (an X keysym name: "Return", "Next",
    // "f", "1"), with a shift where the keymap needs it; the press is sent
    // and flushed before this returns, the release after `holdMs`.
    void Key(const std::string& keysym, int holdMs = 30) const;
    void KeyWithCtrl(const std::string& keysym) const;
    void Type(const std::string& text) const;
    // Sends the press only; returns when the server has it.
    void KeyDown(const std::string& keysym) const;
    void KeyUp(const std::string& keysym) const;

private:
    Display* FDpy;
    unsigned long FRoot;
    unsigned long FPidAtom, FNameAtom, FUtf8Atom;
};

} // namespace benchx
