// The close of the real program against the simulator: when the configuration file cannot be
// written, the box that says so comes with everything already stopped. A weighing the terminal
// records while the box is open is neither stored nor logged, and nothing follows the exit line.
#include "e2e_support.h"
#include "support/immutablefiles.h"

#include <QtTest>

using namespace e2e;

class CloseOrderTest : public QObject {
    Q_OBJECT

private slots:
    void settingsErrorBox_nothingRunsBehindIt();
};

void CloseOrderTest::settingsErrorBox_nothingRunsBehindIt() {
    Rig rig;
    const QString why = rig.setUp(20, testSeed());
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    QVERIFY(rig.program.start());
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
    const qsizetype rows = lookAtTable(rig.install.dbFile()).rows.size();

    // The configuration file refuses every write from now on.
    ImmutableFiles locked({rig.install.iniFile()});
    if (!locked.error().isEmpty())
        QSKIP(qPrintable(QStringLiteral("no immutable files here: ") + locked.error()));
    const qsizetype outputBefore = rig.install.readFile(rig.program.outputFile()).size();
    rig.program.requestClose();
    // The close tells why on stderr as it shows its box.
    QVERIFY2(waitUntil([&] {
                 return rig.install.readFile(rig.program.outputFile())
                     .mid(outputBefore)
                     .contains("kdm.ini");
             }),
             rig.program.diagnostics().constData());
    const QStringList logAtBox = rig.install.logLines();
    QVERIFY(logAtBox.last().endsWith(QStringLiteral("* Program exit.")));

    QVERIFY(rig.weigh(QStringLiteral("3 12.5")));
    // Many request intervals long: a running poll cycle would have stored it by now.
    QTest::qWait(4000);
    QVERIFY(rig.program.isRunning());
    QCOMPARE(lookAtTable(rig.install.dbFile()).rows.size(), rows);
    QCOMPARE(rig.install.logLines(), logAtBox);

    // A second signal ends the box, and the close runs to its end.
    rig.program.requestClose();
    QVERIFY(rig.program.waitForEnd());
    QCOMPARE(rig.install.logLines(), logAtBox);
    QCOMPARE(lookAtTable(rig.install.dbFile()).rows.size(), rows);
}

QTEST_GUILESS_MAIN(CloseOrderTest)
#include "tst_closeorder.moc"
