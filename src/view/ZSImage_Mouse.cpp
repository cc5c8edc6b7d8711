// Mouse input of the view itself (while the selection overlay is hidden) and
// the application-wide key state the pan key is read from.

#include "view/KeyState.h"
#include "view/ZSImage.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <set>

namespace {

int QtKeyOf(int32_t vk)
{
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
        return vk;
    switch (vk) {
    case VK_SPACE: return Qt::Key_Space;
    case VK_SHIFT: return Qt::Key_Shift;
    case VK_CONTROL: return Qt::Key_Control;
    case VK_MENU: return Qt::Key_Alt;
    case 0x0D: return Qt::Key_Return;
    case 0x1B: return Qt::Key_Escape;
    case 0x09: return Qt::Key_Tab;
    default: return 0;
    }
}

class KeyFilter : public QObject
{
public:
    using QObject::QObject;
    std::set<int> held;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* k = static_cast<QKeyEvent*>(event);
            if (!k->isAutoRepeat()) {
                if (event->type() == QEvent::KeyPress)
                    held.insert(k->key());
                else
                    held.erase(k->key());
            }
            break;
        }
        case QEvent::ApplicationDeactivate:
            held.clear();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }
};

KeyFilter* filter = nullptr;

} // namespace

namespace KeyState {

void Install()
{
    if (filter || !QCoreApplication::instance())
        return;
    filter = new KeyFilter(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(filter);
}

bool IsKeyHeld(int32_t virtualKey)
{
    const int key = QtKeyOf(virtualKey);
    return filter && key != 0 && filter->held.count(key) != 0;
}

} // namespace KeyState

namespace {
// The key state a mouse message carries: its buttons plus Shift and Ctrl.
bool LeftButtonAlone(const QMouseEvent* e)
{
    return e->buttons() == Qt::LeftButton && !(e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
}
} // namespace

void TZSImage::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        if (FMagnifierActivated && LeftButtonAlone(event) && !KeyState::IsKeyHeld(FKeyToScroll)) {
            ChangeCursor(crNone);
            DoMagnify(p.x(), p.y());
        }
        OrigMousePoint = TPoint(p.x(), p.y());
        FLeftPressed = true;
    } else if (event->button() == Qt::RightButton) {
        if (CallPopUpMenu(FPopUpMenu))
            FPopUpMenu->popup(QCursor::pos());
    } else {
        return;
    }
    FCoords = TPoint(p.x(), p.y());
}

void TZSImage::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if ((event->buttons() & Qt::LeftButton) && KeyState::IsKeyHeld(FKeyToScroll))
        DoScroll(p.x(), p.y());
    else if (FMagnifierActivated && LeftButtonAlone(event))
        DoMagnify(p.x(), p.y());
    FCoords = TPoint(p.x(), p.y());
}

void TZSImage::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = event->position().toPoint();
    if (FMagnifierActivated) {
        Paint();
        ChangeCursor(FMagnifierCursor);
        FOldMagnifierRect = kUnsetRect;
    }
    FCoords = TPoint(p.x(), p.y());
    // A click is a left press and release both on the view (a double click's
    // second release is none).
    const bool clicked = FLeftPressed && rect().contains(p);
    FLeftPressed = false;
    if (clicked && OnClick)
        OnClick(this);
}

void TZSImage::mouseDoubleClickEvent(QMouseEvent*) {}
