#include "view/ZSImage.h"

#include "view/ExCopyRect.h"
#include "view/KeyState.h"
#include "view/ZSImage_SlideShow.h"
#include "view/io/ImageReaders.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>

#include <new>

TShiftState ShiftStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    TShiftState s = 0;
    if (modifiers & Qt::ShiftModifier)
        s |= ssShift;
    if (modifiers & Qt::AltModifier)
        s |= ssAlt;
    if (modifiers & Qt::ControlModifier)
        s |= ssCtrl;
    if (buttons & Qt::LeftButton)
        s |= ssLeft;
    if (buttons & Qt::RightButton)
        s |= ssRight;
    if (buttons & Qt::MiddleButton)
        s |= ssMiddle;
    return s;
}

TMouseButton MouseButtonOf(Qt::MouseButton button)
{
    switch (button) {
    case Qt::RightButton: return mbRight;
    case Qt::MiddleButton: return mbMiddle;
    default: return mbLeft;
    }
}

TZSImage::TZSImage(QWidget* AOwner) : QWidget(AOwner)
{
    KeyState::Install();
    // The view paints every pixel itself; nothing is erased beforehand.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setContextMenuPolicy(Qt::PreventContextMenu);
    FSlideShow = new TzsiSlideShow(this);
    FSelection = new TzsiSelection(this);
    FSelection->setGeometry(0, 0, 100, 100);
    FResizeTimer.setSingleShot(true);
    FResizeTimer.setInterval(10);
    connect(&FResizeTimer, &QTimer::timeout, this, &TZSImage::SizeChanged);
    FCursorId = FDefaultCursor;
    setCursor(Cursors::Get(FCursorId));
    resize(100, 100);
}

TZSImage::~TZSImage() = default;

void TZSImage::SetBkgColor(TColor Value)
{
    FBkgColor = Value;
    update();
}

void TZSImage::SetMagnifierActivated(bool Value)
{
    FMagnifierActivated = Value;
    ChangeCursor(Value ? FMagnifierCursor : FDefaultCursor);
}

void TZSImage::SetImage(const QImage& Source)
{
    InternSetImage(Source, true);
    ImageChanged();
}

void TZSImage::SetImage(const QString& FileName)
{
    DropPendingSource();
    FOrigBmp = LoadPictureFile(FileName);
    StretchFromPoint(FOrigBmp, FCanvasBmp, kCenterMarker, FStretchFactor, FOrigBmpRect, FCanvasBmpRect);
    Paint();
    ImageChanged();
}

void TZSImage::InternSetImage(const QImage& Source, bool Repaint)
{
    DropPendingSource();
    try {
        if (Source.isNull()) {
            // An empty picture leaves the view empty: keeping the old back
            // buffer would show, and let the user crop, a picture that is gone.
            FOrigBmp = QImage();
            FCanvasBmp = QImage();
        } else {
            // Sharing is the copy: the view never writes into its source.
            QImage copy = Source.format() == QImage::Format_BGR888 ? Source
                                                                    : Source.convertToFormat(QImage::Format_BGR888);
            if (copy.isNull())
                throw std::bad_alloc();
            FOrigBmp = copy;
            StretchFromPoint(FOrigBmp, FCanvasBmp, kCenterMarker, FStretchFactor, FOrigBmpRect, FCanvasBmpRect);
        }
        if (Repaint)
            Paint();
    } catch (...) {
        QApplication::beep();
    }
}

void TZSImage::Clear()
{
    FSelection->Deselect();
    FSlideShow->Clear();
    DropPendingSource();
    FOrigBmp = QImage();
    FCanvasBmp = QImage();
    FReduced = QImage();
    FReducedKey = 0;
    Paint();
}

void TZSImage::ImageChanged()
{
    if (FSelection->Activated())
        FSelection->Paint();
}

void TZSImage::Paint()
{
    FSurface = QImage();
    update();
    if (Grid)
        DrawGrid();
}

QImage TZSImage::ScreenImage() const { return FSurface.isNull() ? FCanvasBmp : FSurface; }

void TZSImage::ShowOnSurface(const QImage& Image)
{
    FSurface = Image;
    update();
}

void TZSImage::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QImage& shown = FSurface.isNull() ? FCanvasBmp : FSurface;
    if (shown.isNull()) {
        p.fillRect(rect(), ToQColor(FBkgColor));
        return;
    }
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, shown);
    // Between a size change and the re-rendering the buffer may be smaller than the view.
    if (shown.width() < width())
        p.fillRect(shown.width(), 0, width() - shown.width(), height(), ToQColor(FBkgColor));
    if (shown.height() < height())
        p.fillRect(0, shown.height(), width(), height() - shown.height(), ToQColor(FBkgColor));
}

void TZSImage::ChangeCursor(TCursor Value)
{
    if (FCursorId == Value)
        return;
    FCursorId = Value;
    setCursor(Cursors::Get(Value));
}

bool TZSImage::CallPopUpMenu(QMenu* Menu)
{
    // Menus appear only through this path; Qt widgets show none on their own
    // as long as the context-menu policy prevents it.
    setContextMenuPolicy(Qt::PreventContextMenu);
    FSelection->setContextMenuPolicy(Qt::PreventContextMenu);
    return Menu != nullptr && !KeyState::IsKeyHeld(VK_MENU);
}
