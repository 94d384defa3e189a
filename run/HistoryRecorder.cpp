#include "run/HistoryRecorder.h"

#include "engine/ProcessTable.h"
#include "engine/RunLog.h"
#include "report/DataError.h"
#include "report/Quoting.h"
#include "report/ReportText.h"
#include "run/RunHistory.h"
#include "store/Connection.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QSemaphore>
#include <QTimer>

#include <deque>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// How long a record that could not be written waits before it is tried again, how many wait at
// most (the oldest give way), and how often the file is looked at for changes by others.
constexpr int retryMs = 1000;
constexpr size_t mostWaiting = 1000;
constexpr int lookMs = 1000;

QString subject(const RunRecord &record)
{
    return (record.entry.isEmpty() ? QString() : u"entry "_s + record.entry + u' ')
        + quotedBytes(record.program)
        + (record.process != 0 ? u" pid "_s + QString::number(record.process) : QString());
}

} // namespace

// Lives on the recorder's thread: its connection, the records waiting to be written, and for each
// run whose record may still change the number its record got in the history.
class HistoryRecorder::Writer final : public QObject
{
public:
    Writer(const QString &databasePath, HistoryRecorder *recorder)
        : m_path(databasePath)
        , m_recorder(recorder)
    { }

    // Work of the thread, called there.
    void start()
    {
        m_connection = std::make_unique<Connection>(m_path);
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &Writer::writeWaiting);
        m_look = new QTimer(this);
        m_look->setInterval(lookMs);
        connect(m_look, &QTimer::timeout, this, [this] { look(true); });
        m_look->start();
        look(false);
        m_recorder->m_looked = true;
    }
    void finish(int waitMs)
    {
        m_look->stop();
        m_retry->stop();
        const QDeadlineTimer deadline(waitMs);
        while (!m_waiting.empty() || !m_interrupted.empty()) {
            writeWaiting();
            if (deadline.hasExpired() || (m_waiting.empty() && m_interrupted.empty()))
                break;
            QThread::msleep(100);
        }
        m_retry->stop();
        if (const size_t lost = m_waiting.size(); lost > 0) {
            qCWarning(runLog).noquote()
                << (lost == 1 ? u"1 record"_s : QString::number(lost) + u" records")
                    + u" of the run history could not be written into " + databasePath()
                    + u" before the end";
        }
        m_connection.reset();
    }
    void add(quint64 ticket, const RunRecord &record, std::shared_ptr<QSemaphore> written)
    {
        // What waits for the same run is only an older state of it.
        for (Job &job : m_waiting) {
            if (job.ticket == ticket) {
                job.record = record;
                if (written)
                    job.written = std::move(written);
                writeWaiting();
                return;
            }
        }
        m_waiting.push_back({ticket, record, std::move(written)});
        if (m_waiting.size() > mostWaiting) {
            m_waiting.pop_front();
            qCWarning(runLog).noquote() << u"the run history keeps only the latest "_s
                    + QString::number(mostWaiting) + u" records that wait to be written";
        }
        writeWaiting();
    }
    void writeWaiting()
    {
        bool wrote = false;
        if (m_recoverPending) {
            m_recoverPending = false;
            recover();
        }
        try {
            while (!m_interrupted.empty()) {
                RunHistory::markInterrupted(*m_connection, m_interrupted.front());
                m_interrupted.pop_front();
                wrote = true;
            }
            while (!m_waiting.empty()) {
                Job &job = m_waiting.front();
                const auto id = m_ids.constFind(job.ticket);
                job.record.id = id != m_ids.cend() ? *id : 0;
                // A record gone since (another file put in place, the table made again) is
                // written anew.
                if (job.record.id == 0 || !RunHistory::update(*m_connection, job.record)) {
                    job.record.id = RunHistory::append(*m_connection, job.record);
                    m_ids.insert(job.ticket, job.record.id);
                }
                if (job.record.isFinal())
                    m_ids.remove(job.ticket);
                if (job.written)
                    job.written->release();
                m_waiting.pop_front();
                m_recorder->m_waitedInVain = false;
                wrote = true;
            }
        } catch (const std::exception &error) {
            failed(error);
        }
        if (m_waiting.empty() && m_interrupted.empty() && !m_recoverPending && m_failing) {
            qCInfo(runLog).noquote() << u"the run history is written again"_s;
            m_failing = false;
            m_recorder->m_failing = false;
        }
        if (wrote)
            Q_EMIT m_recorder->written();
    }
    void recoverNow()
    {
        recover();
        writeWaiting();
    }
    void recover()
    {
        std::vector<RunHistory::LeftRunning> runs;
        try {
            runs = RunHistory::leftRunning(*m_connection);
        } catch (const std::exception &) {
            // Tried again with the next write, or on its own a little later: nothing to say, as
            // nothing was lost.
            m_recoverPending = true;
            if (!m_retry->isActive())
                m_retry->start(retryMs);
            return;
        }
        for (RunHistory::LeftRunning &left : runs) {
            const ProcessTable::Fate fate = ProcessTable::fateOf(left.runner);
            if (fate == ProcessTable::Fate::Alive || fate == ProcessTable::Fate::Unknown)
                continue;
            RunRecord &record = left.record;
            record.ending = RunRecord::Ending::Interrupted;
            const QString what = subject(record) + u", left running by a runner that is gone";
            if (fate == ProcessTable::Fate::GoneWithItsBoot) {
                record.detail = u"the machine has started again since"_s;
                qCInfo(runLog).noquote() << u"interrupted "_s + what + u": " + record.detail;
                m_interrupted.push_back(record);
                continue;
            }
            const ProcessTable::Leftovers leftovers =
                ProcessTable::endLeftovers(record.runId, {record.process, record.processStart});
            record.process = leftovers.pid;
            if (!leftovers.refusing.isEmpty()) {
                record.detail = u"could not end pid "_s + leftovers.refusing.join(u", "_s) + u": "
                    + leftovers.reason;
                qCWarning(runLog).noquote() << u"cannot end "_s + subject(record)
                        + u", left running by a runner that is gone: " + leftovers.reason
                        + u" for pid " + leftovers.refusing.join(u", "_s) + u"; it keeps running";
            } else if (leftovers.ended > 0) {
                const QString processes = leftovers.ended == 1
                    ? u"1 process"_s
                    : QString::number(leftovers.ended) + u" processes";
                record.detail = u"killed "_s + processes + u" it left running";
                qCInfo(runLog).noquote() << u"ended "_s + subject(record)
                        + u", left running by a runner that is gone: killed " + processes;
            } else {
                record.detail = u"nothing of it was running any more"_s;
                qCInfo(runLog).noquote() << u"interrupted "_s + what + u": nothing of it runs now";
            }
            m_interrupted.push_back(record);
        }
    }
    // Whether another connection changed the file, or the file was replaced, since the last look.
    void look(bool counts)
    {
        qint64 version = 0;
        try {
            version = m_connection->dataVersion();
        } catch (const std::exception &) {
            // Held or gone for now: the next look tells.
            m_lookFailed = true;
            return;
        }
        const FileIdentity file = m_connection->fileIdentity();
        const bool changed = m_lookFailed || file != m_lookedFile || version != m_version;
        m_lookFailed = false;
        m_version = version;
        m_lookedFile = file;
        if (counts && changed) {
            ++m_recorder->m_changesElsewhere;
            Q_EMIT m_recorder->changedElsewhere();
        }
    }

