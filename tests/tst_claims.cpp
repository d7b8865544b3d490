#include "serial/MSComm.h"
#include "tests/support/EmulatorProcess.h"
#include "tests/support/Process.h"
#include "tests/support/Pty.h"
#include "tests/support/Ser2net.h"
#include "tests/support/Watchdog.h"

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int StartMs = 10000; // only a broken program takes this long to take its port

// The system keeps a claim for user nobody as it does for an operator.
QStringList asNobody(const QStringList& command)
{
    return QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + command;
}

bool kill9(QProcess& process)
{
    process.kill();
    return process.waitForFinished(StartMs);
}

} // namespace

class tst_Claims : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder; // the panel's copy and its quendra.ini

    // A holder of the test's own (exclusive use only, the advisory lock only,
    // Qt's serial port), quendra-send, the panel or the bridge (no broker to
    // reach). True once it holds the device.
    bool startHolder(QProcess& holder, const QString& kind, const QString& device, bool nobody,
                     Pty* pty)
    {
        if (kind == "quendra-panel") {
            if (!startWithIni(
                    holder, QUENDRA_PANEL_PATH, m_folder.path(),
                    "[Settings]\nCommPort=1\nSetting=9600,n,8,1\nSlaveID=1\n[Ports]\nCOM1=" +
                        device.toUtf8() + "\n"))
                return false;
        } else {
            QStringList command{QUENDRA_HOLDER_PATH, kind, device};
            if (kind == "quendra-send")
                command =
                    QStringList{QUENDRA_SEND_PATH, "--port", device, "--uid", "1", "--script", "-"};
            else if (kind == "quendra-bridge")
                command = QStringList{QUENDRA_BRIDGE_PATH, "--line", "desk=" + device, "--broker",
                                      QString("mqtt://127.0.0.1:%1").arg(Ser2net::freePort())};
            if (nobody)
                command = QStringList{"setpriv"} + asNobody(command);
            const QString program = command.takeFirst();
            holder.start(program, command);
            if (!holder.waitForStarted(StartMs))
                return false;
        }
        if (kind == "quendra-send") {
            holder.write("dp 1\nwait 60000\n");
            holder.waitForBytesWritten(StartMs);
            holder.closeWriteChannel();
            return pty && pty->read(StartMs).toHex(' ') == "01 63 01";
        }
        if (kind == "quendra-panel" || kind == "quendra-bridge")
            return pollUntil(StartMs, [&] { return holdsFile(holder.processId(), device); });
        return holder.waitForReadyRead(StartMs) && holder.readLine() == "held\n";
    }

private slots:
    void initTestCase() { QVERIFY(m_folder.isValid()); }

    // Alive, a holder is named; killed, the mark it left on the
    // pseudo-terminal is no claim, and the port opens.
    void holders_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("killed");
        for (const char* kind :
             {"exclusive", "lock", "qt", "quendra-send", "quendra-panel", "quendra-bridge"}) {
            QTest::newRow(qPrintable(QString(kind) + ", alive")) << QString(kind) << false;
            QTest::newRow(qPrintable(QString(kind) + ", killed")) << QString(kind) << true;
        }
    }
    void holders()
    {
        QFETCH(QString, kind);
        QFETCH(bool, killed);
        const Watchdog watchdog(3 * StartMs);
        Pty pty;
        QProcess holder;
        QVERIFY(startHolder(holder, kind, pty.devicePath(), false, &pty));
        const qint64 pid = holder.processId();
        if (killed)
            QVERIFY(kill9(holder));
        MSComm port;
        port.setDevice(pty.devicePath());
        if (!killed) {
            QVERIFY(!port.open());
            const QString name =
                kind.startsWith("quendra-") ? kind : QString("quendra-test-holder");
            QCOMPARE(port.errorString(), QString("%1: the port is in use by %2, pid %3")
                                             .arg(pty.devicePath(), name)
                                             .arg(pid));
            stopChild(holder, StartMs);
        }
        QVERIFY2(port.open(), qPrintable(port.errorString()));
        QVERIFY(port.write(QByteArray::fromHex("016302")).ok());
        QCOMPARE(pty.read().toHex(' '), QByteArray("01 63 02"));
        QCOMPARE(exclusiveFlag(pty.devicePath()), 1);
        QVERIFY(port.close());
        QCOMPARE(exclusiveFlag(pty.devicePath()), 0);
    }

    // As an operator, whom the system itself refuses a marked device: a
    // killed holder's mark is cleared by the emulator at the other end; a
    // line no one clears is refused saying what it may be.
    void notRoot_data()
    {
        QTest::addColumn<QString>("otherEnd"); // "emulator" or the test's own
        QTest::addColumn<bool>("killed");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("live holder") << "test" << false << 3 << "in use by quendra-test-holder";
        QTest::newRow("killed holder, the emulator's line") << "emulator" << true << 0 << "";
        QTest::newRow("killed holder, a line no one clears")
            << "test" << true << 3
            << "in use by another program: one this user cannot see, or one that ended and "
               "left it claimed";
    }
    void notRoot()
    {
        QFETCH(QString, otherEnd);
        QFETCH(bool, killed);
        QFETCH(int, status);
        QFETCH(QString, says);
        if (::geteuid() != 0)
            QSKIP("takes root, to run the programs as another user");
        const Watchdog watchdog(4 * StartMs);
        Pty pty;
        EmulatorProcess emulator;
        if (otherEnd == "emulator")
            QVERIFY(emulator.start({"--pty"}));
        const QString device = otherEnd == "emulator" ? emulator.device() : pty.devicePath();
        QCOMPARE(::chmod(QFile::encodeName(device).constData(), 0666), 0);
        QProcess holder;
        QVERIFY(startHolder(holder, "exclusive", device, true, nullptr));
        if (killed)
            QVERIFY(kill9(holder));
        const Finished sent = runToEnd(
            "setpriv", asNobody({QUENDRA_SEND_PATH, "--port", device, "dp", "--uid", "1", "7"}),
            StartMs);
        QVERIFY2(sent.status == status && sent.err.contains(says.toUtf8()), sent.err.constData());
        if (otherEnd == "emulator")
            QCOMPARE(emulator.nextLine().mid(14), QString("01 63 07  UID 1 decimal points 7"));
        stopChild(holder, StartMs);
    }

    // Killed and started again on the emulator's pty (as make run wires it),
    // then stopped, letting go of it for quendra-send.
    void killedAndStartedAgain_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("the panel, on the emulator's pty") << "quendra-panel";
        QTest::newRow("the bridge, on the emulator's pty") << "quendra-bridge";
    }
    void killedAndStartedAgain()
    {
        QFETCH(QString, kind);
        const Watchdog watchdog(6 * StartMs);
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty"}));
        QProcess first;
        QVERIFY(startHolder(first, kind, emulator.device(), false, nullptr));
        QVERIFY(kill9(first));
        QProcess again;
        QVERIFY(startHolder(again, kind, emulator.device(), false, nullptr));
        stopChild(again, StartMs);
        QCOMPARE(exclusiveFlag(emulator.device()), 0);
        QCOMPARE(runToEnd(QUENDRA_SEND_PATH, {"--port", emulator.device(), "--uid", "1", "dp", "3"},
                          StartMs)
                     .status,
                 0);
        QCOMPARE(emulator.nextLine().mid(14), QString("01 63 03  UID 1 decimal points 3"));
    }
};

QTEST_GUILESS_MAIN(tst_Claims)
#include "tst_claims.moc"
