#include "app/SystemdTool.h"

#include <QProcess>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {

// A service manager answers at once; one that is stuck must not hold the program for ever.
constexpr int deadlineMs = 90'000;

} // namespace

ToolRun runTool(const QString &name, const QStringList &arguments)
{
    ToolRun run;
    const QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty()) {
        run.reason = u"%1 is not installed"_s.arg(name);
        return run;
    }
    run.found = true;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    // Started as a program with its arguments, never through a shell: a calendar or a file name is
    // handed on as it was given, never read as the shell's syntax.
    process.start(path, arguments);
    if (!process.waitForFinished(deadlineMs)) {
        if (process.error() == QProcess::FailedToStart) {
            run.reason = u"%1 cannot be started: %2"_s.arg(path, process.errorString());
            return run;
        }
        process.kill();
        process.waitForFinished();
        run.reason = u"%1 did not end within %2 s"_s.arg(name).arg(deadlineMs / 1000);
        return run;
    }
    run.output = process.readAllStandardOutput();
    for (const QByteArray &line : process.readAllStandardError().split('\n')) {
        if (!line.trimmed().isEmpty()) {
            run.reason = QString::fromUtf8(line.trimmed());
            break;
        }
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        run.reason = u"%1 crashed"_s.arg(name);
        return run;
    }
    run.finished = true;
    run.status = process.exitCode();
    if (run.status != 0 && run.reason.isEmpty())
        run.reason = u"%1 ended with status %2"_s.arg(name).arg(run.status);
    return run;
}
