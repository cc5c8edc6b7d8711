#include "common/ConfigTestUtils.h"
#include "platform/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>

using namespace ConfigTest;

namespace {

QString Read(const QString& file, const QString& section, const QString& key)
{
    QString v;
    EXPECT_TRUE(ProfileFile::ReadString(file, section, key, v));
    return v;
}

bool Write(const QString& file, const QString& section, const QString& key, const QString& value)
{
    return ProfileFile::WriteString(file, section, key, value);
}

class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.path();
        // Children without root must be able to reach the folder.
        ::chmod(QFile::encodeName(dir).constData(), 0755);
        file = dir + "/settings.ini";
    }
    QTemporaryDir tmp;
    QString dir;
    QString file;
};

} // namespace

TEST_F(ProfileFileTest, ReadsWhatWindowsReadsFromOddFiles)
{
    WriteBytes(file, QByteArray("\xEF\xBB\xBF"
                                "orphan=before any section\r\n"
                                "; a comment=not a key\r\n"
                                "[ Main ]\r\n"
                                "  Name \t=\t  Mario Rossi  \r\n"
                                "quoted=\"  padded  \"\r\n"
                                "single='x'\r\n"
                                "half=\"open\r\n"
                                "formula=a=b=c\r\n"
                                "junk line without equals\r\n"
                                "dup=first\r\n"
                                "DUP=second\r\n"
                                "empty=\r\n"
                                "[main]\r\n"
                                "dup=other section\r\n"
                                "late=only in the duplicate\r\n"
                                "[Ünïcode]\r\n"
                                "città=Milano"));
    EXPECT_EQ(Read(file, "MAIN", "name"), "Mario Rossi");
    EXPECT_EQ(Read(file, "main", "quoted"), "  padded  ");
    EXPECT_EQ(Read(file, "main", "single"), "x");
    EXPECT_EQ(Read(file, "main", "half"), "\"open");
    EXPECT_EQ(Read(file, "main", "formula"), "a=b=c");
    EXPECT_EQ(Read(file, "main", "dup"), "first");
    EXPECT_EQ(Read(file, "main", "late"), "");
    EXPECT_EQ(Read(file, "main", "junk line without equals"), "");
    EXPECT_EQ(Read(file, "main", "orphan"), "");
    EXPECT_EQ(Read(file, "main", "; a comment"), "");
    EXPECT_EQ(Read(file, "ünïcode", "CITTÀ"), "Milano");
    EXPECT_EQ(Read(file, "missing", "name"), "");
    EXPECT_EQ(Read(dir + "/absent.ini", "main", "name"), "");

    // Old Mac line ends only.
    WriteBytes(file, "[s]\ra=1\rb=2\r");
    EXPECT_EQ(Read(file, "s", "a"), "1");
    EXPECT_EQ(Read(file, "s", "b"), "2");
}

TEST_F(ProfileFileTest, WriteChangesOneLineAndKeepsEveryOtherByte)
{
    const QByteArray before = "\xEF\xBB\xBF; settings\r\n"
                              "\r\n"
                              "[Main]\r\n"
                              "  Name \t= old  \r\n"
                              "garbage ### line\r\n"
                              "name=duplicate stays\r\n"
                              "\r\n"
                              "; about Other\r\n"
                              "[Other]\r\n"
                              "x=1";
    WriteBytes(file, before);

    ASSERT_TRUE(Write(file, "MAIN", "NAME", "new value"));
    QByteArray expected = before;
    expected.replace("  Name \t= old  \r\n", "  Name \t=new value\r\n");
    EXPECT_EQ(ReadBytes(file), expected);

    // A new key goes after the section's last entry, before the blank line and
    // the comment that lead into the next section.
    ASSERT_TRUE(Write(file, "main", "Added", "2"));
    expected.replace("name=duplicate stays\r\n", "name=duplicate stays\r\nAdded=2\r\n");
    EXPECT_EQ(ReadBytes(file), expected);

    // The unterminated last line gets the file's own line end before a new key follows it.
    ASSERT_TRUE(Write(file, "other", "y", "3"));
    expected += "\r\ny=3\r\n";
    EXPECT_EQ(ReadBytes(file), expected);

    ASSERT_TRUE(Write(file, "FormCrop", "TOP", "10"));
    expected += "[FormCrop]\r\nTOP=10\r\n";
    EXPECT_EQ(ReadBytes(file), expected);

    EXPECT_EQ(Read(file, "main", "name"), "new value");
    EXPECT_EQ(Read(file, "formcrop", "top"), "10");
}

