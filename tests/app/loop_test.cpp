// The clerk's loop as a user meets it: the status strip's texts, the question
// before a file is replaced, a whole job by keyboard alone, undo and redo, and
// the names a screen reader reads.

#include "app_fixture.h"
#include "common/AppViewTestUtils.h"

#include "app/U_Cropping_Save.h"
#include "app/U_Cropping_Status.h"
#include "app/U_fOut.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>

namespace {

class LoopTest : public ProgramFixture {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EnterHome());
        ASSERT_NO_FATAL_FAILURE(OpenProgram());
        Form->AskConfirmation = [this](const QString& q) {
            Questions << q;
            return Answer;
        };
        Form->OpenUrl = [this](const QString& u) {
            Opened << u;
            return true;
        };
        ASSERT_NO_FATAL_FAILURE(SetOutputFolder());
        FormOptions->CkMinSizeSel->setChecked(false);
        ASSERT_TRUE(FormOptions->CkCropMouseUp->isChecked());
    }

    void Load() { LoadForm(kDpi); }
    void Press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        PressKey(key, mods);
        ++Keys;
    }
    TRect Frame() const { return NormalizeRect(Form->ZSImage->Selection()->GetSelRect()); }
    TRect Area() const
    {
        TRect area, onView;
        EXPECT_TRUE(Form->ZSImage->GetSelection(area, onView));
        return area;
    }
    QString Strip() const { return Form->Status->MessageText(); }

    static constexpr int kDpi = 150;
    QStringList Questions, Opened;
    bool Answer = false;
    int Keys = 0;
};

} // namespace

TEST_F(LoopTest, StripSaysTheNextStepTheViewAndTheFrame)
{
    TStatusStrip* s = Form->Status;
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->isVisible());
    // Inside the window, under the view, as wide as the image panel.
    EXPECT_EQ(s->geometry().bottom(), Form->PanelImage->height() - 1);
    EXPECT_EQ(Form->ZSImage->geometry().bottom() + 1, s->geometry().top());
    EXPECT_EQ(s->StepText(), QStringLiteral("Premere S per acquisire dallo scanner o F per aprire un file"));

    Load();
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Corvanta — modulo.png"));
    EXPECT_EQ(s->StepText(), QStringLiteral("Fare clic sul volto per inquadrare la foto"));
    EXPECT_TRUE(s->ViewText().endsWith(QStringLiteral("(adattato) · Rotazione 0°"))) << s->ViewText().toStdString();
    EXPECT_TRUE(s->FrameText().isEmpty());

    AppTest::ClickPicture(Form->ZSImage, AppTest::FormPhotoRect(kDpi).center());
    ASSERT_EQ(Form->Mode(), srFoto);
    EXPECT_EQ(s->ViewText(), QStringLiteral("Zoom 100% · Rotazione 0°"));
    // 260 picture pixels across 33 mm: 200 dots per inch, nothing enlarged.
    EXPECT_EQ(s->FrameText(), QStringLiteral("Riquadro 260 × 315 px → uscita 260 × 315 px · 200 dpi"));
    EXPECT_TRUE(s->WarningText().isEmpty());
    // The first crop enables the save button at once (it used to wait for a mouse move).
    EXPECT_TRUE(Form->BtSaveImg->isEnabled());
    EXPECT_EQ(s->StepText(), QStringLiteral("Invio per salvare la foto · frecce per spostare il riquadro"));

    // A frame 100 pixels narrower holds 160 pixels for 260: enlarged 1.6 times.
    AppTest::ShrinkFrame(Form->ZSImage, 100, 0);
    const TRect a = Area();
    ASSERT_EQ(a.Right - a.Left, 160);
    EXPECT_EQ(s->FrameText(), QStringLiteral("Riquadro 160 × %1 px → uscita 260 × 315 px · 123 dpi").arg(a.Bottom - a.Top));
    EXPECT_EQ(s->WarningText(),
              QStringLiteral("ingrandimento 1,6×: la foto risulterà sfocata; scansionare a risoluzione più alta"));

    // The turn shows in the strip.
    Press(Qt::Key_PageDown);
    EXPECT_EQ(s->ViewText(), QStringLiteral("Zoom 100% · Rotazione 1°"));
    Press(Qt::Key_PageUp);
    Press(Qt::Key_PageUp);
    EXPECT_EQ(s->ViewText(), QStringLiteral("Zoom 100% · Rotazione -1°"));

    // A report longer than the strip keeps its start and its end on screen,
    // and the whole of it in the tooltip, beside the link.
    const QString name = QStringLiteral("/MoltoLunga").repeated(30) + QStringLiteral("/RossiFoto.jpg");
    s->ShowMessage(QStringLiteral("Salvato ") + name, QStringLiteral("Apri cartella"), [] {});
    auto* line = s->findChild<QLabel*>(QStringLiteral("StatusMessage"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(s->MessageText(), QStringLiteral("Salvato ") + name);
    EXPECT_TRUE(line->text().startsWith(QStringLiteral("Salvato /MoltoLunga")));
    EXPECT_TRUE(line->text().endsWith(QStringLiteral("RossiFoto.jpg")));
    EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->width());
    EXPECT_EQ(line->toolTip(), s->MessageText());
    EXPECT_LE(line->geometry().right(), s->findChild<QLabel*>(QStringLiteral("StatusLink"))->geometry().left());
}

