// Speed of the image view against the references measured in the same run:
// Qt's smooth scaling and smooth drawing, and a plain copy of the view-sized
// back buffer. Prints the ratios at the end.

#include "platform/ImageAlloc.h"
#include "view/ExCopyRect.h"
#include "view/ZSImage.h"
#include "view/ZSImage_Geometry.h"

#include "BenchRatio.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kPageW = 4960; // A4 at 600 dots per inch
constexpr int kPageH = 7016;
constexpr int kViewW = 860;
constexpr int kViewH = 660;

// A photo-like page: smooth colour gradients, dark text with hard edges and
// sensor-like noise. `seed` makes two pages that differ.
QImage MakePage(uint32_t seed)
{
    QImage rgb(kPageW, kPageH, QImage::Format_RGB32);
    for (int y = 0; y < kPageH; ++y) {
        auto* row = reinterpret_cast<QRgb*>(rgb.scanLine(y));
        for (int x = 0; x < kPageW; ++x)
            row[x] = qRgb((x * 255 / kPageW + seed) & 0xFF, (y * 255 / kPageH) & 0xFF, ((x + y) / 47) & 0xFF);
    }
    {
        QPainter p(&rgb);
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(90);
        p.setFont(f);
        p.setPen(Qt::black);
        for (int line = 0; line < 60; ++line)
            p.drawText(200, 300 + line * 110, QStringLiteral("Modulo di richiesta documento %1 - Firma e fotografia").arg(line));
        p.fillRect(3000, 1000, 1300, 1600, QColor(200, 170, 150));
    }
    QImage page = NewBgrImage(kPageW, kPageH);
    for (int y = 0; y < kPageH; ++y) {
        const auto* s = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uint8_t* d = page.scanLine(y);
        uint32_t lcg = seed * 2654435761u + static_cast<uint32_t>(y) * 40503u + 1u;
        for (int x = 0; x < kPageW; ++x, d += 3) {
            lcg = lcg * 1664525u + 1013904223u;
            const int noise = static_cast<int>((lcg >> 24) & 15) - 8;
            d[0] = static_cast<uint8_t>(std::clamp(qBlue(s[x]) + noise, 0, 255));
            d[1] = static_cast<uint8_t>(std::clamp(qGreen(s[x]) + noise, 0, 255));
            d[2] = static_cast<uint8_t>(std::clamp(qRed(s[x]) + noise, 0, 255));
        }
    }
    return page;
}

const QImage& Page(int i)
{
    static QImage pages[2] = {MakePage(1), MakePage(77)};
    return pages[i & 1];
}

TZSImage& View(int w = kViewW, int h = kViewH)
{
    static TZSImage* view = nullptr;
    if (!view) {
        view = new TZSImage();
        view->SetMargin(20);
        view->SetBorderWidth(1);
        view->SetBorderColor(clGray);
        view->show();
    }
    if (view->width() != w || view->height() != h) {
        view->resize(w, h);
        QApplication::processEvents();
    }
    return *view;
}

TStretchLayout FitLayout()
{
    return ComputeStretchLayout(kPageW, kPageH, kViewW, kViewH, kCenterMarker, 0, 20, false, 1);
}

// --- references -------------------------------------------------------------

void BM_QtSmoothFit(benchmark::State& state)
{
    const QImage& page = Page(0);
    const TStretchLayout L = FitLayout();
    const int w = L.Canvas.Right - L.Canvas.Left;
    const int h = L.Canvas.Bottom - L.Canvas.Top;
    for (auto _ : state) {
        QImage out = page.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_QtSmoothFit)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The same scaling from a 32-bit copy of the page, Qt's fastest input format
// (our pictures are 24-bit, which Qt has to widen first).
void BM_QtSmoothFitRgb32(benchmark::State& state)
{
    const QImage page = Page(0).convertToFormat(QImage::Format_RGB32);
    const TStretchLayout L = FitLayout();
    const int w = L.Canvas.Right - L.Canvas.Left;
    const int h = L.Canvas.Bottom - L.Canvas.Top;
    for (auto _ : state) {
        QImage out = page.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_QtSmoothFitRgb32)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

template <int W, int H>
void BM_PlainCopy(benchmark::State& state)
{
    QImage a = NewBgrImage(W, H);
    QImage b = NewBgrImage(W, H);
    a.fill(Qt::gray);
    b.fill(Qt::black);
    for (auto _ : state) {
        std::memcpy(b.bits(), a.constBits(), static_cast<size_t>(a.sizeInBytes()));
        benchmark::DoNotOptimize(b.constBits());
    }
}
BENCHMARK(BM_PlainCopy<kViewW, kViewH>)->Name("BM_PlainCopyView")->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_PlainCopy<1200, 900>)->Name("BM_PlainCopyView1200")->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

void BM_QtSmoothDrawZoom2(benchmark::State& state)
{
    const QImage& page = Page(0);
    QImage window(kViewW, kViewH, QImage::Format_RGB32);
    const QRect source(kPageW / 2 - kViewW / 4, kPageH / 2 - kViewH / 4, kViewW / 2, kViewH / 2);
    for (auto _ : state) {
        QPainter p(&window);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRect(0, 0, kViewW, kViewH), page, source);
        p.end();
        benchmark::DoNotOptimize(window.constBits());
    }
}
BENCHMARK(BM_QtSmoothDrawZoom2)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

