#pragma once

#include <QApplication>

// The application object. Whatever error escapes an event handler is reported here, and the
// event loop goes on.
class AutoRunApplication final : public QApplication
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AutoRunApplication)

public:
    AutoRunApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};
