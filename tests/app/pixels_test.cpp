#include "app/U_Cropping_Pixels.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <set>

namespace {

using Bgr = std::array<int, 3>; // blue, green, red as stored

Bgr At(const QImage& img, int x, int y)
{
    const uchar* p = img.constScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
}

void Put(QImage& img, int x, int y, Bgr c)
{
    uchar* p = img.scanLine(y) + x * 3;
    p[0] = static_cast<uchar>(c[0]);
    p[1] = static_cast<uchar>(c[1]);
    p[2] = static_cast<uchar>(c[2]);
}

QImage Filled(int w, int h, Bgr c)
{
    QImage img(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(img, x, y, c);
    return img;
}

// Every pixel different from its neighbours and telling its own position.
QImage Pattern(int w, int h)
{
    QImage img(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(img, x, y, {x & 0xFF, y & 0xFF, (x * 7 + y * 13) & 0xFF});
    return img;
}

// Pixel bytes only: row padding is not part of the picture.
bool SamePixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.format() != QImage::Format_BGR888 || b.format() != QImage::Format_BGR888)
        return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), static_cast<size_t>(a.width()) * 3) != 0)
            return false;
    return true;
}

const Bgr kWhite{255, 255, 255};
const Bgr kGrey{128, 128, 128};

bool RowIs(const QImage& img, int y, Bgr c)
{
    for (int x = 0; x < img.width(); ++x)
        if (At(img, x, y) != c)
            return false;
    return true;
}

bool ColumnIs(const QImage& img, int x, Bgr c)
{
    for (int y = 0; y < img.height(); ++y)
        if (At(img, x, y) != c)
            return false;
    return true;
}

} // namespace

// --- Cutting out -----------------------------------------------------------------

TEST(CropPixels, CopyAreaReadsRightAndBottomAsExclusive)
{
    const QImage pic = Pattern(10, 8);
    const QImage crop = CopyArea(pic, Rect(2, 3, 7, 5));
    ASSERT_EQ(crop.size(), QSize(5, 2));
    EXPECT_EQ(crop.format(), QImage::Format_BGR888);
    EXPECT_EQ(At(crop, 0, 0), At(pic, 2, 3));
    EXPECT_EQ(At(crop, 4, 1), At(pic, 6, 4));

    const QImage over = CopyArea(pic, Rect(8, 6, 12, 8));
    ASSERT_EQ(over.size(), QSize(4, 2));
    EXPECT_EQ(At(over, 1, 1), At(pic, 9, 7));
    EXPECT_EQ(At(over, 2, 0), (Bgr{0, 0, 0}));

    EXPECT_TRUE(CopyArea(pic, Rect(4, 4, 4, 6)).isNull());
    EXPECT_TRUE(CopyArea(pic, Rect(4, 4, 6, 3)).isNull());
}

// --- SmoothResize ------------------------------------------------------------------

TEST(SmoothResize, TwoByTwoToPhotoFollowsTheFixedPointWeights)
{
    QImage src(2, 2, QImage::Format_BGR888);
    Put(src, 0, 0, {0, 0, 0});
    Put(src, 1, 0, {200, 200, 200});
    Put(src, 0, 1, {100, 100, 100});
    Put(src, 1, 1, {255, 255, 255});
    QImage dst(kFotoWidth, kFotoHeight, QImage::Format_BGR888);
    SmoothResize(src, dst);
    ASSERT_EQ(dst.size(), QSize(260, 315));
    // Steps 252 and 208; the first pixel is (row1[0] * 65536 + row2[0] * 1) >> 16.
    EXPECT_EQ(At(dst, 0, 0)[0], 0);
    // xP 32760, yP 32656: weights 16444, 16436, 16332, 16325.
    EXPECT_EQ(At(dst, 130, 157), (Bgr{138, 138, 138}));
    // xP 65268, yP 0: weights 268, 65268, 0, 1.
    EXPECT_EQ(At(dst, 259, 0)[0], 199);
    // xP 0, yP 65312: weights 224, 0, 65313, 0.
    EXPECT_EQ(At(dst, 0, 314)[0], 99);
    // The last pixel never quite reaches source (1, 1): weights 1, 223, 267, 65046.
    EXPECT_EQ(At(dst, 259, 314)[0], 254);
}

