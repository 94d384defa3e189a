#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <variant>
#include <vector>

// The timers of the user's service manager that begin and end a run on a calendar:
// vantrel-autorun-at.timer and vantrel-autorun-until.timer, each with the small service it starts,
// in $XDG_CONFIG_HOME/systemd/user (~/.config/systemd/user by default). The service manager keeps
// the time; the program writes, enables and removes the units.
namespace Timetable {

// What the timers are to do.
struct Plan
{
    // The calendars (as systemd.time(7) writes them) of the start and of the stop; empty for none.
    QString at;
    QString until;
    // Start and stop the user service vantrel-autorun.service instead of the window's run.
    bool headless = false;
    // The program's own file, and the options with which it begins and ends the window's run.
    QString program;
    QStringList startOptions;
    QStringList stopOptions;
};

struct Unit
{
    QString name;
    QString text;
};

// Where the units are kept for this user.
QString unitFolder();
// The units that carry out the plan: a timer and its service for each calendar.
std::vector<Unit> units(const Plan &plan);

// Writes the units (replacing the timers written before), enables the timers and says on `out`
// when they next begin and end the run, or on `err` why they could not be written; gives the exit
// status. `program` names the program in messages.
int write(const Plan &plan, const QString &program, std::FILE *out, std::FILE *err);
// Disables and removes the timers and their services.
int remove(const QString &program, std::FILE *out, std::FILE *err);

// When the enabled timers next begin and end a run: none where there is no such timer or its
// calendar has no time to come.
struct NextStartAndStop
{
    std::optional<QDateTime> start;
    std::optional<QDateTime> stop;
};
// Asks the user's service manager; gives the reason it cannot be asked instead.
std::variant<NextStartAndStop, QString> nextStartAndStop();
// A time as the program says it, in local time: "Wed 2026-12-09 08:00:00 CET".
QString timeText(const QDateTime &time);

} // namespace Timetable
