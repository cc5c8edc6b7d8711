#include "view/U_FtBack.h"

#include "view/Artwork.h"

#include "config/U_Options.h"
#include "view/ZSImage.h"

#include <QHideEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <QShowEvent>

#include <algorithm>

TFormTBack* FormTBack = nullptr;

namespace {

// Designed client size and places (pixels).
constexpr int kDesignWidth = 723;
constexpr int kDesignHeight = 56;
const QRect kRotatePBounds(5, 4, 48, 48);
const QRect kRotateMBounds(4, 4, 25, 48);
const QRect kLensBounds(672, 4, 48, 48);
// The lens keeps its distance from the right edge when the width changes.
constexpr int kLensRightGap = kDesignWidth - 672;

// The window is alpha-blended at 65 of 255: about a quarter opaque.
constexpr double kOpacity = 65.0 / 255.0;

// The lens's step zone is its upper right; everywhere else resets to 1.
constexpr int kStepZoneMinX = 20; // X must exceed this
constexpr int kStepZoneMaxY = 26; // Y must stay below this
constexpr float kZoomStep = 0.25f;
constexpr float kZoomMin = 0.25f;
constexpr float kZoomMax = 2.0f;
// How long a zoom click keeps its pressed look (ms).
constexpr uint32_t kPressedLookMs = 200;

// The region of the pixels that are not fully transparent, row by row.
QRegion DrawnPixels(const QImage& img)
{
    QRegion region;
    for (int y = 0; y < img.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        int x = 0;
        while (x < img.width()) {
            while (x < img.width() && qAlpha(row[x]) == 0)
                ++x;
            const int start = x;
            while (x < img.width() && qAlpha(row[x]) != 0)
                ++x;
            if (x > start)
                region += QRect(start, y, x - start, 1);
        }
    }
    return region;
}

void PauseWithEvents(uint32_t ms)
{
    if (Utils) {
        Utils->Delay(ms);
    } else {
        const TUtils utils;
        utils.Delay(ms);
    }
}

} // namespace

// --- TTbPicture -----------------------------------------------------------------

TTbPicture::TTbPicture(QWidget* parent, const QString& name, const char* artwork, const QRect& bounds)
    : QWidget(parent)
{
    setObjectName(name);
    setGeometry(bounds);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground);
    FPicture = RenderArtwork(artwork, bounds.size());
    FShape = DrawnPixels(FPicture);
}

void TTbPicture::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawImage(0, 0, FPicture);
}

void TTbPicture::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        FClicked = true;
    const QPoint pos = event->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(MouseButtonOf(event->button()), ShiftStateOf(event->buttons(), event->modifiers()), pos.x(),
                    pos.y());
}

void TTbPicture::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (OnMouseMove)
        OnMouseMove(ShiftStateOf(event->buttons(), event->modifiers()), pos.x(), pos.y());
}

void TTbPicture::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    // The click comes first and only for a left release over the picture,
    // so a press dragged off the picture and let go is no click.
    if (event->button() == Qt::LeftButton && FClicked) {
        FClicked = false;
        if (rect().contains(pos) && OnClick)
            OnClick();
    }
    if (OnMouseUp)
        OnMouseUp(MouseButtonOf(event->button()), ShiftStateOf(event->buttons(), event->modifiers()), pos.x(),
                  pos.y());
}

// --- TFormTBack: building and placing -------------------------------------------

