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
// or down (columns): an opening by a line, in one pass. Runs down go into
// rulesDown as well where one is given.
void MarkRuns(const cv::Mat& ink, cv::Mat& rules, int len, int lenDown, cv::Mat* rulesDown = nullptr)
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
            if (run[size_t(x)] >= lenDown)
                for (int k = y - run[size_t(x)]; k < y; ++k) {
                    rules.at<uint8_t>(k, x) = 255;
                    if (rulesDown)
                        rulesDown->at<uint8_t>(k, x) = 255;
                }
            run[size_t(x)] = 0;
        }
    }
}

// Rules: straight runs longer than 35 mm across (a pen's flourish is seldom
// that straight) or 20 mm down, on straightened ink. Looked for on the ink
// thickened by a pixel, so a thin rule the scan broke still runs. Marked in
// rules (same size, zeroed by the caller), those down also in rulesDown where given.
void MarkRules(const cv::Mat& ink, double mm, cv::Mat& rules, cv::Mat* rulesDown = nullptr)
{
    cv::Mat bridged;
    cv::dilate(ink, bridged, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    MarkRuns(bridged, rules, std::max(8, int(std::lround(35 * mm))), std::max(8, int(std::lround(20 * mm))), rulesDown);
}

void ClearRules(cv::Mat& ink, cv::Mat& rules)
{
    cv::dilate(rules, rules, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    ink.setTo(0, rules);
}

} // namespace

SignatureWork FindSignature(const cv::Mat& pageInk, double pxPerMm, double skewDegrees, const std::atomic<bool>* cancel)
{
    SignatureWork out;
    const double mm = pxPerMm;
    // Straightened first: a rule on a crooked page is a staircase of short runs.
    const bool turn = std::fabs(skewDegrees) >= 0.2;
    const cv::Mat toStraight = cv::getRotationMatrix2D(cv::Point2f(pageInk.cols / 2.0f, pageInk.rows / 2.0f), skewDegrees, 1.0);
    cv::Mat toPage;
    cv::invertAffineTransform(toStraight, toPage);

    // Where the tall marks are, on the whole page halved (a mark keeps its
    // connections and at least half its height), straightened and cleared of
    // rules: only the bands of rows round them are worked on in full detail,
    // and most of a page's text never is.
    cv::Mat half;
    HalveMax(pageInk, half);
    if (turn) {
        const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(half.cols / 2.0f, half.rows / 2.0f), skewDegrees, 1.0);
        cv::Mat turned;
        cv::warpAffine(half, turned, m, half.size(), cv::INTER_NEAREST, cv::BORDER_CONSTANT, cv::Scalar(0));
        half = turned;
    }
    // Rules down the page as the halved page has them: a band may cut one short.
    cv::Mat halfRules = cv::Mat::zeros(half.size(), CV_8U);
    {
        cv::Mat rules = cv::Mat::zeros(half.size(), CV_8U);
        MarkRules(half, mm / 2, rules, &halfRules);
        ClearRules(half, rules);
    }
    if (Cancelled(cancel))
        return out;
    const int tall = int(std::lround(5.0 * mm));
    const int bandPad = int(std::lround(6.0 * mm));
    std::vector<std::pair<int, int>> bands;
    {
        cv::Mat labels;
        cv::Mat stats;
        cv::Mat centroids;
        const int n = cv::connectedComponentsWithStats(half, labels, stats, centroids, 8, CV_32S);
        const int halfTall = std::max(1, tall / 2 - 1);
        for (int i = 1; i < n; ++i) {
            const int top = stats.at<int>(i, cv::CC_STAT_TOP);
            const int h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
            if (h >= halfTall)
                bands.emplace_back(std::max(0, 2 * top - bandPad), std::min(pageInk.rows, 2 * (top + h) + bandPad));
        }
    }
    std::sort(bands.begin(), bands.end());

    // The bands in full detail: straightened, cleared of rules (and of those
    // down the page the halved page found, which a band may cut short),
    // and their components (boxes and areas as connectedComponentsWithStats
    // gives them, row 0 the background) gathered in page rows.
    cv::Mat ink = cv::Mat::zeros(pageInk.size(), CV_8U);
    cv::Mat stats = cv::Mat::zeros(1, cv::CC_STAT_MAX, CV_32S);
    for (size_t b = 0; b < bands.size();) {
        const int y0 = bands[b].first;
        int y1 = bands[b].second;
        for (++b; b < bands.size() && bands[b].first <= y1; ++b)
            y1 = std::max(y1, bands[b].second);
        cv::Mat band = ink.rowRange(y0, y1);
        if (turn) {
            cv::Mat m = toStraight.clone();
            m.at<double>(1, 2) -= y0;
            cv::warpAffine(pageInk, band, m, band.size(), cv::INTER_NEAREST, cv::BORDER_CONSTANT, cv::Scalar(0));
        } else {
            pageInk.rowRange(y0, y1).copyTo(band);
        }
        cv::Mat rules = cv::Mat::zeros(band.size(), CV_8U);
        MarkRules(band, mm, rules);
        for (int y = 0; y < band.rows; ++y) {
            const uint8_t* coarse = halfRules.ptr<uint8_t>(std::min((y0 + y) / 2, halfRules.rows - 1));
            uint8_t* fine = rules.ptr<uint8_t>(y);
            for (int x = 0; x < band.cols; ++x)
                fine[x] |= coarse[std::min(x / 2, halfRules.cols - 1)];
        }
        ClearRules(band, rules);
        cv::Mat labels;
        cv::Mat bandStats;
        cv::Mat centroids;
        const int m = cv::connectedComponentsWithStats(band, labels, bandStats, centroids, 8, CV_32S);
        for (int i = 1; i < m; ++i) {
            bandStats.at<int>(i, cv::CC_STAT_TOP) += y0;
            stats.push_back(bandStats.row(i));
        }
    }
    if (Cancelled(cancel))
        return out;

    const int n = stats.rows;
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
    // The hand's smaller letters beside the tall strokes: marks on the group's
    // own line, less than 3 mm from its box, taken in until none is left.
    Box grown = *best;
    const int near = int(std::lround(3 * mm));
    for (bool took = true; took;) {
        took = false;
        for (int i = 1; i < n; ++i) {
            const int x = stats.at<int>(i, cv::CC_STAT_LEFT);
            const int y = stats.at<int>(i, cv::CC_STAT_TOP);
            const int w = stats.at<int>(i, cv::CC_STAT_WIDTH);
            const int h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
            const int cy = y + h / 2;
            if (stats.at<int>(i, cv::CC_STAT_AREA) < 3 || h > tooTall || w > tooWide || cy < grown.y0 || cy >= grown.y1)
                continue;
            if (x >= grown.x0 && x + w <= grown.x1)
                continue; // inside already
            if (Gap(grown.x0, grown.x1, x, x + w) < near) {
                grown.x0 = std::min(grown.x0, x);
                grown.x1 = std::max(grown.x1, x + w);
                grown.y0 = std::min(grown.y0, y);
                grown.y1 = std::max(grown.y1, y + h);
                took = true;
            }
        }
    }
    best = &grown;
    // The box on the page: the group's ink turned back, so the box is the ink's
    // own, not the box of a turned box.
    const int margin = int(std::lround(1.0 * mm));
    const cv::Rect group(best->x0, best->y0, best->x1 - best->x0, best->y1 - best->y0);
    std::vector<cv::Point> points;
    cv::findNonZero(ink(group), points);
    std::vector<cv::Point2f> mapped;
    mapped.reserve(points.size());
    for (const cv::Point& q : points) {
        const double x = q.x + group.x + 0.5;
        const double y = q.y + group.y + 0.5;
        mapped.emplace_back(float(toPage.at<double>(0, 0) * x + toPage.at<double>(0, 1) * y + toPage.at<double>(0, 2)),
                            float(toPage.at<double>(1, 0) * x + toPage.at<double>(1, 1) * y + toPage.at<double>(1, 2)));
    }
    if (mapped.empty())
        return out;
    cv::Rect box = cv::boundingRect(mapped);
    box.x -= margin;
    box.y -= margin;
    box.width += 2 * margin;
    box.height += 2 * margin;
    out.box = box & cv::Rect(0, 0, ink.cols, ink.rows);
    out.found = !out.box.empty();
    out.confidence = std::min(1.0, 0.5 + 0.1 * best->strokes);
    return out;
}

} // namespace analysis::detail
