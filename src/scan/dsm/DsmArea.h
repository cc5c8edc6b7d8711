#pragma once
// The preview of the scanner's bed with the scan area over it. The user draws the area
// by pressing and dragging, moves it by its middle handle and resizes it by the eight
// handles on its corners and sides.
// Everything here is in millimetres from the bed's top-left corner; the widget maps
// them onto itself at one scale, the bed's top-left at its own.

#include <QImage>
#include <QRectF>
#include <QWidget>

class TAreaView : public QWidget {
    Q_OBJECT
public:
    explicit TAreaView(QWidget* parent);

    void SetPage(double widthMm, double heightMm);
    // Corners snap to multiples of `mm` (0: no snapping).
    void SetStep(double mm) { step_ = mm; }
    // The preview picture and the bed area it shows.
    void SetImage(const QImage& img, const QRectF& areaMm);
    void SetArea(const QRectF& areaMm);
    QRectF Area() const { return area_; }
    bool HasImage() const { return !image_.isNull(); }

    // View pixels of a point on the bed, and back.
    QPointF ToView(double xMm, double yMm) const;
    QPointF ToMm(const QPointF& view) const;

signals:
    // The user changed the area (during a drag, and once more when it ends).
    void AreaChanged(const QRectF& areaMm);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    // What a press grabs: nothing (a new area), the middle (a move), or a handle;
    // handles are bit sets of the edges they move.
    enum Edge { kLeft = 1, kTop = 2, kRight = 4, kBottom = 8, kInside = 16 };
    int HitTest(const QPointF& view) const;
    void UpdateCursor(int hit);
    double Scale() const;
    double Snap(double mm, double limit) const;

    QImage image_;
    QRectF imageArea_;
    QRectF area_;
    double pageW_ = 0, pageH_ = 0;
    double step_ = 0;
    int grab_ = -1;        // -1: no drag under way
    QPointF pressMm_;
    QRectF pressArea_;
};
