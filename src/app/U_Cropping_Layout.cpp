// Building and placing the main window's controls. Every position is in
// client pixels as the window was designed at 900 x 700; only the image panel,
// the right column's left edge, the guide panel's height and the bars and the
// preview that follow the image panel move when the window is resized.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Art.h"
#include "app/U_Cropping_Startup.h"
#include "app/U_Cropping_Status.h"
#include "app/U_Cropping_Undo.h"

#include "platform/Cursors.h"
#include "view/ZSImage.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>

TFormCrop* FormCrop = nullptr;

namespace {
constexpr int kRightColumnWidth = 290;
constexpr int kImageMarginLeft = 3;
constexpr int kImageMarginRight = 8;
constexpr TColor kPanelDark = 0x1A1A1A;
constexpr TColor kLightGrey = 0xE0E0E0;
// Dark face of the panels the visual style paints (#1E2420, written as 0x00BBGGRR).
constexpr TColor kStyleFace = 0x20241E;

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int x, int y, int w, int h)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, y, w, h);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}
} // namespace

TFormCrop::TFormCrop(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint)
{
    setObjectName(QStringLiteral("FormCrop"));
    FormCrop = this;
    FormCreate();
}

TFormCrop::~TFormCrop()
{
    StopPageAnalysis();
    FormDestroy();
    delete Undo;
    Undo = nullptr;
    if (FormCrop == this)
        FormCrop = nullptr;
}

QSlider* TFormCrop::Slider(int index) const
{
    QSlider* const all[] = {pBarLight, pBarContr, pBarDark, pBarColor, pBarSharpness};
    return index >= 0 && index < 5 ? all[index] : nullptr;
}

QLabel* TFormCrop::SliderLabel(int index) const
{
    QLabel* const all[] = {LbLigh, Lbcont, LbDark, LbColo, LbShar};
    return index >= 0 && index < 5 ? all[index] : nullptr;
}

TPanel* TFormCrop::HighlightBar(int tag) const
{
    TPanel* const bars[] = {PnhScanner, PnhFile, PnhFoto, PnhFirma, PnhRitocco, PnhSalva};
    return tag >= 1 && tag <= 6 ? bars[tag - 1] : nullptr;
}

void TFormCrop::BuildButtons()
{
    PanelBtn = new TPanel(PanelR, kPanelDark);
    PanelBtn->setObjectName(QStringLiteral("PanelBtn"));
    PanelBtn->setGeometry(0, 0, kRightColumnWidth, 88);
    BtScanNow = MakeButton(PanelBtn, "BtScanNow", QStringLiteral("&SCANNER"), 9, 6, 131, 36);
    BtLoadImages = MakeButton(PanelBtn, "BtLoadImages", QStringLiteral("&FILE"), 146, 6, 131, 36);
    BtResetImg = MakeButton(PanelBtn, "BtResetImg", QStringLiteral("&RESET"), 9, 46, 131, 36);
    BtOptions = MakeButton(PanelBtn, "BtOptions", QStringLiteral("&OPZIONI"), 146, 46, 131, 36);
    BtResetDisGlyph = new TImage(PanelBtn);
    BtResetDisGlyph->setObjectName(QStringLiteral("BtResetDisGlyph"));
    BtResetDisGlyph->setGeometry(23, 51, 25, 30);
    BtResetDisGlyph->SetPicture(Art::Render(Art::kResetDisabled, QSize(25, 30)));
    // Clicks on the greyed glyph belong to the (disabled) button under it.
    BtResetDisGlyph->setAttribute(Qt::WA_TransparentForMouseEvents);
    BtResetDisGlyph->raise();

    // Errors of a command are shown here, so none travels back through the button's signal.
    connect(BtScanNow, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtScanNowClick(); }); });
    connect(BtLoadImages, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtLoadImagesClick(); }); });
    connect(BtResetImg, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtResetImgClick(); }); });
    connect(BtOptions, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtOptionsClick(); }); });
}

