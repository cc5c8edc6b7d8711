// The options window's controls, layout, look and page list.
#include "config/U_Options.h"

#include <QAbstractItemDelegate>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QStackedWidget>

namespace {

// The dialog's own look: dark green-grey ground, light text, the program's green
// (#166D14) for focus, selection and pressed buttons. Set on the dialog itself so
// it holds with or without the application's style sheet.
const char* const kOptionsStyle = R"(
TFormOptions, QStackedWidget, QWidget#PageScanner, QWidget#PageCrop { background-color: #1E2420; }
QFrame#PanelList { background-color: #252D27; border: none; }
QLabel { color: #E4EAE4; background: transparent; }
QLabel[heading="true"] { color: #9FD89A; font-weight: bold; font-size: 13px; }
QLabel#LbVersion { color: rgb(116, 116, 116); }
QFrame[rule="true"] { background-color: #808080; border: none; }
QCheckBox, QRadioButton { color: #E4EAE4; spacing: 7px; }
QCheckBox::indicator, QRadioButton::indicator { width: 11px; height: 11px; border: 1px solid #7FA07F;
                                                background-color: #121614; }
QRadioButton::indicator { border-radius: 6px; }
QCheckBox::indicator:checked, QRadioButton::indicator:checked { background-color: #2E9E29; border-color: #C8EEC4; }
QCheckBox::indicator:hover, QRadioButton::indicator:hover { border-color: #C8EEC4; }
QLineEdit { background-color: #121614; color: #E4EAE4; border: 1px solid #3A463C; padding: 2px 4px;
            selection-background-color: #166D14; }
QLineEdit:focus { border-color: #2E9E29; }
QLineEdit:disabled { color: #6A746C; }
QPushButton { background-color: #2A332C; color: #E4EAE4; border: 1px solid #166D14; padding: 3px 10px; }
QPushButton:hover { background-color: #33423A; }
QPushButton:pressed { background-color: #166D14; }
QPushButton:default { border: 2px solid #2E9E29; }
QPushButton:disabled { color: #6A746C; border-color: #3A423C; }
QListWidget#ListOptions { background-color: #D4DDD4; border: 1px solid #3A463C; outline: none; }
QToolTip { background-color: #2A332C; color: #E4EAE4; border: 1px solid #166D14; }
)";

const QColor kListColor(0xD4, 0xDD, 0xD4);
const QColor kListText(42, 42, 42);
const QColor kSelectionColor(0x16, 0x6D, 0x14);
const QColor kSelectionText(Qt::white);

QFont Tahoma(int pixelSize, bool bold = false)
{
    QFont f;
    // Tahoma where installed, else a sans of similar metrics.
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

// Paints the page list's items through the form's own draw and measure handlers.
class TListOptionsDelegate : public QAbstractItemDelegate {
public:
    TListOptionsDelegate(const TFormOptions* form, QObject* parent) : QAbstractItemDelegate(parent), FForm(form) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        FForm->ListOptionsDrawItem(painter, index.row(), option.rect, option.state & QStyle::State_Selected);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QSize(option.rect.width(), FForm->ListOptionsMeasureItem(index.row()));
    }

private:
    const TFormOptions* FForm;
};

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y, int w, int h = 16)
{
    auto* l = new QLabel(text, parent);
    l->setGeometry(x, y, w, h);
    return l;
}

void AddHeading(QWidget* page, const QString& text)
{
    QLabel* h = AddLabel(page, text, 8, 6, 510, 22);
    h->setProperty("heading", true);
    h->setFont(Tahoma(13, true));
    auto* rule = new QFrame(page);
    rule->setProperty("rule", true);
    rule->setGeometry(8, 30, 510, 1);
}

QCheckBox* AddCheck(QWidget* parent, const char* name, const QString& text, int y)
{
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setGeometry(16, y, 494, 20);
    return c;
}

} // namespace

TFormOptions::TFormOptions(QWidget* owner, TFormCropHooks hooks) : QDialog(owner), FHooks(std::move(hooks))
{
    if (!Utils) // start-up normally did this already; the window must not depend on it
        InitOptionsUnit();
    BuildLayout();
    ApplyLook();
    UpdateScannerButton();
    FormCreate();
}

void TFormOptions::SetHooks(const TFormCropHooks& hooks)
{
    FHooks = hooks;
    UpdateScannerButton();
}

void TFormOptions::BuildLayout()
{
    setObjectName(QStringLiteral("FormOptions"));
    setWindowTitle(OptionsText::Caption);
    // A title but no caption buttons: the window closes through "Ok" or "Annulla".
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(724, 375);
    setModal(true);
    setFont(Tahoma(12));

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("PanelList"));
    panel->setGeometry(0, 0, 184, 330);
    ListOptions = new QListWidget(panel);
    ListOptions->setObjectName(QStringLiteral("ListOptions"));
    ListOptions->setGeometry(8, 10, 168, 312);
    ListOptions->setFont(Tahoma(13, true));
    ListOptions->setItemDelegate(new TListOptionsDelegate(this, ListOptions));
    ListOptions->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ListOptions->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ListOptions->addItems({OptionsText::PageScanner, OptionsText::PageCrop});

    // The pages have no tabs: the list is the only page selector.
    PageOptions = new QStackedWidget(this);
    PageOptions->setObjectName(QStringLiteral("PageOptions"));
    PageOptions->setGeometry(190, 4, 530, 326);
    auto* scanner = new QWidget;
    scanner->setObjectName(QStringLiteral("PageScanner"));
    auto* crop = new QWidget;
    crop->setObjectName(QStringLiteral("PageCrop"));
    BuildScannerPage(scanner);
    BuildCropPage(crop);
    PageOptions->addWidget(scanner);
    PageOptions->addWidget(crop);

    LbVersion = AddLabel(this, QString(), 14, 344, 260, 18);
    LbVersion->setObjectName(QStringLiteral("LbVersion"));
    BtCancel = new QPushButton(QStringLiteral("Annulla"), this);
    BtCancel->setObjectName(QStringLiteral("BtCancel"));
    BtCancel->setGeometry(520, 338, 92, 28);
    BtOk = new QPushButton(QStringLiteral("Ok"), this);
    BtOk->setObjectName(QStringLiteral("BtOk"));
    BtOk->setGeometry(620, 338, 92, 28);
    BtOk->setDefault(true);

    connect(ListOptions, &QListWidget::currentRowChanged, this, [this] { ListOptionsClick(); });
    connect(BtOk, &QPushButton::clicked, this, [this] { BtOkClick(); });
    connect(BtCancel, &QPushButton::clicked, this, [this] { BtCancelClick(); });
    connect(BtFilesOutput, &QPushButton::clicked, this, [this] { BtFilesOutputClick(); });
    connect(BtSelectScan, &QPushButton::clicked, this, [this] { BtSelectScanClick(); });
    connect(CkTempFilesInExeDir, &QCheckBox::clicked, this, [this] { CkTempFilesInExeDirClick(); });
}

void TFormOptions::BuildScannerPage(QWidget* page)
{
    AddHeading(page, QStringLiteral("  Importazione del dispositivo di acquisizione delle immagini "));

    AddLabel(page, QStringLiteral("Cartella di destinazione dei files foto e firma"), 16, 44, 490);
    EdFilesOutput = new QLineEdit(page);
    EdFilesOutput->setObjectName(QStringLiteral("EdFilesOutput"));
    EdFilesOutput->setGeometry(16, 62, 340, 24);
    BtFilesOutput = new QPushButton(QStringLiteral("Seleziona cartella..."), page);
    BtFilesOutput->setObjectName(QStringLiteral("BtFilesOutput"));
    BtFilesOutput->setGeometry(364, 61, 152, 26);
    CkTempFilesInExeDir =
        AddCheck(page, "CkTempFilesInExeDir", QStringLiteral("Files temporanei nella stessa cartella del programma"), 94);

    AddLabel(page, QStringLiteral("Nome identificativo dello scanner"), 16, 128, 490);
    EdScanner = new QLineEdit(page);
    EdScanner->setObjectName(QStringLiteral("EdScanner"));
    EdScanner->setGeometry(16, 146, 340, 24);
    BtSelectScan = new QPushButton(QStringLiteral("Seleziona lo scanner"), page);
    BtSelectScan->setObjectName(QStringLiteral("BtSelectScan"));
    BtSelectScan->setGeometry(364, 145, 152, 26);

    AddLabel(page, QStringLiteral("Risoluzione orizzontale e verticale in DPI"), 16, 180, 490);
    EdResolutionDPI = new QLineEdit(page);
    EdResolutionDPI->setObjectName(QStringLiteral("EdResolutionDPI"));
    EdResolutionDPI->setGeometry(16, 198, 80, 24);
    GrayScaleScanFirma = AddCheck(page, "GrayScaleScanFirma", QStringLiteral("Scansione in bianco e nero"), 230);
}

void TFormOptions::BuildCropPage(QWidget* page)
{
    AddHeading(page, QStringLiteral("  Impostazioni di ritaglio delle immagini "));

    AddLabel(page, QStringLiteral("Tipo di selezione di default all'avvio:"), 16, 44, 490);
    RbFotoStartDefault = new QRadioButton(QStringLiteral("Foto"), page);
    RbFotoStartDefault->setObjectName(QStringLiteral("RbFotoStartDefault"));
    RbFotoStartDefault->setGeometry(16, 64, 90, 20);
    RbFirmaStartDefault = new QRadioButton(QStringLiteral("Firma"), page);
    RbFirmaStartDefault->setObjectName(QStringLiteral("RbFirmaStartDefault"));
    RbFirmaStartDefault->setGeometry(110, 64, 90, 20);

    CkMinSizeSel = AddCheck(page, "CkMinSizeSel",
                            QStringLiteral("Inizio ritaglio dalla dimensione minima con rapporto 1:1"), 98);
    CkCropMouseUp = AddCheck(
        page, "CkCropMouseUp",
        QStringLiteral("Ritaglio automatico al rilascio dopo la selezione dell'area con il mouse"), 124);
    CkStoreEditSliders = AddCheck(page, "CkStoreEditSliders",
                                  QStringLiteral("Memorizza e ripropone ultime impostazioni di ritocco dei files"), 150);
    CkStoreSelections = AddCheck(page, "CkStoreSelections",
                                 QStringLiteral("Memorizza e ripristina le aree di selezione precedenti"), 176);
    CkFirmaGrayscale = AddCheck(page, "CkFirmaGrayscale", QStringLiteral("Elimina il colore sulle firme"), 202);
    CkFotoPreviewBw = AddCheck(page, "CkFotoPreviewBw",
                               QStringLiteral("Affianca foto in bianco e nero per anteprima"), 228);
    CkAutoCropOnOpen = AddCheck(page, "CkAutoCropOnOpen", QStringLiteral("Ritaglio automatico all'apertura"), 254);
}

void TFormOptions::ApplyLook()
{
    setStyleSheet(QString::fromLatin1(kOptionsStyle));
}

void TFormOptions::UpdateScannerButton()
{
    // Without the acquisition module plugged in, the button must not pretend to work.
    const bool available = static_cast<bool>(FHooks.SelectScanner);
    BtSelectScan->setEnabled(available);
    BtSelectScan->setToolTip(available ? QString() : OptionsText::NoScanner);
    EdScanner->setPlaceholderText(available ? QString() : OptionsText::NoScannerShort);
}

void TFormOptions::ListOptionsClick()
{
    const int row = ListOptions->currentRow();
    if (row >= 0 && row < PageOptions->count())
        PageOptions->setCurrentIndex(row);
}

int TFormOptions::ListOptionsMeasureItem(int /*index*/) const
{
    return 24;
}

void TFormOptions::ListOptionsDrawItem(QPainter* painter, int index, const QRect& rect, bool selected) const
{
    painter->save();
    painter->fillRect(rect, selected ? kSelectionColor : kListColor);
    painter->setFont(ListOptions->font());
    painter->setPen(selected ? kSelectionText : kListText);
    const QRect text(rect.left(), rect.top() + 4, rect.width(), rect.height() - 4);
    painter->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, ListOptions->item(index)->text());
    painter->restore();
}

void TFormOptions::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    TakeSnapshot();
    // Centred on the main window, measured with the frames.
    if (QWidget* owner = parentWidget()) {
        const QRect o = owner->window()->frameGeometry();
        const QSize own = frameGeometry().size();
        move(o.left() + (o.width() - own.width()) / 2, o.top() + (o.height() - own.height()) / 2);
    }
}
