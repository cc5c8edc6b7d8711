#pragma once
// TFormCrop: the main window. The image view on the left, on the right the
// command buttons, the photo and signature slots, the retouch sliders and the
// save and exit buttons; over the empty image area the guide panel.
//
// The implementation is split by topic: U_Cropping_Layout.cpp (building and
// placing the controls), _Wiring (the view, the slots, options and the points
// where retouching, stored values, saving and scanning join), _Guide (guide
// panel and links), _Keys (keyboard, wheel, window messages), _Modes (crop
// modes and selection events), _Crop (cutting out), _Load (image list,
// reset, dropped files), _Run (program start), _Startup (error handler,
// style, language), _Toolbar (the rotate and zoom toolbar's side), _Retouch
// (sliders, grey preview, slot resets), _Store (stored retouch values and
// frames), _Save (the save command; its name dialog is U_fOut.h), _Scan
// (scanning and picking the scanner). The pixel
// work lives in U_Cropping_Pixels.h.

#include "app/U_Cropping_Controls.h"
#include "config/U_Options.h"
#include "platform/Geometry.h"
#include "view/ZSImage_Events.h"
#include "view/ZSImage_Selection.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

class QPushButton;
class QSlider;
class QGroupBox;
class QLabel;
class TZSImage;
class TOrImage;
class TFormOptions;
struct TFormTBackHooks;
class TScanCommands;
struct TBatchPage;
struct TBatchSettings;
enum class TBatchCollision;
class TStatusStrip;
class TUndoHistory;

class TFormCrop : public QWidget {
    Q_OBJECT
public:
    explicit TFormCrop(QWidget* parent = nullptr);
    ~TFormCrop() override;

    // --- state (created in FormCreate) ---
    TZSImage* ZSImage = nullptr;
    QImage BmpFotoBuffer1;  // photo slot's last crop, scaled, before sharpening
    QImage BmpFirmaBuffer1; // the same for the signature slot
    QImage BmpBackBuffer;   // unrotated copy of the view's picture, taken on every zoom change
    int gradiRot = 0;       // rotation of the view's picture in degrees, 0..359
    bool PrimoAvvioFoto = true;
    bool PrimoAvvioFirma = true;
    QString NomeCorrente;
    QImage imTwain; // holder of the scanned picture, never shown
    bool TwainACQ = false;
    // Scanning: start a scan, pick the scanner (U_Cropping_Scan.cpp).
    TScanCommands* Scan = nullptr;
    // The window's own colour; the view's background takes it.
    TColor Color = clGray;

    // --- controls ---
    TPanel* PanelImage = nullptr;
    TPanel* PanelR = nullptr;
    TPanel* PanelBtn = nullptr;
    QPushButton* BtScanNow = nullptr;
    QPushButton* BtLoadImages = nullptr;
    QPushButton* BtResetImg = nullptr;
    QPushButton* BtOptions = nullptr;
    TImage* BtResetDisGlyph = nullptr;
    TPanel* PanelImgs = nullptr;
    TShape* ShapeFoto = nullptr;
    TShape* ShapeFirma = nullptr;
    TOrImage* OrImageFoto = nullptr;
    TOrImage* OrImageFirma = nullptr;
    TImage* ImgFoto = nullptr;
    TImage* ImgFirma = nullptr;
    TPanel* Panel1 = nullptr;
    QGroupBox* GrEditImg = nullptr;
    QSlider* pBarLight = nullptr;
    QSlider* pBarContr = nullptr;
    QSlider* pBarDark = nullptr;
    QSlider* pBarColor = nullptr;
    QSlider* pBarSharpness = nullptr;
    QLabel* LbLigh = nullptr;
    QLabel* Lbcont = nullptr;
    QLabel* LbDark = nullptr;
    QLabel* LbColo = nullptr;
    QLabel* LbShar = nullptr;
    TPanel* PanelSave = nullptr;
    QPushButton* BtSaveImg = nullptr;
    QPushButton* BtExit = nullptr;
    TPanel* PanelLogo = nullptr;
    THoverLabel* Label11 = nullptr; // "manuale d'uso"
    THoverLabel* Label3 = nullptr;  // web site
    THoverLabel* Label4 = nullptr;  // e-mail
    TPanel* PnhScanner = nullptr;
    TPanel* PnhFile = nullptr;
    TPanel* PnhFoto = nullptr;
    TPanel* PnhFirma = nullptr;
    TPanel* PnhRitocco = nullptr;
    TPanel* PnhSalva = nullptr;
    TPanel* PanelPreviewBw = nullptr;
    TImage* ImgPreviewBw = nullptr;
    TTagTimer* TimerH = nullptr;

    // The five sliders in the order the arrow keys look for the focused one.
    QSlider* Slider(int index) const;
    QLabel* SliderLabel(int index) const;

