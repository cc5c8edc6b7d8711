// Derived paths, the folder chooser, the scanner choice and the closing buttons.
#include "config/U_Options.h"
#include "config/U_Savecfg.h"

#include "platform/InstallLayout.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>

namespace {

QString WithSlash(const QString& dir)
{
    return dir.endsWith(u'/') ? dir : dir + u'/';
}

QString WithoutSlash(const QString& dir)
{
    return (dir.size() > 1 && dir.endsWith(u'/')) ? dir.left(dir.size() - 1) : dir;
}

} // namespace

QString ManualFileBaseName()
{
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const int dot = static_cast<int>(name.lastIndexOf(u'.'));
    return (dot > 0 ? name.left(dot) : name) + QStringLiteral(".pdf");
}

QString ManualPath()
{
    const QString name = ManualFileBaseName();
    const QString found = FindShippedFile(name, TShippedFolder::Documentation);
    return found.isEmpty() ? ShippedFilePlaces(name, TShippedFolder::Documentation).first() : found;
}

void TFormOptions::ChangeFolders()
{
    if (CkTempFilesInExeDir->isChecked())
        TempFlPath = WithSlash(QCoreApplication::applicationDirPath());
    else
        TempFlPath = WithSlash(Utils->GetNoRoamLocalAppDataPath() + QStringLiteral("Lodrevan/Corvanta/"));
    AcqImgFile = TempFlPath + QStringLiteral("Scansione.bmp");
    TmpFotFile = TempFlPath + QStringLiteral("Foto.jpg");
    TmpFirFile = TempFlPath + QStringLiteral("Firma.jpg");
    CkTempFilesInExeDir->setToolTip(TempFlPath);
    QDir().mkpath(TempFlPath);
    // An empty field means no folder: with a slash added it would be the root folder.
    const QString out = EdFilesOutput->text().trimmed();
    OutImgPath = out.isEmpty() ? QString() : WithSlash(out);
    PdfFilName = ManualPath();
    if (FHooks.SetOpenDialogFolder)
        FHooks.SetOpenDialogFolder(FlsPicPath);
}

void TFormOptions::CkTempFilesInExeDirClick()
{
    // The paths move at once; the flag itself is stored only by OK.
    ChangeFolders();
}

QString TFormOptions::ChooseOutputFolder()
{
    QFileDialog dlg(this, QStringLiteral("Seleziona cartella"));
    dlg.setObjectName(QStringLiteral("ChooseOutputFolder"));
    // Qt's own dialog: it can create folders, has a name field and shows the files too.
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setOption(QFileDialog::ShowDirsOnly, false);
    dlg.setFileMode(QFileDialog::Directory);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setLabelText(QFileDialog::Accept, QStringLiteral("OK"));
    dlg.setLabelText(QFileDialog::Reject, QStringLiteral("Annulla"));
    if (auto* grid = qobject_cast<QGridLayout*>(dlg.layout())) {
        auto* text = new QLabel(QString(OptionsText::ChooseFolder).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        text->setObjectName(QStringLiteral("ChooseFolderText"));
        grid->addWidget(text, grid->rowCount(), 0, 1, grid->columnCount());
    }
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().constFirst();
}

void TFormOptions::BtFilesOutputClick()
{
    const QString folder = ChooseOutputFolder();
    if (folder.isEmpty())
        return;
    EdFilesOutput->setText(WithoutSlash(QDir::toNativeSeparators(folder)));
    ChangeFolders();
}

void TFormOptions::BtSelectScanClick()
{
    if (!FHooks.SelectScanner) {
        QMessageBox::information(this, QStringLiteral("Corvanta"), OptionsText::NoScanner);
        return;
    }
    ScannerCfg = FHooks.SelectScanner();
    EdScanner->setText(TW_STR32ToStr(ScannerCfg.ProductName));
}

void TFormOptions::BtOkClick()
{
    ChangeFolders();
    if (FHooks.UpdateOutButton)
        FHooks.UpdateOutButton();
    SaveOptions();
    QDialog::accept();
    if (!CkFotoPreviewBw->isChecked()) {
        if (FHooks.HidePanelPreviewBw)
            FHooks.HidePanelPreviewBw();
        QCoreApplication::processEvents();
        if (FHooks.MakeMaskPaint)
            FHooks.MakeMaskPaint();
    }
}

void TFormOptions::BtCancelClick()
{
    // Reading the file back would not do: at a first start it may hold nothing,
    // and every option would go off.
    if (FSnapshot.Valid)
        RestoreSnapshot();
    else
        ReadOptions();
    ChangeFolders();
    QDialog::reject();
}

void TFormOptions::TakeSnapshot()
{
    TSnapshot& s = FSnapshot;
    s.FilesOutput = EdFilesOutput->text();
    s.Scanner = EdScanner->text();
    s.Resolution = EdResolutionDPI->text();
    s.FlsPicPath = FlsPicPath;
    s.ScannerCfg = ScannerCfg;
    s.TempInExeDir = CkTempFilesInExeDir->isChecked();
    s.GrayScan = GrayScaleScanFirma->isChecked();
    s.FotoStart = RbFotoStartDefault->isChecked();
    s.FirmaStart = RbFirmaStartDefault->isChecked();
    s.MinSize = CkMinSizeSel->isChecked();
    s.CropMouseUp = CkCropMouseUp->isChecked();
    s.StoreSliders = CkStoreEditSliders->isChecked();
    s.StoreSelections = CkStoreSelections->isChecked();
    s.FirmaGray = CkFirmaGrayscale->isChecked();
    s.PreviewBw = CkFotoPreviewBw->isChecked();
    s.Valid = true;
}

void TFormOptions::RestoreSnapshot()
{
    const TSnapshot& s = FSnapshot;
    EdFilesOutput->setText(s.FilesOutput);
    EdScanner->setText(s.Scanner);
    EdResolutionDPI->setText(s.Resolution);
    FlsPicPath = s.FlsPicPath;
    ScannerCfg = s.ScannerCfg;
    CkTempFilesInExeDir->setChecked(s.TempInExeDir);
    GrayScaleScanFirma->setChecked(s.GrayScan);
    // Radio buttons of one group: the checked one is set last so the other is cleared by it.
    RbFotoStartDefault->setAutoExclusive(false);
    RbFirmaStartDefault->setAutoExclusive(false);
    RbFotoStartDefault->setChecked(s.FotoStart);
    RbFirmaStartDefault->setChecked(s.FirmaStart);
    RbFotoStartDefault->setAutoExclusive(true);
    RbFirmaStartDefault->setAutoExclusive(true);
    CkMinSizeSel->setChecked(s.MinSize);
    CkCropMouseUp->setChecked(s.CropMouseUp);
    CkStoreEditSliders->setChecked(s.StoreSliders);
    CkStoreSelections->setChecked(s.StoreSelections);
    CkFirmaGrayscale->setChecked(s.FirmaGray);
    CkFotoPreviewBw->setChecked(s.PreviewBw);
}

void TFormOptions::reject()
{
    BtCancelClick();
}
