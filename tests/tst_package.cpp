#include "tests/support/Process.h"

#include <QDir>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

// The Debian package built by CPack, checked by Debian's tools, unpacked into
// a private root, and the installed programs run from there.
class tst_Package : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    QString m_root = QFileInfo(m_work.path()).canonicalFilePath() + "/root";
    QString m_deb;

    static QByteArray output(const QString& program, const QStringList& args)
    {
        const Finished f = runToEnd(program, args, 180000);
        return (f.status == 0 ? QByteArray() : "FAILED " + program.toUtf8() + "\n") + f.out + f.err;
    }
    static QByteArray pack(const QString& out)
    {
        return output(QUENDRA_CPACK,
                      {"--config", QUENDRA_BUILD_DIR "/CPackConfig.cmake", "-B", out});
    }

private slots:
    void initTestCase()
    {
        const QString out = m_work.filePath("out");
        const QByteArray log = pack(out);
        const QStringList debs = QDir(out).entryList({"*.deb"}, QDir::Files);
        QVERIFY2(debs.size() == 1, log.constData());
        m_deb = out + "/" + debs.front();
        QCOMPARE(output("dpkg", {"-x", m_deb, m_root}), QByteArray());
        QCOMPARE(output("dpkg-deb", {"-I", m_deb, "conffiles"}),
                 QByteArray("/etc/quendra/quendra.ini\n"));

        // The settings link is absolute, as Debian wants from /usr to /etc;
        // unpacked, it is pointed inside the root, away from the machine's.
        const QString link = m_root + "/usr/lib/quendra/quendra.ini";
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString("/etc/quendra/quendra.ini"));
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(m_root + "/etc/quendra/quendra.ini", link));
    }

    // No error or warning; lintian's pedantic and informational tags count
    // too where they name hardening (the programs read what peers send) or
    // an icon (software centres want 64 pixels or more).
    void validates_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args"); // "@" stands for the package, "~" for the root
        QTest::newRow("lintian") << "lintian"
                                 << QStringList{"--pedantic", "-I", "--fail-on", "error,warning",
                                                "@"};
        QTest::newRow("appstream")
            << "appstreamcli"
            << QStringList{"validate", "--no-net",
                           "~/usr/share/metainfo/quendra-panel.metainfo.xml"};
        QTest::newRow("desktop entry")
            << "desktop-file-validate"
            << QStringList{"~/usr/share/applications/quendra-panel.desktop"};
    }
    void validates()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        for (QString& arg : args)
            arg = arg == "@" ? m_deb : arg.replace(QRegularExpression("^~"), m_root);
        const QByteArray said = output(program, args);
        // Lintian gives each tag with its level; the others say it in words.
        static const QRegularExpression tag(R"(^([EW]: |\w: quendra.*: \S*(hardening|icon)))",
                                            QRegularExpression::MultilineOption);
        static const QRegularExpression complaint(R"(^[EW]: |\berror\b|\bwarning\b)",
                                                  QRegularExpression::MultilineOption |
                                                      QRegularExpression::CaseInsensitiveOption);
        QVERIFY2(!said.startsWith("FAILED") &&
                     !(program == "lintian" ? tag : complaint).match(said).hasMatch(),
                 said.constData());
    }

    // Every file it packs given a new time, a second package is the same bytes.
    void reproducible()
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QStringList touched = QDir(QUENDRA_BUILD_DIR "/packaging").entryList({"*.gz"});
        for (QString& name : touched)
            name.prepend(QUENDRA_BUILD_DIR "/packaging/");
        for (const char* program : {"quendra-panel", "quendra-send", "quendra-emulator"})
            touched << QUENDRA_BUILD_DIR "/bin/" + QString(program);
        for (const QString& path : touched) {
            QFile file(path);
            QVERIFY2(!file.open(QIODevice::ReadOnly) ||
                         file.setFileTime(now, QFileDevice::FileModificationTime),
                     qPrintable(path));
        }
        const QString out = m_work.filePath("again");
        const QByteArray log = pack(out);
        const QString second = out + "/" + QFileInfo(m_deb).fileName();
        QVERIFY2(QFile::exists(second), log.constData());
        QVERIFY2(readFile(m_deb) == readFile(second),
                 output("cmp", {"-l", m_deb, second}).left(300).constData());
    }

    void depends()
    {
        const QByteArray depends = output("dpkg-deb", {"-f", m_deb, "Depends"});
        // The window's layout is measured with Arial's metrics.
        for (const char* package : {"fonts-liberation", "libqt6serialport6", "libmosquitto1"})
            QVERIFY2(depends.contains(package), depends.constData());
    }

    void layout_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("linkTarget"); // empty for a plain file
        QStringList programs{"quendra-panel", "quendra-send", "quendra-bridge"};
