#include "report/DataError.h"
#include "report/ReportText.h"
#include "run/RunHistory.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/PublicFunction.h"
#include "store/Query.h"
#include "store/ShareDM.h"
#include "support/OrdinaryUser.h"
#include "support/RecordingPrompter.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <fcntl.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// Loads of a list: how many rows, and how long each row's name is.
using Loads = QList<QPair<int, int>>;

const QString listSql = QStringLiteral("Select * From QZProgram");
const QString changedElsewhere = u"该记录已被其他程序修改或删除，未做任何更改，列表已重新读入"_s;
const QString inUse = u"数据库正被其他程序使用，未保存任何更改，请稍后再试"_s;
const QString heldUp = u"数据库正被其他程序使用，请稍后再试"_s;

// Runs an operation and gives the text of the data-access error it raised ("" when none).
template<typename Operation> QString errorOf(Operation &&operation)
{
    try {
        operation();
    } catch (const DatabaseError &error) {
        return error.message();
    }
    return QString();
}

} // namespace

class TestDataSet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void endOfData_data();
    void endOfData();
    void recordCount_data();
    void recordCount();
    void integerText_data();
    void integerText();
    void readingValues();
    void storedValues_data();
    void storedValues();
    void utf16File_data();
    void utf16File();
    void failures_data();
    void failures();
    void rowsAreWrittenAtOnce();
    void valuesAreBoundNotSpliced();
    void unpostedRowIsDiscardedOnClose();
    void rowDeletedElsewhereIsReported();
    void writesOnlyTheRowAsRead_data();
    void writesOnlyTheRowAsRead();
    void connectionFailures_data();
    void connectionFailures();
    void queryOpensClosedConnection();
    void databaseIsNotInheritedByChildren();
    void anotherProcessLock_data();
    void anotherProcessLock();
    void unwritableDatabase_data();
    void unwritableDatabase();
    void replacedDatabase_data();
    void replacedDatabase();
    void openQuery();
    void reopenedRows_data();
    void reopenedRows();
    void openQueryFailure_data();
    void openQueryFailure();
    void runHistoryKeepsTheLatest();
    void runHistoryOfAnEarlierVersion();

private:
    // Adds rows named name, or "p0", "p1" … when no name is given.
    void addRows(int rows, const QString &name = QString());

    std::unique_ptr<TestDatabase> m_database;
    std::unique_ptr<Connection> m_connection;
    std::unique_ptr<Query> m_query;
    RecordingPrompter m_prompter;
    std::unique_ptr<ScopedPrompter> m_prompterInForce;
};

void TestDataSet::init()
{
    m_database = std::make_unique<TestDatabase>();
    m_connection = std::make_unique<Connection>(m_database->path());
    m_query = std::make_unique<Query>(QStringLiteral("ADOQueryTemp"));
    m_query->setConnection(m_connection.get());
    m_prompter = RecordingPrompter();
    m_prompterInForce = std::make_unique<ScopedPrompter>(m_prompter);
}

void TestDataSet::cleanup()
{
    m_prompterInForce.reset();
    m_query.reset();
    m_connection.reset();
    m_database.reset();
}

void TestDataSet::addRows(int rows, const QString &name)
{
    QList<TestDatabase::Entry> entries;
    for (int i = 0; i < rows; ++i)
        entries.append({name.isNull() ? QStringLiteral("p%1").arg(i) : name, QString(), 1, 1});
    m_database->addEntries(entries);
}

void TestDataSet::endOfData_data()
{
    QTest::addColumn<int>("rows");
    // n = next, p = prior, f = first, r = reopen, or a signed distance to move by.
    QTest::addColumn<QString>("moves");
    QTest::addColumn<bool>("eof");
    QTest::addColumn<int>("recNo");

    QTest::newRow("empty result opens at end") << 0 << "" << true << 0;
    QTest::newRow("rows open on the first") << 3 << "" << false << 0;
    QTest::newRow("next onto the last row") << 3 << "n n" << false << 2;
    QTest::newRow("next from the last row sets it") << 3 << "n n n" << true << 2;
    QTest::newRow("next while set does nothing") << 3 << "n n n n n" << true << 2;
    QTest::newRow("first clears it") << 3 << "n n n f" << false << 0;
    QTest::newRow("prior clears it") << 3 << "n n n p" << false << 1;
    QTest::newRow("a move back clears it") << 3 << "n n n -2" << false << 0;
    QTest::newRow("a move by zero keeps it") << 3 << "n n n 0" << true << 2;
    QTest::newRow("a move by zero keeps it clear") << 3 << "n 0" << false << 1;
    QTest::newRow("a long move forward stops on the last") << 3 << "+7" << true << 2;
    QTest::newRow("a move forward onto the last") << 3 << "+2" << false << 2;
    QTest::newRow("a move back past the first") << 3 << "n -5" << false << 0;
    QTest::newRow("reopen with rows clears it") << 3 << "n n n r" << false << 0;
    QTest::newRow("single row: next sets it") << 1 << "n" << true << 0;
    QTest::newRow("empty: no move clears it") << 0 << "n f p -1 +1" << true << 0;
}

void TestDataSet::endOfData()
{
    QFETCH(int, rows);
    QFETCH(QString, moves);
    addRows(rows);
    m_query->sql() = QStringList {listSql};
    m_query->open();
    for (const QString &move : moves.split(u' ', Qt::SkipEmptyParts)) {
        if (move == u"n")
            m_query->next();
        else if (move == u"p")
            m_query->prior();
        else if (move == u"f")
            m_query->first();
        else if (move == u"r")
            m_query->close(), m_query->open();
        else
            m_query->moveBy(move.toInt());
    }
    QTEST(m_query->eof(), "eof");
    QTEST(m_query->recNo(), "recNo");
}

void TestDataSet::recordCount_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("posted"); // rows posted through the query before it is counted
    QTest::addColumn<int>("count");

    QTest::newRow("empty table") << 0 << "" << 0 << 0;
    QTest::newRow("one row") << 1 << "" << 0 << 1;
    QTest::newRow("many rows") << 250 << "" << 0 << 250;
    QTest::newRow("an existing key") << 5 << " Where ProgramIndex = 3" << 0 << 1;
    QTest::newRow("a key that no longer exists") << 5 << " Where ProgramIndex = 99" << 0 << 0;
    QTest::newRow("posted to an empty table") << 0 << "" << 1 << 1;
    QTest::newRow("posted to one row") << 1 << "" << 1 << 2;
    QTest::newRow("posted to many rows") << 250 << "" << 2 << 252;
    QTest::newRow("posted outside the keyed rows") << 5 << " Where ProgramIndex = 3" << 1 << 2;
}

