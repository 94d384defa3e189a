#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// A process as the kernel knows it: its id and when it started. The two together name one process
// for as long as the machine runs, where the id alone may be given to another once it has ended.
struct ProcessIdentity
{
    qint64 pid = 0;
    // When it started, in the kernel's clock ticks since the machine started.
    qint64 startTicks = 0;

    bool isEmpty() const { return pid == 0; }
    bool operator==(const ProcessIdentity &) const = default;
};

// What the kernel tells of processes, also of those this program did not start itself or started
// in an earlier life.
namespace ProcessTable {

// The name of the variable in a started program's environment that holds its run's id, which
// its children inherit.
inline constexpr char runIdVariable[] = "VANTREL_RUN_ID";

// The ids of every process the kernel shows, the first (init) left out.
std::vector<qint64> processIds();

// The machine and its boot as one text, "MACHINE/BOOT": the same for every process until the
// machine starts again.
QByteArray bootIdentity();
ProcessIdentity self();
// The process with this id as it is now; empty when there is none (or only its remains).
ProcessIdentity process(qint64 pid);
// A child of this process, also when it has ended already and is not collected yet.
ProcessIdentity child(qint64 pid);
bool isAlive(const ProcessIdentity &identity);

// A process as a text that outlives it, "MACHINE/BOOT:PID:START".
QByteArray describe(const ProcessIdentity &identity);
// What became of the process a description names.
enum class Fate {
    Alive,
    // It ended in this boot of this machine: what it started may run on.
    Gone,
    // The machine has started again since: everything of that boot has gone with it.
    GoneWithItsBoot,
    // Of another machine, or not a description at all: nothing can be known.
    Unknown,
};
Fate fateOf(const QByteArray &description);

// What endLeftovers() found and did.
struct Leftovers
{
    // The program's process id, found by its run's id when it was not known.
    qint64 pid = 0;
    int ended = 0;
    // Processes that are left but could not be ended, and why.
    QStringList refusing;
    QString reason;
};

// Ends what is left of a program that a runner started and left behind: its process group while
// its leader is still that program, else what of its group still carries the run's id, and what
// left its group for a session of its own but carries the run's id. When the
// program's id is not known, the run's id alone finds it. Nothing else is ever signalled.
Leftovers endLeftovers(const QByteArray &runId, const ProcessIdentity &program);

} // namespace ProcessTable
