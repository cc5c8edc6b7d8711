// Speed of the retouch control on a photo slot (260 x 315).
//
// Reference: a plain copy of the same picture, both into an existing buffer
// (row copies, what rendering with every effect off costs at least) and as a
// fresh QImage::copy. The program's slider path is UpdateEffects with the four
// colour sliders set; softening runs SetAntiAlias with up to 3 passes.
// After the run the ratios to the references are printed.

#include "platform/ImageAlloc.h"
#include "retouch/OrImage.h"

#include "BenchRatio.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

constexpr int kW = 260;
constexpr int kH = 315;

QImage TestPhoto()
{
    QImage img = NewBgrImage(kW, kH);
    uint32_t seed = 12345;
    for (int y = 0; y < kH; ++y) {
        uchar* p = img.scanLine(y);
        for (int x = 0; x < kW; ++x, p += 3) {
            seed = seed * 1103515245u + 12345u;
            const int jitter = static_cast<int>((seed >> 16) & 31) - 16;
            p[0] = static_cast<uchar>(std::clamp(x * 255 / kW + jitter, 0, 255));
            p[1] = static_cast<uchar>(std::clamp(y * 255 / kH + jitter, 0, 255));
            p[2] = static_cast<uchar>(std::clamp((x + y) * 255 / (kW + kH) - jitter, 0, 255));
        }
    }
    return img;
}

void BM_PlainCopyIntoBuffer(benchmark::State& state)
{
    const QImage src = TestPhoto();
    QImage dst = NewBgrImage(kW, kH);
    for (auto _ : state) {
        for (int y = 0; y < kH; ++y)
            std::memcpy(dst.scanLine(y), src.constScanLine(y), kW * 3);
        benchmark::DoNotOptimize(dst.constBits());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PlainCopyIntoBuffer);

void BM_PlainQImageCopy(benchmark::State& state)
{
    const QImage src = TestPhoto();
    for (auto _ : state) {
        QImage copy = src.copy();
        benchmark::DoNotOptimize(copy.constBits());
    }
}
BENCHMARK(BM_PlainQImageCopy);

void BM_UpdateEffectsColourSliders(benchmark::State& state)
{
    TOrImage slot;
    slot.resize(kW, kH);
    slot.SetPictureOriginal(TestPhoto());
    slot.SetBrightness(40);
    slot.SetContrast(50);
    slot.SetLightness(30);
    slot.SetSaturation(60);
    for (auto _ : state) {
        slot.UpdateEffects();
        benchmark::DoNotOptimize(slot.Picture()->Graphic().constBits());
    }
}
BENCHMARK(BM_UpdateEffectsColourSliders);

void BM_UpdateEffectsBrightnessOnly(benchmark::State& state)
{
    TOrImage slot;
    slot.resize(kW, kH);
    slot.SetPictureOriginal(TestPhoto());
    slot.SetBrightness(40);
    for (auto _ : state) {
        slot.UpdateEffects();
        benchmark::DoNotOptimize(slot.Picture()->Graphic().constBits());
    }
}
BENCHMARK(BM_UpdateEffectsBrightnessOnly);

void BM_SetAntiAlias3(benchmark::State& state)
{
    TOrImage slot;
    slot.resize(kW, kH);
    slot.SetPictureOriginal(TestPhoto());
    slot.SetBrightness(40);
    for (auto _ : state) {
        slot.SetAntiAlias(3);
        benchmark::DoNotOptimize(slot.Picture()->Graphic().constBits());
    }
}
BENCHMARK(BM_SetAntiAlias3);

// Collects the per-iteration CPU times so the ratios can be printed after the run.
// CPU time, not wall time: every case is single-threaded, and on a shared build
// machine wall time mostly measures the neighbours.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                times[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv)
{
    bench::DefaultToOffscreen();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& t = reporter.times;
    const char* refs[] = {"BM_PlainCopyIntoBuffer", "BM_PlainQImageCopy"};
    for (const char* ref : refs) {
        const auto r = t.find(ref);
        if (r == t.end() || r->second <= 0)
            continue;
        std::printf("\nCPU time ratios against %s:\n", ref);
        for (const auto& [name, time] : t)
            if (name != ref)
                std::printf("  %-34s %6.2f\n", name.c_str(), time / r->second);
    }
    benchmark::Shutdown();
    return 0;
}
