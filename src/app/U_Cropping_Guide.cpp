// The guide panel over the empty image area: the three steps of the work,
// labels that make the bar beside the matching control blink, and the links.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Art.h"

#include "config/U_Options.h"
#include "platform/InstallLayout.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

const QString TFormCrop::kWebAddress = QStringLiteral("https://www.lodrevan.example/corvanta");
const QString TFormCrop::kMailAddress = QStringLiteral("mailto:assistenza@lodrevan.example");

namespace {
constexpr TColor kHeading = 0xDCDCDC;
constexpr TColor kGuideFace = 0x262B25; // #252B26, a shade lighter than the panels around it

QFont GuideFont(const QFont& base, int px, bool bold)
{
    QFont f = base;
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}
} // namespace

void TFormCrop::BuildGuidePanel()
{
    PanelLogo = new TPanel(this, kGuideFace);
    PanelLogo->setObjectName(QStringLiteral("PanelLogo"));
    PanelLogo->setGeometry(40, 10, 545, height() - 40);
    const QFont big = GuideFont(font(), 15, true);
    const QFont small = GuideFont(font(), 12, false);

    auto label = [&](const QString& text, int x, int y, TColor color, int tag, const QFont& f) {
        auto* l = new THoverLabel(text, PanelLogo, tag);
        l->setFont(f);
        l->SetFontColor(color);
        l->adjustSize();
        l->move(x, y);
        if (tag != 0) {
            l->OnMouseMove = [this](THoverLabel* s) { LabelHMouseMove(s); };
            l->OnMouseLeave = [this](THoverLabel* s) { LabelHMouseLeave(s); };
        }
        return l;
    };
    auto marker = [&](int step, int y) {
        auto* m = new TImage(PanelLogo);
        m->setGeometry(22, y - 5, 30, 30);
        m->SetPicture(Art::StepMarker(step));
    };
    auto line = [&](const char* keyword, const char* text, int y, int tag) {
        label(QString::fromUtf8(keyword), 62, y, kHeading, tag, big);
        label(QString::fromUtf8(text), 144, y, clSilver, tag, big);
    };

    marker(1, 26);
    label(QStringLiteral("ACQUISIZIONE"), 62, 26, kHeading, 0, big);
    label(QString::fromUtf8("Selezionare la provenienza dell\u2019immagine da ritagliare:"), 22, 62, clSilver, 0, big);
    line("scanner", "- usando un dispositivo di acquisizione;", 90, 1);
    line("file", "- caricando il file da una cartella.", 114, 2);

    marker(2, 170);
    label(QStringLiteral("RITAGLIO"), 62, 170, kHeading, 0, big);
    label(QString::fromUtf8("Selezionare l'area e  la modalità di ritaglio:"), 22, 206, clSilver, 0, big);
    line("foto", "- vincolata al formato 33x40 mm;", 234, 3);
    line("firma", "- adattabile al formato 30x6 mm.", 258, 4);

    marker(3, 314);
    label(QStringLiteral("SALVATAGGIO"), 62, 314, kHeading, 0, big);
    label(QStringLiteral("Ritoccare se desiderato le immagini ottenute dal"), 22, 350, clSilver, 5, big);
    label(QStringLiteral("ritaglio e infine salvare."), 22, 374, clSilver, 6, big);

    THoverLabel* more = label(QStringLiteral("Per ulteriori dettagli consultare il"), 22, 430, clSilver, 0, big);
    Label11 = label(QStringLiteral("manuale d'uso"), 22 + more->width() + 5, 430, clWhite, 0, big);
    Label11->setObjectName(QStringLiteral("Label11"));
    Label11->setCursor(Qt::PointingHandCursor);
    Label11->OnClick = [this](THoverLabel*) { Label11Click(); };
    Label11->OnMouseMove = [](THoverLabel* s) { s->SetFontColor(clProgramGreen); };
    Label11->OnMouseLeave = [](THoverLabel* s) { s->SetFontColor(clWhite); };

    // The maker's block sits at the bottom and follows the panel's height.
    auto* foot = new QWidget(PanelLogo);
    foot->setObjectName(QStringLiteral("GuideFoot"));
    foot->setGeometry(0, PanelLogo->height() - 120, 545, 120);
    foot->setAttribute(Qt::WA_TranslucentBackground);
    auto* rule = new TPanel(foot, clProgramGreen);
    rule->setGeometry(22, 0, 501, 1);
    auto* logo = new TImage(foot);
    logo->setGeometry(22, 26, 200, 56);
    logo->SetPicture(Art::Render(Art::kLogo, QSize(200, 56)));
    auto footLabel = [&](const QString& text, int y, TColor color) {
        auto* l = new THoverLabel(text, foot);
        l->setFont(small);
        l->SetFontColor(color);
        l->adjustSize();
        l->move(240, y);
        return l;
    };
    footLabel(QStringLiteral("Lodrevan S.r.l. \u2013 Via dei Tigli 14, 40121 Bologna"), 16, clSilver);
    footLabel(QStringLiteral("Tel. 051 640 2210  \u00b7  Fax 051 640 2211"), 36, clSilver);
    Label3 = footLabel(QStringLiteral("www.lodrevan.example"), 60, clWhite);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setCursor(Qt::PointingHandCursor);
    Label3->OnClick = [this](THoverLabel*) { Label3Click(); };
    Label3->OnMouseMove = [](THoverLabel* s) { s->SetFontColor(clProgramGreen); };
    Label3->OnMouseLeave = [](THoverLabel* s) { s->SetFontColor(clWhite); };
    Label4 = footLabel(QStringLiteral("assistenza@lodrevan.example"), 80, clSilver);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->OnClick = [this](THoverLabel*) { Label4Click(); };
    Label4->OnMouseMove = [](THoverLabel* s) { s->SetFontColor(clProgramGreen); };
    Label4->OnMouseLeave = [](THoverLabel* s) { s->SetFontColor(clSilver); };

    PanelLogo->installEventFilter(this);
    OpenUrl = [](const QString& address) {
        const QUrl url = address.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(address) : QUrl(address);
        // True only says that a launcher took the address, not that the file opened.
        return QDesktopServices::openUrl(url);
    };
}

