// Saving under the size limit: the in-memory quality loop against the same
// number of plain libjpeg-turbo encodes, measured in the same run.
#include "jpegmeta/JpegSave.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <jpeglib.h>
#include <cstdlib>
#include <map>
#include <random>

namespace {

constexpr int kFotoLimit = 34990;
constexpr int kFirmaLimit = 19990;

// A portrait-like crop: light background, a shaded oval with skin texture,
// hair strands and a collar, plus sensor noise; tuned so that the photo limit
// is reached a few qualities below 100, like a real scan.
TBgrPixels PhotoCrop(int w, int h)
{
    TBgrPixels p;
    p.Width = w;
    p.Height = h;
    p.Stride = (size_t(w) * 3 + 3) & ~size_t(3);
    p.Data.assign(p.Stride * size_t(h), 0);
    std::mt19937 rng(12345);
    std::normal_distribution<double> noise(0.0, 7.0);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = p.Data.data() + size_t(y) * p.Stride;
        for (int x = 0; x < w; ++x) {
            const double fx = (x - w * 0.5) / (w * 0.30), fy = (y - h * 0.45) / (h * 0.33);
            const double r2 = fx * fx + fy * fy;
            double b = 215 - y * 0.08, g = 210 - y * 0.05, r = 200;
            if (r2 < 1.0) {
                const double shade = 1.0 - 0.3 * r2 + 0.05 * std::sin(x * 0.37) * std::cos(y * 0.29);
                b = 125 * shade;
                g = 155 * shade;
                r = 205 * shade;
            }
            if (fy < -0.6 && r2 < 1.5) {
                const double strand = 0.5 + 0.5 * std::sin(x * 0.9 + std::sin(y * 0.15) * 4.0);
                b = g = r = 35 + 45 * strand;
            }
            if (y > h * 0.82) {
                b = 60 + 20 * std::sin(x * 0.05);
                g = 50;
                r = 45;
            }
            const double n = noise(rng);
            row[3 * x + 0] = uint8_t(std::clamp(b + n, 0.0, 255.0));
            row[3 * x + 1] = uint8_t(std::clamp(g + n, 0.0, 255.0));
            row[3 * x + 2] = uint8_t(std::clamp(r + n, 0.0, 255.0));
        }
    }
    return p;
}

// Dark pen strokes on a slightly uneven white, like a scanned signature.
TBgrPixels SignatureCrop(int w, int h)
{
    TBgrPixels p;
    p.Width = w;
    p.Height = h;
    p.Stride = (size_t(w) * 3 + 3) & ~size_t(3);
    p.Data.assign(p.Stride * size_t(h), 0);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 2.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double y1 = h * 0.5 + h * 0.3 * std::sin(x * 0.09) * std::cos(x * 0.031);
            const double y2 = h * 0.55 + h * 0.25 * std::sin(x * 0.05 + 1.0);
            const double d = std::min(std::abs(y - y1), std::abs(y - y2));
            const double ink = std::clamp(1.8 - d, 0.0, 1.0);
            uint8_t* px = p.Data.data() + size_t(y) * p.Stride + 3 * size_t(x);
            const double base = 245 + noise(rng);
            px[0] = uint8_t(std::clamp(base - ink * 150, 0.0, 255.0));
            px[1] = uint8_t(std::clamp(base - ink * 210, 0.0, 255.0));
            px[2] = uint8_t(std::clamp(base - ink * 220, 0.0, 255.0));
        }
    return p;
}

struct Prepared {
    TBgrPixels crop;
    int limit = 0;
    int quality = 0;  // reached by the loop over the crop
    int attempts = 0;
    int qualityViaQ90 = 0; // reached when the loop starts from a quality-90 JPEG
};

Prepared Prepare(TBgrPixels crop, int limit)
{
    Prepared p;
    p.crop = std::move(crop);
    p.limit = limit;
    TJpegCompressResult r;
    SaveJpegCompress(p.crop.View(), limit, r);
    p.quality = r.Quality;
    p.attempts = r.Attempts;
    std::vector<uint8_t> q90;
    EncodeJpeg(p.crop.View(), kDefaultJpegQuality, q90);
    SaveJpegCompress(q90.data(), q90.size(), limit, r);
    p.qualityViaQ90 = r.Quality;
    return p;
}

