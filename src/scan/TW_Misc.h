#pragma once
// The acquisition module's message boxes, diagnostic reports and small helpers for
// TWAIN values and device-independent bitmaps.

#include "scan/TW_Const.h"

#include <QRgb>
#include <QVector>
#include <string>

class QWidget;

// Levels of the module's boxes; a box is shown when its level is at most MessageLevel.
constexpr int TWML_ERROR = 1;
constexpr int TWML_REPORT = 2;
constexpr int TWML_NOTE = 3;

// Plain form: a box with an OK button showing `caption` and `text`.
void ShowRC_CC(QWidget* window, int level, const std::string& caption, const std::string& text);
// Report form: "Operation Status" naming the failed operation, the return code and the
// condition code held in SourceStatus.
void ShowRC_CC(QWidget* window, int level, TW_UINT16 returnCode, const std::string& caption);
// The report text of the report form, without showing it.
std::string OperationReportText(TW_UINT16 returnCode, const std::string& caption);

// An error dialog (error icon) and the application's plain information dialog.
void ShowTwainError(QWidget* window, const std::string& text);
void ShowTwainInfo(QWidget* window, const std::string& text);

float FIX32ToFloat(TW_FIX32 fix);
TW_FIX32 FloatToFIX32(double value);
// Bytes taken by one item of the given type inside a container.
TW_UINT16 AltTWItemSize(TW_UINT16 itemType);
// The item at `item` as text: integers and booleans in decimal, TW_FIX32 as "%f",
// strings as they are. Writes into `dest` and returns it.
const std::string& GetItem(std::string& dest, TW_UINT16 itemType, const void* item);

// Colour-table entries of a DIB header (12-byte core or 40-byte info header).
TW_UINT16 DibNumColors(const void* header);
// The logical palette of a DIB: its colour table, or 256 entries for a 24-bit DIB
// without one; empty when the DIB has none.
QVector<QRgb> CreateBIPalette(const void* header);

// Reports of level 2.
void ShowTW_ID(QWidget* window, const std::string& caption);
void ShowImageInfo(QWidget* window);
void ShowImageLayout(QWidget* window);
void ShowCapability(QWidget* window, TW_UINT16 cap);

// printf-style formatting into a std::string.
std::string TwFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
