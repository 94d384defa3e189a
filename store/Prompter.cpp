#include "Prompter.h"

#include "DataError.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>

#include <cstdio>
#include <stdexcept>

namespace {

// Used when no one has installed a prompter, as in a program without a screen.
class StandardErrorPrompter final : public Prompter
{
public:
    void showMessage(const QString &text) override { write(applicationTitle(), text); }
    void showError(const QString &caption, const QString &text) override { write(caption, text); }
    bool askYesNo(const QString &text, const QString &caption) override
    {
        write(caption, text);
        return false;
    }

private:
    static void write(const QString &caption, const QString &text)
    {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(caption), qUtf8Printable(text));
    }
};

StandardErrorPrompter g_fallback;
Prompter *g_current = nullptr;

} // namespace

Prompter &prompter()
{
    return g_current ? *g_current : g_fallback;
}

ScopedPrompter::ScopedPrompter(Prompter &prompter)
    : m_previous(g_current)
{
    g_current = &prompter;
}

ScopedPrompter::~ScopedPrompter()
{
    g_current = m_previous;
}

QString applicationTitleFromPath(const QString &executablePath)
{
    QString title = QFileInfo(executablePath).fileName();
    const qsizetype dot = title.indexOf(u'.');
    if (dot >= 0)
        title.truncate(dot);
    // The first letter stays as it is; only the later ones are lowered.
    return title.left(1) + title.mid(1).toLower();
}

QString applicationTitle()
{
    return applicationTitleFromPath(QCoreApplication::applicationFilePath());
}

void ShowMessage(const QString &text)
{
    prompter().showMessage(text);
}

void HandleException(const std::exception &error)
{
    // A report box runs its own event loop, in which the timer keeps ticking; a tick that fails
    // the same way again must not open a second box over the first.
    static QSet<QString> openReports;
    const QString text = errorReportText(error);
    if (openReports.contains(text))
        return;
    openReports.insert(text);
    try {
        prompter().showError(applicationTitle(), text);
    } catch (...) {
        openReports.remove(text);
        throw;
    }
    openReports.remove(text);
}

void HandleCurrentException()
{
    try {
        throw;
    } catch (const std::exception &error) {
        HandleException(error);
    } catch (...) {
        HandleException(std::runtime_error("Unknown error"));
    }
}
