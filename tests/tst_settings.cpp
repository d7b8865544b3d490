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

        const QByteArray usual = "[Settings]\nCommPort=2\nSetting=19200,n,8,1\nSlaveID=7\n";
        QTest::newRow("port") << usual << "Settings"
                              << "CommPort"
                              << "2";
        QTest::newRow("line settings") << usual << "Settings"
                                       << "Setting"
                                       << "19200,n,8,1";
        QTest::newRow("uid") << usual << "Settings"
                             << "SlaveID"
                             << "7";
        QTest::newRow("key in any case") << usual << "Settings"
                                         << "COMMPORT"
                                         << "2";
        QTest::newRow("section in any case") << usual << "sEtTiNgS"
                                             << "SlaveID"
                                             << "7";
        QTest::newRow("plural key is another key")
            << QByteArray("[Settings]\nSettings=9600,n,8,1\n") << "Settings"
            << "Setting"
            << "";
        QTest::newRow("key of another section")
            << QByteArray("[Other]\nSlaveID=3\n[Settings]\nCommPort=1\n") << "Settings"
            << "SlaveID"
            << "";
        QTest::newRow("section appears twice")
            << QByteArray("[Settings]\nCommPort=1\n[Ports]\n[Settings]\nSlaveID=9\n") << "Settings"
            << "SlaveID"
            << "9";
        QTest::newRow("blanks around names and value")
            << QByteArray("  [ Settings ]  \n  SlaveID  =   12   \n") << "Settings"
            << "SlaveID"
            << "12";
        QTest::newRow("blanks inside kept")
            << QByteArray("[Settings]\nSetting= 9600, n,8,1 \n") << "Settings"
            << "Setting"
            << "9600, n,8,1";
        QTest::newRow("CRLF line ends")
            << QByteArray("[Settings]\r\nCommPort=4\r\nSlaveID=5\r\n") << "Settings"
            << "CommPort"
            << "4";
        QTest::newRow("UTF-8 byte-order mark")
            << QByteArray("\xEF\xBB\xBF[Settings]\nCommPort=3\n") << "Settings"
            << "CommPort"
            << "3";
        QTest::newRow("semicolon comment")
            << QByteArray("[Settings]\n;SlaveID=1\nSlaveID=2\n") << "Settings"
            << "SlaveID"
            << "2";
        QTest::newRow("hash comment") << QByteArray("[Settings]\n# SlaveID=1\n") << "Settings"
                                      << "SlaveID"
                                      << "";
        QTest::newRow("double quotes removed")
            << QByteArray("[Settings]\nSetting=\"9600,n,8,1\"\n") << "Settings"
            << "Setting"
            << "9600,n,8,1";
        QTest::newRow("single quotes removed")
            << QByteArray("[Settings]\nSlaveID='8'\n") << "Settings"
            << "SlaveID"
            << "8";
        QTest::newRow("unmatched quotes kept")
            << QByteArray("[Settings]\nSlaveID=\"8'\n") << "Settings"
            << "SlaveID"
            << "\"8'";
        QTest::newRow("only the outer pair")
            << QByteArray("[Settings]\nSlaveID=\"\"8\"\"\n") << "Settings"
            << "SlaveID"
            << "\"8\"";
        QTest::newRow("first repeated key wins")
            << QByteArray("[Settings]\nSlaveID=1\nSlaveID=2\n") << "Settings"
            << "SlaveID"
            << "1";
        QTest::newRow("empty value") << QByteArray("[Settings]\nSlaveID=\n") << "Settings"
                                     << "SlaveID"
                                     << "";
        QTest::newRow("empty quoted value")
            << QByteArray("[Settings]\nSlaveID=\"\"\n") << "Settings"
            << "SlaveID"
            << "";
        QTest::newRow("equals sign inside value")
            << QByteArray("[Ports]\nCOM1=/dev/a=b\n") << "Ports"
            << "COM1"
            << "/dev/a=b";
        QTest::newRow("backslashes kept") << QByteArray("[Ports]\nCOM1=C:\\dev\\tty\n") << "Ports"
                                          << "COM1"
                                          << "C:\\dev\\tty";
        QTest::newRow("no newline at end") << QByteArray("[Settings]\nSlaveID=42") << "Settings"
                                           << "SlaveID"
                                           << "42";
        QTest::newRow("key before any section")
            << QByteArray("SlaveID=1\n[Settings]\n") << "Settings"
            << "SlaveID"
            << "";
        QTest::newRow("header without closing bracket")
            << QByteArray("[Settings\nSlaveID=1\n") << "Settings"
            << "SlaveID"
            << "";
        QTest::newRow("NUL bytes around")
            << QByteArray("[Settings]\n\0\0junk\nSlaveID=6\n\0", 29) << "Settings"
            << "SlaveID"
            << "6";
        QTest::newRow("value longer than 254")
            << QByteArray("[Settings]\nSetting=" + QByteArray(300, 'x') + "\n") << "Settings"
            << "Setting" << QString(254, 'x');
        QTest::newRow("value of exactly 254")
            << QByteArray("[Settings]\nSetting=" + QByteArray(254, 'y') + "\n") << "Settings"
            << "Setting" << QString(254, 'y');
    }
    void reads()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(modINI::iniValue(content, section, key), expected);

        // The same through the file beside the program.
        TestIni ini(content);
        QCOMPARE(modINI::ReadINI(section, key), expected);
    }

    void anyContentYieldsTextNeverACrash_data()
    {
        QTest::addColumn<QByteArray>("content");
        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            binary.append(char((i * 131 + 7) & 0xFF));
        QTest::newRow("binary") << binary;
        QTest::newRow("one long line") << QByteArray(2 * 1024 * 1024, '[');
        QTest::newRow("megabytes of keys")
            << ("[Settings]\n" + QByteArray("Key=value\n").repeated(400000) + "SlaveID=3\n");
        QTest::newRow("only separators") << QByteArray("=\n=\n[]\n[=]\n=]\n");
    }
    void anyContentYieldsTextNeverACrash()
    {
        QFETCH(QByteArray, content);
        const QString value = modINI::iniValue(content, "Settings", "SlaveID");
        QVERIFY(value.size() <= modINI::MaxValueLength);
    }

    void noFileGivesEmptyTexts()
    {
        TestIni ini;
        QVERIFY(!QFile::exists(ini.filePath()));
        for (const char* key : {"CommPort", "Setting", "SlaveID"})
            QCOMPARE(modINI::ReadINI("Settings", key), QString());
    }

    void folderInPlaceOfFileGivesEmptyTexts()
    {
        TestIni ini;
        QVERIFY(QDir(ini.folder()).mkdir(modINI::FileName));
        QCOMPARE(modINI::ReadINI("Settings", "CommPort"), QString());
    }

    void fileIsReadAnewOnEveryCall()
    {
        TestIni ini("[Settings]\nSlaveID=1\n");
        QCOMPARE(modINI::ReadINI("Settings", "SlaveID"), QString("1"));
        ini.write("[Settings]\nSlaveID=2\n");
        QCOMPARE(modINI::ReadINI("Settings", "SlaveID"), QString("2"));
    }

    void readingNeverWritesTheFile()
    {
        const QByteArray content = "[Settings]\r\nCommPort=1\r\n";
        TestIni ini(content);
        modINI::ReadINI("Settings", "CommPort");
        modINI::ReadINI("Settings", "Missing");
        QFile file(ini.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }

    void folderEndsInOneSeparator_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "/opt/quendra/bin"
                               << "/opt/quendra/bin/";
        QTest::newRow("already ends in /") << "/opt/quendra/bin/"
                                           << "/opt/quendra/bin/";
        QTest::newRow("root") << "/"
                              << "/";
        QTest::newRow("drive root") << "C:\\"
                                    << "C:\\";
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
