// From a page analysis to what "Ritaglio automatico" does: the whole-degree
// turn, then the signature and photo frames in the turned picture's pixels.

#include "analysis/PageAnalysis.h"

#include "platform/Rounding.h"

#include <algorithm>
#include <cmath>

namespace analysis {

namespace {

constexpr double kPi = 3.14159265358979323846;

QRect ClampInto(QRect r, QSize size) { return r.intersected(QRect(QPoint(0, 0), size)); }

// The four corners of r turned, as their bounding box.
QRectF TurnedBox(const QRect& r, QSize from, QSize to, double degs)
{
    const QPointF c[4] = {MapIntoTurned(QPointF(r.left(), r.top()), from, to, degs),
                          MapIntoTurned(QPointF(r.x() + r.width(), r.top()), from, to, degs),
                          MapIntoTurned(QPointF(r.left(), r.y() + r.height()), from, to, degs),
                          MapIntoTurned(QPointF(r.x() + r.width(), r.y() + r.height()), from, to, degs)};
    double x0 = c[0].x(), x1 = c[0].x(), y0 = c[0].y(), y1 = c[0].y();
    for (const QPointF& p : c) {
        x0 = std::min(x0, p.x());
        x1 = std::max(x1, p.x());
        y0 = std::min(y0, p.y());
        y1 = std::max(y1, p.y());
    }
    return QRectF(QPointF(x0, y0), QPointF(x1, y1));
}

// A rectangle turned by t has a bounding box of W = w cos t + h sin t and
// H = w sin t + h cos t; solved back for the rectangle's own sides.
QSizeF UnturnedSides(QSizeF box, double degs)
{
    const double t = std::fabs(degs) * kPi / 180.0;
    const double c = std::cos(t);
    const double s = std::sin(t);
    const double d = c * c - s * s;
    if (d < 0.5)
        return box;
    const double w = (box.width() * c - box.height() * s) / d;
    const double h = (box.height() * c - box.width() * s) / d;
    if (w <= 0 || h <= 0)
        return box;
    return QSizeF(w, h);
}

} // namespace

QSize TurnedSize(QSize size, int degreesCw)
{
    const double r = degreesCw * kPi / 180.0;
    const double c = std::fabs(std::cos(r));
    const double s = std::fabs(std::sin(r));
    return QSize(int(Round(size.width() * c + size.height() * s)), int(Round(size.width() * s + size.height() * c)));
}

QPointF MapIntoTurned(QPointF p, QSize fromSize, QSize toSize, double degreesCw)
{
    const double r = degreesCw * kPi / 180.0;
    const double c = std::cos(r);
    const double s = std::sin(r);
    const double dx = p.x() - fromSize.width() * 0.5;
    const double dy = p.y() - fromSize.height() * 0.5;
    return QPointF(toSize.width() * 0.5 + c * dx - s * dy, toSize.height() * 0.5 + s * dx + c * dy);
}

AutoCropPlan PlanAutoCrop(const PageAnalysis& result, QSize pictureSize, QSize rotatedSize)
{
    AutoCropPlan plan;
    plan.rotatedSize = pictureSize;
    // A result for a picture of another size belongs to another picture.
    if (result.cancelled || pictureSize.isEmpty() || result.pictureSize != pictureSize)
        return plan;
    const double skew = result.skew.found ? result.skew.degrees : 0.0;
    if (std::fabs(skew) >= 1.0)
        plan.rotateDegrees = -int(std::lround(skew));
    if (plan.rotateDegrees != 0)
        plan.rotatedSize = rotatedSize.isEmpty() ? TurnedSize(pictureSize, plan.rotateDegrees) : rotatedSize;
    const QSize to = plan.rotatedSize;
    const double degs = plan.rotateDegrees;

    if (result.signature.found) {
        const QRectF box = TurnedBox(result.signature.box, pictureSize, to, degs);
        plan.signatureFrame = ClampInto(box.toAlignedRect(), to);
        plan.hasSignature = !plan.signatureFrame.isEmpty();
    }

    if (result.photo.found) {
        const QRect& found = result.photo.photo;
        const QPointF centre = MapIntoTurned(QRectF(found).center(), pictureSize, to, degs);
        QSizeF sides = found.size();
        if (result.photo.framed)
            sides = UnturnedSides(sides, skew); // the edges' box grew with the page's skew
        const QRectF photo(centre.x() - sides.width() / 2, centre.y() - sides.height() / 2, sides.width(), sides.height());
        // The largest 259:314 frame inside the photo, centred on the face and kept inside.
        double fw = photo.width();
        double fh = fw * kPhotoFrameH / kPhotoFrameW;
        if (fh > photo.height()) {
            fh = photo.height();
            fw = fh * kPhotoFrameW / kPhotoFrameH;
        }
        const QPointF face = result.photo.face.isEmpty()
                                 ? photo.center()
                                 : MapIntoTurned(QRectF(result.photo.face).center(), pictureSize, to, degs);
        const double x = std::clamp(face.x() - fw / 2, photo.left(), photo.right() - fw);
        const double y = std::clamp(face.y() - fh / 2, photo.top(), photo.bottom() - fh);
        QRect frame(int(std::lround(x)), int(std::lround(y)), int(std::lround(fw)), int(std::lround(fh)));
        // Kept inside the picture by moving, not by cutting, so the ratio holds.
        frame.moveLeft(std::clamp(frame.left(), 0, std::max(0, to.width() - frame.width())));
        frame.moveTop(std::clamp(frame.top(), 0, std::max(0, to.height() - frame.height())));
        plan.photoFrame = ClampInto(frame, to);
        plan.hasPhoto = plan.photoFrame.width() >= 8 && plan.photoFrame.height() >= 8;
    }
    return plan;
}

} // namespace analysis
