#include "TestIni.h"
#include "modINI.h"

#include <QtTest>

// The settings reader: the rules a hand-edited quendra.ini is read by.
class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void reads_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& content, const char* where,
                            const QString& expected) {
            const QString at = QString(where);
            QTest::newRow(name) << content << at.section('/', 0, 0) << at.section('/', 1)
                                << expected;
        };
        const QByteArray usual = "[Settings]\nCommPort=2\nSetting=19200,n,8,1\nSlaveID=7\n";
        row("usual", usual, "Settings/Setting", "19200,n,8,1");
        row("key in any case", usual, "Settings/COMMPORT", "2");
        row("section in any case", usual, "sEtTiNgS/SlaveID", "7");
        row("plural key is another key", "[Settings]\nSettings=9600,n,8,1\n", "Settings/Setting",
            "");
        row("key of another section", "[Other]\nSlaveID=3\n[Settings]\n", "Settings/SlaveID", "");
        row("section appears twice", "[Settings]\n[Ports]\n[Settings]\nSlaveID=9\n",
            "Settings/SlaveID", "9");
        row("blanks around names and value", "  [ Settings ]  \n  SlaveID  =   12   \n",
            "Settings/SlaveID", "12");
        row("blanks inside kept", "[Settings]\nSetting= 9600, n,8,1 \n", "Settings/Setting",
            "9600, n,8,1");
        row("CRLF line ends", "[Settings]\r\nCommPort=4\r\nSlaveID=5\r\n", "Settings/CommPort",
            "4");
        row("UTF-8 byte-order mark", "\xEF\xBB\xBF[Settings]\nCommPort=3\n", "Settings/CommPort",
            "3");
        row("semicolon comment", "[Settings]\n;SlaveID=1\nSlaveID=2\n", "Settings/SlaveID", "2");
        row("hash comment", "[Settings]\n# SlaveID=1\n", "Settings/SlaveID", "");
        row("double quotes removed", "[Settings]\nSetting=\"9600,n,8,1\"\n", "Settings/Setting",
            "9600,n,8,1");
        row("single quotes removed", "[Settings]\nSlaveID='8'\n", "Settings/SlaveID", "8");
        row("unmatched quotes kept", "[Settings]\nSlaveID=\"8'\n", "Settings/SlaveID", "\"8'");
        row("only the outer pair", "[Settings]\nSlaveID=\"\"8\"\"\n", "Settings/SlaveID", "\"8\"");
        row("first repeated key wins", "[Settings]\nSlaveID=1\nSlaveID=2\n", "Settings/SlaveID",
            "1");
        row("empty value", "[Settings]\nSlaveID=\n", "Settings/SlaveID", "");
        row("empty quoted value", "[Settings]\nSlaveID=\"\"\n", "Settings/SlaveID", "");
        row("equals sign and backslashes kept", "[Ports]\nCOM1=C:\\a=b\n", "Ports/COM1", "C:\\a=b");
        row("no newline at end", "[Settings]\nSlaveID=42", "Settings/SlaveID", "42");
        row("key before any section", "SlaveID=1\n[Settings]\n", "Settings/SlaveID", "");
        row("header without closing bracket", "[Settings\nSlaveID=1\n", "Settings/SlaveID", "");
        row("NUL bytes around", QByteArray("[Settings]\n\0\0junk\nSlaveID=6\n\0", 29),
            "Settings/SlaveID", "6");
        row("value of 300 cut to 254", "[Settings]\nSetting=" + QByteArray(300, 'x'),
            "Settings/Setting", QString(254, 'x'));
    }
    void reads()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(modINI::iniValue(content, section, key), expected);
        // The same through the file beside the program, read anew each call.
        TestIni ini("[Settings]\nSetting=stale\nSlaveID=stale\nCommPort=stale\n");
        modINI::ReadINI(section, key);
        ini.write(content);
        QCOMPARE(modINI::ReadINI(section, key), expected);
        QFile file(ini.filePath()); // and never written
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }

    void folderEndsInOneSeparator_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        for (const char* folder : {"/opt/quendra/bin", "/opt/quendra/bin/"})
            QTest::newRow(folder) << QString(folder) << QString("/opt/quendra/bin/");
        QTest::newRow("root") << QString("/") << QString("/");
        QTest::newRow("drive root") << QString("C:\\") << QString("C:\\");
    }
    void folderEndsInOneSeparator()
    {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        QCOMPARE(modINI::withTrailingSeparator(folder), expected);
        modINI::setAppFolderOverride(folder);
        QCOMPARE(modINI::AppFolder(), expected);
        modINI::setAppFolderOverride({});
    }

    void appFolderIsTheExecutablesFolder()
    {
        QCOMPARE(modINI::AppFolder(), QCoreApplication::applicationDirPath() + '/');
    }
};

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
