#pragma once
// TColor: 0x00BBGGRR as the platform stores colours ($146D16 is the program's green).

#include <QColor>
#include <cstdint>

using TColor = uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clProgramGreen = 0x146D16;

constexpr uint8_t GetRValue(TColor c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t GetGValue(TColor c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t GetBValue(TColor c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }
constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}

inline QColor ToQColor(TColor c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline TColor FromQColor(const QColor& q)
{
    return RGB(static_cast<uint8_t>(q.red()), static_cast<uint8_t>(q.green()), static_cast<uint8_t>(q.blue()));
}
