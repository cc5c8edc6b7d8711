// The main window as a user drives it: layout after resizing, keys, wheel,
// guide panel, links, the caption, closing.

#include "app_fixture.h"

#include "app/U_Cropping_Keys.h"
#include "app/U_Cropping_Status.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>

#include "view/KeyState.h"

TEST_F(AppFixture, StartStateAndLayoutFollowTheWindowSize)
{
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("  Corvanta   |   Lodrevan"));
    EXPECT_EQ(Form->minimumSize(), QSize(900, 700));
    EXPECT_FALSE(Form->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(Form->PanelLogo->isVisible());
    EXPECT_TRUE(Form->ImgFoto->isVisible());
    EXPECT_TRUE(Form->ImgFirma->isVisible());
    EXPECT_EQ(Sel()->SelectionRatio, srNone);
    EXPECT_EQ(Form->ShapeFoto->PenColor(), 0xE0E0E0u);
    EXPECT_EQ(Form->ShapeFirma->PenColor(), 0xE0E0E0u);
    EXPECT_FALSE(Form->BtSaveImg->isEnabled());
    EXPECT_TRUE(Form->BtSaveImg->text().isEmpty());
    // Without a list or a last scan the reset button is off and its greyed glyph shows.
    EXPECT_FALSE(Form->BtResetImg->isEnabled());
    EXPECT_TRUE(Form->BtResetDisGlyph->isVisible());
    for (int tag = 1; tag <= 6; ++tag)
        EXPECT_FALSE(Form->HighlightBar(tag)->isVisible()) << tag;

    Form->resize(1100, 800);
    QCoreApplication::processEvents();
    // Image panel: 3 pixels in from the left, 8 before the 290-pixel column.
    EXPECT_EQ(Form->PanelImage->geometry(), QRect(3, 0, 799, 800));
    EXPECT_EQ(Form->PanelR->geometry(), QRect(810, 0, 290, 800));
    EXPECT_EQ(View()->size(), QSize(799, 800 - TStatusStrip::kHeight));
    EXPECT_EQ(Form->PanelLogo->geometry(), QRect(40, 10, 545, 760));
    EXPECT_EQ(Form->PnhScanner->x(), 799 + 14);
    EXPECT_EQ(Form->PnhFile->x(), 799 + 156);
    for (TPanel* b : {Form->PnhFoto, Form->PnhFirma, Form->PnhRitocco, Form->PnhSalva})
        EXPECT_EQ(b->x(), 799 + 14);
    EXPECT_EQ(Form->PanelPreviewBw->x(), 799 - 268 + 25);
    // The slots stay where the column puts them, whatever the window's size.
    EXPECT_EQ(Form->OrImageFoto->mapTo(Form.get(), QPoint(0, 0)), QPoint(810 + 13, 88 + 4));
    EXPECT_EQ(Form->OrImageFirma->mapTo(Form.get(), QPoint(0, 0)), QPoint(810 + 25, 88 + 334));
    EXPECT_EQ(Form->BtSaveImg->mapTo(Form.get(), QPoint(0, 0)), QPoint(810 + 9, 647 + 3));
}

TEST_F(AppFixture, EscapeAsksAndOnlyYesCloses)
{
    Answer = false;
    PressKey(Qt::Key_Escape);
    ASSERT_EQ(Questions, QStringList{QStringLiteral("Si intende uscire dal programma?")});
    EXPECT_TRUE(Form->isVisible());

    Answer = true;
    PressKey(Qt::Key_Escape);
    EXPECT_FALSE(Form->isVisible());
}

TEST_F(AppFixture, ClosingStoresThePositionAndSize)
{
    Form->setGeometry(120, 80, 950, 740);
    Form->close();
    QSettings ini(IniFileName, QSettings::IniFormat);
    EXPECT_EQ(ini.value(QStringLiteral("FormCrop/WIDTH")).toInt(), Form->frameGeometry().width());
    EXPECT_EQ(ini.value(QStringLiteral("FormCrop/HEIGHT")).toInt(), Form->frameGeometry().height());
    EXPECT_TRUE(ini.contains(QStringLiteral("FormCrop/TOP")));
    EXPECT_TRUE(ini.contains(QStringLiteral("FormCrop/LEFT")));
}

