// The whole program timed from outside, as the user feels it, against a
// minimal viewer of our own (MinimalViewer.cpp) and a bare Qt window, all in
// the same run: each run is a fresh process (cold memory), driven by keys
// sent through XTest, and "done" is what the screen shows (rows of the
// window read back from the X server) or the saved file on the disk. The
// method is described in README.md beside this file.
//
//   bench_program [--runs N] [--display] [--pages DIR] [--corvanta EXE] [--wrap CMD] [--jpeg-only] [--keep] [--shots]

#include "BenchPages.h"
#include "ProgramSteps.h"
#include "XScreen.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using benchx::Ms;
using benchx::TClock;
using benchx::TRect;
using benchx::TScreen;

using namespace benchsteps;

namespace {

void RemoveTree(const std::string& dir)
{
    if (!dir.empty() && dir.size() > 8)
        std::system(("rm -rf '" + dir + "'").c_str());
}

void MakeDirs(const std::string& path)
{
    for (size_t i = 1; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '/')
            ::mkdir(path.substr(0, i).c_str(), 0700);
}

// --- the runs --------------------------------------------------------------------

using TTimes = std::map<std::string, std::vector<double>>;

struct TSetup {
    std::string Corvanta, Viewer, Bare, Pages, Work, Display, SourceDir, Wrap;
    int Runs = 5;
    bool Shots = false; // keep a picture of the window after each timed step
};

void Shot(const TSetup& s, const TScreen& screen, unsigned long win, const std::string& name)
{
    if (s.Shots)
        screen.SavePpm(screen.Geometry(win), s.Work + "/" + name + ".ppm");
}

void Add(TTimes& t, const std::string& key, double ms)
{
    if (ms >= 0)
        t[key].push_back(ms);
    else
        std::fprintf(stderr, "  %s: failed\n", key.c_str());
}

// The command of the program under test: the wrapper's words (--wrap), then
// the program.
std::vector<std::string> Command(const TSetup& s)
{
    std::vector<std::string> argv;
    size_t at = 0;
    while (at < s.Wrap.size()) {
        const size_t end = std::min(s.Wrap.find(' ', at), s.Wrap.size());
        if (end > at)
            argv.push_back(s.Wrap.substr(at, end - at));
        at = end + 1;
    }
    argv.push_back(s.Corvanta);
    return argv;
}

std::vector<std::string> BaseEnv(const TSetup& s, const std::string& home)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (v.rfind("QT_", 0) == 0 || v.rfind("XDG_", 0) == 0 || v.rfind("DISPLAY=", 0) == 0 ||
            v.rfind("WAYLAND", 0) == 0 || v.rfind("SESSION_MANAGER", 0) == 0 || v.rfind("HOME=", 0) == 0)
            continue;
        env.push_back(v);
    }
    for (const char* kv : {"config", "data", "cache", "runtime"})
        MakeDirs(home + "/" + kv);
    MakeDirs(home + "/Scrivania");
    env.push_back("HOME=" + home);
    env.push_back("XDG_CONFIG_HOME=" + home + "/config");
    env.push_back("XDG_DATA_HOME=" + home + "/data");
    env.push_back("XDG_CACHE_HOME=" + home + "/cache");
    env.push_back("XDG_RUNTIME_DIR=" + home + "/runtime");
    env.push_back("XDG_DESKTOP_DIR=" + home + "/Scrivania");
    env.push_back("DISPLAY=" + s.Display);
    env.push_back("QT_QPA_PLATFORM=xcb");
    env.push_back("QT_QPA_PLATFORMTHEME=");
    env.push_back("SANE_CONFIG_DIR=" + s.SourceDir + "/tests/sane");
    return env;
}

