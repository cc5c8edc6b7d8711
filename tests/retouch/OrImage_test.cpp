// The retouch control: setters, exclusions, caches and their life with the
// original, picture conversion, canvas access and painting.

#include "RetouchTestUtil.h"
#include "retouch/OrImage.h"

#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <functional>

using namespace orimage;

TEST(OrImage, AllEffectsOffReproducesTheOriginalBitForBit)
{
    TOrImage img;
    EXPECT_EQ(img.size(), QSize(105, 105));
    EXPECT_FALSE(img.Picture()->HasGraphic());
    const QImage src = Noisy(260, 315);
    img.SetPictureOriginal(src);
    EXPECT_TRUE(SamePixels(img.Picture()->Graphic(), src));
    img.SetBrightness(30);
    img.SetSaturation(-40);
    EXPECT_FALSE(SamePixels(img.Picture()->Graphic(), src));
    img.SetBrightness(0);
    img.SetSaturation(0);
    EXPECT_TRUE(SamePixels(img.Picture()->Graphic(), src));
    // Rendering never writes into the original.
    EXPECT_TRUE(SamePixels(img.PictureOriginal()->Graphic(), src));
}

TEST(OrImage, EverySetterClampsAsDocumented)
{
    TOrImage img;
    struct Case {
        std::function<void(int)> set;
        std::function<int()> get;
        int in, stored;
    };
    const std::vector<Case> cases = {
        {[&](int v) { img.SetBrightness(v); }, [&] { return img.PicBrightness(); }, 300, 255},
        {[&](int v) { img.SetBrightness(v); }, [&] { return img.PicBrightness(); }, -300, -255},
        {[&](int v) { img.SetContrast(v); }, [&] { return img.PicContrast(); }, 1000, 1000},
        {[&](int v) { img.SetContrast(v); }, [&] { return img.PicContrast(); }, -300, -255},
        {[&](int v) { img.SetLightness(v); }, [&] { return img.PicLightness(); }, -1000, -1000},
        {[&](int v) { img.SetLightness(v); }, [&] { return img.PicLightness(); }, 300, 255},
        {[&](int v) { img.SetDarkness(v); }, [&] { return img.PicDarkness(); }, 300, 255},
        {[&](int v) { img.SetDarkness(v); }, [&] { return img.PicDarkness(); }, -700, -700},
        {[&](int v) { img.SetSaturation(v); }, [&] { return img.PicSaturation(); }, -300, -255},
        {[&](int v) { img.SetSaturation(v); }, [&] { return img.PicSaturation(); }, 900, 900},
        {[&](int v) { img.SetSplitlight(v); }, [&] { return img.PicSplitlight(); }, 11, 10},
        {[&](int v) { img.SetSplitlight(v); }, [&] { return img.PicSplitlight(); }, -1, 0},
        {[&](int v) { img.SetPosterize(v); }, [&] { return img.PicPosterize(); }, -5, 0},
        {[&](int v) { img.SetPosterize(v); }, [&] { return img.PicPosterize(); }, 600, 600},
        {[&](int v) { img.SetSolorize(v); }, [&] { return img.PicSolorize(); }, 300, 255},
        {[&](int v) { img.SetSolorize(v); }, [&] { return img.PicSolorize(); }, -3, 0},
        {[&](int v) { img.SetColorNoise(v); }, [&] { return img.PicColorNoise(); }, -3, 0},
        {[&](int v) { img.SetMonoNoise(v); }, [&] { return img.PicMonoNoise(); }, -3, 0},
        {[&](int v) { img.SetMosaic(v); }, [&] { return img.PicMosaic(); }, -3, 0},
        {[&](int v) { img.SetMosaic(v); }, [&] { return img.PicMosaic(); }, 5000, 5000},  // no original: no limit
        {[&](int v) { img.SetSplitBlur(v); }, [&] { return img.PicSplitBlur(); }, 256, 255},
        {[&](int v) { img.SetGaussianBlur(v); }, [&] { return img.PicGaussianBlur(); }, 51, 50},
        {[&](int v) { img.SetAntiAlias(v); }, [&] { return img.PicAntiAlias(); }, 60, 50},
        {[&](int v) { img.SetAntiAlias(v); }, [&] { return img.PicAntiAlias(); }, -1, 0},
        {[&](int v) { img.SetTrace(v); }, [&] { return img.PicTrace(); }, 11, 10},
        {[&](int v) { img.SetTile(v); }, [&] { return img.PicTile(); }, -4, 0},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        cases[i].set(cases[i].in);
        EXPECT_EQ(cases[i].get(), cases[i].stored) << "case " << i;
    }
}

