#include "app/AutoRunApplication.h"

#include "report/ErrorReport.h"

AutoRunApplication::AutoRunApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{ }

bool AutoRunApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleCurrentException();
        return false;
    }
}
