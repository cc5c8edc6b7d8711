// A 200 dpi colour A4 page from SANE's test backend to a 24-bit picture, through the
// acquisition module and our source manager (memory transfer, no dialog), against the
// scanimage program writing the same page to /dev/null, measured in the same run.
//
// The reported counter "ratio" of BM_ScanToPicture is its mean time over scanimage's.

#include "scan/ScanCommands.h"
#include "scan/TW_Apps.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

double g_scanimageSeconds = 0;

const QStringList kPage = {"-d", "test:0", "--mode", "Color", "--depth", "8", "--resolution", "200", "-l", "0",
                           "-t", "0", "-x", "210", "-y", "297", "--format=pnm"};

void BM_ScanimageToDevNull(benchmark::State& state)
{
    QElapsedTimer total;
    int64_t runs = 0;
    total.start();
    for (auto _ : state) {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start("scanimage", kPage);
        if (!p.waitForFinished(-1) || p.exitCode() != 0) {
            state.SkipWithError("scanimage failed");
            return;
        }
        ++runs;
    }
    g_scanimageSeconds = total.elapsed() / 1000.0 / static_cast<double>(runs);
}

void BM_ScanToPicture(benchmark::State& state)
{
    TScanCommands commands(nullptr, TScanHost{});
    commands.InstallAppMessage();
    QElapsedTimer total;
    int64_t runs = 0;
    total.start();
    for (auto _ : state) {
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
        benchmark::DoNotOptimize(commands.imTwain().constBits());
        ++runs;
    }
    const double seconds = total.elapsed() / 1000.0 / static_cast<double>(runs);
    const QImage& img = commands.imTwain();
    state.counters["width"] = img.width();
    state.counters["height"] = img.height();
    if (g_scanimageSeconds > 0)
        state.counters["ratio"] = seconds / g_scanimageSeconds;
}

// Registered in this order so the reference is measured first.
BENCHMARK(BM_ScanimageToDevNull)->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_ScanToPicture)->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("SANE_CONFIG_DIR")) {
        const QString dir = QFileInfo(QString(__FILE__)).absolutePath() + "/../tests/sane";
        setenv("SANE_CONFIG_DIR", QDir(dir).absolutePath().toLocal8Bit().constData(), 1);
    }
    QApplication app(argc, argv);
    SetTwainDllPath(QDir(QCoreApplication::applicationDirPath() + "/..").absoluteFilePath(TwainDllName));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
