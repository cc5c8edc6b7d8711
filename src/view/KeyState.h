#pragma once
// Keyboard state as the view needs it: "is this key held right now?".
//
// The pan key is a virtual-key code as the settings store it (32 = space bar).
// Its state is followed by an event filter on the application object, so it is
// seen whichever widget has the focus; the filter is installed by the first
// view that is created (or explicitly).

#include <cstdint>

constexpr int32_t VK_SPACE = 0x20;
constexpr int32_t VK_SHIFT = 0x10;
constexpr int32_t VK_CONTROL = 0x11;
constexpr int32_t VK_MENU = 0x12;

namespace KeyState {
// Installs the application-wide filter once; later calls do nothing.
void Install();
// True between the press and the release of the key, as the filter saw them.
// Every key counts as released when the application loses the focus, because
// the release would then never reach us.
bool IsKeyHeld(int32_t virtualKey);
} // namespace KeyState
