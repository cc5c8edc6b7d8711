// Scanning from the main window through the real SANE test backend and our source
// manager: the picture must reach the view through "Scansione.bmp", and the options
// window must pick the scanner through the same module.

#include "app_fixture.h"

#include "scan/ScanCommands.h"
#include "scan/TW_Apps.h"

// The scanner tests' helpers: environment, dialog finders, message-box answering.
#include "scan/ScanTestSupport.cpp"

#include <QDateTime>
#include <QDialog>
#include <QFileInfo>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace scantest;

namespace {

class ScanWiring : public ProgramFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        PrepareEnvironment();
        ClearDeviceOptions();
        SetWatchdogMs(1500);
        // A device of its own per test: a fault the backend keeps cannot reach the next one.
        static int next = 40;
        UseDevice(QStringLiteral("test:%1").arg(next++));

        ASSERT_NO_FATAL_FAILURE(EnterHome());
        ASSERT_NO_FATAL_FAILURE(OpenProgram());
        // Small pages keep the scans quick.
        FormOptions->EdResolutionDPI->setText(QStringLiteral("50"));
    }

    void TearDown() override
    {
        if (QDialog* d = SourceDialog())
            Click(d, "BtAnnulla");
        WaitUntil([] { return !TScanCommands::ConnectionOpen(); }, 30000);
        CloseProgram();
        ClearDeviceOptions();
    }

    static void Click(QWidget* w, const char* button)
    {
        QTest::mouseClick(w->findChild<QPushButton*>(button), Qt::LeftButton);
    }
    QDialog* WaitForSourceDialog()
    {
        QDialog* d = nullptr;
        WaitUntil([&] { return (d = SourceDialog()) != nullptr || !TScanCommands::ConnectionOpen(); });
        return d;
    }
    bool WaitTakenOver()
    {
        return WaitUntil([&] { return !TScanCommands::ConnectionOpen() && !Form->Scan->TwainACQ(); }, 30000);
    }
    QString Report() const { return boxes.All() + Messages.join('\n'); }

    TBoxCatcher boxes;
};

TEST_F(ScanWiring, ScanFromTheMainWindowEndsInTheView)
{
    const QString acq = FormOptions->AcqImgFile;
    ASSERT_TRUE(acq.endsWith(QStringLiteral("/Scansione.bmp"))) << acq.toStdString();
    QFile::remove(acq);
    ASSERT_TRUE(Form->ViewEmpty());

    QTest::mouseClick(Form->BtScanNow, Qt::LeftButton);
    QDialog* d = WaitForSourceDialog();
    ASSERT_NE(d, nullptr) << Report().toStdString();
    // The source's dialog owns the connection: no second scan may start meanwhile.
    QTest::qWait(50);
    EXPECT_FALSE(Form->BtScanNow->isEnabled());
    Click(d, "BtScan");
    ASSERT_TRUE(WaitTakenOver()) << Report().toStdString();

    const QImage written(acq);
    ASSERT_FALSE(written.isNull()) << Report().toStdString();
    EXPECT_FALSE(Form->ViewEmpty());
    EXPECT_EQ(Form->ZSImage->OrigBitmap().size(), written.size());
    EXPECT_EQ(Form->ImageListCount(), 1);
    EXPECT_TRUE(WaitUntil([&] { return Form->BtScanNow->isEnabled(); }, 10000));

    // The key S starts the same command; a dialog closed without scanning keeps the
    // last scan on disk and in the view.
    const QDateTime stamp = QFileInfo(acq).lastModified();
    Form->setFocus();
    QTest::keyClick(Form, Qt::Key_S);
    d = WaitForSourceDialog();
    ASSERT_NE(d, nullptr) << Report().toStdString();
    Click(d, "BtAnnulla");
    ASSERT_TRUE(WaitTakenOver()) << Report().toStdString();
    EXPECT_EQ(QFileInfo(acq).lastModified(), stamp);
    EXPECT_EQ(Form->ZSImage->OrigBitmap().size(), written.size());
    EXPECT_TRUE(boxes.Boxes.empty()) << Report().toStdString();
    EXPECT_TRUE(Messages.isEmpty()) << Report().toStdString();
}

TEST_F(ScanWiring, OptionsPickTheScannerThroughTheManager)
{
    ASSERT_TRUE(FormOptions->BtSelectScan->isEnabled());

    WhenShown(SelectDialog, [](QWidget* sel) {
        auto* list = sel->findChild<QListWidget*>("LwSources");
        ASSERT_GE(list->count(), 2);
        list->setCurrentRow(1);
        Click(sel, "BtOk");
    });
    FormOptions->BtSelectScan->click();
    const QString picked = TW_STR32ToStr(FormOptions->ScannerCfg.ProductName);
    EXPECT_FALSE(picked.isEmpty()) << Report().toStdString();
    EXPECT_EQ(picked, TW_STR32ToStr(SourceIdentity.ProductName));
    EXPECT_EQ(FormOptions->EdScanner->text(), picked);
    EXPECT_FALSE(TScanCommands::ConnectionOpen());

    // Cancelling the manager's dialog leaves the chosen scanner as it was.
    WhenShown(SelectDialog, [](QWidget* sel) { Click(sel, "BtAnnulla"); });
    FormOptions->BtSelectScan->click();
    EXPECT_EQ(TW_STR32ToStr(FormOptions->ScannerCfg.ProductName), picked);
    EXPECT_EQ(FormOptions->EdScanner->text(), picked);
    EXPECT_TRUE(boxes.Boxes.empty()) << Report().toStdString();
}

} // namespace
