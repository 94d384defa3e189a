#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A systemd user manager of the test's own, for as long as the object lives: root's, with a
// scratch home and runtime folder, in a private mount namespace (where it also sees the marks of a
// system booted with systemd, which a container lacks) and a cgroup of its own that is emptied
// and removed at the end. Its bus is reached at address(); the test points
// DBUS_SESSION_BUS_ADDRESS there itself. Where this machine cannot have one, skipReason() says
// why; where it can and the manager did not answer, failure() does.
class ScopedUserManager final
{
public:
    enum class Controllers {
        // The memory and processor controllers as far as the test's own cgroup offers them.
        AsOffered,
        // None: the manager takes limits and nothing enforces them, as an ordinary user's manager
        // without delegated controllers does.
        Hidden,
    };

    explicit ScopedUserManager(Controllers controllers);
    ~ScopedUserManager();
    ScopedUserManager(const ScopedUserManager &) = delete;
    ScopedUserManager &operator=(const ScopedUserManager &) = delete;

    QString skipReason() const { return m_skipReason; }
    QString failure() const { return m_failure; }
    QByteArray address() const { return m_address; }

private:
    // Why the machine cannot have one (skip), or "" and the failure.
    QString start(Controllers controllers, QString &skipReason);
    void stop();

    QTemporaryDir m_folder;
    QProcess m_manager;
    // The cgroup that holds the manager and all it starts, below the unified hierarchy's mount.
    QByteArray m_cgroup;
    QByteArray m_address;
    QString m_skipReason;
    QString m_failure;
};
