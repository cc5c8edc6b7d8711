// Transition effects of the image list: blend, window animations of a snapshot
// panel, and the two wipes from the middle. The program keeps them off; each
// one ends with the new picture in the view.

#include "view/ZSImage.h"
#include "view/ZSImage_SlideShow.h"

#include "platform/Colors.h"
#include "platform/Geometry.h"

#include <QEventLoop>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <chrono>
#include <memory>

namespace {

constexpr uint32_t kMaxEffectTime = 2400;
constexpr uint32_t kAwHorPositive = 0x1;
constexpr uint32_t kAwHorNegative = 0x2;
constexpr uint32_t kAwVerPositive = 0x4;
constexpr uint32_t kAwVerNegative = 0x8;
constexpr uint32_t kAwCenter = 0x10;
constexpr uint32_t kAwHide = 0x10000;
constexpr uint32_t kAwActivate = 0x20000;
constexpr uint32_t kAwSlide = 0x40000;

// Busy wait in microseconds: the wipes pace themselves by rows, below what a timer resolves.
void WaitMicroseconds(uint32_t us)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    while (std::chrono::steady_clock::now() < end) {
    }
}

QImage Filled(const QSize& size, TColor colour)
{
    QImage img(size, QImage::Format_BGR888);
    img.fill(ToQColor(colour));
    return img;
}

// frame := old * (255 - alpha) / 255 + new * alpha / 255, per byte.
QImage Blend(const QImage& older, const QImage& newer, int alpha)
{
    QImage frame(newer.size(), QImage::Format_BGR888);
    const int bytes = newer.width() * 3;
    for (int y = 0; y < newer.height(); ++y) {
        const uchar* a = older.constScanLine(y);
        const uchar* b = newer.constScanLine(y);
        uchar* d = frame.scanLine(y);
        for (int i = 0; i < bytes; ++i)
            d[i] = uchar((a[i] * (255 - alpha) + b[i] * alpha + 127) / 255);
    }
    return frame;
}

// Panel rectangle at progress t (0..1) of a window animation, and where the
// snapshot's origin lies inside it. A show grows or slides the panel in; a
// hide shrinks or slides it out in the direction of the flags.
QRect PanelRect(uint32_t flags, const QSize& size, double t, QPoint& offset)
{
    const bool hide = (flags & kAwHide) != 0;
    const double f = hide ? 1.0 - t : t; // visible fraction
    const int W = size.width();
    const int H = size.height();
    const int dx = (flags & kAwHorPositive) ? 1 : (flags & kAwHorNegative) ? -1 : 0;
    const int dy = (flags & kAwVerPositive) ? 1 : (flags & kAwVerNegative) ? -1 : 0;
    QRect r(0, 0, W, H);
    if ((flags & kAwCenter) || (dx == 0 && dy == 0)) {
        const int w = int(W * f + 0.5), h = int(H * f + 0.5);
        r = QRect((W - w) / 2, (H - h) / 2, w, h);
        offset = -r.topLeft();
    } else if (flags & kAwSlide) {
        const double away = 1.0 - f;
        const int sx = hide ? dx : -dx;
        const int sy = hide ? dy : -dy;
        r.translate(int(sx * W * away), int(sy * H * away));
        offset = QPoint(0, 0);
    } else {
        const int w = dx ? int(W * f + 0.5) : W;
        const int h = dy ? int(H * f + 0.5) : H;
        // A show unrolls from the side the motion starts at; a hide rolls up toward the far side.
        const int x = (dx > 0) == hide ? W - w : 0;
        const int y = (dy > 0) == hide ? H - h : 0;
        r = QRect(dx ? x : 0, dy ? y : 0, w, h);
        offset = -r.topLeft();
    }
    return r;
}

} // namespace

uint32_t AnimateWindowFlags(TzsiSlideShowEffects Effect)
{
    switch (Effect) {
    case se_aw_Left: return kAwHorPositive;
    case se_aw_LeftSlide: return kAwSlide | kAwHorPositive;
    case se_aw_Right: return kAwHorNegative;
    case se_aw_RightSlide: return kAwSlide | kAwHorNegative;
    case se_aw_Top: return kAwVerPositive;
    case se_aw_TopSlide: return kAwSlide | kAwVerPositive;
    case se_aw_Bottom: return kAwVerNegative;
    case se_aw_BottomSlide: return kAwSlide | kAwVerNegative;
    case se_aw_TopLeft: return kAwHorPositive | kAwVerPositive;
    case se_aw_TopLeftSlide: return kAwSlide | kAwHorPositive | kAwVerPositive;
    case se_aw_TopRight: return kAwHorNegative | kAwVerPositive;
    case se_aw_TopRightSlide: return kAwSlide | kAwHorNegative | kAwVerPositive;
    case se_aw_BottomLeft: return kAwHorPositive | kAwVerNegative;
    case se_aw_BottomLeftSlide: return kAwSlide | kAwHorPositive | kAwVerNegative;
    case se_aw_BottomRight: return kAwHorNegative | kAwVerNegative;
    case se_aw_BottomRightSlide: return kAwSlide | kAwHorNegative | kAwVerNegative;
    default: return kAwCenter;
    }
}

// --- TzsiAWPanel ----------------------------------------------------------------------

TzsiAWPanel::TzsiAWPanel(QWidget* AParent, const QImage& ABitmap) : QWidget(AParent), FBitmap(ABitmap)
{
    // It paints its snapshot and nothing else; erasing first would flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TzsiAWPanel::SetContentOffset(const QPoint& Offset)
{
    FOffset = Offset;
    update();
}

void TzsiAWPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(FOffset, FBitmap);
}

// --- effects --------------------------------------------------------------------------------

