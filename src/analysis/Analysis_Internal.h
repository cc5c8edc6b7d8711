#pragma once
// Shared between the stages of the page analysis. Everything here works on the
// reduced grey copy ("work pixels"); the page file maps results back.

#include "analysis/PageAnalysis.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <vector>

namespace analysis::detail {

inline bool Cancelled(const std::atomic<bool>* cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Two copies of the page: the fine one at about kFineDpi, for what needs
// detail (faces, pen strokes, the skew's last tenths of a degree), and the
// work pixels at half that, for what is large (photo patches, the skew sweep).
struct WorkPage {
    cv::Mat grey;          // fine pixels: 8-bit, paper light
    cv::Mat ink;           // fine pixels, 0/255: 255 = dark mark on paper (uneven light removed)
    double greyScale = 1;  // fine pixels per work pixel (1 or 2)
    cv::Mat nonPaper;      // work pixels, 0/255: 255 where darker than the paper round it
    double pxPerMm = 2;    // work pixels per millimetre, from the page's size
    double scale = 1;      // work pixels per picture pixel
};

// The fine copy: a face on a 35 mm photo keeps about 60 pixels, a pen stroke
// a pixel or two.
constexpr double kFineDpi = 100.0;

// Box average of factor x factor pixels of a BGR888 picture into 8-bit grey.
void ReduceToGrey(const uint8_t* bits, int64_t stride, int width, int height, int factor, cv::Mat& out);
// Halvings of an 8-bit picture: the mean of each 2 x 2 square, or its largest
// value (on a 0/255 mask: a mark keeps every connection it had).
void HalveMean(const cv::Mat& in, cv::Mat& out);
void HalveMax(const cv::Mat& in, cv::Mat& out);
// 255 where grey / paper < level / 255 (both 8-bit, same size), else 0.
void DarkerThan(const cv::Mat& grey, const cv::Mat& paper, int level, cv::Mat& out);

// Faces and the photo around them; rects in work pixels.
struct PhotoWork {
    bool found = false;
    cv::Rect photo;
    cv::Rect face;
    bool framed = false;
    double confidence = 0;
};
// Solid patches of non-paper (photographic texture) 10 mm or more across:
// where a photo can be, and what is no ink for the other stages.
std::vector<cv::Rect> SolidPatches(const WorkPage& page);
PhotoWork FindPhoto(const WorkPage& page, const std::vector<cv::Rect>& patches, const std::atomic<bool>* cancel);

struct SignatureWork {
    bool found = false;
    cv::Rect box;
    double confidence = 0;
};
// ink: the page's fine ink with photos already left out, pxPerMm its pixels per
// millimetre; skewDegrees as SkewWork's. The box is in the ink's pixels.
SignatureWork FindSignature(const cv::Mat& ink, double pxPerMm, double skewDegrees, const std::atomic<bool>* cancel);

struct SkewWork {
    bool found = false;
    double degrees = 0; // clockwise, as in PageAnalysis.h
    double confidence = 0;
};
// Leptonica's sweep and binary search over the ink; transpose = measure the
// page turned by 90°; sweepReduction (1 or 2): the sweep on the ink halved.
SkewWork FindSkew(const cv::Mat& ink, bool transpose, int sweepReduction);

} // namespace analysis::detail
