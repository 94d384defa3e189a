#include "app/Headless.h"

#include "app/CommandLine.h"
#include "app/ServiceStatus.h"
#include "engine/ProcessLauncher.h"
#include "report/ApplicationTitle.h"
#include "report/DataError.h"
#include "report/ErrorReport.h"
#include "run/HistoryRecorder.h"
#include "run/RunEngine.h"
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
// failure, or EX_OK.
int openSchedule(Connection &connection, Query &list)
{
    try {
        connection.open();
    } catch (const DatabaseError &error) {
        complain(u"cannot open the schedule: "_s + error.message());
        return EX_NOINPUT;
    }
    try {
        list.sql() = QStringList {ScheduleSql::list};
        list.open();
        // The whole list in memory: no tick has to read the file.
        list.recordCount();
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

    Connection connection(TShareDataModule::connectionStringFor(databasePath));
    Query list(QStringLiteral("ADOQuery1"));
    list.setConnection(&connection);
    if (const int status = openSchedule(connection, list); status != EX_OK)
        return status;

    HistoryRecorder history(connection.connectionString());
    ProcessLauncher launcher;
    RunEngine engine(&list, &launcher);
    QObject::connect(&engine, &RunEngine::runEnded, &history, &HistoryRecorder::record);
    QObject::connect(&engine, &RunEngine::runUpdated, &history, &HistoryRecorder::update);
    engine.setLoop(line.loop);
    if (line.from && !engine.selectEntry(*line.from)) {
        complain(u"the schedule has no entry %1 to begin at"_s.arg(*line.from));
        return EX_USAGE;
    }

    QObject::connect(&engine, &RunEngine::runStateChanged, &application, [](bool running) {
        if (!running) {
            ServiceStatus::stopping();
            QCoreApplication::exit(EX_OK);
        }
    });
    QObject::connect(&engine, &RunEngine::runLaunched, &application,
                     [](const QString &entry, int run, int count) {
                         ServiceStatus::status(
                             u"Running entry %1, run %2 of %3"_s.arg(entry).arg(run).arg(count));
                     });
    QSocketNotifier stopRequests(stopSignals.descriptor(), QSocketNotifier::Read);
    QObject::connect(&stopRequests, &QSocketNotifier::activated, &application,
                     [&stopSignals, &engine] {
                         if (stopSignals.take() != 0)
                             runHandler([&engine] { engine.stop(); });
                     });
    QTimer timer;
    timer.setInterval(1000);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &engine,
                     [&engine] { runHandler([&engine] { engine.tick(); }); });

    engine.begin();
    timer.start();
    ServiceStatus::ready(
        u"Running the schedule %1 (%2 entries)"_s.arg(databasePath).arg(list.recordCount()));
    return QCoreApplication::exec();
}
