#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <QVariantList>

// A connection of its own to a table file, to look at what the store wrote or to spoil it on
// purpose, without going through the store.
class RawDatabase {
public:
    explicit RawDatabase(const QString& path)
        : m_name(QStringLiteral("raw_%1").arg(++serial())) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        db.open();
    }
    ~RawDatabase() {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;

    // Runs a statement; gives SQLite's reason on failure, else an empty text.
    QString exec(const QString& sql) {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        return query.exec(sql) ? QString() : query.lastError().text();
    }

    // Every row of a query, each as the list of its values.
    QList<QVariantList> rows(const QString& sql) {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        query.setForwardOnly(true);
        QList<QVariantList> result;
        if (!query.exec(sql))
            return result;
        while (query.next()) {
            QVariantList row;
            for (int i = 0; i < query.record().count(); ++i)
                row << query.value(i);
            result << row;
        }
        return result;
    }

    QVariant scalar(const QString& sql) {
        const QList<QVariantList> all = rows(sql);
        return all.isEmpty() || all.first().isEmpty() ? QVariant() : all.first().first();
    }

    bool integrityOk() { return scalar(QStringLiteral("PRAGMA integrity_check")) == "ok"; }

private:
    static int& serial() {
        static int value = 0;
        return value;
    }
    QString m_name;
};
