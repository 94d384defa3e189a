#include "ui/SaveFileDialog.h"

#include <QCoreApplication>
#include <QFileDialog>

using namespace Qt::StringLiterals;

std::optional<QString> SaveFileDialog::chooseSaveFile(QWidget *parent, const QString &suggested)
{
    QFileDialog dialog(parent, QCoreApplication::translate("SaveFileDialog", "保存为CSV"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QCoreApplication::translate("SaveFileDialog", "CSV 文件 (*.csv)"));
    dialog.setDefaultSuffix(u"csv"_s);
    dialog.selectFile(suggested);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}
