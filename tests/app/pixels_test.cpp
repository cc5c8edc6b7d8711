#include "app/U_Cropping_Pixels.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

using Bgr = std::array<int, 3>; // blue, green, red as stored
const Bgr kWhite{255, 255, 255};
const Bgr kGrey{128, 128, 128};

Bgr At(const QImage& img, int x, int y)
{
    const uchar* p = img.constScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
}

void Put(QImage& img, int x, int y, Bgr c)
{
    uchar* p = img.scanLine(y) + x * 3;
    for (int k = 0; k < 3; ++k)
        p[k] = static_cast<uchar>(c[static_cast<size_t>(k)]);
}

template <typename F> QImage Make(int w, int h, F colour)
{
    QImage img(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(img, x, y, colour(x, y));
    return img;
}

QImage Filled(int w, int h, Bgr c) { return Make(w, h, [c](int, int) { return c; }); }

// Every pixel differs from its neighbours and tells its own position.
QImage Pattern(int w, int h)
{
    return Make(w, h, [](int x, int y) { return Bgr{x & 0xFF, y & 0xFF, (x * 7 + y * 13) & 0xFF}; });
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

bool AreaIs(const QImage& img, const QRect& r, Bgr c)
{
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (At(img, x, y) != c)
                return false;
    return true;
}

} // namespace

TEST(CropPixels, CopyAreaReadsRightAndBottomAsExclusive)
{
    const QImage pic = Pattern(10, 8);
    const QImage crop = CopyArea(pic, Rect(2, 3, 7, 5));
    ASSERT_EQ(crop.size(), QSize(5, 2));
    EXPECT_EQ(At(crop, 0, 0), At(pic, 2, 3));
    EXPECT_EQ(At(crop, 4, 1), At(pic, 6, 4));
    const QImage over = CopyArea(pic, Rect(8, 6, 12, 8));
    EXPECT_EQ(At(over, 1, 1), At(pic, 9, 7));
    EXPECT_EQ(At(over, 2, 0), (Bgr{0, 0, 0}));
    EXPECT_TRUE(CopyArea(pic, Rect(4, 4, 4, 6)).isNull());
}

TEST(SmoothResize, TwoByTwoToPhotoFollowsTheFixedPointWeights)
{
    const int v[2][2] = {{0, 200}, {100, 255}};
    const QImage src = Make(2, 2, [&](int x, int y) { return Bgr{v[y][x], v[y][x], v[y][x]}; });
    QImage dst(kFotoWidth, kFotoHeight, QImage::Format_BGR888);
    SmoothResize(src, dst);
    // Steps 252 and 208; the first pixel is (row1[0] * 65536 + row2[0] * 1) >> 16.
    EXPECT_EQ(At(dst, 0, 0)[0], 0);
    EXPECT_EQ(At(dst, 130, 157), (Bgr{138, 138, 138})); // weights 16444, 16436, 16332, 16325
    EXPECT_EQ(At(dst, 259, 0)[0], 199);                 // weights 268, 65268, 0, 1
    EXPECT_EQ(At(dst, 0, 314)[0], 99);                  // weights 224, 0, 65313, 0
    EXPECT_EQ(At(dst, 259, 314)[0], 254);               // never quite reaches (1, 1)

    for (int c : {0, 1, 254, 255}) { // 65537 in all never overflows a byte
        QImage out(kFotoWidth, kFotoHeight, QImage::Format_BGR888);
        SmoothResize(Filled(781, 947, {c, 255 - c, c}), out);
        EXPECT_TRUE(AreaIs(out, out.rect(), {c, 255 - c, c})) << c;
    }
}

TEST(SmoothResize, ThinSourcesAndLargeEnlargementsStayInsideThePicture)
{
    const QImage column = Make(1, 6, [](int, int y) { return Bgr{y * 40, 255 - y * 40, 7}; });
    QImage dst(kFotoWidth, kFotoHeight, QImage::Format_BGR888);
    SmoothResize(column, dst);
    EXPECT_EQ(At(dst, 0, 0), At(column, 0, 0));
    for (int y = 0; y < dst.height(); ++y)
        ASSERT_TRUE(AreaIs(dst, QRect(0, y, 260, 1), At(dst, 0, y))) << y;

    // Rounded-up steps walk past the last column and row on big enlargements.
    const QImage two = Make(2, 2, [](int x, int) { return x ? Bgr{200, 200, 200} : Bgr{10, 10, 10}; });
    QImage big(2000, 3000, QImage::Format_BGR888);
    SmoothResize(two, big);
    EXPECT_TRUE(AreaIs(big, QRect(1999, 0, 1, 3000), {200, 200, 200}));
    EXPECT_TRUE(AreaIs(big, QRect(0, 0, 1, 3000), {10, 10, 10}));
}

TEST(CropPixels, PhotoCropIsTakenAsItIsOnlyAtExactSize)
{
    const QImage exact = Pattern(260, 315);
    EXPECT_TRUE(SamePixels(CropAndResizeFotoPixels(exact), exact));
    // One pixel more each way: steps of exactly 65536 land on source pixels.
    const QImage bigger = Pattern(261, 316);
    EXPECT_TRUE(SamePixels(CropAndResizeFotoPixels(bigger), bigger.copy(0, 0, 260, 315)));
    const QImage large = Pattern(780, 945);
    const QImage scaled = CropAndResizeFotoPixels(large);
    ASSERT_EQ(scaled.size(), QSize(260, 315));
    EXPECT_FALSE(SamePixels(scaled, large.copy(0, 0, 260, 315)));
}

TEST(CropPixels, SignatureIsLetterboxedOnWhiteWithNearestPixels)
{
    const Bgr ink{30, 60, 90};
    QImage out = CropAndResizeFirmaPixels(Filled(236, 46, ink), false);
    ASSERT_EQ(out.size(), QSize(236, 47));
    EXPECT_TRUE(AreaIs(out, QRect(0, 0, 236, 46), ink));
    EXPECT_TRUE(AreaIs(out, QRect(0, 46, 236, 1), kWhite));

    // 472 x 47: h = MulDiv(236, 47, 472) = 24, Top 11, Bottom 35; no blended colours.
    const Bgr red{0, 0, 250};
    out = CropAndResizeFirmaPixels(Make(472, 47, [&](int x, int y) { return (x + y) % 2 ? Bgr{} : red; }), false);
    EXPECT_TRUE(AreaIs(out, QRect(0, 0, 236, 11), kWhite));
    EXPECT_TRUE(AreaIs(out, QRect(0, 35, 236, 12), kWhite));
    for (int y = 11; y < 35; ++y)
        for (int x = 0; x < 236; ++x)
            ASSERT_TRUE(At(out, x, y) == Bgr{} || At(out, x, y) == red) << x << "," << y;

    // 100 x 47: full height, w = 100, Left 68, drawn one to one.
    const QImage narrow = Pattern(100, 47);
    out = CropAndResizeFirmaPixels(narrow, false);
    EXPECT_TRUE(AreaIs(out, QRect(0, 0, 68, 47), kWhite));
    EXPECT_TRUE(AreaIs(out, QRect(168, 0, 68, 47), kWhite));
    EXPECT_TRUE(SamePixels(out.copy(68, 0, 100, 47), narrow));
}

TEST(CropPixels, SignatureOfExactSizeIsUsedAsItIsAndGreyWhenAsked)
{
    const QImage crop = Pattern(236, 47);
    EXPECT_TRUE(SamePixels(CropAndResizeFirmaPixels(crop, false), crop));
    EXPECT_TRUE(AreaIs(CropAndResizeFirmaPixels(Filled(236, 47, {0, 0, 255}), true), QRect(0, 0, 236, 47),
                       {76, 76, 76}));
    // The caller's crop is not turned grey behind its back.
    const QImage red = Filled(300, 47, {0, 0, 255});
    EXPECT_EQ(At(CropAndResizeFirmaPixels(red, true), 118, 23), (Bgr{76, 76, 76}));
    EXPECT_EQ(At(red, 0, 0), (Bgr{0, 0, 255}));
    EXPECT_EQ(DisplayBitmap(crop, 118, 47).size(), QSize(118, 47));
}

TEST(Sharpen, WorkedPixelsClampAndPushNeighboursApart)
{
    // 255 among zeros, alpha 4: a = 153, v = 1020 - 153 = 867, clamped to 255.
    QImage out;
    Sharpen(Make(5, 5, [](int x, int y) { return x == 2 && y == 2 ? kWhite : Bgr{}; }), out, 4);
    EXPECT_EQ(At(out, 2, 2), kWhite);
    EXPECT_EQ(At(out, 2, 1), Bgr{});
    // 120 among 100, alpha 2: centre a = 104, 240 - 104 = 136; cross neighbours
    // 200 - 104 = 96; a diagonal neighbour keeps 100; green stays flat.
    Sharpen(Make(5, 5, [](int x, int y) { return x == 2 && y == 2 ? Bgr{120, 100, 120} : Bgr{100, 100, 100}; }),
            out, 2);
    EXPECT_EQ(At(out, 2, 2), (Bgr{136, 100, 136}));
    EXPECT_EQ(At(out, 1, 2), (Bgr{96, 100, 96}));
    EXPECT_EQ(At(out, 2, 3), (Bgr{96, 100, 96}));
    EXPECT_EQ(At(out, 1, 1), (Bgr{100, 100, 100}));
}

TEST(Sharpen, FlatAreasKeepTheirValueBordersAreCopiedAndTheSourceIsNeverRead)
{
    QImage out;
    for (float alpha : {2.0f, 3.0f, 4.0f, 5.5f})
        for (int v : {0, 1, 128, 254, 255}) {
            Sharpen(Filled(21, 4, {v, v, v}), out, alpha);
            ASSERT_TRUE(AreaIs(out, out.rect(), {v, v, v})) << alpha << " " << v;
        }
    const QImage pic = Pattern(260, 315);
    Sharpen(pic, out, 3);
    for (const QRect& border : {QRect(0, 0, 260, 1), QRect(0, 314, 260, 1), QRect(0, 0, 1, 315), QRect(259, 0, 1, 315)})
        EXPECT_TRUE(SamePixels(out.copy(border), pic.copy(border)));
    EXPECT_FALSE(SamePixels(out, pic));
    // Sharpening a picture into itself reads only unsharpened pixels.
    QImage same = pic.copy();
    Sharpen(same, same, 3);
    EXPECT_TRUE(SamePixels(same, out));
}

TEST(Sharpen, AssertionsCarryTheirTextAndPosition)
{
    auto message = [](const QImage& src, float alpha) -> std::string {
        QImage out;
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
    for (float alpha : {1.0f, 6.0f, -3.0f})
        EXPECT_EQ(message(Filled(3, 3, {}), alpha).rfind("Alpha must be >1 and <6 (", 0), 0u) << alpha;
    EXPECT_EQ(message(Filled(3, 3, {}), 1.01f), "");
    EXPECT_EQ(message(Filled(3, 3, {}), 5.99f), "");
}

TEST(ConvertToGrayscale, WeightsAreThreeSixOneWithHalvesToEven)
{
    // Pure red 76.5 -> 76, green 153, blue 25.5 -> 26, 1.5 -> 2, 2.5 -> 2, 0.9 -> 1.
    const Bgr in[] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}, {15, 0, 0}, {25, 0, 0}, {0, 1, 1}};
    const int grey[] = {76, 153, 26, 255, 2, 2, 1};
    QImage img = Make(7, 1, [&](int x, int) { return in[x]; });
    ConvertToGrayscale(img);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(At(img, i, 0), (Bgr{grey[i], grey[i], grey[i]})) << i;

    QImage rgb32(1, 1, QImage::Format_RGB32);
    rgb32.setPixel(0, 0, qRgb(255, 0, 0));
    ConvertToGrayscale(rgb32);
    ASSERT_EQ(rgb32.format(), QImage::Format_BGR888);
    EXPECT_EQ(At(rgb32, 0, 0), (Bgr{76, 76, 76}));
}

