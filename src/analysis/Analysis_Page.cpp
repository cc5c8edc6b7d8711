#include "analysis/Analysis_Internal.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace analysis {

using namespace detail;

namespace {

// Pages are A4 (or close to it); the page's size in pixels gives its resolution
// better than a decoder's density field, which scanners often leave at 72.
constexpr double kPageLongMm = 297.0;

// Pictures this far from a page's shape are strips or thumbnails, never forms.
constexpr double kMaxAspect = 4.0;
constexpr int kMinSide = 64;

bool MakeWorkPage(const PictureView& pic, WorkPage& page)
{
    const int longSide = std::max(pic.width, pic.height);
    const double pxPerMmPicture = longSide / kPageLongMm;
    const double wanted = kWorkDpi / 25.4;
    const double scale = std::min(1.0, wanted / pxPerMmPicture);
    const cv::Mat src(pic.height, pic.width, CV_8UC3, const_cast<uint8_t*>(pic.bits), size_t(pic.stride));
    cv::Mat small;
    if (scale < 1.0) {
        const cv::Size size(std::max(1, int(std::lround(pic.width * scale))), std::max(1, int(std::lround(pic.height * scale))));
        cv::resize(src, small, size, 0, 0, cv::INTER_AREA);
    } else {
        small = src;
    }
    cv::cvtColor(small, page.grey, cv::COLOR_BGR2GRAY);
    page.pxPerMm = pxPerMmPicture * scale;

    // The paper's own brightness, with marks closed over: light falling off
    // towards one side must not read as ink.
    cv::Mat tiny;
    const int shrink = 8;
    cv::resize(page.grey, tiny, cv::Size(std::max(1, page.grey.cols / shrink), std::max(1, page.grey.rows / shrink)), 0, 0,
               cv::INTER_AREA);
    const int k = std::max(3, int(std::lround(12.0 * page.pxPerMm / shrink)) | 1);
    cv::morphologyEx(tiny, tiny, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(k, k)));
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
    try {
        WorkPage page;
        MakeWorkPage(picture, page);
        if (Cancelled(cancel) || LooksInverted(page.grey)) {
            result.cancelled = Cancelled(cancel);
            return result;
        }
        const double scale = double(page.grey.cols) / picture.width;

        // The photo first: its texture is not ink for the other two stages.
        PhotoWork photo = FindPhoto(page, cancel);
        if (Cancelled(cancel)) {
            result.cancelled = true;
            return result;
        }
        cv::Mat inkNoPhoto = page.ink;
        cv::Rect photoMask;
        if (photo.found) {
            photoMask = photo.photo;
            const int pad = int(std::lround(2 * page.pxPerMm));
            photoMask.x -= pad;
            photoMask.y -= pad;
            photoMask.width += 2 * pad;
            photoMask.height += 2 * pad;
            photoMask &= cv::Rect(0, 0, page.ink.cols, page.ink.rows);
            inkNoPhoto = page.ink.clone();
            inkNoPhoto(photoMask).setTo(0);
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

        SignatureWork signature = FindSignature(page, photoMask, cancel);
        if (Cancelled(cancel)) {
            result.cancelled = true;
            return result;
        }

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