TEST(OrImage, ExclusiveEffectsClearEachOther)
{
    TOrImage img;
    img.SetPictureOriginal(Noisy(40, 30));
    img.SetPosterize(4);
    img.SetSolorize(10);
    EXPECT_EQ(img.PicPosterize(), 0);
    img.SetPosterize(4);
    EXPECT_EQ(img.PicSolorize(), 0);

    img.SetColorNoise(20);
    img.SetMonoNoise(30);
    EXPECT_EQ(img.PicColorNoise(), 0);
    img.SetColorNoise(20);
    EXPECT_EQ(img.PicMonoNoise(), 0);

    img.SetMosaic(4);
    img.SetAntiAlias(2);
    EXPECT_EQ(img.PicMosaic(), 0);
    img.SetEmboss(true);
    EXPECT_EQ(img.PicAntiAlias(), 0);
    img.SetTrace(3);
    EXPECT_FALSE(img.PicEmboss());
    img.SetSplitBlur(2);
    img.SetGaussianBlur(1);
    img.SetTile(2);
    EXPECT_EQ(img.PicTrace() + img.PicSplitBlur() + img.PicGaussianBlur(), 0);
    EXPECT_EQ(img.PicTile(), 2);
    // Switching the last one off drops its cache.
    img.SetTile(0);
    EXPECT_EQ(img.EffectBMP(), nullptr);
}

TEST(OrImage, SpatialEffectsRenderTheirCacheThroughTheColourStage)
{
    const QImage src = Noisy(33, 21);
    TOrImage img;
    img.SetPictureOriginal(src);

    img.SetGaussianBlur(1);
    QImage twice = src.copy();
    SplitBlur(twice, 3);
    SplitBlur(twice, 3);
    ASSERT_NE(img.EffectBMP(), nullptr);
    EXPECT_TRUE(SamePixels(*img.EffectBMP(), twice));
    EXPECT_TRUE(SamePixels(img.Picture()->Graphic(), twice));

    img.SetMosaic(1);
    EXPECT_TRUE(SamePixels(img.Picture()->Graphic(), src));
    img.SetMosaic(100);
    EXPECT_EQ(img.PicMosaic(), 33);

    img.SetAntiAlias(-1);
    EXPECT_TRUE(SamePixels(img.Picture()->Graphic(), src));

    img.SetInvert(true);
    img.SetAntiAlias(1);
    QImage smooth = src.copy();
    AntiAliasRect(smooth, 0, 0, 33, 21);
    QImage inverted;
    TColorEffects fx;
    fx.Invert = true;
    RenderColorEffects(smooth, nullptr, fx, inverted);
    EXPECT_TRUE(SamePixels(img.Picture()->Graphic(), inverted));
}

TEST(OrImage, TileSizeAndStoredCount)
{
    TOrImage img;
    img.SetPictureOriginal(Noisy(40, 30));
    img.SetTile(2);  // 20 x 15 tiles
    EXPECT_EQ(img.PicTile(), 2);
    const QImage& tiled = *img.EffectBMP();
    EXPECT_EQ(At(tiled, 3, 4), At(tiled, 23, 19));
    EXPECT_EQ(At(tiled, 19, 14), At(tiled, 39, 29));

    img.SetTile(5);  // both sides below 10: 10 x 10 tiles, 40 div 10 of them
    EXPECT_EQ(img.PicTile(), 4);
    EXPECT_EQ(At(*img.EffectBMP(), 1, 2), At(*img.EffectBMP(), 31, 22));

    img.SetPictureOriginal(Noisy(5, 5));
    img.SetTile(3);
    EXPECT_EQ(img.PicTile(), 0);
    EXPECT_EQ(img.EffectBMP(), nullptr);
}

