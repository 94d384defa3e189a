#include "ui/SaveFileDialog.h"

#include <QFileDialog>

using namespace Qt::StringLiterals;

std::optional<QString> SaveFileDialog::chooseSaveFile(QWidget *parent, const QString &suggested)
{
    QFileDialog dialog(parent, u"保存为CSV"_s);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(u"CSV 文件 (*.csv)"_s);
    dialog.setDefaultSuffix(u"csv"_s);
    dialog.selectFile(suggested);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}
