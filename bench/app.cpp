// Figures measured inside the program, with its real objects on a real display:
//   vantrel_bench_app add DATABASE           prints "<add µs> <load µs> <RSS after add kB>
//                                            <RSS after load kB>": dialog OK to the list shown
//                                            again, and one plain list load, medians of turns
//                                            taken in the same run
//   vantrel_bench_app tick DATABASE          prints the median µs of a tick that moves to the
//                                            next row
//   vantrel_bench_app launch CYCLES PROGRAM  prints the median µs of a launch + terminate cycle
//                                            on the window's thread, and of the time until the
//                                            child is collected
//   vantrel_bench_app lifetime DATABASE      runs the database's schedule once through, with
//                                            the real timer and launcher, to its end
#include "app/AutoRunApplication.h"
#include "app/Startup.h"
#include "engine/ProcessLauncher.h"
#include "report/Prompter.h"
#include "store/PublicFunction.h"
#include "store/Query.h"
#include "store/ShareDM.h"
#include "ui/DBGridEh.h"
#include "ui/MainForm.h"
#include "ui/ProgramForm.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <vector>

namespace {

constexpr int deadlineMs = 120000;

// Answers every box at once, as a person clicking OK and Yes would, and remembers failures.
class AnsweringPrompter final : public Prompter
{
public:
    bool failed = false;
    QStringList messages;

    void showMessage(const QString &text) override { messages.append(text); }
    void showError(const QString &caption, const QString &text) override
    {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(caption), qUtf8Printable(text));
        failed = true;
    }
    bool askYesNo(const QString &, const QString &) override { return true; }
};

// A launcher that starts nothing, so that a tick costs only the engine's own work.
class IdleLauncher final : public Launcher
{
public:
    void launch(LaunchInfo &info) override { info.process = {}; }
    ProcessEnd terminate(ProcessHandle &process, int) override
    {
        process = {};
        return {};
    }
    void endAtOnce(qint64) override { }
};

[[noreturn]] void fail(const char *text)
{
    std::fprintf(stderr, "vantrel_bench_app: %s\n", text);
    std::exit(1);
}

long residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    // Files under /proc have no size, so they are read whole rather than line by line.
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

