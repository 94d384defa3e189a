#include "app/Program.h"
#include "import/JetConversion.h"
#include "import/ScheduleImport.h"
#include "report/ErrorReport.h"
#include "support/FakeLauncher.h"
#include "support/JetFixture.h"
#include "support/OrdinaryUser.h"
#include "support/ProgramFixture.h"
#include "ui/DBGridEh.h"
#include "ui/MainForm.h"

#include <QDir>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <sysexits.h>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QJsonArray jsonRows(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).array();
}

struct ImportRun
{
    int status = -1;
    QString out;
    QString err;
};

ImportRun runImportOf(const QString &jet, const QString &database, bool dryRun)
{
    ImportRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.status = importExitStatus(runImport({jet, database, dryRun}, out, err));
    return run;
}

// Gives the file, the Jet file and their folder to everyone to read, and to write as asked, so
// that an ordinary user meets only the bar under test.
bool permit(const QString &file, const QString &jet, bool fileWritable, bool folderWritable)
{
    using P = QFile::Permission;
    const QFile::Permissions read = P::ReadOwner | P::ReadUser | P::ReadGroup | P::ReadOther;
    const QFile::Permissions write = P::WriteOwner | P::WriteUser | P::WriteGroup | P::WriteOther;
    const QFile::Permissions enter = P::ExeOwner | P::ExeUser | P::ExeGroup | P::ExeOther;
    const QString folder = QFileInfo(file).absolutePath();
    return (!QFileInfo::exists(file)
            || QFile::setPermissions(file, fileWritable ? read | write : read))
        && (!QFileInfo::exists(jet) || QFile::setPermissions(jet, read | write))
        && QFile::setPermissions(folder, folderWritable ? read | write | enter : read | enter);
}

// A row's schema of the five columns with the given types, and optionally more.
QString columns(const QString &time, const QString &count, const QString &more = QString())
{
    return uR"([["ProgramIndex","long"],["ProgramName","text"],["ProgramParameter","memo"],)"
           uR"(["ProgramTime","%1"],["ProgramCount","%2"]%3])"_s.arg(time, count, more);
}

} // namespace

class TestImport : public ProgramFixture
{
    Q_OBJECT

private Q_SLOTS:
    void importsExactly_data();
    void importsExactly();
    void importsIntoSchedule_data();
    void importsIntoSchedule();
    void refusesBadInput_data();
    void refusesBadInput();
    void convertsAtStartup_data();
    void convertsAtStartup();
    void importedEntryRuns();

private:
    QString folder() const { return QFileInfo(m_database->path()).absolutePath(); }
    // Beside the schedule, where an ordinary user may be let in to read it.
    QString jetPath() const { return folder() + u"/Windows.mdb"_s; }
    QString withPaths(QString text) const
    {
        return text.replace(u"@jet@"_s, jetPath()).replace(u"@db@"_s, m_database->path());
    }

    FakeLauncher m_launcher;
};

