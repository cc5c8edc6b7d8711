#pragma once
// Cursor ids as the program stores them (16-bit signed) mapped to QCursor.
// Built-in: crDefault 0, crNone -1 (hidden), crArrow -2, crCross -3, and the
// other standard shapes; the program registers its own cursors under 1..5.

#include <QCursor>
#include <cstdint>

using TCursor = int16_t;

constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crNo = -18;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;

namespace Cursors {
// Registers (or replaces) a custom cursor under id (1..).
void Register(TCursor id, const QCursor& cursor);
// The QCursor for an id; unknown ids give the arrow.
QCursor Get(TCursor id);
bool IsRegistered(TCursor id);
} // namespace Cursors