void TFormCrop::LabelHMouseMove(THoverLabel* Sender)
{
    TimerH->Tag = Sender->Tag >= 1 && Sender->Tag <= 6 ? Sender->Tag : 0;
    TimerH->SetEnabled(TimerH->Tag != 0);
}

void TFormCrop::LabelHMouseLeave(THoverLabel*)
{
    for (int tag = 1; tag <= 6; ++tag)
        HighlightBar(tag)->hide();
    TimerH->Tag = 0;
}

void TFormCrop::TimerHTimer()
{
    if (TPanel* bar = HighlightBar(TimerH->Tag)) {
        bar->setVisible(!bar->isVisible());
        return;
    }
    TimerH->Tag = 0;
    TimerH->SetEnabled(false);
}

void TFormCrop::Label11Click()
{
    const QString manual = ManualFileName();
    if (QFileInfo::exists(manual)) {
        // A desktop with no launcher for PDF files would otherwise answer the click with nothing.
        if (!OpenUrl(manual))
            Message(QString::fromUtf8("Nessun programma di questo computer può aprire il manuale d'uso, il file "
                                      "%1.\nInstallare un lettore di file PDF (per esempio Evince o Okular) "
                                      "oppure aprire il file da un altro computer.")
                        .arg(QDir::toNativeSeparators(manual)));
        return;
    }
    Label11->SetFontColor(clSilver);
    Label11->setEnabled(false);
    const QString name = QFileInfo(manual).fileName();
    const QStringList sought = ShippedFolders(name, TShippedFolder::Documentation);
    Message(QString::fromUtf8("Il manuale d'uso non è installato: il file %1 non si trova né in %2 né in %3.")
                .arg(name, sought.value(0), sought.value(1)));
}

void TFormCrop::Label3Click()
{
    // Whether a program took the address is not checked: the addresses are printed on the panel.
    OpenUrl(kWebAddress);
}

void TFormCrop::Label4Click()
{
    OpenUrl(kMailAddress);
}
