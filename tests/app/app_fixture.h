#pragma once
// A main window on a settings file of its own in a temporary folder.

#include "common/AppTestUtils.h"

#include "app/U_Cropping.h"
#include "app/U_Cropping_Pixels.h"
#include "app/U_Cropping_Startup.h"
#include "config/U_Options.h"
#include "config/U_Savecfg.h"
#include "retouch/OrImage.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"

#include <QApplication>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

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

    // The widget that receives keys now: the focused one, else the window.
    QWidget* KeyTarget() const
    {
        QWidget* f = QApplication::focusWidget();
        return f && f->window() == Form.get() ? f : Form.get();
    }

    void PressKey(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        AppTest::Key(KeyTarget(), key, true, mods);
        AppTest::Key(KeyTarget(), key, false, mods);
    }

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
