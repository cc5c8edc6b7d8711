// The main window's whole save of a slot (quality loop, 200 dpi marking, the
// output written whole while the slot's pixels are taken) against the same
// number of plain libjpeg-turbo encodes in memory, measured in the same run;
// the in-memory part and the output's write alone beside it. The save uses
// the background worker as well, so its CPU time (the whole process's) may
// exceed its wall time.
#include "app/U_Cropping_Save.h"
#include "jpegmeta/JpegSave.h"
#include "jpegmeta/SafeFile.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <map>
#include <random>
#include <string>

namespace {

// A portrait-like crop: light ground, a shaded face with fine texture, dark
// hair and sensor noise, so the photo limit is met a few steps below 100.
QImage PhotoCrop()
{
    QImage img(260, 315, QImage::Format_BGR888);
    std::mt19937 rng(4321);
    std::normal_distribution<double> noise(0.0, 7.0);
    for (int y = 0; y < img.height(); ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < img.width(); ++x) {
            const double fx = (x - 130) / 78.0, fy = (y - 142) / 104.0;
            const double r2 = fx * fx + fy * fy;
            double b = 215 - y * 0.08, g = 210 - y * 0.05, r = 200;
            if (r2 < 1.0) {
                const double shade = 1.0 - 0.3 * r2 + 0.05 * std::sin(x * 0.37) * std::cos(y * 0.29);
                b = 125 * shade;
                g = 155 * shade;
                r = 205 * shade;
            }
            if (fy < -0.6 && r2 < 1.5)
                b = g = r = 35 + 45 * (0.5 + 0.5 * std::sin(x * 0.9 + std::sin(y * 0.15) * 4.0));
            const double n = noise(rng);
            row[3 * x] = uchar(std::clamp(b + n, 0.0, 255.0));
            row[3 * x + 1] = uchar(std::clamp(g + n, 0.0, 255.0));
            row[3 * x + 2] = uchar(std::clamp(r + n, 0.0, 255.0));
        }
    }
    return img;
}

// Two pen strokes on a slightly uneven white.
QImage SignatureCrop()
{
    QImage img(236, 47, QImage::Format_BGR888);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 2.0);
    for (int y = 0; y < img.height(); ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < img.width(); ++x) {
            const double d = std::min(std::abs(y - (23.5 + 14 * std::sin(x * 0.09))),
                                      std::abs(y - (26.0 + 12 * std::sin(x * 0.05 + 1.0))));
            const double ink = std::clamp(1.8 - d, 0.0, 1.0);
            const double base = 245 + noise(rng);
            row[3 * x] = uchar(std::clamp(base - ink * 150, 0.0, 255.0));
            row[3 * x + 1] = uchar(std::clamp(base - ink * 210, 0.0, 255.0));
            row[3 * x + 2] = uchar(std::clamp(base - ink * 220, 0.0, 255.0));
        }
    }
    return img;
}

