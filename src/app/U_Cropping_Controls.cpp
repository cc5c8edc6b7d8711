#include "app/U_Cropping_Controls.h"

#include <QMouseEvent>
#include <QPainter>

TPanel::TPanel(QWidget* parent, TColor color) : QWidget(parent), FColor(color) {}

void TPanel::SetColor(TColor color)
{
    if (color == FColor)
        return;
    FColor = color;
    update();
}

void TPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), ToQColor(FColor));
}

TShape::TShape(QWidget* parent, int penWidth, TColor penColor, TColor brushColor)
    : QWidget(parent), FPenWidth(penWidth), FPenColor(penColor), FBrushColor(brushColor)
{
}

void TShape::SetPenColor(TColor color)
{
    if (color == FPenColor)
        return;
    FPenColor = color;
    update();
}

void TShape::paintEvent(QPaintEvent*)
{
    // The pen lies wholly inside the shape, so a slot placed pen-width pixels
    // in from the shape's corner sits exactly within the frame.
    QPainter p(this);
    p.fillRect(rect(), ToQColor(FPenColor));
    p.fillRect(rect().adjusted(FPenWidth, FPenWidth, -FPenWidth, -FPenWidth), ToQColor(FBrushColor));
}

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetPicture(const QImage& picture)
{
    FPicture = picture;
    update();
}

void TImage::paintEvent(QPaintEvent*)
{
    if (FPicture.isNull())
        return;
    QPainter p(this);
    p.drawImage(0, 0, FPicture);
}

void TImage::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick)
        OnClick();
}

THoverLabel::THoverLabel(const QString& text, QWidget* parent, int tag) : QLabel(text, parent), Tag(tag)
{
    setMouseTracking(true);
    SetFontColor(clSilver);
}

void THoverLabel::SetFontColor(TColor color)
{
    FFontColor = color;
    // A widget's own sheet wins over the application's, so the colour holds under any style.
    setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(ToQColor(color).name()));
}

void THoverLabel::mouseMoveEvent(QMouseEvent* event)
{
    if (OnMouseMove && isEnabled())
        OnMouseMove(this);
    QLabel::mouseMoveEvent(event);
}

void THoverLabel::leaveEvent(QEvent* event)
{
    if (OnMouseLeave && isEnabled())
        OnMouseLeave(this);
    QLabel::leaveEvent(event);
}

void THoverLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && OnClick && isEnabled() && rect().contains(event->position().toPoint()))
        OnClick(this);
    QLabel::mouseReleaseEvent(event);
}
