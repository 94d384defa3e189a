#include "app/Timetable.h"

#include "app/SystemdTool.h"
#include "app/UserFolders.h"
#include "report/Quoting.h"
#include "store/PathName.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>

#include <algorithm>
#include <memory>

#include <sysexits.h>

using namespace Qt::StringLiterals;

namespace {

const QString startUnit = u"vantrel-autorun-at"_s;
const QString stopUnit = u"vantrel-autorun-until"_s;
const QString userService = u"vantrel-autorun.service"_s;

QString timerOf(const QString &unit)
{
    return unit + u".timer"_s;
}

QString serviceOf(const QString &unit)
{
    return unit + u".service"_s;
}

void say(std::FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", qUtf8Printable(text));
}

bool isPlain(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
        || QStringView(u"/._-+,=:@").contains(c) || c.unicode() > 0x7F;
}

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7F;
}

// One word of an ExecStart= line as systemd reads it: in double quotes when it holds anything but
// plain characters, with backslashes and quotes escaped and control characters written as \xNN;
// "%" doubled for the unit's specifiers, and in an argument "$" doubled for its variables (the
// program's own file is not expanded).
QString execWord(const QString &word, bool argument)
{
    QString text;
    for (const QChar c : word) {
        if (c == u'%')
            text += u"%%"_s;
        else if (c == u'$' && argument)
            text += u"$$"_s;
        else if (c == u'\\' || c == u'"')
            text += u'\\' + QString(c);
        else if (isControl(c))
            text += u"\\x%1"_s.arg(int(c.unicode()), 2, 16, QChar(u'0'));
        else
            text += c;
    }
    if (word.isEmpty() || !std::all_of(word.cbegin(), word.cend(), isPlain))
        return u'"' + text + u'"';
    return text;
}

QString execLine(const QStringList &words)
{
    QStringList line;
    for (qsizetype i = 0; i < words.size(); ++i)
        line.append(execWord(words.at(i), i > 0));
    return line.join(u' ');
}

// Arguments for systemd-run to hand on: it expands "$" in them as a unit does, so it is doubled
// once for systemd-run, and once more for the unit that runs systemd-run.
QStringList forSystemdRun(QStringList arguments)
{
    for (QString &argument : arguments)
        argument.replace(u'$', u"$$"_s);
    return arguments;
}

// Why a unit cannot run the program from this file, or "": unit files are UTF-8 lines, and
// systemd refuses a program's file whose name holds quotes, backslashes or control characters.
QString unnameable(const QString &file)
{
    if (!PathName::toNative(file).isValidUtf8())
        return u"its name is not UTF-8"_s;
    if (file.contains(u'\n') || file.contains(u'\r'))
        return u"its name holds a line break"_s;
    if (std::any_of(file.cbegin(), file.cend(),
                    [](QChar c) { return c == u'"' || c == u'\'' || c == u'\\' || isControl(c); }))
        return u"its name holds a quote, a backslash or a control character"_s;
    return QString();
}

const QString writtenBy = u"# Written by vantrel-autorun --at and --until; vantrel-autorun --no-at "
                          "removes it.\n"_s;

QString timerText(const QString &what, const QString &calendar, bool persistent)
{
    QString calendarValue = calendar;
    calendarValue.replace(u'%', u"%%"_s);
    return writtenBy + u"[Unit]\nDescription=Vantrel program auto-runner: "_s + what
        + u" on a calendar\n"
          "Documentation=man:vantrel-autorun(1)\n"
          "\n"
          "[Timer]\n"
          "OnCalendar="_s
        + calendarValue + u"\nAccuracySec=1s\n"_s
        + (persistent ? u"# A start missed while the machine was off, or while no one was logged "
                        "in, comes once\n# at the next boot or log-in.\n"
                        "Persistent=true\n"_s
                      : u"# A stop that came due while the machine was off has nothing left to "
                        "stop.\n"_s)
        + u"\n[Install]\nWantedBy=timers.target\n"_s;
}

QString serviceText(const QString &what, const QString &exec, const QString &comment,
                    bool afterTheStop)
{
    return writtenBy + u"[Unit]\nDescription=Vantrel program auto-runner: "_s + what
        + u"\nDocumentation=man:vantrel-autorun(1)\n"_s
        + (afterTheStop ? u"# A start and a stop that come due together (at the end of a "
                          "suspend) stop first.\nAfter="_s
                   + serviceOf(stopUnit) + u'\n'
                        : QString())
        + u"\n[Service]\nType=oneshot\n"_s + comment + u"ExecStart="_s + exec + u'\n';
}

QStringList installedTimers(const QString &folder)
{
    QStringList timers;
    for (const QString &unit : {startUnit, stopUnit}) {
        if (QFile::exists(folder + u'/' + timerOf(unit)))
            timers.append(timerOf(unit));
    }
    return timers;
}

// Calls systemctl --user; says on `err` what could not be done when it fails.
bool callManager(const QStringList &arguments, const QString &what, const QString &program,
                 std::FILE *err)
{
    const ToolRun run = runTool(u"systemctl"_s, QStringList {u"--user"_s} + arguments);
    if (!run.succeeded())
        say(err, u"%1: the user service manager cannot %2: %3"_s.arg(program, what, run.reason));
    return run.succeeded();
}

