#include "common/ConfigTestUtils.h"
#include "config/U_Options.h"
#include "config/U_Savecfg.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

using namespace ConfigTest;

TEST(StringToBool, OnlyOneXAndCapitalTOrVAreTrue)
{
    for (const char* t : {"1", "X", "T", "TRUE", "True", "Vero", "V", "Tx"})
        EXPECT_TRUE(StringToBool(t)) << t;
    for (const char* f : {"true", "x", "0", "10", " 1", "", "vero", "Y", "1 "})
        EXPECT_FALSE(StringToBool(f)) << f;
    EXPECT_EQ(BoolToString(true), "1");
    EXPECT_EQ(BoolToString(false), "0");
    EXPECT_EQ(BoolToString(true, "Si", "No"), "Si");
}

TEST(ValidInteger, AcceptsThirtyTwoBitDecimalAndHexForms)
{
    const std::pair<const char*, int32_t> good[] = {
        {"725", 725}, {"-12", -12}, {"   40", 40}, {"+7", 7}, {"$1F", 31}, {"0x1f", 31}, {"0X1F", 31},
        {"x1F", 31}, {"X10", 16}, {"-$10", -16}, {"007", 7}, {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN}, {"$7FFFFFFF", INT32_MAX}, {"-$80000000", INT32_MIN}, {"0", 0}};
    for (const auto& [text, want] : good) {
        int32_t v = 12345;
        EXPECT_TRUE(ValidInteger(text, &v)) << text;
        EXPECT_EQ(v, want) << text;
    }
    for (const char* bad : {"", " ", "12px", "12 ", "2147483648", "-2147483649", "$80000000", "99999999999999999999",
                            "$", "0x", "x", "-", "+", "1F", "$1G", "\t5", "5-", "1 2", "- 5", "١٢"})
        EXPECT_FALSE(ValidInteger(QString::fromUtf8(bad))) << bad;
}

TEST(IniPath, NameRuleAndXdgLocation)
{
    EXPECT_EQ(IniNameForProgram("X.exe"), "X.ini");
    EXPECT_EQ(IniNameForProgram("Prog.exe2"), "Prog.eini");
    EXPECT_EQ(IniNameForProgram("Corvanta.exe"), "Corvanta.ini");
    EXPECT_EQ(IniNameForProgram("corvanta"), "corvanta.ini");
    EXPECT_EQ(ComputeIniFileName("/opt/corvanta/bin/corvanta", "/home/u/.local/share/"),
              "/home/u/.local/share/Lodrevan/Corvanta/corvanta.ini");

    const QByteArray oldXdg = qgetenv("XDG_DATA_HOME");
    const QByteArray oldHome = qgetenv("HOME");
    TUtils utils;
    qputenv("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(utils.GetNoRoamLocalAppDataPath(), "/srv/data/");
    qputenv("XDG_DATA_HOME", "relative/data"); // not absolute: ignored
    qputenv("HOME", "/home/tester");
    EXPECT_EQ(utils.GetNoRoamLocalAppDataPath(), "/home/tester/.local/share/");
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(utils.GetNoRoamLocalAppDataPath(), "/home/tester/.local/share/");
    qputenv("HOME", oldHome);
    if (oldXdg.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldXdg);
}

TEST(IniHelpers, ReadsAndWritesThroughTheStoreAndReportFailures)
{
    QTemporaryDir tmp;
    const QString ini = tmp.path() + "/c.ini";
    QString error = "stale";
    EXPECT_EQ(ReadFileIni(ini, "FormOptions", "X", &error), "");
    EXPECT_TRUE(error.isEmpty());
    EXPECT_TRUE(WriteFileIni(ini, "FormOptions", "X", "1"));
    EXPECT_EQ(ReadFileIni(ini, "formoptions", "x"), "1");

    EXPECT_FALSE(WriteFileIni(tmp.path() + "/missing/c.ini", "S", "K", "V", &error));
    EXPECT_FALSE(error.isEmpty());
    ASSERT_TRUE(QDir(tmp.path()).mkdir("dir.ini"));
    EXPECT_EQ(ReadFileIni(tmp.path() + "/dir.ini", "S", "K", &error), "");
    EXPECT_FALSE(error.isEmpty());
}

namespace {

class FormPosition : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedIni = IniFileName;
        IniFileName = tmp.path() + "/corvanta.ini";
        form.setObjectName("FormCrop");
        form.setGeometry(30, 40, 500, 400);
    }
    void TearDown() override { IniFileName = savedIni; }
    QTemporaryDir tmp;
    QString savedIni;
    QWidget form;
};

} // namespace

