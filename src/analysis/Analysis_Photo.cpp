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

// Faces are looked for at about half the work resolution: a passport-size
// photo's face is still 30 pixels wide there, and the cascade runs four times faster.
constexpr double kFaceDpi = 50.0;
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

bool DetectFace(const WorkPage& page, Face& face)
{
    cv::CascadeClassifier* cascade = Cascade();
    if (!cascade)
        return false;
    const double scale = std::min(1.0, kFaceDpi / (page.pxPerMm * 25.4));
    cv::Mat small;
    cv::resize(page.grey, small, cv::Size(), scale, scale, cv::INTER_AREA);
    cv::equalizeHist(small, small);
    std::vector<cv::Rect> faces;
    std::vector<int> hits;
    const int minSide = std::max(18, int(std::lround(8.0 * page.pxPerMm * scale))); // a face under 8 mm is no ID photo
    cascade->detectMultiScale(small, faces, hits, 1.1, 5, 0, cv::Size(minSide, minSide));
    int best = -1;
    for (size_t i = 0; i < faces.size(); ++i)
        if (best < 0 || faces[i].area() * std::min(hits[i], 20) > faces[best].area() * std::min(hits[best], 20))
            best = int(i);
    if (best < 0)
        return false;
    const cv::Rect& r = faces[best];
    face.rect = cv::Rect(int(std::lround(r.x / scale)), int(std::lround(r.y / scale)), int(std::lround(r.width / scale)),
                         int(std::lround(r.height / scale)));
    face.rect &= cv::Rect(0, 0, page.grey.cols, page.grey.rows);
    face.neighbours = hits[best];
    return !face.rect.empty();
}

// The patch of non-paper around the face. Thin marks (text, rules, the form's
// own boxes) are opened away first, so the patch does not run along a rule the
// photo was glued across.
bool PhotoEdges(const WorkPage& page, const cv::Rect& face, cv::Rect& photo)
{
    cv::Mat nonPaper;
    cv::threshold(page.flat, nonPaper, 232, 255, cv::THRESH_BINARY_INV);
    const int open = std::max(3, int(std::lround(2.0 * page.pxPerMm)));
    cv::morphologyEx(nonPaper, nonPaper, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(open, open)));
    const int close = std::max(3, int(std::lround(1.5 * page.pxPerMm)));
    cv::morphologyEx(nonPaper, nonPaper, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(close, close)));
    cv::Mat labels;
    cv::Mat stats;
    cv::Mat centroids;
    const int n = cv::connectedComponentsWithStats(nonPaper, labels, stats, centroids, 8, CV_32S);
    // The component covering most of the face.
    std::vector<int> cover(size_t(n), 0);
    for (int y = face.y; y < face.y + face.height; ++y) {
        const int* row = labels.ptr<int>(y);
        for (int x = face.x; x < face.x + face.width; ++x)
            ++cover[size_t(row[x])];
    }
    int best = -1;
    for (int i = 1; i < n; ++i)
        if (cover[size_t(i)] > 0 && (best < 0 || cover[size_t(i)] > cover[size_t(best)]))
            best = i;
    if (best < 0 || cover[size_t(best)] < face.area() / 3)
        return false;
    const cv::Rect r(stats.at<int>(best, cv::CC_STAT_LEFT), stats.at<int>(best, cv::CC_STAT_TOP),
                     stats.at<int>(best, cv::CC_STAT_WIDTH), stats.at<int>(best, cv::CC_STAT_HEIGHT));
    const double fill = double(stats.at<int>(best, cv::CC_STAT_AREA)) / r.area();
    // A photo is a rectangle a little larger than the head; a patch much larger
    // is a photographed page's background or a picture printed edge to edge.
    const bool plausible = fill > 0.6 && r.width >= 1.2 * face.width && r.height >= 1.3 * face.height &&
                           r.width <= 6 * face.width && r.height <= 8 * face.height &&
                           r.x > 0 && r.y > 0 && r.x + r.width < page.grey.cols && r.y + r.height < page.grey.rows;
    if (!plausible)
        return false;
    photo = r;
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

PhotoWork FindPhoto(const WorkPage& page, const std::atomic<bool>* cancel)
{
    PhotoWork out;
    Face face;
    if (!DetectFace(page, face) || Cancelled(cancel))
        return out;
    out.face = face.rect;
    out.confidence = std::min(1.0, face.neighbours / kSureNeighbours);
    cv::Rect photo;
    if (PhotoEdges(page, face.rect, photo)) {
        out.photo = photo;
        out.framed = true;
    } else {
        out.photo = IdentityFrame(face.rect, page.grey.size());
        out.framed = false;
    }
    out.found = !out.photo.empty();
    return out;
}

} // namespace analysis::detail