TEST_F(AppFixture, DigitAndFunctionKeysChooseTheSameModes)
{
    LoadForm();
    for (Qt::Key key : {Qt::Key_1, Qt::Key_F1}) {
        Form->BtResetImgClick();
        ASSERT_EQ(Sel()->SelectionRatio, srNone);
        PressKey(key);
        EXPECT_EQ(Sel()->SelectionRatio, srFoto) << key;
        EXPECT_EQ(Form->ShapeFoto->PenColor(), clProgramGreen);
        EXPECT_EQ(Form->ShapeFirma->PenColor(), 0xE0E0E0u);
        EXPECT_EQ(View()->StretchFactor(), 1.0);
        EXPECT_TRUE(Sel()->SelectionExist());
    }
    for (Qt::Key key : {Qt::Key_2, Qt::Key_F2}) {
        Form->BtResetImgClick();
        PressKey(key);
        EXPECT_EQ(Sel()->SelectionRatio, srFirma) << key;
        EXPECT_EQ(Form->ShapeFoto->PenColor(), 0xE0E0E0u);
        EXPECT_EQ(Form->ShapeFirma->PenColor(), clProgramGreen);
        const TRect r = Sel()->GetSelRect();
        EXPECT_EQ(r.Right - r.Left, 235);
        EXPECT_EQ(r.Bottom - r.Top, 46);
    }
    // A digit of the numeric pad is another key.
    Form->BtResetImgClick();
    PressKey(Qt::Key_1, Qt::KeypadModifier);
    EXPECT_EQ(Sel()->SelectionRatio, srNone);
}

TEST_F(AppFixture, LettersActOnReleaseAndFocusTheSliders)
{
    int asked = 0;
    Form->ChoosePictureFiles = [&] {
        ++asked;
        return QStringList();
    };
    AppTest::Key(KeyTarget(), Qt::Key_F, true);
    EXPECT_EQ(asked, 0);
    AppTest::Key(KeyTarget(), Qt::Key_F, false);
    EXPECT_EQ(asked, 1);
    // A held key repeats its press, never its release.
    AppTest::Key(KeyTarget(), Qt::Key_F, true);
    QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_F, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(KeyTarget(), &repeat);
    EXPECT_EQ(asked, 1);

    const std::pair<Qt::Key, QSlider*> focusKeys[] = {{Qt::Key_L, Form->pBarLight},
                                                      {Qt::Key_C, Form->pBarContr},
                                                      {Qt::Key_T, Form->pBarDark},
                                                      {Qt::Key_E, Form->pBarColor},
                                                      {Qt::Key_D, Form->pBarSharpness}};
    for (const auto& [key, slider] : focusKeys) {
        PressKey(key);
        EXPECT_TRUE(slider->hasFocus()) << slider->objectName().toStdString();
    }

    // The arrows move the focused slider one step and it stops at its ends.
    PressKey(Qt::Key_L);
    PressKey(Qt::Key_Right);
    EXPECT_EQ(Form->pBarLight->value(), 1);
    EXPECT_EQ(Form->LbLigh->text(), QStringLiteral("1"));
    PressKey(Qt::Key_Left);
    PressKey(Qt::Key_Left);
    EXPECT_EQ(Form->pBarLight->value(), -1);
    PressKey(Qt::Key_D);
    for (int i = 0; i < 5; ++i)
        PressKey(Qt::Key_Right);
    EXPECT_EQ(Form->pBarSharpness->value(), 3);
    EXPECT_EQ(Form->pBarLight->value(), -1);

    // R does nothing while the reset button is disabled.
    int loads = 0;
    Form->ChoosePictureFiles = [&] {
        ++loads;
        return QStringList();
    };
    ASSERT_FALSE(Form->BtResetImg->isEnabled());
    PressKey(Qt::Key_R);
    EXPECT_TRUE(Form->PanelLogo->isVisible());
}

TEST_F(AppFixture, WheelWalksQuarterStepsBetweenAQuarterAndTwo)
{
    // Empty view: refused, not handled.
    EXPECT_FALSE(AppTest::Wheel(View(), -120));
    LoadForm();
    // Fit mode: refused, not handled.
    EXPECT_EQ(View()->StretchFactor(), 0.0);
    EXPECT_FALSE(AppTest::Wheel(View(), 120));
    EXPECT_EQ(View()->StretchFactor(), 0.0);

    Form->ImpostaZoom(1);
    EXPECT_TRUE(AppTest::Wheel(View(), -120)); // handled although refused
    EXPECT_EQ(View()->StretchFactor(), 0.25);
    EXPECT_TRUE(AppTest::Wheel(View(), 120));
    EXPECT_EQ(View()->StretchFactor(), 0.5);
    for (int i = 0; i < 10; ++i)
        AppTest::Wheel(View(), 120);
    EXPECT_EQ(View()->StretchFactor(), 2.0);
    EXPECT_TRUE(AppTest::Wheel(View(), -120));
    EXPECT_EQ(View()->StretchFactor(), 1.75);

    // In photo mode a wheel step keeps the mode but removes the frame.
    PressKey(Qt::Key_1);
    ASSERT_TRUE(Sel()->SelectionExist());
    AppTest::Wheel(View(), -120);
    EXPECT_EQ(Sel()->SelectionRatio, srFoto);
    EXPECT_FALSE(Sel()->SelectionExist());
    EXPECT_EQ(Form->BtSaveImg->text(), QStringLiteral("RITAGLIA"));
    EXPECT_FALSE(Form->BtSaveImg->isEnabled());
}

