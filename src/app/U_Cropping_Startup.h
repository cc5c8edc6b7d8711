#pragma once
// Program start and the application-wide handling of errors no handler caught.

#include <QString>
#include <functional>

class QCoreApplication;
class QIcon;
class QWidget;

// Creates the application, the settings path, the style and the three windows
// (main window, options, toolbar) in that order, and runs the message loop
// until the main window closes. Returns the loop's exit code.
int RunCorvanta(int argc, char** argv);

// The three windows in their order: the main window (shown), the options
// window (which reads the settings and offers the last scan to the main
// window), the toolbar (hidden). The settings path must exist already.
void CreateCorvantaWindows();
// Destroys them in the reverse order and clears their globals.
void DestroyCorvantaWindows();

// Runs fn; an exception it throws is shown to the user (ReportUncaughtError)
// and goes no further. True when fn returned normally.
bool RunGuarded(const std::function<void()>& fn);

// Shows the text of an error that reached the top of a handler, in a modal
// message box, and returns so that the program carries on.
void ReportUncaughtError(const QString& text);

// Replaces the message box of ReportUncaughtError (an empty function puts it back).
using TErrorReporter = std::function<void(const QString&)>;
void SetErrorReporter(TErrorReporter reporter);

// A question with the buttons "Sì" and "No"; true for "Sì".
bool AskYesNo(QWidget* parent, const QString& text);

// The dark green style sheet among the program's resources.
QString LoadStyleSheet();

// The program's icon (our own artwork among the resources) at the sizes window
// managers and task bars ask for.
QIcon ProgramIcon();

// Qt's own dialogs in Italian when the translation is installed on the system.
bool InstallItalianTranslation(QCoreApplication& app);