// The whole job without the mouse: page loaded, photo framed and moved, saved,
// signature framed, saved; then the photo again, whose file exists.
TEST_F(LoopTest, KeyboardAloneFramesAndSavesBothAndAsksBeforeReplacing)
{
    Load();
    Press(Qt::Key_1);
    ASSERT_EQ(Form->Mode(), srFoto);
    const TRect placed = Frame();
    Press(Qt::Key_Right, Qt::ShiftModifier);
    Press(Qt::Key_Down);
    EXPECT_EQ(Frame(), TRect(placed.Left + 10, placed.Top + 1, placed.Right + 10, placed.Bottom + 1));
    // Alt sizes the photo frame in its proportion.
    Press(Qt::Key_Left, Qt::AltModifier | Qt::ShiftModifier);
    const TRect sized = Frame();
    EXPECT_EQ(sized.Right - sized.Left, placed.Right - placed.Left - 10);
    EXPECT_EQ(sized.Bottom - sized.Top, qRound((sized.Right - sized.Left) * 314.0 / 259.0));
    // The key's release cut the crop: exactly what the frame covers.
    const TRect a = Area();
    EXPECT_TRUE(Form->BmpFotoBuffer1 ==
                CropAndResizeFotoPixels(CopyArea(Form->ZSImage->OrigBitmap(), a)).convertToFormat(QImage::Format_BGR888));
    ASSERT_TRUE(Form->BtSaveImg->isEnabled());

    NameDialogAnswer photo([](TFormFileOut* d) {
        QTest::keyClicks(d->EdFileOut, QStringLiteral("Rossi"));
        QTest::keyClick(d->EdFileOut, Qt::Key_Return);
    });
    Form->setFocus();
    Press(Qt::Key_Return);
    Keys += 6; // R o s s i and Enter in the dialog
    ASSERT_EQ(photo.Shown, 1);
    EXPECT_EQ(photo.Folder, QStringLiteral("Cartella: ") + QDir::toNativeSeparators(Out + QLatin1Char('/')));
    const QString fotoFile = Out + QStringLiteral("/RossiFoto.jpg");
    ASSERT_TRUE(QFileInfo::exists(fotoFile)) << Messages.join('\n').toStdString();
    const qint64 fotoBytes = QFileInfo(fotoFile).size();
    EXPECT_TRUE(Strip().startsWith(QStringLiteral("Salvato RossiFoto.jpg in uscita: %1 byte su 34 990 · 260 × 315 px · 200 dpi · qualità ")
                                       .arg(GroupedNumber(fotoBytes))))
        << Strip().toStdString();
    Form->Status->ActivateLink();
    EXPECT_EQ(Opened, QStringList{QFileInfo(fotoFile).absolutePath()});

    Press(Qt::Key_2);
    ASSERT_EQ(Form->Mode(), srFirma);
    Press(Qt::Key_Up, Qt::ShiftModifier);
    Press(Qt::Key_Right, Qt::AltModifier); // the signature frame is free: only the width grows
    NameDialogAnswer sig([](TFormFileOut* d) { QTest::keyClick(d->EdFileOut, Qt::Key_Return); });
    Press(Qt::Key_Return);
    Keys += 1;
    ASSERT_EQ(sig.Shown, 1);
    EXPECT_EQ(sig.Names, QStringLiteral("Sarà scritto: RossiFirma.jpg"));
    EXPECT_TRUE(QFileInfo::exists(Out + QStringLiteral("/RossiFirma.jpg")));
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
    EXPECT_EQ(Keys, 16); // the whole job by keyboard (the file dialog's own keys aside)

    // The photo again: its file exists, so the program asks; No writes nothing.
    Press(Qt::Key_1);
    Press(Qt::Key_Right);
    const QByteArray before = [&] { QFile f(fotoFile); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    NameDialogAnswer again([](TFormFileOut* d) { QTest::keyClick(d->EdFileOut, Qt::Key_Return); });
    Answer = false;
    Press(Qt::Key_Return);
    ASSERT_EQ(again.Shown, 1);
    EXPECT_EQ(Questions, QStringList{QStringLiteral("Il file RossiFoto.jpg esiste già. Sostituirlo?")});
    QFile f(fotoFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    EXPECT_EQ(Strip(), QStringLiteral("Nessun file salvato: RossiFoto.jpg è rimasto com'era."));
}

TEST_F(LoopTest, UndoAndRedoRestoreFrameAngleSlidersAndSlot)
{
    Load();
    Press(Qt::Key_1);
    const TRect frame0 = Frame();
    const QImage crop0 = Form->BmpFotoBuffer1;
    const QImage view0 = Form->ZSImage->OrigBitmap().copy();
    const TRect shown0 = Form->ZSImage->OrigBitmapRect();

    Press(Qt::Key_Right, Qt::ShiftModifier); // frame moved and cut again: one step
    Press(Qt::Key_PageDown);                 // turned 1 degree
    Press(Qt::Key_PageDown);                 // and 2
    Press(Qt::Key_L);                        // brightness slider takes the focus
    Press(Qt::Key_Right);
    Press(Qt::Key_Right);
    // Page keys turn the picture only; the focused slider stays.
    Press(Qt::Key_PageUp);
    EXPECT_EQ(Form->pBarLight->value(), 2);
    EXPECT_EQ(Form->gradiRot, 1);
    const TRect frame1 = Frame();
    const QImage view1 = Form->ZSImage->OrigBitmap().copy();
    const QImage slot1 = Form->OrImageFoto->Picture()->Graphic().copy();

    for (int i = 0; i < 6; ++i)
        Press(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Frame(), frame0);
    EXPECT_EQ(Form->gradiRot, 0);
    EXPECT_EQ(Form->pBarLight->value(), 0);
    EXPECT_EQ(Form->OrImageFoto->PicBrightness(), 0);
    EXPECT_EQ(Form->ZSImage->OrigBitmapRect(), shown0);
    EXPECT_TRUE(Form->ZSImage->OrigBitmap() == view0);
    EXPECT_TRUE(Form->BmpFotoBuffer1 == crop0);
    // Nothing further back than the loaded page's first frame... but the load itself.
    Press(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(Form->ZSImage->Selection()->SelectionExist());
    Press(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(Frame(), frame0);

    for (int i = 0; i < 4; ++i)
        Press(Qt::Key_Y, Qt::ControlModifier);
    Press(Qt::Key_Z, Qt::ShiftModifier | Qt::ControlModifier);
    Press(Qt::Key_Z, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(Frame(), frame1);
    EXPECT_EQ(Form->gradiRot, 1);
    EXPECT_EQ(Form->pBarLight->value(), 2);
    EXPECT_EQ(Form->LbLigh->text(), QStringLiteral("2"));
    EXPECT_TRUE(Form->ZSImage->OrigBitmap() == view1);
    EXPECT_TRUE(Form->OrImageFoto->Picture()->Graphic() == slot1);
}

TEST_F(LoopTest, EveryControlHasATooltipWithItsKeyAndAnAccessibleName)
{
    QWidget* const controls[] = {Form->BtScanNow, Form->BtLoadImages, Form->BtResetImg, Form->BtOptions,
                                 Form->OrImageFoto, Form->OrImageFirma, Form->ZSImage, Form->pBarLight,
                                 Form->pBarContr, Form->pBarDark, Form->pBarColor, Form->pBarSharpness,
                                 Form->BtSaveImg, Form->BtExit, Form->ImgPreviewBw};
    for (QWidget* w : controls) {
        const std::string name = w->objectName().toStdString();
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_TRUE(a->text(QAccessible::Description).contains(QStringLiteral("tast"))) << name; // tasto, tasti
        if (w != Form->ZSImage) { // no tooltip over the picture being framed
            EXPECT_EQ(a->text(QAccessible::Description), w->toolTip()) << name;
        }
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << name;
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(Form->BtExit)->text(QAccessible::Name), QStringLiteral("Esci"));
    // Tab walks the buttons, the view, the sliders, save and exit.
    Form->BtScanNow->setFocus();
    QStringList walked;
    for (int i = 0; i < 10; ++i) {
        walked << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    // Reset and save are disabled without a picture, so Tab passes them by.
    EXPECT_EQ(walked, (QStringList{"BtScanNow", "BtLoadImages", "BtOptions", "ZSImage", "pBarLight", "pBarContr",
                                   "pBarDark", "pBarColor", "pBarSharpness", "BtExit"}));
}

TEST_F(LoopTest, NoOutputFolderRefusesToSaveAndCtrlQAsksToExit)
{
    FormOptions->EdFilesOutput->setText(QString());
    FormOptions->ChangeFolders();
    EXPECT_TRUE(FormOptions->OutImgPath.isEmpty());
    Load();
    Press(Qt::Key_1);
    NameDialogAnswer photo([](TFormFileOut* d) {
        QTest::keyClicks(d->EdFileOut, QStringLiteral("Rossi"));
        QTest::keyClick(d->EdFileOut, Qt::Key_Return);
    });
    Form->setFocus();
    Press(Qt::Key_Return);
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].contains(QStringLiteral("cartella di uscita non impostata"))) << Messages[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/RossiFoto.jpg")));

    Answer = false;
    Press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(Questions, QStringList{QStringLiteral("Si intende uscire dal programma?")});
    EXPECT_TRUE(Form->isVisible());
}
