#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class QWidget;
class RunEngine;
struct RunRecord;

// Tells the desktop's notification service over the session bus of a program that could not be
// started or ended or left early with a failure, and of a run that came to its end by itself,
// while none of the program's windows is active and the person has not turned it off. Once for
// each entry in a run, so that a looping failure does not flood the desktop. Without a session
// bus it says so once in the trace and sends nothing.
class RunNotifier final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunNotifier)

public:
    // A child of the window, whose title names the program in the notifications.
    RunNotifier(RunEngine &engine, QWidget *window);
    ~RunNotifier() override;

private:
    void runEnded(const RunRecord &record);
    void runFinished();
    bool wanted() const;
    void send(const QString &summary, const QString &body);

    QWidget *m_window;
    // The entries told of in this run.
    QSet<QString> m_told;
    bool m_saidNoBus = false;
    bool m_saidRefused = false;
};
