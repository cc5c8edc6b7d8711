#pragma once
// Helpers for the main window's tests: a settings file in a temporary folder,
// a generated scanned form, and mouse events sent straight to a widget.

#include <QImage>
#include <QPoint>
#include <QString>
#include <Qt>

class QWidget;

namespace AppTest {

// A picture like a scanned A4 form at `dpi`: white paper, printed lines, a
// photo in the upper right (a face on a blue ground) and a signature in ink
// at the bottom. Format_BGR888. Where the photo and signature lie is given by
// FormPhotoRect / FormSignatureRect (picture pixels, exclusive).
QImage MakeScannedForm(int dpi = 100);
QRect FormPhotoRect(int dpi = 100);
QRect FormSignatureRect(int dpi = 100);

// Saves `image` as a PNG in `dir` and answers its path.
QString SavePicture(const QImage& image, const QString& dir, const QString& name);

// Mouse events delivered directly to `w` at `pos` (widget pixels); `buttons`
// is the state of the buttons after the event, as the platform reports it.
void Press(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton);
void Move(QWidget* w, QPoint pos, Qt::MouseButtons buttons = Qt::LeftButton);
void Release(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton);
// A hover at `from`, a press, a few moves and a release at `to`.
void Drag(QWidget* w, QPoint from, QPoint to);
// A key press or release sent to `w`.
void Key(QWidget* w, Qt::Key key, bool press = true, Qt::KeyboardModifiers mods = Qt::NoModifier);
// A wheel step over `w` (dy > 0 is away from the user).
bool Wheel(QWidget* w, int dy);

} // namespace AppTest
