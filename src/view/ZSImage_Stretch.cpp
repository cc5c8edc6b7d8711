// Rendering the back buffer and the view's answers in picture pixels.

#include "view/ZSImage.h"

#include "platform/ImageAlloc.h"
#include "view/ExCopyRect.h"
#include "view/ZSImage_Geometry.h"

#include <algorithm>
#include <cmath>

#include <QApplication>

namespace {

// The reduced copy is made by whole blocks of k x k picture pixels and keeps at
// least two of its pixels per view pixel, so the area average from it looks
// like the one from the full picture.
constexpr int kMaxReduction = 64;

int ReductionFor(double factor)
{
    if (!(factor > 0))
        return 1;
    const double k = std::floor(1.0 / (2.0 * factor));
    return k >= kMaxReduction ? kMaxReduction : std::max(1, static_cast<int>(k));
}

void FillBgr(QImage& img, const TRect& r, TColor c) { FillRectBgr(img, r, GetBValue(c), GetGValue(c), GetRValue(c)); }

} // namespace

void TZSImage::StretchFromPoint(const QImage& Src, QImage& Dst, const TPoint& Center, double Factor,
                                TRect& OrigRect, TRect& CanvasRect)
{
    if (Src.isNull())
        return;
    const int32_t W = width();
    const int32_t H = height();
    // The buffer keeps its memory while the view's size and the picture's format stay.
    if (Src.format() == QImage::Format_BGR888) {
        EnsureBgrImage(Dst, W, H);
    } else if (Dst.format() != Src.format() || Dst.width() != W || Dst.height() != H) {
        Dst = W > 0 && H > 0 ? QImage(W, H, Src.format()) : QImage();
    }
    if (Dst.isNull())
        return;

    const TStretchLayout L =
        ComputeStretchLayout(Src.width(), Src.height(), W, H, Center, Factor, FMargin, FEnlarge, FBorderWidth);
    if (!L.Valid) {
        // The view is smaller than its margins: nothing of the picture fits.
        FillBgr(Dst, TRect(0, 0, W, H), FBkgColor);
        return;
    }
    if (L.FillBackground)
        FillBgr(Dst, TRect(0, 0, W, H), FBkgColor);

    bool done = false;
    RenderFromReduced(Src, Dst, L.Span, L.Canvas, done);
    if (!done)
        ExCopyRect(Dst, L.Canvas, Src, L.Span);

    if (L.WantBorder) {
        // Ring i lies i pixels outside the picture (exclusive reading of the frame).
        const TRect& c = L.Canvas;
        for (int32_t i = 1; i <= FBorderWidth; ++i) {
            const int32_t l = c.Left - i, t = c.Top - i, r = c.Right + i, b = c.Bottom + i;
            FillBgr(Dst, TRect(l, t, r, t + 1), FBorderColor);
            FillBgr(Dst, TRect(l, b - 1, r, b), FBorderColor);
            FillBgr(Dst, TRect(l, t, l + 1, b), FBorderColor);
            FillBgr(Dst, TRect(r - 1, t, r, b), FBorderColor);
        }
    }
    OrigRect = TRect(L.Span.Left, L.Span.Top, L.Span.Right - 1, L.Span.Bottom - 1);
    CanvasRect = TRect(L.Canvas.Left, L.Canvas.Top, L.Canvas.Right - 1, L.Canvas.Bottom - 1);
}

void TZSImage::RenderFromReduced(const QImage& Src, QImage& Dst, const TRect& span, const TRect& canvas, bool& done)
{
    done = false;
    // Only a whole-picture rendering (fit mode) can use the reduced copy.
    if (span != TRect(0, 0, Src.width(), Src.height()))
        return;
    const double factor = static_cast<double>(canvas.Right - canvas.Left) / Src.width();
    const int k = ReductionFor(factor);
    if (k < 2)
        return;
    if (FReduced.isNull() || FReducedKey != Src.cacheKey() || FReducedK > k) {
        FReduced = BoxReduce(Src, k);
        FReducedKey = Src.cacheKey();
        FReducedK = k;
        if (FReduced.isNull())
            return;
    }
    done = ExCopyRect(Dst, canvas, FReduced, TRect(0, 0, FReduced.width(), FReduced.height()));
}

