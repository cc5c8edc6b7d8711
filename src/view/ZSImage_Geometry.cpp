#include "view/ZSImage_Geometry.h"

#include "platform/Rounding.h"

#include <algorithm>
#include <cmath>

namespace {

// Rounds a long double that may be far outside the 32-bit range (absurd zoom
// factors) without undefined behaviour; results stay well inside int32.
int64_t RoundClamped(long double v)
{
    constexpr long double kLimit = 1.0e9L;
    if (!(v > -kLimit))
        v = -kLimit;
    if (v > kLimit)
        v = kLimit;
    return Round(v);
}

// A scale of 0 or less (nothing of the picture on screen) would divide by
// zero in the mappings; one to one is the harmless stand-in.
long double UsableScale(double s) { return s > 0 && std::isfinite(s) ? static_cast<long double>(s) : 1.0L; }

} // namespace

TStretchLayout ComputeStretchLayout(int32_t srcW, int32_t srcH, int32_t W, int32_t H, TPoint center,
                                    double factor, int32_t margin, bool enlarge, int32_t borderWidth)
{
    TStretchLayout L;
    if (srcW <= 0 || srcH <= 0 || W <= 0 || H <= 0)
        return L;
    double f = std::isfinite(factor) ? factor : 0.0;
    if (f <= 0) {
        // The factor is held as a double, the divisions by it run in extended precision.
        f = static_cast<double>(std::min(static_cast<long double>(W - 2 * margin) / srcW,
                                         static_cast<long double>(H - 2 * margin) / srcH));
        if (!enlarge && f > 1)
            f = 1;
        if (f <= 0)
            return L;
    }
    L.Factor = f;
    // At least one source pixel: a factor wider than the view would otherwise
    // leave an empty span and a zero scale.
    const int64_t spanW = std::max<int64_t>(1, RoundClamped(static_cast<long double>(W) / f));
    const int64_t spanH = std::max<int64_t>(1, RoundClamped(static_cast<long double>(H) / f));
    const int64_t cx = center.X == kUnset ? srcW / 2 : center.X;
    const int64_t cy = center.Y == kUnset ? srcH / 2 : center.Y;

    auto span = [](int64_t c, int64_t len, int64_t size, int64_t& lo, int64_t& hi) {
        lo = c - len / 2;
        if (lo < 0)
            lo = 0;
        hi = lo + len;
        if (hi > size) {
            hi = size;
            lo = hi - len;
            if (lo < 0)
                lo = 0;
        }
    };
    int64_t left, right, top, bottom;
    span(cx, spanW, srcW, left, right);
    span(cy, spanH, srcH, top, bottom);
    L.Span = TRect(static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right),
                   static_cast<int32_t>(bottom));

    const auto dstW = static_cast<int32_t>(RoundClamped(static_cast<long double>(right - left) * f));
    const auto dstH = static_cast<int32_t>(RoundClamped(static_cast<long double>(bottom - top) * f));
    if (W > dstW || H > dstH) {
        const int32_t l = (W - dstW) / 2;
        const int32_t t = (H - dstH) / 2;
        L.Canvas = TRect(l, t, l + dstW, t + dstH);
        L.FillBackground = true;
        L.WantBorder = borderWidth > 0 && margin >= borderWidth;
    } else {
        L.Canvas = TRect(0, 0, W, H);
    }
    L.Valid = true;
    return L;
}

double ScaleOfRects(const TRect& origRect, const TRect& canvasRect)
{
    const int32_t ow = WidthOfRect(origRect);
    const int32_t oh = HeightOfRect(origRect);
    if (oh > ow)
        return static_cast<double>(static_cast<long double>(HeightOfRect(canvasRect)) / oh);
    if (ow <= 0)
        return 0.0;
    return static_cast<double>(static_cast<long double>(WidthOfRect(canvasRect)) / ow);
}

int32_t ViewToImageX(int32_t x, double scale, const TRect& canvasRect, const TRect& origRect)
{
    return static_cast<int32_t>(RoundClamped(static_cast<long double>(x - canvasRect.Left) / UsableScale(scale)) +
                                origRect.Left);
}

