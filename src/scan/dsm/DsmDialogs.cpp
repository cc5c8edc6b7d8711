#include "scan/dsm/DsmDialogs.h"

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
        const QString text = QString("%1 %2 (%3)")
                                 .arg(QString::fromStdString(d.Vendor), QString::fromStdString(d.Model),
                                      QString::fromStdString(d.Name));
        list_->addItem(text);
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

// ---- Preview -------------------------------------------------------------------------

class TPreviewLabel : public QWidget {
public:
    explicit TPreviewLabel(QWidget* parent) : QWidget(parent)
    {
        setObjectName("LbPreview");
        setMinimumSize(180, 240);
    }
    void SetPage(double widthMm, double heightMm) { pageW_ = widthMm, pageH_ = heightMm, update(); }
    void SetImage(const QImage& img, const TScanSettings& area)
    {
        image_ = img;
        imageArea_ = area;
        update();
    }
    void SetArea(const TScanSettings& area)
    {
        area_ = area;
        update();
    }
    const QImage& Image() const { return image_; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(60, 60, 60));
        if (pageW_ <= 0 || pageH_ <= 0)
            return;
        const double scale = std::min(width() / pageW_, height() / pageH_);
        auto toView = [&](double x, double y) { return QPointF(x * scale, y * scale); };
        p.fillRect(QRectF(toView(0, 0), toView(pageW_, pageH_)), Qt::white);
        if (!image_.isNull())
            p.drawImage(QRectF(toView(imageArea_.Left, imageArea_.Top), toView(imageArea_.Right, imageArea_.Bottom)),
                        image_);
        p.setPen(QPen(QColor(0x16, 0x6D, 0x14), 2, Qt::DashLine));
        p.drawRect(QRectF(toView(area_.Left, area_.Top), toView(area_.Right, area_.Bottom)));
    }

private:
    QImage image_;
    TScanSettings imageArea_;
    TScanSettings area_;
    double pageW_ = 0, pageH_ = 0;
};

// ---- Source dialog -------------------------------------------------------------------

namespace {

QDoubleSpinBox* MmBox(const char* name, QWidget* parent)
{
    auto* b = new QDoubleSpinBox(parent);
    b->setObjectName(name);
    b->setDecimals(1);
    b->setSuffix(" mm");
    b->setSingleStep(1.0);
    return b;
}

} // namespace