TEST(Rotate, QuarterTurnKeepsTheSizeWithGreyBandsLeftAndRight)
{
    const QImage src = Pattern(1000, 800);
    QImage img = src;
    RotateBitmapGDIP(img, 90, false, clGray);
    ASSERT_EQ(img.size(), QSize(1000, 800));
    EXPECT_TRUE(AreaIs(img, QRect(0, 0, 100, 800), kGrey));
    EXPECT_TRUE(AreaIs(img, QRect(900, 0, 100, 800), kGrey));
    // Clockwise: the middle 800 x 800 of the turned picture, each pixel exact.
    for (int y = 0; y < 800; ++y)
        for (int x = 100; x < 900; ++x)
            ASSERT_EQ(At(img, x, y), At(src, y + 100, 899 - x)) << x << "," << y;
    EXPECT_TRUE(SamePixels(src, Pattern(1000, 800)));
}

TEST(Rotate, WholeAndHalfTurnsAreExactAndAnglesAreNotFolded)
{
    const QImage src = Pattern(123, 77);
    for (int degs : {0, 360, -360, 720}) {
        QImage img = src;
        RotateBitmapGDIP(img, degs, false, clGray);
        EXPECT_TRUE(SamePixels(img, src)) << degs;
    }
    QImage a;
    QImage b;
    RotateBitmapInto(src, a, 180, false, clGray);
    EXPECT_EQ(At(a, 0, 0), At(src, 122, 76));
    EXPECT_EQ(At(a, 100, 7), At(src, 22, 69));
    RotateBitmapInto(src, a, 400, false, clGray);
    RotateBitmapInto(src, b, 40, false, clGray);
    EXPECT_TRUE(SamePixels(a, b));
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
    // A destination sharing the source's pixels gets a buffer of its own.
    QImage shared = copy;
    RotateBitmapInto(copy, shared, 5, false, clGray);
    EXPECT_TRUE(SamePixels(copy, Pattern(640, 480)));
}

