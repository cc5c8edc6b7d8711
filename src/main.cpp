// Program entry: settings file, then a window holding the image view.

#include "config/U_Options.h"
#include "config/U_Savecfg.h"
#include "view/KeyState.h"
#include "view/ZSImage.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// Until the main window takes over, a plain window shows the view and accepts
// a picture file dropped on it.
class ViewWindow : public QWidget
{
public:
    ViewWindow()
    {
        setWindowTitle(QStringLiteral("Corvanta"));
        setAcceptDrops(true);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        view = new TZSImage(this);
        view->SetBkgColor(FromQColor(palette().color(QPalette::Window)));
        view->SetMargin(20);
        view->SetBorderWidth(1);
        view->SetBorderColor(clGray);
        view->SetKeyToScroll(VK_SPACE);
        view->SetMagnifierActivated(false);
        layout->addWidget(view);
        resize(900, 700);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (event->mimeData()->hasUrls())
            event->acceptProposedAction();
    }
    void dropEvent(QDropEvent* event) override
    {
        const QList<QUrl> urls = event->mimeData()->urls();
        if (urls.isEmpty() || !urls.first().isLocalFile())
            return;
        try {
            view->SetImage(urls.first().toLocalFile());
        } catch (const std::exception&) {
            QApplication::beep();
        }
    }

private:
    TZSImage* view = nullptr;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    InitOptionsUnit();
    int result = 0;
    {
        ViewWindow window;
        window.show();
        result = app.exec();
    }
    DoneOptionsUnit();
    return result;
}