TEST(OrImage, NewOriginalDropsCachesAndReappliesTheEffects)
{
    TOrImage img;
    img.SetPictureOriginal(Noisy(50, 40, 1));
    img.SetBrightness(20);
    img.SetAntiAlias(2);

    const QImage second = Noisy(30, 20, 2);
    img.SetPictureOriginal(second);
    QImage expected = second.copy();
    AntiAliasRect(expected, 0, 0, 30, 20);
    AntiAliasRect(expected, 0, 0, 30, 20);
    ASSERT_NE(img.EffectBMP(), nullptr);
    EXPECT_TRUE(SamePixels(*img.EffectBMP(), expected));
    TColorEffects fx;
    fx.Brightness = 20;
    RenderColorEffects(expected, nullptr, fx, expected);
    EXPECT_TRUE(SamePixels(img.Picture()->Graphic(), expected));

    // A cache is rebuilt by its setter, which limits the value by the new original.
    img.SetMosaic(45);
    img.SetPictureOriginal(Noisy(12, 8));
    EXPECT_EQ(img.PicMosaic(), 12);

    // Noise is drawn again for the new original, in its size.
    img.SetNoiseSeed(77);
    img.SetMonoNoise(60);
    img.SetPictureOriginal(Noisy(9, 7));
    ASSERT_NE(img.NoiseBMP(), nullptr);
    EXPECT_EQ(img.NoiseBMP()->size(), QSize(9, 7));

    // Colour noise of 1 always draws 0.
    TOrImage plain;
    const QImage src = Noisy(16, 16);
    plain.SetPictureOriginal(src);
    plain.SetColorNoise(1);
    EXPECT_TRUE(SamePixels(plain.Picture()->Graphic(), src));
}

TEST(OrImage, ResetEffectsRestoresTheOriginalAndLeavesAnEmptyControlEmpty)
{
    TOrImage empty;
    empty.SetBrightness(50);
    empty.ResetEffects();
    EXPECT_FALSE(empty.Picture()->HasGraphic());
    EXPECT_EQ(empty.PicBrightness(), 0);
    empty.UpdateEffects();
    EXPECT_FALSE(empty.Picture()->HasGraphic());

    TOrImage img;
    const QImage src = Noisy(20, 10);
    img.SetPictureOriginal(src);
    img.SetContrast(80);
    img.SetMonoNoise(50);
    img.SetEmboss(true);
    img.ResetEffects();
    EXPECT_TRUE(SamePixels(img.Picture()->Graphic(), src));
    EXPECT_EQ(img.EffectBMP(), nullptr);
    EXPECT_EQ(img.NoiseBMP(), nullptr);
    EXPECT_EQ(img.PicContrast() + img.PicMonoNoise(), 0);
    EXPECT_FALSE(img.PicEmboss());
}

TEST(OrImage, AnyAssignedPictureBecomesA24BitBitmap)
{
    QTemporaryDir dir;
    const QString jpeg = dir.filePath("photo.jpg");
    ASSERT_TRUE(Noisy(31, 17).convertToFormat(QImage::Format_RGB32).save(jpeg, "JPG", 90));
    TOrPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(jpeg));
    EXPECT_EQ(picture.Kind(), TOrGraphicKind::Jpeg);

    TOrImage img;
    img.SetPictureOriginal(picture);
    EXPECT_TRUE(img.PictureOriginal()->IsBitmap());
    EXPECT_EQ(img.PictureOriginal()->Graphic().format(), QImage::Format_BGR888);
    EXPECT_EQ(img.PictureOriginal()->Graphic().size(), QSize(31, 17));
    EXPECT_TRUE(img.Picture()->IsBitmap());
    EXPECT_TRUE(SamePixels(img.Picture()->Graphic(), img.PictureOriginal()->Graphic()));

    QImage argb(4, 3, QImage::Format_ARGB32);
    argb.fill(qRgb(10, 20, 30));
    img.SetPictureOriginal(argb);
    EXPECT_EQ(img.PictureOriginal()->Graphic().format(), QImage::Format_BGR888);
    EXPECT_EQ(At(img.Picture()->Graphic(), 3, 2), (Rgb{10, 20, 30}));

    img.SetPictureOriginal(QImage());
    EXPECT_FALSE(img.Picture()->HasGraphic());
}

