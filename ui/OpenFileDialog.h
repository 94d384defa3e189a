#pragma once

#include <QFileDialog>
#include <QString>

#include <optional>

// Qt's own file dialog for an entry's program or parameter, so that it looks and filters the same
// on every desktop.
class OpenFileDialog final : public QFileDialog
{
    Q_DISABLE_COPY_MOVE(OpenFileDialog)

public:
    explicit OpenFileDialog(QWidget *parent);

    // Asks the person for one file: its full path, or nothing when they cancel.
    static std::optional<QString> chooseFile(QWidget *parent);

    void accept() override;
};