void TzsiSlideShow::DoBlend(const QImage& Picture)
{
    QImage rendered;
    TRect origRect, canvasRect;
    FOwner->StretchFromPoint(Picture, rendered, kCenterMarker, FOwner->StretchFactor(), origRect, canvasRect);
    if (!rendered.isNull()) {
        QImage older = FOwner->ScreenImage();
        if (older.size() != rendered.size() || older.format() != QImage::Format_BGR888)
            older = Filled(rendered.size(), FOwner->BkgColor());
        const uint32_t t = FEffectTimeOnShow ? FEffectTimeOnShow : 1;
        const int step = std::max(1, int((kMaxEffectTime - std::min(t, kMaxEffectTime)) / t + 1));
        int alpha = 1;
        do {
            alpha = std::min(alpha + step, 255);
            FOwner->ShowOnSurface(Blend(older, rendered, alpha));
            FOwner->repaint();
        } while (alpha < 255);
    }
    FOwner->InternSetImage(Picture, true);
}

void TzsiSlideShow::AnimatePanel(TzsiAWPanel* Panel, uint32_t Flags, uint32_t Time)
{
    const QSize size = FOwner->size();
    auto place = [Panel, Flags, size](double t) {
        QPoint offset;
        Panel->setGeometry(PanelRect(Flags, size, t, offset));
        Panel->SetContentOffset(offset);
    };
    place(0.0);
    Panel->show();
    Panel->raise();
    if (Time > 0) {
        QVariantAnimation animation;
        animation.setStartValue(0.0);
        animation.setEndValue(1.0);
        animation.setDuration(int(Time));
        QObject::connect(&animation, &QVariantAnimation::valueChanged,
                         [&place](const QVariant& v) { place(v.toDouble()); });
        QEventLoop loop;
        QObject::connect(&animation, &QVariantAnimation::finished, &loop, &QEventLoop::quit);
        animation.start();
        loop.exec();
    }
    place(1.0);
}

void TzsiSlideShow::Do_AW_Effect(const QImage& Picture, TzsiSlideShowEffects AEffect)
{
    const uint32_t flags = AnimateWindowFlags(AEffect);
    const QImage older = FOwner->ScreenImage();
    const bool showOnly = FOwner->SourceSize().isEmpty() || (FEffectOnShow && !FEffectOnHide);

    if (showOnly || (FEffectOnShow && FEffectOnHide)) {
        QImage rendered;
        TRect origRect, canvasRect;
        FOwner->StretchFromPoint(Picture, rendered, kCenterMarker, FOwner->StretchFactor(), origRect, canvasRect);
        if (!showOnly && !older.isNull()) {
            // The old picture leaves first, uncovering the bare background.
            std::unique_ptr<TzsiAWPanel> leaving(new TzsiAWPanel(FOwner, older));
            FOwner->ShowOnSurface(Filled(FOwner->size(), FOwner->BkgColor()));
            AnimatePanel(leaving.get(), flags | kAwHide, FEffectTimeOnHide);
        }
        if (!rendered.isNull()) {
            std::unique_ptr<TzsiAWPanel> arriving(new TzsiAWPanel(FOwner, rendered));
            AnimatePanel(arriving.get(), flags | kAwActivate, FEffectTimeOnShow);
            FOwner->InternSetImage(Picture, true);
            return;
        }
        FOwner->InternSetImage(Picture, true);
        return;
    }
    // Hide only: the view already holds the new picture under the leaving snapshot.
    std::unique_ptr<TzsiAWPanel> leaving(new TzsiAWPanel(FOwner, older));
    leaving->setGeometry(FOwner->rect());
    leaving->show();
    leaving->raise();
    FOwner->InternSetImage(Picture, true);
    AnimatePanel(leaving.get(), flags | kAwHide, FEffectTimeOnHide);
}

void TzsiSlideShow::DoCustomEffects(const QImage& Picture, TzsiSlideShowEffects AEffect)
{
    QImage surface = FOwner->ScreenImage().copy();
    FOwner->InternSetImage(Picture, false);
    const QImage back = FOwner->CanvasBitmap();
    if (back.isNull()) {
        FOwner->Paint();
        return;
    }
    if (surface.size() != back.size() || surface.format() != QImage::Format_BGR888)
        surface = Filled(back.size(), FOwner->BkgColor());
    FOwner->ShowOnSurface(surface);

    const bool rows = AEffect != se_MiddleToLeftRight;
    const int extent = rows ? back.height() : back.width();
    const int half = extent / 2;
    const QColor bkg = ToQColor(FOwner->BkgColor());
    // Line n of the surface becomes line n of the back buffer, or the background.
    auto line = [&](int n, bool fromBack) {
        if (n < 0 || n >= extent)
            return;
        const QRect r = rows ? QRect(0, n, back.width(), 1) : QRect(n, 0, 1, back.height());
        QPainter p(&surface);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        if (fromBack)
            p.drawImage(r.topLeft(), back, r);
        else
            p.fillRect(r, bkg);
    };
    auto present = [&](uint32_t pause) {
        FOwner->ShowOnSurface(surface);
        FOwner->repaint();
        WaitMicroseconds(pause);
    };
    if (FEffectOnHide) {
        // Both: the old picture is wiped to the background from the edges in;
        // hide only: the new picture closes in from the edges.
        const bool fromBack = !FEffectOnShow;
        for (int i = 0; i <= half; ++i) {
            line(i, fromBack);
            line(extent - i, fromBack);
            present(FEffectTimeOnHide);
        }
    }
    if (FEffectOnShow) {
        for (int i = 0; i <= half; ++i) {
            line(half - i, true);
            line(half + i, true);
            present(FEffectTimeOnShow);
        }
    }
    FOwner->Paint();
}
