#include "ProgramForm.h"

#include "WindowFont.h"

TFormProgram *FormProgram = nullptr;

TFormProgram::TFormProgram(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("FormProgram"));
    setWindowTitle(QStringLiteral("FormProgram"));
    setFixedSize(518, 261);
    setFont(windowFont());
}

TFormProgram::~TFormProgram() = default;

int TFormProgram::ShowModal()
{
    return exec();
}
