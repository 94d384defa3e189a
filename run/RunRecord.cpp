#include "run/RunRecord.h"

#include "run/HistoryFormat.h"

#include <QCoreApplication>

#include <array>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

struct EndingRow
{
    RunRecord::Ending ending;
    const char16_t *name;
    // "%1" is the status; "%2" the signal's name.
    const char16_t *words;
    // In Chinese, as the window shows it before its translation.
    const char *text;
    RunRecord::Mark mark;
};

using Ending = RunRecord::Ending;
using Mark = RunRecord::Mark;

// An exit with status 0 is only early; every other exit failed (see mark()).
constexpr std::array<EndingRow, 9> endings = {{
    {Ending::AtTime, u"at-time", u"ended at its time", QT_TRANSLATE_NOOP("RunEndings", "按时结束"),
     Mark::None},
    {Ending::Exited, u"exited", u"exited with status %1",
     QT_TRANSLATE_NOOP("RunEndings", "自行退出，退出状态 %1"), Mark::Failed},
    {Ending::Signal, u"signal", u"killed by signal %1 (%2)",
     QT_TRANSLATE_NOOP("RunEndings", "被信号 %1 终止"), Mark::Failed},
    {Ending::NotStarted, u"not-started", u"could not start",
     QT_TRANSLATE_NOOP("RunEndings", "无法启动"), Mark::Failed},
    {Ending::NotEnded, u"not-ended", u"could not be ended",
     QT_TRANSLATE_NOOP("RunEndings", "无法结束"), Mark::Failed},
    {Ending::Stopped, u"stopped", u"stopped", QT_TRANSLATE_NOOP("RunEndings", "被停止"),
     Mark::Early},
    {Ending::Running, u"running", u"running", QT_TRANSLATE_NOOP("RunEndings", "运行中"),
     Mark::None},
    {Ending::Interrupted, u"interrupted", u"interrupted: its runner ended first",
     QT_TRANSLATE_NOOP("RunEndings", "运行器意外结束，运行中断"), Mark::Failed},
    {Ending::Skipped, u"skipped", u"skipped: ended early for the next run",
     QT_TRANSLATE_NOOP("RunEndings", "被跳过"), Mark::Early},
}};

const EndingRow &rowOf(Ending ending)
{
    for (const EndingRow &row : endings) {
        if (row.ending == ending)
            return row;
    }
    return endings.front();
}

QString signalName(int signal)
{
    const char *name = ::strsignal(signal);
    return name ? QString::fromLocal8Bit(name) : QString();
}

QString filledIn(QString text, const RunRecord &record)
{
    const int status = record.status.value_or(0);
    if (text.contains(u"%2"))
        return text.arg(status).arg(signalName(status));
    if (text.contains(u"%1"))
        return text.arg(status);
    return text;
}

} // namespace

bool RunRecord::isFinal() const
{
    return ending != Ending::Running && !(ending == Ending::NotEnded && !collectedMs);
}

bool RunRecord::hasLifetime() const
{
    return ending != Ending::Running && ending != Ending::Interrupted;
}

namespace RunEndings {

QString name(RunRecord::Ending ending)
{
    return QString::fromUtf16(rowOf(ending).name);
}

std::optional<RunRecord::Ending> fromName(const QString &name)
{
    for (const EndingRow &row : endings) {
        if (name == QStringView(row.name))
            return row.ending;
    }
    return std::nullopt;
}

QString words(const RunRecord &record)
{
    const QString words = filledIn(QString::fromUtf16(rowOf(record.ending).words), record);
    if (record.ending == Ending::NotEnded && record.collectedMs)
        return words + u", collected later"_s;
    return words;
}

QString text(const RunRecord &record)
{
    QString text =
        filledIn(QCoreApplication::translate("RunEndings", rowOf(record.ending).text), record);
    // Any ending may say more: why, how it left when asked, its last error lines, its scope. A
    // table's cell shows it on one line.
    if (!record.detail.isEmpty()) {
        const QString detail = record.detail.split(u'\n', Qt::SkipEmptyParts).join(u" / "_s);
        text += QCoreApplication::translate("RunEndings", "：%1").arg(detail);
    }
    if (record.ending == Ending::NotEnded && record.collectedMs) {
        text += QCoreApplication::translate("RunEndings", "（于 %1 回收）")
                    .arg(HistoryFormat::startedLocal(*record.collectedMs));
    }
    return text;
}

RunRecord::Mark mark(const RunRecord &record)
{
    if (record.ending == Ending::Exited && record.status.value_or(0) == 0)
        return Mark::Early;
    return rowOf(record.ending).mark;
}

} // namespace RunEndings
