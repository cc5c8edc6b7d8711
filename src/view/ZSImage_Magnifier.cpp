// Drawing aids of the view: the guide lines and the magnifier.

#include "view/ZSImage.h"

#include "platform/ImageAlloc.h"
#include "view/ExCopyRect.h"
#include "view/ZSImage_Geometry.h"

#include <QPainter>

#include <algorithm>

void TZSImage::DrawGrid()
{
    if (FCanvasBmp.isNull())
        return;
    const int32_t W = FCanvasBmp.width();
    const int32_t H = FCanvasBmp.height();
    // Lines from column 30 to column W - 30, that end column excluded.
    const int32_t x0 = 30;
    const int32_t x1 = W - 30;
    const TRect cols = x1 >= x0 ? TRect(x0, 0, x1, 0) : TRect(x1 + 1, 0, x0 + 1, 0);
    for (int32_t i = 0; i < kGridLines; ++i) {
        const int32_t y = GridRow(i, H);
        FillRectBgr(FCanvasBmp, TRect(cols.Left, y, cols.Right, y + 1), 0x00, 0x80, 0x00);
    }
}

void TZSImage::DoMagnify(int32_t X, int32_t Y)
{
    const int32_t W = width();
    const int32_t H = height();
    SettleSource();
    if (FOrigBmp.isNull() || FCanvasBmp.isNull() || X < 0 || X > W || Y < 0 || Y > H || FMagnifierFactor == 0)
        return;
    // The lens centre stays on the shown picture.
    X = std::clamp(X, FCanvasBmpRect.Left, std::max(FCanvasBmpRect.Left, FCanvasBmpRect.Right));
    Y = std::clamp(Y, FCanvasBmpRect.Top, std::max(FCanvasBmpRect.Top, FCanvasBmpRect.Bottom));
    TRect S, D;
    MagnifierLayout(X, Y, W, H, FCanvasBmpRect, FOrigBmpRect, GetScale(), FMagnifierFactor, FOrigBmp.width(),
                    FOrigBmp.height(), S, D);
    if (S == FOldMagnifierRect)
        return;
    const int32_t r = LensRadius(FMagnifierSize, W);
    QImage shown;
    if (r == 0) {
        shown = NewBgrImage(W, H);
        if (shown.isNull())
            return;
        FillRectBgr(shown, TRect(0, 0, W, H), GetBValue(FBkgColor), GetGValue(FBkgColor), GetRValue(FBkgColor));
        ExCopyRect(shown, D, FOrigBmp, S);
    } else {
        QImage magnified = FCanvasBmp.copy();
        ExCopyRect(magnified, D, FOrigBmp, S);
        QImage lens = FCanvasBmp.copy();
        const TRect box(X - r, Y - r, X + r + 1, Y + r + 1);
        CopyInsideEllipse(lens, magnified, box);
        shown = lens.convertToFormat(QImage::Format_RGB32);
        // Plain grey outline; it goes with the next repaint like the lens.
        QPainter p(&shown);
        p.setPen(QColor(0x80, 0x80, 0x80));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRect(box.Left, box.Top, 2 * r, 2 * r));
    }
    ShowOnSurface(shown);
    FOldMagnifierRect = S;
}
