#pragma once

#include "run/ScheduleRunner.h"
#include "ui/DataSource.h"

#include <QIcon>
#include <QList>
#include <QString>
#include <QWidget>

#include <memory>

class DBGridEh;
class HistoryRecorder;
class HistoryWindow;
class Query;
class QAction;
class QLabel;
class QTimer;
class QToolButton;

// The main window: the schedule grid with its record commands.
class TFormMain final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormMain)

public:
    explicit TFormMain(QWidget *parent = nullptr);
    ~TFormMain() override;

    QToolButton *SpeedButton1;
    QToolButton *SpeedButton2;
    QToolButton *SpeedButton3;
    QToolButton *SpeedButton4;
    QToolButton *SpeedButton5;
    QToolButton *SpeedButton6;
    DBGridEh *DBGridEh1;

    Query *ADOQuery1;
    DataSource *DataSource1;
    QList<QIcon> ImageList1;
    QAction *ActionNew;
    QAction *ActionEdit;
    QAction *ActionDelete;
    QAction *ActionBegin;
    QAction *ActionStop;
    QAction *ActionHistory;
    // Ends the running program now, and pauses or resumes the run's clock: from the grid's menu
    // and their keys.
    QAction *ActionNext;
    QAction *ActionPause;
    QTimer *Timer1;

    // The run engine's state: "运行" or "停止", the latest launch, ticks of the current run,
    // finished runs of the current entry, and "打开" while a launched program is taken to be
    // running ("关闭" otherwise).
    QString RunState() const;
    const ::LaunchInfo &LaunchInfo() const { return engine().launchInfo(); }
    qint32 ElapsedTicks() const { return engine().elapsedTicks(); }
    qint32 RunsDone() const { return engine().runsDone(); }
    QString ProcessState() const;
    // The run of the schedule, which the window's commands and timer drive.
    ScheduleRunner &runner() { return m_runner; }
    RunEngine &engine() { return m_runner.engine(); }
    const RunEngine &engine() const { return m_runner.engine(); }

    // Reloads the list; the cursor and the grid's current row are then on the first entry.
    bool RefreshProgramList();

    void FormCreate();
    void FormShow();
    void ActionNewExecute();
    void ActionEditExecute();
    void ActionDeleteExecute();
    void ActionBeginExecute();
    void ActionStopExecute();
    void CloseLaunchedProcess();
    void Timer1Timer();
    // Opens the run history window, or brings it to the front.
    void ActionHistoryExecute();
    void ActionNextExecute();
    void ActionPauseExecute();
    // Says that another runner runs the schedule and who it is, as far as can be told, as Start
    // does when it is refused.
    void refuseRun(const OtherRunner &other);
    // Shows that the run is paused.
    QLabel *pausedLabel() const { return m_paused; }

    // The recorder of the run history, whose new records the history window shows at once.
    HistoryRecorder *runHistory() const;
    // The run history window once it has been opened, else nullptr.
    HistoryWindow *historyWindow() const { return m_historyWindow; }

    // Starts and ends the entries' programs; nullptr puts the real launcher back.
    void setLauncher(Launcher *launcher);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QToolButton *makeSpeedButton(QAction *action, int left);
    void showRunButtons(bool running);
    void showGridMenu(const QPoint &position);
    void showPause(bool paused);
    RowNote optionsNote(const QString &key) const;

    ScheduleRunner m_runner;
    QLabel *m_paused;
    QIcon m_optionsMark;
    HistoryWindow *m_historyWindow = nullptr;
};

extern TFormMain *FormMain;
