#pragma once
// The undo history of the main window: snapshots of what the user frames and
// retouches (view, frame, mode, angle, both slots' crops and retouch values,
// the save button). Saving is not a step: files written stay written.

#include "platform/Geometry.h"
#include "view/ZSImage_Selection.h"

#include <QImage>
#include <QString>

#include <deque>

struct TSlotState {
    QImage Buffer; // the unsharpened crop the slot was made from
    int Brightness = 0, Contrast = 0, Lightness = 0, Saturation = 0, Sharpness = 0;
    bool Placeholder = true;
    bool operator==(const TSlotState& o) const
    {
        return Buffer.cacheKey() == o.Buffer.cacheKey() && Brightness == o.Brightness && Contrast == o.Contrast &&
               Lightness == o.Lightness && Saturation == o.Saturation && Sharpness == o.Sharpness &&
               Placeholder == o.Placeholder;
    }
};

struct TWindowState {
    qint64 Picture = 0; // the view's picture (cache key of the unrotated copy)
    TzsiFixSelectionRatio Mode = srNone;
    TzsiSelectionType Type = stResizeable;
    bool Activated = false;
    double Stretch = 0;
    TRect Shown;
    bool HasFrame = false;
    TRect Frame;
    int Angle = 0;
    TSlotState Foto, Firma;
    QString SaveText;
    bool SaveEnabled = false;
    bool operator==(const TWindowState& o) const
    {
        return Picture == o.Picture && Mode == o.Mode && Type == o.Type && Activated == o.Activated &&
               Stretch == o.Stretch && Shown == o.Shown && HasFrame == o.HasFrame &&
               (!HasFrame || Frame == o.Frame) && Angle == o.Angle && Foto == o.Foto && Firma == o.Firma &&
               SaveText == o.SaveText && SaveEnabled == o.SaveEnabled;
    }
    bool operator!=(const TWindowState& o) const { return !(*this == o); }
};

class TUndoHistory {
public:
    static constexpr size_t kSteps = 50;
    bool HasCurrent = false;
    TWindowState Current; // the state last recorded
    std::deque<TWindowState> Back, Forward;

    // A new state: the one it follows can be gone back to; the redo steps end.
    void Record(const TWindowState& s)
    {
        if (HasCurrent) {
            Back.push_back(Current);
            if (Back.size() > kSteps)
                Back.pop_front();
        }
        Forward.clear();
        Current = s;
        HasCurrent = true;
    }
    void Clear()
    {
        Back.clear();
        Forward.clear();
        HasCurrent = false;
    }
};
