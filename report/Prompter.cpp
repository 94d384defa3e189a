#include "report/Prompter.h"

#include "report/ApplicationTitle.h"
#include "report/ReportText.h"

#include <cstdio>

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

void ShowMessage(const QString &text)
{
    prompter().showMessage(shownText(text));
}