void TFormCrop::BuildSlots()
{
    PanelImgs = new TPanel(PanelR, kStyleFace);
    PanelImgs->setObjectName(QStringLiteral("PanelImgs"));
    PanelImgs->setGeometry(0, 88, kRightColumnWidth, 389);
    ShapeFoto = new TShape(PanelImgs, 4, kLightGrey, kPanelDark);
    ShapeFoto->setObjectName(QStringLiteral("ShapeFoto"));
    ShapeFoto->setGeometry(9, 0, 268, 323);
    ShapeFirma = new TShape(PanelImgs, 4, kLightGrey, kPanelDark);
    ShapeFirma->setObjectName(QStringLiteral("ShapeFirma"));
    ShapeFirma->setGeometry(9, 330, 268, 55);

    ImgFoto = new TImage(PanelImgs);
    ImgFoto->setObjectName(QStringLiteral("ImgFoto"));
    ImgFoto->setGeometry(13, 4, 260, 315);
    ImgFoto->SetPicture(Art::Render(Art::kFotoPlaceholder, QSize(260, 315)));
    ImgFirma = new TImage(PanelImgs);
    ImgFirma->setObjectName(QStringLiteral("ImgFirma"));
    ImgFirma->setGeometry(13, 334, 260, 47);
    ImgFirma->SetPicture(Art::Render(Art::kFirmaPlaceholder, QSize(260, 47)));
    CreateSlotControls();
}

void TFormCrop::BuildSliders()
{
    Panel1 = new TPanel(PanelR, kStyleFace);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 477, kRightColumnWidth, 170);
    GrEditImg = new QGroupBox(QStringLiteral("RITOCCO"), Panel1);
    GrEditImg->setObjectName(QStringLiteral("GrEditImg"));
    GrEditImg->setGeometry(5, 2, 280, 164);

    struct Row {
        QSlider** slider;
        QLabel** value;
        const char* name;
        const char* caption;
        int range;
    };
    const Row rows[] = {
        {&pBarLight, &LbLigh, "pBarLight", "&Luminosità", 100},
        {&pBarContr, &Lbcont, "pBarContr", "&Contrasto", 150},
        {&pBarDark, &LbDark, "pBarDark", "&Toni scuri", 100},
        {&pBarColor, &LbColo, "pBarColor", "Color&e", 150},
        {&pBarSharpness, &LbShar, "pBarSharpness", "&Definizione", 3},
    };
    int y = 24;
    for (const Row& r : rows) {
        auto* caption = new QLabel(QString::fromUtf8(r.caption), GrEditImg);
        caption->setGeometry(7, y, 74, 24);
        auto* s = new QSlider(Qt::Horizontal, GrEditImg);
        s->setObjectName(QLatin1String(r.name));
        s->setGeometry(80, y, 172, 24);
        s->setRange(-r.range, r.range);
        s->setPageStep(1);
        // The arrow keys are the main window's: one step per press, whatever the slider thinks.
        s->setSingleStep(0);
        s->setTickPosition(QSlider::NoTicks);
        s->setFocusPolicy(Qt::ClickFocus);
        caption->setBuddy(s);
        auto* value = new QLabel(QStringLiteral("0"), GrEditImg);
        value->setGeometry(250, y, 26, 24);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setObjectName(QLatin1String(r.name) + QStringLiteral("Value"));
        *r.slider = s;
        *r.value = value;
        y += 27;
    }
    ConnectSliders();
}

void TFormCrop::BuildBarsAndPreview()
{
    struct Bar {
        TPanel** bar;
        const char* name;
        int top;
        int height;
    };
    const Bar bars[] = {
        {&PnhScanner, "PnhScanner", 3, 43}, {&PnhFile, "PnhFile", 3, 43},      {&PnhFoto, "PnhFoto", 89, 323},
        {&PnhFirma, "PnhFirma", 419, 55},   {&PnhRitocco, "PnhRitocco", 482, 163}, {&PnhSalva, "PnhSalva", 649, 42},
    };
    for (const Bar& b : bars) {
        auto* p = new TPanel(this, clProgramGreen);
        p->setObjectName(QLatin1String(b.name));
        p->setGeometry(0, b.top, 6, b.height);
        p->hide();
        *b.bar = p;
    }

    PanelPreviewBw = new TPanel(this, clProgramGreen);
    PanelPreviewBw->setObjectName(QStringLiteral("PanelPreviewBw"));
    PanelPreviewBw->setGeometry(0, PanelR->y() + PanelImgs->y(), 268, 323);
    ImgPreviewBw = new TImage(PanelPreviewBw);
    ImgPreviewBw->setObjectName(QStringLiteral("ImgPreviewBw"));
    ImgPreviewBw->setGeometry(4, 4, 260, 315);
    PanelPreviewBw->hide();
}

void TFormCrop::RegisterCursors()
{
    const char* const names[] = {Art::kCursorLens, Art::kCursorCrop, Art::kCursorPaint, Art::kCursorHand1,
                                 Art::kCursorHand2};
    for (int i = 0; i < 5; ++i)
        Cursors::Register(static_cast<TCursor>(i + 1), Art::Cursor(names[i]));
}

