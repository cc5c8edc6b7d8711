// The reduction every analysis starts with, against the plain box average of
// the ITU-R 601 grey: every factor it takes its own path for (1..8 narrow,
// past 8 wide), widths that do not divide, and the brightest input, where a
// sum or a fixed-point product would overflow first.

#include "analysis/Analysis_Internal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

TEST(PageAnalysisReduce, GreyReductionIsTheBoxAverageForEveryFactor)
{
    for (int factor : {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 17}) {
        for (bool white : {false, true}) {
            SCOPED_TRACE(testing::Message() << "factor " << factor << (white ? " white" : " random"));
            const int w = 5 * factor + 3;
            const int h = 4 * factor + 1;
            const int stride = w * 3 + 5;
            std::vector<uint8_t> px(size_t(stride) * h);
            uint32_t seed = 12345u + uint32_t(factor);
            for (uint8_t& v : px) {
                seed = seed * 1664525u + 1013904223u;
                v = white ? 255 : uint8_t(seed >> 24);
            }
            cv::Mat out;
            analysis::detail::ReduceToGrey(px.data(), stride, w, h, factor, out);
            ASSERT_EQ(out.cols, w / factor);
            ASSERT_EQ(out.rows, h / factor);
            for (int oy = 0; oy < out.rows; ++oy)
                for (int ox = 0; ox < out.cols; ++ox) {
                    double sum = 0;
                    for (int y = oy * factor; y < (oy + 1) * factor; ++y)
                        for (int x = ox * factor; x < (ox + 1) * factor; ++x) {
                            const uint8_t* p = &px[size_t(y) * stride + size_t(x) * 3];
                            sum += (29.0 * p[0] + 150.0 * p[1] + 77.0 * p[2]) / 256.0;
                        }
                    const double want = sum / (factor * factor);
                    EXPECT_NEAR(out.at<uint8_t>(oy, ox), want, 0.51) << ox << "," << oy;
                }
        }
    }
}
