#include "ui/RunTray.h"

#include "report/ErrorReport.h"
#include "ui/MainForm.h"
#include "ui/WindowSettings.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QSignalBlocker>
#include <QTimer>

RunTray::RunTray(TFormMain *window, bool desktopHasTray)
    : QObject(window)
    , m_window(window)
    , m_menu(new QMenu(window))
{
    setObjectName(QStringLiteral("RunTray"));
    m_menu->setObjectName(QStringLiteral("TrayMenu"));
    m_beginOrStop = m_menu->addAction(QString());
    connect(m_beginOrStop, &QAction::triggered, this, [this] {
        // Through the window's own commands, so that its buttons and grid follow as for a press.
        runHandler([this] {
            QAction *command =
                m_window->engine().isRunning() ? m_window->ActionStop : m_window->ActionBegin;
            command->trigger();
        });
    });
    m_menu->addAction(m_window->ActionNext);
    m_menu->addAction(m_window->ActionPause);
    m_menu->addSeparator();
    m_show = m_menu->addAction(tr("显示窗口"), this, &RunTray::showWindow);
    m_menu->addSeparator();
    m_keepInTray = m_menu->addAction(tr("关闭窗口时在托盘中继续运行"));
    m_keepInTray->setCheckable(true);
    m_keepInTray->setChecked(WindowSettings::keepInTray());
    connect(m_keepInTray, &QAction::toggled, this, &WindowSettings::setKeepInTray);
    m_notifications = m_menu->addAction(tr("桌面通知"));
    m_notifications->setCheckable(true);
    m_notifications->setChecked(WindowSettings::notifications());
    connect(m_notifications, &QAction::toggled, this, &WindowSettings::setNotifications);
    m_menu->addSeparator();
    m_quit = m_menu->addAction(tr("退出"), this, &RunTray::quit);
    // The grid's menu may have changed a setting since.
    connect(m_menu, &QMenu::aboutToShow, this, [this] {
        const QSignalBlocker keep(m_keepInTray);
        const QSignalBlocker notify(m_notifications);
        m_keepInTray->setChecked(WindowSettings::keepInTray());
        m_notifications->setChecked(WindowSettings::notifications());
    });

    const RunEngine &engine = m_window->engine();
    connect(&engine, &RunEngine::runStateChanged, this, &RunTray::showRunState);
    connect(&engine, &RunEngine::pausedChanged, this, &RunTray::showRunState);
    connect(&engine, &RunEngine::waitingChanged, this, &RunTray::showRunState);
    if (desktopHasTray) {
        m_icon = new QSystemTrayIcon(this);
        m_icon->setContextMenu(m_menu);
        connect(m_icon, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger
                        || reason == QSystemTrayIcon::DoubleClick)
                        showWindow();
                });
        // The seconds left change with every tick; the window's tick comes first.
        connect(m_window->Timer1, &QTimer::timeout, this,
                [this] { m_icon->setToolTip(toolTip()); });
        m_window->installEventFilter(this);
    }
    showRunState();
    if (m_icon)
        m_icon->show();
}

RunTray::~RunTray() = default;

QString RunTray::toolTip() const
{
    return m_window->windowTitle() + u'\n' + trayToolTip(m_window->runner());
}

void RunTray::showRunState()
{
    m_state = trayStateOf(m_window->runner());
    m_beginOrStop->setText(m_state == TrayState::Stopped ? tr("开始运行") : tr("停止运行"));
    if (m_icon) {
        m_icon->setIcon(pictureIcon(trayPicture(m_state)));
        m_icon->setToolTip(toolTip());
    }
}

void RunTray::showWindow()
{
    // The window is closed only to the tray once it is back: closing it ends the program again.
    QApplication::setQuitOnLastWindowClosed(true);
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

// As closing the window ends the program, also when it is hidden in the tray.
void RunTray::quit()
{
    m_quitting = true;
    QApplication::setQuitOnLastWindowClosed(true);
    m_window->close();
    QCoreApplication::quit();
}

bool RunTray::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window || event->type() != QEvent::Close || m_quitting
        || !m_window->engine().isRunning() || !WindowSettings::keepInTray())
        return QObject::eventFilter(watched, event);
    // The run goes on with the window hidden; a box that opens and closes meanwhile must not
    // count as the last window closing.
    QApplication::setQuitOnLastWindowClosed(false);
    event->ignore();
    m_window->hide();
    return true;
}
