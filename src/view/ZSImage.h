#pragma once
// TZSImage: the zoomable, scrollable view of the source picture.
//
// The view keeps the full-resolution source picture (OrigBitmap), renders the
// visible part of it into a back buffer of exactly its own size (CanvasBitmap)
// and answers questions in picture pixels. Painting only copies the back
// buffer; every zoom, pan or size change re-renders it through StretchFromPoint.
//
// Units and conventions
//  - picture pixels: column/row of OrigBitmap, origin top left;
//    view pixels: column/row of the view's client area = the back buffer.
//  - OrigBitmapRect (picture) and CanvasBitmapRect (view) are INCLUSIVE: Right
//    and Bottom are the last column and row shown. Rectangles handed to
//    copying (UpdateRect, ExCopyRect) are read with EXCLUSIVE Right/Bottom.
//  - StretchFactor is view pixels per picture pixel; 0 means fit to the view.
//  - kUnset (-65000) marks an unset coordinate; kCenterMarker as a centre
//    means the centre of the picture.
//
// Events are std::function members (see ZSImage_Events.h): assign them, and
// they are raised synchronously; an empty one is skipped. OnClick is a left
// press and release on the view itself (not on the selection overlay, which
// covers the view while it is activated and raises the OnSelection... events).
//
// Pictures are QImage in Format_BGR888 (three bytes per pixel: blue, green, red).

#include "platform/Colors.h"
#include "platform/Cursors.h"
#include "platform/Geometry.h"
#include "view/ZSImage_Events.h"
#include "view/ZSImage_Selection.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

class TzsiSlideShow;
class QMenu;

class TZSImage : public QWidget
{
    Q_OBJECT
public:
    explicit TZSImage(QWidget* AOwner = nullptr);
    ~TZSImage() override;

    // --- Properties ----------------------------------------------------------
    TColor BkgColor() const { return FBkgColor; }
    void SetBkgColor(TColor Value);
    TColor BorderColor() const { return FBorderColor; }
    void SetBorderColor(TColor Value) { FBorderColor = Value; }
    uint16_t BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(uint16_t Value) { FBorderWidth = Value; }
    // Fit mode may enlarge a picture above one view pixel per picture pixel.
    bool Enlarge() const { return FEnlarge; }
    void SetEnlarge(bool Value) { FEnlarge = Value; }
    // Free space (view pixels) kept around a picture fitted to the view.
    uint16_t Margin() const { return FMargin; }
    void SetMargin(uint16_t Value) { FMargin = Value; }
    TCursor DefaultCursor() const { return FDefaultCursor; }
    void SetDefaultCursor(TCursor Value) { FDefaultCursor = Value; }
    // Magnifier zoom: view pixels per picture pixel inside the lens, whatever the view's zoom.
    double MagnifierFactor() const { return FMagnifierFactor; }
    void SetMagnifierFactor(double Value) { FMagnifierFactor = Value; }
    TCursor MagnifierCursor() const { return FMagnifierCursor; }
    void SetMagnifierCursor(TCursor Value) { FMagnifierCursor = Value; }
    bool MagnifierActivated() const { return FMagnifierActivated; }
    void SetMagnifierActivated(bool Value);
    // Lens diameter in view pixels; 0 = the whole view magnifies.
    int32_t MagnifierSize() const { return FMagnifierSize; }
    void SetMagnifierSize(int32_t Value) { FMagnifierSize = Value; }
    // Virtual-key code of the pan key (32 = space bar); see KeyState.h.
    int32_t KeyToScroll() const { return FKeyToScroll; }
    void SetKeyToScroll(int32_t Value) { FKeyToScroll = Value; }
    double StretchFactor() const { return FStretchFactor; }
    // A negative value becomes 0; an unchanged value does not re-render.
    void SetStretchFactor(double Value);
    QMenu* PopUpMenu() const { return FPopUpMenu; }
    void SetPopUpMenu(QMenu* Value) { FPopUpMenu = Value; }

