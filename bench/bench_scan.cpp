// A 200 dpi colour A4 page from SANE's test backend through the acquisition module and
// our source manager (memory transfer, no dialog), against the scanimage program writing
// the same page to /dev/null, measured in the same run.
//
// BM_ScanToPicture stops when the page is the module's 24-bit picture; BM_ScanToView goes
// on as the program does: "Scansione.bmp" is written and the picture is put on a view.
// Each reports "ratio": its median time over scanimage's median (the machine is shared,
// and a median is not thrown by one slow run).
//
// BM_DialogScanToView/<case> times what the user waits for: from a click on "Scansiona"
// in the source's dialog to the picture on the view, for a photo-sized area at 600 dpi
// (55 x 67 mm, the photo of a form) and a whole A4 page at 200 and at 600 dpi, each
// against BM_ScanimageCase/<case>, scanimage with the same options in the same run.

#include "scan/ScanCommands.h"
#include "scan/TW_Apps.h"
#include "view/ZSImage.h"
#include "view/ZSImage_SlideShow.h"

#include <QApplication>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <vector>

namespace {

double g_scanimageMedian = 0;

const QStringList kPage = {"-d", "test:0", "--mode", "Color", "--depth", "8", "--resolution", "200", "-l", "0",
                           "-t", "0", "-x", "210", "-y", "297", "--format=pnm"};

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Times one scanimage run per iteration into times; false once it has failed four times.
// scanimage now and then deadlocks in its own exit (inside sane_exit's dlclose) after the
// page is out; such a run says nothing about reading and is repeated.
bool TimeScanimage(benchmark::State& state, const QStringList& args, int timeoutMs, std::vector<double>& times)
{
    for (auto _ : state) {
        for (int attempt = 0;; ++attempt) {
            QElapsedTimer t;
            t.start();
            QProcess p;
            p.setStandardOutputFile(QProcess::nullDevice());
            p.start("scanimage", args);
            if (p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) {
                const double sec = t.nsecsElapsed() / 1e9;
                state.SetIterationTime(sec);
                times.push_back(sec);
                break;
            }
            p.kill();
            p.waitForFinished(-1);
            if (attempt == 3) {
                state.SkipWithError("scanimage failed");
                return false;
            }
        }
    }
    return true;
}

void BM_ScanimageToDevNull(benchmark::State& state)
{
    std::vector<double> times;
    if (!TimeScanimage(state, kPage, 20000, times))
        return;
    g_scanimageMedian = Median(times);
    state.counters["median_ms"] = g_scanimageMedian * 1000;
}

// One acquisition without the source's dialog, as far as the picture in the module;
// with `view`, on until the picture is on the view.
void ScanOnce(TScanCommands& commands, const QString& file, bool view, benchmark::State& state,
              std::vector<double>& times)
{
    QElapsedTimer t;
    t.start();
    if (!commands.InitTwain()) {
        state.SkipWithError("source manager not usable");
        return;
    }
    ScanResolution = 200;
    ScanGrayScale = false;
    const unsigned before = PictureSerial;
    if (!TWAcquire(nullptr, TW_FALSE, 3)) {
        state.SkipWithError("acquisition refused");
        return;
    }
    // The page arrives through the application's event loop, as in the program.
    while (PictureSerial == before || TScanCommands::ConnectionOpen())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    if (view && !commands.FillImgAndResize(file)) {
        state.SkipWithError("no picture to take over");
        return;
    }
    const double s = t.nsecsElapsed() / 1e9;
    state.SetIterationTime(s);
    times.push_back(s);
    benchmark::DoNotOptimize(commands.imTwain().constBits());
}

void Report(benchmark::State& state, const TScanCommands& commands, const std::vector<double>& times)
{
    const QImage& img = commands.imTwain();
    state.counters["width"] = img.width();
    state.counters["height"] = img.height();
    state.counters["median_ms"] = Median(times) * 1000;
    if (g_scanimageMedian > 0)
        state.counters["ratio"] = Median(times) / g_scanimageMedian;
}

void BM_ScanToPicture(benchmark::State& state)
{
    TScanCommands commands(nullptr, TScanHost{});
    commands.InstallAppMessage();
    std::vector<double> times;
    for (auto _ : state)
        ScanOnce(commands, QString(), false, state, times);
    Report(state, commands, times);
}

void BM_ScanToView(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Scansione.bmp");
    TZSImage view;
    view.resize(1000, 700);
    view.show();
    TScanHost host;
    host.AcqImgFile = [&file] { return file; };
    // What the main window does with a scanned file: a list of one, shown at once.
    host.LoadScannedFile = [&view](const QString& f, const QImage& picture) {
        view.SlideShow()->List()->Assign(QStringList{f});
        if (!picture.isNull())
            view.SlideShow()->List()->SetObject(0, picture);
        view.SlideShow()->ShowImage(0, 1, 0);
    };
    TScanCommands commands(nullptr, std::move(host));
    commands.InstallAppMessage();
    std::vector<double> times;
    for (auto _ : state)
        ScanOnce(commands, file, true, state, times);
    Report(state, commands, times);
    state.counters["view_ok"] = view.SlideShow()->List()->Count() == 1;
}

struct TCase {
    const char* Name;
    int Dpi;
    double Left, Top, Width, Height;  // mm
};
const TCase kCases[] = {
    {"photo 55x67 mm at 600 dpi", 600, 20, 30, 55, 67},
    {"A4 at 200 dpi", 200, 0, 0, 210, 297},
    {"A4 at 600 dpi", 600, 0, 0, 210, 297},
};
double g_caseMedian[3] = {};

QStringList CaseArgs(const TCase& c)
{
    return {"-d", "test:0", "--mode", "Color", "--depth", "8", "--resolution", QString::number(c.Dpi), "-l",
            QString::number(c.Left), "-t", QString::number(c.Top), "-x", QString::number(c.Width), "-y",
            QString::number(c.Height), "--format=pnm"};
}

void BM_ScanimageCase(benchmark::State& state)
{
    const TCase& c = kCases[state.range(0)];
    std::vector<double> times;
    if (!TimeScanimage(state, CaseArgs(c), 60000, times))
        return;
    g_caseMedian[state.range(0)] = Median(times);
    state.SetLabel(c.Name);
    state.counters["median_ms"] = Median(times) * 1000;
}

QDialog* VisibleSourceDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "DsmSourceDialog" && w->isVisible())
            return qobject_cast<QDialog*>(w);
    return nullptr;
}

