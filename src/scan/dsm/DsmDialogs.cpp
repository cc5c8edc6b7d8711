#include "scan/dsm/DsmDialogs.h"

#include "scan/dsm/DsmArea.h"

#include <QCloseEvent>
#include <cmath>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

QString DeviceTitle(const TSaneDeviceInfo& d)
{
    return QString("%1 %2 (%3)")
        .arg(QString::fromStdString(d.Vendor), QString::fromStdString(d.Model), QString::fromStdString(d.Name));
}

// ---- Selection -----------------------------------------------------------------------

TSelectSourceDialog::TSelectSourceDialog(const std::vector<TSaneDeviceInfo>& devices, int current, QWidget* parent)
    : QDialog(parent)
{
    setObjectName("DsmSelectDialog");
    setWindowTitle("Seleziona sorgente");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Scanner disponibili:", this));
    list_ = new QListWidget(this);
    list_->setObjectName("LwSources");
    for (const TSaneDeviceInfo& d : devices) {
        list_->addItem(DeviceTitle(d));
    }
    if (current >= 0 && current < list_->count())
        list_->setCurrentRow(current);
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("BtOk");
    QPushButton* cancel = buttons->addButton("Annulla", QDialogButtonBox::RejectRole);
    cancel->setObjectName("BtAnnulla");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    ok->setEnabled(list_->currentRow() >= 0);
    connect(list_, &QListWidget::currentRowChanged, ok, [ok](int row) { ok->setEnabled(row >= 0); });
    layout->addWidget(buttons);
    resize(420, 260);
}

int TSelectSourceDialog::Selected() const { return list_->currentRow(); }

// ---- Source dialog -------------------------------------------------------------------

namespace {

QDoubleSpinBox* MmBox(const char* name, QWidget* parent)
{
    auto* b = new QDoubleSpinBox(parent);
    b->setObjectName(name);
    b->setDecimals(1);
    b->setSuffix(" mm");
    b->setSingleStep(1.0);
    b->setKeyboardTracking(false);
    return b;
}

QString SourceName(const std::string& source)
{
    const QString s = QString::fromStdString(source);
    if (s.compare("Flatbed", Qt::CaseInsensitive) == 0)
        return "Piano di scansione";
    if (s.contains("feeder", Qt::CaseInsensitive) || s.contains("adf", Qt::CaseInsensitive))
        return "Alimentatore automatico (ADF)";
    return s;
}

} // namespace

