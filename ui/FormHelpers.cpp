#include "ui/FormHelpers.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QRect screenArea()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void centreWindowOn(QWidget *window, const QRect &area)
{
    if (area.isNull())
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}
