#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What one run of a tool of the service manager's (systemctl, systemd-analyze) came to.
struct ToolRun
{
    // The tool was found, and it ended by itself before its deadline with this status.
    bool found = false;
    bool finished = false;
    int status = -1;
    QByteArray output;
    // The first line it wrote to standard error, or why it did not run or end; for a message.
    QString reason;

    bool succeeded() const { return finished && status == 0; }
};

// Runs the tool with these arguments and waits for it, with a deadline. The tool is looked for on
// PATH, as a person's shell finds it, so that the tests can put a stand-in of their own first.
ToolRun runTool(const QString &name, const QStringList &arguments);
