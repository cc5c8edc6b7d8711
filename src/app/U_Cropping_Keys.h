#pragma once
// Virtual-key codes of the keys the main window reacts to, and the mapping
// from Qt's key events. Letters and the digits of the main keyboard are their
// upper-case character codes; the numeric pad has codes of its own.

class QKeyEvent;
class QObject;

constexpr int VK_TAB = 9;
constexpr int VK_RETURN = 13;
constexpr int VK_ESCAPE = 27;
constexpr int VK_PRIOR = 33; // Page Up
constexpr int VK_NEXT = 34;  // Page Down
constexpr int VK_LEFT = 37;
constexpr int VK_UP = 38;
constexpr int VK_RIGHT = 39;
constexpr int VK_DOWN = 40;
constexpr int VK_NUMPAD0 = 96;
constexpr int VK_MULTIPLY = 106;
constexpr int VK_ADD = 107;
constexpr int VK_SUBTRACT = 109;
constexpr int VK_F1 = 112;
constexpr int VK_F2 = 113;
constexpr int VK_OEM_PLUS = 187;
constexpr int VK_OEM_MINUS = 189;

// The virtual-key code of a key event; 0 for keys without one here.
int VirtualKeyOf(const QKeyEvent& e);

// The object a key event now being delivered was sent to first (the innermost
// delivery when a handler's nested event loop delivers another key), or null
// when the application object does not mark deliveries. The main window acts
// on a key there only: when a command runs a dialog of its own, the focus may
// move onto an ancestor of that first receiver while the event still travels
// up the parents, and the key must not run a second time there.
QObject* KeyEventFirstReceiver();

// Marks one key event's delivery, for the lifetime of the object.
class TKeyDelivery {
public:
    explicit TKeyDelivery(QObject* receiver);
    ~TKeyDelivery();
    TKeyDelivery(const TKeyDelivery&) = delete;
    TKeyDelivery& operator=(const TKeyDelivery&) = delete;
};
