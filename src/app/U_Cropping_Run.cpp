// Program start: settings path, visual style, the three windows in their
// order, and the message loop.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Keys.h"
#include "app/U_Cropping_Startup.h"

#include "config/U_Options.h"
#include "config/U_Savecfg.h"
#include "platform/InstallLayoutPaths.h"
#include "view/U_FtBack.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QTimer>
#include <cstdio>

namespace {
// The application object lets no exception out of an event handler: the
// user sees the message and the program goes on, like the standard error box.
class TCorvantaApplication : public QApplication {
public:
    TCorvantaApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override
    {
        bool result = false;
        // A key goes first to the window, then to its focused control; the main
        // window's key commands take the control as the key's first receiver.
        const QEvent::Type t = event->type();
        if ((t == QEvent::KeyPress || t == QEvent::KeyRelease) && receiver->isWidgetType()) {
            const TKeyDelivery delivery(receiver);
            RunGuarded([&] { result = QApplication::notify(receiver, event); });
            return result;
        }
        RunGuarded([&] { result = QApplication::notify(receiver, event); });
        return result;
    }
};
} // namespace

void CreateCorvantaWindows()
{
    auto* formCrop = new TFormCrop();
    formCrop->show();
    // The options window calls back into the main window while it is created.
    FormOptions = new TFormOptions(formCrop, formCrop->OptionsHooks());
    FormTBack = new TFormTBack(formCrop);
    FormTBack->hide();
}

void DestroyCorvantaWindows()
{
    delete FormTBack;
    FormTBack = nullptr;
    delete FormOptions;
    FormOptions = nullptr;
    delete FormCrop;
}

int RunCorvanta(int argc, char** argv)
{
    TCorvantaApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Corvanta"));
    app.setOrganizationName(QStringLiteral("Lodrevan"));
    // Every window and dialog takes the application's icon; the desktop file name lets
    // the task bar match the windows to the menu entry.
    app.setWindowIcon(ProgramIcon());
    app.setDesktopFileName(QStringLiteral(CORVANTA_APP_ID));
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    if (!InstallItalianTranslation(app))
        std::fputs("corvanta: traduzione italiana di Qt non trovata (pacchetto qt6-translations-l10n): le finestre "
                   "standard di Qt resteranno in inglese.\n",
                   stderr);

    // Settings path and utility object first: every window below uses them.
    InitOptionsUnit();
    app.setStyleSheet(LoadStyleSheet());

    CreateCorvantaWindows();
    // Once the window is on screen: settings that cannot be stored are said at start.
    QTimer::singleShot(0, FormCrop, [] { WarnIfSettingsUnwritable(FormCrop); });
    QObject::connect(FormCrop, &TFormCrop::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // Picture files handed over by the desktop ("Apri con") load as the FILE command's
    // choice would, once the loop runs and the window has its size.
    QStringList files;
    for (const QString& arg : app.arguments().mid(1))
        if (QFileInfo(arg).isFile())
            files << QFileInfo(arg).absoluteFilePath();
    if (!files.isEmpty())
        QTimer::singleShot(0, FormCrop, [files] { RunGuarded([&] { FormCrop->LoadImageFiles(files); }); });
    const int rc = app.exec();
    DestroyCorvantaWindows();
    DoneOptionsUnit();
    return rc;
}
