#pragma once

#include "report/Prompter.h"

// The system's message boxes on screen. Every box is modal to the whole application.
class WidgetPrompter final : public Prompter
{
public:
    void showMessage(const QString &text) override;
    void showError(const QString &caption, const QString &text) override;
    bool askYesNo(const QString &text, const QString &caption) override;
};
