#include "base/colorvalue.h"

#include <QGuiApplication>
#include <QPalette>

namespace {

constexpr quint32 SystemColorFlag = 0x80000000u;

// The system colours that have a counterpart in the palette; the others fall back to the text
// colour, which keeps the list readable.
QColor systemColor(quint32 index) {
    const QPalette palette = QGuiApplication::palette();
    switch (index) {
    case 5: // window
        return palette.color(QPalette::Base);
    case 13: // highlight
        return palette.color(QPalette::Highlight);
    case 14: // highlight text
        return palette.color(QPalette::HighlightedText);
    case 15: // button face
        return palette.color(QPalette::Button);
    case 16: // button shadow
        return palette.color(QPalette::Dark);
    case 17: // gray text
        return palette.color(QPalette::Disabled, QPalette::Text);
    case 18: // button text
        return palette.color(QPalette::ButtonText);
    case 20: // button highlight
        return palette.color(QPalette::Light);
    case 23: // info text
        return palette.color(QPalette::ToolTipText);
    case 24: // info background
        return palette.color(QPalette::ToolTipBase);
    default:
        return palette.color(QPalette::WindowText);
    }
}

} // namespace

QColor colorFromValue(quint32 value) {
    if (value & SystemColorFlag)
        return systemColor(value & 0xFFu);
    if (value > 0xFFFFFFu) // clNone, clDefault and other special values
        return QGuiApplication::palette().color(QPalette::WindowText);
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

quint32 valueFromColor(const QColor& color) {
    return quint32(color.red()) | (quint32(color.green()) << 8) | (quint32(color.blue()) << 16);
}
