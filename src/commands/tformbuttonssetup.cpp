#include "commands/tformbuttonssetup.h"

TFormButtonsSetup::TFormButtonsSetup(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("FormButtonsSetup"));
    setWindowTitle(QStringLiteral("Настройка кнопок"));
    setFixedSize(362, 369);
}
