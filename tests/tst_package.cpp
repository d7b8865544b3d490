#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The Debian package as a user receives it: built by CPack from this build,
// unpacked into a private root, and the installed sender run from there.
class tst_Package : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    QString m_root = QFileInfo(m_work.path()).canonicalFilePath() + "/root";

    static QByteArray run(const QString& program, const QStringList& args)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        const bool ok = p.waitForFinished(180000) && p.exitCode() == 0; // a crash has a signal code
        return (ok ? QByteArray() : "FAILED " + program.toUtf8() + "\n") + p.readAll();
    }

private slots:
    void initTestCase()
    {
        const QString out = m_work.filePath("out");
        const QByteArray log =
            run(QUENDRA_CPACK, {"--config", QUENDRA_BUILD_DIR "/CPackConfig.cmake", "-B", out});
        const QStringList debs = QDir(out).entryList({"*.deb"}, QDir::Files);
        QVERIFY2(debs.size() == 1, log.constData());
        const QString deb = out + "/" + debs.front();
        QCOMPARE(run("dpkg", {"-x", deb, m_root}), QByteArray());
        QCOMPARE(run("dpkg-deb", {"-I", deb, "conffiles"}),
                 QByteArray("/opt/quendra/bin/quendra.ini\n"));
    }

    void contents()
    {
        for (const char* file :
             {"usr/share/applications/quendra-panel.desktop", "usr/share/pixmaps/quendra-panel.png",
              "usr/share/man/man1/quendra-send.1.gz"})
            QVERIFY2(QFileInfo(m_root + "/" + file).isFile(), file);
        // Launchers are relative links, so they work in an unpacked tree as in /usr/bin.
        for (const char* name : {"quendra-panel", "quendra-send"}) {
            const QString real = m_root + "/opt/quendra/bin/" + name;
            QVERIFY2(QFileInfo(real).isExecutable(), name);
            QCOMPARE(QFileInfo(m_root + "/usr/bin/" + name).canonicalFilePath(), real);
        }
    }

    // Via its /usr/bin link the sender reads the quendra.ini beside its real executable.
    void senderReadsIniBesideRealExecutable()
    {
        const QString launcher = m_root + "/usr/bin/quendra-send";
        QCOMPARE(run(launcher, {"--dry-run", "dp", "3"}), QByteArray("01 63 03\n"));
        QFile ini(m_root + "/opt/quendra/bin/quendra.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("[Settings]\nSlaveID=42\n") > 0 &&
                ini.flush());
        QCOMPARE(run(launcher, {"--dry-run", "dp", "3"}), QByteArray("2A 63 03\n"));
    }
};

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_package.moc"
