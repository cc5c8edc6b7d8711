// The signature: handwritten ink is a few large, thin, curving strokes; printed
// text is many small marks of one height on common baselines, and rules are
// long straight lines. Rules are taken out first, then the tall thin strokes are
// grouped, and the widest low group that does not look printed is the signature.

#include "analysis/Analysis_Internal.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace analysis::detail {

namespace {

struct Box {
    int x0, y0, x1, y1; // exclusive right and bottom
    int area = 0;       // ink pixels
    int strokes = 0;    // tall strokes in it
    std::vector<int> members;
};

int Gap(int a0, int a1, int b0, int b1) { return std::max(a0, b0) - std::min(a1, b1); }

// Several tall marks of nearly one height standing on one line: a printed
// heading in a large type, not a hand.
bool LooksPrinted(const std::vector<int>& members, const cv::Mat& stats, double pxPerMm)
{
    int aligned = 0;
    for (int a : members) {
        const int ha = stats.at<int>(a, cv::CC_STAT_HEIGHT);
        const int ba = stats.at<int>(a, cv::CC_STAT_TOP) + ha;
        int same = 0;
        for (int b : members) {
            const int hb = stats.at<int>(b, cv::CC_STAT_HEIGHT);
            const int bb = stats.at<int>(b, cv::CC_STAT_TOP) + hb;
            if (std::abs(ha - hb) <= std::max(1.0, 0.08 * ha) && std::abs(ba - bb) <= std::max(1.0, 0.5 * pxPerMm))
                ++same;
        }
        aligned = std::max(aligned, same);
    }
    return aligned >= 4 && aligned * 2 >= int(members.size());
}

// Marks every pixel of a straight run of at least len pixels, across (rows)
// or down (columns): an opening by a line, in one pass.
void MarkRuns(const cv::Mat& ink, cv::Mat& rules, int len)
{
    for (int y = 0; y < ink.rows; ++y) {
        const uint8_t* in = ink.ptr<uint8_t>(y);
        uint8_t* out = rules.ptr<uint8_t>(y);
        for (int x = 0; x < ink.cols;) {
            if (!in[x]) {
                ++x;
                continue;
            }
            int e = x;
            while (e < ink.cols && in[e])
                ++e;
            if (e - x >= len)
                std::fill(out + x, out + e, uint8_t(255));
            x = e;
        }
    }
    std::vector<int> run(size_t(ink.cols), 0);
    for (int y = 0; y <= ink.rows; ++y) {
        const uint8_t* in = y < ink.rows ? ink.ptr<uint8_t>(y) : nullptr;
        for (int x = 0; x < ink.cols; ++x) {
            if (in && in[x]) {
                ++run[size_t(x)];
                continue;
            }
            if (run[size_t(x)] >= len)
                for (int k = y - run[size_t(x)]; k < y; ++k)
                    rules.at<uint8_t>(k, x) = 255;
            run[size_t(x)] = 0;
        }
    }
}

} // namespace

SignatureWork FindSignature(const WorkPage& page, const cv::Mat& pageInk, const std::atomic<bool>* cancel)
{
    SignatureWork out;
    const double mm = page.pxPerMm;
    cv::Mat ink = pageInk.clone();

    // Rules: anything straight and longer than 20 mm across or down.
    const int ruleLen = std::max(8, int(std::lround(20 * mm)));
    cv::Mat rules = cv::Mat::zeros(ink.size(), CV_8U);
    MarkRuns(ink, rules, ruleLen);
    cv::dilate(rules, rules, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    ink.setTo(0, rules);
    if (Cancelled(cancel))
        return out;

    cv::Mat labels;
    cv::Mat stats;
    cv::Mat centroids;
    const int n = cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_32S);
    const int tall = int(std::lround(5.0 * mm));
    const int tooTall = int(std::lround(45.0 * mm));
    const int tooWide = int(std::lround(120.0 * mm));
    std::vector<Box> groups;
    for (int i = 1; i < n; ++i) {
        const int w = stats.at<int>(i, cv::CC_STAT_WIDTH);
        const int h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
        const int area = stats.at<int>(i, cv::CC_STAT_AREA);
        if (h < tall || h > tooTall || w > tooWide)
            continue;
        // A pen line is thin: ink covers little of the stroke's box.
        if (double(area) / (double(w) * h) > 0.3)
            continue;
        const int x = stats.at<int>(i, cv::CC_STAT_LEFT);
        const int y = stats.at<int>(i, cv::CC_STAT_TOP);
        groups.push_back(Box{x, y, x + w, y + h, area, 1, {i}});
    }
    if (groups.empty() || groups.size() > 200)
        return out;

    // Strokes of one hand: less than 8 mm apart across, overlapping or close down.
    const int gapX = int(std::lround(8 * mm));
    const int gapY = int(std::lround(4 * mm));
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t a = 0; a < groups.size() && !merged; ++a)
            for (size_t b = a + 1; b < groups.size() && !merged; ++b) {
                Box& A = groups[a];
                const Box& B = groups[b];
                if (Gap(A.x0, A.x1, B.x0, B.x1) < gapX && Gap(A.y0, A.y1, B.y0, B.y1) < gapY) {
                    A.x0 = std::min(A.x0, B.x0);
                    A.y0 = std::min(A.y0, B.y0);
                    A.x1 = std::max(A.x1, B.x1);
                    A.y1 = std::max(A.y1, B.y1);
                    A.area += B.area;
                    A.strokes += B.strokes;
                    A.members.insert(A.members.end(), B.members.begin(), B.members.end());
                    groups.erase(groups.begin() + long(b));
                    merged = true;
                }
            }
    }
    if (Cancelled(cancel))
        return out;

    const Box* best = nullptr;
    for (Box& g : groups) {
        // The small marks inside the group's box (dots, short strokes) are its ink too.
        const int pad = int(std::lround(1.0 * mm));
        const cv::Rect inner(std::max(0, g.x0 - pad), std::max(0, g.y0 - pad), 0, 0);
        for (int i = 1; i < n; ++i) {
            const int x = stats.at<int>(i, cv::CC_STAT_LEFT);
            const int y = stats.at<int>(i, cv::CC_STAT_TOP);
            const int w = stats.at<int>(i, cv::CC_STAT_WIDTH);
            const int h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
            if (x >= inner.x && y >= inner.y && x + w <= g.x1 + pad && y + h <= g.y1 + pad &&
                std::find(g.members.begin(), g.members.end(), i) == g.members.end())
                g.area += stats.at<int>(i, cv::CC_STAT_AREA);
        }
        const double w = (g.x1 - g.x0) / mm;
        const double h = (g.y1 - g.y0) / mm;
        if (w < 12 || h < 5 || h > 45 || w < 1.3 * h)
            continue;
        if (LooksPrinted(g.members, stats, mm))
            continue;
        if (!best || g.area > best->area)
            best = &g;
    }
    if (!best)
        return out;
    const int margin = int(std::lround(1.0 * mm));
    out.box = cv::Rect(best->x0 - margin, best->y0 - margin, best->x1 - best->x0 + 2 * margin, best->y1 - best->y0 + 2 * margin) &
              cv::Rect(0, 0, ink.cols, ink.rows);
    out.found = !out.box.empty();
    out.confidence = std::min(1.0, 0.5 + 0.1 * best->strokes);
    return out;
}

} // namespace analysis::detail
