// The reductions the analysis starts with. Reading the picture once is most of
// the analysis' memory traffic (a 600 dpi page is 100 MB), so these loops are
// written for the vectoriser: plain row loops over bytes, built at -O3.

#include "analysis/Analysis_Internal.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace analysis::detail {

namespace {

// One output row from the factor rows summed down: each pixel's factor columns
// across, weighted and divided. Factor known at compile time for the usual
// reductions, so the inner loop unrolls; one fixed-point multiply stands for
// the divide.
template <int Factor>
void GreyRow(const uint16_t* px, int ow, int factor, uint64_t inverse, int shift, uint8_t* o)
{
    const int f = Factor > 0 ? Factor : factor;
    const uint64_t half = uint64_t(1) << (shift - 1);
    for (int ox = 0; ox < ow; ++ox) {
        uint32_t b = 0, g = 0, r = 0;
        for (int j = 0; j < f; ++j, px += 3) {
            b += px[0];
            g += px[1];
            r += px[2];
        }
        const uint64_t sum = 29u * b + 150u * g + 77u * r;
        o[ox] = uint8_t(std::min<uint64_t>(255, (sum * inverse + half) >> shift));
    }
}

} // namespace

void ReduceToGrey(const uint8_t* bits, int64_t stride, int width, int height, int factor, cv::Mat& out)
{
    factor = std::clamp(std::min({factor, width, height}), 1, 256); // 256 rows of 255 still fit 16 bits
    const int ow = std::max(1, width / factor);
    const int oh = std::max(1, height / factor);
    out.create(oh, ow, CV_8U);
    // The factor rows of one output row summed down first (contiguous bytes,
    // sixteen at a time), then across.
    const size_t n = size_t(ow) * size_t(factor) * 3;
    std::vector<uint16_t> column(n);
    uint16_t* acc = column.data();
    // ITU-R 601 weights out of 256, then the square's size.
    const uint64_t count = uint64_t(factor) * uint64_t(factor) * 256u;
    const int shift = 40; // the largest sum, 256 x 256 x 255 x 256, times the inverse stays under 2^64
    const uint64_t inverse = ((uint64_t(1) << shift) + count / 2) / count;
    for (int oy = 0; oy < oh; ++oy) {
        const uint8_t* first = bits + int64_t(oy) * factor * stride;
        for (size_t i = 0; i < n; ++i)
            acc[i] = first[i];
        for (int k = 1; k < factor; ++k) {
            const uint8_t* row = first + int64_t(k) * stride;
            for (size_t i = 0; i < n; ++i)
                acc[i] = uint16_t(acc[i] + row[i]);
        }
        uint8_t* o = out.ptr<uint8_t>(oy);
        switch (factor) {
        case 1: GreyRow<1>(acc, ow, factor, inverse, shift, o); break;
        case 2: GreyRow<2>(acc, ow, factor, inverse, shift, o); break;
        case 3: GreyRow<3>(acc, ow, factor, inverse, shift, o); break;
        case 4: GreyRow<4>(acc, ow, factor, inverse, shift, o); break;
        case 6: GreyRow<6>(acc, ow, factor, inverse, shift, o); break;
        default: GreyRow<0>(acc, ow, factor, inverse, shift, o);
        }
    }
}

// A halving reads two rows of the fine copy at once, pixel pairs across.
template <typename Pick>
void Halve(const cv::Mat& in, cv::Mat& out, Pick pick)
{
    const int ow = std::max(1, in.cols / 2);
    const int oh = std::max(1, in.rows / 2);
    out.create(oh, ow, CV_8U);
    for (int y = 0; y < oh; ++y) {
        const uint8_t* a = in.ptr<uint8_t>(std::min(2 * y, in.rows - 1));
        const uint8_t* b = in.ptr<uint8_t>(std::min(2 * y + 1, in.rows - 1));
        uint8_t* o = out.ptr<uint8_t>(y);
        if (in.cols < 2) {
            o[0] = pick(a[0], a[0], b[0], b[0]);
            continue;
        }
        for (int x = 0; x < ow; ++x)
            o[x] = pick(a[2 * x], a[2 * x + 1], b[2 * x], b[2 * x + 1]);
    }
}

void HalveMean(const cv::Mat& in, cv::Mat& out)
{
    Halve(in, out, [](unsigned p, unsigned q, unsigned r, unsigned s) { return uint8_t((p + q + r + s + 2) >> 2); });
}

void HalveMax(const cv::Mat& in, cv::Mat& out)
{
    Halve(in, out, [](uint8_t p, uint8_t q, uint8_t r, uint8_t s) { return std::max(std::max(p, q), std::max(r, s)); });
}

void DarkerThan(const cv::Mat& grey, const cv::Mat& paper, int level, cv::Mat& out)
{
    out.create(grey.size(), CV_8U);
    for (int y = 0; y < grey.rows; ++y) {
        const uint8_t* g = grey.ptr<uint8_t>(y);
        const uint8_t* p = paper.ptr<uint8_t>(y);
        uint8_t* o = out.ptr<uint8_t>(y);
        // grey / paper < level / 255, without the divide (paper never taken as black).
        for (int x = 0; x < grey.cols; ++x)
            o[x] = uint8_t(-int(255 * g[x] < level * std::max<int>(p[x], 1)));
    }
}

} // namespace analysis::detail
