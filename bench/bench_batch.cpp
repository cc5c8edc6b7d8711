// The batch against the window's steps: pages per second of a TBatchRun over
// generated A4 JPEG pages at 200 and 600 dpi, against the sum of the times of
// the steps a clerk triggers one by one for the same pages (load, automatic
// crop's analysis, cut and retouch each slot, save each slot), measured in the same run.
//
// Usage: bench_batch [pages] ; prints one line per resolution.

#include "app/U_Cropping_Pixels.h"
#include "app/U_Cropping_Save.h"
#include "batch/Batch.h"
#include "jpegmeta/SafeFile.h"
#include "view/io/ImageReaders.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int Mm(double mm, int dpi)
{
    return static_cast<int>(mm * dpi / 25.4 + 0.5);
}

QImage Page(int dpi)
{
    QImage img(Mm(210, dpi), Mm(297, dpi), QImage::Format_RGB32);
    img.fill(QColor(250, 249, 244));
    QPainter p(&img);
    p.setPen(QPen(QColor(120, 120, 120), std::max(1, dpi / 100)));
    for (int i = 0; i < 18; ++i)
        p.drawLine(Mm(20, dpi), Mm(90 + i * 8.5, dpi), Mm(190, dpi), Mm(90 + i * 8.5, dpi));
    p.fillRect(QRect(Mm(140, dpi), Mm(30, dpi), Mm(35, dpi), Mm(45, dpi)), QColor(70, 110, 170));
    p.setBrush(QColor(225, 185, 150));
    p.drawEllipse(QRect(Mm(150, dpi), Mm(38, dpi), Mm(15, dpi), Mm(20, dpi)));
    p.setPen(QPen(QColor(20, 30, 110), std::max(2, dpi / 50)));
    for (int i = 0; i < 12; ++i)
        p.drawLine(Mm(115 + i * 5, dpi), Mm(252 + (i % 2) * 10, dpi), Mm(120 + i * 5, dpi), Mm(262 - (i % 2) * 10, dpi));
    p.end();
    return img;
}

TRect R(int x, int y, int w, int h)
{
    return TRect(x, y, x + w, y + h);
}

std::string Local(const QString& s)
{
    return QFile::encodeName(s).toStdString();
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
        const QImage page = Page(dpi);
        QStringList files;
        for (int i = 0; i < pages; ++i) {
            files << QStringLiteral("%1/modulo_%2.jpg").arg(in).arg(i, 3, 10, QLatin1Char('0'));
            page.save(files.last(), "JPG", 90);
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
    return 0;
}
