#include "AppTestUtils.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <QWidget>

namespace AppTest {

namespace {
int Mm(double mm, int dpi)
{
    return static_cast<int>(mm * dpi / 25.4 + 0.5);
}

void Send(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    const QPointF local(pos);
    const QPointF global(w->mapToGlobal(pos));
    QMouseEvent e(type, local, local, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
} // namespace

QRect FormPhotoRect(int dpi)
{
    return QRect(Mm(140, dpi), Mm(30, dpi), Mm(35, dpi), Mm(45, dpi));
}

QRect FormSignatureRect(int dpi)
{
    return QRect(Mm(110, dpi), Mm(250, dpi), Mm(70, dpi), Mm(16, dpi));
}

QImage MakeScannedForm(int dpi)
{
    QImage img(Mm(210, dpi), Mm(297, dpi), QImage::Format_RGB32);
    img.fill(QColor(250, 249, 244));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(Mm(4, dpi));
    p.setFont(f);
    p.setPen(QColor(40, 40, 40));
    p.drawText(QPoint(Mm(20, dpi), Mm(25, dpi)), QStringLiteral("MODULO DI RICHIESTA"));
    p.setPen(QPen(QColor(120, 120, 120), std::max(1, dpi / 100)));
    for (int i = 0; i < 18; ++i) {
        const int y = Mm(90 + i * 8.5, dpi);
        p.drawLine(Mm(20, dpi), y, Mm(190, dpi), y);
    }
    const QRect photo = FormPhotoRect(dpi);
    p.fillRect(photo, QColor(70, 110, 170));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(225, 185, 150));
    p.drawEllipse(QRectF(photo.x() + photo.width() * 0.28, photo.y() + photo.height() * 0.18, photo.width() * 0.44,
                         photo.height() * 0.45));
    p.setBrush(QColor(50, 50, 60));
    p.drawRect(QRectF(photo.x() + photo.width() * 0.12, photo.y() + photo.height() * 0.72, photo.width() * 0.76,
                      photo.height() * 0.28));
    const QRect sig = FormSignatureRect(dpi);
    QPainterPath ink;
    ink.moveTo(sig.x() + sig.width() * 0.05, sig.y() + sig.height() * 0.7);
    for (int i = 1; i <= 12; ++i)
        ink.quadTo(sig.x() + sig.width() * (0.05 + 0.075 * i - 0.04), sig.y() + sig.height() * (i % 2 ? 0.1 : 0.9),
                   sig.x() + sig.width() * (0.05 + 0.075 * i), sig.y() + sig.height() * 0.55);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(20, 30, 110), std::max(2, dpi / 50)));
    p.drawPath(ink);
    p.end();
    return img.convertToFormat(QImage::Format_BGR888);
}

QString SavePicture(const QImage& image, const QString& dir, const QString& name)
{
    const QString path = QDir(dir).filePath(name);
    image.save(path);
    return path;
}

void Press(QWidget* w, QPoint pos, Qt::MouseButton button)
{
    Send(w, QEvent::MouseButtonPress, pos, button, button);
}

void Move(QWidget* w, QPoint pos, Qt::MouseButtons buttons)
{
    Send(w, QEvent::MouseMove, pos, Qt::NoButton, buttons);
}

void Release(QWidget* w, QPoint pos, Qt::MouseButton button)
{
    Send(w, QEvent::MouseButtonRelease, pos, button, Qt::NoButton);
}

void Drag(QWidget* w, QPoint from, QPoint to)
{
    // The pointer arrives before it presses, as a hand on a mouse does.
    Move(w, from, Qt::NoButton);
    Press(w, from);
    for (int i = 1; i <= 4; ++i)
        Move(w, from + (to - from) * i / 4);
    Release(w, to);
}

void Key(QWidget* w, Qt::Key key, bool press, Qt::KeyboardModifiers mods)
{
    QKeyEvent e(press ? QEvent::KeyPress : QEvent::KeyRelease, key, mods);
    QApplication::sendEvent(w, &e);
}

bool Wheel(QWidget* w, int dy)
{
    const QPointF pos(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, dy), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
    return e.isAccepted();
}

} // namespace AppTest
