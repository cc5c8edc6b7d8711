// Qt's own dialogs and menus in Italian: the system's catalogue is loaded the way
// the program's start loads it, and the program's real file dialog reads Italian.

#include "app_fixture.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QTranslator>

namespace {
QString Plain(QString text)
{
    return text.remove(QLatin1Char('&'));
}

// Takes the program's translators off again, so later tests see Qt as it was.
void RemoveTranslators()
{
    for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
}
} // namespace

TEST_F(AppFixture, QtsOwnDialogsAndMenusReadItalian)
{
    ASSERT_TRUE(InstallItalianTranslation(*qApp))
        << "Qt's Italian catalogue (qtbase_it.qm, package qt6-translations-l10n) is not in "
        << QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString();

    // The FILE command's dialog, caught while it waits for the user, read, and cancelled.
    QStringList buttons;
    QString lookIn, fileName;
    bool found = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dlg || found)
            return;
        found = true;
        if (auto* box = dlg->findChild<QDialogButtonBox*>())
            for (QAbstractButton* b : box->buttons())
                buttons << Plain(b->text());
        if (auto* l = dlg->findChild<QLabel*>(QStringLiteral("lookInLabel")))
            lookIn = Plain(l->text());
        if (auto* l = dlg->findChild<QLabel*>(QStringLiteral("fileNameLabel")))
            fileName = Plain(l->text());
        dlg->reject();
    });
    poll.start(20);
    const QStringList chosen = Form->ChoosePictureFiles();
    poll.stop();
    ASSERT_TRUE(found);
    EXPECT_TRUE(chosen.isEmpty());
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("Annulla"), QStringLiteral("Apri")}));
    EXPECT_EQ(lookIn, QStringLiteral("Cerca in:"));
    EXPECT_EQ(fileName, QStringLiteral("Nome del file:"));

    // The context menu of every line edit.
    QLineEdit edit(QStringLiteral("testo"));
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList items;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            items << Plain(a->text()).section(QLatin1Char('\t'), 0, 0);
    EXPECT_TRUE(items.contains(QStringLiteral("Incolla"))) << items.join(", ").toStdString();
    EXPECT_TRUE(items.contains(QStringLiteral("Seleziona tutto"))) << items.join(", ").toStdString();
    RemoveTranslators();
}