void TestDataSet::recordCount()
{
    QFETCH(int, rows);
    QFETCH(QString, where);
    QFETCH(int, posted);
    addRows(rows);
    QVERIFY(OpenQuery(m_query.get(), listSql + where, QStringLiteral("数据库打开失败")));
    for (int i = 0; i < posted; ++i) {
        m_query->insert();
        m_query->fieldByName(u"ProgramName"_s).setAsString(u"new%1"_s.arg(i));
        m_query->post();
    }
    QTEST(m_query->recordCount(), "count");
    QVERIFY(m_prompter.messages.isEmpty());
    if (posted > 0) {
        // The cursor stays on the last row posted, wherever the result puts it.
        QCOMPARE(m_query->recNo(), m_query->recordCount() - 1);
        QCOMPARE(m_query->fieldByName(u"ProgramName"_s).asString(), u"new%1"_s.arg(posted - 1));
        m_query->first();
        QCOMPARE(m_query->fieldByName(u"ProgramName"_s).asString(),
                 rows > 0 && where.isEmpty() ? u"p0"_s
                     : where.isEmpty()       ? u"new0"_s
                                             : u"p2"_s);
    }
}

void TestDataSet::integerText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored"); // "" when the text is refused
    QTest::addColumn<QString>("declared"); // the run time column's declared type

    QTest::newRow("decimal") << "42"
                             << "42"
                             << "INTEGER";
    QTest::newRow("leading spaces") << "   42"
                                    << "42"
                                    << "INTEGER";
    QTest::newRow("minus") << "-7"
                           << "-7"
                           << "INTEGER";
    QTest::newRow("plus") << "+7"
                          << "7"
                          << "INTEGER";
    QTest::newRow("leading zeros") << "007"
                                   << "7"
                                   << "INTEGER";
    QTest::newRow("largest") << "2147483647"
                             << "2147483647"
                             << "INTEGER";
    QTest::newRow("smallest") << "-2147483648"
                              << "-2147483648"
                              << "INTEGER";
    QTest::newRow("dollar hex") << "$1F"
                                << "31"
                                << "INTEGER";
    QTest::newRow("x hex") << "x1f"
                           << "31"
                           << "INTEGER";
    QTest::newRow("X hex") << "X1F"
                           << "31"
                           << "INTEGER";
    QTest::newRow("0x hex") << "0x10"
                            << "16"
                            << "INTEGER";
    QTest::newRow("0X hex") << "0X10"
                            << "16"
                            << "INTEGER";
    QTest::newRow("eight F wraps to -1") << "$FFFFFFFF"
                                         << "-1"
                                         << "INTEGER";
    QTest::newRow("hex top bit wraps") << "0x80000000"
                                       << "-2147483648"
                                       << "INTEGER";
    QTest::newRow("negative hex") << "-$10"
                                  << "-16"
                                  << "INTEGER";
    QTest::newRow("hex with leading zeros") << "$000000001"
                                            << "1"
                                            << "INTEGER";
    QTest::newRow("empty text stores NULL") << ""
                                            << "NULL"
                                            << "INTEGER";

    QTest::newRow("letters") << "abc"
                             << ""
                             << "INTEGER";
    QTest::newRow("above the range") << "2147483648"
                                     << ""
                                     << "INTEGER";
    QTest::newRow("below the range") << "-2147483649"
                                     << ""
                                     << "INTEGER";
    QTest::newRow("hex beyond 32 bits") << "$100000000"
                                        << ""
                                        << "INTEGER";
    QTest::newRow("one blank") << " "
                               << ""
                               << "INTEGER";
    QTest::newRow("blanks only") << "    "
                                 << ""
                                 << "INTEGER";
    QTest::newRow("sign alone") << "-"
                                << ""
                                << "INTEGER";
    QTest::newRow("plus alone") << "+"
                                << ""
                                << "INTEGER";
    QTest::newRow("trailing blank") << "12 "
                                    << ""
                                    << "INTEGER";
    QTest::newRow("inner blank") << "1 2"
                                 << ""
                                 << "INTEGER";
    QTest::newRow("blank after sign") << "- 5"
                                      << ""
                                      << "INTEGER";
    QTest::newRow("two signs") << "+-1"
                               << ""
                               << "INTEGER";
    QTest::newRow("fraction") << "1.5"
                              << ""
                              << "INTEGER";
    QTest::newRow("exponent") << "1e3"
                              << ""
                              << "INTEGER";
    QTest::newRow("dollar alone") << "$"
                                  << ""
                                  << "INTEGER";
    QTest::newRow("0x alone") << "0x"
                              << ""
                              << "INTEGER";
    QTest::newRow("hex digit in decimal") << "12a"
                                          << ""
                                          << "INTEGER";
    QTest::newRow("bad hex digit") << "$1G"
                                   << ""
                                   << "INTEGER";
    QTest::newRow("leading tab") << "\t1"
                                 << ""
                                 << "INTEGER";
    QTest::newRow("full-width digits") << "１２"
                                       << ""
                                       << "INTEGER";
    QTest::newRow("quote in text") << "1'; DROP TABLE QZProgram; --"
                                   << ""
                                   << "INTEGER";

    // Columns made by other tools: SQLite's affinity decides, as it does for the values.
    QTest::newRow("NUMERIC refuses letters") << "abc"
                                             << ""
                                             << "NUMERIC";
    QTest::newRow("NUMBER takes hex") << "$10"
                                      << "16"
                                      << "NUMBER";
    QTest::newRow("DECIMAL refuses a fraction") << "1.5"
                                                << ""
                                                << "DECIMAL(10,0)";
    QTest::newRow("BOOLEAN refuses words") << "true"
                                           << ""
                                           << "BOOLEAN";
    QTest::newRow("BIGINT keeps the 32-bit range") << "2147483648"
                                                   << ""
                                                   << "BIGINT";
    QTest::newRow("DATETIME is numeric") << "abc"
                                         << ""
                                         << "DATETIME";
    QTest::newRow("NUMERIC empty text stores NULL") << ""
                                                    << "NULL"
                                                    << "NUMERIC";
    QTest::newRow("no declared type keeps text") << "abc"
                                                 << "abc"
                                                 << "";
    QTest::newRow("VARCHAR keeps text as typed") << "007"
                                                 << "007"
                                                 << "VARCHAR(10)";
    QTest::newRow("DOUBLE is not an integer column") << "1.5"
                                                     << "1.5"
                                                     << "DOUBLE";
}

