#include "ui/OpenFileDialog.h"

#include <QFileInfo>

namespace {

// The visible name stays "*.* Files (*.*)", but the dialog applies the patterns of the last
// bracketed group only: "*", because "*.*" would hide every file without a dot, which is how
// most programs here are named.
const QString fileFilter = QStringLiteral("*.* Files (*.*) (*)");

} // namespace

OpenFileDialog::OpenFileDialog(QWidget *parent)
    : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::HideNameFilterDetails);
    setAcceptMode(QFileDialog::AcceptOpen);
    // One file, and a typed name that does not exist yet is taken as it is.
    setFileMode(QFileDialog::AnyFile);
    setNameFilter(fileFilter);
    selectFile(QStringLiteral("*.*"));
}

std::optional<QString> OpenFileDialog::chooseFile(QWidget *parent)
{
    OpenFileDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

void OpenFileDialog::accept()
{
    // A typed pattern (the offered "*.*" above all) names no file: taking it would put a path
    // ending in "*.*" into the entry.
    const QString chosen = selectedFiles().value(0);
    const QString name = QFileInfo(chosen).fileName();
    if ((name.contains(u'*') || name.contains(u'?')) && !QFileInfo::exists(chosen))
        return;
    QFileDialog::accept();
}
