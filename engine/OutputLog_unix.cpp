#include "engine/OutputLog.h"

#include "engine/RunLog.h"
#include "engine/SessionSpawn.h"
#include "report/Quoting.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// The widest pid Linux gives (PID_MAX_LIMIT is 2^22), so the heading has room for any.
constexpr qsizetype pidWidth = 7;
// Standard error kept in memory for the tail, and the length a line of the tail is cut to.
constexpr qsizetype tailBytes = 4096;
constexpr qsizetype tailLineLength = 300;
// Read at each wake-up before the event loop gets its turn again, and at most when draining.
constexpr qint64 readsPerWakeUp = 1024 * 1024;
constexpr qint64 drainAtMost = 16 * 1024 * 1024;
// A longer key would make a name the file system may refuse; such a key is named by its hash.
constexpr qsizetype longestKeyInName = 120;

class Descriptor final
{
public:
    explicit Descriptor(int descriptor = -1)
        : m_descriptor(descriptor)
    { }
    ~Descriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    Q_DISABLE_COPY_MOVE(Descriptor)
    int get() const { return m_descriptor; }
    int release() { return std::exchange(m_descriptor, -1); }

private:
    int m_descriptor;
};

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A descriptor numbered 0 to 2 (when the runner was started with one of its own closed) would be
// overwritten by the child's dup2 onto 1 and 2 before it is used.
int aboveStandard(int descriptor)
{
    if (descriptor < 0 || descriptor > STDERR_FILENO)
        return descriptor;
    const int moved = ::fcntl(descriptor, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(descriptor);
    return moved;
}

// Every folder of the path that is missing, made as the user's own only.
QString makeFolders(const QByteArray &folder)
{
    for (qsizetype end = 1; end <= folder.size(); ++end) {
        if (end < folder.size() && folder.at(end) != '/')
            continue;
        const QByteArray part = folder.left(end);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return u"cannot make the folder "_s + quotedBytes(part) + u": " + errorText(errno);
    }
    struct stat status
    {
    };
    if (::stat(folder.constData(), &status) != 0)
        return u"cannot make the folder "_s + quotedBytes(folder) + u": " + errorText(errno);
    if (!S_ISDIR(status.st_mode))
        return u"cannot make the folder "_s + quotedBytes(folder) + u": " + errorText(ENOTDIR);
    return {};
}

// NAME.log → NAME.log.1 → … → NAME.log.3; renaming onto the oldest drops it.
QString rotate(const QByteArray &path)
{
    for (int older = OutputLog::olderLogs; older >= 1; --older) {
        const QByteArray from = older == 1 ? path : path + '.' + QByteArray::number(older - 1);
        const QByteArray to = path + '.' + QByteArray::number(older);
        if (::rename(from.constData(), to.constData()) != 0 && errno != ENOENT)
            return u"cannot rotate the log "_s + quotedBytes(from) + u": " + errorText(errno);
    }
    return {};
}

// A descriptor of its own on the file an open descriptor names, with other flags: the log is
// open for appending, which on Linux would also put a pwrite() at the end.
int reopen(int descriptor, int flags)
{
    const QByteArray name = "/proc/self/fd/" + QByteArray::number(descriptor);
    return ::open(name.constData(), flags | O_CLOEXEC | O_NOCTTY);
}

bool endsInNewline(int log, qint64 size)
{
    if (size <= 0)
        return true;
    const Descriptor reader(reopen(log, O_RDONLY));
    char last = '\n';
    return reader.get() < 0 || ::pread(reader.get(), &last, 1, size - 1) != 1 || last == '\n';
}

bool writeAll(int descriptor, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), size_t(bytes.size()));
        if (written > 0)
            bytes = bytes.sliced(written);
        else if (written < 0 && errno != EINTR)
            return false;
    }
    return true;
}

QString entryWord(const QString &key)
{
    const bool plain = !key.isEmpty() && std::all_of(key.cbegin(), key.cend(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')
            || c == u'-' || c == u'_' || c == u'.';
    });
    return plain ? key : quotedBytes(key.toUtf8());
}

// A line of standard error as a person would have seen it on a terminal, on one line: what a
// carriage return overwrote is gone, controls and format characters are dropped.
QString readable(QByteArrayView line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (const qsizetype overwritten = line.lastIndexOf('\r'); overwritten >= 0)
        line = line.sliced(overwritten + 1);
    QString text;
    for (const QChar c : QString::fromUtf8(line)) {
        if (c == u'\t')
            text += u' ';
        else if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format
                 && c.category() != QChar::Separator_Line
                 && c.category() != QChar::Separator_Paragraph)
            text += c;
    }
    text = text.trimmed();
    if (text.size() > tailLineLength)
        text = text.left(tailLineLength) + u'…';
    return text;
}

} // namespace

