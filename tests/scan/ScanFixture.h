#pragma once
// A stand-in main window and a fixture that runs scans through the scan commands.

#include "ScanTestSupport.h"

#include "scan/ScanCommands.h"
#include "scan/TW_Apps.h"

#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace scantest {

// Records what the scan commands ask of the main window.
struct TFakeWindow {
    QString acqFile;
    QString resolution = "200";
    bool greyFirma = false;
    bool signatureMode = false;
    QStringList loaded;
    QImage shown;  // the picture the view was handed
    QStringList sheetFiles;  // the list of a feeder run, and its pictures
    QList<QImage> sheets;
    bool buttonEnabled = true;

    TScanHost Host()
    {
        TScanHost h;
        h.AcqImgFile = [this] { return acqFile; };
        h.ResolutionText = [this] { return resolution; };
        h.GrayScaleScanFirma = [this] { return greyFirma; };
        h.SignatureMode = [this] { return signatureMode; };
        h.LoadScannedFile = [this](const QString& f, const QImage& picture) {
            loaded << f;
            shown = picture;
        };
        h.LoadScannedFiles = [this](const QStringList& files, const QList<QImage>& pictures) {
            loaded << files.front();
            sheetFiles = files;
            sheets = pictures;
        };
        h.SetScanButtonEnabled = [this](bool on) { buttonEnabled = on; };
        return h;
    }
};

class ScanFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        PrepareEnvironment();
        ClearDeviceOptions();
        SetWatchdogMs(1500);
        // A device of its own for every test: a fault left behind by the test backend
        // (it may hang in sane_cancel and keep its device busy) cannot reach the next test.
        static int next = 20;
        device = QString("test:%1").arg(next++);
        UseDevice(device);
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
        ClearDeviceOptions();
        SetTwainDllPath(DsmLibraryPath());
    }

    // Presses the scan command and waits for the source's dialog (null if none came up).
    QDialog* OpenSourceDialog()
    {
        commands->BtScanNowClick();
        QDialog* d = nullptr;
        WaitUntil([&] { return (d = SourceDialog()) != nullptr || !TScanCommands::ConnectionOpen(); });
        return d;
    }

    static QString Status(QDialog* d) { return d->findChild<QLabel*>("LbStatus")->text(); }
    static void Click(QDialog* d, const char* button)
    {
        QTest::mouseClick(d->findChild<QPushButton*>(button), Qt::LeftButton);
    }
    bool WaitClosed()
    {
        return WaitUntil([&] { return !TScanCommands::ConnectionOpen() && !commands->TwainACQ(); }, 20000);
    }
    // Scan with the dialog as preset, wait until the connection has closed.
    void ScanAndWait()
    {
        QDialog* d = OpenSourceDialog();
        ASSERT_NE(d, nullptr) << boxes.All().toStdString() << " condition " << SourceStatus.ConditionCode;
        Click(d, "BtScan");
        ASSERT_TRUE(WaitClosed()) << (SourceDialog() ? Status(d).toStdString() : "") << boxes.All().toStdString();
    }
    // Scan whose read fails: returns the dialog's message, then closes the dialog.
    QString FailingScan()
    {
        QDialog* d = OpenSourceDialog();
        if (!d)
            return "<no dialog>";
        Click(d, "BtScan");
        auto* bar = d->findChild<QProgressBar*>("PbProgress");
        WaitUntil([&] { return SourceDialog() == nullptr || bar->isHidden(); });
        const QString text = SourceDialog() ? Status(d) : "<dialog closed>";
        if (SourceDialog())
            Click(d, "BtAnnulla");
        WaitClosed();
        return text;
    }

    QString device;
    TBoxCatcher boxes;
    TFakeWindow window;
    std::unique_ptr<TScanCommands> commands;
};

inline QStringList A4Colour200() { return {"--mode", "Color", "--depth", "8", "--resolution", "200", "-l", "0", "-t", "0", "-x", "210", "-y", "297"}; }

} // namespace scantest
