#include "support/ModalSteps.h"

#include "support/GuiSteps.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

namespace {

// How often the helper looks for the modal window it waits for.
constexpr int pollMs = 10;

} // namespace

ModalSteps::ModalSteps()
    : m_context(std::make_unique<QObject>())
    , m_deadline(new QTimer(m_context.get()))
{
    m_deadline->setSingleShot(true);
    m_deadline->setInterval(deadlineMs);
    QObject::connect(m_deadline, &QTimer::timeout, m_context.get(), [this] {
        QStringList closed;
        // Still in its exec() (which marks it modal for that time) but hidden.
        if (m_deadlineDialog && m_deadlineDialog->testAttribute(Qt::WA_ShowModal)
            && !m_deadlineDialog->isVisible()) {
            closed.append(windowName(m_deadlineDialog));
            m_deadlineDialog->show();
            m_deadlineDialog->reject();
        }
        closeLeftOpen(closed);
    });
}

ModalSteps::~ModalSteps() = default;

void ModalSteps::whenModal(const std::function<void()> &steps)
{
    armDeadline();
    // A modal window already open is not the one the steps wait for, nor one to close after them.
    const QPointer<QWidget> under = QApplication::activeModalWidget();
    auto *poll = new QTimer(m_context.get());
    poll->setInterval(pollMs);
    QObject::connect(poll, &QTimer::timeout, m_context.get(), [this, poll, steps, under] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == under)
            return;
        poll->stop();
        poll->deleteLater();
        steps();
        closeLeftOpen({}, under);
    });
    poll->start();
}

void ModalSteps::armDeadline(QDialog *dialog)
{
    m_deadlineDialog = dialog;
    m_deadline->start();
}

void ModalSteps::closeLeftOpen(QStringList closed, const QWidget *under)
{
    // Closing the top one makes the one under it the active modal window; a window that will not
    // close must not keep the helper here for ever.
    for (int tries = 0; tries < 16; ++tries) {
        QWidget *left = QApplication::activeModalWidget();
        if (!left || left == under)
            break;
        closed.append(windowName(left));
        if (auto *dialog = qobject_cast<QDialog *>(left)) {
            dialog->reject();
            if (dialog->isVisible())
                dialog->done(QDialog::Rejected);
        } else {
            left->close();
            left->hide();
        }
    }
    if (closed.isEmpty())
        return;
    m_forcedClose = true;
    // A check that failed in the steps has already said why; a window left open says so itself.
    if (!QTest::currentTestFailed()) {
        const QString message =
            QStringLiteral("Modal window left open, closed by the test: ") + closed.join(u", ");
        QTest::qFail(qPrintable(message), __FILE__, __LINE__);
    }
}
