// The per-pixel colour stage: worked values, the order of the steps, and a
// comparison of the tabulated renderer with the formulas evaluated directly.

#include "RetouchTestUtil.h"
#include "retouch/OrImage_Pixels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using orimage::RenderColorEffects;
using orimage::TColorEffects;

namespace {

Rgb RenderOne(Rgb in, const TColorEffects& fx)
{
    QImage out;
    RenderColorEffects(Filled(1, 1, in), nullptr, fx, out);
    return At(out, 0, 0);
}

// One channel value rendered alone (grey pixel, so no step mixes channels).
int RenderGrey(int v, const TColorEffects& fx) { return RenderOne({v, v, v}, fx).r; }

// The stage evaluated straight from its formulas, one pixel at a time, with no tables.
Rgb Direct(Rgb in, Rgb noise, const TColorEffects& fx)
{
    int64_t c[3] = {in.r, in.g, in.b};
    const int64_t n[3] = {noise.r, noise.g, noise.b};
    if (fx.Posterize != 0) {
        for (auto& v : c)
            v = static_cast<int64_t>(std::nearbyint(static_cast<double>(v) / fx.Posterize)) * fx.Posterize;
    } else if (fx.Solorize != 0 && (c[0] + c[1] + c[2]) / 3 > 255 - fx.Solorize) {
        for (auto& v : c)
            v = 255 - v;
    }
    int64_t c1[3];
    for (int i = 0; i < 3; ++i) {
        const int64_t v = c[i];
        int64_t t = fx.Contrast == 0 ? 0 : (std::llabs(127 - v) * fx.Contrast) / 255;
        if (fx.Contrast != 0 && v <= 127)
            t = -t;
        const int64_t l = fx.Lightness == 0 ? 0 : (int64_t{fx.Lightness} * (255 - v)) / 255;
        const int64_t d = fx.Darkness == 0 ? 0 : (-(v * fx.Darkness)) / 255;
        int64_t s = std::clamp<int64_t>(v + n[i] + t + l + d + fx.Brightness, 0, 255);
        for (int k = 0; k < fx.Splitlight; ++k)
            s = static_cast<int64_t>(std::nearbyint(std::sin(static_cast<double>(s) / 255 * M_PI / 2) * 255));
        c1[i] = s;
    }
    if (fx.GrayScale) {
        // k / 100 is exact at every half, so nearbyint sees true ties.
        const int64_t g = static_cast<int64_t>(std::nearbyint((30.0 * c1[0] + 59.0 * c1[1] + 11.0 * c1[2]) / 100));
        c1[0] = c1[1] = c1[2] = g;
    } else if (fx.Saturation != 0) {
        const int64_t a = (c1[0] + c1[1] + c1[2]) / 3;
        for (auto& v : c1)
            v = std::clamp<int64_t>(((v - a) * (int64_t{fx.Saturation} + 255)) / 255 + a, 0, 255);
    }
    if (fx.Invert)
        for (auto& v : c1)
            v = 255 - v;
    return Rgb{static_cast<int>(c1[0]), static_cast<int>(c1[1]), static_cast<int>(c1[2])};
}

} // namespace

TEST(ColorStage, WorkedValuesOfEachAdjustment)
{
    TColorEffects fx;
    fx.Brightness = 40;
    EXPECT_EQ(RenderOne({10, 200, 250}, fx), (Rgb{50, 240, 255}));

    fx = {};
    fx.Contrast = 150;
    EXPECT_EQ(RenderGrey(200, fx), 242);
    EXPECT_EQ(RenderGrey(60, fx), 21);
    // Unbounded contrast still ends in the final clamp.
    fx.Contrast = 1000;
    EXPECT_EQ(RenderGrey(200, fx), 255);
    EXPECT_EQ(RenderGrey(60, fx), 0);

    fx = {};
    fx.Lightness = 100;
    EXPECT_EQ(RenderGrey(40, fx), 124);
    fx.Lightness = -100;
    EXPECT_EQ(RenderGrey(40, fx), 0);

    fx = {};
    fx.Saturation = -255;
    EXPECT_EQ(RenderOne({10, 200, 250}, fx), (Rgb{153, 153, 153}));
    EXPECT_EQ(RenderOne({0, 1, 1}, fx), (Rgb{0, 0, 0}));

    fx = {};
    fx.Splitlight = 1;
    EXPECT_EQ(RenderOne({0, 64, 128}, fx), (Rgb{0, 98, 181}));
    EXPECT_EQ(RenderGrey(255, fx), 255);
}

