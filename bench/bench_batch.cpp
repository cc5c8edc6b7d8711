// The batch against the window's steps: pages per second of a TBatchRun over
// generated A4 JPEG pages at 200 and 600 dpi, against the sum of the times of
// the steps a clerk triggers one by one for the same pages (load, automatic
// crop's analysis, cut and retouch each slot, save each slot), measured in the same run.
//
// Then the share of the analysis corpus's pages that come out with both files
// right: saved, from frames that overlap the page's truth by at least half
// (intersection over union), the truth turned as the batch straightened.
//
// Usage: bench_batch [pages] ; prints one line per resolution and one for the corpus.

#include "app/U_Cropping_Pixels.h"
#include "app/U_Cropping_Save.h"
#include "batch/Batch.h"
#include "jpegmeta/SafeFile.h"
#include "view/io/ImageReaders.h"
#include "corpus/PageCorpus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTransform>

#include <cstdio>

namespace {

int Mm(double mm, int dpi)
{
    return static_cast<int>(mm * dpi / 25.4 + 0.5);
}

TRect R(int x, int y, int w, int h)
{
    return TRect(x, y, x + w, y + h);
}

double Iou(const TRect& a, const QRectF& b)
{
    const double w = std::min<double>(a.Right, b.right()) - std::max<double>(a.Left, b.left());
    const double h = std::min<double>(a.Bottom, b.bottom()) - std::max<double>(a.Top, b.top());
    if (w <= 0 || h <= 0)
        return 0;
    const double i = w * h;
    return i / (double(a.Right - a.Left) * (a.Bottom - a.Top) + b.width() * b.height() - i);
}

// The truth box as it lies after the batch turned the page by `degrees`
// clockwise about its centre, keeping its size.
QRectF Turned(const QRect& r, int degrees, QSize size)
{
    QTransform t;
    t.translate(size.width() / 2.0, size.height() / 2.0);
    t.rotate(degrees);
    t.translate(-size.width() / 2.0, -size.height() / 2.0);
    return t.mapRect(QRectF(r));
}

void Corpus()
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("in"));
    QDir().mkpath(dir.filePath("out"));
    QStringList files;
    std::vector<CorpusPage> truth;
    for (int n = 0; n < CorpusSize(); ++n) {
        truth.push_back(MakeCorpusPage(n));
        truth.back().picture = QImage();
        files << dir.filePath(QStringLiteral("in/%1.jpg").arg(n, 3, 10, QLatin1Char('0')));
        QFile f(files.last());
        f.open(QIODevice::WriteOnly);
        f.write(truth.back().jpeg);
    }
    TBatchSettings s;
    s.OutFolder = dir.filePath("out") + QLatin1Char('/');
    TBatchRun run(files, s, {});
    int withBoth = 0, right = 0, photoRight = 0, signatureRight = 0;
    run.OnPage = [&](int i, const TBatchPage& p) {
        const CorpusPage& t = truth[size_t(i)];
        if (!t.hasPhoto || !t.hasSignature)
            return;
        ++withBoth;
        const QSize size(p.Width, p.Height);
        const bool foto = p.Foto.Saved() && Iou(p.Foto.Frame, Turned(t.photo, p.Degrees, size)) >= 0.5;
        const bool firma = p.Firma.Saved() && Iou(p.Firma.Frame, Turned(t.signature, p.Degrees, size)) >= 0.5;
        photoRight += foto;
        signatureRight += firma;
        right += foto && firma;
    };
    run.Start();
    run.Wait();
    FinishFileWork();
    std::printf("corpus: %d of %d pages with a photo and a signature came out with both files right (%.0f%%); "
                "photo right %d, signature right %d\n",
                right, withBoth, withBoth ? 100.0 * right / withBoth : 0.0, photoRight, signatureRight);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int pages = argc > 1 ? std::max(2, atoi(argv[1])) : 16;
    for (int dpi : {200, 600}) {
        QTemporaryDir dir;
        const QString in = dir.filePath("in"), out = dir.filePath("out"), out2 = dir.filePath("out2");
        QDir().mkpath(in);
        QDir().mkpath(out);
        QDir().mkpath(out2);
        QStringList files;
        for (int i = 0; i < pages; ++i) {
            files << QStringLiteral("%1/modulo_%2.jpg").arg(in).arg(i, 3, 10, QLatin1Char('0'));
            QFile f(files.last());
            f.open(QIODevice::WriteOnly);
            f.write(MakeCorpusPageAt(i % CorpusSize(), dpi).jpeg);
        }
        TBatchSettings s;
        s.OutFolder = out + QLatin1Char('/');
        s.UseStoredFrames = s.HasStoredFoto = s.HasStoredFirma = true;
        s.StoredFoto = R(Mm(140, dpi), Mm(30, dpi), Mm(35, dpi), Mm(45, dpi));
        s.StoredFirma = R(Mm(110, dpi), Mm(250, dpi), Mm(70, dpi), Mm(16, dpi));
        s.Foto.Brightness = 10;
        s.Foto.Sharpness = 1;

        // The window's steps, one after another, each as the window runs it.
        QElapsedTimer t;
        qint64 steps = 0;
        for (const QString& f : files) {
            t.start();
            QImage pic;
            LoadImagefromFile(f, pic);
            // "Ritaglio automatico": the analysis the batch runs on every page.
            const TBatchFrames found = AnalyseBatchPage(pic);
            if (found.Degrees != 0) {
                QImage straight;
                RotateBitmapInto(pic, straight, found.Degrees, false, 0x808080, 1);
                pic = straight;
            }
            for (bool foto : {true, false}) {
                const QImage crop = CopyArea(pic, foto ? s.StoredFoto : s.StoredFirma);
                const QImage slot = foto ? CropAndResizeFotoPixels(crop) : CropAndResizeFirmaPixels(crop, true);
                const QImage shown = RenderBatchRetouch(slot, foto ? s.Foto : s.Firma);
                const QString target = out2 + QLatin1Char('/') + BatchPrefix(f) + (foto ? "Foto.jpg" : "Firma.jpg");
                SaveSlotJpeg(shown, target, QString(), foto ? kFotoMaxBytes : kFirmaMaxBytes);
            }
            steps += t.nsecsElapsed();
        }
        FinishFileWork();

        TBatchRun run(files, s, {});
        int done = 0;
        run.OnPage = [&done](int, const TBatchPage& p) { done += p.Done() ? 1 : 0; };
        t.start();
        run.Start();
        run.Wait();
        FinishFileWork();
        const double batchS = t.nsecsElapsed() / 1e9;
        const double stepsS = steps / 1e9;
        std::printf("%d dpi, %d pages: batch %.2f pages/s (%.3f s, %d complete); window steps summed %.2f pages/s "
                    "(%.3f s); ratio %.2f\n",
                    dpi, pages, pages / batchS, batchS, done, pages / stepsS, stepsS, stepsS / batchS);
    }
    Corpus();
    return 0;
}
