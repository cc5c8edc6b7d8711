#pragma once
// TOrImage: a picture control that keeps an untouched original and shows a
// retouched copy of it.
//
// Usage (the main window's slots):
//   slot->SetPictureOriginal(crop);    // converts to 24 bits and renders at once
//   slot->SetBrightness(40);           // every effect setter re-renders
//   slot->UpdateEffects();             // explicit re-render (cheap)
//   const QImage& out = slot->Picture()->Graphic();   // what is shown is what is saved
//
// Rendering = optional spatial effect (cached) -> per-pixel colour stage with
// optional noise (cached). Only one spatial effect is active at a time: setting
// one clears the others. The caches belong to the current original and are
// dropped when it changes; effect values survive and apply to the new one.
//
// The control has no window of its own: it paints on its parent's area (no
// native window, no background of its own) and declares itself opaque only
// when its picture covers it completely.

#include "platform/Geometry.h"
#include "retouch/OrImage_Pixels.h"
#include "retouch/OrPicture.h"

#include <QPainter>
#include <QWidget>

#include <memory>
#include <stdexcept>

class TOrImage;

// Drawing access to the rendered picture's bitmap (GetCanvas). The picture
// announces its change when the canvas goes out of scope.
class TOrCanvas {
public:
    explicit TOrCanvas(TOrPicture* picture);
    ~TOrCanvas();
    TOrCanvas(const TOrCanvas&) = delete;
    TOrCanvas& operator=(const TOrCanvas&) = delete;
    QPainter& Painter() { return FPainter; }
    QPainter* operator->() { return &FPainter; }

private:
    TOrPicture* FPicture;
    QPainter FPainter;
};

class TOrImage : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int PicBrightness READ PicBrightness WRITE SetBrightness)
    Q_PROPERTY(int PicContrast READ PicContrast WRITE SetContrast)
    Q_PROPERTY(bool PicGrayScale READ PicGrayScale WRITE SetGrayScale)
    Q_PROPERTY(int PicLightness READ PicLightness WRITE SetLightness)
    Q_PROPERTY(int PicDarkness READ PicDarkness WRITE SetDarkness)
    Q_PROPERTY(int PicSaturation READ PicSaturation WRITE SetSaturation)
    Q_PROPERTY(int PicSplitlight READ PicSplitlight WRITE SetSplitlight)
    Q_PROPERTY(bool PicInvert READ PicInvert WRITE SetInvert)
    Q_PROPERTY(int PicColorNoise READ PicColorNoise WRITE SetColorNoise)
    Q_PROPERTY(int PicMonoNoise READ PicMonoNoise WRITE SetMonoNoise)
    Q_PROPERTY(int PicPosterize READ PicPosterize WRITE SetPosterize)
    Q_PROPERTY(int PicSolorize READ PicSolorize WRITE SetSolorize)
    Q_PROPERTY(bool PicEmboss READ PicEmboss WRITE SetEmboss)
    Q_PROPERTY(int PicMosaic READ PicMosaic WRITE SetMosaic)
    Q_PROPERTY(int PicSplitBlur READ PicSplitBlur WRITE SetSplitBlur)
    Q_PROPERTY(int PicGaussianBlur READ PicGaussianBlur WRITE SetGaussianBlur)
    Q_PROPERTY(int PicAntiAlias READ PicAntiAlias WRITE SetAntiAlias)
    Q_PROPERTY(int PicTrace READ PicTrace WRITE SetTrace)
    Q_PROPERTY(int PicTile READ PicTile WRITE SetTile)
    Q_PROPERTY(bool Stretch READ Stretch WRITE SetStretch)
    Q_PROPERTY(bool Center READ Center WRITE SetCenter)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(bool IncrementalDisplay READ IncrementalDisplay WRITE SetIncrementalDisplay)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)

