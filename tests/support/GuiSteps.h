#pragma once

#include "ui/DBGridEh.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QTableView>
#include <QTest>

// Clicks a row of the schedule grid as a person would.
inline void clickGridRow(DBGridEh *grid, int row)
{
    QTableView *view = grid->view();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(row, 1)).center());
}

// A window as a failure names it: its object name and its class.
inline QString windowName(const QWidget *window)
{
    return window->objectName() + QStringLiteral(" (")
        + QString::fromLatin1(window->metaObject()->className()) + u')';
}

// The name of a top-level window a test left open, or an empty text when none is.
inline QString visibleTopLevelWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            return windowName(widget);
    }
    return QString();
}

// Whether an icon draws something at the given size, not just an empty or transparent picture.
inline bool drawsPicture(const QIcon &icon, const QSize &size)
{
    const QImage picture = icon.pixmap(size).toImage();
    if (picture.size() != size)
        return false;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (qAlpha(picture.pixel(x, y)) != 0)
                return true;
        }
    }
    return false;
}
