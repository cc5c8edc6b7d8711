// Connection layer of the acquisition module: loading the manager, the manager and
// source states, source selection, capability negotiation and event routing.

#include "scan/TW_Apps.h"
#include "scan/TW_Misc.h"
#include "scan/TW_Table.h"

#include "platform/InstallLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

const char* const TwainDllName = "libcorvanta_dsm.so";

void* DsmLibrary = nullptr;
DSMENTRYPROC DsmEntryProc = nullptr;
TW_IDENTITY AppIdentity{};
TW_IDENTITY SourceIdentity{};
QWidget* ParentWindow = nullptr;
QImage* TargetBitmap = nullptr;
TW_BOOL ManagerOpen = TW_FALSE;
TW_BOOL SourceOpen = TW_FALSE;
TW_BOOL SourceEnabled = TW_FALSE;
TW_INT16 AcquireFlag = 0;
uint8_t XferMechChoice = 0;
int32_t ScanResolution = 0;
bool ScanGrayScale = false;
TW_USERINTERFACE UserInterface{};
TW_STATUS SourceStatus{};
TW_BOOL AutoFeedActive = TW_FALSE;
char TransferFileName[256] = {};
QVector<QRgb> PaletteHandle;
unsigned PictureSerial = 0;
std::function<void(const QImage&)> PictureDelivered;