TEST(ColorStage, PosterizeRoundsHalvesToEvenAndSolarizeNeedsAverageAboveThreshold)
{
    TColorEffects fx;
    fx.Posterize = 4;
    EXPECT_EQ(RenderOne({10, 14, 0}, fx), (Rgb{8, 16, 0}));
    // Posterize may overshoot 255 before the clamp: darkness sees 300, not 255.
    fx.Posterize = 100;
    fx.Darkness = 50;
    EXPECT_EQ(RenderGrey(255, fx), 242);  // 300 + (-(300 x 50)) div 255

    fx = {};
    fx.Solorize = 100;
    EXPECT_EQ(RenderOne({156, 156, 156}, fx), (Rgb{99, 99, 99}));
    EXPECT_EQ(RenderOne({155, 155, 155}, fx), (Rgb{155, 155, 155}));
    // The pixel's average decides for all three channels.
    EXPECT_EQ(RenderOne({255, 255, 0}, fx), (Rgb{0, 0, 255}));
}

TEST(ColorStage, GreyWinsOverSaturationAndInvertComesLast)
{
    TColorEffects fx;
    fx.GrayScale = true;
    fx.Saturation = 200;
    const Rgb grey = RenderOne({200, 100, 50}, fx);
    EXPECT_EQ(grey, (Rgb{124, 124, 124}));  // 60 + 59 + 5.5 = 124.5, a half: to the even 124
    fx.Saturation = 0;
    EXPECT_EQ(RenderOne({200, 100, 50}, fx), grey);

    fx.Invert = true;
    EXPECT_EQ(RenderOne({255, 255, 255}, fx), (Rgb{0, 0, 0}));
    fx.GrayScale = false;
    EXPECT_EQ(RenderOne({10, 200, 250}, fx), (Rgb{245, 55, 5}));
}

TEST(ColorStage, TablesAgreeWithTheFormulasForManySettings)
{
    std::mt19937 rng(2024);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const QImage src = Noisy(48, 32, 99);
    const QImage noise = Noisy(48, 32, 5);
    for (int round = 0; round < 60; ++round) {
        TColorEffects fx;
        fx.Brightness = pick(-255, 255);
        fx.Contrast = round % 7 == 0 ? pick(-255, 2000000000) : pick(-255, 255);
        fx.Lightness = round % 5 == 0 ? pick(-2000000000, 255) : pick(-255, 255);
        fx.Darkness = round % 6 == 0 ? pick(-2000000000, 255) : pick(-255, 255);
        fx.Saturation = round % 4 == 0 ? pick(-255, 2000000000) : pick(-255, 255);
        fx.Splitlight = pick(0, 3);
        if (round % 3 == 0)
            fx.Posterize = round % 9 == 0 ? pick(300, 2000000000) : pick(1, 60);
        else if (round % 3 == 1)
            fx.Solorize = pick(0, 255);
        fx.GrayScale = round % 8 == 0;
        fx.Invert = round % 2 == 0;
        for (int k = 0; k < 3; ++k)
            if (pick(0, 2) == 0)
                (k == 0 ? fx.Brightness : k == 1 ? fx.Contrast : fx.Saturation) = 0;
        const bool withNoise = round % 4 == 1;
        QImage out;
        RenderColorEffects(src, withNoise ? &noise : nullptr, fx, out);
        int mismatches = 0;
        for (int y = 0; y < src.height(); ++y)
            for (int x = 0; x < src.width(); ++x) {
                const Rgb want = Direct(At(src, x, y), withNoise ? At(noise, x, y) : Rgb{0, 0, 0}, fx);
                if (!(At(out, x, y) == want) && mismatches++ < 3)
                    ADD_FAILURE() << "round " << round << " at " << x << "," << y;
            }
        EXPECT_EQ(mismatches, 0) << "round " << round;
    }
}

