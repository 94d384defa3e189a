#pragma once

#include "DBGridEh.h"

#include <QApplication>
#include <QTableView>
#include <QTest>

// Clicks a row of the schedule grid as a person would.
inline void clickGridRow(DBGridEh *grid, int row)
{
    QTableView *view = grid->view();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(row, 1)).center());
}

// The name of a top-level window a test left open, or an empty text when none is.
inline QString visibleTopLevelWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            return widget->objectName() + QStringLiteral(" (")
                + QString::fromLatin1(widget->metaObject()->className()) + u')';
    }
    return QString();
}
