#pragma once

#include "ui/SaveFileChooser.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class Connection;
class HistoryModel;
class HistoryRecorder;
class Query;
class QAction;
class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;
class QTimer;
class EntryFilter;

// The run history window of the main window: every recorded run, newest first, following new
// records while it is open, only those of the entry selected in the list when asked, copied or
// saved as CSV.
class HistoryWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryWindow)

public:
    // How often the window looks whether another process wrote to the file.
    static constexpr int pollMs = 2000;

    // Reads the history through the connection; `list` is the schedule list whose current entry
    // the window can keep to.
    HistoryWindow(Query *list, Connection *connection, QWidget *parent);
    ~HistoryWindow() override;

    // The recorder whose new records the window shows at once.
    void setRecorder(HistoryRecorder *recorder);
    // The chooser behind 保存为CSV…; nullptr restores the file dialog.
    void setFileChooser(SaveFileChooser *chooser);

    QTableView *view() const { return m_view; }
    QCheckBox *selectedOnlyBox() const { return m_selectedOnly; }
    QLabel *countLabel() const { return m_count; }
    QPushButton *saveButton() const { return m_save; }

    // Reads the whole history anew.
    void reload();
    // Reads what was written since the last read.
    void readNew();
    // Reads what is new when another connection changed the file since the last read.
    void followFile();
    // The selected rows, oldest first, as CSV with its header, onto the clipboard.
    void copySelected();
    // The rows shown, oldest first, as CSV with its header, into a file the person chooses.
    void saveAsCsv();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void read(bool whole);
    void followSelection();
    void showCount();
    void showContextMenu(const QPoint &position);
    // The CSV text of the shown rows, oldest first.
    QString csvText(const QList<int> &rows) const;

    QPointer<Query> m_list;
    QPointer<Connection> m_connection;
    QPointer<HistoryRecorder> m_recorder;
    HistoryModel *m_model;
    EntryFilter *m_filter;
    QCheckBox *m_selectedOnly;
    QLabel *m_count;
    QPushButton *m_save;
    QTableView *m_view;
    QAction *m_copyAction;
    QAction *m_saveAction;
    QTimer *m_poll;
    std::unique_ptr<SaveFileChooser> m_saveDialog;
    SaveFileChooser *m_fileChooser;
    QString m_folder;
    qint64 m_dataVersion = -1;
    // While reads fail, the person has been told once.
    bool m_readFailing = false;
};
