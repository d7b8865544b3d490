#include "EmulatorProcess.h"
#include "Panel.h"

// The panel and the emulator on one pseudo-terminal: every button the
// operator presses shows up as the emulator's log line for that frame.
class tst_EmulatorPanel : public QObject
{
    Q_OBJECT

private slots:
    void everyButtonReachesTheModule()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("module.tty");
        EmulatorProcess emulator;
        QVERIFY(emulator.start({"--pty", "--link", link, "--uid", "1"}));
        // The first COM1 in the file wins over the fixture's own.
        Panel p("CommPort=1\nSetting=9600,n,8,1\nSlaveID=1\n[Ports]\nCOM1=" + link.toUtf8());
        QCOMPARE(p.messages, QStringList());

        const QList<QPair<QStringList, const char*>> steps = {
            {{"txtdata=HI", "cmdTransmit"}, "01 62 20 20 20 20 48 49  UID 1 text '    HI'"},
            {{"cboDP=5", "cmdDP"}, "01 63 05  UID 1 decimal points 5"},
            {{"cbolm4=12", "cbolm3=34", "cbolm2=56", "cbolm1=78", "optSigned", "cmdDecimal"},
             "01 65 12 34 56 78  UID 1 long signed 305419896, overflow: shows OFL"},
            {{"cbolm4=00", "cbolm3=0F", "cbolm2=42", "cbolm1=3F", "optUnsigned", "cmdDecimal"},
             "01 64 00 0F 42 3F  UID 1 long unsigned 999999"},
            {{"cbosi2=80", "cbosi1=00", "optSignedS", "cmdShort"},
             "01 67 80 00  UID 1 short signed -32768"},
            {{"optUnsignedS", "cmdShort"}, "01 66 80 00  UID 1 short unsigned 32768"},
            {{"cboSeg6=FF", "cboSeg5=01", "cboSeg4=80", "cboSeg3=40", "cboSeg2=02", "cboSeg1=24",
              "cmdSEG"},
             "01 61 FF 01 80 40 02 24  UID 1 segments"},
            {{"cmdDIM"},
             "01 6E FF 01 80 40 02 24  UID 1 brightness: dim (6 payload bytes ignored)"},
            {{"cboUID=7", "txtdata=AB", "cmdTransmit"},
             "07 62 20 20 20 20 41 42  text for UID 7, ignored"},
            {{"opt19200", "cboCuid=9", "cmdConfig"},
             "1E 1E 12 09  configuration: UID 1 -> 9, 19200 baud"},
            {{"cboUID=9", "cmdDIM"},
             "09 6E 1E 12 09  UID 9 brightness: full (3 payload bytes ignored)"},
        };
        for (const auto& [act, line] : steps) {
            p.set(act);
            QCOMPARE(emulator.nextLine().mid(14), QString(line)); // without its time
        }
        QCOMPARE(p.messages, QStringList());
    }
};

QTEST_MAIN(tst_EmulatorPanel)
#include "tst_emulator_panel.moc"
