#include "app/Headless.h"

#include "app/CommandLine.h"
#include "app/ServiceStatus.h"
#include "engine/ProcessLauncher.h"
#include "import/ScheduleImport.h"
#include "report/ApplicationTitle.h"
#include "report/DataError.h"
#include "report/ErrorReport.h"
#include "run/ScheduleRunner.h"
#include "store/Connection.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"
#include "store/ShareDM.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <sysexits.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void complain(const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(applicationTitle()), qUtf8Printable(text));
}

// The signals that stop the run. They are blocked in every thread and read from a descriptor,
// so that stopping runs on the event loop like any other event; started programs get them back
// unblocked.
class StopSignals final
{
public:
    StopSignals()
    {
        sigemptyset(&m_signals);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP})
            sigaddset(&m_signals, signal);
        pthread_sigmask(SIG_BLOCK, &m_signals, &m_previous);
        m_descriptor = ::signalfd(-1, &m_signals, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~StopSignals()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    Q_DISABLE_COPY_MOVE(StopSignals)

    int descriptor() const { return m_descriptor; }
    // The signal that came, or 0.
    int take() const
    {
        signalfd_siginfo info {};
        return ::read(m_descriptor, &info, sizeof info) == sizeof info ? int(info.ssi_signo) : 0;
    }

private:
    sigset_t m_signals;
    sigset_t m_previous;
    int m_descriptor = -1;
};

// Opens the schedule's list and checks that it has what a run reads; gives the exit status of a
// failure, or EX_OK. A file that another program holds for now is no failure for a looping run,
// which waits for it as for entries.
int openSchedule(Connection &connection, Query &list, bool loop)
{
    const auto held = [loop] {
        if (loop) {
            complain(u"another program is using the schedule; the run waits for it"_s);
            return EX_OK;
        }
        complain(scheduleHeldText());
        return EX_NOINPUT;
    };
    try {
        connection.open();
    } catch (const DatabaseBusyError &) {
        return held();
    } catch (const DatabaseError &error) {
        complain(u"cannot open the schedule: "_s + error.message());
        return EX_NOINPUT;
    }
    try {
        list.sql() = QStringList {ScheduleSql::list};
        list.open();
        // The whole list in memory: no tick has to read the file.
        list.recordCount();
    } catch (const DatabaseBusyError &) {
        list.close();
        return held();
    } catch (const DatabaseError &error) {
        complain(u"cannot read the schedule's table QZProgram: "_s + error.message());
        return EX_DATAERR;
    }
    for (const QString &column : {ScheduleSql::programName, ScheduleSql::programParameter,
                                  ScheduleSql::programTime, ScheduleSql::programCount}) {
        if (list.fieldIndex(column) < 0) {
            complain(u"the schedule's table QZProgram has no column %1"_s.arg(column));
            return EX_DATAERR;
        }
    }
    return EX_OK;
}

// Who runs the schedule instead, as far as can be told.
QString otherRunnerText(const OtherRunner &other)
{
    if (other.pid == 0)
        return u"another runner"_s;
    QStringList who;
    if (!other.user.isEmpty())
        who.append(u"user "_s + other.user);
    who.append(other.withoutWindow ? u"without a window"_s : u"in a window"_s);
    return u"another runner: process %1 (%2)"_s.arg(other.pid).arg(who.join(u", "_s));
}

} // namespace

int runHeadless(int &argc, char **argv, const CommandLine &line, const QString &databasePath)
{
    // Before the application starts any thread, so that every thread has them blocked.
    StopSignals stopSignals;
    QCoreApplication application(argc, argv);
    application.setApplicationName(applicationTitle());
    if (stopSignals.descriptor() < 0) {
        complain(u"cannot watch for the signals that stop the run"_s);
        return EX_OSERR;
    }

    Connection connection(databasePath);
    Query list(QStringLiteral("ADOQuery1"));
    list.setConnection(&connection);
    // Opened for running before the list is read, so that every later change to the file is seen.
    ScheduleRunner runner(&list);
    if (const int status = openSchedule(connection, list, line.loop); status != EX_OK)
        return status;
    runner.open(databasePath);
    runner.setLoop(line.loop);
    // Started by the service manager, which says so in the environment of what it starts.
    runner.setKind(qEnvironmentVariableIsSet("INVOCATION_ID") ? ScheduleRunner::Kind::Service
                                                              : ScheduleRunner::Kind::Headless);
    if (line.from && !runner.selectEntry(*line.from)) {
        complain(noEntryToBeginAt(*line.from));
        return EX_USAGE;
    }

    RunEngine &engine = runner.engine();
    // Once the run has stopped and its last program has gone: one asked to end may take its grace.
    QObject::connect(&engine, &RunEngine::runStateChanged, &application, [&engine](bool running) {
        if (running)
            return;
        ServiceStatus::stopping();
        if (!engine.isEnding())
            QCoreApplication::exit(EX_OK);
    });
    QObject::connect(&engine, &RunEngine::endingOver, &application, [&engine] {
        if (!engine.isRunning())
            QCoreApplication::exit(EX_OK);
    });
    QObject::connect(&engine, &RunEngine::runLaunched, &application,
                     [](const QString &entry, int run, int count) {
                         ServiceStatus::status(
                             u"Running entry %1, run %2 of %3"_s.arg(entry).arg(run).arg(count));
                     });
    QObject::connect(&engine, &RunEngine::waitingChanged, &application,
                     [&databasePath](const QString &why) {
                         if (!why.isEmpty())
                             ServiceStatus::status(u"Waiting: %1 (%2)"_s.arg(why, databasePath));
                     });
    QObject::connect(&engine, &RunEngine::pausedChanged, &application, [&engine](bool paused) {
        const QString entry = engine.launchInfo().entry;
        ServiceStatus::status(paused ? u"Paused at entry %1, run %2 of %3"_s.arg(entry)
                                           .arg(engine.runsDone() + 1)
                                           .arg(engine.entryCount())
                                     : u"Running entry %1, run %2 of %3"_s.arg(entry)
                                           .arg(engine.runsDone() + 1)
                                           .arg(engine.entryCount()));
    });
    QObject::connect(&runner, &ScheduleRunner::refused, &application,
                     [&databasePath](const OtherRunner &other) {
                         complain(u"the schedule %1 is run by %2 now; this run stopped"_s.arg(
                             databasePath, otherRunnerText(other)));
                     });
    QSocketNotifier stopRequests(stopSignals.descriptor(), QSocketNotifier::Read);
    QObject::connect(&stopRequests, &QSocketNotifier::activated, &application,
                     [&stopSignals, &runner] {
                         if (stopSignals.take() != 0)
                             runHandler([&runner] { runner.stop(); });
                     });
    QTimer timer;
    timer.setInterval(1000);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &runner,
                     [&runner] { runHandler([&runner] { runner.tick(); }); });

    if (const std::optional<OtherRunner> other = runner.begin()) {
        complain(u"the schedule %1 is already run by %2; not started"_s.arg(
            databasePath, otherRunnerText(*other)));
        return EX_TEMPFAIL;
    }
    timer.start();
    ServiceStatus::ready(u"Running the schedule %1 (%2)"_s.arg(
        databasePath, entryCount(list.isActive() ? list.recordCount() : 0)));
    return QCoreApplication::exec();
}
