#include "common/ConfigTestUtils.h"
#include "config/U_Options.h"
#include "config/U_Savecfg.h"
#include "platform/Version.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace ConfigTest;

namespace {

// Answers the message boxes and file dialogs that a handler opens, recording what they said.
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<void(QWidget*)> answer = {}) : FAnswer(std::move(answer))
    {
        FTimer.setInterval(5);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (!w->isVisible())
                    continue;
                if (auto* box = qobject_cast<QMessageBox*>(w)) {
                    Messages << box->text();
                    box->accept();
                } else if (auto* dlg = qobject_cast<QFileDialog*>(w); dlg && FAnswer) {
                    FAnswer(dlg);
                }
            }
        });
        FTimer.start();
    }
    QStringList Messages;

private:
    QTimer FTimer;
    std::function<void(QWidget*)> FAnswer;
};

class OptionsWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        ::chmod(QFile::encodeName(tmp.path()).constData(), 0755);
        for (const char* var : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            saved.emplace_back(var, qgetenv(var));
        qputenv("HOME", QFile::encodeName(tmp.path() + "/home"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.path() + "/data"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(tmp.path() + "/config"));
        QDir().mkpath(tmp.path() + "/home/Desktop");
        InitOptionsUnit();
        iniDir = tmp.path() + "/data/Lodrevan/Corvanta/";
        hooks.CheckImgageReset = [this] { calls << "CheckImgageReset"; };
        hooks.UpdateOutButton = [this] {
            calls << "UpdateOutButton";
            savedAtUpdate = QFile::exists(IniFileName) ? ReadBytes(IniFileName) : QByteArray();
        };
        hooks.HidePanelPreviewBw = [this] { calls << "HidePanelPreviewBw"; };
        hooks.MakeMaskPaint = [this] { calls << "MakeMaskPaint"; };
        hooks.SetOpenDialogFolder = [this](const QString& f) { dialogFolder = f; };
    }
    void TearDown() override
    {
        form.reset();
        DoneOptionsUnit();
        for (const auto& [var, value] : saved) {
            if (value.isNull())
                qunsetenv(var);
            else
                qputenv(var, value);
        }
    }
    void Create() { form = std::make_unique<TFormOptions>(nullptr, hooks); }
    QString Desktop() const { return tmp.path() + "/home/Desktop/"; }
    QString Key(const char* key) const { return ReadFileIni(IniFileName, "FormOptions", key); }
    void WriteIni(const QByteArray& text)
    {
        QDir().mkpath(iniDir);
        WriteBytes(IniFileName, text);
    }

    QTemporaryDir tmp;
    std::vector<std::pair<const char*, QByteArray>> saved;
    QString iniDir;
    TFormCropHooks hooks;
    QStringList calls;
    QByteArray savedAtUpdate;
    QString dialogFolder;
    std::unique_ptr<TFormOptions> form;
};

QString ExeDir()
{
    return QCoreApplication::applicationDirPath() + "/";
}

} // namespace

TEST_F(OptionsWindow, VeryFirstStartShowsTheDefaultsAndCreatesTheFolder)
{
    ASSERT_EQ(IniFileName, iniDir + "test_config.ini");
    Create();
    EXPECT_EQ(form->LbVersion->text(), "Versione " CORVANTA_VERSION);
    EXPECT_EQ(form->EdFilesOutput->text(), Desktop());
    EXPECT_EQ(form->EdResolutionDPI->text(), "200");
    EXPECT_EQ(form->EdScanner->text(), "");
    EXPECT_FALSE(form->CkTempFilesInExeDir->isChecked());
    EXPECT_FALSE(form->GrayScaleScanFirma->isChecked());
    EXPECT_TRUE(form->RbFotoStartDefault->isChecked());
    EXPECT_FALSE(form->RbFirmaStartDefault->isChecked());
    for (QCheckBox* c : {form->CkMinSizeSel, form->CkCropMouseUp, form->CkStoreEditSliders, form->CkStoreSelections,
                         form->CkFirmaGrayscale})
        EXPECT_TRUE(c->isChecked()) << c->objectName().toStdString();
    EXPECT_FALSE(form->CkFotoPreviewBw->isChecked());

    EXPECT_EQ(form->TempFlPath, iniDir);
    EXPECT_EQ(form->AcqImgFile, iniDir + "Scansione.bmp");
    EXPECT_EQ(form->TmpFotFile, iniDir + "Foto.jpg");
    EXPECT_EQ(form->TmpFirFile, iniDir + "Firma.jpg");
    EXPECT_EQ(form->CkTempFilesInExeDir->toolTip(), iniDir);
    EXPECT_EQ(form->OutImgPath, Desktop());
    EXPECT_EQ(form->PdfFilName, ExeDir() + "test_config.pdf");
    EXPECT_EQ(dialogFolder, form->FlsPicPath);
    EXPECT_EQ(calls, QStringList{"CheckImgageReset"});
    // The folder is made after the first-start values were tried, so nothing is stored yet.
    EXPECT_TRUE(QFileInfo(iniDir).isDir());
    EXPECT_FALSE(QFile::exists(IniFileName));
}

