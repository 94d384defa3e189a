#pragma once

#include "engine/Launcher.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Stands in for the real launcher: remembers what it was asked to start and end.
class FakeLauncher final : public Launcher
{
public:
    struct Launch
    {
        QByteArray verb;
        QByteArray file;
        QByteArray parameters;
        QByteArray directory;
        int show = 0;
        QString entry;
        qint64 id = 0;
    };

    QList<Launch> launches;
    QList<qint64> terminations;
    bool startsNothing = false;

    void launch(LaunchInfo &info) override
    {
        const qint64 id = startsNothing ? 0 : qint64(launches.size()) + 100;
        launches.append(
            {info.verb, info.file, info.parameters, info.directory, info.show, info.entry, id});
        info.process.id = id;
    }
    void terminate(ProcessHandle &process) override
    {
        terminations.append(process.id);
        process = {};
    }

    QStringList launchedFiles() const
    {
        QStringList files;
        for (const Launch &launch : launches)
            files.append(QString::fromUtf8(launch.file));
        return files;
    }
};
