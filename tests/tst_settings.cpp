#include "protocol/protocol.h"
#include "serial/LineSettings.h"
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

    // Every sample settings file a user may copy, README's blocks among them,
    // gives values the panel can use: no comment kept inside a value.
    void samplesAreUsable_data()
    {
        QTest::addColumn<QByteArray>("sample");
        QFile readme(QUENDRA_SOURCE_DIR "/README.md");
        QVERIFY(readme.open(QIODevice::ReadOnly));
        // Indented blocks, blank lines inside them included.
        QList<QByteArray> blocks{QByteArray()};
        for (const QByteArray& line : readme.readAll().split('\n')) {
            if (line.startsWith("    ") || (line.trimmed().isEmpty() && !blocks.back().isEmpty()))
                blocks.back() += line.trimmed() + '\n';
            else if (!blocks.back().isEmpty())
                blocks.append(QByteArray());
        }
        int n = 0;
        for (const QByteArray& block : blocks) {
            if (block.contains("[Settings]") || block.contains("[Ports]"))
                QTest::newRow(qPrintable(QString("README block %1").arg(++n))) << block;
        }
        QVERIFY(n >= 2);
        for (const char* file : {"resources/quendra.ini", "tools/emulator/quendra.ini"}) {
            QFile sample(QString(QUENDRA_SOURCE_DIR "/") + file);
            QVERIFY(sample.open(QIODevice::ReadOnly));
            QTest::newRow(file) << sample.readAll();
        }
    }
    void samplesAreUsable()
    {
        QFETCH(QByteArray, sample);
        const auto value = [&](const char* key) {
            return modINI::iniValue(sample, "Settings", key);
        };
        static const QRegularExpression portNumber("^[1-6]?$");
        QVERIFY2(portNumber.match(value("CommPort")).hasMatch(), qPrintable(value("CommPort")));
        if (!value("Setting").isEmpty())
            QVERIFY2(parseLineSettings(value("Setting")), qPrintable(value("Setting")));
        if (!value("SlaveID").isEmpty())
            QVERIFY2(protocol::uidFromText(value("SlaveID")), qPrintable(value("SlaveID")));
        for (const auto& [key, device] : modINI::iniSection(sample, "Ports"))
            QVERIFY2(!device.contains(';') && !device.contains(' '), qPrintable(device));
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
