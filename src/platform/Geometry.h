#pragma once
// Rectangles and points in the platform's 32-bit integer form.
//
// A TRect is just four numbers; whether Right/Bottom belong to the rectangle
// depends on who reads it. The view and the selection keep *inclusive*
// rectangles (Right is the last column), drawing and copying read them as
// *exclusive* (Right is one past the last column). The helpers below say in
// their names or comments which reading they use.

#include <cstdint>

struct TPoint {
    int32_t X = 0;
    int32_t Y = 0;
    constexpr TPoint() = default;
    constexpr TPoint(int32_t x, int32_t y) : X(x), Y(y) {}
    constexpr bool operator==(const TPoint& o) const { return X == o.X && Y == o.Y; }
    constexpr bool operator!=(const TPoint& o) const { return !(*this == o); }
};

struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
    constexpr TRect() = default;
    constexpr TRect(int32_t l, int32_t t, int32_t r, int32_t b) : Left(l), Top(t), Right(r), Bottom(b) {}
    constexpr bool operator==(const TRect& o) const
    {
        return Left == o.Left && Top == o.Top && Right == o.Right && Bottom == o.Bottom;
    }
    constexpr bool operator!=(const TRect& o) const { return !(*this == o); }
};

// Marks an unset coordinate in the view subsystem; a rectangle of four of them is no rectangle.
constexpr int32_t kUnset = -65000;
constexpr TRect kUnsetRect{kUnset, kUnset, kUnset, kUnset};
constexpr TPoint kCenterMarker{kUnset, kUnset};

constexpr TPoint Point(int32_t x, int32_t y) { return TPoint(x, y); }
constexpr TRect Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return TRect(l, t, r, b); }

// Inclusive reading: Right and Bottom are the last column and row.
constexpr int32_t WidthOfRect(const TRect& r) { return r.Right - r.Left + 1; }
constexpr int32_t HeightOfRect(const TRect& r) { return r.Bottom - r.Top + 1; }
constexpr bool RectIsEqual(const TRect& a, const TRect& b) { return a == b; }

// Exclusive reading: a rectangle is empty when Right <= Left or Bottom <= Top.
constexpr bool IsRectEmpty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

// The platform's IntersectRect: both read as exclusive; an empty result is (0,0,0,0) and false.
bool IntersectRect(TRect& dst, const TRect& a, const TRect& b);

// The platform's PtInRect: exclusive reading, Left <= X < Right and Top <= Y < Bottom.
constexpr bool PtInRect(const TRect& r, const TPoint& p)
{
    return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}

// Normalised copy: Left <= Right and Top <= Bottom.
TRect NormalizeRect(const TRect& r);
