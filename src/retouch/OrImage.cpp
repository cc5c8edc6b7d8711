// TOrImage: the control itself (pictures, painting, mouse). The effect setters
// and the rendering live in OrImage_Effects.cpp, the pixel work in the
// widget-free OrImage_*.cpp files.

#include "retouch/OrImage.h"

#include "platform/ImageAlloc.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPaintEvent>

TOrCanvas::TOrCanvas(TOrPicture* picture) : FPicture(picture)
{
    if (FPicture && !FPicture->Bitmap().isNull())
        FPainter.begin(&FPicture->Bitmap());
}

TOrCanvas::~TOrCanvas()
{
    if (FPainter.isActive())
        FPainter.end();
    if (FPicture)
        FPicture->Changed();
}

TOrImage::TOrImage(QWidget* owner)
    : QWidget(owner), FPictureOriginal(new TOrPicture(this)), FPicture(new TOrPicture(this))
{
    // Painted on the parent's area: no native window and no background of our
    // own, so uncovered parts show the parent.
    setAttribute(Qt::WA_NativeWindow, false);
    setAttribute(Qt::WA_NoSystemBackground, true);
    setAutoFillBackground(false);
    // Mouse moves without a pressed button keep IsMouseEntering current.
    setMouseTracking(true);
    connect(FPictureOriginal, &TOrPicture::OnChange, this, &TOrImage::PictureOriginalChanged);
    connect(FPicture, &TOrPicture::OnChange, this, &TOrImage::PictureChanged);
    connect(FPicture, &TOrPicture::OnProgress, this, &TOrImage::Progress);
    resize(105, 105);
}

TOrImage::~TOrImage()
{
    // The holders are children and outlive this destructor; their notifications
    // must not reach a half-destroyed control.
    FPictureOriginal->disconnect(this);
    FPicture->disconnect(this);
}

bool TOrImage::HasOriginal() const
{
    return FPictureOriginal->IsBitmap() && !FPictureOriginal->Graphic().isNull();
}

void TOrImage::SetPictureOriginal(const TOrPicture& picture) { FPictureOriginal->Assign(picture); }

void TOrImage::SetPictureOriginal(const QImage& bitmap) { FPictureOriginal->AssignBitmap(bitmap); }

void TOrImage::PictureOriginalChanged(QObject*)
{
    if (FPictureOriginalChangedONprocess)
        return;
    if (!FPictureOriginal->HasGraphic()) {
        FPicture->Clear();
        return;
    }
    if (FPictureOriginal->IsBitmap()) {
        QImage& bmp = FPictureOriginal->Bitmap();
        if (bmp.format() != QImage::Format_BGR888)
            bmp = bmp.convertToFormat(QImage::Format_BGR888);
        FPicture->Assign(*FPictureOriginal);
    } else {
        // A graphic that is not a bitmap (a JPEG image, an icon, ...) is drawn
        // into a 24-bit bitmap that then replaces it in both pictures.
        const QImage& graphic = FPictureOriginal->Graphic();
        QImage bmp = NewBgrImage(graphic.width(), graphic.height());
        FPictureOriginalChangedONprocess = true;
        struct TGuard {
            bool& flag;
            ~TGuard() { flag = false; }
        } guard{FPictureOriginalChangedONprocess};
        if (!bmp.isNull()) {
            bmp.fill(Qt::white);
            QPainter painter(&bmp);
            painter.drawImage(0, 0, graphic);
        }
        FPictureOriginal->Clear();
        FPicture->AssignBitmap(bmp);
        FPictureOriginal->Assign(*FPicture);
    }
    FNoise.reset();
    FEffectBMP.reset();
    UpdateEffects();
}

void TOrImage::PictureChanged(QObject*)
{
    const int pw = FPicture->Width();
    const int ph = FPicture->Height();
    if (FAutoSize && pw > 0 && ph > 0)
        setGeometry(x(), y(), pw, ph);
    if (FPicture->HasGraphic()) {
        const TOrGraphicKind kind = FPicture->Kind();
        if (kind != TOrGraphicKind::Metafile && kind != TOrGraphicKind::Icon)
            FPicture->SetTransparent(FTransparent);
        ApplyOpaque(!FPicture->Transparent() && (FStretch || (pw >= width() && ph >= height())));
        if (DoPaletteChange() && FDrawing)
            update();
    } else {
        ApplyOpaque(false);
    }
    if (!FDrawing)
        update();
}

void TOrImage::ApplyOpaque(bool opaque)
{
    // An opaque control spares the parent from painting underneath it.
    setAttribute(Qt::WA_OpaquePaintEvent, opaque);
}