// The settings of a program that has been set up before: output to the
// desktop folder, the file dialog in the pages' folder, crop on release, and
// the window at its first-start place.
void WriteSettings(const TSetup& s, const std::string& home)
{
    const std::string dir = home + "/data/Lodrevan/Corvanta";
    MakeDirs(dir);
    std::ofstream f(dir + "/corvanta.ini");
    f << "[FormOptions]\nAppConfigPath=" << dir << "/\nEdFilesOutput=" << home << "/Scrivania/\n"
      << "ScannerCfg.Resolution=200\nRbFotoStartDefault=1\nCkMinSizeSel=1\nCkCropMouseUp=1\n"
      << "CkStoreEditSliders=1\nCkStoreSelections=1\nCkFirmaGrayscale=1\nFlsPicPath=" << s.Pages
      << "/\nCkFotoPreviewBw=0\n[FormCrop]\nTOP=" << (1024 - kWinH) / 2 << "\nLEFT=" << (1280 - kWinW) / 2
      << "\nWIDTH=" << kWinW << "\nHEIGHT=" << kWinH << "\n";
}

void RunCorvanta(const TSetup& s, const TScreen& screen, const benchpages::TFormat& fmt, int run, TTimes& t)
{
    const std::string home = s.Work + "/home-" + std::to_string(run);
    RemoveTree(home);
    std::vector<std::string> env = BaseEnv(s, home);
    WriteSettings(s, home);
    screen.PointerTo(0, 0);
    const TClock::time_point t0 = TClock::now();
    TProcess p(Command(s), env, s.Work + "/corvanta.log");
    unsigned long win = 0;
    Add(t, "start", TimeStart(screen, p, t0, win));
    if (!win)
        return;
    Shot(s, screen, win, "corvanta-start");
    // FILE (key F), the page's path typed into the file dialog, then Enter:
    // the Enter is the key that opens it.
    screen.SetFocus(win);
    screen.Key("f");
    if (!WaitDialog(screen, p, "Apri immagini")) {
        std::fprintf(stderr, "  no file dialog\n");
        return;
    }
    screen.KeyWithCtrl("a");
    screen.Type(s.Pages + "/" + fmt.File);
    SleepMs(500);
    {
        auto rects = [&] { return ViewRects(screen, win); };
        const TPixels before = screen.Sample(rects());
        const TClock::time_point k = TClock::now();
        screen.Key("Return", 20);
        auto shown = [](const TPixels& px) { return PaperShare(px) > 0.25; };
        const TWatch w = Watch(screen, rects, k, [&](const TPixels& px) { return px != before && shown(px); }, shown);
        Add(t, std::string("open ") + fmt.Name + " first", w.Ok ? w.FirstMs : -1);
        Add(t, std::string("open ") + fmt.Name, w.Ok ? w.SettledMs : -1);
        Shot(s, screen, win, std::string("corvanta-open-") + fmt.File);
        if (!w.Ok)
            return;
    }
    if (std::strcmp(fmt.Name, "JPEG") != 0)
        return;
    // Key 1: the photo frame at zoom 1 with the toolbar, where Page Down turns.
    TimeViewKey(screen, win, "1", false);
    Shot(s, screen, win, "corvanta-zoom1");
    Add(t, "rotate first", TimeViewKey(screen, win, "Next", false).Settled);
    TimeViewKey(screen, win, "Next", false);
    Add(t, "rotate later", TimeViewKey(screen, win, "Next", false).Settled);
    Shot(s, screen, win, "corvanta-rotated");
    // Enter crops and asks for the name; Enter in the name dialog saves.
    screen.SetFocus(win);
    screen.Key("Return");
    if (!WaitDialog(screen, p, "Nome per il file da salvare")) {
        std::fprintf(stderr, "  no name dialog\n");
        return;
    }
    screen.Type("bench");
    SleepMs(300);
    const TSaveTime saved = TimeSaveKey(screen, "Return", home + "/Scrivania/benchFoto.jpg", win);
    Add(t, "save", saved.File);
    Add(t, "save report", saved.Report);
    SleepMs(300);
    Shot(s, screen, win, "corvanta-saved");
}