TEST(Rotate, OddAnglesMatchAnIndependentBilinearSampleOnOneOrTwoThreads)
{
    // Steep ramps of different slope per channel: a swapped channel, a wrong
    // weight, centre or direction all show up as large differences.
    const int w = 120;
    const int h = 84;
    const QImage src = Make(w, h, [](int x, int y) { return Bgr{2 * x, 3 * y, x + y}; });
    auto sample = [&](double px, double py, size_t k) {
        const int x0 = static_cast<int>(std::floor(px));
        const int y0 = static_cast<int>(std::floor(py));
        const double fx = px - x0;
        const double fy = py - y0;
        auto v = [&](int x, int y) { return At(src, std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1))[k]; };
        return (v(x0, y0) * (1 - fx) + v(x0 + 1, y0) * fx) * (1 - fy) +
               (v(x0, y0 + 1) * (1 - fx) + v(x0 + 1, y0 + 1) * fx) * fy;
    };
    for (int degs : {1, 33, -7, 200}) {
        QImage one;
        QImage two;
        RotateBitmapInto(src, one, degs, false, clGray, 1);
        RotateBitmapInto(src, two, degs, false, clGray, 2);
        EXPECT_TRUE(SamePixels(one, two)) << degs;
        const double c = std::cos(degs * M_PI / 180.0);
        const double s = std::sin(degs * M_PI / 180.0);
        int compared = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double dx = x + 0.5 - w / 2.0;
                const double dy = y + 0.5 - h / 2.0;
                const double px = w / 2.0 + c * dx + s * dy - 0.5;
                const double py = h / 2.0 - s * dx + c * dy - 0.5;
                const double e = 1e-6; // leave the exact border to the fixed point
                if (px < -0.5 - e || px >= w - 0.5 + e || py < -0.5 - e || py >= h - 0.5 + e) {
                    ASSERT_EQ(At(one, x, y), kGrey) << degs << ": " << x << "," << y;
                } else if (px >= -0.5 + e && px < w - 0.5 - e && py >= -0.5 + e && py < h - 0.5 - e) {
                    ++compared;
                    for (size_t k = 0; k < 3; ++k)
                        ASSERT_NEAR(At(one, x, y)[k], sample(px, py, k), 1.0) << degs << ": " << x << "," << y;
                }
            }
        EXPECT_GT(compared, w * h / 2) << degs;
    }
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
    RotateBitmapInto(Filled(100, 100, {1, 2, 3}), img, 45, true, RGB(10, 20, 30));
    ASSERT_EQ(img.size(), QSize(141, 141));
    EXPECT_EQ(At(img, 70, 70), (Bgr{1, 2, 3}));
    EXPECT_EQ(At(img, 70, 1), (Bgr{1, 2, 3}));
    EXPECT_EQ(At(img, 1, 1), (Bgr{30, 20, 10}));
    EXPECT_EQ(At(img, 139, 139), (Bgr{30, 20, 10}));
}