TOrCanvas TOrImage::GetCanvas()
{
    if (!FPicture->HasGraphic()) {
        QImage bmp = NewBgrImage(width(), height());
        if (!bmp.isNull())
            bmp.fill(Qt::black);
        FPicture->AssignBitmap(bmp);
    }
    if (FPicture->HasGraphic() && !FPicture->IsBitmap())
        throw EInvalidOperation("Can only modify an image if it contains a bitmap");
    return TOrCanvas(FPicture);
}

TRect TOrImage::DestRect() const
{
    if (FStretch)
        return TRect(0, 0, width(), height());
    const int pw = FPicture->Width();
    const int ph = FPicture->Height();
    if (FCenter) {
        const int left = (width() - pw) / 2;
        const int top = (height() - ph) / 2;
        return TRect(left, top, left + pw, top + ph);
    }
    return TRect(0, 0, pw, ph);
}

bool TOrImage::CanAutoSize(int& NewWidth, int& NewHeight) const
{
    if (FAlign == alNone || FAlign == alLeft || FAlign == alRight)
        NewWidth = FPicture->Width();
    if (FAlign == alNone || FAlign == alTop || FAlign == alBottom)
        NewHeight = FPicture->Height();
    return true;
}

void TOrImage::SetAutoSize(bool value)
{
    FAutoSize = value;
    // An empty picture would shrink the control to nothing; it keeps its size
    // until a picture arrives (PictureChanged sizes it then).
    if (FAutoSize && FPicture->Width() > 0 && FPicture->Height() > 0) {
        int w = width();
        int h = height();
        if (CanAutoSize(w, h))
            resize(w, h);
    }
}

void TOrImage::SetStretch(bool value)
{
    if (value == FStretch)
        return;
    FStretch = value;
    PictureChanged(FPicture);
}

void TOrImage::SetCenter(bool value)
{
    if (value == FCenter)
        return;
    FCenter = value;
    PictureChanged(FPicture);
}

void TOrImage::SetTransparent(bool value)
{
    if (value == FTransparent)
        return;
    FTransparent = value;
    PictureChanged(FPicture);
}

QList<QRgb> TOrImage::GetPalette() const { return FPicture->Graphic().colorTable(); }

bool TOrImage::DoPaletteChange() { return false; }

void TOrImage::Progress(QObject* sender, TOrProgressStage stage, int percentDone, bool redrawNow, const QRect& r,
                        const QString& msg)
{
    if (redrawNow && FIncrementalDisplay) {
        if (DoPaletteChange())
            update();
        else
            repaint();
    }
    emit OnProgress(sender, stage, percentDone, redrawNow, r, msg);
}

void TOrImage::Paint()
{
    const bool wasDrawing = FDrawing;
    FDrawing = true;
    struct TRestore {
        bool& flag;
        bool value;
        ~TRestore() { flag = value; }
    } restore{FDrawing, wasDrawing};

    if (!FPicture->HasGraphic())
        return;
    const QImage& graphic = FPicture->Graphic();
    QImage drawn = graphic;
    if (FPicture->IsBitmap() && FPicture->Transparent() && !graphic.isNull()) {
        // A transparent bitmap leaves out the pixels of its bottom-left pixel's colour.
        if (FMaskedKey != graphic.cacheKey() || FMaskedCache.isNull()) {
            QImage masked = graphic.convertToFormat(QImage::Format_ARGB32);
            const QRgb key = masked.pixel(0, masked.height() - 1) | 0xFF000000u;
            for (int y = 0; y < masked.height(); ++y) {
                auto* p = reinterpret_cast<QRgb*>(masked.scanLine(y));
                for (int x = 0; x < masked.width(); ++x)
                    if ((p[x] | 0xFF000000u) == key)
                        p[x] = 0;
            }
            FMaskedCache = masked;
            FMaskedKey = graphic.cacheKey();
        }
        drawn = FMaskedCache;
    }
    const TRect r = DestRect();
    QPainter painter(this);
    // Nearest-neighbour when stretching: no smoothing of the pixels.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top), drawn);
}

void TOrImage::paintEvent(QPaintEvent*) { Paint(); }

void TOrImage::enterEvent(QEnterEvent* event)
{
    FIsMouseEntering = true;
    emit OnMouseEnter(this);
    QWidget::enterEvent(event);
}

void TOrImage::leaveEvent(QEvent* event)
{
    FIsMouseEntering = false;
    emit OnMouseExit(this);
    QWidget::leaveEvent(event);
}

void TOrImage::mouseMoveEvent(QMouseEvent* event)
{
    FIsMouseEntering = true;
    QWidget::mouseMoveEvent(event);
}

void TOrImage::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        FPressed = true;
    emit OnMouseDown(this, event->button(), event->modifiers(), p.x(), p.y());
    event->accept();
}

void TOrImage::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = event->button() == Qt::LeftButton && FPressed && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        FPressed = false;
    if (click)
        emit OnClick(this);
    event->accept();
}