TEST_F(OptionsWindow, FirstStartWithTheFolderWritesTheDefaultsInOrder)
{
    QDir().mkpath(iniDir);
    Create();
    const QByteArray expected = "[FormOptions]\n"
                                "AppConfigPath=" + iniDir.toUtf8() + "\n"
                                "EdFilesOutput=" + Desktop().toUtf8() + "\n"
                                "ScannerCfg.Resolution=200\n"
                                "RbFotoStartDefault=1\n"
                                "CkMinSizeSel=1\n"
                                "CkCropMouseUp=1\n"
                                "CkStoreEditSliders=1\n"
                                "CkStoreSelections=1\n"
                                "CkFirmaGrayscale=1\n"
                                "FlsPicPath=" + Utils->GetPicturesPath().toUtf8() + "\n"
                                "CkFotoPreviewBw=0\n"
                                "CkAutoCropOnOpen=0\n";
    EXPECT_EQ(ReadBytes(IniFileName), expected);

    // The next start reads them back and writes nothing.
    form.reset();
    Create();
    EXPECT_EQ(ReadBytes(IniFileName), expected);
    EXPECT_TRUE(form->CkStoreSelections->isChecked());
    EXPECT_EQ(form->EdResolutionDPI->text(), "200");
}

TEST_F(OptionsWindow, AFileWithOnlyTheFolderKeyLeavesEverythingOff)
{
    WriteIni("[FormOptions]\nAppConfigPath=/somewhere/\n");
    Create();
    EXPECT_EQ(ReadBytes(IniFileName), QByteArray("[FormOptions]\nAppConfigPath=/somewhere/\n"));
    EXPECT_EQ(form->EdFilesOutput->text(), "");
    EXPECT_EQ(form->EdResolutionDPI->text(), "");
    EXPECT_EQ(form->OutImgPath, ""); // no folder, not the root folder
    EXPECT_FALSE(form->RbFotoStartDefault->isChecked());
    EXPECT_FALSE(form->RbFirmaStartDefault->isChecked());
    for (QCheckBox* c : form->findChildren<QCheckBox*>())
        EXPECT_FALSE(c->isChecked()) << c->objectName().toStdString();
    EXPECT_EQ(form->FlsPicPath, Utils->GetPicturesPath()); // never empty: the file dialog opens there
}

TEST_F(OptionsWindow, StoredScannerIsReadIntoTheIdentityRecord)
{
    WriteIni("[FormOptions]\nAppConfigPath=x\nScannerCfg.Id=17\nScannerCfg.Manufacturer=Lodrevan Imaging\n"
             "ScannerCfg.ProductName=" + QByteArray(40, 'N') + "\nRbFotoStartDefault=1\nRbFirmaStartDefault=1\n");
    Create();
    EXPECT_EQ(form->ScannerCfg.Id, 17u);
    EXPECT_STREQ(form->ScannerCfg.Manufacturer, "Lodrevan Imaging");
    EXPECT_EQ(form->EdScanner->text(), QString(34, 'N'));
    // Both stored as chosen: the later one wins, as in one radio group.
    EXPECT_FALSE(form->RbFotoStartDefault->isChecked());
    EXPECT_TRUE(form->RbFirmaStartDefault->isChecked());

    WriteFileIni(IniFileName, "FormOptions", "ScannerCfg.Id", "not a number");
    form->ReadOptions();
    EXPECT_EQ(form->ScannerCfg.Id, 0u);
}

