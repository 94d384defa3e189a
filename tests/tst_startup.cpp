#include "app/AutoRunApplication.h"
#include "app/Startup.h"
#include "import/JetConversion.h"
#include "report/DataError.h"
#include "store/Connection.h"
#include "store/Query.h"
#include "store/ShareDM.h"
#include "support/Deadline.h"
#include "support/ProgramFixture.h"
#include "ui/DBGridEh.h"
#include "ui/Language.h"
#include "ui/MainForm.h"
#include "ui/ProgramForm.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <stdexcept>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestStartup : public ProgramFixture
{
    Q_OBJECT

private Q_SLOTS:
    void startupFailure();
    void startupSuccessRunsTheLoop();
    void createsObjectsInOrder();
    void databaseAtStartup_data();
    void databaseAtStartup();
    void recoversOnceTheFileIsBack();
    void errorInAnEventHandlerIsReported();
    void languageFromSettings_data();
    void languageFromSettings();
};

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
    {
        AutoRunObjects objects;
        objects.create(m_database->path());
        QVERIFY(FormMain && ShareDataModule && FormProgram);
        QVERIFY(FormMain->Timer1->isActive());
        QCOMPARE(FormMain->Timer1->interval(), 1000);
        QCOMPARE(FormMain->ADOQuery1->connection(), ShareDataModule->ADOConnection1);
        QCOMPARE(ShareDataModule->ADOQueryTemp->connection(), ShareDataModule->ADOConnection1);
        QVERIFY(ShareDataModule->ADOConnection1->isConnected());
        QVERIFY(!FormMain->isVisible());
        QVERIFY(!FormProgram->isVisible());
        QCOMPARE(ShareDataModule->connectionString(),
                 QStringLiteral("Provider=SQLite3;Data Source=%1;Persist Security Info=False")
                     .arg(m_database->path()));
        QCOMPARE(ShareDataModule->ADOConnection1->databasePath(), m_database->path());
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
    QTest::newRow("a named pipe") << "pipe"
                                  << "it is a named pipe (FIFO), not a regular file"
                                  << QStringList {QStringLiteral("数据库打开失败")} << "0";
}

