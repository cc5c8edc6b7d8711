#pragma once
// Picture holder of the retouch control: one graphic plus change and progress
// notifications, so the control can react whenever its pictures are replaced.
//
// A holder is empty, holds a bitmap (a row-addressable QImage, normally
// Format_BGR888), or holds a graphic of another kind (a JPEG image, a metafile,
// an icon) that is only drawn, not edited; the control turns such graphics into
// bitmaps before it works on them.

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>

enum class TOrGraphicKind { None, Bitmap, Jpeg, Metafile, Icon, Other };

// Stages of a picture load, as the progress notification reports them.
enum class TOrProgressStage { psStarting, psRunning, psEnding };

class TOrPicture : public QObject {
    Q_OBJECT
public:
    explicit TOrPicture(QObject* parent = nullptr);

    TOrGraphicKind Kind() const { return FKind; }
    bool HasGraphic() const { return FKind != TOrGraphicKind::None; }
    bool IsBitmap() const { return FKind == TOrGraphicKind::Bitmap; }
    int Width() const { return FGraphic.width(); }
    int Height() const { return FGraphic.height(); }

    // The pixels of the graphic (a null image when empty).
    const QImage& Graphic() const { return FGraphic; }
    // Writable pixels for row work. Writing raises no notification; call
    // Changed() when others must learn of it.
    QImage& Bitmap() { return FGraphic; }

    // Transparency of the graphic: when set, pixels of the bottom-left pixel's
    // colour are not drawn.
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value) { FTransparent = value; }

    // Copies the other holder's graphic (pixels are shared until written) and notifies.
    void Assign(const TOrPicture& other);
    // Holds `bitmap` as a bitmap (empty when it is null) and notifies.
    void AssignBitmap(const QImage& bitmap);
    // Holds `image` as a graphic of the given kind and notifies.
    void AssignGraphic(const QImage& image, TOrGraphicKind kind);
    // Empties the holder and notifies.
    void Clear();

    // Reads a picture file. JPEG files arrive as JPEG graphics, icons as icons,
    // bitmap files as bitmaps, everything else as other graphics. Reports
    // progress and notifies; false (and the holder unchanged) when the file
    // cannot be read.
    bool LoadFromFile(const QString& fileName);

    // Raises OnChange.
    void Changed();

signals:
    void OnChange(QObject* sender);
    void OnProgress(QObject* sender, TOrProgressStage stage, int percentDone, bool redrawNow, const QRect& r,
                    const QString& msg);

private:
    QImage FGraphic;
    TOrGraphicKind FKind = TOrGraphicKind::None;
    bool FTransparent = false;
};
