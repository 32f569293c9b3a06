#pragma once

#include <QDialog>

// The port settings dialog: serial port, baud rate, network number, request interval.
class TCOMportSettingsForm : public QDialog {
    Q_OBJECT

public:
    explicit TCOMportSettingsForm(QWidget* parent = nullptr);
};