void TestStartup::databaseAtStartup()
{
    QFETCH(QString, file);
    QFETCH(QString, reportPart);
    m_database->addEntries(
        {{QStringLiteral("a"), QString(), 1, 1}, {QStringLiteral("b"), QString(), 1, 1}});
    if (file == u"missing") {
        QVERIFY(QFile::remove(m_database->path()));
    } else if (file == u"garbage") {
        QFile garbage(m_database->path());
        QVERIFY(garbage.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(garbage.write(QByteArray(4096, 'J')), 4096);
    } else if (file == u"pipe") {
        QVERIFY(QFile::remove(m_database->path()));
        QCOMPARE(::mkfifo(QFile::encodeName(m_database->path()).constData(), 0600), 0);
    }
    // As the window starts: a Jet file would be offered for conversion first.
    const Deadline deadline(std::chrono::seconds(20), "starting on the database");
    QVERIFY(!offerJetConversion(m_database->path()));
    AutoRunObjects objects;
    objects.create(m_database->path());
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
    m_database->addEntry(QStringLiteral("a"), QString(), 1, 1);
    const QString aside = m_database->path() + QStringLiteral(".aside");
    QVERIFY(QFile::rename(m_database->path(), aside));
    AutoRunObjects objects;
    objects.create(m_database->path());
    QVERIFY(!FormMain->RefreshProgramList());
    QVERIFY(QFile::rename(aside, m_database->path()));
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

void TestStartup::languageFromSettings_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("lcAll");
    QTest::addColumn<QString>("lcMessages");
    QTest::addColumn<QString>("lang");
    QTest::addColumn<bool>("english");

    QTest::newRow("nothing set") << ""
                                 << ""
                                 << ""
                                 << "" << false;
    QTest::newRow("LANG English") << ""
                                  << ""
                                  << ""
                                  << "en_US.UTF-8" << true;
    QTest::newRow("LANG Chinese") << ""
                                  << ""
                                  << ""
                                  << "zh_CN.UTF-8" << false;
    QTest::newRow("LANG German") << ""
                                 << ""
                                 << ""
                                 << "de_DE.UTF-8" << false;
    QTest::newRow("LANG C.UTF-8") << ""
                                  << ""
                                  << ""
                                  << "C.UTF-8" << false;
    QTest::newRow("LC_ALL C.UTF-8 over LANG English") << ""
                                                      << "C.UTF-8"
                                                      << ""
                                                      << "en_US" << false;
    QTest::newRow("LC_ALL Chinese over LANG English") << ""
                                                      << "zh_CN.UTF-8"
                                                      << ""
                                                      << "en_US" << false;
    QTest::newRow("LC_MESSAGES English over LANG Chinese") << ""
                                                           << ""
                                                           << "en_GB.UTF-8"
                                                           << "zh_CN.UTF-8" << true;
    QTest::newRow("LC_ALL over LC_MESSAGES") << ""
                                             << "en_US.UTF-8"
                                             << "zh_CN.UTF-8"
                                             << "" << true;
    QTest::newRow("LANGUAGE Chinese before English") << "zh_CN:en"
                                                     << ""
                                                     << ""
                                                     << "en_US.UTF-8" << false;
    QTest::newRow("LANGUAGE English before Chinese") << "en:zh_CN"
                                                     << ""
                                                     << ""
                                                     << "zh_CN.UTF-8" << true;
    QTest::newRow("LANGUAGE skips what is not ours") << "de:en_GB"
                                                     << ""
                                                     << ""
                                                     << "de_DE" << true;
    QTest::newRow("LANGUAGE none ours, locale English") << "de:fr"
                                                        << ""
                                                        << ""
                                                        << "en_US" << true;
    QTest::newRow("LANGUAGE none ours, locale German") << "de:fr"
                                                       << ""
                                                       << ""
                                                       << "de_DE" << false;
    QTest::newRow("LANGUAGE Taiwan Chinese") << "zh_TW:en"
                                             << ""
                                             << ""
                                             << "en_US" << false;
    QTest::newRow("LANGUAGE ignored under C") << "en"
                                              << "C"
                                              << ""
                                              << "" << false;
    QTest::newRow("LANGUAGE ignored under POSIX") << "en"
                                                  << ""
                                                  << ""
                                                  << "POSIX" << false;
    QTest::newRow("LANGUAGE ignored without a locale") << "en"
                                                       << ""
                                                       << ""
                                                       << "" << false;
    QTest::newRow("modifier") << ""
                              << ""
                              << ""
                              << "en_US@euro" << true;
    QTest::newRow("language without country") << ""
                                              << ""
                                              << ""
                                              << "en" << true;
    QTest::newRow("LANGUAGE with empty entries") << "::en"
                                                 << ""
                                                 << ""
                                                 << "zh_CN" << true;
}

void TestStartup::languageFromSettings()
{
    QFETCH(QString, language);
    QFETCH(QString, lcAll);
    QFETCH(QString, lcMessages);
    QFETCH(QString, lang);
    QFETCH(bool, english);
    const QHash<QString, QString> settings = {{u"LANGUAGE"_s, language},
                                              {u"LC_ALL"_s, lcAll},
                                              {u"LC_MESSAGES"_s, lcMessages},
                                              {u"LANG"_s, lang}};
    const Language chosen = languageFromEnvironment(
        [&](const char *name) { return settings.value(QString::fromLatin1(name)); });
    QCOMPARE(chosen, english ? Language::English : Language::Chinese);
}

int main(int argc, char *argv[])
{
    AutoRunApplication application(argc, argv);
    TestStartup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_startup.moc"
