#pragma once
// The options window and the program-wide utility object.
//
// TFormOptions holds every user setting in its controls, loads and stores them in
// section "FormOptions" of the settings file, and derives the working paths
// (output folder, temporary files, user manual). The main window reads its
// controls and path fields directly whenever it needs a setting.
//
// Start-up order: create the QApplication, call InitOptionsUnit() (computes
// IniFileName, creates Utils), create the main window, then the options window
// with the main window's hooks. DoneOptionsUnit() undoes InitOptionsUnit at exit.

#include "config/TwainIdentity.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPainter;
class QPushButton;
class QRadioButton;
class QStackedWidget;

// Special folders, the program's version, a delay that keeps the interface alive,
// and small printer and date helpers. Folder answers end with "/" and are empty
// text when the system cannot give the folder.
class TUtils {
public:
    TUtils() { CreaObj(); }
    // Sets AppDataPath to the program's folder.
    void CreaObj();

    QString AppDataPath;

    // $XDG_DATA_HOME, or ~/.local/share when it is unset or not an absolute path.
    QString GetNoRoamLocalAppDataPath() const;
    // The user's desktop and pictures folders (XDG user directories).
    QString GetDesktopPath() const;
    QString GetPicturesPath() const;
    // "major.minor.release.build" of the named program file: the running program's
    // own version for its own file; empty text for any other file, since an
    // executable here carries no version record to read.
    QString GetVersion(const QString& sFileName) const;
    // Processes pending interface events until `Millisecondi` have passed (at least
    // once, also for 0). The elapsed time is an unsigned 32-bit tick difference, so
    // a wrap of the tick counter does no harm.
    void Delay(uint32_t Millisecondi) const;

    // Fills `printers` with the installed printers; answers the index of the
    // default one, or -1 when there is none.
    int EnumPrt(QStringList& printers) const;
    QString GetDefaultPrinter() const;
    // Makes an installed printer the user's default (CUPS lpoptions); false when the
    // printer is unknown or the change failed.
    bool SetDefaultPrinter(const QString& name) const;

    // Completes a day ("7") or day and month ("7/3") into a full date of the
    // current month or year, "dd/MM/yyyy"; a full date is checked and normalised.
    // Separators "/", "-" or "."; a two-digit year means 20yy. Empty text when no
    // valid date results.
    QString ValidateDate(const QString& text) const;
    // True for a complete valid date day/month/year.
    bool IsDate(const QString& text) const;
};

extern TUtils* Utils;

// Unit start and end: IniFileName and Utils exist between the two calls.
void InitOptionsUnit();
void DoneOptionsUnit();

// The text as a TW_STR32: each character's low 8 bits, up to and including the
// terminating NUL; a text of 34 characters or more fills all 34 bytes without NUL.
void StrToTW_STR32(const QString& text, TW_STR32& dest);
// The text of a TW_STR32: up to its first NUL, at most 34 bytes, read as Latin-1.
QString TW_STR32ToStr(const TW_STR32& s);

// The manual's file name: the program file's name with its extension replaced (or,
// having none, given) ".pdf".
QString ManualFileBaseName();
// Where the manual is: beside the program, else in the installed documentation folder;
// beside the program when it is in neither (the caller checks that it exists).
QString ManualPath();

// What the options window calls in the main window. Each hook is optional: an
// unset hook is skipped. The main window fills these before the options window
// is created, because creation already calls CheckImgageReset.
//  - CheckImgageReset: offer the scan file left from an earlier run.
//  - UpdateOutButton: the output folder may have changed.
//  - HidePanelPreviewBw, MakeMaskPaint: OK with the black-and-white preview off.
//  - SetOpenDialogFolder: start folder of the main window's file-open dialog.
//  - SelectScanner: let the user pick a scanner through the source manager and
//    answer the picked source's identity (all zeros when cancelled or failed).
//    Until it is set, "Seleziona lo scanner" is disabled and says so.
struct TFormCropHooks {
    std::function<void()> CheckImgageReset;
    std::function<void()> UpdateOutButton;
    std::function<void()> HidePanelPreviewBw;
    std::function<void()> MakeMaskPaint;
    std::function<void(const QString&)> SetOpenDialogFolder;
    std::function<TW_IDENTITY()> SelectScanner;
};

class TFormOptions : public QDialog {
    Q_OBJECT
public:
    // Builds the window and runs FormCreate: reads the settings (writing the
    // first-start values when there are none), derives the paths and creates the
    // temporary-files folder. `owner` is the main window it is centred on.
    explicit TFormOptions(QWidget* owner = nullptr, TFormCropHooks hooks = {});

    void SetHooks(const TFormCropHooks& hooks);
    const TFormCropHooks& Hooks() const { return FHooks; }

