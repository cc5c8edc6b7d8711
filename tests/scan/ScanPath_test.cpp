// The whole road of a scan over the real SANE test backend: scan command, our source
// manager and its dialog, memory transfer, 24-bit picture, "Scansione.bmp" and the view.

#include "ScanTestSupport.h"

#include "scan/ScanCommands.h"
#include "scan/TW_Apps.h"

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

using namespace scantest;

namespace {

// Stands in for the main window: records what the commands ask of it.
struct TFakeWindow {
    QString acqFile;
    QString resolution = "200";
    bool greyFirma = false;
    bool signatureMode = false;
    QStringList loaded;
    QImage shown;
    bool buttonEnabled = true;

    TScanHost Host()
    {
        TScanHost h;
        h.AcqImgFile = [this] { return acqFile; };
        h.ResolutionText = [this] { return resolution; };
        h.GrayScaleScanFirma = [this] { return greyFirma; };
        h.SignatureMode = [this] { return signatureMode; };
        h.LoadScannedFile = [this](const QString& f) {
            loaded << f;
            shown = QImage(f).convertToFormat(QImage::Format_BGR888);
        };
        h.SetScanButtonEnabled = [this](bool on) { buttonEnabled = on; };
        return h;
    }
};

class ScanPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        PrepareEnvironment();
        ClearDeviceOptions();
        SetWatchdogMs(1500);
        window.acqFile = TempDir() + "/Scansione.bmp";
        QFile::remove(window.acqFile);
        commands = std::make_unique<TScanCommands>(nullptr, window.Host());
        commands->InstallAppMessage();
    }
    void TearDown() override
    {
        // Leave no connection behind for the next test, whatever happened.
        if (QDialog* d = SourceDialog())
            QTest::mouseClick(d->findChild<QPushButton*>("BtAnnulla"), Qt::LeftButton);
        WaitUntil([] { return !TScanCommands::ConnectionOpen(); }, 30000);
        commands.reset();
    }

    // Presses the scan command, waits for the source's dialog and lets `drive` set it up.
    QDialog* OpenSourceDialog()
    {
        commands->BtScanNowClick();
        QDialog* d = nullptr;
        WaitUntil([&] { return (d = SourceDialog()) != nullptr || !TScanCommands::ConnectionOpen(); });
        return d;
    }

    void ClickScanAndWaitForClose(QDialog* d)
    {
        QTest::mouseClick(d->findChild<QPushButton*>("BtScan"), Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return !TScanCommands::ConnectionOpen() && !commands->TwainACQ(); }));
    }

    TBoxCatcher boxes;
    TFakeWindow window;
    std::unique_ptr<TScanCommands> commands;
};

} // namespace

TEST_F(ScanPath, ColourScanAt200DpiMatchesScanimageAndReachesTheView)
{
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr) << boxes.All().toStdString();
    EXPECT_FALSE(window.buttonEnabled);
    // The module's settings preset the dialog.
    EXPECT_EQ(d->findChild<QSpinBox*>("EdResolution")->value(), 200);
    EXPECT_EQ(d->findChild<QComboBox*>("CbMode")->currentText(), "Colori");
    ClickScanAndWaitForClose(d);
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.All().toStdString();

    const QImage ref = ScanimageReference({"--mode", "Color", "--depth", "8", "--resolution", "200", "-l", "0", "-t",
                                           "0", "-x", "210", "-y", "297"});
    ASSERT_FALSE(ref.isNull());
    ASSERT_EQ(window.loaded, QStringList{window.acqFile});
    const QImage& got = commands->imTwain();
    ASSERT_EQ(got.format(), QImage::Format_BGR888);
    EXPECT_EQ(got.size(), QSize(1653, 2338));
    EXPECT_EQ(got, ref);
    // "Scansione.bmp" holds the same picture the view shows.
    EXPECT_EQ(window.shown, ref);
    EXPECT_TRUE(window.buttonEnabled);
}