private:
    struct Job
    {
        quint64 ticket;
        RunRecord record;
        std::shared_ptr<QSemaphore> written;
    };

    QString databasePath() const { return m_connection ? m_connection->databasePath() : QString(); }
    void failed(const std::exception &error)
    {
        if (!m_failing) {
            // The trace is in English; a held file's message is the person's, in Chinese.
            const QString why = dynamic_cast<const DatabaseBusyError *>(&error)
                ? u"another program is using it"_s
                : errorMessage(error);
            qCWarning(runLog).noquote() << u"cannot write the run history into "_s + databasePath()
                    + u": " + why + u"; the runs go on";
            m_failing = true;
            m_recorder->m_failing = true;
        }
        // Whoever waits for a record to be written waits no longer.
        for (Job &job : m_waiting) {
            if (job.written)
                std::exchange(job.written, nullptr)->release();
        }
        m_retry->start(retryMs);
    }

    QString m_path;
    HistoryRecorder *m_recorder;
    std::unique_ptr<Connection> m_connection;
    QTimer *m_retry = nullptr;
    QTimer *m_look = nullptr;
    std::deque<Job> m_waiting;
    std::deque<RunRecord> m_interrupted;
    bool m_recoverPending = false;
    QHash<quint64, qint64> m_ids;
    bool m_failing = false;
    qint64 m_version = 0;
    FileIdentity m_lookedFile;
    bool m_lookFailed = false;
};

HistoryRecorder::HistoryRecorder(const QString &databasePath, QObject *parent)
    : QObject(parent)
    , m_writer(new Writer(databasePath, this))
{
    m_thread.setObjectName(u"run history"_s);
    m_writer->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_writer, &QObject::deleteLater);
    m_thread.start();
    // The first look at the file is what later looks compare with: whoever reads the file waits
    // for it (see waitForFirstLook()), which the thread has taken by then as a rule.
    QMetaObject::invokeMethod(m_writer, [writer = m_writer] { writer->start(); });
}

void HistoryRecorder::waitForFirstLook()
{
    if (!m_looked)
        flush();
}

HistoryRecorder::~HistoryRecorder()
{
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer] { writer->finish(finalWaitMs); },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void HistoryRecorder::begin(quint64 ticket, const RunRecord &record)
{
    auto written = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(m_writer, [writer = m_writer, ticket, record, written] {
        writer->add(ticket, record, written);
    });
    // While the file cannot be written, or records are slow to be written, the program starts at
    // once and its record waits.
    if (!m_failing && !m_waitedInVain && !written->tryAcquire(1, beginWaitMs))
        m_waitedInVain = true;
}

void HistoryRecorder::record(quint64 ticket, const RunRecord &record)
{
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer, ticket, record] { writer->add(ticket, record, nullptr); });
}

void HistoryRecorder::flush()
{
    QMetaObject::invokeMethod(
        m_writer, [] {}, Qt::BlockingQueuedConnection);
}

void HistoryRecorder::recoverLeftRunning()
{
    QMetaObject::invokeMethod(m_writer, [writer = m_writer] { writer->recoverNow(); });
}

void HistoryRecorder::lookForChanges()
{
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer] { writer->look(true); }, Qt::BlockingQueuedConnection);
}
