#pragma once

#include "engine/Launcher.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

// What a launch is to start, decided without starting anything: the program to execute and its
// complete argument list, or why nothing can be started.
struct LaunchCommand
{
    QByteArray program; // the file to execute; empty when nothing can be started
    QByteArrayList arguments; // the complete argv, the program's own name first
    bool throughOpener = false; // a document, folder or URL handed to the desktop's opener
    QString failure; // why nothing can be started, "" when something can
};

// A program (by path, or by name on PATH) with the entry's parameters split into words; anything
// else that exists, or looks like a URL, goes to xdg-open without them.
LaunchCommand resolveLaunch(const LaunchInfo &info);

// Why the kernel said "no such file" for a script that is there: its interpreter line names a
// program that does not exist. "" when that is not the reason.
QString missingInterpreter(const QByteArray &script);
