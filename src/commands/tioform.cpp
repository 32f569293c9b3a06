#include "commands/tioform.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>

namespace {

QString lampStyle(bool on) {
    return on ? QStringLiteral("QFrame { background: #FF0000; border: 1px solid palette(dark); "
                               "border-radius: 3px; }")
              : QStringLiteral("QFrame { background: palette(button); border: 1px solid "
                               "palette(dark); border-radius: 3px; }");
}

void addLamps(QGroupBox* group, int firstShape) {
    for (int k = 1; k <= 8; ++k) {
        auto* lamp = new QFrame(group);
        lamp->setObjectName(QStringLiteral("Shape%1").arg(firstShape + k - 1));
        lamp->setGeometry(128 - 16 * (k - 1), 24, 10, 10);
        lamp->setToolTip(QString::number(k));
        lamp->setStyleSheet(lampStyle(false));
    }
}

} // namespace

TIOForm::TIOForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("IOForm"));
    setWindowTitle(QStringLiteral("Состояние входов/выходов"));
    setFixedSize(169, 120);
    setModal(false);

    auto* inputs = new QGroupBox(QStringLiteral("Входы"), this);
    inputs->setObjectName(QStringLiteral("gbInputs"));
    inputs->setGeometry(8, 4, 153, 52);
    addLamps(inputs, 1);

    auto* outputs = new QGroupBox(QStringLiteral("Выходы"), this);
    outputs->setObjectName(QStringLiteral("gbOutputs"));
    outputs->setGeometry(8, 62, 153, 52);
    addLamps(outputs, 9);
}

void TIOForm::ShowInputs(quint8 InputBits) {
    showBits(1, InputBits);
}

void TIOForm::ShowOutputs(quint8 OutputBits) {
    showBits(9, OutputBits);
}

void TIOForm::showBits(int firstShape, quint8 bits) {
    for (int k = 1; k <= 8; ++k) {
        if (auto* lamp = findChild<QFrame*>(QStringLiteral("Shape%1").arg(firstShape + k - 1)))
            lamp->setStyleSheet(lampStyle(bits & (1u << (k - 1))));
    }
}

void TIOForm::closeEvent(QCloseEvent* event) {
    emit closedByOperator();
    hide();
    event->ignore();
}
