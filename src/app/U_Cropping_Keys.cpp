// Keyboard, mouse wheel and the window messages the main window handles
// itself. Keys are seen before the focused control (an application-wide
// filter), as virtual-key codes, so the command table reads as it is meant.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Keys.h"
#include "app/U_Cropping_Startup.h"

#include "config/U_Savecfg.h"
#include "jpegmeta/SafeFile.h"
#include "platform/Rounding.h"
#include "retouch/OrImage.h"
#include "view/KeyState.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QWheelEvent>

#include <vector>

namespace {
std::vector<QObject*>& KeyDeliveries()
{
    static std::vector<QObject*> receivers;
    return receivers;
}
} // namespace

QObject* KeyEventFirstReceiver()
{
    return KeyDeliveries().empty() ? nullptr : KeyDeliveries().back();
}

TKeyDelivery::TKeyDelivery(QObject* receiver) { KeyDeliveries().push_back(receiver); }

TKeyDelivery::~TKeyDelivery() { KeyDeliveries().pop_back(); }

int VirtualKeyOf(const QKeyEvent& e)
{
    const int k = e.key();
    const bool keypad = e.modifiers().testFlag(Qt::KeypadModifier);
    if (k >= Qt::Key_0 && k <= Qt::Key_9)
        return keypad ? VK_NUMPAD0 + (k - Qt::Key_0) : k;
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
        return k;
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24)
        return VK_F1 + (k - Qt::Key_F1);
    switch (k) {
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Plus: return keypad ? VK_ADD : VK_OEM_PLUS;
    case Qt::Key_Minus: return keypad ? VK_SUBTRACT : VK_OEM_MINUS;
    case Qt::Key_Asterisk: return keypad ? VK_MULTIPLY : 0;
    case Qt::Key_Tab: return VK_TAB;
    default: return 0;
    }
}

void TFormCrop::FormKeyDown(int& Key, Qt::KeyboardModifiers Shift)
{
    const bool toolbar = FormTBack && FormTBack->isVisible();
    if (FrameKeyDown(Key, Shift)) {
        Key = 0;
        return;
    }
    if (Key == VK_ESCAPE) {
        if (AskConfirmation(QStringLiteral("Si intende uscire dal programma?")))
            close();
    } else if (Key == '0') {
        if (Mode() == srFirma)
            OrImageFirmaReset();
        else if (Mode() == srFoto)
            OrImageFotoReset();
    } else if (Key == '1' || Key == VK_F1) {
        OrImageFotoClick();
    } else if (Key == '2' || Key == VK_F2) {
        OrImageFirmaClick();
    } else if (Key == VK_ADD) {
        if (toolbar)
            FormTBack->ImgLensNMouseDown(mbLeft, 0, 40, 5);
    } else if (Key == VK_SUBTRACT) {
        if (toolbar)
            FormTBack->ImgLensNMouseDown(mbRight, 0, 40, 5);
    } else if (Key == VK_MULTIPLY) {
        if (toolbar)
            FormTBack->ImgLensNMouseDown(mbLeft, 0, 5, 40);
    } else if (Key == VK_NEXT) {
        if (toolbar)
            FormTBack->BtRotatePClick();
        // Page keys only turn the picture: a focused slider must not move as well.
        Key = 0;
    } else if (Key == VK_PRIOR) {
        if (toolbar)
            FormTBack->BtRotateMClick();
        Key = 0;
    } else if (Key == 'A') {
        AutoCropClick();
    } else if (Key == VK_RETURN) {
        if (BtSaveImg->isEnabled())
            BtSaveImgClick();
    }

    for (int i = 0; i < 5; ++i) {
        QSlider* s = Slider(i);
        if (!s->hasFocus())
            continue;
        // QSlider clamps to its range and reports a change only when the position moves.
        if (Key == VK_LEFT)
            s->setValue(s->value() - 1);
        else if (Key == VK_RIGHT)
            s->setValue(s->value() + 1);
        break;
    }

    if (ZSImage && !ViewEmpty() && Key == ZSImage->KeyToScroll()) {
        TzsiSelection* sel = ZSImage->Selection();
        sel->setCursor(Cursors::Get(sel->CursorOnScrollDown));
        Key = 0;
        QCoreApplication::processEvents();
    }
}

void TFormCrop::FormKeyUp(int& Key, Qt::KeyboardModifiers)
{
    if (FrameKeyUp(Key)) {
        Checkpoint();
        return;
    }
    switch (Key) {
    case 'S': BtScanNowClick(); break;
    case 'F': BtLoadImagesClick(); break;
    case 'R':
        if (BtResetImg->isEnabled())
            BtResetImgClick();
        break;
    case 'O': BtOptionsClick(); break;
    case 'L': pBarLight->setFocus(); break;
    case 'C': pBarContr->setFocus(); break;
    case 'T': pBarDark->setFocus(); break;
    case 'E': pBarColor->setFocus(); break;
    case 'D': pBarSharpness->setFocus(); break;
    default: break;
    }
    // A slider moved by the keys is one step per key.
    Checkpoint();
}