void RunViewer(const TSetup& s, const TScreen& screen, const benchpages::TFormat& fmt, int run, TTimes& t)
{
    const std::string home = s.Work + "/viewer-" + std::to_string(run);
    RemoveTree(home);
    std::vector<std::string> env = BaseEnv(s, home);
    const std::string out = home + "/Scrivania/benchFoto.jpg";
    screen.PointerTo(0, 0);
    TProcess p({s.Viewer, "--open", s.Pages + "/" + fmt.File, "--save-to", out}, env, s.Work + "/viewer.log");
    unsigned long win = 0;
    if (TimeStart(screen, p, TClock::now(), win) < 0)
        return;
    SleepMs(300);
    const TStepTime open = TimeViewKey(screen, win, "Return", true);
    Add(t, std::string("open ") + fmt.Name, open.Settled);
    Shot(s, screen, win, std::string("viewer-open-") + fmt.File);
    if (std::strcmp(fmt.Name, "JPEG") != 0 || open.Settled < 0)
        return;
    TimeViewKey(screen, win, "1", false);
    Add(t, "rotate first", TimeViewKey(screen, win, "Next", false).Settled);
    TimeViewKey(screen, win, "Next", false);
    Add(t, "rotate later", TimeViewKey(screen, win, "Next", false).Settled);
    Shot(s, screen, win, "viewer-rotated");
    screen.SetFocus(win);
    SleepMs(300);
    Add(t, "save", TimeSaveKey(screen, "s", out, 0).File);
}

void RunBare(const TSetup& s, const TScreen& screen, int run, TTimes& t)
{
    const std::string home = s.Work + "/bare-" + std::to_string(run);
    RemoveTree(home);
    std::vector<std::string> env = BaseEnv(s, home);
    screen.PointerTo(0, 0);
    const TClock::time_point t0 = TClock::now();
    TProcess p({s.Bare}, env, s.Work + "/bare.log");
    unsigned long win = 0;
    Add(t, "start", TimeStart(screen, p, t0, win));
}

// --- the table ---------------------------------------------------------------------

struct TStat {
    double Median = -1, Min = -1, Max = -1;
    size_t N = 0;
};

TStat Stat(const TTimes& t, const std::string& key)
{
    TStat s;
    auto it = t.find(key);
    if (it == t.end() || it->second.empty())
        return s;
    std::vector<double> v = it->second;
    std::sort(v.begin(), v.end());
    s.N = v.size();
    s.Min = v.front();
    s.Max = v.back();
    s.Median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    return s;
}

std::string Cell(const TStat& s)
{
    if (s.N == 0)
        return "         --           ";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%7.0f (%5.0f-%5.0f)", s.Median, s.Min, s.Max);
    return buf;
}

void Row(const char* what, const TStat& ours, const TStat& ref, double goal)
{
    std::printf("%-34s %s  %s", what, Cell(ours).c_str(), Cell(ref).c_str());
    if (ours.N && ref.N && ref.Median > 0)
        std::printf("  %6.2f", ours.Median / ref.Median);
    else
        std::printf("  %6s", "--");
    if (goal > 0)
        std::printf("   <= %.2f", goal);
    std::printf("\n");
}