TEST_F(ProfileFileTest, NewFilesAndLineEndsOfExistingFiles)
{
    ASSERT_TRUE(Write(file, "A", "k", "v"));
    EXPECT_EQ(ReadBytes(file), QByteArray("[A]\nk=v\n"));

    WriteBytes(file, "[A]\rk=v\r");
    ASSERT_TRUE(Write(file, "B", "k", "w"));
    EXPECT_EQ(ReadBytes(file), QByteArray("[A]\rk=v\r[B]\rk=w\r"));

    // An empty section header gets its first key right below it.
    WriteBytes(file, "[A]\n\n[B]\n");
    ASSERT_TRUE(Write(file, "a", "k", "1"));
    EXPECT_EQ(ReadBytes(file), QByteArray("[A]\nk=1\n\n[B]\n"));
}

TEST_F(ProfileFileTest, ValuesReadBackExactlyAsWritten)
{
    for (const QString& v : {QString("  folder with blanks "), QString("\"quoted\""), QString("'x'"), QString("\""),
                             QString("a = b"), QString(""), QString("C:\\Dati\\"), QString("città\t")}) {
        ASSERT_TRUE(Write(file, "S", "k", v));
        EXPECT_EQ(Read(file, "s", "K"), v);
    }
    ASSERT_TRUE(Write(file, "S", "k", " x"));
    EXPECT_EQ(ReadBytes(file), QByteArray("[S]\nk=\" x\"\n"));
}