    // Paths; folders end with "/".
    QString DeskTopPath;
    QString TempFlPath;
    QString OutImgPath;
    QString AcqImgFile;
    QString TmpFotFile;
    QString TmpFirFile;
    QString FlsPicPath;
    QString PdfFilName;
    // The chosen scanner; only Id and the three texts are stored.
    TW_IDENTITY ScannerCfg{};

    QListWidget* ListOptions = nullptr;
    QStackedWidget* PageOptions = nullptr;
    QLabel* LbVersion = nullptr;
    QPushButton* BtCancel = nullptr;
    QPushButton* BtOk = nullptr;
    // Page "SCANNER e FILES"
    QLineEdit* EdFilesOutput = nullptr;
    QPushButton* BtFilesOutput = nullptr;
    QCheckBox* CkTempFilesInExeDir = nullptr;
    QLineEdit* EdScanner = nullptr;
    QPushButton* BtSelectScan = nullptr;
    QLineEdit* EdResolutionDPI = nullptr;
    QCheckBox* GrayScaleScanFirma = nullptr;
    // Page "RITAGLI e RITOCCO"
    QRadioButton* RbFotoStartDefault = nullptr;
    QRadioButton* RbFirmaStartDefault = nullptr;
    QCheckBox* CkMinSizeSel = nullptr;
    QCheckBox* CkCropMouseUp = nullptr;
    QCheckBox* CkStoreEditSliders = nullptr;
    QCheckBox* CkStoreSelections = nullptr;
    QCheckBox* CkFirmaGrayscale = nullptr;
    QCheckBox* CkFotoPreviewBw = nullptr;
    QCheckBox* CkAutoCropOnOpen = nullptr; // "Ritaglio automatico" after every picture shown

    // Every control from the settings file; false (after a message) when the file
    // exists but cannot be read. Controls read before the failure keep their values.
    bool ReadOptions();
    // Every control into the settings file; false (after a message) when a value
    // could not be stored. The keys before the failure stay stored.
    bool SaveOptions();
    // Derives TempFlPath and the three temporary files, creates the temporary-files
    // folder, and derives OutImgPath and PdfFilName from the controls.
    void ChangeFolders();

    void FormCreate();
    void CkTempFilesInExeDirClick();
    void BtFilesOutputClick();
    void BtSelectScanClick();
    void ListOptionsClick();
    void ListOptionsDrawItem(QPainter* painter, int index, const QRect& rect, bool selected) const;
    int ListOptionsMeasureItem(int index) const;
    void BtOkClick();
    void BtCancelClick();

    // The settings file's folder, with "/".
    static QString IniFolder();
    // Folder chooser used by BtFilesOutputClick; empty text when cancelled.
    QString ChooseOutputFolder();

    // Esc and the window manager's close behave as "Annulla": the stored values come back.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildLayout();
    void BuildScannerPage(QWidget* page);
    void BuildCropPage(QWidget* page);
    void ApplyLook();
    void UpdateScannerButton();
    void ShowError(const QString& text);
    // The controls and paths as they were when the window opened; "Annulla"
    // puts them back (the settings file may not hold them yet at a first start).
    void TakeSnapshot();
    void RestoreSnapshot();

    TFormCropHooks FHooks;
    struct TSnapshot {
        bool Valid = false;
        QString FilesOutput, Scanner, Resolution, FlsPicPath;
        TW_IDENTITY ScannerCfg{};
        bool TempInExeDir = false, GrayScan = false, FotoStart = false, FirmaStart = false, MinSize = false,
             CropMouseUp = false, StoreSliders = false, StoreSelections = false, FirmaGray = false, PreviewBw = false;
    } FSnapshot;
};

// The one options window, set by whoever creates it (the program's start-up).
extern TFormOptions* FormOptions;

// Exact texts of the window; the tests compare against them too.
namespace OptionsText {
inline const QString Caption = QStringLiteral("OPZIONI");
inline const QString PageScanner = QStringLiteral("  SCANNER e FILES");
inline const QString PageCrop = QStringLiteral("  RITAGLI e RITOCCO");
inline const QString ChooseFolder = QStringLiteral("Selezionare o creare una cartella.\r\nPremere OK per confermare.");
inline const QString ReadFailed = QStringLiteral("Impossibile caricare le opzioni di configurazione. File  ");
inline const QString SaveFailed = QStringLiteral("Impossibile salvare le opzioni di configurazione. File  ");
inline const QString NotValid = QStringLiteral(" non valido. ");
inline const QString NoScanner = QStringLiteral("Supporto scanner non presente in questa versione del programma.");
inline const QString NoScannerShort = QStringLiteral("Supporto scanner non presente");
} // namespace OptionsText
