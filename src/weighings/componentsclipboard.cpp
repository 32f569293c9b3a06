#include "weighings/componentsclipboard.h"

#include <QStringList>

QString componentsClipboardText(const QList<ComponentsListRow>& rows) {
    QStringList lines;
    lines.reserve(rows.size());
    for (const ComponentsListRow& row : rows) {
        lines.append(row.caption + u'\t' + row.sum + u'\t' + row.count + u'\t' + row.resetDate);
    }
    return lines.join(u'\n');
}
