#pragma once

#include <QDialog>

// The states of the terminal's eight inputs and eight outputs.
class TIOForm : public QDialog {
    Q_OBJECT

public:
    explicit TIOForm(QWidget* parent = nullptr);
};
