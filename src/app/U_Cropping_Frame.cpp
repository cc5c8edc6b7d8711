// Framing by keyboard: the arrows move the frame by one picture pixel (ten
// with Shift), Alt with the arrows sizes it; the key's release finishes the
// frame as the mouse button's release does. Also the window's Ctrl shortcuts:
// Ctrl+Q (exit question), Ctrl+Z (undo), Ctrl+Shift+Z and Ctrl+Y (redo).

#include "app/U_Cropping.h"
#include "app/U_Cropping_Keys.h"

#include "platform/Geometry.h"
#include "view/ZSImage.h"

#include <QSlider>

#include <algorithm>
#include <cmath>

namespace {
bool IsArrow(int key)
{
    return key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN;
}
} // namespace

bool TFormCrop::FrameKeyDown(int key, Qt::KeyboardModifiers mods)
{
    const bool ctrl = mods.testFlag(Qt::ControlModifier);
    const bool shift = mods.testFlag(Qt::ShiftModifier);
    if (ctrl && key == 'Q') {
        if (AskConfirmation(QStringLiteral("Si intende uscire dal programma?")))
            close();
        return true;
    }
    if (ctrl && key == 'Z' && !shift)
        return UndoStep() || true;
    if (ctrl && (key == 'Y' || (key == 'Z' && shift)))
        return RedoStep() || true;

    if (!IsArrow(key))
        return false;
    // A focused slider keeps the arrows, as it always had them.
    for (int i = 0; i < 5; ++i)
        if (Slider(i)->hasFocus())
            return false;
    TzsiSelection* sel = ZSImage->Selection();
    if (ViewEmpty() || !sel->SelectionExist())
        return false;

    TRect r = NormalizeRect(sel->GetSelRect());
    // One picture pixel is GetScale() view pixels; below zoom 1 the frame still
    // moves by the smallest step the screen can show.
    const int n = shift ? 10 : 1;
    const int step = std::max(1, static_cast<int>(std::lround(n * ZSImage->GetScale())));
    const int dx = (key == VK_RIGHT) - (key == VK_LEFT);
    const int dy = (key == VK_DOWN) - (key == VK_UP);
    const TRect c = ZSImage->CanvasBitmapRect();

    if (mods.testFlag(Qt::AltModifier)) {
        int w = r.Right - r.Left;
        int h = r.Bottom - r.Top;
        const bool min = sel->SelectionType == stResizeableMin;
        if (Mode() == srFoto) {
            // The photo keeps its proportion: both sides follow one key.
            const double ratio = double(sel->FixFotoH) / sel->FixFotoW;
            w = std::max({1, w + (dx + dy) * step, min ? sel->FixFotoW : 1});
            w = std::min(w, std::max(1, static_cast<int>((c.Bottom - c.Top) / ratio)));
            w = std::min(w, c.Right - c.Left);
            h = static_cast<int>(std::lround(w * ratio));
        } else {
            const int minW = min && Mode() == srFirma ? sel->FixFirmaW : 1;
            const int minH = min && Mode() == srFirma ? sel->FixFirmaH : 1;
            w = std::clamp(w + dx * step, minW, std::max(minW, c.Right - c.Left));
            h = std::clamp(h + dy * step, minH, std::max(minH, c.Bottom - c.Top));
        }
        r.Right = r.Left + w;
        r.Bottom = r.Top + h;
    } else {
        r = TRect(r.Left + dx * step, r.Top + dy * step, r.Right + dx * step, r.Bottom + dy * step);
    }
    // Kept on the picture shown: a frame pushed past its edge would crop less than it shows.
    auto keepInside = [](int32_t& lo, int32_t& hi, int32_t min, int32_t max) {
        if (hi > max) {
            lo -= hi - max;
            hi = max;
        }
        if (lo < min) {
            hi += min - lo;
            lo = min;
        }
    };
    keepInside(r.Left, r.Right, c.Left, c.Right);
    keepInside(r.Top, r.Bottom, c.Top, c.Bottom);
    if (r == NormalizeRect(sel->GetSelRect()))
        return true;
    sel->SetSelRect(r);
    ZSImageSelectionMouseDown(mbLeft, 0, r.Left, r.Top);
    FFramedByKey = true;
    UpdateStatus();
    return true;
}

bool TFormCrop::FrameKeyUp(int key)
{
    if (!IsArrow(key) || !FFramedByKey)
        return false;
    FFramedByKey = false;
    ZSImageSelectionMouseUp(mbLeft, 0, 0, 0);
    UpdateStatus();
    return true;
}
