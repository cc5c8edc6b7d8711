#pragma once
// Pixel routines of the main window's crop workflow.
//
// They work on 24-bit pictures (QImage::Format_BGR888, bytes blue, green, red) and
// need no widgets, so every rule about cutting, scaling, sharpening, grey
// conversion and rotation can be checked headless. A picture handed in in another
// format is converted first; every picture handed back is BGR888.

#include "platform/Colors.h"
#include "platform/Geometry.h"

#include <QImage>
#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>

// Output sizes of the two slots, in pixels (33 x 40 mm and 30 x 6 mm at 200 dpi).
constexpr int kFotoWidth = 260;
constexpr int kFotoHeight = 315;
constexpr int kFirmaWidth = 236;
constexpr int kFirmaHeight = 47;

// A failed run-time assertion. what() is the assertion's text followed by the
// source position in parentheses, which is what the user sees in the error box.
class EAssertionFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// --- Cutting out and scaling ---------------------------------------------------

// Copies the area `area` of `picture` (Right and Bottom exclusive) into a new
// picture of the area's size. Parts of the area outside the picture come out black.
// An empty area gives a null picture.
QImage CopyArea(const QImage& picture, const TRect& area);

// Bilinear scaling of Src into Dst, which keeps its size, in 16.16 fixed point.
// The four weights of a pixel add up to 65537, so a sum never passes 255.
// A source one pixel wide repeats its only column; one pixel high, its only row.
// Nothing happens when either picture is empty.
void SmoothResize(const QImage& Src, QImage& Dst);

// Fits P into a white width x height picture keeping its proportion (letterbox),
// sampling the nearest source pixel, as the platform's colour-on-colour stretch does.
QImage DisplayBitmap(const QImage& P, int width, int height);

// The photo slot's picture from a crop: a crop of exactly 260 x 315 is taken as it
// is, any other is scaled to that size without keeping its proportion.
// A null crop gives a null picture.
QImage CropAndResizeFotoPixels(const QImage& crop);

// The signature slot's picture from a crop: turned grey first when `grayscale`,
// then taken as it is when exactly 236 x 47, else letterboxed into the slot's
// size (slotWidth x slotHeight). A null crop gives a null picture.
QImage CropAndResizeFirmaPixels(const QImage& crop, bool grayscale, int slotWidth = kFirmaWidth,
                                int slotHeight = kFirmaHeight);

// --- Retouch -------------------------------------------------------------------

// Writes into tbm a copy of sbm sharpened with a five-point cross kernel of
// strength alpha, in 16.16 fixed point. The border pixels are copied unchanged.
// Throws EAssertionFailed when sbm is smaller than 3 x 3 or alpha is not in (1, 6).
// tbm's buffer is reused when it has the right size and is not shared.
void Sharpen(const QImage& sbm, QImage& tbm, float alpha);

// Turns every pixel grey, 0.3 red + 0.6 green + 0.1 blue rounded halves-to-even.
void ConvertToGrayscale(QImage& bitmap);

// --- Rotation ------------------------------------------------------------------

// Rotates Src by Degs degrees about its centre, clockwise for positive Degs, with
// bilinear sampling, into Dst; pixels that no part of Src covers get BkColor.
// Dst takes Src's size, or with AdjustSize the rotated bounding box with the
// picture centred. Dst's buffer is reused when it already has that size and is not
// shared, so a caller that rotates again and again from one unrotated copy
// allocates nothing. Rows are split over `threads` threads (the calling one
// included); a multiple of 360 degrees gives Src's pixels exactly. False when
// Dst could not be had, or when `cancel` was set before the last rows were
// done (Dst then holds a part of the rotation and keeps its buffer).
bool RotateBitmapInto(const QImage& Src, QImage& Dst, int32_t Degs, bool AdjustSize, TColor BkColor,
                      int threads = 1, const std::atomic<bool>* cancel = nullptr);

// Part (target pixels, clipped to Src's rectangle) of Src's same-size rotation,
// into Dst of Part's size: exactly those pixels of what RotateBitmapInto gives
// without AdjustSize. What a view shows of a rotation costs only its own pixels.
void RotateBitmapPart(const QImage& Src, QImage& Dst, int32_t Degs, const QRect& Part, TColor BkColor,
                      int threads = 1);

// The same in place: Bmp becomes its rotation.
void RotateBitmapGDIP(QImage& Bmp, int32_t Degs, bool AdjustSize, TColor BkColor, int threads = 1);

// The size RotateBitmapInto gives with AdjustSize: Round(W|cos| + H|sin|) by
// Round(W|sin| + H|cos|), computed in single precision.
QSize RotatedBoundingSize(int width, int height, int32_t Degs);
