// The page analysis on the synthetic corpus: how often it finds the photo, the
// signature and the skew, how often it finds what is not there, and how long
// it takes against decoding the same page.
//
//   bench_analysis [--dump DIR] [--page N] [--timing]
//     DIR receives every page as JPEG, to look at; N: that page alone, with its
//     rectangles; --timing: only the timings, repeated, for a profiler)

#include "analysis/PageAnalysis.h"
#include "corpus/PageCorpus.h"
#include "view/io/ImageReaders.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

double IoU(const QRect& a, const QRect& b)
{
    const QRect i = a.intersected(b);
    if (i.isEmpty())
        return 0;
    const double inter = double(i.width()) * i.height();
    return inter / (double(a.width()) * a.height() + double(b.width()) * b.height() - inter);
}

// CPU time of the whole process: steadier than the wall clock on a shared
// machine, and it counts every thread the analysis or a library starts.
double CpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double MedianMs(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void Timing(int page, int dpi, const QString& dir, int rounds = 5)
{
    const CorpusPage c = MakeCorpusPageAt(page, dpi);
    const QString file = dir + QStringLiteral("/t%1.jpg").arg(dpi);
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    f.write(c.jpeg);
    f.close();
    std::vector<double> decode, analyse, decodeCpu, analyseCpu;
    for (int i = 0; i < rounds; ++i) {
        QImage img;
        QElapsedTimer t;
        t.start();
        double cpu = CpuMs();
        LoadImagefromFile(file, img);
        decode.push_back(t.nsecsElapsed() / 1e6);
        decodeCpu.push_back(CpuMs() - cpu);
        t.restart();
        cpu = CpuMs();
        const analysis::PageAnalysis res = analysis::AnalysePage(img);
        (void)res;
        analyse.push_back(t.nsecsElapsed() / 1e6);
        analyseCpu.push_back(CpuMs() - cpu);
    }
    const double d = MedianMs(decode);
    const double a = MedianMs(analyse);
    const double dc = MedianMs(decodeCpu);
    const double ac = MedianMs(analyseCpu);
    std::printf("%4d dpi (%dx%d): decode %7.1f ms, analysis %7.1f ms = %.2fx the decode (cpu %.1f / %.1f ms = %.2fx)\n", dpi,
                c.picture.width(), c.picture.height(), d, a, d > 0 ? a / d : 0.0, dc, ac, dc > 0 ? ac / dc : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QString dump;
    int only = -1;
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "--timing") {
            QTemporaryDir tmp;
            Timing(1, 200, tmp.path(), 40);
            Timing(3, 600, tmp.path(), 10);
            return 0;
        }
    for (int i = 1; i + 1 < argc; ++i) {
        if (QByteArray(argv[i]) == "--dump")
            dump = QString::fromLocal8Bit(argv[i + 1]);
        if (QByteArray(argv[i]) == "--page")
            only = std::atoi(argv[i + 1]);
    }
    if (CorpusPortrait().isNull()) {
        std::fprintf(stderr, "Il ritratto del corpus manca (python3-skimage): niente da misurare.\n");
        return 1;
    }
    int photoPages = 0, photoHits = 0, photoFalse = 0, noPhoto = 0;
    int sigPages = 0, sigHits = 0, sigFalse = 0, noSig = 0;
    int skewHits = 0;
    const int n = CorpusSize();
    for (int i = 0; i < n; ++i) {
        if (only >= 0 && i != only)
            continue;
        const CorpusPage c = MakeCorpusPage(i);
        if (!dump.isEmpty()) {
            QDir().mkpath(dump);
            QFile f(dump + QLatin1Char('/') + c.name + QStringLiteral(".jpg"));
            if (f.open(QIODevice::WriteOnly))
                f.write(c.jpeg);
        }
        const analysis::PageAnalysis a = analysis::AnalysePage(c.picture);
        const double photoIoU = a.photo.found && c.hasPhoto ? IoU(a.photo.photo, c.photo) : 0;
        const double sigIoU = a.signature.found && c.hasSignature ? IoU(a.signature.box, c.signature) : 0;
        const double skewErr = a.skew.found ? std::fabs(a.skew.degrees - c.skewDegrees) : 99;
        if (c.hasPhoto) {
            ++photoPages;
            photoHits += photoIoU >= 0.85;
        } else {
            ++noPhoto;
            photoFalse += a.photo.found;
        }
        if (c.hasSignature) {
            ++sigPages;
            sigHits += sigIoU >= 0.7;
        } else {
            ++noSig;
            sigFalse += a.signature.found;
        }
        skewHits += skewErr <= 0.5;
        std::printf("%-36s foto %s IoU %.2f%s | firma %s IoU %.2f | inclinazione %+5.2f trovata %+5.2f\n", qPrintable(c.name),
                    a.photo.found ? "si" : "no", photoIoU, a.photo.found && !a.photo.framed ? " (regola)" : "",
                    a.signature.found ? "si" : "no", sigIoU, c.skewDegrees, a.skew.found ? a.skew.degrees : 0.0);
        if (only >= 0) {
            auto r = [](const QRect& q) { return QStringLiteral("%1,%2 %3x%4").arg(q.x()).arg(q.y()).arg(q.width()).arg(q.height()); };
            std::printf("  foto vera %s trovata %s volto %s\n  firma vera %s trovata %s\n", qPrintable(r(c.photo)),
                        qPrintable(r(a.photo.photo)), qPrintable(r(a.photo.face)), qPrintable(r(c.signature)),
                        qPrintable(r(a.signature.box)));
            return 0;
        }
        if ((c.hasSignature && sigIoU < 0.7) || (!c.hasSignature && a.signature.found)) {
            const double mm = c.dpi / 25.4;
            auto box = [mm](const QRect& r) {
                return QStringLiteral("%1,%2 %3x%4 mm").arg(r.x() / mm, 0, 'f', 0).arg(r.y() / mm, 0, 'f', 0)
                    .arg(r.width() / mm, 0, 'f', 0).arg(r.height() / mm, 0, 'f', 0);
            };
            std::printf("    firma vera %s, trovata %s\n", qPrintable(box(c.signature)), qPrintable(box(a.signature.box)));
        }
        std::fflush(stdout);
    }
    auto pct = [](int a, int b) { return b ? 100.0 * a / b : 0.0; };
    std::printf("\nFoto trovata (IoU >= 0.85): %d/%d = %.1f %% (obiettivo >= 95 %%)\n", photoHits, photoPages, pct(photoHits, photoPages));
    std::printf("Firma trovata (IoU >= 0.7): %d/%d = %.1f %% (obiettivo >= 90 %%)\n", sigHits, sigPages, pct(sigHits, sigPages));
    std::printf("Inclinazione entro 0.5 gradi: %d/%d = %.1f %% (obiettivo >= 95 %%)\n", skewHits, n, pct(skewHits, n));
    std::printf("Falsi ritrovamenti: foto %d/%d, firma %d/%d = %.1f %% (obiettivo <= 5 %%)\n", photoFalse, noPhoto, sigFalse, noSig,
                pct(photoFalse + sigFalse, noPhoto + noSig));
    QTemporaryDir tmp;
    Timing(1, 200, tmp.path());
    Timing(3, 600, tmp.path());
    return 0;
}
