#include "XScreen.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace benchx {

double Ms(TClock::time_point from, TClock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

namespace {
// A program started through a wrapper (strace, perf) is the wrapper's child.
long ParentOf(long pid)
{
    if (pid <= 0)
        return -1;
    FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f)
        return -1;
    long ppid = -1;
    // pid (comm) state ppid: the name may hold spaces, so read past its last ')'.
    char buf[512];
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    const char* close = std::strrchr(buf, ')');
    if (close && std::sscanf(close + 1, " %*c %ld", &ppid) != 1)
        ppid = -1;
    return ppid;
}

// Windows come and go while they are looked at; such errors are expected.
int IgnoreErrors(Display*, XErrorEvent*) { return 0; }
} // namespace

TXServer::TXServer(bool useOwn)
{
    XSetErrorHandler(IgnoreErrors);
    if (!useOwn) {
        const char* d = std::getenv("DISPLAY");
        FName = d ? d : "";
        FDpy = FName.empty() ? nullptr : XOpenDisplay(FName.c_str());
        return;
    }
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    FPid = ::fork();
    if (FPid == 0) {
        // The server goes with the benchmark, however that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        // -r: a key held while a loaded machine catches up is no repeated press.
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                 "-noreset", "-r", "-br", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string num;
    char c;
    pollfd p{fds[0], POLLIN, 0};
    while (::poll(&p, 1, 30000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        num += c;
    ::close(fds[0]);
    if (num.empty())
        return;
    FName = ":" + num;
    FDpy = XOpenDisplay(FName.c_str());
}

TXServer::~TXServer()
{
    if (FDpy)
        XCloseDisplay(FDpy);
    if (FPid > 0) {
        ::kill(FPid, SIGTERM);
        ::waitpid(FPid, nullptr, 0);
    }
}

TScreen::TScreen(Display* dpy)
    : FDpy(dpy)
    , FRoot(DefaultRootWindow(dpy))
    , FPidAtom(XInternAtom(dpy, "_NET_WM_PID", False))
    , FNameAtom(XInternAtom(dpy, "_NET_WM_NAME", False))
    , FUtf8Atom(XInternAtom(dpy, "UTF8_STRING", False))
{
}

std::vector<unsigned long> TScreen::Windows(int pid, const std::string& title) const
{
    std::vector<unsigned long> out;
    Window rootRet, parent, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(FDpy, FRoot, &rootRet, &parent, &children, &n))
        return out;
    for (unsigned int i = 0; i < n; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(FDpy, children[i], &a) || a.map_state != IsViewable || a.c_class != InputOutput)
            continue;
        Atom type;
        int format;
        unsigned long items, after;
        unsigned char* data = nullptr;
        long winPid = -1;
        if (XGetWindowProperty(FDpy, children[i], FPidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after,
                               &data) == Success &&
            data && items == 1)
            winPid = *reinterpret_cast<long*>(data);
        if (data)
            XFree(data);
        if (winPid != pid && ParentOf(winPid) != pid)
            continue;
        if (!title.empty()) {
            std::string name;
            data = nullptr;
            if (XGetWindowProperty(FDpy, children[i], FNameAtom, 0, 1024, False, FUtf8Atom, &type, &format, &items,
                                   &after, &data) == Success &&
                data)
                name.assign(reinterpret_cast<char*>(data), items);
            if (data)
                XFree(data);
            if (name.find(title) == std::string::npos)
                continue;
        }
        out.push_back(children[i]);
    }
    if (children)
        XFree(children);
    return out;
}

unsigned long TScreen::MainWindow(int pid) const
{
    unsigned long best = 0;
    long bestArea = 0;
    for (unsigned long w : Windows(pid)) {
        const TRect g = Geometry(w);
        if (static_cast<long>(g.W) * g.H > bestArea) {
            bestArea = static_cast<long>(g.W) * g.H;
            best = w;
        }
    }
    return best;
}

TRect TScreen::Geometry(unsigned long win) const
{
    XWindowAttributes a;
    TRect r;
    if (!XGetWindowAttributes(FDpy, win, &a))
        return r;
    Window child;
    XTranslateCoordinates(FDpy, win, FRoot, 0, 0, &r.X, &r.Y, &child);
    r.W = a.width;
    r.H = a.height;
    return r;
}

unsigned long TScreen::Focus() const
{
    Window w = 0;
    int revert = 0;
    XGetInputFocus(FDpy, &w, &revert);
    return w;
}

void TScreen::SetFocus(unsigned long win) const
{
    XSetInputFocus(FDpy, win, RevertToPointerRoot, CurrentTime);
    XSync(FDpy, False);
}

void TScreen::PointerTo(int x, int y) const
{
    XTestFakeMotionEvent(FDpy, -1, x, y, CurrentTime);
    XSync(FDpy, False);
}

std::vector<uint32_t> TScreen::Sample(const std::vector<TRect>& rects) const
{
    std::vector<uint32_t> px;
    for (const TRect& r : rects) {
        XImage* img = XGetImage(FDpy, FRoot, r.X, r.Y, static_cast<unsigned>(r.W), static_cast<unsigned>(r.H),
                                AllPlanes, ZPixmap);
        if (!img)
            return {};
        for (int y = 0; y < r.H; ++y) {
            if (img->bits_per_pixel == 32) {
                const auto* row = reinterpret_cast<const uint32_t*>(img->data + y * img->bytes_per_line);
                for (int x = 0; x < r.W; ++x)
                    px.push_back(row[x] & 0xffffffu);
            } else {
                for (int x = 0; x < r.W; ++x)
                    px.push_back(static_cast<uint32_t>(XGetPixel(img, x, y)) & 0xffffffu);
            }
        }
        XDestroyImage(img);
    }
    return px;
}

bool TScreen::SavePpm(const TRect& rect, const std::string& path) const
{
    const std::vector<uint32_t> px = Sample({rect});
    if (px.empty())
        return false;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f, "P6\n%d %d\n255\n", rect.W, rect.H);
    for (uint32_t p : px) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                      static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, f);
    }
    return std::fclose(f) == 0;
}

