// "Scansione.bmp" as the scan commands write it: any reader must get the picture back
// exactly, whatever the row padding held in memory, and a replaced file leaves nothing
// behind.

#include "scan/ScanCommands.h"

#include "platform/ImageAlloc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// A picture whose pixels differ everywhere and whose row padding holds rubbish.
QImage Pattern(int width, int height, int seed)
{
    QImage img = NewBgrImage(width, height);
    for (int y = 0; y < height; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < width * 3; ++x)
            row[x] = static_cast<uchar>(x * 7 + y * 13 + seed);
        std::memset(row + width * 3, 0xAB, static_cast<size_t>(img.bytesPerLine() - width * 3));
    }
    return img;
}

uint32_t Get32(const QByteArray& b, int at)
{
    uint32_t v;
    std::memcpy(&v, b.constData() + at, 4);
    return v;
}

} // namespace

TEST(ScanBitmap, ReadsBackUnchangedWithZeroPaddingAndReplacesTheOldFileCleanly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("Scansione.bmp");
    // Widths with every padding length, and one large enough to need several writes.
    const int widths[] = {1, 2, 3, 4, 5, 1653};
    int seed = 0;
    for (int width : widths) {
        const int height = width == 1653 ? 700 : 3;
        const QImage picture = Pattern(width, height, ++seed);
        ASSERT_TRUE(WriteScanBitmap(picture, file)) << width;

        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const int stride = (width * 3 + 3) / 4 * 4;
        ASSERT_EQ(bytes.size(), 54 + stride * height) << width;
        EXPECT_EQ(Get32(bytes, 2), static_cast<uint32_t>(bytes.size()));
        EXPECT_EQ(Get32(bytes, 10), 54u);
        EXPECT_EQ(Get32(bytes, 22), static_cast<uint32_t>(height)) << "rows bottom first";
        for (int y = 0; y < height; ++y)
            for (int p = width * 3; p < stride; ++p)
                ASSERT_EQ(bytes[54 + y * stride + p], 0) << width << " row " << y;
        EXPECT_EQ(QImage(file).convertToFormat(QImage::Format_BGR888), picture) << width;
    }
    // Each write replaced the last; no part file or set-aside old file stays behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Scansione.bmp"});
}

TEST(ScanBitmap, AReplacedFileKeepsItsPermissionsAndALinkStaysALink)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString real = dir.filePath("real.bmp");
    const QString link = dir.filePath("Scansione.bmp");
    ASSERT_TRUE(WriteScanBitmap(Pattern(4, 2, 1), real));
    ASSERT_TRUE(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    ASSERT_TRUE(QFile::link(real, link));

    const QImage second = Pattern(6, 3, 2);
    ASSERT_TRUE(WriteScanBitmap(second, link));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QImage(real).convertToFormat(QImage::Format_BGR888), second);
    const QFile::Permissions modeBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                        QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                                        QFile::ExeOther;
    EXPECT_EQ(QFile::permissions(real) & modeBits, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
}

TEST(ScanBitmap, AFolderThatCannotTakeTheFileFailsAndLeavesNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_FALSE(WriteScanBitmap(Pattern(5, 2, 1), dir.filePath("missing/Scansione.bmp")));
    EXPECT_FALSE(WriteScanBitmap(QImage(), dir.filePath("Scansione.bmp")));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}
