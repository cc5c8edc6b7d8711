#pragma once
// The source manager's two dialogs: picking a scanner, and the scanner's own settings
// dialog with preview and progress. Widget names are stable so they can be driven.

#include "scan/dsm/DsmSane.h"

#include <QDialog>
#include <QImage>
#include <QPointer>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class TAreaView;

// "Seleziona sorgente": list of devices (vendor, model, name), OK and Annulla.
class TSelectSourceDialog : public QDialog {
    Q_OBJECT
public:
    TSelectSourceDialog(const std::vector<TSaneDeviceInfo>& devices, int current, QWidget* parent);
    int Selected() const;

private:
    QListWidget* list_;
};

// How a device is named to the user: vendor, model and SANE name.
QString DeviceTitle(const TSaneDeviceInfo& d);

class TSourceDialog : public QDialog {
    Q_OBJECT
public:
    TSourceDialog(const TDeviceCaps& caps, const TScanSettings& preset, QWidget* parent);

    // The scanners to choose from, `current` being the one open.
    void SetDevices(const std::vector<TSaneDeviceInfo>& devices, int current);
    // What the open device offers, and the settings to show; after a change of device.
    void SetCaps(const TDeviceCaps& caps, const TScanSettings& preset);
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
    // The user picked another scanner in the list, or asked to look for scanners again.
    void DeviceRequested(int index);
    void RefreshRequested();

protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

private:
    void UpdateAreaLimits();
    void SetAreaBoxes(const QRectF& mm);
    void UpdatePixelSize();
    void UpdateDepthRow();

    TDeviceCaps caps_;
    QComboBox* scanner_;
    QPushButton* refresh_;
    QComboBox* source_;
    QLabel* sourceLabel_;
    QSpinBox* resolution_;
    QComboBox* mode_;
    QComboBox* depth_;
    QLabel* depthLabel_;
    QDoubleSpinBox* left_;
    QDoubleSpinBox* top_;
    QDoubleSpinBox* right_;
    QDoubleSpinBox* bottom_;
    QPushButton* fullPage_;
    QLabel* pixels_;
    TAreaView* preview_;
    QPushButton* previewButton_;
    QPushButton* scanButton_;
    QPushButton* cancelButton_;
    QPushButton* stopButton_;
    QProgressBar* progress_;
    QLabel* status_;
    QPointer<QWidget> focusBeforeBusy_;
    bool busy_ = false;
};
