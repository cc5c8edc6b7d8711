// Faces through OpenCV's Haar cascade, then the glued or printed photo around
// the face: a solid patch of photographic texture with paper all round.

#include "analysis/Analysis_Internal.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace analysis::detail {

namespace {

// A face smaller than this share of the patch's shorter side is not the
// photo's subject; the cascade is run on the patch scaled so its shorter side
// is at most kPatchSide pixels, which keeps a face above the cascade's 20 pixels.
// Measured on the corpus: 120 pixels and steps of 1.2 between scales find every
// photo at a third of the time of 160 and 1.1; 100 or steps of 1.25 miss some.
constexpr double kMinFaceShare = 0.22;
constexpr int kPatchSide = 120;
constexpr double kScaleStep = 1.2;
// At most this many neighbouring hits make a face certain.
constexpr double kSureNeighbours = 24.0;

std::string CascadeDir()
{
    if (const char* dir = std::getenv("CORVANTA_CASCADE_DIR"); dir && *dir)
        return dir;
    return CORVANTA_CASCADE_DIR;
}

// One cascade per thread: the classifier keeps scratch state while it runs.
cv::CascadeClassifier* Cascade()
{
    thread_local cv::CascadeClassifier cascade;
    thread_local bool tried = false;
    if (!tried) {
        tried = true;
        try {
            cascade.load(CascadeDir() + "/haarcascades/haarcascade_frontalface_alt2.xml");
        } catch (const cv::Exception&) {
        }
    }
    return cascade.empty() ? nullptr : &cascade;
}

struct Face {
    cv::Rect rect; // work pixels
    int neighbours = 0;
};

// The best face inside one patch, or false.
bool DetectFace(const cv::Mat& grey, const cv::Rect& patch, Face& face)
{
    cv::CascadeClassifier* cascade = Cascade();
    if (!cascade)
        return false;
    const int shorter = std::min(patch.width, patch.height);
    const double scale = std::min(1.0, double(kPatchSide) / shorter);
    cv::Mat small;
    if (scale < 1.0)
        cv::resize(grey(patch), small, cv::Size(), scale, scale, cv::INTER_AREA);
    else
        small = grey(patch);
    const int minSide = std::max(20, int(kMinFaceShare * shorter * scale));
    if (minSide > std::min(small.cols, small.rows))
        return false;
    std::vector<cv::Rect> faces;
    std::vector<int> hits;
    cascade->detectMultiScale(small, faces, hits, kScaleStep, 4, 0, cv::Size(minSide, minSide));
    int best = -1;
    for (size_t i = 0; i < faces.size(); ++i)
        if (best < 0 || std::min(hits[i], 20) * faces[i].area() > std::min(hits[best], 20) * faces[best].area())
            best = int(i);
    if (best < 0)
        return false;
    const cv::Rect& r = faces[size_t(best)];
    face.rect = cv::Rect(patch.x + int(std::lround(r.x / scale)), patch.y + int(std::lround(r.y / scale)),
                         int(std::lround(r.width / scale)), int(std::lround(r.height / scale)));
    face.neighbours = hits[size_t(best)];
    return true;
}

// Where no photo edge frames the face: the identity-photo rule, the face
// centred and chin to crown about three quarters of the frame's height. The
// detector's box runs from the brows to the chin; the crown is about a third
// of its height above it.
cv::Rect IdentityFrame(const cv::Rect& face, cv::Size page)
{
    const double head = 1.35 * face.height;
    const double h = head / 0.75;
    const double w = h * kPhotoFrameW / kPhotoFrameH;
    const double cx = face.x + face.width / 2.0;
    const double cy = face.y - 0.35 * face.height + head / 2.0;
    cv::Rect r(int(std::lround(cx - w / 2)), int(std::lround(cy - h / 2)), int(std::lround(w)), int(std::lround(h)));
    return r & cv::Rect(0, 0, page.width, page.height);
}

} // namespace

std::vector<cv::Rect> SolidPatches(const WorkPage& page)
{
    // Non-paper with thin marks (text, rules, the form's own boxes, pen strokes)
    // opened away: what stays is photographic texture, and a photo glued across
    // a rule does not run along it.
    cv::Mat nonPaper;
    const int open = std::max(3, int(std::lround(2.0 * page.pxPerMm)));
    cv::morphologyEx(page.nonPaper, nonPaper, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(open, open)));
    const int close = std::max(3, int(std::lround(1.5 * page.pxPerMm)));
    cv::morphologyEx(nonPaper, nonPaper, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(close, close)));
    cv::Mat labels;
    cv::Mat stats;
    cv::Mat centroids;
    const int n = cv::connectedComponentsWithStats(nonPaper, labels, stats, centroids, 8, CV_32S);
    std::vector<cv::Rect> patches;
    const int minSide = int(std::lround(10 * page.pxPerMm));
    for (int i = 1; i < n; ++i) {
        const cv::Rect r(stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP), stats.at<int>(i, cv::CC_STAT_WIDTH),
                         stats.at<int>(i, cv::CC_STAT_HEIGHT));
        const double fill = double(stats.at<int>(i, cv::CC_STAT_AREA)) / r.area();
        // The desk round a photographed page touches the picture's edges and is
        // no photo; a photo is a filled rectangle.
        const bool edge = r.x == 0 || r.y == 0 || r.x + r.width == nonPaper.cols || r.y + r.height == nonPaper.rows;
        if (r.width >= minSide && r.height >= minSide && fill > 0.6 && !edge && r.width < nonPaper.cols / 2 &&
            r.height < nonPaper.rows / 2)
            patches.push_back(r);
    }
    return patches;
}

PhotoWork FindPhoto(const WorkPage& page, const std::vector<cv::Rect>& patches, const std::atomic<bool>* cancel)
{
    PhotoWork out;
    Face best;
    cv::Rect bestPatch;
    for (const cv::Rect& patch : patches) {
        if (Cancelled(cancel))
            return out;
        // The face is looked for on the fine copy, and kept in work pixels.
        const double k = page.greyScale;
        const cv::Rect fine = cv::Rect(int(patch.x * k), int(patch.y * k), int(patch.width * k), int(patch.height * k)) &
                              cv::Rect(0, 0, page.grey.cols, page.grey.rows);
        Face face;
        if (!fine.empty() && DetectFace(page.grey, fine, face) && face.neighbours > best.neighbours) {
            face.rect = cv::Rect(int(std::lround(face.rect.x / k)), int(std::lround(face.rect.y / k)),
                                 int(std::lround(face.rect.width / k)), int(std::lround(face.rect.height / k)));
            best = face;
            bestPatch = patch;
        }
    }
    if (best.rect.empty())
        return out;
    out.face = best.rect;
    out.confidence = std::min(1.0, best.neighbours / kSureNeighbours);
    // A photo is a rectangle a little larger than the head; a patch much larger
    // is a picture printed edge to edge, where the identity rule frames the face.
    const cv::Rect& r = bestPatch;
    const cv::Rect& f = best.rect;
    const bool framed = r.width >= 1.2 * f.width && r.height >= 1.3 * f.height && r.width <= 6 * f.width && r.height <= 8 * f.height;
    out.framed = framed;
    out.photo = framed ? r : IdentityFrame(f, page.nonPaper.size());
    out.found = !out.photo.empty();
    return out;
}

} // namespace analysis::detail
