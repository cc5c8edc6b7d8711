// The resampler and the other pixel routines of the view, against values
// worked out by hand.

#include "ViewTestUtil.h"
#include "view/ExCopyRect.h"

#include <gtest/gtest.h>

namespace {
// A one-row grey picture with the given values (all three channels equal).
QImage GreyRow(std::initializer_list<int> values)
{
    QImage img(static_cast<int>(values.size()), 1, QImage::Format_BGR888);
    int x = 0;
    for (int v : values) {
        uint8_t* p = img.scanLine(0) + 3 * x++;
        p[0] = p[1] = p[2] = static_cast<uint8_t>(v);
    }
    return img;
}
} // namespace

TEST(ExCopyRect, EqualSizesCopyExactlyAndClipAtTheDestination)
{
    const QImage src = CoordPicture(50, 40);
    QImage dst = FlatPicture(30, 20, 1, 2, 3);
    ASSERT_TRUE(ExCopyRect(dst, TRect(-5, 10, 15, 30), src, TRect(20, 5, 40, 25)));
    EXPECT_EQ(PixelAt(dst, 0, 10), PixelAt(src, 25, 5));
    EXPECT_EQ(PixelAt(dst, 14, 19), PixelAt(src, 39, 14));
    EXPECT_EQ(PixelAt(dst, 15, 10), (Bgr{1, 2, 3}));
    EXPECT_EQ(PixelAt(dst, 0, 9), (Bgr{1, 2, 3}));
    // Entirely outside: nothing happens, and that is no failure.
    EXPECT_TRUE(ExCopyRect(dst, TRect(40, 40, 60, 60), src, TRect(0, 0, 20, 20)));
}

