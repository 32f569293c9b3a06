#include "commands/commandword.h"

quint16 CommandWord(qint32 CommandCode) {
    return quint16((quint32(CommandCode) & 0xFFu) << 8 | StartInputCommand);
}

QString commandListEntry(int index) {
    if (index < 0 || index >= CommandCount)
        return {};
    return QStringLiteral("Старт Входа %1").arg(index + 1);
}

QStringList commandList() {
    QStringList list;
    list.reserve(CommandCount);
    for (int i = 0; i < CommandCount; ++i)
        list << commandListEntry(i);
    return list;
}