TEST(SmoothResize, UniformPicturesStayUniformEvenAtFullWhite)
{
    for (int v : {0, 1, 77, 254, 255}) {
        const QImage src = Filled(781, 947, {v, 255 - v, v});
        QImage dst(kFotoWidth, kFotoHeight, QImage::Format_BGR888);
        SmoothResize(src, dst);
        for (int y = 0; y < dst.height(); y += 7)
            ASSERT_TRUE(RowIs(dst, y, {v, 255 - v, v})) << "value " << v << " row " << y;
    }
}

TEST(SmoothResize, SameSizeCopiesAndEmptyPicturesAreLeftAlone)
{
    const QImage src = Pattern(31, 17);
    QImage dst(31, 17, QImage::Format_BGR888);
    SmoothResize(src, dst);
    EXPECT_TRUE(SamePixels(dst, src));

    QImage untouched = Filled(5, 5, {1, 2, 3});
    SmoothResize(QImage(), untouched);
    EXPECT_EQ(At(untouched, 4, 4), (Bgr{1, 2, 3}));
}

TEST(SmoothResize, SingleColumnSourceRepeatsItsColumn)
{
    QImage src(1, 6, QImage::Format_BGR888);
    for (int y = 0; y < 6; ++y)
        Put(src, 0, y, {y * 40, 255 - y * 40, 7});
    QImage dst(kFotoWidth, kFotoHeight, QImage::Format_BGR888);
    SmoothResize(src, dst);
    EXPECT_EQ(At(dst, 0, 0), At(src, 0, 0));
    for (int y = 0; y < dst.height(); ++y)
        for (int x = 1; x < dst.width(); ++x)
            ASSERT_EQ(At(dst, x, y), At(dst, 0, y)) << x << "," << y;
}

TEST(SmoothResize, LargeEnlargementStopsAtTheLastSourceColumnAndRow)
{
    // Steps rounded up walk past the last column and row on big enlargements;
    // those pixels must still come from the picture, not from memory beyond it.
    QImage src(2, 2, QImage::Format_BGR888);
    Put(src, 0, 0, {10, 10, 10});
    Put(src, 1, 0, {200, 200, 200});
    Put(src, 0, 1, {10, 10, 10});
    Put(src, 1, 1, {200, 200, 200});
    QImage dst(2000, 3000, QImage::Format_BGR888);
    SmoothResize(src, dst);
    EXPECT_TRUE(ColumnIs(dst, 1999, {200, 200, 200}));
    EXPECT_TRUE(ColumnIs(dst, 0, {10, 10, 10}));
}

// --- Photo and signature slots ---------------------------------------------------

TEST(CropPixels, PhotoCropOfExactSizeIsTakenAsItIsOtherwiseScaled)
{
    const QImage exact = Pattern(260, 315);
    EXPECT_TRUE(SamePixels(CropAndResizeFotoPixels(exact), exact));

    // One pixel more each way: the steps are exactly 65536, so every output pixel
    // lands on a source pixel and the last row and column drop out.
    const QImage bigger = Pattern(261, 316);
    EXPECT_TRUE(SamePixels(CropAndResizeFotoPixels(bigger), bigger.copy(0, 0, 260, 315)));

    const QImage large = Pattern(780, 945);
    const QImage scaled = CropAndResizeFotoPixels(large);
    ASSERT_EQ(scaled.size(), QSize(260, 315));
    EXPECT_FALSE(SamePixels(scaled, large.copy(0, 0, 260, 315)));
    EXPECT_TRUE(CropAndResizeFotoPixels(QImage()).isNull());
}

TEST(CropPixels, SignatureOneRowShortLeavesOneWhiteRowAtTheBottom)
{
    const Bgr ink{30, 60, 90};
    const QImage out = CropAndResizeFirmaPixels(Filled(236, 46, ink), false);
    ASSERT_EQ(out.size(), QSize(236, 47));
    for (int y = 0; y < 46; ++y)
        ASSERT_TRUE(RowIs(out, y, ink)) << y;
    EXPECT_TRUE(RowIs(out, 46, kWhite));
}

