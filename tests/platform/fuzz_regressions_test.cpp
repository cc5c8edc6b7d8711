// Settings-file inputs found by fuzzing that once broke a property.

#include "platform/ProfileFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray Contents(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A name or value starting with U+FEFF (what a byte-order mark decodes to) was
// read without it: the value came back shortened, and the key was never found
// again, so every store of it added one more line to the file.
TEST(ProfileFileFuzzRegressions, LeadingZeroWidthNoBreakSpaceReadsBack)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString file = tmp.filePath("settings.ini");
    const QString bom(QChar(0xFEFF));
    struct Case {
        QString section, key, value;
    };
    const Case cases[] = {
        {"Cartelle", "Foto", bom + "/home/utente"},
        {"Cartelle", bom + "Firma", "x"},
        {bom + "Ritocco", "Luminosita", bom},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section.toStdString() + "/" + c.key.toStdString());
        ASSERT_TRUE(ProfileFile::WriteString(file, c.section, c.key, c.value));
        const QByteArray once = Contents(file);
        ASSERT_TRUE(ProfileFile::WriteString(file, c.section, c.key, c.value));
        EXPECT_EQ(Contents(file), once);
        QString v;
        ASSERT_TRUE(ProfileFile::ReadString(file, c.section, c.key, v));
        EXPECT_EQ(v, c.value);
    }
    // The file's own byte-order mark is still not part of the first line.
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\xEF\xBB\xBF[S]\nK=\xEF\xBB\xBFv\n");
    f.close();
    QString v;
    ASSERT_TRUE(ProfileFile::ReadString(file, "S", "K", v));
    EXPECT_EQ(v, bom + "v");
}

} // namespace