// The reference: one encode with libjpeg-turbo's own memory destination.
size_t RawEncode(const QImage& img, int quality)
{
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = JDIMENSION(img.width());
    c.image_height = JDIMENSION(img.height());
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(img.constScanLine(int(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::free(buf);
    return size;
}

struct Case {
    const char* name;
    QImage crop;
    int limit;
    int quality = 0;
    int attempts = 0;
};

Case& Photo()
{
    static Case c{"foto", PhotoCrop(), kFotoMaxBytes};
    return c;
}

Case& Signature()
{
    static Case c{"firma", SignatureCrop(), kFirmaMaxBytes};
    return c;
}

QTemporaryDir& Folder()
{
    static QTemporaryDir dir;
    return dir;
}

void BM_WholeSave(benchmark::State& state, Case& c)
{
    const QString out = Folder().filePath(QStringLiteral("BenchFoto.jpg"));
    const QString tmp = Folder().filePath(QStringLiteral("Foto.jpg"));
    for (auto _ : state) {
        const TSlotSaveResult r = SaveSlotJpeg(c.crop, out, tmp, c.limit);
        if (!r.Saved)
            state.SkipWithError("save failed");
        c.quality = r.Quality;
        c.attempts = r.Attempts;
        benchmark::DoNotOptimize(r.Written.constBits());
        // What the save leaves to the background worker is done by the time the
        // user saves again; here it would slow the next save instead.
        state.PauseTiming();
        FinishFileWork();
        state.ResumeTiming();
    }
    state.counters["quality"] = c.quality;
    state.counters["attempts"] = c.attempts;
}

// The same without the disk: quality loop, density and the pixels the slot
// shows, taken as the save takes them (from the encoder when it can give
// them, else decoded), into a picture like the slot's.
void BM_InMemory(benchmark::State& state, Case& c)
{
    auto rows = [](void* context, int width, int height, size_t& stride) -> uint8_t* {
        QImage& target = *static_cast<QImage*>(context);
        target = QImage(width, height, QImage::Format_BGR888);
        stride = static_cast<size_t>(target.bytesPerLine());
        return target.isNull() ? nullptr : target.bits();
    };
    for (auto _ : state) {
        TSlotJpeg jpeg;
        if (!EncodeSlotJpeg(c.crop, c.limit, jpeg, nullptr))
            state.SkipWithError("encode failed");
        QImage px;
        if (!DecodeLastSaved(jpeg.Marked.data(), jpeg.Marked.size(), rows, &px))
            DecodeJpegInto(jpeg.Marked.data(), jpeg.Marked.size(), rows, &px);
        benchmark::DoNotOptimize(px.constBits());
    }
}

// The output's durable replacement alone, with the bytes of the case's save:
// the part of the whole save no encoder can shorten. The folder flush and the
// working copy, which the save leaves to the background worker, are done between
// the runs.
void BM_FileWrites(benchmark::State& state, Case& c)
{
    TSlotJpeg jpeg;
    if (!EncodeSlotJpeg(c.crop, c.limit, jpeg, nullptr)) {
        state.SkipWithError("encode failed");
        return;
    }
    const std::string out = Folder().filePath(QStringLiteral("BenchWrite.jpg")).toStdString();
    for (auto _ : state) {
        if (!WriteFileWhole(out, jpeg.Marked.data(), jpeg.Marked.size()))
            state.SkipWithError("write failed");
        state.PauseTiming();
        FinishFileWork();
        state.ResumeTiming();
    }
}

void BM_RawEncodes(benchmark::State& state, Case& c)
{
    if (c.attempts == 0) {
        const TSlotSaveResult r = SaveSlotJpeg(c.crop, Folder().filePath(QStringLiteral("x.jpg")), QString(), c.limit);
        c.quality = r.Quality;
        c.attempts = r.Attempts;
    }
    for (auto _ : state)
        for (int i = 0; i < c.attempts; ++i)
            benchmark::DoNotOptimize(RawEncode(c.crop, 100 - 5 * i));
    state.counters["encodes"] = c.attempts;
}

BENCHMARK_CAPTURE(BM_RawEncodes, foto, Photo())->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK_CAPTURE(BM_InMemory, foto, Photo())->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
// The CPU column of the saves counts the whole process, kernel work for the
// files included, whichever thread does it.
BENCHMARK_CAPTURE(BM_WholeSave, foto, Photo())
    ->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK_CAPTURE(BM_FileWrites, foto, Photo())
    ->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK_CAPTURE(BM_RawEncodes, firma, Signature())
    ->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK_CAPTURE(BM_InMemory, firma, Signature())
    ->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK_CAPTURE(BM_WholeSave, firma, Signature())
    ->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK_CAPTURE(BM_FileWrites, firma, Signature())
    ->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(5)->ReportAggregatesOnly();

// Prints the ratios against the reference once every benchmark has run,
// from the medians: CPU time (for the saves, the whole process's) and
// wall time, which is what the user waits for.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Times {
        double cpu = 0, wall = 0;
    };
    std::map<std::string, Times> times;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
                const std::string name = r.benchmark_name();
                times[name.substr(0, name.find("/repeats"))] = {r.GetAdjustedCPUTime(), r.GetAdjustedRealTime()};
            }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (Case* c : {&Photo(), &Signature()}) {
        const std::string which = c->name;
        const auto raw = reporter.times.find("BM_RawEncodes/" + which);
        if (raw == reporter.times.end())
            continue;
        std::printf("%-6s quality reached %d after %d encodes (limit %d bytes)\n", c->name, c->quality, c->attempts,
                    c->limit);
        for (const char* b : {"BM_InMemory/", "BM_WholeSave/", "BM_FileWrites/"}) {
            const auto t = reporter.times.find(b + which);
            if (t != reporter.times.end())
                std::printf("  %-20s %.3f x (CPU), %.3f x (wall) the same number of raw libjpeg-turbo encodes\n",
                            (b + which).c_str(), t->second.cpu / raw->second.cpu, t->second.wall / raw->second.wall);
        }
    }
    benchmark::Shutdown();
    return 0;
}
