// Creation of the options window and the loading and storing of its settings.
#include "config/U_Options.h"
#include "config/U_Savecfg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QRadioButton>
#include <QStackedWidget>
#include <QLabel>

#include <cstring>
#include <stdexcept>

namespace {

const QString kSection = QStringLiteral("FormOptions");

// A read or write of the settings file that failed; carries the reason.
struct EOptionsFile : std::runtime_error {
    explicit EOptionsFile(const QString& why) : std::runtime_error(why.toStdString()) {}
};

QString Get(const QString& key)
{
    QString error;
    const QString value = ReadFileIni(IniFileName, kSection, key, &error);
    if (!error.isEmpty())
        throw EOptionsFile(error);
    return value;
}

void Put(const QString& key, const QString& value)
{
    QString error;
    if (!WriteFileIni(IniFileName, kSection, key, value, &error))
        throw EOptionsFile(error);
}

QString WithSlash(const QString& dir)
{
    return dir.endsWith(u'/') ? dir : dir + u'/';
}

// Radio buttons of one group: checking one unchecks the other; both may be left unchecked.
void SetRadio(QRadioButton* rb, bool checked)
{
    if (checked) {
        rb->setChecked(true);
        return;
    }
    rb->setAutoExclusive(false);
    rb->setChecked(false);
    rb->setAutoExclusive(true);
}

} // namespace

QString TFormOptions::IniFolder()
{
    return WithSlash(QFileInfo(IniFileName).path());
}

void TFormOptions::ShowError(const QString& text)
{
    QMessageBox::critical(this, QStringLiteral("Corvanta"), text);
}

void TFormOptions::FormCreate()
{
    LbVersion->setText(QStringLiteral("Versione ") + Utils->GetVersion(QCoreApplication::applicationFilePath()));

    ScannerCfg.Id = 0;
    ScannerCfg.ProtocolMajor = 0;
    ScannerCfg.ProtocolMinor = 0;
    ScannerCfg.SupportedGroups = 0;
    ScannerCfg.Manufacturer[0] = '\0';
    ScannerCfg.ProductFamily[0] = '\0';
    ScannerCfg.ProductName[0] = '\0';

    OutImgPath = WithSlash(QCoreApplication::applicationDirPath());
    DeskTopPath = Utils->GetDesktopPath();
    if (!DeskTopPath.isEmpty())
        OutImgPath = WithSlash(DeskTopPath);
    EdFilesOutput->setText(OutImgPath);

    FlsPicPath = Utils->GetPicturesPath();

    ListOptions->setCurrentRow(0);
    PageOptions->setCurrentIndex(0);

    ReadOptions();

    if (ReadFileIni(IniFileName, kSection, QStringLiteral("AppConfigPath")).isEmpty()) {
        // First start. At the very first one the folder does not exist yet and these
        // writes fail quietly; they are made again at the next start.
        const auto put = [](const char* key, const QString& value) {
            WriteFileIni(IniFileName, kSection, QString::fromLatin1(key), value);
        };
        put("AppConfigPath", IniFolder());
        put("EdFilesOutput", DeskTopPath);
        put("ScannerCfg.Resolution", QStringLiteral("200"));
        put("RbFotoStartDefault", QStringLiteral("1"));
        put("CkMinSizeSel", QStringLiteral("1"));
        put("CkCropMouseUp", QStringLiteral("1"));
        put("CkStoreEditSliders", QStringLiteral("1"));
        put("CkStoreSelections", QStringLiteral("1"));
        put("CkFirmaGrayscale", QStringLiteral("1"));
        put("FlsPicPath", Utils->GetPicturesPath());
        put("CkFotoPreviewBw", QStringLiteral("0"));
        put("CkAutoCropOnOpen", QStringLiteral("0"));

        CkTempFilesInExeDir->setChecked(false);
        EdScanner->setText(TW_STR32ToStr(ScannerCfg.ProductName));
        EdFilesOutput->setText(WithSlash(DeskTopPath));
        EdResolutionDPI->setText(QStringLiteral("200"));
        GrayScaleScanFirma->setChecked(false);
        SetRadio(RbFotoStartDefault, true);
        SetRadio(RbFirmaStartDefault, false);
        CkMinSizeSel->setChecked(true);
        CkCropMouseUp->setChecked(true);
        CkStoreEditSliders->setChecked(true);
        CkStoreSelections->setChecked(true);
        CkFirmaGrayscale->setChecked(true);
        CkFotoPreviewBw->setChecked(false);
        CkAutoCropOnOpen->setChecked(false);
    }

    ChangeFolders();
    if (FHooks.CheckImgageReset)
        FHooks.CheckImgageReset();
}

