#include "app/CommandLine.h"

#include "store/PathName.h"

#include <QCommandLineParser>

using namespace Qt::StringLiterals;

namespace {

// The toolkit's own options for a window, which it takes from the command line itself: these
// take a value.
const QStringList toolkitOptionsWithValue = {
    u"platform"_s,
    u"platformpluginpath"_s,
    u"platformtheme"_s,
    u"plugin"_s,
    u"qwindowgeometry"_s,
    u"qwindowicon"_s,
    u"qwindowtitle"_s,
    u"display"_s,
    u"geometry"_s,
    u"style"_s,
    u"stylesheet"_s,
    u"session"_s,
    u"name"_s,
    u"title"_s,
};
const QStringList toolkitFlags = {u"reverse"_s, u"nograb"_s, u"dograb"_s, u"sync"_s,
                                  u"widgetcount"_s};

// The toolkit's option that an argument names ("-style" and "--style" alike), or "".
QString toolkitOption(const QString &argument)
{
    if (!argument.startsWith(u'-'))
        return QString();
    const QString name = argument.mid(argument.startsWith(u"--") ? 2 : 1);
    if (toolkitOptionsWithValue.contains(name) || toolkitFlags.contains(name)
        || name.startsWith(u"qmljsdebugger="))
        return name;
    return QString();
}

// The arguments without the toolkit's own options and their values.
QStringList withoutToolkitOptions(const QStringList &arguments)
{
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString name = i == 0 ? QString() : toolkitOption(arguments.at(i));
        if (name.isEmpty())
            kept.append(arguments.at(i));
        else if (toolkitOptionsWithValue.contains(name))
            ++i;
    }
    return kept;
}

struct Options
{
    QCommandLineOption help {{u"h"_s, u"help"_s}, u"Show this help and exit."_s};
    QCommandLineOption version {{u"v"_s, u"version"_s}, u"Show the version and exit."_s};
    QCommandLineOption database {
        u"database"_s,
        u"Use the schedule database FILE instead of the one the program was built for. The file "
        "is never created."_s,
        u"FILE"_s};
    QCommandLineOption start {u"start"_s,
                              u"Open the window and begin the run at once, as Start does."_s};
    QCommandLineOption from {
        u"from"_s,
        u"With --start or --headless: begin at the entry whose number (程序编号) is KEY. With "
        "--history: only that entry's runs."_s,
        u"KEY"_s};
    QCommandLineOption loop {u"loop"_s,
                             u"After the last entry begin again at the first, until stopped; "
                             "with no entries, wait for some."_s};
    QCommandLineOption headless {
        u"headless"_s,
        u"Run the schedule without a window or display and exit after the last entry (with "
        "--loop, when stopped by SIGTERM, SIGINT or SIGHUP). With --at or --until: the timers "
        "start and stop the user service vantrel-autorun.service."_s};
    QCommandLineOption autostart {
        u"autostart"_s,
        u"Start the window and its run at every log-in to the desktop (with --loop, --from and "
        "--database when given), then exit."_s};
    QCommandLineOption noAutostart {u"no-autostart"_s, u"No longer start at log-in, then exit."_s};
    QCommandLineOption at {
        u"at"_s,
        u"Begin the run on a calendar, such as 'Mon..Fri 08:00' or daily (see systemd.time(7)), "
        "with a timer of the user's service manager, then exit. The timer runs this program with "
        "--start (and --loop and --database when given), or with --headless starts the user "
        "service; a start missed while the machine was off comes once at the next boot or "
        "log-in."_s,
        u"CALENDAR"_s};
    QCommandLineOption until {
        u"until"_s,
        u"End the run on a calendar with a second timer, which runs this program with --stop "
        "(and --database when given), or with --headless stops the user service, then exit. "
        "--at and --until replace the timers written before."_s,
        u"CALENDAR"_s};
    QCommandLineOption noAt {u"no-at"_s, u"Remove the timers of --at and --until, then exit."_s};
    QCommandLineOption history {u"history"_s, u"Print the record of every run, then exit."_s};
    QCommandLineOption format {u"format"_s,
                               u"With --history: table (the default), csv or json. With --status "
                               "and the commands to a runner: text (the default) or json."_s,
                               u"FORMAT"_s};
    QCommandLineOption status {
        u"status"_s,
        u"Say what the runner of the schedule is doing: who runs it, since when, the entry, run k "
        "of n, seconds left. Exit 3 when nothing runs it."_s};
    QCommandLineOption next {u"next"_s,
                             u"End the running program now and go on as at its time, then exit."_s};
    QCommandLineOption pause {
        u"pause"_s, u"Stop the clock of the running entry; its program runs on. Then exit."_s};
    QCommandLineOption resume {u"resume"_s, u"Let a paused run go on, then exit."_s};
    QCommandLineOption stop {u"stop"_s, u"Stop the run, as Stop does, then exit."_s};
    QCommandLineOption import {
        u"import"_s,
        u"Copy the entries of a schedule kept on Windows (a Jet .mdb file) into the schedule."_s,
        u"FILE.mdb"_s};
    QCommandLineOption dryRun {u"dry-run"_s,
                               u"With --import: say what would be imported, write nothing."_s};