TEST_F(OptionsWindow, OkStoresEveryKeyAndCallsTheMainWindowInOrder)
{
    WriteIni("[FormOptions]\nAppConfigPath=x\n");
    hooks.SelectScanner = [] {
        TW_IDENTITY id{};
        id.Id = 0;
        StrToTW_STR32("Lodrevan", id.Manufacturer);
        StrToTW_STR32("Flatbed", id.ProductFamily);
        StrToTW_STR32("LV-200", id.ProductName);
        return id;
    };
    Create();
    ASSERT_TRUE(form->BtSelectScan->isEnabled());
    form->BtSelectScan->click();
    EXPECT_EQ(form->EdScanner->text(), "LV-200");
    form->EdFilesOutput->setText(tmp.path() + "/out");
    form->EdResolutionDPI->setText("300 dpi"); // stored as typed
    form->GrayScaleScanFirma->setChecked(true);
    form->RbFirmaStartDefault->setChecked(true);
    form->CkCropMouseUp->setChecked(true);
    form->CkFotoPreviewBw->setChecked(false);
    calls.clear();
    form->BtOk->click();

    EXPECT_EQ(calls, (QStringList{"UpdateOutButton", "HidePanelPreviewBw", "MakeMaskPaint"}));
    EXPECT_EQ(savedAtUpdate, QByteArray("[FormOptions]\nAppConfigPath=x\n")); // paths first, then the file
    EXPECT_EQ(form->OutImgPath, tmp.path() + "/out/");
    EXPECT_EQ(Key("AppConfigPath"), iniDir);
    EXPECT_EQ(Key("EdFilesOutput"), tmp.path() + "/out");
    EXPECT_EQ(Key("CkTempFilesInExeDir"), "0");
    EXPECT_EQ(Key("ScannerCfg.Id"), "0");
    EXPECT_EQ(Key("ScannerCfg.Manufacturer"), "Lodrevan");
    EXPECT_EQ(Key("ScannerCfg.ProductFamily"), "Flatbed");
    EXPECT_EQ(Key("ScannerCfg.ProductName"), "LV-200");
    EXPECT_EQ(Key("ScannerCfg.Resolution"), "300 dpi");
    EXPECT_EQ(Key("ScannerCfg.GrayScale"), "1");
    EXPECT_EQ(Key("RbFotoStartDefault"), "0");
    EXPECT_EQ(Key("RbFirmaStartDefault"), "1");
    EXPECT_EQ(Key("CkCropMouseUp"), "1");
    EXPECT_EQ(Key("CkMinSizeSel"), "0");
    EXPECT_EQ(Key("CkFotoPreviewBw"), "0");
    EXPECT_EQ(Key("FlsPicPath"), Utils->GetPicturesPath());

    // With the black-and-white preview on, the preview panel is left alone.
    form->CkFotoPreviewBw->setChecked(true);
    calls.clear();
    form->BtOkClick();
    EXPECT_EQ(calls, QStringList{"UpdateOutButton"});
    EXPECT_EQ(Key("CkFotoPreviewBw"), "1");
}

TEST_F(OptionsWindow, CancelledScannerChoiceKeepsTheStoredScanner)
{
    WriteIni("[FormOptions]\nAppConfigPath=x\nScannerCfg.Id=3\nScannerCfg.ProductName=Old Scanner\n");
    hooks.SelectScanner = [] { return TW_IDENTITY{}; }; // the user cancelled
    Create();
    form->BtSelectScanClick();
    EXPECT_EQ(form->EdScanner->text(), "");
    EXPECT_EQ(form->ScannerCfg.Id, 0u);
    form->BtCancelClick();
    EXPECT_EQ(form->EdScanner->text(), "Old Scanner");

    form->BtSelectScanClick();
    form->BtOkClick();
    EXPECT_EQ(Key("ScannerCfg.ProductName"), "Old Scanner");
    EXPECT_EQ(Key("ScannerCfg.Id"), "3");
}

