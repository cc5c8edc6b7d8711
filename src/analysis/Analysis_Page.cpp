#include "analysis/Analysis_Internal.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <future>
#include <mutex>
#include <system_error>
#include <vector>

namespace analysis {

using namespace detail;

namespace {

// Pages are A4 (or close to it); the page's size in pixels gives its resolution
// better than a decoder's density field, which scanners often leave at 72.
constexpr double kPageLongMm = 297.0;

// Pictures this far from a page's shape are strips or thumbnails, never forms.
constexpr double kMaxAspect = 4.0;
constexpr int kMinSide = 64;

struct InkWork {
    SkewWork skew;
    bool sideways = false;
    SignatureWork signature;
};

bool MakeWorkPage(const PictureView& pic, WorkPage& page)
{
    const int longSide = std::max(pic.width, pic.height);
    const double pxPerMmPicture = longSide / kPageLongMm;
    const double wanted = kFineDpi / 25.4;
    // A whole-number reduction: every fine pixel averages the same source square.
    const int factor = std::max(1, int(std::floor(pxPerMmPicture / wanted)));
    ReduceToGrey(pic.bits, pic.stride, pic.width, pic.height, factor, page.grey);
    const double finePxPerMm = pxPerMmPicture / factor;
    // Smoothed before the ink is taken, so scanner noise on paper is no ink.
    cv::Mat smooth;
    cv::GaussianBlur(page.grey, smooth, cv::Size(3, 3), 0);
    cv::Mat mean;
    // A picture coarser than a 70 dpi page keeps its own pixels as the work pixels.
    page.greyScale = finePxPerMm * 25.4 >= 70.0 ? 2.0 : 1.0;
    if (page.greyScale > 1)
        HalveMean(page.grey, mean);
    else
        mean = page.grey;
    page.scale = 1.0 / (factor * page.greyScale);
    page.pxPerMm = pxPerMmPicture * page.scale;

    // The paper's own brightness, with marks taken out: light falling off
    // towards one side must not read as ink. Found at an eighth of 50 dpi.
    cv::Mat tiny;
    const int shrink = std::max(1, int(std::lround(4.0 * page.pxPerMm / (50.0 / 25.4))));
    cv::resize(mean, tiny, cv::Size(std::max(1, mean.cols / shrink), std::max(1, mean.rows / shrink)), 0, 0, cv::INTER_AREA);
    // The brightest paper within 60 mm: wider than any glued photo, so a photo
    // never counts as dim paper.
    const int k = std::max(3, int(std::lround(60.0 * page.pxPerMm / shrink)) | 1);
    cv::dilate(tiny, tiny, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(k, k)));
    // Smoothed as a Gaussian of k / 2 would, by two box blurs of the same
    // spread: a Gaussian that wide is slow on 8-bit pixels.
    const int box = std::max(3, int(std::lround(std::sqrt(6.0 * k * k / 4.0 + 1.0))) | 1);
    cv::blur(tiny, tiny, cv::Size(box, box), cv::Point(-1, -1), cv::BORDER_REFLECT_101);
    cv::blur(tiny, tiny, cv::Size(box, box), cv::Point(-1, -1), cv::BORDER_REFLECT_101);
    cv::Mat paper;
    cv::resize(tiny, paper, mean.size(), 0, 0, cv::INTER_LINEAR);
    DarkerThan(mean, paper, 232, page.nonPaper);
    if (page.greyScale > 1)
        cv::resize(tiny, paper, page.grey.size(), 0, 0, cv::INTER_LINEAR);
    DarkerThan(smooth, paper, 165, page.ink);
    return true;
}

// A negative or colour-inverted scan: the "paper" is dark.
bool LooksInverted(const cv::Mat& grey)
{
    int hist[256] = {};
    for (int y = 0; y < grey.rows; y += 4) {
        const uint8_t* row = grey.ptr<uint8_t>(y);
        for (int x = 0; x < grey.cols; x += 4)
            ++hist[row[x]];
    }
    long total = 0;
    for (int v : hist)
        total += v;
    long seen = 0;
    for (int v = 0; v < 256; ++v) {
        seen += hist[v];
        if (seen * 2 >= total)
            return v < 110;
    }
    return false;
}

QRect ToPicture(const cv::Rect& r, double scale, QSize limit)
{
    const int x0 = std::clamp(int(std::floor(r.x / scale)), 0, limit.width());
    const int y0 = std::clamp(int(std::floor(r.y / scale)), 0, limit.height());
    const int x1 = std::clamp(int(std::ceil((r.x + r.width) / scale)), 0, limit.width());
    const int y1 = std::clamp(int(std::ceil((r.y + r.height) / scale)), 0, limit.height());
    if (x1 <= x0 || y1 <= y0)
        return QRect();
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

} // namespace

PageAnalysis AnalysePage(const PictureView& picture, const std::atomic<bool>* cancel, bool secondThread)
{
    PageAnalysis result;
    result.pictureSize = QSize(std::max(0, picture.width), std::max(0, picture.height));
    if (!picture.bits || picture.width < kMinSide || picture.height < kMinSide || picture.stride < int64_t(picture.width) * 3)
        return result;
    const double aspect = double(std::max(picture.width, picture.height)) / std::min(picture.width, picture.height);
    if (aspect > kMaxAspect)
        return result;
    // The analysis runs beside the interface on a machine it shares: OpenCV's
    // own thread pool would only make the two fight over the cores.
    static std::once_flag once;
    std::call_once(once, [] { cv::setNumThreads(1); });
    try {
        WorkPage page;
        MakeWorkPage(picture, page);
        if (Cancelled(cancel) || LooksInverted(page.grey)) {
            result.cancelled = Cancelled(cancel);
            return result;
        }
        const double scale = page.scale;

        // The photo's patches first: their texture is not ink for the other two stages.
        const std::vector<cv::Rect> patches = SolidPatches(page);
        // Photographic texture is no ink: every solid patch is left out, found face or not.
        const double fine = page.greyScale;
        const double finePxPerMm = page.pxPerMm * fine;
        cv::Mat inkNoPhoto = page.ink;
        if (!patches.empty()) {
            inkNoPhoto = page.ink.clone();
            const int pad = int(std::lround(2 * page.pxPerMm));
            for (cv::Rect r : patches) {
                const cv::Rect grown(int((r.x - pad) * fine), int((r.y - pad) * fine), int((r.width + 2 * pad) * fine),
                                     int((r.height + 2 * pad) * fine));
                inkNoPhoto(grown & cv::Rect(0, 0, page.ink.cols, page.ink.rows)).setTo(0);
            }
        }

        // The ink's two stages on a second thread while this one looks for
        // faces (its cascade stays loaded on this thread): on two cores the
        // analysis takes about as long as its longer half.
        const auto inkStages = [&inkNoPhoto, finePxPerMm, fine, cancel]() {
            InkWork work;
            const int sweep = fine > 1 ? 2 : 1;
            work.skew = FindSkew(inkNoPhoto, false, sweep);
            if (Cancelled(cancel))
                return work;
            // A page lying on its side has its lines running down the picture:
            // nothing on it is where a form has it, so nothing is reported.
            if (!work.skew.found || work.skew.confidence < 6.0) {
                const SkewWork across = FindSkew(inkNoPhoto, true, sweep);
                work.sideways = across.found && across.confidence > std::max(6.0, 2.0 * work.skew.confidence);
                if (work.sideways)
                    return work;
            }
            work.signature = FindSignature(inkNoPhoto, finePxPerMm, work.skew.found ? work.skew.degrees : 0.0, cancel);
            return work;
        };
        std::future<InkWork> inkFuture;
        try {
            inkFuture = std::async(secondThread ? std::launch::async : std::launch::deferred, inkStages);
        } catch (const std::system_error&) {
            inkFuture = std::async(std::launch::deferred, inkStages); // no thread to be had: in turn
        }
        const PhotoWork photo = FindPhoto(page, patches, cancel);
        const InkWork ink = inkFuture.get();
        if (Cancelled(cancel)) {
            result.cancelled = true;
            return result;
        }
        if (ink.sideways)
            return result;
        const SkewWork& skew = ink.skew;
        const SignatureWork& signature = ink.signature;

        if (photo.found) {
            result.photo.found = true;
            result.photo.photo = ToPicture(photo.photo, scale, result.pictureSize);
            result.photo.face = ToPicture(photo.face, scale, result.pictureSize);
            result.photo.framed = photo.framed;
            result.photo.confidence = photo.confidence;
            result.photo.found = !result.photo.photo.isEmpty();
        }
        if (signature.found) {
            result.signature.box = ToPicture(signature.box, scale * fine, result.pictureSize);
            result.signature.confidence = signature.confidence;
            result.signature.found = !result.signature.box.isEmpty();
        }
        if (skew.found) {
            result.skew = SkewFind{true, skew.degrees, std::min(1.0, skew.confidence / 20.0)};
        }
    } catch (const std::exception&) {
        // Out of memory or an OpenCV assertion on a picture nobody foresaw: no finds.
        PageAnalysis empty;
        empty.pictureSize = result.pictureSize;
        return empty;
    }
    return result;
}

PageAnalysis AnalysePage(const QImage& picture, const std::atomic<bool>* cancel, bool secondThread)
{
    if (picture.isNull())
        return AnalysePage(PictureView{}, cancel);
    if (picture.format() != QImage::Format_BGR888) {
        const QImage bgr = picture.convertToFormat(QImage::Format_BGR888);
        return AnalysePage(PictureView{bgr.constBits(), bgr.width(), bgr.height(), bgr.bytesPerLine()}, cancel, secondThread);
    }
    return AnalysePage(PictureView{picture.constBits(), picture.width(), picture.height(), picture.bytesPerLine()}, cancel, secondThread);
}

} // namespace analysis
