#include "platform/Geometry.h"
#include "platform/ImageAlloc.h"
#include "platform/Rounding.h"

#include <gtest/gtest.h>

TEST(Rounding, RoundHalvesToEvenAndMulDivAwayFromZero)
{
    EXPECT_EQ(Round(0.5), 0);
    EXPECT_EQ(Round(1.5), 2);
    EXPECT_EQ(Round(2.5), 2);
    EXPECT_EQ(Round(-2.5), -2);
    EXPECT_EQ(Round(1071.43L), 1071);
    EXPECT_EQ(MulDiv(1, 1, 2), 1);
    EXPECT_EQ(MulDiv(-1, 1, 2), -1);
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(5, 1, 2), 3);
    EXPECT_EQ(MulDiv(65536, 65536, 65536), 65536);
    EXPECT_EQ(MulDiv(7, 3, 0), -1);
}

TEST(Geometry, IntersectAndPtInRectReadRightBottomExclusive)
{
    TRect r;
    EXPECT_TRUE(IntersectRect(r, Rect(0, 0, 10, 10), Rect(5, 5, 20, 20)));
    EXPECT_EQ(r, Rect(5, 5, 10, 10));
    EXPECT_FALSE(IntersectRect(r, Rect(0, 0, 10, 10), Rect(10, 0, 20, 10)));
    EXPECT_EQ(r, Rect(0, 0, 0, 0));
    EXPECT_TRUE(PtInRect(Rect(0, 0, 10, 10), Point(9, 9)));
    EXPECT_FALSE(PtInRect(Rect(0, 0, 10, 10), Point(10, 9)));
    EXPECT_EQ(WidthOfRect(Rect(0, 0, 999, 799)), 1000);
}

TEST(ImageAlloc, LargeBuffersAreWritableAndReusedWhenSizeMatches)
{
    QImage img = NewBgrImage(3000, 2000);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.format(), QImage::Format_BGR888);
    EXPECT_EQ(img.bytesPerLine(), BgrStride(3000));
    const uchar* before = img.constBits();
    img.scanLine(1999)[8999] = 7;
    EXPECT_EQ(img.constBits(), before);
    EnsureBgrImage(img, 3000, 2000);
    EXPECT_EQ(img.constBits(), before);
    EnsureBgrImage(img, 10, 10);
    EXPECT_EQ(img.width(), 10);
    EXPECT_TRUE(NewBgrImage(0, 5).isNull());
}

TEST(ImageAlloc, AKeptBufferIsNeverHandedOutWhileAPictureStillUsesIt)
{
    ReleaseSpareImageBuffers();
    QImage first = NewBgrImage(2000, 1500);
    ASSERT_FALSE(first.isNull());
    const uchar* firstBits = first.constBits();
    QImage shared = first; // a second reference, as the analysis keeps one
    first = QImage();
    EXPECT_EQ(SpareImageBytes(), 0);
    QImage second = NewBgrImage(2000, 1500);
    EXPECT_NE(second.constBits(), firstBits);
    EXPECT_EQ(shared.constBits(), firstBits);

    // Once the last reference goes, the next picture of that size takes the buffer.
    shared = QImage();
    EXPECT_GT(SpareImageBytes(), 0);
    QImage third = NewBgrImage(2000, 1500);
    EXPECT_EQ(third.constBits(), firstBits);
    EXPECT_EQ(SpareImageBytes(), 0);

    // Kept buffers of another size are let go before a fresh one is taken.
    third = QImage();
    QImage other = NewBgrImage(2100, 1500);
    EXPECT_FALSE(other.isNull());
    EXPECT_EQ(SpareImageBytes(), 0);
}
