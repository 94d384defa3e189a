#pragma once

#include <QString>

#include <optional>

class QWidget;

// Picks one file for an entry; the dialog's tests answer in place of a person.
class FileChooser
{
public:
    virtual ~FileChooser() = default;
    // The chosen file's full path, or nothing when the person cancels.
    virtual std::optional<QString> chooseFile(QWidget *parent) = 0;
};
