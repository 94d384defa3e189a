#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The plain message box: the text, wrapped within half the screen's width, the application
// title as caption, no icon and one "OK" button that Enter and Esc both press.
class PlainMessageBox final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PlainMessageBox)

public:
    explicit PlainMessageBox(const QString &text, QWidget *parent = nullptr);

    QString text() const;
    QPushButton *okButton() const { return m_ok; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *m_label;
    QPushButton *m_ok;
};