const Prepared& Photo()
{
    static const Prepared p = Prepare(PhotoCrop(260, 315), kFotoLimit);
    return p;
}

const Prepared& Signature()
{
    static const Prepared p = Prepare(SignatureCrop(236, 47), kFirmaLimit);
    return p;
}

// The reference: one encode with libjpeg-turbo's own memory destination, as
// any caller of the library would write it.
size_t RawEncode(const TBgrView& v, int quality)
{
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = JDIMENSION(v.Width);
    c.image_height = JDIMENSION(v.Height);
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(v.Bits + size_t(c.next_scanline) * v.Stride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::free(buf);
    return size;
}

using Getter = const Prepared& (*)();

void Counters(benchmark::State& st, const Prepared& p)
{
    st.counters["quality"] = p.quality;
    st.counters["encodes"] = p.attempts;
    st.counters["q_via_q90"] = p.qualityViaQ90;
}

// The quality loop: one encode per quality until the limit is met.
void BM_SaveLoop(benchmark::State& st, Getter get)
{
    const Prepared& p = get();
    for (auto _ : st) {
        TJpegCompressResult r;
        SaveJpegCompress(p.crop.View(), p.limit, r);
        benchmark::DoNotOptimize(r.Bytes.data());
    }
    Counters(st, p);
}

// The whole save in memory: the loop and the density marking.
void BM_WholeSave(benchmark::State& st, Getter get)
{
    const Prepared& p = get();
    for (auto _ : st) {
        std::vector<uint8_t> out;
        TJpegCompressResult r;
        SaveJpegCompress(p.crop.View(), p.limit, r);
        ChangeJpeg200Dpi(r.Bytes, out);
        benchmark::DoNotOptimize(out.data());
    }
    Counters(st, p);
}

// The same save going through an intermediate quality-90 JPEG that is decoded
// again before the loop (an encode and a decode more).
void BM_WholeSaveViaQ90(benchmark::State& st, Getter get)
{
    const Prepared& p = get();
    for (auto _ : st) {
        std::vector<uint8_t> q90, out;
        EncodeJpeg(p.crop.View(), kDefaultJpegQuality, q90);
        TJpegCompressResult r;
        SaveJpegCompress(q90.data(), q90.size(), p.limit, r);
        ChangeJpeg200Dpi(r.Bytes, out);
        benchmark::DoNotOptimize(out.data());
    }
    Counters(st, p);
}

// The reference: as many plain libjpeg-turbo encodes as the loop makes.
void BM_RawEncodes(benchmark::State& st, Getter get)
{
    const Prepared& p = get();
    for (auto _ : st)
        for (int i = 0; i < p.attempts; ++i)
            benchmark::DoNotOptimize(RawEncode(p.crop.View(), 100 - 5 * i));
    Counters(st, p);
}

BENCHMARK_CAPTURE(BM_RawEncodes, photo, &Photo)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SaveLoop, photo, &Photo)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WholeSave, photo, &Photo)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WholeSaveViaQ90, photo, &Photo)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RawEncodes, signature, &Signature)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SaveLoop, signature, &Signature)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WholeSave, signature, &Signature)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WholeSaveViaQ90, signature, &Signature)->Unit(benchmark::kMicrosecond);

// Prints the ratios against the reference once every benchmark has run. CPU
// time is compared: the machine is shared and wall time counts other work.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration)
                times[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* which : {"photo", "signature"}) {
        const std::string raw = std::string("BM_RawEncodes/") + which;
        if (!reporter.times.count(raw))
            continue;
        const Prepared& p = std::string(which) == "photo" ? Photo() : Signature();
        std::printf("%-9s quality reached %d after %d encodes (limit %d bytes; %d when starting from quality 90)\n",
                    which, p.quality, p.attempts, p.limit, p.qualityViaQ90);
        for (const char* b : {"BM_SaveLoop/", "BM_WholeSave/", "BM_WholeSaveViaQ90/"}) {
            const std::string name = std::string(b) + which;
            if (reporter.times.count(name))
                std::printf("  %-24s %.3f x the same number of raw libjpeg-turbo encodes\n", name.c_str(),
                            reporter.times[name] / reporter.times[raw]);
        }
    }
    benchmark::Shutdown();
    return 0;
}