void TestDataSet::integerText()
{
    QFETCH(QString, text);
    QFETCH(QString, stored);
    QFETCH(QString, declared);
    if (declared != u"INTEGER")
        m_database->exec(QStringLiteral("DROP TABLE QZProgram; CREATE TABLE QZProgram ("
                                        "ProgramIndex INTEGER PRIMARY KEY AUTOINCREMENT, "
                                        "ProgramName TEXT, ProgramParameter TEXT, ProgramTime %1, "
                                        "ProgramCount INTEGER)")
                             .arg(declared));
    m_query->sql() = QStringList {listSql};
    m_query->open();
    m_query->insert();
    m_query->fieldByName(QStringLiteral("ProgramName")).setAsString(QStringLiteral("prog"));
    const QString error = errorOf([&] {
        m_query->fieldByName(QStringLiteral("ProgramTime")).setAsString(text);
        m_query->post();
    });
    if (stored.isEmpty()) {
        QCOMPARE(
            error,
            QStringLiteral("'%1' is not a valid integer value for field 'ProgramTime'").arg(text));
        QCOMPARE(m_query->state(), Query::State::Insert);
        m_query->close();
        QCOMPARE(m_database->rowCount(), 0);
    } else {
        QCOMPARE(error, QString());
        QCOMPARE(m_database->rows(),
                 (QList<QStringList> {{QStringLiteral("1"), QStringLiteral("prog"),
                                       QStringLiteral("NULL"), stored, QStringLiteral("NULL")}}));
        bool whole = true;
        const qint32 expected = stored == u"NULL" ? 0 : stored.toInt(&whole);
        const QString readError = errorOf(
            [&] { QCOMPARE(m_query->fieldByName(u"ProgramTime"_s).asInteger(), expected); });
        QCOMPARE(readError,
                 whole
                     ? QString()
                     : u"'%1' is not a valid integer value for field 'ProgramTime'"_s.arg(stored));
    }
}

void TestDataSet::readingValues()
{
    m_database->addEntry(QStringLiteral("a"), QVariant(), QVariant(), 3);
    m_database->exec(QStringLiteral("INSERT INTO QZProgram (ProgramName, ProgramTime) "
                                    "VALUES ('b', 'abc')"));
    m_query->sql() = QStringList {listSql};
    m_query->open();
    Field time = m_query->fieldByName(QStringLiteral("ProgramTime"));
    QVERIFY(time.isNull());
    QCOMPARE(time.asString(), QString());
    QCOMPARE(time.asInteger(), 0);
    QCOMPARE(m_query->fieldByName(QStringLiteral("ProgramParameter")).asString(), QString());
    QCOMPARE(m_query->fieldByName(QStringLiteral("ProgramCount")).asString(), QStringLiteral("3"));
    QCOMPARE(m_query->fieldByName(QStringLiteral("ProgramIndex")).asInteger(), 1);
    // The other process stored a text the program could never have stored itself.
    m_query->next();
    QCOMPARE(errorOf([&] { m_query->fieldByName(QStringLiteral("ProgramTime")).asInteger(); }),
             QStringLiteral("'abc' is not a valid integer value for field 'ProgramTime'"));
}

void TestDataSet::storedValues_data()
{
    QTest::addColumn<QString>("declared");
    QTest::addColumn<QString>("value"); // an SQL expression
    QTest::addColumn<bool>("null");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("integer"); // the number, or "error"
    QTest::addColumn<QString>("large"); // the 64-bit number, or "error"

    const QString gbk = u"CAST(X'B3CCD0F2' AS TEXT)"_s;
    QTest::newRow("code page 936 bytes in a text column")
        << "TEXT" << gbk << false << "\ufffd" << QByteArray("\xB3\xCC\xD0\xF2") << "error"
        << "error";
    QTest::newRow("code page 936 bytes in a column without type")
        << "" << gbk << false << "\ufffd" << QByteArray("\xB3\xCC\xD0\xF2") << "error"
        << "error";
    QTest::newRow("empty text in an integer column reads as NULL")
        << "INTEGER"
        << "''" << true << "" << QByteArray() << "0"
        << "0";
    QTest::newRow("empty text in a numeric column reads as NULL")
        << "NUMERIC"
        << "''" << true << "" << QByteArray() << "0"
        << "0";
    QTest::newRow("empty text in a text column stays text")
        << "TEXT"
        << "''" << false << "" << QByteArray() << "error"
        << "error";
    QTest::newRow("integer in a column without type")
        << ""
        << "42" << false << "42" << QByteArray("42") << "42"
        << "42";
    QTest::newRow("blob in a text column")
        << "TEXT"
        << "X'610062'" << false << u"a"_s + QChar(0) + u"b"_s << QByteArray("a\0b", 3) << "error"
        << "error";
    // Texts that are ASCII only in part: the UTF-8 beyond, or before, a whole word of ASCII.
    QTest::newRow("UTF-8 after eight ASCII bytes")
        << "TEXT"
        << "'/usr/bin/程序'" << false << "/usr/bin/程序" << QByteArray("/usr/bin/程序") << "error"
        << "error";
    QTest::newRow("UTF-8 before ASCII") << "TEXT"
                                        << "'程序 --option value'" << false << "程序 --option value"
                                        << QByteArray("程序 --option value") << "error"
                                        << "error";
    QTest::newRow("control characters kept")
        << "TEXT"
        << "'a' || char(9) || 'b' || char(10) || char(1)" << false << "a\tb\n\x01"
        << QByteArray("a\tb\n\x01") << "error"
        << "error";
    QTest::newRow("a whole real in a column without type")
        << ""
        << "30.0" << false << "30" << QByteArray("30") << "30"
        << "30";
    QTest::newRow("a key above 2^31")
        << "INTEGER"
        << "3000000000" << false << "3000000000" << QByteArray("3000000000") << "error"
        << "3000000000";
    QTest::newRow("a whole real above 2^31 in a column without type")
        << ""
        << "3000000000.0" << false << "3000000000" << QByteArray("3000000000") << "error"
        << "3000000000";
    QTest::newRow("the smallest 64-bit number")
        << "INTEGER"
        << "-9223372036854775808" << false << "-9223372036854775808"
        << QByteArray("-9223372036854775808") << "error"
        << "-9223372036854775808";
    QTest::newRow("zero") << "INTEGER"
                          << "0" << false << "0" << QByteArray("0") << "0"
                          << "0";
    QTest::newRow("the largest 64-bit number as text")
        << "TEXT"
        << "'9223372036854775807'" << false << "9223372036854775807"
        << QByteArray("9223372036854775807") << "error"
        << "9223372036854775807";
    QTest::newRow("one above the largest 64-bit number as text")
        << "TEXT"
        << "'9223372036854775808'" << false << "9223372036854775808"
        << QByteArray("9223372036854775808") << "error"
        << "error";
    QTest::newRow("a real of 2^63") << ""
                                    << "9223372036854775808.0" << false << "9.22337203685478e+18"
                                    << QByteArray("9.22337203685478e+18") << "error"
                                    << "error";
}

