#include "settings/modINI.h"
#include "tests/support/TestIni.h"

#include <QtTest>

// The settings reader: the rules a hand-edited quendra.ini is read by.
class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void reads_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::addColumn<QString>("key");        // in "Settings"
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& content, const char* key,
                            const QString& expected) {
            QTest::newRow(name) << content << QString(key) << expected;
        };
        row("key and section in any case", "[sEtTiNgS]\nSlaveID=7\n", "SLAVEID", "7");
        row("Settings is another key", "[Settings]\nSettings=9600,n,8,1\n", "Setting", "");
        row("blanks around, kept inside", "  [ Settings ]  \n Setting =  9600, n  \n", "Setting",
            "9600, n");
        row("BOM and CRLF", "\xEF\xBB\xBF[Settings]\r\nCommPort=4\r\n", "CommPort", "4");
        row("comments", "[Settings]\n;SlaveID=1\n# SlaveID=2\nSlaveID=3\n", "SlaveID", "3");
        row("outer quotes removed", "[Settings]\nSlaveID=\"'8'\"\n", "SlaveID", "'8'");
        row("unmatched quotes kept", "[Settings]\nSlaveID=\"8'\n", "SlaveID", "\"8'");
        row("first repeat wins", "[Settings]\nSlaveID=1\n[Other]\n[Settings]\nSlaveID=2\n",
            "SlaveID", "1");
        row("cut to 254", "[Settings]\nSetting=" + QByteArray(300, 'x'), "Setting",
            QString(254, 'x'));
        row("no file", QByteArray(), "SlaveID", "");
    }
    void reads()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        // Through the file beside the program, read anew each call and never written.
        TestIni ini("[Settings]\nSetting=stale\nSlaveID=stale\nCommPort=stale\n");
        modINI::ReadINI("Settings", key);
        QFile::remove(ini.filePath());
        if (!content.isNull())
            ini.write(content);
        QCOMPARE(modINI::ReadINI("Settings", key), expected);
        QFile file(ini.filePath());
        QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), content);
    }

    void appFolderEndsInOneSeparator()
    {
        QCOMPARE(modINI::AppFolder(), QCoreApplication::applicationDirPath() + '/');
        for (const char* folder : {"/opt/q", "/opt/q/"})
            QCOMPARE(modINI::withTrailingSeparator(folder), QString("/opt/q/"));
    }
};

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
