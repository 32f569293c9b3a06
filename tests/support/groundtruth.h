#pragma once

// The terminal simulator's ground-truth file (its --truth option): one JSON object a line for
// every weighing it recorded, and the weighing's line once more, with "corrected":true, when its
// weight was changed in place:
//
//   {"number":39,"slot":38,"weight":12.5,"component":3,"datetime":"2026-12-11 11:16:48"}
//
// The simulator writes and flushes a line before the weighing can be read, so a test may read the
// file at any moment. Only lines ended by their newline count: one the simulator is still writing
// is left for the next read.

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <limits>

// One line of the file. A field the line lacks keeps the value given here, which no weighing
// has (readTruthRecords names such lines among its problems).
struct TruthRecord {
    quint32 number = std::numeric_limits<quint32>::max(); // WeighingCounter while it was newest
    int slot = -1;                                        // ring slot, 0..39
    // The single the terminal holds, as a double: the file prints it with 17 significant digits,
    // so this is that single exactly, bit for bit.
    double weight = std::numeric_limits<double>::quiet_NaN();
    int component = -1; // as the terminal numbers it, 1..16
    QString dateTime;   // "yyyy-MM-dd HH:mm:ss"; empty when the line has none
    bool corrected = false;
};

// Every complete line as its JSON object, in file order. A line that is no JSON object gives an
// empty object, so that an index into the list is still a line of the file, and a problem.
inline QList<QJsonObject> readTruthObjects(const QString& path, QStringList* problems = nullptr) {
    QList<QJsonObject> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (problems)
            problems->append(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return lines;
    }
    QList<QByteArray> texts = file.readAll().split('\n');
    texts.removeLast(); // empty after the last newline, else a line not yet written out
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (texts[i].trimmed().isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(texts[i], &error);
        if (problems && !document.isObject())
            problems->append(QStringLiteral("%1 line %2 is no JSON object: %3")
                                 .arg(path)
                                 .arg(i + 1)
                                 .arg(error.error == QJsonParseError::NoError
                                          ? QStringLiteral("not an object")
                                          : error.errorString()));
        lines.append(document.object());
    }
    return lines;
}

inline TruthRecord truthRecord(const QJsonObject& line) {
    TruthRecord r;
    r.number = quint32(line.value(QLatin1String("number")).toInteger(r.number));
    r.slot = line.value(QLatin1String("slot")).toInt(r.slot);
    r.weight = line.value(QLatin1String("weight")).toDouble(r.weight);
    r.component = line.value(QLatin1String("component")).toInt(r.component);
    r.dateTime = line.value(QLatin1String("datetime")).toString();
    r.corrected = line.value(QLatin1String("corrected")).toBool();
    return r;
}

// The file's weighings in recording order, corrections included (marked). problems gets one
// line for the file not read and for every line that is no object or lacks a number, slot,
// weight or component.
inline QList<TruthRecord> readTruthRecords(const QString& path, QStringList* problems = nullptr) {
    QList<TruthRecord> records;
    const QList<QJsonObject> lines = readTruthObjects(path, problems);
    for (const QJsonObject& line : lines) {
        if (problems && !line.isEmpty()) {
            for (const char* key : {"number", "slot", "weight", "component"}) {
                if (!line.value(QLatin1String(key)).isDouble())
                    problems->append(QStringLiteral("%1: a line without a %2: %3")
                                         .arg(path, QLatin1String(key),
                                              QString::fromUtf8(QJsonDocument(line).toJson(
                                                  QJsonDocument::Compact))));
            }
        }
        records.append(truthRecord(line));
    }
    return records;
}
