// The least a Qt Widgets program does to show a window like ours: the same size, one label of
// Chinese text in the windows' font. The start-up figures compare the program with it.
#include "ui/WindowFont.h"

#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Vantrel程序自动运行器"));
    window.setFixedSize(747, 454);
    window.setFont(windowFont());
    QLabel label(QStringLiteral("程序自动运行器：新增记录、修改记录、删除记录、开始运行"), &window);
    label.setGeometry(24, 24, 600, 24);
    window.show();
    return QApplication::exec();
}
