#pragma once

#include "report/ErrorReport.h"

#include <QAction>
#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>

class QWidget;

// Connects a signal to one of a form's event handlers, run through runHandler so that an error
// it raises goes to the application-wide report.
template<typename Sender, typename Signal, typename Form>
void connectHandler(Sender *sender, Signal signal, Form *form, void (Form::*handler)())
{
    QObject::connect(sender, signal, form,
                     [form, handler] { runHandler([form, handler] { (form->*handler)(); }); });
}

// A command of a form: its picture and caption, running the form's handler when triggered.
template<typename Form>
QAction *makeAction(Form *form, const QIcon &icon, const QString &caption, void (Form::*handler)())
{
    auto *action = new QAction(icon, caption, form);
    connectHandler(action, &QAction::triggered, form, handler);
    return action;
}

// The primary screen's area for windows, or an empty rectangle when there is no screen.
QRect screenArea();

// Moves a window so that the centre of its frame is the centre of the area; a null area leaves it
// where it is.
void centreWindowOn(QWidget *window, const QRect &area);
