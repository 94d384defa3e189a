#include "app/Steering.h"

#include "app/CommandLine.h"
#include "app/Timetable.h"
#include "run/ControlChannel.h"
#include "store/FileIdentity.h"
#include "store/ScheduleLock.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QStringList>

#include <cstdio>
#include <sysexits.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// `systemctl is-active` answers 3 when the unit does not run; so do these commands.
constexpr int notRunning = 3;

void say(std::FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", qUtf8Printable(text));
}

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString commandOf(CommandLine::Action action)
{
    switch (action) {
    case CommandLine::Action::Status:
        return u"status"_s;
    case CommandLine::Action::Next:
        return u"next"_s;
    case CommandLine::Action::Pause:
        return u"pause"_s;
    case CommandLine::Action::Resume:
        return u"resume"_s;
    default:
        return u"stop"_s;
    }
}

QString runnerWords(const QString &kind)
{
    if (kind == u"window")
        return u"a window"_s;
    if (kind == u"service")
        return u"the service"_s;
    return u"a run without a window"_s;
}

// The status in one line: who runs the schedule, since when, and where the run stands.
QString statusLine(const QString &database, const QJsonObject &status)
{
    const QDateTime since =
        QDateTime::fromString(status.value(u"since"_s).toString(), Qt::ISODateWithMs);
    QString line = u"%1 is run by %2 (process %3, user %4) since %5"_s.arg(
        database, runnerWords(status.value(u"runner"_s).toString()),
        QString::number(status.value(u"pid"_s).toInteger()), status.value(u"user"_s).toString(),
        since.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss"_s));
    if (status.value(u"loop"_s).toBool())
        line += u", looping"_s;
    if (status.value(u"paused"_s).toBool())
        line += u", paused"_s;
    if (const QJsonValue waiting = status.value(u"waiting"_s); waiting.isString())
        return line + u", waiting: "_s + waiting.toString();
    if (!status.contains(u"program"_s))
        return line + u", at the end of the schedule"_s;
    line += u": entry %1 \"%2\""_s.arg(status.value(u"entry"_s).toString(),
                                       status.value(u"program"_s).toString());
    if (const QString parameters = status.value(u"parameters"_s).toString(); !parameters.isEmpty())
        line += u" \"%1\""_s.arg(parameters);
    line += u", run %1 of %2"_s.arg(status.value(u"run"_s).toInt())
                .arg(status.value(u"runs"_s).toInt());
    if (status.contains(u"programPid"_s)) {
        line += u", %1 s left, program pid %2"_s.arg(status.value(u"secondsLeft"_s).toInt())
                    .arg(status.value(u"programPid"_s).toInteger());
    }
    return line;
}

// When the timers next begin and end a run, when there are timers: asked of the service
// manager only then.
Timetable::NextStartAndStop timetable()
{
    const QString folder = Timetable::unitFolder();
    if (!QFile::exists(folder + u"/vantrel-autorun-at.timer"_s)
        && !QFile::exists(folder + u"/vantrel-autorun-until.timer"_s))
        return {};
    const auto next = Timetable::nextStartAndStop();
    const auto *times = std::get_if<Timetable::NextStartAndStop>(&next);
    return times ? *times : Timetable::NextStartAndStop();
}

// The next start and stop added to a status, as words and as JSON fields.
QString withTimetable(QString line, QJsonObject &json)
{
    const Timetable::NextStartAndStop next = timetable();
    const auto add = [&](const std::optional<QDateTime> &time, const QString &words,
                         const QString &field) {
        if (!time)
            return;
        line += u"; "_s + words + u' ' + Timetable::timeText(*time);
        json.insert(field, time->toUTC().toString(Qt::ISODate));
    };
    add(next.start, u"next start"_s, u"nextStart"_s);
    add(next.stop, u"next stop"_s, u"nextStop"_s);
    return line;
}

} // namespace

