// The page's skew from its text lines and rules, by Leptonica's skew finder: a
// sweep of trial angles over differential square sums of the row profile,
// refined by binary search.

#include "analysis/Analysis_Internal.h"

#include <leptonica/allheaders.h>

#include <opencv2/core.hpp>

#include <mutex>

namespace analysis::detail {

namespace {

// Leptonica reports every page with too few lines on stderr; the analysis
// tells the user itself.
void QuietLeptonica()
{
    static std::once_flag once;
    std::call_once(once, [] { setMsgSeverity(L_SEVERITY_NONE); });
}

// One bit per pixel, most significant bit first, as Leptonica keeps binary pictures.
PIX* ToPix(const cv::Mat& ink)
{
    PIX* pix = pixCreate(ink.cols, ink.rows, 1);
    if (!pix)
        return nullptr;
    l_uint32* data = pixGetData(pix);
    const l_int32 wpl = pixGetWpl(pix);
    // 0/255 bytes to bits, 32 at a time and without a branch.
    for (int y = 0; y < ink.rows; ++y) {
        const uint8_t* row = ink.ptr<uint8_t>(y);
        l_uint32* line = data + size_t(y) * wpl;
        int x = 0;
        for (; x + 32 <= ink.cols; x += 32) {
            l_uint32 word = 0;
            for (int k = 0; k < 32; ++k)
                word = (word << 1) | (row[x + k] >> 7);
            line[x >> 5] = word;
        }
        for (; x < ink.cols; ++x)
            line[x >> 5] |= l_uint32(row[x] >> 7) << (31 - (x & 31));
    }
    return pix;
}

// Leptonica's own floor for a confidence worth using.
constexpr double kMinConfidence = 3.0;
constexpr float kSweepRange = 8.0f;

} // namespace

SkewWork FindSkew(const cv::Mat& ink, bool transpose, int sweepReduction)
{
    QuietLeptonica();
    SkewWork out;
    cv::Mat src = ink;
    if (transpose)
        cv::transpose(ink, src);
    if (src.cols < 32 || src.rows < 32)
        return out;
    PIX* pix = ToPix(src);
    if (!pix)
        return out;
    l_float32 angle = 0;
    l_float32 conf = 0;
    const l_int32 failed = pixFindSkewSweepAndSearch(pix, &angle, &conf, sweepReduction, 1, kSweepRange, 1.0f, 0.05f);
    pixDestroy(&pix);
    if (failed || conf < kMinConfidence)
        return out;
    out.found = true;
    // Leptonica gives the angle that would straighten the page, counter-clockwise
    // positive in its own (y down) frame; the lines are turned the other way.
    out.degrees = -double(angle);
    out.confidence = conf;
    return out;
}

} // namespace analysis::detail
