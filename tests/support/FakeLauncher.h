#pragma once

#include "engine/Launcher.h"

#include <QByteArray>
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
        qint64 id = 0;
    };

    QList<Launch> launches;
    QList<qint64> terminations;
    // Starts nothing, for the reason given.
    bool startsNothing = false;
    QString failure = QStringLiteral("no such file");
    // How every started program ends when terminate() is called.
    ProcessEnd end = {ProcessEnd::How::Killed, 0, {}, 0};
    // Called at each launch, before anything is started.
    std::function<void()> onLaunch;

    void launch(LaunchInfo &info) override
    {
        if (onLaunch)
            onLaunch();
        const qint64 id = startsNothing ? 0 : qint64(launches.size()) + 100;
        launches.append({info.file, info.parameters, info.directory, info.entry, info.runId, id});
        info.process.id = id;
        info.failure = startsNothing ? failure : QString();
    }
    ProcessEnd terminate(ProcessHandle &process) override
    {
        terminations.append(process.id);
        const bool started = !process.isEmpty();
        process = {};
        return started ? end : ProcessEnd {};
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
