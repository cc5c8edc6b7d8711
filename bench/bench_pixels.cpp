// Pixel routines of the crop workflow against their references, in one run:
//  - one rotation step of a 600 dpi A4 page against OpenCV's warpAffine (bilinear,
//    same size, grey border, output reused), one thread each and two threads each;
//  - SmoothResize of a photo crop and Sharpen of a photo slot against a plain copy
//    of the same pictures.
// The ratios are printed after the table.

#include "app/U_Cropping_Pixels.h"
#include "platform/ImageAlloc.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kPageW = 4960; // A4 at 600 dpi
constexpr int kPageH = 7016;

// A scan-like page: smooth paper shading, dark text-like strokes and some noise,
// so neither engine can profit from large flat runs.
QImage MakePage(int w, int h)
{
    QImage img = NewBgrImage(w, h);
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y) {
        uchar* p = img.scanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28);
            const bool ink = ((x / 9) % 13 == 0 && (y / 40) % 3 != 0) || ((y / 7) % 29 == 0);
            const int base = ink ? 30 : 220 + ((x + y) >> 9) % 20;
            p[0] = static_cast<uchar>(base + noise);
            p[1] = static_cast<uchar>(base - 5 + noise);
            p[2] = static_cast<uchar>(base - 10 + noise);
        }
    }
    return img;
}

const QImage& Page()
{
    static const QImage page = MakePage(kPageW, kPageH);
    return page;
}

void CopyRows(const QImage& src, QImage& dst)
{
    EnsureBgrImage(dst, src.width(), src.height());
    const size_t bytes = static_cast<size_t>(src.width()) * 3;
    for (int y = 0; y < src.height(); ++y)
        std::memcpy(dst.scanLine(y), src.constScanLine(y), bytes);
}

void BM_RotateStep_Ours(benchmark::State& state)
{
    const QImage& page = Page();
    QImage dst;
    RotateBitmapInto(page, dst, 1, false, clGray, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        RotateBitmapInto(page, dst, 1, false, clGray, static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(dst.constBits());
    }
}
BENCHMARK(BM_RotateStep_Ours)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

void BM_RotateStep_OpenCV(benchmark::State& state)
{
    const QImage& page = Page();
    const cv::Mat src(page.height(), page.width(), CV_8UC3, const_cast<uchar*>(page.constBits()),
                      static_cast<size_t>(page.bytesPerLine()));
    // OpenCV turns counter-clockwise for positive angles; its centre is in
    // pixel-centre coordinates.
    const cv::Mat m =
        cv::getRotationMatrix2D(cv::Point2f((page.width() - 1) * 0.5f, (page.height() - 1) * 0.5f), -1.0, 1.0);
    cv::Mat dst(page.height(), page.width(), CV_8UC3);
    const int before = cv::getNumThreads();
    cv::setNumThreads(static_cast<int>(state.range(0)));
    cv::warpAffine(src, dst, m, src.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(128, 128, 128));
    for (auto _ : state) {
        cv::warpAffine(src, dst, m, src.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(128, 128, 128));
        benchmark::DoNotOptimize(dst.data);
    }
    cv::setNumThreads(before);
}
BENCHMARK(BM_RotateStep_OpenCV)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

// A photo frame of 33 x 40 mm framed on a 600 dpi scan.
QImage PhotoCrop() { return Page().copy(1000, 1200, 780, 945); }

void BM_SmoothResize_PhotoCrop(benchmark::State& state)
{
    const QImage crop = PhotoCrop();
    QImage out = NewBgrImage(kFotoWidth, kFotoHeight);
    for (auto _ : state) {
        SmoothResize(crop, out);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_SmoothResize_PhotoCrop)->Unit(benchmark::kMicrosecond);

void BM_Copy_PhotoCrop(benchmark::State& state)
{
    const QImage crop = PhotoCrop();
    QImage out;
    for (auto _ : state) {
        CopyRows(crop, out);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_Copy_PhotoCrop)->Unit(benchmark::kMicrosecond);

void BM_Sharpen_Photo(benchmark::State& state)
{
    QImage slot = NewBgrImage(kFotoWidth, kFotoHeight);
    SmoothResize(PhotoCrop(), slot);
    QImage out;
    for (auto _ : state) {
        Sharpen(slot, out, 4);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_Sharpen_Photo)->Unit(benchmark::kMicrosecond);

void BM_Copy_Photo(benchmark::State& state)
{
    QImage slot = NewBgrImage(kFotoWidth, kFotoHeight);
    SmoothResize(PhotoCrop(), slot);
    QImage out;
    for (auto _ : state) {
        CopyRows(slot, out);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_Copy_Photo)->Unit(benchmark::kMicrosecond);

// Keeps the table as usual and remembers each benchmark's best repetition for the
// ratios: on a shared machine the best run is the one least disturbed by others.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
                // Threaded runs are timed by the clock on the wall; the others by
                // their own processor time, which other programs disturb less.
                const std::string name = r.benchmark_name();
                const bool wall = name.find("/real_time") != std::string::npos;
                const double t = (wall ? r.GetAdjustedRealTime() : r.GetAdjustedCPUTime()) /
                                 benchmark::GetTimeUnitMultiplier(r.time_unit);
                const auto it = times.find(name);
                if (it == times.end() || t < it->second)
                    times[name] = t;
            }
        ConsoleReporter::ReportRuns(runs);
    }
    void Ratio(const char* what, const std::string& ours, const std::string& reference) const
    {
        const auto a = times.find(ours);
        const auto b = times.find(reference);
        if (a == times.end() || b == times.end() || b->second <= 0)
            return;
        std::printf("%-44s %6.2f x  (%s / %s)\n", what, a->second / b->second, ours.c_str(), reference.c_str());
    }
    std::map<std::string, double> times; // seconds
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios of the best repetitions (ours / reference, lower is faster):\n");
    reporter.Ratio("rotation step, one thread each", "BM_RotateStep_Ours/1/repeats:5/real_time",
                   "BM_RotateStep_OpenCV/1/repeats:5/real_time");
    reporter.Ratio("rotation step, two threads each", "BM_RotateStep_Ours/2/repeats:5/real_time",
                   "BM_RotateStep_OpenCV/2/repeats:5/real_time");
    reporter.Ratio("SmoothResize 780x945 -> 260x315 vs copy", "BM_SmoothResize_PhotoCrop", "BM_Copy_PhotoCrop");
    reporter.Ratio("Sharpen 260x315 vs copy", "BM_Sharpen_Photo", "BM_Copy_Photo");
    benchmark::Shutdown();
    return 0;
}