namespace {

QString g_dllPath;

std::string LoadErrorText()
{
    return std::string("Impossibile caricare la libreria ") + TwainDllName + ", acquisizione annullata.";
}

// A manager that is not there at all says where it was sought; the loader's own
// (English) reason would only repeat "No such file".
std::string MissingManagerText(const QString& chosenPath)
{
    std::string where;
    if (!chosenPath.isEmpty()) {
        where = "manca il file " + QDir::toNativeSeparators(chosenPath).toStdString();
    } else {
        const QStringList folders =
            ShippedFolders(QString::fromLatin1(TwainDllName), TShippedFolder::PrivateLibrary);
        where = std::string("il file ") + TwainDllName + " non si trova né in " + folders.value(0).toStdString() +
                " né in " + folders.value(1).toStdString();
    }
    return LoadErrorText() + "\rIl gestore dispositivi non è installato: " + where + ".";
}

// One capability MSG_SET with a one-value container, straight to the entry point: the
// scan settings are best effort, so no status query and no report.
bool SetOneValue(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 item)
{
    if (!DsmEntryProc)
        return false;
    auto* one = static_cast<TW_ONEVALUE*>(std::malloc(sizeof(TW_ONEVALUE)));
    if (!one)
        return false;
    one->ItemType = itemType;
    one->Item = item;
    TW_CAPABILITY c{cap, TWON_ONEVALUE, one};
    const TW_UINT16 rc = DsmEntryProc(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
    std::free(one);
    // TWRC_CHECKSTATUS: the source took the nearest value it supports; the settings that
    // follow (the grey pixels of the signature mode) must still be asked for.
    return rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS;
}

} // namespace

void SetTwainDllPath(const QString& path) { g_dllPath = path; }

QString TwainDllPath()
{
    if (!g_dllPath.isEmpty())
        return g_dllPath;
    const QString name = QString::fromLatin1(TwainDllName);
    const QString found = FindShippedFile(name, TShippedFolder::PrivateLibrary);
    return found.isEmpty() ? ShippedFilePlaces(name, TShippedFolder::PrivateLibrary).first() : found;
}

bool LoadTwainDLL()
{
    if (DsmLibrary)
        return false;
    const QString path = TwainDllPath();
    DsmLibrary = dlopen(path.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (!DsmLibrary && !QFileInfo(path).isFile()) {
        dlerror(); // the loader's "no such file" is said better below
        ShowTwainError(ParentWindow, MissingManagerText(g_dllPath));
        return false;
    }
    if (!DsmLibrary) {
        const char* why = dlerror();
        ShowTwainError(ParentWindow, LoadErrorText() + (why ? std::string("\r") + why : std::string()));
        return false;
    }
    DsmEntryProc = reinterpret_cast<DSMENTRYPROC>(dlsym(DsmLibrary, "DSM_Entry"));
    if (!DsmEntryProc)
        ShowTwainError(ParentWindow, "Impossibile accedere alla funzione DSM_Entry()");
    return true;
}

void UnloadTwainDLL()
{
    if (!DsmLibrary)
        return;
    DsmEntryProc = nullptr;
    dlclose(DsmLibrary);
    DsmLibrary = nullptr;
}

bool TWInitialize(const TW_IDENTITY& identity, QWidget* window, QImage* bitmap)
{
    // A manager that cannot be loaded abandons this scan only: ending the program here
    // would throw away the user's unsaved work.
    ParentWindow = window;
    const bool usable = LoadTwainDLL() || DsmLibrary;
    std::memcpy(&AppIdentity, &identity, sizeof(TW_IDENTITY));
    TargetBitmap = bitmap;
    return usable && DsmEntryProc;
}

void TWUnInitialize()
{
    UnloadTwainDLL();
    std::memset(&AppIdentity, 0, sizeof AppIdentity);
    std::memset(&SourceIdentity, 0, sizeof SourceIdentity);
}

TW_UINT16 CallDSMEntry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                       TW_MEMREF data)
{
    if (!DsmEntryProc) {
        // Loaded without an entry point: refuse plainly instead of jumping nowhere. When
        // the library did not load at all, its error has been shown already.
        if (DsmLibrary && dat != DAT_EVENT)
            ShowTwainError(ParentWindow, "Il gestore dispositivi TWAIN non è utilizzabile: la libreria non "
                                         "contiene la funzione DSM_Entry(). Operazione rifiutata.");
        return TWRC_FAILURE;
    }
    const TW_UINT16 rc = DsmEntryProc(origin, dest, dg, dat, msg, data);
    if (rc != TWRC_SUCCESS && dat != DAT_EVENT) {
        std::string rcName, ccName;
        MatchTwainInt(ReturnCodeNames, ReturnCodeCount, rc, rcName);
        MatchTwainInt(ConditionCodeNames, ConditionCodeCount, SourceStatus.ConditionCode, ccName);
        const TW_UINT16 st = DsmEntryProc(origin, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &SourceStatus);
        if (st != TWRC_SUCCESS && SourceStatus.ConditionCode == TWCC_SUCCESS)
            throw ETwainException(TwFormat("Chiamata della funzione CallDSMEntry fallita.\rCodice causa: "
                                           "%s\rCodice condizione: %s",
                                           rcName.c_str(), ccName.c_str()));
    }
    return rc;
}

TW_BOOL TWOpenDSM()
{
    if (ManagerOpen)
        return ManagerOpen;
    const TW_UINT16 rc = CallDSMEntry(&AppIdentity, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &ParentWindow);
    if (rc == TWRC_SUCCESS) {
        ManagerOpen = TW_TRUE;
        ShowRC_CC(ParentWindow, TWML_NOTE, "Informazioni TWAIN", "Il gestore dispositivi è stato aperto con successo");
    } else if (rc == TWRC_FAILURE) {
        ManagerOpen = TW_FALSE;
        if (DsmEntryProc)
            ShowRC_CC(ParentWindow, TWML_ERROR, rc, "DG_CONTROL/DAT_PARENT/MSG_OPENDSM");
    }
    return ManagerOpen;
}

bool TWCloseDSM(uint32_t)
{
    if (!ManagerOpen) {
        ShowRC_CC(ParentWindow, TWML_ERROR, "Errore di sequenza",
                  "Impossibile chiudere il gestore dispositivi\rGestore dispositivi non aperto.");
        return false;
    }
    if (SourceOpen) {
        ShowRC_CC(ParentWindow, TWML_ERROR, "Impossibile chiudere il gestore dispositivi", "Un dispositivo è già aperto");
        return false;
    }
    const TW_UINT16 rc = CallDSMEntry(&AppIdentity, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &ParentWindow);
    if (rc != TWRC_SUCCESS) {
        ShowRC_CC(ParentWindow, TWML_ERROR, rc, "DG_CONTROL/DAT_PARENT/MSG_CLOSEDSM");
        return false;
    }
    ManagerOpen = TW_FALSE;
    SourceIdentity.Id = 0;
    ShowRC_CC(ParentWindow, TWML_NOTE, "Informazioni TWAIN", "Il gestore dispositivi è stato chiuso con successo");
    return true;
}

TW_BOOL TWOpenDS()
{
    if (!ManagerOpen) {
        ShowRC_CC(ParentWindow, TWML_ERROR, "Errore TWAIN", "Impossibile aprire il dispositivo\rGestore dispositivi non aperto");
        return SourceOpen;
    }
    if (SourceOpen) {
        ShowRC_CC(ParentWindow, TWML_NOTE, "Informazioni TWAIN", "Dispositivo già aperto");
        return SourceOpen;
    }
    const TW_UINT16 rc = CallDSMEntry(&AppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &SourceIdentity);
    if (rc == TWRC_SUCCESS) {
        SourceOpen = TW_TRUE;
        ShowTW_ID(ParentWindow, "DG_CONTROL/DAT_IDENTITY/MSG_OPENDS TWRC_SUCCESS");
    } else {
        ShowTwainInfo(ParentWindow, "Errore! Acquisizione da scanner: dispositivo non selezionato, non funzionante, "
                                    "disconnesso oppure non compatibile con questa applicazione.");
    }
    return SourceOpen;
}

bool TWCloseDS()
{
    if (!SourceOpen) {
        ShowRC_CC(ParentWindow, TWML_ERROR, "Errore di sequenza", "Impossibile chiudere il dispositivo\rDispositivo non aperto");
        return false;
    }
    if (SourceEnabled) {
        ShowRC_CC(ParentWindow, TWML_ERROR, "Impossibile chiudere il dispositivo", "Il dispositivo è in uso");
        return false;
    }
    const TW_UINT16 rc = CallDSMEntry(&AppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &SourceIdentity);
    if (rc != TWRC_SUCCESS) {
        ShowRC_CC(ParentWindow, TWML_ERROR, rc, "DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS");
        return false;
    }
    SourceOpen = TW_FALSE;
    SourceIdentity.Id = 0;
    SourceIdentity.ProductName[0] = '\0';
    ShowRC_CC(ParentWindow, TWML_NOTE, "Informazioni TWAIN", "Il dispositivo è stato chiuso con successo");
    return true;
}

bool TWEnableDS(TW_BOOL show)
{
    if (!SourceOpen) {
        ShowRC_CC(ParentWindow, TWML_ERROR, "Errore TWAIN", "Impossibile abilitare il dispositivo\rDispositivo non aperto");
        return false;
    }
    if (SourceEnabled) {
        ShowRC_CC(ParentWindow, TWML_ERROR, "Errore TWAIN", "Impossibile abilitare il dispositivo, perchè è in uso");
        return false;
    }
    std::memset(&UserInterface, 0, sizeof UserInterface);
    UserInterface.ShowUI = show;
    UserInterface.ModalUI = 0;
    UserInterface.hParent = ParentWindow;
    const TW_UINT16 rc =
        CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &UserInterface);
    if (rc != TWRC_SUCCESS)
        return false;
    SourceEnabled = TW_TRUE;
    if (show)
        ShowRC_CC(ParentWindow, TWML_NOTE, "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS", "Dispositivo abilitato");
    return true;
}

