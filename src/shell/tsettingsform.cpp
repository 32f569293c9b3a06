#include "shell/tsettingsform.h"

TSettingsForm::TSettingsForm(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("SettingsForm"));
    setWindowTitle(QStringLiteral("Настройки KDM"));
    setFixedSize(354, 152);
}
