#include "weighings/statuspanels.h"

namespace StatusPanels {

std::optional<QString> tooltipAt(int x) {
    int passed = 0;
    int right = 0;
    for (const int width : Widths) {
        right += width;
        if (right <= x)
            ++passed;
    }
    switch (passed) {
    case 0:
        return QStringLiteral("Конфигурация COM порта");
    case 1:
        return QStringLiteral("Статус соединения");
    case 2:
        return QStringLiteral(
            "Общее количество отвесов в базе/общее количество отвесов подсчитанных терминалом");
    default:
        return std::nullopt;
    }
}

QString recordCountText(qint64 rows, quint32 counter) {
    return QString::number(rows) + QLatin1Char('/') + QString::number(counter);
}

std::optional<quint32> linkTextColour(LinkState linkState) {
    switch (linkState) {
    case LinkState::NoAnswer:
        return 0xFF0000u;
    case LinkState::Stopped:
        return 0x800000u;
    case LinkState::Exchanging:
        break;
    }
    return std::nullopt;
}

} // namespace StatusPanels
