// What a user who cannot see the mouse, or cannot use one, needs: a tooltip
// naming the key of every control, a name and a description a screen reader
// reads, a Tab order through the controls with a visible focus mark, and the
// black-and-white preview answering a click as the photo slot does.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Startup.h"
#include "app/U_Cropping_Status.h"
#include "app/U_Cropping_Undo.h"

#include "retouch/OrImage.h"
#include "view/ZSImage.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace {
struct TNamed {
    QWidget* Widget;
    const char* Name;
    const char* Tip;
};

// A focus mark that stands out on the dark panels whatever the style sheet says.
const char* const kFocusMark = "QPushButton:focus { border: 2px solid #FFB000; }"
                               "QSlider:focus { border: 1px solid #FFB000; }";
} // namespace

void TFormCrop::SetupAccess()
{
    Undo = new TUndoHistory;
    const TNamed all[] = {
        {BtScanNow, "Scanner", "Acquisisce il modulo dallo scanner (tasto S)"},
        {BtLoadImages, "File", "Apre il file del modulo da una cartella (tasto F)"},
        {BtResetImg, "Reset", "Ricarica l'immagine com'era all'apertura (tasto R)"},
        {BtOptions, "Opzioni", "Apre le opzioni del programma (tasto O)"},
        {OrImageFoto, "Riquadro foto", "Inquadra la foto, 33 x 40 mm (tasto 1 o F1); clic destro o tasto 0: azzera il ritocco"},
        {ImgFoto, "Riquadro foto", "Inquadra la foto, 33 x 40 mm (tasto 1 o F1)"},
        {OrImageFirma, "Riquadro firma", "Inquadra la firma, 30 x 6 mm (tasto 2 o F2); clic destro o tasto 0: azzera il ritocco"},
        {ImgFirma, "Riquadro firma", "Inquadra la firma, 30 x 6 mm (tasto 2 o F2)"},
        {ImgPreviewBw, "Anteprima in bianco e nero", "Anteprima in bianco e nero della foto: un clic torna alla foto (tasto 1)"},
        {ZSImage, "Immagine del modulo",
         "Clic per inquadrare; tasti freccia: sposta il riquadro (Maiusc: 10 pixel), Alt+frecce: ridimensiona; "
         "barra spaziatrice: scorre; Ctrl+Z annulla, Ctrl+Y ripete"},
        {pBarLight, "Luminosità", "Luminosità del ritaglio (tasto L, poi frecce sinistra e destra)"},
        {pBarContr, "Contrasto", "Contrasto del ritaglio (tasto C, poi frecce sinistra e destra)"},
        {pBarDark, "Toni scuri", "Toni scuri del ritaglio (tasto T, poi frecce sinistra e destra)"},
        {pBarColor, "Colore", "Saturazione del colore del ritaglio (tasto E, poi frecce sinistra e destra)"},
        {pBarSharpness, "Definizione", "Definizione del ritaglio (tasto D, poi frecce sinistra e destra)"},
        {BtSaveImg, "Salva", "Ritaglia o salva il riquadro scelto (tasto Invio)"},
        {BtExit, "Esci", "Esce dal programma (tasto Esc o Ctrl+Q)"},
    };
    for (const TNamed& n : all) {
        const QString tip = QString::fromUtf8(n.Tip);
        // No tooltip over the picture: it would pop up over the frame being drawn
        // and over the slots; the view's keys are in its description.
        if (n.Widget != ZSImage)
            n.Widget->setToolTip(tip);
        n.Widget->setAccessibleName(QString::fromUtf8(n.Name));
        n.Widget->setAccessibleDescription(tip);
    }
    GrEditImg->setAccessibleName(QStringLiteral("Ritocco"));
    GrEditImg->setAccessibleDescription(QStringLiteral("I cinque cursori del ritocco del riquadro scelto"));
    for (int i = 0; i < 5; ++i) {
        SliderLabel(i)->setAccessibleName(Slider(i)->accessibleName() + QStringLiteral(": valore"));
        SliderLabel(i)->setAccessibleDescription(QStringLiteral("Il valore del cursore ") + Slider(i)->accessibleName());
    }
    setAccessibleName(QStringLiteral("Corvanta"));
    setAccessibleDescription(QStringLiteral("Ritaglio della foto e della firma dal modulo acquisito"));

    // Tab reaches the buttons only by the keyboard: a button that kept the
    // focus after a click would take the space bar that pans the picture.
    QWidget* const order[] = {BtScanNow, BtLoadImages, BtResetImg, BtOptions, ZSImage,  pBarLight,
                              pBarContr, pBarDark,     pBarColor,  pBarSharpness, BtSaveImg, BtExit};
    for (QWidget* w : order) {
        if (qobject_cast<QPushButton*>(w))
            w->setFocusPolicy(Qt::TabFocus);
        else if (qobject_cast<QSlider*>(w))
            w->setFocusPolicy(Qt::StrongFocus);
        else
            w->setFocusPolicy(Qt::StrongFocus);
        w->setStyleSheet(w->styleSheet() + QLatin1String(kFocusMark));
    }
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    ImgPreviewBw->OnClick = [this] { RunGuarded([this] { OrImageFotoClick(); }); };
    UpdateStatus();
}