// Whether the user's service manager can be reached (saying so on `err` when it cannot), and
// whether it has the user service.
std::optional<bool> hasUserService(const QString &program, std::FILE *err)
{
    const ToolRun run =
        runTool(u"systemctl"_s,
                {u"--user"_s, u"show"_s, u"--property=LoadState"_s, u"--value"_s, userService});
    if (!run.succeeded()) {
        say(err,
            u"%1: there is no user service manager to keep the timers: %2"_s.arg(program,
                                                                                 run.reason));
        return std::nullopt;
    }
    return run.output.trimmed() == "loaded";
}

// Stops and disables the timers, and makes the start timer forget when it last ran: a timetable
// written again begins afresh, and a start missed under an earlier one never comes late.
bool takeDown(const QStringList &timers, const QString &program, std::FILE *err)
{
    if (timers.isEmpty())
        return true;
    if (!callManager(QStringList {u"disable"_s, u"--now"_s} + timers, u"disable the timers"_s,
                     program, err))
        return false;
    return !timers.contains(timerOf(startUnit))
        || callManager({u"clean"_s, u"--what=state"_s, timerOf(startUnit)},
                       u"clear the start timer's last run"_s, program, err);
}

// "begins next on Wed 2026-12-09 08:00:00 CET (Mon..Fri 08:00)".
QString whenText(const QString &verb, const QString &calendar,
                 const std::variant<Timetable::NextStartAndStop, QString> &next, bool start)
{
    const auto *known = std::get_if<Timetable::NextStartAndStop>(&next);
    if (!known)
        return u"%1 on %2"_s.arg(verb, calendar);
    const std::optional<QDateTime> &time = start ? known->start : known->stop;
    if (!time)
        return u"never %1 (%2 has no time to come)"_s.arg(verb, calendar);
    return u"%1 next on %2 (%3)"_s.arg(verb, Timetable::timeText(*time), calendar);
}

} // namespace