TEST(OrImage, CanvasNeedsABitmap)
{
    TOrImage img;
    img.resize(20, 10);
    {
        TOrCanvas canvas = img.GetCanvas();
        canvas->fillRect(0, 0, 5, 5, QColor(255, 0, 0));
    }
    EXPECT_EQ(img.Picture()->Graphic().size(), QSize(20, 10));
    EXPECT_EQ(At(img.Picture()->Graphic(), 2, 2), (Rgb{255, 0, 0}));
    EXPECT_EQ(At(img.Picture()->Graphic(), 9, 9), (Rgb{0, 0, 0}));

    // Drawing on the rendered picture never reaches the original it was copied from.
    const QImage src = Filled(20, 10, {1, 2, 3});
    img.SetPictureOriginal(src);
    img.ResetEffects();
    img.GetCanvas()->fillRect(0, 0, 20, 10, QColor(200, 0, 0));
    EXPECT_EQ(At(img.Picture()->Graphic(), 5, 5), (Rgb{200, 0, 0}));
    EXPECT_TRUE(SamePixels(img.PictureOriginal()->Graphic(), src));

    img.Picture()->AssignGraphic(Noisy(3, 3).convertToFormat(QImage::Format_RGB32), TOrGraphicKind::Jpeg);
    try {
        TOrCanvas canvas = img.GetCanvas();
        FAIL() << "no error for a JPEG graphic";
    } catch (const TOrImage::EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Can only modify an image if it contains a bitmap");
    }
    // Rendering leaves a picture that is not a bitmap alone.
    img.SetPictureOriginal(Noisy(3, 3));
    img.Picture()->AssignGraphic(Noisy(3, 3).convertToFormat(QImage::Format_RGB32), TOrGraphicKind::Jpeg);
    img.SetBrightness(10);
    EXPECT_EQ(img.Picture()->Kind(), TOrGraphicKind::Jpeg);
}

TEST(OrImage, PlacementOpacityAndPainting)
{
    QWidget parent;
    parent.resize(400, 400);
    auto* img = new TOrImage(&parent);
    img->setGeometry(10, 10, 100, 60);
    img->SetPictureOriginal(Filled(80, 40, {0, 200, 0}));
    EXPECT_EQ(img->DestRect(), TRect(0, 0, 80, 40));
    EXPECT_FALSE(img->testAttribute(Qt::WA_OpaquePaintEvent));  // does not cover the control
    img->SetCenter(true);
    EXPECT_EQ(img->DestRect(), TRect(10, 10, 90, 50));
    img->SetStretch(true);
    EXPECT_EQ(img->DestRect(), TRect(0, 0, 100, 60));
    EXPECT_TRUE(img->testAttribute(Qt::WA_OpaquePaintEvent));
    img->SetStretch(false);
    img->SetPictureOriginal(Filled(120, 90, {0, 200, 0}));
    EXPECT_EQ(img->DestRect(), TRect(-10, -15, 110, 75));
    EXPECT_TRUE(img->testAttribute(Qt::WA_OpaquePaintEvent));
    img->SetTransparent(true);
    EXPECT_FALSE(img->testAttribute(Qt::WA_OpaquePaintEvent));

    img->SetAutoSize(true);
    EXPECT_EQ(img->geometry(), QRect(10, 10, 120, 90));
    int w = 0, h = 0;
    img->SetAlign(TOrImage::alTop);
    EXPECT_TRUE(img->CanAutoSize(w, h));
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 90);
}

TEST(OrImage, PaintsAtNaturalSizeAndLeavesTransparentPixelsToTheParent)
{
    TOrImage img;
    img.resize(6, 4);
    QImage pic = Filled(4, 3, {0, 0, 255});
    Set(pic, 0, 2, {250, 0, 0});  // bottom-left: the transparent colour
    Set(pic, 3, 0, {250, 0, 0});
    Set(pic, 1, 1, {9, 9, 9});
    img.SetPictureOriginal(pic);

    QImage target(6, 4, QImage::Format_RGB32);
    target.fill(qRgb(1, 2, 3));
    img.render(&target, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(target.pixel(1, 1), qRgb(9, 9, 9));
    EXPECT_EQ(target.pixel(3, 0), qRgb(250, 0, 0));
    EXPECT_EQ(target.pixel(5, 3), qRgb(1, 2, 3));  // outside the picture

    img.SetTransparent(true);
    target.fill(qRgb(1, 2, 3));
    img.render(&target, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(target.pixel(3, 0), qRgb(1, 2, 3));
    EXPECT_EQ(target.pixel(0, 0), qRgb(0, 0, 255));
}

TEST(OrImage, MouseEnterAndExitEvents)
{
    TOrImage img;
    QSignalSpy enter(&img, &TOrImage::OnMouseEnter);
    QSignalSpy exit(&img, &TOrImage::OnMouseExit);
    QEnterEvent in(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(&img, &in);
    EXPECT_TRUE(img.IsMouseEntering());
    ASSERT_EQ(enter.count(), 1);
    EXPECT_EQ(enter.at(0).at(0).value<TOrImage*>(), &img);
    QEvent out(QEvent::Leave);
    QCoreApplication::sendEvent(&img, &out);
    EXPECT_FALSE(img.IsMouseEntering());
    EXPECT_EQ(exit.count(), 1);
}