TFormTBack::TFormTBack(QWidget* owner, TFormTBackHooks hooks)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
    , FHooks(std::move(hooks))
{
    setObjectName(QStringLiteral("FormTBack"));
    // Only the pictures are drawn; the picture under the toolbar shows through.
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setWindowOpacity(kOpacity);
    resize(kDesignWidth, kDesignHeight);

    // Creation order is the stacking order: later pictures lie on top.
    ImgRotateP = new TTbPicture(this, QStringLiteral("ImgRotateP"), ":/toolbar/rotate_cw.svg", kRotatePBounds);
    ImgLensN = new TTbPicture(this, QStringLiteral("ImgLensN"), ":/toolbar/lens.svg", kLensBounds);
    ImgLensP = new TTbPicture(this, QStringLiteral("ImgLensP"), ":/toolbar/lens_plus.svg", kLensBounds);
    ImgLensM = new TTbPicture(this, QStringLiteral("ImgLensM"), ":/toolbar/lens_minus.svg", kLensBounds);
    ImgLensX = new TTbPicture(this, QStringLiteral("ImgLensX"), ":/toolbar/lens_one.svg", kLensBounds);
    ImgRotateM = new TTbPicture(this, QStringLiteral("ImgRotateM"), ":/toolbar/rotate_ccw.svg", kRotateMBounds);
    BufRotateM = new TTbPicture(this, QStringLiteral("BufRotateM"), ":/toolbar/rotate_ccw_down.svg", kRotateMBounds);
    BufRotateP = new TTbPicture(this, QStringLiteral("BufRotateP"), ":/toolbar/rotate_cw_down.svg", kRotatePBounds);
    ImgLensY = new TTbPicture(this, QStringLiteral("ImgLensY"), ":/toolbar/lens_one_down.svg", kLensBounds);
    for (TTbPicture* hidden : {ImgLensP, ImgLensM, ImgLensX, BufRotateM, BufRotateP, ImgLensY})
        hidden->hide();

    ImgRotateP->OnClick = [this] { BtRotatePClick(); };
    ImgRotateP->OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) { ImgRotatePMouseDown(b, s, x, y); };
    ImgRotateM->OnClick = [this] { BtRotateMClick(); };
    ImgRotateM->OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) { ImgRotateMMouseDown(b, s, x, y); };
    // A pressed look only shows while its picture holds the mouse, which then
    // receives the release; should one ever be clicked itself, it turns the
    // way its arrow points.
    BufRotateM->OnClick = [this] { BtRotateMClick(); };
    BufRotateP->OnClick = [this] { BtRotatePClick(); };
    for (TTbPicture* rotate : {ImgRotateP, ImgRotateM, BufRotateM, BufRotateP}) {
        rotate->OnMouseMove = [this](TShiftState s, int x, int y) { BufRotatePMouseMove(s, x, y); };
        rotate->OnMouseUp = [this](TMouseButton b, TShiftState s, int x, int y) { ImgRotateMouseUp(b, s, x, y); };
    }
    for (TTbPicture* lens : {ImgLensN, ImgLensP, ImgLensM, ImgLensX, ImgLensY})
        lens->OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) { ImgLensNMouseDown(b, s, x, y); };

    FormCreate();
    UpdateMask();
}

void TFormTBack::FormCreate()
{
    BufRotateP->setGeometry(ImgRotateP->geometry());
    BufRotateM->setGeometry(ImgRotateM->geometry());
    for (TTbPicture* lens : {ImgLensP, ImgLensM, ImgLensX, ImgLensY})
        lens->setGeometry(ImgLensN->geometry());
}

void TFormTBack::FormShow()
{
    if (FHooks.MainTopLeft) {
        const QPoint main = FHooks.MainTopLeft();
        move(main.x() + 18, main.y() + 30);
    }
    if (FHooks.ImagePanelWidth)
        resize(std::max(1, FHooks.ImagePanelWidth() - 18), height());
    BufRotateP->hide();
    BufRotateM->hide();
    shftGrad = 0;
    FDragging = false;
    ImgLensUpdate();
}

void TFormTBack::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A mask set before the window existed is only remembered by the widget:
    // set again now that the window system has a window to shape.
    if (windowHandle() && !FMaskOnWindow) {
        FMaskOnWindow = true;
        const QRegion shape = mask();
        clearMask();
        setMask(shape);
    }
    // A show that the window system reports (the main window restored from the
    // task bar) is no new showing of the toolbar.
    if (!event->spontaneous())
        FormShow();
}