// Each Jet file comes across into an empty schedule exactly: every value's type and bytes as
// SQLite reads them back, the writer's rows or the expected ones.
void TestImport::importsExactly_data()
{
    QTest::addColumn<QStringList>("writer");
    QTest::addColumn<QString>("expected");

    // Chinese names, empty and NULL parameters, a 255-character text, CR/LF, a tab, quotes and
    // backslashes, a gap in the keys, the largest Long and a NULL time.
    QTest::newRow("the sample schedule") << QStringList() << QString();
    QTest::newRow("a Memo parameter over 1000 characters")
        << QStringList {u"--memo"_s} << QString();
    QTest::newRow("a Memo parameter over three pages")
        << QStringList {u"--long-memo"_s} << QString();
    QTest::newRow("characters outside the Basic Multilingual Plane")
        << QStringList {u"--nonbmp"_s} << QString();
    QTest::newRow("the smallest and largest keys and numbers, a NULL count")
        << QStringList {u"--rows"_s,
                        uR"([[-2147483648,"最小","",-2147483648,null],)"
                        uR"([2147483647,"最大",null,0,2147483647]])"_s}
        << QString();
    QTest::newRow("table and column names in another case")
        << QStringList {u"--table"_s,
                        u"qzPROGRAM"_s,
                        u"--schema"_s,
                        uR"([["programindex","long"],["PROGRAMNAME","text"],)"
                        uR"(["programParameter","text"],["programtime","long"],)"
                        uR"(["Programcount","long"]])"_s,
                        u"--rows"_s,
                        uR"([[1,"一","参数",5,1]])"_s}
        << QString();
    QTest::newRow("whole numbers in Text and Memo columns, empty and NULL")
        << QStringList {u"--schema"_s, columns(u"text"_s, u"memo"_s), u"--rows"_s,
                        uR"([[1,"a","p"," 830","$10"],[2,"b",null,"",null],)"
                        uR"([3,"c","","-0","+7"]])"_s}
        << uR"([[1,"a","p",830,16],[2,"b",null,"",null],[3,"c","",0,7]])"_s;
    QTest::newRow("Integer keys, Byte times, Single and Double counts")
        << QStringList {u"--schema"_s,
                        uR"([["ProgramIndex","int"],["ProgramName","text"],)"
                        uR"(["ProgramParameter","text"],["ProgramTime","byte"],)"
                        uR"(["ProgramCount","double"]])"_s,
                        u"--rows"_s, uR"([[1,"a","p",255,3.0],[2,"b","q",0,-2147483648.0]])"_s}
        << uR"([[1,"a","p",255,3],[2,"b","q",0,-2147483648]])"_s;
    QTest::newRow("a Single count") << QStringList {u"--schema"_s, columns(u"long"_s, u"single"_s),
                                                    u"--rows"_s, uR"([[1,"a","p",1,16777216.0]])"_s}
                                    << uR"([[1,"a","p",1,16777216]])"_s;
    QTest::newRow("other columns left out")
        << QStringList {u"--schema"_s,
                        columns(u"long"_s, u"long"_s,
                                uR"(,["Remark","datetime"],["Enabled","bool"])"_s),
                        u"--rows"_s, uR"([[1,"a","p",1,1,40000.5,true]])"_s}
        << uR"([[1,"a","p",1,1]])"_s;
    QTest::newRow("no entries") << QStringList {u"--rows"_s, u"[]"_s} << QString();
}

void TestImport::importsExactly()
{
    QFETCH(QStringList, writer);
    QFETCH(QString, expected);
    const std::optional<QJsonArray> written = writeJetFile(jetPath(), writer);
    QVERIFY(written);
    const ImportRun run = runImportOf(jetPath(), m_database->path(), false);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, EX_OK);
    QCOMPARE(m_database->storedRows(),
             storedForm(expected.isEmpty() ? *written : jsonRows(expected)));
}

