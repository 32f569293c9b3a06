#pragma once

#include <QDialog>

// The program settings dialog: several instances allowed, start with the system.
class TSettingsForm : public QDialog {
    Q_OBJECT

public:
    explicit TSettingsForm(QWidget* parent = nullptr);
};
