#include "report/ErrorReport.h"
#include "support/ProgramFixture.h"
#include "support/TraceCapture.h"
#include "ui/MainForm.h"
#include "ui/RunNotifier.h"
#include "ui/WindowSettings.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString service = u"org.freedesktop.Notifications"_s;
const QString path = u"/org/freedesktop/Notifications"_s;
// The last notification of a case, sent by the test itself after the window's: once it is in,
// everything the window sent before it is in too.
const QString endOfCase = u"end of case"_s;

} // namespace

// Stands in for the desktop's notification service: keeps the summary of each notification.
class NotificationListener final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList summaries;

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &,
                const QStringList &, const QVariantMap &, int)
    {
        summaries.append(summary);
        return uint(summaries.size());
    }
};

class TestNotifications : public ProgramFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void notifications_data();
    void notifications();
    void withoutBus();

private:
    QStringList received();

    QTemporaryDir m_config;
    NotificationListener m_listener;
};

void TestNotifications::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QCoreApplication::setOrganizationName(u"vantrel-tests"_s);
    if (!QDBusConnection::sessionBus().isConnected())
        return;
    // A connection of its own, so that what the window sends goes through the bus.
    QDBusConnection listener =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"listener"_s);
    QVERIFY(listener.registerObject(path, &m_listener, QDBusConnection::ExportAllSlots));
    QVERIFY2(listener.registerService(service),
             "the notification service is taken: run the "
             "suite under dbus-run-session");
}

void TestNotifications::init()
{
    ProgramFixture::init();
    QSettings().clear();
    m_listener.summaries.clear();
}

// What the listener received before the test's own last notification.
QStringList TestNotifications::received()
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, service, u"Notify"_s);
    call << QString() << 0u << QString() << endOfCase << QString() << QStringList() << QVariantMap()
         << -1;
    QDBusConnection::sessionBus().send(call);
    [&] {
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.summaries.contains(endOfCase), 10000);
    }();
    QStringList summaries = m_listener.summaries;
    summaries.removeAll(endOfCase);
    return summaries;
}

void TestNotifications::notifications_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<bool>("loop");
    QTest::addColumn<bool>("personStops");
    QTest::addColumn<bool>("windowActive");
    QTest::addColumn<bool>("notificationsOn");
    QTest::addColumn<QStringList>("expected");

    const QString finished = u"运行已结束"_s;
    QTest::newRow("not started, once per entry across a looping run")
        << u"not started"_s << true << false << false << true
        << QStringList {u"条目 1 的程序 A 无法启动"_s, u"条目 2 的程序 B 无法启动"_s};
    QTest::newRow("left early with a status, once per entry across a looping run")
        << u"status 3"_s << true << false << false << true
        << QStringList {u"条目 1 的程序 A 提前退出"_s, u"条目 2 的程序 B 提前退出"_s};
    QTest::newRow("killed by a signal, then the run ends")
        << u"signal"_s << false << false << false << true
        << QStringList {u"条目 1 的程序 A 提前退出"_s, u"条目 2 的程序 B 提前退出"_s, finished};
    QTest::newRow("not ended, then the run ends")
        << u"not ended"_s << false << false << false << true
        << QStringList {u"条目 1 的程序 A 无法结束"_s, u"条目 2 的程序 B 无法结束"_s, finished};
    QTest::newRow("left early with status 0 is no failure")
        << u"status 0"_s << false << false << false << true << QStringList {finished};
    QTest::newRow("the run ends by itself")
        << QString() << false << false << false << true << QStringList {finished};
    QTest::newRow("stopped by the person")
        << QString() << false << true << false << true << QStringList();
    QTest::newRow("window active")
        << u"not started"_s << false << false << true << true << QStringList();
    QTest::newRow("turned off") << u"not started"_s << true << false << false << false
                                << QStringList();
}

// A schedule of two entries of two runs each, run for long enough to loop three times, with the
// window hidden (in the tray) or active.
void TestNotifications::notifications()
{
    QFETCH(QString, failure);
    QFETCH(bool, loop);
    QFETCH(bool, personStops);
    QFETCH(bool, windowActive);
    QFETCH(bool, notificationsOn);
    QFETCH(QStringList, expected);
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no session bus: run the suite under dbus-run-session");

    WindowSettings::setNotifications(notificationsOn);
    start({{u"A"_s, 2, 2}, {u"B"_s, 2, 2}});
    FormMain->runner().setLoop(loop);
    new RunNotifier(FormMain->engine(), FormMain);
    if (windowActive) {
        QVERIFY(QTest::qWaitForWindowActive(FormMain));
    } else {
        FormMain->hide();
        QTRY_VERIFY(!QApplication::activeWindow());
    }
    m_launcher->startsNothing = failure == u"not started";
    if (failure == u"not ended")
        m_launcher->end = {ProcessEnd::How::NotEnded, 0, false, u"it would not go"_s, 0};
    FormMain->ActionBegin->trigger();
    qint64 left = 0;
    for (int i = 0; i < 30 && (loop || FormMain->engine().isRunning()); ++i) {
        tick();
        if (personStops && i == 2)
            FormMain->ActionStop->trigger();
        if (m_launcher->launches.isEmpty() || m_launcher->launches.last().id == left)
            continue;
        // Each program started leaves at once, as the case says.
        const qint64 id = left = m_launcher->launches.last().id;
        if (failure == u"status 3" || failure == u"status 0")
            m_launcher->leaveEarly(
                id, {ProcessEnd::How::Exited, failure.back().digitValue(), false, {}, 0});
        else if (failure == u"signal")
            m_launcher->leaveEarly(id, {ProcessEnd::How::Signalled, 9, true, {}, 0});
    }
    if (loop)
        FormMain->ActionStop->trigger();
    QVERIFY(!FormMain->engine().isRunning());
    QCOMPARE(received(), expected);
}

// Run with the session bus's address pointing at nothing: nothing is sent, nothing fails, and the
// trace says so once.
void TestNotifications::withoutBus()
{
    if (QDBusConnection::sessionBus().isConnected())
        QSKIP("a session bus is there: the suite's run without one checks this");
    TraceCapture trace;
    start({{u"A"_s, 1, 1}, {u"B"_s, 1, 1}});
    new RunNotifier(FormMain->engine(), FormMain);
    FormMain->hide();
    m_launcher->startsNothing = true;
    FormMain->ActionBegin->trigger();
    for (int i = 0; i < 30 && FormMain->engine().isRunning(); ++i)
        tick();
    QVERIFY(!FormMain->engine().isRunning());
    QStringList said = trace.lines().filter(u"notification"_s);
    QCOMPARE(said.size(), 1);
    QVERIFY2(said.first().contains(u"no session bus"_s), qPrintable(said.first()));
    for (const QString &box : m_prompter.errorTexts())
        QVERIFY2(!box.contains(u"通知"_s), qPrintable(box));
}

QTEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
