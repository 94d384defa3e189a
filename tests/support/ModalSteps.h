#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class QDialog;
class QWidget;
class QTimer;

// Drives the modal windows a test opens through a real exec(): runs the test's steps once a modal
// window's own event loop is up, then closes whatever they left open, and a deadline closes what
// is still open after that. A check that fails inside the steps thus ends the test at once
// instead of leaving it waiting for a window no one closes; a forced close fails the test too.
class ModalSteps final
{
public:
    // How long a modal window may stay open before the helper closes it.
    static constexpr int deadlineMs = 10000;

    ModalSteps();
    ~ModalSteps();
    ModalSteps(const ModalSteps &) = delete;
    ModalSteps &operator=(const ModalSteps &) = delete;

    // Runs the steps once a modal window is open (above the one open now, if any), then closes
    // every modal window left open above that one.
    void whenModal(const std::function<void()> &steps);
    // Closes every modal window still open once the deadline has passed. A dialog that is named
    // is shown again first: one that hid itself before its loop started can end that loop only so.
    void armDeadline(QDialog *dialog = nullptr);
    // Whether a window had to be closed for the test.
    bool forcedClose() const { return m_forcedClose; }

private:
    // Closes every modal window above `under`; fails the test when there were any, or any already
    // closed.
    void closeLeftOpen(QStringList closed, const QWidget *under = nullptr);

    std::unique_ptr<QObject> m_context;
    QTimer *m_deadline;
    QPointer<QDialog> m_deadlineDialog;
    bool m_forcedClose = false;
};