public:
    // Alignment within the parent; only CanAutoSize reads it.
    enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };

    // Raised by GetCanvas when the rendered picture is not a bitmap.
    class EInvalidOperation : public std::logic_error {
    public:
        using std::logic_error::logic_error;
    };

    // A 105 x 105 control with empty pictures and every effect off.
    explicit TOrImage(QWidget* owner = nullptr);
    ~TOrImage() override;

    // --- Pictures --------------------------------------------------------
    // The untouched original. Assigning to it (here or through the holder)
    // makes it a 24-bit bitmap, drops the caches and renders.
    TOrPicture* PictureOriginal() const { return FPictureOriginal; }
    void SetPictureOriginal(const TOrPicture& picture);
    void SetPictureOriginal(const QImage& bitmap);
    // The rendered copy, the picture that is shown and saved.
    TOrPicture* Picture() const { return FPicture; }
    // Drawing access to the rendered picture; an empty picture first gets a
    // black bitmap of the control's size. Throws EInvalidOperation when the
    // picture holds a graphic other than a bitmap.
    TOrCanvas GetCanvas();
    bool IsMouseEntering() const { return FIsMouseEntering; }

    // Renders Picture from the original, the active spatial effect and the
    // colour adjustments, rebuilding a missing cache first. Does nothing while
    // either picture is empty or not a bitmap.
    void UpdateEffects();
    // Every effect off, caches dropped, Picture := the original (no rendering run).
    void ResetEffects();

    // --- Colour adjustments (each setter clamps, stores and renders) -------
    int PicBrightness() const { return FBrightness; }
    void SetBrightness(int value);  // -255..255
    int PicContrast() const { return FContrast; }
    void SetContrast(int value);    // >= -255
    bool PicGrayScale() const { return FGrayScale; }
    void SetGrayScale(bool value);  // wins over saturation
    int PicLightness() const { return FLightness; }
    void SetLightness(int value);   // <= 255
    int PicDarkness() const { return FDarkness; }
    void SetDarkness(int value);    // <= 255
    int PicSaturation() const { return FSaturation; }
    void SetSaturation(int value);  // >= -255; -255 renders grey averages
    int PicSplitlight() const { return FSplitlight; }
    void SetSplitlight(int value);  // 0..10 passes
    bool PicInvert() const { return FInvert; }
    void SetInvert(bool value);     // applied last
    int PicPosterize() const { return FPosterize; }
    void SetPosterize(int value);   // >= 0; clears solarize
    int PicSolorize() const { return FSolorize; }
    void SetSolorize(int value);    // 0..255; clears posterize

    // --- Noise (the two clear each other; cached per original) ------------
    int PicColorNoise() const { return FColorNoise; }
    void SetColorNoise(int value);  // >= 0
    int PicMonoNoise() const { return FMonoNoise; }
    void SetMonoNoise(int value);   // >= 0
    // The noise generator's seed, so a noise picture can be repeated.
    uint32_t NoiseSeed() const { return FRandom.Seed(); }
    void SetNoiseSeed(uint32_t seed) { FRandom.SetSeed(seed); }

    // --- Spatial effects (each clears the other six; cached per original) --
    bool PicEmboss() const { return FEmboss; }
    void SetEmboss(bool value);
    int PicMosaic() const { return FMosaic; }
    void SetMosaic(int value);      // >= 0, at most the original's larger side
    int PicSplitBlur() const { return FSplitBlur; }
    void SetSplitBlur(int value);   // 0..255 (distance)
    int PicGaussianBlur() const { return FGaussianBlur; }
    void SetGaussianBlur(int value); // 0..50 (value + 1 split-blur passes at distance 3)
    int PicAntiAlias() const { return FAntiAlias; }
    void SetAntiAlias(int value);   // 0..50 smoothing passes
    int PicTrace() const { return FTrace; }
    void SetTrace(int value);       // 0..10
    int PicTile() const { return FTile; }
    // Tiles per side, each a smooth shrink of the original, at least 10 x 10 pixels.
    // When both sides of a tile would come out at 10, the stored count becomes
    // max(W, H) div 10 (0, and no tiling, for originals under 10 pixels).
    void SetTile(int value);

    // Read-only views of the caches (null when absent).
    const QImage* EffectBMP() const { return FEffectBMP.get(); }
    const QImage* NoiseBMP() const { return FNoise.get(); }

    // --- Painting options ---------------------------------------------------
    bool Stretch() const { return FStretch; }
    void SetStretch(bool value);
    bool Center() const { return FCenter; }
    void SetCenter(bool value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    bool IncrementalDisplay() const { return FIncrementalDisplay; }
    void SetIncrementalDisplay(bool value) { FIncrementalDisplay = value; }
    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign value) { FAlign = value; }
    // A free number for the owner (the main window keeps a sharpness level here).
    int Tag() const { return FTag; }
    void SetTag(int value) { FTag = value; }

    // Where the picture is drawn, in control coordinates, Right/Bottom exclusive:
    // the whole control when stretching, centred when Center, else at (0, 0)
    // in the picture's own size.
    TRect DestRect() const;
    // Always true; proposes the picture's size for the sides the alignment leaves free.
    bool CanAutoSize(int& NewWidth, int& NewHeight) const;
    // The rendered graphic's colour table (empty: no palette).
    QList<QRgb> GetPalette() const;
    // Palettes are never realised on a true-colour display: always false.
    bool DoPaletteChange();

    // Change handlers of the two pictures (wired in the constructor).
    void PictureOriginalChanged(QObject* sender);
    void PictureChanged(QObject* sender);
    // Progress of the rendered picture while a graphic loads.
    void Progress(QObject* sender, TOrProgressStage stage, int percentDone, bool redrawNow, const QRect& r,
                  const QString& msg);
    // Draws the rendered picture into DestRect (called from the paint event).
    void Paint();

