#pragma once

#include "store/EntryOptions.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class FolderChooser;
class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;

// The options of one schedule entry beyond its five columns, in a small modal dialog that the entry
// dialog opens. OK takes them only once every value is usable, and says in a box what is not;
// nothing is written here: the entry dialog writes them with the entry.
class EntryOptionsForm final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EntryOptionsForm)

public:
    // Why the user's service manager cannot give an entry a scope of its own, or "" when it can;
    // no function at all means that it can.
    using ScopeCheck = std::function<QString()>;

    // Shows these options; `storedProblem` says why the options as stored could not all be used.
    EntryOptionsForm(const EntryOptions &options, const QString &storedProblem,
                     const ScopeCheck &scopeCheck, QWidget *parent);
    ~EntryOptionsForm() override;

    // The chooser behind the folder's "..." button; nullptr: the platform's folder dialog.
    void setFolderChooser(FolderChooser *chooser) { m_folderChooser = chooser; }
    // The options as OK took them.
    const EntryOptions &options() const { return m_options; }

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showOptions(const EntryOptions &options);
    // The options as typed, or why they cannot be used ("" when they can).
    std::optional<EntryOptions> typedOptions(QString &problem) const;
    void followChoices();
    void chooseFolder();
    void takeOptions();

    EntryOptions m_options;
    FolderChooser *m_folderChooser = nullptr;
    bool m_scopeAvailable = true;

    QLineEdit *m_folder;
    QPlainTextEdit *m_environment;
    QRadioButton *m_endAtOnce;
    QRadioButton *m_endAfterGrace;
    QLineEdit *m_grace;
    QRadioButton *m_exitWait;
    QRadioButton *m_exitRestart;
    QLineEdit *m_restarts;
    QRadioButton *m_exitNext;
    QRadioButton *m_exitStop;
    QCheckBox *m_keepOutput;
    QCheckBox *m_ownScope;
    QLineEdit *m_memory;
    QLineEdit *m_quota;
    QLabel *m_scopeReason;
};
