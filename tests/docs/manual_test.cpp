// The user manual built beside the program, and the tool that renders it:
// a whole PDF where the main window looks for it, pictures embedded when they
// exist and left out (not fatal) when they do not, and no broken file left
// behind when rendering fails.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

// The build's own folders, unless the environment names others.
QString BinaryDir()
{
    return qEnvironmentVariable("CORVANTA_BINARY_DIR", QStringLiteral(CORVANTA_DOCS_BINARY_DIR));
}

QString SourceDir()
{
    return qEnvironmentVariable("CORVANTA_SOURCE_DIR", QStringLiteral(CORVANTA_DOCS_SOURCE_DIR));
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Page objects written in the file, counted apart from the page-tree node.
int PageObjects(const QByteArray& pdf)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
    int n = 0;
    for (auto it = page.globalMatch(QString::fromLatin1(pdf)); it.hasNext(); it.next())
        ++n;
    return n;
}

int ImageObjects(const QByteArray& pdf)
{
    return static_cast<int>(pdf.count("/Subtype /Image"));
}

// Whole means: the header, a page tree whose count matches the pages present, and the end marker.
void ExpectWholePdf(const QByteArray& pdf, int minPages)
{
    ASSERT_TRUE(pdf.startsWith("%PDF-")) << "not a PDF";
    EXPECT_TRUE(pdf.trimmed().endsWith("%%EOF")) << "cut short";
    const QRegularExpressionMatch count = QRegularExpression(QStringLiteral("/Count\\s+(\\d+)")).match(QString::fromLatin1(pdf));
    ASSERT_TRUE(count.hasMatch()) << "no page tree";
    const int pages = count.captured(1).toInt();
    EXPECT_GE(pages, minPages);
    EXPECT_EQ(PageObjects(pdf), pages);
}

struct ToolRun {
    int exitCode = -1;
    QString errors;
};

ToolRun RunTool(const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("DISPLAY"));
    p.setProcessEnvironment(env);
    p.start(QDir(BinaryDir()).filePath(QStringLiteral("docs/corvanta_manual_pdf")), args);
    ToolRun r;
    if (!p.waitForStarted() || !p.waitForFinished(-1))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.errors = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

QString ManualHtml()
{
    return QDir(SourceDir()).filePath(QStringLiteral("docs/manual/manuale.html"));
}

class ManualTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
    }
    QString Out(const QString& name) const { return Dir.filePath(name); }
    QTemporaryDir Dir;
};

} // namespace

TEST(Manual, BuiltBesideTheProgramUnderItsNameAsAWholeMultiPagePdf)
{
    // The main window opens the program's own path with ".pdf" in place of any extension.
    const QString pdf = QDir(BinaryDir()).filePath(QStringLiteral("corvanta.pdf"));
    ASSERT_TRUE(QFileInfo::exists(pdf)) << qPrintable(pdf);
    ExpectWholePdf(ReadAll(pdf), 4);
    // No unfinished rendering lies next to it.
    EXPECT_FALSE(QFileInfo::exists(pdf + QStringLiteral(".part")));
}

TEST_F(ManualTool, EmbedsThePicturesFoundAndBuildsWithoutThem)
{
    const QString kept = QDir(SourceDir()).filePath(QStringLiteral("docs/manual/img"));
    const QString empty = Out(QStringLiteral("none"));
    ASSERT_TRUE(QDir().mkpath(empty));

    const ToolRun with = RunTool({Out(QStringLiteral("with.pdf")), ManualHtml(), empty, kept});
    ASSERT_EQ(with.exitCode, 0) << qPrintable(with.errors);
    const ToolRun without = RunTool({Out(QStringLiteral("without.pdf")), ManualHtml(), empty});
    ASSERT_EQ(without.exitCode, 0) << qPrintable(without.errors);

    const QByteArray a = ReadAll(Out(QStringLiteral("with.pdf")));
    const QByteArray b = ReadAll(Out(QStringLiteral("without.pdf")));
    ExpectWholePdf(a, 4);
    ExpectWholePdf(b, 3);
    // Every kept picture is found through the second folder, and none without it.
    const int keptPictures = static_cast<int>(QDir(kept).entryList({QStringLiteral("*.png")}, QDir::Files).size());
    EXPECT_EQ(ImageObjects(a), keptPictures);
    EXPECT_EQ(ImageObjects(b), 0);
    EXPECT_GT(PageObjects(a), PageObjects(b));
    EXPECT_TRUE(without.errors.contains(QStringLiteral("left out")));
}

TEST_F(ManualTool, PictureNamesCannotReachOutsideTheFolders)
{
    // A picture one level above the folder given: named by a relative path, it
    // must not be picked up.
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    ASSERT_TRUE(picture.save(Out(QStringLiteral("outside.png"))));
    ASSERT_TRUE(QDir().mkpath(Out(QStringLiteral("img"))));
    ASSERT_TRUE(picture.save(Out(QStringLiteral("img/inside.png"))));
    QFile html(Out(QStringLiteral("page.html")));
    ASSERT_TRUE(html.open(QIODevice::WriteOnly));
    html.write("<html><body><p>Testo</p>"
               "<div class=\"figura\"><img src=\"../outside.png\"><br>fuori</div>"
               "<div class=\"figura\" align=\"center\"><img src=\"inside.png\" width=\"40\"><br>dentro</div>"
               "</body></html>");
    html.close();

    const ToolRun r = RunTool({Out(QStringLiteral("page.pdf")), html.fileName(), Out(QStringLiteral("img"))});
    ASSERT_EQ(r.exitCode, 0) << qPrintable(r.errors);
    const QByteArray pdf = ReadAll(Out(QStringLiteral("page.pdf")));
    ExpectWholePdf(pdf, 1);
    EXPECT_EQ(ImageObjects(pdf), 1);
}

TEST_F(ManualTool, FailedRenderingLeavesNoBrokenManual)
{
    // A missing page fails and leaves the manual already there as it was.
    const QString target = Out(QStringLiteral("corvanta.pdf"));
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("%PDF-earlier");
    }
    const ToolRun missingPage = RunTool({target, Out(QStringLiteral("absent.html"))});
    EXPECT_NE(missingPage.exitCode, 0);
    EXPECT_EQ(ReadAll(target), QByteArray("%PDF-earlier"));

    // A folder that cannot be written: failure reported, nothing created.
    const QString unreachable = Out(QStringLiteral("no/such/folder/corvanta.pdf"));
    const ToolRun badTarget = RunTool({unreachable, ManualHtml()});
    EXPECT_NE(badTarget.exitCode, 0);
    EXPECT_FALSE(QFileInfo::exists(unreachable));
    EXPECT_FALSE(QFileInfo::exists(unreachable + QStringLiteral(".part")));

    // Too few arguments is a usage error, not a crash.
    EXPECT_EQ(RunTool({target}).exitCode, 2);
}
