#pragma once
// Small controls of the main window: coloured panels, framed shapes, plain
// pictures and labels that report hover and clicks. They paint themselves so
// that the colours the workflow reads back as state (the slot frames, the
// highlight bars) are exactly what the user sees, whatever the style sheet says.

#include "platform/Colors.h"

#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <functional>

class QMouseEvent;

// A panel of one flat colour.
class TPanel : public QWidget {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent, TColor color = clGray);
    TColor Color() const { return FColor; }
    void SetColor(TColor color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TColor FColor;
};

// A rectangle outline with a pen of some width; the inside is filled with the brush colour.
class TShape : public QWidget {
    Q_OBJECT
public:
    TShape(QWidget* parent, int penWidth, TColor penColor, TColor brushColor);
    TColor PenColor() const { return FPenColor; }
    void SetPenColor(TColor color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int FPenWidth;
    TColor FPenColor;
    TColor FBrushColor;
};

// A picture drawn at the top left without scaling, clickable.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent);
    const QImage& Picture() const { return FPicture; }
    void SetPicture(const QImage& picture);
    std::function<void()> OnClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage FPicture;
};

// A label of the guide panel: it carries a tag and reports moves, leaves and clicks.
class THoverLabel : public QLabel {
    Q_OBJECT
public:
    THoverLabel(const QString& text, QWidget* parent, int tag = 0);
    int Tag;
    std::function<void(THoverLabel*)> OnMouseMove;
    std::function<void(THoverLabel*)> OnMouseLeave;
    std::function<void(THoverLabel*)> OnClick;
    // The font colour as TColor, read back by the link rules.
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor color);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TColor FFontColor = clWhite;
};

// The blink timer of the guide panel; its tag says which bar blinks.
class TTagTimer : public QTimer {
    Q_OBJECT
public:
    explicit TTagTimer(QObject* parent) : QTimer(parent) {}
    int Tag = 0;
    // Enabling a running timer must not restart its period, unlike QTimer::start.
    void SetEnabled(bool enabled)
    {
        if (enabled && !isActive())
            start();
        else if (!enabled && isActive())
            stop();
    }
    bool Enabled() const { return isActive(); }
};
