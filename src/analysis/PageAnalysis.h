#pragma once
// Page analysis: finds, on a scanned form or a photographed document, the
// identity photo (with the face in it), the handwritten signature and the skew
// of the page. Pixel level only: no widgets, safe to run on any thread.
//
// Units and conventions
//  - Every rectangle is in picture pixels of the picture handed in (column/row,
//    origin top left), as QRect with the usual Qt meaning: x(), y(), width(),
//    height(); an empty QRect means "not found".
//  - Pictures are BGR888 (three bytes per pixel: blue, green, red), as the view
//    keeps them. A QImage of another format is converted first (a copy).
//  - skewDegrees is how far the page's text lines are turned CLOCKWISE as seen
//    on screen (y grows downwards); positive means the right end of a line sits
//    lower than its left end. Turning the picture counter-clockwise by that many
//    degrees straightens it. Within -15..+15.
//  - Confidences are 0..1; a find is only reported (found == true) above the
//    library's own threshold, so callers need not judge confidences themselves.
//  - The analysis works on reduced grey copies (about 100 dpi for an A4 page;
//    50 dpi for the photo's edges), so the rectangles are accurate to about half
//    a millimetre, not to one picture pixel.
//  - It uses one thread besides the caller's while it runs, unless told to keep
//    to the caller's (a caller that already runs one analysis per core).
//
// Cancelling: the cancel flag is polled between stages (and inside the long
// ones); once it reads true the function returns soon with cancelled == true and
// nothing found. A caller analysing pictures as they are shown keeps a
// generation counter and drops any result whose generation is not the newest.

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QSize>

#include <atomic>
#include <cstdint>

namespace analysis {

// A borrowed BGR888 picture: the pixels stay owned by the caller for the call.
struct PictureView {
    const uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int64_t stride = 0; // bytes from one row to the next
};

struct PhotoFind {
    bool found = false;
    QRect photo;       // the printed or glued photo's edges, or the identity-photo frame
    QRect face;        // the face the detector found inside it
    bool framed = false; // true: photo edges found on the paper; false: frame by the identity-photo rule
    double confidence = 0.0;
};

struct SignatureFind {
    bool found = false;
    QRect box; // the ink with a small margin
    double confidence = 0.0;
};

struct SkewFind {
    bool found = false;
    double degrees = 0.0; // see the conventions above
    double confidence = 0.0;
};

struct PageAnalysis {
    bool cancelled = false;
    QSize pictureSize; // the size of the picture analysed, to check a result still fits
    PhotoFind photo;
    SignatureFind signature;
    SkewFind skew;
};

// The whole analysis. Never throws; a picture it cannot use (empty, 1 x 1, a
// strip, blank, ...) gives a result with nothing found.
PageAnalysis AnalysePage(const PictureView& picture, const std::atomic<bool>* cancel = nullptr,
                         bool secondThread = true);
PageAnalysis AnalysePage(const QImage& picture, const std::atomic<bool>* cancel = nullptr,
                         bool secondThread = true);

// The width:height of the photo frame the program cuts out.
constexpr int kPhotoFrameW = 259;
constexpr int kPhotoFrameH = 314;

// What "Ritaglio automatico" does with a result, as plain geometry so that the
// window and batch processing share it.
struct AutoCropPlan {
    int rotateDegrees = 0;   // whole degrees CLOCKWISE, as the toolbar's rotation takes them (0: leave as is)
    QSize rotatedSize;       // the picture's size after that rotation (== input size if 0)
    bool hasSignature = false;
    QRect signatureFrame;    // in the rotated picture's pixels
    bool hasPhoto = false;
    QRect photoFrame;        // 259:314, in the rotated picture's pixels
};

// rotatedSize: the size the program's own rotation gives the picture turned by
// the planned angle; pass an empty QSize to have it computed as the bounding box
// of the turned rectangle (rounded up), the rule the toolbar's rotation follows.
AutoCropPlan PlanAutoCrop(const PageAnalysis& result, QSize pictureSize, QSize rotatedSize = QSize());

// The bounding-box size of a picture turned clockwise by whole degrees,
// rounded as the program's rotation rounds it.
QSize TurnedSize(QSize size, int degreesCw);

// Maps a point of the unturned picture into the picture turned clockwise by
// degrees about the middle of its rectangle onto a canvas of toSize (centres
// on centres, as the program's rotation places them).
QPointF MapIntoTurned(QPointF p, QSize fromSize, QSize toSize, double degreesCw);

} // namespace analysis
