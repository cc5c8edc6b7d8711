#pragma once
// Shared set-up for the scanner tests: the real SANE test backend, our source manager
// library from the build folder, and helpers that answer message boxes and drive the
// source's dialog while the event loop runs.

#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <utility>
#include <vector>

class QDialog;
class QWidget;

namespace scantest {

// Points SANE at the project's test configuration and the manager's settings at a
// private folder; must run before the first SANE call of the process.
void PrepareEnvironment();
QString DsmLibraryPath();
QString TempDir();

// Runs the event loop until `done` holds. The guard only keeps a broken build from
// hanging the whole suite; the paths under test end through the source's watchdog.
bool WaitUntil(const std::function<bool()>& done, int guardMs = 120000);

// Runs `action` once, from the event loop, as soon as `find` returns a widget; for
// dialogs that run their own modal loop.
void WhenShown(const std::function<QWidget*()>& find, const std::function<void(QWidget*)>& action);

// Answers every message box that appears (Yes, else OK) and records caption and text.
class TBoxCatcher : public QObject {
public:
    TBoxCatcher();
    ~TBoxCatcher() override;
    std::vector<std::pair<QString, QString>> Boxes;
    bool Saw(const QString& textPart) const;
    QString All() const;
    void Clear() { Boxes.clear(); }
    // When set, answers "No" to the watchdog's question instead of "Sì".
    bool RefuseAbandon = false;

private:
    void Poll();
    QTimer timer_;
};

// The visible source dialog of our manager, or null.
QDialog* SourceDialog();
QDialog* SelectDialog();
// Extra SANE options for sources opened from now on (test backend fault injection).
void SetDeviceOption(const char* name, const char* value);
void ClearDeviceOptions();
void SetWatchdogMs(int ms);
// Makes `device` the manager's default source through its settings file.
void UseDevice(const QString& device);

// The same page read by the scanimage program: a 24-bit picture (grey pages repeated into
// the three channels), null on failure.
QImage ScanimageReference(const QStringList& args);

} // namespace scantest