QString OutputLog::folder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative value is to be ignored, as the base folders are always absolute.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + u"/.local/state";
    return state + u"/vantrel-autorun";
}

QString OutputLog::pathFor(quint64 scheduleDevice, quint64 scheduleNumber, const QString &entryKey)
{
    QString key = QString::fromLatin1(QUrl::toPercentEncoding(entryKey));
    if (key.size() > longestKeyInName)
        key = u"sha256-"_s
            + QString::fromLatin1(
                  QCryptographicHash::hash(entryKey.toUtf8(), QCryptographicHash::Sha256).toHex());
    return folder() + u'/' + QString::number(scheduleDevice) + u'-'
        + QString::number(scheduleNumber) + u"-entry-" + key + u".log";
}

std::unique_ptr<RunOutput> RunOutput::open(const QString &logPath, const RunHeading &run,
                                           QString *problem, qint64 sizeLimit)
{
    const auto fail = [problem](const QString &reason) {
        if (problem)
            *problem = reason;
        return std::unique_ptr<RunOutput>();
    };
    const QByteArray path = QFile::encodeName(logPath);
    if (const qsizetype slash = path.lastIndexOf('/'); slash > 0) {
        if (const QString reason = makeFolders(path.left(slash)); !reason.isEmpty())
            return fail(reason);
    }

    // Looked at only here, at the run's start: a program that writes much in one run may grow its
    // log past the limit, and the next run starts a new one.
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) == 0 && S_ISREG(status.st_mode)
        && status.st_size >= sizeLimit) {
        if (const QString reason = rotate(path); !reason.isEmpty())
            return fail(reason);
    }
    const QString cannotOpen = u"cannot open the log "_s + quotedBytes(path) + u": ";
    // Not waiting for a reader, should a named pipe stand where the log goes.
    Descriptor log(aboveStandard(
        ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
               0600)));
    if (log.get() < 0)
        return fail(cannotOpen + errorText(errno));
    if (::fstat(log.get(), &status) != 0)
        return fail(cannotOpen + errorText(errno));
    if (!S_ISREG(status.st_mode))
        return fail(cannotOpen + u"not a regular file"_s);
    // Blocking again, as the program's standard output is expected to be.
    if (::fcntl(log.get(), F_SETFL, O_APPEND) != 0)
        return fail(cannotOpen + errorText(errno));

    // The pipe's write end must block, or a program that writes faster than the runner reads
    // would fail its writes; only the runner's end waits for nothing.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return fail(u"cannot make a pipe for standard error: "_s + errorText(errno));
    Descriptor errorRead(aboveStandard(ends[0]));
    Descriptor errorWrite(aboveStandard(ends[1]));
    if (errorRead.get() < 0 || errorWrite.get() < 0
        || ::fcntl(errorRead.get(), F_SETFL, O_NONBLOCK) != 0)
        return fail(u"cannot make a pipe for standard error: "_s + errorText(errno));
    // A larger pipe lets the program write on while the runner's event loop is busy elsewhere;
    // the system may refuse the size, and then the default serves.
    ::fcntl(errorWrite.get(), F_SETPIPE_SZ, 1024 * 1024);

    const QDateTime start = run.start.isValid() ? run.start : QDateTime::currentDateTime();
    QByteArray heading = endsInNewline(log.get(), status.st_size) ? QByteArray() : "\n"_ba;
    // Local time with its offset, so that a heading from before a change of clocks stays clear.
    const QDateTime local = start.toLocalTime();
    heading += "=== " + local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate).toUtf8()
        + " pid ";
    const qsizetype pidAt = heading.size();
    heading += QByteArray("?").leftJustified(pidWidth, ' ');
    heading +=
        " entry " + entryWord(run.entry).toUtf8() + ' ' + quotedBytes(run.program).toUtf8() + '\n';
    if (!writeAll(log.get(), heading))
        return fail(u"cannot write to the log "_s + quotedBytes(path) + u": " + errorText(errno));
    // Appending leaves the offset at the end of what was written.
    const qint64 end = ::lseek(log.get(), 0, SEEK_CUR);
    const qint64 pidOffset = end < 0 ? -1 : end - heading.size() + pidAt;

    return std::unique_ptr<RunOutput>(
        new RunOutput(log.release(), errorRead.release(), errorWrite.release(), pidOffset));
}

