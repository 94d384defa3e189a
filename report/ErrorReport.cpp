#include "report/ErrorReport.h"

#include "report/ApplicationTitle.h"
#include "report/DataError.h"
#include "report/Prompter.h"
#include "report/ReportText.h"

#include <QSet>
#include <QString>

#include <stdexcept>

void HandleException(const std::exception &error)
{
    // A report box runs its own event loop, in which the timer keeps ticking; a tick that fails
    // the same way again must not open a second box over the first.
    static QSet<QString> openReports;
    // A file held by another program is no error of the person's: its text is told plainly, as
    // it is, without the stop icon.
    const bool busy = dynamic_cast<const DatabaseBusyError *>(&error) != nullptr;
    const QString text = busy ? errorMessage(error) : errorReportText(error);
    if (openReports.contains(text))
        return;
    openReports.insert(text);
    try {
        if (busy)
            prompter().showMessage(text);
        else
            prompter().showError(applicationTitle(), text);
    } catch (...) {
        openReports.remove(text);
        throw;
    }
    openReports.remove(text);
}

void HandleCurrentException()
{
    try {
        throw;
    } catch (const std::exception &error) {
        HandleException(error);
    } catch (...) {
        HandleException(std::runtime_error("Unknown error"));
    }
}
