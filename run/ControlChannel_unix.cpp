#include "run/ControlChannel.h"

#include "store/PathName.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A request or an answer is one short line; anything longer is no request of ours.
constexpr qsizetype longestLine = 64 * 1024;
// How long a client may take to send its request.
constexpr int requestMs = 2000;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A folder of this user's alone: made when it is not there, refused when anyone else may enter it.
QString ownFolder(const QString &path, QString *problem)
{
    const QByteArray name = PathName::toNative(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
        if (problem)
            *problem = u"cannot make the folder %1: %2"_s.arg(path, errorText(errno));
        return QString();
    }
    struct stat status = {};
    if (::lstat(name.constData(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != ::geteuid() || (status.st_mode & 077) != 0) {
        if (problem)
            *problem = u"the folder %1 is not this user's alone"_s.arg(path);
        return QString();
    }
    return path;
}

bool fillAddress(const QString &path, sockaddr_un &address)
{
    const QByteArray name = PathName::toNative(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    return true;
}

// Connects to the socket; the descriptor, or -1 with errno set.
int connectTo(const QString &path)
{
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return -1;
    if (::connect(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(descriptor);
        errno = error;
        return -1;
    }
    return descriptor;
}

QByteArray lineOf(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// Sends the whole text, waiting no longer than the deadline; a reader that went away is no
// signal of ours to die of.
bool sendAll(int descriptor, QByteArrayView text, const QDeadlineTimer &deadline)
{
    while (!text.isEmpty()) {
        const ssize_t sent = ::send(descriptor, text.data(), size_t(text.size()), MSG_NOSIGNAL);
        if (sent > 0) {
            text = text.sliced(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno != EAGAIN)
            return false;
        pollfd ready {descriptor, POLLOUT, 0};
        if (::poll(&ready, 1, int(deadline.remainingTime())) <= 0)
            return false;
    }
    return true;
}

QJsonObject failure(const QString &error)
{
    return {{u"ok"_s, false}, {u"error"_s, error}};
}

} // namespace

namespace ControlChannel {

QString socketFolder(QString *problem)
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !base.startsWith(u'/')) {
        const QString userRuntime = u"/run/user/"_s + QString::number(::geteuid());
        struct stat status = {};
        if (::stat(userRuntime.toUtf8().constData(), &status) == 0 && S_ISDIR(status.st_mode)
            && status.st_uid == ::geteuid()) {
            base = userRuntime;
        } else {
            return ownFolder(
                QDir::tempPath() + u"/vantrel-autorun-"_s + QString::number(::geteuid()), problem);
        }
    }
    return ownFolder(base + u"/vantrel-autorun"_s, problem);
}

QString socketPath(const FileIdentity &schedule, Listener listener, QString *problem)
{
    const QString folder = socketFolder(problem);
    if (folder.isEmpty())
        return QString();
    const QString path = folder + u'/' + QString::number(schedule.device) + u'-'
        + QString::number(schedule.number)
        + (listener == Listener::Runner ? u".runner"_s : u".window"_s);
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        if (problem)
            *problem = u"the name of the socket %1 is too long"_s.arg(path);
        return QString();
    }
    return path;
}

Answer ask(const QString &path, QJsonObject request, int timeoutMs)
{
    Answer answer;
    const int descriptor = connectTo(path);
    if (descriptor < 0) {
        // No socket, or one that nothing answers on any more.
        const int error = errno;
        answer.outcome = error == ENOENT || error == ECONNREFUSED ? Answer::Outcome::NoListener
                                                                  : Answer::Outcome::Failed;
        answer.problem = errorText(error);
        return answer;
    }
    const QDeadlineTimer deadline(timeoutMs);
    request.insert(u"version"_s, version);
    QByteArray received;
    if (sendAll(descriptor, lineOf(request), deadline)) {
        char buffer[4096];
        while (!received.contains('\n') && received.size() < longestLine) {
            pollfd ready {descriptor, POLLIN, 0};
            const int polled = ::poll(&ready, 1, int(deadline.remainingTime()));
            if (polled < 0 && errno == EINTR)
                continue;
            if (polled <= 0)
                break;
            const ssize_t length = ::recv(descriptor, buffer, sizeof buffer, 0);
            if (length < 0 && errno == EINTR)
                continue;
            if (length <= 0)
                break;
            received.append(buffer, length);
        }
    }
    ::close(descriptor);
    const qsizetype end = received.indexOf('\n');
    QJsonParseError error {};
    const QJsonDocument document =
        end < 0 ? QJsonDocument() : QJsonDocument::fromJson(received.left(end), &error);
    if (end < 0 || error.error != QJsonParseError::NoError || !document.isObject()) {
        answer.outcome = Answer::Outcome::Failed;
        answer.problem = end < 0 ? u"no answer in time"_s : u"an answer that cannot be read"_s;
        return answer;
    }
    answer.body = document.object();
    answer.outcome =
        answer.body.contains(u"refused"_s) ? Answer::Outcome::Refused : Answer::Outcome::Answered;
    return answer;
}

} // namespace ControlChannel

// One connection to the server: its request as it arrives, then its answer.
class ControlServer::Client final : public QObject
{
public:
    Client(int descriptor, ControlServer *server)
        : QObject(server)
        , m_descriptor(descriptor)
        , m_server(server)
        , m_reader(descriptor, QSocketNotifier::Read)
    {
        connect(&m_reader, &QSocketNotifier::activated, this, &Client::read);
        // A client that never finishes its request is let go.
        m_patience.setSingleShot(true);
        connect(&m_patience, &QTimer::timeout, this,
                [this] { answer(failure(u"the request did not come in time"_s)); });
        m_patience.start(requestMs);
    }
    ~Client() override { ::close(m_descriptor); }
    Q_DISABLE_COPY_MOVE(Client)

private:
    void read()
    {
        char buffer[4096];
        const ssize_t length = ::recv(m_descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
        if (length < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (length <= 0) {
            // Cut short: what came is no whole request.
            answer(failure(u"the request was cut short"_s));
            return;
        }
        m_request.append(buffer, length);
        const qsizetype end = m_request.indexOf('\n');
        if (end < 0 && m_request.size() < longestLine)
            return;
        answer(end < 0 ? failure(u"the request is too long"_s) : handle(m_request.left(end)));
    }
    QJsonObject handle(const QByteArray &line) const
    {
        QJsonParseError error {};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return failure(u"the request could not be read"_s);
        const QJsonObject request = document.object();
        const int version = request.value(u"version"_s).toInt(-1);
        if (version != ControlChannel::version) {
            return failure(
                u"the request is of version %1; this program answers version %2"_s.arg(version).arg(
                    ControlChannel::version));
        }
        return m_server->m_handler(request);
    }
    void answer(QJsonObject body)
    {
        m_reader.setEnabled(false);
        m_patience.stop();
        // The answer is short: a client that does not read it within a moment is let go.
        sendAll(m_descriptor, lineOf(body), QDeadlineTimer(250));
        deleteLater();
    }

    int m_descriptor;
    ControlServer *m_server;
    QSocketNotifier m_reader;
    QTimer m_patience;
    QByteArray m_request;
};

ControlServer::ControlServer(Handler handler, QObject *parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{ }

ControlServer::~ControlServer()
{
    close();
}

bool ControlServer::listen(const QString &path, QString *problem)
{
    close();
    const auto fail = [problem](const QString &why) {
        if (problem)
            *problem = why;
        return false;
    };
    sockaddr_un address;
    if (!fillAddress(path, address))
        return fail(u"the name of the socket %1 is too long"_s.arg(path));
    const QByteArray name = PathName::toNative(path);
    struct stat status = {};
    if (::lstat(name.constData(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode))
            return fail(u"%1 is there and is no socket"_s.arg(path));
        const int other = connectTo(path);
        if (other >= 0) {
            ::close(other);
            return fail(u"another program answers on %1"_s.arg(path));
        }
        // Left behind by a listener that is gone.
        ::unlink(name.constData());
    }
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0)
        return fail(errorText(errno));
    if (::bind(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(descriptor, 8) != 0) {
        const int error = errno;
        ::close(descriptor);
        return fail(u"cannot listen on %1: %2"_s.arg(path, errorText(error)));
    }
    m_descriptor = descriptor;
    m_path = path;
    m_notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &ControlServer::accept);
    return true;
}

void ControlServer::close()
{
    if (m_descriptor < 0)
        return;
    m_notifier.reset();
    ::close(m_descriptor);
    m_descriptor = -1;
    ::unlink(PathName::toNative(m_path).constData());
    m_path.clear();
}

bool ControlServer::isListening() const
{
    return m_descriptor >= 0;
}

void ControlServer::accept()
{
    for (;;) {
        const int client = ::accept4(m_descriptor, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0)
            return;
        ucred peer {};
        socklen_t size = sizeof peer;
        if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0
            || peer.uid != ::geteuid()) {
            // Only the listener's own user may ask it anything.
            sendAll(client,
                    lineOf({{u"ok"_s, false},
                            {u"refused"_s, u"only the user who runs the schedule may steer it"_s}}),
                    QDeadlineTimer(250));
            ::close(client);
            continue;
        }
        new Client(client, this);
    }
}