void TZSImage::StretchImage()
{
    StretchImage(TPoint(FOrigBmpRect.Left + WidthOfRect(FOrigBmpRect) / 2,
                        FOrigBmpRect.Top + HeightOfRect(FOrigBmpRect) / 2));
}

void TZSImage::StretchImage(const TPoint& ACenter)
{
    StretchFromPoint(FOrigBmp, FCanvasBmp, ACenter, FStretchFactor, FOrigBmpRect, FCanvasBmpRect);
    Paint();
    ImageChanged();
}

void TZSImage::SetStretchFactor(double Value)
{
    if (!(Value >= 0) || !std::isfinite(Value))
        Value = 0;
    if (Value == FStretchFactor)
        return;
    FStretchFactor = Value;
    StretchImage();
}

double TZSImage::GetScale() const { return ScaleOfRects(FOrigBmpRect, FCanvasBmpRect); }

TPoint TZSImage::GetCoordinates() const { return CoordinatesAt(FCoords, GetScale(), FCanvasBmpRect, FOrigBmpRect); }

bool TZSImage::GetSelection(TRect& AOrigRect, TRect& AStretchRect) const
{
    if (!FSelection->SelectionExist())
        return false;
    if (!SelectionToImage(FSelection->GetSelRect(), FCanvasBmpRect, FOrigBmpRect, FOrigBmp.width(),
                          FOrigBmp.height(), AOrigRect, AStretchRect)) {
        AStretchRect = TRect();
        return false;
    }
    return true;
}

void TZSImage::ResizeImage()
{
    if (FOrigBmp.isNull())
        return;
    TRect o, s;
    if (!GetSelection(o, s))
        return;
    const int32_t w = o.Right - o.Left;
    const int32_t h = o.Bottom - o.Top;
    // A frame thinner than one picture pixel would replace the picture by nothing.
    if (w <= 0 || h <= 0)
        return;
    QImage part = NewBgrImage(w, h);
    if (part.isNull()) {
        QApplication::beep();
        return;
    }
    part.fill(Qt::black);
    const QImage area = FOrigBmp.copy(o.Left, o.Top, w, h);
    if (FSelection->SelectionForm() == sfEllipse)
        CopyInsideEllipse(part, area.convertToFormat(QImage::Format_BGR888), TRect(0, 0, w, h));
    else
        part = area.convertToFormat(QImage::Format_BGR888);
    SetImage(part);
}

void TZSImage::UpdateRect(const TRect& AOrigRect, const TRect& AStretchRect)
{
    ExCopyRect(FCanvasBmp, AStretchRect, FOrigBmp, AOrigRect);
    Paint();
    ImageChanged();
}

void TZSImage::DoScroll(int32_t X, int32_t Y)
{
    if (!PtInRect(TRect(0, 0, width(), height()), TPoint(X, Y)))
        return;
    TPoint center;
    if (PanCenter(TPoint(X, Y), OrigMousePoint, FOrigBmpRect, FOrigBmp.width(), FOrigBmp.height(), center))
        StretchImage(center);
    OrigMousePoint = TPoint(X, Y);
}

void TZSImage::resizeEvent(QResizeEvent*)
{
    FSelection->setGeometry(0, 0, width(), height());
    if (!FOrigBmp.isNull())
        FResizeTimer.start();
}

void TZSImage::SizeChanged()
{
    if (!FOrigBmp.isNull() && FCanvasBmp.size() != size())
        StretchImage();
    FSelection->setGeometry(0, 0, width(), height());
}
