// The main window over the program core, with a fake port and fake timers: the boxes the core
// owes the operator are shown from the event loop, one per error, never inside a port call.
#include "support/fakeserialport.h"
#include "support/pollcycle_fakes.h"

#include "link/modbus.h"
#include "link/pollcycle.h"
#include "shell/tmainform.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

ProgramPaths pathsIn(const QTemporaryDir& dir) {
    ProgramPaths paths;
    paths.programFolder = dir.path() + u'/';
    paths.IniFileName = dir.filePath(QStringLiteral("kdm.ini"));
    paths.dbFolder = paths.programFolder + QStringLiteral("db/");
    paths.dbFile = paths.dbFolder + QStringLiteral("weights_data.DB");
    return paths;
}

// Closes every message box that comes up and notes its text.
class BoxCloser : public QObject {
public:
    BoxCloser() {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box && box->isVisible()) {
                    texts.append(box->text());
                    box->accept();
                }
            }
        });
        m_timer.start();
    }
    QStringList texts;

private:
    QTimer m_timer;
};

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private slots:
    void portLostInsideSendByte_oneBoxAfterThePortCall();
};

void MainFormTest::portLostInsideSendByte_oneBoxAfterThePortCall() {
    QTemporaryDir dir;
    FakeSerialPort port;
    FakePollTimers timers;
    ProgramCoreSeams seams;
    seams.writeLog = [](const QString&) {};
    seams.port = &port;
    seams.timers = &timers;
    {
        QFile ini(dir.filePath(QStringLiteral("kdm.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Settings]\r\nAutoscan=1\r\n");
    }
    TMainForm form(pathsIn(dir), seams);
    QCOMPARE(form.initialise(), QString());
    form.show();

    BoxCloser closer;
    port.loseAtByte(3);
    form.core().poll().TimerSendTimer();
    // Nothing came up inside the call: the box waits for the event loop.
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(port.written(), (std::vector<quint8>{0x01, 0x03}));

    QTRY_COMPARE(closer.texts.size(), 1);
    QCOMPARE(closer.texts.first(), WriteErrorText.toString());
    QTest::qWait(200);
    QCOMPARE(closer.texts.size(), 1);

    // The next tick reopens the port and sends a whole frame.
    port.clearWritten();
    form.core().poll().TimerSendTimer();
    QCOMPARE(port.written().size(), size_t(8));
    QCOMPARE(Crc16(port.written()), quint16(0));
    form.close();
}

QTEST_MAIN(MainFormTest)
#include "tst_mainform.moc"
