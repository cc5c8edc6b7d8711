#include "analysis/Analysis_Internal.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>
#include <chrono>
#include <cstdio>
#define TR(x) std::fprintf(stderr, "%s %.1f\n", x, std::chrono::duration<double,std::milli>(std::chrono::steady_clock::now()-T0).count())

namespace analysis {

using namespace detail;

namespace {

// Pages are A4 (or close to it); the page's size in pixels gives its resolution
// better than a decoder's density field, which scanners often leave at 72.
constexpr double kPageLongMm = 297.0;

// Pictures this far from a page's shape are strips or thumbnails, never forms.
constexpr double kMaxAspect = 4.0;
constexpr int kMinSide = 64;

// Box-average reduction by a whole factor, turning BGR into grey on the way
// (ITU-R 601 weights): one pass over the picture, which at 600 dpi is most of
// the analysis' memory traffic. OpenCV's area resampler is several times slower here.
template <int Channels>
void ReduceToGrey(const uint8_t* bits, int64_t stride, int width, int height, int factor, cv::Mat& out)
{
    const int ow = std::max(1, width / factor);
    const int oh = std::max(1, height / factor);
    out.create(oh, ow, CV_8U);
    std::vector<uint32_t> acc(static_cast<size_t>(ow), 0u);
    const int fx = std::min(factor, width);
    const int fy = std::min(factor, height);
    const uint32_t count = uint32_t(fx) * uint32_t(fy);
    for (int oy = 0; oy < oh; ++oy) {
        std::fill(acc.begin(), acc.end(), 0u);
        for (int k = 0; k < fy; ++k) {
            const uint8_t* row = bits + int64_t(oy * factor + k) * stride;
            for (int ox = 0; ox < ow; ++ox) {
                const uint8_t* px = row + size_t(ox) * size_t(factor) * Channels;
                uint32_t sum = 0;
                for (int j = 0; j < fx; ++j, px += Channels) {
                    if constexpr (Channels == 3)
                        sum += 29u * px[0] + 150u * px[1] + 77u * px[2];
                    else
                        sum += 256u * px[0];
                }
                acc[size_t(ox)] += sum;
            }
        }
        uint8_t* o = out.ptr<uint8_t>(oy);
        for (int ox = 0; ox < ow; ++ox)
            o[ox] = uint8_t(std::min<uint32_t>(255, (acc[size_t(ox)] / count + 128) >> 8));
    }
}

bool MakeWorkPage(const PictureView& pic, WorkPage& page)
{
    const int longSide = std::max(pic.width, pic.height);
    const double pxPerMmPicture = longSide / kPageLongMm;
    const double wanted = kWorkDpi / 25.4;
    // A whole-number reduction: every work pixel averages the same source square.
    const int factor = std::max(1, int(std::floor(pxPerMmPicture / wanted)));
    ReduceToGrey<3>(pic.bits, pic.stride, pic.width, pic.height, factor, page.grey);
    page.scale = 1.0 / factor;
    page.pxPerMm = pxPerMmPicture * page.scale;

    // The paper's own brightness, with marks taken out: light falling off
    // towards one side must not read as ink.
    cv::Mat tiny;
    const int shrink = 8;
    ReduceToGrey<1>(page.grey.data, int64_t(page.grey.step), page.grey.cols, page.grey.rows, shrink, tiny);
    // The brightest paper within 60 mm: wider than any glued photo, so a photo
    // never counts as dim paper.
    const int k = std::max(3, int(std::lround(60.0 * page.pxPerMm / shrink)) | 1);
    cv::dilate(tiny, tiny, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(k, k)));
    cv::GaussianBlur(tiny, tiny, cv::Size(0, 0), k / 2.0);
    cv::Mat background;
    cv::resize(tiny, background, page.grey.size(), 0, 0, cv::INTER_LINEAR);
    cv::max(background, 1, background);
    page.grey.convertTo(page.flat, CV_32F);
    cv::Mat bg32;
    background.convertTo(bg32, CV_32F);
    cv::divide(page.flat, bg32, page.flat, 255.0);
    page.flat.convertTo(page.flat, CV_8U);

