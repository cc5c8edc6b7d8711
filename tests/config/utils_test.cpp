#include "config/U_Options.h"
#include "platform/Version.h"

#include <QCoreApplication>
#include <QDate>
#include <QTimer>

#include <gtest/gtest.h>

TEST(TUtils, VersionOfTheProgramFileOnly)
{
    TUtils u;
    EXPECT_EQ(u.AppDataPath, QCoreApplication::applicationDirPath() + "/");
    EXPECT_EQ(u.GetVersion(QCoreApplication::applicationFilePath()), CORVANTA_VERSION);
    EXPECT_EQ(QString(CORVANTA_VERSION).split('.').size(), 4);
    EXPECT_EQ(u.GetVersion("/bin/sh"), "");
    EXPECT_EQ(u.GetVersion("/no/such/file"), "");
}

TEST(TUtils, DelayKeepsTheInterfaceAliveEvenForZero)
{
    TUtils u;
    int fired = 0;
    QTimer::singleShot(0, [&] { ++fired; });
    u.Delay(0);
    EXPECT_EQ(fired, 1);

    bool late = false;
    QTimer::singleShot(30, [&] { late = true; });
    u.Delay(60);
    EXPECT_TRUE(late);
}

TEST(TUtils, DatesAreCompletedWithTheCurrentMonthAndYear)
{
    TUtils u;
    const QDate today = QDate::currentDate();
    EXPECT_EQ(u.ValidateDate("7/3"), QDate(today.year(), 3, 7).toString("dd/MM/yyyy"));
    EXPECT_EQ(u.ValidateDate("1"), QDate(today.year(), today.month(), 1).toString("dd/MM/yyyy"));
    EXPECT_EQ(u.ValidateDate("29-2-2024"), "29/02/2024");
    EXPECT_EQ(u.ValidateDate("31.12.26"), "31/12/2026");
    EXPECT_EQ(u.ValidateDate("29/2/2023"), "");
    EXPECT_EQ(u.ValidateDate("32"), "");
    EXPECT_EQ(u.ValidateDate("abc"), "");
    EXPECT_TRUE(u.IsDate("1/1/2000"));
    EXPECT_FALSE(u.IsDate("1/1"));
    EXPECT_FALSE(u.IsDate("31/4/2020"));
}

TEST(TUtils, UnknownPrinterCannotBecomeTheDefault)
{
    TUtils u;
    QStringList printers{"stale"};
    u.EnumPrt(printers);
    EXPECT_FALSE(printers.contains("stale"));
    EXPECT_FALSE(u.SetDefaultPrinter("corvanta-no-such-printer"));
}

TEST(TwStr32, CopiesLowBytesAndCutsAtThirtyFour)
{
    TW_STR32 s;
    StrToTW_STR32("Scanner", s);
    EXPECT_STREQ(s, "Scanner");
    EXPECT_EQ(s[33], 0);
    const QString longName = QString(40, 'A') ;
    StrToTW_STR32(longName, s);
    EXPECT_EQ(TW_STR32ToStr(s), QString(34, 'A'));
    StrToTW_STR32(QString::fromUtf8("Épson"), s);
    EXPECT_EQ(static_cast<unsigned char>(s[0]), 0xC9u);
    EXPECT_EQ(TW_STR32ToStr(s), QString::fromUtf8("Épson"));
    StrToTW_STR32("", s);
    EXPECT_EQ(TW_STR32ToStr(s), "");
}
