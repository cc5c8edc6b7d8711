#pragma once
// The settings store: where the INI file lies, how values are encoded, and the
// typed read and write helpers through which every window uses the file.
// Each helper is one open-read-close or open-write-close of the file; nothing is cached.

#include <QList>
#include <QPair>
#include <QString>
#include <cstdint>

class QWidget;

// Full path of the settings file, set once at start-up (InitOptionsUnit in
// U_Options.h) before any window exists; every caller passes it as the file name.
extern QString IniFileName;

// The settings file's name for a program file name without folder. A name with an
// extension loses its last three characters and gets "ini" (Corvanta.exe gives
// Corvanta.ini); a name without one gets ".ini" appended (corvanta gives corvanta.ini).
QString IniNameForProgram(const QString& programFileName);

// The user's local data folder, ending with "/": $XDG_DATA_HOME, or ~/.local/share
// when it is unset or not an absolute path; empty text without a home.
QString LocalDataFolder();

// The settings file's full path: <local data folder>/Lodrevan/Corvanta/<IniNameForProgram>.
// `localDataPath` is LocalDataFolder's answer (may be empty).
QString ComputeIniFileName(const QString& programFilePath, const QString& localDataPath);

// The value of `key` in `section`; empty text when the file, the section or the key
// is absent. When the file exists but cannot be read the answer is empty text too,
// and `error`, when given, receives the reason (otherwise it is cleared).
QString ReadFileIni(const QString& fileName, const QString& section, const QString& key,
                    QString* error = nullptr);

// Stores `value`; true when it was stored. False on any failure (missing folder,
// read-only file or folder, full disk, ...), the file then left exactly as it was;
// `error`, when given, receives the reason. Never throws.
bool WriteFileIni(const QString& fileName, const QString& section, const QString& key, const QString& value,
                  QString* error = nullptr);

// Stores several values of one section at once, in one replacement of the
// file (all or none): a group of values written together costs one flush to
// the disk, not one each. Otherwise as WriteFileIni.
bool WriteFileIniValues(const QString& fileName, const QString& section,
                        const QList<QPair<QString, QString>>& values, QString* error = nullptr);

// Why no value can be stored in the settings file `fileName`: its folder is
// missing or not writable, or the file is read-only. The text is Italian and
// names the file; empty text when values can be stored.
QString SettingsWriteProblem(const QString& fileName);

// Said once at start, in a message box over `parent`, when IniFileName cannot
// be written: otherwise frames and slider values would be lost without a word.
void WarnIfSettingsUnwritable(QWidget* parent);

// `trueText` when `value` is set, else `falseText`. Flags are stored as "1" and "0".
QString BoolToString(bool value, const QString& trueText = QStringLiteral("1"),
                     const QString& falseText = QStringLiteral("0"));

// True for exactly "1", exactly "X", or any text that begins with an upper-case
// "T" or "V" ("True", "Vero"); false for everything else, the empty text included.
bool StringToBool(const QString& text);

// True when `text` is, in full, a 32-bit signed integer: leading blanks and a sign
// allowed, hexadecimal after "$", "x" or "0x" (either case of x), nothing after the
// number, no value outside the signed 32-bit range (hexadecimal included).
// The number goes to `value` when it is accepted.
bool ValidInteger(const QString& text, int32_t* value = nullptr);

// Moves `control` to the middle of `parent` (in the parent's own coordinates, its
// position not added) or, without a parent, of the primary screen. The halves are
// truncated toward zero, so a control larger than its parent sits at a negative offset.
// Sizes of windows are read with their frames.
void CenterObject(QWidget* control, QWidget* parent);

// Saves or restores a window's position and size in the section named after the
// window's objectName, keys "TOP", "LEFT", "WIDTH", "HEIGHT" (outer sizes).
//  - save: only in the normal state; a maximised, minimised or full-screen window
//    leaves the stored values as they are. Failed writes are ignored.
//  - restore with a settings file: each key that ValidInteger accepts is applied
//    as read, the others leave their property alone; `positionOnly` skips the size.
//  - restore without a settings file: 900 x 725, centred on the screen.
void FormPositionIni(QWidget* form, bool save, bool positionOnly);
