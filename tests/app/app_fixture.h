#pragma once
// A main window on a settings file of its own in a temporary folder.

#include "common/AppTestUtils.h"

#include "app/U_Cropping.h"
#include "app/U_Cropping_Pixels.h"
#include "app/U_Cropping_Startup.h"
#include "app/U_fOut.h"
#include "config/U_Options.h"
#include "config/U_Savecfg.h"
#include "retouch/OrImage.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace AppTest {
// The widget that receives keys now in `window`: the focused one, else the window.
inline QWidget* KeyTarget(QWidget* window)
{
    QWidget* f = QApplication::focusWidget();
    return f && f->window() == window ? f : window;
}

inline void PressKey(QWidget* window, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    Key(KeyTarget(window), key, true, mods);
    Key(KeyTarget(window), key, false, mods);
}
} // namespace AppTest

// Answers the next name dialog from inside its own event loop (the dialog is
// modal): `act` types and clicks. An answer given while the dialog is still
// being shown would close it before its loop starts, and that loop would then
// outlive the dialog.
class NameDialogAnswer : public QObject {
public:
    explicit NameDialogAnswer(std::function<void(TFormFileOut*)> act)
        : Act(std::move(act))
    {
        const int level = QThread::currentThread()->loopLevel();
        connect(&Poll, &QTimer::timeout, this, [this, level] {
            auto* d = qobject_cast<TFormFileOut*>(QApplication::activeModalWidget());
            if (!d || !d->isVisible() || QThread::currentThread()->loopLevel() <= level)
                return;
            Poll.stop();
            ++Shown;
            Offered = d->EdFileOut->text();
            FixedEnd = d->TpFileOut->text();
            AllSelected = d->EdFileOut->selectedText() == d->EdFileOut->text();
            Names = d->LbNomi->text();
            Folder = d->LbCartella->text();
            Act(d);
        });
        Poll.start(5);
    }
    // Types `prefix` and confirms.
    explicit NameDialogAnswer(const QString& prefix)
        : NameDialogAnswer([prefix](TFormFileOut* d) {
              d->EdFileOut->setText(prefix);
              d->BtOk->click();
          })
    {
    }

    std::function<void(TFormFileOut*)> Act;
    QTimer Poll;
    int Shown = 0;
    QString Offered, FixedEnd, Names, Folder;
    bool AllSelected = false;
};

// The program's own windows, as start-up makes them, with settings, temporary
// files and the desktop inside the test's folder, so nothing of the user's is
// read or touched. A test's SetUp calls EnterHome, then OpenProgram.
class ProgramFixture : public ::testing::Test {
protected:
    void TearDown() override { CloseProgram(); }

    // HOME and the data folder point into Dir; reported errors go to Messages.
    void EnterHome()
    {
        ASSERT_TRUE(Dir.isValid());
        if (!Utils)
            InitOptionsUnit();
        OldHome = qgetenv("HOME");
        OldDataHome = qgetenv("XDG_DATA_HOME");
        InHome = true;
        qputenv("HOME", Dir.path().toUtf8());
        qputenv("XDG_DATA_HOME", Dir.filePath(QStringLiteral("data")).toUtf8());
        Folder = Dir.filePath(QStringLiteral("data/Lodrevan/Corvanta"));
        ASSERT_TRUE(QDir().mkpath(Folder));
        IniFileName = Folder + QStringLiteral("/corvanta.ini");
        SetErrorReporter([this](const QString& t) { Messages << t; });
    }

    // The windows on that home, the main one shown and active.
    void OpenProgram()
    {
        CreateCorvantaWindows();
        ASSERT_NE(FormCrop, nullptr);
        ASSERT_NE(FormOptions, nullptr);
        Form = FormCrop;
        Form->ShowMessage = [this](const QString& t) { Messages << t; };
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form));
        QApplication::setActiveWindow(Form);
    }

    // Saves go to Dir/uscita, whatever the options held.
    void SetOutputFolder()
    {
        Out = Dir.filePath(QStringLiteral("uscita"));
        ASSERT_TRUE(QDir().mkpath(Out));
        FormOptions->EdFilesOutput->setText(Out);
        FormOptions->ChangeFolders();
    }

    // Loads a generated form through the image list, as "&FILE" does.
    void LoadForm(int dpi, const QString& name = QStringLiteral("modulo.png"))
    {
        const QString path = AppTest::SavePicture(AppTest::MakeScannedForm(dpi), Dir.path(), name);
        Form->ChoosePictureFiles = [path] { return QStringList{path}; };
        Form->BtLoadImagesClick();
    }

    void PressKey(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { AppTest::PressKey(Form, key, mods); }

    void CloseProgram()
    {
        if (Form) {
            DestroyCorvantaWindows();
            Form = nullptr;
        }
        if (InHome) {
            SetErrorReporter({});
            qputenv("HOME", OldHome);
            qputenv("XDG_DATA_HOME", OldDataHome);
            InHome = false;
        }
    }

    QTemporaryDir Dir;
    QString Folder, Out;
    TFormCrop* Form = nullptr;
    QStringList Messages;

private:
    QByteArray OldHome, OldDataHome;
    bool InHome = false;
};

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        IniFileName = Dir.filePath(QStringLiteral("corvanta.ini"));
        qApp->setStyleSheet(LoadStyleSheet());
        Form = std::make_unique<TFormCrop>();
        Form->AskConfirmation = [this](const QString& q) {
            Questions << q;
            return Answer;
        };
        Form->OpenUrl = [this](const QString& u) {
            Opened << u;
            return LauncherFound;
        };
        FormTBack = new TFormTBack(Form.get());
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
        QApplication::setActiveWindow(Form.get());
    }

    void TearDown() override
    {
        delete FormTBack;
        FormTBack = nullptr;
        Form.reset();
        qApp->setStyleSheet(QString());
    }

    // Loads a generated form through the image list, as "&FILE" does.
    void LoadForm(int dpi = 100)
    {
        Picture = AppTest::MakeScannedForm(dpi);
        const QString path = AppTest::SavePicture(Picture, Dir.path(), QStringLiteral("modulo.png"));
        Form->ChoosePictureFiles = [path] { return QStringList{path}; };
        Form->BtLoadImagesClick();
    }

    QWidget* KeyTarget() const { return AppTest::KeyTarget(Form.get()); }
    void PressKey(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { AppTest::PressKey(Form.get(), key, mods); }

    TzsiSelection* Sel() const { return Form->ZSImage->Selection(); }
    TZSImage* View() const { return Form->ZSImage; }

    QTemporaryDir Dir;
    std::unique_ptr<TFormCrop> Form;
    QImage Picture;
    QStringList Questions;
    QStringList Opened;
    bool LauncherFound = true; // what OpenUrl answers: whether a program took the address
    bool Answer = false;
};