TSourceDialog::TSourceDialog(const TDeviceCaps& caps, const TScanSettings& preset, QWidget* parent)
    : QDialog(parent), caps_(caps)
{
    setObjectName("DsmSourceDialog");
    setWindowTitle("Acquisizione");
    setModal(false);

    auto* device = new QGroupBox("Scanner", this);
    auto* deviceRow = new QHBoxLayout(device);
    scanner_ = new QComboBox(device);
    scanner_->setObjectName("CbScanner");
    scanner_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    scanner_->setMinimumContentsLength(18);
    refresh_ = new QPushButton("Aggiorna", device);
    refresh_->setObjectName("BtRefresh");
    refresh_->setToolTip("Cerca di nuovo gli scanner collegati");
    deviceRow->addWidget(scanner_, 1);
    deviceRow->addWidget(refresh_);
    connect(scanner_, qOverload<int>(&QComboBox::activated), this, [this](int index) { emit DeviceRequested(index); });
    connect(refresh_, &QPushButton::clicked, this, &TSourceDialog::RefreshRequested);

    auto* settings = new QGroupBox("Impostazioni", this);
    auto* form = new QFormLayout(settings);
    source_ = new QComboBox(settings);
    source_->setObjectName("CbSource");
    sourceLabel_ = new QLabel("Origine:", settings);
    form->addRow(sourceLabel_, source_);
    mode_ = new QComboBox(settings);
    mode_->setObjectName("CbMode");
    form->addRow("Modalità:", mode_);
    depth_ = new QComboBox(settings);
    depth_->setObjectName("CbDepth");
    depthLabel_ = new QLabel("Profondità:", settings);
    form->addRow(depthLabel_, depth_);
    resolution_ = new QSpinBox(settings);
    resolution_->setObjectName("EdResolution");
    resolution_->setSuffix(" dpi");
    resolution_->setKeyboardTracking(false);
    form->addRow("Risoluzione:", resolution_);
    connect(mode_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { UpdateDepthRow(); });
    connect(resolution_, qOverload<int>(&QSpinBox::valueChanged), this, [this](int dpi) {
        // A device with a list of resolutions takes only those: a typed value goes to
        // the nearest one.
        const int nearest = static_cast<int>(std::lround(NearestResolution(caps_, dpi)));
        if (nearest != dpi) {
            resolution_->setValue(nearest);
            return;
        }
        UpdatePixelSize();
    });

    auto* area = new QGroupBox("Area di scansione", this);
    auto* grid = new QGridLayout(area);
    left_ = MmBox("EdLeft", area);
    top_ = MmBox("EdTop", area);
    right_ = MmBox("EdRight", area);
    bottom_ = MmBox("EdBottom", area);
    grid->addWidget(new QLabel("Sinistra:", area), 0, 0);
    grid->addWidget(left_, 0, 1);
    grid->addWidget(new QLabel("Alto:", area), 0, 2);
    grid->addWidget(top_, 0, 3);
    grid->addWidget(new QLabel("Destra:", area), 1, 0);
    grid->addWidget(right_, 1, 1);
    grid->addWidget(new QLabel("Basso:", area), 1, 2);
    grid->addWidget(bottom_, 1, 3);
    pixels_ = new QLabel(area);
    pixels_->setObjectName("LbPixels");
    pixels_->setToolTip("Dimensione dell'immagine che la scansione darà");
    grid->addWidget(pixels_, 2, 0, 1, 2);
    fullPage_ = new QPushButton("Pagina intera", area);
    fullPage_->setObjectName("BtFullPage");
    grid->addWidget(fullPage_, 2, 2, 1, 2);
    auto* hint = new QLabel("Trascinare sull'anteprima per disegnare l'area.", area);
    hint->setWordWrap(true);
    grid->addWidget(hint, 3, 0, 1, 4);
    connect(fullPage_, &QPushButton::clicked, this, [this] {
        SetAreaBoxes(QRectF(0, 0, caps_.MaxRight, caps_.MaxBottom));
        preview_->SetArea(QRectF(0, 0, caps_.MaxRight, caps_.MaxBottom));
        UpdatePixelSize();
    });

    preview_ = new TAreaView(this);
    for (QDoubleSpinBox* b : {left_, top_, right_, bottom_})
        connect(b, qOverload<double>(&QDoubleSpinBox::valueChanged), this, [this] {
            UpdateAreaLimits();
            preview_->SetArea(QRectF(QPointF(left_->value(), top_->value()), QPointF(right_->value(), bottom_->value())));
            UpdatePixelSize();
        });
    connect(preview_, &TAreaView::AreaChanged, this, [this](const QRectF& mm) {
        SetAreaBoxes(mm);
        UpdatePixelSize();
    });

    progress_ = new QProgressBar(this);
    progress_->setObjectName("PbProgress");
    progress_->setVisible(false);
    status_ = new QLabel(this);
    status_->setObjectName("LbStatus");
    status_->setWordWrap(true);

    previewButton_ = new QPushButton("Anteprima", this);
    previewButton_->setObjectName("BtPreview");
    scanButton_ = new QPushButton("Scansiona", this);
    scanButton_->setObjectName("BtScan");
    cancelButton_ = new QPushButton("Annulla", this);
    cancelButton_->setObjectName("BtAnnulla");
    stopButton_ = new QPushButton("Interrompi", this);
    stopButton_->setObjectName("BtStop");
    stopButton_->setVisible(false);
    // Return is "Scansiona" whatever holds the focus: no other button takes it over
    // by being focused.
    for (QPushButton* b : findChildren<QPushButton*>())
        b->setAutoDefault(false);
    scanButton_->setDefault(true);
    connect(previewButton_, &QPushButton::clicked, this, &TSourceDialog::PreviewRequested);
    connect(scanButton_, &QPushButton::clicked, this, &TSourceDialog::ScanRequested);
    connect(cancelButton_, &QPushButton::clicked, this, &TSourceDialog::CloseRequested);
    connect(stopButton_, &QPushButton::clicked, this, &TSourceDialog::StopRequested);

    auto* left = new QVBoxLayout;
    left->addWidget(device);
    left->addWidget(settings);
    left->addWidget(area);
    left->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addWidget(preview_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(previewButton_);
    buttons->addStretch(1);
    buttons->addWidget(stopButton_);
    buttons->addWidget(scanButton_);
    buttons->addWidget(cancelButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(progress_);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    SetCaps(caps, preset);
    scanButton_->setFocus();
    resize(760, 560);
}

void TSourceDialog::SetDevices(const std::vector<TSaneDeviceInfo>& devices, int current)
{
    scanner_->clear();
    for (const TSaneDeviceInfo& d : devices)
        scanner_->addItem(DeviceTitle(d), QString::fromStdString(d.Name));
    scanner_->setCurrentIndex(current);
    setWindowTitle(current >= 0 ? "Acquisizione - " + DeviceTitle(devices[static_cast<size_t>(current)])
                                : QString("Acquisizione"));
}

void TSourceDialog::SetCaps(const TDeviceCaps& caps, const TScanSettings& preset)
{
    caps_ = caps;
    source_->clear();
    for (const std::string& s : caps.Sources)
        source_->addItem(SourceName(s), QString::fromStdString(s));
    const int si = source_->findData(QString::fromStdString(preset.Source.empty() ? caps.Source : preset.Source));
    source_->setCurrentIndex(si >= 0 ? si : 0);
    source_->setVisible(caps.Sources.size() >= 2);
    sourceLabel_->setVisible(caps.Sources.size() >= 2);

    mode_->blockSignals(true);
    mode_->clear();
    if (caps.HasColor)
        mode_->addItem("Colori", TWPT_RGB);
    if (caps.HasGray)
        mode_->addItem("Scala di grigi", TWPT_GRAY);
    if (caps.HasGray || caps.HasLineart)
        mode_->addItem("Bianco e nero", TWPT_BW);
    const int mi = mode_->findData(preset.PixelType);
    mode_->setCurrentIndex(mi >= 0 ? mi : 0);
    mode_->blockSignals(false);

    depth_->clear();
    for (int d : caps.Depths)
        depth_->addItem(QString("%1 bit").arg(d), d);
    const int di = depth_->findData(preset.Depth);
    depth_->setCurrentIndex(di >= 0 ? di : depth_->findData(8));
    UpdateDepthRow();

    resolution_->blockSignals(true);
    resolution_->setRange(static_cast<int>(std::ceil(caps.ResMin)), static_cast<int>(std::floor(caps.ResMax)));
    resolution_->setSingleStep(caps.ResStep >= 1 ? static_cast<int>(caps.ResStep) : 1);
    resolution_->setValue(static_cast<int>(std::lround(NearestResolution(caps, preset.Dpi))));
    resolution_->blockSignals(false);

    const double step = caps.AreaStep > 0 ? caps.AreaStep : 1.0;
    for (QDoubleSpinBox* b : {left_, top_, right_, bottom_})
        b->setSingleStep(step);
    preview_->SetPage(caps.MaxRight, caps.MaxBottom);
    preview_->SetStep(caps.AreaStep);
    preview_->SetImage(QImage(), QRectF());
    const QRectF area(QPointF(preset.Left, preset.Top), QPointF(preset.Right, preset.Bottom));
    SetAreaBoxes(area);
    preview_->SetArea(QRectF(QPointF(left_->value(), top_->value()), QPointF(right_->value(), bottom_->value())));
    UpdatePixelSize();
}

void TSourceDialog::UpdateDepthRow()
{
    // Black and white has one depth; so has a device that offers no choice.
    const bool show = depth_->count() >= 2 && mode_->currentData().toInt() != TWPT_BW;
    depth_->setVisible(show);
    depthLabel_->setVisible(show);
}

void TSourceDialog::SetAreaBoxes(const QRectF& mm)
{
    for (QDoubleSpinBox* b : {left_, top_, right_, bottom_})
        b->blockSignals(true);
    for (QDoubleSpinBox* b : {left_, right_})
        b->setRange(0, caps_.MaxRight);
    for (QDoubleSpinBox* b : {top_, bottom_})
        b->setRange(0, caps_.MaxBottom);
    left_->setValue(mm.left());
    top_->setValue(mm.top());
    right_->setValue(mm.right());
    bottom_->setValue(mm.bottom());
    UpdateAreaLimits();
    for (QDoubleSpinBox* b : {left_, top_, right_, bottom_})
        b->blockSignals(false);
}

void TSourceDialog::UpdateAreaLimits()
{
    // An area never collapses: right stays beyond left and bottom below top.
    const double step = caps_.AreaStep > 0 ? caps_.AreaStep : 1.0;
    right_->setMinimum(left_->value() + step);
    bottom_->setMinimum(top_->value() + step);
}

void TSourceDialog::UpdatePixelSize()
{
    const TScanSettings s = Settings();
    pixels_->setText(QString("%1 × %2 px")
                         .arg(AreaPixels(s.Right - s.Left, s.Dpi))
                         .arg(AreaPixels(s.Bottom - s.Top, s.Dpi)));
}

TScanSettings TSourceDialog::Settings() const
{
    TScanSettings s;
    s.Dpi = resolution_->value();
    s.PixelType = mode_->currentData().toInt();
    s.Left = left_->value();
    s.Top = top_->value();
    s.Right = right_->value();
    s.Bottom = bottom_->value();
    s.Depth = depth_->count() > 0 ? depth_->currentData().toInt() : 8;
    s.Source = source_->count() > 0 ? source_->currentData().toString().toStdString() : std::string();
    return s;
}

void TSourceDialog::SetBusy(bool busy, const QString& what)
{
    if (busy && !busy_)
        focusBeforeBusy_ = focusWidget();
    busy_ = busy;
    for (QWidget* w : std::initializer_list<QWidget*>{scanner_, refresh_, source_, resolution_, mode_, depth_, left_,
                                                      top_, right_, bottom_, fullPage_, preview_, previewButton_,
                                                      scanButton_})
        w->setEnabled(!busy);
    stopButton_->setVisible(busy);
    progress_->setVisible(busy);
    if (busy) {
        progress_->setRange(0, 0);
        ShowStatus(what, false);
        return;
    }
    // Disabling the focused button moved the focus on; it comes back where it was, so
    // the keyboard does what it did before the scan.
    QWidget* back = focusBeforeBusy_;
    (back && back->isVisible() && back->isEnabled() ? back : scanButton_)->setFocus();
}

void TSourceDialog::SetProgress(int64_t bytes, int64_t expected)
{
    if (expected > 0) {
        progress_->setRange(0, 1000);
        progress_->setValue(static_cast<int>(std::min<int64_t>(1000, bytes * 1000 / expected)));
    } else {
        progress_->setRange(0, 0);
    }
}

void TSourceDialog::ShowStatus(const QString& text, bool error)
{
    status_->setText(text);
    status_->setStyleSheet(error ? "color: #ff6b6b; font-weight: bold;" : QString());
}

QString TSourceDialog::StatusText() const { return status_->text(); }

void TSourceDialog::ShowPreview(const QImage& img, const TScanSettings& area)
{
    preview_->SetImage(img, QRectF(QPointF(area.Left, area.Top), QPointF(area.Right, area.Bottom)));
}

void TSourceDialog::closeEvent(QCloseEvent* e)
{
    // Closing belongs to the application: the source only asks for it.
    e->ignore();
    emit CloseRequested();
}

void TSourceDialog::reject() { emit CloseRequested(); }
