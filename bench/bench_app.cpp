// Speed of the main window's crop workflow on an A4 page scanned at 600 dots
// per inch, against one fit render of the view measured in the same run:
// entering the photo mode with a click on the view, and cutting the frame out
// into the photo slot on release. Prints the ratios at the end.

#include "app/U_Cropping.h"
#include "platform/ImageAlloc.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"

#include "BenchRatio.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

constexpr int kPageW = 4960; // A4 at 600 dots per inch
constexpr int kPageH = 7016;

// Gradients with noise, so no row or block repeats.
QImage MakePage(uint32_t seed)
{
    QImage page = NewBgrImage(kPageW, kPageH);
    for (int y = 0; y < kPageH; ++y) {
        uint8_t* d = page.scanLine(y);
        uint32_t lcg = seed * 2654435761u + static_cast<uint32_t>(y) * 40503u + 1u;
        for (int x = 0; x < kPageW; ++x, d += 3) {
            lcg = lcg * 1664525u + 1013904223u;
            const int noise = static_cast<int>((lcg >> 24) & 15);
            d[0] = static_cast<uint8_t>((x * 200 / kPageW + noise + seed) & 0xFF);
            d[1] = static_cast<uint8_t>((y * 200 / kPageH + noise) & 0xFF);
            d[2] = static_cast<uint8_t>(((x + y) / 37 + noise) & 0xFF);
        }
    }
    return page;
}

const QImage& Page(int i)
{
    static QImage pages[2] = {MakePage(1), MakePage(77)};
    return pages[i & 1];
}

// The main window at its first-start size, the page in its view at fit.
TFormCrop& Form()
{
    static TFormCrop* form = nullptr;
    if (!form) {
        form = new TFormCrop();
        FormTBack = new TFormTBack(form);
        form->show();
        QApplication::processEvents();
    }
    return *form;
}

void ShowPageAtFit(TFormCrop& form)
{
    form.ZSImage->Selection()->Deselect();
    form.ZSImage->Selection()->SelectionRatio = srNone;
    form.ShapeFoto->SetPenColor(0xE0E0E0);
    form.ShapeFirma->SetPenColor(0xE0E0E0);
    form.ImpostaZoom(0);
    if (form.ZSImage->OrigBitmap().cacheKey() != Page(0).cacheKey())
        form.ZSImage->SetImage(Page(0));
}

void ClickOnView(TZSImage* view, QPoint at)
{
    const QPointF local(at);
    QMouseEvent move(QEvent::MouseMove, local, local, QPointF(view->mapToGlobal(at)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    QMouseEvent press(QEvent::MouseButtonPress, local, local, QPointF(view->mapToGlobal(at)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, local, QPointF(view->mapToGlobal(at)), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view, &release);
}

// --- references: the view's fit render ------------------------------------------

void BM_FitRenderNewPicture(benchmark::State& state)
{
    TFormCrop& form = Form();
    form.ImpostaZoom(0);
    form.ZSImage->SetStretchFactor(0);
    int i = 0;
    for (auto _ : state) {
        form.ZSImage->SetImage(Page(i++));
        benchmark::DoNotOptimize(form.ZSImage->CanvasBitmap().constBits());
    }
}
BENCHMARK(BM_FitRenderNewPicture)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_FitRerender(benchmark::State& state)
{
    TFormCrop& form = Form();
    ShowPageAtFit(form);
    for (auto _ : state) {
        form.ZSImage->StretchImage();
        benchmark::DoNotOptimize(form.ZSImage->CanvasBitmap().constBits());
    }
}
BENCHMARK(BM_FitRerender)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// --- the workflow ------------------------------------------------------------------

void BM_EnterPhotoModeByClick(benchmark::State& state)
{
    TFormCrop& form = Form();
    TZSImage* view = form.ZSImage;
    for (auto _ : state) {
        state.PauseTiming();
        ShowPageAtFit(form);
        state.ResumeTiming();
        // The click zooms to 1 around the pixel, places the frame and veils the rest.
        ClickOnView(view, QPoint(view->width() / 2 + 40, view->height() / 3));
        benchmark::DoNotOptimize(view->Selection()->SelectionExist());
    }
}
BENCHMARK(BM_EnterPhotoModeByClick)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_CropOnRelease(benchmark::State& state)
{
    TFormCrop& form = Form();
    ShowPageAtFit(form);
    form.OrImageFotoClick();
    const TRect frame = form.ZSImage->Selection()->GetSelRect();
    for (auto _ : state) {
        // What the release of a drawn frame runs with automatic cropping on.
        form.MakeMaskPaint();
        form.BtMakeCropClick();
        benchmark::DoNotOptimize(form.BmpFotoBuffer1.constBits());
        state.PauseTiming();
        form.ZSImage->Selection()->SetSelRect(frame);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CropOnRelease)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace

int main(int argc, char** argv)
{
    // One core, as the view renders on one thread.
    bench::PinToOneCore();
    bench::DefaultToOffscreen();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    bench::TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios (workflow / one fit render, same run):\n");
    reporter.Ratio("entering photo mode / fit render of a new picture", "BM_EnterPhotoModeByClick",
                   "BM_FitRenderNewPicture", 2.0);
    reporter.Ratio("crop on release / fit render of a new picture", "BM_CropOnRelease", "BM_FitRenderNewPicture",
                   2.0);
    reporter.Ratio("entering photo mode / fit re-render", "BM_EnterPhotoModeByClick", "BM_FitRerender", 2.0);
    reporter.Ratio("crop on release / fit re-render", "BM_CropOnRelease", "BM_FitRerender", 2.0);
    benchmark::Shutdown();
    return 0;
}
