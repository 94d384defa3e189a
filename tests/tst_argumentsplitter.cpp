#include "engine/ArgumentSplitter.h"

#include <QTest>

using namespace Qt::StringLiterals;

class ArgumentSplitterTest final : public QObject
{
    Q_OBJECT

public:
    ArgumentSplitterTest() = default;
    Q_DISABLE_COPY_MOVE(ArgumentSplitterTest)

private Q_SLOTS:
    void splits_data();
    void splits();
};

void ArgumentSplitterTest::splits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("splittable");
    QTest::addColumn<QStringList>("words");

    const auto row = [](const char *name, const QString &text, const QStringList &words) {
        QTest::newRow(name) << text << true << words;
    };
    const auto refused = [](const char *name, const QString &text) {
        QTest::newRow(name) << text << false << QStringList();
    };

    row("empty text", u""_s, {});
    row("blanks only", u" \t \n "_s, {});
    row("one word", u"alpha"_s, {u"alpha"_s});
    row("blanks around and between", u"  alpha \t beta\ngamma  "_s,
        {u"alpha"_s, u"beta"_s, u"gamma"_s});
    row("single quotes keep blanks", u"'a  b' c"_s, {u"a  b"_s, u"c"_s});
    row("single quotes keep backslashes", u"'C:\\dir\\' x"_s, {u"C:\\dir\\"_s, u"x"_s});
    row("single quotes keep double quotes", u"'say \"hi\"'"_s, {u"say \"hi\""_s});
    row("double quotes keep blanks and single quotes", u"\"it's  here\""_s, {u"it's  here"_s});
    row("escaped quote in double quotes", u"\"a\\\"b\""_s, {u"a\"b"_s});
    row("escaped backslash in double quotes", u"\"a\\\\b\""_s, {u"a\\b"_s});
    row("other backslash in double quotes stays", u"\"a\\nb\\$\""_s, {u"a\\nb\\$"_s});
    row("empty single-quoted argument", u"a '' b"_s, {u"a"_s, u""_s, u"b"_s});
    row("empty double-quoted argument", u"\"\""_s, {u""_s});
    row("adjacent quoted parts join", u"a\"b c\"d'e f'"_s, {u"ab cde f"_s});
    row("backslash escapes a blank", u"a\\ b c"_s, {u"a b"_s, u"c"_s});
    row("backslash escapes a quote", u"\\'x \\\"y"_s, {u"'x"_s, u"\"y"_s});
    row("backslash escapes a backslash", u"a\\\\b"_s, {u"a\\b"_s});
    row("trailing lone backslash stays", u"dir\\"_s, {u"dir\\"_s});
    row("lone backslash word", u"a \\"_s, {u"a"_s, u"\\"_s});
    row("shell characters are ordinary", u"#x $HOME ~ *.txt a;b | c > d & `e` $(f)"_s,
        {u"#x"_s, u"$HOME"_s, u"~"_s, u"*.txt"_s, u"a;b"_s, u"|"_s, u"c"_s, u">"_s, u"d"_s, u"&"_s,
         u"`e`"_s, u"$(f)"_s});
    row("chinese text", u"文件 \"我的 文档.txt\""_s, {u"文件"_s, u"我的 文档.txt"_s});
    row("newline inside quotes is kept", u"'a\nb'"_s, {u"a\nb"_s});
    refused("unclosed single quote", u"a 'b c"_s);
    refused("unclosed double quote", u"a \"b c"_s);
    refused("escaped closing double quote", u"\"abc\\\""_s);
    refused("single quote closed by double quote", u"'abc\""_s);
}

void ArgumentSplitterTest::splits()
{
    QFETCH(QString, text);
    QFETCH(bool, splittable);
    QFETCH(QStringList, words);

    const std::optional<QList<QByteArray>> result = splitArguments(text.toUtf8());
    QCOMPARE(result.has_value(), splittable);
    if (!result)
        return;
    QList<QByteArray> expected;
    for (const QString &word : words)
        expected.append(word.toUtf8());
    QCOMPARE(*result, expected);
}

QTEST_GUILESS_MAIN(ArgumentSplitterTest)
#include "tst_argumentsplitter.moc"
