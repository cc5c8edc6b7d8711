// The one place where errors that no handler caught are shown to the user,
// and the pieces of the program's look and language that start-up installs.

#include "app/U_Cropping_Startup.h"

#include "view/io/ImageReaders.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
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

QIcon ProgramIcon()
{
    // Rendered here rather than left to Qt's SVG icon engine, a plugin an installation
    // might lack: the window's icon property then holds real pixels at every size.
    QSvgRenderer svg(QStringLiteral(":/icons/corvanta.svg"));
    QIcon icon;
    if (!svg.isValid())
        return icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
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
