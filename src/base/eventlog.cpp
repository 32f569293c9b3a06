#include "base/eventlog.h"

#include <QFile>
#include <QStringEncoder>

QByteArray logEntry(const QDateTime& when, const QString& message) {
    // A CR LF already in the message stays one line break rather than gaining a second CR.
    QString body = message;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    body.replace(u'\n', QStringLiteral("\r\n"));

    const QString stamp = when.toString(QStringLiteral("'['dd.MM.yyyy HH:mm:ss']: '"));
    QStringEncoder encode(QStringConverter::System);
    return encode(stamp + body + QStringLiteral("\r\n"));
}

void WriteLog(const QString& path, const QDateTime& when, const QString& message) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(logEntry(when, message));
    file.flush();
    file.close();
}

void WriteLog(const QString& message) {
    WriteLog(QStringLiteral("log.txt"), QDateTime::currentDateTime(), message);
}