    void addTo(QCommandLineParser &parser) const
    {
        parser.addOptions({help,      version,     database, start, from,  loop,    headless,
                           autostart, noAutostart, at,       until, noAt,  history, format,
                           import,    dryRun,      status,   next,  pause, resume,  stop});
    }
};

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        u"Runs a list of programs one after another, each for a set time and number of times. "
        "Without options it opens the window on the schedule."_s);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

} // namespace

QStringList CommandLine::runOptions() const
{
    QStringList options {u"--start"_s};
    if (loop)
        options.append(u"--loop"_s);
    if (from)
        options << u"--from"_s << QString::number(*from);
    if (!database.isEmpty())
        options << u"--database"_s << database;
    return options;
}

QStringList CommandLine::stopOptions() const
{
    QStringList options {u"--stop"_s};
    if (!database.isEmpty())
        options << u"--database"_s << database;
    return options;
}

std::variant<CommandLine, QString> parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    describe(parser);
    const Options options;
    options.addTo(parser);
    if (!parser.parse(withoutToolkitOptions(arguments)))
        return parser.errorText();
    if (!parser.positionalArguments().isEmpty())
        return u"Unexpected argument '%1'."_s.arg(parser.positionalArguments().constFirst());

    CommandLine line;
    if (parser.isSet(options.help)) {
        line.action = CommandLine::Action::Help;
        return line;
    }
    if (parser.isSet(options.version)) {
        line.action = CommandLine::Action::Version;
        return line;
    }

    // At most one thing to do besides opening the window. --at and --until write one timetable,
    // and --headless with them says what its timers start.
    const bool timetable = parser.isSet(options.at) || parser.isSet(options.until);
    const std::pair<const QCommandLineOption *, CommandLine::Action> actions[] = {
        {&options.headless, CommandLine::Action::Headless},
        {&options.autostart, CommandLine::Action::Autostart},
        {&options.noAutostart, CommandLine::Action::RemoveAutostart},
        {&options.at, CommandLine::Action::Timetable},
        {&options.until, CommandLine::Action::Timetable},
        {&options.noAt, CommandLine::Action::RemoveTimetable},
        {&options.history, CommandLine::Action::History},
        {&options.import, CommandLine::Action::Import},
        {&options.status, CommandLine::Action::Status},
        {&options.next, CommandLine::Action::Next},
        {&options.pause, CommandLine::Action::Pause},
        {&options.resume, CommandLine::Action::Resume},
        {&options.stop, CommandLine::Action::Stop},
    };
    QString chosen;
    for (const auto &[option, action] : actions) {
        if (!parser.isSet(*option) || (option == &options.headless && timetable)
            || (option == &options.until && parser.isSet(options.at)))
            continue;
        const QString name = u"--"_s + option->names().constFirst();
        if (!chosen.isEmpty())
            return u"%1 and %2 cannot be given together."_s.arg(chosen, name);
        chosen = name;
        line.action = action;
    }
    const bool window = line.action == CommandLine::Action::Window;
    const bool autostart = line.action == CommandLine::Action::Autostart;
    const bool headless = line.action == CommandLine::Action::Headless;
    const bool startTimer =
        line.action == CommandLine::Action::Timetable && parser.isSet(options.at);
    line.headless = timetable && parser.isSet(options.headless);
    const bool history = line.action == CommandLine::Action::History;
    const bool import = line.action == CommandLine::Action::Import;
    const bool steering = line.steers();

    // Each option with what it may go with.
    const auto onlyWith = [&](const QCommandLineOption &option, bool allowed,
                              const QString &with) -> QString {
        if (parser.isSet(option) && !allowed)
            return u"--%1 goes only with %2."_s.arg(option.names().constFirst(), with);
        return QString();
    };
    line.start = parser.isSet(options.start);
    if (line.start && !window && !autostart)
        return u"--start and %1 cannot be given together."_s.arg(chosen);
    for (const QString &problem : {
             onlyWith(options.from, line.start || headless || autostart || history,
                      u"--start, --headless, --autostart or --history"_s),
             onlyWith(options.loop, window || headless || autostart || startTimer,
                      u"the window, --start, --headless, --autostart or --at"_s),
             onlyWith(options.format, history || steering,
                      u"--history, --status, --next, --pause, --resume or --stop"_s),
             onlyWith(options.dryRun, import, u"--import"_s),
             onlyWith(options.database,
                      line.action != CommandLine::Action::RemoveAutostart
                          && line.action != CommandLine::Action::RemoveTimetable,
                      u"a schedule to use"_s),
         }) {
        if (!problem.isEmpty())
            return problem;
    }
    if (line.headless && parser.isSet(options.database))
        return u"--database cannot be given with --headless and %1: the user service runs the "
               "schedule the program was built for."_s.arg(chosen);

    line.loop = parser.isSet(options.loop);
    line.dryRun = parser.isSet(options.dryRun);
    if (parser.isSet(options.database)) {
        const QString database = parser.value(options.database);
        if (database.isEmpty())
            return u"--database needs the name of a file."_s;
        // Absolute, so that the file stays the same whatever folder the program moves to.
        line.database = PathName::absolute(database);
        // The autostart entry and the timers' units are UTF-8 text and give the command on one
        // line.
        const QString hands = u"%1 cannot %2 a schedule whose name "_s.arg(
            chosen,
            line.action == CommandLine::Action::Timetable && !startTimer ? u"stop"_s : u"start"_s);
        const bool written = autostart || line.action == CommandLine::Action::Timetable;
        if (written && (database.contains(u'\n') || database.contains(u'\r')))
            return hands + u"holds a line break."_s;
        if (written && !PathName::toNative(line.database).isValidUtf8())
            return hands + u"is not UTF-8."_s;
    }
    for (const auto &[option, calendar] :
         {std::pair {&options.at, &line.at}, std::pair {&options.until, &line.until}}) {
        if (!parser.isSet(*option))
            continue;
        // Spaces around it are the shell's quoting, not the calendar's.
        *calendar = parser.value(*option).trimmed();
        const QString name = option->names().constFirst();
        if (calendar->isEmpty())
            return u"--%1 needs a calendar, such as 'Mon..Fri 08:00'."_s.arg(name);
        if (calendar->contains(u'\n') || calendar->contains(u'\r'))
            return u"--%1 cannot hold a line break."_s.arg(name);
    }
    if (parser.isSet(options.from)) {
        bool ok = false;
        const QString key = parser.value(options.from);
        line.from = key.trimmed().toLongLong(&ok);
        if (!ok || key.trimmed() != key)
            return u"--from needs an entry's number (程序编号), not '%1'."_s.arg(key);
    }
    if (steering)
        line.format = u"text"_s;
    if (parser.isSet(options.format)) {
        line.format = parser.value(options.format);
        if (history && !QStringList {u"table"_s, u"csv"_s, u"json"_s}.contains(line.format))
            return u"--format is table, csv or json, not '%1'."_s.arg(line.format);
        if (steering && !QStringList {u"text"_s, u"json"_s}.contains(line.format))
            return u"--format is text or json, not '%1'."_s.arg(line.format);
    }
    if (import) {
        line.importFile = parser.value(options.import);
        if (line.importFile.isEmpty())
            return u"--import needs the name of a file."_s;
    }
    return line;
}

QString commandLineHelp(const QString &programName)
{
    QCommandLineParser parser;
    describe(parser);
    Options().addTo(parser);
    QString text = parser.helpText();
    text.replace(u"<executable_name>"_s, programName);
    text += u"\nExit status: 0 done; 64 a wrong command line (also a calendar that systemd\n"
            "refuses); 65 the schedule's table cannot be used, or a file to import holds what\n"
            "the schedule cannot take; 66 a database cannot be opened; 69 no display for the\n"
            "window, or no user service manager for the timers; 70 the window's module cannot\n"
            "be loaded; 71 a process cannot be started or signals cannot be watched; 73 a file\n"
            "cannot be written; 75 another runner runs the schedule, or it did not answer.\n"
            "--status, --next, --pause, --resume and --stop: 0 a runner answered; 3 nothing\n"
            "runs the schedule; 76 the runner refused the request; 77 another user runs it.\n"_s;
    return text;
}

QString noEntryToBeginAt(qint64 key)
{
    return u"the schedule has no entry %1 to begin at"_s.arg(key);
}

QString scheduleHeldText()
{
    return u"cannot open the schedule: another program is using it; try again later"_s;
}