TEST_F(OptionsWindow, CancelAndEscBringBackTheStoredValuesAndPaths)
{
    QDir().mkpath(iniDir);
    Create();
    form->CkTempFilesInExeDir->click();
    EXPECT_EQ(form->AcqImgFile, ExeDir() + "Scansione.bmp");
    EXPECT_EQ(form->TmpFotFile, ExeDir() + "Foto.jpg");
    EXPECT_EQ(form->TmpFirFile, ExeDir() + "Firma.jpg");
    EXPECT_EQ(form->CkTempFilesInExeDir->toolTip(), ExeDir());
    EXPECT_EQ(Key("CkTempFilesInExeDir"), ""); // stored only by OK
    form->CkCropMouseUp->setChecked(false);
    form->RbFirmaStartDefault->setChecked(true);
    form->EdFilesOutput->setText("/elsewhere");

    form->BtCancel->click();
    EXPECT_FALSE(form->CkTempFilesInExeDir->isChecked());
    EXPECT_EQ(form->AcqImgFile, iniDir + "Scansione.bmp");
    EXPECT_EQ(form->TmpFirFile, iniDir + "Firma.jpg");
    EXPECT_TRUE(form->CkCropMouseUp->isChecked());
    EXPECT_TRUE(form->RbFotoStartDefault->isChecked());
    EXPECT_EQ(form->EdFilesOutput->text(), Desktop());
    EXPECT_EQ(form->OutImgPath, Desktop());

    // Esc takes the same way out as "Annulla".
    form->CkStoreSelections->setChecked(false);
    form->reject();
    EXPECT_TRUE(form->CkStoreSelections->isChecked());
    EXPECT_EQ(form->result(), QDialog::Rejected);
}

TEST_F(OptionsWindow, ReadOnlySettingsFileIsReportedAndKeptWhole)
{
    QDir().mkpath(iniDir);
    Create();
    const QByteArray before = ReadBytes(IniFileName);
    ASSERT_FALSE(before.isEmpty());
    GiveToNobody(tmp.path() + "/data", 0755);
    GiveToNobody(tmp.path() + "/data/Lodrevan", 0755);
    GiveToNobody(iniDir, 0755);
    GiveToNobody(IniFileName, 0444);
    form->CkFirmaGrayscale->setChecked(false);

    ModalAnswerer answerer;
    // Root ignores permission bits: act as the unprivileged user for the write.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::setegid(kNobody), 0);
        ASSERT_EQ(::seteuid(kNobody), 0);
    }
    const bool stored = form->SaveOptions();
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
        ASSERT_EQ(::setegid(0), 0);
    }
    EXPECT_FALSE(stored);
    ASSERT_EQ(answerer.Messages.size(), 1);
    EXPECT_TRUE(answerer.Messages[0].startsWith(
        "Impossibile salvare le opzioni di configurazione. File  \"" + IniFileName + "\" non valido. \n"))
        << answerer.Messages[0].toStdString();
    EXPECT_GT(answerer.Messages[0].size(), answerer.Messages[0].indexOf('\n') + 1); // the reason follows
    EXPECT_EQ(ReadBytes(IniFileName), before);
}

TEST_F(OptionsWindow, UnreadableSettingsFileIsReportedAndTheProgramCarriesOn)
{
    QDir().mkpath(IniFileName); // a folder where the file should be
    ModalAnswerer answerer;
    Create();
    ASSERT_GE(answerer.Messages.size(), 1);
    EXPECT_TRUE(answerer.Messages[0].startsWith(
        "Impossibile caricare le opzioni di configurazione. File  \"" + IniFileName + "\" non valido. \n"));
    // It is then taken for a first start, shown with the defaults.
    EXPECT_TRUE(form->RbFotoStartDefault->isChecked());
    EXPECT_TRUE(QFileInfo(IniFileName).isDir());
}

