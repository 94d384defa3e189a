#pragma once

#include "store/FileIdentity.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSocketNotifier;

// How a running schedule is reached from outside: a local socket per schedule and per kind of
// listener (the runner of the schedule, the window open on it) in a folder of this user's own,
// named by the schedule file's identity, so that two paths to one file meet. A request and its
// answer are one line of JSON each. Only the listener's own user may connect and be answered.
namespace ControlChannel {

// Who listens on a socket.
enum class Listener { Runner, Window };

// The version of the requests this program sends and answers; a request of another version gets
// an error answer.
inline constexpr int version = 1;

// The socket of the schedule for that listener; "" with the reason when this user has no folder
// for sockets that can be trusted (see socketFolder).
QString socketPath(const FileIdentity &schedule, Listener listener, QString *problem = nullptr);
// This user's folder for the sockets: $XDG_RUNTIME_DIR/vantrel-autorun (else
// /run/user/UID/vantrel-autorun, else a folder of the user's own in the system's temporary
// folder), made with mode 0700 when it is not there; "" with the reason when it is there but
// belongs to someone else or others may enter it.
QString socketFolder(QString *problem = nullptr);

// What came of a request.
struct Answer
{
    enum class Outcome {
        Answered,
        // Nothing listens there (no socket, or one left behind by a listener that is gone).
        NoListener,
        // The listener runs as another user and refused the request.
        Refused,
        // The listener did not answer in time, or its answer could not be read.
        Failed,
    };
    Outcome outcome = Outcome::NoListener;
    QJsonObject body;
    QString problem;
};

// Sends the request to the listener at the path and waits for its answer, for at most timeoutMs.
Answer ask(const QString &path, QJsonObject request, int timeoutMs = 2000);

} // namespace ControlChannel

// Listens on a schedule's socket and answers each request with the handler, on the thread of
// events it lives in, never blocking it: requests are read and answers written as the socket is
// ready. A socket left behind by a listener that is gone is removed first; one that a listener
// answers on is never taken over.
class ControlServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ControlServer)

public:
    // Gives the answer to a request that has passed the checks (its own user, its version).
    using Handler = std::function<QJsonObject(const QJsonObject &request)>;

    explicit ControlServer(Handler handler, QObject *parent = nullptr);
    // Stops listening and removes the socket.
    ~ControlServer() override;

    // Starts listening at the path; false with the reason when another listener answers there or
    // the socket cannot be made.
    bool listen(const QString &path, QString *problem = nullptr);
    void close();
    bool isListening() const;
    const QString &path() const { return m_path; }

private:
    class Client;
    void accept();

    Handler m_handler;
    QString m_path;
    int m_descriptor = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
