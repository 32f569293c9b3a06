#pragma once

#include <QColor>

// Colours as the configuration file stores them: 0x00BBGGRR (red in the low byte), or a system
// colour 0x80000000 + the index of the system colour.
QColor colorFromValue(quint32 value);

// The stored value of a colour the operator chose: the RGB value 0x00BBGGRR.
quint32 valueFromColor(const QColor& color);