    // --- Part of the window's life ---
    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();
    void FormResize();

    // --- keyboard and wheel (virtual-key codes) ---
    void FormKeyDown(int& Key, Qt::KeyboardModifiers Shift);
    void FormKeyUp(int& Key, Qt::KeyboardModifiers Shift);
    void FormMouseWheelDown(Qt::KeyboardModifiers Shift, const QPoint& MousePos, bool& Handled);
    void FormMouseWheelUp(Qt::KeyboardModifiers Shift, const QPoint& MousePos, bool& Handled);

    // --- commands ---
    void BtLoadImagesClick();
    void BtOptionsClick();
    void BtExitClick();
    void BtScanNowClick();
    // The manager's dialog for picking the scanner; true when one was picked.
    bool BtSelectScanClick();
    // Crops, or saves the current slot as a JPEG (U_Cropping_Save.cpp).
    void BtSaveImgClick();
    void UpdateOutButton();

    // --- crop modes and cropping ---
    TzsiFixSelectionRatio Mode() const;
    bool ViewEmpty() const;
    void LoadImage();
    void CheckImgageReset();
    void BtResetImgClick();
    void ImpostaZoom(int scala);
    void SeletionFixMode(TzsiFixSelectionRatio mode, bool keepView);
    void ZSImageClick();
    void OrImageFotoClick();
    void OrImageFirmaClick();
    void MakeMaskPaint();
    void ZSImageSelectionChange();
    void ZSImageSelectionMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void ZSImageSelectionMouseMove(TShiftState Shift, int X, int Y);
    void ZSImageSelectionMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void BtMakeCropClick();
    bool CropAndResizeFoto();
    bool CropAndResizeFirma();
    // The image list becomes these files, in this order, and the first is shown.
    void LoadImageFiles(const QStringList& files);
    int ImageListCount() const;
    void SetImageList(const QStringList& files);

    // --- retouch, stored values, scanning: completed with their own features ---
    void UpdatePreviewBw();
    void pBarLightChange();
    void pBarContrChange();
    void pBarDarkChange();
    void pBarColorChange();
    void pBarSharpnessChange();
    void OrImageFotoReset();
    void OrImageFirmaReset();
    // A right press on a slot resets it while its mode is the current one.
    void OrImageFotoMouseDown(Qt::MouseButton Button);
    void OrImageFirmaMouseDown(Qt::MouseButton Button);
    bool LeggiSelezioneIni(TzsiFixSelectionRatio mode, TRect& shown, double& zoom, TRect& frame);
    void LeggiRitoccoIni(TzsiFixSelectionRatio mode);
    void ScriviSelezioneIni();
    void ScriviRitoccoIni();

    // --- options as the workflow reads them (all off while no options window exists) ---
    TFormOptions* Options() const;
    bool OptCropMouseUp() const;
    bool OptMinSizeSel() const;
    bool OptStoreSelections() const;
    bool OptStoreEditSliders() const;
    bool OptFirmaStartDefault() const;
    bool OptFirmaGrayscale() const;
    bool OptAutoCropOnOpen() const;

    // --- automatic crop (U_Cropping_Auto.cpp) ---
    // Starts the page analysis of the picture now shown; an older one is cancelled.
    void StartPageAnalysis();
    // Cancels the running analysis and waits for every worker to end, so none
    // outlives the window or runs into the program's exit.
    void StopPageAnalysis();
    // "Ritaglio automatico" (key A): straighten, crop the signature, then the photo.
    void AutoCropClick();
    // Where the automatic crop's messages go; unset: a note over the view.
    std::function<void(const QString&)> ShowAutoCropStatus;
    std::shared_ptr<struct TAutoCropState> FAutoCrop;
    std::shared_ptr<class TLiveRotation> FLiveRotation;
    QString OptAcqImgFile() const;
    QString OptFlsPicPath() const;
    // The user manual: the program's file name with ".pdf", beside the program or in
    // the installed documentation folder.
    QString ManualFileName() const;

    // What the options window may call in this window.
    TFormCropHooks OptionsHooks();

    // --- the rotate and zoom toolbar (U_Cropping_Toolbar.cpp) ---
    // What the toolbar may reach in this window.
    TFormTBackHooks ToolbarHooks();
    // Shows the toolbar working on this window, glued to the view.
    void ShowToolbar();
    // The view's picture becomes BmpBackBuffer turned by Degs (clockwise for
    // positive degrees); nothing when BmpBackBuffer is not a copy of it.
    void RotateViewFromBackBuffer(int32_t Degs);
    // The same as the user turns it: the view shows the turn at once (only
    // what it shows is turned), and with Whole the whole picture is turned on
    // a worker, a newer turn cancelling it. Whatever reads the picture waits
    // for the whole turn.
    void RotateViewLive(int32_t Degs, bool Whole);
    // Bmp turned in place about its centre; uncovered corners get BkColor.
    void RotateBitmapGDIP(QImage& Bmp, int32_t Degs, bool AdjustSize, TColor BkColor);

