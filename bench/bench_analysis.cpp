// The page analysis on the synthetic corpus: how often it finds the photo, the
// signature and the skew, how often it finds what is not there, and how long
// it takes against decoding the same page.
//
//   bench_analysis [--dump DIR] [--page N] [--timing] [--faces]
//     DIR receives every page as JPEG, to look at; N: that page alone, with its
//     rectangles; --timing: only the timings, repeated, for a profiler;
//     --faces: only the two face detectors compared)

#include "analysis/PageAnalysis.h"
#include "corpus/PageCorpus.h"
#include "view/io/ImageReaders.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#if defined(CORVANTA_HAVE_DLIB)
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_transforms.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

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

// The photo's square of the page, as the analysis hands it to a face
// detector: grey, at about 100 dpi.
cv::Mat FinePatch(const QImage& page, const QRect& r, int dpi)
{
    const QImage grey = page.copy(r).convertToFormat(QImage::Format_Grayscale8);
    const cv::Mat m(grey.height(), grey.width(), CV_8U, const_cast<uchar*>(grey.constBits()), size_t(grey.bytesPerLine()));
    const int factor = std::max(1, dpi / 100);
    cv::Mat fine;
    cv::resize(m, fine, cv::Size(std::max(1, m.cols / factor), std::max(1, m.rows / factor)), 0, 0, cv::INTER_AREA);
    return fine;
}

// OpenCV's Haar cascade with the analysis' own settings against dlib's HOG
// frontal face detector, on the same patches: each true photo of the corpus
// (a find: a face centred inside it) and a patch of printed page beside it
// (a find there is false).
void CompareFaceDetectors()
{
    struct Patch {
        cv::Mat grey;
        bool hasFace;
    };
    std::vector<Patch> patches;
    for (int i = 0; i < CorpusSize(); ++i) {
        const CorpusPage c = MakeCorpusPage(i);
        const QRect page = c.picture.rect();
        if (c.hasPhoto)
            patches.push_back({FinePatch(c.picture, c.photo, c.dpi), true});
        // The same size of printed page, from the middle of the sheet or under the photo.
        QRect text(page.center() - QPoint(c.dpi * 35 / 50, c.dpi * 45 / 50), QSize(c.dpi * 35 / 25, c.dpi * 45 / 25));
        if (c.hasPhoto && text.intersects(c.photo))
            text.moveTop(c.photo.bottom() + c.dpi / 2);
        if (page.contains(text))
            patches.push_back({FinePatch(c.picture, text, c.dpi), false});
    }
    auto centred = [](const cv::Rect& f, const cv::Mat& m) {
        const cv::Point c(f.x + f.width / 2, f.y + f.height / 2);
        return c.x > m.cols / 4 && c.x < m.cols * 3 / 4 && c.y > m.rows / 6 && c.y < m.rows * 3 / 4;
    };
    auto report = [&patches](const char* name, const std::vector<int>& found, const std::vector<double>& ms) {
        int faces = 0, hits = 0, others = 0, falses = 0;
        for (size_t i = 0; i < patches.size(); ++i) {
            if (patches[i].hasFace) {
                ++faces;
                hits += found[i] > 0;
            } else {
                ++others;
                falses += found[i] != 0;
            }
        }
        std::printf("%-34s volti %2d/%2d, falsi %d/%d, %6.2f ms a riquadro (mediana)\n", name, hits, faces, falses, others, MedianMs(ms));
    };

    cv::CascadeClassifier haar("/usr/share/opencv4/haarcascades/haarcascade_frontalface_alt2.xml");
    if (haar.empty()) {
        std::printf("Cascata di OpenCV mancante (opencv-data): confronto dei rivelatori saltato.\n");
        return;
    }
    // found: 1 a face where a photo's is, -1 a face elsewhere, 0 none.
    std::vector<int> found(patches.size());
    std::vector<double> ms;
    for (size_t i = 0; i < patches.size(); ++i) {
        const cv::Mat& g = patches[i].grey;
        QElapsedTimer t;
        t.start();
        const int shorter = std::min(g.cols, g.rows);
        const double scale = std::min(1.0, 120.0 / shorter);
        cv::Mat small;
        cv::resize(g, small, cv::Size(), scale, scale, cv::INTER_AREA);
        std::vector<cv::Rect> faces;
        std::vector<int> hits;
        const int minSide = std::max(20, int(0.22 * shorter * scale));
        haar.detectMultiScale(small, faces, hits, 1.2, 4, 0, cv::Size(minSide, minSide));
        ms.push_back(t.nsecsElapsed() / 1e6);
        for (const cv::Rect& f : faces)
            found[i] = std::max(found[i], centred(f, small) ? 1 : -1);
    }
    report("OpenCV Haar (frontalface_alt2)", found, ms);

#if defined(CORVANTA_HAVE_DLIB)
    dlib::frontal_face_detector hog = dlib::get_frontal_face_detector();
    std::fill(found.begin(), found.end(), 0);
    ms.clear();
    for (size_t i = 0; i < patches.size(); ++i) {
        const cv::Mat& g = patches[i].grey;
        QElapsedTimer t;
        t.start();
        dlib::array2d<unsigned char> img(g.rows, g.cols);
        for (int y = 0; y < g.rows; ++y)
            std::copy(g.ptr<uchar>(y), g.ptr<uchar>(y) + g.cols, &img[y][0]);
        // The detector's window is 80 pixels: a 100 dpi photo's face (about
        // 60) is seen only on the patch doubled, as dlib's own examples do.
        dlib::pyramid_up(img);
        const std::vector<dlib::rectangle> faces = hog(img);
        ms.push_back(t.nsecsElapsed() / 1e6);
        const cv::Mat doubled(int(img.nr()), int(img.nc()), CV_8U);
        for (const dlib::rectangle& f : faces)
            found[i] = std::max(found[i], centred(cv::Rect(int(f.left()), int(f.top()), int(f.width()), int(f.height())), doubled) ? 1 : -1);
    }
    report("dlib HOG (frontal_face_detector)", found, ms);
#else
    std::printf("dlib non trovato (libdlib-dev): il suo rivelatore non e' misurato.\n");
#endif
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QString dump;
    int only = -1;
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "--faces") {
            CompareFaceDetectors();
            return 0;
        }
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
        const double photoIoU = a.photo.found && c.hasPhoto ? CorpusIoU(a.photo.photo, c.photo) : 0;
        const double sigIoU = a.signature.found && c.hasSignature ? CorpusIoU(a.signature.box, c.signature) : 0;
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
    CompareFaceDetectors();
    return 0;
}
