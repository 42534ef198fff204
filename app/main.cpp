#include "mywidget.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    int result = 0;
    {
        // The window is destroyed before the application object.
        MyWidget window;
        window.show();
        result = QApplication::exec();
    }
    return result;
}
