#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QString>

#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QToolButton;

// The modal results of the entry dialog.
enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2 };

// Picks one file for an entry; the dialog's tests answer in place of a person.
class FileChooser
{
public:
    virtual ~FileChooser() = default;
    // The chosen file's full path, or nothing when the person cancels.
    virtual std::optional<QString> chooseFile(QWidget *parent) = 0;
};

// The entry dialog in which one schedule entry is added or changed.
class TFormProgram final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormProgram)

public:
    explicit TFormProgram(QWidget *parent = nullptr);
    ~TFormProgram() override;

    QString EditMode;
    qint32 EditIndex = 0;

    // Shows the dialog modally and returns its modal result.
    int ShowModal();
};

extern TFormProgram *FormProgram;