void TFormTBack::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return;
    // Hidden in the middle of a drag (a new picture was loaded): the release
    // will not come, and a rotation still queued would turn the new picture.
    FRotationPending = false;
    FDragging = false;
    shftGrad = 0;
    BufRotateM->hide();
    BufRotateP->hide();
}

void TFormTBack::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The five lens pictures share one spot, kept at the right end.
    const QRect lens(width() - kLensRightGap, kLensBounds.top(), kLensBounds.width(), kLensBounds.height());
    for (TTbPicture* p : {ImgLensN, ImgLensP, ImgLensM, ImgLensX, ImgLensY})
        p->setGeometry(lens);
    UpdateMask();
}

void TFormTBack::UpdateMask()
{
    // Where no picture draws, the window neither shows (also without a
    // compositor, which would paint the transparent ground black) nor takes
    // the mouse: a click there reaches the view below.
    QRegion region;
    for (const TTbPicture* p : {ImgRotateP, ImgLensN, ImgLensP, ImgLensM, ImgLensX, ImgRotateM, BufRotateM,
                                BufRotateP, ImgLensY})
        region += p->Shape().translated(p->pos());
    if (region != mask())
        setMask(region);
}

// --- hooks ------------------------------------------------------------------------

TZSImage* TFormTBack::View() const
{
    return FHooks.View ? FHooks.View() : nullptr;
}

void TFormTBack::FocusMain()
{
    if (FHooks.FocusMain)
        FHooks.FocusMain();
}

int32_t TFormTBack::ScreenRow(int Y) const
{
    return mapToGlobal(QPoint(0, Y)).y();
}

// --- rotation ---------------------------------------------------------------------

void TFormTBack::RotationStep(int32_t delta)
{
    TZSImage* view = View();
    if (!view || !FHooks.GetGradiRot || !FHooks.SetGradiRot)
        return;
    view->Grid = true;
    // Wrapped as an angle: 359 + 1 is 0 and 0 - 1 is 359, and an angle a drag
    // left outside 0..359 moves by one degree too instead of jumping to 0 or 359.
    int64_t g = (static_cast<int64_t>(FHooks.GetGradiRot()) + delta) % 360;
    if (g < 0)
        g += 360;
    FHooks.SetGradiRot(static_cast<int32_t>(g));
    ShowRotation();
}

void TFormTBack::ShowRotation()
{
    TZSImage* view = View();
    if (!view)
        return;
    // Always from the unrotated copy, so steps never add up resampling loss.
    if (FHooks.RotateView && FHooks.GetGradiRot)
        FHooks.RotateView(FHooks.GetGradiRot(), FDragging);
    else
        view->StretchImage();
    view->repaint();
}

void TFormTBack::BtRotatePClick()
{
    RotationStep(+1);
    FocusMain();
}

void TFormTBack::BtRotateMClick()
{
    RotationStep(-1);
    FocusMain();
}

void TFormTBack::TbRotateSChange(int32_t Value)
{
    TZSImage* view = View();
    if (!view || !FHooks.SetGradiRot)
        return;
    view->Grid = true;
    // 359, not 360: one row upward gives 358.
    FHooks.SetGradiRot(Value < 0 ? Value + 359 : Value);
    ShowRotation();
}

void TFormTBack::ImgRotatePMouseDown(TMouseButton Button, TShiftState, int, int Y)
{
    RotateMouseDown(Button, Y, BufRotateP, BufRotateM);
}

void TFormTBack::ImgRotateMMouseDown(TMouseButton Button, TShiftState, int, int Y)
{
    RotateMouseDown(Button, Y, BufRotateM, BufRotateP);
}

// Left: only the pressed half shows its pressed look. Right: both halves look
// pressed and a drag starts from this row.
void TFormTBack::RotateMouseDown(TMouseButton Button, int Y, TTbPicture* pressed, TTbPicture* other)
{
    FocusMain();
    if (Button == mbLeft) {
        pressed->show();
        other->hide();
    } else if (Button == mbRight) {
        pressed->show();
        other->show();
        shftGrad = ScreenRow(Y);
        FDragging = true;
        FDragRotations = 0;
    }
}