void TestDataSet::storedValues()
{
    QFETCH(QString, declared);
    QFETCH(QString, value);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, integer);
    m_database->exec(u"DROP TABLE QZProgram; CREATE TABLE QZProgram (ProgramIndex INTEGER "
                     "PRIMARY KEY, ProgramName TEXT, ProgramParameter TEXT, Stored %1, "
                     "ProgramTime INTEGER, ProgramCount INTEGER); "
                     "INSERT INTO QZProgram (Stored) VALUES (%2)"_s.arg(declared, value));
    m_query->sql() = QStringList {listSql};
    m_query->open();
    const Field field = m_query->fieldByName(u"Stored"_s);
    QTEST(field.isNull(), "null");
    if (text.contains(QChar::ReplacementCharacter))
        QVERIFY2(field.asString().contains(QChar::ReplacementCharacter),
                 qPrintable(field.asString()));
    else
        QCOMPARE(field.asString(), text);
    QCOMPARE(field.asBytes(), bytes);
    QFETCH(QString, large);
    const QString notAnInteger =
        u"'%1' is not a valid integer value for field 'Stored'"_s.arg(field.asString());
    const QString read = errorOf([&] { QCOMPARE(QString::number(field.asInteger()), integer); });
    QCOMPARE(read, integer == u"error" ? notAnInteger : QString());
    const QString readLarge =
        errorOf([&] { QCOMPARE(QString::number(field.asLargeInt()), large); });
    QCOMPARE(readLarge, large == u"error" ? notAnInteger : QString());
}

void TestDataSet::utf16File_data()
{
    QTest::addColumn<QString>("encoding");

    QTest::newRow("UTF-16 little-endian") << "UTF-16le";
    QTest::newRow("UTF-16 big-endian") << "UTF-16be";
}

// A file that another tool made in UTF-16 reads as the same texts, each with its UTF-8 bytes.
void TestDataSet::utf16File()
{
    QFETCH(QString, encoding);
    QVERIFY(QFile::remove(m_database->path()));
    m_database->exec(u"PRAGMA encoding = '%1'; CREATE TABLE QZProgram (ProgramIndex INTEGER "
                     "PRIMARY KEY, ProgramName TEXT, ProgramParameter TEXT, ProgramTime INTEGER, "
                     "ProgramCount INTEGER); INSERT INTO QZProgram VALUES (1, '/usr/bin/程序', "
                     "'--option value-1 --verbose', '', 30)"_s.arg(encoding));
    m_query->sql() = QStringList {listSql};
    m_query->open();
    QCOMPARE(m_query->recordCount(), 1);
    const Field name = m_query->fieldByName(u"ProgramName"_s);
    QCOMPARE(name.asString(), u"/usr/bin/程序"_s);
    QCOMPARE(name.asBytes(), u"/usr/bin/程序"_s.toUtf8());
    QCOMPARE(m_query->fieldByName(u"ProgramParameter"_s).asBytes(),
             QByteArray("--option value-1 --verbose"));
    // An empty text in an integer column, as in a file of UTF-8.
    QVERIFY(m_query->fieldByName(u"ProgramTime"_s).isNull());
    QCOMPARE(m_query->fieldByName(u"ProgramCount"_s).asInteger(), 30);
}

void TestDataSet::failures_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("error");

    const QString closed =
        QStringLiteral("ADOQueryTemp: Cannot perform this operation on a closed dataset");
    const QString empty =
        QStringLiteral("ADOQueryTemp: Cannot perform this operation on an empty dataset");
    for (const char *operation :
         {"first", "next", "recordCount", "fieldByName", "insert", "edit", "post", "delete"})
        QTest::addRow("closed: %s", operation) << false << 1 << operation << closed;
    QTest::newRow("empty: delete") << true << 0 << "delete" << empty;
    QTest::newRow("empty: edit") << true << 0 << "edit" << empty;
    QTest::newRow("unknown field")
        << true << 1 << "fieldByName"
        << QStringLiteral("ADOQueryTemp: Field 'ProgramColour' not found");
    QTest::newRow("set a field while browsing")
        << true << 1 << "setAsString"
        << QStringLiteral("ADOQueryTemp: Dataset not in edit or insert mode (setting field "
                          "'ProgramName')");
}

void TestDataSet::failures()
{
    QFETCH(bool, open);
    QFETCH(int, rows);
    QFETCH(QString, operation);
    addRows(rows, QStringLiteral("p"));
    m_query->sql() = QStringList {listSql};
    if (open)
        m_query->open();
    const QString error = errorOf([&] {
        if (operation == u"first")
            m_query->first();
        else if (operation == u"next")
            m_query->next();
        else if (operation == u"recordCount")
            m_query->recordCount();
        else if (operation == u"fieldByName")
            m_query->fieldByName(open ? QStringLiteral("ProgramColour")
                                      : QStringLiteral("ProgramName"));
        else if (operation == u"insert")
            m_query->insert();
        else if (operation == u"edit")
            m_query->edit();
        else if (operation == u"post")
            m_query->post();
        else if (operation == u"delete")
            m_query->deleteRecord();
        else if (operation == u"setAsString")
            m_query->fieldByName(QStringLiteral("ProgramName")).setAsString(QStringLiteral("x"));
    });
    QTEST(error, "error");
    QCOMPARE(m_database->rowCount(), rows);
}

