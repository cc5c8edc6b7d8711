#include "scan/ScanCommands.h"

#include "scan/TW_Apps.h"
#include "scan/TW_Misc.h"

#include <QApplication>
#include <QEvent>
#include <QSaveFile>
#include <QWidget>
#include <cstring>
#include <stdexcept>

namespace {

void CopyStr32(char* dst, const char* src)
{
    std::memset(dst, 0, 34);
    std::strncpy(dst, src, 33);
}

} // namespace

TW_IDENTITY CorvantaAppIdentity()
{
    TW_IDENTITY id;
    std::memset(&id, 0, sizeof id);
    id.Id = 0;
    id.Version.MajorNum = 2;
    id.Version.MinorNum = 2009;
    id.Version.Language = TWLG_ITALIAN;
    id.Version.Country = TWCY_ITALY;
    CopyStr32(id.Version.Info, "2.x.x.x");
    id.ProtocolMajor = 1;
    id.ProtocolMinor = 9;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    CopyStr32(id.Manufacturer, "Lodrevan");
    CopyStr32(id.ProductFamily, "Corvanta");
    CopyStr32(id.ProductName, "Corvanta");
    return id;
}

int32_t ParseScanResolution(const QString& text)
{
    bool ok = false;
    const int32_t v = text.trimmed().toInt(&ok, 10);
    return ok ? v : 200;
}

TScanCommands::TScanCommands(QWidget* mainWindow, TScanHost host, QObject* parent)
    : QObject(parent), mainWindow_(mainWindow), host_(std::move(host))
{
}

TScanCommands::~TScanCommands()
{
    if (installed_ && qApp)
        qApp->removeEventFilter(this);
    if (TargetBitmap == &imTwain_)
        TargetBitmap = nullptr;
}

bool TScanCommands::ConnectionOpen() { return ManagerOpen || SourceOpen || SourceEnabled; }

bool TScanCommands::InitTwain()
{
    try {
        TWUnInitialize();
        const TW_IDENTITY identity = CorvantaAppIdentity();
        const bool usable = TWInitialize(identity, mainWindow_, &imTwain_);
        XferMechChoice = 2;
        twainACQ_ = false;
        return usable;
    } catch (const std::exception& e) {
        ShowTwainInfo(mainWindow_, std::string("Errore! Acquisizione da scanner: inizializzazione TWAIN fallita. ") +
                                       e.what());
        return false;
    }
}

void TScanCommands::BtScanNowClick()
{
    // The key S still reaches here while the source's dialog is up; a second connection
    // on top of the open one would tangle both, so the open one is left to finish.
    if (ConnectionOpen())
        return;
    if (!InitTwain())
        return;
    QCoreApplication::processEvents();
    // The previous "Scansione.bmp" stays until a new picture replaces it, so a cancelled
    // or failed scan loses nothing.
    if (!SourceOpen) {
        SourceIdentity.Id = 0;
        SourceIdentity.ProductName[0] = '\0';
        AppIdentity.Id = 0;
    }
    ScanResolution = ParseScanResolution(host_.ResolutionText ? host_.ResolutionText() : QString());
    ScanGrayScale = host_.GrayScaleScanFirma && host_.SignatureMode && host_.GrayScaleScanFirma() && host_.SignatureMode();
    takenSerial_ = PictureSerial;
    bool started = false;
    try {
        started = TWAcquire(mainWindow_, TW_TRUE, 3);
    } catch (const std::exception& e) {
        ShowTwainError(mainWindow_, e.what());
    }
    UpdateScanButton();
    if (!started)
        return;
    twainACQ_ = true;
    // A source with a modal dialog may already have delivered its picture.
    QCoreApplication::processEvents();
    if (PictureSerial != takenSerial_)
        TakeOver();
}

bool TScanCommands::BtSelectScanClick()
{
    if (ConnectionOpen())
        return false;
    if (!InitTwain())
        return false;
    QCoreApplication::processEvents();
    bool picked = false;
    try {
        if (TWOpenDSM()) {
            picked = TWSelectDS();
            TWCloseDSM();
        }
    } catch (const std::exception& e) {
        ShowTwainError(mainWindow_, e.what());
    }
    return picked;
}

bool TScanCommands::FillImgAndResize(const QString& file)
{
    if (imTwain_.isNull())
        return false;
    if (!file.isEmpty()) {
        // Written aside and renamed over the old file, so a failed save keeps the last scan.
        QSaveFile out(file);
        if (!out.open(QIODevice::WriteOnly) || !imTwain_.save(&out, "BMP") || !out.commit())
            throw std::runtime_error("salvataggio non riuscito");
    }
    QCoreApplication::processEvents();
    if (host_.LoadScannedFile)
        host_.LoadScannedFile(host_.AcqImgFile ? host_.AcqImgFile() : file);
    return true;
}

void TScanCommands::ShowFillError(const QString& file)
{
    ShowTwainInfo(mainWindow_,
                  ("Errore! Acquisizione da scanner: procedura FillImgAndResize(" + file + ") fallita.").toStdString());
}

void TScanCommands::TakeOver()
{
    const QString file = host_.AcqImgFile ? host_.AcqImgFile() : QString();
    takenSerial_ = PictureSerial;
    try {
        FillImgAndResize(file);
    } catch (const std::exception&) {
        ShowFillError(file);
    }
}

void TScanCommands::InstallAppMessage()
{
    if (installed_)
        return;
    qApp->installEventFilter(this);
    installed_ = true;
}

bool TScanCommands::AppMessage(QEvent* event)
{
    try {
        if (ProcessTWMessage(event, mainWindow_))
            return true;
    } catch (const std::exception& e) {
        // Exceptions must not cross Qt's event delivery; this is the program's error box.
        ShowTwainError(mainWindow_, e.what());
    }
    if (twainACQ_ && !ManagerOpen && !SourceOpen) {
        twainACQ_ = false;
        // Only a picture that arrived during this acquisition is taken over: a closed
        // dialog or a failed transfer leaves "Scansione.bmp" and the view as they were.
        if (PictureSerial != takenSerial_)
            TakeOver();
    }
    UpdateScanButton();
    return false;
}

void TScanCommands::UpdateScanButton()
{
    const int enabled = (!ManagerOpen && !SourceOpen && !SourceEnabled) ? 1 : 0;
    if (enabled != buttonState_) {
        buttonState_ = enabled;
        if (host_.SetScanButtonEnabled)
            host_.SetScanButtonEnabled(enabled == 1);
    }
}

bool TScanCommands::eventFilter(QObject* watched, QEvent* event)
{
    if (AppMessage(event))
        return true;
    return QObject::eventFilter(watched, event);
}
