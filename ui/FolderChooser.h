#pragma once

#include <QString>

#include <optional>

class QWidget;

// Picks one folder, an entry's working folder; the tests answer in place of a person.
class FolderChooser
{
public:
    virtual ~FolderChooser() = default;
    // The chosen folder's full path, or nothing when the person cancels.
    virtual std::optional<QString> chooseFolder(QWidget *parent, const QString &start) = 0;
};
