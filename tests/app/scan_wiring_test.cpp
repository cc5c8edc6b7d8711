// Scanning from the main window through the real SANE test backend and our source
// manager: the picture must reach the view through "Scansione.bmp", and the options
// window must pick the scanner through the same module.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Startup.h"
#include "config/U_Options.h"
#include "config/U_Savecfg.h"
#include "scan/ScanCommands.h"
#include "scan/TW_Apps.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"

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
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace scantest;

namespace {

class ScanWiring : public ::testing::Test {
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

        if (!Utils)
            InitOptionsUnit();
        OldHome = qgetenv("HOME");
        OldDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("HOME", Dir.path().toUtf8());
        qputenv("XDG_DATA_HOME", Dir.filePath(QStringLiteral("data")).toUtf8());
        const QString folder = Dir.filePath(QStringLiteral("data/Lodrevan/Corvanta"));
        ASSERT_TRUE(QDir().mkpath(folder));
        IniFileName = folder + QStringLiteral("/corvanta.ini");
        SetErrorReporter([this](const QString& t) { Errors << t; });
        CreateCorvantaWindows();
        ASSERT_NE(FormCrop, nullptr);
        ASSERT_NE(FormOptions, nullptr);
        Form = FormCrop;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form));
        QApplication::setActiveWindow(Form);
        // Small pages keep the scans quick.
        FormOptions->EdResolutionDPI->setText(QStringLiteral("50"));
    }

    void TearDown() override
    {
        if (QDialog* d = SourceDialog())
            Click(d, "BtAnnulla");
        WaitUntil([] { return !TScanCommands::ConnectionOpen(); }, 30000);
        DestroyCorvantaWindows();
        SetErrorReporter({});
        ClearDeviceOptions();
        qputenv("HOME", OldHome);
        qputenv("XDG_DATA_HOME", OldDataHome);
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
    QString Report() const { return boxes.All() + Errors.join('\n'); }

    QTemporaryDir Dir;
    QByteArray OldHome, OldDataHome;
    TFormCrop* Form = nullptr;
    QStringList Errors;
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
    EXPECT_TRUE(Errors.isEmpty()) << Report().toStdString();
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
