#include "import/JetConversion.h"

#include "import/ImportError.h"
#include "import/JetReader.h"
#include "import/ScheduleImport.h"
#include "report/ApplicationTitle.h"
#include "report/DataError.h"
#include "report/Prompter.h"
#include "store/Connection.h"
#include "store/Schema.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

namespace {

void writeSchedule(const QString &path, const JetSchedule &schedule)
{
    Connection connection(path);
    Schema::create(connection);
    writeEntries(connection, schedule);
}

} // namespace

QString keptJetName(const QString &databasePath)
{
    const QFileInfo database(databasePath);
    const QString suffix = database.suffix().isEmpty() ? QString() : u'.' + database.suffix();
    const QString stem =
        database.absolutePath() + u'/' + database.completeBaseName() + QStringLiteral(".jet");
    for (int number = 1;; ++number) {
        const QString candidate =
            stem + (number == 1 ? QString() : QStringLiteral("-%1").arg(number)) + suffix;
        const QFileInfo taken(candidate);
        if (!taken.exists() && !taken.isSymLink())
            return candidate;
    }
}

void convertJetSchedule(const QString &databasePath, const JetSchedule &schedule,
                        const QString &keptAs)
{
    const QFileInfo database(databasePath);
    // In the same folder, so that the rename that puts it in place is one step.
    QTemporaryFile converted(database.absoluteFilePath() + QStringLiteral(".XXXXXX"));
    if (!converted.open()) {
        throw ImportError(ImportFailure::CannotWrite,
                          QStringLiteral("No new file can be made in the folder "
                                         "'%1': %2.")
                              .arg(database.absolutePath(), converted.errorString()));
    }
    converted.close();
    try {
        writeSchedule(converted.fileName(), schedule);
    } catch (const DatabaseError &error) {
        throw ImportError(
            ImportFailure::CannotWrite,
            QStringLiteral("The new schedule cannot be written: %1.").arg(error.message()));
    }
    // The new file takes the old one's permissions: a shared schedule stays writable to its group.
    if (!QFile::setPermissions(converted.fileName(), QFile::permissions(databasePath))) {
        throw ImportError(ImportFailure::CannotWrite,
                          QStringLiteral("The new schedule cannot be given the permissions of "
                                         "'%1'.")
                              .arg(databasePath));
    }
    QFile jet(databasePath);
    if (!jet.copy(keptAs)) {
        throw ImportError(ImportFailure::CannotWrite,
                          QStringLiteral("The Jet file cannot be kept as '%1': %2.")
                              .arg(keptAs, jet.errorString()));
    }
    std::error_code failure;
    std::filesystem::rename(QFile::encodeName(converted.fileName()).toStdString(),
                            QFile::encodeName(databasePath).toStdString(), failure);
    if (failure) {
        QFile::remove(keptAs);
        throw ImportError(ImportFailure::CannotWrite,
                          QStringLiteral("The new schedule cannot take the place of '%1': %2.")
                              .arg(databasePath, QString::fromLocal8Bit(failure.message())));
    }
    converted.setAutoRemove(false);
}

bool offerJetConversion(const QString &databasePath)
{
    if (!isJetFile(databasePath))
        return false;
    const QString caption = applicationTitle();
    const QString &path = databasePath;
    JetSchedule schedule;
    try {
        schedule = readJetSchedule(databasePath);
    } catch (const ImportError &error) {
        prompter().showError(caption,
                             QStringLiteral("The schedule database '%1' is a Jet "
                                            "database file from Windows, but it cannot "
                                            "be converted.\n%2")
                                 .arg(path, error.message()));
        return false;
    }
    const QString keptAs = keptJetName(databasePath);
    QString question = QStringLiteral("The schedule database '%1' is a Jet database file from "
                                      "Windows, with %2. This program cannot open it as it is.\n\n"
                                      "Convert it? The entries keep their keys, and the Jet file "
                                      "is kept unchanged as '%3'.")
                           .arg(path, entryCount(schedule.entries.size()), keptAs);
    if (schedule.leftOut.size() == 1) {
        question += QStringLiteral(" Its column %1 is not part of the schedule and is left out.")
                        .arg(schedule.leftOut.first());
    } else if (!schedule.leftOut.isEmpty()) {
        question += QStringLiteral(" Its columns %1 are not part of the schedule and are left out.")
                        .arg(schedule.leftOut.join(QStringLiteral(", ")));
    }
    if (!prompter().askYesNo(question, caption))
        return false;
    try {
        convertJetSchedule(databasePath, schedule, keptAs);
    } catch (const ImportError &error) {
        prompter().showError(caption,
                             QStringLiteral("The schedule database '%1' was not "
                                            "converted and is as it was.\n%2")
                                 .arg(path, error.message()));
        return false;
    }
    ShowMessage(QStringLiteral("The schedule database '%1' was converted, with %2. The Jet file "
                               "is kept as '%3'.")
                    .arg(path, entryCount(schedule.entries.size()), keptAs));
    return true;
}
