// Scanning from the main window: the scan commands read the options and the view
// through this window, and the scanned picture arrives as "Scansione.bmp" in the
// image list like any file the user opens (its picture handed over from memory); the
// sheets of a document feeder arrive as one entry each.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Startup.h"

#include "config/U_Options.h"
#include "scan/ScanCommands.h"
#include "scan/TW_Apps.h"
#include "view/ZSImage.h"
#include "view/ZSImage_SlideShow.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>

void TFormCrop::CreateScanCommands()
{
    TScanHost host;
    host.AcqImgFile = [this] {
        // Without an options window (never in the program) the scan still has a place to land.
        const QString file = OptAcqImgFile();
        return file.isEmpty() ? QDir(QDir::tempPath()).filePath(QStringLiteral("Scansione.bmp")) : file;
    };
    host.ResolutionText = [this] { return Options() ? Options()->EdResolutionDPI->text() : QString(); };
    host.GrayScaleScanFirma = [this] { return Options() && Options()->GrayScaleScanFirma->isChecked(); };
    host.SignatureMode = [this] { return ZSImage->Selection()->SelectionRatio == srFirma; };
    host.LoadScannedFile = [this](const QString& file, const QImage& picture) {
        // Reached from the application's event filter too: no error may leave through Qt.
        RunGuarded([this, &file, &picture] {
            SetImageList(QStringList{file});
            // The scan is in memory already; reading tens of megabytes back from the file
            // would only repeat it.
            if (!picture.isNull())
                ZSImage->SlideShow()->List()->SetObject(0, picture);
            LoadImage();
        });
    };
    host.LoadScannedFiles = [this](const QStringList& files, const QList<QImage>& pictures) {
        // The sheets of a document feeder, one entry each, in the order they were scanned.
        RunGuarded([this, &files, &pictures] {
            SetImageList(files);
            for (int i = 0; i < pictures.size() && i < files.size(); ++i)
                ZSImage->SlideShow()->List()->SetObject(i, pictures[i]);
            LoadImage();
        });
    };
    host.SetScanButtonEnabled = [this](bool enabled) { BtScanNow->setEnabled(enabled); };
    Scan = new TScanCommands(this, std::move(host), this);
    Scan->InstallAppMessage();
}

void TFormCrop::BtScanNowClick()
{
    Scan->BtScanNowClick();
}

bool TFormCrop::BtSelectScanClick()
{
    return Scan->BtSelectScanClick();
}

TW_IDENTITY TFormCrop::SelectScannerForOptions()
{
    // Cancelling the manager's dialog must not wipe the scanner the user chose before.
    TW_IDENTITY picked;
    std::memset(&picked, 0, sizeof picked);
    if (Options())
        picked = Options()->ScannerCfg;
    RunGuarded([this, &picked] {
        if (BtSelectScanClick())
            picked = SourceIdentity;
    });
    return picked;
}
