#pragma once

#include "engine/Launcher.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>

// Stands in for the real launcher: remembers what it was asked to start and end, and answers as
// the test chooses.
class FakeLauncher final : public Launcher
{
public:
    struct Launch
    {
        QByteArray file;
        QByteArray parameters;
        QByteArray directory;
        QString entry;
        QByteArray runId;
        QByteArrayList environment;
        qint64 id = 0;
    };

    QList<Launch> launches;
    QList<qint64> terminations;
    // The grace each termination was given.
    QList<int> graces;
    // Programs asked to end that have not gone yet: terminate() with a grace leaves them so.
    QList<qint64> ending;
    // Starts nothing, for the reason given.
    bool startsNothing = false;
    QString failure = QStringLiteral("no such file");
    // How every started program ends when terminate() is called.
    ProcessEnd end = {ProcessEnd::How::Killed, 0, false, {}, 0};
    // How the programs that left early ended, by their ids.
    QHash<qint64, ProcessEnd> leftEarly;
    // Called at each launch, before anything is started.
    std::function<void()> onLaunch;

    void launch(LaunchInfo &info) override
    {
        if (onLaunch)
            onLaunch();
        const qint64 id = startsNothing ? 0 : qint64(launches.size()) + 100;
        launches.append({info.file, info.parameters, info.directory, info.entry, info.runId,
                         info.environment, id});
        info.process.id = id;
        info.failure = startsNothing ? failure : QString();
    }
    ProcessEnd terminate(ProcessHandle &process, int graceMs = 0) override
    {
        terminations.append(process.id);
        graces.append(graceMs);
        const bool started = !process.isEmpty();
        const qint64 id = process.id;
        process = {};
        if (!started)
            return {};
        if (leftEarly.contains(id))
            return leftEarly.value(id);
        if (graceMs > 0 && end.how == ProcessEnd::How::Killed) {
            ending.append(id);
            return {ProcessEnd::How::Ending, 0, false, {}, 0};
        }
        return end;
    }
    void endAtOnce(qint64 id) override
    {
        if (ending.removeOne(id))
            endedLater(id, {ProcessEnd::How::Killed, 0, false, {}, 0});
    }
    // A program asked to end goes, as given.
    void endAsked(qint64 id, const ProcessEnd &gone)
    {
        if (ending.removeOne(id))
            endedLater(id, gone);
    }
    // A program leaves before it is ended: the launcher says so at once, and terminate() says
    // how from then on.
    void leaveEarly(qint64 id, const ProcessEnd &left = {ProcessEnd::How::Exited, 1, false, {}, 0})
    {
        leftEarly.insert(id, left);
        endedByItself(id);
    }
    // As the real launcher does once a program it could not end is gone.
    void collectLate(qint64 id, const ProcessEnd &late) const { collectedLate(id, late); }

    QStringList launchedFiles() const
    {
        QStringList files;
        for (const Launch &launch : launches)
            files.append(QString::fromUtf8(launch.file));
        return files;
    }
};