void BM_DialogScanToView(benchmark::State& state)
{
    const TCase& c = kCases[state.range(0)];
    QTemporaryDir dir;
    const QString file = dir.filePath("Scansione.bmp");
    TZSImage view;
    view.resize(1000, 700);
    view.show();
    bool shown = false;
    TScanHost host;
    host.AcqImgFile = [&file] { return file; };
    host.ResolutionText = [&c] { return QString::number(c.Dpi); };
    host.LoadScannedFile = [&view, &shown](const QString& f, const QImage& picture) {
        view.SlideShow()->List()->Assign(QStringList{f});
        if (!picture.isNull())
            view.SlideShow()->List()->SetObject(0, picture);
        view.SlideShow()->ShowImage(0, 1, 0);
        shown = true;
    };
    TScanCommands commands(nullptr, std::move(host));
    commands.InstallAppMessage();
    std::vector<double> times;
    for (auto _ : state) {
        commands.BtScanNowClick();
        QDialog* d = nullptr;
        while (!(d = VisibleSourceDialog()))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        d->findChild<QSpinBox*>("EdResolution")->setValue(c.Dpi);
        // Right and bottom first, so no box is held back by the others' limits.
        d->findChild<QDoubleSpinBox*>("EdLeft")->setValue(0);
        d->findChild<QDoubleSpinBox*>("EdTop")->setValue(0);
        d->findChild<QDoubleSpinBox*>("EdRight")->setValue(c.Left + c.Width);
        d->findChild<QDoubleSpinBox*>("EdBottom")->setValue(c.Top + c.Height);
        d->findChild<QDoubleSpinBox*>("EdLeft")->setValue(c.Left);
        d->findChild<QDoubleSpinBox*>("EdTop")->setValue(c.Top);
        shown = false;
        QElapsedTimer t;
        t.start();
        d->findChild<QPushButton*>("BtScan")->click();
        while (!shown || TScanCommands::ConnectionOpen())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        const double sec = t.nsecsElapsed() / 1e9;
        state.SetIterationTime(sec);
        times.push_back(sec);
    }
    const QImage& img = commands.imTwain();
    state.SetLabel(c.Name);
    state.counters["width"] = img.width();
    state.counters["height"] = img.height();
    state.counters["median_ms"] = Median(times) * 1000;
    if (g_caseMedian[state.range(0)] > 0)
        state.counters["ratio"] = Median(times) / g_caseMedian[state.range(0)];
}

// Registered in this order so the reference is measured first.
BENCHMARK(BM_ScanimageToDevNull)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(25);
BENCHMARK(BM_ScanToPicture)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(25);
BENCHMARK(BM_ScanToView)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(25);
BENCHMARK(BM_ScanimageCase)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(11)->DenseRange(0, 2);
BENCHMARK(BM_DialogScanToView)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(11)->DenseRange(0, 2);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("SANE_CONFIG_DIR")) {
        // __FILE__ is relative to the build folder, so the source tree comes from the build.
        const QString dir = QString(CORVANTA_SOURCE_DIR) + "/tests/sane";
        setenv("SANE_CONFIG_DIR", QDir(dir).absolutePath().toLocal8Bit().constData(), 1);
    }
    // The source manager remembers settings per scanner; the benchmark's stay its own.
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    SetTwainDllPath(QDir(QCoreApplication::applicationDirPath() + "/..").absoluteFilePath(TwainDllName));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