TEST(CropPixels, SignatureWiderThanTheSlotIsCentredVertically)
{
    // h = MulDiv(236, 47, 472) = 24 (23.5 away from zero), Top 11, Bottom 35.
    QImage crop(472, 47, QImage::Format_BGR888);
    for (int y = 0; y < 47; ++y)
        for (int x = 0; x < 472; ++x)
            Put(crop, x, y, (x + y) % 2 ? Bgr{0, 0, 0} : Bgr{0, 0, 250});
    const QImage out = CropAndResizeFirmaPixels(crop, false);
    ASSERT_EQ(out.size(), QSize(236, 47));
    for (int y = 0; y < 11; ++y)
        EXPECT_TRUE(RowIs(out, y, kWhite)) << y;
    for (int y = 35; y < 47; ++y)
        EXPECT_TRUE(RowIs(out, y, kWhite)) << y;
    // Nearest-pixel sampling: only the crop's own two colours, nothing blended.
    for (int y = 11; y < 35; ++y)
        for (int x = 0; x < 236; ++x) {
            const Bgr c = At(out, x, y);
            ASSERT_TRUE(c == (Bgr{0, 0, 0}) || c == (Bgr{0, 0, 250})) << x << "," << y;
        }
}

TEST(CropPixels, SignatureNarrowerThanTheSlotIsCentredHorizontally)
{
    // Full height, w = 100, Left = (236 - 100) div 2 = 68: drawn one to one.
    const QImage crop = Pattern(100, 47);
    const QImage out = CropAndResizeFirmaPixels(crop, false);
    ASSERT_EQ(out.size(), QSize(236, 47));
    for (int x = 0; x < 68; ++x)
        ASSERT_TRUE(ColumnIs(out, x, kWhite)) << x;
    for (int x = 168; x < 236; ++x)
        ASSERT_TRUE(ColumnIs(out, x, kWhite)) << x;
    EXPECT_TRUE(SamePixels(out.copy(68, 0, 100, 47), crop));
}

TEST(CropPixels, SignatureOfExactSizeIsUsedAsItIsAndGreyWhenAsked)
{
    const QImage crop = Pattern(236, 47);
    EXPECT_TRUE(SamePixels(CropAndResizeFirmaPixels(crop, false), crop));

    const QImage grey = CropAndResizeFirmaPixels(Filled(236, 47, {0, 0, 255}), true);
    EXPECT_TRUE(RowIs(grey, 0, {76, 76, 76}));
    // The caller's crop is not turned grey behind its back.
    const QImage red = Filled(300, 47, {0, 0, 255});
    const QImage letterboxed = CropAndResizeFirmaPixels(red, true);
    EXPECT_EQ(At(red, 0, 0), (Bgr{0, 0, 255}));
    EXPECT_EQ(At(letterboxed, 118, 23), (Bgr{76, 76, 76}));

    // The slot's own size decides the letterbox.
    EXPECT_EQ(DisplayBitmap(crop, 118, 47).size(), QSize(118, 47));
}

// --- Sharpen -----------------------------------------------------------------------

TEST(Sharpen, BrightPixelAmongDarkOnesClampsAndPushesItsNeighboursApart)
{
    // 255 among zeros, alpha 4: a = 153, v = 1020 - 153 = 867, clamped to 255.
    QImage dark = Filled(5, 5, {0, 0, 0});
    Put(dark, 2, 2, {255, 255, 255});
    QImage out;
    Sharpen(dark, out, 4);
    EXPECT_EQ(At(out, 2, 2), (Bgr{255, 255, 255}));
    EXPECT_EQ(At(out, 2, 1), (Bgr{0, 0, 0}));

    // 120 among 100, alpha 2: centre sum 520, a = 104, v = 240 - 104 = 136;
    // its cross neighbours 200 - 104 = 96; a diagonal neighbour stays 100.
    QImage soft = Filled(5, 5, {100, 100, 100});
    Put(soft, 2, 2, {120, 100, 120});
    Sharpen(soft, out, 2);
    EXPECT_EQ(At(out, 2, 2), (Bgr{136, 100, 136}));
    EXPECT_EQ(At(out, 1, 2), (Bgr{96, 100, 96}));
    EXPECT_EQ(At(out, 2, 3), (Bgr{96, 100, 96}));
    EXPECT_EQ(At(out, 1, 1), (Bgr{100, 100, 100}));
}