TSourceDialog::TSourceDialog(const QString& deviceTitle, const TDeviceCaps& caps, const TScanSettings& preset,
                             QWidget* parent)
    : QDialog(parent), caps_(caps)
{
    setObjectName("DsmSourceDialog");
    setWindowTitle("Acquisizione - " + deviceTitle);
    setModal(false);

    auto* settings = new QGroupBox("Impostazioni", this);
    auto* form = new QFormLayout(settings);
    resolution_ = new QSpinBox(settings);
    resolution_->setObjectName("EdResolution");
    resolution_->setRange(static_cast<int>(std::ceil(caps.ResMin)), static_cast<int>(std::floor(caps.ResMax)));
    resolution_->setSuffix(" dpi");
    resolution_->setValue(static_cast<int>(std::lround(preset.Dpi)));
    form->addRow("Risoluzione:", resolution_);
    mode_ = new QComboBox(settings);
    mode_->setObjectName("CbMode");
    if (caps.HasColor)
        mode_->addItem("Colori", TWPT_RGB);
    if (caps.HasGray) {
        mode_->addItem("Scala di grigi", TWPT_GRAY);
        mode_->addItem("Bianco e nero", TWPT_BW);
    } else if (caps.HasLineart) {
        mode_->addItem("Bianco e nero", TWPT_BW);
    }
    const int idx = mode_->findData(preset.PixelType);
    mode_->setCurrentIndex(idx >= 0 ? idx : 0);
    form->addRow("Modalità:", mode_);

    auto* area = new QGroupBox("Area di scansione", this);
    auto* grid = new QGridLayout(area);
    left_ = MmBox("EdLeft", area);
    top_ = MmBox("EdTop", area);
    right_ = MmBox("EdRight", area);
    bottom_ = MmBox("EdBottom", area);
    for (QDoubleSpinBox* b : {left_, right_})
        b->setRange(0, caps.MaxRight);
    for (QDoubleSpinBox* b : {top_, bottom_})
        b->setRange(0, caps.MaxBottom);
    left_->setValue(preset.Left);
    top_->setValue(preset.Top);
    right_->setValue(preset.Right);
    bottom_->setValue(preset.Bottom);
    grid->addWidget(new QLabel("Sinistra:", area), 0, 0);
    grid->addWidget(left_, 0, 1);
    grid->addWidget(new QLabel("Alto:", area), 0, 2);
    grid->addWidget(top_, 0, 3);
    grid->addWidget(new QLabel("Destra:", area), 1, 0);
    grid->addWidget(right_, 1, 1);
    grid->addWidget(new QLabel("Basso:", area), 1, 2);
    grid->addWidget(bottom_, 1, 3);
    auto* fullPage = new QPushButton("Pagina intera", area);
    fullPage->setObjectName("BtFullPage");
    grid->addWidget(fullPage, 2, 0, 1, 4);
    connect(fullPage, &QPushButton::clicked, this, [this] {
        left_->setValue(0);
        top_->setValue(0);
        right_->setValue(caps_.MaxRight);
        bottom_->setValue(caps_.MaxBottom);
    });

    preview_ = new TPreviewLabel(this);
    preview_->SetPage(caps.MaxRight, caps.MaxBottom);
    preview_->SetArea(preset);
    for (QDoubleSpinBox* b : {left_, top_, right_, bottom_})
        connect(b, qOverload<double>(&QDoubleSpinBox::valueChanged), this, [this] {
            UpdateAreaLimits();
            preview_->SetArea(Settings());
        });
    UpdateAreaLimits();

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
    scanButton_->setDefault(true);
    cancelButton_ = new QPushButton("Annulla", this);
    cancelButton_->setObjectName("BtAnnulla");
    stopButton_ = new QPushButton("Interrompi", this);
    stopButton_->setObjectName("BtStop");
    stopButton_->setVisible(false);
    connect(previewButton_, &QPushButton::clicked, this, &TSourceDialog::PreviewRequested);
    connect(scanButton_, &QPushButton::clicked, this, &TSourceDialog::ScanRequested);
    connect(cancelButton_, &QPushButton::clicked, this, &TSourceDialog::CloseRequested);
    connect(stopButton_, &QPushButton::clicked, this, &TSourceDialog::StopRequested);

    auto* left = new QVBoxLayout;
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
    resize(640, 440);
}

void TSourceDialog::UpdateAreaLimits()
{
    // An area never collapses: right stays beyond left and bottom below top.
    right_->setMinimum(left_->value() + 1);
    bottom_->setMinimum(top_->value() + 1);
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
    return s;
}

void TSourceDialog::SetBusy(bool busy, const QString& what)
{
    for (QWidget* w : std::initializer_list<QWidget*>{resolution_, mode_, left_, top_, right_, bottom_, previewButton_,
                                                      scanButton_})
        w->setEnabled(!busy);
    stopButton_->setVisible(busy);
    progress_->setVisible(busy);
    if (busy) {
        progress_->setRange(0, 0);
        ShowStatus(what, false);
    }
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
    status_->setStyleSheet(error ? "color: #c00000; font-weight: bold;" : QString());
}

QString TSourceDialog::StatusText() const { return status_->text(); }

void TSourceDialog::ShowPreview(const QImage& img, const TScanSettings& area) { preview_->SetImage(img, area); }

void TSourceDialog::closeEvent(QCloseEvent* e)
{
    // Closing belongs to the application: the source only asks for it.
    e->ignore();
    emit CloseRequested();
}

void TSourceDialog::reject() { emit CloseRequested(); }
