// The selection overlay: state, painting and the darkening mask.

#include "view/ZSImage_Selection.h"

#include "view/ExCopyRect.h"
#include "view/KeyState.h"
#include "view/ZSImage.h"
#include "view/ZSImage_Geometry.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

#include <algorithm>
#include <stdexcept>

namespace {

constexpr QRgb kXorGrey = 0x808080;
constexpr QRgb kXorWhite = 0xFFFFFF;

// XOR of one row span [x0, x1) of a 32-bit picture, clipped.
void XorSpan(QImage& img, int32_t y, int32_t x0, int32_t x1, QRgb mask)
{
    if (y < 0 || y >= img.height())
        return;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, img.width());
    auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int32_t x = x0; x < x1; ++x)
        row[x] ^= mask;
}

void XorPixel(QImage& img, int32_t x, int32_t y, QRgb mask) { XorSpan(img, y, x, x + 1, mask); }

// XOR of the filled rectangle [x0, x1) x [y0, y1).
void XorFill(QImage& img, int32_t x0, int32_t y0, int32_t x1, int32_t y1, QRgb mask)
{
    for (int32_t y = std::max(y0, 0); y < std::min(y1, img.height()); ++y)
        XorSpan(img, y, x0, x1, mask);
}

// XOR of the outline of [x0, x1) x [y0, y1) with pen width w, each pixel once.
// A dotted outline sets every second pixel along the perimeter.
void XorOutline(QImage& img, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t w, bool dotted, QRgb mask)
{
    if (x1 <= x0 || y1 <= y0)
        return;
    if (dotted) {
        const int32_t L = x0, T = y0, R = x1 - 1, B = y1 - 1;
        int32_t i = 0;
        auto dot = [&](int32_t x, int32_t y) {
            if (i++ % 2 == 0)
                XorPixel(img, x, y, mask);
        };
        for (int32_t x = L; x <= R; ++x)
            dot(x, T);
        for (int32_t y = T + 1; y <= B; ++y)
            dot(R, y);
        if (B > T)
            for (int32_t x = R - 1; x >= L; --x)
                dot(x, B);
        if (R > L)
            for (int32_t y = B - 1; y > T; --y)
                dot(L, y);
        return;
    }
    // The pen is centred on the outline: a line on column c covers [c - (w-1)/2, ... + w).
    const int32_t a = (w - 1) / 2;
    const int32_t ox0 = x0 - a, ox1 = x1 - 1 - a + w;
    const int32_t oy0 = y0 - a, oy1 = y1 - 1 - a + w;
    const int32_t ix0 = ox0 + w, ix1 = ox1 - w;
    const int32_t iy0 = oy0 + w, iy1 = oy1 - w;
    for (int32_t y = oy0; y < oy1; ++y) {
        if (y >= iy0 && y < iy1 && ix1 > ix0) {
            XorSpan(img, y, ox0, ix0, mask);
            XorSpan(img, y, ix1, ox1, mask);
        } else {
            XorSpan(img, y, ox0, ox1, mask);
        }
    }
}

// A grip: outline with the frame's pen, inside inverted by the white brush.
void XorGrip(QImage& img, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t w, bool dotted)
{
    XorOutline(img, x0, y0, x1, y1, w, dotted, kXorGrey);
    XorFill(img, x0 + 1, y0 + 1, x1 - 1, y1 - 1, kXorWhite);
}

} // namespace

TzsiSelection::TzsiSelection(TZSImage* AOwner) : QWidget(AOwner), FOwner(AOwner)
{
    if (!AOwner)
        throw std::invalid_argument("TzsiSelection needs a TZSImage owner");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setContextMenuPolicy(Qt::PreventContextMenu);
    FTimerScrollByBorders.setInterval(40);
    connect(&FTimerScrollByBorders, &QTimer::timeout, this, &TzsiSelection::TimerScrollOnTimer);
    hide();
}

bool TzsiSelection::PanKeyHeld() const { return KeyState::IsKeyHeld(FOwner->KeyToScroll()); }

