// The whole road of a scan over the real SANE test backend: scan command, our source
// manager and its dialog, memory transfer, 24-bit picture, "Scansione.bmp" and the view.

#include "ScanFixture.h"

#include "scan/ScanCommands.h"
#include "scan/TW_Apps.h"

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>

using namespace scantest;

class ScanPath : public ScanFixture {};

TEST_F(ScanPath, ColourScanAt200DpiMatchesScanimageAndReachesTheView)
{
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr) << boxes.All().toStdString();
    EXPECT_FALSE(window.buttonEnabled);
    // The module's settings preset the dialog.
    EXPECT_EQ(d->findChild<QSpinBox*>("EdResolution")->value(), 200);
    EXPECT_EQ(d->findChild<QComboBox*>("CbMode")->currentText(), "Colori");
    Click(d, "BtScan");
    ASSERT_TRUE(WaitClosed());
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.All().toStdString();

    const QImage ref = ScanimageReference(A4Colour200());
    ASSERT_FALSE(ref.isNull());
    ASSERT_EQ(window.loaded, QStringList{window.acqFile});
    const QImage& got = commands->imTwain();
    ASSERT_EQ(got.format(), QImage::Format_BGR888);
    EXPECT_EQ(got.size(), QSize(1653, 2338));
    EXPECT_EQ(got, ref);
    // The view is handed the picture, and "Scansione.bmp" holds the same.
    EXPECT_EQ(window.shown, ref);
    EXPECT_EQ(QImage(window.acqFile).convertToFormat(QImage::Format_BGR888), ref);
    EXPECT_TRUE(window.buttonEnabled);
    // The file states the scan's 200 dpi (7874 pixels per metre), not a screen's 96.
    QFile bmp(window.acqFile);
    ASSERT_TRUE(bmp.open(QIODevice::ReadOnly));
    const QByteArray header = bmp.read(54);
    ASSERT_EQ(header.size(), 54);
    int32_t ppm[2];
    std::memcpy(ppm, header.constData() + 38, 8);
    EXPECT_EQ(ppm[0], 7874);
    EXPECT_EQ(ppm[1], 7874);
}

namespace {

// A grey reference with its level in all three channels, as our picture holds it.
QImage GreyReference(const QStringList& extra = {})
{
    return ScanimageReference(QStringList{"--mode", "Gray", "--depth", "8", "--resolution", "200", "-l", "0", "-t",
                                          "0", "-x", "210", "-y", "297"} + extra);
}

} // namespace

TEST_F(ScanPath, GreyIsAskedForOnlyInTheSignatureModeWithTheOptionChecked)
{
    struct Case {
        bool greyFirma, signature;
        const char* mode;
    };
    for (const Case c : {Case{true, false, "Colori"}, Case{false, true, "Colori"}, Case{true, true, "Scala di grigi"}}) {
        window.greyFirma = c.greyFirma;
        window.signatureMode = c.signature;
        QDialog* d = OpenSourceDialog();
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->findChild<QComboBox*>("CbMode")->currentText(), c.mode) << c.greyFirma << c.signature;
        Click(d, "BtAnnulla");
        ASSERT_TRUE(WaitClosed());
    }
}

TEST_F(ScanPath, GreyScanMatchesScanimage)
{
    window.greyFirma = window.signatureMode = true;
    ScanAndWait();
    const QImage ref = GreyReference();
    ASSERT_FALSE(ref.isNull());
    EXPECT_EQ(commands->imTwain(), ref);
    EXPECT_EQ(window.shown, ref);
    EXPECT_EQ(QImage(window.acqFile).convertToFormat(QImage::Format_BGR888), ref);
}

TEST_F(ScanPath, ResolutionTextRules)
{
    // "abc" asks for 200, "0" asks for nothing (the device keeps its own 200 and colour
    // although grey is wanted), 5000 beyond the device's range is said in Italian and
    // its nearest resolution taken, with the grey still asked for, and a plain number is
    // taken as it is.
    ScanAndWait();  // the test device keeps its last settings: start from colour, 200 dpi
    window.greyFirma = window.signatureMode = true;
    struct Case {
        const char* text;
        int dpi;
        const char* mode;
        const char* note;
    };
    for (const Case c : {Case{"0", 200, "Colori", ""}, Case{"5000", 1200, "Scala di grigi", "5000 dpi"},
                         Case{"abc", 200, "Scala di grigi", ""}, Case{"150", 150, "Scala di grigi", ""}}) {
        window.resolution = c.text;
        QDialog* d = OpenSourceDialog();
        ASSERT_NE(d, nullptr) << c.text;
        EXPECT_EQ(d->findChild<QSpinBox*>("EdResolution")->value(), c.dpi) << c.text;
        EXPECT_EQ(d->findChild<QComboBox*>("CbMode")->currentText(), c.mode) << c.text;
        if (*c.note)
            EXPECT_TRUE(Status(d).contains(c.note) && Status(d).contains("1200 dpi")) << Status(d).toStdString();
        else
            EXPECT_TRUE(Status(d).isEmpty()) << c.text << Status(d).toStdString();
        Click(d, "BtAnnulla");
        ASSERT_TRUE(WaitClosed());
    }
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.All().toStdString();
    EXPECT_EQ(ParseScanResolution(" 300 "), 300);
    EXPECT_EQ(ParseScanResolution(""), 200);
    EXPECT_EQ(ParseScanResolution("12x"), 200);
}

TEST_F(ScanPath, ClosingTheDialogWithoutScanningKeepsTheLastScanAndTheView)
{
    ScanAndWait();
    ASSERT_EQ(window.loaded.size(), 1);
    const QByteArray before = [&] {
        QFile f(window.acqFile);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    Click(d, "BtAnnulla");
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(window.loaded.size(), 1);
    QFile f(window.acqFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    EXPECT_TRUE(window.buttonEnabled);
}

TEST_F(ScanPath, SelectedScannerBecomesTheDefaultSource)
{
    // Annulla picks nothing.
    WhenShown(SelectDialog, [](QWidget* sel) {
        QTest::mouseClick(sel->findChild<QPushButton*>("BtAnnulla"), Qt::LeftButton);
    });
    EXPECT_FALSE(commands->BtSelectScanClick());

    WhenShown(SelectDialog, [](QWidget* sel) {
        auto* list = sel->findChild<QListWidget*>("LwSources");
        EXPECT_GE(list->count(), 2);
        EXPECT_TRUE(list->item(1)->text().contains("Noname frontend-tester"));
        list->setCurrentRow(1);
        QTest::mouseClick(sel->findChild<QPushButton*>("BtOk"), Qt::LeftButton);
    });
    ASSERT_TRUE(commands->BtSelectScanClick());
    EXPECT_STREQ(SourceIdentity.ProductName, "test:1");
    EXPECT_FALSE(ManagerOpen);

    // The next scan opens the picked scanner without being told which.
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(SourceIdentity.ProductName, "test:1");
    Click(d, "BtAnnulla");
    ASSERT_TRUE(WaitClosed());

    WhenShown(SelectDialog, [](QWidget* sel) {
        auto* list = sel->findChild<QListWidget*>("LwSources");
        EXPECT_EQ(list->currentRow(), 1);  // the dialog opens on the default source
        list->setCurrentRow(0);
        QTest::mouseClick(sel->findChild<QPushButton*>("BtOk"), Qt::LeftButton);
    });
    ASSERT_TRUE(commands->BtSelectScanClick());
    EXPECT_STREQ(SourceIdentity.ProductName, "test:0");
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.All().toStdString();
}
