// A small window that starts a drag of one file when it is pressed, so that the
// whole-program tests can drop a file onto corvanta through real X drag and drop.
//
//   e2e_drag_source FILE X Y
//
// The window (80 x 80, at X, Y) prints "ready" once it is shown; after the
// drop it prints the action the drag ended with ("copy", "move", "link" or
// "none") and stays: the target fetches the dropped data from the source after
// the drop, so the source must live on until the test ends it.

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class TDragSource : public QWidget {
public:
    explicit TDragSource(QString file) : FFile(std::move(file))
    {
        setWindowTitle(QStringLiteral("e2e drag source"));
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, Qt::darkBlue);
        setPalette(p);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton)
            FPressed = true;
    }

    void mouseMoveEvent(QMouseEvent*) override
    {
        if (!FPressed)
            return;
        FPressed = false;
        auto* mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(FFile)});
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        const Qt::DropAction a = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
        const char* name = a == Qt::CopyAction ? "copy"
                           : a == Qt::MoveAction ? "move"
                           : a == Qt::LinkAction ? "link"
                                                 : "none";
        std::printf("%s\n", name);
        std::fflush(stdout);
    }

    void showEvent(QShowEvent*) override
    {
        std::printf("ready\n");
        std::fflush(stdout);
    }

private:
    QString FFile;
    bool FPressed = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: e2e_drag_source FILE X Y\n");
        return 2;
    }
    TDragSource w(QString::fromLocal8Bit(argv[1]));
    w.setGeometry(QString::fromLatin1(argv[2]).toInt(), QString::fromLatin1(argv[3]).toInt(), 80, 80);
    w.show();
    return app.exec();
}