bool TWDisableDS()
{
    std::memset(&UserInterface, 0, sizeof UserInterface);
    if (!SourceEnabled) {
        ShowRC_CC(ParentWindow, TWML_ERROR, "Errore di sequenza",
                  "Impossibile disabilitare il dispositivo, perchè non è stato abilitato");
        return false;
    }
    UserInterface.ShowUI = TW_TRUE;
    UserInterface.hParent = ParentWindow;
    const TW_UINT16 rc =
        CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &UserInterface);
    if (rc != TWRC_SUCCESS) {
        ShowRC_CC(ParentWindow, TWML_ERROR, rc, "DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS");
        return false;
    }
    SourceEnabled = TW_FALSE;
    ShowRC_CC(ParentWindow, TWML_NOTE, "DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS", "Dispositivo disabilitato");
    return true;
}

bool TWSelectDS()
{
    TW_IDENTITY picked{};
    if (SourceOpen) {
        ShowRC_CC(ParentWindow, TWML_ERROR, "DG_CONTROL/DAT_IDENTITY/MSG_USERSELECT",
                  "Un dispositivo è già stato aperto\rÈ necessario chiuderlo prima di selezionarne un'altro");
        return false;
    }
    TW_UINT16 rc = CallDSMEntry(&AppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &picked);
    if (rc == TWRC_FAILURE) {
        ShowTwainInfo(ParentWindow, "Errore! Acquisizione da scanner: Non sono stati rilevati dispositivi compatibili a "
                                    "questa operazione, verificare il collegamento e il corretto funzionamento dello "
                                    "scanner.");
        return false;
    }
    if (rc != TWRC_SUCCESS)
        return false;
    rc = CallDSMEntry(&AppIdentity, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &picked);
    switch (rc) {
    case TWRC_SUCCESS:
        std::memcpy(&SourceIdentity, &picked, sizeof picked);
        ShowTW_ID(ParentWindow, "DG_CONTROL/DAT_IDENTITY/MSG_USERSELECT");
        return true;
    case TWRC_FAILURE:
        ShowRC_CC(ParentWindow, TWML_ERROR, rc, "DG_CONTROL/DAT_IDENTITY/MSG_USERSELECT");
        return false;
    case TWRC_CANCEL:
        ShowRC_CC(ParentWindow, TWML_REPORT, rc, "DG_CONTROL/DAT_IDENTITY/MSG_USERSELECT");
        return false;
    default:
        return false;
    }
}