RunOutput::RunOutput(int log, int errorRead, int errorWrite, qint64 pidOffset)
    : m_log(log)
    , m_errorRead(errorRead)
    , m_errorWrite(errorWrite)
    , m_pidOffset(pidOffset)
    , m_errorWatch(new QSocketNotifier(qintptr(errorRead), QSocketNotifier::Read, this))
{
    connect(m_errorWatch, &QSocketNotifier::activated, this,
            [this] { readErrors(readsPerWakeUp); });
}

RunOutput::~RunOutput()
{
    // What the program wrote last may not have been read yet; it belongs in the log all the same.
    closeChildEnds();
    readErrors(drainAtMost);
    m_errorWatch->setEnabled(false);
    if (m_errorRead >= 0)
        ::close(m_errorRead);
    ::close(m_log);
}

void RunOutput::closeChildEnds()
{
    if (m_errorWrite >= 0)
        ::close(std::exchange(m_errorWrite, -1));
}

void RunOutput::setProcessId(qint64 pid)
{
    const QByteArray digits = QByteArray::number(pid).leftJustified(pidWidth, ' ');
    if (m_pidOffset < 0 || pid <= 0 || digits.size() > pidWidth)
        return;
    // The program may have written after the heading already; only the pid's place is written.
    const Descriptor writer(reopen(m_log, O_WRONLY));
    // Should this fail, the heading keeps its question mark; the trace names the pid anyway.
    const ssize_t written = writer.get() < 0
        ? -1
        : ::pwrite(writer.get(), digits.constData(), size_t(digits.size()), m_pidOffset);
    Q_UNUSED(written)
}

QString RunOutput::errorTail()
{
    readErrors(drainAtMost);
    const QList<QByteArray> lines = m_tail.split('\n');
    QStringList kept;
    for (qsizetype i = lines.size() - 1; i >= 0 && kept.size() < 2; --i) {
        QByteArrayView line = lines.at(i);
        const bool cut = i == 0 && m_tailCut;
        // Where the kept bytes begin within a character, its rest is no character.
        while (cut && !line.isEmpty() && (uchar(line.front()) & 0xC0) == 0x80)
            line = line.sliced(1);
        const QString text = readable(line);
        if (!text.isEmpty())
            kept.prepend(cut ? u'…' + text : text);
    }
    return kept.join(u'\n');
}

bool RunOutput::handOver()
{
    closeChildEnds();
    readErrors(drainAtMost);
    if (m_errorRead < 0)
        return true; // the program has closed its end: nothing more will come
    char program[] = "cat";
    char *arguments[] = {program, nullptr};
    // cat waits for what comes, where the runner only took what was there.
    const int flags = ::fcntl(m_errorRead, F_GETFL);
    int error = flags < 0 || ::fcntl(m_errorRead, F_SETFL, flags & ~O_NONBLOCK) != 0 ? errno : 0;
    SessionSpawn how;
    how.input = m_errorRead;
    how.output = m_log;
    how.searchPath = true;
    pid_t pid = 0;
    if (error == 0)
        error = spawnInSession(how, program, arguments, environ, pid);
    if (error != 0) {
        qCWarning(runLog).noquote()
            << u"cannot keep the standard error of a program left running: "_s + errorText(error);
        return false;
    }
    m_errorWatch->setEnabled(false);
    ::close(std::exchange(m_errorRead, -1));
    return true;
}

void RunOutput::readErrors(qint64 atMost)
{
    char buffer[64 * 1024];
    for (qint64 total = 0; m_errorRead >= 0 && total < atMost;) {
        const ssize_t length = ::read(m_errorRead, buffer, sizeof buffer);
        if (length > 0) {
            append(QByteArrayView(buffer, length));
            total += length;
            continue;
        }
        if (length < 0 && errno == EINTR)
            continue;
        if (length < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // Everyone who held the write end has closed it (or the pipe failed): nothing more comes.
        m_errorWatch->setEnabled(false);
        ::close(std::exchange(m_errorRead, -1));
    }
}

void RunOutput::append(QByteArrayView bytes)
{
    if (!m_writeFailed && !writeAll(m_log, bytes)) {
        // The program goes on, and so does the tail; the log misses this run's rest.
        m_writeFailed = true;
        qCWarning(runLog).noquote()
            << u"cannot write standard error to its log: "_s + errorText(errno);
    }
    if (bytes.size() >= tailBytes) {
        m_tail = bytes.last(tailBytes).toByteArray();
        m_tailCut = true;
        return;
    }
    m_tail += bytes;
    if (m_tail.size() > tailBytes) {
        m_tail.remove(0, m_tail.size() - tailBytes);
        m_tailCut = true;
    }
}