void TFormCrop::FormCreate()
{
    PrimoAvvioFoto = true;
    PrimoAvvioFirma = true;
    NomeCorrente.clear();
    imTwain = QImage();
    BmpFotoBuffer1 = QImage();
    BmpFirmaBuffer1 = QImage();
    BmpBackBuffer = QImage();
    gradiRot = 0;

    setWindowTitle(QStringLiteral("  Corvanta   |   Lodrevan"));
    QFont f;
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setPixelSize(12);
    setFont(f);
    setMinimumSize(900, 700);
    resize(900, 700);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);

    PanelImage = new TPanel(this, Color);
    PanelImage->setObjectName(QStringLiteral("PanelImage"));
    PanelR = new TPanel(this, kStyleFace);
    PanelR->setObjectName(QStringLiteral("PanelR"));
    BuildButtons();
    BuildSlots();
    BuildSliders();

    PanelSave = new TPanel(PanelR, kStyleFace);
    PanelSave->setObjectName(QStringLiteral("PanelSave"));
    PanelSave->setGeometry(0, 647, kRightColumnWidth, 46);
    BtSaveImg = MakeButton(PanelSave, "BtSaveImg", QString(), 9, 3, 208, 36);
    QFont bold = BtSaveImg->font();
    bold.setBold(true);
    BtSaveImg->setFont(bold);
    BtSaveImg->setEnabled(false);
    BtExit = MakeButton(PanelSave, "BtExit", QString(), 223, 3, 52, 36);
    BtExit->setToolTip(QStringLiteral("Esci"));
    connect(BtSaveImg, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtSaveImgClick(); }); });
    connect(BtExit, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtExitClick(); }); });

    // The six glyphs, in the order of the image list.
    QPushButton* const glyphed[] = {BtScanNow, BtLoadImages, BtResetImg, BtOptions, BtSaveImg, BtExit};
    for (int i = 0; i < 6; ++i) {
        QIcon icon(QPixmap::fromImage(Art::Glyph(i)));
        if (glyphed[i] == BtResetImg) {
            // A disabled reset button shows only the greyed glyph drawn over it.
            QPixmap none(28, 28);
            none.fill(Qt::transparent);
            icon.addPixmap(none, QIcon::Disabled);
        }
        glyphed[i]->setIcon(icon);
        glyphed[i]->setIconSize(QSize(28, 28));
    }

    RegisterCursors();
    BuildGuidePanel();
    BuildBarsAndPreview();

    TimerH = new TTagTimer(this);
    TimerH->setInterval(120);
    connect(TimerH, &QTimer::timeout, this, [this] { TimerHTimer(); });

    CreateView();
    CreateScanCommands();
    InstallBatchCommand();
    BuildStatusStrip();
    SetupAccess();
    FormResize();
    BtResetImg->setEnabled(false);
    BtResetDisGlyph->setVisible(true);
    qApp->installEventFilter(this);
}

void TFormCrop::FormResize()
{
    const int w = width();
    const int h = height();
    PanelR->setGeometry(w - kRightColumnWidth, 0, kRightColumnWidth, h);
    PanelImage->setGeometry(kImageMarginLeft, 0, w - kRightColumnWidth - kImageMarginLeft - kImageMarginRight, h);
    // The status strip takes the foot of the image panel; the view the rest.
    const int strip = Status ? TStatusStrip::kHeight : 0;
    if (ZSImage)
        ZSImage->setGeometry(0, 0, PanelImage->width(), PanelImage->height() - strip);
    if (Status)
        Status->setGeometry(0, PanelImage->height() - strip, PanelImage->width(), strip);
    if (PanelLogo) {
        PanelLogo->setGeometry(40, 10, 545, h - 40);
        if (auto* foot = PanelLogo->findChild<QWidget*>(QStringLiteral("GuideFoot")))
            foot->move(0, PanelLogo->height() - foot->height());
    }

    PanelPreviewBw->move(PanelImage->width() - PanelPreviewBw->width() + 25, PanelPreviewBw->y());
    PlaceBars();
    GlueToolbar();
}

void TFormCrop::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), ToQColor(Color));
}

void TFormCrop::PlaceBars()
{
    const int iw = PanelImage->width();
    PnhScanner->move(iw + 14, PnhScanner->y());
    PnhFile->move(iw + 156, PnhFile->y());
    for (TPanel* b : {PnhFoto, PnhFirma, PnhRitocco, PnhSalva})
        b->move(iw + 14, b->y());
    for (TPanel* b : {PnhScanner, PnhFile, PnhFoto, PnhFirma, PnhRitocco, PnhSalva})
        b->raise();
    PanelPreviewBw->raise();
}
