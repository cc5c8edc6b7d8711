#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget w;
    w.setWindowTitle("Corvanta");
    w.resize(900, 700);
    w.show();
    return app.exec();
}