void TestDataSet::rowsAreWrittenAtOnce()
{
    m_database->addEntry(QStringLiteral("first"), QString(), 1, 1);
    m_query->sql() = QStringList {listSql};
    m_query->open();

    m_query->insert();
    m_query->fieldByName(QStringLiteral("ProgramName")).setAsString(QStringLiteral("新程序"));
    m_query->fieldByName(QStringLiteral("ProgramCount")).setAsString(QStringLiteral("3"));
    m_query->post();
    QCOMPARE(m_query->recordCount(), 2);
    QCOMPARE(m_query->fieldByName(QStringLiteral("ProgramIndex")).asInteger(), 2);
    QCOMPARE(m_database->rows().at(1),
             (QStringList {QStringLiteral("2"), QStringLiteral("新程序"), QStringLiteral("NULL"),
                           QStringLiteral("NULL"), QStringLiteral("3")}));

    m_query->first();
    m_query->edit();
    m_query->fieldByName(QStringLiteral("ProgramParameter")).setAsString(QStringLiteral("-v"));
    m_query->post();
    QCOMPARE(m_database->rows().at(0).at(2), QStringLiteral("-v"));

    m_query->deleteRecord();
    QCOMPARE(m_database->rows(), (QList<QStringList> {m_database->rows().at(0)}));
    QCOMPARE(m_database->rows().at(0).at(0), QStringLiteral("2"));
    QCOMPARE(m_query->recordCount(), 1);
    QCOMPARE(m_query->fieldByName(QStringLiteral("ProgramName")).asString(),
             QStringLiteral("新程序"));
}

void TestDataSet::valuesAreBoundNotSpliced()
{
    const QString hostile = QStringLiteral("x'); DROP TABLE QZProgram; --");
    m_query->sql() = QStringList {listSql};
    m_query->open();
    m_query->insert();
    m_query->fieldByName(QStringLiteral("ProgramName")).setAsString(hostile);
    m_query->fieldByName(QStringLiteral("ProgramParameter")).setAsString(QStringLiteral("\"a b\""));
    m_query->post();
    QCOMPARE(m_database->rows().at(0).at(1), hostile);
    QCOMPARE(m_database->rows().at(0).at(2), QStringLiteral("\"a b\""));
}

void TestDataSet::unpostedRowIsDiscardedOnClose()
{
    m_query->sql() = QStringList {listSql};
    m_query->open();
    m_query->insert();
    m_query->fieldByName(QStringLiteral("ProgramName")).setAsString(QStringLiteral("half made"));
    m_query->close();
    m_query->open();
    QCOMPARE(m_query->recordCount(), 0);
    QCOMPARE(m_database->rowCount(), 0);
}

void TestDataSet::rowDeletedElsewhereIsReported()
{
    m_database->addEntry(QStringLiteral("gone"), QString(), 1, 1);
    m_query->sql() = QStringList {listSql};
    m_query->open();
    m_database->exec(QStringLiteral("DELETE FROM QZProgram"));
    m_query->edit();
    m_query->fieldByName(QStringLiteral("ProgramName")).setAsString(QStringLiteral("back"));
    QCOMPARE(errorOf([&] { m_query->post(); }), changedElsewhere);
    m_query->cancel();
    QCOMPARE(errorOf([&] { m_query->deleteRecord(); }), changedElsewhere);
    QCOMPARE(m_database->rowCount(), 0);
}

void TestDataSet::writesOnlyTheRowAsRead_data()
{
    QTest::addColumn<QString>("declared"); // the name column's declared type
    QTest::addColumn<QString>("stored"); // the name, an SQL expression
    QTest::addColumn<QString>("meanwhile"); // what another program does before the write
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("written");

    const QString setName = u"UPDATE QZProgram SET ProgramName = "_s;
    const struct
    {
        const char *name;
        QString declared;
        QString stored;
        QString meanwhile;
        bool written;
    } cases[] = {
        {"unchanged text", u"TEXT"_s, u"'abc'"_s, QString(), true},
        {"unchanged code page 936 bytes", u"TEXT"_s, u"CAST(X'B3CCD0F2' AS TEXT)"_s, QString(),
         true},
        {"unchanged blob", QString(), u"X'00FF'"_s, QString(), true},
        {"unchanged real", u"REAL"_s, u"1.5"_s, QString(), true},
        {"unchanged NULL", u"TEXT"_s, u"NULL"_s, QString(), true},
        {"unchanged empty text in an integer column", u"INTEGER"_s, u"''"_s, QString(), true},
        {"another column changed", u"TEXT"_s, u"'abc'"_s,
         u"UPDATE QZProgram SET ProgramTime = 99"_s, false},
        {"case changed under NOCASE", u"TEXT COLLATE NOCASE"_s, u"'abc'"_s, setName + u"'ABC'"_s,
         false},
        {"a blank added under RTRIM", u"TEXT COLLATE RTRIM"_s, u"'abc'"_s, setName + u"'abc '"_s,
         false},
        {"a number became its text", QString(), u"5"_s, setName + u"'5'"_s, false},
        {"a whole number became a real", QString(), u"1"_s, setName + u"1.0"_s, false},
        {"a text became the same bytes as a blob", u"TEXT"_s, u"'a'"_s, setName + u"X'61'"_s,
         false},
        {"a zero byte added", u"TEXT"_s, u"'ab'"_s, setName + u"CAST(X'610062' AS TEXT)"_s, false},
        {"NULL became an empty text", u"TEXT"_s, u"NULL"_s, setName + u"''"_s, false},
        {"row deleted", u"TEXT"_s, u"'abc'"_s, u"DELETE FROM QZProgram"_s, false},
        {"key taken by a new row", u"TEXT"_s, u"'abc'"_s,
         u"DELETE FROM QZProgram; INSERT INTO QZProgram (ProgramIndex, ProgramName, "
         "ProgramParameter, ProgramTime, ProgramCount) VALUES (1, 'other', 'p', 1, 1)"_s,
         false},
    };
    for (const auto &row : cases) {
        for (const char *operation : {"edit", "delete"})
            QTest::addRow("%s: %s", row.name, operation)
                << row.declared << row.stored << row.meanwhile << operation << row.written;
    }
}

// A row is changed or deleted only while it holds exactly what the query read: the same type and
// bytes in every column, whatever the columns' affinity or collation.
void TestDataSet::writesOnlyTheRowAsRead()
{
    QFETCH(QString, declared);
    QFETCH(QString, stored);
    QFETCH(QString, meanwhile);
    QFETCH(QString, operation);
    QFETCH(bool, written);
    m_database->exec(u"DROP TABLE QZProgram; CREATE TABLE QZProgram (ProgramIndex INTEGER "
                     "PRIMARY KEY, ProgramName %1, ProgramParameter TEXT, ProgramTime INTEGER, "
                     "ProgramCount INTEGER); INSERT INTO QZProgram VALUES (1, %2, 'p', 1, 1)"_s.arg(
                         declared, stored));
    m_query->sql() = QStringList {listSql};
    m_query->open();
    if (!meanwhile.isEmpty())
        m_database->exec(meanwhile);
    QList<QStringList> expected = m_database->storedRows();

    bool stale = false;
    const QString error = errorOf([&] {
        try {
            if (operation == u"edit") {
                m_query->edit();
                m_query->fieldByName(u"ProgramParameter"_s).setAsString(u"new"_s);
                m_query->post();
            } else {
                m_query->deleteRecord();
            }
        } catch (const StaleRowError &) {
            stale = true;
            throw;
        }
    });
    QCOMPARE(error, written ? QString() : changedElsewhere);
    QCOMPARE(stale, !written);
    if (written && operation == u"edit")
        expected[0][2] = u"text:6E6577"_s;
    else if (written)
        expected.clear();
    QCOMPARE(m_database->storedRows(), expected);
}