TEST(ExCopyRect, ReducingAveragesAreas)
{
    // 3 -> 2: pixel 0 covers source [0, 1.5), pixel 1 covers [1.5, 3).
    const QImage src = GreyRow({0, 90, 180});
    QImage dst(2, 1, QImage::Format_BGR888);
    ASSERT_TRUE(ExCopyRect(dst, TRect(0, 0, 2, 1), src, TRect(0, 0, 3, 1)));
    EXPECT_EQ(PixelAt(dst, 0, 0).g, 30);  // (0 + 45) / 1.5
    EXPECT_EQ(PixelAt(dst, 1, 0).g, 150); // (45 + 180) / 1.5
    // 2 x 2 blocks in both directions.
    QImage block(4, 2, QImage::Format_BGR888);
    const int v[2][4] = {{0, 40, 100, 100}, {80, 120, 100, 0}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            std::fill_n(block.scanLine(y) + 3 * x, 3, static_cast<uint8_t>(v[y][x]));
    QImage half(2, 1, QImage::Format_BGR888);
    ASSERT_TRUE(ExCopyRect(half, TRect(0, 0, 2, 1), block, TRect(0, 0, 4, 2)));
    EXPECT_EQ(PixelAt(half, 0, 0).b, 60);
    EXPECT_EQ(PixelAt(half, 1, 0).b, 75);
}

TEST(ExCopyRect, EnlargingInterpolatesBetweenPixelCentres)
{
    // 2 -> 4: destination centres fall on source positions -0.25, 0.25, 0.75, 1.25.
    const QImage src = GreyRow({0, 200});
    QImage dst(4, 1, QImage::Format_BGR888);
    ASSERT_TRUE(ExCopyRect(dst, TRect(0, 0, 4, 1), src, TRect(0, 0, 2, 1)));
    EXPECT_EQ(PixelAt(dst, 0, 0).r, 0);
    EXPECT_EQ(PixelAt(dst, 1, 0).r, 50);
    EXPECT_EQ(PixelAt(dst, 2, 0).r, 150);
    EXPECT_EQ(PixelAt(dst, 3, 0).r, 200);
    // Growing one way and shrinking the other in the same copy.
    QImage tall(1, 4, QImage::Format_BGR888);
    ASSERT_TRUE(ExCopyRect(tall, TRect(0, 0, 1, 4), GreyRow({0, 100}), TRect(0, 0, 2, 1)));
    EXPECT_EQ(PixelAt(tall, 0, 3).g, 50);
}

TEST(ExCopyRect, FlatAreasStayFlatAtAnyRatio)
{
    const QImage src = FlatPicture(97, 61, 255, 7, 128);
    for (const TRect d : {TRect(0, 0, 13, 11), TRect(0, 0, 50, 60), TRect(0, 0, 200, 150), TRect(0, 0, 333, 17)}) {
        QImage dst(d.Right, d.Bottom, QImage::Format_BGR888);
        ASSERT_TRUE(ExCopyRect(dst, d, src, TRect(0, 0, 97, 61)));
        for (int y = 0; y < dst.height(); y += 3)
            for (int x = 0; x < dst.width(); x += 5)
                ASSERT_EQ(PixelAt(dst, x, y), (Bgr{255, 7, 128})) << d.Right << "x" << d.Bottom;
    }
}

TEST(ExCopyRect, RefusesWhatItCannotCopy)
{
    const QImage src = CoordPicture(20, 20);
    QImage dst(10, 10, QImage::Format_BGR888);
    EXPECT_FALSE(ExCopyRect(dst, TRect(0, 0, 10, 10), src, TRect(15, 0, 25, 10)));
    EXPECT_FALSE(ExCopyRect(dst, TRect(0, 0, 10, 10), src, TRect(5, 5, 5, 10)));
    QImage other(10, 10, QImage::Format_Grayscale8);
    EXPECT_FALSE(ExCopyRect(other, TRect(0, 0, 10, 10), src, TRect(0, 0, 10, 10)));
    // Four-byte pixels work the same way.
    QImage src32 = src.convertToFormat(QImage::Format_RGB32);
    QImage dst32(10, 10, QImage::Format_RGB32);
    ASSERT_TRUE(ExCopyRect(dst32, TRect(0, 0, 10, 10), src32, TRect(0, 0, 10, 10)));
    EXPECT_EQ(dst32.pixel(7, 3), src32.pixel(7, 3));
}

TEST(BoxReduce, AveragesBlocksIncludingPartialOnesAtTheEdges)
{
    // 5 x 3 with value 10 * x + y; k = 2 gives 3 x 2, the last column and row from smaller blocks.
    QImage src(5, 3, QImage::Format_BGR888);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            std::fill_n(src.scanLine(y) + 3 * x, 3, static_cast<uint8_t>(10 * x + y));
    const QImage r = BoxReduce(src, 2);
    ASSERT_EQ(r.size(), QSize(3, 2));
    EXPECT_EQ(PixelAt(r, 0, 0).b, 6);  // (0 + 10 + 1 + 11) / 4 = 5.5
    EXPECT_EQ(PixelAt(r, 2, 0).b, 41); // (40 + 41) / 2 = 40.5
    EXPECT_EQ(PixelAt(r, 1, 1).b, 27); // (22 + 32) / 2
    EXPECT_EQ(PixelAt(r, 2, 1).b, 42);
    EXPECT_TRUE(BoxReduce(src, 0).isNull());
}

TEST(Mask, ExactColoursInsideOutsideAndInTheMargin)
{
    // Alpha 200: mask bytes blue 90, green 120, red 100; background keeps 55/255.
    EXPECT_EQ(MaskChannel(90, 200, 0), 90);
    EXPECT_EQ(MaskChannel(90, 200, 255), 145);
    EXPECT_EQ(MaskChannel(120, 200, 100), 142); // 120 + 21.57
    EXPECT_EQ(MaskChannel(250, 200, 255), 255); // saturates instead of wrapping
    const QImage back = FlatPicture(60, 40, 255, 100, 0);
    const QImage m = ComposeMask(back, TRect(20, 10, 29, 19), TRect(5, 5, 54, 34), 200);
    EXPECT_EQ(PixelAt(m, 10, 30), (Bgr{145, 142, 100})); // veiled picture
    EXPECT_EQ(PixelAt(m, 20, 10), (Bgr{255, 100, 0}));   // inside the frame, edges included
    EXPECT_EQ(PixelAt(m, 29, 19), (Bgr{255, 100, 0}));
    EXPECT_EQ(PixelAt(m, 30, 19), (Bgr{145, 142, 100}));
    EXPECT_EQ(PixelAt(m, 4, 20), (Bgr{255, 100, 0}));    // margin
    EXPECT_EQ(PixelAt(m, 54, 34), (Bgr{145, 142, 100})); // last picture pixel
    EXPECT_EQ(PixelAt(m, 55, 34), (Bgr{255, 100, 0}));
}

TEST(Ellipse, CopiesOnlyInsideTheInscribedEllipse)
{
    QImage dst = FlatPicture(21, 11, 0, 0, 0);
    const QImage src = FlatPicture(21, 11, 200, 200, 200);
    CopyInsideEllipse(dst, src, TRect(0, 0, 21, 11));
    EXPECT_EQ(PixelAt(dst, 10, 5).b, 200);
    EXPECT_EQ(PixelAt(dst, 0, 5).b, 200);
    EXPECT_EQ(PixelAt(dst, 20, 5).b, 200);
    EXPECT_EQ(PixelAt(dst, 10, 0).b, 200);
    EXPECT_EQ(PixelAt(dst, 0, 0).b, 0);
    EXPECT_EQ(PixelAt(dst, 20, 10).b, 0);
    EXPECT_EQ(PixelAt(dst, 2, 1).b, 0);
}
