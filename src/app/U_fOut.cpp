// The name dialog of the save command.

#include "app/U_fOut.h"

#include <QDir>
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
    setFixedSize(400, 100);

    LbPrefisso = new QLabel(QStringLiteral("Prefisso del nome dei file"), this);
    LbPrefisso->setObjectName(QStringLiteral("LbPrefisso"));
    LbPrefisso->setGeometry(7, 6, 280, 16);

    EdFileOut = new QLineEdit(this);
    EdFileOut->setObjectName(QStringLiteral("EdFileOut"));
    // Tall enough for descenders and a trailing "_", which a 17-pixel field cut off.
    EdFileOut->setGeometry(7, 24, 170, 24);
    EdFileOut->setFrame(false);
    EdFileOut->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    EdFileOut->setStyleSheet(
        QStringLiteral("QLineEdit { background-color: #202020; color: white; border: none; padding: 2px; }"));
    EdFileOut->setAccessibleName(QStringLiteral("Prefisso del nome dei file"));
    EdFileOut->setAccessibleDescription(QStringLiteral("Il testo messo davanti a Foto.jpg o Firma.jpg"));
    LbPrefisso->setBuddy(EdFileOut);

    TpFileOut = new QLabel(this);
    TpFileOut->setObjectName(QStringLiteral("TpFileOut"));
    TpFileOut->move(182, 28);

    LbCartella = new QLabel(this);
    LbCartella->setObjectName(QStringLiteral("LbCartella"));
    LbCartella->setGeometry(7, 56, 290, 16);
    LbNomi = new QLabel(this);
    LbNomi->setObjectName(QStringLiteral("LbNomi"));
    LbNomi->setGeometry(7, 76, 386, 16);
    QFont bold = LbNomi->font();
    bold.setBold(true);
    LbNomi->setFont(bold);

    // Created first, so Enter in the edit presses "OK".
    BtOk = new QPushButton(QStringLiteral("OK"), this);
    BtOk->setObjectName(QStringLiteral("BtOk"));
    BtOk->setGeometry(305, 10, 83, 25);
    BtAnnulla = new QPushButton(QStringLiteral("Annulla"), this);
    BtAnnulla->setObjectName(QStringLiteral("BtAnnulla"));
    BtAnnulla->setGeometry(305, 42, 83, 25);
    BtOk->setToolTip(QStringLiteral("Salva con questo nome (tasto Invio)"));
    BtAnnulla->setToolTip(QStringLiteral("Non salva nulla (tasto Esc)"));

    connect(EdFileOut, &QLineEdit::textChanged, this, [this] { ShowNames(); });
    connect(BtOk, &QPushButton::clicked, this, &TFormFileOut::BtOkClick);
    connect(BtAnnulla, &QPushButton::clicked, this, &TFormFileOut::BtAnnullaClick);
}

void TFormFileOut::SetTarget(const QString& fixedEnd, const QString& folder)
{
    FFixedEnd = fixedEnd;
    TpFileOut->setText(fixedEnd);
    TpFileOut->adjustSize();
    const QString shown = folder.isEmpty() ? QStringLiteral("(nessuna cartella di uscita impostata)")
                                           : QDir::toNativeSeparators(folder);
    LbCartella->setText(LbCartella->fontMetrics().elidedText(QStringLiteral("Cartella: ") + shown, Qt::ElideMiddle,
                                                            LbCartella->width()));
    LbCartella->setToolTip(shown);
    ShowNames();
}

void TFormFileOut::ShowNames()
{
    const QString prefix = EdFileOut->text().trimmed();
    if (prefix.isEmpty()) {
        LbNomi->setText(QStringLiteral("Scrivere un prefisso: vuoto non salva nulla"));
        return;
    }
    LbNomi->setText(LbNomi->fontMetrics().elidedText(
        QStringLiteral("Sarà scritto: %1%2.jpg").arg(prefix, FFixedEnd), Qt::ElideMiddle, LbNomi->width()));
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

QString GetFileNameOut(TzsiFixSelectionRatio ratio, const QString& current, QWidget* owner, const QString& folder)
{
    TFormFileOut dialog(owner);
    dialog.SetTarget(ratio == srFoto ? QStringLiteral("Foto") : QStringLiteral("Firma"), folder);
    if (!current.trimmed().isEmpty())
        dialog.EdFileOut->setText(current);
    dialog.exec();
    return dialog.EdFileOut->text().trimmed();
}