void TestDataSet::connectionFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("messagePart");

    QTest::newRow("missing file") << "missing"
                                  << "Could not find file";
    QTest::newRow("not a database") << "garbage"
                                    << "is not an SQLite database";
    QTest::newRow("a folder") << "folder"
                              << "Cannot open file";
    QTest::newRow("unknown provider") << "provider"
                                      << "Provider 'Microsoft.Jet.OLEDB.4.0'";
    QTest::newRow("no data source") << "nosource"
                                    << "names no Data Source";
}

void TestDataSet::connectionFailures()
{
    QFETCH(QString, kind);
    QFETCH(QString, messagePart);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ProgramRun.mdb"));
    QString connectionString = ConnectionString::forPath(path);
    if (kind == u"garbage") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray garbage =
            QByteArray("Standard Jet DB\0\0\0 not ours at all", 35).repeated(200);
        QCOMPARE(file.write(garbage), garbage.size());
    } else if (kind == u"folder") {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("ProgramRun.mdb")));
    } else if (kind == u"provider") {
        connectionString.replace(QStringLiteral("SQLite3"),
                                 QStringLiteral("Microsoft.Jet.OLEDB.4.0"));
    } else if (kind == u"nosource") {
        connectionString = QStringLiteral("Provider=SQLite3;Persist Security Info=False");
    }
    // The data module says so once it is made, and every open after that again.
    TShareDataModule module(connectionString);
    QCOMPARE(m_prompter.errors.size(), 1);
    QVERIFY2(m_prompter.errors.first().text.contains(messagePart),
             qPrintable(m_prompter.errors.first().text));
    Connection &connection = *module.ADOConnection1;
    QString text;
    try {
        connection.open();
    } catch (const ProviderError &error) {
        text = errorReportText(error);
    }
    QVERIFY2(text.contains(messagePart), qPrintable(text));
    QVERIFY(!connection.isConnected());
    if (kind == u"missing")
        QVERIFY2(!QFileInfo::exists(path), "opening must never create the database");
}

void TestDataSet::queryOpensClosedConnection()
{
    m_database->addEntry(QStringLiteral("a"), QString(), 1, 1);
    QVERIFY(!m_connection->isConnected());
    m_query->sql() = QStringList {listSql};
    m_query->open();
    QVERIFY(m_connection->isConnected());
    QCOMPARE(m_query->recordCount(), 1);
}

void TestDataSet::databaseIsNotInheritedByChildren()
{
    m_connection->open();
    m_query->sql() = QStringList {listSql};
    m_query->open();
    const QString target = QFileInfo(m_database->path()).canonicalFilePath();
    int found = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &entry : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        if (QFileInfo(fds.filePath(entry)).symLinkTarget() != target)
            continue;
        ++found;
        const int flags = fcntl(entry.toInt(), F_GETFD);
        QVERIFY2(flags & FD_CLOEXEC, "the database descriptor must be close-on-exec");
    }
    QVERIFY(found > 0);
}

void TestDataSet::anotherProcessLock_data()
{
    QTest::addColumn<QString>("held"); // the other program's SQL that holds the file, or "moment"
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("busy");

    QTest::newRow("a write lock for a moment is waited for") << "moment"
                                                             << "insert" << false;
    const QString exclusive = u"BEGIN EXCLUSIVE"_s;
    for (const char *operation : {"first open", "reopen", "insert", "edit", "delete"})
        QTest::addRow("held: %s", operation) << exclusive << operation << true;
    QTest::newRow("held: the rows read before stay readable") << exclusive << "read" << false;
    // The change is made but cannot be committed while the other program keeps reading.
    const QString reading = u"BEGIN; SELECT count(*) FROM QZProgram"_s;
    for (const char *operation : {"insert", "edit", "delete"})
        QTest::addRow("read at length: %s", operation) << reading << operation << true;
}

// Another program holds the file: a statement waits for it a quarter of a second at most, then
// fails with a DatabaseBusyError having written nothing and holding nothing; the same query
// works once the file is free.
void TestDataSet::anotherProcessLock()
{
    QFETCH(QString, held);
    QFETCH(QString, operation);
    QFETCH(bool, busy);
    addRows(3);
    m_query->sql() = QStringList {listSql};
    if (operation != u"first open") {
        m_query->open();
        QCOMPARE(m_query->recordCount(), 3);
    }
    if (operation == u"reopen")
        m_query->close();
    const QList<QStringList> before = m_database->rows();
    auto run = [&] {
        if (operation == u"first open" || operation == u"reopen") {
            m_query->open();
        } else if (operation == u"read") {
            m_query->next();
            QCOMPARE(m_query->fieldByName(u"ProgramName"_s).asString(), u"p1"_s);
            QCOMPARE(m_query->recordCount(), 3);
        } else if (operation == u"insert") {
            if (m_query->state() != Query::State::Insert) {
                m_query->insert();
                m_query->fieldByName(u"ProgramName"_s).setAsString(u"mine"_s);
            }
            m_query->post();
        } else if (operation == u"edit") {
            m_query->edit();
            m_query->fieldByName(u"ProgramName"_s).setAsString(u"mine"_s);
            m_query->post();
        } else {
            m_query->deleteRecord();
        }
    };

    std::unique_ptr<HeldFile> holder;
    std::atomic<bool> locked = false;
    std::thread moment;
    if (held == u"moment") {
        // Another writer holds the file's write lock for a moment, as a second copy would.
        moment = std::thread([&] {
            const HeldFile writer(m_database->path(),
                                  u"BEGIN IMMEDIATE; INSERT INTO QZProgram (ProgramName) "
                                  "VALUES ('other')"_s);
            locked = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        });
        while (!locked)
            std::this_thread::yield();
    } else {
        holder = m_database->hold(held);
    }
    QElapsedTimer timer;
    timer.start();
    bool refused = false;
    QString error;
    try {
        run();
    } catch (const DatabaseBusyError &failure) {
        refused = true;
        error = failure.message();
    } catch (const DatabaseError &failure) {
        error = failure.message();
    }
    const qint64 waited = timer.elapsed();
    holder.reset();
    if (moment.joinable())
        moment.join();

    // Only a refused change says that nothing was saved.
    const bool write = operation != u"read" && !operation.endsWith(u"open");
    QCOMPARE(refused, busy);
    QCOMPARE(error, busy ? (write ? inUse : heldUp) : QString());
    if (busy) {
        QVERIFY2(waited < 2000, qPrintable(u"waited %1 ms"_s.arg(waited)));
        QCOMPARE(m_database->rows(), before);
        QCOMPARE(errorOf(run), QString());
    }
    QCOMPARE(m_database->rows() != before, write);
    QVERIFY(m_prompter.messages.isEmpty());
}

