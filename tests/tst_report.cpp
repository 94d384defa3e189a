#include "report/ApplicationTitle.h"
#include "report/DataError.h"
#include "report/ErrorReport.h"
#include "report/ReportText.h"
#include "support/RecordingPrompter.h"

#include <QTest>

#include <memory>

class TestReport : public QObject
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

private:
    RecordingPrompter m_prompter;
    std::unique_ptr<ScopedPrompter> m_prompterInForce;
};

void TestReport::init()
{
    m_prompter = RecordingPrompter();
    m_prompterInForce = std::make_unique<ScopedPrompter>(m_prompter);
}

void TestReport::cleanup()
{
    m_prompterInForce.reset();
}

void TestReport::titleRule_data()
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

void TestReport::titleRule()
{
    QFETCH(QString, path);
    QTEST(applicationTitleFromPath(path), "title");
}

void TestReport::reportText_data()
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

void TestReport::reportText()
{
    QFETCH(bool, fromEngine);
    QFETCH(QString, message);
    const QString text = fromEngine ? errorReportText(ProviderError(message))
                                    : errorReportText(DatabaseError(message));
    QTEST(text, "text");
}

void TestReport::sameReportIsNotStacked()
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
    QCOMPARE(m_prompter.errors.first().caption, QStringLiteral("tst_report"));

    // Once the box is closed, the same failure is reported again.
    HandleException(DatabaseError(QStringLiteral("ADOQuery1: Field 'ProgramCount' not found")));
    QCOMPARE(m_prompter.errors.size(), 3);
}

QTEST_GUILESS_MAIN(TestReport)
#include "tst_report.moc"