std::string LoadAverage()
{
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

std::string Dir(const char* path)
{
    std::string p = path;
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

} // namespace

int main(int argc, char** argv)
{
    TSetup s;
    bool useOwnX = true, keep = false, jpegOnly = false;
    const std::string here = Dir(argv[0]);
    s.Corvanta = CORVANTA_EXE;
    s.Viewer = here + "/bench_minimal_viewer";
    s.Bare = here + "/bench_bare_window";
    s.SourceDir = CORVANTA_SOURCE_DIR;
    s.Pages = "/tmp/corvanta-bench-pages-1";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            s.Runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--display")
            useOwnX = false;
        else if (a == "--pages" && i + 1 < argc)
            s.Pages = argv[++i];
        else if (a == "--corvanta" && i + 1 < argc)
            s.Corvanta = argv[++i];
        else if (a == "--keep")
            keep = true;
        else if (a == "--jpeg-only")
            jpegOnly = true;
        else if (a == "--wrap" && i + 1 < argc)
            s.Wrap = argv[++i];
        else if (a == "--shots")
            keep = s.Shots = true;
        else {
            std::fprintf(stderr, "usage: %s [--runs N] [--display] [--pages DIR] [--corvanta EXE] [--wrap CMD] [--jpeg-only] [--keep] [--shots]\n", argv[0]);
            return 2;
        }
    }
    ::signal(SIGINT, StopWithChild);
    ::signal(SIGTERM, StopWithChild);
    if (!benchpages::EnsurePages(s.Pages))
        return 1;
    char tmpl[] = "/tmp/corvanta-bench-XXXXXX";
    if (!::mkdtemp(tmpl))
        return 1;
    s.Work = tmpl;

    benchx::TXServer x(useOwnX);
    if (!x.Ok()) {
        std::fprintf(stderr, "no X server (Xvfb missing, or $DISPLAY unusable)\n");
        return 1;
    }
    s.Display = x.Name();
    TScreen screen(x.Dpy());
    const std::string loadBefore = LoadAverage();
    std::printf("display %s, %d runs of each, load average before %s\n", s.Display.c_str(), s.Runs,
                loadBefore.c_str());
    std::fflush(stdout);

    TTimes ours, viewer, bare;
    for (int run = 0; run < s.Runs; ++run) {
        std::fprintf(stderr, "run %d of %d\n", run + 1, s.Runs);
        RunBare(s, screen, run, bare);
        for (const benchpages::TFormat& fmt : benchpages::Formats()) {
            if (jpegOnly && std::strcmp(fmt.Name, "JPEG") != 0)
                continue;
            std::fprintf(stderr, " minimal viewer, %s\n", fmt.Name);
            RunViewer(s, screen, fmt, run, viewer);
            std::fprintf(stderr, " Corvanta, %s\n", fmt.Name);
            RunCorvanta(s, screen, fmt, run, ours);
        }
    }

    std::printf("\nmilliseconds, median (min-max) of %d fresh processes; ratio of the medians\n", s.Runs);
    std::printf("%-34s %-22s  %-22s  %6s   %s\n", "", "Corvanta", "reference", "ratio", "goal");
    Row("start to window (bare Qt window)", Stat(ours, "start"), Stat(bare, "start"), 1.3);
    for (const benchpages::TFormat& fmt : benchpages::Formats()) {
        const std::string n = fmt.Name;
        const bool jpeg = n == "JPEG";
        Row(("open " + n + ", first paint").c_str(), Stat(ours, "open " + n + " first"), Stat(viewer, "open " + n),
            jpeg ? 0.6 : 0);
        Row(("open " + n + ", whole picture").c_str(), Stat(ours, "open " + n), Stat(viewer, "open " + n),
            jpeg ? 0 : 1.0);
    }
    Row("rotate step, the first", Stat(ours, "rotate first"), Stat(viewer, "rotate first"), 0);
    Row("rotate step, a later one", Stat(ours, "rotate later"), Stat(viewer, "rotate later"), 0);
    const TStat r1 = Stat(ours, "rotate first"), rl = Stat(ours, "rotate later");
    if (r1.N && rl.N && rl.Median > 0)
        std::printf("%-34s %7.2f   (goal <= 1.00)\n", "rotate: first step / later step", r1.Median / rl.Median);
    Row("save, key to whole file", Stat(ours, "save"), Stat(viewer, "save"), 1.5);
    Row("save, key to its report on screen", Stat(ours, "save report"), Stat(viewer, "save"), 0);
    std::printf("reference: minimal viewer (TurboJPEG/libpng/libtiff/BMP decode, Qt smooth scale, OpenCV warpAffine\n"
                "on two threads, TurboJPEG encodes + one write); start against a bare Qt window.\n");
    std::printf("load average before %s, after %s\n", loadBefore.c_str(), LoadAverage().c_str());
    if (!keep)
        RemoveTree(s.Work);
    else
        std::printf("kept %s\n", s.Work.c_str());
    return 0;
}