int steer(const CommandLine &line, const QString &program, const QString &databasePath)
{
    const bool json = line.format == u"json";
    const bool status = line.action == CommandLine::Action::Status;
    const FileIdentity schedule = FileIdentity::ofPath(databasePath);
    if (!schedule.exists) {
        say(stderr, u"%1: there is no schedule %2"_s.arg(program, databasePath));
        return EX_NOINPUT;
    }
    QString problem;
    const QString path =
        ControlChannel::socketPath(schedule, ControlChannel::Listener::Runner, &problem);
    ControlChannel::Answer answer;
    if (!path.isEmpty())
        answer = ControlChannel::ask(path, {{u"command"_s, commandOf(line.action)}});

    if (answer.outcome == ControlChannel::Answer::Outcome::Answered) {
        const QJsonObject &body = answer.body;
        if (!body.value(u"ok"_s).toBool()) {
            say(stderr,
                u"%1: the runner answered: %2"_s.arg(program, body.value(u"error"_s).toString()));
            return EX_PROTOCOL;
        }
        QJsonObject shown = body;
        const QString line = status ? withTimetable(statusLine(databasePath, body), shown)
                                    : body.value(u"message"_s).toString();
        say(stdout, json ? jsonLine(shown) : line);
        return EX_OK;
    }
    if (answer.outcome == ControlChannel::Answer::Outcome::Failed) {
        say(stderr,
            u"%1: the runner of %2 did not answer: %3"_s.arg(program, databasePath,
                                                             answer.problem));
        return EX_TEMPFAIL;
    }

    // No runner of this user answers: the schedule's lock says whether anyone runs it.
    ScheduleLock lock;
    OtherRunner other;
    if (lock.take(databasePath, &other) != ScheduleLock::Result::Held) {
        QJsonObject shown {{u"ok"_s, true}, {u"running"_s, false}};
        const QString line =
            status ? withTimetable(u"no runner runs %1"_s.arg(databasePath), shown) : QString();
        if (json)
            say(stdout, jsonLine(shown));
        else if (status)
            say(stdout, line);
        else
            say(stderr, u"%1: no runner runs %2; nothing was done"_s.arg(program, databasePath));
        return notRunning;
    }
    const QString who = u"%1 (process %2, user %3)"_s.arg(
        runnerWords(other.withoutWindow ? u"headless"_s : u"window"_s), QString::number(other.pid),
        other.user);
    const bool ownUser = answer.outcome != ControlChannel::Answer::Outcome::Refused
        && other.uid == qint64(::geteuid());
    if (status) {
        if (json) {
            say(stdout,
                jsonLine({{u"ok"_s, true},
                          {u"runner"_s, other.withoutWindow ? u"headless"_s : u"window"_s},
                          {u"pid"_s, other.pid},
                          {u"user"_s, other.user}}));
        } else {
            say(stdout, u"%1 is run by %2; only that user may steer it"_s.arg(databasePath, who));
        }
        return EX_OK;
    }
    if (ownUser) {
        say(stderr,
            u"%1: %2 runs %3 but takes no commands%4"_s.arg(
                program, who, databasePath, problem.isEmpty() ? QString() : u": "_s + problem));
        return EX_UNAVAILABLE;
    }
    say(stderr,
        u"%1: %2 is run by %3; only that user may steer it"_s.arg(program, databasePath, who));
    return EX_NOPERM;
}

std::optional<int> handToOpenWindow(const CommandLine &line, const QString &program,
                                    const QString &databasePath)
{
    const FileIdentity schedule = FileIdentity::ofPath(databasePath);
    if (!schedule.exists)
        return std::nullopt;
    const QString path = ControlChannel::socketPath(schedule, ControlChannel::Listener::Window);
    if (path.isEmpty())
        return std::nullopt;
    QJsonObject request {{u"command"_s, line.start ? u"start"_s : u"raise"_s}};
    if (line.from)
        request.insert(u"from"_s, *line.from);
    const ControlChannel::Answer answer = ControlChannel::ask(path, request);
    if (answer.outcome != ControlChannel::Answer::Outcome::Answered)
        return std::nullopt;
    if (!answer.body.value(u"ok"_s).toBool()) {
        say(stderr, u"%1: %2"_s.arg(program, answer.body.value(u"error"_s).toString()));
        return line.from && answer.body.value(u"noEntry"_s).toBool() ? EX_USAGE : EX_TEMPFAIL;
    }
    say(stdout, answer.body.value(u"message"_s).toString());
    return EX_OK;
}
