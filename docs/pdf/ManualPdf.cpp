// Renders the HTML user manual to a paginated A4 PDF.
//
//   corvanta_manual_pdf <output.pdf> <manual.html> [picture folder ...]
//
// Pictures named in the page are looked up in the folders in the order given.
// A figure whose picture is found nowhere is left out with its caption, so the
// manual builds on a machine that has never run the screenshot tool. Needs
// only QtGui; run it with QT_QPA_PLATFORM=offscreen, no display is touched.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextDocument>
#include <QUrl>

#include <cstdio>

namespace {

void Fail(const QString& text)
{
    std::fprintf(stderr, "corvanta_manual_pdf: %s\n", qPrintable(text));
}

QImage FindPicture(const QString& name, const QStringList& folders)
{
    // Only a plain file name: a path in the page must not reach outside the folders.
    if (name.isEmpty() || name != QFileInfo(name).fileName())
        return QImage();
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(name);
        if (!QFileInfo::exists(path))
            continue;
        QImage image(path);
        if (!image.isNull())
            return image;
    }
    return QImage();
}

// Hands every picture found to the document and drops the figures of the others.
QString ResolveFigures(const QString& html, const QStringList& folders, QTextDocument& doc, int& missing)
{
    static const QRegularExpression figure(
        QStringLiteral("<div class=\"figura\"[^>]*>\\s*<img src=\"([^\"]*)\"[^>]*>.*?</div>"),
        QRegularExpression::DotMatchesEverythingOption);
    QString out;
    qsizetype last = 0;
    auto it = figure.globalMatch(html);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += html.mid(last, m.capturedStart() - last);
        last = m.capturedEnd();
        const QString name = m.captured(1);
        const QImage image = FindPicture(name, folders);
        if (image.isNull()) {
            ++missing;
            continue;
        }
        doc.addResource(QTextDocument::ImageResource, QUrl(name), image);
        out += m.captured(0);
    }
    out += html.mid(last);
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        Fail(QStringLiteral("usage: corvanta_manual_pdf <output.pdf> <manual.html> [picture folder ...]"));
        return 2;
    }
    const QString output = args.at(1);
    QFile source(args.at(2));
    if (!source.open(QIODevice::ReadOnly)) {
        Fail(QStringLiteral("cannot read %1").arg(args.at(2)));
        return 1;
    }
    const QString html = QString::fromUtf8(source.readAll());
    const QStringList folders = args.mid(3);

    QTextDocument doc;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10);
    doc.setDefaultFont(font);
    int missing = 0;
    doc.setHtml(ResolveFigures(html, folders, doc, missing));
    if (missing > 0)
        std::fprintf(stderr, "corvanta_manual_pdf: %d figure(s) left out, picture not found\n", missing);

    // Written beside the target and renamed at the end, so a failed run never
    // leaves a cut-short manual where the program would open it.
    const QString partial = output + QStringLiteral(".part");
    QFile::remove(partial);
    {
        QPdfWriter writer(partial);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        writer.setResolution(300);
        writer.setTitle(doc.metaInformation(QTextDocument::DocumentTitle));
        writer.setCreator(QStringLiteral("Corvanta"));
        // An unpaginated document is laid out on the writer's pages with a
        // margin of its own and a page number at the foot of each page.
        doc.print(&writer);
    }
    if (QFileInfo(partial).size() <= 0) {
        Fail(QStringLiteral("nothing written to %1").arg(partial));
        QFile::remove(partial);
        return 1;
    }
    QFile::remove(output);
    if (!QFile::rename(partial, output)) {
        Fail(QStringLiteral("cannot write %1").arg(output));
        QFile::remove(partial);
        return 1;
    }
    return 0;
}