int32_t ViewToImageY(int32_t y, double scale, const TRect& canvasRect, const TRect& origRect)
{
    return static_cast<int32_t>(RoundClamped(static_cast<long double>(y - canvasRect.Top) / UsableScale(scale)) +
                                origRect.Top);
}

TPoint CoordinatesAt(TPoint p, double scale, const TRect& canvasRect, const TRect& origRect)
{
    TRect hit;
    IntersectRect(hit, TRect(p.X, p.Y, p.X + 1, p.Y + 1), canvasRect);
    TPoint r(ViewToImageX(hit.Left, scale, canvasRect, origRect), ViewToImageY(hit.Top, scale, canvasRect, origRect));
    r.X = std::max(r.X, 0);
    r.Y = std::max(r.Y, 0);
    return r;
}

bool SelectionToImage(const TRect& sel, const TRect& canvasRect, const TRect& origRect, int32_t picW,
                      int32_t picH, TRect& origRect_out, TRect& stretchRect_out)
{
    TRect s;
    if (!IntersectRect(s, sel, canvasRect))
        return false;
    const long double sc = UsableScale(ScaleOfRects(origRect, canvasRect));
    TRect o;
    o.Left = static_cast<int32_t>(RoundClamped((s.Left - canvasRect.Left) / sc) + origRect.Left);
    o.Top = static_cast<int32_t>(RoundClamped((s.Top - canvasRect.Top) / sc) + origRect.Top);
    o.Right = static_cast<int32_t>(RoundClamped((s.Right - canvasRect.Left + 1) / sc) + origRect.Left);
    o.Bottom = static_cast<int32_t>(RoundClamped((s.Bottom - canvasRect.Top + 1) / sc) + origRect.Top);
    // Right and Bottom are exclusive for every reader: clamping them to the
    // last pixel would leave the picture's last column and row uncroppable.
    if (o.Right > picW)
        o.Right = picW;
    if (o.Bottom > picH)
        o.Bottom = picH;
    origRect_out = o;
    stretchRect_out = s;
    return true;
}

bool PanCenter(TPoint p, TPoint anchor, const TRect& origRect, int32_t picW, int32_t picH, TPoint& center)
{
    const int32_t dx = p.X - anchor.X;
    const int32_t dy = p.Y - anchor.Y;
    const bool room = (dx > 0 && origRect.Left > 0) || (dx < 0 && origRect.Right < picW - 1) ||
                      (dy > 0 && origRect.Top > 0) || (dy < 0 && origRect.Bottom < picH - 1);
    if (!room)
        return false;
    center = TPoint(origRect.Left + WidthOfRect(origRect) / 2 - dx, origRect.Top + HeightOfRect(origRect) / 2 - dy);
    return true;
}

void MagnifierLayout(int32_t x, int32_t y, int32_t viewW, int32_t viewH, const TRect& canvasRect,
                     const TRect& origRect, double scale, double f, int32_t picW, int32_t picH, TRect& src,
                     TRect& dst)
{
    const long double F = f;
    const int32_t ix = ViewToImageX(x, scale, canvasRect, origRect);
    const int32_t iy = ViewToImageY(y, scale, canvasRect, origRect);
    src.Left = ix - static_cast<int32_t>(RoundClamped(x / F));
    if (src.Left < 0) {
        dst.Left = static_cast<int32_t>(RoundClamped(-src.Left * F));
        src.Left = 0;
    } else {
        dst.Left = 0;
    }
    src.Top = iy - static_cast<int32_t>(RoundClamped(y / F));
    if (src.Top < 0) {
        dst.Top = static_cast<int32_t>(RoundClamped(-src.Top * F));
        src.Top = 0;
    } else {
        dst.Top = 0;
    }
    src.Right = std::min<int32_t>(static_cast<int32_t>(RoundClamped((viewW - x) / F)) + ix, picW);
    src.Bottom = std::min<int32_t>(static_cast<int32_t>(RoundClamped((viewH - y) / F)) + iy, picH);
    dst.Right = static_cast<int32_t>(RoundClamped((src.Right - src.Left) * F)) + dst.Left;
    dst.Bottom = static_cast<int32_t>(RoundClamped((src.Bottom - src.Top) * F)) + dst.Top;
}