TEST(ColorStage, SliderSettingsAgreeWithTheFormulasAcrossWholeRowsAndTails)
{
    // The slider range, including the extremes of every bounded setter, on a width
    // that is not a multiple of any block size.
    std::mt19937 rng(77);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const QImage src = Noisy(37, 9, 3);
    for (int round = 0; round < 200; ++round) {
        TColorEffects fx;
        const int edge = round % 4;
        fx.Brightness = edge == 0 ? 255 : edge == 1 ? -255 : pick(-255, 255);
        fx.Contrast = edge == 0 ? 255 : edge == 1 ? -255 : pick(-255, 255);
        fx.Lightness = edge == 0 ? -255 : edge == 1 ? 255 : pick(-255, 255);
        fx.Darkness = round % 3 == 0 ? 0 : pick(-255, 255);
        fx.Saturation = round % 5 == 0 ? 0 : (edge == 0 ? -255 : edge == 1 ? 255 : pick(-255, 255));
        fx.Invert = round % 2 == 1;
        QImage out;
        RenderColorEffects(src, nullptr, fx, out);
        int mismatches = 0;
        for (int y = 0; y < src.height(); ++y)
            for (int x = 0; x < src.width(); ++x)
                if (!(At(out, x, y) == Direct(At(src, x, y), {0, 0, 0}, fx)) && mismatches++ < 3)
                    ADD_FAILURE() << "round " << round << " at " << x << "," << y;
        ASSERT_EQ(mismatches, 0) << "round " << round;
    }
}

TEST(ColorStage, WideRowsAgreeWithTheFormulasForEveryPerChannelStage)
{
    // Rows long enough for the widest block renderer (several full blocks and a
    // tail), with every stage that works per channel and both saturation
    // directions, including a saturation so strong that every channel clamps.
    std::mt19937 rng(4242);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const QImage src = Noisy(3 * 64 + 13, 6, 11);
    for (int round = 0; round < 80; ++round) {
        TColorEffects fx;
        fx.Brightness = pick(-255, 255);
        fx.Contrast = round % 9 == 0 ? pick(256, 2000000000) : pick(-255, 255);
        fx.Lightness = round % 7 == 0 ? pick(-2000000000, -256) : pick(-255, 255);
        fx.Darkness = round % 3 == 0 ? 0 : pick(-255, 255);
        const int sat = round % 6;
        fx.Saturation = sat == 0 ? 0 : sat == 1 ? -255 : sat == 2 ? pick(256, 2000000000) : pick(-255, 255);
        fx.Splitlight = round % 4 == 0 ? pick(1, 3) : 0;
        fx.Posterize = round % 5 == 0 ? pick(1, 300) : 0;
        fx.Solorize = round % 10 == 5 ? pick(1, 255) : 0;  // ignored while posterize is set
        fx.Invert = round % 2 == 1;
        QImage out;
        RenderColorEffects(src, nullptr, fx, out);
        int mismatches = 0;
        for (int y = 0; y < src.height(); ++y)
            for (int x = 0; x < src.width(); ++x)
                if (!(At(out, x, y) == Direct(At(src, x, y), {0, 0, 0}, fx)) && mismatches++ < 3)
                    ADD_FAILURE() << "round " << round << " at " << x << "," << y;
        ASSERT_EQ(mismatches, 0) << "round " << round;
    }
}