// Two entries, out of key order in the Jet file, into schedules in several states: the lines
// printed, with the keys they get, and the keys the schedule holds afterwards.
void TestImport::importsIntoSchedule_data()
{
    QTest::addColumn<int>("existing");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("table"); // made by another tool, with its rows

    const QString seven = u"\"七\""_s;
    const QString three = uR"("三 \"引号\"\n")"_s;
    QTest::newRow("an empty schedule: their own keys")
        << 0 << 0 << false
        << QStringList {u"3 → 3 "_s + three, u"7 → 7 "_s + seven,
                        u"Imported 2 entries from '@jet@' into '@db@'."_s}
        << QStringList {u"3"_s, u"7"_s} << QString();
    QTest::newRow("an emptied schedule: their own keys")
        << 0 << 50 << false
        << QStringList {u"3 → 3 "_s + three, u"7 → 7 "_s + seven,
                        u"Imported 2 entries from '@jet@' into '@db@'."_s}
        << QStringList {u"3"_s, u"7"_s} << QString();
    QTest::newRow("a schedule with entries: new keys after every key it gave, in key order")
        << 2 << 10 << false
        << QStringList {u"3 → 11 "_s + three, u"7 → 12 "_s + seven,
                        u"Imported 2 entries from '@jet@' into '@db@'."_s}
        << QStringList {u"1"_s, u"2"_s, u"11"_s, u"12"_s} << QString();
    QTest::newRow("a dry run into an empty schedule")
        << 0 << 0 << true
        << QStringList {u"3 → 3 "_s + three, u"7 → 7 "_s + seven,
                        u"Would import 2 entries from '@jet@' into '@db@'; nothing was written "
                        u"(dry run)."_s}
        << QStringList() << QString();
    QTest::newRow("a dry run into a schedule with entries")
        << 2 << 10 << true
        << QStringList {u"3 → 11 "_s + three, u"7 → 12 "_s + seven,
                        u"Would import 2 entries from '@jet@' into '@db@'; nothing was written "
                        u"(dry run)."_s}
        << QStringList {u"1"_s, u"2"_s} << QString();
    const QString columns = u"ProgramName, ProgramParameter, ProgramTime, ProgramCount)"_s;
    QTest::newRow("keys as texts: new keys above those that read as whole numbers")
        << 0 << 0 << false
        << QStringList {u"3 → 13 "_s + three, u"7 → 14 "_s + seven,
                        u"Imported 2 entries from '@jet@' into '@db@'."_s}
        << QStringList {u"1"_s, u"12"_s, u"abc"_s, u"13"_s, u"14"_s}
        << u"CREATE TABLE QZProgram (ProgramIndex TEXT UNIQUE, "_s + columns
            + u"; INSERT INTO QZProgram (ProgramIndex) VALUES ('1'), ('12'), ('abc')"_s;
    QTest::newRow("keys of any type without a key: a real rounded up, never a key twice")
        << 0 << 0 << false
        << QStringList {u"3 → 5 "_s + three, u"7 → 6 "_s + seven,
                        u"Imported 2 entries from '@jet@' into '@db@'."_s}
        << QStringList {u"1"_s, u"3.5"_s, u"x"_s, u"5"_s, u"6"_s}
        << u"CREATE TABLE QZProgram (ProgramIndex, "_s + columns
            + u"; INSERT INTO QZProgram (ProgramIndex) VALUES (1), (3.5), ('x')"_s;
}

void TestImport::importsIntoSchedule()
{
    QFETCH(int, existing);
    QFETCH(int, sequence);
    QFETCH(bool, dryRun);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, keys);
    QFETCH(QString, table);
    QVERIFY(writeJetFile(jetPath(),
                         {u"--rows"_s, uR"([[7,"七","p7",1,1],[3,"三 \"引号\"\n",null,2,2]])"_s}));
    if (!table.isEmpty())
        m_database->exec(u"DROP TABLE QZProgram; "_s + table);
    for (int i = 0; i < existing; ++i)
        m_database->addEntry(u"existing"_s, QString(), 1, 1);
    if (sequence > 0) {
        m_database->exec(
            u"DELETE FROM sqlite_sequence WHERE name = 'QZProgram'; "
            u"INSERT INTO sqlite_sequence (name, seq) VALUES ('QZProgram', %1)"_s.arg(sequence));
    }
    const QByteArray jetBefore = contents(jetPath());
    const QByteArray databaseBefore = contents(m_database->path());

    const ImportRun run = runImportOf(jetPath(), m_database->path(), dryRun);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, EX_OK);
    QStringList expected;
    for (const QString &line : lines)
        expected.append(withPaths(line));
    QCOMPARE(run.out.split(u'\n', Qt::SkipEmptyParts), expected);
    QStringList keysAfter;
    for (const QStringList &row : m_database->rows())
        keysAfter.append(row.first());
    QCOMPARE(keysAfter, keys);
    QCOMPARE(contents(jetPath()), jetBefore);
    if (dryRun)
        QCOMPARE(contents(m_database->path()), databaseBefore);
}