void TzsiSelection::RaiseChange()
{
    if (FOwner->OnSelectionChange)
        FOwner->OnSelectionChange(this);
}

void TzsiSelection::SetActivated(bool Value)
{
    if (Value == FActivated)
        return;
    FActivated = Value;
    if (!Value) {
        hide();
        return;
    }
    SetOverlayCursor(FCursorOnDrawSel);
    setGeometry(0, 0, FOwner->width(), FOwner->height());
    show();
    raise();
    // Showing the overlay paints it at once, as a newly shown window would be.
    Paint();
}

bool TzsiSelection::SelectionExist() const
{
    return FSelRect.Left > kUnset && FSelRect.Top > kUnset && FSelRect.Right > kUnset && FSelRect.Bottom > kUnset;
}

bool TzsiSelection::SelectionAvailable() const { return SelectionExist() && SelectionState > 8; }

void TzsiSelection::Deselect()
{
    FSelRect = kUnsetRect;
    if (FActivated)
        Paint();
    SelectionState = ssIdle;
    ChangeCursor();
    RaiseChange();
}

TRect TzsiSelection::GetSelRect() const
{
    if (!SelectionExist())
        return kUnsetRect;
    return NormalizeRect(FSelRect);
}

void TzsiSelection::SetSelRect(const TRect& Value)
{
    FSelRect = Value;
    if (SelectionType == stMagnetic)
        SelectionState = ssMagneticFollow;
    if (FActivated)
        Paint();
    RaiseChange();
}

void TzsiSelection::SetSelectionForm(TzsiSelectionForm Value)
{
    if (Value == FSelectionForm)
        return;
    FSelectionForm = Value;
    if (FActivated)
        Paint();
}

void TzsiSelection::SetFrameWidth(uint8_t Value)
{
    if (Value == FFrameWidth)
        return;
    FFrameWidth = Value;
    if (FActivated)
        Paint();
}

void TzsiSelection::SetCursorOnDrawSel(TCursor Value)
{
    FCursorOnDrawSel = Value;
    ChangeCursor();
}

int32_t TzsiSelection::PosOnSelRect(int32_t X, int32_t Y) const
{
    return HitTestFrame(FSelRect, X, Y, SelectionType == stNotResizeable);
}

void TzsiSelection::SetOverlayCursor(TCursor Value)
{
    if (FCursorId == Value)
        return;
    FCursorId = Value;
    setCursor(Cursors::Get(Value));
}

void TzsiSelection::ChangeCursor()
{
    TCursor c;
    switch (SelectionState) {
    case -1:
    case 0: c = FCursorOnDrawSel; break;
    case 1:
    case 5: c = crSizeNWSE; break;
    case 2:
    case 6: c = crSizeNS; break;
    case 3:
    case 7: c = crSizeNESW; break;
    case 4:
    case 8: c = crSizeWE; break;
    case 9: c = CursorOnMoveSel; break;
    default: c = crNone; break;
    }
    if (PanKeyHeld())
        c = SelectionState == ssMoving ? CursorOnScrollDown : CursorOnScrollUp;
    const bool sizing = FCursorId == crSizeNWSE || FCursorId == crSizeNS || FCursorId == crSizeNESW ||
                        FCursorId == crSizeWE;
    // Entering a grip shows the frame if a release or the mask had hidden it.
    if (SelectionState >= 1 && SelectionState <= 8 && !sizing && !FFrameDrawed)
        DrawSelFrame();
    SetOverlayCursor(c);
}

