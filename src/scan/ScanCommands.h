#pragma once
// The main window's scan commands: start a scan, pick the scanner, and bring the scanned
// picture into the view through "Scansione.bmp".
//
// The main window owns one TScanCommands, fills a TScanHost with what the commands read
// from the options and the view, and calls InstallAppMessage() once when it is created.
// From then on every event of the application passes AppMessage, through which the
// source's events reach the acquisition module.

#include "scan/TW_Const.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

struct TScanHost {
    // Full path of "Scansione.bmp" in the temporary-files folder (options' AcqImgFile).
    std::function<QString()> AcqImgFile;
    // Text of the options' EdResolutionDPI.
    std::function<QString()> ResolutionText;
    // The options' "Scansione in bianco e nero" (GrayScaleScanFirma) is checked.
    std::function<bool()> GrayScaleScanFirma;
    // The view's selection ratio is srFirma (signature crop mode).
    std::function<bool()> SignatureMode;
    // Empties the view's list of image files, adds `file` and calls LoadImage. `picture`
    // is what the file holds, already in memory (null when there is none): the view takes
    // it instead of reading the file back.
    std::function<void(const QString& file, const QImage& picture)> LoadScannedFile;
    // The same for the sheets of a document feeder: `files` in the order they were
    // scanned, `pictures[i]` what files[i] holds. When not set, the first sheet is loaded.
    std::function<void(const QStringList& files, const QList<QImage>& pictures)> LoadScannedFiles;
    // Enables or greys the main window's BtScanNow.
    std::function<void(bool enabled)> SetScanButtonEnabled;
};

// The identity the program declares to the source manager, built afresh each time.
TW_IDENTITY CorvantaAppIdentity();
// Dots per inch from the options' text: a decimal integer, 200 when it is not a number.
int32_t ParseScanResolution(const QString& text);
// Writes a BGR888 picture as a 24-bit bottom-up bitmap file, replacing `file` only once
// the new one is complete. Safe to call on any thread; false when it could not.
bool WriteScanBitmap(const QImage& picture, const QString& file);
// Where sheet `index` (0 first) of a feeder run is kept: the first in `acqFile` itself,
// the others beside it, "Scansione_2.bmp" and on.
QString FeederSheetFile(const QString& acqFile, int index);

class TScanCommands : public QObject {
    Q_OBJECT
public:
    TScanCommands(QWidget* mainWindow, TScanHost host, QObject* parent = nullptr);
    ~TScanCommands() override;

    // Starts a new connection (fresh manager, identities, memory transfer). False when the
    // manager cannot be used; its error has been shown and the scan is abandoned.
    bool InitTwain();
    // The scan command (button "&SCANNER", key S).
    void BtScanNowClick();
    // Lets the user pick the scanner in the manager's dialog; true when one was picked.
    // The pick becomes the default source; SourceIdentity then names it.
    bool BtSelectScanClick();
    // Saves imTwain as a bitmap file at `file` (when not empty) and loads AcqImgFile into
    // the view; the file is complete when this returns. False when there is no picture to
    // take over. Throws on a failed save.
    bool FillImgAndResize(const QString& file);
    // The sheets of a feeder run: each saved to its own file and all put in the view's
    // list in order. Throws on a failed save, after loading what was saved.
    void FillFeederSheets(const QString& file);

    // Installs AppMessage as the application-wide event filter (once).
    void InstallAppMessage();
    // Handles one event; true when it belonged to the source and must not be delivered.
    bool AppMessage(QEvent* event);

    // The invisible picture holder that receives every transferred picture.
    const QImage& imTwain() const { return imTwain_; }
    bool TwainACQ() const { return twainACQ_; }
    // A connection to the manager or a source is still open (the source's dialog is up).
    static bool ConnectionOpen();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void TakeOver();
    void UpdateScanButton();
    void ShowFillError(const QString& file);

    QWidget* mainWindow_;
    TScanHost host_;
    QImage imTwain_;
    // Every picture delivered since the acquisition started, in order.
    QList<QImage> sheets_;
    bool twainACQ_ = false;
    bool installed_ = false;
    unsigned takenSerial_ = 0;
    int buttonState_ = -1;
};
