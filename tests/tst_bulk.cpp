#include "tests/support/EmulatorProcess.h"
#include "tests/support/Panel.h"

// Long runs through the panel's port to the emulator: slow, so make check
// leaves them to make test.
class tst_Bulk : public QObject
{
    Q_OBJECT

private slots:
    // 10,000 frames in order, one log line each. Runs of 250 go without a pause as one
    // burst to take apart; the last of a run is brightness, which takes the rest of it.
    void tenThousandFramesInOrder()
    {
        QTemporaryDir dir;
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", dir.filePath("tty"), "--uid", "any"}));
        Panel p("CommPort=1\nSetting=9600,n,8,1\nSlaveID=9\n[Ports]\nCOM1=" +
                dir.filePath("tty").toUtf8());
        for (int start = 0; start < 10000; start += 250) {
            QList<QByteArray> sent;
            for (int i = start; i < start + 250; ++i) {
                const QByteArray n = QByteArray::number(i).rightJustified(6, ' ');
                const QByteArray frames[] = {"\x09\x62" + n, "\x1e\x1e\x12\x09", "\x09\x6e" + n};
                sent << frames[i == start + 249 ? 2 : i % 2];
                QVERIFY(p.window->port().write(sent.back()).ok());
            }
            for (const QByteArray& frame : sent)
                QCOMPARE(emulator.nextLine().mid(14).section("  ", 0, 0),
                         QString(frame.toHex(' ').toUpper()));
        }
        QCOMPARE(p.messages, QStringList());
    }
};

QTEST_MAIN(tst_Bulk)
#include "tst_bulk.moc"