TEST(Sharpen, FlatAreasKeepTheirValueAndBordersAreCopied)
{
    for (float alpha : {2.0f, 3.0f, 4.0f, 5.5f}) {
        for (int v : {0, 1, 100, 128, 254, 255}) {
            QImage out;
            Sharpen(Filled(6, 4, {v, v, v}), out, alpha);
            for (int y = 0; y < 4; ++y)
                ASSERT_TRUE(RowIs(out, y, {v, v, v})) << "alpha " << alpha << " value " << v;
        }
    }
    const QImage pic = Pattern(260, 315);
    QImage out;
    Sharpen(pic, out, 3);
    EXPECT_TRUE(SamePixels(out.copy(0, 0, 260, 1), pic.copy(0, 0, 260, 1)));
    EXPECT_TRUE(SamePixels(out.copy(0, 314, 260, 1), pic.copy(0, 314, 260, 1)));
    EXPECT_TRUE(SamePixels(out.copy(0, 0, 1, 315), pic.copy(0, 0, 1, 315)));
    EXPECT_TRUE(SamePixels(out.copy(259, 0, 1, 315), pic.copy(259, 0, 1, 315)));
    EXPECT_FALSE(SamePixels(out, pic));
}

TEST(Sharpen, SharpeningIntoItsOwnSourceReadsOnlyUnsharpenedPixels)
{
    const QImage pic = Pattern(40, 30);
    QImage expected;
    Sharpen(pic, expected, 3);
    QImage same = pic.copy();
    Sharpen(same, same, 3);
    EXPECT_TRUE(SamePixels(same, expected));
}

TEST(Sharpen, AssertionsCarryTheirTextAndPosition)
{
    QImage out;
    auto message = [&](const QImage& src, float alpha) -> std::string {
        try {
            Sharpen(src, out, alpha);
        } catch (const EAssertionFailed& e) {
            return e.what();
        }
        return "";
    };
    for (const QImage& small : {QImage(), Filled(2, 5, {}), Filled(5, 2, {})}) {
        const std::string m = message(small, 2);
        EXPECT_EQ(m.rfind("Bitmap must be at least 3x3 (", 0), 0u) << m;
        EXPECT_NE(m.find(", line "), std::string::npos) << m;
    }
    for (float alpha : {1.0f, 6.0f, 0.0f, -3.0f}) {
        const std::string m = message(Filled(3, 3, {}), alpha);
        EXPECT_EQ(m.rfind("Alpha must be >1 and <6 (", 0), 0u) << alpha << ": " << m;
    }
    EXPECT_EQ(message(Filled(3, 3, {}), 1.01f), "");
    EXPECT_EQ(message(Filled(3, 3, {}), 5.99f), "");
}

// --- Grey --------------------------------------------------------------------------

TEST(ConvertToGrayscale, WeightsAreThreeSixOneWithHalvesToEven)
{
    struct Case {
        Bgr in;
        int grey;
    };
    const Case cases[] = {
        {{0, 0, 255}, 76},   // 76.5
        {{0, 255, 0}, 153},  // 153
        {{255, 0, 0}, 26},   // 25.5
        {{255, 255, 255}, 255},
        {{15, 0, 0}, 2},     // 1.5
        {{25, 0, 0}, 2},     // 2.5
        {{30, 20, 10}, 18},  // 3 + 12 + 3
        {{0, 1, 1}, 1},      // 0.9
    };
    QImage img(static_cast<int>(std::size(cases)), 1, QImage::Format_BGR888);
    for (int i = 0; i < img.width(); ++i)
        Put(img, i, 0, cases[i].in);
    ConvertToGrayscale(img);
    for (int i = 0; i < img.width(); ++i) {
        const int g = cases[i].grey;
        EXPECT_EQ(At(img, i, 0), (Bgr{g, g, g})) << "case " << i;
    }

    QImage rgb32(2, 1, QImage::Format_RGB32);
    rgb32.setPixel(0, 0, qRgb(255, 0, 0));
    rgb32.setPixel(1, 0, qRgb(0, 0, 255));
    ConvertToGrayscale(rgb32);
    ASSERT_EQ(rgb32.format(), QImage::Format_BGR888);
    EXPECT_EQ(At(rgb32, 0, 0), (Bgr{76, 76, 76}));
    EXPECT_EQ(At(rgb32, 1, 0), (Bgr{26, 26, 26}));
}

