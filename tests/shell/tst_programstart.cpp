// Start and close of the real program, observed through the files it leaves behind.

#include "support/immutablefiles.h"
#include "support/programinstall.h"

#include <QCryptographicHash>
#include <QDirIterator>

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr int StartTimeoutMs = 15000;

// The keys a first close writes, section by section, in the order they are written.
QStringList expectedKeys() {
    QStringList keys;
    const auto add = [&keys](const QString& section, const QStringList& names) {
        for (const QString& name : names)
            keys.append(section + QLatin1Char('/') + name);
    };
    add(QStringLiteral("Settings"),
        {"Comport", "Baudrate", "DeviceNumber", "SendInterval", "ShowConsole", "Autoscan",
         "ShowComponents", "AllowMultiple", "Autorun"});
    add(QStringLiteral("ID"), {"ID_old"});
    add(QStringLiteral("MainWindow"), {"Top", "Left", "Width", "Height"});
    add(QStringLiteral("ConsoleForm"), {"Top", "Left", "Width", "Height"});
    add(QStringLiteral("Font"),
        {"Size", "Color", "Name", "StyleBold", "StyleItalic", "StyleUnderline", "StyleStrikeOut"});
    add(QStringLiteral("Components"), {"Column1", "Column2", "Column3", "Column4", "Width"});
    for (int n = 1; n <= 8; ++n) {
        add(QStringLiteral("ExtButton%1").arg(n),
            {"Show", "Image", "Name", "Command", "DailyAlarm", "AlarmHours", "AlarmMinutes",
             "OneTimeAlarm", "DateTime"});
    }
    add(QStringLiteral("DB"), {"Column1Width", "Column2Width", "Column3Width", "Column4Width"});
    return keys;
}

// Every file under `folder` with a hash of its bytes.
QStringList filesWithHashes(const QString& folder) {
    QStringList list;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        list.append(path + QLatin1Char(' ') +
                    QString::fromLatin1(
                        QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
    }
    list.sort();
    return list;
}

QStringList keysInFile(const QByteArray& ini) {
    QStringList keys;
    QString section;
    for (const QByteArray& raw : ini.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
            section = line.mid(1, line.size() - 2);
        else if (line.contains(QLatin1Char('=')))
            keys.append(section + QLatin1Char('/') + line.section(QLatin1Char('='), 0, 0));
    }
    return keys;
}

} // namespace

class ProgramStartTest : public QObject {
    Q_OBJECT

private:
    // Starts the program and waits until its main window has been built.
    QProcess* startAndWaitForWindow(const ProgramInstall& install) {
        QProcess* process = install.start(this);
        if (!process->waitForStarted(StartTimeoutMs))
            return process;
        if (!QTest::qWaitFor([&] { return !install.logLines().isEmpty(); }, StartTimeoutMs))
            qWarning("the program wrote no log line");
        // The log line comes before the windows; give the event loop a moment to run.
        QTest::qWait(500);
        return process;
    }

    static void terminateAndWait(QProcess* process, int expectedExit = 0) {
        ProgramInstall::terminate(process);
        QVERIFY(process->waitForFinished(StartTimeoutMs));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), expectedExit);
    }

