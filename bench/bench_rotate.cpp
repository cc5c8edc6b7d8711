// The rotate toolbar as the user feels it on an A4 page scanned at 600 dots per
// inch, opened from a JPEG file and framed in the photo mode (zoom 1):
//  - a right-button drag: view updates per second while it lasts, and the time
//    from the release to the whole page turned;
//  - the first click step and a later one: time until the view has answered,
//    and until the whole page is turned (read as a crop would read it);
//  - twenty clicks arriving at once: time from the last one to the whole page turned;
//  - peak resident memory after load, framing and turns, against the decoded page.
// Each time is also given against one whole-page turn measured in the same run.
// Usage: bench_rotate [jpeg]; without a file a noisy gradient page is made.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Pixels.h"
#include "platform/ImageAlloc.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr int kPageW = 4960;
constexpr int kPageH = 7016;

long StatusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string k(key);
    while (std::getline(in, line))
        if (line.compare(0, k.size(), k) == 0)
            return std::stol(line.substr(k.size() + 1));
    return 0;
}

void ResetPeak()
{
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

QString MakePageFile()
{
    QImage page(kPageW, kPageH, QImage::Format_RGB888);
    for (int y = 0; y < kPageH; ++y) {
        uchar* d = page.scanLine(y);
        uint32_t lcg = static_cast<uint32_t>(y) * 40503u + 1u;
        for (int x = 0; x < kPageW; ++x, d += 3) {
            lcg = lcg * 1664525u + 1013904223u;
            const int noise = static_cast<int>((lcg >> 24) & 15);
            d[0] = static_cast<uchar>(x * 200 / kPageW + noise);
            d[1] = static_cast<uchar>(y * 200 / kPageH + noise);
            d[2] = static_cast<uchar>((x + y) / 37 + noise);
        }
    }
    const QString path = QDir::tempPath() + QStringLiteral("/bench_rotate_page.jpg");
    page.save(path, "JPEG", 90);
    return path;
}

void Send(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(at), QPointF(at), QPointF(w->mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Post(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QCoreApplication::postEvent(w, new QMouseEvent(type, QPointF(at), QPointF(at), QPointF(w->mapToGlobal(at)),
                                                   button, buttons, Qt::NoModifier));
}

double Ms(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

// The whole page read as a crop reads it: waits for a turn still under way.
void ReadPicture(TFormCrop& form) { (void)form.ZSImage->OrigBitmap().constBits(); }

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : MakePageFile();

    auto* form = new TFormCrop();
    FormTBack = new TFormTBack(form);
    form->resize(1280, 900);
    form->show();
    QApplication::processEvents();
    ResetPeak();
    const long baseKb = StatusKb("VmRSS:");

    form->ChoosePictureFiles = [path] { return QStringList{path}; };
    form->BtLoadImagesClick();
    QApplication::processEvents();
    const QImage& shown = form->ZSImage->OrigBitmap();
    const double pageKb = static_cast<double>(shown.sizeInBytes()) / 1024.0;
    std::printf("page %d x %d, decoded %.1f MB, program before the page %.1f MB\n", shown.width(), shown.height(),
                pageKb / 1024.0, baseKb / 1024.0);
    const long loadPeakKb = StatusKb("VmHWM:");

    form->SeletionFixMode(srFoto, false);
    QApplication::processEvents();
    if (!FormTBack->isVisible()) {
        std::printf("the toolbar did not come up\n");
        return 1;
    }
    const long framedPeakKb = StatusKb("VmHWM:");
    std::printf("  resident framed: %.2fx\n", StatusKb("VmRSS:") / pageKb);

    ResetPeak();

    QWidget* plus = FormTBack->ImgRotateP;
    const QPoint at(40, 24);

    // First step and a later one.
    double answer[2];
    double whole[2];
    for (int i = 0; i < 2; ++i) {
        QElapsedTimer t;
        t.start();
        Send(plus, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        Send(plus, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
        answer[i] = Ms(t);
        ReadPicture(*form);
        whole[i] = Ms(t);
        QApplication::processEvents();
        std::printf("  resident after step %d: %.2fx\n", i + 1, StatusKb("VmRSS:") / pageKb);
    }

    // Twenty clicks that arrive at once.
    for (int i = 0; i < 20; ++i) {
        Post(plus, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        Post(plus, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    }
    QElapsedTimer burst;
    burst.start();
    QApplication::processEvents();
    const double burstInputs = Ms(burst);
    ReadPicture(*form);
    const double burstWhole = Ms(burst);
    QApplication::processEvents();
    std::printf("  resident after the clicks: %.2fx, peak %.2fx\n", StatusKb("VmRSS:") / pageKb,
                StatusKb("VmHWM:") / pageKb);

    // A drag of 90 rows, one move at a time, each answered before the next.
    Send(plus, QEvent::MouseButtonPress, at, Qt::RightButton, Qt::RightButton);
    const int moves = 90;
    QElapsedTimer drag;
    drag.start();
    for (int i = 1; i <= moves; ++i) {
        Send(plus, QEvent::MouseMove, at + QPoint(0, i), Qt::NoButton, Qt::RightButton);
        QApplication::processEvents();
    }
    const double dragMs = Ms(drag);
    QElapsedTimer release;
    release.start();
    Send(plus, QEvent::MouseButtonRelease, at + QPoint(0, moves), Qt::RightButton, Qt::NoButton);
    const double releaseAnswer = Ms(release);
    ReadPicture(*form);
    const double releaseWhole = Ms(release);
    QApplication::processEvents();
    const long turnPeakKb = StatusKb("VmHWM:");

    // Reference, after the memory is read: one whole-page turn into a warm buffer.
    double wholeMs = 0;
    {
        QImage dst;
        RotateBitmapInto(form->BmpBackBuffer, dst, 3, false, 0x808080, 2);
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 3; ++i)
            RotateBitmapInto(form->BmpBackBuffer, dst, 4 + i, false, 0x808080, 2);
        wholeMs = Ms(t) / 3;
    }
    std::printf("one whole-page turn (reference): %.1f ms\n", wholeMs);
    for (int i = 0; i < 2; ++i)
        std::printf("%s click step: view answers in %.1f ms, whole page turned after %.1f ms (%.2fx the turn)\n",
                    i == 0 ? "first" : "later", answer[i], whole[i], whole[i] / wholeMs);
    std::printf("twenty clicks at once: inputs handled in %.1f ms, whole page turned %.1f ms after they arrived "
                "(%.2fx the turn)\n",
                burstInputs, burstWhole, burstWhole / wholeMs);
    std::printf("drag: %d moves in %.1f ms, %.1f view updates per second\n", moves, dragMs, moves * 1000.0 / dragMs);
    std::printf("release: view answers in %.1f ms, whole page turned after %.1f ms\n", releaseAnswer, releaseWhole);
    std::printf("peak resident memory: after load %.2fx, framed %.2fx, after the turns %.2fx the decoded page\n",
                loadPeakKb / pageKb, framedPeakKb / pageKb, turnPeakKb / pageKb);
    std::printf("  (of which the program before the page: %.2fx)\n", baseKb / pageKb);
    QFile::remove(QDir::tempPath() + QStringLiteral("/bench_rotate_page.jpg"));
    delete form;
    return 0;
}