namespace {
struct TKeyCode {
    unsigned Code = 0;
    bool Shift = false;
};

TKeyCode Lookup(Display* dpy, const std::string& name)
{
    const KeySym sym = XStringToKeysym(name.c_str());
    TKeyCode k;
    if (sym == NoSymbol)
        return k;
    k.Code = XKeysymToKeycode(dpy, sym);
    k.Shift = k.Code && XkbKeycodeToKeysym(dpy, static_cast<KeyCode>(k.Code), 0, 0) != sym &&
              XkbKeycodeToKeysym(dpy, static_cast<KeyCode>(k.Code), 0, 1) == sym;
    return k;
}

void Send(Display* dpy, const TKeyCode& k, bool down)
{
    static const unsigned shift = XKeysymToKeycode(dpy, XK_Shift_L);
    if (down && k.Shift)
        XTestFakeKeyEvent(dpy, shift, True, CurrentTime);
    XTestFakeKeyEvent(dpy, k.Code, down ? True : False, CurrentTime);
    if (!down && k.Shift)
        XTestFakeKeyEvent(dpy, shift, False, CurrentTime);
    XSync(dpy, False);
}
} // namespace

void TScreen::KeyDown(const std::string& keysym) const
{
    const TKeyCode k = Lookup(FDpy, keysym);
    if (k.Code)
        Send(FDpy, k, true);
    else
        std::fprintf(stderr, "no key for %s\n", keysym.c_str());
}

void TScreen::KeyUp(const std::string& keysym) const
{
    const TKeyCode k = Lookup(FDpy, keysym);
    if (k.Code)
        Send(FDpy, k, false);
}

void TScreen::Key(const std::string& keysym, int holdMs) const
{
    KeyDown(keysym);
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
    KeyUp(keysym);
}

void TScreen::KeyWithCtrl(const std::string& keysym) const
{
    const unsigned ctrl = XKeysymToKeycode(FDpy, XK_Control_L);
    XTestFakeKeyEvent(FDpy, ctrl, True, CurrentTime);
    XSync(FDpy, False);
    Key(keysym);
    XTestFakeKeyEvent(FDpy, ctrl, False, CurrentTime);
    XSync(FDpy, False);
}

void TScreen::Type(const std::string& text) const
{
    for (char c : text) {
        std::string name(1, c);
        switch (c) {
        case '/': name = "slash"; break;
        case '.': name = "period"; break;
        case '-': name = "minus"; break;
        case '_': name = "underscore"; break;
        case ' ': name = "space"; break;
        default: break;
        }
        Key(name, 8);
        std::this_thread::sleep_for(std::chrono::milliseconds(8));
    }
}

} // namespace benchx
