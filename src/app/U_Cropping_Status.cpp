// The status strip's widget. What it says is chosen by the main window
// (U_Cropping_StatusText.cpp); here only the lines and the link live.

#include "app/U_Cropping_Status.h"

#include <QLabel>
#include <QLocale>

namespace {
constexpr int kLine = 18;
const char* const kSheet = "QLabel { color: #D2D2D2; background: transparent; }";
const char* const kAmber = "QLabel { color: #FFB000; background: transparent; font-weight: bold; }";

QLabel* MakeLine(QWidget* parent, const char* name, const char* sheet)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setStyleSheet(QLatin1String(sheet));
    l->setTextFormat(Qt::PlainText);
    return l;
}
} // namespace

QString GroupedNumber(qint64 value)
{
    QString digits = QString::number(value < 0 ? -value : value);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(' '));
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

QString ItalianDecimal(double value)
{
    return QLocale(QLocale::Italian).toString(value, 'f', 1);
}

TStatusStrip::TStatusStrip(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("StatusStrip"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("#StatusStrip { background: #1A1A1A; border-top: 1px solid #3A3A3A; }"));
    setAccessibleName(QStringLiteral("Barra di stato"));
    setAccessibleDescription(QStringLiteral("Il passo successivo, lo zoom, la rotazione, il riquadro e l'ultimo salvataggio"));
    FStep = MakeLine(this, "StatusStep", kSheet);
    FView = MakeLine(this, "StatusView", kSheet);
    FView->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    FFrame = MakeLine(this, "StatusFrame", kSheet);
    FWarning = MakeLine(this, "StatusWarning", kAmber);
    FMessage = MakeLine(this, "StatusMessage", kSheet);
    FLink = new QLabel(this);
    FLink->setObjectName(QStringLiteral("StatusLink"));
    FLink->setTextFormat(Qt::RichText);
    FLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    FLink->setStyleSheet(QLatin1String(kSheet));
    FLink->setAccessibleName(QStringLiteral("Collegamento del messaggio"));
    FLink->setAccessibleDescription(QStringLiteral("Apre ciò che il messaggio nomina, per esempio la cartella del file salvato"));
    FLink->hide();
    connect(FLink, &QLabel::linkActivated, this, [this](const QString&) { ActivateLink(); });
    setFixedHeight(kHeight);
}

void TStatusStrip::SetStep(const QString& text)
{
    FStep->setText(text);
    FStep->setAccessibleName(text);
}

void TStatusStrip::SetView(int zoomPercent, int degrees, bool fit)
{
    const QString zoom = fit ? QStringLiteral("Zoom %1% (adattato)").arg(zoomPercent)
                             : QStringLiteral("Zoom %1%").arg(zoomPercent);
    FView->setText(QStringLiteral("%1 · Rotazione %2°").arg(zoom).arg(degrees));
}

void TStatusStrip::SetFrame(const QString& readout, const QString& warning)
{
    FFrame->setText(readout);
    FWarning->setText(warning);
    Place();
}

void TStatusStrip::ShowMessage(const QString& text, const QString& linkText, std::function<void()> onLink,
                               bool warning)
{
    FMessage->setStyleSheet(QLatin1String(warning ? kAmber : kSheet));
    FMessageText = text;
    FLinkText = linkText;
    FOnLink = std::move(onLink);
    if (linkText.isEmpty()) {
        FLink->hide();
    } else {
        FLink->setText(QStringLiteral("<a href=\"#\" style=\"color:#5FD35F\">%1</a>").arg(linkText.toHtmlEscaped()));
        FLink->show();
    }
    Place();
}

void TStatusStrip::ClearMessage()
{
    ShowMessage(QString());
}

void TStatusStrip::ActivateLink()
{
    // Copied first: the callback may post the next message, which replaces it.
    const std::function<void()> run = FOnLink;
    if (run)
        run();
}

QString TStatusStrip::StepText() const { return FStep->text(); }
QString TStatusStrip::ViewText() const { return FView->text(); }
QString TStatusStrip::FrameText() const { return FFrame->text(); }
QString TStatusStrip::WarningText() const { return FWarning->text(); }
QString TStatusStrip::MessageText() const { return FMessageText; }
QString TStatusStrip::LinkText() const { return FLinkText; }

void TStatusStrip::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Place();
}

void TStatusStrip::Place()
{
    const int w = width();
    const int pad = 6;
    FView->setGeometry(w - 230 - pad, 1, 230, kLine);
    FStep->setGeometry(pad, 1, qMax(0, w - 240 - 2 * pad), kLine);
    const int frameW = FFrame->text().isEmpty() ? 0 : FFrame->sizeHint().width();
    FFrame->setGeometry(pad, 1 + kLine, frameW, kLine);
    const int warnX = pad + frameW + (frameW ? 10 : 0);
    FWarning->setGeometry(warnX, 1 + kLine, qMax(0, w - warnX - pad), kLine);
    const int linkW = FLinkText.isEmpty() ? 0 : FLink->sizeHint().width();
    const int messageW = qMax(0, w - 2 * pad - linkW - (linkW ? 10 : 0));
    FMessage->setGeometry(pad, 1 + 2 * kLine, messageW, kLine);
    // A report naming a long folder keeps its start and its file name; the
    // whole of it is in the tooltip and read out by a screen reader.
    QString oneLine = FMessageText;
    oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString shown = FMessage->fontMetrics().elidedText(oneLine, Qt::ElideMiddle, messageW);
    FMessage->setText(shown);
    FMessage->setToolTip(shown == FMessageText ? QString() : FMessageText);
    FMessage->setAccessibleName(FMessageText);
    FLink->setGeometry(w - pad - linkW, 1 + 2 * kLine, linkW, kLine);
}
