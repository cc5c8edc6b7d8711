#include "config/U_Savecfg.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

void WarnIfSettingsUnwritable(QWidget* parent)
{
    const QString problem = SettingsWriteProblem(IniFileName);
    if (problem.isEmpty())
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Corvanta"), problem, QMessageBox::Ok, parent);
    box.exec();
}

namespace {

// Outer size: a window is measured with its frame, as the stored values are.
QSize OuterSize(const QWidget* w)
{
    return w->isWindow() ? w->frameGeometry().size() : w->size();
}

void SetOuterWidth(QWidget* w, int outer)
{
    const int frame = OuterSize(w).width() - w->width();
    w->resize(outer - frame, w->height());
}

void SetOuterHeight(QWidget* w, int outer)
{
    const int frame = OuterSize(w).height() - w->height();
    w->resize(w->width(), outer - frame);
}

} // namespace

void CenterObject(QWidget* control, QWidget* parent)
{
    if (!control)
        return;
    QSize area;
    if (parent) {
        area = OuterSize(parent);
    } else {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        area = screen->geometry().size();
    }
    const QSize own = OuterSize(control);
    // C++ integer division truncates toward zero, as the stored layouts expect.
    const int left = (area.width() - own.width()) / 2;
    const int top = (area.height() - own.height()) / 2;
    control->move(left, control->y());
    control->move(control->x(), top);
}

void FormPositionIni(QWidget* form, bool save, bool positionOnly)
{
    if (!form)
        return;
    const QString section = form->objectName();
    if (save) {
        if (form->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
            return;
        const QRect outer = form->isWindow() ? form->frameGeometry() : form->geometry();
        WriteFileIni(IniFileName, section, QStringLiteral("TOP"), QString::number(outer.y()));
        WriteFileIni(IniFileName, section, QStringLiteral("LEFT"), QString::number(outer.x()));
        WriteFileIni(IniFileName, section, QStringLiteral("WIDTH"), QString::number(outer.width()));
        WriteFileIni(IniFileName, section, QStringLiteral("HEIGHT"), QString::number(outer.height()));
        return;
    }
    if (!QFileInfo(IniFileName).isFile()) {
        SetOuterHeight(form, 725);
        SetOuterWidth(form, 900);
        CenterObject(form, nullptr);
        return;
    }
    int32_t v = 0;
    if (ValidInteger(ReadFileIni(IniFileName, section, QStringLiteral("TOP")), &v))
        form->move(form->x(), v);
    if (ValidInteger(ReadFileIni(IniFileName, section, QStringLiteral("LEFT")), &v))
        form->move(v, form->y());
    if (positionOnly)
        return;
    if (ValidInteger(ReadFileIni(IniFileName, section, QStringLiteral("WIDTH")), &v))
        SetOuterWidth(form, v);
    if (ValidInteger(ReadFileIni(IniFileName, section, QStringLiteral("HEIGHT")), &v))
        SetOuterHeight(form, v);
}