int32_t LensRadius(int32_t magnifierSize, int32_t viewW)
{
    int32_t r = magnifierSize / 2;
    if (magnifierSize > viewW - 50)
        r = (viewW - 50) / 2;
    // A view narrower than 50 pixels leaves no room for a lens: magnify the whole view.
    return std::max(r, 0);
}

int32_t GridRow(int32_t i, int32_t viewH) { return 70 + i * ((viewH - 70) / 25); }

int32_t HitTestFrame(const TRect& sel, int32_t x, int32_t y, bool moveOnly)
{
    const int32_t L = sel.Left, T = sel.Top, R = sel.Right, B = sel.Bottom;
    auto in = [x, y](int32_t x1, int32_t x2, int32_t y1, int32_t y2) {
        return x >= x1 && x < x2 && y >= y1 && y < y2;
    };
    if (moveOnly && in(L - 3, R + 4, T - 3, B + 4))
        return 9;
    if (in(L - 3, L + 4, T - 3, T + 4)) return 1;
    if (in(L + 4, R - 3, T - 3, T + 4)) return 2;
    if (in(R - 3, R + 4, T - 3, T + 4)) return 3;
    if (in(R - 3, R + 4, T + 4, B - 3)) return 4;
    if (in(R - 3, R + 4, B - 3, B + 4)) return 5;
    if (in(L + 4, R - 3, B - 3, B + 4)) return 6;
    if (in(L - 3, L + 4, B - 3, B + 4)) return 7;
    if (in(L - 3, L + 4, T + 4, B - 3)) return 8;
    if (in(L + 4, R - 3, T + 4, B - 3)) return 9;
    return -1;
}

TFrameChange ChangeFrame(const TRect& sel, int32_t state, int32_t x, int32_t y, int32_t prevX, int32_t prevY,
                         const TRect& cr, int32_t scrollX, int32_t scrollY)
{
    int32_t L = sel.Left, T = sel.Top, R = sel.Right, B = sel.Bottom;
    const int32_t dX = x - prevX;
    const int32_t dY = y - prevY;
    const int32_t W0 = R - L;
    const int32_t H0 = B - T;
    switch (state) {
    case 0: R = x; B = y; break;
    case 1: L += dX; T += dY; break;
    case 2: T += dY; break;
    case 3: R += dX; T += dY; break;
    case 4: R += dX; break;
    case 5: R += dX; B += dY; break;
    case 6: B += dY; break;
    case 7: L += dX; B += dY; break;
    case 8: L += dX; break;
    case 9:
        L += dX;
        T += dY;
        R = L + W0;
        B = T + H0;
        break;
    case 10:
        L = x - W0 / 2;
        R = L + W0;
        T = y - H0 / 2;
        B = T + H0;
        break;
    default: break;
    }
    // Only a frame moved as a whole (states 9 and 10) keeps its size at an
    // edge and arms edge scrolling; drawing and resizing are merely clamped.
    const bool whole = state >= 9;
    if (L < cr.Left) {
        L = cr.Left;
        if (whole)
            R = L + W0;
        scrollX = whole ? -1 : 0;
    } else if (L >= cr.Right) {
        L = cr.Right - 1;
    } else {
        scrollX = 0;
    }
    if (T < cr.Top) {
        T = cr.Top;
        if (whole)
            B = T + H0;
        scrollY = whole ? -1 : 0;
    } else if (T >= cr.Bottom) {
        T = cr.Bottom - 1;
    } else {
        scrollY = 0;
    }
    // The far edges stop at the picture on both sides, so a frame drawn
    // leftwards or upwards into the margin stays on the picture as well.
    if (R >= cr.Right) {
        R = cr.Right;
        if (whole)
            L = R - W0;
        scrollX = whole ? 1 : 0;
    } else if (R < cr.Left) {
        R = cr.Left;
    }
    if (B >= cr.Bottom) {
        B = cr.Bottom;
        if (whole)
            T = B - H0;
        scrollY = whole ? 1 : 0;
    } else if (B < cr.Top) {
        B = cr.Top;
    }
    TFrameChange c;
    c.Sel = TRect(L, T, R, B);
    c.ScrollX = scrollX;
    c.ScrollY = scrollY;
    return c;
}