private slots:
    void firstStart_logsStartAndExit_andWritesAll106KeysInOrder() {
        ProgramInstall install;
        QVERIFY(install.isValid());
        QProcess* program = startAndWaitForWindow(install);
        terminateAndWait(program);

        const QStringList log = install.logLines();
        QCOMPARE(log.size(), 3);
        static const QRegularExpression stamp(
            QStringLiteral(R"(^\[\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\]: )"));
        for (const QString& line : log)
            QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
        QVERIFY(log.first().endsWith(QStringLiteral("* Program start.")));
        QVERIFY(
            log[1].endsWith(QStringLiteral("Database: Table does not exist. Creating new table.")));
        QVERIFY(log.last().endsWith(QStringLiteral("* Program exit.")));

        const QStringList keys = keysInFile(install.readFile(install.iniFile()));
        QCOMPARE(keys.size(), 106);
        QCOMPARE(keys, expectedKeys());
        QVERIFY(QFile::exists(install.dbFile()));
    }

    void secondStart_keepsEveryValue() {
        ProgramInstall install;
        QVERIFY(install.isValid());
        terminateAndWait(startAndWaitForWindow(install));

        QByteArray ini = install.readFile(install.iniFile());
        ini.replace("Comport=0", "Comport=3");
        ini.replace("Baudrate=1", "Baudrate=6");
        ini.replace("DeviceNumber=1", "DeviceNumber=17");
        ini.replace("SendInterval=250", "SendInterval=400");
        ini.replace("ShowComponents=1", "ShowComponents=0");
        ini.replace("Width=785", "Width=900");
        ini.replace("Size=10", "Size=12");
        ini.replace("Color=clBlack", "Color=clRed");
        ini.replace("StyleBold=0", "StyleBold=1");
        ini.replace("Column2=135", "Column2=150");
        ini.replace("Column2Width=110", "Column2Width=120");
        ini.replace("ID_old=0", "ID_old=4242");
        // Button 1 gets a name, an alarm and another command.
        ini.replace("[ExtButton1]\nShow=1\nImage=1\nName=\nCommand=0\nDailyAlarm=0\nAlarmHours=0",
                    "[ExtButton1]\nShow=0\nImage=5\nName=Мешалка\nCommand=12\nDailyAlarm=1\n"
                    "AlarmHours=8");
        install.writeFile(install.iniFile(), ini);

        terminateAndWait(startAndWaitForWindow(install));
        QCOMPARE(QString::fromUtf8(install.readFile(install.iniFile())), QString::fromUtf8(ini));
    }

    void networkNumber_fromEarlierVersionsKey_isKeptUnderDeviceNumber() {
        ProgramInstall install;
        QVERIFY(install.isValid());
        install.writeFile(install.iniFile(), "[Settings]\nDevice=5\n");
        terminateAndWait(startAndWaitForWindow(install));
        const QByteArray ini = install.readFile(install.iniFile());
        QVERIFY2(ini.contains("DeviceNumber=5"), ini.constData());
        QCOMPARE(keysInFile(ini).size(), 107); // the old key stays, as unknown keys do
    }

    void secondInstance_isRefusedWithExitCode0_andLogsNothing() {
        ProgramInstall install;
        QVERIFY(install.isValid());
        QProcess* first = startAndWaitForWindow(install);
        const int linesBefore = install.logLines().size();

        QProcess* second = install.start(this);
        QVERIFY(second->waitForStarted(StartTimeoutMs));
        // The refusal is a message box the operator has to close; it writes no log line.
        QByteArray err;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (err += second->readAllStandardError()).contains("another instance"), err.constData(),
            StartTimeoutMs);
        QCOMPARE(second->state(), QProcess::Running);
        terminateAndWait(second);
        QCOMPARE(install.logLines().size(), linesBefore);

        terminateAndWait(first);
    }

    void secondInstance_isLetThrough_whenAllowMultipleIsSet() {
        ProgramInstall install;
        QVERIFY(install.isValid());
        install.writeFile(install.iniFile(), "[Settings]\nAllowMultiple=1\n");
        QProcess* first = startAndWaitForWindow(install);

        QProcess* second = install.start(this);
        QVERIFY(second->waitForStarted(StartTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(
            install.logLines().filter(QStringLiteral("* Program start.")).size(), 2,
            StartTimeoutMs);
        QTest::qWait(500);
        terminateAndWait(second);
        terminateAndWait(first);
        QCOMPARE(install.logLines().filter(QStringLiteral("* Program exit.")).size(), 2);
    }

    void fontColourThatIsNoColour_endsTheStartUp_namingFileKeyAndValue() {
        ProgramInstall install;
        QVERIFY(install.isValid());
        install.writeFile(install.iniFile(), "[Font]\nColor=abc\n");
        QProcess* program = install.start(this);
        QVERIFY(program->waitForStarted(StartTimeoutMs));
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += program->readAllStandardError()).contains("abc"),
                                 StartTimeoutMs);
        QVERIFY2(err.contains("kdm.ini") && err.contains("Color"), err.constData());
        terminateAndWait(program);

        const QStringList log = install.logLines();
        QVERIFY(log.first().endsWith(QStringLiteral("* Program start.")));
        QVERIFY(log.filter(QStringLiteral("* Program exit.")).isEmpty());
    }

    void tableThatCannotBeOpened_data() {
        QTest::addColumn<QByteArray>("content"); // of weights_data.DB; null: no file
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::newRow("not an SQLite file")
            << QByteArray("weighings of another program\n") << false;
        QTest::newRow("read-only db folder, no table yet") << QByteArray() << true;
        QTest::newRow("read-only db folder holding a table") << QByteArray("table") << true;
    }

    // The box says which file and why; behind it nothing runs (no timer ticks, nothing polls,
    // nothing is written), the program lives on until the box is closed or it is told to end,
    // and then ends in order.
    void tableThatCannotBeOpened() {
        QFETCH(QByteArray, content);
        QFETCH(bool, readOnlyFolder);
        ProgramInstall install;
        QVERIFY(install.isValid());
        const QString dbFolder = QFileInfo(install.dbFile()).absolutePath();
        QVERIFY(QDir().mkpath(dbFolder));
        if (content == "table") {
            // A table the program made itself in an earlier run.
            terminateAndWait(startAndWaitForWindow(install));
            QFile::remove(install.logFile());
        } else if (!content.isNull()) {
            install.writeFile(install.dbFile(), content);
        }
        ImmutableFiles locked(readOnlyFolder ? QStringList{dbFolder} : QStringList{});
        if (!locked.error().isEmpty())
            QSKIP(qPrintable(QStringLiteral("no immutable folder here: ") + locked.error()));
        const QStringList before = filesWithHashes(dbFolder);
        const QByteArray iniBefore = install.readFile(install.iniFile());

        QProcess* program =
            install.start(this, {QStringLiteral("QT_LOGGING_RULES=kdm.*.debug=true")});
        QVERIFY(program->waitForStarted(StartTimeoutMs));
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += program->readAllStandardError()).contains("Не удалось открыть таблицу отвесов"),
            StartTimeoutMs);
        QVERIFY2(err.contains(QFile::encodeName(install.dbFile())), err.constData());
        QVERIFY2(err.contains("Причина: "), err.constData());
        // Two ticks of the Alarm timer long: the program lives, and no timer has fired.
        QTest::qWait(5000);
        QCOMPARE(program->state(), QProcess::Running);
        err += program->readAllStandardError();
        QVERIFY2(!err.contains("tick"), err.constData());
        terminateAndWait(program);

        QCOMPARE(filesWithHashes(dbFolder), before);
        QCOMPARE(install.readFile(install.iniFile()), iniBefore);
        const QStringList log = install.logLines();
        QVERIFY2(log.size() >= 3, qPrintable(log.join(u'\n')));
        QVERIFY(log.first().endsWith(QStringLiteral("* Program start.")));
        QVERIFY(log.at(log.size() - 2).contains(QStringLiteral("Database: Weighings table")));
        QVERIFY(log.filter(QStringLiteral("Table opened.")).isEmpty());
        QVERIFY(log.last().endsWith(QStringLiteral("* Program exit.")));
    }

    void settingsThatCannotBeWritten_areReported_andTheProgramStillEnds() {
        ProgramInstall install;
        QVERIFY(install.isValid());
        // A folder where the configuration file should be: every write of it fails.
        QVERIFY(QDir().mkpath(install.iniFile()));
        QProcess* program = startAndWaitForWindow(install);
        ProgramInstall::terminate(program);
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += program->readAllStandardError()).contains("kdm.ini"),
                                 StartTimeoutMs);
        // The error box waits for the operator; closing it lets the close go on.
        terminateAndWait(program);
        QVERIFY(install.logLines().last().endsWith(QStringLiteral("* Program exit.")));
    }
};

QTEST_GUILESS_MAIN(ProgramStartTest)
#include "tst_programstart.moc"
