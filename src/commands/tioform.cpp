#include "commands/tioform.h"

TIOForm::TIOForm(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("IOForm"));
    setWindowTitle(QStringLiteral("Состояние входов/выходов"));
    setFixedSize(169, 120);
}
