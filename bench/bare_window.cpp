// The yardstick for the start-up benchmark: a Qt Widgets program that maps
// one empty window of the start-up window's size and does nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(495, 277);
    window.show();
    return app.exec();
}
