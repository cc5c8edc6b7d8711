#pragma once
// The program's own pictures, kept as SVG among the resources and rendered at
// the size each control needs.

#include <QCursor>
#include <QImage>
#include <QSize>

namespace Art {
inline constexpr const char* kResetDisabled = ":/glyphs/reset_disabled.svg";
inline constexpr const char* kFotoPlaceholder = ":/images/foto_placeholder.svg";
inline constexpr const char* kFirmaPlaceholder = ":/images/firma_placeholder.svg";
inline constexpr const char* kLogo = ":/images/logo.svg";
inline constexpr const char* kCursorLens = ":/cursors/lens.svg";
inline constexpr const char* kCursorCrop = ":/cursors/crop.svg";
inline constexpr const char* kCursorPaint = ":/cursors/paint.svg";
inline constexpr const char* kCursorHand1 = ":/cursors/hand_open.svg";
inline constexpr const char* kCursorHand2 = ":/cursors/hand_grab.svg";

// Renders an SVG resource into a transparent ARGB picture of the given size;
// a missing resource gives a transparent picture, never a null one.
QImage Render(const char* resource, QSize size);
// The six 28 x 28 button glyphs: scanner, files, reset, options, save, exit.
QImage Glyph(int index);
// Step marker of the guide panel, 1 to 3.
QImage StepMarker(int step);
// A 32 x 32 cursor with its hot spot where the picture points.
QCursor Cursor(const char* resource);
} // namespace Art
