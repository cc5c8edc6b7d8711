// The name dialog of the save command.

#include "app/U_fOut.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

TFormFileOut::TFormFileOut(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormFileOut"));
    setWindowTitle(QStringLiteral("Nome per il file da salvare"));
    setFixedSize(376, 43);

    EdFileOut = new QLineEdit(this);
    EdFileOut->setObjectName(QStringLiteral("EdFileOut"));
    EdFileOut->setGeometry(7, 15, 109, 17);
    EdFileOut->setFrame(false);
    EdFileOut->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    EdFileOut->setStyleSheet(QStringLiteral("QLineEdit { background-color: #202020; color: white; border: none; }"));

    TpFileOut = new QLabel(this);
    TpFileOut->setObjectName(QStringLiteral("TpFileOut"));
    TpFileOut->move(122, 15);

    // Created first, so Enter in the edit presses "OK".
    BtOk = new QPushButton(QStringLiteral("OK"), this);
    BtOk->setObjectName(QStringLiteral("BtOk"));
    BtOk->setGeometry(186, 11, 83, 25);
    BtAnnulla = new QPushButton(QStringLiteral("Annulla"), this);
    BtAnnulla->setObjectName(QStringLiteral("BtAnnulla"));
    BtAnnulla->setGeometry(279, 11, 83, 25);

    connect(BtOk, &QPushButton::clicked, this, &TFormFileOut::BtOkClick);
    connect(BtAnnulla, &QPushButton::clicked, this, &TFormFileOut::BtAnnullaClick);
}

void TFormFileOut::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFormFileOut::FormShow()
{
    if (QWidget* owner = parentWidget()) {
        const QRect main = owner->frameGeometry();
        QScreen* screen = owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
        const int w = frameGeometry().width();
        const int h = frameGeometry().height();
        int left = main.left() - main.width() / 2 - w;
        int top = main.top() + (main.height() - h) / 2;
        if (screen) {
            left += screen->geometry().width();
            // The rule above leaves the dialog partly off the screen when the
            // main window stands far right; a dialog that cannot be seen
            // cannot be answered, so it is kept within the screen.
            const QRect avail = screen->availableGeometry();
            left = qBound(avail.left(), left, qMax(avail.left(), avail.right() + 1 - w));
            top = qBound(avail.top(), top, qMax(avail.top(), avail.bottom() + 1 - h));
        }
        move(left, top);
    }
    EdFileOut->setFocus();
    EdFileOut->selectAll();
}

void TFormFileOut::BtOkClick()
{
    accept();
}

void TFormFileOut::BtAnnullaClick()
{
    EdFileOut->clear();
    reject();
}

void TFormFileOut::keyPressEvent(QKeyEvent* event)
{
    // Closing through the title bar keeps the text (the modal result is not
    // read); Esc alone is taken as the user backing out.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        BtAnnullaClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

QString GetFileNameOut(TzsiFixSelectionRatio ratio, const QString& current, QWidget* owner)
{
    TFormFileOut dialog(owner);
    dialog.TpFileOut->setText(ratio == srFoto ? QStringLiteral("Foto") : QStringLiteral("Firma"));
    dialog.TpFileOut->adjustSize();
    if (!current.trimmed().isEmpty())
        dialog.EdFileOut->setText(current);
    dialog.exec();
    return dialog.EdFileOut->text().trimmed();
}
