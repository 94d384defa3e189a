#include "run/HistoryRecorder.h"

#include "engine/RunLog.h"
#include "report/DataError.h"
#include "report/ReportText.h"
#include "store/Connection.h"

#include <QHash>
#include <QTimer>

#include <deque>

using namespace Qt::StringLiterals;

namespace {

// How long a record that could not be written waits before it is tried again, and how many wait
// at most (the oldest give way).
constexpr int retryMs = 5000;
constexpr size_t mostWaiting = 1000;

} // namespace

// Lives on the recorder's thread: its connection, the records waiting to be written, and for each
// run the number its record got in the history.
class HistoryRecorder::Writer final : public QObject
{
public:
    Writer(const QString &connectionString, HistoryRecorder *recorder)
        : m_connectionString(connectionString)
        , m_recorder(recorder)
    { }

    // Work of the thread, called there.
    void start()
    {
        m_connection = std::make_unique<Connection>(m_connectionString);
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &Writer::writeWaiting);
    }
    void stop() { m_connection.reset(); }
    void add(quint64 ticket, const RunRecord &record, bool isUpdate)
    {
        m_waiting.push_back({ticket, record, isUpdate});
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
        while (!m_waiting.empty()) {
            Job &job = m_waiting.front();
            try {
                if (job.isUpdate) {
                    const auto id = m_ids.constFind(job.ticket);
                    // Its first record never made it; the update has nothing to change.
                    if (id != m_ids.cend()) {
                        job.record.id = *id;
                        RunHistory::update(*m_connection, job.record);
                        m_ids.erase(id);
                    }
                } else {
                    const qint64 id = RunHistory::append(*m_connection, job.record);
                    if (job.record.ending == RunRecord::Ending::NotEnded)
                        m_ids.insert(job.ticket, id);
                }
            } catch (const std::exception &error) {
                if (!m_failing) {
                    qCWarning(runLog).noquote() << u"cannot write the run history into "_s
                            + m_connection->databasePath() + u": " + errorMessage(error)
                            + u"; the runs go on";
                    m_failing = true;
                }
                m_retry->start(retryMs);
                break;
            }
            m_waiting.pop_front();
            wrote = true;
        }
        if (m_waiting.empty() && m_failing) {
            qCInfo(runLog).noquote() << u"the run history is written again"_s;
            m_failing = false;
        }
        if (wrote)
            Q_EMIT m_recorder->written();
    }

private:
    struct Job
    {
        quint64 ticket;
        RunRecord record;
        bool isUpdate;
    };

    QString m_connectionString;
    HistoryRecorder *m_recorder;
    std::unique_ptr<Connection> m_connection;
    QTimer *m_retry = nullptr;
    std::deque<Job> m_waiting;
    QHash<quint64, qint64> m_ids;
    bool m_failing = false;
};

HistoryRecorder::HistoryRecorder(const QString &connectionString, QObject *parent)
    : QObject(parent)
    , m_writer(new Writer(connectionString, this))
{
    m_thread.setObjectName(u"run history"_s);
    m_writer->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_writer, &QObject::deleteLater);
    m_thread.start();
    QMetaObject::invokeMethod(m_writer, [writer = m_writer] { writer->start(); });
}

HistoryRecorder::~HistoryRecorder()
{
    flush();
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer] { writer->stop(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void HistoryRecorder::record(quint64 ticket, const RunRecord &record)
{
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer, ticket, record] { writer->add(ticket, record, false); });
}

void HistoryRecorder::update(quint64 ticket, const RunRecord &record)
{
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer, ticket, record] { writer->add(ticket, record, true); });
}

void HistoryRecorder::flush()
{
    QMetaObject::invokeMethod(
        m_writer, [] {}, Qt::BlockingQueuedConnection);
}
