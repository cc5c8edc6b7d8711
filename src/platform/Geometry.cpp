#include "platform/Geometry.h"

#include <algorithm>

bool IntersectRect(TRect& dst, const TRect& a, const TRect& b)
{
    TRect r(std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom));
    if (IsRectEmpty(r)) {
        dst = TRect();
        return false;
    }
    dst = r;
    return true;
}

TRect NormalizeRect(const TRect& r)
{
    return TRect(std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
                 std::max(r.Top, r.Bottom));
}