void TFormCrop::FormMouseWheelDown(Qt::KeyboardModifiers, const QPoint&, bool& Handled)
{
    if (ViewEmpty() || ZSImage->StretchFactor() == 0)
        return;
    const int a = static_cast<int>(Round(ZSImage->StretchFactor() / 0.25));
    if (a > 1)
        ImpostaZoom(a - 1);
    Handled = true;
}

void TFormCrop::FormMouseWheelUp(Qt::KeyboardModifiers, const QPoint&, bool& Handled)
{
    if (ViewEmpty() || ZSImage->StretchFactor() == 0)
        return;
    const int a = static_cast<int>(Round(ZSImage->StretchFactor() / 0.25));
    if (a < 8)
        ImpostaZoom(std::max(a + 1, 2));
    Handled = true;
}

bool TFormCrop::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type t = event->type();
    if (t == QEvent::MouseButtonRelease && isVisible()) {
        // Whatever a mouse action changed is one step, recorded once its handlers have run.
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && (w->window() == this || (FormTBack && w->window() == FormTBack)))
            QTimer::singleShot(0, this, [this] { Checkpoint(); });
    }
    if (t != QEvent::KeyPress && t != QEvent::KeyRelease && t != QEvent::Wheel)
        return QWidget::eventFilter(watched, event);
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != this || !isEnabled())
        return QWidget::eventFilter(watched, event);

    if (t == QEvent::Wheel) {
        auto* we = static_cast<QWheelEvent*>(event);
        const int dy = we->angleDelta().y();
        if (dy == 0)
            return false;
        bool handled = false;
        RunGuarded([&] {
            if (dy < 0)
                FormMouseWheelDown(we->modifiers(), we->globalPosition().toPoint(), handled);
            else
                FormMouseWheelUp(we->modifiers(), we->globalPosition().toPoint(), handled);
        });
        if (handled)
            we->accept();
        return handled;
    }

    // A key event travels up through the parents of its receiver and passes this
    // filter at each step; the window sees it once, at its first receiver.
    QObject* first = KeyEventFirstReceiver();
    if (!first)
        first = QApplication::focusWidget() ? QApplication::focusWidget() : this;
    if (w != first)
        return false;
    auto* ke = static_cast<QKeyEvent*>(event);
    int key = VirtualKeyOf(*ke);
    if (key == 0)
        return false;
    if (t == QEvent::KeyPress) {
        const int pressed = key;
        RunGuarded([&] { FormKeyDown(key, ke->modifiers()); });
        // The pan key's press must still reach the application-wide key-state
        // tracker that panning asks; no control of this window acts on it.
        if (key == 0 && ZSImage && pressed == ZSImage->KeyToScroll())
            return false;
    } else {
        // Held keys repeat their press, not their release.
        if (ke->isAutoRepeat())
            return false;
        RunGuarded([&] { FormKeyUp(key, ke->modifiers()); });
    }
    return key == 0;
}

bool TFormCrop::event(QEvent* e)
{
    // A double click on the caption minimises the whole program instead of maximising.
    if (e->type() == QEvent::NonClientAreaMouseButtonDblClick) {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->isVisible())
                top->showMinimized();
        return true;
    }
    return QWidget::event(e);
}

void TFormCrop::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (!e->spontaneous())
        RunGuarded([this] { FormShow(); });
}

void TFormCrop::closeEvent(QCloseEvent* e)
{
    RunGuarded([this] { FormClose(); });
    e->accept();
    emit Closed();
}

void TFormCrop::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (PanelR)
        FormResize();
}

void TFormCrop::moveEvent(QMoveEvent* e)
{
    QWidget::moveEvent(e);
    if (PanelR)
        FormResize();
}

void TFormCrop::wheelEvent(QWheelEvent* e)
{
    // Handled (or refused) by the filter before it gets here.
    e->ignore();
}

void TFormCrop::FormShow()
{
    if (!FShownOnce) {
        FShownOnce = true;
        FormPositionIni(this, false, false);
    }
    PanelLogo->setGeometry(40, 10, 545, height() - 40);
    for (int i = 0; i < 5; ++i) {
        Slider(i)->setEnabled(true);
        Slider(i)->setValue(0);
        SliderLabel(i)->setText(QStringLiteral("0"));
    }
    if (OrImageFoto)
        OrImageFoto->SetTag(0);
    if (OrImageFirma)
        OrImageFirma->SetTag(0);
    // The window keeps the focus until Tab moves it: a button given the focus
    // on activation would take the space bar meant for panning.
    if (!focusWidget())
        setFocus();
}

void TFormCrop::FormClose()
{
    FormPositionIni(this, true, false);
}

void TFormCrop::FormDestroy()
{
    FinishFileWork(); // the working copies still on their way to the disk
    qApp->removeEventFilter(this);
    imTwain = QImage();
    BmpFotoBuffer1 = QImage();
    BmpFirmaBuffer1 = QImage();
    BmpBackBuffer = QImage();
}

void TFormCrop::GlueToolbar()
{
    if (!FormTBack || !FormTBack->isVisible())
        return;
    const QRect outer = frameGeometry();
    FormTBack->setGeometry(outer.x() + 18, outer.y() + 33, PanelImage->width() - 18, FormTBack->height());
}
