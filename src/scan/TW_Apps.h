#pragma once
// The TWAIN acquisition module: one connection to a source manager and one data
// source, driven from the user-interface thread.
//
// The source manager is a shared library loaded at run time from the program's folder,
// or from its private library folder when installed (our own SANE-backed manager). The
// source talks back only through events that the application's event filter hands to
// ProcessTWMessage; transfers run inside it.
// All state is program-wide and must only be touched from the user-interface thread.

#include "scan/TW_Const.h"

#include <QImage>
#include <QRgb>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>

class QEvent;
class QWidget;

// File name of our source manager, looked up in the program's folder, then in the
// installed private library folder.
extern const char* const TwainDllName;

// ---- Module state ------------------------------------------------------------------
extern void* DsmLibrary;              // dlopen handle of the manager; null when not loaded
extern DSMENTRYPROC DsmEntryProc;     // its DSM_Entry; null when not loaded or missing
extern TW_IDENTITY AppIdentity;
extern TW_IDENTITY SourceIdentity;
extern QWidget* ParentWindow;         // handed to the manager as the TW_HANDLE of DAT_PARENT
extern QImage* TargetBitmap;          // receives every transferred picture
extern TW_BOOL ManagerOpen;
extern TW_BOOL SourceOpen;
extern TW_BOOL SourceEnabled;
extern TW_INT16 AcquireFlag;
extern uint8_t XferMechChoice;        // 0 native, 1 file, 2 memory
extern int32_t ScanResolution;        // dots per inch; 0: no scan settings are negotiated
extern bool ScanGrayScale;
extern TW_USERINTERFACE UserInterface;
extern TW_STATUS SourceStatus;
extern TW_BOOL AutoFeedActive;
extern char TransferFileName[256];
extern QVector<QRgb> PaletteHandle;
constexpr TW_UINT16 MessageLevel = 1;

// Counts the pictures delivered into TargetBitmap, so a caller can tell whether a new
// picture arrived since it last looked (a failed or cancelled transfer adds none).
extern unsigned PictureSerial;
// Told of every picture as it is delivered into TargetBitmap: a document feeder delivers
// several in one transfer, each replacing the one before.
extern std::function<void(const QImage&)> PictureDelivered;

// Full path of the manager library; empty means TwainDllName where it is found (beside
// the program, else installed), or beside the program when it is nowhere.
void SetTwainDllPath(const QString& path);
QString TwainDllPath();

// ---- Operations --------------------------------------------------------------------
bool LoadTwainDLL();
void UnloadTwainDLL();
// Returns false when the manager library could not be used (its error was shown); the
// caller abandons the scan and the program carries on.
bool TWInitialize(const TW_IDENTITY& identity, QWidget* window, QImage* bitmap);
void TWUnInitialize();

TW_UINT16 CallDSMEntry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                       TW_MEMREF data);

TW_BOOL TWOpenDSM();
bool TWCloseDSM(uint32_t unused = 0);
TW_BOOL TWOpenDS();
bool TWCloseDS();
bool TWEnableDS(TW_BOOL show);
bool TWDisableDS();
bool TWSelectDS();
TW_UINT16 TWXferMech(QWidget* window);
TW_UINT16 TWAutofeedMenu(QWidget* window);
TW_BOOL AutoFeedOn();

bool TWCapSetStandard(int32_t resolution, bool grey);
bool TWCapSetUnitsInches();
bool TWCapSetXResolution(int32_t resolution);
bool TWCapSetYResolution(int32_t resolution);
bool TWCapSetBitDepth(int32_t depth);
bool TWCapSetGrayscale();

bool TWAcquire(QWidget* window, TW_BOOL show, TW_UINT16 flag);
bool ProcessTWMessage(QEvent* msg, QWidget* window);
void CloseConnection(uint32_t value);

// ---- Transfers ---------------------------------------------------------------------
void TWTransferImage(QWidget* window);
void DoMemTransfer(QWidget* window);
void DoNativeTransfer(QWidget* window);
void DoFileTransfer(QWidget* window);

// DIB block handling, free of any widget: a block is BITMAPINFOHEADER, colour table
// and pixel rows in one allocation made with std::malloc/calloc.
struct TDibBlock {
    uint8_t* Data = nullptr;
    size_t Size = 0;
};
// Bytes per DIB row.
inline int64_t DibStride(int64_t bitsPerPixel, int64_t width) { return ((bitsPerPixel * width + 31) / 32) * 4; }
// Size of the pixel area of a memory transfer's DIB block: the image rounded up to whole
// preferred buffers plus one more. DoMemTransfer itself receives the rows straight into
// the 24-bit picture and keeps only the block's header and colour table.
int64_t MemXferImageSize(int64_t stride, int64_t length, uint32_t preferred);
// Reverses the row order of the block's pixel area in place; for TWPT_RGB also swaps the
// first and third byte of every pixel. Returns false (rows untouched) when memory fails.
bool FlipBitMap(uint8_t* block, TW_UINT16 pixelType);
// Converts a DIB block into a 24-bit blue-green-red picture; a null image when the
// block is empty or of a kind it cannot read.
QImage FixUp(QWidget* window, const uint8_t* block, size_t size = SIZE_MAX);
// Pixels per metre for a resolution in the given TWAIN unit; -1 for units that set nothing.
int32_t PelsPerMeter(float resolution, TW_UINT16 unit);
