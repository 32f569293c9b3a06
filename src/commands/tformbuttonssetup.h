#pragma once

#include <QDialog>

// The setup dialog of the eight extra tool bar buttons.
class TFormButtonsSetup : public QDialog {
    Q_OBJECT

public:
    explicit TFormButtonsSetup(QWidget* parent = nullptr);
};
