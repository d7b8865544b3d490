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

private:
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

private slots:
    void initTestCase()
    {
        for (const char* tool : {"dpkg-deb", "dpkg"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP("dpkg is not installed");
        }
        QVERIFY(m_work.isValid());
        int status = -1;
        const QByteArray log =
            run(QStringLiteral(QUENDRA_CPACK),
                {"--config", QStringLiteral(QUENDRA_BUILD_DIR "/CPackConfig.cmake"), "-G", "DEB",
                 "-B", m_work.filePath("out")},
                &status);
        QVERIFY2(status == 0, log.constData());
        const QStringList debs = QDir(m_work.filePath("out")).entryList({"*.deb"}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        m_deb = m_work.filePath("out/" + debs.front());

        m_root = m_work.filePath("root");
        const QByteArray unpack = run("dpkg", {"-x", m_deb, m_root}, &status);
        QVERIFY2(status == 0, unpack.constData());
    }

    void contents_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("linkTarget"); // empty for a plain file
        QTest::newRow("panel") << "opt/quendra/bin/quendra-panel"
                               << "";
        QTest::newRow("sender") << "opt/quendra/bin/quendra-send"
                                << "";
        QTest::newRow("sample settings") << "opt/quendra/bin/quendra.ini"
                                         << "";
        QTest::newRow("panel launcher") << "usr/bin/quendra-panel"
                                        << "../../opt/quendra/bin/quendra-panel";
        QTest::newRow("sender launcher") << "usr/bin/quendra-send"
                                         << "../../opt/quendra/bin/quendra-send";
        QTest::newRow("desktop entry") << "usr/share/applications/quendra-panel.desktop"
                                       << "";
        QTest::newRow("icon") << "usr/share/pixmaps/quendra-panel.png"
                              << "";
        QTest::newRow("man page") << "usr/share/man/man1/quendra-send.1.gz"
                                  << "";
#ifdef QUENDRA_HAS_EMULATOR
        QTest::newRow("emulator") << "opt/quendra/bin/quendra-emulator"
                                  << "";
        QTest::newRow("emulator launcher") << "usr/bin/quendra-emulator"
                                           << "../../opt/quendra/bin/quendra-emulator";
#endif
    }
    void contents()
    {
        QFETCH(QString, path);
        QFETCH(QString, linkTarget);
        const QFileInfo info(m_root + "/" + path);
        QVERIFY2(info.exists(), qPrintable(path));
        if (linkTarget.isEmpty()) {
            QVERIFY2(!info.isSymLink(), qPrintable(path));
        } else {
            // Relative, so the link works in an unpacked tree as in /usr/bin.
            QCOMPARE(QFile::symLinkTarget(info.filePath()),
                     QFileInfo(info.path() + "/" + linkTarget).absoluteFilePath());
            QVERIFY(QFileInfo(info.canonicalFilePath()).isExecutable());
        }
    }

    void settingsAreAConffile()
    {
        int status = -1;
        const QByteArray conffiles = run("dpkg-deb", {"-I", m_deb, "conffiles"}, &status);
        QCOMPARE(status, 0);
        QCOMPARE(conffiles.trimmed(), QByteArray("/opt/quendra/bin/quendra.ini"));
    }

    void desktopEntryStartsTheLauncher()
    {
        QFile entry(m_root + "/usr/share/applications/quendra-panel.desktop");
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray text = entry.readAll();
        QVERIFY(text.contains("\nExec=quendra-panel\n"));
        QVERIFY(text.contains("\nIcon=quendra-panel\n"));
    }

    // Started through the /usr/bin launcher, the installed program reads the
    // quendra.ini beside its real executable: first the shipped sample
    // (SlaveID=1), then an operator's own.
    void launcherReadsIniBesideRealExecutable()
    {
        const QString launcher = m_root + "/usr/bin/quendra-send";
        int status = -1;
        QCOMPARE(run(launcher, {"--dry-run", "dp", "3"}, &status), QByteArray("01 63 03\n"));
        QCOMPARE(status, 0);

        QFile ini(m_root + "/opt/quendra/bin/quendra.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[Settings]\nSlaveID=42\n");
        ini.close();
        QCOMPARE(run(launcher, {"--dry-run", "dp", "3"}, &status), QByteArray("2A 63 03\n"));
        QCOMPARE(status, 0);
    }

    // The panel itself, started through its launcher from another folder:
    // its quendra.ini maps COM1 to "probe", a name relative to the program's
    // folder, and there a FIFO stands. The panel opening it at start-up (and
    // closing it again, since a FIFO is no terminal) shows that it found both
    // the file and the folder beside its real executable.
    void panelReadsIniBesideRealExecutable()
    {
        const QString folder = m_root + "/opt/quendra/bin";
        QFile ini(folder + "/quendra.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[Settings]\nCommPort=1\nSetting=9600,n,8,1\nSlaveID=1\n[Ports]\nCOM1=probe\n");
        ini.close();
        const QByteArray probe = QFile::encodeName(folder + "/probe");
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
