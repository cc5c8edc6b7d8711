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

struct WorkPage {
    cv::Mat grey;       // 8-bit, paper light, reduced to about kWorkDpi
    cv::Mat flat;       // grey divided by its own smooth background (uneven light removed), 255 = paper
    cv::Mat ink;        // 8-bit 0/255, 255 = dark mark on paper
    double pxPerMm = 4; // work pixels per millimetre, from the page's size
    double scale = 1;   // work pixels per picture pixel
};

// Work resolution: enough for signature strokes and text lines, small enough to be quick.
constexpr double kWorkDpi = 100.0;

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
// ink: the page's ink with photos already left out.
SignatureWork FindSignature(const WorkPage& page, const cv::Mat& ink, const std::atomic<bool>* cancel);

struct SkewWork {
    bool found = false;
    double degrees = 0; // clockwise, as in PageAnalysis.h
    double confidence = 0;
};
// Leptonica's sweep and binary search over the ink; transpose = measure the page turned by 90°.
SkewWork FindSkew(const cv::Mat& ink, bool transpose);

} // namespace analysis::detail
