#include "app/Program.h"

#include "app/Autostart.h"
#include "app/CommandLine.h"
#include "app/Headless.h"
#include "app/Steering.h"
#include "app/Timetable.h"
#include "app/Window.h"
#include "import/ScheduleImport.h"
#include "report/DataError.h"
#include "run/HistoryFormat.h"
#include "run/RunHistory.h"
#include "store/Connection.h"
#include "store/PathName.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"
#include "store/ShareDM.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <sysexits.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Whether the toolkit has a display to open the window on, or was told where to draw instead.
bool hasDisplay(const QStringList &arguments)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || arguments.contains(u"-platform"_s)
        || arguments.contains(u"--platform"_s))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The program's own file, for an autostart entry that starts it again and to find its window.
QString programFile()
{
    return QFileInfo(u"/proc/self/exe"_s).canonicalFilePath();
}

// The program's own file as the system names it, for the timers that start it again: its name
// need not be UTF-8, which the timers refuse.
QString programFileName()
{
    char name[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", name, sizeof name);
    return size > 0 ? PathName::fromNative(QByteArrayView(name, size)) : programFile();
}

// The window and the graphical libraries it needs, loaded only when the window is asked for:
// beside the program in a build, or where the install puts it.
RunWindow *loadWindow(const QString &program)
{
    const QString folder = QFileInfo(programFile()).absolutePath();
    const QString name = QString::fromLatin1(windowModuleName);
    QString lastError;
    const QStringList candidates = {folder + u'/' + name,
                                    folder + u"/../" VANTREL_WINDOW_MODULE_DIR u"/"_s + name};
    for (const QString &candidate : candidates) {
        if (!QFile::exists(candidate))
            continue;
        void *module = ::dlopen(QFile::encodeName(candidate).constData(), RTLD_LAZY | RTLD_LOCAL);
        if (!module) {
            lastError = QString::fromLocal8Bit(::dlerror());
            continue;
        }
        if (void *entry = ::dlsym(module, windowEntryName))
            return reinterpret_cast<RunWindow *>(entry);
        lastError = QString::fromLocal8Bit(::dlerror());
    }
    std::fprintf(stderr, "%s: cannot load the window (%s): %s\n", qUtf8Printable(program),
                 qUtf8Printable(name),
                 qUtf8Printable(lastError.isEmpty() ? u"it is not installed"_s : lastError));
    return nullptr;
}

// Prints the run history, oldest first, in the form asked for.
int printHistory(const CommandLine &line, const QString &program, const QString &database)
{
    Connection connection(database);
    std::vector<RunRecord> records;
    try {
        connection.open();
        records = RunHistory::read(
            connection, 0, line.from ? std::optional(QString::number(*line.from)) : std::nullopt);
    } catch (const DatabaseBusyError &) {
        std::fprintf(stderr,
                     "%s: cannot read the run history: another program is using the database; "
                     "try again later\n",
                     qUtf8Printable(program));
        return EX_NOINPUT;
    } catch (const DatabaseError &error) {
        std::fprintf(stderr, "%s: cannot read the run history: %s\n", qUtf8Printable(program),
                     qUtf8Printable(error.message()));
        return EX_NOINPUT;
    }
    QStringList lines;
    if (line.format == u"csv") {
        lines.append(HistoryFormat::csvHeader());
        for (const RunRecord &record : records)
            lines.append(HistoryFormat::csvLine(record));
    } else if (line.format == u"json") {
        for (const RunRecord &record : records)
            lines.append(HistoryFormat::jsonLine(record));
    } else {
        lines = HistoryFormat::table(records);
    }
    QTextStream out(stdout);
    for (const QString &text : lines)
        out << text << '\n';
    out.flush();
    return EX_OK;
}

// Whether the schedule has the entry that an autostart entry's run is to begin at, looked for as
// the run looks for it; gives the exit status of a refusal, or EX_OK.
int checkEntryToBeginAt(const QString &program, const QString &database, qint64 key)
{
    Connection connection(database);
    Query list(u"ADOQuery1"_s);
    list.setConnection(&connection);
    const auto refuse = [&](const QString &text, int status) {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(program), qUtf8Printable(text));
        return status;
    };
    try {
        connection.open();
        list.sql() = QStringList {ScheduleSql::list};
        list.open();
        const int keyColumn = list.fieldIndex(ScheduleSql::programIndex);
        for (int row = 0; keyColumn >= 0 && row < list.recordCount(); ++row) {
            if (list.text(row, keyColumn) == QString::number(key))
                return EX_OK;
        }
    } catch (const DatabaseBusyError &) {
        return refuse(scheduleHeldText(), EX_NOINPUT);
    } catch (const DatabaseError &error) {
        if (!connection.isConnected())
            return refuse(u"cannot open the schedule: "_s + error.message(), EX_NOINPUT);
        return refuse(u"cannot read the schedule's table QZProgram: "_s + error.message(),
                      EX_DATAERR);
    }
    return refuse(noEntryToBeginAt(key), EX_USAGE);
}

} // namespace

