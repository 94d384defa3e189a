#pragma once

#include <QString>

#include <optional>

class QWidget;

// Picks the file the history is saved into; the tests answer in place of a person.
class SaveFileChooser
{
public:
    virtual ~SaveFileChooser() = default;
    // The chosen file's full path, or nothing when the person cancels.
    virtual std::optional<QString> chooseSaveFile(QWidget *parent, const QString &suggested) = 0;
};
