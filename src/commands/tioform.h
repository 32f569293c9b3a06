#pragma once

#include <QDialog>

#include <array>

class QFrame;

// The states of the terminal's eight inputs and eight outputs as two rows of lamps, read while the
// window is open. Lamp 1 is the rightmost, so a row reads like the bits of a byte.
class TIOForm : public QDialog {
    Q_OBJECT

public:
    explicit TIOForm(QWidget* parent = nullptr);

    void ShowInputs(quint8 InputBits);
    void ShowOutputs(quint8 OutputBits);

signals:
    // The window was closed by its close box: the menu item "Состояние входов/выходов" unticks.
    void closedByOperator();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Lamps "Shape1".."Shape16": 1..8 the inputs, 9..16 the outputs.
    void showBits(int firstShape, quint8 bits);
};