signals:
    void OnMouseEnter(TOrImage* sender);
    void OnMouseExit(TOrImage* sender);
    void OnProgress(QObject* sender, TOrProgressStage stage, int percentDone, bool redrawNow, const QRect& r,
                    const QString& msg);
    // A press of any button, in control coordinates.
    void OnMouseDown(TOrImage* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    // A left press and release both on the control.
    void OnClick(TOrImage* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum TSpatial { spEmboss, spMosaic, spSplitBlur, spGaussianBlur, spAntiAlias, spTrace, spTile };

    bool HasOriginal() const;
    orimage::TColorEffects ColorEffects() const;
    void ClearSpatialExcept(TSpatial keep);
    // FEffectBMP := a copy of the original (created when missing).
    QImage& StartEffect();
    void DropEffect() { FEffectBMP.reset(); }
    void BuildNoise(int32_t n, bool mono);
    void ApplyOpaque(bool opaque);

    TOrPicture* FPictureOriginal;
    std::unique_ptr<QImage> FNoise;
    std::unique_ptr<QImage> FEffectBMP;
    bool FIsMouseEntering = false;
    bool FPictureOriginalChangedONprocess = false;
    int32_t FBrightness = 0;
    int32_t FContrast = 0;
    bool FGrayScale = false;
    int32_t FLightness = 0;
    int32_t FDarkness = 0;
    int32_t FSaturation = 0;
    int32_t FSplitlight = 0;
    bool FInvert = false;
    int32_t FColorNoise = 0;
    int32_t FMonoNoise = 0;
    int32_t FPosterize = 0;
    int32_t FSolorize = 0;
    bool FEmboss = false;
    int32_t FMosaic = 0;
    int32_t FSplitBlur = 0;
    int32_t FGaussianBlur = 0;
    int32_t FAntiAlias = 0;
    int32_t FTrace = 0;
    int32_t FTile = 0;
    TOrPicture* FPicture;
    bool FStretch = false;
    bool FCenter = false;
    bool FIncrementalDisplay = false;
    bool FTransparent = false;
    bool FAutoSize = false;
    bool FDrawing = false;
    TAlign FAlign = alNone;
    int FTag = 0;
    orimage::TNoiseRandom FRandom;
    bool FPressed = false;
    // Set while UpdateEffects rebuilds a cache through a setter.
    bool FRebuildingCache = false;
    // Masked copy of a transparent picture, rebuilt when the picture changes.
    QImage FMaskedCache;
    qint64 FMaskedKey = 0;
};
