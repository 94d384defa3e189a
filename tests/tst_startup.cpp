#include "AutoRunApplication.h"
#include "DBGridEh.h"
#include "DataError.h"
#include "Connection.h"
#include "Query.h"
#include "GuiSteps.h"
#include "MainForm.h"
#include "ProgramForm.h"
#include "RecordingPrompter.h"
#include "ShareDM.h"
#include "Startup.h"
#include "TestDatabase.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <stdexcept>

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void titleRule_data();
    void titleRule();
    void reportText_data();
    void reportText();
    void sameReportIsNotStacked();
    void startupFailure();
    void startupSuccessRunsTheLoop();
    void createsObjectsInOrder();
    void databaseAtStartup_data();
    void databaseAtStartup();
    void recoversOnceTheFileIsBack();
    void errorInAnEventHandlerIsReported();

private:
    RecordingPrompter m_prompter;
    std::unique_ptr<ScopedPrompter> m_prompterInForce;
};

void TestStartup::init()
{
    m_prompter = RecordingPrompter();
    m_prompterInForce = std::make_unique<ScopedPrompter>(m_prompter);
}

void TestStartup::cleanup()
{
    m_prompterInForce.reset();
    QVERIFY(!FormMain && !ShareDataModule && !FormProgram);
    QCOMPARE(visibleTopLevelWindow(), QString());
}

void TestStartup::titleRule_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");

    QTest::newRow("our executable") << "/usr/local/bin/vantrel-autorun"
                                    << "vantrel-autorun";
    QTest::newRow("mixed case with extension") << "C:/tools/AutoRun.exe"
                                               << "Autorun";
    QTest::newRow("cut at the first dot") << "/opt/PROGRAM.TAR.GZ"
                                          << "Program";
    QTest::newRow("dots in the folder only") << "/a.b/tool"
                                             << "tool";
    QTest::newRow("one letter stays as it is") << "x"
                                               << "x";
    QTest::newRow("name starting with a dot") << "/bin/.hidden"
                                              << "";
    QTest::newRow("accented letters") << "ÉCOLE"
                                      << "École";
    QTest::newRow("Chinese name") << "/bin/运行器.bin"
                                  << "运行器";
}

void TestStartup::titleRule()
{
    QFETCH(QString, path);
    QTEST(applicationTitleFromPath(path), "title");
}

void TestStartup::reportText_data()
{
    QTest::addColumn<bool>("fromEngine");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("text");

    QTest::newRow("letter gets a period") << false << "Field 'X' not found"
                                          << "Field 'X' not found.";
    QTest::newRow("word gets a period") << false << "closed dataset"
                                        << "closed dataset.";
    QTest::newRow("digit gets a period") << false << "code 5"
                                         << "code 5.";
    QTest::newRow("colon gets a period") << false << "reason:"
                                         << "reason:.";
    QTest::newRow("question mark gets a period") << false << "why?"
                                                 << "why?.";
    QTest::newRow("Chinese gets a period") << false << "数据库打开失败"
                                           << "数据库打开失败.";
    QTest::newRow("period stays single") << false << "done."
                                         << "done.";
    QTest::newRow("quote sorts before period") << false << "for field 'ProgramTime'"
                                               << "for field 'ProgramTime'";
    QTest::newRow("bracket sorts before period") << false << "(x)"
                                                 << "(x)";
    QTest::newRow("blank sorts before period") << false << "end "
                                               << "end ";
    QTest::newRow("layer keeps its periods") << false << "wait..."
                                             << "wait...";
    QTest::newRow("empty stays empty") << false << ""
                                       << "";
    QTest::newRow("engine: trailing period") << true << "file is not a database."
                                             << "file is not a database.";
    QTest::newRow("engine: blanks and controls") << true << "database is locked \r\n\t"
                                                 << "database is locked.";
    QTest::newRow("engine: periods and blanks") << true << "disk I/O error. . ."
                                                << "disk I/O error.";
    QTest::newRow("engine: nothing but periods") << true << "..."
                                                 << "";
    QTest::newRow("engine: quote at the end") << true << "no such table: 'QZ' "
                                              << "no such table: 'QZ'";
}

void TestStartup::reportText()
{
    QFETCH(bool, fromEngine);
    QFETCH(QString, message);
    const QString text = fromEngine ? errorReportText(ProviderError(message))
                                    : errorReportText(DatabaseError(message));
    QTEST(text, "text");
}

void TestStartup::sameReportIsNotStacked()
{
    int nested = 0;
    // While the first report is open, the same failure comes again (a tick in the box's loop),
    // and then a different one.
    m_prompter.whileOpen = [&] {
        if (nested++ > 0)
            return;
        HandleException(DatabaseError(QStringLiteral("ADOQuery1: Field 'ProgramCount' not found")));
        HandleException(DatabaseError(QStringLiteral("another failure")));
    };
    HandleException(DatabaseError(QStringLiteral("ADOQuery1: Field 'ProgramCount' not found")));
    QCOMPARE(m_prompter.errorTexts(),
             (QStringList {QStringLiteral("ADOQuery1: Field 'ProgramCount' not found."),
                           QStringLiteral("another failure.")}));
    QCOMPARE(m_prompter.errors.first().caption, QStringLiteral("tst_startup"));

    // Once the box is closed, the same failure is reported again.
    HandleException(DatabaseError(QStringLiteral("ADOQuery1: Field 'ProgramCount' not found")));
    QCOMPARE(m_prompter.errors.size(), 3);
}