void TestDataSet::unwritableDatabase_data()
{
    QTest::addColumn<QString>("barred"); // what this user cannot write: "file" or "folder"
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("reason");

    const QString file = u"The schedule database '@path@' is read-only for this user; the change "
                         "was not saved"_s;
    const QString folder = u"The folder '@folder@' cannot be written by this user, and the "
                           "schedule database there needs it for its journal; the change was not "
                           "saved"_s;
    for (const char *operation : {"insert", "edit", "delete"}) {
        QTest::addRow("read-only file: %s", operation) << "file" << operation << file;
        QTest::addRow("read-only folder: %s", operation) << "folder" << operation << folder;
    }
}

// A file the engine opened read-only, or a folder where it cannot write its journal, is named as
// such; once the permission is fixed the same connection writes again.
void TestDataSet::unwritableDatabase()
{
    QFETCH(QString, barred);
    QFETCH(QString, operation);
    QFETCH(QString, reason);
    m_database->addEntry(u"first"_s, QString(), 1, 1);
    const QString folder = QFileInfo(m_database->path()).absolutePath();
    auto permit = [&](bool writable) {
        const auto all = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        const auto write = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
        const auto enter = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        const bool fileWritable = writable || barred != u"file";
        const bool folderWritable = writable || barred != u"folder";
        return QFile::setPermissions(m_database->path(), fileWritable ? all | write : all)
            && QFile::setPermissions(folder, folderWritable ? all | write | enter : all | enter);
    };
    QVERIFY(permit(false));
    const auto restore = qScopeGuard([&] { permit(true); });
    auto change = [&] {
        if (operation == u"insert") {
            m_query->insert();
            m_query->fieldByName(u"ProgramName"_s).setAsString(u"second"_s);
            m_query->post();
        } else if (operation == u"edit") {
            m_query->edit();
            m_query->fieldByName(u"ProgramName"_s).setAsString(u"changed"_s);
            m_query->post();
        } else {
            m_query->deleteRecord();
        }
    };

    QList<QStringList> before;
    QString error;
    {
        ScopedOrdinaryUser user;
        m_query->sql() = QStringList {listSql};
        m_query->open();
        error = errorOf(change);
    }
    before = m_database->rows();
    QCOMPARE(
        error,
        QString(reason).replace(u"@path@"_s, m_database->path()).replace(u"@folder@"_s, folder));
    QCOMPARE(before.size(), 1);
    QCOMPARE(before.at(0).at(1), u"first"_s);

    QVERIFY(permit(true));
    {
        ScopedOrdinaryUser user;
        error = operation == u"delete" ? errorOf(change) : errorOf([&] { m_query->post(); });
    }
    QCOMPARE(error, QString());
    const QList<QStringList> after = m_database->rows();
    if (operation == u"insert")
        QCOMPARE(after.value(1).value(1), u"second"_s);
    else if (operation == u"edit")
        QCOMPARE(after.value(0).value(1), u"changed"_s);
    else
        QCOMPARE(after.size(), 0);
}

void TestDataSet::replacedDatabase_data()
{
    QTest::addColumn<bool>("reloadFirst");

    QTest::newRow("the next list load reads the new file") << true;
    QTest::newRow("the next write goes to the new file") << false;
}

// Another tool writes a new file and renames it over the open one.
void TestDataSet::replacedDatabase()
{
    QFETCH(bool, reloadFirst);
    m_database->addEntry(u"old"_s, QString(), 1, 1);
    QVERIFY(OpenQuery(m_query.get(), listSql, u"数据库打开失败"_s));
    TestDatabase replacement;
    replacement.addEntry(u"new"_s, QString(), 2, 2);
    QCOMPARE(std::rename(QFile::encodeName(replacement.path()).constData(),
                         QFile::encodeName(m_database->path()).constData()),
             0);

    if (reloadFirst) {
        QVERIFY(OpenQuery(m_query.get(), listSql, u"数据库打开失败"_s));
        QCOMPARE(m_query->recordCount(), 1);
        QCOMPARE(m_query->fieldByName(u"ProgramName"_s).asString(), u"new"_s);
    }
    m_query->insert();
    m_query->fieldByName(u"ProgramName"_s).setAsString(u"added"_s);
    QCOMPARE(errorOf([&] { m_query->post(); }), QString());
    QCOMPARE(m_database->query(u"SELECT ProgramName FROM QZProgram"_s),
             (QList<QStringList> {{u"new"_s}, {u"added"_s}}));
    QVERIFY(m_prompter.messages.isEmpty());
}

void TestDataSet::openQuery()
{
    m_database->addEntry(QStringLiteral("a"), QString(), 1, 1);
    m_database->addEntry(QStringLiteral("b"), QString(), 1, 1);
    QVERIFY(OpenQuery(m_query.get(), listSql + QStringLiteral(" Where ProgramIndex = 2"),
                      QStringLiteral("记录读入失败")));
    QCOMPARE(m_query->sql(), QStringList {listSql + QStringLiteral(" Where ProgramIndex = 2")});
    QCOMPARE(m_query->recordCount(), 1);
    // Reopening on other SQL replaces the rows and puts the cursor on the first new one.
    QVERIFY(OpenQuery(m_query.get(), listSql, QStringLiteral("数据库打开失败")));
    QCOMPARE(m_query->sql(), QStringList {listSql});
    QCOMPARE(m_query->recordCount(), 2);
    QCOMPARE(m_query->recNo(), 0);
    QVERIFY(!m_query->eof());
    QCOMPARE(m_query->fieldByName(QStringLiteral("ProgramName")).asString(), QStringLiteral("a"));
    QVERIFY(m_prompter.messages.isEmpty());
}

