// Rendering the back buffer and the view's answers in picture pixels.

#include "view/ZSImage.h"

#include "platform/ImageAlloc.h"
#include "view/ExCopyRect.h"
#include "view/ZSImage_Geometry.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QTimer>

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

    if (L.WantBorder)
        DrawPictureBorder(Dst, L.Canvas);
    OrigRect = TRect(L.Span.Left, L.Span.Top, L.Span.Right - 1, L.Span.Bottom - 1);
    CanvasRect = TRect(L.Canvas.Left, L.Canvas.Top, L.Canvas.Right - 1, L.Canvas.Bottom - 1);
}

void TZSImage::DrawPictureBorder(QImage& Dst, const TRect& Canvas) const
{
    // Ring i lies i pixels outside the picture (exclusive reading of the frame).
    for (int32_t i = 1; i <= FBorderWidth; ++i) {
        const int32_t l = Canvas.Left - i, t = Canvas.Top - i, r = Canvas.Right + i, b = Canvas.Bottom + i;
        FillBgr(Dst, TRect(l, t, r, t + 1), FBorderColor);
        FillBgr(Dst, TRect(l, b - 1, r, b), FBorderColor);
        FillBgr(Dst, TRect(l, t, l + 1, b), FBorderColor);
        FillBgr(Dst, TRect(r - 1, t, r, b), FBorderColor);
    }
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
    SettleSource();
    FCanvasStale = false;
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
    SettleSource();
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
    SettleSource();
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

// --- a source on its way ------------------------------------------------------------

const QImage& TZSImage::OrigBitmap() const
{
    SettleSource();
    return FOrigBmp;
}

QImage TZSImage::SetPendingSource(const QImage& StandIn, TPendingSource Pending)
{
    // The stand-in lets go of the view's hold on the buffer the final source
    // is written into, so that buffer is not copied on its first write.
    QImage previous = std::move(FOrigBmp);
    FOrigBmp = StandIn;
    FPending = std::move(Pending);
    FCanvasStale = false;
    return previous;
}

void TZSImage::SettleSource() const
{
    if (!FPending.Settle)
        return;
    const std::function<QImage()> settle = std::move(FPending.Settle);
    FPending = TPendingSource();
    auto* self = const_cast<TZSImage*>(this);
    const QImage final = settle();
    if (final.size() == FOrigBmp.size())
        self->FOrigBmp = final;
    // The reader came first; the back buffer, a preview until now, is made
    // again from the final source once the reader is done.
    FCanvasStale = true;
    QTimer::singleShot(0, self, [self] {
        if (!self->FCanvasStale || self->FOrigBmp.isNull())
            return;
        self->FCanvasStale = false;
        self->StretchFromPoint(self->FOrigBmp, self->FCanvasBmp,
                               TPoint(self->FOrigBmpRect.Left + WidthOfRect(self->FOrigBmpRect) / 2,
                                      self->FOrigBmpRect.Top + HeightOfRect(self->FOrigBmpRect) / 2),
                               self->FStretchFactor, self->FOrigBmpRect, self->FCanvasBmpRect);
        if (self->Grid)
            self->DrawGrid();
        self->update();
        self->ImageChanged();
    });
}

void TZSImage::DropPendingSource()
{
    FCanvasStale = false;
    if (!FPending.Settle)
        return;
    const std::function<void()> drop = std::move(FPending.Drop);
    FPending = TPendingSource();
    if (drop)
        drop();
}

void TZSImage::ReplaceSource(const QImage& Source, bool Render)
{
    FPending = TPendingSource();
    FOrigBmp = Source;
    if (Render)
        StretchImage();
}

void TZSImage::PreviewSource(const TSourcePart& Part)
{
    const QSize size = FOrigBmp.size();
    const int32_t W = width();
    const int32_t H = height();
    if (size.isEmpty() || !Part || W <= 0 || H <= 0)
        return;
    EnsureBgrImage(FCanvasBmp, W, H);
    if (FCanvasBmp.isNull())
        return;
    // The very layout StretchImage gives: the source keeps its size.
    const TPoint center(FOrigBmpRect.Left + WidthOfRect(FOrigBmpRect) / 2,
                        FOrigBmpRect.Top + HeightOfRect(FOrigBmpRect) / 2);
    const TStretchLayout L = ComputeStretchLayout(size.width(), size.height(), W, H, center, FStretchFactor, FMargin,
                                                  FEnlarge, FBorderWidth);
    if (!L.Valid) {
        FillBgr(FCanvasBmp, TRect(0, 0, W, H), FBkgColor);
    } else {
        if (L.FillBackground)
            FillBgr(FCanvasBmp, TRect(0, 0, W, H), FBkgColor);
        const int spanW = L.Span.Right - L.Span.Left;
        const int k = spanW > 0 ? ReductionFor(static_cast<double>(L.Canvas.Right - L.Canvas.Left) / spanW) : 1;
        QImage part;
        Part(L.Span, k, part);
        if (!part.isNull())
            ExCopyRect(FCanvasBmp, L.Canvas, part, TRect(0, 0, part.width(), part.height()));
        if (L.WantBorder)
            DrawPictureBorder(FCanvasBmp, L.Canvas);
        FOrigBmpRect = TRect(L.Span.Left, L.Span.Top, L.Span.Right - 1, L.Span.Bottom - 1);
        FCanvasBmpRect = TRect(L.Canvas.Left, L.Canvas.Top, L.Canvas.Right - 1, L.Canvas.Bottom - 1);
    }
    Paint();
    ImageChanged();
}
