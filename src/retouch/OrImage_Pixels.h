#pragma once
// Pixel work of the retouch control, free of any widget code so the batch and
// scan paths can run it headless.
//
// Every function works on 24-bit pictures (QImage::Format_BGR888: blue, green,
// red bytes per pixel, row 0 on top); a picture in another format is converted
// first. The filters work in place: a pixel read after it was written in the
// same pass is read with its new value, which is part of how they look.

#include <QImage>

#include <cstdint>

namespace orimage {

// The colour adjustments of the rendering stage, as the control stores them.
// All zero / false renders the source unchanged.
struct TColorEffects {
    int32_t Brightness = 0;  // offset added to each channel
    int32_t Contrast = 0;    // push away from (positive) or toward (negative) mid-grey 127
    int32_t Lightness = 0;   // lift of dark tones, (Lightness * (255 - c)) div 255
    int32_t Darkness = 0;    // lowering of bright tones, -(c * Darkness) div 255
    int32_t Saturation = 0;  // scales each channel's distance from the pixel's average
    int32_t Splitlight = 0;  // passes of the quarter-sine tone curve
    int32_t Posterize = 0;   // step of the levels; wins over Solorize when both are set
    int32_t Solorize = 0;    // a pixel brighter on average than 255 - Solorize is inverted
    bool GrayScale = false;  // wins over Saturation
    bool Invert = false;     // applied last

    bool AllOff() const;
};

// Renders `dst` from `src` with the colour adjustments, adding `noise` (a picture
// of the same size whose channels are added before the clamp) when given.
// `dst` becomes a BGR888 picture of src's size; its buffer is reused when it
// already has that size. A noise picture of another size is ignored.
void RenderColorEffects(const QImage& src, const QImage* noise, const TColorEffects& fx, QImage& dst);

// Smoothing pass over the columns and rows between (x0, y0) and (x1, y1), kept
// one pixel away from the border: each channel becomes the average of its four
// direct neighbours (its own value does not count). In place, top-left to
// bottom-right, so the row above and the pixel to the left are already smoothed.
void AntiAliasRect(QImage& bmp, int x0, int y0, int x1, int y1);

// Grey relief: each channel is averaged with the negative of a partner three
// columns right in the next row. Pictures narrower than 3 or lower than 2 rows
// have no partner pixels and are left unchanged.
void Emboss(QImage& bmp);

// Blocks of size x size pixels aligned at (0, 0) take their top-left pixel's colour.
void Mosaic(QImage& bmp, int size);

// Each channel becomes the average of its four diagonal neighbours at `distance`.
// A neighbour past the top or left edge is replaced by the pixel's own row or
// column; past the bottom or right edge by row H - y or column W - x, and by the
// pixel's own row or column when that too lies outside (first row or column).
void SplitBlur(QImage& bmp, int distance);

// `passes` passes of SplitBlur at distance 3 (the control's Gaussian blur uses value + 1).
void GaussianBlur(QImage& bmp, int passes);

// Index of a colour in the fixed 256-colour palette (8 red x 8 green x 4 blue
// levels, nearest level per channel) that Trace compares pixels by.
uint8_t TraceIndex(uint8_t r, uint8_t g, uint8_t b);

// Outlines: where neighbouring pixels fall into different palette colours,
// `intensity` passes paint pixels along the boundary black.
void Trace(QImage& bmp, int intensity);

// Bilinear resampling of src into dst's size in 15-bit fixed point (meant for
// shrinking; dst keeps its size and becomes BGR888).
void SmoothResize(const QImage& src, QImage& dst);

// Fills `dst` (keeping its size) with copies of `tile` laid from (0, 0).
void TileFill(QImage& dst, const QImage& tile);

// The noise generator: a 32-bit linear congruential generator, so a seed
// repeats the same noise (tests rely on that).
class TNoiseRandom {
public:
    explicit TNoiseRandom(uint32_t seed = 0) : FSeed(seed) {}
    uint32_t Seed() const { return FSeed; }
    void SetSeed(uint32_t seed) { FSeed = seed; }
    // A uniformly distributed integer in 0..n - 1; 0 for n <= 0.
    int32_t Random(int32_t n);

private:
    uint32_t FSeed;
};

// A BGR888 noise picture of width x height: per pixel (row order) random(n) - n div 2
// clamped to 0..255, drawn for red, green and blue in turn (colour) or once for all
// three channels (mono). Negative draws clamp to 0, so noise only brightens.
QImage MakeNoise(int width, int height, int32_t n, bool mono, TNoiseRandom& rng);

} // namespace orimage
