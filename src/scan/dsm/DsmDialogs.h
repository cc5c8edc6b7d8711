#pragma once
// The source manager's two dialogs: picking a scanner, and the scanner's own settings
// dialog with preview and progress. Widget names are stable so they can be driven.

#include "scan/dsm/DsmSane.h"

#include <QDialog>
#include <QImage>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;

// "Seleziona sorgente": list of devices (vendor, model, name), OK and Annulla.
class TSelectSourceDialog : public QDialog {
    Q_OBJECT
public:
    TSelectSourceDialog(const std::vector<TSaneDeviceInfo>& devices, int current, QWidget* parent);
    int Selected() const;

private:
    QListWidget* list_;
};

// Shows the preview picture with the scan area drawn over it.
class TPreviewLabel;

class TSourceDialog : public QDialog {
    Q_OBJECT
public:
    TSourceDialog(const QString& deviceTitle, const TDeviceCaps& caps, const TScanSettings& preset, QWidget* parent);

    TScanSettings Settings() const;
    // Busy while a page is read: the settings lock, progress and "Interrompi" show.
    void SetBusy(bool busy, const QString& what = QString());
    void SetProgress(int64_t bytes, int64_t expected);
    void ShowStatus(const QString& text, bool error);
    void ShowPreview(const QImage& img, const TScanSettings& area);
    QString StatusText() const;

signals:
    void ScanRequested();
    void PreviewRequested();
    void StopRequested();
    void CloseRequested();

protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

private:
    void UpdateAreaLimits();

    TDeviceCaps caps_;
    QSpinBox* resolution_;
    QComboBox* mode_;
    QDoubleSpinBox* left_;
    QDoubleSpinBox* top_;
    QDoubleSpinBox* right_;
    QDoubleSpinBox* bottom_;
    TPreviewLabel* preview_;
    QPushButton* previewButton_;
    QPushButton* scanButton_;
    QPushButton* cancelButton_;
    QPushButton* stopButton_;
    QProgressBar* progress_;
    QLabel* status_;
};
