#pragma once

#include <QDialog>

// The entry dialog in which one schedule entry is added or changed.
class TFormProgram final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormProgram)

public:
    explicit TFormProgram(QWidget *parent = nullptr);
    ~TFormProgram() override;
};

extern TFormProgram *FormProgram;