#ifdef QUENDRA_HAS_EMULATOR
        programs << "quendra-emulator";
#endif
        for (const QString& name : programs) {
            const QByteArray program = name.toUtf8();
            QTest::newRow(program) << "usr/lib/quendra/" + name << QString();
            // Relative, since both ends are under /usr; it works unpacked too.
            QTest::newRow("/usr/bin/" + program) << "usr/bin/" + name << "../lib/quendra/" + name;
            QTest::newRow("man " + program) << "usr/share/man/man1/" + name + ".1.gz" << QString();
            // The panel is started from the menu and the bridge as a service.
            if (name != "quendra-panel" && name != "quendra-bridge")
                QTest::newRow("completion " + program)
                    << "usr/share/bash-completion/completions/" + name << QString();
        }
        for (const char* file :
             {"etc/quendra/quendra.ini", "usr/lib/systemd/system/quendra-bridge.service",
              "usr/share/applications/quendra-panel.desktop",
              "usr/share/metainfo/quendra-panel.metainfo.xml",
              "usr/share/icons/hicolor/64x64/apps/quendra-panel.png",
              "usr/share/icons/hicolor/128x128/apps/quendra-panel.png",
              "usr/share/icons/hicolor/scalable/apps/quendra-panel.svg",
              "usr/share/doc/quendra/copyright", "usr/share/doc/quendra/changelog.gz",
              "usr/lib/quendra/lib/libquendra-serial.so",
              "usr/lib/quendra/lib/libquendra-network.so"})
            QTest::newRow(file) << QString(file) << QString();
    }
    void layout()
    {
        QFETCH(QString, path);
        QFETCH(QString, linkTarget);
        const QFileInfo info(m_root + "/" + path);
        QCOMPARE(info.isSymLink(), !linkTarget.isEmpty());
        if (info.isSymLink())
            QCOMPARE(QDir(info.absolutePath()).relativeFilePath(info.symLinkTarget()), linkTarget);
        QVERIFY2(info.isFile(), qPrintable(path));
        if (path.startsWith("usr/lib/quendra/")) {
            QCOMPARE(info.isExecutable(), !path.endsWith(".so")); // libraries as Debian wants
            // Every library found from where it lies; Qt Network only with the
            // network line (loaded when a port needs it) and the bridge.
            const QByteArray needs = output("ldd", {info.filePath()});
            QVERIFY2(!needs.contains("not found") && !needs.startsWith("FAILED") &&
                         needs.contains("libQt6Network") == (path.endsWith("quendra-network.so") ||
                                                             path.endsWith("quendra-bridge")),
                     needs.constData());
        }
    }

    // Through its /usr/bin link, the sender reads /etc's settings.
    void senderReadsSettingsThroughLink()
    {
        const QString launcher = m_root + "/usr/bin/quendra-send";
        QCOMPARE(output(launcher, {"--dry-run", "dp", "3"}), QByteArray("01 63 03\n"));
        writeFile(m_root + "/etc/quendra/quendra.ini", "[Settings]\nSlaveID=42\n");
        QCOMPARE(output(launcher, {"--dry-run", "dp", "3"}), QByteArray("2A 63 03\n"));
    }

    // The sender loads the network line from lib/ beside its real executable;
    // without it the port fails to open, naming it, and nothing is sent.
    void networkPortFromInstalledLayout_data()
    {
        QTest::addColumn<bool>("withLibrary");
        QTest::newRow("loaded") << true;
        QTest::newRow("missing") << false;
    }
    void networkPortFromInstalledLayout()
    {
        QFETCH(bool, withLibrary);
        const QString library = m_root + "/usr/lib/quendra/lib/libquendra-network.so";
        const QString aside = m_work.filePath("libquendra-network.so");
        QVERIFY(withLibrary || QFile::rename(library, aside));
        const auto putBack = qScopeGuard([&] { QFile::rename(aside, library); });

        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        // Read from the kernel's backlog once the sender has ended.
        const Finished send =
            runToEnd(m_root + "/usr/bin/quendra-send",
                     {"--uid", "1", "--port",
                      QString("socket://127.0.0.1:%1").arg(server.serverPort()), "dp", "3"},
                     60000);
        QByteArray received;
        if (server.waitForNewConnection(withLibrary ? 5000 : 0)) {
            QTcpSocket* peer = server.nextPendingConnection();
            while (received.size() < 3 && peer->waitForReadyRead(5000))
                received += peer->readAll();
        }
        const QByteArray said = send.out + send.err;
        QVERIFY2(withLibrary
                     ? send.status == 0
                     : send.status > 0 && said.contains("network line could not be loaded") &&
                           said.contains("libquendra-network.so"),
                 said.constData());
        QCOMPARE(received, withLibrary ? QByteArray::fromHex("016303") : QByteArray());
    }
};

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_package.moc"