long long median(std::vector<long long> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The program with its boxes answered: the three objects, the main window shown and drawn with
// the list loaded.
class ShownProgram final
{
public:
    explicit ShownProgram(const char *database)
        : m_answersInForce(m_answers)
    {
        m_objects.create(QString::fromLocal8Bit(database));
        FormMain->show();
        QElapsedTimer waited;
        waited.start();
        QTimer wake;
        wake.start(100);
        while (!FormMain->windowHandle() || !FormMain->windowHandle()->isExposed()) {
            if (waited.elapsed() > deadlineMs)
                fail("the main window was never shown");
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        QCoreApplication::processEvents();
    }

    // Whether a box reported an error.
    bool failed() const { return m_answers.failed; }

private:
    AnsweringPrompter m_answers;
    ScopedPrompter m_answersInForce;
    AutoRunObjects m_objects;
};

// Plain reloads and adds take turns a few times, and each figure is the median of its turns:
// how fast a load of a few megabytes runs depends on what the caches and the memory layout hold
// just then, and one turn of each can land on either side of that by chance.
int measureAdd(const char *database)
{
    constexpr int turns = 5;
    ShownProgram program(database);
    const int rowsBefore = FormMain->ADOQuery1->recordCount();

    QElapsedTimer clock;
    std::vector<long long> loads;
    std::vector<long long> adds;
    long afterLoad = 0;
    long afterAdd = 0;
    for (int turn = 0; turn < turns; ++turn) {
        clock.start();
        FormMain->RefreshProgramList();
        FormMain->repaint();
        loads.push_back(clock.nsecsElapsed() / 1000);
        afterLoad = residentKilobytes();

        // The person fills in the dialog the Add command opens, then presses OK.
        QTimer::singleShot(0, FormProgram, [&] {
            FormProgram->Edit1->setText(QStringLiteral("/usr/bin/program-added"));
            FormProgram->Edit4->setText(QStringLiteral("--option value-added --verbose"));
            FormProgram->Edit2->setText(QStringLiteral("30"));
            FormProgram->Edit3->setText(QStringLiteral("2"));
            clock.restart();
            FormProgram->ActionYes->trigger();
        });
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout,
                         [] { fail("the entry dialog did not close"); });
        deadline.start(deadlineMs);
        FormMain->ActionNew->trigger();
        FormMain->repaint();
        adds.push_back(clock.nsecsElapsed() / 1000);
        afterAdd = residentKilobytes();
    }

    if (program.failed() || FormMain->ADOQuery1->recordCount() != rowsBefore + turns)
        fail("the entries were not added");
    std::printf("%lld %lld %ld %ld\n", median(adds), median(loads), afterAdd, afterLoad);
    return 0;
}

int measureTick(const char *database)
{
    ShownProgram program(database);
    FormMain->Timer1->stop();
    IdleLauncher launcher;
    FormMain->setLauncher(&launcher);
    Query *list = FormMain->ADOQuery1;
    // Every entry's runs are done at once, so each tick moves the run on to the next row.
    if (!OpenQuery(list,
                   QStringLiteral("Select ProgramIndex, ProgramName, ProgramParameter, "
                                  "ProgramTime, 0 AS ProgramCount From QZProgram"),
                   QStringLiteral("the list did not open")))
        fail("the list did not open");
    if (list->recordCount() < 10)
        fail("the tick needs 10 rows or more");
    FormMain->ActionBegin->trigger();

    // The same walk over the first ten rows whatever the list's length, so only its length
    // differs between two databases.
    std::vector<long long> ticks;
    QElapsedTimer clock;
    for (int pass = 0; pass < 200; ++pass) {
        list->first();
        QCoreApplication::processEvents();
        for (int row = 1; row < 10; ++row) {
            clock.start();
            FormMain->Timer1Timer();
            ticks.push_back(clock.nsecsElapsed());
            if (list->recNo() != row)
                fail("the tick did not move to the next row");
            QCoreApplication::processEvents();
        }
    }
    if (program.failed())
        fail("the tick failed");
    std::printf("%.1f\n", double(median(ticks)) / 1000.0);
    return 0;
}

// The window's thread is busy for launch() and terminate() only: a program that has not gone by
// then is collected later, when the kernel says it has ended, without the window waiting. So the
// cycle timed is the thread's processor time in those two calls (what the started program does
// meanwhile on the same processor is its own time); the time until the program is collected is
// reported beside it.
long long threadMicroseconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

int measureLaunch(int cycles, const char *program)
{
    ProcessLauncher launcher;
    std::vector<long long> times;
    std::vector<long long> collected;
    // Wakes a loop that waits in vain, so that the deadline is seen.
    QTimer wake;
    wake.start(100);
    QElapsedTimer clock;
    for (int i = 0; i < cycles; ++i) {
        LaunchInfo info;
        info.file = program;
        info.parameters = "60";
        clock.start();
        const long long before = threadMicroseconds();
        launcher.launch(info);
        const auto pid = static_cast<pid_t>(info.process.id);
        if (pid == 0)
            fail("the launcher started nothing");
        launcher.terminate(info.process);
        times.push_back(threadMicroseconds() - before);
        // Collected once the id names no process at all, not even one that has ended. The loop
        // sleeps until the launcher's watch wakes it, as the program's own loop does: a loop
        // that looked again and again would keep a processor busy that the ending program needs.
        while (::kill(pid, 0) == 0 || errno != ESRCH) {
            if (clock.elapsed() > deadlineMs)
                fail("the launcher never collected its child");
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        collected.push_back(clock.nsecsElapsed() / 1000);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    std::printf("%lld %lld\n", median(times), median(collected));
    return 0;
}

int runLifetime(const char *database)
{
    ShownProgram program(database);
    // The run stops by itself after the last entry; the check follows the tick's own handler.
    QObject::connect(FormMain->Timer1, &QTimer::timeout, FormMain, [] {
        if (!FormMain->engine().isRunning())
            QCoreApplication::quit();
    });
    QTimer::singleShot(deadlineMs, FormMain, [] { fail("the run did not end"); });
    FormMain->ActionBegin->trigger();
    QCoreApplication::exec();
    return program.failed() ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    AutoRunApplication application(argc, argv);
    const std::string_view command = argc > 2 ? argv[1] : "";
    if (command == "add")
        return measureAdd(argv[2]);
    if (command == "tick")
        return measureTick(argv[2]);
    if (command == "launch" && argc == 4)
        return measureLaunch(std::atoi(argv[2]), argv[3]);
    if (command == "lifetime")
        return runLifetime(argv[2]);
    std::fprintf(stderr,
                 "usage: vantrel_bench_app add|tick|lifetime DATABASE, "
                 "vantrel_bench_app launch CYCLES PROGRAM\n");
    return 2;
}