TEST_F(FormPosition, WithoutFileTheWindowGetsTheDefaultSizeCentredOnScreen)
{
    FormPositionIni(&form, false, false);
    EXPECT_EQ(form.frameGeometry().size(), QSize(900, 725));
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    // Division truncates toward zero: a window larger than the screen sits at -62, not -63.
    EXPECT_EQ(form.frameGeometry().topLeft(), QPoint((screen.width() - 900) / 2, (screen.height() - 725) / 2));
    if (screen == QSize(800, 600)) {
        EXPECT_EQ(form.frameGeometry().topLeft(), QPoint(-50, -62));
    }
}

TEST_F(FormPosition, RestoreAppliesValidKeysOnlyAndKeepsTheRest)
{
    // A file without the window's section changes nothing.
    WriteFileIni(IniFileName, "FormOptions", "AppConfigPath", "/x/");
    FormPositionIni(&form, false, false);
    EXPECT_EQ(form.frameGeometry(), QRect(30, 40, 500, 400));

    WriteFileIni(IniFileName, "FormCrop", "TOP", "$1F");
    WriteFileIni(IniFileName, "FormCrop", "LEFT", "12px");
    WriteFileIni(IniFileName, "FormCrop", "WIDTH", "abc");
    WriteFileIni(IniFileName, "FormCrop", "HEIGHT", "333");
    FormPositionIni(&form, false, true);
    EXPECT_EQ(form.frameGeometry(), QRect(30, 31, 500, 400)); // position only: the height waits
    FormPositionIni(&form, false, false);
    EXPECT_EQ(form.frameGeometry(), QRect(30, 31, 500, 333));
    // Values are applied as read, even far off the screen.
    WriteFileIni(IniFileName, "FormCrop", "LEFT", "-5000");
    FormPositionIni(&form, false, false);
    EXPECT_EQ(form.x(), -5000);
}

TEST_F(FormPosition, SaveWritesTheNormalStateOnly)
{
    form.setGeometry(11, 22, 640, 480);
    FormPositionIni(&form, true, true); // position-only does not limit saving
    EXPECT_EQ(ReadBytes(IniFileName), QByteArray("[FormCrop]\nTOP=22\nLEFT=11\nWIDTH=640\nHEIGHT=480\n"));

    form.setGeometry(0, 0, 100, 100);
    form.setWindowState(Qt::WindowMaximized);
    FormPositionIni(&form, true, false);
    form.setWindowState(Qt::WindowMinimized);
    FormPositionIni(&form, true, false);
    EXPECT_EQ(ReadFileIni(IniFileName, "FormCrop", "WIDTH"), "640");
    EXPECT_EQ(ReadFileIni(IniFileName, "FormCrop", "TOP"), "22");
}

TEST(CenterObject, UsesTheParentsSizeNotItsPosition)
{
    QWidget parent;
    parent.setGeometry(300, 200, 301, 101);
    QWidget child(&parent);
    child.resize(100, 50);
    CenterObject(&child, &parent);
    EXPECT_EQ(child.pos(), QPoint(100, 25));
    child.resize(310, 120);
    CenterObject(&child, &parent);
    EXPECT_EQ(child.pos(), QPoint(-4, -9)); // -4.5 and -9.5 truncated toward zero
}

TEST(SettingsWriteProblem, AgreesWithTheWriterAndNamesTheFile)
{
    // Checked as the unprivileged user, whose writes the permission bits stop;
    // for each layout the start-up check must say exactly when a write fails.
    QTemporaryDir tmp;
    const QString sub = tmp.path() + "/user";
    ASSERT_TRUE(QDir(tmp.path()).mkdir("user"));
    const QString ini = sub + "/corvanta.ini";
    WriteBytes(ini, "[A]\nk=old\n");
    GiveToNobody(tmp.path(), 0755);
    const struct { unsigned dirMode, fileMode; const char* said; } cases[] = {
        {0755, 0644, nullptr}, {0755, 0444, "è in sola lettura"}, {0555, 0644, "non è scrivibile"}};
    for (const auto& c : cases) {
        GiveToNobody(sub, c.dirMode);
        GiveToNobody(ini, c.fileMode);
        const int rc = RunInChild(
            [&] {
                const QString problem = SettingsWriteProblem(ini);
                // A new value each time: storing the value already there writes nothing.
                const bool stored = WriteFileIni(ini, "A", "k", QString::number(c.dirMode * 1000 + c.fileMode));
                if (stored != problem.isEmpty())
                    return 1;
                if (c.said && !(problem.contains(ini) && problem.contains(QString::fromUtf8(c.said))))
                    return 2;
                return 0;
            },
            true);
        EXPECT_EQ(rc, 0) << c.dirMode << " " << c.fileMode;
    }
    const QString problem = SettingsWriteProblem(tmp.path() + "/manca/corvanta.ini");
    EXPECT_TRUE(problem.contains("manca/corvanta.ini") && problem.contains("la cartella non esiste")) << problem.toStdString();
}