// --- Rotation ----------------------------------------------------------------------

TEST(Rotate, QuarterTurnKeepsTheSizeWithGreyBandsLeftAndRight)
{
    const QImage src = Pattern(1000, 800);
    QImage img = src;
    RotateBitmapGDIP(img, 90, false, clGray);
    ASSERT_EQ(img.size(), QSize(1000, 800));
    for (int x : {0, 50, 99, 900, 950, 999})
        EXPECT_TRUE(ColumnIs(img, x, kGrey)) << x;
    // Clockwise: the middle 800 x 800 of the turned picture, each pixel exact.
    for (int y = 0; y < 800; ++y)
        for (int x = 100; x < 900; ++x)
            ASSERT_EQ(At(img, x, y), At(src, y + 100, 899 - x)) << x << "," << y;
    // The source the caller still holds is untouched.
    EXPECT_TRUE(SamePixels(src, Pattern(1000, 800)));
}

TEST(Rotate, WholeTurnsAndHalfTurnsAreExact)
{
    const QImage src = Pattern(123, 77);
    for (int degs : {0, 360, -360, 720}) {
        QImage img = src;
        RotateBitmapGDIP(img, degs, false, clGray);
        EXPECT_TRUE(SamePixels(img, src)) << degs;
    }
    QImage half;
    RotateBitmapInto(src, half, 180, false, clGray);
    for (int y = 0; y < 77; ++y)
        for (int x = 0; x < 123; ++x)
            ASSERT_EQ(At(half, x, y), At(src, 122 - x, 76 - y));
}

TEST(Rotate, RestartingFromTheUnrotatedCopyReusesTheBufferAndLosesNothing)
{
    const QImage copy = Pattern(640, 480);
    QImage view;
    RotateBitmapInto(copy, view, 1, false, clGray);
    const uchar* buffer = view.constBits();
    EXPECT_FALSE(SamePixels(view, copy));
    RotateBitmapInto(copy, view, 0, false, clGray);
    EXPECT_TRUE(SamePixels(view, copy));
    RotateBitmapInto(copy, view, 359, false, clGray);
    RotateBitmapInto(copy, view, 0, false, clGray);
    EXPECT_TRUE(SamePixels(view, copy));
    EXPECT_EQ(view.constBits(), buffer);

    // A destination that shares the source's pixels gets its own buffer.
    QImage shared = copy;
    RotateBitmapInto(copy, shared, 5, false, clGray);
    EXPECT_TRUE(SamePixels(copy, Pattern(640, 480)));
}

TEST(Rotate, UniformPictureCoversItsOwnAreaWithNoBlendedEdges)
{
    const Bgr paper{240, 230, 220};
    const QImage src = Filled(400, 300, paper);
    for (int degs : {1, 30, 45, 137, -20}) {
        QImage img;
        RotateBitmapInto(src, img, degs, false, RGB(10, 20, 30));
        long covered = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const Bgr c = At(img, x, y);
                if (c == paper)
                    ++covered;
                else
                    ASSERT_EQ(c, (Bgr{30, 20, 10})) << degs << ": " << x << "," << y;
            }
        // The turned rectangle lies partly outside; what stays inside is at least
        // the inscribed area and never more than the picture.
        EXPECT_LE(covered, 400L * 300L) << degs;
        EXPECT_GT(covered, 400L * 300L / 2) << degs;
        EXPECT_EQ(At(img, 200, 150), paper) << degs;
    }
}