TEST_F(ProfileFileTest, RefusesWhatWouldBreakTheFileAndNeverCreatesFolders)
{
    WriteBytes(file, "[A]\nk=v\n");
    const QByteArray before = ReadBytes(file);
    QString why;
    EXPECT_FALSE(ProfileFile::WriteString(file, "A", "k", "line1\nline2", &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(Write(file, "A", "k=x", "v"));
    EXPECT_FALSE(Write(file, "A]", "k", "v"));
    EXPECT_FALSE(Write(file, "", "k", "v"));
    EXPECT_FALSE(Write(file, "A", "  ", "v"));
    EXPECT_EQ(ReadBytes(file), before);

    const QString deep = dir + "/no/such/folder/settings.ini";
    EXPECT_FALSE(Write(deep, "A", "k", "v"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/no"));
}

// A group of values lands in one replacement of the file, byte for byte as
// the same values written one by one would leave it; one bad name refuses
// the whole group and leaves the file alone.
TEST_F(ProfileFileTest, GroupOfValuesIsOneRewriteEqualToSingleWrites)
{
    const QByteArray start = "\xEF\xBB\xBF[Main]\r\nA=1\r\n\r\n; next\r\n[Other]\r\nx=1";
    const QString single = dir + "/single.ini";
    WriteBytes(single, start);
    WriteBytes(file, start);
    const QList<QPair<QString, QString>> values = {
        {"a", "2"}, {"New", " padded "}, {"A", "3"}, {"Zoom", "0,25"}};
    for (const auto& kv : values)
        ASSERT_TRUE(Write(single, "main", kv.first, kv.second));
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &before), 0);
    ASSERT_TRUE(ProfileFile::WriteStrings(file, "MAIN", values));
    EXPECT_EQ(ReadBytes(file), ReadBytes(single));
    EXPECT_EQ(Read(file, "main", "a"), "3");
    EXPECT_EQ(Read(file, "main", "new"), " padded ");

    // Values already stored so leave the file itself untouched (same inode).
    struct stat once {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &once), 0);
    EXPECT_NE(once.st_ino, before.st_ino);
    ASSERT_TRUE(ProfileFile::WriteStrings(file, "Main", {{"A", "3"}, {"Zoom", "0,25"}}));
    struct stat again {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &again), 0);
    EXPECT_EQ(again.st_ino, once.st_ino);

    const QByteArray kept = ReadBytes(file);
    QString why;
    EXPECT_FALSE(ProfileFile::WriteStrings(file, "Main", {{"A", "4"}, {"bad=key", "5"}}, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(ProfileFile::WriteStrings(file, "Main", {{"A", "4"}, {"B", "two\nlines"}}));
    EXPECT_EQ(ReadBytes(file), kept);
}

TEST_F(ProfileFileTest, UnreadableFileIsReportedAndNeverReplaced)
{
    // A folder where the file should be: reading fails, writing must not replace it.
    ASSERT_TRUE(QDir(dir).mkdir("settings.ini"));
    QString value = "stale", why;
    EXPECT_FALSE(ProfileFile::ReadString(file, "A", "k", value, &why));
    EXPECT_TRUE(value.isEmpty());
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(Write(file, "A", "k", "v"));
    EXPECT_TRUE(QFileInfo(file).isDir());
    ASSERT_TRUE(QDir(dir).rmdir("settings.ini"));

    // A file the user may not read must not be rewritten from nothing.
    WriteBytes(file, "[A]\nsecret=1\n");
    ::chmod(QFile::encodeName(file).constData(), 0200);
    const int rc = RunInChild(
        [&] {
            QString v;
            const bool readOk = ProfileFile::ReadString(file, "A", "secret", v);
            const bool wrote = ProfileFile::WriteString(file, "A", "other", "2");
            return (readOk ? 1 : 0) | (wrote ? 2 : 0);
        },
        true);
    EXPECT_EQ(rc, 0);
    ::chmod(QFile::encodeName(file).constData(), 0644);
    EXPECT_EQ(ReadBytes(file), QByteArray("[A]\nsecret=1\n"));
}

TEST_F(ProfileFileTest, ReadOnlyFileOrFolderKeepsTheOldFileWithoutRoot)
{
    // The folder belongs to the unprivileged user; the file is read-only.
    const QString sub = dir + "/user";
    ASSERT_TRUE(QDir(dir).mkdir("user"));
    const QString ini = sub + "/settings.ini";
    WriteBytes(ini, "[A]\nk=old\n");
    GiveToNobody(sub, 0755);
    GiveToNobody(ini, 0444);
    EXPECT_EQ(RunInChild([&] { return ProfileFile::WriteString(ini, "A", "k", "new") ? 1 : 0; }, true), 0);
    EXPECT_EQ(ReadBytes(ini), QByteArray("[A]\nk=old\n"));

    // A writable file in a read-only folder: the temporary file cannot be made, and
    // the old file must not be rewritten in place instead.
    GiveToNobody(ini, 0644);
    GiveToNobody(sub, 0555);
    EXPECT_EQ(RunInChild([&] { return ProfileFile::WriteString(ini, "A", "k", "new") ? 1 : 0; }, true), 0);
    EXPECT_EQ(ReadBytes(ini), QByteArray("[A]\nk=old\n"));
    EXPECT_EQ(Entries(sub), QStringList{"settings.ini"});

    // Both writable: the same child succeeds, which shows the refusals above were the permissions.
    GiveToNobody(sub, 0755);
    EXPECT_EQ(RunInChild([&] { return ProfileFile::WriteString(ini, "A", "k", "new") ? 1 : 0; }, true), 1);
    EXPECT_EQ(ReadBytes(ini), QByteArray("[A]\nk=new\n"));
}

TEST_F(ProfileFileTest, FullDiskLeavesTheOldFileWhole)
{
    QByteArray before = "[A]\nk=old\n[Big]\n";
    for (int i = 0; i < 200; ++i)
        before += "line" + QByteArray::number(i) + "=" + QByteArray(40, 'x') + "\n";
    WriteBytes(file, before);
    // The limit lets the temporary file start but not finish.
    const rlim_t limit = static_cast<rlim_t>(before.size() / 2);
    const int rc = RunInChild([&] { return ProfileFile::WriteString(file, "A", "k", "new") ? 1 : 0; }, false, limit);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadBytes(file), before);
    EXPECT_EQ(Entries(dir), QStringList{"settings.ini"});
}

TEST_F(ProfileFileTest, RewriteKeepsModeAndFollowsLinks)
{
    WriteBytes(file, "[A]\nk=1\n");
    ::chmod(QFile::encodeName(file).constData(), 0640);
    ASSERT_TRUE(Write(file, "A", "k", "2"));
    struct stat st{};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    const QString link = dir + "/link.ini";
    ASSERT_TRUE(QFile::link(file, link));
    ASSERT_TRUE(Write(link, "A", "k", "3"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(Read(file, "A", "k"), "3");
}

TEST_F(ProfileFileTest, LeftoverTemporariesOfOurOwnPatternAloneAreRemoved)
{
    const QString ini = dir + "/corvanta.ini";
    WriteBytes(ini, "[A]\nk=v\n");
    // What a cut-short write leaves, and names that only look like it.
    const QStringList ours = {".corvanta.ini.tmp1z", ".corvanta.ini.tmpa0b1c2d"};
    const QStringList others = {".corvanta.ini.tmpA1", ".corvanta.ini.tmp12345678", ".corvanta.ini.tmp",
                                ".altro.ini.tmp1z", "corvanta.ini.tmp1z", ".corvanta.ini.tmp1z.bak"};
    for (const QString& name : ours + others)
        WriteBytes(dir + "/" + name, "x");
    ASSERT_TRUE(QDir(dir).mkdir(".corvanta.ini.tmpdir"));
    const QString young = dir + "/.corvanta.ini.tmpnew";
    // Everything is an hour old except one file, which a write may be making now.
    const timespec old[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    for (const QString& name : Entries(dir))
        ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(dir + "/" + name).constData(), old, 0), 0);
    WriteBytes(young, "x");

    EXPECT_EQ(ProfileFile::RemoveLeftoverTemporaries(ini), 2);
    QStringList left = Entries(dir);
    left.sort();
    QStringList want = others + QStringList{"corvanta.ini", ".corvanta.ini.tmpdir", ".corvanta.ini.tmpnew"};
    want.sort();
    EXPECT_EQ(left, want);
}
