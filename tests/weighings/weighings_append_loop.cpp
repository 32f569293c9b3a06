// Appends weighings to a table file in a loop, as the poll cycle does, for the tests that kill it
// at random moments or starve it of disk space and then check what is in the file.
//
//   weighings_append_loop <file> counter <count> [--file-size-limit <bytes>]
//       goes on from the table's stored counter: each weighing is the next number, stored with
//       appendWeighing() so that row and counter are committed together
//   weighings_append_loop <file> plain <first id> <count>
//       appends rows with the numbers first id .. first id + count - 1 with append()
//
// Prints "ready" once the table is open, "stored <n>" after each weighing in counter mode, and
// "error: <text>" before it exits with 3 when an append fails.

#include "weighings/weighingstable.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <sys/resource.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream out(stdout);
    if (args.size() < 4) {
        out << "usage: " << args.value(0) << " <file> counter|plain ...\n";
        return 2;
    }
    const QString file = args.at(1);
    const bool counterMode = args.at(2) == QStringLiteral("counter");
    const qint64 count = args.at(counterMode ? 3 : 4).toLongLong();
    qint32 nextId = counterMode ? 0 : args.at(3).toInt();

    if (const qsizetype at = args.indexOf(QStringLiteral("--file-size-limit")); at > 0) {
        // Writes past the limit fail with EFBIG, as on a full disk, instead of raising SIGXFSZ.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = args.value(at + 1).toULongLong();
        const rlimit fileSize{limit, limit};
        setrlimit(RLIMIT_FSIZE, &fileSize);
    }

    WeighingsTable table(file);
    if (const OpenResult opened = table.Open(); !opened.ok()) {
        out << "error: " << opened.error << Qt::endl;
        return 3;
    }
    if (counterMode) {
        const TableResult<std::optional<quint32>> stored = table.storedCounter();
        if (!stored.ok()) {
            out << "error: " << stored.error << Qt::endl;
            return 3;
        }
        nextId = static_cast<qint32>(stored.value.value_or(0)) + 1;
    }
    out << "ready" << Qt::endl;

    for (qint64 i = 0; i < count; ++i, ++nextId) {
        const WeighingRow row =
            weighingRowFromRecord(static_cast<float>(nextId % 1000) / 4, 1, 5, 24, 12, 0, 0,
                                  static_cast<qint16>(nextId % 16), nextId, QDate(2024, 5, 1));
        const TableResult<qint64> appended =
            counterMode ? table.appendWeighing(row, static_cast<quint32>(nextId))
                        : table.append(row);
        if (!appended.ok()) {
            out << "error: " << appended.error << Qt::endl;
            return 3;
        }
        if (counterMode)
            out << "stored " << nextId << Qt::endl;
    }
    return 0;
}
