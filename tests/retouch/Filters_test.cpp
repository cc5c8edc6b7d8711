// Spatial filters and noise pictures, on pictures small enough to work out by hand.

#include "RetouchTestUtil.h"
#include "retouch/OrImage_Pixels.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace orimage;

namespace {
Rgb Grey(int v) { return {v, v, v}; }

QImage GreyRows(const std::vector<std::vector<int>>& rows)
{
    QImage img = Filled(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), Grey(0));
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x)
            Set(img, static_cast<int>(x), static_cast<int>(y), Grey(rows[y][x]));
    return img;
}
} // namespace

TEST(AntiAlias, AveragesTheFourNeighboursInPlaceAndKeepsTheOuterRing)
{
    // White centre, black neighbours: its own value does not count.
    QImage dot = Filled(3, 3, Grey(0));
    Set(dot, 1, 1, Grey(255));
    AntiAliasRect(dot, 0, 0, 3, 3);
    EXPECT_EQ(At(dot, 1, 1), Grey(0));

    // (2,1) sees its left neighbour already smoothed: (0 + 0 + 75 + 40) >> 2.
    QImage img = GreyRows({{0, 0, 0, 0}, {0, 0, 200, 40}, {0, 100, 0, 0}});
    AntiAliasRect(img, 0, 0, 4, 3);
    EXPECT_EQ(At(img, 1, 1), Grey(75));
    EXPECT_EQ(At(img, 2, 1), Grey(28));

    const QImage before = Noisy(6, 5);
    QImage ring = before;
    AntiAliasRect(ring, 0, 0, 6, 5);
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(At(ring, x, 0), At(before, x, 0));
        EXPECT_EQ(At(ring, x, 4), At(before, x, 4));
    }
    for (int y = 0; y < 5; ++y) {
        EXPECT_EQ(At(ring, 0, y), At(before, 0, y));
        EXPECT_EQ(At(ring, 5, y), At(before, 5, y));
    }
    EXPECT_FALSE(SamePixels(ring, before));

    // A wide picture against the rule applied pixel by pixel, in place.
    QImage wide = Noisy(53, 6);
    QImage want = wide.copy();
    for (int y = 1; y < 5; ++y)
        for (int x = 1; x < 52; ++x)
            for (int c = 0; c < 3; ++c) {
                auto v = [&](int xx, int yy) { return want.scanLine(yy)[xx * 3 + c]; };
                const int sum = v(x, y - 1) + v(x, y + 1) + v(x - 1, y) + v(x + 1, y);
                want.scanLine(y)[x * 3 + c] = static_cast<uchar>(sum >> 2);
            }
    AntiAliasRect(wide, 0, 0, 53, 6);
    EXPECT_TRUE(SamePixels(wide, want));

    QImage tiny = Noisy(2, 2);
    const QImage tinyBefore = tiny.copy();
    AntiAliasRect(tiny, 0, 0, 2, 2);
    EXPECT_TRUE(SamePixels(tiny, tinyBefore));
}

TEST(Emboss, PairsWithThePixelBelowRightAndTheLastRowWithTheEmbossedRowAbove)
{
    // A uniform picture: every row but the last becomes 127; the last row pairs
    // with the already embossed row above: ((255 - 127) + 80) >> 1 = 104.
    QImage flat = Filled(5, 3, Grey(80));
    Emboss(flat);
    EXPECT_EQ(At(flat, 0, 0), Grey(127));
    EXPECT_EQ(At(flat, 4, 1), Grey(127));
    EXPECT_EQ(At(flat, 2, 2), Grey(104));

    QImage img = GreyRows({{100, 100, 100, 100, 100}, {0, 10, 20, 255, 40}});
    Emboss(img);
    EXPECT_EQ(At(img, 0, 0), Grey((0 + 100) >> 1));        // partner (3, 1)
    EXPECT_EQ(At(img, 1, 0), Grey((215 + 100) >> 1));      // partner (4, 1)
    EXPECT_EQ(At(img, 2, 0), Grey((235 + 100) >> 1));      // last three columns: partner below
    EXPECT_EQ(At(img, 4, 0), Grey((215 + 100) >> 1));
}

TEST(Emboss, LeavesPicturesWithoutPartnersUnchanged)
{
    for (const QSize size : {QSize(2, 5), QSize(1, 1), QSize(6, 1)}) {
        QImage img = Noisy(size.width(), size.height());
        const QImage before = img.copy();
        Emboss(img);
        EXPECT_TRUE(SamePixels(img, before)) << size.width() << "x" << size.height();
    }
}

TEST(Mosaic, BlocksTakeTheirTopLeftPixelAndEdgeBlocksAreCutShort)
{
    const QImage src = Noisy(5, 3);
    QImage one = src;
    Mosaic(one, 1);
    EXPECT_TRUE(SamePixels(one, src));

    QImage img = src;
    Mosaic(img, 2);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(At(img, x, y), At(src, x / 2 * 2, y / 2 * 2)) << x << "," << y;
}

