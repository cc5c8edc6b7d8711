// Program start: settings path, visual style, the three windows in their
// order, the message loop; and the one place where errors that no handler
// caught are shown to the user.

#include "app/U_Cropping_Startup.h"

#include "app/U_Cropping.h"
#include "config/U_Options.h"
#include "view/U_FtBack.h"
#include "view/io/ImageReaders.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPointer>
#include <QTranslator>

namespace {
TErrorReporter& Reporter()
{
    static TErrorReporter reporter;
    return reporter;
}

void ShowErrorBox(const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Corvanta"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

// The application object lets no exception out of an event handler: the
// user sees the message and the program goes on, like the standard error box.
class TCorvantaApplication : public QApplication {
public:
    TCorvantaApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override
    {
        bool result = false;
        RunGuarded([&] { result = QApplication::notify(receiver, event); });
        return result;
    }
};
} // namespace

void SetErrorReporter(TErrorReporter reporter)
{
    Reporter() = std::move(reporter);
}

void ReportUncaughtError(const QString& text)
{
    if (Reporter())
        Reporter()(text);
    else
        ShowErrorBox(text);
}

bool RunGuarded(const std::function<void()>& fn)
{
    try {
        fn();
        return true;
    } catch (const EImageReadError& e) {
        ReportUncaughtError(e.Message());
    } catch (const std::bad_alloc&) {
        ReportUncaughtError(QStringLiteral("Memoria insufficiente."));
    } catch (const std::exception& e) {
        ReportUncaughtError(QString::fromUtf8(e.what()));
    } catch (...) {
        ReportUncaughtError(QStringLiteral("Errore imprevisto."));
    }
    return false;
}

bool AskYesNo(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Conferma"), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    // Italian captions whether or not Qt's own translation is installed.
    box.button(QMessageBox::Yes)->setText(QString::fromUtf8("S\u00ec"));
    box.button(QMessageBox::No)->setText(QStringLiteral("No"));
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

QString LoadStyleSheet()
{
    QFile f(QStringLiteral(":/style/corvanta.qss"));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

bool InstallItalianTranslation(QCoreApplication& app)
{
    auto* tr = new QTranslator(&app);
    if (tr->load(QLocale(QLocale::Italian, QLocale::Italy), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        app.installTranslator(tr);
        return true;
    }
    delete tr;
    return false;
}

int RunCorvanta(int argc, char** argv)
{
    TCorvantaApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Corvanta"));
    app.setOrganizationName(QStringLiteral("Lodrevan"));
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    InstallItalianTranslation(app);

    // Settings path and utility object first: every window below uses them.
    InitOptionsUnit();
    app.setStyleSheet(LoadStyleSheet());

    int rc = 0;
    {
        auto* formCrop = new TFormCrop();
        QObject::connect(formCrop, &TFormCrop::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        formCrop->show();

        // The options window calls back into the main window while it is created.
        FormOptions = new TFormOptions(formCrop, formCrop->OptionsHooks());
        FormTBack = new TFormTBack(formCrop);
        FormTBack->hide();

        rc = app.exec();

        delete FormTBack;
        FormTBack = nullptr;
        delete FormOptions;
        FormOptions = nullptr;
        delete formCrop;
    }
    DoneOptionsUnit();
    return rc;
}