TEST(Rotate, TwoThreadsGiveTheSameResultAsOne)
{
    const QImage src = Pattern(501, 333);
    for (int degs : {7, 90, 271, 400}) {
        QImage one;
        QImage two;
        RotateBitmapInto(src, one, degs, false, clGray, 1);
        RotateBitmapInto(src, two, degs, false, clGray, 2);
        EXPECT_TRUE(SamePixels(one, two)) << degs;
    }
    QImage a;
    QImage b;
    RotateBitmapInto(src, a, 400, false, clGray);
    RotateBitmapInto(src, b, 40, false, clGray);
    EXPECT_TRUE(SamePixels(a, b));
}

TEST(Rotate, AdjustSizeTakesTheBoundingBoxWithThePictureCentred)
{
    const QImage src = Pattern(1000, 800);
    QImage img;
    RotateBitmapInto(src, img, 90, true, clGray);
    ASSERT_EQ(img.size(), QSize(800, 1000));
    for (int y = 0; y < 1000; y += 3)
        for (int x = 0; x < 800; x += 3)
            ASSERT_EQ(At(img, x, y), At(src, y, 799 - x)) << x << "," << y;

    EXPECT_EQ(RotatedBoundingSize(100, 100, 45), QSize(141, 141));
    EXPECT_EQ(RotatedBoundingSize(1000, 800, 0), QSize(1000, 800));
    const QImage square = Filled(100, 100, {1, 2, 3});
    RotateBitmapInto(square, img, 45, true, clGray);
    ASSERT_EQ(img.size(), QSize(141, 141));
    EXPECT_EQ(At(img, 70, 70), (Bgr{1, 2, 3}));
    EXPECT_EQ(At(img, 70, 1), (Bgr{1, 2, 3}));
    EXPECT_EQ(At(img, 1, 1), kGrey);
    EXPECT_EQ(At(img, 139, 139), kGrey);
}

TEST(Rotate, OddAnglesMatchAnIndependentBilinearSampleWithinOneLevel)
{
    // Steep ramps of different slope per channel, so a swapped channel, a wrong
    // centre or a counter-clockwise turn all show up as large differences.
    const int w = 120;
    const int h = 84;
    QImage src(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(src, x, y, {2 * x, 3 * y, x + y});
    auto sample = [&](double px, double py, int k) {
        const int x0 = static_cast<int>(std::floor(px));
        const int y0 = static_cast<int>(std::floor(py));
        const double fx = px - x0;
        const double fy = py - y0;
        auto v = [&](int x, int y) { return At(src, std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1))[k]; };
        return (v(x0, y0) * (1 - fx) + v(x0 + 1, y0) * fx) * (1 - fy) +
               (v(x0, y0 + 1) * (1 - fx) + v(x0 + 1, y0 + 1) * fx) * fy;
    };
    for (int degs : {1, 33, -7, 200}) {
        QImage img;
        RotateBitmapInto(src, img, degs, false, clGray, 2);
        const double r = degs * M_PI / 180.0;
        const double c = std::cos(r);
        const double s = std::sin(r);
        int compared = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double dx = x + 0.5 - w / 2.0;
                const double dy = y + 0.5 - h / 2.0;
                const double px = w / 2.0 + c * dx + s * dy - 0.5;
                const double py = h / 2.0 - s * dx + c * dy - 0.5;
                const double margin = 1e-6;
                const bool inside = px >= -0.5 + margin && px < w - 0.5 - margin && py >= -0.5 + margin &&
                                    py < h - 0.5 - margin;
                const bool outside = px < -0.5 - margin || px >= w - 0.5 + margin || py < -0.5 - margin ||
                                     py >= h - 0.5 + margin;
                if (outside) {
                    ASSERT_EQ(At(img, x, y), kGrey) << degs << ": " << x << "," << y;
                }
                if (!inside)
                    continue;
                ++compared;
                for (int k = 0; k < 3; ++k)
                    ASSERT_NEAR(At(img, x, y)[k], sample(px, py, k), 1.0)
                        << degs << ": " << x << "," << y << " channel " << k;
            }
        EXPECT_GT(compared, w * h / 2) << degs;
    }
}