TEST_F(OptionsWindow, FolderChooserFillsTheOutputFolderWithoutStoringIt)
{
    WriteIni("[FormOptions]\nAppConfigPath=x\nEdFilesOutput=/old\n");
    Create();
    const QString chosen = tmp.path() + "/picked";
    QDir().mkpath(chosen);
    ModalAnswerer answerer([&](QWidget* w) {
        auto* dlg = static_cast<QFileDialog*>(w);
        EXPECT_FALSE(dlg->testOption(QFileDialog::ShowDirsOnly));
        auto* text = dlg->findChild<QLabel*>("ChooseFolderText");
        EXPECT_TRUE(text && text->text() == "Selezionare o creare una cartella.\nPremere OK per confermare.");
        dlg->setDirectory(chosen);
        dlg->selectFile(chosen);
        static_cast<QDialog*>(dlg)->accept();
    });
    form->BtFilesOutput->click();
    EXPECT_EQ(form->EdFilesOutput->text(), chosen);
    EXPECT_EQ(form->OutImgPath, chosen + "/");
    EXPECT_EQ(Key("EdFilesOutput"), "/old");
}

TEST_F(OptionsWindow, PagesAsDrawnAndTheScannerButtonUntilScanningExists)
{
    QDir().mkpath(iniDir);
    Create();
    EXPECT_FALSE(form->windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint));
    form->show();
    const QString shots = qEnvironmentVariable("CORVANTA_BINARY_DIR");
    for (int page = 0; page < 2; ++page) {
        form->ListOptions->setCurrentRow(page);
        QCoreApplication::processEvents();
        const QImage shot = form->grab().toImage();
        ASSERT_EQ(shot.size(), QSize(724, 375));
        if (!shots.isEmpty()) {
            QDir().mkpath(shots + "/screenshots");
            shot.save(shots + QString("/screenshots/options_page%1.png").arg(page + 1));
        }
        // The owner-drawn list: the chosen page's item filled with the selection colour,
        // the other with the list's colour, each 24 pixels high.
        const QPoint listAt = form->ListOptions->viewport()->mapTo(form.get(), QPoint(0, 0));
        for (int row = 0; row < 2; ++row) {
            const QRect r = form->ListOptions->visualItemRect(form->ListOptions->item(row)).translated(listAt);
            const QColor fill = shot.pixelColor(r.right() - 3, r.top() + 2);
            if (row == page)
                EXPECT_EQ(fill, QColor(0x16, 0x6D, 0x14)) << "page " << page << " row " << row;
            else
                EXPECT_EQ(fill, QColor(0xD4, 0xDD, 0xD4)) << "page " << page << " row " << row;
            EXPECT_EQ(r.height(), 24);
        }
        EXPECT_EQ(form->PageOptions->currentIndex(), page);
    }
    form->hide();

    EXPECT_FALSE(form->BtSelectScan->isEnabled());
    EXPECT_FALSE(form->BtSelectScan->toolTip().isEmpty());
    hooks.SelectScanner = [] { return TW_IDENTITY{}; };
    form->SetHooks(hooks);
    EXPECT_TRUE(form->BtSelectScan->isEnabled());
}

TEST_F(OptionsWindow, CancelAtTheVeryFirstStartKeepsTheFirstStartValues)
{
    // The settings folder does not exist yet: the first-start writes fail quietly.
    ASSERT_FALSE(QFileInfo::exists(IniFileName));
    Create();
    ASSERT_TRUE(form->CkCropMouseUp->isChecked());
    form->show();
    QCoreApplication::processEvents();
    form->CkStoreSelections->setChecked(false); // changed, then cancelled
    form->BtCancel->click();
    EXPECT_TRUE(form->CkCropMouseUp->isChecked());
    EXPECT_TRUE(form->CkMinSizeSel->isChecked());
    EXPECT_TRUE(form->CkStoreSelections->isChecked());
    EXPECT_TRUE(form->RbFotoStartDefault->isChecked());
    EXPECT_EQ(form->EdResolutionDPI->text(), "200");
    EXPECT_EQ(form->FlsPicPath, Utils->GetPicturesPath());
}
