#pragma once

#include "ui/SaveFileChooser.h"

// Qt's own file dialog, as the entry dialog's, asking before it replaces a file.
class SaveFileDialog final : public SaveFileChooser
{
public:
    std::optional<QString> chooseSaveFile(QWidget *parent, const QString &suggested) override;
};
