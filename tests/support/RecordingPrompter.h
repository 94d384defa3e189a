#pragma once

#include "report/Prompter.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Answers the system's message boxes in place of a person and remembers what they said.
class RecordingPrompter final : public Prompter
{
public:
    struct Box
    {
        QString caption;
        QString text;
    };

    QStringList messages;
    QList<Box> errors;
    QList<Box> questions;
    // Answers to the coming questions in order; once used up, every question gets defaultAnswer.
    QList<bool> answers;
    bool defaultAnswer = false;
    // Runs while a box is open, as events of a nested loop would.
    std::function<void()> whileOpen;

    void showMessage(const QString &text) override
    {
        messages.append(text);
        runWhileOpen();
    }
    void showError(const QString &caption, const QString &text) override
    {
        errors.append({caption, text});
        runWhileOpen();
    }
    bool askYesNo(const QString &text, const QString &caption) override
    {
        questions.append({caption, text});
        runWhileOpen();
        return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
    }

    QStringList errorTexts() const
    {
        QStringList texts;
        for (const Box &box : errors)
            texts.append(box.text);
        return texts;
    }

private:
    void runWhileOpen()
    {
        if (whileOpen)
            whileOpen();
    }
};
