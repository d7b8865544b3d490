#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

// The Debian package as a user receives it: built by CPack from this build,
// unpacked into a private root, and the installed programs run from there.
class tst_Package : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    QString m_deb;
    QString m_root;

    static QByteArray run(const QString& program, const QStringList& args, int* status = nullptr)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (!p.waitForFinished(180000))
            return "did not finish: " + program.toUtf8();
        if (status)
            *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return p.readAll();
    }

    bool writeIni(const QByteArray& content) const
    {
        QFile ini(m_root + "/opt/quendra/bin/quendra.ini");
        return ini.open(QIODevice::WriteOnly | QIODevice::Truncate) && ini.write(content) > 0;
    }

private slots:
    void initTestCase()
    {
        for (const char* tool : {"dpkg-deb", "dpkg"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP("dpkg is not installed");
        }
        int status = -1;
        const QString out = m_work.filePath("out");
        QByteArray log = run(QUENDRA_CPACK,
                             {"--config", QStringLiteral(QUENDRA_BUILD_DIR) + "/CPackConfig.cmake",
                              "-G", "DEB", "-B", out},
                             &status);
        QVERIFY2(status == 0, log.constData());
        const QStringList debs = QDir(out).entryList({"*.deb"}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        m_deb = out + "/" + debs.front();
        m_root = m_work.filePath("root");
        log = run("dpkg", {"-x", m_deb, m_root}, &status);
        QVERIFY2(status == 0, log.constData());
    }

    void contents_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("linkTarget"); // empty for a plain file
        const auto row = [](const char* path, const char* target = "") {
            QTest::newRow(path) << QString(path) << QString(target);
        };
        row("opt/quendra/bin/quendra-panel");
        row("opt/quendra/bin/quendra-send");
        row("opt/quendra/bin/quendra.ini");
        row("usr/bin/quendra-panel", "../../opt/quendra/bin/quendra-panel");
        row("usr/bin/quendra-send", "../../opt/quendra/bin/quendra-send");
        row("usr/share/applications/quendra-panel.desktop");
        row("usr/share/pixmaps/quendra-panel.png");
        row("usr/share/man/man1/quendra-send.1.gz");
#ifdef QUENDRA_HAS_EMULATOR
        row("opt/quendra/bin/quendra-emulator");
        row("usr/bin/quendra-emulator", "../../opt/quendra/bin/quendra-emulator");
#endif
    }
    void contents()
    {
        QFETCH(QString, path);
        QFETCH(QString, linkTarget);
        const QFileInfo info(m_root + "/" + path);
        QVERIFY2(info.exists(), qPrintable(path));
        QCOMPARE(info.isSymLink(), !linkTarget.isEmpty());
        if (info.isSymLink()) {
            // Relative, so the link works in an unpacked tree as in /usr/bin.
            QCOMPARE(info.symLinkTarget(),
                     QFileInfo(info.path() + "/" + linkTarget).absoluteFilePath());
            QVERIFY(QFileInfo(info.canonicalFilePath()).isExecutable());
        }
    }

    void settingsAreAConffileAndTheMenuStartsTheLauncher()
    {
        int status = -1;
        QCOMPARE(run("dpkg-deb", {"-I", m_deb, "conffiles"}, &status).trimmed(),
                 QByteArray("/opt/quendra/bin/quendra.ini"));
        QCOMPARE(status, 0);
        QFile entry(m_root + "/usr/share/applications/quendra-panel.desktop");
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray text = entry.readAll();
        QVERIFY(text.contains("\nExec=quendra-panel\n") && text.contains("\nIcon=quendra-panel\n"));
    }

    // Through its /usr/bin launcher, the sender reads the quendra.ini beside
    // its real executable: the shipped sample (SlaveID=1), then the user's own.
    void senderReadsIniBesideRealExecutable()
    {
        const QString launcher = m_root + "/usr/bin/quendra-send";
        QCOMPARE(run(launcher, {"--dry-run", "dp", "3"}), QByteArray("01 63 03\n"));
        QVERIFY(writeIni("[Settings]\nSlaveID=42\n"));
        QCOMPARE(run(launcher, {"--dry-run", "dp", "3"}), QByteArray("2A 63 03\n"));
    }

    // The panel, started through its launcher from another folder, opens
    // COM1 = "probe", a FIFO named relative to its real executable's folder:
    // proof that it found both the file and the folder.
    void panelReadsIniBesideRealExecutable()
    {
        QVERIFY(writeIni(
            "[Settings]\nCommPort=1\nSetting=9600,n,8,1\nSlaveID=1\n[Ports]\nCOM1=probe\n"));
        const QByteArray probe = QFile::encodeName(m_root + "/opt/quendra/bin/probe");
        QCOMPARE(::mkfifo(probe.constData(), 0600), 0);
        const int reader = ::open(probe.constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        QProcess panel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        panel.setProcessEnvironment(env);
        panel.setWorkingDirectory(m_work.path());
        panel.start(m_root + "/usr/bin/quendra-panel", {});
        QVERIFY(panel.waitForStarted());
        // A FIFO whose only writer has come and gone reports a hang-up; one
        // that no writer ever opened stays silent.
        pollfd p{reader, POLLIN, 0};
        const int ready = ::poll(&p, 1, 60000);
        panel.kill();
        panel.waitForFinished();
        ::close(reader);
        QCOMPARE(ready, 1);
        QVERIFY(p.revents & POLLHUP);
    }
};

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_package.moc"