    // Shown part of the picture (picture pixels, inclusive).
    const TRect& OrigBitmapRect() const { return FOrigBmpRect; }
    // Where that part lies in the view (view pixels, inclusive).
    const TRect& CanvasBitmapRect() const { return FCanvasBmpRect; }
    // The source picture; one still on its way (see SetPendingSource) is waited for.
    const QImage& OrigBitmap() const;
    // The source's size, never waiting: a source on its way has the size of the one it replaces.
    QSize SourceSize() const { return FOrigBmp.size(); }
    const QImage& CanvasBitmap() const { return FCanvasBmp; }
    TzsiSelection* Selection() const { return FSelection; }
    TzsiSlideShow* SlideShow() const { return FSlideShow; }

    // --- Events ----------------------------------------------------------------
    TNotifyEvent OnClick;                         // sender = the view
    TNotifyEvent OnSlideShowEffect;               // raised by the image list before it shows a picture
    TzsiMouseDownUpEvent OnSelectionMouseDown;    // raised by the overlay
    TzsiMouseDownUpEvent OnSelectionMouseUp;
    TzsiMouseMoveEvent OnSelectionMouseMove;
    TNotifyEvent OnSelectionChange;               // sender = the overlay

    // --- Public fields -----------------------------------------------------------
    // Anchor of panning: the view position from which the next pan step is measured.
    TPoint OrigMousePoint;
    // Draw the guide lines (into the back buffer, at every Paint).
    bool Grid = false;

    // --- Operations ----------------------------------------------------------------
    // Re-renders about the current centre / about ACenter (picture pixels;
    // kCenterMarker = the picture's centre), then paints.
    void StretchImage();
    void StretchImage(const TPoint& ACenter);
    // The zoom actually on screen, also in fit mode (view pixels per picture pixel).
    double GetScale() const;
    // Picture pixel under the last mouse position seen by the view.
    TPoint GetCoordinates() const;
    // Picture rectangle covered by the selection frame. AOrigRect: picture
    // pixels, read with exclusive Right/Bottom (width = Right - Left), except
    // at the picture's right/bottom edge where Right/Bottom is the last pixel.
    // AStretchRect: the frame's part over the picture, view pixels.
    // False (arguments untouched) without a frame or when it misses the picture.
    bool GetSelection(TRect& AOrigRect, TRect& AStretchRect) const;
    // Replaces the source picture by its selected part (elliptic with an ellipse frame).
    void ResizeImage();
    // The view takes a copy of the picture and shows it with the current zoom.
    void SetImage(const QImage& Source);
    // Loads a picture file (a placeholder naming the file when it cannot be read).
    // Reader errors of some formats propagate to the caller.
    void SetImage(const QString& FileName);
    // Reads a picture file for showing: the result, the messages and the
    // errors are those of LoadImagefromFile. A large JPEG file is meanwhile
    // shown reduced in the back buffer, fitted to the view, while the whole
    // picture is decoded on a worker; nothing else of the view changes, and
    // no event is processed, until the call returns with the whole picture.
    QImage LoadPictureFile(const QString& FileName);
    // Removes selection, image list entries, source picture and back buffer.
    void Clear();
    // Copies AOrigRect of the source (picture) into AStretchRect of the back
    // buffer (view), both exclusive, then paints.
    void UpdateRect(const TRect& AOrigRect, const TRect& AStretchRect);
    // One pan step toward view position (X, Y) from OrigMousePoint.
    void DoScroll(int32_t X, int32_t Y);

    // Used by the image list: takes a copy of Source and renders it; on any
    // failure beeps and carries on with whatever was already changed.
    void InternSetImage(const QImage& Source, bool Repaint);
    // Lets the overlay show the current back buffer.
    void ImageChanged();
    // Renders Src into Dst (resized to the view) about Center with Factor (0 =
    // fit). OrigRect and CanvasRect receive the shown part (picture, inclusive)
    // and its place (view, inclusive). An empty Src changes nothing.
    void StretchFromPoint(const QImage& Src, QImage& Dst, const TPoint& Center, double Factor, TRect& OrigRect,
                          TRect& CanvasRect);
    // Shows the back buffer again (removing lens and mask) and draws the guide lines.
    void Paint();
    void DrawGrid();
    // Draws the magnifier for the pointer at view position (X, Y).
    void DoMagnify(int32_t X, int32_t Y);
    void ChangeCursor(TCursor Value);
    TCursor CurrentCursor() const { return FCursorId; }
    // True when Menu may be shown now (set, and Alt not held); stops automatic pop-ups.
    bool CallPopUpMenu(QMenu* Menu);

