#pragma once

#include "store/EntryOptions.h"
#include "store/FileIdentity.h"
#include "store/Value.h"
#include "ui/ModalResult.h"

#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QString>

#include <functional>

class FileChooser;
class FolderChooser;
class QAction;
class QLabel;
class QLineEdit;
class QToolButton;
class Query;

// The entry dialog in which one schedule entry is added or changed.
class TFormProgram final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormProgram)

public:
    explicit TFormProgram(QWidget *parent = nullptr);
    ~TFormProgram() override;

    // Whether OK adds an entry or changes the one whose key is EditIndex.
    enum class Mode { Add, Change };
    Q_ENUM(Mode)

    Mode EditMode = Mode::Change;
    qint64 EditIndex = 0;

    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label4;
    QLineEdit *Edit1;
    QLineEdit *Edit2;
    QLineEdit *Edit3;
    QLineEdit *Edit4;
    QToolButton *SpeedButton1;
    QToolButton *SpeedButton2;
    QToolButton *SpeedButton3;
    QToolButton *SpeedButton4;
    // 更多选项…: the entry's options, in a dialog of their own.
    QToolButton *SpeedButton5;
    QList<QIcon> ImageList1;
    QAction *ActionYes;
    QAction *ActionCancel;

    // Shows the dialog modally and returns its modal result.
    int ShowModal();
    // A non-zero result closes the dialog; ShowModal then returns it.
    void setModalResult(int result);
    // The chooser behind the two "..." buttons; nullptr restores the platform's file dialog.
    void setFileChooser(FileChooser *chooser);
    // The chooser behind the options' folder button; nullptr restores the platform's dialog.
    void setFolderChooser(FolderChooser *chooser);
    // Why an entry cannot have a scope of its own here, or "" when it can; none: it can.
    void setScopeCheck(std::function<QString()> unavailable);

    void FormCreate();
    void FormShow();
    void ActionYesExecute();
    void ActionCancelExecute();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();

public Q_SLOTS:
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QLabel *makeLabel(const QString &name, const QString &caption, int left, int top);
    QLineEdit *makeEdit(const QString &name, int left, int top, int width);
    QToolButton *makeSpeedButton(const QString &name, const QRect &geometry);
    // Reads the entry to change into the edits, or closes the dialog when it cannot.
    void readEntry();
    void writeEntry(Query *query) const;
    void chooseFileInto(QLineEdit *edit);
    // Whether the entry can have options; says why not when it cannot.
    bool canHaveOptions();
    void showOptionsButton();

    // nullptr: the platform's file dialog.
    FileChooser *m_fileChooser = nullptr;
    bool m_inShowHandler = false;
    // The texts the edits showed after the entry was read in change mode; empty otherwise.
    QHash<const QLineEdit *, QString> m_shownTexts;
    // The entry as it was read to be shown in change mode, and the file it was read from: OK
    // writes only to a row that still holds exactly these values.
    RowValues m_shownRow;
    FileIdentity m_shownSource;
    // The entry's options: as read in change mode, or as chosen since. OK writes them with the
    // entry in add mode, and in change mode once they were chosen.
    EntryOptions m_options;
    bool m_optionsChosen = false;
    // Why the options as stored could not all be used, or "".
    QString m_optionsProblem;
    // Whether the entry's table has the key that options are found by, as read in change mode.
    bool m_canHaveOptions = true;
    FolderChooser *m_folderChooser = nullptr;
    std::function<QString()> m_scopeCheck;
};

extern TFormProgram *FormProgram;