TEST(SplitBlur, DistancesPastTheEdgesStayInsideThePicture)
{
    // One column, distance past both sizes: row 0 falls back to itself for all
    // four neighbours; row 1 mirrors to row H - 1 = 2; row 2 to the blurred row 1.
    QImage col = GreyRows({{10}, {20}, {60}});
    SplitBlur(col, 5);
    EXPECT_EQ(At(col, 0, 0), Grey(10));
    EXPECT_EQ(At(col, 0, 1), Grey(40));
    EXPECT_EQ(At(col, 0, 2), Grey(50));

    QImage single = Filled(1, 1, {1, 2, 3});
    SplitBlur(single, 255);
    EXPECT_EQ(At(single, 0, 0), (Rgb{1, 2, 3}));

    QImage zero = Noisy(4, 4);
    const QImage before = zero.copy();
    SplitBlur(zero, 0);
    EXPECT_TRUE(SamePixels(zero, before));
}

TEST(Trace, PaintsTheFirstSideOfABoundaryThenBothDirectionsFromThe2ndPass)
{
    QImage img = Filled(6, 4, {255, 0, 0});
    for (int y = 0; y < 4; ++y)
        for (int x = 3; x < 6; ++x)
            Set(img, x, y, {0, 0, 255});
    QImage once = img.copy();
    Trace(once, 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool black = x == 2 && y <= 2;  // the forward pass stops before the last row
            const Rgb want = black ? Rgb{0, 0, 0} : At(img, x, y);
            EXPECT_EQ(At(once, x, y), want) << x << "," << y;
        }
    QImage twice = img.copy();
    Trace(twice, 2);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(At(twice, 2, y), (Rgb{0, 0, 0})) << y;
    EXPECT_EQ(At(twice, 3, 3), (Rgb{0, 0, 255}));

    QImage flat = Filled(5, 5, {30, 60, 90});
    Trace(flat, 10);
    EXPECT_EQ(At(flat, 2, 2), (Rgb{30, 60, 90}));
    EXPECT_NE(TraceIndex(255, 0, 0), TraceIndex(0, 0, 255));
}

TEST(SmoothResize, FixedPointWeightsAndSingleRowOrColumnSources)
{
    QImage col = GreyRows({{0}, {100}, {201}, {50}});
    QImage small(1, 2, QImage::Format_BGR888);
    SmoothResize(col, small);
    EXPECT_EQ(At(small, 0, 0), Grey(0));
    EXPECT_EQ(At(small, 0, 1), Grey(150));  // halfway between rows 1 and 2, rounded down

    QImage row = GreyRows({{0, 100, 201, 50}});
    QImage half(2, 1, QImage::Format_BGR888);
    SmoothResize(row, half);
    EXPECT_EQ(At(half, 0, 0), Grey(0));
    EXPECT_EQ(At(half, 1, 0), Grey(150));

    QImage flat(3, 3, QImage::Format_BGR888);
    SmoothResize(Filled(9, 7, {10, 20, 30}), flat);
    EXPECT_EQ(At(flat, 2, 2), (Rgb{10, 20, 30}));
}

TEST(Noise, RangeOrderMonoAndRepeatableSeeds)
{
    TNoiseRandom rng(1);
    const QImage zero = MakeNoise(8, 8, 1, false, rng);
    EXPECT_TRUE(SamePixels(zero, Filled(8, 8, Grey(0))));

    TNoiseRandom a(42), b(42);
    const QImage na = MakeNoise(16, 9, 100, false, a);
    EXPECT_TRUE(SamePixels(na, MakeNoise(16, 9, 100, false, b)));
    int maxSeen = 0, zeros = 0;
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 16; ++x) {
            const Rgb c = At(na, x, y);
            maxSeen = std::max({maxSeen, c.r, c.g, c.b});
            zeros += (c.r == 0) + (c.g == 0) + (c.b == 0);
        }
    EXPECT_LE(maxSeen, 49);  // random(100) - 50, at most 99 - 50
    EXPECT_GT(maxSeen, 30);
    EXPECT_GT(zeros, 100);   // about half the draws are negative and clamp to 0

    // Colour noise draws red first.
    TNoiseRandom c(9), d(9);
    const QImage colour = MakeNoise(1, 1, 200, false, c);
    const int red = d.Random(200) - 100;
    EXPECT_EQ(At(colour, 0, 0).r, std::clamp(red, 0, 255));

    TNoiseRandom m(3);
    const QImage mono = MakeNoise(10, 10, 300, true, m);
    const Rgb p = At(mono, 4, 7);
    EXPECT_TRUE(p.r == p.g && p.g == p.b);
    TNoiseRandom big(5);
    EXPECT_LT(big.Random(2000000000), 2000000000);
    EXPECT_EQ(big.Random(0), 0);
}
