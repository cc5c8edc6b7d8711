// TOrImage: effect setters, caches and the rendering entry point.
//
// Every setter stores its (clamped) value and renders at once, even when the
// value did not change. Spatial effects and noise are computed here, once per
// setter call, and cached; moving a colour slider only re-runs the per-pixel stage.

#include "retouch/OrImage.h"

#include "platform/ImageAlloc.h"

#include <algorithm>

namespace {
int ClampInt(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }
} // namespace

orimage::TColorEffects TOrImage::ColorEffects() const
{
    orimage::TColorEffects fx;
    fx.Brightness = FBrightness;
    fx.Contrast = FContrast;
    fx.Lightness = FLightness;
    fx.Darkness = FDarkness;
    fx.Saturation = FSaturation;
    fx.Splitlight = FSplitlight;
    fx.Posterize = FPosterize;
    fx.Solorize = FSolorize;
    fx.GrayScale = FGrayScale;
    fx.Invert = FInvert;
    return fx;
}

void TOrImage::UpdateEffects()
{
    if (!HasOriginal() || !FPicture->IsBitmap() || FPicture->Graphic().isNull())
        return;
    // A setter called below to rebuild a cache would render by itself; this call
    // renders once the cache is there, so the nested render is skipped.
    if (FRebuildingCache)
        return;
    {
        FRebuildingCache = true;
        struct TGuard {
            bool& flag;
            ~TGuard() { flag = false; }
        } guard{FRebuildingCache};

        if (FColorNoise > 0 && !FNoise)
            SetColorNoise(FColorNoise);
        if (FMonoNoise > 0 && !FNoise)
            SetMonoNoise(FMonoNoise);

        if (FEmboss) {
            if (!FEffectBMP)
                SetEmboss(FEmboss);
        } else if (FMosaic > 0) {
            if (!FEffectBMP)
                SetMosaic(FMosaic);
        } else if (FSplitBlur > 0) {
            if (!FEffectBMP)
                SetSplitBlur(FSplitBlur);
        } else if (FGaussianBlur > 0) {
            if (!FEffectBMP)
                SetGaussianBlur(FGaussianBlur);
        } else if (FAntiAlias > 0) {
            if (!FEffectBMP)
                SetAntiAlias(FAntiAlias);
        } else if (FTrace > 0) {
            if (!FEffectBMP)
                SetTrace(FTrace);
        } else if (FTile > 0) {
            if (!FEffectBMP)
                SetTile(FTile);
        }
    }
    // A rebuilding setter may have switched its effect off (a tile setting that
    // no longer fits the new original); the original is the source then.
    const bool spatial = FEmboss || FMosaic > 0 || FSplitBlur > 0 || FGaussianBlur > 0 || FAntiAlias > 0 ||
                         FTrace > 0 || FTile > 0;
    const QImage& original = FPictureOriginal->Graphic();
    const QImage& source = (spatial && FEffectBMP) ? *FEffectBMP : original;
    orimage::RenderColorEffects(source, FNoise.get(), ColorEffects(), FPicture->Bitmap());
    update();
}

void TOrImage::ResetEffects()
{
    FBrightness = FContrast = FLightness = FDarkness = FSaturation = FSplitlight = 0;
    FGrayScale = FInvert = false;
    FColorNoise = FMonoNoise = FPosterize = FSolorize = 0;
    FEmboss = false;
    FMosaic = FSplitBlur = FGaussianBlur = FAntiAlias = FTrace = FTile = 0;
    FNoise.reset();
    FEffectBMP.reset();
    FPicture->Assign(*FPictureOriginal);
}

// --- Colour adjustments -------------------------------------------------------

void TOrImage::SetBrightness(int value)
{
    FBrightness = ClampInt(value, -255, 255);
    UpdateEffects();
}

void TOrImage::SetContrast(int value)
{
    FContrast = std::max(value, -255);
    UpdateEffects();
}

void TOrImage::SetGrayScale(bool value)
{
    FGrayScale = value;
    UpdateEffects();
}

void TOrImage::SetLightness(int value)
{
    FLightness = std::min(value, 255);
    UpdateEffects();
}

void TOrImage::SetDarkness(int value)
{
    FDarkness = std::min(value, 255);
    UpdateEffects();
}

void TOrImage::SetSaturation(int value)
{
    FSaturation = std::max(value, -255);
    UpdateEffects();
}

void TOrImage::SetSplitlight(int value)
{
    FSplitlight = ClampInt(value, 0, 10);
    UpdateEffects();
}

void TOrImage::SetInvert(bool value)
{
    FInvert = value;
    UpdateEffects();
}

void TOrImage::SetPosterize(int value)
{
    FPosterize = std::max(value, 0);
    FSolorize = 0;
    UpdateEffects();
}

void TOrImage::SetSolorize(int value)
{
    FSolorize = ClampInt(value, 0, 255);
    FPosterize = 0;
    UpdateEffects();
}

// --- Noise --------------------------------------------------------------------