    cv::Mat smooth;
    cv::GaussianBlur(page.flat, smooth, cv::Size(3, 3), 0);
    cv::threshold(smooth, page.ink, 165, 255, cv::THRESH_BINARY_INV);
    return true;
}

// A negative or colour-inverted scan: the "paper" is dark.
bool LooksInverted(const cv::Mat& grey)
{
    int hist[256] = {};
    for (int y = 0; y < grey.rows; y += 2) {
        const uint8_t* row = grey.ptr<uint8_t>(y);
        for (int x = 0; x < grey.cols; x += 2)
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

PageAnalysis AnalysePage(const PictureView& picture, const std::atomic<bool>* cancel)
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
        auto T0 = std::chrono::steady_clock::now();
        WorkPage page;
        MakeWorkPage(picture, page);
        if (Cancelled(cancel) || LooksInverted(page.grey)) {
            result.cancelled = Cancelled(cancel);
            return result;
        }
        const double scale = page.scale;
        TR("work");

        // The photo first: its texture is not ink for the other two stages.
        const std::vector<cv::Rect> patches = SolidPatches(page);
        PhotoWork photo = FindPhoto(page, patches, cancel);
        if (Cancelled(cancel)) {
            result.cancelled = true;
            return result;
        }
        TR("photo");
        // Photographic texture is no ink: every solid patch is left out, found face or not.
        cv::Mat inkNoPhoto = page.ink;
        if (!patches.empty()) {
            inkNoPhoto = page.ink.clone();
            const int pad = int(std::lround(2 * page.pxPerMm));
            for (cv::Rect r : patches) {
                r.x -= pad;
                r.y -= pad;
                r.width += 2 * pad;
                r.height += 2 * pad;
                inkNoPhoto(r & cv::Rect(0, 0, page.ink.cols, page.ink.rows)).setTo(0);
            }
        }

        SkewWork skew = FindSkew(inkNoPhoto, false);
        if (Cancelled(cancel)) {
            result.cancelled = true;
            return result;
        }
        // A page lying on its side has its lines running down the picture:
        // nothing on it is where a form has it, so nothing is reported.
        if (!skew.found || skew.confidence < 6.0) {
            const SkewWork across = FindSkew(inkNoPhoto, true);
            if (across.found && across.confidence > std::max(6.0, 2.0 * skew.confidence))
                return result;
        }

        TR("skew");
        SignatureWork signature = FindSignature(page, inkNoPhoto, cancel);
        if (Cancelled(cancel)) {
            result.cancelled = true;
            return result;
        }

        TR("sig");
        if (photo.found) {
            result.photo.found = true;
            result.photo.photo = ToPicture(photo.photo, scale, result.pictureSize);
            result.photo.face = ToPicture(photo.face, scale, result.pictureSize);
            result.photo.framed = photo.framed;
            result.photo.confidence = photo.confidence;
            result.photo.found = !result.photo.photo.isEmpty();
        }
        if (signature.found) {
            result.signature.box = ToPicture(signature.box, scale, result.pictureSize);
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

PageAnalysis AnalysePage(const QImage& picture, const std::atomic<bool>* cancel)
{
    if (picture.isNull())
        return AnalysePage(PictureView{}, cancel);
    if (picture.format() != QImage::Format_BGR888) {
        const QImage bgr = picture.convertToFormat(QImage::Format_BGR888);
        return AnalysePage(PictureView{bgr.constBits(), bgr.width(), bgr.height(), bgr.bytesPerLine()}, cancel);
    }
    return AnalysePage(PictureView{picture.constBits(), picture.width(), picture.height(), picture.bytesPerLine()}, cancel);
}

} // namespace analysis