// Every bad input gets its exit status and a message, and both files stay byte for byte as they
// were. The schedule holds an entry of its own, which nothing may join.
void TestImport::refusesBadInput_data()
{
    QTest::addColumn<QStringList>("writer");
    QTest::addColumn<QString>("jet");
    QTest::addColumn<QString>("schedule");
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    const QStringList none;
    const QString written = u"written"_s;
    const QString good = u"good"_s;
    const auto row = [](const char *name, const QStringList &writer, const QString &jet,
                        const QString &schedule, int status, const QString &message,
                        bool dryRun = false) {
        QTest::newRow(name) << writer << jet << schedule << dryRun << status << message;
    };
    row("not a Jet file", none, u"text"_s, good, EX_DATAERR,
        u"'@jet@' is not a Jet database file."_s);
    row("an empty file", none, u"empty"_s, good, EX_DATAERR,
        u"'@jet@' is not a Jet database file."_s);
    row("an SQLite database", none, u"sqlite"_s, good, EX_DATAERR,
        u"'@jet@' is not a Jet database file. It is an SQLite database already."_s);
    row("a missing file", none, u"missing"_s, good, EX_NOINPUT, u"Cannot open '@jet@'"_s);
    row("a Jet 3 file", {u"--jet3"_s}, written, good, EX_DATAERR,
        u"'@jet@' is a Jet 3 database file; only Jet 4 and later files can be read."_s);
    row("cut in the middle of a page", none, u"cut:-100"_s, good, EX_DATAERR,
        u"'@jet@' is cut short or damaged: its size, 44956 bytes, is not a whole number of "
        u"pages."_s);
    row("cut after its table definitions", none, u"cut:28672"_s, good, EX_DATAERR,
        u"'@jet@' is damaged: its list of tables cannot be read."_s);
    row("cut before its index", none, u"cut:-4096"_s, good, EX_DATAERR,
        u"'@jet@' is damaged: an index of its table lies beyond the end of the file."_s);
    row("a damaged list of tables", {u"--damage"_s, u"catalog"_s}, written, good, EX_DATAERR,
        u"'@jet@' is damaged: its list of tables cannot be read."_s);
    row("a damaged table definition", {u"--damage"_s, u"table-definition"_s}, written, good,
        EX_DATAERR, u"'@jet@' is damaged: the definition of its table QZProgram cannot be read."_s);
    row("damaged data pages", {u"--damage"_s, u"data"_s}, written, good, EX_DATAERR,
        u"'@jet@' is damaged: its table QZProgram should hold 6 rows, but 0 can be read."_s);
    row("a damaged usage map, on which the library crashes", {u"--damage"_s, u"usage-map"_s},
        written, good, EX_DATAERR, u"'@jet@' is damaged: reading it stopped, as it "_s);
    row("no table QZProgram", {u"--table"_s, u"Programs"_s}, written, good, EX_DATAERR,
        u"'@jet@' has no table QZProgram."_s);
    row("a missing column",
        {u"--schema"_s,
         uR"([["ProgramIndex","long"],["ProgramName","text"],["ProgramParameter","text"],)"
         uR"(["ProgramTime","long"]])"_s,
         u"--rows"_s, uR"([[1,"a","p",1]])"_s},
        written, good, EX_DATAERR, u"The table QZProgram in '@jet@' has no column ProgramCount."_s);
    row("a time that is not a whole number",
        {u"--schema"_s, columns(u"text"_s, u"long"_s), u"--rows"_s,
         uR"([[1,"a","p","830",1],[5,"Mixed","p","abc",1]])"_s},
        written, good, EX_DATAERR,
        uR"(ProgramTime of entry 5 "Mixed" in '@jet@' is "abc", which is not a whole number )"
        uR"(from -2147483648 to 2147483647.)"_s);
    row("a count with a fraction",
        {u"--schema"_s, columns(u"long"_s, u"double"_s), u"--rows"_s, uR"([[1,"a","p",1,2.5]])"_s},
        written, good, EX_DATAERR, uR"(ProgramCount of entry 1 "a" in '@jet@' is 2.5, )"_s);
    row("a count beyond 32 bits",
        {u"--schema"_s, columns(u"long"_s, u"double"_s), u"--rows"_s,
         uR"([[1,"a","p",1,3000000000.0]])"_s},
        written, good, EX_DATAERR, uR"(ProgramCount of entry 1 "a" in '@jet@' is 3000000000, )"_s);
    row("a time column of another type",
        {u"--schema"_s, columns(u"datetime"_s, u"long"_s), u"--rows"_s,
         uR"([[1,"a","p",40000.5,1]])"_s},
        written, good, EX_DATAERR,
        u"The column ProgramTime of the table QZProgram in '@jet@' is a Date/Time column; the "
        u"schedule keeps whole numbers there."_s);
    row("a key that repeats",
        {u"--no-key"_s, u"--rows"_s, uR"([[1,"a","p",1,1],[1,"b","q",2,2]])"_s}, written, good,
        EX_DATAERR, u"Two entries of the table QZProgram in '@jet@' have the key 1."_s);
    row("an entry without a key", {u"--no-key"_s, u"--rows"_s, uR"([[null,"a","p",1,1]])"_s},
        written, good, EX_DATAERR,
        u"Row 1 of the table QZProgram in '@jet@' has no ProgramIndex."_s);
    row("a broken character", {u"--rows"_s, uR"([[1,"a","bad \ud800",1,1]])"_s}, written, good,
        EX_DATAERR, uR"(ProgramParameter of entry 1 "a" in '@jet@' holds a broken character.)"_s);
    row("a missing schedule", none, written, u"missing"_s, EX_NOINPUT,
        u"The schedule cannot be read: Could not find file '@db@'."_s);
    row("a schedule that is a Jet file", none, written, u"jet"_s, EX_NOINPUT,
        u"The schedule '@db@' is itself a Jet database file"_s);
    row("a schedule that is not a database", none, written, u"garbage"_s, EX_NOINPUT,
        u"The schedule cannot be read: Cannot open file '@db@': the file is not an SQLite "
        u"database."_s);
    row("a schedule without the table", none, written, u"no table"_s, EX_NOINPUT,
        u"The schedule cannot be read: no such table: QZProgram."_s);
    row("a schedule that is read-only", none, written, u"read-only file"_s, EX_CANTCREAT,
        u"The schedule cannot be written: The schedule database '@db@' is read-only for this "
        u"user"_s);
    row("a schedule in a folder that is read-only", none, written, u"read-only folder"_s,
        EX_CANTCREAT, u"The schedule cannot be written: The folder '"_s);
    row("a dry run into a schedule that is read-only", none, written, u"read-only file"_s,
        EX_CANTCREAT, u"is read-only for this user"_s, true);
    row("a dry run into a schedule in a folder that is read-only", none, written,
        u"read-only folder"_s, EX_CANTCREAT, u"The schedule cannot be written: The folder '"_s,
        true);
    const QString held = u"The schedule cannot be written: '@db@' is held by another program; "
                         u"try again once it is free."_s;
    const QString exclusive = u"held:BEGIN EXCLUSIVE"_s;
    const QString writing =
        u"held:BEGIN IMMEDIATE; INSERT INTO QZProgram (ProgramName) VALUES ('other')"_s;
    row("a schedule held exclusively", none, written, exclusive, EX_CANTCREAT, held);
    row("a dry run into a schedule held exclusively", none, written, exclusive, EX_CANTCREAT, held,
        true);
    row("a schedule held by another writer", none, written, writing, EX_CANTCREAT, held);
    row("a dry run into a schedule held by another writer", none, written, writing, EX_CANTCREAT,
        held, true);
}