TEST_F(AppFixture, GuideBarsBlinkWhileTheMouseIsOnATaggedLabel)
{
    THoverLabel scanner(QStringLiteral("scanner"), Form->PanelLogo, 1);
    THoverLabel scannerText(QStringLiteral("- usando"), Form->PanelLogo, 1);
    THoverLabel untagged(QStringLiteral("ACQUISIZIONE"), Form->PanelLogo, 0);

    Form->LabelHMouseMove(&scanner);
    EXPECT_EQ(Form->TimerH->Tag, 1);
    EXPECT_TRUE(Form->TimerH->Enabled());
    EXPECT_EQ(Form->TimerH->interval(), 120);
    const int id = Form->TimerH->timerId();
    // Moving on the same label does not restart the period.
    Form->LabelHMouseMove(&scanner);
    EXPECT_EQ(Form->TimerH->timerId(), id);

    Form->TimerHTimer();
    EXPECT_TRUE(Form->PnhScanner->isVisible());
    Form->TimerHTimer();
    EXPECT_FALSE(Form->PnhScanner->isVisible());
    Form->TimerHTimer();

    // From the keyword to its text line: the leave hides every bar, the move resumes the blinking.
    Form->LabelHMouseLeave(&scanner);
    EXPECT_FALSE(Form->PnhScanner->isVisible());
    EXPECT_EQ(Form->TimerH->Tag, 0);
    Form->LabelHMouseMove(&scannerText);
    EXPECT_EQ(Form->TimerH->Tag, 1);
    Form->TimerHTimer();
    EXPECT_TRUE(Form->PnhScanner->isVisible());

    // Leaving for an untagged area: all bars off at once, the next tick stops the timer.
    Form->LabelHMouseLeave(&scannerText);
    EXPECT_FALSE(Form->PnhScanner->isVisible());
    EXPECT_TRUE(Form->TimerH->Enabled());
    Form->TimerHTimer();
    EXPECT_FALSE(Form->TimerH->Enabled());
    EXPECT_FALSE(Form->PnhScanner->isVisible());

    // A label without a tag never starts the timer.
    Form->LabelHMouseMove(&untagged);
    EXPECT_FALSE(Form->TimerH->Enabled());

    // Each tag has its own bar.
    for (int tag = 1; tag <= 6; ++tag) {
        THoverLabel l(QStringLiteral("x"), Form->PanelLogo, tag);
        Form->LabelHMouseMove(&l);
        Form->TimerHTimer();
        for (int other = 1; other <= 6; ++other)
            EXPECT_EQ(Form->HighlightBar(other)->isVisible(), other == tag) << tag << " " << other;
        Form->LabelHMouseLeave(&l);
    }
}

TEST_F(AppFixture, LinksOpenTheirAddressesAndAMissingManualGreysItsLabel)
{
    QStringList messages;
    Form->ShowMessage = [&](const QString& text) { messages << text; };
    QFile::remove(Form->ManualFileName());
    Form->Label11Click();
    EXPECT_TRUE(Opened.isEmpty());
    EXPECT_FALSE(Form->Label11->isEnabled());
    EXPECT_EQ(Form->Label11->FontColor(), clSilver);
    // The user is told which file is missing and where it was sought.
    ASSERT_EQ(messages.size(), 1);
    const QString name = QFileInfo(Form->ManualFileName()).fileName();
    EXPECT_TRUE(messages[0].startsWith(QString::fromUtf8("Il manuale d'uso non è installato"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(name + QStringLiteral(" non si trova né in ") +
                                     QDir::toNativeSeparators(QCoreApplication::applicationDirPath())))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("share/doc/corvanta."))) << messages[0].toStdString();

    Form->Label3Click();
    Form->Label4Click();
    ASSERT_EQ(Opened.size(), 2);
    EXPECT_TRUE(Opened[0].startsWith(QStringLiteral("https://")));
    EXPECT_TRUE(Opened[1].startsWith(QStringLiteral("mailto:")));

    // Hover colours: green on the links, back to white (web) or silver (mail).
    Form->Label3->OnMouseMove(Form->Label3);
    EXPECT_EQ(Form->Label3->FontColor(), clProgramGreen);
    Form->Label3->OnMouseLeave(Form->Label3);
    EXPECT_EQ(Form->Label3->FontColor(), clWhite);
    Form->Label4->OnMouseMove(Form->Label4);
    Form->Label4->OnMouseLeave(Form->Label4);
    EXPECT_EQ(Form->Label4->FontColor(), clSilver);
}

