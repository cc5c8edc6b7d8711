#pragma once
// Mouse-event types of the image view and its selection overlay.
//
// Events are plain std::function members: an unassigned one is simply skipped,
// and they run synchronously in the order the view raises them, which the crop
// workflow relies on (the change event before the move event of the same mouse
// event; the up event after the frame has been normalised).

#include <QObject>
#include <Qt>

#include <cstdint>
#include <functional>

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// A set of TShiftFlag values: keyboard modifiers and the mouse buttons held.
enum TShiftFlag : unsigned {
    ssShift = 1u << 0,
    ssAlt = 1u << 1,
    ssCtrl = 1u << 2,
    ssLeft = 1u << 3,
    ssRight = 1u << 4,
    ssMiddle = 1u << 5,
    ssDouble = 1u << 6,
};
using TShiftState = unsigned;

TShiftState ShiftStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
// The button of a press or release; buttons other than right and middle count as left.
TMouseButton MouseButtonOf(Qt::MouseButton button);

// Sender is the object that raised the event.
using TNotifyEvent = std::function<void(QObject* Sender)>;
// X and Y are view pixels.
using TzsiMouseDownUpEvent = std::function<void(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)>;
using TzsiMouseMoveEvent = std::function<void(TShiftState Shift, int32_t X, int32_t Y)>;
