#pragma once
// The view's resampler and the other whole-picture pixel routines of the view.
// No widgets: plain QImage rows.
//
// Pictures are 24-bit BGR888 as everywhere in the program; 32-bit formats with
// four bytes per pixel are accepted too, every byte resampled on its own.

#include "platform/Geometry.h"

#include <QImage>

#include <cstdint>

// Copies source area srcRect of src into destRect of dest, resampling: area
// averaging along an axis that shrinks, bilinear along one that grows, a plain
// copy where the sizes agree. Both rectangles are read with EXCLUSIVE Right and
// Bottom (width = Right - Left). Drawing outside dest is clipped; srcRect must
// lie inside src. False when the copy cannot be made (different pixel sizes,
// unsupported format, source area outside src, or dest and src the same picture).
bool ExCopyRect(QImage& dest, const TRect& destRect, const QImage& src, const TRect& srcRect);

// A copy of src reduced by k in both directions, each pixel the average of its
// k x k block (the blocks at the right and bottom edge may be smaller). Same
// pixel format as src; a null image when src is null or k < 1.
QImage BoxReduce(const QImage& src, int k);

// Fills rectangle r (exclusive, clipped to img) with colour c given as blue,
// green, red bytes (a 32-bit picture gets alpha 255).
void FillRectBgr(QImage& img, const TRect& r, uint8_t blue, uint8_t green, uint8_t red);

// Copies src into dest (same size) where the ellipse inscribed in box
// (exclusive) covers a pixel centre, leaving every other pixel of dest as it is.
void CopyInsideEllipse(QImage& dest, const QImage& src, const TRect& box);

// The darkening mask over picture `back` (BGR888) as a 32-bit RGB surface:
// pixels inside selRect (inclusive) and outside canvasRect (inclusive) keep
// the picture; every other pixel becomes mask + back * (255 - alpha) / 255
// with the mask bytes blue = alpha - 110, green = alpha - 80, red = alpha - 100
// (each modulo 256), as premultiplied alpha blending gives it.
QImage ComposeMask(const QImage& back, const TRect& selRect, const TRect& canvasRect, int32_t alpha);

// One channel of the mask over one background byte (saturating at 255).
uint8_t MaskChannel(uint8_t maskByte, uint8_t alpha, uint8_t background);