void TOrImage::BuildNoise(int32_t n, bool mono)
{
    if (n > 0 && HasOriginal()) {
        const QImage& original = FPictureOriginal->Graphic();
        QImage noise = orimage::MakeNoise(original.width(), original.height(), n, mono, FRandom);
        if (!noise.isNull()) {
            FNoise = std::make_unique<QImage>(std::move(noise));
            return;
        }
    }
    FNoise.reset();
}

void TOrImage::SetColorNoise(int value)
{
    FColorNoise = std::max(value, 0);
    FMonoNoise = 0;
    BuildNoise(FColorNoise, false);
    UpdateEffects();
}

void TOrImage::SetMonoNoise(int value)
{
    FMonoNoise = std::max(value, 0);
    FColorNoise = 0;
    BuildNoise(FMonoNoise, true);
    UpdateEffects();
}

// --- Spatial effects ----------------------------------------------------------

void TOrImage::ClearSpatialExcept(TSpatial keep)
{
    if (keep != spEmboss)
        FEmboss = false;
    if (keep != spMosaic)
        FMosaic = 0;
    if (keep != spSplitBlur)
        FSplitBlur = 0;
    if (keep != spGaussianBlur)
        FGaussianBlur = 0;
    if (keep != spAntiAlias)
        FAntiAlias = 0;
    if (keep != spTrace)
        FTrace = 0;
    if (keep != spTile)
        FTile = 0;
}

QImage& TOrImage::StartEffect()
{
    if (!FEffectBMP)
        FEffectBMP = std::make_unique<QImage>();
    // Shared until a filter writes to it; the original is never touched.
    *FEffectBMP = FPictureOriginal->Graphic();
    return *FEffectBMP;
}

void TOrImage::SetAntiAlias(int value)
{
    FAntiAlias = ClampInt(value, 0, 50);
    ClearSpatialExcept(spAntiAlias);
    if (HasOriginal()) {
        // With 0 passes this is a plain copy; rendering ignores it then.
        QImage& bmp = StartEffect();
        for (int i = 0; i < FAntiAlias; ++i)
            orimage::AntiAliasRect(bmp, 0, 0, bmp.width(), bmp.height());
    } else {
        DropEffect();
    }
    UpdateEffects();
}

void TOrImage::SetEmboss(bool value)
{
    FEmboss = value;
    ClearSpatialExcept(spEmboss);
    if (FEmboss && HasOriginal())
        orimage::Emboss(StartEffect());
    else
        DropEffect();
    UpdateEffects();
}

void TOrImage::SetMosaic(int value)
{
    if (value < 0)
        value = 0;
    else if (HasOriginal())
        value = std::min(value, std::max(FPictureOriginal->Width(), FPictureOriginal->Height()));
    FMosaic = value;
    ClearSpatialExcept(spMosaic);
    if (FMosaic > 0 && HasOriginal())
        orimage::Mosaic(StartEffect(), FMosaic);
    else
        DropEffect();
    UpdateEffects();
}

void TOrImage::SetSplitBlur(int value)
{
    FSplitBlur = ClampInt(value, 0, 255);
    ClearSpatialExcept(spSplitBlur);
    if (FSplitBlur > 0 && HasOriginal())
        orimage::SplitBlur(StartEffect(), FSplitBlur);
    else
        DropEffect();
    UpdateEffects();
}

void TOrImage::SetGaussianBlur(int value)
{
    FGaussianBlur = ClampInt(value, 0, 50);
    ClearSpatialExcept(spGaussianBlur);
    if (FGaussianBlur > 0 && HasOriginal())
        orimage::GaussianBlur(StartEffect(), FGaussianBlur + 1);
    else
        DropEffect();
    UpdateEffects();
}

void TOrImage::SetTrace(int value)
{
    FTrace = ClampInt(value, 0, 10);
    ClearSpatialExcept(spTrace);
    if (FTrace > 0 && HasOriginal())
        orimage::Trace(StartEffect(), FTrace);
    else
        DropEffect();
    UpdateEffects();
}

void TOrImage::SetTile(int value)
{
    const bool hasOriginal = HasOriginal();
    const int w = hasOriginal ? FPictureOriginal->Width() : 0;
    const int h = hasOriginal ? FPictureOriginal->Height() : 0;
    int tileW = 10;
    int tileH = 10;
    if (value > 0) {
        FTile = value;
        tileW = std::max(10, w / value);
        tileH = std::max(10, h / value);
        // Tiles never shrink below 10 x 10; the stored count then says how many
        // such tiles fit along the larger side.
        if (hasOriginal && tileW == 10 && tileH == 10)
            FTile = std::max(w, h) / 10;
    } else {
        FTile = 0;
    }
    ClearSpatialExcept(spTile);
    if (FTile > 0 && hasOriginal) {
        QImage& bmp = StartEffect();
        QImage tile = NewBgrImage(tileW, tileH);
        orimage::SmoothResize(FPictureOriginal->Graphic(), tile);
        orimage::TileFill(bmp, tile);
    } else {
        DropEffect();
    }
    UpdateEffects();
}