TW_UINT16 TWXferMech(QWidget* window)
{
    TW_UINT16 mech = TWSX_NATIVE;
    if (XferMechChoice == 2) {
        mech = TWSX_MEMORY;
    } else if (XferMechChoice == 1) {
        mech = TWSX_FILE;
        const QString name = QFileDialog::getSaveFileName(window, "Save Twain File", QString(),
                                                          "Bitmap files (*.bmp)");
        if (name.isEmpty())
            return 1;
        QString withExt = name;
        if (!withExt.endsWith(".bmp", Qt::CaseInsensitive))
            withExt += ".bmp";
        const QByteArray local = withExt.toLocal8Bit().left(255);
        std::memset(TransferFileName, 0, sizeof TransferFileName);
        std::memcpy(TransferFileName, local.constData(), static_cast<size_t>(local.size()));
    }
    auto* one = static_cast<TW_ONEVALUE*>(std::malloc(sizeof(TW_ONEVALUE)));
    if (!one) {
        ShowRC_CC(window, TWML_ERROR, "MSG_SET of ICAP_XFERMECH", "Allocazione di memoria fallita");
        return 1;
    }
    one->ItemType = TWTY_UINT16;
    one->Item = mech;
    TW_CAPABILITY cap{ICAP_XFERMECH, TWON_ONEVALUE, one};
    TW_UINT16 rc = TWRC_FAILURE;
    try {
        rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    } catch (...) {
        std::free(one);
        throw;
    }
    if (rc != TWRC_SUCCESS)
        ShowRC_CC(window, TWML_ERROR, rc, "MSG_SET of ICAP_XFERMECH");
    std::free(one);
    return rc;
}

TW_UINT16 TWAutofeedMenu(QWidget*)
{
    AutoFeedActive = TW_FALSE;
    return TWRC_SUCCESS;
}

TW_BOOL AutoFeedOn() { return AutoFeedActive; }

bool TWCapSetUnitsInches() { return SetOneValue(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES); }

// The 32-bit resolution goes into the TW_FIX32 bit for bit: low half in Whole, high half
// in Frac, so any value up to 32767 reads as Whole = r, Frac = 0.
bool TWCapSetXResolution(int32_t resolution)
{
    return SetOneValue(ICAP_XRESOLUTION, TWTY_FIX32, static_cast<TW_UINT32>(resolution));
}

bool TWCapSetYResolution(int32_t resolution)
{
    return SetOneValue(ICAP_YRESOLUTION, TWTY_FIX32, static_cast<TW_UINT32>(resolution));
}

bool TWCapSetBitDepth(int32_t depth) { return SetOneValue(ICAP_BITDEPTH, TWTY_UINT16, static_cast<TW_UINT32>(depth)); }

bool TWCapSetGrayscale() { return SetOneValue(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY); }

bool TWCapSetStandard(int32_t resolution, bool grey)
{
    bool ok = TWCapSetUnitsInches() && TWCapSetXResolution(resolution) && TWCapSetYResolution(resolution) &&
              TWCapSetBitDepth(24);
    if (ok && grey)
        ok = TWCapSetGrayscale();
    return ok;
}

bool TWAcquire(QWidget* window, TW_BOOL show, TW_UINT16 flag)
{
    AcquireFlag = 0;
    if (!TWOpenDSM())
        return false;
    if (!TWOpenDS()) {
        TWCloseDSM();
        return false;
    }
    if (TWXferMech(window) != TWRC_SUCCESS) {
        TWCloseDS();
        if (TWCloseDSM())
            AcquireFlag = 0;
        return false;
    }
    TWAutofeedMenu(window);
    if (ScanResolution != 0)
        TWCapSetStandard(ScanResolution, ScanGrayScale);
    bool enabled = true;
    if (!SourceEnabled) {
        enabled = TWEnableDS(show);
        AcquireFlag = static_cast<TW_INT16>(flag);
    }
    if (!enabled) {
        TWCloseDS();
        if (TWCloseDSM())
            AcquireFlag = 0;
        return false;
    }
    return true;
}

bool ProcessTWMessage(QEvent* msg, QWidget* window)
{
    if (!ManagerOpen || !SourceOpen)
        return false;
    TW_EVENT ev{msg, MSG_NULL};
    const TW_UINT16 rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &ev);
    switch (ev.TWMessage) {
    case MSG_XFERREADY:
        if (AcquireFlag > 0)
            TWTransferImage(window);
        else
            ShowRC_CC(window, TWML_ERROR, "MSG_XFERREADY", "Received while not in state 5");
        break;
    case MSG_CLOSEDSREQ:
    case MSG_CLOSEDSOK:
        TWDisableDS();
        TWCloseDS();
        TWCloseDSM();
        break;
    default:
        break;
    }
    return rc == TWRC_DSEVENT;
}

void CloseConnection(uint32_t value)
{
    if (!TWDisableDS()) {
        AcquireFlag = 0;
        return;
    }
    if (!TWCloseDS()) {
        AcquireFlag = 0;
        return;
    }
    if (TWCloseDSM(value))
        AcquireFlag = 0;
}