void TestImport::refusesBadInput()
{
    QFETCH(QStringList, writer);
    QFETCH(QString, jet);
    QFETCH(QString, schedule);
    QFETCH(bool, dryRun);
    QFETCH(int, status);
    QFETCH(QString, message);

    const QString jetFile = jetPath();
    const QString database = m_database->path();
    m_database->addEntry(u"existing"_s, u"p"_s, 1, 1);
    if (jet == u"written" || jet.startsWith(u"cut:")) {
        QVERIFY(writeJetFile(jetFile, writer));
        if (jet.startsWith(u"cut:")) {
            const qint64 cut = jet.mid(4).toLongLong();
            QVERIFY(QFile::resize(jetFile, cut < 0 ? QFileInfo(jetFile).size() + cut : cut));
        }
    } else if (jet != u"missing") {
        QFile file(jetFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (jet == u"text")
            file.write("ProgramIndex,ProgramName\n1,notepad\n");
        else if (jet == u"sqlite")
            file.write(contents(database));
    }
    if (schedule == u"missing") {
        QVERIFY(QFile::remove(database));
    } else if (schedule == u"jet") {
        QVERIFY(QFile::remove(database));
        QVERIFY(writeJetFile(database));
    } else if (schedule == u"garbage") {
        QFile garbage(database);
        QVERIFY(garbage.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(garbage.write(QByteArray(4096, 'J')), 4096);
    } else if (schedule == u"no table") {
        m_database->exec(u"DROP TABLE QZProgram"_s);
    }
    std::unique_ptr<HeldFile> holder;
    if (schedule.startsWith(u"held:"))
        holder = m_database->hold(schedule.mid(5));
    const bool barred = schedule.startsWith(u"read-only");
    QVERIFY(
        permit(database, jetFile, schedule != u"read-only file", schedule != u"read-only folder"));
    const auto restore = qScopeGuard([&] { permit(database, jetFile, true, true); });
    const QByteArray jetBefore = contents(jetFile);
    const QByteArray databaseBefore = contents(database);

    ImportRun run;
    {
        std::optional<ScopedOrdinaryUser> user;
        if (barred)
            user.emplace();
        run = runImportOf(jetFile, database, dryRun);
    }
    QVERIFY2(run.err.contains(withPaths(message)), qPrintable(run.err));
    QVERIFY2(run.err.endsWith(u'\n') && run.err.count(u'\n') == 1, qPrintable(run.err));
    QCOMPARE(run.status, status);
    QCOMPARE(run.out, QString());
    QCOMPARE(contents(jetFile), jetBefore);
    QCOMPARE(contents(database), databaseBefore);
}

// The database itself is a Jet file at start-up: what is asked and said, what the folder holds
// afterwards, and whether the window then opens the converted list.
void TestImport::convertsAtStartup_data()
{
    QTest::addColumn<QStringList>("writer");
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("keptAs");
    QTest::addColumn<QString>("error");

    const QStringList sample;
    QTest::newRow("converted on Yes")
        << sample << QString() << true << true << u"ProgramRun.jet.mdb"_s << QString();
    QTest::newRow("Memo parameters and characters outside the BMP, converted")
        << QStringList {u"--memo"_s, u"--nonbmp"_s} << QString() << true << true
        << u"ProgramRun.jet.mdb"_s << QString();
    QTest::newRow("kept under the next free name")
        << sample << u"taken"_s << true << true << u"ProgramRun.jet-2.mdb"_s << QString();
    QTest::newRow("left as it is on No")
        << sample << QString() << false << true << QString() << QString();
    QTest::newRow("a damaged Jet file is not offered")
        << QStringList {u"--damage"_s, u"data"_s} << QString() << true << false << QString()
        << u"The schedule database '@db@' is a Jet database file from Windows, but it cannot be "
           u"converted.\n'@db@' is damaged: "_s;
    QTest::newRow("a folder that cannot be written")
        << sample << u"read-only folder"_s << true << true << QString()
        << u"The schedule database '@db@' was not converted and is as it was.\nNo new file can "
           u"be made in the folder"_s;
    QTest::newRow("an SQLite schedule is left alone")
        << QStringList {u"none"_s} << QString() << true << false << QString() << QString();
}

void TestImport::convertsAtStartup()
{
    QFETCH(QStringList, writer);
    QFETCH(QString, situation);
    QFETCH(bool, yes);
    QFETCH(bool, asked);
    QFETCH(QString, keptAs);
    QFETCH(QString, error);

    const QString database = m_database->path();
    const bool jet = writer != QStringList {u"none"_s};
    std::optional<QJsonArray> rows;
    if (jet) {
        rows = writeJetFile(database, writer);
        QVERIFY(rows);
    }
    const QString taken = folder() + u"/ProgramRun.jet.mdb"_s;
    if (situation == u"taken") {
        QFile file(taken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("an older copy");
    }
    const QByteArray before = contents(database);
    const QStringList filesBefore = QDir(folder()).entryList(QDir::Files);
    m_prompter.defaultAnswer = yes;

    const bool barred = situation == u"read-only folder";
    QVERIFY(permit(database, QString(), true, !barred));
    const auto restore = qScopeGuard([&] { permit(database, QString(), true, true); });
    bool converted = false;
    {
        std::optional<ScopedOrdinaryUser> user;
        if (barred)
            user.emplace();
        converted = offerJetConversion(database);
    }

    QCOMPARE(converted, !keptAs.isEmpty());
    QCOMPARE(m_prompter.errors.size(), error.isEmpty() ? 0 : 1);
    QVERIFY2(m_prompter.errorTexts().join(u'|').startsWith(withPaths(error)),
             qPrintable(m_prompter.errorTexts().join(u'|')));
    QCOMPARE(m_prompter.questions.size(), asked ? 1 : 0);
    if (situation == u"taken")
        QCOMPARE(contents(taken), QByteArray("an older copy"));
    if (!converted) {
        QCOMPARE(contents(database), before);
        QCOMPARE(QDir(folder()).entryList(QDir::Files), filesBefore);
        QCOMPARE(m_prompter.messages, QStringList());
        return;
    }
    const QString kept = folder() + u'/' + keptAs;
    const QString question = m_prompter.questions.first().text;
    QVERIFY2(question.contains(database) && question.contains(kept)
                 && question.contains(u"with %1 entries"_s.arg(rows->size())),
             qPrintable(question));
    QCOMPARE(m_prompter.messages,
             QStringList {u"The schedule database '%1' was converted, with %2 entries. The Jet "
                          u"file is kept as '%3'."_s.arg(database)
                              .arg(rows->size())
                              .arg(kept)});
    QCOMPARE(contents(kept), before);
    QStringList filesAfter = filesBefore + QStringList {keptAs};
    filesAfter.sort();
    QCOMPARE(QDir(folder()).entryList(QDir::Files), filesAfter);
    QCOMPARE(m_database->storedRows(), storedForm(*rows));

    createObjects();
    FormMain->show();
    QCOMPARE(FormMain->DBGridEh1->footerText(1), QString::number(rows->size()));
    QCOMPARE(m_prompter.errors.size(), 0);
    FormMain->hide();
}

// An imported entry starts its program by exactly its imported name and parameters.
void TestImport::importedEntryRuns()
{
    const QString name = u"/usr/bin/程序"_s;
    const QString parameters = uR"('我的 文档' "引号" C:\temp)"_s;
    QJsonArray rows;
    rows.append(QJsonArray {4, name, parameters, 2, 1});
    QVERIFY(
        writeJetFile(jetPath(), {u"--rows"_s, QString::fromUtf8(QJsonDocument(rows).toJson())}));
    QCOMPARE(runImportOf(jetPath(), m_database->path(), false).status, EX_OK);
    createObjects();
    FormMain->Timer1->stop();
    FormMain->setLauncher(&m_launcher);
    FormMain->show();
    FormMain->ActionBegin->trigger();
    runHandler([] { FormMain->Timer1Timer(); });
    QCOMPARE(m_launcher.launches.size(), 1);
    QCOMPARE(m_launcher.launches.first().entry, u"4"_s);
    QCOMPARE(m_launcher.launches.first().file, name.toUtf8());
    QCOMPARE(m_launcher.launches.first().parameters, parameters.toUtf8());
    FormMain->hide();
}

QTEST_MAIN(TestImport)
#include "tst_import.moc"
