#include "ui/WidgetPrompter.h"

#include "ui/PlainMessageBox.h"

#include <QMessageBox>

void WidgetPrompter::showMessage(const QString &text)
{
    PlainMessageBox box(text);
    box.exec();
}

void WidgetPrompter::showError(const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

bool WidgetPrompter::askYesNo(const QString &text, const QString &caption)
{
    // Modal to the whole application: while the question is open no other command may reopen
    // the scratch query on another row, so Yes deletes exactly the row the question was about.
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
}