void TestDataSet::reopenedRows_data()
{
    QTest::addColumn<Loads>("loads");

    QTest::newRow("fewer rows, then more") << Loads {{3000, 40}, {10, 40}, {5000, 40}};
    QTest::newRow("a row larger than the memory kept")
        << Loads {{20000, 20}, {3, 300000}, {2000, 20}};
    QTest::newRow("longer rows than before") << Loads {{4000, 10}, {4000, 500}};
}

// A reloaded list writes its rows into the memory of the last load; every value must come back
// whole whether the new rows fit into it or not.
void TestDataSet::reopenedRows()
{
    QFETCH(Loads, loads);
    m_query->sql() = QStringList {listSql};
    for (const auto &[rows, length] : loads) {
        m_database->exec(u"DELETE FROM QZProgram; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                         "SELECT i + 1 FROM n WHERE i < %1) INSERT INTO QZProgram (ProgramName, "
                         "ProgramTime) SELECT i || ':' || substr(replace(hex(zeroblob(%2)), "
                         "'0', 'x'), 1, %2), i FROM n"_s.arg(rows)
                             .arg(length));
        m_query->close();
        m_query->open();
        QCOMPARE(m_query->recordCount(), rows);
        for (int i = 1; !m_query->eof(); ++i, m_query->next()) {
            const QString name = m_query->fieldByName(u"ProgramName"_s).asString();
            QCOMPARE(name, QString::number(i) + u':' + QString(length, u'x'));
            QCOMPARE(m_query->fieldByName(u"ProgramTime"_s).asInteger(), i);
        }
    }
}

void TestDataSet::openQueryFailure_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("breakage");
    QTest::addColumn<QString>("heldText"); // what the caller says of a held file, "" by default
    QTest::addColumn<QString>("says");

    const QString failed = u"数据库打开失败"_s;
    QTest::newRow("bad SQL") << "Select * From NoSuchTable"
                             << ""
                             << "" << failed;
    QTest::newRow("database missing") << listSql << "missing"
                                      << "" << failed;
    QTest::newRow("no SQL text") << ""
                                 << ""
                                 << "" << failed;
    QTest::newRow("file held, to read it") << listSql << "held"
                                           << "" << heldUp;
    QTest::newRow("file held, to change an entry") << listSql << "held" << inUse << inUse;
}

void TestDataSet::openQueryFailure()
{
    QFETCH(QString, sql);
    QFETCH(QString, breakage);
    QFETCH(QString, heldText);
    QFETCH(QString, says);
    m_database->addEntry(QStringLiteral("a"), QString(), 1, 1);
    m_query->sql() = QStringList {listSql};
    m_query->open();
    if (breakage == u"missing") {
        m_connection->close();
        QVERIFY(QFile::remove(m_database->path()));
    }
    const std::unique_ptr<HeldFile> holder = breakage == u"held" ? m_database->hold() : nullptr;
    QVERIFY(heldText.isEmpty() ? !OpenQuery(m_query.get(), sql, u"数据库打开失败"_s)
                               : !OpenQuery(m_query.get(), sql, u"数据库打开失败"_s, heldText));
    QCOMPARE(m_prompter.messages, QStringList {says});
    QVERIFY(m_prompter.errors.isEmpty());
    QVERIFY(!m_query->isActive());
}

// The run history keeps its latest records only, and leaves the schedule alone.
void TestDataSet::runHistoryKeepsTheLatest()
{
    m_database->addEntry(QStringLiteral("a"), QString(), 1, 1);
    const QList<QStringList> schedule = m_database->rows();
    QCOMPARE(RunHistory::read(*m_connection).size(), size_t(0)); // no history yet
    RunRecord record;
    record.entry = QStringLiteral("1");
    record.program = "a";
    QCOMPARE(RunHistory::append(*m_connection, record), 1);
    // As many more as make one short of the limit, written behind the store's back.
    m_database->exec(QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
        "INSERT INTO QZRunLog (RunIndex, ProgramIndex, Started, Lifetime, Ending) "
        "SELECT i, 1, i, 0, 'at-time' FROM n WHERE i < 10000"));
    for (const qint64 expected : {10000, 10001, 10002})
        QCOMPARE(RunHistory::append(*m_connection, record), expected);
    const std::vector<RunRecord> kept = RunHistory::read(*m_connection);
    QCOMPARE(kept.size(), size_t(RunHistory::limit));
    QCOMPARE(kept.front().id, 3);
    QCOMPARE(kept.back().id, 10002);
    QCOMPARE(RunHistory::read(*m_connection, 10000).size(), size_t(2));
    QCOMPARE(m_database->rows(), schedule);
}

// A history that an earlier version made, without the columns that find a run's program again:
// read as it is, and given them when a record is next written, its records kept.
void TestDataSet::runHistoryOfAnEarlierVersion()
{
    m_database->exec(
        u"PRAGMA user_version = 0; DROP TABLE QZRunLog; DROP TABLE QZProgramOption; "
        "CREATE TABLE QZRunLog (RunIndex INTEGER PRIMARY KEY "
        "AUTOINCREMENT, ProgramIndex, ProgramName, ProgramParameter, Opener, Started "
        "INTEGER NOT NULL, Lifetime INTEGER NOT NULL, Ending TEXT NOT NULL, Status "
        "INTEGER, Detail TEXT, Collected INTEGER); INSERT INTO QZRunLog (ProgramIndex, "
        "ProgramName, ProgramParameter, Started, Lifetime, Ending) VALUES (1, 'old', "
        "'', 5, 1000, 'at-time')"_s);
    QCOMPARE(RunHistory::read(*m_connection).front().program, QByteArray("old"));
    RunRecord record;
    record.program = "new";
    record.runId = "0123";
    record.process = 42;
    QCOMPARE(RunHistory::append(*m_connection, record), 2);
    const std::vector<RunRecord> records = RunHistory::read(*m_connection);
    QCOMPARE(records.size(), size_t(2));
    QCOMPARE(records.front().program, QByteArray("old"));
    QCOMPARE(records.back().runId, QByteArray("0123"));
    QCOMPARE(records.back().process, 42);
    // Brought up to the newest version once, every table with it.
    QCOMPARE(m_database->query(u"PRAGMA user_version"_s), QList<QStringList> {{u"2"_s}});
    QCOMPARE(m_database->query(u"SELECT count(*) FROM QZProgramOption"_s),
             QList<QStringList> {{u"0"_s}});
}

QTEST_GUILESS_MAIN(TestDataSet)
#include "tst_dataset.moc"