void TzsiSelection::DrawSelFrame()
{
    FFrameDrawed = !FFrameDrawed;
    if (FScreen.isNull())
        return;
    const TRect r = NormalizeRect(FSelRect);
    const int32_t L = r.Left, T = r.Top, R = r.Right, B = r.Bottom;
    const int32_t w = std::max<int32_t>(FFrameWidth, 1);
    if (T == B) {
        XorSpan(FScreen, T, L, R + 1, kXorGrey);
    } else if (L == R) {
        XorFill(FScreen, L, T, L + 1, B + 1, kXorGrey);
    } else {
        // A wide pen cannot be dotted; it is drawn solid like the platform's pens.
        const bool dotted = R - L >= 12 && B - T >= 12 && w == 1;
        if (FSelectionForm == sfRectangle) {
            XorOutline(FScreen, L, T, R + 1, B + 1, w, dotted, kXorGrey);
            XorGrip(FScreen, L - 3, T - 3, L + 3, T + 3, w, dotted);
            XorGrip(FScreen, R - 2, T - 3, R + 4, T + 3, w, dotted);
            XorGrip(FScreen, L - 3, B - 3, L + 3, B + 3, w, dotted);
            XorGrip(FScreen, R - 2, B - 3, R + 4, B + 3, w, dotted);
            if (SelectionRatio != srFoto) {
                const int32_t hw = (R - L) / 2;
                const int32_t hh = (B - T) / 2;
                XorGrip(FScreen, L + hw - 3, T - 3, L + hw + 3, T + 3, w, dotted);
                XorGrip(FScreen, R - 2, T + hh - 3, R + 4, T + hh + 3, w, dotted);
                XorGrip(FScreen, L - 3, B - hh - 3, L + 3, B - hh + 3, w, dotted);
                XorGrip(FScreen, R - hw - 2, B - 3, R - hw + 4, B + 3, w, dotted);
            }
        } else {
            QPainter p(&FScreen);
            p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            p.setRenderHint(QPainter::Antialiasing, false);
            QPen pen(QColor::fromRgb(kXorGrey), w, dotted ? Qt::DotLine : Qt::SolidLine);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRect(L, T, R - L, B - T));
        }
    }
    // Only the strips along the outline changed; repainting just those keeps
    // a drag move far cheaper than one copy of the view.
    const int32_t pad = 5 + w;
    if (FSelectionForm == sfEllipse || R - L <= 4 * pad || B - T <= 4 * pad) {
        update(QRect(QPoint(L - pad, T - pad), QPoint(R + pad, B + pad)).intersected(rect()));
        return;
    }
    QRegion strips;
    strips += QRect(QPoint(L - pad, T - pad), QPoint(R + pad, T + pad));
    strips += QRect(QPoint(L - pad, B - pad), QPoint(R + pad, B + pad));
    strips += QRect(QPoint(L - pad, T + pad), QPoint(L + pad, B - pad));
    strips += QRect(QPoint(R - pad, T + pad), QPoint(R + pad, B - pad));
    update(strips.intersected(rect()));
}

void TzsiSelection::Paint()
{
    const QImage& back = FOwner->CanvasBitmap();
    if (back.isNull())
        FScreen = QImage();
    else
        FScreen = back.convertToFormat(QImage::Format_RGB32);
    FFrameDrawed = false;
    if (SelectionExist())
        DrawSelFrame();
    update();
}

void TzsiSelection::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRect dirty = event->rect();
    if (FScreen.isNull()) {
        p.fillRect(dirty, ToQColor(FOwner->BkgColor()));
        return;
    }
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(dirty.topLeft(), FScreen, dirty);
    // Between a size change and the next rendering the surface may be smaller than the overlay.
    for (const QRect& r : QRegion(dirty).subtracted(QRegion(FScreen.rect())))
        p.fillRect(r, ToQColor(FOwner->BkgColor()));
}

void TzsiSelection::MaskPaint(const TRect& selRect, int32_t Alpha)
{
    const QImage& back = FOwner->CanvasBitmap();
    if (back.isNull())
        return;
    // The veil covers the frame lines on the screen without touching the
    // XOR bookkeeping; it stays until the overlay or the view paints again.
    QImage masked = ComposeMask(back, selRect, FOwner->CanvasBitmapRect(), Alpha);
    if (FActivated) {
        FScreen = masked;
        update();
    } else {
        FOwner->ShowOnSurface(masked);
    }
}