// --- the view -------------------------------------------------------------------

void BM_FitFirstRender(benchmark::State& state)
{
    TZSImage& view = View();
    view.SetStretchFactor(0);
    int i = 0;
    for (auto _ : state) {
        // Alternating between two pages makes every rendering one of a new picture.
        view.SetImage(Page(i++));
        benchmark::DoNotOptimize(view.CanvasBitmap().constBits());
    }
}
BENCHMARK(BM_FitFirstRender)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_FitRerender(benchmark::State& state)
{
    TZSImage& view = View();
    view.SetStretchFactor(0);
    view.SetImage(Page(0));
    for (auto _ : state) {
        view.StretchImage();
        benchmark::DoNotOptimize(view.CanvasBitmap().constBits());
    }
}
BENCHMARK(BM_FitRerender)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

template <int Zoom>
void BM_ZoomPan(benchmark::State& state)
{
    TZSImage& view = View();
    view.SetImage(Page(0));
    view.SetStretchFactor(Zoom);
    int i = 0;
    for (auto _ : state) {
        // One pan step: the centre moves by a few picture pixels each time.
        view.StretchImage(TPoint(kPageW / 2 + (i & 1) * 7, kPageH / 2 + (i & 1) * 5));
        ++i;
        benchmark::DoNotOptimize(view.CanvasBitmap().constBits());
    }
    view.SetStretchFactor(0);
}
BENCHMARK(BM_ZoomPan<1>)->Name("BM_Zoom1Pan")->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ZoomPan<2>)->Name("BM_Zoom2Pan")->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

// One mouse move of a frame drag over a 1200 x 900 view at zoom 1, painting included.
void BM_SelectionDragMove(benchmark::State& state)
{
    TZSImage& view = View(1200, 900);
    view.SetImage(Page(0));
    view.SetStretchFactor(1);
    TzsiSelection* sel = view.Selection();
    sel->SetActivated(true);
    sel->SetSelRect(TRect(300, 200, 600, 560));
    QApplication::processEvents();
    const QPointF inside(450, 380);
    QMouseEvent hover(QEvent::MouseMove, inside, inside, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(sel, &hover);
    QMouseEvent press(QEvent::MouseButtonPress, inside, inside, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(sel, &press);
    QApplication::processEvents();
    int64_t moves = 0;
    for (auto _ : state) {
        for (int i = 1; i <= 100; ++i) {
            const QPointF pos(450 + (i % 50) * 2, 380 + (i % 50));
            QMouseEvent move(QEvent::MouseMove, pos, pos, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(sel, &move);
            QApplication::processEvents();
        }
        moves += 100;
    }
    QMouseEvent release(QEvent::MouseButtonRelease, inside, inside, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(sel, &release);
    sel->Deselect();
    sel->SetActivated(false);
    view.SetStretchFactor(0);
    state.counters["per_move_us"] =
        benchmark::Counter(static_cast<double>(moves), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SelectionDragMove)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// Collects the real time per iteration of every benchmark for the ratios.
} // namespace

int main(int argc, char** argv)
{
    // One core for everything, as the goals are stated for one thread: Qt then
    // scales without helper threads, and the view never had any.
    bench::PinToOneCore();
    bench::DefaultToOffscreen();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    bench::TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios (view / reference, same run):\n");
    reporter.Ratio("fit render of a new picture / Qt smooth scaling", "BM_FitFirstRender", "BM_QtSmoothFit", 1.0);
    reporter.Ratio("fit render of a new picture / Qt smooth scaling from RGB32", "BM_FitFirstRender",
                   "BM_QtSmoothFitRgb32", 1.0);
    reporter.Ratio("fit re-render of the shown picture / Qt smooth scaling", "BM_FitRerender", "BM_QtSmoothFit", 0.25);
    reporter.Ratio("fit re-render / Qt smooth scaling from RGB32", "BM_FitRerender", "BM_QtSmoothFitRgb32", 0.25);
    reporter.Ratio("zoom 1 pan step / plain copy of the view buffer", "BM_Zoom1Pan", "BM_PlainCopyView", 3.0);
    reporter.Ratio("zoom 2 pan step / Qt smooth drawImage", "BM_Zoom2Pan", "BM_QtSmoothDrawZoom2", 1.0);
    reporter.Ratio("one drag move (1200x900) / plain copy of the view buffer", "BM_SelectionDragMove",
                   "BM_PlainCopyView1200", 2.0, 100);
    benchmark::Shutdown();
    return 0;
}
