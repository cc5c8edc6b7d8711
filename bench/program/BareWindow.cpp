// The start-up reference: an empty Qt window of the program's first-start
// size, from a process linked against Qt alone.

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget w;
    w.setWindowTitle(QStringLiteral("Finestra vuota"));
    w.setFixedSize(900, 725);
    w.show();
    return app.exec();
}
