#include "scan/dsm/DsmArea.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kHandle = 5.0;  // half the side of a handle, view pixels
const QColor kGreen(0x16, 0x6D, 0x14);

} // namespace

TAreaView::TAreaView(QWidget* parent) : QWidget(parent)
{
    setObjectName("LbPreview");
    setMinimumSize(200, 240);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
}

void TAreaView::SetPage(double widthMm, double heightMm)
{
    pageW_ = widthMm;
    pageH_ = heightMm;
    update();
}

void TAreaView::SetImage(const QImage& img, const QRectF& areaMm)
{
    image_ = img;
    imageArea_ = areaMm;
    update();
}

void TAreaView::SetArea(const QRectF& areaMm)
{
    area_ = areaMm;
    update();
}

double TAreaView::Scale() const
{
    if (pageW_ <= 0 || pageH_ <= 0)
        return 1;
    return std::min((width() - 1) / pageW_, (height() - 1) / pageH_);
}

QPointF TAreaView::ToView(double xMm, double yMm) const { return QPointF(xMm * Scale(), yMm * Scale()); }

QPointF TAreaView::ToMm(const QPointF& view) const { return view / Scale(); }

double TAreaView::Snap(double mm, double limit) const
{
    double v = std::max(0.0, std::min(limit, mm));
    if (step_ > 0)
        v = std::min(limit, std::round(v / step_) * step_);
    return v;
}

int TAreaView::HitTest(const QPointF& p) const
{
    if (area_.isEmpty())
        return 0;
    const QPointF tl = ToView(area_.left(), area_.top());
    const QPointF br = ToView(area_.right(), area_.bottom());
    const double reach = kHandle + 2;
    auto near = [reach](double a, double b) { return std::fabs(a - b) <= reach; };
    const bool inX = p.x() >= tl.x() - reach && p.x() <= br.x() + reach;
    const bool inY = p.y() >= tl.y() - reach && p.y() <= br.y() + reach;
    if (!inX || !inY)
        return 0;
    const double midX = (tl.x() + br.x()) / 2, midY = (tl.y() + br.y()) / 2;
    int edges = 0;
    if (near(p.x(), tl.x()))
        edges |= kLeft;
    else if (near(p.x(), br.x()))
        edges |= kRight;
    if (near(p.y(), tl.y()))
        edges |= kTop;
    else if (near(p.y(), br.y()))
        edges |= kBottom;
    // Only the corners and the middles of the sides are handles.
    const bool corner = (edges & (kLeft | kRight)) && (edges & (kTop | kBottom));
    const bool side = ((edges & (kLeft | kRight)) && near(p.y(), midY)) || ((edges & (kTop | kBottom)) && near(p.x(), midX));
    if (corner || side)
        return edges;
    // The area moves by its middle handle; a press anywhere else inside draws a new one,
    // so an area as large as the page never stands in the way of drawing.
    return near(p.x(), midX) && near(p.y(), midY) ? kInside : 0;
}

void TAreaView::UpdateCursor(int hit)
{
    Qt::CursorShape shape = Qt::CrossCursor;
    if (hit == kInside)
        shape = Qt::SizeAllCursor;
    else if (hit == (kLeft | kTop) || hit == (kRight | kBottom))
        shape = Qt::SizeFDiagCursor;
    else if (hit == (kRight | kTop) || hit == (kLeft | kBottom))
        shape = Qt::SizeBDiagCursor;
    else if (hit == kLeft || hit == kRight)
        shape = Qt::SizeHorCursor;
    else if (hit == kTop || hit == kBottom)
        shape = Qt::SizeVerCursor;
    setCursor(shape);
}

void TAreaView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || pageW_ <= 0 || !isEnabled())
        return;
    grab_ = HitTest(e->position());
    pressMm_ = ToMm(e->position());
    pressArea_ = area_;
}

void TAreaView::mouseMoveEvent(QMouseEvent* e)
{
    if (grab_ < 0) {
        UpdateCursor(HitTest(e->position()));
        return;
    }
    const QPointF now = ToMm(e->position());
    const double minSide = step_ > 0 ? step_ : 1.0;
    QRectF a = pressArea_;
    if (grab_ == 0) {
        // A new area from the press point to the pointer, whichever way it was dragged.
        const double x0 = Snap(pressMm_.x(), pageW_), y0 = Snap(pressMm_.y(), pageH_);
        const double x1 = Snap(now.x(), pageW_), y1 = Snap(now.y(), pageH_);
        if (std::fabs(x1 - x0) < minSide || std::fabs(y1 - y0) < minSide)
            return;
        a = QRectF(QPointF(std::min(x0, x1), std::min(y0, y1)), QPointF(std::max(x0, x1), std::max(y0, y1)));
    } else if (grab_ == kInside) {
        // Moved whole, held inside the bed.
        const double dx = std::max(-a.left(), std::min(pageW_ - a.right(), now.x() - pressMm_.x()));
        const double dy = std::max(-a.top(), std::min(pageH_ - a.bottom(), now.y() - pressMm_.y()));
        const double left = Snap(a.left() + dx, pageW_ - a.width());
        const double top = Snap(a.top() + dy, pageH_ - a.height());
        a.moveTo(left, top);
    } else {
        // A handle moves its edges; an edge never passes the opposite one.
        if (grab_ & kLeft)
            a.setLeft(std::min(Snap(now.x(), pageW_), a.right() - minSide));
        if (grab_ & kRight)
            a.setRight(std::max(Snap(now.x(), pageW_), a.left() + minSide));
        if (grab_ & kTop)
            a.setTop(std::min(Snap(now.y(), pageH_), a.bottom() - minSide));
        if (grab_ & kBottom)
            a.setBottom(std::max(Snap(now.y(), pageH_), a.top() + minSide));
    }
    if (a != area_) {
        area_ = a;
        update();
        emit AreaChanged(area_);
    }
}

void TAreaView::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || grab_ < 0)
        return;
    grab_ = -1;
    UpdateCursor(HitTest(e->position()));
    emit AreaChanged(area_);
}

void TAreaView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(60, 60, 60));
    if (pageW_ <= 0 || pageH_ <= 0)
        return;
    const QRectF page(ToView(0, 0), ToView(pageW_, pageH_));
    p.fillRect(page, Qt::white);
    if (!image_.isNull())
        p.drawImage(QRectF(ToView(imageArea_.left(), imageArea_.top()), ToView(imageArea_.right(), imageArea_.bottom())),
                    image_);
    if (area_.isEmpty())
        return;
    const QRectF a(ToView(area_.left(), area_.top()), ToView(area_.right(), area_.bottom()));
    // What lies outside the area is dimmed, so the part that will be scanned stands out.
    QPainterPath outside;
    outside.addRect(page);
    QPainterPath inside;
    inside.addRect(a);
    p.fillPath(outside.subtracted(inside), QColor(0, 0, 0, 140));
    // Dashes over a white line stay visible on any picture.
    p.setPen(QPen(Qt::white, 3));
    p.drawRect(a);
    p.setPen(QPen(kGreen, 2, Qt::DashLine));
    p.drawRect(a);
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(kGreen);
    const double xs[] = {a.left(), a.center().x(), a.right()};
    const double ys[] = {a.top(), a.center().y(), a.bottom()};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (i != 1 || j != 1)
                p.drawRect(QRectF(xs[i] - kHandle, ys[j] - kHandle, 2 * kHandle, 2 * kHandle));
    // The move handle is round.
    p.drawEllipse(a.center(), kHandle + 1, kHandle + 1);
}