namespace Timetable {

QString unitFolder()
{
    return userConfigFolder() + u"/systemd/user"_s;
}

std::vector<Unit> units(const Plan &plan)
{
    std::vector<Unit> written;
    if (!plan.at.isEmpty()) {
        written.push_back({timerOf(startUnit), timerText(u"begin the run"_s, plan.at, true)});
        if (plan.headless) {
            written.push_back(
                {serviceOf(startUnit),
                 serviceText(u"start the user service"_s,
                             u"systemctl --user start "_s + userService, QString(), true)});
        } else {
            written.push_back(
                {serviceOf(startUnit),
                 serviceText(u"begin the window's run"_s,
                             execLine(QStringList {u"systemd-run"_s, u"--user"_s, u"--collect"_s,
                                                   plan.program}
                                      + forSystemdRun(plan.startOptions)),
                             u"# A window that this opens lives in a unit of its own, so that this "
                             "one ends at once\n# and the next start reaches that window.\n"_s,
                             true)});
        }
    }
    if (!plan.until.isEmpty()) {
        written.push_back({timerOf(stopUnit), timerText(u"end the run"_s, plan.until, false)});
        written.push_back(
            {serviceOf(stopUnit),
             plan.headless
                 ? serviceText(u"stop the user service"_s,
                               u"systemctl --user stop "_s + userService, QString(), false)
                 : serviceText(u"end the window's run"_s,
                               execLine(QStringList {plan.program} + plan.stopOptions),
                               u"# Nothing left to stop (status 3) is no failure.\n"
                               "SuccessExitStatus=3\n"_s,
                               false)});
    }
    return written;
}

int write(const Plan &plan, const QString &program, std::FILE *out, std::FILE *err)
{
    const auto fail = [&](int status, const QString &text) {
        say(err, program + u": "_s + text);
        return status;
    };
    for (const auto &[option, calendar] :
         {std::pair {u"--at"_s, plan.at}, std::pair {u"--until"_s, plan.until}}) {
        if (calendar.isEmpty())
            continue;
        // Checked by the service manager's own tool, as the manager will read it.
        const ToolRun check = runTool(u"systemd-analyze"_s, {u"calendar"_s, u"--"_s, calendar});
        if (!check.finished)
            return fail(EX_UNAVAILABLE,
                        u"cannot check the calendar of %1: %2"_s.arg(option, check.reason));
        if (check.status != 0)
            return fail(EX_USAGE, u"%1: %2"_s.arg(option, check.reason));
    }
    if (!plan.headless) {
        if (const QString why = unnameable(plan.program); !why.isEmpty())
            return fail(EX_USAGE,
                        u"the timers cannot run the program from %1: %2"_s.arg(
                            quotedBytes(PathName::toNative(plan.program)), why));
    }
    const std::optional<bool> serviceThere = hasUserService(program, err);
    if (!serviceThere)
        return EX_UNAVAILABLE;
    if (plan.headless && !*serviceThere)
        return fail(EX_UNAVAILABLE,
                    u"the user service manager has no %1 for the timers to start and stop; it "
                    "comes with the package"_s.arg(userService));

    const QString folder = unitFolder();
    const auto cannotWrite = [&](const QString &reason) {
        return fail(EX_CANTCREAT, u"cannot write the timers in %1: %2"_s.arg(folder, reason));
    };
    if (!QDir().mkpath(folder))
        return cannotWrite(u"the folder cannot be made"_s);
    // Each unit written whole or not at all, and none of them in place before all are ready: a
    // half-written unit would start something else on the calendar.
    std::vector<std::unique_ptr<QSaveFile>> files;
    QStringList wanted;
    for (const Unit &unit : units(plan)) {
        auto file = std::make_unique<QSaveFile>(folder + u'/' + unit.name);
        if (!file->open(QIODevice::WriteOnly) || file->write(unit.text.toUtf8()) < 0)
            return cannotWrite(file->errorString());
        files.push_back(std::move(file));
        if (unit.name.endsWith(u".timer"))
            wanted.append(unit.name);
    }
    if (!takeDown(installedTimers(folder), program, err))
        return EX_UNAVAILABLE;
    for (const auto &file : files) {
        if (!file->commit())
            return cannotWrite(file->errorString());
    }
    QStringList removed;
    for (const QString &unit : {startUnit, stopUnit}) {
        if (wanted.contains(timerOf(unit)))
            continue;
        for (const QString &name : {timerOf(unit), serviceOf(unit)}) {
            QFile file(folder + u'/' + name);
            if (!file.exists())
                continue;
            if (!file.remove())
                return cannotWrite(u"%1 cannot be removed: %2"_s.arg(name, file.errorString()));
            if (name.endsWith(u".timer"))
                removed.append(name);
        }
    }
    if (!callManager({u"daemon-reload"_s}, u"read the units again"_s, program, err)
        || !callManager(QStringList {u"enable"_s, u"--now"_s} + wanted, u"enable the timers"_s,
                        program, err))
        return EX_UNAVAILABLE;

    const auto next = nextStartAndStop();
    const QString subject = plan.headless ? userService : u"the window's run"_s;
    QStringList when;
    if (!plan.at.isEmpty())
        when.append(whenText(plan.headless ? u"starts"_s : u"begins"_s, plan.at, next, true));
    if (!plan.until.isEmpty())
        when.append(whenText(plan.headless ? u"stops"_s : u"ends"_s, plan.until, next, false));
    say(out,
        u"Wrote %1 in %2%3: %4 %5."_s.arg(
            wanted.join(u" and "_s), folder,
            removed.isEmpty() ? QString() : u", removed "_s + removed.join(u" and "_s), subject,
            when.join(u" and "_s)));
    return EX_OK;
}

int remove(const QString &program, std::FILE *out, std::FILE *err)
{
    const QString folder = unitFolder();
    QStringList present;
    for (const QString &unit : {startUnit, stopUnit}) {
        for (const QString &name : {timerOf(unit), serviceOf(unit)}) {
            if (QFile::exists(folder + u'/' + name))
                present.append(name);
        }
    }
    if (present.isEmpty()) {
        say(out,
            u"There are no timers %1 or %2 in %3; nothing to remove."_s.arg(
                timerOf(startUnit), timerOf(stopUnit), folder));
        return EX_OK;
    }
    if (!hasUserService(program, err).has_value())
        return EX_UNAVAILABLE;
    const QStringList timers = installedTimers(folder);
    if (!takeDown(timers, program, err))
        return EX_UNAVAILABLE;
    for (const QString &name : present) {
        QFile file(folder + u'/' + name);
        if (!file.remove()) {
            say(err,
                u"%1: cannot remove %2: %3"_s.arg(program, file.fileName(), file.errorString()));
            return EX_CANTCREAT;
        }
    }
    if (!callManager({u"daemon-reload"_s}, u"read the units again"_s, program, err))
        return EX_UNAVAILABLE;
    say(out,
        u"Removed %1 from %2: the run no longer begins or ends on a calendar."_s.arg(
            present.join(u", "_s), folder));
    return EX_OK;
}

std::variant<NextStartAndStop, QString> nextStartAndStop()
{
    const ToolRun list = runTool(u"systemctl"_s,
                                 {u"--user"_s, u"list-timers"_s, u"--output=json"_s,
                                  u"--no-pager"_s, timerOf(startUnit), timerOf(stopUnit)});
    if (!list.succeeded())
        return list.reason;
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(list.output, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return u"systemctl --user list-timers gave no list of timers"_s;
    NextStartAndStop next;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject timer = value.toObject();
        // Microseconds since the epoch; null for a calendar with no time to come.
        const qint64 micro = timer.value(u"next").toInteger();
        if (micro <= 0)
            continue;
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(micro / 1000);
        const QString unit = timer.value(u"unit").toString();
        if (unit == timerOf(startUnit))
            next.start = time;
        else if (unit == timerOf(stopUnit))
            next.stop = time;
    }
    return next;
}

QString timeText(const QDateTime &time)
{
    return QLocale::c().toString(time.toLocalTime(), u"ddd yyyy-MM-dd HH:mm:ss t"_s);
}

} // namespace Timetable