bool TFormOptions::ReadOptions()
{
    try {
        EdFilesOutput->setText(Get(QStringLiteral("EdFilesOutput")));
        CkTempFilesInExeDir->setChecked(StringToBool(Get(QStringLiteral("CkTempFilesInExeDir"))));

        int32_t id = 0;
        ScannerCfg.Id = ValidInteger(Get(QStringLiteral("ScannerCfg.Id")), &id) ? static_cast<TW_UINT32>(id) : 0;
        StrToTW_STR32(Get(QStringLiteral("ScannerCfg.Manufacturer")), ScannerCfg.Manufacturer);
        StrToTW_STR32(Get(QStringLiteral("ScannerCfg.ProductFamily")), ScannerCfg.ProductFamily);
        StrToTW_STR32(Get(QStringLiteral("ScannerCfg.ProductName")), ScannerCfg.ProductName);
        EdScanner->setText(TW_STR32ToStr(ScannerCfg.ProductName));

        EdResolutionDPI->setText(Get(QStringLiteral("ScannerCfg.Resolution")));

        GrayScaleScanFirma->setChecked(StringToBool(Get(QStringLiteral("ScannerCfg.GrayScale"))));
        SetRadio(RbFotoStartDefault, StringToBool(Get(QStringLiteral("RbFotoStartDefault"))));
        SetRadio(RbFirmaStartDefault, StringToBool(Get(QStringLiteral("RbFirmaStartDefault"))));
        CkMinSizeSel->setChecked(StringToBool(Get(QStringLiteral("CkMinSizeSel"))));
        CkCropMouseUp->setChecked(StringToBool(Get(QStringLiteral("CkCropMouseUp"))));
        CkStoreEditSliders->setChecked(StringToBool(Get(QStringLiteral("CkStoreEditSliders"))));
        CkStoreSelections->setChecked(StringToBool(Get(QStringLiteral("CkStoreSelections"))));
        CkFirmaGrayscale->setChecked(StringToBool(Get(QStringLiteral("CkFirmaGrayscale"))));
        CkFotoPreviewBw->setChecked(StringToBool(Get(QStringLiteral("CkFotoPreviewBw"))));
        CkAutoCropOnOpen->setChecked(StringToBool(Get(QStringLiteral("CkAutoCropOnOpen"))));

        FlsPicPath = Get(QStringLiteral("FlsPicPath"));
        // An empty value (a first start whose writes failed) would later be stored
        // by OK and the file dialog would never open in the pictures folder.
        if (FlsPicPath.isEmpty())
            FlsPicPath = Utils->GetPicturesPath();
        return true;
    } catch (const EOptionsFile& e) {
        ShowError(OptionsText::ReadFailed + u'"' + IniFileName + u'"' + OptionsText::NotValid + u'\n' +
                  QString::fromStdString(e.what()));
        return false;
    }
}

bool TFormOptions::SaveOptions()
{
    // Unlike a bare profile write, a value that could not be stored is reported:
    // the user would otherwise find the old options at the next start.
    try {
        Put(QStringLiteral("AppConfigPath"), IniFolder());
        Put(QStringLiteral("EdFilesOutput"), EdFilesOutput->text());
        Put(QStringLiteral("CkTempFilesInExeDir"), BoolToString(CkTempFilesInExeDir->isChecked()));
        // The edit only shows the scanner; emptying it keeps the stored scanner.
        if (!EdScanner->text().isEmpty()) {
            Put(QStringLiteral("ScannerCfg.Id"), QString::number(ScannerCfg.Id));
            Put(QStringLiteral("ScannerCfg.Manufacturer"), TW_STR32ToStr(ScannerCfg.Manufacturer));
            Put(QStringLiteral("ScannerCfg.ProductFamily"), TW_STR32ToStr(ScannerCfg.ProductFamily));
            Put(QStringLiteral("ScannerCfg.ProductName"), TW_STR32ToStr(ScannerCfg.ProductName));
        }
        Put(QStringLiteral("ScannerCfg.Resolution"), EdResolutionDPI->text());
        Put(QStringLiteral("ScannerCfg.GrayScale"), BoolToString(GrayScaleScanFirma->isChecked()));
        Put(QStringLiteral("RbFotoStartDefault"), BoolToString(RbFotoStartDefault->isChecked()));
        Put(QStringLiteral("RbFirmaStartDefault"), BoolToString(RbFirmaStartDefault->isChecked()));
        Put(QStringLiteral("CkMinSizeSel"), BoolToString(CkMinSizeSel->isChecked()));
        Put(QStringLiteral("CkCropMouseUp"), BoolToString(CkCropMouseUp->isChecked()));
        Put(QStringLiteral("CkStoreEditSliders"), BoolToString(CkStoreEditSliders->isChecked()));
        Put(QStringLiteral("CkStoreSelections"), BoolToString(CkStoreSelections->isChecked()));
        Put(QStringLiteral("CkFirmaGrayscale"), BoolToString(CkFirmaGrayscale->isChecked()));
        Put(QStringLiteral("CkFotoPreviewBw"), BoolToString(CkFotoPreviewBw->isChecked()));
        Put(QStringLiteral("CkAutoCropOnOpen"), BoolToString(CkAutoCropOnOpen->isChecked()));
        Put(QStringLiteral("FlsPicPath"), FlsPicPath);
        return true;
    } catch (const EOptionsFile& e) {
        ShowError(OptionsText::SaveFailed + u'"' + IniFileName + u'"' + OptionsText::NotValid + u'\n' +
                  QString::fromStdString(e.what()));
        return false;
    }
}