void TestStartup::startupFailure()
{
    bool loopRan = false;
    const int exitCode = runGuarded([] { throw DatabaseError(QStringLiteral("cannot go on")); },
                                    [&] {
                                        loopRan = true;
                                        return 0;
                                    });
    QCOMPARE(exitCode, 1);
    QVERIFY(!loopRan);
    QCOMPARE(m_prompter.errors.size(), 1);
    QCOMPARE(m_prompter.errors.first().caption, QStringLiteral("Application Error"));
    static const QRegularExpression expected(QStringLiteral(
        R"(^Exception DatabaseError in module tst_startup at (0x)?[0-9a-fA-F]+\.\ncannot go on\.$)"));
    QVERIFY2(expected.match(m_prompter.errors.first().text).hasMatch(),
             qPrintable(m_prompter.errors.first().text));

    QVERIFY(startupFailureText(std::runtime_error("ends in a period."))
                .endsWith(QStringLiteral("\nends in a period.")));
}

void TestStartup::startupSuccessRunsTheLoop()
{
    QCOMPARE(runGuarded([] {}, [] { return 7; }), 7);
    QVERIFY(m_prompter.errors.isEmpty());
}

void TestStartup::createsObjectsInOrder()
{
    TestDatabase database;
    {
        AutoRunObjects objects;
        objects.create(database.connectionString());
        QVERIFY(FormMain && ShareDataModule && FormProgram);
        QVERIFY(FormMain->Timer1->isActive());
        QCOMPARE(FormMain->Timer1->interval(), 1000);
        QCOMPARE(FormMain->ADOQuery1->connection(), ShareDataModule->ADOConnection1);
        QCOMPARE(ShareDataModule->ADOQueryTemp->connection(), ShareDataModule->ADOConnection1);
        QVERIFY(ShareDataModule->ADOConnection1->isConnected());
        QVERIFY(!FormMain->isVisible());
        QVERIFY(!FormProgram->isVisible());
        QCOMPARE(ShareDataModule->ADOConnection1->connectionString(),
                 QStringLiteral("Provider=SQLite3;Data Source=%1;Persist Security Info=False")
                     .arg(database.path()));
    }
    QVERIFY(m_prompter.errors.isEmpty());
}

void TestStartup::databaseAtStartup_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reportPart");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("footerCount");

    QTest::newRow("good file") << "good"
                               << "" << QStringList() << "2";
    QTest::newRow("missing file") << "missing"
                                  << "Could not find file"
                                  << QStringList {QStringLiteral("数据库打开失败")} << "0";
    QTest::newRow("not a database")
        << "garbage"
        << "is not an SQLite database" << QStringList {QStringLiteral("数据库打开失败")} << "0";
}

void TestStartup::databaseAtStartup()
{
    QFETCH(QString, file);
    QFETCH(QString, reportPart);
    TestDatabase database;
    database.addEntry(QStringLiteral("a"), QString(), 1, 1);
    database.addEntry(QStringLiteral("b"), QString(), 1, 1);
    if (file == u"missing") {
        QVERIFY(QFile::remove(database.path()));
    } else if (file == u"garbage") {
        QFile garbage(database.path());
        QVERIFY(garbage.open(QIODevice::WriteOnly | QIODevice::Truncate));
        garbage.write(QByteArray(4096, 'J'));
    }
    AutoRunObjects objects;
    objects.create(database.connectionString());
    if (reportPart.isEmpty()) {
        QVERIFY(m_prompter.errors.isEmpty());
    } else {
        QCOMPARE(m_prompter.errors.size(), 1);
        QCOMPARE(m_prompter.errors.first().caption, QStringLiteral("tst_startup"));
        QVERIFY2(m_prompter.errors.first().text.contains(reportPart),
                 qPrintable(m_prompter.errors.first().text));
        QVERIFY(!ShareDataModule->ADOConnection1->isConnected());
    }
    FormMain->show();
    QTEST(m_prompter.messages, "messages");
    QTEST(FormMain->DBGridEh1->footerText(1), "footerCount");
    QCOMPARE(FormMain->DBGridEh1->footerText(0), QStringLiteral("合计"));
    FormMain->hide();
}

void TestStartup::recoversOnceTheFileIsBack()
{
    TestDatabase database;
    database.addEntry(QStringLiteral("a"), QString(), 1, 1);
    const QString aside = database.path() + QStringLiteral(".aside");
    QVERIFY(QFile::rename(database.path(), aside));
    AutoRunObjects objects;
    objects.create(database.connectionString());
    QVERIFY(!FormMain->RefreshProgramList());
    QVERIFY(QFile::rename(aside, database.path()));
    QVERIFY(FormMain->RefreshProgramList());
    QCOMPARE(FormMain->DBGridEh1->footerText(1), QStringLiteral("1"));
    QVERIFY(ShareDataModule->ADOConnection1->isConnected());
}

namespace {

// An object whose event handler fails, as a command of ours might.
class FailingReceiver final : public QObject
{
public:
    int events = 0;
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        ++events;
        throw DatabaseError(QStringLiteral("ADOQueryTemp: Cannot perform this operation on a "
                                           "closed dataset"));
    }
};

} // namespace

void TestStartup::errorInAnEventHandlerIsReported()
{
    FailingReceiver receiver;
    for (int i = 0; i < 2; ++i)
        QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&receiver, QEvent::User);
    QCOMPARE(receiver.events, 2);
    QCOMPARE(m_prompter.errorTexts(),
             QStringList(2,
                         QStringLiteral("ADOQueryTemp: Cannot perform this operation on a "
                                        "closed dataset.")));
    // The loop goes on afterwards.
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QTRY_VERIFY(ran);
}

int main(int argc, char *argv[])
{
    AutoRunApplication application(argc, argv);
    TestStartup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_startup.moc"