void TFormTBack::BufRotatePMouseMove(TShiftState Shift, int, int Y)
{
    // Only a drag that began on a rotate picture turns the picture: without its
    // starting row the angle would be the pointer's absolute screen row.
    if (!(Shift & ssRight) || !FDragging)
        return;
    FPendingValue = ScreenRow(Y) - shftGrad;
    FRotationPending = true;
    // Moves come faster than a large picture turns: the rotation runs once the
    // moves already queued are in, to the newest angle only.
    if (!FRotationQueued) {
        FRotationQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                FRotationQueued = false;
                RunPendingRotation();
            },
            Qt::QueuedConnection);
    }
}

void TFormTBack::RunPendingRotation()
{
    if (!FRotationPending)
        return;
    FRotationPending = false;
    ++FDragRotations;
    TbRotateSChange(FPendingValue);
}

void TFormTBack::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    BufRotatePMouseMove(ShiftStateOf(event->buttons(), event->modifiers()), pos.x(), pos.y());
}

void TFormTBack::ImgRotateMouseUp(TMouseButton, TShiftState, int, int)
{
    // The drag ends at exactly the angle of its last move, and only now is
    // the whole picture turned.
    const bool turned = FDragging && (FRotationPending || FDragRotations > 0);
    FDragging = false;
    if (FRotationPending)
        RunPendingRotation();
    else if (turned)
        ShowRotation();
    BufRotateM->hide();
    BufRotateM->repaint();
    BufRotateP->hide();
    BufRotateP->repaint();
    shftGrad = 0;
    ImgLensP->hide();
    ImgLensM->hide();
    FocusMain();
}

// --- zoom ---------------------------------------------------------------------------

void TFormTBack::ShowOnlyLens(TTbPicture* shown)
{
    for (TTbPicture* p : {ImgLensP, ImgLensM, ImgLensX, ImgLensY})
        p->setVisible(p == shown);
}

void TFormTBack::ImgLensNMouseDown(TMouseButton Button, TShiftState, int X, int Y)
{
    TZSImage* view = View();
    // Single precision, as the steps and bounds are reckoned.
    float f = view ? static_cast<float>(view->StretchFactor()) : 0.0f;
    const bool stepZone = X > kStepZoneMinX && Y < kStepZoneMaxY;
    if (Button == mbLeft && stepZone) {
        if (f < kZoomMax) {
            ShowOnlyLens(ImgLensP);
            f += kZoomStep;
        }
    } else if (Button == mbRight && stepZone) {
        if (f > kZoomMin) {
            ShowOnlyLens(ImgLensM);
            f -= kZoomStep;
        }
    } else if (Button == mbLeft || Button == mbRight) {
        ShowOnlyLens(ImgLensY);
        f = 1.0f;
    }
    if (view) {
        view->SetStretchFactor(f);
        if (FHooks.ZoomChanged)
            FHooks.ZoomChanged();
    }
    FocusMain();
    // The pressed look stays a moment while the program keeps answering; the
    // toolbar may be gone when the pause ends.
    QPointer<TFormTBack> self(this);
    PauseWithEvents(kPressedLookMs);
    if (self)
        ImgLensUpdate();
}

void TFormTBack::ImgLensUpdate()
{
    TZSImage* view = View();
    const float f = view ? static_cast<float>(view->StretchFactor()) : 0.0f;
    if (f >= kZoomMin && f < 1.0f)
        ShowOnlyLens(ImgLensM);
    else if (f == 1.0f)
        ShowOnlyLens(ImgLensX);
    else if (f > 1.0f && f <= kZoomMax)
        ShowOnlyLens(ImgLensP);
    else
        ShowOnlyLens(nullptr);
}
