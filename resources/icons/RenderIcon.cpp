// Build tool: renders the program's SVG icon to square PNG files for the icon theme,
// since menus and docks that lack an SVG loader look for fixed sizes.
//   corvanta_icon_png ICON.svg OUT_FOLDER SIZE...
// writes OUT_FOLDER/SIZExSIZE/corvanta.png for each size.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s ICON.svg OUT_FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[2]));
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0 || size > 1024) {
            std::fprintf(stderr, "bad size %s\n", argv[i]);
            return 2;
        }
        QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p);
        p.end();
        const QString folder = QStringLiteral("%1x%1").arg(size);
        if (!out.mkpath(folder) || !img.save(out.filePath(folder + QStringLiteral("/corvanta.png")))) {
            std::fprintf(stderr, "cannot write %s/%s\n", argv[2], qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
