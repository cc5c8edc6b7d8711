#pragma once
// TStatusStrip: the strip along the bottom of the image area. Three lines:
// the next step with the zoom and the angle; the frame's readout (its size in
// picture pixels, the output size, the real resolution, and an amber warning
// when the crop will be enlarged); and the last message, optionally with a
// link. Any command of the window may post a message there.

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;

class TStatusStrip : public QWidget {
    Q_OBJECT
public:
    explicit TStatusStrip(QWidget* parent = nullptr);

    static constexpr int kHeight = 54;

    void SetStep(const QString& text);
    // Zoom in percent (0: the picture fits the view) and the angle in degrees.
    void SetView(int zoomPercent, int degrees, bool fit);
    // The frame's readout and its warning; both empty hide the line's text.
    void SetFrame(const QString& readout, const QString& warning);

    // A message that stays until the next one (or ClearMessage). With a link
    // text, a link follows the message and runs onLink when activated.
    // warning: shown in amber, for a message the user must not overlook.
    void ShowMessage(const QString& text, const QString& linkText = QString(),
                     std::function<void()> onLink = nullptr, bool warning = false);
    void ClearMessage();
    // Runs the message's link as a click on it does.
    void ActivateLink();

    QString StepText() const;
    QString ViewText() const;
    QString FrameText() const;
    QString WarningText() const;
    QString MessageText() const;
    QString LinkText() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* FStep = nullptr;
    QLabel* FView = nullptr;
    QLabel* FFrame = nullptr;
    QLabel* FWarning = nullptr;
    QLabel* FMessage = nullptr;
    QLabel* FLink = nullptr;
    QString FLinkText;
    QString FMessageText; // whole; the line may show it shortened
    std::function<void()> FOnLink;
    void Place();
};

// "24595" as "24 595": digits grouped by three, as the strip writes byte counts.
QString GroupedNumber(qint64 value);
// One decimal with a comma: 1.6 as "1,6".
QString ItalianDecimal(double value);