TEST_F(AppFixture, CaptionDoubleClickMinimisesInsteadOfMaximising)
{
    QMouseEvent dbl(QEvent::NonClientAreaMouseButtonDblClick, QPointF(10, -10), QPointF(10, -10),
                    QPointF(Form->mapToGlobal(QPoint(10, -10))), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &dbl);
    EXPECT_FALSE(Form->isMaximized());
    EXPECT_TRUE(Form->windowState().testFlag(Qt::WindowMinimized));
}

TEST_F(AppFixture, SpaceArmsPanningWithTheGrabbingHand)
{
    // Without a picture the space bar is left alone.
    PressKey(Qt::Key_Space);
    LoadForm();
    PressKey(Qt::Key_1);
    AppTest::Key(KeyTarget(), Qt::Key_Space, true);
    EXPECT_EQ(Sel()->cursor().shape(), Cursors::Get(5).shape());
    EXPECT_EQ(Sel()->cursor().pixmap().cacheKey(), Cursors::Get(5).pixmap().cacheKey());
    // The view still learns that the pan key is down.
    EXPECT_TRUE(KeyState::IsKeyHeld(VK_SPACE));
    AppTest::Key(KeyTarget(), Qt::Key_Space, false);
    EXPECT_FALSE(KeyState::IsKeyHeld(VK_SPACE));
}

TEST_F(AppFixture, ToolbarFollowsTheWindowAndItsKeysNeedItVisible)
{
    LoadForm();
    PressKey(Qt::Key_1);
    ASSERT_TRUE(FormTBack->isVisible());
    Form->move(Form->x() + 30, Form->y() + 20);
    QCoreApplication::processEvents();
    const QRect outer = Form->frameGeometry();
    EXPECT_EQ(FormTBack->pos(), QPoint(outer.x() + 18, outer.y() + 33));
    EXPECT_EQ(FormTBack->width(), Form->PanelImage->width() - 18);

    // Loading a picture hides the toolbar.
    Form->BtLoadImagesClick();
    EXPECT_FALSE(FormTBack->isVisible());
}

TEST_F(AppFixture, QuestionsHaveItalianButtons)
{
    QStringList captions;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        captions << box->text();
        for (QAbstractButton* b : box->buttons())
            captions << b->text();
        box->button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(AskYesNo(Form.get(), QStringLiteral("Si intende uscire dal programma?")));
    EXPECT_TRUE(captions.contains(QStringLiteral("Si intende uscire dal programma?")));
    EXPECT_TRUE(captions.contains(QString::fromUtf8("S\u00ec")));
    EXPECT_TRUE(captions.contains(QStringLiteral("No")));
}

TEST_F(AppFixture, EveryTaggedGuideLabelDrivesItsBarThroughRealMouseEvents)
{
    QMap<int, int> labelsPerTag;
    for (THoverLabel* l : Form->PanelLogo->findChildren<THoverLabel*>()) {
        if (l->Tag == 0)
            continue;
        ++labelsPerTag[l->Tag];
        AppTest::Move(l, QPoint(2, 2), Qt::NoButton);
        EXPECT_EQ(Form->TimerH->Tag, l->Tag) << l->text().toStdString();
        EXPECT_TRUE(Form->TimerH->Enabled());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(l, &leave);
        EXPECT_EQ(Form->TimerH->Tag, 0);
    }
    // scanner, file, foto and firma have a keyword and a text; the two saving lines one each.
    const QMap<int, int> expected{{1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 1}, {6, 1}};
    EXPECT_EQ(labelsPerTag, expected);
}

TEST_F(AppFixture, ExistingManualOpensFromItsLink)
{
    const QString manual = Form->ManualFileName();
    EXPECT_TRUE(manual.endsWith(QStringLiteral(".pdf")));
    QFile f(manual);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    QStringList messages;
    Form->ShowMessage = [&](const QString& text) { messages << text; };
    Form->Label11Click();
    EXPECT_EQ(Opened, QStringList{manual});
    EXPECT_TRUE(Form->Label11->isEnabled());
    EXPECT_TRUE(messages.isEmpty());

    // No program for PDF files on this desktop: said in Italian, naming the file; the
    // label stays usable for when one is installed.
    LauncherFound = false;
    Form->Label11Click();
    QFile::remove(manual);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QString::fromUtf8("Nessun programma di questo computer può aprire il manuale"
                                                         " d'uso, il file ") +
                                       QDir::toNativeSeparators(manual)))
        << messages[0].toStdString();
    EXPECT_TRUE(Form->Label11->isEnabled());
}
