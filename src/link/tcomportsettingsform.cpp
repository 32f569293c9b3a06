#include "link/tcomportsettingsform.h"

TCOMportSettingsForm::TCOMportSettingsForm(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("COMportSettingsForm"));
    setWindowTitle(QStringLiteral("Интерфейс RS-232"));
    setFixedSize(330, 250);
}