    // --- A source on its way (the toolbar's rotation, turned off the interface thread) ---
    // Until it is handed over the view holds StandIn (of the final size) and shows
    // previews; anything that needs the source's pixels (OrigBitmap, a re-render,
    // the magnifier, a crop) first calls Settle, which returns the final source.
    // Drop is called instead when a new picture replaces the source first.
    // Returns the source the view let go of, for its buffer to be reused.
    struct TPendingSource {
        std::function<QImage()> Settle;
        std::function<void()> Drop;
    };
    QImage SetPendingSource(const QImage& StandIn, TPendingSource Pending);
    bool SourcePending() const { return static_cast<bool>(FPending.Settle); }
    // The final source, handed over: the view keeps its place and zoom and
    // shows it (re-rendered when Render).
    void ReplaceSource(const QImage& Source, bool Render);
    // Renders the back buffer as StretchImage would for the source on its way,
    // from Part(span, k, out): out := the source's pixels in span (picture
    // pixels, exclusive) reduced k times (k = 1: full size), then paints.
    using TSourcePart = std::function<void(const TRect& span, int k, QImage& out)>;
    void PreviewSource(const TSourcePart& Part);

    // What the view shows at this moment: the lens or mask when one is up,
    // else the back buffer (null when empty).
    QImage ScreenImage() const;
    // Shows Image in place of the back buffer until the next Paint (used by
    // the darkening mask while the overlay is hidden).
    void ShowOnSurface(const QImage& Image);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void SizeChanged();
    // The frame of BorderWidth rings round Canvas (view pixels, exclusive).
    void DrawPictureBorder(QImage& Dst, const TRect& Canvas) const;
    void RenderFromReduced(const QImage& Src, QImage& Dst, const TRect& span, const TRect& canvas, bool& done);
    // Puts a reduced decode of a picture of WholeSize on screen as that picture
    // fitted to the view; Previous receives the back buffer it replaces.
    bool ShowReduced(const QImage& Reduced, const QSize& WholeSize, QImage& Previous);
    void PictureChanged();
    // Puts the final source in place of a stand-in; a no-op when none is pending.
    void SettleSource() const;
    void DropPendingSource();

    QImage FOrigBmp;
    TRect FOrigBmpRect;
    QImage FCanvasBmp;
    TRect FCanvasBmpRect;
    uint16_t FMargin = 0;
    TColor FBkgColor = clGray;
    TColor FBorderColor = clBlack;
    uint16_t FBorderWidth = 0;
    bool FEnlarge = false;
    bool FMagnifierActivated = false;
    double FMagnifierFactor = 1.0;
    int32_t FMagnifierSize = 0;
    TRect FOldMagnifierRect = kUnsetRect;
    TCursor FMagnifierCursor = crArrow;
    TCursor FDefaultCursor = crArrow;
    double FStretchFactor = 0;
    int32_t FKeyToScroll = 32;
    TPoint FCoords;
    TzsiSlideShow* FSlideShow = nullptr;
    TzsiSelection* FSelection = nullptr;
    QMenu* FPopUpMenu = nullptr;

    TCursor FCursorId = crArrow;
    // Lens or mask shown instead of the back buffer until the next Paint.
    QImage FSurface;
    // Size changes are absorbed by this timer before the one re-rendering.
    QTimer FResizeTimer;
    // A reduced copy of the source for fit-mode re-renders; rebuilt when the
    // source changes or when the view outgrows it. FReducedKey is the
    // cacheKey of the source it was made from.
    QImage FReduced;
    qint64 FReducedKey = 0;
    int FReducedK = 0;
    bool FLeftPressed = false;
    // Settled from const readers: the source they read is the one they are served.
    mutable TPendingSource FPending;
    mutable bool FCanvasStale = false;
};
