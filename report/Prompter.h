#pragma once

#include <QString>

// How the system speaks to the person at the desk: its message boxes. The application installs
// boxes on screen; tests install a prompter that records the texts and answers for the person.
class Prompter
{
public:
    virtual ~Prompter() = default;

    // The plain message box: the text, the application title, one OK button.
    virtual void showMessage(const QString &text) = 0;
    // An error report with the stop icon and one OK button.
    virtual void showError(const QString &caption, const QString &text) = 0;
    // A Yes/No question with Yes as the default answer; true for Yes.
    virtual bool askYesNo(const QString &text, const QString &caption) = 0;
};

// The prompter in force: the innermost ScopedPrompter, else one that writes to standard error.
Prompter &prompter();

// Puts a prompter in force for its own lifetime.
class ScopedPrompter final
{
public:
    explicit ScopedPrompter(Prompter &prompter);
    ~ScopedPrompter();
    ScopedPrompter(const ScopedPrompter &) = delete;
    ScopedPrompter &operator=(const ScopedPrompter &) = delete;

private:
    Prompter *m_previous;
};

// Shows a text in the plain message box, a fixed text of the layers below in the person's language.
void ShowMessage(const QString &text);