int importExitStatus(std::optional<ImportFailure> failure)
{
    if (!failure)
        return EX_OK;
    switch (*failure) {
    case ImportFailure::BadData:
        return EX_DATAERR;
    case ImportFailure::CannotRead:
        return EX_NOINPUT;
    case ImportFailure::CannotWrite:
        return EX_CANTCREAT;
    case ImportFailure::NoProcess:
        return EX_OSERR;
    }
    return EX_SOFTWARE;
}

QString noDisplayText(const QString &program)
{
    return u"%1: there is no display to open the window on; %1 --headless runs the schedule "
           "without one"_s.arg(program);
}

namespace {

// A standard descriptor that is closed would be given to the next file opened, and the trace
// would be written into it: each one is kept open, on /dev/null when it was closed.
void keepStandardDescriptors()
{
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) < 0 && errno == EBADF
            && ::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY) < 0)
            return;
    }
}

// A runner outlives the reader of its output: a pipe whose reader went away (`| head`, a journal
// that restarted) makes a write fail instead of ending the run. Started programs get the default
// back.
void outliveReaders()
{
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace

int runAutoRunner(int &argc, char **argv, const QString &databasePath)
{
    keepStandardDescriptors();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(PathName::fromNative(argv[i]));
    const QString program = QFileInfo(arguments.value(0, u"vantrel-autorun"_s)).fileName();
    const auto parsed = parseCommandLine(arguments);
    if (const QString *error = std::get_if<QString>(&parsed)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for the options.\n", qUtf8Printable(program),
                     qUtf8Printable(*error), qUtf8Printable(program));
        return EX_USAGE;
    }
    const CommandLine &line = std::get<CommandLine>(parsed);
    const QString database = line.database.isEmpty() ? databasePath : line.database;
    switch (line.action) {
    case CommandLine::Action::Help:
        std::fputs(qUtf8Printable(commandLineHelp(program)), stdout);
        return EX_OK;
    case CommandLine::Action::Version:
        std::printf("%s %s\n", qUtf8Printable(program), VANTREL_VERSION);
        return EX_OK;
    case CommandLine::Action::Autostart:
        if (line.from) {
            if (const int status = checkEntryToBeginAt(program, database, *line.from);
                status != EX_OK)
                return status;
        }
        return Autostart::write(programFile(), line.runOptions(), stdout, stderr);
    case CommandLine::Action::RemoveAutostart:
        return Autostart::remove(stdout, stderr);
    case CommandLine::Action::Timetable:
        return Timetable::write({line.at, line.until, line.headless, programFileName(),
                                 line.runOptions(), line.stopOptions()},
                                program, stdout, stderr);
    case CommandLine::Action::RemoveTimetable:
        return Timetable::remove(program, stdout, stderr);
    case CommandLine::Action::Headless:
        outliveReaders();
        return runHeadless(argc, argv, line, database);
    case CommandLine::Action::History:
        return printHistory(line, program, database);
    case CommandLine::Action::Import: {
        QTextStream out(stdout);
        QTextStream err(stderr);
        return importExitStatus(runImport({line.importFile, database, line.dryRun}, out, err));
    }
    case CommandLine::Action::Status:
    case CommandLine::Action::Next:
    case CommandLine::Action::Pause:
    case CommandLine::Action::Resume:
    case CommandLine::Action::Stop:
        return steer(line, program, database);
    case CommandLine::Action::Window:
        break;
    }
    // A window already open on the schedule is raised, or begins its run, instead of a second.
    if (const std::optional<int> handed = handToOpenWindow(line, program, database))
        return *handed;
    if (!hasDisplay(arguments)) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(noDisplayText(program)));
        return EX_UNAVAILABLE;
    }
    outliveReaders();
    RunWindow *runWindow = loadWindow(program);
    return runWindow ? runWindow(argc, argv, line, program, database) : EX_SOFTWARE;
}