    // --- guide panel ---
    void LabelHMouseMove(THoverLabel* Sender);
    void LabelHMouseLeave(THoverLabel* Sender);
    void TimerHTimer();
    void Label11Click();
    void Label3Click();
    void Label4Click();
    TPanel* HighlightBar(int tag) const;

    // The question Esc asks; a test replaces it to answer without a dialog.
    std::function<bool(const QString&)> AskConfirmation;
    // Opens an address or a file with the desktop's default program; false when no
    // program could be started for it.
    std::function<bool(const QString&)> OpenUrl;
    // Asks for picture files; a test replaces it to choose without a dialog.
    std::function<QStringList()> ChoosePictureFiles;
    // Shows a message of the save command; a test replaces it to read the
    // text without a dialog. Unset: a modal message box.
    std::function<void(const QString&)> ShowMessage;

    // --- "Elabora cartella…" (U_Cropping_Batch.cpp) ---
    void InstallBatchCommand();
    void ElaboraCartellaClick();
    // The page in the view, straightened, with its photo and signature frames placed.
    void OpenBatchPage(const TBatchPage& page);
    TBatchSettings BatchSettingsFromWindow() const;
    // A test replaces these to answer without a dialog: the folder (empty:
    // cancelled), and the rule for names already taken (-1: cancelled).
    std::function<QString()> ChooseBatchFolder;
    std::function<int(int collisions)> AskCollision;
    // --- the clerk's loop: status strip, keyboard framing, undo, names ---
    // (U_Cropping_Status*.cpp, U_Cropping_Frame.cpp, U_Cropping_Undo.cpp, U_Cropping_Access.cpp)
    // The strip under the view; any command may post a message there
    // (Status->ShowMessage(text, linkText, callback)).
    TStatusStrip* Status = nullptr;
    // Says the next step, zoom and angle, and the frame's readout, from the state.
    void UpdateStatus();
    // The title: the program with the loaded file's name, or "Scansione".
    void UpdateTitle();
    // Undo and redo of the frame, the angle and the slots' retouch (50 steps).
    TUndoHistory* Undo = nullptr;
    // Records the state as one step when it differs from the last one recorded.
    void Checkpoint();
    bool UndoStep();
    bool RedoStep();

    // The maker's addresses behind the two contact links.
    static const QString kWebAddress;
    static const QString kMailAddress;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // The window has closed; the program ends.
    void Closed();

private:
    void CreateView();
    void CreateScanCommands();
    // What "Seleziona lo scanner" of the options stores: the picked scanner, or the
    // configured one when nothing was picked.
    TW_IDENTITY SelectScannerForOptions();
    QStringList DefaultChoosePictureFiles();
    void CreateSlotControls();
    void ConnectSliders();
    // The slot of the current mode and its buffer; null outside photo and signature modes.
    TOrImage* RetouchSlot(QImage** buffer = nullptr);
    void ColourSliderChange(QSlider* slider, QLabel* label, void (TOrImage::*setter)(int));
    void ResetSlotRetouch(TOrImage* slot, const QImage& buffer);
    void GlueToolbar();
    void SetFrameColors(TzsiFixSelectionRatio mode);
    void LoadSlidersFromSlot(TOrImage* slot, const QImage& buffer);
    void ShowSliderValues();
    void BuildButtons();
    void BuildSlots();
    void BuildSliders();
    void BuildGuidePanel();
    void BuildBarsAndPreview();
    void RegisterCursors();
    void PlaceBars();
    // Asks for the prefix and writes the slot of `mode`; true when a file was saved.
    bool SaveSlot(TzsiFixSelectionRatio mode);
    void Message(const QString& text);
    QStringList ChooseBatchFiles();
    bool AskBatchCollision(int collisions, int total, TBatchCollision& rule);
    void PlaceFrameOnPicture(TzsiFixSelectionRatio mode, const TRect& frame);
    bool FShownOnce = false;
    QString FDialogFolder;
    // Keyboard framing: arrows move the frame, Alt+arrows size it; true when
    // the key was one of them. A key release then finishes the frame.
    bool FrameKeyDown(int key, Qt::KeyboardModifiers mods);
    bool FrameKeyUp(int key);
    bool FFramedByKey = false;
    bool FRestoring = false;
    void RunRestore();
    void BuildStatusStrip();
    void SetupAccess();
    // The save's report in the strip and the question before replacing a file.
    bool ConfirmReplace(const QString& target);
    void ReportSaved(const QString& target, qint64 bytes, int maxBytes, const QImage& written, int quality);
};

// The one main window of the program.
extern TFormCrop* FormCrop;
