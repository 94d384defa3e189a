#pragma once

#include "ui/TrayState.h"

#include <QObject>
#include <QSystemTrayIcon>

class QAction;
class QMenu;
class TFormMain;

// The run in the desktop's tray while the window is open: the icon shows the run's state in its
// picture and tooltip, and its menu starts, stops, skips, pauses and resumes the run as the
// window's own commands do, shows the window, holds the window's two settings and quits. Where
// the desktop has no tray there is no icon, and closing the window stays as it was.
class RunTray final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunTray)

public:
    // A child of the window; the icon shows where the desktop has a tray.
    explicit RunTray(TFormMain *window,
                     bool desktopHasTray = QSystemTrayIcon::isSystemTrayAvailable());
    ~RunTray() override;

    QMenu *menu() const { return m_menu; }
    // 开始运行 or 停止运行, as the run stands.
    QAction *beginOrStopAction() const { return m_beginOrStop; }
    QAction *showAction() const { return m_show; }
    QAction *keepInTrayAction() const { return m_keepInTray; }
    QAction *notificationsAction() const { return m_notifications; }
    QAction *quitAction() const { return m_quit; }
    // The icon, or nullptr where the desktop has no tray.
    QSystemTrayIcon *icon() const { return m_icon; }

    TrayState state() const { return m_state; }
    // The tooltip as it is now: the window's title, then the run in words.
    QString toolTip() const;

    // Shows the window where it was and brings it to the front.
    void showWindow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showRunState();
    void quit();

    TFormMain *m_window;
    QMenu *m_menu;
    QAction *m_beginOrStop;
    QAction *m_show;
    QAction *m_keepInTray;
    QAction *m_notifications;
    QAction *m_quit;
    QSystemTrayIcon *m_icon = nullptr;
    TrayState m_state = TrayState::Stopped;
    bool m_quitting = false;
};
